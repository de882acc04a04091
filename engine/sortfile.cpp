// Sort orders and sort files.
#include <cstdio>

#include "engine/uSequncr.h"
#include "platform/ini.h"

const std::array<const char*, SortFieldCount> SortFieldCaptions = {
    "Zone Location",        "Zone Code",           "Province Location",    "Province Code",
    "Ship To Customer ID",  "Ship To Customer Name", "Ship To Postal Code", "Shipment Reference 1",
    "Shipment Reference 2", "Package Reference 1", "Package Reference 2",  "Package Reference 3",
    "Package Reference 4",
};

std::string SortKeyName(int priority) {
  char key[16];
  std::snprintf(key, sizeof key, "Key%d", priority);
  return key;
}

std::string SortDescName(int priority) {
  char key[16];
  std::snprintf(key, sizeof key, "Desc%d", priority);
  return key;
}

const char* const SortReverseName = "Reverse";

bool ReadSortFile(const std::string& fileName, TSortOrderArray& order) {
  order = TSortOrderArray();
  for (int i = 1; i <= 5; ++i) {
    const int code = plat::IniReadInteger(fileName, "Keys", SortKeyName(i), -1);
    // Codes outside 0..12 name no field: skipped like an absent key, so they
    // never reach the engine as an index into the key texts.
    if (code < 0 || code >= SortFieldCount) continue;
    // The direction travels with its key, also where gaps close up.
    if (plat::IniReadInteger(fileName, "Keys", SortDescName(i), 0) == 1) order.SetDescending(order.size(), true);
    order.push_back(static_cast<TSortField>(code));
  }
  if (order.empty()) return false;
  order.Reverse = plat::IniReadInteger(fileName, "Keys", SortReverseName, 0) == 1;
  return true;
}
