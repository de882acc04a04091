#include "tests/support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <system_error>

namespace fs = std::filesystem;

namespace vvtest {

TempDir::TempDir() {
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) throw std::runtime_error("no temporary folder: " + ec.message());
  // Several test programs run at once: a random name, and create_directory
  // telling whether this process made it, keep them apart.
  static std::atomic<unsigned> counter{0};
  std::mt19937_64 rng(std::random_device{}() ^
                      static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^ ++counter);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path p = base / ("vv_test_" + std::to_string(rng() % 1000000000000ULL));
    if (fs::create_directory(p, ec)) {
      path_ = p.string();
      return;
    }
    if (ec) throw std::runtime_error("cannot make a folder in " + base.string() + ": " + ec.message());
  }
  throw std::runtime_error("cannot find a free folder name in " + base.string());
}

TempDir::~TempDir() { Remove(path_); }

std::string TempDir::operator/(const std::string& name) const { return (fs::path(path_) / name).string(); }

std::string TempDir::Sub(const std::string& name) const {
  const std::string p = *this / name;
  std::error_code ec;
  fs::create_directories(p, ec);
  if (ec) throw std::runtime_error("cannot make " + p + ": " + ec.message());
  return p;
}

void TempDir::Remove(const std::string& path) {
  if (path.empty()) return;
  std::error_code ec;
  if (fs::remove_all(path, ec) != static_cast<std::uintmax_t>(-1) && !ec) return;
  // A folder locked by a test, or (on Windows, where read-only files cannot
  // be removed) a read-only file: give the owner its rights back and try again.
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
  for (auto it = fs::recursive_directory_iterator(path, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    std::error_code each;
    if (it->is_symlink(each)) continue;
    fs::permissions(it->path(), it->is_directory(each) ? fs::perms::owner_all : fs::perms::owner_write,
                    fs::perm_options::add, each);
  }
  fs::remove_all(path, ec);
}

}  // namespace vvtest
