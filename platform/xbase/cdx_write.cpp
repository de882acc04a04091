// Writing a whole compact compound index file from sorted key lists: file
// header with the change counter, the tag directory, and for each tag a header
// and a B-tree of compressed leaves under full-key interior levels. Leaves are
// packed full; the layout of the compressed entries follows what the other
// engine writes (at least 3 bytes per entry, duplicate and trailing counts just
// wide enough for the key length).
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/os.h"
#include "platform/xbase/cdx.h"
#include "platform/xbase/cdx_format.h"
#include "platform/xbase/error.h"

namespace xbase {

using namespace cdxfmt;

namespace {

struct Item {
  std::string_view key;
  uint32_t recno;
};

struct Level {
  std::string_view lastKey;
  uint32_t lastRecno;
  uint32_t offset;
};

class PageBuffer {
 public:
  explicit PageBuffer(size_t reserveBytes) : data_(reserveBytes, 0) {}
  uint32_t Allocate() {
    const size_t off = data_.size();
    if (off + kPage > 0xFFFFFE00ull) throw XBaseError("index would exceed 4 GB");
    data_.resize(off + kPage, 0);
    return static_cast<uint32_t>(off);
  }
  uint8_t* At(uint32_t off) { return data_.data() + off; }
  std::vector<uint8_t> Take() { return std::move(data_); }

