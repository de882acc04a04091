#pragma once
// Temporary folders and whole-file helpers for the engine tests.
#ifndef _WIN32
#include <fcntl.h>
#include <linux/capability.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace testfiles {

using TempDir = vvtest::TempDir;

inline void Write(const std::string& file, const std::string& bytes) { vvtest::WriteFile(file, bytes); }
inline std::string Read(const std::string& file) { return vvtest::ReadFile(file); }
using vvtest::Exists;
// Names in a folder, sorted.
inline std::vector<std::string> Names(const std::string& folder) { return vvtest::ListDir(folder); }

// What a program wrote to its standard output or error, taken from the file
// it was redirected to. On Windows those streams are in text mode, so every
// line feed arrives as CR LF: that is checked and undone, and expectations
// name the line feed alone on both systems.
inline std::string ConsoleText(const std::string& raw) {
#ifdef _WIN32
  std::string out;
  for (const char c : raw) {
    if (c == '\n') {
      if (out.empty() || out.back() != '\r') {
        ADD_FAILURE() << "a line feed not written as CR LF in: " << raw;
      } else {
        out.pop_back();
      }
    }
    out += c;
  }
  return out;
#else
  return raw;
#endif
}

#ifdef _WIN32
// Folder permissions that keep new files out are not enforced under Wine, where
// the Windows tests run: cases that need such a folder are left out there.
inline constexpr bool kCanLockFolders = false;
class LockedFolder {
 public:
  explicit LockedFolder(const std::string&) {}
  bool TakesNewFiles() const { return true; }
};
#else
inline constexpr bool kCanLockFolders = true;

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

#endif

}  // namespace testfiles
