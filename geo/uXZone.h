#pragma once
// Delivery zones, kept in the program's own Zones and AreaToZone tables in the
// host's multi-shipper folder.
#include <memory>
#include <string>
#include <vector>

#include "geo/uXArea.h"

class TZone {
 public:
  std::string Zone;
  std::string Name;
  TProvinceArray Provinces;  // area entries, owned

  TProvince* GetProvince(int i) const;
  int ProvinceCount() const;
  void SetProvinceCount(int n);
  void Clear();
  void DeleteProvince(int i);
  void Load(const std::string& code);
  bool Save(bool IsNew);
  bool Delete(bool missingIsDone = false);
  bool IsUnique(const std::string& code);
};

using TZoneArray = std::vector<std::unique_ptr<TZone>>;

// Makes Zones and AreaToZone, empty with their "zone" tags, where missing.
// Only saving a zone calls it: passes and readers never create tables.
void CreateMissingZoneTables();
void LoadZoneCodes(TStringList& list);
void LoadZones(TZoneArray& zones);
void FreeZones(TZoneArray& zones);
