// Builds the demo data from a seed. Everything random goes through one
// generator of our own so that a seed gives the same data everywhere.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "tools/demo_data.h"
#include "tools/demo_geo.h"

namespace demo {
namespace {

class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ULL + 0x5DEECE66DULL) {}
  uint64_t Next() {  // splitmix64
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  int Below(int n) { return n <= 0 ? 0 : static_cast<int>(Next() % static_cast<uint64_t>(n)); }
  int Between(int lo, int hi) { return lo + Below(hi - lo + 1); }
  bool Chance(double p) { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0) < p; }
  template <class T>
  const T& Pick(const std::vector<T>& v) { return v[Below(static_cast<int>(v.size()))]; }

 private:
  uint64_t s_;
};

std::string Fmt(const char* fmt, long a) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, a);
  return buf;
}

const char* const kPostalLetters = "ABCEGHJKLMNPRSTVWXYZ";

const std::vector<std::string> kTownFirst = {"Oak", "Maple", "Cedar", "Pine", "Elm", "Fair", "Green", "Spring",
                                             "River", "Lake", "Clear", "Ash", "Brook", "Hill", "Rock", "Sun",
                                             "Mill", "Stone", "Red", "White", "Willow", "Glen", "Bright", "Wood",
                                             "High", "Clay", "Iron", "Silver", "Bell", "Cherry"};
const std::vector<std::string> kTownLast = {"ville", "field", "dale", "wood", "ton", "brook", "view",
                                            "port", "ford", "ridge", "burg", " Springs", " Falls", " Creek",
                                            " Center", " Heights", " Hills", " Grove", " Park", " City"};
const std::vector<std::string> kSurnames = {"Tremblay", "Gagnon", "Roy", "Cote", "Bouchard", "Gauthier", "Morin",
                                            "Lavoie", "Fortin", "Smith", "Brown", "Wilson", "Macdonald", "Taylor",
                                            "Campbell", "Anderson", "Leblanc", "Nguyen", "Martin", "Thompson",
                                            "Johnson", "Garcia", "Miller", "Davis", "Chen", "Singh", "Patel",
                                            "Kowalski", "O'Neill", "Fraser"};
const std::vector<std::string> kCompanyFirst = {"Maple Leaf", "Boreal", "Atlantic", "Pacific", "Northern",
                                                "Prairie", "Laurentian", "Great Lakes", "Rocky Mountain",
                                                "Harbour", "Summit", "Cascade", "Frontier", "Evergreen",
                                                "Granite", "Tundra", "Lakeshore", "Keystone", "Liberty", "Redwood"};
const std::vector<std::string> kCompanyLast = {"Supply", "Electronics", "Fisheries", "Imports", "Hardware",
                                               "Outfitters", "Logistics", "Pharmacy", "Books", "Auto Parts",
                                               "Furniture", "Textiles", "Foods", "Tools", "Medical"};
const std::vector<std::string> kCompanyForm = {"", "", " Inc.", " Ltd.", " Co.", ", Sons & Daughters",
                                               " & Associates"};
const std::vector<std::string> kStreets = {"Main St", "King St W", "Queen St E", "Rue Sainte-Catherine",
                                           "Portage Ave", "Jasper Ave", "Granville St", "Water St",
                                           "Oak Ave", "Elm St", "Industrial Pkwy", "Commerce Dr",
                                           "Harbour Rd", "Maple Blvd", "Broadway", "Lakeshore Rd"};

// Several draws in one expression would depend on the compiler's order of
// evaluation; every draw below is a statement of its own.
std::string TownName(Rng& r) {
  std::string first = r.Pick(kTownFirst);
  return first + r.Pick(kTownLast);
}

std::string PersonName(Rng& r) {
  const char initial = "ABCDEFGHJKLMNPRSTW"[r.Below(18)];
  return std::string(1, initial) + ". " + r.Pick(kSurnames);
}

bool InRange(const std::string& fsa, const CityRange& c) { return fsa >= c.from && fsa <= c.to; }

const char* CityOf(const std::string& fsa) {
  for (const CityRange& c : CanadianCities())
    if (InRange(fsa, c)) return c.town;
  return nullptr;
}

