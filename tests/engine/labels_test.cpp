// Label printing and label sequencing, on real tables and with a recording
// printer (plus the private test scheduler when scripts/test started one).
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "engine/labels.h"
#include "engine/uSequncr.h"
#include "platform/cups_printing.h"
#include "platform/file.h"
#include "platform/os.h"
#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "test_files.h"
#include "tests/cups_capture.h"
#include "tests/support/process.h"

namespace {

namespace fs = std::filesystem;
using testfiles::Exists;
using testfiles::Read;
using testfiles::Write;

const char* kTitle = "Kavlo Shipping Label";

// ---------------------------------------------------------------------------
// A printer service that records every job. A block holding kRefuse is
// refused; StartJob fails while refuseStart is set.

const std::string kRefuse = "!REFUSE!";

struct RecordedJob {
  int position = 0;
  std::string title;
  std::vector<std::string> blocks;
  bool ended = false;
  bool ok = false;  // ended normally (not cancelled)
  std::string Bytes() const {
    std::string s;
    for (const auto& b : blocks) s += b;
    return s;
  }
};

class RecordingPrinter : public plat::PrinterService {
 public:
  std::vector<RecordedJob> jobs;
  bool refuseStart = false;
  bool refuseEnd = false;

  std::vector<std::string> names = {"Label A", "Invoice B"};

  std::vector<std::string> Printers() override { return names; }
  bool HasDefault() override { return true; }
  std::unique_ptr<plat::PrintJob> StartJob(int position, const std::string& title) override {
    if (refuseStart) return nullptr;
    jobs.push_back({position, title, {}, false, false});
    return std::make_unique<Job>(*this, jobs.size() - 1);
  }
  // Bytes of the jobs that went out whole, in order.
  std::vector<std::string> Printed() const {
    std::vector<std::string> out;
    for (const auto& j : jobs)
      if (j.ended && j.ok) out.push_back(j.Bytes());
    return out;
  }

 private:
  class Job : public plat::PrintJob {
   public:
    Job(RecordingPrinter& p, size_t i) : p_(p), i_(i) {}
    bool SendBlock(const std::string& bytes) override {
      EXPECT_FALSE(p_.jobs[i_].ended);
      EXPECT_LE(bytes.size(), 254u);
      EXPECT_FALSE(bytes.empty());
      if (bytes.find(kRefuse) != std::string::npos) return false;
      p_.jobs[i_].blocks.push_back(bytes);
      return true;
    }
    bool End(bool ok) override {
      EXPECT_FALSE(p_.jobs[i_].ended) << "job ended twice";
      p_.jobs[i_].ended = true;
      p_.jobs[i_].ok = ok && !p_.refuseEnd;
      return p_.jobs[i_].ok;
    }

