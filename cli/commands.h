#pragma once
// Commands of vadoviver-cli. Each takes the arguments after its name, runs
// with AppSetup and the table engine already open, prints the pass's own
// message texts and returns the exit status (0 success, 1 failure, 75 when
// Kavlo Desko is busy and a later try may succeed).
#include <string>
#include <vector>

#include "engine/passes.h"

int RunShipmentsCommand(const std::vector<std::string>& args);
int RunDumpCommand(const std::vector<std::string>& args);
int RunLabelsCommand(const std::vector<std::string>& args);
// zones --coverage: 0 when every line lies in exactly one zone, 2 when the
// report lists uncovered or overlapping lines, 1 on failure.
int RunZonesCommand(const std::vector<std::string>& args);
int RunWatchCommand(const std::vector<std::string>& args);

// The table engine and the passes, open while a command runs.
TProcessing& CliProcessing();

constexpr int kExitBusy = 75;  // a temporary condition: try again later

// A pass on the command line: the status and a success on standard output,
// messages that warn on standard error.
class TCliPassView : public TPassView {
 public:
  void ShowStatus(const std::string& text) override;
  void HideStatus() override {}
  void ShowMessage(const TPassMessage& message) override;
  bool TellsEveryFailure() const override { return true; }
};

// Says on standard error why a manual pass did not succeed (more than the
// window's message) and returns the exit status.
int ManualPassStatus(TPassKind kind, const TPassResult& result, const TPassInput& input);

// shipments --preview SORTFILE SOURCE (args after --preview).
int RunShipmentsPreview(const std::vector<std::string>& args);

// Says once on standard error that the pass log is not being written (a log
// that cannot be written never changes the exit status).
void WarnIfLogFailing();
