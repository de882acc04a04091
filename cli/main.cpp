// vadoviver-cli: the processing passes and a table dump for scripted and
// headless use. Settings come from Vadoviver.ini of the program's folder, or of
// the folder given with --home.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "engine/uSequncr.h"
#include "geo/uXArea.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace {

const char* const kUsage =
    "usage: vadoviver-cli [--home DIR] COMMAND ...\n"
    "  shipments SORTFILE SOURCE RESULT   sort a shipment file into RESULT\n"
    "  labels SORTFILE                    sort and print the waiting package labels\n"
    "  dump FOLDER\\TABLE [TAG]            print a table's records\n";

void Fail(const std::string& caption, const std::string& text) {
  std::cerr << "vadoviver-cli: " << caption << ": " << text << "\n";
}

}  // namespace

// One manual shipment pass.
int RunShipmentsCommand(const std::vector<std::string>& args) {
  if (args.size() != 3) {
    std::cerr << kUsage;
    return 1;
  }
  const std::string& query = args[0];
  const std::string& source = args[1];
  const std::string& result = args[2];
  const std::string createFailed = "Unable to create the sorted result text file.";
  if (!plat::FileExists(result) && !plat::CreateEmptyFile(result)) {
    Fail("Unable to create new file", createFailed + " (" + result + ")");
    return 1;
  }
  std::cout << "Sorting a Shipment File ...\n";
  TProvinceArray provinces;
  TSortOrderArray order;
  const bool validOrder = ReadSortFile(plat::Trim(query), order);
  LoadPassProvinces(order, provinces);
  int status = 0;
  if (!validOrder) {
    Fail("Sort file invalid", plat::Trim(query) + " gives no sort key (section Keys, Key1 to Key5)");
    status = 1;
  } else if (!SequenceShipmentFile(plat::Trim(source), plat::Trim(result), provinces, order)) {
    Fail("Unable to create new file",
         createFailed + " The source is missing or in use, the result is in use, or a read or write failed.");
    status = 1;
  } else {
    std::cout << "File Sort Processed Successfully.\n";
  }
  FreeProvinces(provinces);
  return status;
}

// Record number, then every field as fetch gives it, tab-separated; in tag
// order when a tag is given, else in record order.
int RunDumpCommand(const std::vector<std::string>& args) {
  if (args.empty() || args.size() > 2) {
    std::cerr << kUsage;
    return 1;
  }
  const std::string tag = args.size() == 2 ? args[1] : std::string();
  const int t = mOpen(AppEngine, args[0], tag);
  if (!t) {
    Fail("Unable to open table", args[0] + (tag.empty() ? "" : " (tag " + tag + ")") + ": " + LastErrorText());
    return 1;
  }
  const int n = d4numFields(t);
  std::vector<std::string> names;
  for (int i = 1; i <= n; ++i) names.push_back(d4fieldName(t, i));
  std::string line;
  for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1)) {
    line = std::to_string(d4recNo(t));
    for (const std::string& f : names) {
      line += '\t';
      line += fetch(t, f);
    }
    line += '\n';
    std::cout << line;
  }
  d4close(t);
  std::cout.flush();
  return std::cout ? 0 : 1;
}

// Replaced by the labels command where it is built in.
__attribute__((weak)) int RunLabelsCommand(const std::vector<std::string>&) {
  std::cerr << "labels: not available\n";
  return 1;
}

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  std::string home;
  if (args.size() >= 2 && args[0] == "--home") {
    home = args[1];
    args.erase(args.begin(), args.begin() + 2);
  }
  if (args.empty()) {
    std::cerr << kUsage;
    return 1;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command != "shipments" && command != "dump" && command != "labels") {
    std::cerr << "vadoviver-cli: unknown command " << command << "\n" << kUsage;
    return 1;
  }
  int status = 1;
  try {
    OpenData();
    AppSetup = new TSetup(home.empty() ? plat::ExeFolder() : home);
    if (command == "shipments")
      status = RunShipmentsCommand(args);
    else if (command == "dump")
      status = RunDumpCommand(args);
    else
      status = RunLabelsCommand(args);
  } catch (const std::exception& e) {
    std::cerr << "vadoviver-cli: " << e.what() << "\n";
    status = 1;
  }
  delete AppSetup;
  AppSetup = nullptr;
  CloseData(AppEngine);
  return status;
}
