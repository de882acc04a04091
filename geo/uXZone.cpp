// Delivery zones in the program's own Zones and AreaToZone tables.
#include "geo/uXZone.h"

#include <string_view>
#include <unordered_map>

#include "platform/file.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace {

constexpr size_t kZoneWidth = 9;  // width of the zone field, and of the "zone" tag's key

std::string TablePath(const char* name) {
  return AppSetup ? AppSetup->MultiShipperPath + "\\" + name : std::string();
}

// Opens Zones or AreaToZone with its "zone" tag; 0 when it does not open
// (missing is not an error for a reader: there are no zones yet).
enum class Missing { Fail, Create };
int OpenZoneTable(const char* name, Missing missing = Missing::Fail) {
  if (!AppSetup) return 0;
  if (missing == Missing::Create) CreateMissingZoneTables();
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

// Positions on the first row of the code: 0 when found, 1 when the table
// holds none, -1 when the table could not be read (a failed read must not
// pass for "no such zone").
int SeekZone(int table, const std::string& code) {
  const std::string key = SeekKey(code);
  int rc = d4seek(table, key);
  for (; rc == 0; rc = d4seekNext(table, key))
    if (fetch(table, "zone") == code) return 0;
  return rc < 0 ? -1 : 1;
}

// Calls f on every row of the code, in tag order; false when the walk was cut
// short by a failed read.
template <typename F>
bool ForEachZoneRow(int table, const std::string& code, F f) {
  const std::string key = SeekKey(code);
  int rc = d4seek(table, key);
  for (; rc == 0; rc = d4seekNext(table, key))
    if (fetch(table, "zone") == code) f();
  return rc >= 0;
}

// Removes every row of the code in one step, so that a failure leaves all of
// them (marking them one by one could leave some); the table is locked by the
// caller. False when any row may have stayed behind.
bool DeleteZoneRows(int table, const std::string& code) {
  std::vector<int32_t> recs;
  if (!ForEachZoneRow(table, code, [&] { recs.push_back(d4recNo(table)); })) return false;
  return recs.empty() || d4removeRecords(table, recs) == 0;
}

// Takes back a Zones row appended by a save that then failed, so that no
// half-written zone is listed; best effort, the save fails either way.
void DropAppendedRow(int table, int32_t rec) {
  if (rec <= 0 || d4lockFile(table) != 0) return;
  if (d4go(table, rec) == 0 && d4delete(table) == 0) d4pack(table);
  d4unlock(table);
}

std::string_view Sub(std::string_view s, size_t from, size_t count) {
  return from < s.size() ? s.substr(from, count) : std::string_view();
}

// Appends one AreaToZone row to the zone: a new area entry at every change
// of country and province (the first four characters of area).
void AddAreaRow(TZone& zone, std::string& group, std::string_view area, std::string_view areaTo) {
  if (area.size() < 4) return;  // no country and province: not an area row
  if (area.substr(0, 4) != group) {
    group = area.substr(0, 4);
    zone.SetProvinceCount(zone.ProvinceCount() + 1);
    TProvince* e = zone.GetProvince(zone.ProvinceCount() - 1);
    e->Country = group.compare(0, 2, "CA") == 0 ? "CA" : "US";
    e->Province = group.substr(2, 2);
  }
  TProvince* e = zone.GetProvince(zone.ProvinceCount() - 1);
  if (e->Country == "CA") {
    const std::string_view a = Sub(area, 4, 6);
    if (a != "******") {
      e->Areas.emplace_back(a);
      e->AreasTo.emplace_back(Sub(areaTo, 4, 6));
    }
  } else {
    const std::string_view a = Sub(area, 4, 5);
    if (a != "*****") e->Areas.emplace_back(a);
  }
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
    AddAreaRow(zone, group, area, area.size() >= 4 && area.compare(0, 2, "CA") == 0 ? fetch(areas, "area_to") : "");
  });
}

}  // namespace

// A new installation has neither zone table. They are the program's own
// files in the host's folder, so they are made only when a zone is saved:
// both empty, with their "zone" tags. Reading without them finds no zones.
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

// Every table call counts: a false result means the new zone may not be (all)
// written, in one of these states: the Zones row could not be found, appended
// or written (the area rows are the old ones); the old area rows could not be
// removed (the Zones row is written, the area rows are the old ones); an area
// row could not be written (only the rows written before it exist).
bool TZone::Save(bool IsNew) {
  const int zones = OpenZoneTable("Zones", Missing::Create);
  if (!zones) return false;
  if ((IsNew ? d4appendBlank(zones) : SeekZone(zones, Zone)) != 0) {
    d4close(zones);
    return false;
  }
  const int32_t rec = d4recNo(zones);
  bool ok = replace(zones, "name", Name) == 0 && replace(zones, "zone", Zone) == 0 && d4flush(zones) == 0;
  if (!ok && IsNew) DropAppendedRow(zones, rec);
  if (d4close(zones) != 0) ok = false;
  if (!ok) return false;

  const int areas = OpenZoneTable("AreaToZone", Missing::Create);
  if (!areas) return false;
  if (d4lockFile(areas) != 0) {
    d4close(areas);
    return false;
  }
  ok = DeleteZoneRows(areas, Zone);
  if (d4unlock(areas) != 0) ok = false;
  if (!ok) {
    d4close(areas);
    return false;
  }

  // The code goes in last: a row whose other fields could not be stored stays
  // outside every zone.
  auto append = [&](const std::string& area, const std::string& areaTo) {
    ok = ok && d4appendBlank(areas) == 0 && replace(areas, "area", area) == 0 &&
         (areaTo.empty() || replace(areas, "area_to", areaTo) == 0) && replace(areas, "zone", Zone) == 0;
  };
  for (const auto& e : Provinces) {
    const bool ca = e->Country == "CA";
    const std::string prefix = (ca ? "CA" : "US") + e->Province;
    const bool whole = e->Areas.empty() || static_cast<int>(e->Areas.size()) == e->AreaCount;
    if (whole) {
      append(prefix + (ca ? "******" : "*****"), "");
    } else {
      for (size_t k = 0; k < e->Areas.size() && ok; ++k)
        append(prefix + e->Areas[k],
               ca ? prefix + (k < e->AreasTo.size() ? e->AreasTo[k] : std::string()) : std::string());
    }
    if (!ok) break;
  }
  if (ok && d4flush(areas) != 0) ok = false;
  if (d4close(areas) != 0) ok = false;
  return ok;
}

