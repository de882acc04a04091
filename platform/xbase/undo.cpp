#include "platform/xbase/undo.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

#include "platform/fault.h"
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

using io::Errno;
using io::Get16;
using io::Get32;
using io::Put32;

struct Checksum {
  uint64_t h = 1469598103934665603ull;  // FNV-1a
  void Add(std::string_view s) {
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
  }
};

void ReadAll(int fd, char* p, size_t n, int64_t off, const std::string& path) { io::PreadAll(fd, p, n, off, path); }
void WriteAll(int fd, const char* p, size_t n, int64_t off, const std::string& path) {
  io::PwriteAll(fd, p, n, off, path);
}

struct End {
  int fd;
  int64_t at;
  const std::string& path;
};
// Copies n bytes chunk by chunk from one file to the other (to.fd < 0: only
// reads), adding them to sum when given.
void CopyRange(const End& from, const End& to, int64_t n, Checksum* sum) {
  std::string buf;
  for (int64_t done = 0; done < n;) {
    buf.resize(static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(kChunk), n - done)));
    ReadAll(from.fd, buf.data(), buf.size(), from.at + done, from.path);
    if (sum) sum->Add(buf);
    if (to.fd >= 0) WriteAll(to.fd, buf.data(), buf.size(), to.at + done, to.path);
    done += static_cast<int64_t>(buf.size());
  }
}

void Sync(int fd, const std::string& path) {
  if (plat::FaultHit(plat::Op::Flush) || ::fsync(fd) != 0) throw XBaseError(Errno("Cannot flush", path));
}

// The folder's entry of a new or removed file reaches the disk too: an undo
// file a power cut could take away protects nothing, and one it could bring
// back would undo a finished remove.
void SyncFolder(const std::string& path) { io::SyncFolderOf(path); }

class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

struct Header {
  int64_t size = 0, from = 0, length = 0;
  std::string first32;
};

// Reads and checks the whole undo file; false when it is not whole.
bool ReadHeader(int fd, const std::string& undoPath, Header& h) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw XBaseError(Errno("Cannot examine", undoPath));
  if (static_cast<uint64_t>(st.st_size) < kFixed + 8) return false;
  std::string fixed(kFixed, '\0');
  ReadAll(fd, fixed.data(), fixed.size(), 0, undoPath);
  if (std::memcmp(fixed.data(), kMagic, sizeof kMagic) != 0) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(fixed.data());
  const uint64_t size = Get64(p + 8), from = Get64(p + 16), length = Get64(p + 24);
  if (size > (1ull << 40) || from > size || length != size - from ||
      static_cast<uint64_t>(st.st_size) != kFixed + length + 8)
    return false;
  Checksum sum;
  sum.Add(fixed);
  CopyRange({fd, static_cast<int64_t>(kFixed), undoPath}, {-1, 0, undoPath}, static_cast<int64_t>(length), &sum);
  unsigned char tail[8];
  ReadAll(fd, reinterpret_cast<char*>(tail), 8, static_cast<int64_t>(kFixed + length), undoPath);
  if (Get64(tail) != sum.h) return false;
  h.size = static_cast<int64_t>(size);
  h.from = static_cast<int64_t>(from);
  h.length = static_cast<int64_t>(length);
  h.first32 = fixed.substr(32, 32);
  return true;
}

}  // namespace

std::string UndoPathFor(const std::string& tablePath) { return tablePath + ".undo"; }

