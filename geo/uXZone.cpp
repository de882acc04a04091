// Delivery zones in the program's own Zones and AreaToZone tables.
#include "geo/uXZone.h"

#include "platform/file.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace {

constexpr size_t kZoneWidth = 9;  // width of the zone field, and of the "zone" tag's key

std::string TablePath(const char* name) {
  return AppSetup ? AppSetup->MultiShipperPath + "\\" + name : std::string();
}

// A new installation has neither zone table: both are created empty, with
// their "zone" tags, as soon as either is needed.
void CreateMissingZoneTables() {
  if (!plat::DirectoryExists(AppSetup->MultiShipperPath)) return;
  const TAG4INFO zoneTag{"ZONE", "ZONE", "", 0, 0};
  const struct {
    const char* name;
    std::vector<FIELD4INFO> fields;
  } tables[] = {
      {"Zones", {{"ZONE", 'C', 9, 0}, {"NAME", 'C', 40, 0}}},
      {"AreaToZone", {{"ZONE", 'C', 9, 0}, {"AREA", 'C', 10, 0}, {"AREA_TO", 'C', 10, 0}}},
  };
  for (const auto& t : tables) {
    const std::string path = TablePath(t.name);
    if (d4exists(path)) continue;
    const int h = d4create(AppEngine, path, t.fields, {zoneTag, TAG4INFO{}});
    if (h) d4close(h);
  }
}

// Opens Zones or AreaToZone with its "zone" tag.
int OpenZoneTable(const char* name) {
  if (!AppSetup) return 0;
  CreateMissingZoneTables();
  return mOpen(AppEngine, TablePath(name), "zone");
}

// Whole-code look-up: the seek key is padded to the key width (a shorter key
// would match every code that begins with it), and each row found is checked
// against the code, so zone "1" never takes the rows of "10".
std::string SeekKey(const std::string& code) {
  std::string key = code;
  if (key.size() < kZoneWidth) key.resize(kZoneWidth, ' ');
  return key;
}

// Positions on the first row of the code; 0 when found.
int SeekZone(int table, const std::string& code) {
  const std::string key = SeekKey(code);
  for (int rc = d4seek(table, key); rc == 0; rc = d4seekNext(table, key))
    if (fetch(table, "zone") == code) return 0;
  return 1;
}

// Calls f on every row of the code, in tag order.
template <typename F>
void ForEachZoneRow(int table, const std::string& code, F f) {
  const std::string key = SeekKey(code);
  for (int rc = d4seek(table, key); rc == 0; rc = d4seekNext(table, key))
    if (fetch(table, "zone") == code) f();
}

// Marks every row of the code deleted and packs when any was; the table is
// locked by the caller. Record numbers are gathered first so that the walk
// does not depend on how seek-next behaves on a deleted record.
void DeleteZoneRows(int table, const std::string& code) {
  std::vector<int32_t> recs;
  ForEachZoneRow(table, code, [&] { recs.push_back(d4recNo(table)); });
  int marked = 0;
  for (int32_t rec : recs)
    if (d4go(table, rec) == 0 && d4delete(table) == 0) ++marked;
  if (marked > 0) d4pack(table);
}

std::string Sub(const std::string& s, size_t from, size_t count) {
  return from < s.size() ? s.substr(from, count) : std::string();
}

// Load on open tables.
void LoadZone(TZone& zone, int zones, int areas, const std::string& code) {
  zone.Clear();
  if (!zones || SeekZone(zones, code) != 0) return;
  zone.Zone = fetch(zones, "zone");
  zone.Name = fetch(zones, "name");
  if (!areas) return;
  std::string group;
  ForEachZoneRow(areas, code, [&] {
    const std::string area = fetch(areas, "area");
    if (area.size() < 4) return;  // no country and province: not an area row
    if (area.compare(0, 4, group) != 0) {
      group = area.substr(0, 4);
      zone.SetProvinceCount(zone.ProvinceCount() + 1);
      TProvince* e = zone.GetProvince(zone.ProvinceCount() - 1);
      e->Country = group.compare(0, 2, "CA") == 0 ? "CA" : "US";
      e->Province = group.substr(2, 2);
    }
    TProvince* e = zone.GetProvince(zone.ProvinceCount() - 1);
    if (e->Country == "CA") {
      const std::string a = Sub(area, 4, 6);
      if (a != "******") {
        e->Areas.push_back(a);
        e->AreasTo.push_back(Sub(fetch(areas, "area_to"), 4, 6));
      }
    } else {
      const std::string a = Sub(area, 4, 5);
      if (a != "*****") e->Areas.push_back(a);
    }
  });
}

}  // namespace

TProvince* TZone::GetProvince(int i) const {
  return i >= 0 && i < ProvinceCount() ? Provinces[i].get() : nullptr;
}

