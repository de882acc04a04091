// The layering rules, checked on the sources: each folder includes only its
// own layer and those below it, and only the OS seam's implementation files
// (and printing's) include an OS header, so a port to another OS touches
// those files alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Files that may include OS headers: the seam and the printing systems.
const std::set<std::string> kOsFiles = {
    "platform/os_posix.cpp",
    "platform/os_win32.cpp",
    "platform/cups_printing.cpp",
    "platform/printing_win32.cpp",
    "platform/win32.h",
};

// Still to move onto the seam: empty this list as those files move (an entry
// ending in "/" stands for a whole folder).
const std::set<std::string> kStillToMove = {
};

bool StillToMove(const std::string& file) {
  return std::any_of(kStillToMove.begin(), kStillToMove.end(), [&](const std::string& m) {
    return m.back() == '/' ? file.rfind(m, 0) == 0 : file == m;
  });
}

// Headers only the OS provides (angle-bracket includes; a prefix ending in
// "/" stands for a whole folder).
const std::vector<std::string> kOsHeaders = {
    "unistd.h", "fcntl.h",  "sys/",      "signal.h",  "dirent.h",  "poll.h",    "termios.h", "pthread.h",
    "pwd.h",    "grp.h",    "dlfcn.h",   "spawn.h",   "sched.h",   "netinet/",  "arpa/",     "windows.h",
    "winbase.h", "winioctl.h", "io.h", "direct.h", "shlobj.h", "winspool.h", "cups/",
};

// The layers each folder may include, itself first.
const std::vector<std::pair<std::string, std::vector<std::string>>> kLayers = {
    {"platform", {"platform"}},
    {"setup", {"setup", "platform"}},
    {"geo", {"geo", "setup", "platform"}},
    {"engine", {"engine", "geo", "setup", "platform"}},
    {"ui", {"ui", "engine", "geo", "setup", "platform"}},
    {"app", {"app", "ui", "engine", "geo", "setup", "platform"}},
    {"cli", {"cli", "engine", "geo", "setup", "platform"}},
    {"tools", {"tools", "engine", "geo", "setup", "platform"}},
};

struct Include {
  bool angle;
  std::string name;
};

std::vector<Include> IncludesOf(const fs::path& file) {
  static const std::regex re(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  std::ifstream in(file);
  std::vector<Include> out;
  std::smatch m;
  for (std::string line; std::getline(in, line);)
    if (std::regex_search(line, m, re)) out.push_back({m[1] == "<", m[2]});
  return out;
}

bool IsOsHeader(const std::string& name) {
  return std::any_of(kOsHeaders.begin(), kOsHeaders.end(), [&](const std::string& h) {
    return h.back() == '/' ? name.rfind(h, 0) == 0 : name == h;
  });
}

TEST(Layering, SourcesKeepTheirLayersAndTheSeam) {
  const fs::path root = VV_SOURCE_DIR;
  int files = 0;
  std::set<std::string> stillToMoveSeen;
  for (const auto& [folder, allowed] : kLayers) {
    ASSERT_TRUE(fs::is_directory(root / folder)) << folder;
    for (const auto& e : fs::recursive_directory_iterator(root / folder)) {
      const std::string ext = e.path().extension().string();
      if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
      const std::string rel = fs::relative(e.path(), root).generic_string();
      ++files;
      for (const Include& inc : IncludesOf(e.path())) {
        if (inc.angle && IsOsHeader(inc.name) && !kOsFiles.count(rel)) {
          if (StillToMove(rel)) {
            stillToMoveSeen.insert(kStillToMove.count(rel) ? rel : rel.substr(0, rel.rfind('/') + 1));
          } else {
            ADD_FAILURE() << rel << " includes the OS header <" << inc.name << ">: go through platform/os.h";
          }
        }
        const size_t slash = inc.name.find('/');
        if (inc.angle || slash == std::string::npos) continue;
        const std::string layer = inc.name.substr(0, slash);
        const bool ours = std::any_of(kLayers.begin(), kLayers.end(), [&](const auto& l) { return l.first == layer; });
        if (ours && std::find(allowed.begin(), allowed.end(), layer) == allowed.end())
          ADD_FAILURE() << rel << " includes " << inc.name << ": " << folder << " may not depend on " << layer;
      }
    }
  }
  EXPECT_GT(files, 50);
  // What has moved onto the seam leaves the list, so that it cannot slip back.
  for (const std::string& f : kStillToMove)
    EXPECT_TRUE(stillToMoveSeen.count(f)) << f << " is on the seam now: take it off the still-to-move list";
}

}  // namespace
