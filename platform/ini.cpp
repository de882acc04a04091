// Ini files read and written the way the Windows private-profile calls do.
//
// Reading: a line whose first non-blank byte is "[" and that holds a "]" starts
// a section (the name between them, trimmed); a line with "=" is a key of the
// current section (name before the first "=", value after it, both trimmed of
// blanks); lines starting with ";" and every other line are kept but never
// match. Names compare with a..z folded to A..Z. Keys before the first section
// belong to none. The first matching key wins, also across repeated sections
// of the same name. NUL bytes and 8-bit bytes are ordinary bytes; a UTF-8
// byte order mark at the start is passed over.
//
// Writing rewrites the whole file through a temporary file in the same folder
// and a rename, so readers see the old or the new file, never a half-written
// one. Untouched lines keep their bytes and line ends; new lines use the
// file's line end (that of its first line; CRLF for a new file, which the host
// programs expect).
#include "platform/ini.h"

#include <atomic>
#include <climits>
#include <cstdlib>
#include <optional>
#include <random>
#include <set>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/os.h"

namespace plat {

namespace {

struct Line {
  std::string text;  // without its line end
  std::string eol;   // "\r\n", "\n" or "" (last line without one)
};

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string TrimBlanks(const std::string& s, size_t b, size_t e) {
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

char Fold(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Fold(a[i]) != Fold(b[i])) return false;
  return true;
}

// Section name when the line is a section header.
std::optional<std::string> SectionOf(const std::string& line) {
  size_t b = 0;
  while (b < line.size() && IsBlank(line[b])) ++b;
  if (b >= line.size() || line[b] != '[') return std::nullopt;
  size_t e = line.find(']', b + 1);
  if (e == std::string::npos) return std::nullopt;
  return TrimBlanks(line, b + 1, e);
}

bool IsComment(const std::string& line) {
  size_t b = 0;
  while (b < line.size() && IsBlank(line[b])) ++b;
  return b < line.size() && line[b] == ';';
}

// Key name of a key line, and the position of its "=".
std::optional<std::pair<std::string, size_t>> KeyOf(const std::string& line) {
  if (IsComment(line) || SectionOf(line)) return std::nullopt;
  size_t eq = line.find('=');
  if (eq == std::string::npos) return std::nullopt;
  return std::make_pair(TrimBlanks(line, 0, eq), eq);
}

struct IniFile {
  std::string bom;  // a UTF-8 byte order mark an editor put in front, kept as it was
  std::vector<Line> lines;
  std::string eol = "\r\n";
};

// complete is set false when the file exists but could not be read whole:
// readers then see defaults, and a write must not replace the file with what
// little was read (that would lose every other setting in it).
IniFile Load(const std::string& nativePath, bool* complete = nullptr) {
  IniFile f;
  std::string data;
  bool ok = true;
  if (!nativePath.empty()) {
    os::OpenRequest how;
    how.plainOnly = true;
    auto file = os::Os().Open(nativePath, how);
    if (!file) {
      // Missing, or no plain file: read as empty.
      const os::Fail kind = os::LastError().kind;
      ok = kind == os::Fail::NotFound || kind == os::Fail::NotPlain;
    } else {
      char buf[65536];
      size_t got = 0;
      while ((ok = file->Read(buf, sizeof buf, &got)) && got > 0) data.append(buf, got);
    }
  }
  if (complete) *complete = ok;
  if (!ok) data.clear();
  size_t pos = 0;
  if (data.compare(0, 3, "\xEF\xBB\xBF") == 0) {
    f.bom = data.substr(0, 3);
    pos = 3;
  }
  bool first = true;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    Line l;
    if (nl == std::string::npos) {
      l.text = data.substr(pos);
      pos = data.size();
    } else {
      size_t end = nl;
      l.eol = "\n";
      if (end > pos && data[end - 1] == '\r') {
        --end;
        l.eol = "\r\n";
      }
      l.text = data.substr(pos, end - pos);
      pos = nl + 1;
      if (first) f.eol = l.eol;
      first = false;
    }
    f.lines.push_back(std::move(l));
  }
  return f;
}

// Index of the line of the first matching key, or -1.
long FindKey(const IniFile& f, const std::string& section, const std::string& key) {
  bool in = false;
  for (size_t i = 0; i < f.lines.size(); ++i) {
    const std::string& t = f.lines[i].text;
    if (auto s = SectionOf(t)) {
      in = SameName(*s, section);
    } else if (in) {
      auto k = KeyOf(t);
      if (k && SameName(k->first, key)) return static_cast<long>(i);
    }
  }
  return -1;
}

std::string ValueOf(const std::string& line) {
  size_t eq = line.find('=');
  return TrimBlanks(line, eq + 1, line.size());
}

// A value cannot span lines: it is cut at the first line end (or NUL), so a
// stray line break can never plant keys or sections in the file.
std::string OneLine(const std::string& s) { return s.substr(0, s.find_first_of(std::string("\r\n\0", 3))); }

std::atomic<unsigned> g_tmpCounter{0};

// Distinguishes this process's temporary names from another's.
const std::string& ProcessTag() {
  static const std::string tag = std::to_string(std::random_device{}() % 1000000000u);
  return tag;
}

void Store(const std::string& file, const IniFile& f) {
  std::string target = NativePath(file);
  const Error failure("Unable to write to " + file);
  if (target.empty()) throw failure;
  os::Env& sys = os::Os();
  // Keep a symbolic link and write through to the file it names.
  os::FileInfo st;
  bool exists = sys.Stat(target, false, &st);
  if (exists && st.kind == os::Kind::Other) {
    const std::string real = sys.Resolve(target);
    if (!real.empty()) {
      target = real;
      exists = sys.Stat(target, true, &st);
    }
  }
  if (exists && st.kind != os::Kind::Plain) throw failure;
  // A read-only file stays unwritten, as on Windows, although the rename
  // would get past it.
  if (exists) {
    os::OpenRequest probe;
    probe.access = os::Access::Write;
    if (!sys.Open(target, probe)) throw failure;
  }

  std::string data = f.bom;
  for (const Line& l : f.lines) {
    data += l.text;
    data += l.eol;
  }

  const size_t sep = target.find_last_of(os::kWindowsNames ? "\\/" : "/");
  const std::string dir = sep == std::string::npos ? "" : target.substr(0, sep + 1);
  const std::string tmp = dir + "." + target.substr(sep == std::string::npos ? 0 : sep + 1) + "." + ProcessTag() +
                          "." + std::to_string(g_tmpCounter++) + ".tmp";
  os::OpenRequest create;
  create.access = os::Access::Write;
  create.disposition = os::Disposition::CreateNew;
  auto out = sys.Open(tmp, create);
  if (!out) throw failure;
  if (exists) out->TakeAccessOf(target);  // keeps the file's permissions; ours where not allowed
  bool ok = out->Write(data.data(), data.size()) && out->Sync();
  if (!out->Close()) ok = false;
  out.reset();
  if (ok && !sys.RenameReplace(tmp, target)) ok = false;
  if (!ok) {
    sys.Remove(tmp);
    throw failure;
  }
  // The rename reaches the disk before the caller goes on: a power cut must
  // not bring back the old settings after a sort or print went by the new.
  if (!sys.SyncFolder(dir.empty() ? "." : dir)) throw failure;
}

}  // namespace

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& def) {
  IniFile f = Load(NativePath(file));
  long i = FindKey(f, section, key);
  return i < 0 ? def : ValueOf(f.lines[static_cast<size_t>(i)].text);
}

