#include <gtest/gtest.h>

#include <random>

#include "geo/uXCoverage.h"
#include "platform/text.h"

namespace {

std::unique_ptr<TProvince> Prov(const std::string& country, const std::string& code, std::vector<std::string> lines,
                                std::vector<std::string> to = {}) {
  auto p = std::make_unique<TProvince>();
  p->Country = country;
  p->Province = code;
  p->Name = "Name of " + code;
  p->Areas = std::move(lines);
  p->AreasTo = std::move(to);
  for (size_t i = 0; i < p->Areas.size(); ++i) p->Towns.push_back("Town " + std::to_string(i));
  return p;
}

std::unique_ptr<TZone> Zone(const std::string& code, std::vector<std::unique_ptr<TProvince>> entries) {
  auto z = std::make_unique<TZone>();
  z->Zone = code;
  z->Provinces = std::move(entries);
  return z;
}

// Whether a zone takes a package of that province and postal code, written
// straight from the sorting rule: every entry of the province, in order.
bool Takes(const TZone& z, const std::string& province, const std::string& postal) {
  for (const auto& e : z.Provinces) {
    if (e->Province != province) continue;
    if (e->Areas.empty()) return true;
    for (size_t k = 0; k < e->Areas.size(); ++k) {
      if (e->Country == "CA") {
        const std::string to = k < e->AreasTo.size() ? e->AreasTo[k] : "";
        if (e->Areas[k] <= postal && postal <= to) return true;
      } else if (plat::UpperAZ(e->Areas[k]) == plat::UpperAZ(postal)) {
        return true;
      }
    }
  }
  return false;
}

// The literal walk: every line of the list against every zone in order.
void ExpectSameAsWalk(const TProvinceArray& provinces, const TZoneArray& zones, const std::string& trace) {
  const TZoneCoverage got = ComputeZoneCoverage(provinces, zones);
  size_t gap = 0;
  int64_t lines = 0, uncovered = 0, overlapping = 0;
  std::unordered_set<std::string> uncoveredProvinces;
  for (const auto& p : provinces)
    for (size_t i = 0; i < p->Areas.size(); ++i, ++lines) {
      std::vector<int32_t> taken;
      for (size_t z = 0; z < zones.size(); ++z)
        if (Takes(*zones[z], p->Province, p->Areas[i])) taken.push_back(static_cast<int32_t>(z));
      if (taken.size() == 1) continue;
      (taken.empty() ? uncovered : overlapping)++;
      if (taken.empty()) uncoveredProvinces.insert(p->Province);
      ASSERT_LT(gap, got.Gaps.size()) << trace;
      const TLineCoverage& g = got.Gaps[gap++];
      ASSERT_EQ(g.Province, p.get()) << trace;
      ASSERT_EQ(g.Line, static_cast<int32_t>(i)) << trace;
      ASSERT_EQ(g.Zones, taken) << trace << " line " << p->Province << " " << p->Areas[i];
    }
  EXPECT_EQ(gap, got.Gaps.size()) << trace;
  EXPECT_EQ(got.Lines, lines) << trace;
  EXPECT_EQ(got.Uncovered, uncovered) << trace;
  EXPECT_EQ(got.Overlapping, overlapping) << trace;
  EXPECT_EQ(got.UncoveredProvinces, uncoveredProvinces) << trace;
}

TEST(ZoneCoverage, SameAsWalkingEveryLineThroughEveryZone) {
  std::mt19937 rng(11);
  const char* codes[] = {"ON", "QC", "BC", "NY", "VT", "XX"};  // XX is in no province list
  auto code = [&](int len) {
    std::string s;
    for (int k = 0; k < len; ++k) s += "AaB019 "[rng() % 7];
    return s;
  };
  for (int round = 0; round < 300; ++round) {
    TProvinceArray provinces;
    for (int p = rng() % 6; p > 0; --p) {
      const int c = static_cast<int>(rng() % 5);  // the same code may stand twice
      std::vector<std::string> from, to;
      for (int l = rng() % 8; l > 0; --l) {
        from.push_back(code(2));
        if (c < 3) to.push_back(code(2));
      }
      provinces.push_back(Prov(c < 3 ? "CA" : "US", codes[c], from, to));
    }
    TZoneArray zones;
    for (int z = rng() % 6; z > 0; --z) {
      std::vector<std::unique_ptr<TProvince>> entries;
      for (int e = rng() % 3; e > 0; --e) {
        const int c = static_cast<int>(rng() % 6);
        std::vector<std::string> from, to;
        for (int a = rng() % 4; a > 0; --a) {  // none: the whole province
          from.push_back(code(1 + rng() % 2));
          if (rng() % 5) to.push_back(code(2));  // a missing range end now and then
        }
        // A zone entry's country decides how it matches, even against a
        // province of the other kind.
        entries.push_back(Prov(rng() % 4 ? (c < 3 ? "CA" : "US") : (c < 3 ? "US" : "CA"), codes[c], from, to));
      }
      zones.push_back(Zone("Z" + std::to_string(zones.size()), std::move(entries)));
    }
    ExpectSameAsWalk(provinces, zones, "round " + std::to_string(round));
    if (::testing::Test::HasFatalFailure()) return;
  }
}

TEST(ZoneCoverage, ReportListsGapsWithZonesAndWinner) {
  TProvinceArray provinces;
  provinces.push_back(Prov("CA", "ON", {"K1A0A0", "K2B0A0", "P0A0A0"}, {"K1A9Z9", "K2B9Z9", "P0A9Z9"}));
  provinces.push_back(Prov("US", "NY", {"10001", "10002"}));
  provinces.push_back(Prov("US", "VT", {"05001"}));
  TZoneArray zones;
  std::vector<std::unique_ptr<TProvince>> east, ny, all;
  east.push_back(Prov("CA", "ON", {"K0A0A0"}, {"K9Z9Z9"}));  // the K lines, not P
  east.push_back(Prov("US", "ny", {"10001"}));                // another province code: no match
  ny.push_back(Prov("US", "NY", {"10001", "10001"}));         // listed twice, one zone
  all.push_back(Prov("US", "VT", {}));
  all.push_back(Prov("CA", "ON", {"k2b0a0"}, {"K2B9Z9"}));    // lower case sorts after every capital
  zones.push_back(Zone("EAST", std::move(east)));
  zones.push_back(Zone("NY", std::move(ny)));
  zones.push_back(Zone("VT", std::move(all)));

  const TZoneCoverage c = ComputeZoneCoverage(provinces, zones);
  EXPECT_EQ(ZoneCoverageReport(c, zones),
            "status\tcountry\tprovince\tname\tpostal\tpostal_to\ttown\tzones\twinner\n"
            "uncovered\tCA\tON\tName of ON\tP0A0A0\tP0A9Z9\tTown 2\t\t\n"
            "uncovered\tUS\tNY\tName of NY\t10002\t\tTown 1\t\t\n"
            "# postal lines\t6\n"
            "# uncovered\t2\n"
            "# covered more than once\t0\n"
            "# provinces with uncovered lines\t2\n"
            "# zones\t3\n");

  // An upper-case copy of the Ontario range in VT makes K2B... overlap.
  zones[2]->Provinces[1]->Areas[0] = "K2B0A0";
  const TZoneCoverage o = ComputeZoneCoverage(provinces, zones);
  ASSERT_EQ(o.Overlapping, 1);
  EXPECT_NE(ZoneCoverageReport(o, zones).find("overlap\tCA\tON\tName of ON\tK2B0A0\tK2B9Z9\tTown 1\tEAST,VT\tEAST\n"),
            std::string::npos);
}

}  // namespace
