// The seam on POSIX (Linux): every system call the program makes, and the
// only product file besides printing that includes an OS header.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/mapped.h"
#include "platform/os.h"

namespace plat {

// ---- Guarded mappings ------------------------------------------------------

namespace {

// The mappings under guard, read by the signal handler: plain atomics, no
// locks or allocation there.
struct Slot {
  std::atomic<uintptr_t> start{0}, end{0};
  std::atomic<bool> damaged{false};
  std::atomic<bool> used{false};
};
constexpr int kSlots = 32;
Slot g_slots[kSlots];
struct sigaction g_previousBus;
uintptr_t g_pageMask = 0;

void OnBusError(int sig, siginfo_t* info, void* context) {
  const auto addr = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Slot& s : g_slots) {
    const uintptr_t start = s.start.load(std::memory_order_acquire), end = s.end.load(std::memory_order_acquire);
    if (start == 0 || addr < start || addr >= end) continue;
    // Zero pages over the rest of the mapping; the access then goes on.
    const uintptr_t page = addr & g_pageMask;
    void* p = mmap(reinterpret_cast<void*>(page), end - page, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (p == MAP_FAILED) break;
    s.damaged.store(true, std::memory_order_release);
    return;
  }
  // Not ours: whoever handled it before does, or the default ends the process
  // once the access faults again.
  if ((g_previousBus.sa_flags & SA_SIGINFO) && g_previousBus.sa_sigaction) {
    g_previousBus.sa_sigaction(sig, info, context);
    return;
  }
  if (g_previousBus.sa_handler != SIG_DFL && g_previousBus.sa_handler != SIG_IGN && g_previousBus.sa_handler) {
    g_previousBus.sa_handler(sig);
    return;
  }
  signal(SIGBUS, SIG_DFL);
  if (info->si_code <= 0) raise(sig);  // sent, not a fault: it would not come again
}

bool InstallBusHandler() {
  static const bool installed = [] {
    g_pageMask = ~(static_cast<uintptr_t>(sysconf(_SC_PAGESIZE)) - 1);
    struct sigaction sa {};
    sa.sa_sigaction = OnBusError;
    sa.sa_flags = SA_SIGINFO | SA_ONSTACK;
    sigemptyset(&sa.sa_mask);
    return sigaction(SIGBUS, &sa, &g_previousBus) == 0;
  }();
  return installed;
}

}  // namespace

bool GuardedMapping::Map(int fd, size_t size) {
  Unmap();
  if (size == 0 || !InstallBusHandler()) return false;
  int slot = -1;
  for (int i = 0; i < kSlots && slot < 0; ++i) {
    bool expected = false;
    if (g_slots[i].used.compare_exchange_strong(expected, true)) slot = i;
  }
  if (slot < 0) return false;
  void* p = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) {
    g_slots[slot].used.store(false);
    return false;
  }
  Slot& s = g_slots[slot];
  s.damaged.store(false);
  s.end.store(reinterpret_cast<uintptr_t>(p) + size, std::memory_order_release);
  s.start.store(reinterpret_cast<uintptr_t>(p), std::memory_order_release);
  data_ = static_cast<const unsigned char*>(p);
  size_ = size;
  slot_ = slot;
  return true;
}

void GuardedMapping::Unmap() {
  if (!data_) return;
  Slot& s = g_slots[slot_];
  s.start.store(0, std::memory_order_release);
  s.end.store(0, std::memory_order_release);
  munmap(const_cast<unsigned char*>(data_), size_);
  s.used.store(false, std::memory_order_release);
  data_ = nullptr;
  size_ = 0;
  slot_ = -1;
}

bool GuardedMapping::Damaged() const {
  return slot_ >= 0 && g_slots[slot_].damaged.load(std::memory_order_acquire);
}

}  // namespace plat

