// Zone loading from arbitrary Zones and AreaToZone rows, and zone look-ups
// on what was loaded. Input: one row per line; a line starting with 'Z' is a
// Zones row (zone|name), any other an AreaToZone row (zone|area|area_to).
#include <cstdint>
#include <string>
#include <vector>

#include "engine/uSequncr.h"
#include "geo/uXZone.h"
#include "rows.h"

using fuzzrows::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string& dir = fuzzrows::Installation("zones");
  std::vector<std::vector<std::string>> zoneRows, areaRows;
  for (const std::string& line : fuzzrows::Split(std::string_view(reinterpret_cast<const char*>(data), size), '\n')) {
    if (!line.empty() && line[0] == 'Z')
      zoneRows.push_back(fuzzrows::Split(std::string_view(line).substr(1), '|'));
    else
      areaRows.push_back(fuzzrows::Split(line, '|'));
  }
  TZoneArray zones;
  CreateMissingZoneTables();
  const int nZones = fuzzrows::Refill(dir + "\\Zones", {"ZONE", "NAME"}, zoneRows);
  fuzzrows::Refill(dir + "\\AreaToZone", {"ZONE", "AREA", "AREA_TO"}, areaRows);

  LoadZones(zones);
  Check(static_cast<int>(zones.size()) == nZones, "one zone per Zones row");
  for (const auto& z : zones) {
    for (const auto& p : z->Provinces) {
      Check(p->Country == "CA" || p->Country == "US", "country of an area entry");
      if (p->Country == "CA") Check(p->Areas.size() == p->AreasTo.size(), "every range has its end");
    }
    TZone again;
    again.Load(z->Zone);
  }

  TProvinceArray provinces;
  TKeyDeriver keys(provinces, TSortOrderArray{sfZoneLocation, sfZoneCode, sfProvinceLocation});
  keys.PrepareZones(zones);
  std::string location, code;
  keys.ZoneOf("ON", "K1A0B1", location, code);
  // Each area row's own province and postal code ("CAONK1A0A0": country,
  // province, code).
  for (const auto& row : areaRows) {
    const std::string area = row.size() > 1 ? row[1] : "";
    keys.ZoneOf(area.size() > 2 ? area.substr(2, 2) : "", area.size() > 4 ? area.substr(4) : "", location, code);
  }
  FreeZones(zones);
  return 0;
}
