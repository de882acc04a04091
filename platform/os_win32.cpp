// The OS seam on Windows.
//
// Names arrive as 8-bit Windows-1252 text and go to the wide (UTF-16) calls;
// names coming back are converted the other way ('?' for what 1252 lacks).
//
// "Without sharing" is the file system's own share mode: no other open of the
// file for reading or writing, of this process or another, while it is held;
// only deleting or replacing its name is shared (the holder does both). Other
// opens share read, write and delete, so renaming over an open file works.
//
// Byte-range locks are LockFileEx on the very bytes the POSIX build locks (the
// host's engine locks those on Windows too). Windows locks do not merge and do
// not convert; the seam's callers expect the POSIX kind (taking a lock you
// hold again succeeds, shared becomes exclusive in place, unlocking a range
// frees whatever is held in it), so each file keeps the list of its own locks
// and maps those requests onto Windows' rules.
//
// Files are read and written with explicit offsets (OVERLAPPED on a
// synchronous handle); the "current position" is this file's own counter, so
// positional and sequential calls never disturb each other.
#include "platform/win32.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "platform/os.h"

namespace plat::os {
namespace {

using win32::Narrow;
using win32::Wide;

Fail KindOf(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DIRECTORY:
      return Fail::NotFound;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return Fail::Exists;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return Fail::Denied;
    case ERROR_WRITE_PROTECT:
      return Fail::ReadOnly;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return Fail::NoSpace;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_PIPE_BUSY:
    case ERROR_IO_PENDING:
      return Fail::Busy;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
      return Fail::NoLocks;
    default:
      return Fail::Other;
  }
}

std::string TextOf(DWORD code) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                               FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text = n && buf ? Narrow(buf, n) : std::string();
  if (buf) LocalFree(buf);
  // The system's texts end in ".\r\n"; the program adds its own punctuation.
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
    text.pop_back();
  if (text.empty()) text = "Error " + std::to_string(code);
  return text;
}

// Records the calling thread's last Windows error as the seam's; returns false
// so failing paths can end with `return Failed();`.
bool Failed(DWORD code) {
  SetLastError(KindOf(code), TextOf(code));
  return false;
}
bool Failed() { return Failed(GetLastError()); }
bool Failed(Fail kind, const char* text) {
  SetLastError(kind, text);
  return false;
}

// A replace refused while another open holds the target is tried again this
// often, this far apart (half a second in all).
constexpr int kReplaceTries = 50;
constexpr DWORD kReplacePauseMs = 10;

// Largest single ReadFile/WriteFile: a DWORD count, kept well below 4 GiB.
constexpr size_t kMaxIo = size_t{1} << 30;

OVERLAPPED At(uint64_t offset) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return ov;
}

bool SameRange(uint64_t a, uint64_t alen, uint64_t b, uint64_t blen) { return a == b && alen == blen; }

// Maps the file open as h read-only (the mapping takes h over, also when it
// fails) when it is still the file expected describes.
std::unique_ptr<Mapping> MapOpen(HANDLE h, const FileInfo& expected);

class Win32File final : public File {
 public:
  Win32File(HANDLE h, bool append) : h_(h), append_(append) {
    // Pipes and character devices (a port) have no offsets.
    disk_ = GetFileType(h) == FILE_TYPE_DISK;
  }
  ~Win32File() override { Close(); }

  bool ReadAt(uint64_t offset, void* buf, size_t n, size_t* got) override {
    *got = 0;
    if (!Open()) return false;
    char* p = static_cast<char*>(buf);
    while (*got < n) {
      DWORD want = static_cast<DWORD>(std::min(n - *got, kMaxIo));
      DWORD done = 0;
      OVERLAPPED ov = At(offset + *got);
      if (!ReadFile(h_, p + *got, want, &done, disk_ ? &ov : nullptr)) {
        DWORD e = GetLastError();
        if (e == ERROR_HANDLE_EOF || e == ERROR_BROKEN_PIPE) break;
        return Failed(e);
      }
      if (done == 0) break;
      *got += done;
      if (!disk_) break;  // a pipe or device gives what it has
    }
    return true;
  }