// The whole value (blanks around it aside) must be an optional sign and
// decimal digits within the int range: "7" and " 7 " give 7, "+7" gives 7,
// while "", "12abc", "0x10", "1.5" and "99999999999" give def.
int IniReadInteger(const std::string& file, const std::string& section,
                   const std::string& key, int def) {
  std::string v = IniReadString(file, section, key, "");
  size_t i = 0;
  bool neg = false;
  if (i < v.size() && (v[i] == '+' || v[i] == '-')) neg = v[i++] == '-';
  if (i >= v.size()) return def;
  long long n = 0;
  for (; i < v.size(); ++i) {
    if (v[i] < '0' || v[i] > '9') return def;
    n = n * 10 + (v[i] - '0');
    if (n > static_cast<long long>(INT_MAX) + 1) return def;
  }
  if (neg) n = -n;
  if (n < INT_MIN || n > INT_MAX) return def;
  return static_cast<int>(n);
}

std::vector<std::pair<std::string, std::string>> IniReadSection(const std::string& file,
                                                                const std::string& section) {
  IniFile f = Load(NativePath(file));
  std::vector<std::pair<std::string, std::string>> out;
  std::set<std::string> seen;  // folded names, so the first of duplicates wins
  bool in = false;
  for (const Line& l : f.lines) {
    if (auto s = SectionOf(l.text)) {
      in = SameName(*s, section);
    } else if (in) {
      auto k = KeyOf(l.text);
      if (!k) continue;
      std::string folded = k->first;
      for (char& c : folded) c = Fold(c);
      if (seen.insert(folded).second) out.emplace_back(k->first, ValueOf(l.text));
    }
  }
  return out;
}