namespace plat::os {

namespace {

// ---- Errors ----------------------------------------------------------------

Fail KindOf(int e) {
  switch (e) {
    case ENOENT:
    case ENOTDIR: return Fail::NotFound;
    case EEXIST: return Fail::Exists;
    case EACCES:
    case EPERM: return Fail::Denied;
    case EROFS: return Fail::ReadOnly;
    case ENOSPC:
    case EDQUOT: return Fail::NoSpace;
    case EAGAIN:
    case EBUSY:
    case ETXTBSY: return Fail::Busy;
    case EISDIR: return Fail::NotPlain;
    default: return Fail::Other;
  }
}

bool Failed(int e) {
  SetLastError(KindOf(e), std::strerror(e));
  return false;
}
bool Failed() { return Failed(errno); }
bool Failed(Fail kind, int e) {
  SetLastError(kind, std::strerror(e));
  return false;
}

// A lock call's error: a conflict is Busy, a file system without locks NoLocks.
bool LockFailed(int e) {
  if (e == EAGAIN || e == EACCES) return Failed(Fail::Busy, e);
  if (e == ENOLCK || e == EOPNOTSUPP || e == EINVAL) return Failed(Fail::NoLocks, e);
  return Failed(e);
}

bool NoLocks(int e) { return e == ENOLCK || e == EOPNOTSUPP || e == EINVAL; }

Kind KindOfMode(mode_t m) { return S_ISREG(m) ? Kind::Plain : S_ISDIR(m) ? Kind::Folder : Kind::Other; }

void Describe(const struct stat& st, FileInfo* info) {
  info->kind = KindOfMode(st.st_mode);
  info->size = st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
  info->links = static_cast<uint64_t>(st.st_nlink);
  info->device = static_cast<uint64_t>(st.st_dev);
  info->id = static_cast<uint64_t>(st.st_ino);
}

// A lock request on [start, start + length); length 0 reaches to any end.
struct flock LockRange(short type, uint64_t start, uint64_t length) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(start);
  fl.l_len = static_cast<off_t>(length);
  return fl;
}

bool SetLock(int fd, short type, uint64_t start, uint64_t length) {
  struct flock fl = LockRange(type, start, length);
  while (fcntl(fd, F_OFD_SETLK, &fl) != 0) {
    if (errno != EINTR) return LockFailed(errno);
  }
  return true;
}

void ClearNonBlocking(int fd) {
  const int fl = fcntl(fd, F_GETFL);
  if (fl >= 0) fcntl(fd, F_SETFL, fl & ~O_NONBLOCK);
}

// ---- Files -------------------------------------------------------------------

// Maps the file open as fd read-only (the mapping takes fd over, also when it
// fails) when it is still the file expected describes.
std::unique_ptr<Mapping> MapOpen(int fd, const FileInfo& expected);

// Pieces per writev call (the system's limit is at least this).
constexpr size_t kGatherMax = 1024;
static_assert(kGatherMax <= IOV_MAX);

class PosixFile final : public File {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}
  ~PosixFile() override {
    if (fd_ >= 0) ::close(fd_);
  }

  bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) override {
    *got = 0;
    if (!Usable()) return false;
    auto* out = static_cast<char*>(buf);
    while (*got < n) {
      const ssize_t r = ::pread(fd_, out + *got, n - *got, static_cast<off_t>(offset + *got));
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) return Failed();
      if (r == 0) break;
      *got += static_cast<size_t>(r);
    }
    return true;
  }

  bool WriteAt(uint64_t offset, const void* buf, size_t n) override {
    if (!Usable()) return false;
    const auto* in = static_cast<const char*>(buf);
    while (n > 0) {
      const ssize_t w = ::pwrite(fd_, in, n, static_cast<off_t>(offset));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return Failed();
      if (w == 0) return Failed(EIO);
      in += w;
      offset += static_cast<uint64_t>(w);
      n -= static_cast<size_t>(w);
    }
    return true;
  }

  // One system call: a FIFO or device gives what it has.
  bool Read(void* buf, size_t n, size_t* got) override {
    *got = 0;
    if (!Usable()) return false;
    ssize_t r;
    do r = ::read(fd_, buf, n);
    while (r < 0 && errno == EINTR);
    if (r < 0) return Failed();
    *got = static_cast<size_t>(r);
    return true;
  }

  bool Write(const void* buf, size_t n) override {
    if (!Usable()) return false;
    iovec one{const_cast<void*>(buf), n};
    return WriteVector(&one, 1);
  }

  bool WriteGather(const Piece* pieces, size_t count) override {
    if (!Usable()) return false;
    iovec iov[kGatherMax];
    while (count > 0) {
      size_t n = 0;
      for (; n < count && n < kGatherMax; ++n) iov[n] = {const_cast<void*>(pieces[n].data), pieces[n].size};
      if (!WriteVector(iov, n)) return false;
      pieces += n;
      count -= n;
    }
    return true;
  }

  bool Seek(uint64_t offset) override {
    if (!Usable()) return false;
    return ::lseek(fd_, static_cast<off_t>(offset), SEEK_SET) >= 0 || Failed();
  }

  bool Size(uint64_t* size) override {
    FileInfo info;
    if (!Info(&info)) return false;
    *size = info.size;
    return true;
  }

  bool Truncate(uint64_t size) override {
    if (!Usable()) return false;
    while (::ftruncate(fd_, static_cast<off_t>(size)) != 0)
      if (errno != EINTR) return Failed();
    return true;
  }

  bool Sync() override {
    if (!Usable()) return false;
    while (::fsync(fd_) != 0)
      if (errno != EINTR) return Failed();
    return true;
  }

  void StartWriteBack(uint64_t offset, uint64_t length) override {
#ifdef __linux__
    if (Usable()) ::sync_file_range(fd_, static_cast<off_t>(offset), static_cast<off_t>(length), SYNC_FILE_RANGE_WRITE);
#else
    (void)offset;
    (void)length;
#endif
  }

  bool Info(FileInfo* info) override {
    struct stat st;
    if (!Usable()) return false;
    if (::fstat(fd_, &st) != 0) return Failed();
    Describe(st, info);
    return true;
  }

  bool Close() override {
    if (!Usable()) return false;
    // The descriptor is gone whatever close says (no retry on EINTR).
    const int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 || Failed();
  }

  bool TryLock(uint64_t start, uint64_t length, LockKind kind) override {
    return Usable() && SetLock(fd_, kind == LockKind::Shared ? F_RDLCK : F_WRLCK, start, length);
  }

  bool Unlock(uint64_t start, uint64_t length) override { return Usable() && SetLock(fd_, F_UNLCK, start, length); }

  bool OthersHold(uint64_t start, uint64_t length, bool* held) override {
    *held = false;
    if (!Usable()) return false;
    struct flock fl = LockRange(F_WRLCK, start, length);
    while (fcntl(fd_, F_OFD_GETLK, &fl) != 0) {
      if (errno == EINTR) continue;
      return NoLocks(errno) || LockFailed(errno);
    }
    *held = fl.l_type != F_UNLCK;
    return true;
  }

  bool TakeAccessOf(const std::string& path) override {
    if (!Usable()) return false;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return Failed();
    // The owner first: a change of owner clears set-id bits that the mode sets.
    if ((st.st_uid != geteuid() || st.st_gid != getegid()) && ::fchown(fd_, st.st_uid, st.st_gid) != 0) {
      // Not ours to give away; the new file stays ours.
    }
    return ::fchmod(fd_, st.st_mode & 07777) == 0 || Failed();
  }

  // A descriptor of its own for the mapping: the same open file, so the
  // hold taken at the open (its lock) and the lease cover one another.
  std::unique_ptr<Mapping> MapReadOnly(const FileInfo& expected) override {
    if (!Usable()) return nullptr;
    const int copy = fcntl(fd_, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) {
      Failed();
      return nullptr;
    }
    return MapOpen(copy, expected);
  }

 private:
  bool Usable() {
    if (fd_ >= 0) return true;
    return Failed(Fail::Other, EBADF);
  }

  // All of iov[0, n), picking up after short writes.
  bool WriteVector(iovec* iov, size_t n) {
    while (n > 0) {
      if (iov->iov_len == 0) {
        ++iov;
        --n;
        continue;
      }
      const ssize_t w = ::writev(fd_, iov, static_cast<int>(n));
      if (w < 0 && errno == EINTR) continue;
      if (w < 0) return Failed();
      if (w == 0) return Failed(EIO);
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

  int fd_;
};

int OpenFlags(const OpenRequest& how) {
  int flags = how.access == Access::Read ? O_RDONLY : how.access == Access::Write ? O_WRONLY : O_RDWR;
  switch (how.disposition) {
    case Disposition::OpenExisting: break;
    case Disposition::CreateOrOpen: flags |= O_CREAT; break;
    case Disposition::CreateOrTruncate: flags |= O_CREAT | O_TRUNC; break;
    case Disposition::CreateNew: flags |= O_CREAT | O_EXCL; break;
  }
  if (how.noFollow) flags |= O_NOFOLLOW;
  if (how.append) flags |= O_APPEND;
  // O_NONBLOCK for the open only: a FIFO without a reader fails at once, and
  // a file whose lease another process holds does not stall us.
  return flags | O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
}

// "Without sharing" on Linux, which has no mandatory share modes:
//  - An open-file-description lock on the whole file (a read lock for an open
//    to read, so such readers share) keeps out every other exclusive open, in
//    this process or another, and fails against any process holding a
//    conflicting record lock.
//  - A write lease, taken and at once given up, tells whether any other open
//    of the file exists (for writing or reading, in any process, including
//    plain opens of this program): the kernel grants it only to the sole
//    opener. So a file that another program still writes is left alone.
// Limits: the lease probe needs a local file system that supports leases and
// either ownership of the file or CAP_LEASE; where it cannot be taken for
// those reasons only the lock protects. The check is made once, at the open:
// a program that neither locks nor checks can still open the file afterwards
// (holding the lease would stall its open for the lease-break time instead).
bool HoldWithoutSharing(int fd, Access access) {
  struct flock fl = LockRange(access == Access::Read ? F_RDLCK : F_WRLCK, 0, 0);
  // Where the file system keeps no locks the file cannot be held: NoLocks.
  if (fcntl(fd, F_OFD_SETLK, &fl) != 0) return LockFailed(errno);
  // Should another process open the file in the instant the lease is held,
  // the break notice goes out as SIGURG, which is ignored by default (the
  // default SIGIO would end the program).
  fcntl(fd, F_SETSIG, SIGURG);
  if (fcntl(fd, F_SETLEASE, F_WRLCK) == 0) {
    fcntl(fd, F_SETLEASE, F_UNLCK);
  } else if (errno == EAGAIN || errno == EBUSY || errno == EWOULDBLOCK) {
    return Failed(Fail::Busy, errno);
  }
  return true;
}

// ---- Mappings ----------------------------------------------------------------

class PosixMapping final : public Mapping {
 public:
  explicit PosixMapping(int fd) : fd_(fd) {}
  ~PosixMapping() override {
    mapping_.Unmap();
    fcntl(fd_, F_SETLEASE, F_UNLCK);
    ::close(fd_);
  }
  GuardedMapping& Guarded() { return mapping_; }

  const unsigned char* Data() const override { return mapping_.Data(); }
  size_t Size() const override { return mapping_.Size(); }
  bool Damaged() const override { return mapping_.Damaged(); }

  void Populate() override {
    auto* data = const_cast<unsigned char*>(Data());
#ifdef MADV_POPULATE_READ
    if (madvise(data, Size(), MADV_POPULATE_READ) == 0) return;
#endif
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    unsigned char sum = 0;
    for (size_t i = 0; i < Size(); i += page) sum = static_cast<unsigned char>(sum + data[i]);
    touched_ = sum;
  }

  // The page cache keeps the pages; only this process's view goes.
  void Release(size_t from, size_t to) override {
    static const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    from = (from + page - 1) / page * page;
    to = to >= Size() ? Size() : to / page * page;
    if (from < to) madvise(const_cast<unsigned char*>(Data()) + from, to - from, MADV_DONTNEED);
  }

 private:
  int fd_;
  volatile unsigned char touched_ = 0;  // keeps the touching loop of Populate
  GuardedMapping mapping_;
};

std::unique_ptr<Mapping> MapOpen(int fd, const FileInfo& expected) {
  auto mapping = std::make_unique<PosixMapping>(fd);  // closes fd whatever happens
  if (expected.size == 0 || expected.size > static_cast<uint64_t>(SIZE_MAX)) {
    Failed(Fail::Other, EINVAL);
    return nullptr;
  }
  // A mapped file that another program shortens would end this process
  // (SIGBUS). A read lease held while the mapping lives makes any open for
  // writing or truncation by another program wait until we are done (up to
  // the kernel's lease-break time); its notice comes as SIGURG, ignored by
  // default. Without the lease the file is read, not mapped.
  fcntl(fd, F_SETSIG, SIGURG);
  if (fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
    Failed(errno == EAGAIN ? Fail::Busy : Fail::Other, errno);
    return nullptr;
  }
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    Failed();
    return nullptr;
  }
  FileInfo now;
  Describe(st, &now);
  if (now.kind != Kind::Plain || now.device != expected.device || now.id != expected.id || now.size != expected.size) {
    // Replaced or changed since the caller looked: not the file it means.
    SetLastError(Fail::Other, "The file changed while it was being opened");
    return nullptr;
  }
  // Should the lease still be broken (after the lease-break time), the guard
  // keeps a shortened file from ending the process; Damaged() tells.
  if (!mapping->Guarded().Map(fd, static_cast<size_t>(expected.size))) {
    Failed(Fail::Other, ENOMEM);
    return nullptr;
  }
  madvise(const_cast<unsigned char*>(mapping->Data()), mapping->Size(), MADV_SEQUENTIAL);
  return mapping;
}