// True only when the zone's area rows and its Zones row are both gone. The
// Zones row is left alone unless every area row was removed, so that a zone
// is never dropped while rows of it stay behind. With missingIsDone a Zones row
// that is not there (an earlier attempt removed it, then failed) counts as removed.
bool TZone::Delete(bool missingIsDone) {
  const int areas = OpenZoneTable("AreaToZone");
  if (!areas) return false;
  bool ok = d4lockFile(areas) == 0;
  if (ok) {
    ok = DeleteZoneRows(areas, Zone);
    if (d4unlock(areas) != 0) ok = false;
  }
  if (d4close(areas) != 0) ok = false;
  if (!ok) return false;

  const int zones = OpenZoneTable("Zones");
  if (!zones) return false;
  ok = d4lockFile(zones) == 0;
  if (ok) {
    const int found = SeekZone(zones, Zone);
    ok = (found == 1 && missingIsDone) || (found == 0 && d4delete(zones) == 0 && d4pack(zones) == 0);
    if (d4unlock(zones) != 0) ok = false;
  }
  if (d4close(zones) != 0) ok = false;
  return ok;
}

// A failed read counts as holding the code: a duplicate code is worse than a
// refused one. (A Zones table that does not open refuses the save anyway.)
bool TZone::IsUnique(const std::string& code) {
  const int zones = OpenZoneTable("Zones");
  if (!zones) return true;
  const bool unique = SeekZone(zones, code) == 1;
  d4close(zones);
  return unique;
}

void LoadZoneCodes(TStringList& list) {
  list.clear();
  const int zones = OpenZoneTable("Zones");
  if (!zones) return;
  d4readAll(zones, {"zone"}, list);
  d4close(zones);
}

// The same zones as a Load of each Zones row's code, each table read whole
// in "zone" tag order instead of a seek per zone: the rows of a code come in
// the same order either way, and the first Zones row of a code gives its
// description.
void LoadZones(TZoneArray& zones) {
  FreeZones(zones);
  std::vector<std::string> cells;
  const int rows = OpenZoneTable("Zones");
  if (!rows) return;
  d4readAll(rows, {"zone", "name"}, cells);
  d4close(rows);
  if (cells.empty()) return;
  struct Found {
    TZone* zone;        // the first of the code's zones
    std::string group;  // its current area entry (see AddAreaRow)
  };
  std::unordered_map<std::string, Found> byCode;
  zones.reserve(cells.size() / 2);
  for (size_t i = 0; i + 1 < cells.size(); i += 2) {
    auto z = std::make_unique<TZone>();
    z->Zone = cells[i];
    auto [it, fresh] = byCode.try_emplace(std::move(cells[i]), Found{z.get(), {}});
    z->Name = fresh ? std::move(cells[i + 1]) : it->second.zone->Name;
    zones.push_back(std::move(z));
  }
  const int areas = OpenZoneTable("AreaToZone");
  if (areas) {
    d4readAll(areas, {"zone", "area", "area_to"}, cells);
    d4close(areas);
    // The rows of a code mostly come one after the other.
    const std::string* code = nullptr;
    Found* found = nullptr;
    for (size_t i = 0; i + 2 < cells.size(); i += 3) {
      if (!code || cells[i] != *code) {
        code = &cells[i];
        const auto it = byCode.find(*code);
        found = it == byCode.end() ? nullptr : &it->second;
      }
      if (!found) continue;
      const std::string& area = cells[i + 1];
      const bool ca = area.size() >= 4 && area.compare(0, 2, "CA") == 0;
      AddAreaRow(*found->zone, found->group, area, ca ? std::string_view(cells[i + 2]) : std::string_view());
    }
  }
  // A code listed twice (never written so, but possible in the files) gives
  // the same zone twice.
  for (auto& z : zones) {
    const TZone* first = byCode.find(z->Zone)->second.zone;
    if (first == z.get()) continue;
    for (const auto& e : first->Provinces) z->Provinces.push_back(std::make_unique<TProvince>(*e));
  }
}

void FreeZones(TZoneArray& zones) {
  for (auto& z : zones) z.reset();
  zones.clear();
}
