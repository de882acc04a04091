// vadoviver-cli: the processing passes and a table dump for scripted and
// headless use. Settings come from Vadoviver.ini of the program's folder, or of
// the folder given with --home.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include <memory>

#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace {

const char* const kUsage =
    "usage: vadoviver-cli [--home DIR] COMMAND ...\n"
    "       vadoviver-cli --help | -h\n"
    "  shipments SORTFILE SOURCE RESULT     sort a shipment file into RESULT\n"
    "  shipments --preview SORTFILE SOURCE  list SOURCE's shipments in sorted order; writes nothing\n"
    "  labels SORTFILE                      sort and print the waiting package labels\n"
    "  labels --preview SORTFILE            list the waiting labels in print order; prints nothing\n"
    "  dump FOLDER\\TABLE [TAG]              print a table's records\n"
    "  zones --coverage                     postal lines in no zone or in several (exit 2 when any)\n"
    "  watch package|shipment [--interval S] [--settle S]\n"
    "                                       the automatic cycle without a window\n"
    "Settings come from Vadoviver.ini in DIR (default: the program's folder); passes are\n"
    "logged to Vadoviver.log beside it ([Log] File= moves the log, empty turns it off).\n"
    "Exit status: 0 done, 1 failed, 2 no or an unknown command, 75 Kavlo Desko busy (try again later).\n";

std::unique_ptr<TProcessing> g_processing;

void Fail(const std::string& caption, const std::string& text) {
  std::cerr << "vadoviver-cli: " << caption << ": " << text << "\n";
}

}  // namespace

TProcessing& CliProcessing() { return *g_processing; }

// One manual shipment pass.
int RunShipmentsCommand(const std::vector<std::string>& args) {
  if (!args.empty() && args[0] == "--preview") return RunShipmentsPreview({args.begin() + 1, args.end()});
  if (args.size() != 3) {
    std::cerr << kUsage;
    return 1;
  }
  TPassInput in;
  in.QueryFile = plat::Trim(args[0]);
  in.Source = plat::Trim(args[1]);
  in.Result = plat::Trim(args[2]);
  TCliPassView view;
  const TPassResult r = CliProcessing().ManualShipmentPass(in, view);
  return ManualPassStatus(TPassKind::Shipment, r, in);
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
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    std::cout << kUsage;
    return 0;
  }
  // 2 for a command line that names no command we know, as is usual.
  if (args.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  const std::string command = args[0];
  args.erase(args.begin());
  if (command != "shipments" && command != "dump" && command != "labels" && command != "zones" && command != "watch") {
    std::cerr << "vadoviver-cli: unknown command " << command << "\n" << kUsage;
    return 2;
  }
  int status = 1;
  try {
    g_processing = std::make_unique<TProcessing>();
    AppSetup = new TSetup(home.empty() ? plat::ExeFolder() : home);
    if (command == "shipments")
      status = RunShipmentsCommand(args);
    else if (command == "dump")
      status = RunDumpCommand(args);
    else if (command == "zones")
      status = RunZonesCommand(args);
    else if (command == "watch")
      status = RunWatchCommand(args);
    else
      status = RunLabelsCommand(args);
  } catch (const std::exception& e) {
    std::cerr << "vadoviver-cli: " << e.what() << "\n";
    status = 1;
  }
  delete AppSetup;
  AppSetup = nullptr;
  g_processing.reset();
  return status;
}
