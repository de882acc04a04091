#include "platform/xbase/undo.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string_view>

#include "platform/xbase/error.h"
#include "platform/xbase/io.h"

namespace xbase {

namespace {

// Layout: magic, table size, start of the saved range, length of the range,
// the table's first 32 bytes, the range, then a checksum of all before it.
constexpr char kMagic[8] = {'V', 'V', 'U', 'N', 'D', 'O', '1', '\n'};
constexpr size_t kFixed = 8 + 3 * 8 + 32;
constexpr size_t kChunk = 1 << 20;

void Put64(unsigned char* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
uint64_t Get64(const unsigned char* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

using io::Get16;
using io::Get32;
using io::OsError;
using io::Put32;
using plat::os::File;

struct Checksum {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  void Add(std::string_view s) {
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  }
};

struct End {
  File* file;  // nullptr: the bytes are only read
  int64_t at;
  const std::string& path;
};
// Copies n bytes chunk by chunk from one file to the other, adding them to
// sum when given.
void CopyRange(const End& from, const End& to, int64_t n, Checksum* sum) {
  std::string buf;
  for (int64_t done = 0; done < n;) {
    buf.resize(static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kChunk), n - done)));
    io::ReadAll(*from.file, buf.data(), buf.size(), static_cast<uint64_t>(from.at + done), from.path);
    if (sum) sum->Add(buf);
    if (to.file) io::WriteAll(*to.file, buf.data(), buf.size(), static_cast<uint64_t>(to.at + done), to.path);
    done += static_cast<int64_t>(buf.size());
  }
}

// The folder's entry of a new or removed file reaches the disk too: an undo
// file a power cut could take away protects nothing, and one it could bring
// back would undo a finished remove.
void SyncFolder(const std::string& path) { io::SyncFolderOf(path); }

// An existing undo file, to read; nullptr when there is none. Never follows a
// link (the name is ours, beside the table).
std::unique_ptr<File> OpenUndo(const std::string& undoPath) {
  plat::os::OpenRequest how;
  how.noFollow = true;
  auto in = plat::os::Os().Open(undoPath, how);
  if (!in && plat::os::LastError().kind != plat::os::Fail::NotFound) throw XBaseError(OsError("Cannot open", undoPath));
  return in;
}

struct Header {
  int64_t size = 0, from = 0, length = 0;
  std::string first32;
};

// Reads and checks the whole undo file; false when it is not whole.
bool ReadHeader(File& in, const std::string& undoPath, Header& h) {
  const uint64_t fileSize = io::SizeOf(in, undoPath);
  if (fileSize < kFixed + 8) return false;
  std::string fixed(kFixed, '\0');
  io::ReadAll(in, fixed.data(), fixed.size(), 0, undoPath);
  if (std::memcmp(fixed.data(), kMagic, sizeof kMagic) != 0) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(fixed.data());
  const uint64_t size = Get64(p + 8), from = Get64(p + 16), length = Get64(p + 24);
  if (size > (1ull << 40) || from > size || length != size - from || fileSize != kFixed + length + 8) return false;
  Checksum sum;
  sum.Add(fixed);
  CopyRange({&in, static_cast<int64_t>(kFixed), undoPath}, {nullptr, 0, undoPath}, static_cast<int64_t>(length), &sum);
  unsigned char tail[8];
  io::ReadAll(in, tail, 8, kFixed + length, undoPath);
  if (Get64(tail) != sum.h) return false;
  h.size = static_cast<int64_t>(size);
  h.from = static_cast<int64_t>(from);
  h.length = static_cast<int64_t>(length);
  h.first32 = fixed.substr(32, 32);
  return true;
}

}  // namespace

std::string UndoPathFor(const std::string& tablePath) { return tablePath + ".undo"; }

