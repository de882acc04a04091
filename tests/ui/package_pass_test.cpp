// The package passes of the main window on real host tables (copies of the
// shared fixtures), with a printer service that records every job.
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <set>

#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "tests/ui/main_window_support.h"

using namespace mwt;

namespace {

class RecordingPrinter : public plat::PrinterService {
 public:
  struct Job {
    std::string title;
    std::string bytes;
    bool ended = false;
  };
  std::vector<Job> jobs;

  std::vector<std::string> Printers() override { return {"Label Printer"}; }
  bool HasDefault() override { return true; }
  std::unique_ptr<plat::PrintJob> StartJob(int position, const std::string& title) override {
    if (position != 0 && position != -1) return nullptr;
    jobs.push_back({title, "", false});
    return std::make_unique<Recording>(*this, jobs.size() - 1);
  }

 private:
  class Recording : public plat::PrintJob {
   public:
    Recording(RecordingPrinter& p, size_t i) : p_(p), i_(i) {}
    bool SendBlock(const std::string& bytes) override {
      p_.jobs[i_].bytes += bytes;
      return true;
    }
    bool End(bool) override {
      p_.jobs[i_].ended = true;
      return true;
    }

   private:
    RecordingPrinter& p_;
    size_t i_;
  };
};

struct Label {
  std::string file;
  int document;
  int shipment;
  int package;
};

// Shipments of the fixture tables and their customers' names.
constexpr int Bouchard = 1000002;   // "K. Bouchard"
constexpr int Atlantic = 1000011;   // "Atlantic Fisheries"
constexpr int MapleLeaf = 1000014;  // "Maple Leaf Supply"

const char* const Unable = "Unable to process package label sort.";
const StatusEntry Waiting{true, "Processing Package Labels ..."};
const StatusEntry Sorting{true, "Sorting Package Labels ..."};

struct PackageWorld : World {
  std::string docs, sort;
  PackageWorld() {
    CopyFixtureTables();
    WriteMondarixIni("Label Printer");
    docs = Sub("docs");
    sort = Path("name.qry");
    WriteSortFile(sort, {5});
    WriteVadoviverIni(program, "", sort);
  }
  std::string LabelsTable() const { return tables + "/Labels"; }

  // A label document whose bytes name it.
  std::string Document(const std::string& name) {
    const std::string path = docs + "/" + name + ".zpl";
    WriteAll(path, "^XA^FD" + name + "^FS^XZ\r\n");
    return path;
  }
};

int CountLabels(int engine, const std::string& table) {
  const int t = mOpen(engine, table, "");
  if (t == 0) return -1;
  const int n = d4recCountDo(t);
  d4close(t);
  return n;
}

// Replaces the waiting labels by the given ones.
bool SetLabels(int engine, const std::string& table, const std::vector<Label>& labels, bool keep = false) {
  const int t = mOpen(engine, table, "");
  if (t == 0) return false;
  bool ok = d4lockFile(t) == 0;
  const int32_t n = d4recCountDo(t);
  if (ok && !keep && n > 0) ok = d4zap(t, 1, n) == 0;
  for (const Label& l : labels) {
    ok = ok && d4appendBlank(t) == 0;
    ok = ok && replace(t, "file_name", l.file) == 0;
    ok = ok && replace(t, "document", std::to_string(l.document)) == 0;
    ok = ok && replace(t, "shipment", std::to_string(l.shipment)) == 0;
    ok = ok && replace(t, "package", std::to_string(l.package)) == 0;
  }
  ok = d4flush(t) == 0 && ok;
  d4unlock(t);
  d4close(t);
  return ok;
}

// The document files of the labels still waiting (records not marked deleted).
std::multiset<std::string> WaitingFiles(int engine, const std::string& table) {
  std::multiset<std::string> files;
  const int t = mOpen(engine, table, "");
  if (t == 0) return files;
  for (int rc = d4top(t); rc == 0; rc = d4skip(t, 1))
    if (d4deleted(t) != 1) files.insert(fetch(t, "file_name"));
  d4close(t);
  return files;
}

std::string Printed(const RecordingPrinter& p) {
  std::string all;
  for (const auto& j : p.jobs) all += j.bytes;
  return all;
}

}  // namespace

