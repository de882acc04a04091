#pragma once
// The sequencing engine: sort orders, items and their keys, shipment-file and
// label sequencing, label printing.
#include <array>
#include <cstdint>
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

using TSortOrderArray = std::vector<TSortField>;

// Replaces order with the order read from the sort file; true when it has at
// least one element.
bool ReadSortFile(const std::string& fileName, TSortOrderArray& order);

struct TItem {
  int32_t Origin = 0;
  std::array<std::string, SortFieldCount> Values;
  bool Done = false;
};

// True when A sorts strictly after B under the order (ordinal byte comparison).
bool ItemAfter(const TItem& A, const TItem& B, const TSortOrderArray& order);

bool SequenceShipmentFile(const std::string& sourceFile, const std::string& resultFile,
                          const TProvinceArray& provinces, const TSortOrderArray& order);

bool SequenceLabels(const TProvinceArray& provinces, const TSortOrderArray& order);
bool PrintLabelDocument(const std::string& fileName, uint8_t document);
