// Finding a table's files whatever their letter case, and the tag
// definitions kept beside an index while it is rewritten.
#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/fault.h"
#include "platform/xbase/error.h"
#include "platform/xbase/io.h"
#include "platform/xbase/table_internal.h"

namespace xbase {

namespace table_detail {

std::string Stem(const std::string& path) {
  size_t slash = path.rfind('/');
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
  // A name of its own: two programs may write the same table's index.
  std::string fresh = path + ".XXXXXX";
  const int fd = plat::FaultHit(plat::Op::Open) ? -1 : ::mkostemp(fresh.data(), O_CLOEXEC);
  if (fd < 0) throw XBaseError("Cannot create " + fresh + ": " + std::strerror(errno));
  ::fchmod(fd, 0644);
  // Durable, bytes and name, before the index is rewritten: it is what a
  // power cut in the middle of that rewrite leaves to rebuild from.
  bool ok = !plat::FaultHit(plat::Op::Write) && ::write(fd, out.data(), out.size()) == static_cast<ssize_t>(out.size());
  if (ok && (plat::FaultHit(plat::Op::Flush) || ::fsync(fd) != 0)) ok = false;
  int err = errno;
  ::close(fd);
  if (ok && (plat::FaultHit(plat::Op::Rename) || ::rename(fresh.c_str(), path.c_str()) != 0)) {
    ok = false;
    err = errno;
  }
  if (!ok) {
    ::unlink(fresh.c_str());
    throw XBaseError("Cannot write " + path + ": " + std::strerror(err));
  }
  io::SyncFolderOf(path);
}

// False when there is no whole definitions file.
bool LoadTagDefinitions(const std::string& path, std::vector<CdxTagHeader>& headers) {
  std::string text;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
  if (fd < 0) return false;
  char buf[4096];
  ssize_t got;
  while ((got = ::read(fd, buf, sizeof buf)) > 0 && text.size() < (1u << 20)) text.append(buf, static_cast<size_t>(got));
  ::close(fd);
  if (got < 0 || text.compare(0, sizeof kTagsMagic - 1, kTagsMagic) != 0) return false;
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

std::string FindFileNoCase(const std::string& base, const std::string& ext) {
  size_t slash = base.rfind('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : base.substr(0, slash));
  std::string name = (slash == std::string::npos ? base : base.substr(slash + 1)) + ext;
  auto join = [&](const std::string& n) {
    return slash == std::string::npos ? n : (slash == 0 ? "/" + n : dir + "/" + n);
  };
  struct stat st {};
  if (::stat(join(name).c_str(), &st) == 0 && S_ISREG(st.st_mode)) return join(name);
  DIR* d = ::opendir(dir.c_str());
  if (!d) return {};
  std::string best;
  while (dirent* e = ::readdir(d)) {
    if (::strcasecmp(e->d_name, name.c_str()) != 0) continue;
    if (::stat(join(e->d_name).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (best.empty() || best > e->d_name) best = e->d_name;
  }
  ::closedir(d);
  return best.empty() ? std::string() : join(best);
}

}  // namespace xbase
