#pragma once
// Reference geography of the demo: provinces and states with their postal
// letters, zip ranges and towns. Fixed data; the seed only picks among it.
#include <string>
#include <vector>

namespace demo {

struct ProvinceInfo {
  const char* code;
  const char* name;
  double longitude;  // of the capital or the centre; orders east to west
  int areas;         // about how many forward sortation areas the demo gives it
};

struct CityRange {  // big cities by forward sortation area range (inclusive)
  const char* from;
  const char* to;
  const char* town;
};

struct StateInfo {
  const char* code;
  const char* name;
  double longitude;
  std::vector<std::pair<int, int>> zipPrefixes;        // three-digit ranges, inclusive
  std::vector<std::pair<int, const char*>> cities;     // three-digit prefix, city
};

const std::vector<ProvinceInfo>& CanadianProvinces();
const std::vector<StateInfo>& UsStates();
const std::vector<CityRange>& CanadianCities();
// Smaller real towns of a province, for the areas outside the big cities.
const std::vector<const char*>& ProvinceTowns(const std::string& province);
// Candidate forward sortation areas of a province (three characters each).
std::vector<std::string> CandidateAreas(const std::string& province);

}  // namespace demo
