// Files and paths, on the OS seam.
#include "platform/file.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <mutex>
#include <random>
#include <vector>

#include "platform/os.h"

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

// [Drives] maps drive letters where names have none (on Windows it is unused).
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
  if constexpr (os::kWindowsNames) {
    // The names are the system's own: only the separator is made native.
    std::string out = path;
    std::replace(out.begin(), out.end(), '/', '\\');
    return out;
  }
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
  const std::string p = NativePath(path);
  os::FileInfo info;
  return !p.empty() && os::Os().Stat(p, true, &info);
}

bool IsRegularFile(const std::string& path) {
  const std::string p = NativePath(path);
  os::FileInfo info;
  return !p.empty() && os::Os().Stat(p, false, &info) && info.kind == os::Kind::Plain;
}

bool DirectoryExists(const std::string& path) {
  const std::string p = NativePath(path);
  os::FileInfo info;
  return !p.empty() && os::Os().Stat(p, true, &info) && info.kind == os::Kind::Folder;
}

namespace {

std::unique_ptr<os::File> OpenNative(const std::string& path, os::Access access, os::Disposition disposition,
                                     bool exclusive = false) {
  const std::string p = NativePath(path);
  if (p.empty()) {
    os::SetLastError(os::Fail::NotFound, "The drive of " + path + " is not set up");
    return nullptr;
  }
  os::OpenRequest how;
  how.access = access;
  how.disposition = disposition;
  how.exclusive = exclusive;
  return os::Os().Open(p, how);
}

}  // namespace

bool CreateEmptyFile(const std::string& path) {
  // Opening never waits, so a FIFO without a reader cannot hang us.
  auto f = OpenNative(path, os::Access::Write, os::Disposition::CreateOrOpen);
  return f && f->Close();
}

bool DeleteFile(const std::string& path) {
  const std::string p = NativePath(path);
  return !p.empty() && os::Os().Remove(p);
}

bool RenameReplace(const std::string& from, const std::string& to) {
  const std::string f = NativePath(from), t = NativePath(to);
  return !f.empty() && !t.empty() && os::Os().RenameReplace(f, t);
}

std::string ResolvedPath(const std::string& path) {
  const std::string p = NativePath(path);
  return p.empty() ? "" : os::Os().Resolve(p);
}

unsigned long LinkCount(const std::string& path) {
  const std::string p = NativePath(path);
  os::FileInfo info;
  return !p.empty() && os::Os().Stat(p, true, &info) ? static_cast<unsigned long>(info.links) : 0;
}

bool SyncFolderOf(const std::string& path) { return os::Os().SyncFolder(os::FolderOf(NativePath(path))); }

std::string ExeFolder() { return os::Os().ExeFolder(); }

namespace {

// A seam file with read and write buffers: never one system call per byte.
class BufferedFile final : public File {
 public:
  BufferedFile(std::unique_ptr<os::File> file, bool canRead, bool canWrite)
      : file_(std::move(file)), canRead_(canRead), canWrite_(canWrite) {}
  ~BufferedFile() override { Close(); }

  size_t Read(void* buf, size_t n) override {
    if (!file_ || !canRead_ || !FlushWrites()) return 0;
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
      size_t got = 0;
      if (n - done >= sizeof rbuf_) {
        if (!ReadSome(out + done, n - done, &got)) break;
        done += got;
      } else {
        if (!ReadSome(rbuf_, sizeof rbuf_, &got)) break;
        rlen_ = got;
      }
    }
    return done;
  }

  bool Write(const void* buf, size_t n) override {
    if (!file_ || !canWrite_ || !DropReadAhead()) return false;
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
    if (!file_ || !canWrite_ || !DropReadAhead() || !FlushWrites()) return false;
    // In batches the size of one system call's, without allocating.
    os::Piece batch[1024];
    while (count > 0) {
      const size_t n = std::min(count, std::size(batch));
      uint64_t total = 0;
      for (size_t i = 0; i < n; ++i) {
        batch[i] = {pieces[i].data, pieces[i].size};
        total += pieces[i].size;
      }
      if (!file_->WriteGather(batch, n)) return Failed();
      pos_ += total;
      pieces += n;
      count -= n;
    }
    return true;
  }

  bool Seek(uint64_t offset) override {
    if (!file_ || !FlushWrites()) return false;
    rpos_ = rlen_ = 0;
    if (!file_->Seek(offset)) return false;
    pos_ = offset;
    return true;
  }

  int64_t Size() override {
    uint64_t size = 0;
    if (!file_ || !FlushWrites() || !file_->Size(&size)) return -1;
    return static_cast<int64_t>(size);
  }

  bool Truncate(uint64_t size) override {
    if (!file_ || !canWrite_ || !FlushWrites()) return false;
    return file_->Truncate(size);
  }

  bool Flush() override { return file_ && FlushWrites(); }

  bool Sync() override { return Flush() && file_->Sync(); }

