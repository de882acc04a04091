// Files and paths on POSIX (Linux).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/fault.h"
#include "platform/file.h"

namespace plat {

namespace {

std::mutex g_driveMutex;
std::map<char, std::string> g_drives;

bool IsSep(char c) { return c == '\\' || c == '/'; }

bool HasDrive(const std::string& p) {
  return p.size() >= 2 && p[1] == ':' &&
         ((p[0] >= 'A' && p[0] <= 'Z') || (p[0] >= 'a' && p[0] <= 'z'));
}

}  // namespace

void SetDriveMap(const std::map<char, std::string>& drives) {
  std::map<char, std::string> m;
  for (const auto& [letter, folder] : drives) {
    char l = letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
    if (l >= 'A' && l <= 'Z' && !folder.empty()) m.emplace(l, folder);
  }
  std::lock_guard<std::mutex> lock(g_driveMutex);
  g_drives = std::move(m);
}

std::map<char, std::string> GetDriveMap() {
  std::lock_guard<std::mutex> lock(g_driveMutex);
  return g_drives;
}

std::string NativePath(const std::string& path) {
  std::string base, rest = path;
  if (HasDrive(path)) {
    char l = path[0] >= 'a' ? static_cast<char>(path[0] - 'a' + 'A') : path[0];
    {
      std::lock_guard<std::mutex> lock(g_driveMutex);
      auto it = g_drives.find(l);
      if (it == g_drives.end()) return "";
      base = it->second;
    }
    // "C:X" (relative to the drive's current folder) is taken from its root.
    rest = "/" + path.substr(2);
  }
  // Both separators become "/", and runs of them collapse to one.
  std::string out = base;
  for (char c : rest) {
    if (IsSep(c)) {
      if (!out.empty() && out.back() == '/') continue;
      out += '/';
    } else {
      out += c;
    }
  }
  return out;
}

std::string ExtractFileDir(const std::string& path) {
  size_t i = path.find_last_of("\\/");
  if (i == std::string::npos) return "";
  // Keep a root: "\x" gives "\", "C:\x" gives "C:\".
  if (i == 0 || (i == 2 && HasDrive(path))) return path.substr(0, i + 1);
  return path.substr(0, i);
}

bool FileExists(const std::string& path) {
  std::string p = NativePath(path);
  struct stat st;
  return !p.empty() && stat(p.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
  std::string p = NativePath(path);
  struct stat st;
  return !p.empty() && lstat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool DirectoryExists(const std::string& path) {
  std::string p = NativePath(path);
  struct stat st;
  return !p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateEmptyFile(const std::string& path) {
  std::string p = NativePath(path);
  if (p.empty() || FaultHit(Op::Open)) return false;
  // O_NONBLOCK: a FIFO without a reader must not hang us.
  int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return false;
  close(fd);
  return true;
}

bool DeleteFile(const std::string& path) {
  std::string p = NativePath(path);
  return !p.empty() && !FaultHit(Op::Delete) && unlink(p.c_str()) == 0;
}

bool RenameReplace(const std::string& from, const std::string& to) {
  std::string f = NativePath(from), t = NativePath(to);
  return !f.empty() && !t.empty() && !FaultHit(Op::Rename) && rename(f.c_str(), t.c_str()) == 0;
}

std::string ResolvedPath(const std::string& path) {
  std::string p = NativePath(path);
  if (p.empty()) return "";
  char* r = realpath(p.c_str(), nullptr);
  if (!r) return "";
  std::string out = r;
  free(r);
  return out;
}

unsigned long LinkCount(const std::string& path) {
  std::string p = NativePath(path);
  struct stat st;
  return !p.empty() && stat(p.c_str(), &st) == 0 ? static_cast<unsigned long>(st.st_nlink) : 0;
}

bool SyncFolderOf(const std::string& path) {
  std::string p = NativePath(path);
  size_t i = p.rfind('/');
  const std::string dir = i == std::string::npos ? "." : i == 0 ? "/" : p.substr(0, i);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  // A folder we may enter but not read cannot be synced; nothing better to do.
  if (fd < 0) return true;
  bool ok = !FaultHit(Op::Flush) && fsync(fd) == 0;
  close(fd);
  return ok;
}

std::string ExeFolder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string exe(buf, static_cast<size_t>(n));
  size_t i = exe.rfind('/');
  if (i == std::string::npos) return "";
  return i == 0 ? "/" : exe.substr(0, i);
}

namespace {

// Pieces per writev call (the system's limit is at least this).
constexpr size_t kGatherMax = 1024;
static_assert(kGatherMax <= IOV_MAX);

class PosixFile final : public File {
 public:
  PosixFile(int fd, bool canRead, bool canWrite) : fd_(fd), canRead_(canRead), canWrite_(canWrite) {}
  ~PosixFile() override { Close(); }

  size_t Read(void* buf, size_t n) override {
    if (fd_ < 0 || !canRead_ || !FlushWrites()) return 0;
    auto* out = static_cast<char*>(buf);
    size_t done = 0;
    while (done < n) {
      if (rpos_ < rlen_) {
        size_t k = std::min(n - done, rlen_ - rpos_);
        std::memcpy(out + done, rbuf_ + rpos_, k);
        rpos_ += k;
        done += k;
        continue;
      }
      rpos_ = rlen_ = 0;
      ssize_t r;
      if (n - done >= sizeof rbuf_) {
        r = RetryRead(out + done, n - done);
        if (r <= 0) break;
        done += static_cast<size_t>(r);
      } else {
        r = RetryRead(rbuf_, sizeof rbuf_);
        if (r <= 0) break;
        rlen_ = static_cast<size_t>(r);
      }
    }
    return done;
  }

  bool Write(const void* buf, size_t n) override {
    if (fd_ < 0 || !canWrite_ || !DropReadAhead()) return false;
    written_ = true;
    const auto* in = static_cast<const char*>(buf);
    if (wlen_ + n > sizeof wbuf_) {
      if (!FlushWrites()) return false;
      if (n >= sizeof wbuf_) return WriteAll(in, n);
    }
    std::memcpy(wbuf_ + wlen_, in, n);
    wlen_ += n;
    return true;
  }

  bool WriteGather(const Piece* pieces, size_t count) override {
    if (fd_ < 0 || !canWrite_ || !DropReadAhead() || !FlushWrites()) return false;
    written_ = true;
    iovec iov[kGatherMax];
    while (count > 0) {
      size_t n = 0;
      for (; n < count && n < kGatherMax; ++n)
        iov[n] = {const_cast<void*>(pieces[n].data), pieces[n].size};
      if (!WriteVector(iov, n)) return false;
      pieces += n;
      count -= n;
    }
    return true;
  }

  bool Seek(uint64_t offset) override {
    if (fd_ < 0 || !FlushWrites()) return false;
    rpos_ = rlen_ = 0;
    return lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0;
  }

  int64_t Size() override {
    struct stat st;
    if (fd_ < 0 || !FlushWrites() || fstat(fd_, &st) != 0) return -1;
    return st.st_size;
  }

  bool Truncate(uint64_t size) override {
    if (fd_ < 0 || !canWrite_ || !FlushWrites()) return false;
    written_ = true;
    return !FaultHit(Op::Write) && ftruncate(fd_, static_cast<off_t>(size)) == 0;
  }

  bool Flush() override { return fd_ >= 0 && FlushWrites(); }

  bool Sync() override { return Flush() && !FaultHit(Op::Flush) && fsync(fd_) == 0; }

  bool Close() override {
    if (fd_ < 0) return false;
    bool ok = FlushWrites() && !failed_;
    // A delayed write error of a written file shows at its close (one only
    // opened for writing, to hold it, has none).
    if (written_ && FaultHit(Op::Flush)) ok = false;
    if (close(fd_) != 0) ok = false;
    fd_ = -1;
    return ok;
  }

 private:
  ssize_t RetryRead(char* p, size_t n) {
    if (FaultHit(Op::Read)) return -1;
    ssize_t r;
    do r = ::read(fd_, p, n);
    while (r < 0 && errno == EINTR);
    return r;
  }

  bool WriteAll(const char* p, size_t n) {
    while (n > 0) {
      if (FaultHit(Op::Write)) {
        failed_ = true;
        return false;
      }
      ssize_t w = ::write(fd_, p, n);
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        failed_ = true;
        return false;
      }
      p += w;
      n -= static_cast<size_t>(w);
    }
    return true;
  }

  // All of iov[0, n), picking up after short writes.
  bool WriteVector(iovec* iov, size_t n) {
    while (n > 0) {
      if (iov->iov_len == 0) {
        ++iov;
        --n;
        continue;
      }
      if (FaultHit(Op::Write)) {
        failed_ = true;
        return false;
      }
      ssize_t w = ::writev(fd_, iov, static_cast<int>(n));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) {
        failed_ = true;
        return false;
      }
      for (auto left = static_cast<size_t>(w); left > 0;) {
        const size_t k = std::min(left, iov->iov_len);
        iov->iov_base = static_cast<char*>(iov->iov_base) + k;
        iov->iov_len -= k;
        left -= k;
        if (iov->iov_len == 0) {
          ++iov;
          --n;
        }
      }
    }
    return true;
  }

  bool FlushWrites() {
    if (wlen_ == 0) return true;
    size_t n = wlen_;
    wlen_ = 0;
    return WriteAll(wbuf_, n);
  }

  // Before writing, the OS position must match what the caller has read.
  bool DropReadAhead() {
    if (rpos_ < rlen_) {
      off_t back = static_cast<off_t>(rlen_ - rpos_);
      if (lseek(fd_, -back, SEEK_CUR) < 0) return false;
    }
    rpos_ = rlen_ = 0;
    return true;
  }

  int fd_;
  bool canRead_, canWrite_;
  bool failed_ = false;
  bool written_ = false;
  char rbuf_[65536];
  size_t rpos_ = 0, rlen_ = 0;
  char wbuf_[65536];
  size_t wlen_ = 0;
};

int Flags(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read: return O_RDONLY;
    case OpenMode::ReadWrite: return O_RDWR;
    case OpenMode::WriteOnly: return O_WRONLY;
  }
  return O_RDONLY;
}

// Opens without creating; folders are refused. O_NONBLOCK keeps the open from
// hanging on a FIFO or on a file whose lease another process holds; it is
// cleared again afterwards.
int OpenFd(const std::string& path, OpenMode mode) {
  std::string p = NativePath(path);
  if (p.empty() || FaultHit(Op::Open)) return -1;
  int fd = open(p.c_str(), Flags(mode) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return -1;
  struct stat st;
  if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    close(fd);
    return -1;
  }
  int fl = fcntl(fd, F_GETFL);
  if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return fd;
}

std::unique_ptr<File> Wrap(int fd, OpenMode mode) {
  return std::make_unique<PosixFile>(fd, mode != OpenMode::WriteOnly, mode != OpenMode::Read);
}

}  // namespace

