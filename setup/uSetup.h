#pragma once
// Settings: the program's own Vadoviver.ini and what it reads from the host's
// Mondarix.ini.
#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t PrinterDefault = -1;
constexpr int32_t PrinterNone = -2;
constexpr int32_t PrinterEltron = -3;

class TSetup {
 public:
  explicit TSetup(const std::string& programFolder);  // Create
  ~TSetup() = default;
  TSetup(const TSetup&) = delete;
  TSetup& operator=(const TSetup&) = delete;

  // A printer setting's code, against PrinterNames.
  int32_t ResolvePrinter(const std::string& text) const;
  // The name of the printer at a position of PrinterNames; "" for any other code.
  std::string PrinterName(int32_t code) const;
  // Writes the four own settings; raises plat::Error("Unable to write to ...").
  void Save();

  std::string IniFileName;
  std::string HostPath;
  std::string DataPath;
  std::string MultiShipperPath;
  std::string RatingPath;
  std::string QueryFile;
  std::string SourcePath;
  std::string ResultPath;
  int32_t PackagePrinter = PrinterNone;
  int32_t CommInvoicePrinter = PrinterNone;
  int32_t KeyentryPrinter = PrinterNone;
  int32_t EltronPort = 1;
  // The platform's installed printers as they stood at Create: the printer
  // codes 0 and up are positions in this list, so a job goes to the printer
  // the user chose even when printers come or go later.
  std::vector<std::string> PrinterNames;
  // [Labels] Folders of Vadoviver.ini, ";"-separated: when any is given, a
  // label document outside these folders is never printed or deleted.
  std::vector<std::string> LabelFolders;
};

// The one settings object while the program runs (owned by the main window, or
// by the command-line tool); nullptr before it is created.
extern TSetup* AppSetup;
