#pragma once
// Temporary folders and whole-file helpers for the engine tests.
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace testfiles {

struct TempDir {
  std::filesystem::path path;
  TempDir() {
    char tmpl[] = "/tmp/vv_engine_XXXXXX";
    path = mkdtemp(tmpl);
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

inline void Write(const std::string& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

inline std::string Read(const std::string& file) {
  std::ifstream in(file, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline bool Exists(const std::string& file) { return std::filesystem::exists(file); }

// Names in a folder, sorted.
inline std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> out;
  for (const auto& e : std::filesystem::directory_iterator(folder)) out.push_back(e.path().filename().string());
  std::sort(out.begin(), out.end());
  return out;
}

// A folder that takes no new file (and lets none be removed) while its files
// stay writable, also for root: write permission is taken off the folder and,
// for this thread, the right to override permissions is dropped from the
// effective capabilities (kept permitted, so it comes back at the end).
class LockedFolder {
 public:
  explicit LockedFolder(const std::string& folder) : folder_(folder) {
    chmod(folder_.c_str(), 0555);
    if (syscall(SYS_capget, &hdr_, saved_) != 0) return;
    __user_cap_data_struct less[2] = {saved_[0], saved_[1]};
    for (int c : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER}) less[c / 32].effective &= ~(1u << (c % 32));
    dropped_ = syscall(SYS_capset, &hdr_, less) == 0;
  }
  ~LockedFolder() {
    if (dropped_) syscall(SYS_capset, &hdr_, saved_);
    chmod(folder_.c_str(), 0755);
  }
  // Whether a new file can still be made there (then the lock did not take).
  bool TakesNewFiles() const {
    const std::string probe = folder_ + "/probe";
    const int fd = open(probe.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    close(fd);
    unlink(probe.c_str());
    return true;
  }
  LockedFolder(const LockedFolder&) = delete;
  LockedFolder& operator=(const LockedFolder&) = delete;

 private:
  std::string folder_;
  __user_cap_header_struct hdr_{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct saved_[2] = {};
  bool dropped_ = false;
};

}  // namespace testfiles
