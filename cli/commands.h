#pragma once
// Commands of vadoviver-cli. Each takes the arguments after its name, runs
// with AppSetup and the table engine already open, prints the pass's own
// message texts and returns the exit status (0 success, 1 failure).
#include <string>
#include <vector>

int RunShipmentsCommand(const std::vector<std::string>& args);
int RunDumpCommand(const std::vector<std::string>& args);
int RunLabelsCommand(const std::vector<std::string>& args);
// zones --coverage: 0 when every line lies in exactly one zone, 2 when the
// report lists uncovered or overlapping lines, 1 on failure.
int RunZonesCommand(const std::vector<std::string>& args);
