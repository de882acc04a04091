// A label's item built from arbitrary Labels, Shipment, Package and zone
// rows, then sorted. Input: the first byte chooses two sort keys and their
// directions; then one row per line, fields separated by '|': 'S' starts a
// Shipment row, 'P' a Package row, 'Z' a Zones row, 'A' an AreaToZone row,
// anything else a Labels row (file_name|document|shipment|package).
#include <cstdint>
#include <string>
#include <vector>

#include "engine/labels.h"
#include "engine/uSequncr.h"
#include "geo/uXZone.h"
#include "rows.h"

using fuzzrows::Check;

namespace {

const std::string& Tables() {
  static const std::string& dir = [] () -> const std::string& {
    const std::string& d = fuzzrows::Installation("label_item");
    fuzzrows::Create(d + "\\Labels",
                     {{"FILE_NAME", 'C', 128, 0}, {"DOCUMENT", 'N', 2, 0}, {"SHIPMENT", 'N', 10, 0}, {"PACKAGE", 'N', 5, 0}},
                     {{"DOCUMENT", "DOCUMENT"}});
    fuzzrows::Create(d + "\\Shipment",
                     {{"SHIPMENTID", 'N', 10, 0}, {"ST_PROV", 'C', 2, 0}, {"ST_CUSTID", 'C', 15, 0}, {"ST_NAME", 'C', 35, 0},
                      {"ST_POSTAL", 'C', 10, 0}, {"REFERENCE0", 'C', 30, 0}, {"REFERENCE1", 'C', 30, 0}},
                     {{"SHIPMENTID", "SHIPMENTID"}});
    fuzzrows::Create(d + "\\Package",
                     {{"SHIPMENTID", 'N', 10, 0}, {"PKG_NO", 'N', 4, 0}, {"REFERENCE1", 'C', 30, 0},
                      {"REFERENCE2", 'C', 30, 0}, {"REFERENCE3", 'C', 30, 0}, {"REFERENCE4", 'C', 30, 0}},
                     {{"SHIPMENTID", "SHIPMENTID"}});
    CreateMissingZoneTables();
    return d;
  }();
  return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string& dir = Tables();
  TSortOrderArray order{static_cast<TSortField>(data[0] % SortFieldCount),
                        static_cast<TSortField>((data[0] >> 4) % SortFieldCount)};
  order.SetDescending(0, data[0] & 0x40);
  order.SetDescending(1, data[0] & 0x80);

  std::vector<std::vector<std::string>> rows[5];  // labels, shipments, packages, zones, areas
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  for (const std::string& line : fuzzrows::Split(text, '\n')) {
    const std::string_view l(line);
    const int kind = l.empty() ? 0 : l[0] == 'S' ? 1 : l[0] == 'P' ? 2 : l[0] == 'Z' ? 3 : l[0] == 'A' ? 4 : 0;
    rows[kind].push_back(fuzzrows::Split(kind ? l.substr(1) : l, '|'));
  }
  const int labels = fuzzrows::Refill(dir + "\\Labels", {"FILE_NAME", "DOCUMENT", "SHIPMENT", "PACKAGE"}, rows[0]);
  fuzzrows::Refill(dir + "\\Shipment",
                   {"SHIPMENTID", "ST_PROV", "ST_CUSTID", "ST_NAME", "ST_POSTAL", "REFERENCE0", "REFERENCE1"}, rows[1]);
  fuzzrows::Refill(dir + "\\Package", {"SHIPMENTID", "PKG_NO", "REFERENCE1", "REFERENCE2", "REFERENCE3", "REFERENCE4"},
                   rows[2]);
  fuzzrows::Refill(dir + "\\Zones", {"ZONE", "NAME"}, rows[3]);
  fuzzrows::Refill(dir + "\\AreaToZone", {"ZONE", "AREA", "AREA_TO"}, rows[4]);

  const int t = mOpen(AppEngine, dir + "\\Labels", "document");
  Check(t != 0, "Labels opens");
  TProvinceArray provinces;
  std::vector<TLabelDoc> docs;
  std::vector<TItem> items;
  bool marked = false;
  Check(ReadLabels(t, provinces, order, docs, items, marked), "labels read");
  d4close(t);
  Check(static_cast<int>(docs.size()) == labels && items.size() == docs.size(), "one label and item per record");
  for (size_t i = 0; i < items.size(); ++i) Check(items[i].Origin == static_cast<int32_t>(i), "item belongs to its label");

  const std::vector<size_t> sorted = SortedOrder(items, order);
  Check(sorted.size() == items.size(), "every item sorted once");
  std::vector<bool> seen(items.size());
  for (size_t i : sorted) {
    Check(i < items.size() && !seen[i], "sorted order is a permutation");
    seen[i] = true;
  }
  for (size_t j = 1; j < sorted.size(); ++j)
    Check(!ItemAfter(items[sorted[j - 1]], items[sorted[j]], order), "items in key order");
  return 0;
}
