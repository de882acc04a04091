#pragma once
// Label documents whose content says which label they are, so that what
// reached a printer or port can be counted label by label.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace rel {

// The document of label id: its number on the first line, then padding to
// about size bytes, in CR LF lines as a label printer's language has them.
inline std::string LabelDocument(int id, size_t size = 300) {
  char head[64];
  std::snprintf(head, sizeof head, "^XA LABEL-%06d\r\n", id);
  std::string s = head;
  int line = 0;
  while (s.size() + 40 < size) {
    char l[64];
    std::snprintf(l, sizeof l, "^FO%04d,%04d^FDlabel %06d line %04d^FS\r\n", line, id % 1000, id, line);
    s += l;
    ++line;
  }
  return s + "^XZ\r\n";
}

// Label ids whose complete document occurs in bytes, in the order printed.
inline std::vector<int> LabelSequence(const std::string& bytes, size_t size = 300) {
  std::vector<int> out;
  size_t at = 0;
  while ((at = bytes.find("^XA LABEL-", at)) != std::string::npos) {
    const int id = std::atoi(bytes.c_str() + at + 10);
    const std::string doc = LabelDocument(id, size);
    if (bytes.compare(at, doc.size(), doc) == 0) {
      out.push_back(id);
      at += doc.size();
    } else {
      at += 10;
    }
  }
  return out;
}

// Label ids whose complete document occurs in bytes, with how often.
inline std::map<int, int> LabelsIn(const std::string& bytes, size_t size = 300) {
  std::map<int, int> out;
  for (int id : LabelSequence(bytes, size)) ++out[id];
  return out;
}

}  // namespace rel
