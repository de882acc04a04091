// The shipment passes of the main window on real ORDER.TXT files, real sort
// files and the host's real province table.
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

#include "setup/uSetup.h"
#include "tests/ui/main_window_support.h"

using namespace mwt;

namespace {

const std::string Beta = "H,1,2,C2,BETA,6,7,8,9,10,11,12,K1A 0B1,ON\r\nD,beta detail\r\n";
const std::string Acme = "H,1,2,C1,ACME,6,7,8,9,10,11,12,H2X 1Y4,QC\r\nD,acme 1\r\nD,acme 2\r\n";
const char* const Failed = "Unable to create the sorted result text file.";

// A world with the host's tables, a sort file by customer name and the
// automatic folders "in" and "out".
struct ShipmentWorld : World {
  std::string in, out, sort;
  ShipmentWorld() {
    CopyFixtureTables();
    WriteMondarixIni("");
    in = Sub("in");
    out = Sub("out");
    sort = Path("name.qry");
    WriteSortFile(sort, {5});
    WriteVadoviverIni(in, out, sort);
  }
};

const StatusEntry Sorting{true, "Sorting a Shipment File ..."};

// The pass log's pass lines, each without its time: "outcome\tmessage\tcount".
std::vector<std::string> LoggedPasses(const World& w) {
  std::vector<std::string> out;
  const std::string log = ReadAll(w.program + "/Vadoviver.log");
  for (size_t p = 0, q; (q = log.find('\n', p)) != std::string::npos; p = q + 1) {
    const std::string line = log.substr(p, q - p);
    const std::string word = "\tpass\tshipment\t";
    const size_t at = line.find(word);
    if (at != std::string::npos) out.push_back(line.substr(at + word.size()));
  }
  return out;
}

}  // namespace

class ShipmentPassTest : public QObject {
  Q_OBJECT

 private slots:
  void automaticCycleSortsAndCounts() {
    ShipmentWorld w;
    WriteAll(w.in + "/ORDER.TXT", Beta + Acme);
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    QCOMPARE(f.txtSource->text().toStdString(), w.in);
    f.btnProcess->click();
    QCOMPARE(f.tmrProcess->interval(), 10000);
    QVERIFY(Exists(w.in + "/ORDER.TXT"));  // not at once
    f.tmrProcess->setInterval(20);
    f.tmrProcess->start();
    QTRY_COMPARE(r.Count(), std::string("1 "));
    QVERIFY(!Exists(w.in + "/ORDER.TXT"));
    QCOMPARE(ReadAll(w.out + "/ORDER.TXT"), Acme + Beta);
    QVERIFY(r.ui->messages.empty());
    QVERIFY(!r.status.empty());
    QCOMPARE(r.status.front(), Sorting);
    QVERIFY(!f.panWait->isVisible());
    QVERIFY(f.tmrProcess->isActive());

    // Later ticks find no source until the host writes the next file.
    QTest::qWait(100);
    QCOMPARE(r.Count(), std::string("1 "));
    WriteAll(w.in + "/ORDER.TXT", Acme);
    QTRY_COMPARE(r.Count(), std::string("2 "));
    QCOMPARE(ReadAll(w.out + "/ORDER.TXT").substr(0, Acme.size()), Acme);
    // Every pass is logged with the shipments written; idle ticks once (the
    // cycle may have gone idle again by now).
    auto logged = LoggedPasses(w);
    if (logged.size() == 4 && logged.back() == "nothing\t\t0") logged.pop_back();
    QCOMPARE(logged, (std::vector<std::string>{"ok\t\t2", "nothing\t\t0", "ok\t\t1"}));

    // Stop and Process keep the counter; a mode change resets it.
    f.btnStop->click();
    QCOMPARE(r.Count(), std::string("2 "));
    f.btnProcess->click();
    QCOMPARE(r.Count(), std::string("2 "));
    f.tabMode->setCurrentIndex(0);
    QCOMPARE(r.Count(), std::string("0 "));
    QVERIFY(f.tmrProcess->isActive());
    QVERIFY(r.ui->messages.empty());
  }

  void missingSourceShowsNothing() {
    ShipmentWorld w;
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.btnProcess->click();
    f.tmrProcessTimer();
    QVERIFY(r.status.empty());
    QVERIFY(r.ui->messages.empty());
    QVERIFY(!Exists(w.out + "/ORDER.TXT"));
    QCOMPARE(r.Count(), std::string("0 "));
    QVERIFY(f.tmrProcess->isActive());
  }

