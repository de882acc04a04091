// The pass routines and the automatic cycle below the window: outcomes, what
// each shows, and whole cycles on a clock whose waits take no time.
#include <gtest/gtest.h>

#include <functional>

#include "engine/passes.h"
#include "passes_support.h"
#include "reliability.h"

namespace {

using rel::Installation;
using passes::FakeClock;
using passes::RecordingView;

const std::string kOrders = "H,1,2,3,B\r\nD,b\r\nH,1,2,3,A\r\nD,a\r\n";
const std::string kSorted = "H,1,2,3,A\r\nD,a\r\nH,1,2,3,B\r\nD,b\r\n";

class Passes;
void OnlyLabelFolder(Passes& t, TPassInput&);

class Passes : public ::testing::Test {
 public:
  void SetUp() override {
    printer = std::make_shared<rel::RecordingPrinter>();
    plat::SetPrinting(printer);
    processing = std::make_unique<TProcessing>(clock);
    inst.CreateTables(processing->Engine(), 2);
    setup = std::make_unique<TSetup>(inst.prog);
    AppSetup = setup.get();
  }
  void TearDown() override {
    AppSetup = nullptr;
    setup.reset();
    processing.reset();
    plat::SetPrinting(nullptr);
    plat::ClearStopRequest();
  }
  TPassInput Input(bool automatic) const {
    TPassInput in;
    in.QueryFile = inst.sortFile;
    in.Source = automatic ? inst.in : inst.in + "/ORDER.TXT";
    in.Result = automatic ? inst.out : inst.out + "/SORTED.TXT";
    return in;
  }

