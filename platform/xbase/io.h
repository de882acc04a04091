#pragma once
// Byte-level helpers shared by the table files: little-endian fields and
// whole reads and writes at an offset that raise XBaseError (with the fault
// seam beside each system call).
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <string>

#include "platform/fault.h"
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

inline std::string Errno(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

inline void PreadAll(int fd, void* buf, size_t n, int64_t off, const std::string& path) {
  auto* p = static_cast<char*>(buf);
  while (n > 0) {
    ssize_t got = plat::FaultHit(plat::Op::Read) ? -1 : ::pread(fd, p, n, off);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) throw XBaseError(Errno("Cannot read", path));
    if (got == 0) throw XBaseError("Unexpected end of file in " + path);
    p += got;
    n -= static_cast<size_t>(got);
    off += got;
  }
}

inline void PwriteAll(int fd, const void* buf, size_t n, int64_t off, const std::string& path) {
  auto* p = static_cast<const char*>(buf);
  while (n > 0) {
    ssize_t put = plat::FaultHit(plat::Op::Write) ? -1 : ::pwrite(fd, p, n, off);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) throw XBaseError(Errno("Cannot write", path));
    p += put;
    n -= static_cast<size_t>(put);
    off += put;
  }
}

// Makes a file's creation, rename or removal in its folder durable (the
// file's own bytes need their own fsync). Native paths, unlike plat's.
inline void SyncFolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder we may enter but not read cannot be synced; nothing better to do.
  if (fd < 0) return;
  const bool ok = !plat::FaultHit(plat::Op::Flush) && ::fsync(fd) == 0;
  const int err = errno;
  ::close(fd);
  errno = err;
  if (!ok) throw XBaseError(Errno("Cannot flush the folder of", path));
}

}  // namespace xbase::io