// ---- Stop signals ------------------------------------------------------------

std::atomic<void (*)()> g_onStop{nullptr};

void OnStopSignal(int) {
  const int saved = errno;
  if (auto* f = g_onStop.load()) f();
  errno = saved;
}

// ---- The Env -------------------------------------------------------------------

class PosixEnv final : public Env {
 public:
  std::unique_ptr<File> Open(const std::string& path, const OpenRequest& how) override {
    int fd;
    do fd = ::open(path.c_str(), OpenFlags(how), 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      const int e = errno;
      if (e == ELOOP && how.noFollow) Failed(Fail::NotPlain, e);
      else if (e == ENXIO) Failed(Fail::Other, e);  // a FIFO nobody reads, a device not there
      else Failed(e);
      return nullptr;
    }
    auto file = std::make_unique<PosixFile>(fd);
    // A folder is never a File; other kinds only when asked for.
    struct stat st;
    if (::fstat(fd, &st) != 0) {
      Failed();
      return nullptr;
    }
    if (S_ISDIR(st.st_mode) || ((how.plainOnly || how.exclusive) && !S_ISREG(st.st_mode))) {
      Failed(Fail::NotPlain, S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
      return nullptr;
    }
    if (how.exclusive && !HoldWithoutSharing(fd, how.access)) return nullptr;
    ClearNonBlocking(fd);
    return file;
  }

  std::unique_ptr<Mapping> MapReadOnly(const std::string& path, const FileInfo& expected) override {
    int fd;
    do fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
      Failed();
      return nullptr;
    }
    return MapOpen(fd, expected);
  }