void BuildProvinces(Model& m) {
  auto ca = CanadianProvinces();
  std::stable_sort(ca.begin(), ca.end(), [](auto& a, auto& b) { return a.longitude > b.longitude; });
  int seq = 1;
  for (const ProvinceInfo& p : ca) m.provinces.push_back({"CA", p.code, seq++, p.name});
  std::vector<const StateInfo*> us;
  for (const StateInfo& s : UsStates()) us.push_back(&s);
  std::stable_sort(us.begin(), us.end(), [](auto* a, auto* b) { return a->longitude > b->longitude; });
  seq = 101;
  for (const StateInfo* s : us) m.provinces.push_back({"US", s->code, seq++, s->name});
}

// Postal lines of every Canadian province; rural areas (digit 0) are split
// among a few towns, the rest belong to one city or town each.
void BuildPostal(Model& m, Rng& r, std::map<std::string, std::vector<int>>& byProvince) {
  for (const ProvinceInfo& p : CanadianProvinces()) {
    const std::vector<std::string> cand = CandidateAreas(p.code);
    const auto& towns = ProvinceTowns(p.code);
    int cities = 0;
    for (const auto& f : cand) cities += CityOf(f) != nullptr;
    const bool all = static_cast<int>(cand.size()) <= p.areas;
    const double pCity = 0.85;
    const int others = static_cast<int>(cand.size()) - cities;
    double pOther = others > 0 ? (p.areas - pCity * cities) / others : 0.0;
    pOther = std::clamp(pOther, 0.05, 1.0);
    for (const std::string& fsa : cand) {
      const char* city = CityOf(fsa);
      if (!all && !r.Chance(city ? pCity : pOther)) continue;
      auto add = [&](const std::string& from, const std::string& to, const std::string& town) {
        byProvince[p.code].push_back(static_cast<int>(m.postal.size()));
        m.postal.push_back({from, to, town});
      };
      if (fsa[1] == '0' && !city && towns.size() > 1) {
        // A rural area: two or three ranges, each its own town.
        const int parts = r.Between(2, 3);
        const int cut1 = parts == 2 ? r.Between(3, 6) : r.Between(2, 4);
        const int cut2 = parts == 3 ? r.Between(cut1 + 2, 8) : 10;
        int lo = 0;
        for (int hi : {cut1, cut2, 10}) {
          if (lo >= 10) break;
          add(fsa + char('0' + lo) + "A0", fsa + char('0' + hi - 1) + "Z9", r.Pick(towns));
          lo = hi;
        }
      } else {
        add(fsa + "0A0", fsa + "9Z9", city ? std::string(city) : std::string(r.Pick(towns)));
      }
    }
  }
}

void BuildZips(Model& m, Rng& r, std::map<std::string, std::vector<int>>& byState) {
  int prefixes = 0;
  for (const StateInfo& s : UsStates())
    for (auto [a, b] : s.zipPrefixes) prefixes += b - a + 1;
  const int perPrefix = 42000 / prefixes;
  for (const StateInfo& s : UsStates()) {
    std::map<int, const char*> cityAt;
    for (auto [p, c] : s.cities) cityAt.emplace(p, c);
    for (auto [a, b] : s.zipPrefixes) {
      for (int prefix = a; prefix <= b; ++prefix) {
        int n = std::clamp(perPrefix + r.Between(-perPrefix / 3, perPrefix / 3), 1, 99);
        std::vector<int> last(99);
        for (int i = 0; i < 99; ++i) last[i] = i + 1;
        for (int i = 0; i < n; ++i) std::swap(last[i], last[i + r.Below(99 - i)]);
        last.resize(n);
        std::sort(last.begin(), last.end());
        auto city = cityAt.find(prefix);
        std::string town;
        int left = 0;
        for (int l : last) {
          if (city != cityAt.end()) {
            town = city->second;
          } else if (left-- <= 0) {
            town = TownName(r);
            left = r.Between(1, 5);
          }
          byState[s.code].push_back(static_cast<int>(m.zips.size()));
          m.zips.push_back({Fmt("%03ld", prefix) + Fmt("%02ld", l), s.code, town});
        }
      }
    }
  }
}

std::string PostalIn(Rng& r, const PostalRange& range) {
  std::string code = range.from.substr(0, 3);
  code += char(r.Between(range.from[3], range.to[3]));
  code += kPostalLetters[r.Below(20)];
  code += char('0' + r.Below(10));
  if (code < range.from) code = range.from;
  if (code > range.to) code = range.to;
  return code;
}

