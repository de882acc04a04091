// End to end on a generated demo installation: the command-line tool runs the
// shipment and package passes as a user would, and what comes out (the result
// file, the printed labels) is checked against the order worked out from the
// generator's data in tests/e2e/demo_expect.h.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "setup/TableAccess.h"
#include "tests/cups_capture.h"
#include "tests/e2e/demo_expect.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tools/demo_data.h"

namespace fs = std::filesystem;

namespace {

const std::string kCli = VV_BINARY_DIR "/cli/vadoviver-cli";

std::string ReadAll(const fs::path& p) { return vvtest::ReadFile(p.string()); }

void WriteAll(const fs::path& p, const std::string& text) { vvtest::WriteFile(p.string(), text); }

struct CliRun {
  int status = -1;
  std::string output;
};

// args as a POSIX shell would split them (see vvtest::SplitArgs).
CliRun RunCli(const std::string& args) {
  CliRun r;
  std::vector<std::string> argv = {kCli};
  for (std::string& a : vvtest::SplitArgs(args)) argv.push_back(std::move(a));
  r.status = vvtest::RunProgram(argv, &r.output);
  return r;
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// A demo installation in a folder of its own, with a program folder whose
// Vadoviver.ini points at it and sends LPT1 to a file.
class Installation {
 public:
  vvtest::TempDir dir;
  demo::Model model;
  std::string home, port;
  bool ok = false;  // written

  // edit may change the model (documents, for instance) before it is written.
  explicit Installation(uint32_t seed, const std::function<void(demo::Model&)>& edit = nullptr) {
    model = demo::BuildModel(dir / "kavlo", seed);
    if (edit) edit(model);
    std::string error;
    ok = demo::WriteModel(AppEngine, model, error);
    EXPECT_TRUE(ok) << error;
    home = dir / "program";
    fs::create_directories(home);
    port = dir / "eltron.prn";
    WriteAll(port, "");  // the port writes only to a file that exists
    WriteAll(fs::path(home) / "Vadoviver.ini",
             "[Paths]\r\nDesko=" + model.root + "\r\n[Ports]\r\nLPT1=" + port + "\r\n");
  }
  CliRun Cli(const std::string& args) const { return RunCli("--home " + Quote(home) + " " + args); }

  // Kavlo Desko's printer setup names the given printers.
  void SetPrinters(const std::string& package, const std::string& invoice, const std::string& keyentry) const {
    WriteAll(fs::path(model.root) / "Mondarix.ini",
             "[System Directories]\r\nData=" + model.dataPath + "\r\nMulti-Shipper=" + model.multiShipperPath +
                 "\r\nRating=" + model.ratingPath + "\r\n[Printer Setup]\r\nPackagePrinter=" + package +
                 "\r\nCommInvoicePrinter=" + invoice + "\r\nKeyentryPrinter=" + keyentry + "\r\n");
  }

  int WaitingLabels() const {
    const int t = mOpen(AppEngine, model.multiShipperPath + "\\Labels", "");
    if (!t) return -1;
    const int n = d4recCountDo(t);
    d4close(t);
    return n;
  }
};

struct SortCase {
  const char* name;
  std::string demo::Model::*file;
  const std::vector<int>& (*order)();
};
const SortCase kSorts[] = {{"zone then postal code", &demo::Model::zoneSortFile, e2e::ZonePostalOrder},
                           {"province then customer", &demo::Model::provinceSortFile, e2e::ProvinceCustomerOrder}};

class EndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { ASSERT_NE(OpenData(), 0); }
  static void TearDownTestSuite() { CloseData(AppEngine); }
};

TEST_F(EndToEnd, ShipmentPassWritesTheBlocksInSortedOrder) {
  uint32_t seed = 21;
  for (const SortCase& sc : kSorts) {
    SCOPED_TRACE(sc.name);
    Installation inst(seed++);
    ASSERT_TRUE(inst.ok);
    const demo::Model& m = inst.model;
    const std::string source = m.sourcePath + "/ORDER.TXT", result = m.resultPath + "/ORDER.TXT";
    const std::string expected = e2e::ExpectedResult(m, sc.order());
    // The sort has something to do, and loses nothing.
    ASSERT_EQ(expected.size(), m.orderText.size());
    ASSERT_NE(expected, m.orderText);

    const CliRun r = inst.Cli("shipments " + Quote(m.*sc.file) + " " + Quote(source) + " " + Quote(result));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("File Sort Processed Successfully."), std::string::npos) << r.output;
    EXPECT_EQ(ReadAll(result), expected);
    EXPECT_FALSE(fs::exists(source));

    // The file was consumed: a second pass finds no source and leaves the result alone.
    const CliRun again = inst.Cli("shipments " + Quote(m.*sc.file) + " " + Quote(source) + " " + Quote(result));
    EXPECT_NE(again.status, 0) << again.output;
    EXPECT_EQ(ReadAll(result), expected);
  }
}

