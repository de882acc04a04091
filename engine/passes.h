#pragma once
// The processing passes and the automatic cycle, as the main window and the
// command line both run them. A pass loads the province list and the sort
// order, calls the engine, frees what it loaded and returns its outcome; what
// the user is to see goes through a TPassView (the window's status panel and
// message boxes, or the command line's output).
#include <functional>
#include <memory>
#include <string>

#include "engine/passlog.h"
#include "platform/clock.h"

const char* PassKindWord(TPassKind kind);  // "package", "shipment"

enum class TOutcome {
  Success,  // labels printed / the shipment file sorted
  Nothing,  // nothing waiting, or the labels still arriving
  Busy,     // another program holds what the pass needs (the Labels lock, the source still open)
  Failed,
};
const char* OutcomeWord(TOutcome outcome);  // "ok", "nothing", "busy", "failed"

// Why a pass did not succeed, beyond the message the window shows.
enum class TPassReason {
  None,
  SortFile,      // the sort file gave no sort key
  CreateResult,  // the result file cannot be created (or names a folder)
  Sequence,      // the engine failed (source missing, result in use, read, write or print failure)
  LabelsLocked,  // another program holds the Labels lock
  SourceOpen,    // another program still has the source ORDER.TXT open
};

enum class TPassIcon { Warning, Information };

struct TPassMessage {
  std::string Text;
  std::string Caption;
  TPassIcon Icon = TPassIcon::Warning;
  bool Empty() const { return Text.empty(); }
};

struct TPassResult {
  TOutcome Outcome = TOutcome::Nothing;
  TPassReason Reason = TPassReason::None;
  // The message of this outcome, whether or not it was shown; Shown says
  // whether the pass showed it (a busy automatic pass holds it back).
  TPassMessage Message;
  bool Shown = false;
  int Count = 0;         // labels printed, or shipments written
  bool Stopped = false;  // a stop request ended the pass early
  // Why a label was refused (a document a label may not name), "" otherwise.
  std::string Refusal;
};

// What a pass shows while it runs. ShowStatus shows (or changes) the status
// text and must have it on screen before returning: a long step follows.
class TPassView {
 public:
  virtual ~TPassView() = default;
  virtual void ShowStatus(const std::string& text) = 0;
  virtual void HideStatus() = 0;
  virtual void ShowMessage(const TPassMessage& message) = 0;
  // Whether the view tells every failure itself, also those the window shows
  // no box for (the command line says why on standard error): the pass log
  // then records the failure's warning as the message shown.
  virtual bool TellsEveryFailure() const { return false; }
};

struct TPassInput {
  std::string QueryFile;  // the sort file, trimmed
  std::string Source;     // Automatic: the folders of ORDER.TXT; Manual: the files (trimmed)
  std::string Result;
  int SettleMs = 60000;       // how long the label count must hold (automatic package pass)
  bool WarnWhenBusy = false;  // automatic: show the ordinary warning even when busy
};

// The table engine for the program's run and the four passes. The owner (the
// main window, or the command line) creates AppSetup beside it. Every pass
// writes its line to the pass log of AppSetup's settings file, and a label
// pass a line per label printed.
class TProcessing {
 public:
  // Opens the table engine; waits go to the clock.
  explicit TProcessing(plat::Clock& clock = plat::SystemClock());
  ~TProcessing();  // closes the table engine
  TProcessing(const TProcessing&) = delete;
  TProcessing& operator=(const TProcessing&) = delete;

  int Engine() const { return engine_; }
  plat::Clock& Clock() const { return clock_; }
  // Records in Labels of AppSetup->MultiShipperPath; 0 when it cannot be opened.
  int LabelCount() const;

  TPassResult AutoPackagePass(const TPassInput& in, TPassView& view);
  TPassResult AutoShipmentPass(const TPassInput& in, TPassView& view);
  TPassResult ManualPackagePass(const TPassInput& in, TPassView& view);
  TPassResult ManualShipmentPass(const TPassInput& in, TPassView& view);
  TPassResult Pass(TPassKind kind, bool automatic, const TPassInput& in, TPassView& view);

  // The pass log of the settings in use; made again when AppSetup names
  // another settings file.
  TPassLog& Log();
  // The last line could not be written: the log is not being kept.
  bool LogFailing() const { return log_ && log_->Failing(); }

 private:
  TPassResult AutoPackage(const TPassInput& in, TPassView& view);
  TPassResult ManualPackage(const TPassInput& in, TPassView& view);
  TPassResult Logged(TPassKind kind, const TPassResult& result, const TPassView& view);
  TLabelRun RunLabels(const TProvinceArray& provinces, const TSortOrderArray& order);

  plat::Clock& clock_;
  int engine_ = 0;
  std::unique_ptr<TPassLog> log_;
  std::string logIni_;  // the settings file log_ belongs to
};

// The automatic cycle: a pass per tick of the kind the caller names, the
// count of successful passes, and the busy rule (a busy pass shows nothing;
// the 30th busy pass in a row shows the ordinary warning once).
class TCycle {
 public:
  static constexpr int IntervalMs = 10000;  // from the end of a pass to the next
  static constexpr int SettleMs = 60000;    // the label count must hold this long
  static constexpr int BusyWarnAfter = 30;

  explicit TCycle(plat::Clock& clock) : clock_(clock) {}

  int Interval() const { return interval_; }
  void SetInterval(int ms) { interval_ = ms; }
  int Settle() const { return settle_; }
  void SetSettle(int ms) { settle_ = ms; }

  // One automatic pass; input.SettleMs and WarnWhenBusy are set here.
  TPassResult Tick(TProcessing& processing, TPassKind kind, TPassInput input, TPassView& view);
  // Notes a manual pass for the status line.
  void NoteManual(TPassKind kind, const TPassResult& result);

  int PassCount() const { return passCount_; }
  int BusyStreak() const { return busyStreak_; }
  // A new mode: the counter and the busy streak start again.
  void Reset();

  // What the last pass came to, for a status line ("" before the first):
  // "Kavlo Desko is busy; next try at hh:mm:ss" after a busy automatic pass,
  // else "Last pass at hh:mm:ss: ..." with its outcome.
  std::string StatusLine() const;
  // One line per pass for the headless cycle: time, kind, outcome word, count, message.
  std::string PassLine(const TPassResult& result) const;

  // The headless cycle: waits an interval, runs a pass, hands its result on,
  // and so on until a stop is requested (plat::RequestStop): a wait ends at
  // once, a pass after the step in flight.
  void Run(TProcessing& processing, TPassKind kind, const std::function<TPassInput()>& input, TPassView& view,
           const std::function<void(const TPassResult&)>& onPass);

 private:
  void Note(TPassKind kind, bool automatic, const TPassResult& result);

  plat::Clock& clock_;
  int interval_ = IntervalMs;
  int settle_ = SettleMs;
  int passCount_ = 0;
  int busyStreak_ = 0;
  bool hasLast_ = false;
  bool lastAutomatic_ = false;
  TPassKind lastKind_ = TPassKind::Package;
  TPassResult last_;
  plat::Clock::TimePoint lastTime_{};
};

// "ok, 3 labels printed", "nothing to do", "failed: Sort file invalid", ...
std::string DescribeOutcome(TPassKind kind, const TPassResult& result);
