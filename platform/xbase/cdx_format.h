#pragma once
// On-disk layout of compact compound index files, shared by the reader and the
// writer. All multi-byte numbers are little-endian except where noted.
#include <cstdint>
#include <cstring>

namespace xbase::cdxfmt {

constexpr uint32_t kPage = 512;
constexpr uint32_t kHeaderSize = 1024;  // header page + expression pool page
constexpr uint32_t kNone = 0xFFFFFFFFu;  // "no sibling"
constexpr int kMaxKeyLen = 240;
constexpr int kMaxDepth = 32;  // far more than 2^32 bytes of pages could need

// Node layout.
constexpr uint16_t kAttrRoot = 1;
constexpr uint16_t kAttrLeaf = 2;
constexpr int kNodeHeader = 12;   // attributes, key count, left, right
constexpr int kLeafHeader = 24;   // + free space, masks and bit counts
constexpr int kLeafArea = kPage - kLeafHeader;       // 488
constexpr int kInteriorArea = kPage - kNodeHeader;   // 500

// Header layout (file header and tag headers alike).
constexpr int kOffRoot = 0;
constexpr int kOffFreeList = 4;
constexpr int kOffCounter = 8;  // big-endian
constexpr int kOffKeyLen = 12;
constexpr int kOffOptions = 14;
constexpr int kOffSignature = 15;
constexpr int kOffCollation = 0x1EE;  // 8 bytes, NUL padded; empty = machine
constexpr int kCollationLen = 8;
constexpr int kOffDescending = 0x1F6;
constexpr int kOffForPos = 0x1F8;
constexpr int kOffForLen = 0x1FA;
constexpr int kOffExprPos = 0x1FC;
constexpr int kOffExprLen = 0x1FE;
constexpr int kOffPool = 0x200;
constexpr int kPoolSize = 512;

constexpr uint8_t kOptUnique = 0x01;
constexpr uint8_t kOptFor = 0x08;
constexpr uint8_t kOptCompact = 0x20;
constexpr uint8_t kOptCompound = 0x40;
constexpr uint8_t kOptDirectory = 0x80;
constexpr uint8_t kTagOptions = kOptCompact | kOptCompound;                    // 0x60
constexpr uint8_t kDirOptions = kOptCompact | kOptCompound | kOptDirectory;    // 0xE0
constexpr int kTagNameLen = 10;

inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t GetBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Number of bits needed to hold v (0 for 0).
inline int BitsFor(uint64_t v) {
  int n = 0;
  while (v != 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

}  // namespace xbase::cdxfmt
