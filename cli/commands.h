#pragma once
// Commands of vadoviver-cli. Each takes the arguments after its name, runs
// with AppSetup and the table engine already open, prints the pass's own
// message texts and returns the exit status (0 success, 1 failure).
#include <cstdint>
#include <string>
#include <vector>

#include "engine/labels.h"
#include "engine/passlog.h"

int RunShipmentsCommand(const std::vector<std::string>& args);
int RunDumpCommand(const std::vector<std::string>& args);
int RunLabelsCommand(const std::vector<std::string>& args);
// shipments --preview SORTFILE SOURCE (args after --preview).
int RunShipmentsPreview(const std::vector<std::string>& args);

// The pass log of the settings in use. A line that cannot be written is
// reported once on standard error and never changes the exit status.
void LogPass(TPassKind kind, const char* outcome, const std::string& message, int64_t count);
void LogPrinted(const TLabelLine& label);
