#pragma once
// The pass log: one tab-separated line per pass and one per printed label, so
// that "did the label of shipment 1000123 print, and where in the batch?" has
// an answer. Lines:
//   <time>\tpass\t<package|shipment>\t<ok|nothing|busy|failed>\t<message>\t<count>
//   <time>\tprinted\t<position>\t<file_name>\t<shipment>\t<package>\t<document>\t<keys joined by |>
// <time> is local time, ISO 8601 with its UTC offset. Each line goes to the
// file in one append and is flushed. Writing the log never stops or fails a
// pass: a line that cannot be written is dropped and Failing() tells.
#include <cstdint>
#include <string>

#include "engine/labels.h"

enum class TPassKind { Package, Shipment };

// Outcome words of the pass lines.
extern const char* const PassOk;       // "ok": the pass did its work
extern const char* const PassNothing;  // "nothing": there was nothing to do
extern const char* const PassBusy;     // "busy": another program held what the pass needs
extern const char* const PassFailed;   // "failed"

// The log grows to this size, then goes to <log>.1 (one old file kept).
constexpr int64_t PassLogLimit = 1024 * 1024;

// The log file of the settings file iniFileName: [Log] File, a relative name
// taken from the settings file's folder (the program may run from anywhere);
// "Vadoviver.log" beside it when the key is missing; "" (no log) when the key
// is there but empty.
std::string PassLogFileName(const std::string& iniFileName);

class TPassLog {
 public:
  // fileName "" writes nothing.
  explicit TPassLog(std::string fileName, int64_t limit = PassLogLimit);

  const std::string& FileName() const { return fileName_; }
  bool Enabled() const { return !fileName_.empty(); }
  // The last line could not be written (the log is not being kept).
  bool Failing() const { return failing_; }

  // A "nothing" pass right after another "nothing" pass of the same kind is
  // not written: an idle cycle would otherwise push the printed labels out of
  // the log within days.
  void Pass(TPassKind kind, const std::string& outcome, const std::string& message, int64_t count);
  void Printed(const TLabelLine& label);

  // The line texts without the time, for tests and the command line.
  static std::string PassFields(TPassKind kind, const std::string& outcome, const std::string& message,
                                int64_t count);
  static std::string PrintedFields(const TLabelLine& label);

 private:
  void Append(const std::string& fields);

  std::string fileName_;
  int64_t limit_;
  bool failing_ = false;
  bool idle_[2] = {false, false};  // the last pass of each kind found nothing to do
};

// A value as a field of a tab-separated line: tabs and line ends become blanks.
std::string LogField(const std::string& value);
