#include "geo/uXZone.h"

#include <algorithm>

#include "geo_env.h"

namespace {

using Strings = std::vector<std::string>;

std::unique_ptr<TProvince> Entry(const std::string& country, const std::string& code, Strings areas = {},
                                 Strings to = {}, int areaCount = 0) {
  auto e = std::make_unique<TProvince>();
  e->Country = country;
  e->Province = code;
  e->Areas = std::move(areas);
  e->AreasTo = std::move(to);
  e->AreaCount = areaCount;
  return e;
}

class Zones : public GeoEnv {
 protected:
  bool SaveZone(const std::string& code, const std::string& name,
                std::vector<std::unique_ptr<TProvince>> entries, bool isNew) {
    TZone z;
    z.Zone = code;
    z.Name = name;
    for (auto& e : entries) z.Provinces.push_back(std::move(e));
    return z.Save(isNew);
  }
  Strings AreaRows() { return Rows("AreaToZone", {"zone", "area", "area_to"}); }
};

template <typename... E>
std::vector<std::unique_ptr<TProvince>> Entries(E... e) {
  std::vector<std::unique_ptr<TProvince>> v;
  (v.push_back(std::move(e)), ...);
  return v;
}

// Reading finds no zones and creates nothing in the host's folder; the first
// save creates both tables.
TEST_F(Zones, NewInstallationCreatesTablesOnlyOnSave) {
  Strings codes = {"stale"};
  LoadZoneCodes(codes);
  EXPECT_TRUE(codes.empty());
  TZone z;
  EXPECT_TRUE(z.IsUnique("1"));
  z.Zone = "x";
  z.Load("1");
  EXPECT_EQ(z.Zone, "");
  TZoneArray all;
  LoadZones(all);
  EXPECT_TRUE(all.empty());
  z.Zone = "1";
  EXPECT_FALSE(z.Delete());
  EXPECT_FALSE(d4exists(Path("Zones")));
  EXPECT_FALSE(d4exists(Path("AreaToZone")));
  ASSERT_TRUE(SaveZone("1", "One", Entries(Entry("CA", "ON")), true));
  EXPECT_TRUE(d4exists(Path("Zones")));
  EXPECT_TRUE(d4exists(Path("AreaToZone")));
  LoadZoneCodes(codes);
  EXPECT_EQ(codes, Strings{"1"});
}

TEST_F(Zones, RowFormatsAndLoadingBack) {
  ASSERT_TRUE(SaveZone("E1", "East",
                       Entries(Entry("CA", "ON", {"K1A0A0", "K2B0A0"}, {"K1A9Z9", "K2B9Z9"}, 2),  // every line: whole
                               Entry("CA", "BC", {"V5K0A0", "V6B0A0"}, {"V5K9Z9", "V6B9Z9"}, 40),
                               Entry("US", "NY", {"10001", "10002"}, {}, 900),
                               Entry("US", "ME"),   // no areas: whole
                               Entry("CA", "QC", {}, {}, 0)),
                       true));
  EXPECT_EQ(AreaRows(), (Strings{"E1|CAON******|", "E1|CABCV5K0A0|CABCV5K9Z9", "E1|CABCV6B0A0|CABCV6B9Z9",
                                 "E1|USNY10001|", "E1|USNY10002|", "E1|USME*****|", "E1|CAQC******|"}));
  EXPECT_EQ(Rows("Zones", {"zone", "name"}), Strings{"E1|East"});

  TZone z;
  z.Load("E1");
  EXPECT_EQ(z.Zone, "E1");
  EXPECT_EQ(z.Name, "East");
  ASSERT_EQ(z.ProvinceCount(), 5);
  const TProvince* on = z.GetProvince(0);
  EXPECT_EQ(on->Country, "CA");
  EXPECT_EQ(on->Province, "ON");
  EXPECT_TRUE(on->Areas.empty());
  EXPECT_TRUE(on->AreasTo.empty());
  EXPECT_EQ(on->AreaCount, 0);
  EXPECT_EQ(z.GetProvince(1)->Areas, (Strings{"V5K0A0", "V6B0A0"}));
  EXPECT_EQ(z.GetProvince(1)->AreasTo, (Strings{"V5K9Z9", "V6B9Z9"}));
  EXPECT_EQ(z.GetProvince(2)->Country, "US");
  EXPECT_EQ(z.GetProvince(2)->Areas, (Strings{"10001", "10002"}));
  EXPECT_TRUE(z.GetProvince(2)->AreasTo.empty());
  EXPECT_TRUE(z.GetProvince(3)->Areas.empty());
  EXPECT_EQ(z.GetProvince(4)->Province, "QC");
  EXPECT_EQ(z.GetProvince(5), nullptr);
}

TEST_F(Zones, WholeCodeMatchesOnly) {
  ASSERT_TRUE(SaveZone("10", "Ten", Entries(Entry("CA", "ON")), true));
  ASSERT_TRUE(SaveZone("1", "One", Entries(Entry("CA", "BC")), true));
  ASSERT_TRUE(SaveZone("100", "Hundred", Entries(Entry("US", "NY", {"10001"})), true));
  TZone z;
  EXPECT_FALSE(z.IsUnique("1"));
  EXPECT_TRUE(z.IsUnique("1 "));
  EXPECT_TRUE(z.IsUnique("1A"));
  z.Load("1");
  ASSERT_EQ(z.ProvinceCount(), 1);
  EXPECT_EQ(z.GetProvince(0)->Province, "BC");

  // Rewriting "1" keeps the rows of "10" and "100".
  ASSERT_TRUE(SaveZone("1", "One again", Entries(Entry("CA", "AB")), false));
  EXPECT_EQ(AreaRows(), (Strings{"10|CAON******|", "100|USNY10001|", "1|CAAB******|"}));
  EXPECT_EQ(Rows("Zones", {"zone", "name"}), (Strings{"10|Ten", "1|One again", "100|Hundred"}));

  z.Zone = "1";
  ASSERT_TRUE(z.Delete());
  EXPECT_EQ(AreaRows(), (Strings{"10|CAON******|", "100|USNY10001|"}));
  EXPECT_EQ(Rows("Zones", {"zone"}), (Strings{"10", "100"}));
  EXPECT_TRUE(z.IsUnique("1"));
  EXPECT_FALSE(z.IsUnique("10"));
  EXPECT_FALSE(z.Delete());  // gone already

  Strings codes;
  LoadZoneCodes(codes);
  EXPECT_EQ(codes, (Strings{"10", "100"}));
}

TEST_F(Zones, SaveOfUnknownCodeWritesNothing) {
  ASSERT_TRUE(SaveZone("A", "a", Entries(Entry("CA", "ON")), true));
  EXPECT_FALSE(SaveZone("B", "b", Entries(Entry("CA", "BC")), false));
  EXPECT_EQ(Rows("Zones", {"zone"}), Strings{"A"});
  EXPECT_EQ(AreaRows(), Strings{"A|CAON******|"});
}

TEST_F(Zones, ZoneWithoutEntriesKeepsItsRowAndLosesItsAreas) {
  ASSERT_TRUE(SaveZone("A", "a", Entries(Entry("CA", "ON"), Entry("CA", "BC")), true));
  ASSERT_TRUE(SaveZone("A", "a", {}, false));
  EXPECT_EQ(Rows("Zones", {"zone"}), Strings{"A"});
  EXPECT_TRUE(AreaRows().empty());
}

TEST_F(Zones, LoadGroupsByFirstFourCharactersAndSkipsShortAreas) {
  ASSERT_TRUE(SaveZone("Q", "runs", {}, true));  // creates both tables
  const int t = mOpen(AppEngine, Path("AreaToZone"), "zone");
  const char* rows[][2] = {{"CAONK1A0A0", "CAONK1A9Z9"}, {"CAONK2A0A0", "CAONK2A9Z9"}, {"CAB", ""},
                           {"CABCV1A0A0", "CABCV1A9Z9"}, {"CAONL1A0A0", "CAONL1A9Z9"}, {"XXNY12345", ""}};
  for (auto& r : rows) {
    ASSERT_EQ(d4appendBlank(t), 0);
    replace(t, "zone", "Q");
    replace(t, "area", r[0]);
    replace(t, "area_to", r[1]);
  }
  d4close(t);
  TZone z;
  z.Load("Q");
  ASSERT_EQ(z.ProvinceCount(), 4);
  EXPECT_EQ(z.GetProvince(0)->Areas, (Strings{"K1A0A0", "K2A0A0"}));
  EXPECT_EQ(z.GetProvince(1)->Province, "BC");
  EXPECT_EQ(z.GetProvince(2)->Province, "ON");  // a second run: a second entry
  EXPECT_EQ(z.GetProvince(2)->AreasTo, (Strings{"L1A9Z9"}));
  EXPECT_EQ(z.GetProvince(3)->Country, "US");  // anything but CA
  EXPECT_EQ(z.GetProvince(3)->Areas, (Strings{"12345"}));
  z.Load("nothing");
  EXPECT_EQ(z.Zone, "");
  EXPECT_EQ(z.ProvinceCount(), 0);
}

TEST_F(Zones, FixtureTables) {
  CopyFixtures({"Zones", "AreaToZone"});
  Strings codes;
  LoadZoneCodes(codes);
  EXPECT_EQ(codes, (Strings{" 5", "1", "10", "100", "101", "11", "1A", "2", "20", "3", "9"}));
  TZoneArray zones;
  LoadZones(zones);
  ASSERT_EQ(zones.size(), codes.size());
  const TZone& one = *zones[1];
  EXPECT_EQ(one.Name, "Zone 1 - Saint John");  // the deleted row of "1" is not seen
  ASSERT_EQ(one.ProvinceCount(), 5);  // rows 1, 10, 14, 16 and 23; not those of 10, 100, 11, 1A
  EXPECT_EQ(one.GetProvince(0)->Province, "R8");
  EXPECT_EQ(zones[2]->ProvinceCount(), 4);
  EXPECT_EQ(zones[0]->Name, "Zone  5 - Saguenay");
  FreeZones(zones);
  EXPECT_TRUE(zones.empty());
}

// Loaded all at once, the zones are those of a walk of Zones in tag order,
// each what loading it on its own gives: on the host engine's tables with
// deleted rows, codes that begin alike, and rows written out of code order
// (3,000 zones, 60,000 rows in the larger set), and with a code listed twice,
// one more of its rows deleted and one appended last.
TEST_F(Zones, LoadingAllIsLoadingEach) {
  auto edit = [&](const std::string& code) {
    const int z = mOpen(AppEngine, Path("Zones"), "zone");
    ASSERT_EQ(d4appendBlank(z), 0);
    ASSERT_EQ(replace(z, "zone", code), 0);
    ASSERT_EQ(replace(z, "name", "Listed again"), 0);
    ASSERT_EQ(d4close(z), 0);
    const int a = mOpen(AppEngine, Path("AreaToZone"), "zone");
    ASSERT_EQ(d4seek(a, code), 0);
    ASSERT_EQ(d4delete(a), 0);
    ASSERT_EQ(d4appendBlank(a), 0);
    ASSERT_EQ(replace(a, "zone", code), 0);
    ASSERT_EQ(replace(a, "area", "CAON******"), 0);
    ASSERT_EQ(d4close(a), 0);
  };
  auto text = [](const TZone& z) {
    std::string s = z.Zone + "|" + z.Name;
    for (const auto& e : z.Provinces) {
      s += "|" + e->Country + e->Province + ":";
      for (size_t k = 0; k < e->Areas.size(); ++k) s += e->Areas[k] + "-" + (k < e->AreasTo.size() ? e->AreasTo[k] : "") + ",";
    }
    return s;
  };
  for (const char* set : {"small", "medium"}) {
    SCOPED_TRACE(set);
    CopyFixtures({"Zones", "AreaToZone"}, set);
    edit("2");
    Strings walked;
    const int t = mOpen(AppEngine, Path("Zones"), "zone");
    ASSERT_NE(t, 0) << LastErrorText();
    for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) walked.push_back(fetch(t, "zone"));
    d4close(t);
    Strings codes;
    LoadZoneCodes(codes);
    EXPECT_EQ(codes, walked);
    TZoneArray zones;
    LoadZones(zones);
    ASSERT_EQ(zones.size(), walked.size());
    size_t areas = 0;
    for (size_t i = 0; i < zones.size(); ++i) {
      ASSERT_EQ(zones[i]->Zone, walked[i]);
      TZone one;
      one.Load(walked[i]);
      ASSERT_EQ(text(*zones[i]), text(one));
      for (const auto& e : one.Provinces) areas += e->Areas.size();
    }
    EXPECT_GT(areas, zones.size());
    EXPECT_EQ(std::count(walked.begin(), walked.end(), "2"), 2);
  }
}

TEST(ZoneObject, EntryOperations) {
  TZone z;
  z.Zone = "Z";
  z.SetProvinceCount(3);
  ASSERT_EQ(z.ProvinceCount(), 3);
  z.GetProvince(0)->Province = "A";
  z.GetProvince(1)->Province = "B";
  z.GetProvince(2)->Province = "C";
  z.DeleteProvince(1);
  ASSERT_EQ(z.ProvinceCount(), 2);
  EXPECT_EQ(z.GetProvince(1)->Province, "C");
  z.SetProvinceCount(1);
  EXPECT_EQ(z.GetProvince(0)->Province, "A");
  EXPECT_EQ(z.GetProvince(1), nullptr);
  z.Clear();
  EXPECT_EQ(z.Zone, "");
  EXPECT_EQ(z.ProvinceCount(), 0);
}

}  // namespace
