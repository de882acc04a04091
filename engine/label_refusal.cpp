#include "engine/label_refusal.h"

#include <array>
#include <string_view>

#include "platform/file.h"
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
  if (dir.empty()) return false;
  if (dir == "/") return true;
  return resolvedDoc.size() > dir.size() && resolvedDoc.compare(0, dir.size(), dir) == 0 &&
         resolvedDoc[dir.size()] == '/';
}

}  // namespace

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