class PackagePassTest : public QObject {
  Q_OBJECT

  std::shared_ptr<RecordingPrinter> printer_;

 private slots:
  void init() {
    printer_ = std::make_shared<RecordingPrinter>();
    plat::SetPrinting(printer_);
  }

  void emptyLabelsTableShowsNothing() {
    PackageWorld w;
    Running r(w);
    QVERIFY(SetLabels(r.frm->EngineHandle(), w.LabelsTable(), {}));
    r.frm->btnProcess->click();
    r.frm->tmrProcessTimer();
    QVERIFY(r.ui->pauses.empty());
    QVERIFY(r.status.empty());
    QVERIFY(r.ui->messages.empty());
    QVERIFY(r.frm->tmrProcess->isActive());
    QCOMPARE(r.Count(), std::string("0 "));
  }

  void missingLabelsTableShowsNothing() {
    PackageWorld w;
    std::filesystem::remove(w.tables + "/Labels.dbf");
    std::filesystem::remove(w.tables + "/Labels.cdx");
    Running r(w);
    r.frm->btnProcess->click();
    r.frm->tmrProcessTimer();
    QVERIFY(r.ui->pauses.empty());
    QVERIFY(r.status.empty());
    QVERIFY(r.ui->messages.empty());
  }

  void labelsPrintInSortedOrderAndCount() {
    PackageWorld w;
    Running r(w);
    const int engine = r.frm->EngineHandle();
    QVERIFY(SetLabels(engine, w.LabelsTable(),
                      {{w.Document("bouchard"), 0, Bouchard, 1},
                       {w.Document("maple"), 0, MapleLeaf, 1},
                       {w.Document("atlantic"), 0, Atlantic, 1}}));
    r.frm->btnProcess->click();
    r.frm->tmrProcessTimer();
    QCOMPARE(r.ui->pauses, std::vector<int>{60000});
    QCOMPARE(r.status.size(), size_t(2));
    QCOMPARE(r.status[0], Waiting);
    QCOMPARE(r.status[1], Sorting);
    QVERIFY(!r.frm->panWait->isVisible());
    QVERIFY(r.ui->messages.empty());
    QCOMPARE(printer_->jobs.size(), size_t(3));
    for (const auto& j : printer_->jobs) {
      QCOMPARE(j.title, std::string("Kavlo Shipping Label"));
      QVERIFY(j.ended);
    }
    QCOMPARE(printer_->jobs[0].bytes, std::string("^XA^FDatlantic^FS^XZ\r\n"));
    QCOMPARE(printer_->jobs[1].bytes, std::string("^XA^FDbouchard^FS^XZ\r\n"));
    QCOMPARE(printer_->jobs[2].bytes, std::string("^XA^FDmaple^FS^XZ\r\n"));
    QCOMPARE(CountLabels(engine, w.LabelsTable()), 0);
    QVERIFY(!Exists(w.docs + "/atlantic.zpl"));
    QCOMPARE(r.Count(), std::string("1 "));
    QVERIFY(r.frm->tmrProcess->isActive());
    QCOMPARE(r.ui->cursorDepth, 0);
    QCOMPARE(r.ui->maxCursorDepth, 1);

    // The next tick finds the table empty.
    r.Clear();
    r.frm->tmrProcessTimer();
    QVERIFY(r.ui->pauses.empty());
    QCOMPARE(r.Count(), std::string("1 "));

    // The log names each label in the order the jobs came, then the pass.
    std::vector<std::string> logged;
    const std::string log = ReadAll(w.program + "/Vadoviver.log");
    for (size_t p = 0, q; (q = log.find('\n', p)) != std::string::npos; p = q + 1)
      logged.push_back(log.substr(log.find('\t', p) + 1, q - log.find('\t', p) - 1));
    const auto printed = [&](int n, const char* doc, int shipment, const char* name) {
      return "printed\t" + std::to_string(n) + "\t" + w.docs + "/" + doc + ".zpl\t" + std::to_string(shipment) +
             "\t1\t0\t" + name;
    };
    QCOMPARE(logged, (std::vector<std::string>{printed(1, "atlantic", Atlantic, "Atlantic Fisheries"),
                                               printed(2, "bouchard", Bouchard, "K. Bouchard"),
                                               printed(3, "maple", MapleLeaf, "Maple Leaf Supply"),
                                               "pass\tpackage\tok\t\t3", "pass\tpackage\tnothing\t\t0"}));
  }

