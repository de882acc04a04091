#pragma once
// Provinces, states and their postal lines, from the host's reference tables.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

using TStringList = std::vector<std::string>;

class TProvince {
 public:
  std::string Country;   // "CA" for Canada, anything else a US state
  std::string Province;  // two-letter code
  int32_t Sequence = 0;  // geographic order: lower lies further east
  std::string Name;
  int32_t AreaCount = 0; // zones only: postal lines of the province
  TStringList Areas;     // CA: postal_cod (range starts); US: zip_code
  TStringList AreasTo;   // CA only: postal_to, parallel to Areas
  TStringList Towns;     // town / city_name, parallel to Areas
};

// Owns its elements.
using TProvinceArray = std::vector<std::unique_ptr<TProvince>>;

// Frees what the array holds, then fills it from Provinces/Postal/USZip of the
// rating folder (AppSetup->RatingPath), in the order of the "name" tag.
void LoadProvinces(TProvinceArray& list);
// The same list without the postal lines: Country, Province, Sequence and
// Name of each Provinces record, Postal and USZip left unread.
void LoadProvinceRows(TProvinceArray& list);
void FreeProvinces(TProvinceArray& list);
// Empties the list, then adds the postal-code prefixes of a Canadian province.
void GetPostalPrefixes(const std::string& province, TStringList& list);
