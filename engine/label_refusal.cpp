#include "engine/label_refusal.h"

#include <array>
#include <string_view>

#include "platform/file.h"
#include "platform/os.h"
#include "setup/uSetup.h"

namespace {

struct Kind {
  std::array<std::string_view, 8> extensions;
  const char* what;
};

const Kind kKinds[] = {
    {{"dbf", "cdx", "fpt", "dbt", "idx", "ndx", "ntx", "mdx"}, "a table, index or memo file"},
    {{"ini", "qry"}, "a settings or sort file"},
    {{"exe", "dll", "com", "bat"}, "a program"},
};

// Lower-case extension of the last name in the path. Trailing dots and
// blanks are dropped first: Windows drops them too, so "Shipment.dbf." is
// the table there.
std::string Extension(const std::string& name) {
  size_t end = name.find_last_not_of(". ");
  if (end == std::string::npos) return "";
  const size_t sep = name.find_last_of("\\/", end);
  const size_t dot = name.rfind('.', end);
  if (dot == std::string::npos || (sep != std::string::npos && dot < sep)) return "";
  std::string ext = name.substr(dot + 1, end - dot);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext;
}

// Both paths resolved, so neither ".." nor a link leads out of a folder.
bool Inside(const std::string& resolvedDoc, const std::string& folder) {
  const std::string dir = plat::ResolvedPath(folder);
  return !dir.empty() && PathInsideFolder(resolvedDoc, dir, plat::os::kWindowsNames);
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// A Windows name's character as the file system compares it: one separator,
// letters of Windows-1252 in upper case.
unsigned char WindowsFold(char ch) {
  const auto c = static_cast<unsigned char>(ch);
  if (c == '/') return '\\';
  if (c >= 'a' && c <= 'z') return static_cast<unsigned char>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<unsigned char>(c - 0x20);  // à..þ but ÷
  if (c == 0x9A || c == 0x9C || c == 0x9E) return static_cast<unsigned char>(c - 0x10);  // š œ ž
  if (c == 0xFF) return 0x9F;                                                             // ÿ
  return c;
}

}  // namespace

bool PathInsideFolder(const std::string& path, const std::string& folder, bool windowsNames) {
  if (!windowsNames) {
    if (folder == "/") return true;
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 && path[folder.size()] == '/';
  }
  // A drive's root ("C:\") ends in its separator; the folder's own name ends
  // before it.
  size_t n = folder.size();
  while (n > 0 && IsSeparator(folder[n - 1])) --n;
  if (path.size() <= n + 1 || !IsSeparator(path[n])) return false;
  for (size_t i = 0; i < n; ++i)
    if (WindowsFold(path[i]) != WindowsFold(folder[i])) return false;
  return true;
}

std::string LabelDocumentRefusal(const std::string& name) {
  const std::string ext = Extension(name);
  for (const Kind& k : kKinds)
    for (std::string_view e : k.extensions)
      if (!e.empty() && ext == e) return name + ": " + k.what + " is never a label document";
  if (!AppSetup || AppSetup->LabelFolders.empty()) return "";
  const std::string doc = plat::ResolvedPath(name);
  if (!doc.empty())
    for (const std::string& folder : AppSetup->LabelFolders)
      if (Inside(doc, folder)) return "";
  return name + ": outside the label folders ([Labels] Folders in " + AppSetup->IniFileName + ")";
}

std::string LabelSizeRefusal(const std::string& name, int64_t size) {
  if (size <= kLabelDocumentMax) return "";
  return name + ": " + std::to_string(size) + " bytes, larger than a label document can be (16 MB)";
}
