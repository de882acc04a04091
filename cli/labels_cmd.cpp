// vadoviver-cli labels SORTFILE: one manual package pass.
// vadoviver-cli labels --preview SORTFILE: the waiting labels in print order.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "engine/uSequncr.h"
#include "geo/uXArea.h"
#include "platform/text.h"
#include "setup/TableAccess.h"

namespace {

const char* const kLabelsUsage = "usage: vadoviver-cli [--home DIR] labels [--preview] SORTFILE\n";

// One line per label: position, file name, shipment, package, document and
// the keys joined by "|", tab-separated as in the pass log.
// Reads only the province rows the keys use: loading the whole province list
// would add its tags to Postal and USZip, and a preview changes nothing.
int ShowLabelsPreview(const std::string& query, TProvinceArray& provinces) {
  TSortOrderArray order;
  if (!ReadSortFile(query, order)) {
    std::cerr << "vadoviver-cli: Sort file invalid: " << query << " gives no sort key (section Keys, Key1 to Key5)\n";
    return 1;
  }
  LoadPassProvinces(order, provinces);
  std::vector<TLabelLine> labels;
  if (!PreviewLabels(provinces, order, labels)) {
    std::cerr << "vadoviver-cli: Unable to read the waiting labels: " << LastErrorText() << "\n";
    return 1;
  }
  std::string line;
  for (const TLabelLine& l : labels) {
    // The pass log's printed line without its time and word.
    const std::string fields = TPassLog::PrintedFields(l);
    line = fields.substr(fields.find('\t') + 1);
    line += '\n';
    std::cout << line;
  }
  std::cout.flush();
  return std::cout ? 0 : 1;
}

}  // namespace

int RunLabelsCommand(const std::vector<std::string>& args) {
  const bool preview = !args.empty() && args[0] == "--preview";
  if (args.size() != (preview ? 2u : 1u)) {
    std::cerr << kLabelsUsage;
    return 1;
  }
  const std::string query = plat::Trim(args.back());
  if (preview) {
    TProvinceArray provinces;
    const int status = ShowLabelsPreview(query, provinces);
    FreeProvinces(provinces);
    return status;
  }
  TPassInput in;
  in.QueryFile = query;
  TCliPassView view;
  const TPassResult r = CliProcessing().ManualPackagePass(in, view);
  return ManualPassStatus(TPassKind::Package, r, in);
}