namespace {

// The file as it stands, for a rewrite; raises when it exists but cannot be read.
IniFile LoadForWrite(const std::string& file) {
  bool complete = false;
  IniFile f = Load(NativePath(file), &complete);
  if (!complete) throw Error("Unable to write to " + file);
  return f;
}

}  // namespace

void IniWriteString(const std::string& file, const std::string& section,
                    const std::string& key, const std::string& value) {
  IniFile f = LoadForWrite(file);
  const std::string sec = OneLine(section), k = OneLine(key), v = OneLine(value);
  long hit = FindKey(f, sec, k);
  if (hit >= 0) {
    // Keep the key as spelt in the file and the blanks after "=".
    std::string& t = f.lines[static_cast<size_t>(hit)].text;
    size_t b = t.find('=') + 1;
    while (b < t.size() && IsBlank(t[b])) ++b;
    t = t.substr(0, b) + v;
  } else {
    // End of the first section of that name: after its last key line, or
    // right after its header when it has no key yet.
    long header = -1, after = -1;
    for (size_t i = 0; i < f.lines.size(); ++i) {
      const std::string& t = f.lines[i].text;
      if (auto s = SectionOf(t)) {
        if (header >= 0) break;
        if (SameName(*s, sec)) header = after = static_cast<long>(i);
      } else if (header >= 0 && KeyOf(t)) {
        after = static_cast<long>(i);
      }
    }
    if (!f.lines.empty() && f.lines.back().eol.empty()) f.lines.back().eol = f.eol;
    Line kl{k + "=" + v, f.eol};
    if (after >= 0) {
      f.lines.insert(f.lines.begin() + after + 1, kl);
    } else {
      f.lines.push_back(Line{"[" + sec + "]", f.eol});
      f.lines.push_back(kl);
    }
  }
  Store(file, f);
}

void IniWriteInteger(const std::string& file, const std::string& section,
                     const std::string& key, int value) {
  IniWriteString(file, section, key, std::to_string(value));
}

// Removes every section of that name with all its lines, up to the next
// section header. A file without that section is left untouched.
void IniEraseSection(const std::string& file, const std::string& section) {
  IniFile f = LoadForWrite(file);
  std::vector<Line> kept;
  bool in = false, removed = false;
  for (Line& l : f.lines) {
    if (auto s = SectionOf(l.text)) in = SameName(*s, section);
    if (in) removed = true;
    else kept.push_back(std::move(l));
  }
  if (!removed) return;
  f.lines = std::move(kept);
  Store(file, f);
}

}  // namespace plat
