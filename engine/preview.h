#pragma once
// What a shipment pass would do with a file, without doing it.
#include <cstdint>
#include <string>
#include <vector>

#include "engine/uSequncr.h"

// A shipment block in output order.
struct TShipmentLine {
  int Position = 0;               // from 1, in output order
  int64_t Origin = 0;             // offset of its header line in the file
  std::string Header;             // the header line, without its line end
  std::vector<std::string> Keys;  // the key texts, one per element of the sort order
};

// The shipment blocks of sourceFile in the order a shipment pass would write
// them. The file is only read (no lock, nothing written). False when it
// cannot be opened or read.
bool PreviewShipmentFile(const std::string& sourceFile, const TProvinceArray& provinces,
                         const TSortOrderArray& order, std::vector<TShipmentLine>& out);