  void StartWriteBack() override {
    if (!Flush() || pos_ <= hinted_) return;
    file_->StartWriteBack(hinted_, pos_ - hinted_);
    hinted_ = pos_;
  }

  bool Close() override {
    if (!file_) return false;
    bool ok = FlushWrites() && !failed_;
    if (!file_->Close()) ok = false;
    file_.reset();
    return ok;
  }

 private:
  bool Failed() {
    failed_ = true;
    return false;
  }

  // false at the end (nothing read) or on failure.
  bool ReadSome(char* p, size_t n, size_t* got) {
    if (!file_->Read(p, n, got) || *got == 0) return false;
    pos_ += *got;
    return true;
  }

  bool WriteAll(const char* p, size_t n) {
    if (!file_->Write(p, n)) return Failed();
    pos_ += n;
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
      const uint64_t back = rlen_ - rpos_;
      if (!file_->Seek(pos_ - back)) return false;
      pos_ -= back;
    }
    rpos_ = rlen_ = 0;
    return true;
  }

  std::unique_ptr<os::File> file_;
  bool canRead_, canWrite_;
  bool failed_ = false;
  uint64_t pos_ = 0;  // the OS position (where the next system read or write goes)
  uint64_t hinted_ = 0;  // written up to here was handed to the disk by StartWriteBack
  char rbuf_[65536];
  size_t rpos_ = 0, rlen_ = 0;
  char wbuf_[65536];
  size_t wlen_ = 0;
};

os::Access AccessOf(OpenMode mode) {
  switch (mode) {
    case OpenMode::Read: return os::Access::Read;
    case OpenMode::ReadWrite: return os::Access::ReadWrite;
    case OpenMode::WriteOnly: return os::Access::Write;
  }
  return os::Access::Read;
}

std::unique_ptr<File> Wrap(std::unique_ptr<os::File> f, OpenMode mode) {
  if (!f) return nullptr;
  return std::make_unique<BufferedFile>(std::move(f), mode != OpenMode::WriteOnly, mode != OpenMode::Read);
}

// The characters of a temporary name's random part.
std::string RandomSuffix() {
  static constexpr char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 rng{std::random_device{}()};
  std::string s(6, 'X');
  for (char& c : s) c = kChars[rng() % (sizeof kChars - 1)];
  return s;
}

}  // namespace

std::unique_ptr<File> OpenFile(const std::string& path, OpenMode mode) {
  return Wrap(OpenNative(path, AccessOf(mode), os::Disposition::OpenExisting), mode);
}

// How "without sharing" is made on each OS, and its limits, is the seam's.
std::unique_ptr<File> OpenExclusive(const std::string& path, OpenMode mode) {
  return Wrap(OpenNative(path, AccessOf(mode), os::Disposition::OpenExisting, true), mode);
}

std::unique_ptr<File> CreateFile(const std::string& path) {
  return Wrap(OpenNative(path, os::Access::Write, os::Disposition::CreateOrTruncate), OpenMode::WriteOnly);
}

std::unique_ptr<File> CreateBeside(const std::string& target, std::string* name, bool* folderRefuses) {
  *folderRefuses = false;
  const std::string t = NativePath(target);
  os::FileInfo info;
  if (t.empty() || !os::Os().Stat(t, true, &info)) return nullptr;
  // A long name is shortened so that the suffix still fits in a name.
  const size_t sep = t.find_last_of(os::kWindowsNames ? "\\/" : "/");
  const size_t base = sep == std::string::npos ? 0 : sep + 1;
  const std::string stem = t.substr(0, base + std::min<size_t>(t.size() - base, 200)) + ".vvtmp-";
  os::OpenRequest how;
  how.access = os::Access::Write;
  how.disposition = os::Disposition::CreateNew;  // never an existing file
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string candidate = stem + RandomSuffix();
    auto f = os::Os().Open(candidate, how);
    if (!f) {
      const os::Fail kind = os::LastError().kind;
      if (kind == os::Fail::Exists) continue;  // a clash: another name
      *folderRefuses = kind == os::Fail::Denied || kind == os::Fail::ReadOnly || kind == os::Fail::NoSpace;
      return nullptr;
    }
    if (!f->TakeAccessOf(t)) {
      f.reset();
      os::Os().Remove(candidate);
      return nullptr;
    }
    *name = candidate;
    return Wrap(std::move(f), OpenMode::WriteOnly);
  }
  return nullptr;
}

std::unique_ptr<File> OpenAppend(const std::string& path) {
  const std::string p = NativePath(path);
  if (p.empty()) return nullptr;
  os::OpenRequest how;
  how.access = os::Access::Write;
  how.disposition = os::Disposition::CreateOrOpen;
  how.append = true;
  how.plainOnly = true;
  return Wrap(os::Os().Open(p, how), OpenMode::WriteOnly);
}

}  // namespace plat
