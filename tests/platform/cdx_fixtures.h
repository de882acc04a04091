#pragma once
// Readers for the xBase fixtures' expected dumps, shared by the index tests.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <utility>
#include <strings.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/xbase/cdx.h"
#include "tests/support/files.h"
#include "tests/support/temp_dir.h"

namespace cdxtest {

inline std::string XbaseDir() { return std::string(VV_FIXTURES) + "/xbase"; }

using vvtest::ListDir;

// The index tests read fixtures that must be there: a missing one throws.
inline std::string ReadFile(const std::string& path) { return vvtest::ReadFileOrThrow(path); }
inline void WriteFile(const std::string& path, const std::string& bytes) { vvtest::WriteFileOrThrow(path, bytes); }

// "\xHH" escapes back to bytes.
inline std::string Unescape(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
      out.push_back(static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16)));
      i += 3;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

inline std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}

inline std::string ToHex(const std::string& bytes) {
  std::string out;
  char b[4];
  for (unsigned char c : bytes) {
    std::snprintf(b, sizeof b, "%02x", c);
    out += b;
  }
  return out;
}

inline bool IsHex(const std::string& s) {
  return !s.empty() && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

struct DumpEntry {
  std::string key;     // raw key bytes
  uint32_t recno = 0;
  std::string value;   // "key=" column of numeric tags ("" otherwise)
};

struct DumpTag {
  std::string name, expr, filter, sortSeq;
  bool unique = false, descending = false, numeric = false;
  int keyLen = 0;
  std::vector<DumpEntry> entries;  // in tag order (descending tags: walked backwards)
};

struct Dump {
  std::string table;
  std::vector<DumpTag> tags;
};

inline std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> cols;
  size_t start = 0;
  for (;;) {
    size_t tab = line.find('\t', start);
    cols.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  return cols;
}

inline Dump ParseDump(const std::string& path) {
  Dump d;
  std::istringstream in(ReadFile(path));
  std::string line;
  DumpTag* tag = nullptr;
  bool inEntries = false;
  auto after = [&](const std::string& prefix) -> const char* {
    return line.compare(0, prefix.size(), prefix) == 0 ? line.c_str() + prefix.size() : nullptr;
  };
  while (std::getline(in, line)) {
    if (const char* v = after("table: ")) {
      d.table = v;
    } else if (const char* v = after("tag: ")) {
      d.tags.push_back(DumpTag{});
      tag = &d.tags.back();
      tag->name = v;
      inEntries = false;
    } else if (after("end_tag: ")) {
      tag = nullptr;
      inEntries = false;
    } else if (!tag) {
      continue;
    } else if (inEntries) {
      auto cols = SplitTabs(line);
      if (cols.size() < 2) throw std::runtime_error("bad entry line in " + path + ": " + line);
      DumpEntry e;
      e.recno = static_cast<uint32_t>(std::stoul(cols[1]));
      if (tag->numeric) {
        e.key = FromHex(cols[0]);
        for (const auto& c : cols) {
          if (c.compare(0, 4, "key=") == 0) e.value = c.substr(4);
        }
      } else {
        e.key = Unescape(cols[0]);
      }
      tag->entries.push_back(e);
    } else if (const char* v = after("  expr: ")) {
      tag->expr = v;
    } else if (const char* v = after("  filter: ")) {
      tag->filter = v;
    } else if (const char* v = after("  unique: ")) {
      tag->unique = v[0] == '1';
    } else if (const char* v = after("  descending: ")) {
      tag->descending = v[0] == '1';
    } else if (const char* v = after("  key_len: ")) {
      tag->keyLen = std::atoi(v);
    } else if (const char* v = after("  key_type: ")) {
      tag->numeric = v[0] == 'N';
    } else if (const char* v = after("  sort_seq: ")) {
      std::string s = v;
      tag->sortSeq = s.size() >= 2 ? s.substr(1, s.size() - 2) : s;
    } else if (after("  entries: ")) {
      inEntries = true;
    }
  }
  return d;
}

// "TABLE.TAG.order": one "key<TAB>recno" a line; numeric keys as 16 hex digits.
inline std::vector<xbase::CdxEntry> ParseOrder(const std::string& path, int keyLen) {
  std::vector<xbase::CdxEntry> out;
  std::istringstream in(ReadFile(path));
  std::string line;
  while (std::getline(in, line)) {
    auto cols = SplitTabs(line);
    if (cols.size() != 2) throw std::runtime_error("bad line in " + path + ": " + line);
    xbase::CdxEntry e;
    e.recno = static_cast<uint32_t>(std::stoul(cols[1]));
    const bool hex = keyLen == 8 && cols[0].size() == 16 && IsHex(cols[0]);
    e.key = hex ? FromHex(cols[0]) : Unescape(cols[0]);
    out.push_back(e);
  }
  return out;
}

// Just enough of a table to know field types and raw field texts.
struct MiniDbf {
  struct Field {
    std::string name;
    char type;
    int offset, len;
  };
  std::vector<Field> fields;
  std::string bytes;
  uint32_t count = 0;
  int headerLen = 0, recordLen = 0;

  explicit MiniDbf(const std::string& path) : bytes(ReadFile(path)) {
    auto u8 = [&](size_t i) { return static_cast<unsigned char>(bytes.at(i)); };
    count = u8(4) | (u8(5) << 8) | (u8(6) << 16) | (static_cast<uint32_t>(u8(7)) << 24);
    headerLen = u8(8) | (u8(9) << 8);
    recordLen = u8(10) | (u8(11) << 8);
    int offset = 1;
    for (size_t p = 32; p + 32 <= static_cast<size_t>(headerLen) && u8(p) != 0x0D; p += 32) {
      Field f;
      f.name = std::string(bytes.data() + p, strnlen(bytes.data() + p, 11));
      f.type = bytes[p + 11];
      f.offset = offset;
      f.len = u8(p + 16);
      offset += f.len;
      fields.push_back(f);
    }
  }
  const Field* Find(const std::string& name) const {
    for (const auto& f : fields) {
      if (strcasecmp(f.name.c_str(), name.c_str()) == 0) return &f;
    }
    return nullptr;
  }
  std::string Text(uint32_t recno, const Field& f) const {
    return bytes.substr(static_cast<size_t>(headerLen) + (recno - 1) * static_cast<size_t>(recordLen) + f.offset, f.len);
  }
  // A key expression made only of numeric fields joined by '+' gives numeric keys.
  bool NumericExpr(const std::string& expr) const {
    if (expr.find('(') != std::string::npos) return false;
    std::stringstream s(expr);
    std::string part;
    while (std::getline(s, part, '+')) {
      const Field* f = Find(part);
      if (!f || std::string("NFIBYD").find(f->type) == std::string::npos) return false;
    }
    return true;
  }
};

using TempDir = vvtest::TempDir;

// Every tag of an index as data ready for writing, with the pad byte each tag
// needs (0 for numeric keys, judged from the table's field types).
inline std::vector<xbase::CdxTagData> LoadAllTags(xbase::CdxFile& cdx, const MiniDbf& dbf) {
  std::vector<xbase::CdxTagData> out;
  for (size_t i = 0; i < cdx.Tags().size(); ++i) {
    xbase::CdxTagData t;
    t.header = cdx.Tags()[i];
    t.pad = dbf.NumericExpr(t.header.expr) ? '\0' : ' ';
    cdx.SetPadByte(static_cast<int>(i), t.pad);
    t.entries = cdx.ReadAll(static_cast<int>(i));
    out.push_back(std::move(t));
  }
  return out;
}

inline std::vector<xbase::CdxEntry> WalkForward(xbase::CdxCursor& c) {
  std::vector<xbase::CdxEntry> out;
  for (bool ok = c.First(); ok; ok = c.Next()) out.push_back({c.Key(), c.Recno()});
  return out;
}

inline std::vector<xbase::CdxEntry> WalkBackward(xbase::CdxCursor& c) {
  std::vector<xbase::CdxEntry> out;
  for (bool ok = c.Last(); ok; ok = c.Prev()) out.push_back({c.Key(), c.Recno()});
  return out;
}

using Flat = std::vector<std::pair<std::string, uint32_t>>;

// Entries as plain pairs, which the test macros compare and print.
inline Flat Flatten(const std::vector<xbase::CdxEntry>& entries) {
  Flat out;
  out.reserve(entries.size());
  for (const auto& e : entries) out.emplace_back(e.key, e.recno);
  return out;
}

}  // namespace cdxtest