  bool Stat(const std::string& path, bool followLinks, FileInfo* info) override {
    struct stat st;
    if ((followLinks ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0) return Failed();
    Describe(st, info);
    return true;
  }

  bool RenameReplace(const std::string& from, const std::string& to) override {
    return ::rename(from.c_str(), to.c_str()) == 0 || Failed();
  }

  bool Remove(const std::string& path) override { return ::unlink(path.c_str()) == 0 || Failed(); }

  bool SyncFolder(const std::string& folder) override {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      // A folder we may enter but not read cannot be synced: nothing better to do.
      return errno == EACCES || errno == EPERM || Failed();
    }
    bool ok = true;
    while (::fsync(fd) != 0) {
      if (errno == EINTR) continue;
      // Some file systems cannot sync a folder; their renames are as durable as they get.
      ok = errno == EINVAL || errno == EROFS || Failed();
      break;
    }
    ::close(fd);
    return ok;
  }

  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override {
    names->clear();
    DIR* d = ::opendir(folder.c_str());
    if (!d) return Failed();
    errno = 0;
    while (const dirent* e = ::readdir(d)) {
      const std::string name = e->d_name;
      if (name != "." && name != "..") names->push_back(name);
      errno = 0;
    }
    const int e = errno;
    ::closedir(d);
    return e == 0 || Failed(e);
  }

  std::string Resolve(const std::string& path) override {
    char* r = ::realpath(path.c_str(), nullptr);
    if (!r) {
      Failed();
      return "";
    }
    std::string out = r;
    std::free(r);
    return out;
  }

  std::string ExeFolder() override {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) {
      Failed();
      return "";
    }
    const std::string exe(buf, static_cast<size_t>(n));
    const size_t i = exe.rfind('/');
    if (i == std::string::npos) return "";
    return i == 0 ? "/" : exe.substr(0, i);
  }

  std::string DefaultPortDevice(int n) override { return n >= 1 ? "/dev/lp" + std::to_string(n - 1) : ""; }

  std::chrono::system_clock::time_point Now() override { return std::chrono::system_clock::now(); }
  std::chrono::steady_clock::time_point Monotonic() override { return std::chrono::steady_clock::now(); }

  void Sleep(std::chrono::milliseconds duration) override {
    if (duration.count() <= 0) return;
    timespec left{static_cast<time_t>(duration.count() / 1000), static_cast<long>(duration.count() % 1000) * 1000000};
    // A signal (a stop request) ends the sleep early; the caller looks at why.
    ::nanosleep(&left, &left);
  }

  bool LocalTime(std::time_t t, LocalTm* out) override {
    if (::localtime_r(&t, out)) return true;
    return Failed(Fail::Other, errno ? errno : EOVERFLOW);
  }

  void InstallStopHandler(void (*onStop)()) override {
    g_onStop.store(onStop);
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
  }
};

}  // namespace

Env& RealOs() {
  static PosixEnv env;
  return env;
}

}  // namespace plat::os
