#include "tests/support/files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace vvtest {

namespace {

bool ReadInto(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), {});
  return !in.bad();
}

}  // namespace

std::string ReadFile(const std::string& path) {
  std::string out;
  if (!ReadInto(path, out)) out.clear();
  return out;
}

bool WriteFile(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  return !out.fail();
}

std::string ReadFileOrThrow(const std::string& path) {
  std::string out;
  if (!ReadInto(path, out)) throw std::runtime_error("cannot read " + path);
  return out;
}

void WriteFileOrThrow(const std::string& path, std::string_view bytes) {
  if (!WriteFile(path, bytes)) throw std::runtime_error("cannot write " + path);
}

bool Exists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(path, ec));
}

bool CopyFile(const std::string& from, const std::string& to) {
  std::error_code ec;
#ifdef _WIN32
  // The Windows runtime takes any two files for the same one (they carry no
  // inode number) and refuses to copy over: the old file goes first.
  if (fs::is_regular_file(to, ec)) {
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add, ec);
    fs::remove(to, ec);
  }
#endif
  fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
  if (ec) return false;
  fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, fs::perm_options::add, ec);
  return !ec;
}

std::vector<std::string> ListDir(const std::string& folder, const std::string& suffix) {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto it = fs::directory_iterator(folder, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (name.ends_with(suffix)) out.push_back(std::move(name));
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace vvtest