std::unique_ptr<File> OpenFile(const std::string& path, OpenMode mode) {
  int fd = OpenFd(path, mode);
  if (fd < 0) return nullptr;
  return Wrap(fd, mode);
}

// "Without sharing" on Linux, which has no mandatory share modes:
//  - An open-file-description lock on the whole file (write lock; a read lock
//    for OpenMode::Read, so exclusive readers share) keeps out every other
//    exclusive open, in this process or another, and fails against any
//    process holding a conflicting POSIX record lock.
//  - A write lease, taken and at once given up, tells whether any other open
//    of the file exists (for writing or reading, in any process, including
//    plain opens of this program): the kernel grants it only to the sole
//    opener. So a file that another program still writes is left alone.
// Limits: the lease probe needs a local file system that supports leases and
// either ownership of the file or CAP_LEASE; where it cannot be taken for
// those reasons only the lock protects. The check is made once, at the open:
// a program that neither locks nor checks can still open the file afterwards
// (holding the lease would stall its open for the lease-break time instead).
std::unique_ptr<File> OpenExclusive(const std::string& path, OpenMode mode) {
  int fd = OpenFd(path, mode);
  if (fd < 0) return nullptr;
  // Only a plain file can be held without sharing; checked on what was
  // opened, so a FIFO or device put in a checked file's place is refused too.
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }

  struct flock fl {};
  fl.l_type = mode == OpenMode::Read ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;
  if (FaultHit(Op::Lock) || fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    close(fd);
    return nullptr;
  }

  // Should another process open the file in the instant the lease is held,
  // the break notice goes out as SIGURG, which is ignored by default (the
  // default SIGIO would end the program).
  fcntl(fd, F_SETSIG, SIGURG);
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
  } else if (errno == EAGAIN || errno == EBUSY || errno == EWOULDBLOCK) {
    close(fd);
    return nullptr;
  }
  return Wrap(fd, mode);
}

