#pragma once
// What a pass over a demo installation must produce, worked out from the
// generator's model alone: the zone and province rules are applied here by
// hand to the model's rows, and the order comes from a stable sort, so the
// program's own key and sort code is never asked.
#include <algorithm>
#include <array>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "tools/demo_data.h"

namespace e2e {

using Keys = std::array<std::string, 13>;
enum : int {
  kZoneLocation, kZoneCode, kProvinceLocation, kProvinceCode, kCustomerId, kCustomerName, kPostalCode,
  kShipmentRef1, kShipmentRef2, kPackageRef1
};

// The demo's Shipment table keeps this many characters of st_name; label keys
// are the stored texts.
constexpr size_t kStoredNameWidth = 35;

inline std::string TrimUpper(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= 32) ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= 32) --e;
  std::string r = s.substr(b, e - b);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

inline std::string Stored(const std::string& s, size_t width) {
  std::string r = s.substr(0, width);
  while (!r.empty() && r.back() == ' ') r.pop_back();
  return r;
}

inline std::string LowerAZ(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The demo's zones as the rows describe them, in zone-code order.
class Geography {
 public:
  explicit Geography(const demo::Model& m) {
    for (const demo::Province& p : m.provinces) {
      if (!province_.count(p.code)) province_[p.code] = &p;
    }
    std::vector<const demo::Zone*> zones;
    for (const demo::Zone& z : m.zones) zones.push_back(&z);
    std::stable_sort(zones.begin(), zones.end(), [](auto* a, auto* b) { return a->code < b->code; });
    for (const demo::Zone* z : zones) {
      Zone zone{z->code, "", {}};
      std::string group;
      for (const demo::ZoneArea& row : z->rows) {
        if (zone.entries.empty() || row.area.substr(0, 4) != group) {
          group = row.area.substr(0, 4);
          zone.entries.push_back({group.substr(0, 2) == "CA" ? "CA" : "US", group.substr(2, 2), {}, {}});
        }
        Entry& e = zone.entries.back();
        if (e.country == "CA") {
          const std::string from = row.area.substr(4, 6);
          if (from != "******") e.ranges.push_back({from, row.areaTo.substr(4, 6)});
        } else {
          const std::string zip = row.area.substr(4, 5);
          if (zip != "*****") e.zips.push_back(zip);
        }
      }
      if (!zone.entries.empty()) {
        auto p = province_.find(zone.entries[0].province);
        if (p != province_.end()) zone.location = p->second->country + Seq(p->second->sequence);
      }
      zones_.push_back(std::move(zone));
    }
  }

  // Fills the three derived keys from the province code and postal code.
  void Derive(Keys& k) const {
    k[kZoneLocation].clear();
    k[kZoneCode].clear();
    k[kProvinceLocation].clear();
    auto p = province_.find(k[kProvinceCode]);
    if (p != province_.end()) k[kProvinceLocation] = Seq(p->second->sequence);
    for (const Zone& z : zones_) {
      for (const Entry& e : z.entries) {
        if (e.province != k[kProvinceCode] || !Covers(e, k[kPostalCode])) continue;
        k[kZoneLocation] = z.location;
        k[kZoneCode] = z.code;
        return;
      }
    }
  }

 private:
  struct Entry {
    std::string country, province;
    std::vector<std::pair<std::string, std::string>> ranges;
    std::vector<std::string> zips;
  };
  struct Zone {
    std::string code, location;
    std::vector<Entry> entries;
  };

  static std::string Seq(int n) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.3d", n);
    return buf;
  }
  static bool Covers(const Entry& e, const std::string& postal) {
    if (e.ranges.empty() && e.zips.empty()) return true;
    if (e.country == "CA") {
      for (const auto& [from, to] : e.ranges)
        if (from <= postal && postal <= to) return true;
      return false;
    }
    for (const std::string& z : e.zips)
      if (LowerAZ(z) == LowerAZ(postal)) return true;
    return false;
  }

  std::map<std::string, const demo::Province*> province_;
  std::vector<Zone> zones_;
};

// Positions 0..n-1 in the order a pass must put them: ascending by the sort
// fields (bytes compared unsigned), ties kept in input order.
inline std::vector<size_t> ExpectedOrder(const std::vector<Keys>& keys, const std::vector<int>& order) {
  std::vector<size_t> idx(keys.size());
  for (size_t i = 0; i < idx.size(); ++i) idx[i] = i;
  std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
    for (int f : order) {
      const int c = keys[a][f].compare(keys[b][f]);
      if (c != 0) return c < 0;
    }
    return false;
  });
  return idx;
}