  void passUsesFieldTextsNotSettings() {
    ShipmentWorld w;
    const std::string other = w.Sub("other");
    WriteAll(other + "/ORDER.TXT", Beta + Acme);
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.txtSource->setText(QString::fromStdString("  " + other + "  "));  // typed, never left
    f.btnProcess->click();
    f.tmrProcessTimer();
    QCOMPARE(AppSetup->SourcePath, w.in);
    QCOMPARE(r.Count(), std::string("1 "));
    QCOMPARE(ReadAll(w.out + "/ORDER.TXT"), Acme + Beta);
  }

  void missingResultFolderIsReportedEveryPass() {
    ShipmentWorld w;
    WriteAll(w.in + "/ORDER.TXT", Beta + Acme);
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.txtResult->setText(QString::fromStdString(w.Path("no/such/folder")));
    f.btnProcess->click();
    for (int pass = 1; pass <= 2; ++pass) {
      f.tmrProcessTimer();
      QCOMPARE(r.ui->messages.size(), size_t(pass));
      const RecordedMessage& m = r.ui->messages.back();
      QCOMPARE(m.text, std::string(Failed));
      QCOMPARE(m.caption, std::string("Unable to create new file"));
      QVERIFY(m.icon == ui::MsgIcon::Warning);
      QVERIFY(f.tmrProcess->isActive());  // the cycle goes on
    }
    QVERIFY(r.status.empty());  // nothing else was begun
    QCOMPARE(ReadAll(w.in + "/ORDER.TXT"), Beta + Acme);
    const std::string failed = std::string("failed\tUnable to create new file: ") + Failed + "\t0";
    QCOMPARE(LoggedPasses(w), (std::vector<std::string>{failed, failed}));
    QCOMPARE(r.Count(), std::string("0 "));
  }

  void invalidSortFile_data() {
    QTest::addColumn<QString>("content");
    QTest::newRow("no such file") << QString();
    QTest::newRow("no Keys section") << "[Other]\r\nKey1=5\r\n";
    QTest::newRow("no usable key") << "[Keys]\r\nKey1=-1\r\nKey2=name\r\n";
  }

  void invalidSortFile() {
    QFETCH(QString, content);
    ShipmentWorld w;
    if (content.isNull()) std::filesystem::remove(w.sort);
    else WriteAll(w.sort, content.toStdString());
    WriteAll(w.in + "/ORDER.TXT", Beta + Acme);
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.btnProcess->click();
    f.tmrProcessTimer();
    f.tmrProcessTimer();
    QCOMPARE(r.ui->messages.size(), size_t(2));
    for (const RecordedMessage& m : r.ui->messages) {
      QCOMPARE(m.text, std::string(Failed));
      QCOMPARE(m.caption, std::string("Sort file invalid"));
      QVERIFY(m.icon == ui::MsgIcon::Warning);
    }
    QCOMPARE(r.status.front(), Sorting);
    QVERIFY(!f.panWait->isVisible());
    QCOMPARE(ReadAll(w.in + "/ORDER.TXT"), Beta + Acme);
    QCOMPARE(r.Count(), std::string("0 "));
    QCOMPARE(r.ui->cursorDepth, 0);

    // The manual pass says nothing about it.
    r.Clear();
    f.btnStop->click();
    f.tabProcess->setCurrentIndex(1);
    f.txtSource->setText(QString::fromStdString(w.in + "/ORDER.TXT"));
    f.txtResult->setText(QString::fromStdString(w.out + "/MANUAL.TXT"));
    f.btnProcess->click();
    QVERIFY(r.ui->messages.empty());
    QCOMPARE(r.status.front(), Sorting);
    QVERIFY(!f.panWait->isVisible());
    QVERIFY(Exists(w.in + "/ORDER.TXT"));
  }

  void failedSequencingIsReported() {
    ShipmentWorld w;
    WriteAll(w.in + "/ORDER.TXT", Beta + Acme);
    std::filesystem::create_directory(w.out + "/ORDER.TXT");  // exists, but cannot be written
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.btnProcess->click();
    f.tmrProcessTimer();
    QCOMPARE(r.ui->messages.size(), size_t(1));
    QCOMPARE(r.ui->messages[0].caption, std::string("Unable to create new file"));
    QCOMPARE(r.ui->messages[0].text, std::string(Failed));
    QCOMPARE(r.status.front(), Sorting);
    QVERIFY(Exists(w.in + "/ORDER.TXT"));
    QCOMPARE(r.Count(), std::string("0 "));
  }