void SaveUndo(const std::string& undoPath, int fd, const std::string& tablePath, int64_t from) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) throw XBaseError(Errno("Cannot examine", tablePath));
  const int64_t size = st.st_size;
  if (size < 32 || from < 32 || from > size) throw XBaseError("Bad range to save from " + tablePath);
  Fd out(plat::FaultHit(plat::Op::Open) ? -1
                                        : ::open(undoPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (out.get() < 0) throw XBaseError(Errno("Cannot create", undoPath));
  try {
    std::string fixed(kFixed, '\0');
    std::memcpy(fixed.data(), kMagic, sizeof kMagic);
    auto* p = reinterpret_cast<unsigned char*>(fixed.data());
    Put64(p + 8, static_cast<uint64_t>(size));
    Put64(p + 16, static_cast<uint64_t>(from));
    Put64(p + 24, static_cast<uint64_t>(size - from));
    ReadAll(fd, fixed.data() + 32, 32, 0, tablePath);
    Checksum sum;
    sum.Add(fixed);
    WriteAll(out.get(), fixed.data(), fixed.size(), 0, undoPath);
    CopyRange({fd, from, tablePath}, {out.get(), static_cast<int64_t>(kFixed), undoPath}, size - from, &sum);
    unsigned char tail[8];
    Put64(tail, sum.h);
    WriteAll(out.get(), reinterpret_cast<const char*>(tail), 8, static_cast<int64_t>(kFixed) + (size - from), undoPath);
    Sync(out.get(), undoPath);
    SyncFolder(undoPath);
  } catch (...) {
    ::unlink(undoPath.c_str());
    throw;
  }
}

UndoState CheckUndo(const std::string& undoPath) {
  Fd in(::open(undoPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (in.get() < 0) {
    if (errno == ENOENT) return UndoState::None;
    throw XBaseError(Errno("Cannot open", undoPath));
  }
  Header h;
  return ReadHeader(in.get(), undoPath, h) ? UndoState::Ready : UndoState::Incomplete;
}

void ApplyUndo(const std::string& undoPath, int fd, const std::string& tablePath) {
  Fd in(plat::FaultHit(plat::Op::Open) ? -1 : ::open(undoPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
  if (in.get() < 0) {
    if (errno == ENOENT) return;
    throw XBaseError(Errno("Cannot open", undoPath));
  }
  struct stat st {};
  if (::fstat(in.get(), &st) != 0) throw XBaseError(Errno("Cannot examine", undoPath));
  if (!S_ISREG(st.st_mode)) throw XBaseError(undoPath + " is not a regular file");
  Header h;
  if (ReadHeader(in.get(), undoPath, h)) {
    // A remove never writes past the records it started with, and the count
    // stays until the undo file is gone. Records found past that count were
    // appended by another program after the remove stopped: they stay, and
    // only the old end-of-file mark under the first of them is not put back.
    auto* first = reinterpret_cast<unsigned char*>(h.first32.data());
    const uint32_t savedCount = Get32(first + 4);
    const int64_t headerLen = Get16(first + 8), recordLen = Get16(first + 10);
    int64_t size = h.size, restoreEnd = h.size;
    unsigned char now[4];
    ReadAll(fd, reinterpret_cast<char*>(now), 4, 4, tablePath);
    const uint32_t count = Get32(now);
    const int64_t recordsEnd = headerLen + static_cast<int64_t>(savedCount) * recordLen;
    if (recordLen > 0 && count > savedCount && recordsEnd <= h.size && recordsEnd > h.from) {
      struct stat ts {};
      if (::fstat(fd, &ts) != 0) throw XBaseError(Errno("Cannot examine", tablePath));
      const int64_t room = (ts.st_size - recordsEnd) / recordLen;
      const uint32_t added = static_cast<uint32_t>(std::min<int64_t>(count - savedCount, std::max<int64_t>(room, 0)));
      if (added > 0) {
        Put32(first + 4, savedCount + added);
        restoreEnd = recordsEnd;
        size = recordsEnd + static_cast<int64_t>(added) * recordLen;
      }
    }
    WriteAll(fd, h.first32.data(), 32, 0, tablePath);
    CopyRange({in.get(), static_cast<int64_t>(kFixed), undoPath}, {fd, h.from, tablePath}, restoreEnd - h.from, nullptr);
    if (size != h.size) {
      const char eof = '\x1A';
      WriteAll(fd, &eof, 1, size, tablePath);
      ++size;
    }
    if (plat::FaultHit(plat::Op::Write) || ::ftruncate(fd, size) != 0)
      throw XBaseError(Errno("Cannot truncate", tablePath));
    Sync(fd, tablePath);
  }
  DiscardUndo(undoPath);
}

void DiscardUndo(const std::string& undoPath) {
  if (plat::FaultHit(plat::Op::Delete) || (::unlink(undoPath.c_str()) != 0 && errno != ENOENT))
    throw XBaseError(Errno("Cannot delete", undoPath));
  SyncFolder(undoPath);
}

}  // namespace xbase
