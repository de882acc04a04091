// vadoviver-cli labels SORTFILE: one manual package pass.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "engine/uSequncr.h"
#include "geo/uXArea.h"
#include "platform/text.h"

int RunLabelsCommand(const std::vector<std::string>& args) {
  if (args.size() != 1) {
    std::cerr << "usage: vadoviver-cli [--home DIR] labels SORTFILE\n";
    return 1;
  }
  const std::string query = plat::Trim(args[0]);
  std::cout << "Sorting Package Labels ...\n" << std::flush;
  TProvinceArray provinces;
  TSortOrderArray order;
  const bool validOrder = ReadSortFile(query, order);
  LoadPassProvinces(order, provinces);
  int status = 0;
  if (!validOrder) {
    std::cerr << "vadoviver-cli: Sort file invalid: " << query
              << " gives no sort key (section Keys, Key1 to Key5)\n";
    status = 1;
  } else if (!SequenceLabels(provinces, order)) {
    std::cerr << "vadoviver-cli: Error Occured: Unable to process package label sort."
                 " The Labels table is locked or cannot be opened, or a label could not be printed"
                 " (no usable printer for its kind, document missing or in use, printer or port failure);"
                 " the labels that did not print wait for the next pass.\n";
    status = 1;
  } else {
    std::cout << "File Sort Processed Successfully.\n";
  }
  FreeProvinces(provinces);
  return status;
}
