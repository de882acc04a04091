// Reads arbitrary Vadoviver.ini and Mondarix.ini into the settings object,
// saves and reads them again. Input: the first two bytes give the length of
// the Vadoviver.ini part (modulo the rest); Mondarix.ini gets what follows.
// Both lie in the program folder, which is also the default host folder.
#include <cstdint>
#include <string>

#include "engine/label_refusal.h"
#include "platform/error.h"
#include "platform/file.h"
#include "platform/text.h"
#include "rows.h"

using fuzzrows::Check;

namespace {

// A value that an ini file can carry unchanged: one line, no quotes, no
// blanks at either end.
bool Plain(const std::string& v) {
  for (char c : v)
    if (static_cast<unsigned char>(c) < 0x20 || c == '"') return false;
  return v == plat::Trim(v);
}

void CheckSettings(const TSetup& s, const std::string& dir) {
  Check(s.IniFileName == dir + "\\Vadoviver.ini", "settings file name");
  for (int32_t p : {s.PackagePrinter, s.CommInvoicePrinter, s.KeyentryPrinter})
    Check(p >= PrinterEltron && p <= 1, "printer code");
  for (const std::string& f : s.LabelFolders)
    Check(!f.empty() && f == plat::Trim(f) && f.find(';') == std::string::npos, "label folder entry");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string dir = fuzzrows::TempFolder("settings");
  static const bool printers = (plat::SetPrinting(std::make_shared<fuzzrows::NoPrinters>()), true);
  (void)printers;
  if (size < 2) return 0;
  const size_t rest = size - 2;
  const size_t ownLen = rest ? ((data[0] << 8 | data[1]) % (rest + 1)) : 0;
  const char* bytes = reinterpret_cast<const char*>(data + 2);
  fuzzrows::WriteFile(dir + "/Vadoviver.ini", std::string_view(bytes, ownLen));
  fuzzrows::WriteFile(dir + "/Mondarix.ini", std::string_view(bytes + ownLen, rest - ownLen));

  TSetup first(dir);
  CheckSettings(first, dir);
  AppSetup = &first;
  (void)LabelDocumentRefusal(dir + "/L0001.LBL");
  AppSetup = nullptr;

  try {
    first.Save();
  } catch (const plat::Error&) {
    return 0;  // a settings file that cannot be rewritten safely is left alone
  }
  TSetup second(dir);
  CheckSettings(second, dir);
  for (const auto& [a, b] : {std::pair{&first.HostPath, &second.HostPath}, std::pair{&first.SourcePath, &second.SourcePath},
                             std::pair{&first.ResultPath, &second.ResultPath},
                             std::pair{&first.QueryFile, &second.QueryFile}})
    if (Plain(*a)) Check(*a == *b, "a saved setting reads back the same");
  Check(second.LabelFolders == first.LabelFolders, "saving keeps [Labels] Folders");
  plat::SetDriveMap({});
  return 0;
}
