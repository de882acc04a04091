// The parts of the seam that are the same on every OS.
#include "platform/os.h"

#include <atomic>

namespace plat::os {

namespace {
thread_local Error t_lastError;
std::atomic<Env*> g_installed{nullptr};
}  // namespace

const Error& LastError() { return t_lastError; }

void SetLastError(Fail kind, std::string text) {
  t_lastError.kind = kind;
  t_lastError.text = std::move(text);
}

Env& Os() {
  Env* env = g_installed.load(std::memory_order_acquire);
  return env ? *env : RealOs();
}

void InstallOs(Env* env) { g_installed.store(env, std::memory_order_release); }

std::string JoinPath(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  const char last = folder.back();
  if (last == kSeparator || last == '/') return folder + name;
  return folder + kSeparator + name;
}

std::string FolderOf(const std::string& path) {
  const size_t i = kWindowsNames ? path.find_last_of("\\/") : path.rfind('/');
  if (i == std::string::npos) {
    if (kWindowsNames && path.size() >= 2 && path[1] == ':') return path.substr(0, 2) + ".";
    return ".";
  }
  // Keep a root: "/x" gives "/", "C:\x" gives "C:\".
  if (i == 0 || (kWindowsNames && i == 2 && path[1] == ':')) return path.substr(0, i + 1);
  return path.substr(0, i);
}

}  // namespace plat::os