  void manualSortSucceeds() {
    ShipmentWorld w;
    const std::string source = w.Path("export.txt"), result = w.Path("sorted.txt");
    WriteAll(source, Beta + Acme);
    Running r(w);
    TfrmMain& f = *r.frm;
    r.Mode(1, 1);
    f.txtSource->setText(QString::fromStdString(" " + source));
    f.txtResult->setText(QString::fromStdString(result + " "));
    f.btnProcess->click();
    QCOMPARE(r.ui->messages.size(), size_t(1));
    QCOMPARE(r.ui->messages[0].text, std::string("File Sort Processed Successfully."));
    QCOMPARE(r.ui->messages[0].caption, std::string("Success ..."));
    QVERIFY(r.ui->messages[0].icon == ui::MsgIcon::Information);
    QCOMPARE(ReadAll(result), Acme + Beta);
    QVERIFY(!Exists(source));
    QVERIFY(!Exists(result + " "));  // no stray file under the untrimmed name
    QCOMPARE(r.status.front(), Sorting);
    QVERIFY(!f.panWait->isVisible());
    QCOMPARE(r.Count(), std::string("0 "));
    QVERIFY(!f.tmrProcess->isActive());
    QCOMPARE(LoggedPasses(w), std::vector<std::string>{"ok\tFile Sort Processed Successfully.\t2"});
    QVERIFY(f.PassLogWritten());
  }

  // A log that cannot be written (its name is a folder's) does not stop the
  // pass; the status line says the log is not being written.
  void unwritableLogIsOnTheStatusLine() {
    ShipmentWorld w;
    WriteAll(w.program + "/Vadoviver.ini", ReadAll(w.program + "/Vadoviver.ini") + "[Log]\r\nFile=" + w.out + "\r\n");
    WriteAll(w.in + "/ORDER.TXT", Beta + Acme);
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.btnProcess->click();
    f.tmrProcessTimer();
    QCOMPARE(ReadAll(w.out + "/ORDER.TXT"), Acme + Beta);
    QCOMPARE(r.Count(), std::string("1 "));
    QVERIFY(r.ui->messages.empty());
    QVERIFY(!f.PassLogWritten());
    const QString line = f.stbMain->currentMessage();
    QVERIFY2(line.contains(": ok, shipment file sorted; the pass log ") && line.endsWith(" is not being written"),
             qPrintable(line));
  }

  void manualResultCannotBeCreated_data() {
    QTest::addColumn<QString>("result");
    QTest::newRow("empty") << "";
    QTest::newRow("blanks") << "   ";
    QTest::newRow("missing folder") << "/no/such/folder/sorted.txt";
    QTest::newRow("a folder") << QDir::tempPath();
  }

  void manualResultCannotBeCreated() {
    QFETCH(QString, result);
    ShipmentWorld w;
    const std::string source = w.Path("export.txt");
    WriteAll(source, Beta + Acme);
    Running r(w);
    TfrmMain& f = *r.frm;
    r.Mode(1, 1);
    f.txtSource->setText(QString::fromStdString(source));
    f.txtResult->setText(result);
    f.btnProcess->click();
    QCOMPARE(r.ui->messages.size(), size_t(1));
    QCOMPARE(r.ui->messages[0].text, std::string(Failed));
    QCOMPARE(r.ui->messages[0].caption, std::string("Unable to create new file"));
    QVERIFY(r.ui->messages[0].icon == ui::MsgIcon::Warning);
    QVERIFY(r.status.empty());  // no status panel
    QVERIFY(Exists(source));
  }

  void manualMissingSourceSaysNothing() {
    ShipmentWorld w;
    const std::string result = w.Path("sorted.txt");
    Running r(w);
    TfrmMain& f = *r.frm;
    r.Mode(1, 1);
    f.txtSource->setText(QString::fromStdString(w.Path("absent.txt")));
    f.txtResult->setText(QString::fromStdString(result));
    f.btnProcess->click();
    QVERIFY(r.ui->messages.empty());
    QVERIFY(Exists(result));  // made before the sort was tried
    QCOMPARE(r.status.front(), Sorting);
  }
};

QTEST_MAIN(ShipmentPassTest)
#include "shipment_pass_test.moc"
