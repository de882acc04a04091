#include "setup/uSetup.h"

#include <map>
#include <vector>

#include "platform/file.h"
#include "platform/ini.h"
#include "platform/printing.h"
#include "platform/text.h"
#include "setup/TableAccess.h"

TSetup* AppSetup = nullptr;

namespace {

// [Drives] maps drive letters of the host's Windows paths to local folders:
// "C=/srv/kavlo" lets "C:\KAVLO\LABELS\0001.LBL" be found. Keys other than a
// single letter, and empty folders, are ignored.
void LoadDriveMap(const std::string& iniFile) {
  std::map<char, std::string> drives;
  for (const auto& [key, folder] : plat::IniReadSection(iniFile, "Drives")) {
    if (key.size() != 1 || folder.empty()) continue;
    char l = key[0] >= 'a' && key[0] <= 'z' ? static_cast<char>(key[0] - 'a' + 'A') : key[0];
    if (l >= 'A' && l <= 'Z') drives.emplace(l, folder);
  }
  plat::SetDriveMap(drives);
}

// Entries are trimmed; empty ones (";;", a trailing ";") are dropped.
std::vector<std::string> SplitFolders(const std::string& list) {
  std::vector<std::string> folders;
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string::npos) end = list.size();
    std::string f = plat::Trim(list.substr(start, end - start));
    if (!f.empty()) folders.push_back(std::move(f));
    start = end + 1;
  }
  return folders;
}

}  // namespace

TSetup::TSetup(const std::string& programFolder) {
  const std::string folder = SafeDir(programFolder);
  IniFileName = folder + "\\Vadoviver.ini";
  // Before anything else: the folders below may carry drive letters.
  LoadDriveMap(IniFileName);

  HostPath = plat::IniReadString(IniFileName, "Paths", "Desko", folder);
  SourcePath = plat::IniReadString(IniFileName, "Paths", "Source", folder);
  ResultPath = plat::IniReadString(IniFileName, "Paths", "Result", "");
  QueryFile = plat::IniReadString(IniFileName, "Files", "Query", "");
  LabelFolders = SplitFolders(plat::IniReadString(IniFileName, "Labels", "Folders", ""));

  const std::string host = HostPath + "\\Mondarix.ini";
  DataPath = plat::IniReadString(host, "System Directories", "Data", "");
  MultiShipperPath = plat::IniReadString(host, "System Directories", "Multi-Shipper", "");
  RatingPath = plat::IniReadString(host, "System Directories", "Rating", "");

  // Printer positions refer to this list for as long as the object lives.
  PrinterNames = plat::Printing().Printers();
  PackagePrinter = ResolvePrinter(plat::IniReadString(host, "Printer Setup", "PackagePrinter", ""));
  CommInvoicePrinter = ResolvePrinter(plat::IniReadString(host, "Printer Setup", "CommInvoicePrinter", ""));
  KeyentryPrinter = ResolvePrinter(plat::IniReadString(host, "Printer Setup", "KeyentryPrinter", ""));

  EltronPort = plat::IniReadInteger(host, "Direct To Eltron Setup", "Port", 1);
}

// "Windows Default" names the default printer only where one can be used:
// printers are installed and the platform has a default among them.
int32_t TSetup::ResolvePrinter(const std::string& text) const {
  if (text == "Windows Default" && !PrinterNames.empty() && plat::Printing().HasDefault()) return PrinterDefault;
  if (text == "Direct To Eltron") return PrinterEltron;
  for (size_t i = 0; i < PrinterNames.size(); ++i)
    if (PrinterNames[i] == text) return static_cast<int32_t>(i);
  return PrinterNone;
}

std::string TSetup::PrinterName(int32_t code) const {
  return code >= 0 && static_cast<size_t>(code) < PrinterNames.size() ? PrinterNames[static_cast<size_t>(code)]
                                                                      : std::string();
}

void TSetup::Save() {
  plat::IniWriteString(IniFileName, "Paths", "Desko", HostPath);
  plat::IniWriteString(IniFileName, "Files", "Query", QueryFile);
  plat::IniWriteString(IniFileName, "Paths", "Source", SourcePath);
  plat::IniWriteString(IniFileName, "Paths", "Result", ResultPath);
}
