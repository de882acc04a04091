#include "engine/passes.h"

#include "engine/labels.h"
#include "engine/uSequncr.h"
#include "geo/uXArea.h"
#include "platform/file.h"
#include "platform/localtime.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

namespace {

const char* const kLabelsUnable = "Unable to process package label sort.";
const char* const kResultUnable = "Unable to create the sorted result text file.";
const char* const kProcessing = "Processing Package Labels ...";
const char* const kSortingLabels = "Sorting Package Labels ...";
const char* const kSortingShipments = "Sorting a Shipment File ...";

TPassMessage Warning(const char* text, const char* caption) { return {text, caption, TPassIcon::Warning}; }
TPassMessage Succeeded() { return {"File Sort Processed Successfully.", "Success ...", TPassIcon::Information}; }

TPassResult Outcome(TOutcome outcome, TPassReason reason, TPassMessage message = {}) {
  TPassResult r;
  r.Outcome = outcome;
  r.Reason = reason;
  r.Message = std::move(message);
  return r;
}

// Shows the message of a result when the pass is to show it.
void Report(TPassResult& r, TPassView& view, bool show) {
  r.Shown = show && !r.Message.Empty();
  if (r.Shown) view.ShowMessage(r.Message);
}

// The sort order of one pass and the province rows its keys read, freed on
// every way out.
struct PassData {
  TProvinceArray provinces;
  TSortOrderArray order;
  PassData() = default;
  ~PassData() { FreeProvinces(provinces); }
  // False when the sort file gives no key.
  bool ReadOrder(const std::string& queryFile) {
    if (!ReadSortFile(queryFile, order)) return false;
    LoadPassProvinces(order, provinces);
    return true;
  }
  PassData(const PassData&) = delete;
  PassData& operator=(const PassData&) = delete;
};

// Hides the status on every way out of a pass that showed it, a raised
// error included.
class StatusShown {
 public:
  StatusShown(TPassView& view, const char* text) : view_(view) { view_.ShowStatus(text); }
  ~StatusShown() { view_.HideStatus(); }
  StatusShown(const StatusShown&) = delete;
  StatusShown& operator=(const StatusShown&) = delete;

