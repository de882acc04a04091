#pragma once
// A second program for the tests that need another process (exclusive opens,
// locks held elsewhere, the command-line tool run to its end): started with
// pipes on its standard input and output, on every OS.
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace vvtest {

struct ProcessOptions {
  // Where its standard output goes: "" a pipe to this process (ReadLine,
  // ReadAll), else a file of that name (created or emptied).
  std::string stdoutFile;
  // Standard output goes nowhere (overrides stdoutFile).
  bool discardStdout = false;
  enum class Err { Inherit, Discard, ToStdout } stderrTo = Err::Inherit;
  // Standard error to a file of that name instead (created or emptied).
  std::string stderrFile;
};

class Process {
 public:
  // argv[0] is the program's file name.
  explicit Process(const std::vector<std::string>& argv, const ProcessOptions& options = {});
  ~Process();  // closes its input and waits for it
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  bool Started() const;
  // Writes to its standard input.
  bool Write(const std::string& bytes);
  // Closes its standard input (the helpers' signal to let go and end).
  void CloseInput();
  // Its next line of output without the line end; "" at the end of its
  // output or when nothing came within the time.
  std::string ReadLine(int timeoutMs = 20000);
  // Everything it writes until it closes its output.
  std::string ReadAll();
  // Waits for its end: its exit code, -1 when it was killed.
  int Wait();
  // Its exit code when it ends within the time, -3 when it still runs.
  int WaitFor(int timeoutMs);
  // Ends it at once, as a crash would (SIGKILL, TerminateProcess).
  void Kill();
  // Asks it to stop as an operator would (SIGTERM); false where a test
  // cannot ask so (a Windows console event reaches only a process sharing
  // the sender's console, which the test programs do not have under Wine).
  bool Terminate();

 private:
  // Up to n bytes of its output: how many, 0 at the end, -1 when nothing
  // came within the time.
  long ReadSome(char* buf, size_t n, int timeoutMs);

  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string buffered_;
  bool ended_ = false;
};

// Splits a command line at spaces; '...' quotes as a POSIX shell does, so
// tests keep writing their command lines as they would type them.
std::vector<std::string> SplitArgs(const std::string& line);

// Runs a program to its end; its exit code (-1 when killed, -2 when it could
// not start). *output receives its standard output and error together.
int RunProgram(const std::vector<std::string>& argv, std::string* output = nullptr);

// What this process holds of the system, for the long-run tests: resident
// memory in KB and open descriptors (handles on Windows).
long ResidentKb();
int OpenHandles();

}  // namespace vvtest