void SaveUndo(const std::string& undoPath, File& table, const std::string& tablePath, int64_t from) {
  const int64_t size = static_cast<int64_t>(io::SizeOf(table, tablePath));
  if (size < 32 || from < 32 || from > size) throw XBaseError("Bad range to save from " + tablePath);
  plat::os::OpenRequest how;
  how.access = plat::os::Access::Write;
  how.disposition = plat::os::Disposition::CreateOrTruncate;
  std::unique_ptr<File> out = plat::os::Os().Open(undoPath, how);
  if (!out) throw XBaseError(OsError("Cannot create", undoPath));
  try {
    std::string fixed(kFixed, '\0');
    std::memcpy(fixed.data(), kMagic, sizeof kMagic);
    auto* p = reinterpret_cast<unsigned char*>(fixed.data());
    Put64(p + 8, static_cast<uint64_t>(size));
    Put64(p + 16, static_cast<uint64_t>(from));
    Put64(p + 24, static_cast<uint64_t>(size - from));
    io::ReadAll(table, fixed.data() + 32, 32, 0, tablePath);
    Checksum sum;
    sum.Add(fixed);
    io::WriteAll(*out, fixed.data(), fixed.size(), 0, undoPath);
    CopyRange({&table, from, tablePath}, {out.get(), static_cast<int64_t>(kFixed), undoPath}, size - from, &sum);
    unsigned char tail[8];
    Put64(tail, sum.h);
    io::WriteAll(*out, tail, 8, kFixed + static_cast<uint64_t>(size - from), undoPath);
    io::Sync(*out, undoPath);
    SyncFolder(undoPath);
  } catch (...) {
    out.reset();  // closed first: some systems remove no open file
    plat::os::Os().Remove(undoPath);
    throw;
  }
}

UndoState CheckUndo(const std::string& undoPath) {
  std::unique_ptr<File> in = OpenUndo(undoPath);
  if (!in) return UndoState::None;
  Header h;
  return ReadHeader(*in, undoPath, h) ? UndoState::Ready : UndoState::Incomplete;
}

void ApplyUndo(const std::string& undoPath, File& table, const std::string& tablePath) {
  {
    std::unique_ptr<File> in = OpenUndo(undoPath);
    if (!in) return;
    plat::os::FileInfo info;
    if (!in->Info(&info)) throw XBaseError(OsError("Cannot examine", undoPath));
    if (info.kind != plat::os::Kind::Plain) throw XBaseError(undoPath + " is not a regular file");
    Header h;
    if (ReadHeader(*in, undoPath, h)) {
      // A remove never writes past the records it started with, and the count
      // stays until the undo file is gone. Records found past that count were
      // appended by another program after the remove stopped: they stay, and
      // only the old end-of-file mark under the first of them is not put back.
      auto* first = reinterpret_cast<unsigned char*>(h.first32.data());
      const uint32_t savedCount = Get32(first + 4);
      const int64_t headerLen = Get16(first + 8), recordLen = Get16(first + 10);
      int64_t size = h.size, restoreEnd = h.size;
      unsigned char now[4];
      io::ReadAll(table, now, 4, 4, tablePath);
      const uint32_t count = Get32(now);
      const int64_t recordsEnd = headerLen + static_cast<int64_t>(savedCount) * recordLen;
      if (recordLen > 0 && count > savedCount && recordsEnd <= h.size && recordsEnd > h.from) {
        const int64_t tableSize = static_cast<int64_t>(io::SizeOf(table, tablePath));
        const int64_t room = (tableSize - recordsEnd) / recordLen;
        const uint32_t added = static_cast<uint32_t>(std::min<int64_t>(count - savedCount, std::max<int64_t>(room, 0)));
        if (added > 0) {
          Put32(first + 4, savedCount + added);
          restoreEnd = recordsEnd;
          size = recordsEnd + static_cast<int64_t>(added) * recordLen;
        }
      }
      io::WriteAll(table, h.first32.data(), 32, 0, tablePath);
      CopyRange({in.get(), static_cast<int64_t>(kFixed), undoPath}, {&table, h.from, tablePath}, restoreEnd - h.from,
                nullptr);
      if (size != h.size) {
        const char eof = '\x1A';
        io::WriteAll(table, &eof, 1, static_cast<uint64_t>(size), tablePath);
        ++size;
      }
      if (!table.Truncate(static_cast<uint64_t>(size))) throw XBaseError(OsError("Cannot truncate", tablePath));
      io::Sync(table, tablePath);
    }
  }  // closed before it is removed
  DiscardUndo(undoPath);
}

void DiscardUndo(const std::string& undoPath) {
  if (!plat::os::Os().Remove(undoPath) && plat::os::LastError().kind != plat::os::Fail::NotFound)
    throw XBaseError(OsError("Cannot delete", undoPath));
  SyncFolder(undoPath);
}

}  // namespace xbase
