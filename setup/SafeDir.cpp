#include <string>

#include "setup/TableAccess.h"

namespace {
bool IsSep(char c) { return c == '\\' || c == '/'; }
}  // namespace

std::string SafeDir(const std::string& folder) {
  std::string s = folder;
  bool driveRoot = s.size() >= 3 && s[1] == ':' && IsSep(s[2]) &&
                   ((s[0] >= 'A' && s[0] <= 'Z') || (s[0] >= 'a' && s[0] <= 'z'));
  size_t keep = driveRoot ? 3 : 1;  // "C:\" or a lone "\" / "/"
  while (s.size() > keep && IsSep(s.back())) s.pop_back();
  return s;
}