  Installation inst;
  FakeClock clock;
  std::shared_ptr<rel::RecordingPrinter> printer;
  std::unique_ptr<TProcessing> processing;
  std::unique_ptr<TSetup> setup;
  RecordingView view;
};

// Settings that let label documents print only from a folder that holds none.
void OnlyLabelFolder(Passes& t, TPassInput&) {
  rel::Write(t.inst.prog + "/Vadoviver.ini",
             rel::Read(t.inst.prog + "/Vadoviver.ini") + "[Labels]\r\nFolders=" + t.inst.out + "\r\n");
  t.setup = std::make_unique<TSetup>(t.inst.prog);
  AppSetup = t.setup.get();
}

// Settings that let label documents print only from their own folder, named
// otherwise than the system names it (on Windows: other separators and
// letter case).
void LabelFolderNamedOtherwise(Passes& t, TPassInput&) {
  std::string folder = t.inst.docs;
#ifdef _WIN32
  for (char& c : folder) c = c == '\\' ? '/' : (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
  folder += '/';
#else
  folder += "/./";
#endif
  rel::Write(t.inst.prog + "/Vadoviver.ini",
             rel::Read(t.inst.prog + "/Vadoviver.ini") + "[Labels]\r\nFolders=" + folder + "\r\n");
  t.setup = std::make_unique<TSetup>(t.inst.prog);
  AppSetup = t.setup.get();
}

TEST_F(Passes, OutcomesAndWhatEachShows) {
  const std::string sortingLabels = "status Sorting Package Labels ...";
  const std::string sortingFile = "status Sorting a Shipment File ...";
  const std::string waiting = "status Processing Package Labels ...";
  struct Case {
    const char* name;
    TPassKind kind;
    bool automatic;
    std::function<void(Passes&, TPassInput&)> prepare;
    TOutcome outcome;
    TPassReason reason;
    int count;
    std::vector<std::string> shown;  // status changes and messages, in order
  };
  const Case cases[] = {
      {"auto labels print", TPassKind::Package, true, nullptr, TOutcome::Success, TPassReason::None, 2,
       {waiting, sortingLabels, "hide"}},
      {"auto labels print from the label folder named otherwise", TPassKind::Package, true, LabelFolderNamedOtherwise,
       TOutcome::Success, TPassReason::None, 2, {waiting, sortingLabels, "hide"}},
      {"auto labels, sort file invalid", TPassKind::Package, true,
       [](Passes& t, TPassInput&) { rel::Write(t.inst.sortFile, "[Keys]\r\n"); }, TOutcome::Failed,
       TPassReason::SortFile, 0,
       {waiting, sortingLabels, "message Sort file invalid|Unable to process package label sort.", "hide"}},
      {"auto labels, a document missing", TPassKind::Package, true,
       [](Passes& t, TPassInput&) { std::filesystem::remove(t.inst.Doc(1)); }, TOutcome::Failed,
       TPassReason::Sequence, 1,  // label 2 sorts first and prints
       {waiting, sortingLabels, "message Error Occured|Unable to process package label sort.", "hide"}},
      {"manual labels print", TPassKind::Package, false, nullptr, TOutcome::Success, TPassReason::None, 2,
       {sortingLabels, "message Success ...|File Sort Processed Successfully.", "hide"}},
      {"manual labels, sort file invalid: nothing said", TPassKind::Package, false,
       [](Passes& t, TPassInput&) { rel::Write(t.inst.sortFile, "[Keys]\r\n"); }, TOutcome::Failed,
       TPassReason::SortFile, 0, {sortingLabels, "hide"}},
      {"auto shipments, no source", TPassKind::Shipment, true, nullptr, TOutcome::Nothing, TPassReason::None, 0, {}},
      {"auto shipments sort", TPassKind::Shipment, true,
       [](Passes& t, TPassInput&) { rel::Write(t.inst.in + "/ORDER.TXT", kOrders); }, TOutcome::Success,
       TPassReason::None, 2, {sortingFile, "hide"}},
      {"auto shipments, result folder holds a folder ORDER.TXT", TPassKind::Shipment, true,
       [](Passes& t, TPassInput&) {
         rel::Write(t.inst.in + "/ORDER.TXT", kOrders);
         std::filesystem::create_directory(t.inst.out + "/ORDER.TXT");
       },
       TOutcome::Failed, TPassReason::Sequence, 0,
       {sortingFile, "message Unable to create new file|Unable to create the sorted result text file.", "hide"}},
      {"manual shipments sort", TPassKind::Shipment, false,
       [](Passes& t, TPassInput&) { rel::Write(t.inst.in + "/ORDER.TXT", kOrders); }, TOutcome::Success,
       TPassReason::None, 2, {sortingFile, "message Success ...|File Sort Processed Successfully.", "hide"}},
      {"manual shipments, result names a folder", TPassKind::Shipment, false,
       [](Passes& t, TPassInput& in) {
         rel::Write(t.inst.in + "/ORDER.TXT", kOrders);
         in.Result = t.inst.out;
       },
       TOutcome::Failed, TPassReason::CreateResult, 0,
       {"message Unable to create new file|Unable to create the sorted result text file."}},
      {"manual shipments, source missing: nothing said", TPassKind::Shipment, false, nullptr, TOutcome::Failed,
       TPassReason::Sequence, 0, {sortingFile, "hide"}},
      // A refused document is said, with why, also by the manual pass.
      {"auto labels, documents outside the label folders", TPassKind::Package, true, OnlyLabelFolder,
       TOutcome::Failed, TPassReason::Sequence, 0,
       {waiting, sortingLabels, "message Error Occured|Unable to process package label sort.\n\nLabel refused: {refusal}",
        "hide"}},
      {"manual labels, documents outside the label folders", TPassKind::Package, false, OnlyLabelFolder,
       TOutcome::Failed, TPassReason::Sequence, 0,
       {sortingLabels, "message Error Occured|Unable to process package label sort.\n\nLabel refused: {refusal}",
        "hide"}},
  };
  const auto snapshot = inst.Snapshot();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    inst.Restore(snapshot);
    std::filesystem::remove_all(inst.out + "/ORDER.TXT");
    view.shown.clear();
    printer->printed.clear();
    TPassInput in = Input(c.automatic);
    setup = std::make_unique<TSetup>(inst.prog);  // the settings as restored
    AppSetup = setup.get();
    if (c.prepare) c.prepare(*this, in);
    const TPassResult r = processing->Pass(c.kind, c.automatic, in, view);
    std::vector<std::string> shown = c.shown;
    for (std::string& s : shown)
      if (const size_t at = s.find("{refusal}"); at != std::string::npos) {
        EXPECT_NE(r.Refusal, "");
        s.replace(at, 9, r.Refusal);
        EXPECT_NE(rel::Read(inst.prog + "/Vadoviver.log").find("label refused: " + r.Refusal), std::string::npos)
            << "the log says why";
      }
    EXPECT_EQ(OutcomeWord(r.Outcome), std::string(OutcomeWord(c.outcome)));
    EXPECT_EQ(static_cast<int>(r.Reason), static_cast<int>(c.reason));
    EXPECT_EQ(r.Count, c.count);
    EXPECT_EQ(view.shown, shown);
    EXPECT_EQ(r.Shown, !r.Message.Empty());
    if (c.kind == TPassKind::Package) {
      EXPECT_EQ(static_cast<int>(printer->printed.size()), c.count);
    }
    if (c.outcome == TOutcome::Success && c.kind == TPassKind::Shipment) {
      EXPECT_EQ(rel::Read(c.automatic ? inst.out + "/ORDER.TXT" : in.Result), kSorted);
    }
  }
}

// Whole cycles on the fake clock: the interval before each pass, the settle
// wait, labels still arriving, the counter, and a stop during a wait.
TEST_F(Passes, CycleRunsOnItsClock) {
  TCycle cycle(clock);
  std::vector<std::string> lines;
  int waitsSeen = 0;
  clock.onWait = [&](int ms) {
    ++waitsSeen;
    if (waitsSeen == 2) inst.AddLabel(processing->Engine(), 3);  // arrives during the first settle wait
    if (waitsSeen == 6 && ms == TCycle::IntervalMs) plat::RequestStop();
  };
  cycle.Run(*processing, TPassKind::Package, [&] { return Input(true); }, view,
            [&](const TPassResult& r) { lines.push_back(cycle.PassLine(r)); });
  // interval, settle (count changed), interval, settle (held: printed), interval, and the stop.
  EXPECT_EQ(clock.waits, (std::vector<int>{10000, 60000, 10000, 60000, 10000, 10000}));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[0].find("\tpackage\tnothing\t0\t"), std::string::npos) << lines[0];
  EXPECT_NE(lines[1].find("\tpackage\tok\t3\t"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("\tpackage\tnothing\t0\t"), std::string::npos) << lines[2];
  EXPECT_EQ(printer->printed, (std::vector<int>{3, 2, 1}));
  EXPECT_EQ(cycle.PassCount(), 1);
  EXPECT_EQ(cycle.StatusLine().rfind("Last pass at ", 0), 0u) << cycle.StatusLine();

  // A stop during the settle wait ends the pass at once: nothing printed.
  plat::ClearStopRequest();
  inst.AddLabel(processing->Engine(), 4);
  clock.waits.clear();
  clock.onWait = [](int ms) {
    if (ms == TCycle::SettleMs) plat::RequestStop();
  };
  lines.clear();
  cycle.Run(*processing, TPassKind::Package, [&] { return Input(true); }, view,
            [&](const TPassResult& r) { lines.push_back(cycle.PassLine(r)); });
  EXPECT_EQ(clock.waits, (std::vector<int>{10000, 60000}));
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_NE(lines[0].find("\tnothing\t0\tstopped during the wait"), std::string::npos) << lines[0];
  EXPECT_EQ(inst.WaitingLabels(processing->Engine()), 1);
  EXPECT_EQ(view.shown.back(), "hide");
}

}  // namespace