TEST_F(EndToEnd, PackagePassPrintsToThePortInSortedOrder) {
  uint32_t seed = 31;
  for (const SortCase& sc : kSorts) {
    // The second time the Labels records stand in reverse, so labels that tie
    // on every key must come out in the order of the document tag, not of the
    // records.
    const bool reversed = seed != 31;
    SCOPED_TRACE(std::string(sc.name) + (reversed ? ", records reversed" : ""));
    Installation inst(seed++, [&](demo::Model& m) {
      if (reversed) std::reverse(m.labels.begin(), m.labels.end());
    });
    ASSERT_TRUE(inst.ok);
    const demo::Model& m = inst.model;
    const auto expected = e2e::ExpectedLabels(m, sc.order());
    ASSERT_EQ(expected.size(), m.labels.size());
    std::string printed;
    for (const demo::Label* l : expected) printed += l->content;
    std::string recordOrder;
    for (const demo::Label& l : m.labels) recordOrder += l.content;
    ASSERT_NE(printed, recordOrder);
    const auto zones = e2e::LabelZones(m, expected);
    ASSERT_GE(std::set<std::string>(zones.begin(), zones.end()).size(), 3u);

    const CliRun r = inst.Cli("labels " + Quote(m.*sc.file));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("File Sort Processed Successfully."), std::string::npos) << r.output;
    EXPECT_EQ(ReadAll(inst.port), printed);
    EXPECT_EQ(inst.WaitingLabels(), 0);
    for (const demo::Label& l : m.labels) EXPECT_FALSE(fs::exists(l.fileName)) << l.fileName;

    // Nothing waits any more: the next pass succeeds and prints nothing.
    const CliRun again = inst.Cli("labels " + Quote(m.*sc.file));
    EXPECT_EQ(again.status, 0) << again.output;
    EXPECT_EQ(ReadAll(inst.port), printed);
  }
}

// The label jobs reach the private scheduler: one job a document, in sorted
// order, each on the printer that Kavlo Desko's setup names for its kind.
TEST_F(EndToEnd, PackagePassPrintsThroughTheScheduler) {
  if (!vvtest::CaptureDir()) GTEST_SKIP() << "no private print scheduler (VV_CUPS_CAPTURE)";
  const std::string marker = vvtest::Marker("e2e");
  Installation inst(51, [&](demo::Model& m) {
    for (demo::Label& l : m.labels) l.content += "; " + marker + "\r\n";
  });
  ASSERT_TRUE(inst.ok);
  inst.SetPrinters("Windows Default", "alpha_desk", "Dock_B");
  const demo::Model& m = inst.model;
  const auto expected = e2e::ExpectedLabels(m, e2e::ProvinceCustomerOrder());
  const std::set<int> before = vvtest::DoneJobs();

  const CliRun r = inst.Cli("labels " + Quote(m.provinceSortFile));
  ASSERT_EQ(r.status, 0) << r.output;
  auto jobs = vvtest::WaitForJobs(before, marker, expected.size());
  std::sort(jobs.begin(), jobs.end(), [](auto& a, auto& b) { return a.id < b.id; });
  ASSERT_EQ(jobs.size(), expected.size());
  const char* printerOf[] = {"Dock_B", "alpha_desk", "Dock_B"};  // Dock_B is the default
  for (size_t i = 0; i < jobs.size(); ++i) {
    SCOPED_TRACE("job " + std::to_string(i));
    EXPECT_EQ(jobs[i].data, expected[i]->content);
    EXPECT_EQ(jobs[i].title, "Kavlo Shipping Label");
    EXPECT_EQ(jobs[i].printer, printerOf[expected[i]->document]);
  }
  EXPECT_EQ(inst.WaitingLabels(), 0);
  EXPECT_EQ(ReadAll(inst.port), "");
}

// A label whose printer is missing stops the pass: the labels before it are
// printed and gone, the rest wait with their records and documents; once the
// setup names a printer, the next pass prints them, still in sorted order.
TEST_F(EndToEnd, PackagePassStopsAtALabelItCannotPrintAndResumes) {
  Installation inst(61);
  ASSERT_TRUE(inst.ok);
  inst.SetPrinters("Direct To Eltron", "No Such Printer", "Direct To Eltron");
  const demo::Model& m = inst.model;
  const auto expected = e2e::ExpectedLabels(m, e2e::ZonePostalOrder());
  size_t first = 0;
  while (first < expected.size() && expected[first]->document != 1) ++first;
  ASSERT_LT(first, expected.size()) << "the demo has no commercial invoice";
  ASSERT_GT(first, 0u) << "the invoice prints first: nothing would be printed before the stop";
  std::string printed, all;
  for (size_t i = 0; i < expected.size(); ++i) (i < first ? printed : all) += expected[i]->content;
  all = printed + all;

  const CliRun r = inst.Cli("labels " + Quote(m.zoneSortFile));
  EXPECT_NE(r.status, 0) << r.output;
  EXPECT_EQ(ReadAll(inst.port), printed);
  for (size_t i = 0; i < expected.size(); ++i)
    EXPECT_EQ(fs::exists(expected[i]->fileName), i >= first) << expected[i]->fileName;
  EXPECT_EQ(inst.WaitingLabels(), static_cast<int>(expected.size() - first));

  inst.SetPrinters("Direct To Eltron", "Direct To Eltron", "Direct To Eltron");
  const CliRun again = inst.Cli("labels " + Quote(m.zoneSortFile));
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_EQ(ReadAll(inst.port), all);
  EXPECT_EQ(inst.WaitingLabels(), 0);
}

}  // namespace
