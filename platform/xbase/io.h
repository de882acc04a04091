#pragma once
// Byte-level helpers shared by the table files: little-endian fields, and
// whole reads, writes and syncs of an open file that raise XBaseError with
// the system's own text.
#include <cstdint>
#include <string>

#include "platform/os.h"
#include "platform/xbase/error.h"

namespace xbase::io {

inline uint16_t Get16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t Get32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
         (static_cast<uint32_t>(p[3]) << 24);
}
inline void Put16(unsigned char* p, uint32_t v) {
  p[0] = v & 0xFF;
  p[1] = (v >> 8) & 0xFF;
}
inline void Put32(unsigned char* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = (v >> (8 * i)) & 0xFF;
}

// "<what> <path>: <why>", the why being the last failed call's.
inline std::string OsError(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + plat::os::LastError().text;
}

inline void ReadAll(plat::os::File& file, void* buf, size_t n, uint64_t off, const std::string& path) {
  size_t got = 0;
  if (!file.ReadAt(off, buf, n, &got)) throw XBaseError(OsError("Cannot read", path));
  if (got < n) throw XBaseError("Unexpected end of file in " + path);
}

inline void WriteAll(plat::os::File& file, const void* buf, size_t n, uint64_t off, const std::string& path) {
  if (!file.WriteAt(off, buf, n)) throw XBaseError(OsError("Cannot write", path));
}

inline uint64_t SizeOf(plat::os::File& file, const std::string& path) {
  uint64_t size = 0;
  if (!file.Size(&size)) throw XBaseError(OsError("Cannot examine", path));
  return size;
}

inline void Sync(plat::os::File& file, const std::string& path) {
  if (!file.Sync()) throw XBaseError(OsError("Cannot flush", path));
}

// Makes a file's creation, rename or removal in its folder durable (the
// file's own bytes need their own sync).
inline void SyncFolderOf(const std::string& path) {
  if (!plat::os::Os().SyncFolder(plat::os::FolderOf(path))) throw XBaseError(OsError("Cannot flush the folder of", path));
}

}  // namespace xbase::io