  bool WriteAt(uint64_t offset, const void* buf, size_t n) override {
    if (!Open()) return false;
    const char* p = static_cast<const char*>(buf);
    size_t put = 0;
    while (put < n) {
      DWORD want = static_cast<DWORD>(std::min(n - put, kMaxIo));
      DWORD done = 0;
      // All ones: at the end as it stands then.
      OVERLAPPED ov = append_ ? At(~uint64_t{0}) : At(offset + put);
      if (!WriteFile(h_, p + put, want, &done, disk_ ? &ov : nullptr)) return Failed();
      if (done == 0) return Failed(Fail::Other, "Nothing written");
      put += done;
    }
    return true;
  }

  bool Read(void* buf, size_t n, size_t* got) override {
    if (!ReadAt(pos_, buf, n, got)) return false;
    pos_ += *got;
    return true;
  }

  bool Write(const void* buf, size_t n) override {
    if (!WriteAt(pos_, buf, n)) return false;
    pos_ += n;
    return true;
  }

  bool WriteGather(const Piece* pieces, size_t count) override {
    // Windows gathers only page-aligned unbuffered writes; small pieces are
    // collected here so the system still sees large writes.
    constexpr size_t kGather = 1 << 20;
    std::string pending;
    for (size_t i = 0; i < count; ++i) {
      const Piece& piece = pieces[i];
      if (pending.size() + piece.size > kGather && !pending.empty()) {
        if (!Write(pending.data(), pending.size())) return false;
        pending.clear();
      }
      if (piece.size >= kGather) {
        if (!Write(piece.data, piece.size)) return false;
      } else {
        pending.append(static_cast<const char*>(piece.data), piece.size);
      }
    }
    return pending.empty() || Write(pending.data(), pending.size());
  }

  bool Seek(uint64_t offset) override {
    if (!Open()) return false;
    pos_ = offset;
    return true;
  }

  bool Size(uint64_t* size) override {
    if (!Open()) return false;
    LARGE_INTEGER li;
    if (!GetFileSizeEx(h_, &li)) return Failed();
    *size = static_cast<uint64_t>(li.QuadPart);
    return true;
  }