   private:
    RecordingPrinter& p_;
    size_t i_;
  };
};

// ---------------------------------------------------------------------------
// Tables in the host's layout.

struct LabelRow {
  std::string file;
  int document;
  int shipment;
  int package;
};
struct ShipmentRow {
  int id;
  std::string prov, custid, name, postal, ref0, ref1;
};
struct PackageRow {
  int id;
  int pkgNo;
  std::string ref1, ref2, ref3, ref4;
};

void FillTable(int t, const std::vector<std::map<std::string, std::string>>& rows) {
  for (const auto& row : rows) {
    ASSERT_EQ(d4appendBlank(t), 0);
    for (const auto& [field, value] : row) ASSERT_EQ(replace(t, field, value), 0) << field;
  }
  ASSERT_EQ(d4flush(t), 0);
  d4close(t);
}

void CreateLabels(const std::string& folder, const std::vector<LabelRow>& rows) {
  int t = d4create(AppEngine, folder + "\\Labels",
                   {{"FILE_NAME", 'C', 128, 0}, {"DOCUMENT", 'N', 2, 0}, {"SHIPMENT", 'N', 10, 0}, {"PACKAGE", 'N', 5, 0}},
                   {{"DOCUMENT", "DOCUMENT"}});
  ASSERT_NE(t, 0) << LastErrorText();
  std::vector<std::map<std::string, std::string>> data;
  for (const auto& r : rows)
    data.push_back({{"FILE_NAME", r.file},
                    {"DOCUMENT", std::to_string(r.document)},
                    {"SHIPMENT", std::to_string(r.shipment)},
                    {"PACKAGE", std::to_string(r.package)}});
  FillTable(t, data);
}

void CreateShipments(const std::string& folder, const std::vector<ShipmentRow>& rows) {
  int t = d4create(AppEngine, folder + "\\Shipment",
                   {{"SHIPMENTID", 'N', 10, 0}, {"ST_PROV", 'C', 2, 0}, {"ST_CUSTID", 'C', 15, 0},
                    {"ST_NAME", 'C', 35, 0}, {"ST_POSTAL", 'C', 10, 0}, {"REFERENCE0", 'C', 30, 0},
                    {"REFERENCE1", 'C', 30, 0}},
                   {{"SHIPMENTID", "SHIPMENTID"}});
  ASSERT_NE(t, 0) << LastErrorText();
  std::vector<std::map<std::string, std::string>> data;
  for (const auto& r : rows)
    data.push_back({{"SHIPMENTID", std::to_string(r.id)}, {"ST_PROV", r.prov}, {"ST_CUSTID", r.custid},
                    {"ST_NAME", r.name}, {"ST_POSTAL", r.postal}, {"REFERENCE0", r.ref0}, {"REFERENCE1", r.ref1}});
  FillTable(t, data);
}

void CreatePackages(const std::string& folder, const std::vector<PackageRow>& rows) {
  int t = d4create(AppEngine, folder + "\\Package",
                   {{"SHIPMENTID", 'N', 10, 0}, {"PKG_NO", 'N', 4, 0}, {"REFERENCE1", 'C', 30, 0},
                    {"REFERENCE2", 'C', 30, 0}, {"REFERENCE3", 'C', 30, 0}, {"REFERENCE4", 'C', 30, 0}},
                   {{"SHIPMENTID", "SHIPMENTID"}});
  ASSERT_NE(t, 0) << LastErrorText();
  std::vector<std::map<std::string, std::string>> data;
  for (const auto& r : rows)
    data.push_back({{"SHIPMENTID", std::to_string(r.id)}, {"PKG_NO", std::to_string(r.pkgNo)},
                    {"REFERENCE1", r.ref1}, {"REFERENCE2", r.ref2}, {"REFERENCE3", r.ref3}, {"REFERENCE4", r.ref4}});
  FillTable(t, data);
}

int32_t RecordCount(const std::string& folder) {
  int t = mOpen(AppEngine, folder + "\\Labels", "");
  if (!t) return -1;
  const int32_t n = d4recCountDo(t);
  d4close(t);
  return n;
}

// file_name of every record of Labels in record order, "*" before a deleted one.
std::vector<std::string> LabelRecords(const std::string& folder) {
  std::vector<std::string> out;
  int t = mOpen(AppEngine, folder + "\\Labels", "");
  if (!t) return {"(cannot open)"};
  for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1))
    out.push_back((d4deleted(t) == 1 ? "*" : "") + fs::path(fetch(t, "FILE_NAME")).filename().string());
  d4close(t);
  return out;
}

// ---------------------------------------------------------------------------

class LabelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_NE(OpenData(), 0);
    for (const char* sub : {"prog", "multi", "data", "docs"}) fs::create_directories(dir / sub);
    printer = std::make_shared<RecordingPrinter>();
    plat::SetPrinting(printer);
    setup = std::make_unique<TSetup>(dir / "prog");
    AppSetup = setup.get();
    AppSetup->MultiShipperPath = dir / "multi";
    AppSetup->DataPath = dir / "data";
    AppSetup->PackagePrinter = 0;
    AppSetup->CommInvoicePrinter = 1;
    AppSetup->KeyentryPrinter = PrinterDefault;
  }
  void TearDown() override {
    AppSetup = nullptr;
    setup.reset();
    plat::SetPrinting(nullptr);
    CloseData(AppEngine);
  }

  std::string Doc(const std::string& name, const std::string& bytes) {
    const std::string f = dir / ("docs/" + name);
    Write(f, bytes);
    return f;
  }
  std::string Multi() const { return dir / "multi"; }
  std::string Data() const { return dir / "data"; }

  testfiles::TempDir dir;
  std::shared_ptr<RecordingPrinter> printer;
  std::unique_ptr<TSetup> setup;
};

// ---------------------------------------------------------------------------
// PrintLabelDocument

struct CutCase {
  const char* name;
  std::string document;
  std::vector<std::string> blocks;
};

