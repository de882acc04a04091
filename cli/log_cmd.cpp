// The command-line passes write the same pass log as the window; a log that
// cannot be written is reported, once, where a script's operator looks.
#include <iostream>

#include "cli/commands.h"

void WarnIfLogFailing() {
  static bool warned = false;
  if (warned || !CliProcessing().LogFailing()) return;
  warned = true;
  std::cerr << "vadoviver-cli: the pass log " << CliProcessing().Log().FileName() << " is not being written\n";
}
