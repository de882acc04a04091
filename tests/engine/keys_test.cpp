#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/uSequncr.h"

namespace {

std::unique_ptr<TProvince> Prov(const std::string& country, const std::string& code, int seq) {
  auto p = std::make_unique<TProvince>();
  p->Country = country;
  p->Province = code;
  p->Sequence = seq;
  return p;
}

// An area entry: ranges as "FROM-TO" for Canada, zip codes otherwise; none = whole.
std::unique_ptr<TProvince> Entry(const std::string& country, const std::string& code,
                                 std::vector<std::string> areas = {}) {
  auto e = std::make_unique<TProvince>();
  e->Country = country;
  e->Province = code;
  for (const auto& a : areas) {
    const auto dash = a.find('-');
    if (country == "CA" && dash != std::string::npos) {
      e->Areas.push_back(a.substr(0, dash));
      e->AreasTo.push_back(a.substr(dash + 1));
    } else {
      e->Areas.push_back(a);
    }
  }
  return e;
}

std::unique_ptr<TZone> Zone(const std::string& code, std::vector<std::unique_ptr<TProvince>> entries) {
  auto z = std::make_unique<TZone>();
  z->Zone = code;
  z->Name = "description of " + code;
  for (auto& e : entries) z->Provinces.push_back(std::move(e));
  return z;
}

template <typename... E>
std::vector<std::unique_ptr<TProvince>> Entries(E... e) {
  std::vector<std::unique_ptr<TProvince>> v;
  (v.push_back(std::move(e)), ...);
  return v;
}

TItem Item(std::initializer_list<std::pair<TSortField, std::string>> values) {
  TItem it;
  for (const auto& [f, v] : values) it.Values[f] = v;
  return it;
}

std::vector<size_t> Order(std::vector<TItem> items, const TSortOrderArray& order) {
  std::vector<size_t> out;
  for (auto& it : items) it.Origin = static_cast<int32_t>(&it - &items[0]);
  TakeOutSorted(items, order, [&](TItem& it) {
    out.push_back(static_cast<size_t>(it.Origin));
    return true;
  });
  return out;
}

TEST(ItemAfter, OrdinalByteComparison) {
  struct {
    std::string a, b;
    bool after;
  } cases[] = {
      {"9", "10", true},       // no numeric reading
      {"a", "Z", true},        // every upper-case letter before lower case
      {"1", " ", true},        // blank before digits
      {"", "\x01", false},     // empty before everything
      {"ABC", "AB", true},     // the shorter beginning is smaller
      {"\xb1", "z", true},     // bytes compare unsigned
      {"K1A0B1", "k1a0a1", false},
      {"same", "same", false},
  };
  const TSortOrderArray order = {sfCustomerName};
  for (const auto& c : cases) {
    EXPECT_EQ(ItemAfter(Item({{sfCustomerName, c.a}}), Item({{sfCustomerName, c.b}}), order), c.after)
        << '"' << c.a << "\" vs \"" << c.b << '"';
  }
}

TEST(ItemAfter, LaterKeysDecideTiesOnly) {
  const TSortOrderArray order = {sfZoneCode, sfCustomerName};
  EXPECT_TRUE(ItemAfter(Item({{sfZoneCode, "Z2"}, {sfCustomerName, "A"}}),
                        Item({{sfZoneCode, "Z1"}, {sfCustomerName, "B"}}), order));
  EXPECT_FALSE(ItemAfter(Item({{sfZoneCode, "Z1"}, {sfCustomerName, "A"}}),
                         Item({{sfZoneCode, "Z1"}, {sfCustomerName, "B"}}), order));
  // A field outside the order never counts.
  EXPECT_FALSE(ItemAfter(Item({{sfPostalCode, "B"}}), Item({{sfPostalCode, "A"}}), order));
}

TEST(SortedOrder, ZoneThenCustomer) {
  std::vector<TItem> items = {
      Item({{sfZoneCode, "Z2"}, {sfCustomerName, "ACME"}}),
      Item({{sfZoneCode, "Z1"}, {sfCustomerName, "BETA"}}),
      Item({{sfCustomerName, "ZED"}}),
      Item({{sfZoneCode, "Z1"}, {sfCustomerName, "ACME"}}),
  };
  EXPECT_EQ(Order(items, {sfZoneCode, sfCustomerName}), (std::vector<size_t>{2, 3, 1, 0}));
  std::vector<TItem> labels = {Item({{sfPostalCode, "K1A0B1"}}), Item({{sfPostalCode, "k1a0a1"}}),
                               Item({{sfPostalCode, ""}})};
  EXPECT_EQ(Order(labels, {sfPostalCode}), (std::vector<size_t>{2, 0, 1}));

  TSortOrderArray zoneDown = {sfZoneCode, sfCustomerName};
  zoneDown.SetDescending(0, true);
  EXPECT_EQ(Order(items, zoneDown), (std::vector<size_t>{0, 3, 1, 2}));
  TSortOrderArray reversed = {sfZoneCode};
  reversed.Reverse = true;  // ties come out in reverse input order too
  EXPECT_EQ(Order(items, reversed), (std::vector<size_t>{0, 3, 1, 2}));
  reversed.SetDescending(0, true);
  EXPECT_EQ(Order(items, reversed), (std::vector<size_t>{2, 3, 1, 0}));
}

// The selection of the rules, as a reference for the n log n ordering.
std::vector<size_t> Selection(std::vector<TItem> items, const TSortOrderArray& order) {
  std::vector<size_t> out;
  for (size_t round = 0; round < items.size(); ++round) {
    size_t j = 0;
    while (items[j].Done) ++j;
    for (size_t i = j + 1; i < items.size(); ++i)
      if (!items[i].Done && ItemAfter(items[j], items[i], order)) j = i;
    items[j].Done = true;
    out.push_back(j);
  }
  if (order.Reverse) std::reverse(out.begin(), out.end());
  return out;
}

// Independent of ItemAfter: each key's texts compared byte by byte as
// unsigned values, the sign turned for a descending key, input position last.
std::vector<size_t> BruteForce(const std::vector<TItem>& items, const TSortOrderArray& order) {
  auto cmp = [](const std::string& a, const std::string& b) {
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
      if (a[i] != b[i]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[i]) ? -1 : 1;
    return a.size() == b.size() ? 0 : a.size() < b.size() ? -1 : 1;
  };
  std::vector<size_t> out(items.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = i;
  std::sort(out.begin(), out.end(), [&](size_t x, size_t y) {
    for (size_t k = 0; k < order.size(); ++k) {
      const int c = cmp(items[x].Values[order[k]], items[y].Values[order[k]]);
      if (c != 0) return order.Descending(k) ? c > 0 : c < 0;
    }
    return x < y;
  });
  if (order.Reverse) std::reverse(out.begin(), out.end());
  return out;
}

TEST(SortedOrder, SameAsSelectionOnRandomItems) {
  std::mt19937 rng(7);
  const std::string alphabet = "aAb 09\xb1";
  for (int round = 0; round < 200; ++round) {
    std::vector<TItem> items(rng() % 40);
    for (auto& it : items)
      for (auto& v : it.Values) {
        v.clear();
        for (unsigned k = rng() % 3; k > 0; --k) v += alphabet[rng() % alphabet.size()];
      }
    TSortOrderArray order;
    for (unsigned k = 1 + rng() % 5; k > 0; --k) order.push_back(static_cast<TSortField>(rng() % 13));
    // Every other round mixes descending keys and reverses the batch.
    if (round % 2) {
      order.DescendingMask = rng() % 32;
      order.Reverse = rng() % 2;
    }
    const auto sorted = SortedOrder(items, order);
    ASSERT_EQ(sorted, Selection(items, order)) << "round " << round;
    ASSERT_EQ(sorted, BruteForce(items, order)) << "round " << round;
  }
}

TEST(TakeOutSorted, StopsAtFirstFailureAndMarksOnlyHandedItems) {
  std::vector<TItem> items = {Item({{sfCustomerId, "C"}}), Item({{sfCustomerId, "A"}}),
                              Item({{sfCustomerId, "B"}})};
  std::vector<std::string> seen;
  const bool ok = TakeOutSorted(items, {sfCustomerId}, [&](TItem& it) {
    seen.push_back(it.Values[sfCustomerId]);
    return it.Values[sfCustomerId] != "B";
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(seen, (std::vector<std::string>{"A", "B"}));
  EXPECT_FALSE(items[0].Done);
  EXPECT_TRUE(items[1].Done);
  EXPECT_TRUE(items[2].Done);  // the failed one is done as well
}

class ZoneKeys : public ::testing::Test {
 protected:
  TProvinceArray provinces;
  void SetUp() override {
    provinces.push_back(Prov("CA", "BC", 10));
    provinces.push_back(Prov("CA", "ON", 6));
    provinces.push_back(Prov("US", "NY", 103));
    provinces.push_back(Prov("CA", "NT", 1234));
  }
  std::pair<std::string, std::string> ZoneOf(TZoneArray& zones, const std::string& prov,
                                             const std::string& postal,
                                             const TSortOrderArray& order = {sfZoneLocation, sfZoneCode}) {
    TKeyDeriver keys(provinces, order);
    keys.PrepareZones(zones);
    TItem it = Item({{sfProvinceCode, prov}, {sfPostalCode, postal}});
    keys.Derive(it);
    return {it.Values[sfZoneLocation], it.Values[sfZoneCode]};
  }
};

TEST_F(ZoneKeys, FirstMatchingZoneInZoneOrderWins) {
  TZoneArray zones;
  zones.push_back(Zone("A", Entries(Entry("CA", "BC"))));
  zones.push_back(Zone("B", Entries(Entry("CA", "BC", {"V5K0A0-V5K9Z9"}))));
  EXPECT_EQ(ZoneOf(zones, "BC", "V5K1B2"), (std::pair<std::string, std::string>{"CA010", "A"}));
}

TEST_F(ZoneKeys, CanadianRangesAndUsZipCodes) {
  TZoneArray zones;
  zones.push_back(Zone("R", Entries(Entry("CA", "BC", {"V5K0A0-V5K9Z9"}))));
  zones.push_back(Zone("U", Entries(Entry("US", "NY", {"10001", "10002", "1000a"}))));
  struct {
    std::string prov, postal, zone;
  } cases[] = {
      {"BC", "V5K1B2", "R"},  {"BC", "V5K 1B2", ""},  // a blank sorts before every digit
      {"BC", "V5K0A0", "R"},  {"BC", "V5K9Z9", "R"},  // both ends belong to the range
      {"BC", "V5K9Z9X", ""},  {"BC", "v5k1b2", ""},   // ranges compare ordinally
      {"ON", "V5K1B2", ""},   {"NY", "10002", "U"},
      {"NY", "10003", ""},    {"NY", "1000A", "U"},   // zip codes ignore letter case
      {"ny", "10002", ""},    {"", "", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(ZoneOf(zones, c.prov, c.postal).second, c.zone) << c.prov << " " << c.postal;
}

TEST_F(ZoneKeys, LocationFromFirstProvinceOfZone) {
  TZoneArray zones;
  zones.push_back(Zone("1", Entries(Entry("CA", "ON", {"K0A0A0-K9Z9Z9"}), Entry("CA", "BC"))));
  zones.push_back(Zone("2", Entries(Entry("CA", "ON"))));
  zones.push_back(Zone("3", Entries(Entry("CA", "QC"), Entry("CA", "NT"))));  // QC not in the list
  zones.push_back(Zone("4", Entries(Entry("CA", "NT"))));
  zones.push_back(Zone("5", {}));
  EXPECT_EQ(ZoneOf(zones, "BC", "V1V1V1"), (std::pair<std::string, std::string>{"CA006", "1"}));
  EXPECT_EQ(ZoneOf(zones, "ON", "L1L1L1"), (std::pair<std::string, std::string>{"CA006", "2"}));
  EXPECT_EQ(ZoneOf(zones, "NT", "X1A0A0"), (std::pair<std::string, std::string>{"", "3"}));
  EXPECT_EQ(ZoneLocation(*zones[3], provinces), "CA1234");
  EXPECT_EQ(ZoneLocation(*zones[4], provinces), "");
  // A pass keeps the location in the zone's Name.
  TKeyDeriver keys(provinces, {sfZoneLocation});
  keys.PrepareZones(zones);
  EXPECT_EQ(zones[0]->Name, "CA006");
  EXPECT_EQ(zones[3]->Name, "CA1234");
}

TEST_F(ZoneKeys, UnusedKeysAreNotComputed) {
  TZoneArray zones;
  zones.push_back(Zone("A", Entries(Entry("CA", "BC"))));
  TKeyDeriver keys(provinces, {sfCustomerName});
  keys.PrepareZones(zones);
  EXPECT_EQ(zones[0]->Name, "description of A");
  TItem it = Item({{sfProvinceCode, "BC"}, {sfZoneCode, "kept"}});
  keys.Derive(it);
  EXPECT_EQ(it.Values[sfZoneCode], "kept");
  EXPECT_EQ(it.Values[sfProvinceLocation], "");
  // Only the zone code in use: the description is left alone.
  TKeyDeriver codeOnly(provinces, {sfZoneCode});
  codeOnly.PrepareZones(zones);
  EXPECT_EQ(zones[0]->Name, "description of A");
  codeOnly.Derive(it);
  EXPECT_EQ(it.Values[sfZoneCode], "A");
}

TEST_F(ZoneKeys, ProvinceLocation) {
  provinces.push_back(Prov("US", "ON", 7));  // the last entry of a code wins
  TKeyDeriver keys(provinces, {sfProvinceLocation});
  EXPECT_EQ(keys.ProvinceLocation("BC"), "010");
  EXPECT_EQ(keys.ProvinceLocation("ON"), "007");
  EXPECT_EQ(keys.ProvinceLocation("NT"), "1234");
  EXPECT_EQ(keys.ProvinceLocation("XX"), "");
  std::vector<TItem> items = {Item({{sfProvinceCode, "NY"}}), Item({{sfProvinceCode, "BC"}}),
                              Item({{sfProvinceCode, "XX"}})};
  for (auto& it : items) keys.Derive(it);
  EXPECT_EQ(Order(items, {sfProvinceLocation}), (std::vector<size_t>{2, 1, 0}));  // "", 010, 103
}

TEST_F(ZoneKeys, SharedLocationGroupsByZoneCode) {
  TZoneArray zones;
  zones.push_back(Zone("Z9", Entries(Entry("CA", "ON", {"K0A0A0-K9Z9Z9"}))));
  zones.push_back(Zone("Z1", Entries(Entry("CA", "ON", {"L0A0A0-L9Z9Z9"}))));
  zones.push_back(Zone("Z5", Entries(Entry("CA", "BC"))));
  TKeyDeriver keys(provinces, {sfZoneLocation, sfZoneCode});
  keys.PrepareZones(zones);
  std::vector<TItem> items = {Item({{sfProvinceCode, "ON"}, {sfPostalCode, "K1A0B1"}}),
                              Item({{sfProvinceCode, "BC"}, {sfPostalCode, "V1V1V1"}}),
                              Item({{sfProvinceCode, "ON"}, {sfPostalCode, "L4C0J8"}}),
                              Item({{sfProvinceCode, "ON"}, {sfPostalCode, "M5V2T6"}}),
                              Item({{sfProvinceCode, "ON"}, {sfPostalCode, "K2P1L4"}})};
  for (auto& it : items) keys.Derive(it);
  // Outside every zone first; then CA006 (Z1, Z9 by code), then CA010.
  EXPECT_EQ(Order(items, {sfZoneLocation, sfZoneCode}), (std::vector<size_t>{3, 2, 0, 4, 1}));
}

// Zone of an item, literally: every zone, every entry, every area.
std::string NaiveZone(const TZoneArray& zones, const std::string& prov, const std::string& postal) {
  auto upper = [](std::string s) {
    for (char& c : s)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return s;
  };
  for (const auto& z : zones)
    for (const auto& e : z->Provinces) {
      if (e->Province != prov) continue;
      if (e->Areas.empty()) return z->Zone;
      for (size_t k = 0; k < e->Areas.size(); ++k) {
        if (e->Country == "CA") {
          if (e->Areas[k] <= postal && postal <= e->AreasTo[k]) return z->Zone;
        } else if (upper(e->Areas[k]) == upper(postal)) {
          return z->Zone;
        }
      }
    }
  return "";
}

TEST(ZoneIndex, SameAsWalkingEveryZone) {
  std::mt19937 rng(11);
  const char* codes[] = {"ON", "BC", "NY", "QC"};
  // Lengths on both sides of eight bytes, bytes above 0x7F and NUL: the
  // index compares packed leading bytes first.
  const std::string alphabet("ABK0129\xC9", 9);
  auto postal = [&] {
    std::string s;
    for (unsigned k = rng() % 4 ? 3 : 1 + rng() % 11; k > 0; --k) s += alphabet[rng() % alphabet.size()];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    TZoneArray zones;
    for (unsigned zi = rng() % 12; zi > 0; --zi) {
      auto z = std::make_unique<TZone>();
      z->Zone = "Z" + std::to_string(zi);
      for (unsigned ei = rng() % 4; ei > 0; --ei) {
        auto e = std::make_unique<TProvince>();
        e->Province = codes[rng() % 4];
        e->Country = rng() % 3 ? "CA" : "US";
        if (rng() % 5)
          for (unsigned a = 1 + rng() % 4; a > 0; --a) {
            std::string from = postal(), to = postal();
            if (rng() % 4 && to < from) std::swap(from, to);  // some ranges stay empty
            e->Areas.push_back(from);
            e->AreasTo.push_back(to);
          }
        if (e->Country != "CA") e->AreasTo.clear();
        z->Provinces.push_back(std::move(e));
      }
      zones.push_back(std::move(z));
    }
    TProvinceArray none;
    TKeyDeriver keys(none, {sfZoneCode});
    keys.PrepareZones(zones);
    for (int q = 0; q < 60; ++q) {
      const std::string prov = codes[rng() % 4];
      std::string code = postal();
      if (rng() % 4 == 0) code[0] = static_cast<char>(code[0] | 0x20);  // lower case
      std::string loc, got;
      keys.ZoneOf(prov, code, loc, got);
      ASSERT_EQ(got, NaiveZone(zones, prov, code)) << "round " << round << " " << prov << " " << code;
    }
  }
}

}  // namespace