void BuildCustomers(Model& m, Rng& r, const std::map<std::string, std::vector<int>>& postalBy,
                    const std::map<std::string, std::vector<int>>& zipBy) {
  // Rough shares of parcels by province; the US states by their zip ranges.
  const std::vector<std::pair<const char*, int>> caWeights = {
      {"ON", 38}, {"QC", 23}, {"BC", 14}, {"AB", 12}, {"MB", 4}, {"SK", 3}, {"NS", 3},
      {"NB", 2},  {"NF", 2},  {"PE", 1},  {"NU", 1},  {"NT", 1}, {"YT", 1}};
  std::vector<std::string> caPool, usPool;
  for (auto [code, w] : caWeights)
    for (int i = 0; i < w; ++i) caPool.push_back(code);
  for (const StateInfo& s : UsStates())
    for (auto [a, b] : s.zipPrefixes)
      for (int i = a; i <= b; ++i) usPool.push_back(s.code);

  std::set<std::string> names;
  const int count = 90;
  for (int i = 0; i < count; ++i) {
    Customer c;
    c.id = "CUST" + Fmt("%06ld", 1000 + i * 53 + r.Below(50));
    do {
      if (r.Chance(0.6)) {
        c.name = r.Pick(kCompanyFirst);
        c.name += " " + r.Pick(kCompanyLast);
        c.name += r.Pick(kCompanyForm);
      } else {
        c.name = PersonName(r);
      }
    } while (!names.insert(c.name).second);
    c.street = Fmt("%ld ", r.Between(1, 9999));
    c.street += r.Pick(kStreets);
    c.us = r.Chance(0.35);
    if (c.us) {
      c.province = r.Pick(usPool);
      const Zip& z = m.zips[r.Pick(zipBy.at(c.province))];
      c.postal = z.zip;
      c.town = z.city;
    } else {
      c.province = r.Pick(caPool);
      const PostalRange& p = m.postal[r.Pick(postalBy.at(c.province))];
      c.postal = PostalIn(r, p);
      c.town = p.town;
    }
    m.customers.push_back(c);
  }
}

Shipment MakeShipment(Rng& r, const Model& m, int32_t id) {
  Shipment s;
  s.id = id;
  s.customer = r.Below(static_cast<int>(m.customers.size()));
  s.ref0 = "PO-" + Fmt("%07ld", 7100000 + r.Below(900000));
  s.ref1 = r.Chance(0.8) ? "INV 2026-" + Fmt("%04ld", r.Between(1, 9999)) : "";
  const int roll = r.Below(100);
  const int n = roll < 45 ? 1 : roll < 75 ? 2 : roll < 90 ? 3 : 4;
  for (int k = 1; k <= n; ++k) {
    Package p;
    p.number = k;
    p.ref[0] = "PKG " + std::to_string(k) + "/" + std::to_string(n);
    p.ref[1] = r.Chance(0.7) ? "SKU-" + Fmt("%05ld", r.Below(100000)) : "";
    p.ref[2] = r.Chance(0.15) ? "FRAGILE" : "";
    p.ref[3] = r.Chance(0.1) ? "RMA" + Fmt("%08ld", id * 10L % 100000000 + k) : "";
    s.packages.push_back(p);
  }
  return s;
}

std::string Epl(const Model& m, const Shipment& s, const Package& p) {
  const Customer& c = m.customers[s.customer];
  std::string t;
  auto line = [&t](const std::string& l) { t += l + "\r\n"; };
  line("");
  line("N");
  line("q812");
  line("Q1218,24");
  line("A40,40,0,4,1,1,N,\"KAVLO DESKO DEMO - PACKAGE LABEL\"");
  line("A40,100,0,4,1,1,N,\"SHIP TO: " + c.name + "\"");
  line("A40,150,0,4,1,1,N,\"" + c.street + "\"");
  line("A40,200,0,4,1,1,N,\"" + c.town + " " + c.province + " " + c.postal + "\"");
  line("A40,260,0,3,1,1,N,\"CUSTOMER " + c.id + "  SHIPMENT " + std::to_string(s.id) + "  PKG " +
       std::to_string(p.number) + "/" + std::to_string(s.packages.size()) + "\"");
  line("A40,300,0,3,1,1,N,\"REF " + s.ref0 + "\"");
  line("B40,360,0,1,3,7,120,B,\"" + std::to_string(s.id) + Fmt("%03ld", p.number) + "\"");
  line("P1");
  return t;
}