  bool Truncate(uint64_t size) override {
    if (!Open()) return false;
    // The handle's own pointer is not the file's position (pos_), so moving it
    // here changes nothing else.
    LARGE_INTEGER li;
    li.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(h_, li, nullptr, FILE_BEGIN) || !SetEndOfFile(h_)) return Failed();
    return true;
  }

  bool Sync() override {
    if (!Open()) return false;
    return FlushFileBuffers(h_) || Failed();
  }

  bool Info(FileInfo* info) override {
    if (!Open()) return false;
    return Describe(h_, false, info);
  }

  bool Close() override {
    if (h_ == INVALID_HANDLE_VALUE) return Failed(Fail::Other, "The file is closed");
    // Closing frees the locks too; the list goes with it.
    locks_.clear();
    HANDLE h = h_;
    h_ = INVALID_HANDLE_VALUE;
    return CloseHandle(h) || Failed();
  }

  bool TryLock(uint64_t start, uint64_t length, LockKind kind) override {
    if (!Open()) return false;
    if (length == 0) return true;
    for (size_t i = 0; i < locks_.size(); ++i) {
      Held& held = locks_[i];
      if (!SameRange(held.start, held.length, start, length)) continue;
      if (held.kind == kind) return true;
      if (kind == LockKind::Shared) {
        // Down: a shared lock may lie over the same handle's exclusive one;
        // then the exclusive one goes.
        if (!Lock(start, length, LockKind::Shared)) return false;
        UnlockBytes(start, length);
        held.kind = LockKind::Shared;
        return true;
      }
      // Up: Windows takes no exclusive lock over any lock, not even our own
      // shared one. Let it go, try, and take the shared one back on refusal.
      UnlockBytes(start, length);
      if (Lock(start, length, LockKind::Exclusive)) {
        held.kind = LockKind::Exclusive;
        return true;
      }
      const Error refused = LastError();
      if (!Lock(start, length, LockKind::Shared)) locks_.erase(locks_.begin() + static_cast<ptrdiff_t>(i));
      SetLastError(refused.kind, refused.text);
      return false;
    }
    if (!Lock(start, length, kind)) return false;
    locks_.push_back({start, length, kind});
    return true;
  }

  bool Unlock(uint64_t start, uint64_t length) override {
    if (!Open()) return false;
    const uint64_t end = start + length;
    std::vector<Held> keep;
    bool ok = true;
    for (const Held& held : locks_) {
      const uint64_t hend = held.start + held.length;
      if (hend <= start || held.start >= end) {
        keep.push_back(held);
        continue;
      }
      if (!UnlockBytes(held.start, held.length)) ok = false;
      // What lay outside the range stays locked.
      if (held.start < start && Lock(held.start, start - held.start, held.kind))
        keep.push_back({held.start, start - held.start, held.kind});
      if (hend > end && Lock(end, hend - end, held.kind)) keep.push_back({end, hend - end, held.kind});
    }
    locks_ = std::move(keep);
    return ok;
  }

  bool OthersHold(uint64_t start, uint64_t length, bool* held) override {
    *held = false;
    if (!Open()) return false;
    // Probe what this file does not hold itself (its own locks would refuse
    // the probe): an exclusive lock taken and given back at once.
    std::vector<std::pair<uint64_t, uint64_t>> gaps{{start, start + length}};
    for (const Held& own : locks_) {
      std::vector<std::pair<uint64_t, uint64_t>> next;
      for (auto [a, b] : gaps) {
        const uint64_t oa = own.start, ob = own.start + own.length;
        if (ob <= a || oa >= b) {
          next.push_back({a, b});
          continue;
        }
        if (a < oa) next.push_back({a, oa});
        if (ob < b) next.push_back({ob, b});
      }
      gaps = std::move(next);
    }
    for (auto [a, b] : gaps) {
      if (Lock(a, b - a, LockKind::Exclusive)) {
        UnlockBytes(a, b - a);
        continue;
      }
      if (LastError().kind == Fail::Busy) {
        *held = true;
        return true;
      }
      if (LastError().kind == Fail::NoLocks) return true;
      return false;
    }
    return true;
  }

  bool TakeAccessOf(const std::string&) override {
    // A new file takes its access from its folder's; there are no mode bits.
    return Open();
  }

  // A handle of its own for the mapping: the same open file, so its sharing
  // keeps holding others off while the mapping lives.
  std::unique_ptr<Mapping> MapReadOnly(const FileInfo& expected) override {
    if (!Open()) return nullptr;
    HANDLE copy = nullptr;
    if (!DuplicateHandle(GetCurrentProcess(), h_, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      Failed();
      return nullptr;
    }
    return MapOpen(copy, expected);
  }

  // Describes an open handle (also used for names by Env::Stat).
  static bool Describe(HANDLE h, bool linkItself, FileInfo* info) {
    BY_HANDLE_FILE_INFORMATION bh;
    if (!GetFileInformationByHandle(h, &bh)) {
      // Devices and pipes have no such information.
      if (GetFileType(h) != FILE_TYPE_DISK) {
        *info = FileInfo{};
        info->kind = Kind::Other;
        return true;
      }
      return Failed();
    }
    info->kind = Kind::Plain;
    if (bh.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) info->kind = Kind::Folder;
    if (GetFileType(h) != FILE_TYPE_DISK) info->kind = Kind::Other;
    if (linkItself && (bh.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) info->kind = Kind::Other;
    info->size = (uint64_t{bh.nFileSizeHigh} << 32) | bh.nFileSizeLow;
    info->links = bh.nNumberOfLinks;
    info->device = bh.dwVolumeSerialNumber;
    info->id = (uint64_t{bh.nFileIndexHigh} << 32) | bh.nFileIndexLow;
    return true;
  }

 private:
  struct Held {
    uint64_t start;
    uint64_t length;
    LockKind kind;
  };

  bool Open() const { return h_ != INVALID_HANDLE_VALUE || Failed(Fail::Other, "The file is closed"); }

  bool Lock(uint64_t start, uint64_t length, LockKind kind) {
    OVERLAPPED ov = At(start);
    DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (kind == LockKind::Exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (LockFileEx(h_, flags, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &ov)) return true;
    return Failed();
  }

  bool UnlockBytes(uint64_t start, uint64_t length) {
    OVERLAPPED ov = At(start);
    return UnlockFileEx(h_, 0, static_cast<DWORD>(length), static_cast<DWORD>(length >> 32), &ov) || Failed();
  }

  HANDLE h_;
  bool append_;
  bool disk_ = true;
  uint64_t pos_ = 0;
  std::vector<Held> locks_;
};

class Win32Mapping final : public Mapping {
 public:
  Win32Mapping(HANDLE file, HANDLE section, const unsigned char* data, size_t size)
      : file_(file), section_(section), data_(data), size_(size) {}
  ~Win32Mapping() override {
    UnmapViewOfFile(data_);
    CloseHandle(section_);
    CloseHandle(file_);
  }
  const unsigned char* Data() const override { return data_; }
  size_t Size() const override { return size_; }
  // A mapped file cannot be shortened on Windows (the system refuses), so
  // the pages never go missing.
  bool Damaged() const override { return false; }
  void Populate() override {
    volatile unsigned char sink = 0;
    for (size_t i = 0; i < size_; i += 4096) sink = sink + data_[i];
    (void)sink;
  }
  void Release(size_t from, size_t to) override {
    constexpr size_t kPage = 4096;
    from = (from + kPage - 1) / kPage * kPage;
    to = std::min(to, size_) / kPage * kPage;
    // Unlocking pages that were never locked takes them out of the working
    // set; they come back from the file on the next access.
    if (from < to) VirtualUnlock(const_cast<unsigned char*>(data_) + from, to - from);
  }

 private:
  HANDLE file_;
  HANDLE section_;
  const unsigned char* data_;
  size_t size_;
};

std::unique_ptr<Mapping> MapOpen(HANDLE h, const FileInfo& expected) {
  FileInfo now;
  if (!Win32File::Describe(h, false, &now)) {
    CloseHandle(h);
    return nullptr;
  }
  // An empty file has nothing to map (the system refuses); it is read.
  if (now.kind != Kind::Plain || now.device != expected.device || now.id != expected.id ||
      now.size != expected.size || now.size == 0 || now.size > std::numeric_limits<size_t>::max()) {
    CloseHandle(h);
    Failed(Fail::Other, "The file is not the one expected");
    return nullptr;
  }
  HANDLE section = CreateFileMappingW(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (!section) {
    Failed();
    CloseHandle(h);
    return nullptr;
  }
  void* view = MapViewOfFile(section, FILE_MAP_READ, 0, 0, 0);
  if (!view) {
    Failed();
    CloseHandle(section);
    CloseHandle(h);
    return nullptr;
  }
  return std::make_unique<Win32Mapping>(h, section, static_cast<const unsigned char*>(view), static_cast<size_t>(now.size));
}

std::atomic<void (*)()> g_onStop{nullptr};

BOOL WINAPI OnConsoleEvent(DWORD event) {
  void (*stop)() = g_onStop.load();
  if (!stop) return FALSE;
  stop();
  // A closing console, logoff or shutdown ends the process once the handler
  // returns; give the program the time Windows allows to finish what it does.
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) ::Sleep(4000);
  return TRUE;
}

class Win32Env final : public Env {
 public:
  std::unique_ptr<File> Open(const std::string& path, const OpenRequest& how) override {
    const std::wstring name = Wide(path);
    DWORD access = 0;
    if (how.access != Access::Write) access |= GENERIC_READ;
    if (how.access != Access::Read) {
      // Appending without the right to write elsewhere: the system puts every
      // write at the end, also when other processes append.
      access |= how.append ? (FILE_APPEND_DATA | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE) : GENERIC_WRITE;
    }
    // Held without sharing, a file still lets its name be deleted or replaced
    // (as on POSIX systems): the holder itself removes or replaces it while
    // it holds it, and nobody else can read or write it meanwhile.
    const DWORD share = how.exclusive ? FILE_SHARE_DELETE : (FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
    DWORD disposition = OPEN_EXISTING;
    switch (how.disposition) {
      case Disposition::OpenExisting: disposition = OPEN_EXISTING; break;
      case Disposition::CreateOrOpen: disposition = OPEN_ALWAYS; break;
      case Disposition::CreateOrTruncate: disposition = CREATE_ALWAYS; break;
      case Disposition::CreateNew: disposition = CREATE_NEW; break;
    }
    DWORD flags = FILE_ATTRIBUTE_NORMAL;
    if (how.noFollow) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    HANDLE h = CreateFileW(name.c_str(), access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      // A folder refuses a file open with "access denied".
      const DWORD attrs = GetFileAttributesW(name.c_str());
      if (e == ERROR_ACCESS_DENIED && attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY))
        Failed(Fail::NotPlain, "Is a folder");
      else
        Failed(e);
      return nullptr;
    }
    auto file = std::make_unique<Win32File>(h, how.append);
    if (how.plainOnly || how.exclusive || how.noFollow) {
      FileInfo info;
      bool reparse = false;
      if (how.noFollow) {
        BY_HANDLE_FILE_INFORMATION bh;
        reparse = GetFileInformationByHandle(h, &bh) && (bh.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
      }
      if (reparse) {
        file.reset();
        Failed(Fail::NotPlain, "Is a symbolic link");
        return nullptr;
      }
      if ((how.plainOnly || how.exclusive) && (!file->Info(&info) || info.kind != Kind::Plain)) {
        file.reset();
        Failed(Fail::NotPlain, "Not a plain file");
        return nullptr;
      }
    }
    return file;
  }

  std::unique_ptr<Mapping> MapReadOnly(const std::string& path, const FileInfo& expected) override {
    // Shares reading only: while mapped, nobody opens the file to write (and
    // a writer that has it open already keeps the mapping from being made).
    HANDLE h = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      Failed();
      return nullptr;
    }
    return MapOpen(h, expected);
  }

  bool Stat(const std::string& path, bool followLinks, FileInfo* info) override {
    const std::wstring name = Wide(path);
    // Asking for attributes only: this open is not kept out by a file held
    // without sharing.
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE h = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, flags, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
      bool ok = Win32File::Describe(h, !followLinks, info);
      CloseHandle(h);
      return ok;
    }
    const DWORD e = GetLastError();
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(name.c_str(), GetFileExInfoStandard, &data)) return Failed(e);
    // Reachable by name only (held by someone): no identity to give.
    *info = FileInfo{};
    info->kind = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? Kind::Folder : Kind::Plain;
    info->size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
    info->links = 1;
    return true;
  }

  bool RenameReplace(const std::string& from, const std::string& to) override {
    const std::wstring source = Wide(from), target = Wide(to);
    // Windows refuses to replace a file that is open, or deleted while still
    // open, until that open closes. Another process reading the file for a
    // moment (the host's engine or ours) must not fail the replace: it is
    // tried again for a short while.
    for (int attempt = 0;; ++attempt) {
      if (MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
      const DWORD e = GetLastError();
      if ((e != ERROR_ACCESS_DENIED && e != ERROR_SHARING_VIOLATION) || attempt == kReplaceTries) return Failed(e);
      ::Sleep(kReplacePauseMs);
    }
  }

  bool Remove(const std::string& path) override {
    const std::wstring name = Wide(path);
    if (DeleteFileW(name.c_str())) return true;
    const DWORD e = GetLastError();
    const DWORD attrs = GetFileAttributesW(name.c_str());
    if (e == ERROR_ACCESS_DENIED && attrs != INVALID_FILE_ATTRIBUTES) {
      // Removing names a file: a folder stays, as unlink leaves it.
      if (attrs & FILE_ATTRIBUTE_DIRECTORY) return Failed(Fail::NotPlain, "Is a folder");
      // The read-only attribute guards against users, not against this
      // program's own replacing of its files.
      if ((attrs & FILE_ATTRIBUTE_READONLY) && SetFileAttributesW(name.c_str(), attrs & ~FILE_ATTRIBUTE_READONLY)) {
        if (DeleteFileW(name.c_str())) return true;
        const DWORD again = GetLastError();
        SetFileAttributesW(name.c_str(), attrs);
        return Failed(again);
      }
    }
    return Failed(e);
  }

  bool SyncFolder(const std::string&) override {
    // Windows has no folder flush; renames are written through.
    return true;
  }

  bool ListFolder(const std::string& folder, std::vector<std::string>* names) override {
    names->clear();
    WIN32_FIND_DATAW fd;
    HANDLE find = FindFirstFileW(Wide(JoinPath(folder, "*")).c_str(), &fd);
    if (find == INVALID_HANDLE_VALUE) {
      const DWORD e = GetLastError();
      if (e == ERROR_FILE_NOT_FOUND) return true;  // an empty drive root
      return Failed(e);
    }
    do {
      if (std::wcscmp(fd.cFileName, L".") == 0 || std::wcscmp(fd.cFileName, L"..") == 0) continue;
      names->push_back(Narrow(fd.cFileName, std::wcslen(fd.cFileName)));
    } while (FindNextFileW(find, &fd));
    const DWORD e = GetLastError();
    FindClose(find);
    if (e != ERROR_NO_MORE_FILES) {
      names->clear();
      return Failed(e);
    }
    return true;
  }

  std::string Resolve(const std::string& path) override {
    const std::wstring name = Wide(path);
    HANDLE h = CreateFileW(name.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    std::wstring full;
    if (h != INVALID_HANDLE_VALUE) {
      full = FinalName(h);
      CloseHandle(h);
    } else if (GetFileAttributesW(name.c_str()) == INVALID_FILE_ATTRIBUTES) {
      Failed();
      return "";
    }
    if (full.empty()) {
      DWORD n = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
      if (n == 0) {
        Failed();
        return "";
      }
      full.resize(n);
      n = GetFullPathNameW(name.c_str(), n, full.data(), nullptr);
      full.resize(n);
    }
    return Narrow(full);
  }

  std::string ExeFolder() override {
    std::wstring buf(MAX_PATH, L'\0');
    for (;;) {
      DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
      if (n == 0) {
        Failed();
        return "";
      }
      if (n < buf.size()) {
        buf.resize(n);
        break;
      }
      buf.resize(buf.size() * 2);
    }
    const size_t cut = buf.find_last_of(L"\\/");
    if (cut == std::wstring::npos) return ".";
    // Keep a drive root's separator ("C:\").
    return Narrow(buf.substr(0, cut == 2 && buf[1] == L':' ? cut + 1 : cut));
  }

  std::string DefaultPortDevice(int n) override { return "\\\\.\\LPT" + std::to_string(n); }

  std::chrono::system_clock::time_point Now() override { return std::chrono::system_clock::now(); }
  std::chrono::steady_clock::time_point Monotonic() override { return std::chrono::steady_clock::now(); }
  void Sleep(std::chrono::milliseconds duration) override { std::this_thread::sleep_for(duration); }

  bool LocalTime(std::time_t t, LocalTm* out) override {
    if (localtime_s(out, &t) != 0) return Failed(Fail::Other, "The time cannot be shown in the local zone");
    return true;
  }

  void InstallStopHandler(void (*onStop)()) override {
    g_onStop.store(onStop);
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
  }

 private:
  // The handle's final name without the "\\?\" prefix ("\\?\UNC\s\x" is "\\s\x").
  static std::wstring FinalName(HANDLE h) {
    std::wstring buf(MAX_PATH, L'\0');
    DWORD n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    if (n >= buf.size()) {
      buf.resize(n + 1);
      n = GetFinalPathNameByHandleW(h, buf.data(), static_cast<DWORD>(buf.size()), FILE_NAME_NORMALIZED);
    }
    if (n == 0 || n >= buf.size()) return {};
    buf.resize(n);
    if (buf.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + buf.substr(7);
    if (buf.rfind(L"\\\\?\\", 0) == 0) return buf.substr(4);
    return buf;
  }
};

}  // namespace

Env& RealOs() {
  static Win32Env env;
  return env;
}

}  // namespace plat::os

namespace plat::win32 {

namespace {
constexpr UINT kCodePage = 1252;
}  // namespace

std::wstring Wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(kCodePage, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(kCodePage, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

std::string Narrow(const wchar_t* w, size_t len) {
  if (len == 0) return {};
  int n = WideCharToMultiByte(kCodePage, 0, w, static_cast<int>(len), nullptr, 0, nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(kCodePage, 0, w, static_cast<int>(len), s.data(), n, nullptr, nullptr);
  return s;
}

std::string Narrow(const std::wstring& w) { return Narrow(w.data(), w.size()); }

}  // namespace plat::win32
