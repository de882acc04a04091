// vadoviver-cli watch package|shipment [--interval S] [--settle S]: the
// automatic cycle without a window, one line per pass on standard output.
// SIGINT and SIGTERM end it: a wait at once, a pass after the step in flight
// (a label is never left printed but not marked).
#include <cmath>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "engine/uSequncr.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/text.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace {

const char* const kWatchUsage =
    "usage: vadoviver-cli [--home DIR] watch package|shipment [--interval S] [--settle S]\n"
    "  S in seconds (fractions allowed); defaults: 10 between passes, 60 for the labels to settle\n";

// Seconds as milliseconds; false for anything but a number from 0 to a day.
bool Seconds(const std::string& text, int& ms) {
  char* end = nullptr;
  const double s = std::strtod(text.c_str(), &end);
  if (text.empty() || *end != '\0' || !std::isfinite(s) || s < 0 || s > 86400) return false;
  ms = static_cast<int>(std::lround(s * 1000));
  return true;
}

// The cycle's messages: the pass line says what happened; a warning the
// window would show in a box goes to standard error as well.
class WatchView : public TPassView {
 public:
  void ShowStatus(const std::string&) override {}
  void HideStatus() override {}
  void ShowMessage(const TPassMessage& m) override {
    std::cerr << "vadoviver-cli: " << m.Caption << ": " << m.Text << "\n" << std::flush;
  }
};

int CannotStart(const std::string& why) {
  std::cerr << "vadoviver-cli: watch: " << why << "\n";
  return 1;
}

}  // namespace

int RunWatchCommand(const std::vector<std::string>& args) {
  if (args.empty() || (args[0] != "package" && args[0] != "shipment")) {
    std::cerr << kWatchUsage;
    return 2;
  }
  const TPassKind kind = args[0] == "package" ? TPassKind::Package : TPassKind::Shipment;
  TCycle cycle(CliProcessing().Clock());
  for (size_t i = 1; i < args.size(); i += 2) {
    int ms = 0;
    if (i + 1 >= args.size() || !Seconds(args[i + 1], ms) || (args[i] != "--interval" && args[i] != "--settle")) {
      std::cerr << kWatchUsage;
      return 2;
    }
    if (args[i] == "--interval")
      cycle.SetInterval(ms);
    else
      cycle.SetSettle(ms);
  }

  // The same settings the window starts from; what cannot work at all is
  // refused at once, so that a service manager sees it.
  TPassInput in;
  in.QueryFile = plat::Trim(AppSetup->QueryFile);
  in.Source = plat::Trim(AppSetup->SourcePath);
  in.Result = plat::Trim(AppSetup->ResultPath);
  TSortOrderArray order;
  if (!ReadSortFile(in.QueryFile, order))
    return CannotStart("Sort file invalid: \"" + in.QueryFile + "\" ([Files] Query in " + AppSetup->IniFileName +
                       ") gives no sort key");
  if (kind == TPassKind::Shipment) {
    if (in.Source == in.Result)
      return CannotStart("Result path invalid: Destination path must be different from the source path.");
    for (const std::string* folder : {&in.Source, &in.Result})
      if (folder->empty() || !plat::DirectoryExists(*folder))
        return CannotStart("no such folder \"" + *folder + "\" ([Paths] Source and Result in " +
                           AppSetup->IniFileName + ")");
  } else if (!d4exists(AppSetup->MultiShipperPath + "\\Labels")) {
    return CannotStart("no Labels table in \"" + AppSetup->MultiShipperPath + "\" (Kavlo Desko's Multi-Shipper folder)");
  }

  plat::InstallStopSignals();
  WatchView view;
  cycle.Run(CliProcessing(), kind, [&] { return in; }, view,
            [&](const TPassResult& r) {
              std::cout << cycle.PassLine(r) << "\n" << std::flush;
              WarnIfLogFailing();
            });
  return 0;
}
