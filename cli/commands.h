#pragma once
// Commands of vadoviver-cli. Each takes the arguments after its name, runs
// with AppSetup and the table engine already open, prints the pass's own
// message texts and returns the exit status (0 success, 1 failure).
#include <string>
#include <vector>

int RunShipmentsCommand(const std::vector<std::string>& args);
int RunDumpCommand(const std::vector<std::string>& args);
int RunLabelsCommand(const std::vector<std::string>& args);
