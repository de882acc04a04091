#pragma once
// What the feeder (a second process standing in for the host program) writes,
// shared with the tests that check what came out: label documents and
// shipment blocks whose bytes follow from their number alone.
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace feeder {

// Shipments of the host's Shipment table (the shared fixture set) that the
// labels refer to.
constexpr std::array<int, 10> kShipments = {1000002, 1000005, 1000010, 1000011, 1000012,
                                            1000014, 1000018, 1000021, 1000024, 1000027};

inline int LabelShipment(int id) { return kShipments[static_cast<size_t>(id) % kShipments.size()]; }
inline int LabelPackage(int id) { return 1 + id % 3; }
// Every fourth label is a commercial invoice (document kind 1).
inline int LabelDocumentKind(int id) { return id % 4 == 3 ? 1 : 0; }

inline std::string LabelFileName(const std::string& docs, int id) {
  char n[32];
  std::snprintf(n, sizeof n, "/L%06d.zpl", id);
  return docs + n;
}

// One CR LF line: a printer sink can cut a stream of documents at the line ends.
inline std::string LabelDocument(int id) {
  char s[64];
  std::snprintf(s, sizeof s, "^XA^FDL%06d^FS^XZ\r\n", id);
  return s;
}

// The label number of one document, or 0 when the bytes are not exactly one.
inline int LabelOf(const std::string& doc) {
  if (doc.size() != 21 || doc.compare(0, 7, "^XA^FDL") != 0) return 0;
  const int id = std::atoi(doc.c_str() + 7);
  return id > 0 && LabelDocument(id) == doc ? id : 0;
}

// Customer names repeat (ties keep file order) and do not follow the numbers.
inline std::string ShipmentName(int id) {
  char s[32];
  std::snprintf(s, sizeof s, "NAME %03d", (id * 7919) % 250);
  return s;
}

// A shipment block: header line (customer ID, name, postal code, province)
// and one detail line.
inline std::string ShipmentBlock(int id) {
  char s[160];
  std::snprintf(s, sizeof s, "H,2024,%d,S%06d,%s,6,7,8,9,10,11,12,K1A 0B1,ON\r\nD,detail %06d\r\n", id, id,
                ShipmentName(id).c_str(), id);
  return s;
}

}  // namespace feeder