  void countChangingDuringTheWaitPostponesThePass() {
    PackageWorld w;
    Running r(w);
    const int engine = r.frm->EngineHandle();
    QVERIFY(SetLabels(engine, w.LabelsTable(),
                      {{w.Document("one"), 0, Bouchard, 1}, {w.Document("two"), 0, Atlantic, 1}}));
    // The host adds a label while the window waits.
    r.ui->onPause = [&](int) {
      QVERIFY(SetLabels(engine, w.LabelsTable(), {{w.Document("three"), 0, MapleLeaf, 1}}, /*keep=*/true));
    };
    r.frm->btnProcess->click();
    r.frm->tmrProcessTimer();
    QCOMPARE(r.ui->pauses, std::vector<int>{60000});
    QCOMPARE(r.status.size(), size_t(2));
    QCOMPARE(r.status[0], Waiting);
    QVERIFY(!r.frm->panWait->isVisible());
    QVERIFY(printer_->jobs.empty());
    QVERIFY(r.ui->messages.empty());
    QCOMPARE(CountLabels(engine, w.LabelsTable()), 3);
    QCOMPARE(r.Count(), std::string("0 "));
    QVERIFY(r.frm->tmrProcess->isActive());

    // The next tick counts and waits again; now the count holds.
    r.ui->onPause = nullptr;
    r.Clear();
    r.frm->tmrProcessTimer();
    QCOMPARE(r.ui->pauses, std::vector<int>{60000});
    QCOMPARE(printer_->jobs.size(), size_t(3));
    QCOMPARE(r.Count(), std::string("1 "));
  }

  void invalidSortFileIsReportedAndNothingPrints() {
    PackageWorld w;
    WriteAll(w.sort, "[Keys]\r\nKey1=none\r\n");
    Running r(w);
    const int engine = r.frm->EngineHandle();
    QVERIFY(SetLabels(engine, w.LabelsTable(), {{w.Document("one"), 0, Bouchard, 1}}));
    r.frm->btnProcess->click();
    r.frm->tmrProcessTimer();
    QCOMPARE(r.ui->messages.size(), size_t(1));
    QCOMPARE(r.ui->messages[0].text, std::string(Unable));
    QCOMPARE(r.ui->messages[0].caption, std::string("Sort file invalid"));
    QVERIFY(r.ui->messages[0].icon == ui::MsgIcon::Warning);
    QVERIFY(printer_->jobs.empty());
    QCOMPARE(CountLabels(engine, w.LabelsTable()), 1);
    QVERIFY(!r.frm->panWait->isVisible());
    QCOMPARE(r.Count(), std::string("0 "));
    QVERIFY(r.frm->tmrProcess->isActive());
  }

