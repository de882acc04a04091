// vadoviver-cli zones --coverage: which postal lines and zip codes of the
// province list no zone takes, and which several zones take.
#include <iostream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "geo/uXArea.h"
#include "geo/uXCoverage.h"
#include "geo/uXZone.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

int RunZonesCommand(const std::vector<std::string>& args) {
  if (args.size() != 1 || args[0] != "--coverage") {
    std::cerr << "usage: vadoviver-cli [--home DIR] zones --coverage\n";
    return 1;
  }
  // The province list reads missing tables as empty, which here would report
  // a clean bill for lines it never saw.
  for (const char* table : {"Provinces", "Postal", "USZip"}) {
    const std::string path = AppSetup->RatingPath + "\\" + table;
    const int t = mOpen(AppEngine, path, "");
    if (!t) {
      std::cerr << "vadoviver-cli: Unable to open table: " << path << ": " << LastErrorText() << "\n";
      return 1;
    }
    d4close(t);
  }
  TProvinceArray provinces;
  TZoneArray zones;
  LoadProvinces(provinces);
  LoadZones(zones);
  const TZoneCoverage coverage = ComputeZoneCoverage(provinces, zones);
  std::cout << ZoneCoverageReport(coverage, zones) << std::flush;
  const bool written = static_cast<bool>(std::cout);
  FreeZones(zones);
  FreeProvinces(provinces);
  if (!written) return 1;
  // Like diff: 0 when every line lies in exactly one zone, 2 when the report
  // lists lines, so a scheduled check can raise the alarm.
  return coverage.Gaps.empty() ? 0 : 2;
}
