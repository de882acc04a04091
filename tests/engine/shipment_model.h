#pragma once
// A plain model of shipment-file sequencing, written straight from the rules
// (one character at a time, no buffering, no key encoding), to check the
// engine's output against. Zone keys are not modelled; province location is.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/uSequncr.h"

namespace model {

inline std::string TrimUpper(const std::string& s) {
  size_t a = 0, b = s.size();
  while (a < b && static_cast<unsigned char>(s[a]) <= 32) ++a;
  while (b > a && static_cast<unsigned char>(s[b - 1]) <= 32) --b;
  std::string r = s.substr(a, b - a);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

struct Reader {
  const std::string& s;
  size_t i = 0;
  bool AtEnd = false, AtLineEnd = false;

  std::string ReadChar() {
    AtLineEnd = false;
    while (!AtEnd && !AtLineEnd) {
      if (i >= s.size()) {
        AtEnd = true;
        break;
      }
      const char b = s[i++];
      if (b == 0 || b == '\n') {
        AtLineEnd = true;
        return "";
      }
      if (b != '\r') return std::string(1, b);
    }
    return "";
  }

  std::string ReadField() {
    std::string c = ReadChar();
    if (c == ",") return "";
    const bool quoted = c == "\"";
    const std::string term = quoted ? "\"" : ",";
    std::string text = quoted ? "" : c;
    int n = 1;
    while (!AtEnd && !AtLineEnd) {
      std::string ch = ReadChar();
      if (AtEnd || AtLineEnd) break;
      ++n;
      if (ch != term) {
        if (n <= 255) text += ch;
        continue;
      }
      if (!quoted) break;
      std::string next = ReadChar();
      if (AtEnd || AtLineEnd) break;
      ++n;
      if (next == ",") break;
      if (n <= 254) text += "\"" + next;
    }
    return TrimUpper(text);
  }

  std::string FieldInLine() { return AtLineEnd || AtEnd ? "" : ReadField(); }
  void Skip(int k) {
    for (int j = 0; j < k && !AtLineEnd && !AtEnd; ++j) ReadField();
  }
};

// Expected result bytes of sequencing src under order (no zone fields).
inline std::string Sequence(const std::string& src, const TSortOrderArray& order,
                            const TProvinceArray& provinces = {}) {
  struct Item {
    size_t origin;
    TItem keys;
  };
  std::vector<Item> items;
  Reader r{src};
  while (!r.AtEnd) {
    const size_t p = r.i;
    if (r.ReadField() != "H") {
      while (!r.AtLineEnd && !r.AtEnd) r.ReadChar();
      continue;
    }
    Item it{p, {}};
    auto& v = it.keys.Values;
    r.Skip(2);
    v[sfCustomerId] = r.FieldInLine();
    v[sfCustomerName] = r.FieldInLine();
    r.Skip(7);
    const bool reached = !r.AtLineEnd && !r.AtEnd;
    v[sfPostalCode] = r.FieldInLine();
    v[sfProvinceCode] = r.FieldInLine();
    if (reached)
      for (const auto& pr : provinces)
        if (pr->Province == v[sfProvinceCode]) {
          char buf[32];
          std::snprintf(buf, sizeof buf, "%.3d", pr->Sequence);
          v[sfProvinceLocation] = buf;
        }
    r.Skip(59);
    for (int f = sfShipmentRef1; f <= sfPackageRef4; ++f) v[f] = r.FieldInLine();
    while (!r.AtLineEnd && !r.AtEnd) r.ReadChar();
    items.push_back(it);
  }
  std::vector<size_t> idx(items.size());
  for (size_t k = 0; k < idx.size(); ++k) idx[k] = k;
  // Selection as the rules give it: the first smallest of those left.
  std::vector<bool> done(items.size());
  std::vector<size_t> picked;
  for (size_t round = 0; round < items.size(); ++round) {
    size_t j = 0;
    while (done[j]) ++j;
    for (size_t k = j + 1; k < items.size(); ++k)
      if (!done[k] && ItemAfter(items[j].keys, items[k].keys, order)) j = k;
    done[j] = true;
    picked.push_back(j);
  }
  if (order.Reverse) std::reverse(picked.begin(), picked.end());
  std::string out;
  for (size_t j : picked) {
    const size_t end = j + 1 < items.size() ? items[j + 1].origin : src.size();
    out += src.substr(items[j].origin, end - items[j].origin);
  }
  return out;
}

}  // namespace model