  void failedPrintingIsReported() {
    PackageWorld w;
    Running r(w);
    const int engine = r.frm->EngineHandle();
    QVERIFY(SetLabels(engine, w.LabelsTable(),
                      {{w.Document("printed"), 0, Atlantic, 1}, {w.docs + "/missing.zpl", 0, MapleLeaf, 1}}));
    r.frm->btnProcess->click();
    r.frm->tmrProcessTimer();
    QCOMPARE(r.ui->messages.size(), size_t(1));
    QCOMPARE(r.ui->messages[0].text, std::string(Unable));
    QCOMPARE(r.ui->messages[0].caption, std::string("Error Occured"));
    QVERIFY(r.ui->messages[0].icon == ui::MsgIcon::Warning);
    QCOMPARE(Printed(*printer_), std::string("^XA^FDprinted^FS^XZ\r\n"));
    // The label that could not print still waits for the next pass.
    QVERIFY(CountLabels(engine, w.LabelsTable()) >= 1);
    QVERIFY(WaitingFiles(engine, w.LabelsTable()).count(w.docs + "/missing.zpl") == 1);
    QCOMPARE(r.Count(), std::string("0 "));
  }

  // What is on screen while the pass blocks: the panel must have been painted
  // into the window (one round of message processing does not paint it).
  void statusPanelIsOnScreenDuringTheWaits() {
    PackageWorld w;
    Running r(w);
    QVERIFY(QTest::qWaitForWindowExposed(r.frm.get()));
    QVERIFY(SetLabels(r.frm->EngineHandle(), w.LabelsTable(), {{w.Document("one"), 0, Bouchard, 1}}));
    std::vector<bool> painted;
    auto onScreen = [&] {
      QWidget* p = r.frm->panWait;
      const QImage screen = r.frm->screen()->grabWindow(r.frm->winId()).toImage();
      const QRect at(p->mapTo(r.frm.get(), QPoint(0, 0)), p->size());
      painted.push_back(screen.copy(at).convertToFormat(QImage::Format_RGB32) ==
                        p->grab().toImage().convertToFormat(QImage::Format_RGB32));
    };
    r.ui->onPause = [&](int) { onScreen(); };
    r.frm->btnProcess->click();
    r.frm->tmrProcessTimer();
    r.ui->onPause = nullptr;
    // The manual pass blocks while it prints.
    QVERIFY(SetLabels(r.frm->EngineHandle(), w.LabelsTable(), {{w.Document("two"), 0, Bouchard, 1}}));
    r.frm->btnStop->click();
    r.Mode(0, 1);
    r.ui->onProcessMessages = onScreen;
    r.frm->btnProcess->click();
    QCOMPARE(painted, (std::vector<bool>{true, true}));
    QCOMPARE(printer_->jobs.size(), size_t(2));
  }

  void manualPassPrintsAtOnce() {
    PackageWorld w;
    Running r(w);
    const int engine = r.frm->EngineHandle();
    QVERIFY(SetLabels(engine, w.LabelsTable(),
                      {{w.Document("maple"), 0, MapleLeaf, 1}, {w.Document("atlantic"), 0, Atlantic, 1}}));
    r.Mode(0, 1);
    r.frm->btnProcess->click();
    QVERIFY(r.ui->pauses.empty());
    QCOMPARE(r.status.size(), size_t(1));
    QCOMPARE(r.status[0], Sorting);
    QCOMPARE(r.ui->messages.size(), size_t(1));
    QCOMPARE(r.ui->messages[0].text, std::string("File Sort Processed Successfully."));
    QCOMPARE(r.ui->messages[0].caption, std::string("Success ..."));
    QVERIFY(r.ui->messages[0].icon == ui::MsgIcon::Information);
    QCOMPARE(Printed(*printer_), std::string("^XA^FDatlantic^FS^XZ\r\n^XA^FDmaple^FS^XZ\r\n"));
    QCOMPARE(CountLabels(engine, w.LabelsTable()), 0);
    QCOMPARE(r.Count(), std::string("0 "));

    // An invalid sort file: the panel comes and goes, and nothing is said.
    WriteAll(w.sort, "[Keys]\r\n");
    r.Clear();
    r.frm->btnProcess->click();
    QCOMPARE(r.status.size(), size_t(1));
    QVERIFY(!r.frm->panWait->isVisible());
    QVERIFY(r.ui->messages.empty());
  }
};

QTEST_MAIN(PackagePassTest)
#include "package_pass_test.moc"