 private:
  std::vector<uint8_t> data_;
};

// Leaf entry layout for one tree: record number in the low bits, then the
// duplicate count, then the trailing count.
struct LeafFormat {
  int countBits = 0;
  int recBits = 0;
  int bytes = 0;
};

LeafFormat FormatFor(int keyLen, uint32_t maxRecno) {
  LeafFormat f;
  f.countBits = BitsFor(static_cast<uint64_t>(keyLen));
  const int need = std::max(BitsFor(maxRecno), 1) + 2 * f.countBits;
  f.bytes = std::max(3, (need + 7) / 8);
  f.recBits = std::min(32, f.bytes * 8 - 2 * f.countBits);
  return f;
}

int TrailingPad(std::string_view key, char pad) {
  int n = 0;
  for (size_t i = key.size(); i > 0 && key[i - 1] == pad; --i) ++n;
  return n;
}

int CommonPrefix(std::string_view a, std::string_view b, int limit) {
  int n = 0;
  while (n < limit && a[n] == b[n]) ++n;
  return n;
}

// Builds one B-tree and returns the offset of its root.
uint32_t BuildTree(PageBuffer& buf, const std::vector<Item>& items, int keyLen, char pad) {
  uint32_t maxRecno = 1;
  for (const Item& it : items) maxRecno = std::max(maxRecno, it.recno);
  const LeafFormat fmt = FormatFor(keyLen, maxRecno);
  const uint64_t countMask = (1ull << fmt.countBits) - 1;

  std::vector<Level> level;  // last entry of each leaf, for the level above
  uint32_t page = kNone;      // leaf being filled
  int count = 0, used = 0, prevTrail = 0;
  std::string_view prev;
  uint32_t prevRecno = 0;
  auto finish = [&]() {
    uint8_t* p = buf.At(page);
    PutLe16(p + 2, static_cast<uint32_t>(count));
    PutLe16(p + 12, static_cast<uint32_t>(kLeafArea - used));
    level.push_back({prev, prevRecno, page});
  };
  auto start = [&]() {
    const uint32_t prevPage = page;
    page = buf.Allocate();
    uint8_t* p = buf.At(page);
    PutLe16(p, kAttrLeaf);
    PutLe32(p + 4, prevPage);
    PutLe32(p + 8, kNone);
    if (prevPage != kNone) PutLe32(buf.At(prevPage) + 8, page);
    PutLe32(p + 14, fmt.recBits == 32 ? 0xFFFFFFFFu : ((1u << fmt.recBits) - 1));
    p[18] = static_cast<uint8_t>(countMask);
    p[19] = static_cast<uint8_t>(countMask);
    p[20] = static_cast<uint8_t>(fmt.recBits);
    p[21] = static_cast<uint8_t>(fmt.countBits);
    p[22] = static_cast<uint8_t>(fmt.countBits);
    p[23] = static_cast<uint8_t>(fmt.bytes);
    count = 0;
    used = 0;
  };

  start();
  for (const Item& it : items) {
    const int trail = TrailingPad(it.key, pad);
    // Only the significant bytes of both keys may be shared.
    int dup = count == 0 ? 0 : CommonPrefix(prev, it.key, std::min(keyLen - trail, keyLen - prevTrail));
    if (count > 0 && used + fmt.bytes + (keyLen - dup - trail) > kLeafArea) {
      finish();
      start();
      dup = 0;
    }
    const int stored = keyLen - dup - trail;
    uint8_t* p = buf.At(page);
    const uint64_t v = static_cast<uint64_t>(it.recno) | (static_cast<uint64_t>(dup) << fmt.recBits) |
                       (static_cast<uint64_t>(trail) << (fmt.recBits + fmt.countBits));
    uint8_t* e = p + kLeafHeader + count * fmt.bytes;
    for (int b = 0; b < fmt.bytes; ++b) e[b] = static_cast<uint8_t>(v >> (8 * b));
    // Key bytes fill the page from its end downwards.
    const int keyBytesSoFar = used - count * fmt.bytes;
    std::memcpy(p + kPage - keyBytesSoFar - stored, it.key.data() + dup, static_cast<size_t>(stored));
    used += fmt.bytes + stored;
    ++count;
    prev = it.key;
    prevRecno = it.recno;
    prevTrail = trail;
  }
  finish();

  const int perInterior = kInteriorArea / (keyLen + 8);
  while (level.size() > 1) {
    const size_t nodes = (level.size() + perInterior - 1) / perInterior;
    std::vector<Level> up;
    up.reserve(nodes);
    uint32_t prevPage = kNone;
    size_t pos = 0;
    for (size_t k = 0; k < nodes; ++k) {
      // Spread the entries evenly so no node ends nearly empty.
      const size_t take = (level.size() - pos) / (nodes - k);
      const uint32_t off = buf.Allocate();
      uint8_t* p = buf.At(off);
      PutLe16(p, 0);
      PutLe16(p + 2, static_cast<uint32_t>(take));
      PutLe32(p + 4, prevPage);
      PutLe32(p + 8, kNone);
      if (prevPage != kNone) PutLe32(buf.At(prevPage) + 8, off);
      for (size_t j = 0; j < take; ++j) {
        const Level& child = level[pos + j];
        uint8_t* e = p + kNodeHeader + j * static_cast<size_t>(keyLen + 8);
        std::memcpy(e, child.lastKey.data(), static_cast<size_t>(keyLen));
        PutBe32(e + keyLen, child.lastRecno);
        PutBe32(e + keyLen + 4, child.offset);
      }
      const Level& last = level[pos + take - 1];
      up.push_back({last.lastKey, last.lastRecno, off});
      prevPage = off;
      pos += take;
    }
    level = std::move(up);
  }
  const uint32_t root = level.front().offset;
  uint8_t* r = buf.At(root);
  PutLe16(r, GetLe16(r) | kAttrRoot);
  return root;
}

void WriteHeader(uint8_t* h, uint32_t root, int keyLen, uint8_t options, bool descending, const std::string& expr,
                 const std::string& filter, const std::string& collation) {
  PutLe32(h + kOffRoot, root);
  PutLe32(h + kOffFreeList, 0);
  PutLe16(h + kOffKeyLen, static_cast<uint32_t>(keyLen));
  h[kOffOptions] = options;
  h[kOffSignature] = 1;
  std::memcpy(h + kOffCollation, collation.data(), std::min<size_t>(collation.size(), kCollationLen));
  PutLe16(h + kOffDescending, descending ? 1 : 0);
  const uint32_t exprLen = static_cast<uint32_t>(expr.size()) + 1;
  PutLe16(h + kOffExprPos, 0);
  PutLe16(h + kOffExprLen, exprLen);
  PutLe16(h + kOffForPos, exprLen);
  PutLe16(h + kOffForLen, static_cast<uint32_t>(filter.size()) + 1);
  std::memcpy(h + kOffPool, expr.data(), expr.size());
  std::memcpy(h + kOffPool + exprLen, filter.data(), filter.size());
}

std::string UpperName(const std::string& name) {
  std::string s = name;
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

void CheckTag(const CdxTagData& t, const std::string& name) {
  const CdxTagHeader& h = t.header;
  const std::string where = "tag " + name + ": ";
  if (name.empty() || name.size() > static_cast<size_t>(kTagNameLen)) {
    throw XBaseError("tag name \"" + h.name + "\" must have 1 to 10 characters");
  }
  for (char c : name) {
    if (static_cast<unsigned char>(c) <= ' ') throw XBaseError("tag name \"" + h.name + "\" contains a blank or control byte");
  }
  if (h.keyLen < 1 || h.keyLen > kMaxKeyLen) {
    throw XBaseError(where + "key length " + std::to_string(h.keyLen) + " is outside 1..240");
  }
  if (!h.machineCollation || !h.collation.empty()) {
    throw XBaseError(where + "cannot write keys in collation \"" + h.collation + "\"; only machine order is supported");
  }
  if (h.expr.empty()) throw XBaseError(where + "empty key expression");
  if (h.expr.find('\0') != std::string::npos || h.filter.find('\0') != std::string::npos ||
      h.expr.size() + 1 + h.filter.size() + 1 > static_cast<size_t>(kPoolSize)) {
    throw XBaseError(where + "expressions do not fit the expression pool");
  }
  const size_t keyLen = static_cast<size_t>(h.keyLen);
  for (size_t i = 0; i < t.entries.size(); ++i) {
    const CdxEntry& e = t.entries[i];
    if (e.key.size() != keyLen) {
      throw XBaseError(where + "key of record " + std::to_string(e.recno) + " has " + std::to_string(e.key.size()) +
                       " bytes, expected " + std::to_string(keyLen));
    }
    if (e.recno == 0) throw XBaseError(where + "record number 0");
    if (i == 0) continue;
    const CdxEntry& p = t.entries[i - 1];
    const int c = std::memcmp(p.key.data(), e.key.data(), keyLen);
    if (c > 0 || (c == 0 && p.recno >= e.recno)) {
      throw XBaseError(where + "entries are not sorted by key and record number (record " + std::to_string(e.recno) + ")");
    }
    if (c == 0 && h.unique) throw XBaseError(where + "unique tag holds a key twice (record " + std::to_string(e.recno) + ")");
  }
}

void WriteAll(plat::os::File& file, const uint8_t* data, size_t len, uint64_t at, const std::string& path) {
  if (!file.WriteAt(at, data, len))
    throw XBaseError("cannot write index " + path + ": " + plat::os::LastError().text);
}

// Takes the index's lock byte, waiting a bounded time for another writer.
void LockIndexByte(plat::os::File& file, const std::string& path) {
  plat::os::Env& os = plat::os::Os();
  const auto deadline = os.Monotonic() + std::chrono::milliseconds(IndexBusyWait());
  for (int nap = 1;; nap = std::min(nap * 2, 16)) {
    if (file.TryLock(plat::os::kLockTop, 1, plat::os::LockKind::Exclusive)) return;
    const plat::os::Error& why = plat::os::LastError();
    // A file system without locks: nobody can hold the byte.
    if (why.kind == plat::os::Fail::NoLocks) return;
    if (why.kind != plat::os::Fail::Busy) throw XBaseError("cannot lock index " + path + ": " + why.text);
    if (os.Monotonic() >= deadline) {
      throw XBaseBusy("The index " + path + " is busy: another program has been changing it for " +
                      "more than " + std::to_string(IndexBusyWait()) + " ms");
    }
    os.Sleep(std::chrono::milliseconds(nap));
  }
}

}  // namespace

std::vector<uint8_t> BuildCdx(const std::vector<CdxTagData>& tags, uint32_t changeCounter) {
  std::vector<std::string> names;
  for (const CdxTagData& t : tags) {
    std::string name = UpperName(t.header.name);
    CheckTag(t, name);
    if (std::find(names.begin(), names.end(), name) != names.end()) {
      throw XBaseError("tag " + name + " given twice");
    }
    names.push_back(std::move(name));
  }

  // Layout as the other engine leaves a freshly built file: file header, the
  // tag headers, the directory, then each tag's pages.
  PageBuffer buf(kHeaderSize * (tags.size() + 1));
  std::vector<std::string> dirKeys(tags.size());
  std::vector<Item> dir;
  for (size_t i = 0; i < tags.size(); ++i) {
    dirKeys[i] = names[i];
    dirKeys[i].resize(kTagNameLen, ' ');
    dir.push_back({dirKeys[i], static_cast<uint32_t>(kHeaderSize * (i + 1))});
  }
  std::sort(dir.begin(), dir.end(), [](const Item& a, const Item& b) { return a.key < b.key; });
  const uint32_t dirRoot = BuildTree(buf, dir, kTagNameLen, ' ');
  uint8_t* h = buf.At(0);
  WriteHeader(h, dirRoot, kTagNameLen, kDirOptions, false, std::string(), std::string(), std::string());
  PutBe32(h + kOffCounter, changeCounter);

  for (size_t i = 0; i < tags.size(); ++i) {
    const CdxTagData& t = tags[i];
    std::vector<Item> items;
    items.reserve(t.entries.size());
    for (const CdxEntry& e : t.entries) items.push_back({e.key, e.recno});
    const uint32_t root = BuildTree(buf, items, t.header.keyLen, t.pad);
    uint8_t options = kTagOptions;
    if (t.header.unique) options |= kOptUnique;
    if (!t.header.filter.empty()) options |= kOptFor;
    WriteHeader(buf.At(static_cast<uint32_t>(kHeaderSize * (i + 1))), root, t.header.keyLen, options,
                t.header.descending, t.header.expr, t.header.filter, std::string());
  }
  return buf.Take();
}

void WriteCdx(const std::string& nativePath, const std::vector<CdxTagData>& tags, uint32_t changeCounter) {
  std::vector<uint8_t> bytes = BuildCdx(tags, changeCounter);

  // Rewrite in place so programs holding the file open keep the same file.
  // Readers (ours and the host's) trust pages only while the lock byte is
  // free and the counter stands still, so both are kept: the byte is held
  // for the whole rewrite and the counter ends above every earlier one.
  plat::os::OpenRequest how;
  how.access = plat::os::Access::ReadWrite;
  how.disposition = plat::os::Disposition::CreateOrOpen;
  std::unique_ptr<plat::os::File> file = plat::os::Os().Open(nativePath, how);
  if (!file) throw XBaseError("cannot open index " + nativePath + " for writing: " + plat::os::LastError().text);
  // Closing the file (also when a step fails) releases the lock byte.
  LockIndexByte(*file, nativePath);
  uint8_t old[4];
  size_t got = 0;
  if (file->ReadAt(kOffCounter, old, sizeof old, &got) && got == sizeof old) {
    const uint32_t onDisk = GetBe32(old);
    if (onDisk >= changeCounter && onDisk != 0xFFFFFFFFu) PutBe32(bytes.data() + kOffCounter, onDisk + 1);
  }
  // The header page (with the counter) goes last.
  WriteAll(*file, bytes.data() + kPage, bytes.size() - kPage, kPage, nativePath);
  WriteAll(*file, bytes.data(), kPage, 0, nativePath);
  if (!file->Truncate(bytes.size()))
    throw XBaseError("cannot set the size of index " + nativePath + ": " + plat::os::LastError().text);
  // On the disk before the tag definitions kept beside it may go.
  if (!file->Sync()) throw XBaseError("cannot flush index " + nativePath + ": " + plat::os::LastError().text);
  if (!file->Close()) throw XBaseError("cannot close index " + nativePath + ": " + plat::os::LastError().text);
}

}  // namespace xbase
