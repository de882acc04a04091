#include "platform/port.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/ini.h"

namespace plat {
namespace {

// "LPTn" -> n, or -1.
int LptNumber(const std::string& name) {
  if (name.size() < 4) return -1;
  for (int i = 0; i < 3; ++i)
    if (std::toupper(static_cast<unsigned char>(name[static_cast<size_t>(i)])) != "LPT"[i]) return -1;
  long n = 0;
  for (size_t i = 3; i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i]))) return -1;
    n = n * 10 + (name[i] - '0');
    if (n > 1000000) return -1;
  }
  return static_cast<int>(n);
}

class FdPort final : public Port {
 public:
  explicit FdPort(int fd) : fd_(fd) {}
  ~FdPort() override { Close(); }

  bool Write(const void* buf, size_t n) override {
    if (fd_ < 0 || failed_) return false;
    const char* p = static_cast<const char*>(buf);
    // Small writes gather in the buffer; the device sees large ones.
    if (buffer_.size() + n > kBuffer && !Drain()) return false;
    if (n >= kBuffer) return WriteAll(p, n);
    buffer_.insert(buffer_.end(), p, p + n);
    return true;
  }

  bool Close() override {
    if (fd_ < 0) return false;
    bool ok = !failed_ && Drain();
    if (close(fd_) != 0) ok = false;
    fd_ = -1;
    return ok;
  }

 private:
  static constexpr size_t kBuffer = 64 * 1024;

  bool Drain() {
    bool ok = WriteAll(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

  bool WriteAll(const char* p, size_t n) {
    while (n > 0) {
      ssize_t w = write(fd_, p, n);
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

  int fd_;
  bool failed_ = false;
  std::vector<char> buffer_;
};

}  // namespace

std::string PortDevicePath(const std::string& name, const std::string& settingsFile) {
  if (name.empty()) return "";
  std::string configured;
  if (!settingsFile.empty()) configured = IniReadString(settingsFile, "Ports", name, "");
  if (!configured.empty()) return NativePath(configured);
  int n = LptNumber(name);
  if (n < 1) return "";
  return "/dev/lp" + std::to_string(n - 1);
}

std::unique_ptr<Port> OpenPort(const std::string& name, const std::string& settingsFile) {
  std::string path = PortDevicePath(name, settingsFile);
  if (path.empty()) return nullptr;
  // O_NONBLOCK only for the open itself: a FIFO without a reader fails (ENXIO)
  // instead of hanging the pass. O_APPEND: a file port collects every document.
  int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    close(fd);
    return nullptr;
  }
  return std::make_unique<FdPort>(fd);
}

}  // namespace plat
