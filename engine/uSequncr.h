#pragma once
// The sequencing engine: sort orders, items and their keys, shipment-file and
// label sequencing, label printing.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "geo/uXArea.h"
#include "geo/uXZone.h"

enum TSortField : uint8_t {
  sfZoneLocation = 0,
  sfZoneCode = 1,
  sfProvinceLocation = 2,
  sfProvinceCode = 3,
  sfCustomerId = 4,
  sfCustomerName = 5,
  sfPostalCode = 6,
  sfShipmentRef1 = 7,
  sfShipmentRef2 = 8,
  sfPackageRef1 = 9,
  sfPackageRef2 = 10,
  sfPackageRef3 = 11,
  sfPackageRef4 = 12,
};
constexpr int SortFieldCount = 13;
extern const std::array<const char*, SortFieldCount> SortFieldCaptions;

// The keys in priority order (element 0 most significant), each ascending
// unless marked descending, and whether the sorted batch is handed out last
// item first (label printers stack the first label at the bottom).
struct TSortOrderArray : std::vector<TSortField> {
  using std::vector<TSortField>::vector;

  uint32_t DescendingMask = 0;  // bit k: element k sorts descending
  bool Reverse = false;

  bool Descending(size_t k) const { return k < 32 && ((DescendingMask >> k) & 1u) != 0; }
  void SetDescending(size_t k, bool on) {
    if (k >= 32) return;
    if (on)
      DescendingMask |= 1u << k;
    else
      DescendingMask &= ~(1u << k);
  }
  friend bool operator==(const TSortOrderArray& a, const TSortOrderArray& b) {
    return static_cast<const std::vector<TSortField>&>(a) == static_cast<const std::vector<TSortField>&>(b) &&
           a.DescendingMask == b.DescendingMask && a.Reverse == b.Reverse;
  }
};

// Names of the sort-file keys in section "Keys": "Key%d", "Desc%d" (1 to 5)
// and "Reverse".
std::string SortKeyName(int priority);
std::string SortDescName(int priority);
extern const char* const SortReverseName;

// Replaces order with the order read from the sort file; true when it has at
// least one element. DescN = 1 makes the element read from KeyN descending
// (any other value or none: ascending); Reverse = 1 sets Reverse.
bool ReadSortFile(const std::string& fileName, TSortOrderArray& order);

struct TItem {
  int32_t Origin = 0;
  std::array<std::string, SortFieldCount> Values;
  bool Done = false;
};

// True when A sorts strictly after B under the order (ordinal byte comparison,
// reversed for a descending key). Reverse plays no part here.
bool ItemAfter(const TItem& A, const TItem& B, const TSortOrderArray& order);

// written, when given, receives the number of shipments in the result.
bool SequenceShipmentFile(const std::string& sourceFile, const std::string& resultFile,
                          const TProvinceArray& provinces, const TSortOrderArray& order,
                          size_t* written = nullptr);

bool SequenceLabels(const TProvinceArray& provinces, const TSortOrderArray& order);
bool PrintLabelDocument(const std::string& fileName, uint8_t document);

// ---------------------------------------------------------------------------
// Keys of a pass, shared by shipment and label sequencing.

// The codes that occur in a sort order. A derived key the order does not use
// is never computed, and the zone tables are read only for a zone field.
struct TFieldsInUse {
  std::array<bool, SortFieldCount> Used{};
  bool operator[](TSortField f) const { return Used[f]; }
  bool Zone() const { return Used[sfZoneLocation] || Used[sfZoneCode]; }
};
TFieldsInUse FieldsInUse(const TSortOrderArray& order);

// The province list a pass under this order reads: the Provinces rows when the
// zone location or the province location is in use, else none. A pass never
// reads the postal lines, so Postal and USZip stay closed.
void LoadPassProvinces(const TSortOrderArray& order, TProvinceArray& provinces);

// Country + "%.3d" Sequence of the zone's first area entry's province, found in
// the province list; "" for a zone without entries or a province not listed.
std::string ZoneLocation(const TZone& zone, const TProvinceArray& provinces);

// Derives zone location, zone code and province location for the items of one
// pass. Zone look-up is indexed per province code; the result is that of
// going through the zones in zone order (first matching zone wins, within it
// the first matching entry).
class TKeyDeriver {
 public:
  TKeyDeriver(const TProvinceArray& provinces, const TSortOrderArray& order);
  ~TKeyDeriver();
  TKeyDeriver(const TKeyDeriver&) = delete;
  TKeyDeriver& operator=(const TKeyDeriver&) = delete;

  // Zone preparation: when a zone field is in use, loads the zone list
  // (LoadZones, from AppSetup->MultiShipperPath), indexes it and frees it again.
  void PrepareZones();
  // The same from a zone list the caller holds; when sfZoneLocation is in use
  // each zone's Name is replaced by its location, as a pass does.
  void PrepareZones(TZoneArray& zones);

  const TFieldsInUse& Fields() const { return fields_; }
  // Sets the derived keys in use from Values[sfProvinceCode] and
  // Values[sfPostalCode]; keys not in use are left as they are.
  void Derive(TItem& item) const;
  // Zone of an item: location and code, both "" outside every zone.
  void ZoneOf(const std::string& province, const std::string& postal,
              std::string& location, std::string& code) const;
  // "%.3d" Sequence of the last list entry of that province; "" when none.
  std::string ProvinceLocation(const std::string& province) const;

 private:
  struct Impl;
  TFieldsInUse fields_;
  const TProvinceArray* provinces_ = nullptr;
  std::unique_ptr<Impl> impl_;
};

// Input positions in output order: by the keys under the order, items whose
// keys all tie in input order; with Reverse, exactly that sequence backwards.
std::vector<size_t> SortedOrder(const std::vector<TItem>& items, const TSortOrderArray& order);

// Hands the items to step in sorted order and sets Done on each handed item;
// stops after the first step that fails. True when every step succeeded.
bool TakeOutSorted(std::vector<TItem>& items, const TSortOrderArray& order,
                   const std::function<bool(TItem&)>& step);

// ---------------------------------------------------------------------------
// Reading state over an open shipment file. Buffered: bytes are fetched from
// the file in large blocks, and Position counts every byte consumed.

namespace plat {
class File;
namespace os { class File; }
}  // namespace plat

class TFieldReader {
 public:
  explicit TFieldReader(plat::File& file);
  explicit TFieldReader(plat::os::File& file);
  int64_t Position = 0;
  bool AtEnd = false;
  bool AtLineEnd = false;

  // Next character of the current line, "" at the end of the line or file.
  std::string ReadChar();
  // Next field of the current line, trimmed and upper-cased (first 255 characters).
  std::string ReadField();
  // Reads and drops up to n fields, stopping at the end of the line.
  void SkipFields(int n);
  // Reads and drops characters up to the end of the current line.
  void SkipLine();

  // ReadField that returns "" without reading once the line has ended.
  std::string ReadFieldInLine();
 private:
  int NextChar();  // next character of the line, -1 at the end of line or file
  bool ReadFieldImpl(std::string* out);
  bool Fill();
  std::function<size_t(void*, size_t)> read_;  // bytes read, 0 at the end or on failure
  std::unique_ptr<unsigned char[]> buf_;
  size_t pos_ = 0, len_ = 0;
};
