// Finding a table's files whatever their letter case, and the tag
// definitions kept beside an index while it is rewritten.
#include <atomic>
#include <cctype>
#include <cstdio>
#include <random>

#include "platform/os.h"
#include "platform/xbase/error.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

namespace os = plat::os;

namespace table_detail {

namespace {

size_t LastSeparator(const std::string& path) {
  return os::kWindowsNames ? path.find_last_of("\\/") : path.rfind('/');
}

bool IsPlainFile(const std::string& path) {
  os::FileInfo info;
  return os::Os().Stat(path, true, &info) && info.kind == os::Kind::Plain;
}

// A name no other writer picks: two programs may write the same table's
// index at once.
std::string FreshName(const std::string& path) {
  static std::atomic<uint64_t> serial{0};
  thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  uint64_t bits = random() ^ (serial.fetch_add(1) * 0x9E3779B97F4A7C15ull);
  std::string name = path + ".";
  for (int i = 0; i < 8; ++i, bits /= sizeof kChars - 1) name += kChars[bits % (sizeof kChars - 1)];
  return name;
}

}  // namespace

bool EqualNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x != y && !(x < 0x80 && y < 0x80 && std::tolower(x) == std::tolower(y))) return false;
  }
  return true;
}

std::string Stem(const std::string& path) {
  size_t slash = LastSeparator(path);
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return path;
  return path.substr(0, dot);
}

// The tag definitions are kept beside the index while it is rewritten in
// place: a write cut short can leave a header page that no longer finds the
// tags, and then they are rebuilt from the records with these definitions.
// Layout: a first line, then per tag "unique descending len len len" and the
// name, expression and filter bytes on the next line, then "end".
constexpr char kTagsMagic[] = "tag definitions 1\n";

std::string TagsPathFor(const std::string& cdxPath) { return cdxPath + ".tags"; }

void SaveTagDefinitions(const std::string& path, const std::vector<CdxTagHeader>& headers) {
  std::string out = kTagsMagic;
  for (const auto& h : headers) {
    out += std::to_string(h.unique) + " " + std::to_string(h.descending) + " " + std::to_string(h.name.size()) + " " +
           std::to_string(h.expr.size()) + " " + std::to_string(h.filter.size()) + "\n" + h.name + h.expr + h.filter +
           "\n";
  }
  out += "end\n";
  // Through a new file and a rename: the one already there may be all that
  // describes an index left torn by an earlier write.
  std::unique_ptr<os::File> file;
  std::string fresh;
  for (int attempt = 0; !file; ++attempt) {
    fresh = FreshName(path);
    file = os::Os().Open(fresh, os::OpenRequest{.access = os::Access::Write, .disposition = os::Disposition::CreateNew});
    if (!file && (os::LastError().kind != os::Fail::Exists || attempt == 16))
      throw XBaseError("Cannot create " + fresh + ": " + os::LastError().text);
  }
  // Durable, bytes and name, before the index is rewritten: it is what a
  // power cut in the middle of that rewrite leaves to rebuild from.
  if (!file->Write(out.data(), out.size()) || !file->Sync() || !file->Close() ||
      !os::Os().RenameReplace(fresh, path)) {
    const std::string why = os::LastError().text;
    file.reset();
    os::Os().Remove(fresh);
    throw XBaseError("Cannot write " + path + ": " + why);
  }
  // A folder we may enter but not read cannot be synced; nothing better to do.
  if (!os::Os().SyncFolder(os::FolderOf(path)) && os::LastError().kind != os::Fail::Denied)
    throw XBaseError("Cannot flush the folder of " + path + ": " + os::LastError().text);
}

// False when there is no whole definitions file.
bool LoadTagDefinitions(const std::string& path, std::vector<CdxTagHeader>& headers) {
  std::string text;
  auto file = os::Os().Open(path, os::OpenRequest{.plainOnly = true, .noFollow = true});
  if (!file) return false;
  char buf[4096];
  size_t got = 0;
  do {
    if (!file->Read(buf, sizeof buf, &got)) return false;
    text.append(buf, got);
  } while (got > 0 && text.size() < (1u << 20));
  if (text.compare(0, sizeof kTagsMagic - 1, kTagsMagic) != 0) return false;
  size_t pos = sizeof kTagsMagic - 1;
  headers.clear();
  while (pos < text.size()) {
    if (text.compare(pos, std::string::npos, "end\n") == 0) return !headers.empty();
    const size_t eol = text.find('\n', pos);
    if (eol == std::string::npos) return false;
    int unique = 0, descending = 0;
    size_t n = 0, e = 0, f = 0;
    if (std::sscanf(text.substr(pos, eol - pos).c_str(), "%d %d %zu %zu %zu", &unique, &descending, &n, &e, &f) != 5)
      return false;
    pos = eol + 1;
    if (n > 10 || e > 255 || f > 255 || pos + n + e + f + 1 > text.size() || text[pos + n + e + f] != '\n') return false;
    CdxTagHeader h;
    h.name = text.substr(pos, n);
    h.expr = text.substr(pos + n, e);
    h.filter = text.substr(pos + n + e, f);
    h.unique = unique != 0;
    h.descending = descending != 0;
    headers.push_back(std::move(h));
    pos += n + e + f + 1;
  }
  return false;
}

}  // namespace table_detail

using namespace table_detail;

std::string FindFileNoCase(const std::string& base, const std::string& ext) {
  const size_t cut = LastSeparator(base);
  const std::string prefix = cut == std::string::npos ? std::string() : base.substr(0, cut + 1);
  const std::string name = base.substr(prefix.size()) + ext;
  if (IsPlainFile(prefix + name)) return prefix + name;
  std::vector<std::string> names;
  if (!os::Os().ListFolder(os::FolderOf(base), &names)) return {};
  std::string best;
  for (const auto& n : names) {
    if (!EqualNoCase(n, name) || !IsPlainFile(prefix + n)) continue;
    if (best.empty() || best > n) best = n;
  }
  return best.empty() ? std::string() : prefix + best;
}

}  // namespace xbase