int TZone::ProvinceCount() const { return static_cast<int>(Provinces.size()); }

void TZone::SetProvinceCount(int n) {
  if (n < 0) n = 0;
  while (ProvinceCount() > n) Provinces.pop_back();
  while (ProvinceCount() < n) Provinces.push_back(std::make_unique<TProvince>());
}

void TZone::Clear() {
  Zone.clear();
  Name.clear();
  Provinces.clear();
}

void TZone::DeleteProvince(int i) {
  if (i >= 0 && i < ProvinceCount()) Provinces.erase(Provinces.begin() + i);
}

void TZone::Load(const std::string& code) {
  const int zones = OpenZoneTable("Zones");
  const int areas = OpenZoneTable("AreaToZone");
  LoadZone(*this, zones, areas, code);
  if (areas) d4close(areas);
  if (zones) d4close(zones);
}

bool TZone::Save(bool IsNew) {
  const int zones = OpenZoneTable("Zones");
  if (!zones) return false;
  const int rc = IsNew ? d4appendBlank(zones) : SeekZone(zones, Zone);
  if (rc != 0) {
    d4close(zones);
    return false;
  }
  replace(zones, "zone", Zone);
  replace(zones, "name", Name);
  d4flush(zones);
  d4close(zones);

  const int areas = OpenZoneTable("AreaToZone");
  if (!areas) return false;
  if (d4lockFile(areas) != 0) {
    d4close(areas);
    return false;
  }
  DeleteZoneRows(areas, Zone);
  d4unlock(areas);

  bool ok = true;
  auto append = [&](const std::string& area, const std::string& areaTo) {
    if (!ok) return;
    if (d4appendBlank(areas) != 0) {
      ok = false;
      return;
    }
    replace(areas, "zone", Zone);
    replace(areas, "area", area);
    if (!areaTo.empty()) replace(areas, "area_to", areaTo);
  };
  for (const auto& e : Provinces) {
    const bool ca = e->Country == "CA";
    const std::string prefix = (ca ? "CA" : "US") + e->Province;
    const bool whole = e->Areas.empty() || static_cast<int>(e->Areas.size()) == e->AreaCount;
    if (whole) {
      append(prefix + (ca ? "******" : "*****"), "");
    } else {
      for (size_t k = 0; k < e->Areas.size(); ++k)
        append(prefix + e->Areas[k],
               ca ? prefix + (k < e->AreasTo.size() ? e->AreasTo[k] : std::string()) : std::string());
    }
    if (!ok) break;
  }
  if (ok) d4flush(areas);
  d4close(areas);
  return ok;
}

bool TZone::Delete() {
  const int areas = OpenZoneTable("AreaToZone");
  const bool areasLocked = areas && d4lockFile(areas) == 0;
  if (areasLocked) {
    DeleteZoneRows(areas, Zone);
    d4unlock(areas);
  }
  if (areas) d4close(areas);
  if (!areasLocked) return false;

  const int zones = OpenZoneTable("Zones");
  const bool zonesLocked = zones && d4lockFile(zones) == 0;
  bool found = false;
  if (zonesLocked) {
    if (SeekZone(zones, Zone) == 0) {
      found = true;
      d4delete(zones);
      d4pack(zones);
    }
    d4unlock(zones);
  }
  if (zones) d4close(zones);
  return zonesLocked && found;
}

bool TZone::IsUnique(const std::string& code) {
  const int zones = OpenZoneTable("Zones");
  const bool found = zones && SeekZone(zones, code) == 0;
  if (zones) d4close(zones);
  return !found;
}

void LoadZoneCodes(TStringList& list) {
  list.clear();
  const int zones = OpenZoneTable("Zones");
  if (!zones) return;
  for (int rc = d4top(zones); rc == 0; rc = d4skip(zones, 1)) list.push_back(fetch(zones, "zone"));
  d4close(zones);
}

void LoadZones(TZoneArray& zones) {
  FreeZones(zones);
  const int rows = OpenZoneTable("Zones");
  if (!rows) return;
  // One more handle on Zones for the look-ups and one on AreaToZone serve
  // every zone, instead of two opens per zone.
  const int seek = OpenZoneTable("Zones");
  const int areas = OpenZoneTable("AreaToZone");
  for (int rc = d4top(rows); rc == 0; rc = d4skip(rows, 1)) {
    auto z = std::make_unique<TZone>();
    LoadZone(*z, seek, areas, fetch(rows, "zone"));
    zones.push_back(std::move(z));
  }
  if (areas) d4close(areas);
  if (seek) d4close(seek);
  d4close(rows);
}

void FreeZones(TZoneArray& zones) {
  for (auto& z : zones) z.reset();
  zones.clear();
}
