#include <chrono>

#include "geo/uXArea.h"
#include "geo_env.h"

namespace {

using Strings = std::vector<std::string>;

TEST(GetPostalPrefixes, Table) {
  struct {
    std::string code;
    Strings prefixes;
  } cases[] = {
      {"NF", {"A"}}, {"NS", {"B"}}, {"PE", {"C"}}, {"NB", {"E"}}, {"QC", {"G", "H", "J"}},
      {"ON", {"K", "L", "M", "N", "P"}}, {"MB", {"R"}}, {"SK", {"S"}}, {"AB", {"T"}}, {"BC", {"V"}},
      {"NU", {"X0A", "X0B", "X0C"}}, {"YT", {"Y"}}, {"NL", {}}, {"on", {}}, {"", {}},
  };
  for (const auto& c : cases) {
    Strings list = {"left over"};
    GetPostalPrefixes(c.code, list);
    EXPECT_EQ(list, c.prefixes) << c.code;
  }
}

TEST(GetPostalPrefixes, NorthwestTerritories) {
  Strings list;
  GetPostalPrefixes("NT", list);
  Strings expected = {"X0D"};
  for (char c = 'E'; c <= 'Z'; ++c) expected.push_back(std::string("X0") + c);
  expected.push_back("X1");
  for (char d = '2'; d <= '9'; ++d) expected.push_back(std::string("X") + d);
  EXPECT_EQ(list, expected);
  ASSERT_EQ(list.size(), 32u);
  EXPECT_EQ(list.front(), "X0D");
  EXPECT_EQ(list.back(), "X9");
}

class Provinces : public GeoEnv {
 protected:
  const TProvince* Find(const TProvinceArray& list, const std::string& code) {
    for (const auto& p : list)
      if (p->Province == code) return p.get();
    return nullptr;
  }
};

TEST_F(Provinces, LoadsFixtureTablesInNameOrder) {
  CopyFixtures({"Provinces", "Postal", "USZip"});
  TProvinceArray list;
  LoadProvinces(list);
  ASSERT_EQ(list.size(), 25u);
  EXPECT_EQ(list[0]->Name, "Alberta");
  EXPECT_EQ(list[1]->Name, "British Columbia");
  EXPECT_EQ(list[2]->Name, "California");
  EXPECT_EQ(list[2]->Country, "US");
  EXPECT_EQ(list[2]->Sequence, 112);
  EXPECT_EQ(list.back()->Name, "Yukon");

  const TProvince* qc = Find(list, "QC");
  ASSERT_TRUE(qc);
  EXPECT_EQ(qc->Areas, (Strings{"G7L2H8", "G7Z5W0", "H1M2V8", "J4M2T6", "J8P9J3"}));  // G, then H, then J
  EXPECT_EQ(qc->AreasTo, (Strings{"G7L5Z9", "G7Z8Z9", "H1M6Z9", "J4M6Z9", "J8P9Z9"}));
  EXPECT_EQ(qc->Towns, (Strings{"Brandon", "Victoria", "Iqaluit", "Barrie", "Edmonton"}));
  EXPECT_EQ(qc->AreaCount, 0);
  EXPECT_EQ(Find(list, "NT")->Areas, (Strings{"X5J7K1"}));
  EXPECT_TRUE(Find(list, "NU")->Areas.empty());

  const TProvince* ny = Find(list, "NY");
  ASSERT_TRUE(ny);
  EXPECT_EQ(ny->Areas, (Strings{"18526", "23888", "23284", "19991", "23411"}));  // ties in record order
  EXPECT_EQ(ny->Towns.size(), ny->Areas.size());
  EXPECT_TRUE(ny->AreasTo.empty());
  const TProvince* california = Find(list, "CA");
  ASSERT_TRUE(california);
  EXPECT_EQ(california->Areas, (Strings{"93446", "92177"}));

  // The tags stay on the tables and a second load gives the same list.
  for (const char* table : {"Postal", "USZip"}) {
    const int t = mOpen(AppEngine, Path(table), std::string(table) == "Postal" ? "postal_cod" : "state_code");
    EXPECT_NE(t, 0) << table;
    d4close(t);
  }
  TProvinceArray again;
  LoadProvinces(again);
  ASSERT_EQ(again.size(), list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    EXPECT_EQ(again[i]->Province, list[i]->Province);
    EXPECT_EQ(again[i]->Areas, list[i]->Areas);
  }
  // The rows alone: the same provinces in the same order, no postal lines.
  LoadProvinceRows(again);
  ASSERT_EQ(again.size(), list.size());
  for (size_t i = 0; i < list.size(); ++i) {
    const TProvince& a = *again[i];
    EXPECT_EQ(a.Country + a.Province + std::to_string(a.Sequence) + a.Name,
              list[i]->Country + list[i]->Province + std::to_string(list[i]->Sequence) + list[i]->Name);
    EXPECT_TRUE(a.Areas.empty() && a.AreasTo.empty() && a.Towns.empty());
  }
  FreeProvinces(list);
  EXPECT_TRUE(list.empty());
}

TEST_F(Provinces, CountryAndPrefixRules) {
  Create("Provinces", {{"COUNTRY", 'C', 2}, {"PROVINCE", 'C', 2}, {"SEQUENCE", 'N', 3}, {"NAME", 'C', 30}},
         {{{"COUNTRY", "CA"}, {"PROVINCE", "NT"}, {"SEQUENCE", "12"}, {"NAME", "Northwest Territories"}},
          {{"COUNTRY", "CA"}, {"PROVINCE", "NU"}, {"SEQUENCE", "11"}, {"NAME", "Nunavut"}},
          {{"COUNTRY", "CA"}, {"PROVINCE", "NL"}, {"SEQUENCE", "1"}, {"NAME", "Labrador"}},
          {{"COUNTRY", "ca"}, {"PROVINCE", "QC"}, {"SEQUENCE", "5"}, {"NAME", "Quebec lower"}}},
         {{"name", "UPPER(NAME)"}});
  Create("Postal", {{"POSTAL_COD", 'C', 6}, {"POSTAL_TO", 'C', 6}, {"TOWN", 'C', 30}},
         {{{"POSTAL_COD", "X9A0A0"}, {"POSTAL_TO", "X9A9Z9"}, {"TOWN", "t9"}},
          {{"POSTAL_COD", "X0A1A1"}, {"POSTAL_TO", "X0A9Z9"}, {"TOWN", "nu"}},
          {{"POSTAL_COD", "X1A0A0"}, {"POSTAL_TO", "X1A9Z9"}, {"TOWN", "t1"}},
          {{"POSTAL_COD", "X0E0A0"}, {"POSTAL_TO", "X0E9Z9"}, {"TOWN", "te"}},
          {{"POSTAL_COD", "X0D0A0"}, {"POSTAL_TO", "X0D9Z9"}, {"TOWN", "td"}},
          {{"POSTAL_COD", "A1A1A1"}, {"POSTAL_TO", "A1A9Z9"}, {"TOWN", "nf"}}});
  Create("USZip", {{"ZIP_CODE", 'C', 5}, {"STATE_CODE", 'C', 2}, {"CITY_NAME", 'C', 30}},
         {{{"ZIP_CODE", "H1H1H"}, {"STATE_CODE", "QC"}, {"CITY_NAME", "zip city"}}});
  TProvinceArray list;
  LoadProvinces(list);
  ASSERT_EQ(list.size(), 4u);
  EXPECT_EQ(list[0]->Province, "NL");
  EXPECT_TRUE(list[0]->Areas.empty());  // not in the prefix table
  EXPECT_EQ(list[1]->Province, "NT");
  EXPECT_EQ(list[1]->Areas, (Strings{"X0D0A0", "X0E0A0", "X1A0A0", "X9A0A0"}));
  EXPECT_EQ(list[1]->Towns, (Strings{"td", "te", "t1", "t9"}));
  EXPECT_EQ(list[2]->Province, "NU");
  EXPECT_EQ(list[2]->Areas, (Strings{"X0A1A1"}));
  EXPECT_EQ(list[3]->Country, "ca");  // lower case: looked up as a state
  EXPECT_EQ(list[3]->Areas, (Strings{"H1H1H"}));
  EXPECT_TRUE(list[3]->AreasTo.empty());
  EXPECT_EQ(list[3]->Towns, (Strings{"zip city"}));
}

TEST_F(Provinces, MissingTablesGiveEmptyList) {
  TProvinceArray list;
  list.push_back(std::make_unique<TProvince>());
  LoadProvinces(list);
  EXPECT_TRUE(list.empty());
}

}  // namespace
