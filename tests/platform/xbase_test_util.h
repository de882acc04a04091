#pragma once
// Shared pieces of the xBase tests: scratch folders, copies of the fixture
// tables, the fixture engine's dump files, and the Perl readers.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace xbtest {

inline std::string FixtureDir(const std::string& set) { return std::string(VV_FIXTURES) + "/xbase/" + set; }

// A running helper program with pipes to its standard input and output.
struct HelperProcess : vvtest::Process {
  explicit HelperProcess(const std::vector<std::string>& argv) : vvtest::Process(argv) {}
  // Closes its input and waits; its exit code, -1 when it did not exit.
  int Finish() {
    CloseInput();
    return Wait();
  }
};

using TempDir = vvtest::TempDir;
using vvtest::ReadFile;
using vvtest::WriteFile;

// Copies name.dbf and name.cdx (when present) of a fixture set into dir.
inline void CopyTable(const std::string& set, const std::string& name, const std::string& dir) {
  for (const char* ext : {".dbf", ".cdx"}) {
    const std::string src = FixtureDir(set) + "/" + name + ext;
    if (vvtest::Exists(src)) vvtest::CopyFile(src, dir + "/" + name + ext);
  }
}

inline std::string Hex(const std::string& bytes) {
  static const char* d = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += d[c >> 4];
    out += d[c & 15];
  }
  return out;
}

// Decodes the dumps' \xHH escapes.
inline std::string Unescape(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size() + 0 && s[i + 1] == 'x') {
      out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += s[i];
    }
  }
  return out;
}

struct DumpField {
  std::string name;
  char type;
  int len, dec;
};
struct DumpRecord {
  bool deleted;
  std::vector<std::string> values;  // raw field bytes
};
struct DumpEntry {
  std::string key;  // raw key bytes (character) or 16 hex digits (numeric)
  uint32_t recno;
};
struct DumpTag {
  std::string name, expr, filter;
  bool unique = false, descending = false;
  int keyLen = 0;
  char keyType = 'C';
  std::vector<DumpEntry> entries;  // in tag order
};
struct Dump {
  int version = 0, flags = 0;
  std::vector<DumpField> fields;
  std::vector<DumpRecord> records;
  std::vector<DumpTag> tags;
};

inline Dump ReadDump(const std::string& path) {
  Dump d;
  std::ifstream in(path, std::ios::binary);
  std::string line;
  DumpTag* tag = nullptr;
  bool inEntries = false;
  auto after = [](const std::string& l, const std::string& p) { return l.substr(l.find(p) + p.size()); };
  while (std::getline(in, line)) {
    if (tag && inEntries) {
      if (line.rfind("end_tag:", 0) == 0) {
        tag = nullptr;
        inEntries = false;
        continue;
      }
      size_t t1 = line.find('\t');
      size_t t2 = line.find('\t', t1 + 1);
      DumpEntry e{Unescape(line.substr(0, t1)),
                  static_cast<uint32_t>(std::stoul(line.substr(t1 + 1, t2 - t1 - 1)))};
      tag->entries.push_back(e);
      continue;
    }
    if (line.rfind("dbf_version: ", 0) == 0) d.version = std::stoi(after(line, ": "), nullptr, 16);
    else if (line.rfind("table_flags", 0) == 0) d.flags = std::stoi(after(line, ": "), nullptr, 16);
    else if (line.rfind("field ", 0) == 0) {
      std::istringstream ss(after(line, ": "));
      DumpField f;
      ss >> f.name >> f.type >> f.len >> f.dec;
      d.fields.push_back(f);
    } else if (line.rfind("rec ", 0) == 0) {
      DumpRecord r;
      r.deleted = line.find(" del=1 ") != std::string::npos;
      size_t pos = line.find(" del=") + 7;
      for (const auto& f : d.fields) {
        std::string open = f.name + "=[";
        pos = line.find(open, pos) + open.size();
        std::string v;
        while (static_cast<int>(v.size()) < f.len) {
          if (line[pos] == '\\' && line[pos + 1] == 'x') {
            v += static_cast<char>(std::stoi(line.substr(pos + 2, 2), nullptr, 16));
            pos += 4;
          } else {
            v += line[pos++];
          }
        }
        r.values.push_back(v);
        pos += 1;  // ]
      }
      d.records.push_back(r);
    } else if (line.rfind("tag: ", 0) == 0) {
      d.tags.push_back(DumpTag{});
      tag = &d.tags.back();
      tag->name = after(line, "tag: ");
    } else if (tag) {
      if (line.rfind("  expr: ", 0) == 0) tag->expr = after(line, "expr: ");
      else if (line.rfind("  filter: ", 0) == 0) tag->filter = after(line, "filter: ");
      else if (line.rfind("  unique: ", 0) == 0) tag->unique = after(line, "unique: ")[0] == '1';
      else if (line.rfind("  descending: ", 0) == 0) tag->descending = after(line, "descending: ")[0] == '1';
      else if (line.rfind("  key_len: ", 0) == 0) tag->keyLen = std::stoi(after(line, "key_len: "));
      else if (line.rfind("  key_type: ", 0) == 0) tag->keyType = after(line, "key_type: ")[0];
      else if (line.rfind("  entries: ", 0) == 0) inEntries = true;
    }
  }
  return d;
}

// Runs a shell command; its standard output, and whether it ran at all.
inline bool Run(const std::string& cmd, std::string& out) {
  out.clear();
  FILE* p = ::popen(cmd.c_str(), "r");
  if (!p) return false;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  return ::pclose(p) == 0;
}

inline bool HaveTool(const std::string& name) {
  std::string out;
  return Run("command -v " + name + " >/dev/null 2>&1 && echo yes", out) && out.find("yes") != std::string::npos;
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream ss(text);
  std::string l;
  while (std::getline(ss, l)) out.push_back(l);
  return out;
}

}  // namespace xbtest