// ORDER.TXT of the model, cut into shipment blocks (header line with its
// detail lines), each paired with its keys as the file gives them.
struct OrderFile {
  std::vector<std::string> blocks;
  std::vector<Keys> keys;
};

inline OrderFile ShipmentBlocks(const demo::Model& m, const Geography& geo) {
  OrderFile f;
  const std::string& t = m.orderText;
  size_t pos = 0;
  while (pos < t.size()) {
    size_t end = t.find('\n', pos);
    end = end == std::string::npos ? t.size() : end + 1;
    const std::string line = t.substr(pos, end - pos);
    if (line.rfind("H,", 0) == 0)
      f.blocks.push_back(line);
    else if (!f.blocks.empty())  // lines before the first header belong to no shipment
      f.blocks.back() += line;
    pos = end;
  }
  for (size_t i = 0; i < m.orderShipments.size(); ++i) {
    const demo::Shipment& s = m.orderShipments[i];
    const demo::Customer& c = m.customers[s.customer];
    Keys k;
    k[kProvinceCode] = TrimUpper(c.province);
    k[kCustomerId] = TrimUpper(c.id);
    k[kCustomerName] = TrimUpper(c.name);
    k[kPostalCode] = TrimUpper(c.postal);
    k[kShipmentRef1] = TrimUpper(s.ref0);
    k[kShipmentRef2] = TrimUpper(s.ref1);
    for (int r = 0; r < 4; ++r) k[kPackageRef1 + r] = TrimUpper(s.packages[0].ref[r]);
    geo.Derive(k);
    f.keys.push_back(std::move(k));
  }
  return f;
}

// The bytes the result file must hold after a shipment pass with the order.
inline std::string ExpectedResult(const demo::Model& m, const std::vector<int>& order) {
  const Geography geo(m);
  const OrderFile f = ShipmentBlocks(m, geo);
  std::string out;
  for (size_t i : ExpectedOrder(f.keys, order)) out += f.blocks.at(i);
  return out;
}

// The waiting labels in the order they must print: read in the order of the
// Labels table's document tag (document code, then record), keyed by their
// shipment and package as the tables hold them.
inline std::vector<const demo::Label*> ExpectedLabels(const demo::Model& m, const std::vector<int>& order) {
  const Geography geo(m);
  std::vector<const demo::Label*> read;
  for (const demo::Label& l : m.labels) read.push_back(&l);
  std::stable_sort(read.begin(), read.end(), [](auto* a, auto* b) { return a->document < b->document; });
  std::map<int32_t, const demo::Shipment*> shipments;
  for (const demo::Shipment& s : m.shipments) shipments[s.id] = &s;
  std::vector<Keys> keys;
  for (const demo::Label* l : read) {
    Keys k;
    auto s = shipments.find(l->shipment);
    if (s != shipments.end()) {
      const demo::Customer& c = m.customers[s->second->customer];
      k[kProvinceCode] = c.province;
      k[kCustomerId] = c.id;
      k[kCustomerName] = Stored(c.name, kStoredNameWidth);
      k[kPostalCode] = c.postal;
      geo.Derive(k);
      k[kShipmentRef1] = s->second->ref0;
      k[kShipmentRef2] = s->second->ref1;
      const int want = l->package == 0 && l->document > 0 ? 1 : l->package;
      for (const demo::Package& p : s->second->packages)
        if (p.number == want) {
          for (int r = 0; r < 4; ++r) k[kPackageRef1 + r] = p.ref[r];
          break;
        }
    }
    keys.push_back(std::move(k));
  }
  std::vector<const demo::Label*> out;
  for (size_t i : ExpectedOrder(keys, order)) out.push_back(read[i]);
  return out;
}

// Zone codes the labels fall into, in printing order (a check that the demo
// gives the sort something to do).
inline std::vector<std::string> LabelZones(const demo::Model& m, const std::vector<const demo::Label*>& labels) {
  const Geography geo(m);
  std::map<int32_t, const demo::Shipment*> shipments;
  for (const demo::Shipment& s : m.shipments) shipments[s.id] = &s;
  std::vector<std::string> zones;
  for (const demo::Label* l : labels) {
    Keys k;
    const demo::Customer& c = m.customers[shipments.at(l->shipment)->customer];
    k[kProvinceCode] = c.province;
    k[kPostalCode] = c.postal;
    geo.Derive(k);
    zones.push_back(k[kZoneCode]);
  }
  return zones;
}

// The sort orders of the demo's two sort files.
inline const std::vector<int>& ZonePostalOrder() {
  static const std::vector<int> o = {kZoneLocation, kPostalCode};
  return o;
}
inline const std::vector<int>& ProvinceCustomerOrder() {
  static const std::vector<int> o = {kProvinceLocation, kCustomerName};
  return o;
}

}  // namespace e2e