 private:
  TPassView& view_;
};

// Whether another program still has the file open (for writing, or locked):
// it can be opened, but not without sharing.
bool HeldElsewhere(const std::string& path) {
  if (!plat::IsRegularFile(path)) return false;
  if (!plat::OpenFile(path, plat::OpenMode::Read)) return false;  // closed again at once
  return plat::OpenExclusive(path, plat::OpenMode::Read) == nullptr;
}

// Makes sure a result file exists: false when none can be made under that
// name (also when the name is a folder's: no file can stand there).
bool ResultReady(const std::string& file) {
  if (file.empty() || plat::DirectoryExists(file)) return false;
  return plat::FileExists(file) || plat::CreateEmptyFile(file);
}

// The outcome of a label pass from what the engine says. Automatic passes
// carry the warning of a failure (a busy pass may hold it back); manual ones
// say nothing but their success.
TPassResult FromLabelRun(const TLabelRun& run, bool automatic) {
  TPassResult r;
  r.Count = run.Printed;
  switch (run.State) {
    case TLabelRun::Done:
    case TLabelRun::Stopped:
      r.Outcome = TOutcome::Success;
      r.Stopped = run.State == TLabelRun::Stopped;
      if (!automatic) r.Message = Succeeded();
      break;
    case TLabelRun::Locked:
      r.Outcome = TOutcome::Busy;
      r.Reason = TPassReason::LabelsLocked;
      break;
    case TLabelRun::Failed:
      r.Outcome = TOutcome::Failed;
      r.Reason = TPassReason::Sequence;
      break;
  }
  if (automatic && r.Outcome != TOutcome::Success) r.Message = Warning(kLabelsUnable, "Error Occured");
  // A refused document is the record's fault, not a passing one: every pass
  // says which document and why, or the same label would stop it unexplained.
  if (run.State == TLabelRun::Failed && !LastLabelRefusal().empty()) {
    r.Refusal = LastLabelRefusal();
    r.Message = Warning(kLabelsUnable, "Error Occured");
    r.Message.Text += "\n\nLabel refused: " + r.Refusal;
  }
  // A manual pass that found no label says its success all the same.
  if (!automatic && run.State == TLabelRun::Done && run.Printed == 0) r.Outcome = TOutcome::Nothing;
  return r;
}

// Both shipment passes once the result is made (or cannot be): automatic
// passes warn of every failure (a busy one only when asked to), manual ones
// say only that no result could be made, or their success.
TPassResult ShipmentPass(const std::string& source, const std::string& result, bool resultReady, bool automatic,
                         const TPassInput& in, TPassView& view) {
  const TPassMessage unable = Warning(kResultUnable, "Unable to create new file");
  TPassResult r;
  if (!resultReady) {
    r = Outcome(TOutcome::Failed, TPassReason::CreateResult, unable);
    Report(r, view, true);
    return r;
  }
  StatusShown status(view, kSortingShipments);
  PassData data;
  if (!data.ReadOrder(in.QueryFile)) {
    r = Outcome(TOutcome::Failed, TPassReason::SortFile, Warning(kResultUnable, "Sort file invalid"));
  } else if (size_t written = 0; SequenceShipmentFile(source, result, data.provinces, data.order, &written)) {
    r = Outcome(TOutcome::Success, TPassReason::None, Succeeded());
    r.Count = static_cast<int>(written);
  } else if (HeldElsewhere(source)) {
    // Kavlo Desko is still writing it: the next pass takes it.
    r = Outcome(TOutcome::Busy, TPassReason::SourceOpen, unable);
  } else {
    r = Outcome(TOutcome::Failed, TPassReason::Sequence, unable);
  }
  if (automatic == (r.Outcome == TOutcome::Success)) r.Message = {};
  Report(r, view, r.Outcome != TOutcome::Busy || in.WarnWhenBusy);
  return r;
}

// The warning of a failure, as the command line tells it where the window
// shows no box.
TPassMessage FailureWarning(TPassKind kind, TPassReason reason) {
  const bool package = kind == TPassKind::Package;
  const char* text = package ? kLabelsUnable : kResultUnable;
  if (reason == TPassReason::SortFile) return Warning(text, "Sort file invalid");
  return Warning(text, package ? "Error Occured" : "Unable to create new file");
}

// The message a pass showed as the pass log records it: a warning as
// "caption: text", anything else as its text.
std::string LoggedMessage(TPassKind kind, const TPassResult& r, const TPassView& view) {
  TPassMessage m = r.Shown ? r.Message : TPassMessage{};
  if (m.Empty() && r.Outcome == TOutcome::Failed && view.TellsEveryFailure()) m = FailureWarning(kind, r.Reason);
  if (m.Empty() && !r.Refusal.empty()) m = FailureWarning(kind, r.Reason);
  if (m.Empty()) return {};
  if (!r.Refusal.empty()) return m.Caption + ": label refused: " + r.Refusal;
  return m.Icon == TPassIcon::Warning ? m.Caption + ": " + m.Text : m.Text;
}

}  // namespace

const char* PassKindWord(TPassKind kind) { return kind == TPassKind::Package ? "package" : "shipment"; }

const char* OutcomeWord(TOutcome outcome) {
  switch (outcome) {
    case TOutcome::Success: return "ok";
    case TOutcome::Nothing: return "nothing";
    case TOutcome::Busy: return "busy";
    case TOutcome::Failed: return "failed";
  }
  return "failed";
}

// ---------------------------------------------------------------------------
// TProcessing

TProcessing::TProcessing(plat::Clock& clock) : clock_(clock), engine_(OpenData()) {}

TProcessing::~TProcessing() { CloseData(engine_); }

