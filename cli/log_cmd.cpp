// The command-line passes write the same pass log as the window.
#include <iostream>
#include <memory>

#include "cli/commands.h"
#include "setup/uSetup.h"

namespace {

TPassLog& Log() {
  static std::unique_ptr<TPassLog> log;
  if (!log) log = std::make_unique<TPassLog>(AppSetup ? PassLogFileName(AppSetup->IniFileName) : std::string());
  return *log;
}

void WarnOnce() {
  static bool warned = false;
  if (warned || !Log().Failing()) return;
  warned = true;
  std::cerr << "vadoviver-cli: the pass log " << Log().FileName() << " is not being written\n";
}

}  // namespace

void LogPass(TPassKind kind, const char* outcome, const std::string& message, int64_t count) {
  Log().Pass(kind, outcome, message, count);
  WarnOnce();
}

void LogPrinted(const TLabelLine& label) {
  Log().Printed(label);
  WarnOnce();
}
