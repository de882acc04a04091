#include "platform/port.h"

#include <cctype>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/ini.h"
#include "platform/os.h"

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

class FilePort final : public Port {
 public:
  explicit FilePort(std::unique_ptr<os::File> file) : file_(std::move(file)) {}
  ~FilePort() override { Close(); }

  bool Write(const void* buf, size_t n) override {
    if (!file_ || failed_) return false;
    const char* p = static_cast<const char*>(buf);
    // Small writes gather in the buffer; the device sees large ones.
    if (buffer_.size() + n > kBuffer && !Drain()) return false;
    if (n >= kBuffer) return WriteAll(p, n);
    buffer_.insert(buffer_.end(), p, p + n);
    return true;
  }

  bool Close() override {
    if (!file_) return false;
    bool ok = !failed_ && Drain();
    if (!file_->Close()) ok = false;
    file_.reset();
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
    if (n > 0 && !file_->Write(p, n)) failed_ = true;
    return !failed_;
  }

  std::unique_ptr<os::File> file_;
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
  return os::Os().DefaultPortDevice(n);
}

std::unique_ptr<Port> OpenPort(const std::string& name, const std::string& settingsFile) {
  std::string path = PortDevicePath(name, settingsFile);
  if (path.empty()) return nullptr;
  // Opening never waits: a FIFO without a reader fails instead of hanging the
  // pass. Appending: a file port collects every document.
  os::OpenRequest how;
  how.access = os::Access::Write;
  how.append = true;
  auto file = os::Os().Open(path, how);
  if (!file) return nullptr;
  return std::make_unique<FilePort>(std::move(file));
}

}  // namespace plat