int TProcessing::LabelCount() const {
  const std::string table = (AppSetup ? AppSetup->MultiShipperPath : std::string()) + "\\Labels";
  const int handle = mOpen(engine_, table, "");
  if (handle == 0) return 0;  // a table that cannot be opened holds no label we could print
  const int count = d4recCountDo(handle);
  d4close(handle);
  return count;
}

TPassLog& TProcessing::Log() {
  const std::string ini = AppSetup ? AppSetup->IniFileName : std::string();
  if (!log_ || ini != logIni_) {
    log_ = std::make_unique<TPassLog>(ini.empty() ? std::string() : PassLogFileName(ini));
    logIni_ = ini;
  }
  return *log_;
}

TPassResult TProcessing::Logged(TPassKind kind, const TPassResult& r, const TPassView& view) {
  Log().Pass(kind, OutcomeWord(r.Outcome), LoggedMessage(kind, r, view), r.Count);
  return r;
}

// Each label goes to the log right after its record is marked printed.
TLabelRun TProcessing::RunLabels(const TProvinceArray& provinces, const TSortOrderArray& order) {
  TPassLog& log = Log();
  return RunLabelPass(provinces, order, [&log](const TLabelLine& label) { log.Printed(label); });
}

TPassResult TProcessing::AutoPackagePass(const TPassInput& in, TPassView& view) {
  return Logged(TPassKind::Package, AutoPackage(in, view), view);
}

TPassResult TProcessing::ManualPackagePass(const TPassInput& in, TPassView& view) {
  return Logged(TPassKind::Package, ManualPackage(in, view), view);
}

TPassResult TProcessing::AutoPackage(const TPassInput& in, TPassView& view) {
  const int first = LabelCount();
  if (first <= 0) return {};
  TPassResult r;
  StatusShown status(view, kProcessing);
  // Kavlo Desko may still be writing a batch of labels: the count must hold
  // over the wait. A stop requested meanwhile ends the pass at once.
  if (!clock_.Wait(in.SettleMs)) {
    r.Stopped = true;
    return r;
  }
  view.ShowStatus(kSortingLabels);
  if (LabelCount() != first) return r;
  PassData data;
  if (!data.ReadOrder(in.QueryFile)) {
    r = Outcome(TOutcome::Failed, TPassReason::SortFile, Warning(kLabelsUnable, "Sort file invalid"));
    Report(r, view, true);
  } else {
    r = FromLabelRun(RunLabels(data.provinces, data.order), true);
    Report(r, view, r.Outcome == TOutcome::Failed || (r.Outcome == TOutcome::Busy && in.WarnWhenBusy));
  }
  return r;
}

TPassResult TProcessing::ManualPackage(const TPassInput& in, TPassView& view) {
  StatusShown status(view, kSortingLabels);
  PassData data;
  TPassResult r;
  if (!data.ReadOrder(in.QueryFile))
    r = Outcome(TOutcome::Failed, TPassReason::SortFile);
  else
    r = FromLabelRun(RunLabels(data.provinces, data.order), false);
  Report(r, view, true);
  return r;
}

TPassResult TProcessing::AutoShipmentPass(const TPassInput& in, TPassView& view) {
  const std::string source = in.Source + "\\ORDER.TXT";
  const std::string result = in.Result + "\\ORDER.TXT";
  if (!plat::FileExists(source)) return Logged(TPassKind::Shipment, {}, view);
  const bool ready = plat::FileExists(result) || plat::CreateEmptyFile(result);
  return Logged(TPassKind::Shipment, ShipmentPass(source, result, ready, true, in, view), view);
}

TPassResult TProcessing::ManualShipmentPass(const TPassInput& in, TPassView& view) {
  return Logged(TPassKind::Shipment, ShipmentPass(in.Source, in.Result, ResultReady(in.Result), false, in, view), view);
}