std::string Zpl(const Model& m, const Shipment& s, int document) {
  const Customer& c = m.customers[s.customer];
  std::string t;
  auto line = [&t](const std::string& l) { t += l + "\r\n"; };
  line("^XA");
  line("^CF0,40");
  line(std::string("^FO40,40^FD") + (document == 1 ? "COMMERCIAL INVOICE" : "KEY-ENTRY DOCUMENT") + "^FS");
  line("^CF0,30");
  line("^FO40,110^FDSHIP TO: " + c.name + "^FS");
  line("^FO40,150^FD" + c.street + "^FS");
  line("^FO40,190^FD" + c.town + " " + c.province + " " + c.postal + "^FS");
  line("^FO40,230^FDCUSTOMER " + c.id + "  SHIPMENT " + std::to_string(s.id) + "^FS");
  line("^FO40,270^FDREF " + s.ref0 + (s.ref1.empty() ? "" : " / " + s.ref1) + "^FS");
  line("^XZ");
  return t;
}

void BuildLabels(Model& m, Rng& r) {
  std::vector<int> order(m.shipments.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  for (size_t i = 0; i + 1 < order.size(); ++i)
    std::swap(order[i], order[i + r.Below(static_cast<int>(order.size() - i))]);
  int taken = 0;
  for (int idx : order) {
    if (m.labels.size() >= 30) break;
    const Shipment& s = m.shipments[idx];
    const bool us = m.customers[s.customer].us;
    auto add = [&](int document, int package, std::string content) {
      Label l;
      l.document = document;
      l.shipment = s.id;
      l.package = package;
      l.fileName = m.labelPath + "/" + Fmt("%010ld", s.id) + "_" + Fmt("%03ld", package) + "_" +
                   std::to_string(document) + (document == 0 ? ".epl" : ".zpl");
      l.content = std::move(content);
      m.labels.push_back(std::move(l));
    };
    for (const Package& p : s.packages) add(0, p.number, Epl(m, s, p));
    // Cross-border shipments carry a commercial invoice; some need a key-entry sheet.
    if (us) add(1, 0, Zpl(m, s, 1));
    if (++taken % 3 == 0) add(2, 1, Zpl(m, s, 2));
  }
}

void AddWhole(Zone& z, const char* country, std::initializer_list<const char*> codes) {
  for (const char* c : codes)
    z.rows.push_back({std::string(country) + c + (std::string(country) == "CA" ? "******" : "*****"), ""});
}

void BuildZones(Model& m) {
  auto partialCa = [&m](Zone& z, const char* province, std::initializer_list<const char*> towns) {
    // The postal lines of the province that belong to the towns.
    for (const PostalRange& p : m.postal) {
      if (p.from[0] != province[2]) continue;  // province[2]: postal letter
      for (const char* t : towns)
        if (p.town == t) z.rows.push_back({std::string("CA") + province[0] + province[1] + p.from,
                                           std::string("CA") + province[0] + province[1] + p.to});
    }
  };
  Zone z;
  z = {"10", "Atlantic Canada", {}};
  AddWhole(z, "CA", {"NF", "PE", "NS", "NB"});
  m.zones.push_back(z);
  z = {"20", "Quebec", {}};
  AddWhole(z, "CA", {"QC"});
  m.zones.push_back(z);
  z = {"30", "Greater Toronto", {}};
  partialCa(z, "ONM", {"Toronto"});
  partialCa(z, "ONL", {"Mississauga", "Brampton"});
  m.zones.push_back(z);
  z = {"31", "Ottawa", {}};
  partialCa(z, "ONK", {"Ottawa"});
  m.zones.push_back(z);
  z = {"39", "Ontario (other)", {}};
  AddWhole(z, "CA", {"ON"});
  m.zones.push_back(z);
  z = {"40", "Prairies", {}};
  AddWhole(z, "CA", {"MB", "SK", "AB"});
  m.zones.push_back(z);
  z = {"50", "British Columbia", {}};
  AddWhole(z, "CA", {"BC"});
  m.zones.push_back(z);
  z = {"60", "The North", {}};
  AddWhole(z, "CA", {"YT", "NT", "NU"});
  m.zones.push_back(z);
  z = {"70", "US Northeast", {}};
  AddWhole(z, "US", {"ME", "NH", "VT", "MA", "RI", "CT", "NY", "NJ", "PA"});
  m.zones.push_back(z);
  z = {"75", "Chicago", {}};
  for (const Zip& zip : m.zips)
    if (zip.state == "IL" && zip.city == "Chicago") z.rows.push_back({"USIL" + zip.zip, ""});
  m.zones.push_back(z);
  z = {"80", "US Midwest", {}};
  AddWhole(z, "US", {"OH", "MI", "IN", "IL", "WI", "MN", "IA", "MO"});
  m.zones.push_back(z);
  z = {"90", "US West Coast", {}};
  AddWhole(z, "US", {"WA", "OR", "CA"});
  m.zones.push_back(z);
}

std::string Quoted(const std::string& s) { return "\"" + s + "\""; }

void BuildOrders(Model& m, Rng& r) {
  static const char* kServices[] = {"EXP", "GND", "XPD", "PRI"};
  std::string text;
  int32_t id = 2000001;
  for (int i = 0; i < 100; ++i) {
    Shipment s = MakeShipment(r, m, id);
    id += r.Between(1, 3);
    const Customer& c = m.customers[s.customer];
    std::vector<std::string> f(85);
    int weight10 = 0;
    std::vector<int> weights;
    for (size_t k = 0; k < s.packages.size(); ++k) {
      weights.push_back(r.Between(5, 400));
      weight10 += weights.back();
    }
    f[0] = "H";
    f[1] = "SO-" + std::to_string(s.id);
    f[2] = "20261208";
    f[3] = c.id;
    f[4] = Quoted(c.name);
    f[5] = Quoted(PersonName(r));
    f[6] = Quoted(c.street);
    f[7] = r.Chance(0.2) ? Quoted("Suite " + std::to_string(r.Between(100, 900))) : "";
    f[8] = Quoted(c.town);
    f[9] = "(" + std::to_string(r.Between(200, 989)) + ") 555-";
    f[9] += Fmt("%04ld", r.Below(10000));
    f[10] = r.Chance(0.5) ? "orders@example.com" : "";
    f[11] = c.us ? "US" : "CA";
    f[12] = c.postal;
    f[13] = c.province;
    f[14] = kServices[r.Below(4)];
    f[15] = std::to_string(s.packages.size());
    f[16] = std::to_string(weight10 / 10) + "." + std::to_string(weight10 % 10);
    f[17] = "LB";
    f[18] = "0.00";
    f[19] = c.us ? "USD" : "CAD";
    for (int k = 20; k < 73; ++k) f[k] = (k % 3 == 0) ? "N" : "";
    f[73] = s.ref0;
    f[74] = s.ref1;
    for (int k = 0; k < 4; ++k) f[75 + k] = s.packages[0].ref[k];
    f[79] = "SENDER";
    f[80] = r.Chance(0.3) ? "Y" : "N";
    f[81] = "EMAIL";
    f[82] = "N";
    f[83] = "N";
    f[84] = "END";
    std::string line;
    for (size_t k = 0; k < f.size(); ++k) line += (k ? "," : "") + f[k];
    text += line + "\r\n";
    for (size_t k = 0; k < s.packages.size(); ++k) {
      const Package& p = s.packages[k];
      const int length = r.Between(10, 60);
      const int width = r.Between(10, 40);
      const int height = r.Between(5, 30);
      text += "D," + f[1] + "," + std::to_string(p.number) + "," + std::to_string(weights[k] / 10) + "." +
              std::to_string(weights[k] % 10) + ",LB," + std::to_string(length) + "," + std::to_string(width) +
              "," + std::to_string(height) + "," + Quoted(p.ref[0]) + "," + Quoted(p.ref[1]) + "\r\n";
    }
    m.orderShipments.push_back(std::move(s));
  }
  m.orderText = std::move(text);
}

}  // namespace

Model BuildModel(const std::string& root, uint32_t seed) {
  Model m;
  m.seed = seed;
  m.root = root;
  m.dataPath = root + "/Data";
  m.multiShipperPath = root + "/MultiShipper";
  m.ratingPath = root + "/Rating";
  m.labelPath = m.multiShipperPath + "/LabelDocs";
  m.sourcePath = root + "/orders/in";
  m.resultPath = root + "/orders/out";
  m.zoneSortFile = root + "/ZonePostal.qry";
  m.provinceSortFile = root + "/ProvinceCustomer.qry";

  Rng r(seed);
  std::map<std::string, std::vector<int>> postalBy, zipBy;
  BuildProvinces(m);
  BuildPostal(m, r, postalBy);
  BuildZips(m, r, zipBy);
  BuildCustomers(m, r, postalBy, zipBy);
  int32_t id = 1000001;
  for (int i = 0; i < 300; ++i) {
    m.shipments.push_back(MakeShipment(r, m, id));
    id += r.Between(1, 3);
  }
  BuildLabels(m, r);
  BuildZones(m);
  BuildOrders(m, r);
  return m;
}

}  // namespace demo