std::unique_ptr<File> CreateFile(const std::string& path) {
  std::string p = NativePath(path);
  if (p.empty() || FaultHit(Op::Open)) return nullptr;
  int fd = open(p.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  int fl = fcntl(fd, F_GETFL);
  if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return Wrap(fd, OpenMode::WriteOnly);
}

std::unique_ptr<File> CreateBeside(const std::string& target, std::string* name, bool* folderRefuses) {
  *folderRefuses = false;
  std::string t = NativePath(target);
  struct stat st;
  if (t.empty() || stat(t.c_str(), &st) != 0 || FaultHit(Op::Open)) return nullptr;
  // A long name is shortened so that the suffix still fits in a name.
  size_t slash = t.rfind('/');
  size_t base = slash == std::string::npos ? 0 : slash + 1;
  std::string tmpl = t.substr(0, base + std::min<size_t>(t.size() - base, 200)) + ".vvtmp-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  // mkostemp creates with O_EXCL under a random name, retrying on a clash.
  int fd = mkostemp(buf.data(), O_CLOEXEC);
  if (fd < 0) {
    *folderRefuses = errno == EACCES || errno == EPERM || errno == EROFS || errno == ENOSPC || errno == EDQUOT;
    return nullptr;
  }
  // The owner first: a change of owner clears set-id bits that the mode sets.
  if ((st.st_uid != geteuid() || st.st_gid != getegid()) && fchown(fd, st.st_uid, st.st_gid) != 0) {
    // Not ours to give away; the new file stays ours.
  }
  if (fchmod(fd, st.st_mode & 07777) != 0) {
    close(fd);
    unlink(buf.data());
    return nullptr;
  }
  *name = buf.data();
  return Wrap(fd, OpenMode::WriteOnly);
}

std::unique_ptr<File> OpenAppend(const std::string& path) {
  std::string p = NativePath(path);
  if (p.empty() || FaultHit(Op::Open)) return nullptr;
  int fd = open(p.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666);
  if (fd < 0) return nullptr;
  struct stat st;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    return nullptr;
  }
  int fl = fcntl(fd, F_GETFL);
  if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
  return Wrap(fd, OpenMode::WriteOnly);
}

}  // namespace plat