TEST_F(LabelsTest, DocumentsAreCutIntoPassThroughBlocks) {
  const std::string x253(253, 'x');
  const std::vector<CutCase> cases = {
      {"600 bytes, no line end", std::string(600, 'a'), {std::string(254, 'a'), std::string(254, 'a'), std::string(92, 'a')}},
      {"one block per CR LF line", "^XA\r\n^FO10\r\n^XZ\r\n", {"^XA\r\n", "^FO10\r\n", "^XZ\r\n"}},
      {"last line without CR LF", "L1\r\nL2", {"L1\r\n", "L2"}},
      {"lone CR and LF do not cut", "a\rb\nc\n\rd", {"a\rb\nc\n\rd"}},
      {"empty lines", "\r\n\r\n", {"\r\n", "\r\n"}},
      {"CR at byte 254 is cut from its LF", x253 + "\r\nz", {x253 + "\r", "\nz"}},
      {"long line then short", std::string(300, 'b') + "\r\n", {std::string(254, 'b'), std::string(46, 'b') + "\r\n"}},
      {"every byte value", std::string("\0\x01\xff\x1a", 4), {std::string("\0\x01\xff\x1a", 4)}},
      {"empty document", "", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    printer->jobs.clear();
    const std::string f = Doc("cut.lbl", c.document);
    ASSERT_TRUE(PrintLabelDocument(f, 0));
    ASSERT_EQ(printer->jobs.size(), 1u);
    EXPECT_EQ(printer->jobs[0].blocks, c.blocks);
    EXPECT_EQ(printer->jobs[0].title, kTitle);
    EXPECT_TRUE(printer->jobs[0].ended && printer->jobs[0].ok);
    EXPECT_FALSE(Exists(f));
  }
}

TEST_F(LabelsTest, DocumentCodeChoosesThePrinter) {
  AppSetup->KeyentryPrinter = PrinterDefault;
  struct {
    uint8_t document;
    int position;  // -2: no job at all
  } cases[] = {{0, 0}, {1, 1}, {2, PrinterDefault}, {3, -2}, {255, -2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(int(c.document));
    printer->jobs.clear();
    const std::string f = Doc("kind.lbl", "label\r\n");
    const bool expected = c.position != -2;
    EXPECT_EQ(PrintLabelDocument(f, c.document), expected);
    EXPECT_EQ(Exists(f), !expected);
    if (expected) {
      ASSERT_EQ(printer->jobs.size(), 1u);
      EXPECT_EQ(printer->jobs[0].position, c.position);
    } else {
      EXPECT_TRUE(printer->jobs.empty());
    }
  }
  // A kind whose printer setting names no usable printer.
  AppSetup->CommInvoicePrinter = PrinterNone;
  printer->jobs.clear();
  const std::string f = Doc("none.lbl", "x");
  EXPECT_FALSE(PrintLabelDocument(f, 1));
  EXPECT_TRUE(Exists(f));
  EXPECT_TRUE(printer->jobs.empty());
}

// Positions refer to the list the settings were built with: printers added or
// removed since do not send a label elsewhere.
TEST_F(LabelsTest, PrinterChosenAtSetupEvenAfterTheListChanged) {
  struct {
    const char* what;
    std::vector<std::string> now;
    int package, invoice;  // position of the job now; -2: no job
  } cases[] = {
      {"a printer added before both", {"Added", "Label A", "Invoice B"}, 1, 2},
      {"the first printer removed", {"Invoice B"}, -2, 0},
      {"both removed, others there", {"Other 1", "Other 2"}, -2, -2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    printer->names = c.now;
    for (const auto& [document, want] : {std::pair<uint8_t, int>{0, c.package}, {1, c.invoice}}) {
      printer->jobs.clear();
      const std::string f = Doc("moved.lbl", "label\r\n");
      EXPECT_EQ(PrintLabelDocument(f, document), want != -2);
      EXPECT_EQ(Exists(f), want == -2);
      ASSERT_EQ(printer->jobs.size(), want == -2 ? 0u : 1u);
      if (want != -2) {
        EXPECT_EQ(printer->jobs[0].position, want);
      }
    }
  }
}

TEST_F(LabelsTest, DoubledBackslashesAreUndone) {
  struct {
    std::string in, out;
  } cases[] = {{"C:\\\\LABELS\\\\A.LBL", "C:\\LABELS\\A.LBL"},
               {"a\\\\\\b", "a\\\\b"},  // three become two
               {"\\\\\\\\", "\\\\"},
               {"a\\b", "a\\b"},
               {"", ""}};
  for (const auto& c : cases) EXPECT_EQ(UndoubleBackslashes(c.in), c.out) << c.in;
  if (plat::os::kWindowsNames) return;  // drive letters are drives there: [Drives] does not apply

  // A host path with a drive letter and doubled backslashes reaches the file.
  fs::create_directories(dir / "drive/LABELS");
  plat::SetDriveMap({{'K', dir / "drive"}});
  Write(dir / "drive/LABELS/0001.LBL", "^XA^XZ\r\n");
  EXPECT_TRUE(PrintLabelDocument("K:\\\\LABELS\\\\0001.LBL", 0));
  EXPECT_FALSE(Exists(dir / "drive/LABELS/0001.LBL"));
  ASSERT_EQ(printer->jobs.size(), 1u);
  EXPECT_EQ(printer->jobs[0].Bytes(), "^XA^XZ\r\n");
  plat::SetDriveMap({});
}

TEST_F(LabelsTest, OnlyPlainFilesThatNobodyHoldsArePrinted) {
  const std::string target = Doc("target.lbl", "secret");
  fs::create_directories(dir / "docs/folder.lbl");
  std::vector<std::string> names = {"folder.lbl", "missing.lbl"};
#ifndef _WIN32  // FIFOs are POSIX's; Wine makes no symbolic links
  ASSERT_EQ(mkfifo((dir / "docs/fifo.lbl").c_str(), 0600), 0);
  fs::create_symlink(target, dir / "docs/link.lbl");
  names.insert(names.end(), {"fifo.lbl", "link.lbl"});
#endif
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    EXPECT_FALSE(PrintLabelDocument(dir / ("docs/" + name), 0));
  }
  EXPECT_TRUE(fs::exists(dir / "docs/folder.lbl"));
#ifndef _WIN32
  EXPECT_TRUE(fs::is_fifo(dir / "docs/fifo.lbl"));
  EXPECT_TRUE(fs::is_symlink(dir / "docs/link.lbl"));
#endif
  EXPECT_EQ(Read(target), "secret");
  // Still being written by someone else.
  {
    auto held = plat::OpenExclusive(target, plat::OpenMode::ReadWrite);
    ASSERT_NE(held, nullptr);
    EXPECT_FALSE(PrintLabelDocument(target, 0));
  }
  EXPECT_TRUE(printer->jobs.empty());
  EXPECT_TRUE(PrintLabelDocument(target, 0));
}

TEST_F(LabelsTest, PrinterFailuresKeepTheDocument) {
  struct {
    const char* name;
    bool refuseStart, refuseEnd;
    std::string doc;
  } cases[] = {
      {"job cannot start", true, false, "fine\r\n"},
      {"block refused", false, false, "first\r\n" + kRefuse + "\r\nlast\r\n"},
      {"job not accepted at the end", false, true, "fine\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    printer->jobs.clear();
    printer->refuseStart = c.refuseStart;
    printer->refuseEnd = c.refuseEnd;
    const std::string f = Doc("fail.lbl", c.doc);
    EXPECT_FALSE(PrintLabelDocument(f, 0));
    EXPECT_EQ(Read(f), c.doc);
    for (const auto& j : printer->jobs) {
      EXPECT_TRUE(j.ended);  // ended or cancelled either way
      EXPECT_FALSE(j.ok);
    }
  }
  // Nothing more is sent after a refused block.
  printer->refuseStart = printer->refuseEnd = false;
  printer->jobs.clear();
  EXPECT_FALSE(PrintLabelDocument(Doc("f2.lbl", "a\r\n" + kRefuse + "\r\nb\r\n"), 0));
  ASSERT_EQ(printer->jobs.size(), 1u);
  EXPECT_EQ(printer->jobs[0].blocks, std::vector<std::string>{"a\r\n"});
}

TEST_F(LabelsTest, EltronGetsTheRawBytesOnItsPort) {
  const std::string port = dir / "port2.prn";  // not "lpt2.prn": Windows takes that for the device
  Write(port, "");
  Write(dir / "prog/Vadoviver.ini", "[Ports]\nLPT2=" + port + "\n");
  AppSetup->PackagePrinter = PrinterEltron;
  AppSetup->EltronPort = 2;
  std::string big(1000, 'q');
  big += "\r\n\x1a";
  const std::string a = Doc("a.lbl", "^XA\r\n^XZ"), b = Doc("b.lbl", big), e = Doc("e.lbl", "");
  EXPECT_TRUE(PrintLabelDocument(a, 0));
  EXPECT_TRUE(PrintLabelDocument(b, 0));
  EXPECT_TRUE(PrintLabelDocument(e, 0));
  EXPECT_EQ(Read(port), "^XA\r\n^XZ" + big);
  EXPECT_FALSE(Exists(a) || Exists(b) || Exists(e));
  EXPECT_TRUE(printer->jobs.empty());

#ifndef _WIN32  // a FIFO with a reader on the other end; a device that is full
  ASSERT_EQ(mkfifo((dir / "lp.fifo").c_str(), 0600), 0);
  Write(dir / "prog/Vadoviver.ini", "[Ports]\nLPT1=" + (dir / "lp.fifo") + "\n");
  AppSetup->EltronPort = 1;
  auto reader = std::async(std::launch::async, [&] { return Read(dir / "lp.fifo"); });
  const std::string f = Doc("fifo.lbl", big);
  bool printed = false;
  for (int i = 0; i < 500 && !printed; ++i) {  // until the reader has opened its end
    printed = PrintLabelDocument(f, 0);
    if (!printed) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(printed);
  EXPECT_EQ(reader.get(), big);

  // A port that does not take the bytes keeps the document.
  Write(dir / "prog/Vadoviver.ini", "[Ports]\nLPT3=/dev/full\n");
  AppSetup->EltronPort = 3;
  const std::string g = Doc("g.lbl", big);
  EXPECT_FALSE(PrintLabelDocument(g, 0));
  EXPECT_EQ(Read(g), big);
#endif
  // A port that names no file keeps the document and makes none.
  Write(dir / "prog/Vadoviver.ini", "[Ports]\nLPT4=" + (dir / "none.prn") + "\n");
  AppSetup->EltronPort = 4;
  const std::string h = Doc("h.lbl", big);
  EXPECT_FALSE(PrintLabelDocument(h, 0));
  EXPECT_EQ(Read(h), big);
  EXPECT_FALSE(Exists(dir / "none.prn"));
}

// ---------------------------------------------------------------------------
// SequenceLabels

TEST_F(LabelsTest, LabelsPrintInKeyOrderTiesInDocumentTagOrder) {
  CreateShipments(Data(), {{10, "ON", "C10", "BETA", "K1A0B1", "s10a", "s10b"},
                           {20, "BC", "C20", "ACME", "V5K1B2", "s20a", "s20b"},
                           {30, "QC", "C30", "acme", "H2X1Y4", "", ""}});
  CreatePackages(Data(), {});
  // Record order: invoice of 20, label of 10, label of 20, key-entry of 20, label of 30.
  CreateLabels(Multi(), {{Doc("inv20", "inv20"), 1, 20, 0},
                         {Doc("lbl10", "lbl10"), 0, 10, 1},
                         {Doc("lbl20", "lbl20"), 0, 20, 1},
                         {Doc("key20", "key20"), 2, 20, 0},
                         {Doc("lbl30", "lbl30"), 0, 30, 1}});
  ASSERT_TRUE(SequenceLabels({}, {sfCustomerName}));
  // ACME (its three documents in document-tag order 0, 1, 2), BETA, acme.
  EXPECT_EQ(printer->Printed(), (std::vector<std::string>{"lbl20", "inv20", "key20", "lbl10", "lbl30"}));
  EXPECT_TRUE(LabelRecords(Multi()).empty());
  for (const char* d : {"inv20", "lbl10", "lbl20", "key20", "lbl30"}) EXPECT_FALSE(Exists(dir / (std::string("docs/") + d)));
}

TEST_F(LabelsTest, PackageReferencesAndMissingRecords) {
  CreateShipments(Data(), {{7, "ON", "C7", "SEVEN", "K1A0A1", "R0", "R1"}, {8, "ON", "C8", "EIGHT", "K1A0A2", "R8", ""}});
  CreatePackages(Data(), {{7, 1, "p7-1", "b", "c", "d"},
                          {7, 0, "p7-0", "", "", ""},
                          {7, 2, "p7-2", "", "", ""},
                          {8, 5, "p8-5", "", "", ""}});
  CreateLabels(Multi(), {{Doc("pkg7-2", "pkg7-2"), 0, 7, 2},
                         {Doc("pkg7-0", "pkg7-0"), 0, 7, 0},   // a package label looks for pkg_no 0
                         {Doc("inv7", "inv7"), 1, 7, 0},       // an invoice takes package 1
                         {Doc("nopkg8", "nopkg8"), 0, 8, 3},   // no such package: empty references
                         {Doc("noship", "noship"), 0, 99, 1}}); // no such shipment: every key empty
  ASSERT_TRUE(SequenceLabels({}, {sfPackageRef1, sfShipmentRef1}));
  EXPECT_EQ(printer->Printed(), (std::vector<std::string>{"noship", "nopkg8", "pkg7-0", "inv7", "pkg7-2"}));
}

TEST_F(LabelsTest, EmptyLabelsTablePrintsNothing) {
  CreateShipments(Data(), {});
  CreatePackages(Data(), {});
  CreateLabels(Multi(), {});
  EXPECT_TRUE(SequenceLabels({}, {sfPostalCode}));
  EXPECT_TRUE(printer->jobs.empty());
}

TEST_F(LabelsTest, MissingTablesFailWithoutPrinting) {
  const std::string f = Doc("a", "a");
  CreateLabels(Multi(), {{f, 0, 1, 1}});
  EXPECT_FALSE(SequenceLabels({}, {sfPostalCode}));  // no Shipment, no Package
  CreateShipments(Data(), {});
  EXPECT_FALSE(SequenceLabels({}, {sfPostalCode}));  // no Package
  EXPECT_TRUE(printer->jobs.empty());
  EXPECT_TRUE(Exists(f));
  EXPECT_EQ(LabelRecords(Multi()), std::vector<std::string>{"a"});
  AppSetup->MultiShipperPath = dir / "nowhere";
  EXPECT_FALSE(SequenceLabels({}, {sfPostalCode}));
}

TEST_F(LabelsTest, FailedLabelStopsThePassAndTheNextPassGoesOn) {
  CreateShipments(Data(), {{1, "ON", "", "A", "", "", ""}, {2, "ON", "", "B", "", "", ""},
                           {3, "ON", "", "C", "", "", ""}, {4, "ON", "", "D", "", "", ""}});
  CreatePackages(Data(), {});
  // Sorted by name: A, B, C (refused by the printer), D; records in another order.
  CreateLabels(Multi(), {{Doc("d", "d"), 0, 4, 1},
                         {Doc("c", "c" + kRefuse), 0, 3, 1},
                         {Doc("a", "a"), 0, 1, 1},
                         {Doc("b", "b"), 0, 2, 1}});
  EXPECT_FALSE(SequenceLabels({}, {sfCustomerName}));
  EXPECT_EQ(printer->Printed(), (std::vector<std::string>{"a", "b"}));
  // The printed labels' records are gone, the others wait with their documents.
  EXPECT_EQ(LabelRecords(Multi()), (std::vector<std::string>{"d", "c"}));
  EXPECT_FALSE(Exists(dir / "docs/a") || Exists(dir / "docs/b"));
  EXPECT_TRUE(Exists(dir / "docs/c") && Exists(dir / "docs/d"));

  // The failure lasts: the next pass stops at the same label, printing nothing twice.
  EXPECT_FALSE(SequenceLabels({}, {sfCustomerName}));
  EXPECT_EQ(printer->Printed().size(), 2u);

  Write(dir / "docs/c", "c");  // the cause is mended
  EXPECT_TRUE(SequenceLabels({}, {sfCustomerName}));
  EXPECT_EQ(printer->Printed(), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_TRUE(LabelRecords(Multi()).empty());
}

TEST_F(LabelsTest, RecordsMarkedByAKilledPassAreNotPrintedAgain) {
  CreateShipments(Data(), {});
  CreatePackages(Data(), {});
  CreateLabels(Multi(), {{Doc("x", "x"), 0, 1, 1}, {Doc("y", "y"), 0, 2, 1}, {dir / "docs/gone", 0, 3, 1}});
  // A pass printed "gone" and was killed before packing; then another pass
  // printed the rest and was killed as well.
  auto mark = [&](const std::string& folder, std::vector<int32_t> recs) {
    int t = mOpen(AppEngine, folder + "\\Labels", "");
    ASSERT_NE(t, 0);
    for (int32_t r : recs) {
      ASSERT_EQ(d4go(t, r), 0);
      ASSERT_EQ(d4delete(t), 0);
    }
    ASSERT_EQ(d4flush(t), 0);
    d4close(t);
  };
  mark(Multi(), {3});
  EXPECT_TRUE(SequenceLabels({}, {sfCustomerName}));
  EXPECT_EQ(printer->Printed(), (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(RecordCount(Multi()), 0);

  // Only marked records left: nothing prints, and they are packed away so
  // that the record count the automatic pass watches goes back to 0.
  printer->jobs.clear();
  CreateLabels(dir / "docs", {{Doc("p", "p"), 0, 1, 1}, {Doc("q", "q"), 0, 2, 1}});
  AppSetup->MultiShipperPath = dir / "docs";
  mark(dir / "docs", {1, 2});
  EXPECT_EQ(RecordCount(dir / "docs"), 2);
  EXPECT_TRUE(SequenceLabels({}, {sfCustomerName}));
  EXPECT_TRUE(printer->jobs.empty());
  EXPECT_EQ(RecordCount(dir / "docs"), 0);
}

// The second process (labelslock_helper) is talked to through its standard
// input and output.

TEST_F(LabelsTest, LockHeldByAnotherProgramPrintsNothing) {
  CreateShipments(Data(), {});
  CreatePackages(Data(), {});
  CreateLabels(Multi(), {{Doc("a", "a"), 0, 1, 1}});
  {
    vvtest::Process holder({VV_HELPER_labelslock_helper, Multi() + "\\Labels"});
    ASSERT_EQ(holder.ReadLine(), "locked");
    EXPECT_FALSE(SequenceLabels({}, {sfCustomerName}));
    EXPECT_TRUE(printer->jobs.empty());
    EXPECT_TRUE(Exists(dir / "docs/a"));
    // The preview takes no lock, so the holder does not keep it out.
    std::vector<TLabelLine> preview;
    ASSERT_TRUE(PreviewLabels({}, {sfCustomerName}, preview)) << LastErrorText();
    ASSERT_EQ(preview.size(), 1u);
    EXPECT_EQ(preview[0].FileName, dir / "docs/a");
  }
  EXPECT_TRUE(SequenceLabels({}, {sfCustomerName}));
  EXPECT_EQ(printer->Printed(), std::vector<std::string>{"a"});
}

TEST_F(LabelsTest, PassKilledMidwayLosesNothingAndRepeatsNothing) {
  CreateShipments(Data(), {{1, "ON", "", "A", "", "", ""}, {2, "ON", "", "B", "", "", ""},
                           {3, "ON", "", "C", "", "", ""}, {4, "ON", "", "D", "", "", ""}});
  CreatePackages(Data(), {});
  CreateLabels(Multi(), {{Doc("d", "d"), 0, 4, 1},
                         {Doc("c", "c!HANG!"), 0, 3, 1},
                         {Doc("a", "a"), 0, 1, 1},
                         {Doc("b", "b"), 0, 2, 1}});
  {
    vvtest::Process pass({VV_HELPER_labelslock_helper, "pass", dir / "prog", Multi(), Data()});
    EXPECT_EQ(pass.ReadLine(), "printed a");
    EXPECT_EQ(pass.ReadLine(), "printed b");
    ASSERT_EQ(pass.ReadLine(), "hang");  // killed while "c" is in flight
    pass.Kill();
  }
  // The printed labels' records are marked (the pass never got to pack them).
  EXPECT_EQ(LabelRecords(Multi()), (std::vector<std::string>{"d", "c"}));
  EXPECT_EQ(RecordCount(Multi()), 4);
  Write(dir / "docs/c", "c");
  EXPECT_TRUE(SequenceLabels({}, {sfCustomerName}));
  EXPECT_EQ(printer->Printed(), (std::vector<std::string>{"c", "d"}));
  EXPECT_EQ(RecordCount(Multi()), 0);
}

// ---------------------------------------------------------------------------
// Against the private scheduler: queues Closed_Q (rejecting), Dock_B, alpha_desk.

TEST_F(LabelsTest, RealSchedulerGetsOneJobPerLabelInOrder) {
  if (!vvtest::CaptureDir()) GTEST_SKIP() << "no test scheduler (run under scripts/test)";
  const auto service = plat::MakeCupsPrinterService();
  plat::SetPrinting(service);
  // Positions in the list as the service gives it (the Windows spooler keeps
  // an order of its own).
  AppSetup->PrinterNames = service->Printers();
  auto pos = [&](const char* name) {
    const auto& n = AppSetup->PrinterNames;
    return static_cast<int>(std::find(n.begin(), n.end(), name) - n.begin());
  };
  AppSetup->PackagePrinter = pos("Dock_B");
  AppSetup->CommInvoicePrinter = pos("Closed_Q");  // refuses jobs
  const std::string m = vvtest::Marker("labels");
  CreateShipments(Data(), {{1, "ON", "", "A", "", "", ""}, {2, "ON", "", "B", "", "", ""}, {3, "ON", "", "C", "", "", ""}});
  CreatePackages(Data(), {});
  const std::string a = m + "A\r\n" + std::string(300, 'a') + "\r\n";
  const std::string b = m + "B\r\n";
  const std::string c = m + "C\r\n";
  CreateLabels(Multi(), {{Doc("c", c), 0, 3, 1}, {Doc("b", b), 1, 2, 1}, {Doc("a", a), 0, 1, 1}});
  auto before = vvtest::DoneJobs();

  // The Windows spooler takes jobs for a rejecting printer and keeps them:
  // only the scheduler behind it refuses them, later.
  if (!plat::os::kWindowsNames) {
    EXPECT_FALSE(SequenceLabels({}, {sfCustomerName}));  // "b" goes to the rejecting queue
    EXPECT_EQ(LabelRecords(Multi()), (std::vector<std::string>{"c", "b"}));
  }
  AppSetup->CommInvoicePrinter = pos("alpha_desk");
  EXPECT_TRUE(SequenceLabels({}, {sfCustomerName}));
  EXPECT_TRUE(LabelRecords(Multi()).empty());

  auto jobs = vvtest::WaitForJobs(before, m, 3);
  ASSERT_EQ(jobs.size(), 3u);
  const std::vector<std::pair<std::string, std::string>> expected = {{"Dock_B", a}, {"alpha_desk", b}, {"Dock_B", c}};
  for (size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(jobs[i].title, kTitle);
    EXPECT_EQ(jobs[i].printer, expected[i].first);
    EXPECT_EQ(jobs[i].data, expected[i].second);
  }
  // Nothing more turns up later.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(vvtest::WaitForJobs(before, m, 4, std::chrono::milliseconds(0)).size(), 3u);
}

// Queues added and removed while the settings object lives. Temporary
// queues are named "zz_tmp_..." so that they sort after the standing ones
// (whose positions other tests use at the same time).
TEST_F(LabelsTest, RealSchedulerKeepsTheChosenQueueOrFails) {
  if (!vvtest::CaptureDir()) GTEST_SKIP() << "no test scheduler (run under scripts/test)";
#ifdef _WIN32
  GTEST_SKIP() << "queues are added with the scheduler's own administration tool, which a Windows program cannot start";
#endif
  plat::SetPrinting(plat::MakeCupsPrinterService());
  const std::string tag = "zz_tmp_" + std::to_string(getpid()) + "_";
  auto lpadmin = [&](const std::string& args) {
    return std::system(("lpadmin " + args + " >/dev/null 2>&1").c_str()) == 0;
  };
  struct Cleanup {
    std::function<bool(const std::string&)> run;
    std::string tag;
    ~Cleanup() {
      for (const char* q : {"a", "b", "c"}) run("-x " + tag + q);
    }
  } cleanup{lpadmin, tag};
  ASSERT_TRUE(lpadmin("-p " + tag + "b -E -v capture:" + vvtest::CaptureDir()));
  ASSERT_TRUE(lpadmin("-p " + tag + "c -E -v capture:" + vvtest::CaptureDir()));
  Write(dir / "prog/Mondarix.ini", "[Printer Setup]\r\nPackagePrinter=" + tag + "c\r\n");
  TSetup chosen(dir / "prog");
  ASSERT_GE(chosen.PackagePrinter, 3);  // after the three standing queues
  AppSetup = &chosen;
  // A queue that sorts before the chosen one takes its position in the list.
  ASSERT_TRUE(lpadmin("-p " + tag + "a -E -v capture:" + vvtest::CaptureDir()));
  const std::string m = vvtest::Marker("moved");
  auto before = vvtest::DoneJobs();
  const std::string f = Doc("moved.lbl", m + "\r\n");
  EXPECT_TRUE(PrintLabelDocument(f, 0));
  auto jobs = vvtest::WaitForJobs(before, m, 1);
  ASSERT_EQ(jobs.size(), 1u);
  EXPECT_EQ(jobs[0].printer, tag + "c");
  // The chosen queue removed: the label fails and waits, no other queue gets it.
  ASSERT_TRUE(lpadmin("-x " + tag + "c"));
  before = vvtest::DoneJobs();
  const std::string g = Doc("gone.lbl", m + "gone\r\n");
  EXPECT_FALSE(PrintLabelDocument(g, 0));
  EXPECT_TRUE(Exists(g));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_TRUE(vvtest::WaitForJobs(before, m, 1, std::chrono::milliseconds(0)).empty());
  AppSetup = setup.get();
}

}  // namespace
