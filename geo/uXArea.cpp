// Provinces, states and their postal lines from the host's reference tables.
#include "geo/uXArea.h"

#include "setup/TableAccess.h"
#include "setup/uSetup.h"

void FreeProvinces(TProvinceArray& list) {
  for (auto& p : list) p.reset();  // in index order
  list.clear();
}

void GetPostalPrefixes(const std::string& province, TStringList& list) {
  list.clear();
  struct Row {
    const char* code;
    std::initializer_list<const char*> prefixes;
  };
  static const Row rows[] = {
      {"NF", {"A"}},
      {"NS", {"B"}},
      {"PE", {"C"}},
      {"NB", {"E"}},
      {"QC", {"G", "H", "J"}},
      {"ON", {"K", "L", "M", "N", "P"}},
      {"MB", {"R"}},
      {"SK", {"S"}},
      {"AB", {"T"}},
      {"BC", {"V"}},
      {"NU", {"X0A", "X0B", "X0C"}},
      {"YT", {"Y"}},
  };
  // NU and NT share the letter X: X0A to X0C are Nunavut's, the rest NT's.
  if (province == "NT") {
    list.push_back("X0D");
    for (char c = 'E'; c <= 'Z'; ++c) list.push_back(std::string("X0") + c);
    list.push_back("X1");
    for (char d = '2'; d <= '9'; ++d) list.push_back(std::string("X") + d);
    return;
  }
  for (const Row& r : rows)
    if (province == r.code) {
      for (const char* p : r.prefixes) list.push_back(p);
      return;
    }
}

namespace {

// Adds a tag on one field to a table that has none of its own and selects it;
// whether the tag was added now or existed before does not matter.
void SelectFieldTag(int table, const std::string& name) {
  const int index = d4index(table, "");
  i4tagAdd(index, {TAG4INFO{name, name, "", 0, 0}, TAG4INFO{}});
  d4tagSelectP(table, d4tag(table, name));
}

}  // namespace

namespace {

// Without the areas the two postal tables stay closed: no lines are read and
// no tags added.
void LoadList(TProvinceArray& list, bool withAreas) {
  FreeProvinces(list);
  if (!AppSetup) return;
  const std::string folder = AppSetup->RatingPath + "\\";
  const int provinces = mOpen(AppEngine, folder + "Provinces", "name");
  const int postal = withAreas ? mOpen(AppEngine, folder + "Postal", "") : 0;
  const int uszip = withAreas ? mOpen(AppEngine, folder + "USZip", "") : 0;
  if (postal) SelectFieldTag(postal, "postal_cod");
  if (uszip) SelectFieldTag(uszip, "state_code");

  TStringList prefixes;
  for (int rc = provinces ? d4top(provinces) : 1; rc == 0; rc = d4skip(provinces, 1)) {
    auto p = std::make_unique<TProvince>();
    p->Country = fetch(provinces, "country");
    p->Province = fetch(provinces, "province");
    p->Sequence = ifetch(provinces, "sequence");
    p->Name = fetch(provinces, "name");
    if (p->Country == "CA") {
      GetPostalPrefixes(p->Province, prefixes);
      for (const std::string& prefix : prefixes) {
        if (!postal) break;
        for (int f = d4seek(postal, prefix); f == 0; f = d4seekNext(postal, prefix)) {
          p->Areas.push_back(fetch(postal, "postal_cod"));
          p->AreasTo.push_back(fetch(postal, "postal_to"));
          p->Towns.push_back(fetch(postal, "town"));
        }
      }
    } else if (uszip) {
      for (int f = d4seek(uszip, p->Province); f == 0; f = d4seekNext(uszip, p->Province)) {
        p->Areas.push_back(fetch(uszip, "zip_code"));
        p->Towns.push_back(fetch(uszip, "city_name"));
      }
    }
    list.push_back(std::move(p));
  }
  if (uszip) d4close(uszip);
  if (postal) d4close(postal);
  if (provinces) d4close(provinces);
}

}  // namespace

void LoadProvinces(TProvinceArray& list) { LoadList(list, true); }
void LoadProvinceRows(TProvinceArray& list) { LoadList(list, false); }