TPassResult TProcessing::Pass(TPassKind kind, bool automatic, const TPassInput& in, TPassView& view) {
  if (kind == TPassKind::Package) return automatic ? AutoPackagePass(in, view) : ManualPackagePass(in, view);
  return automatic ? AutoShipmentPass(in, view) : ManualShipmentPass(in, view);
}

// ---------------------------------------------------------------------------
// TCycle

TPassResult TCycle::Tick(TProcessing& processing, TPassKind kind, TPassInput input, TPassView& view) {
  input.SettleMs = settle_;
  input.WarnWhenBusy = busyStreak_ + 1 == BusyWarnAfter;
  const TPassResult r = processing.Pass(kind, true, input, view);
  if (r.Outcome == TOutcome::Success) ++passCount_;
  busyStreak_ = r.Outcome == TOutcome::Busy ? busyStreak_ + 1 : 0;
  Note(kind, true, r);
  return r;
}

void TCycle::NoteManual(TPassKind kind, const TPassResult& result) { Note(kind, false, result); }

void TCycle::Note(TPassKind kind, bool automatic, const TPassResult& result) {
  hasLast_ = true;
  lastAutomatic_ = automatic;
  lastKind_ = kind;
  last_ = result;
  lastTime_ = clock_.Now();
}

void TCycle::Reset() {
  passCount_ = 0;
  busyStreak_ = 0;
}

std::string TCycle::StatusLine() const {
  if (!hasLast_) return {};
  if (lastAutomatic_ && last_.Outcome == TOutcome::Busy)
    return "Kavlo Desko is busy; next try at " +
           plat::LocalTimeOfDay(lastTime_ + std::chrono::milliseconds(interval_));
  return "Last pass at " + plat::LocalTimeOfDay(lastTime_) + ": " + DescribeOutcome(lastKind_, last_);
}

std::string TCycle::PassLine(const TPassResult& r) const {
  std::string detail;
  if (r.Outcome == TOutcome::Busy)
    detail = StatusLine();
  else if (r.Outcome == TOutcome::Failed || r.Stopped)
    detail = DescribeOutcome(lastKind_, r);
  return plat::LocalDateTime(lastTime_) + "\t" + PassKindWord(lastKind_) + "\t" + OutcomeWord(r.Outcome) + "\t" +
         std::to_string(r.Count) + "\t" + detail;
}

void TCycle::Run(TProcessing& processing, TPassKind kind, const std::function<TPassInput()>& input, TPassView& view,
                 const std::function<void(const TPassResult&)>& onPass) {
  // As in the window: the first pass comes one interval after the start, the
  // next one interval after the end of the last.
  while (!plat::StopRequested() && clock_.Wait(interval_)) {
    const TPassResult r = Tick(processing, kind, input(), view);
    onPass(r);
  }
}

std::string DescribeOutcome(TPassKind kind, const TPassResult& r) {
  const bool package = kind == TPassKind::Package;
  switch (r.Outcome) {
    case TOutcome::Success: {
      std::string s = package ? "ok, " + std::to_string(r.Count) + (r.Count == 1 ? " label" : " labels") + " printed"
                              : "ok, shipment file sorted";
      return r.Stopped ? s + "; stopped, the other labels wait" : s;
    }
    case TOutcome::Nothing:
      return r.Stopped ? "stopped during the wait" : "nothing to do";
    case TOutcome::Busy:
      return r.Reason == TPassReason::SourceOpen ? "busy, Kavlo Desko still has ORDER.TXT open"
                                                 : "busy, Kavlo Desko holds the Labels table";
    case TOutcome::Failed:
      break;
  }
  std::string why;
  switch (r.Reason) {
    case TPassReason::SortFile: why = "Sort file invalid"; break;
    case TPassReason::CreateResult: why = "Unable to create new file"; break;
    default:
      why = package ? "Error Occured, " + std::to_string(r.Count) + " printed before the label that failed"
                    : "Unable to create new file";
  }
  return "failed: " + why;
}
