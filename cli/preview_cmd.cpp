// vadoviver-cli shipments --preview SORTFILE SOURCE: the shipments of SOURCE
// in the order a pass would write them; nothing is written or deleted.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "engine/preview.h"
#include "engine/uSequncr.h"
#include "geo/uXArea.h"
#include "platform/text.h"

// One line per shipment: position, keys joined by "|", then the block's
// header line as it stands in the file.
int RunShipmentsPreview(const std::vector<std::string>& args) {
  if (args.size() != 2) {
    std::cerr << "usage: vadoviver-cli [--home DIR] shipments --preview SORTFILE SOURCE\n";
    return 1;
  }
  const std::string query = plat::Trim(args[0]);
  const std::string source = plat::Trim(args[1]);
  TProvinceArray provinces;
  TSortOrderArray order;
  std::vector<TShipmentLine> lines;
  int status = 0;
  // Only the province rows the keys use, as the pass reads them.
  const bool validOrder = ReadSortFile(query, order);
  if (validOrder) LoadPassProvinces(order, provinces);
  if (!validOrder) {
    std::cerr << "vadoviver-cli: Sort file invalid: " << query << " gives no sort key (section Keys, Key1 to Key5)\n";
    status = 1;
  } else if (!PreviewShipmentFile(source, provinces, order, lines)) {
    std::cerr << "vadoviver-cli: Unable to read the shipment file " << source << "\n";
    status = 1;
  } else {
    std::string out;
    for (const TShipmentLine& l : lines) {
      out = std::to_string(l.Position) + '\t';
      for (size_t i = 0; i < l.Keys.size(); ++i) out += (i ? "|" : "") + LogField(l.Keys[i]);
      out += '\t' + l.Header + '\n';
      std::cout << out;
    }
    std::cout.flush();
    if (!std::cout) status = 1;
  }
  FreeProvinces(provinces);
  return status;
}
