// The main window on a generated demo installation, as a new user would use
// it: a Manual Shipment pass and a Manual Package pass, with the result file
// and the printed labels checked against the order worked out from the
// generator's data (tests/e2e/demo_expect.h).
#include <QLineEdit>
#include <QPushButton>

#include "setup/TableAccess.h"
#include "tests/e2e/demo_expect.h"
#include "tests/ui/main_window_support.h"
#include "tools/demo_data.h"

using namespace mwt;

namespace {

// A demo installation inside a test world, and the program's settings
// pointing at it, with LPT1 going to a file.
struct DemoWorld : World {
  demo::Model model;
  std::string port;
  bool ok = false;

  explicit DemoWorld(uint32_t seed) {
    model = demo::BuildModel(Path("kavlo"), seed);
    const int engine = OpenData();
    std::string error;
    ok = demo::WriteModel(engine, model, error);
    CloseData(engine);
    if (!ok) qWarning("demo: %s", error.c_str());
    port = Path("eltron.prn");
    WriteAll(port, "");  // the port writes only to a file that exists
    WriteAll(program + "/Vadoviver.ini", "[Paths]\r\nDesko=" + model.root + "\r\nSource=" + model.sourcePath +
                                             "\r\nResult=" + model.resultPath + "\r\n[Files]\r\nQuery=" +
                                             model.zoneSortFile + "\r\n[Ports]\r\nLPT1=" + port + "\r\n");
  }
};

int WaitingLabels(int engine, const demo::Model& m) {
  const int t = mOpen(engine, m.multiShipperPath + "\\Labels", "");
  if (!t) return -1;
  const int n = d4recCountDo(t);
  d4close(t);
  return n;
}

const char* const Success = "File Sort Processed Successfully.";

}  // namespace

class E2eWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void manualPassesOnTheDemoInstallation() {
    DemoWorld w(71);
    QVERIFY(w.ok);
    const demo::Model& m = w.model;
    Running r(w);
    TfrmMain& f = *r.frm;
    QCOMPARE(Text(f.txtCount), std::string("0 "));
    QCOMPARE(f.txtQuery->text().toStdString(), m.zoneSortFile);

    // Shipment, Manual, sorted by province and customer: the sort file is typed in.
    r.Mode(1, 1);
    const std::string source = m.sourcePath + "/ORDER.TXT", result = m.resultPath + "/SORTED.TXT";
    f.txtQuery->setText(QString::fromStdString(" " + m.provinceSortFile + " "));
    f.txtSource->setText(QString::fromStdString(source));
    f.txtResult->setText(QString::fromStdString(result));
    const std::string expectedFile = e2e::ExpectedResult(m, e2e::ProvinceCustomerOrder());
    QVERIFY(expectedFile != m.orderText);
    f.btnProcess->click();
    QCOMPARE(r.ui->messages.size(), size_t(1));
    QCOMPARE(r.ui->messages[0].text, std::string(Success));
    QCOMPARE(r.ui->messages[0].caption, std::string("Success ..."));
    QVERIFY(r.ui->messages[0].icon == ui::MsgIcon::Information);
    QVERIFY(!r.status.empty());
    QCOMPARE(r.status.front(), (StatusEntry{true, "Sorting a Shipment File ..."}));
    QVERIFY(!f.panWait->isVisible());
    QVERIFY(ReadAll(result) == expectedFile);
    QVERIFY(!Exists(source));

    // Package, Manual, with the sort file of the settings (zone, then postal code).
    r.Clear();
    r.Mode(0, 1);
    f.txtQuery->setText(QString::fromStdString(m.zoneSortFile));
    const auto labels = e2e::ExpectedLabels(m, e2e::ZonePostalOrder());
    QCOMPARE(labels.size(), m.labels.size());
    std::string printed;
    for (const demo::Label* l : labels) printed += l->content;
    f.btnProcess->click();
    QCOMPARE(r.ui->messages.size(), size_t(1));
    QCOMPARE(r.ui->messages[0].text, std::string(Success));
    QCOMPARE(r.status.front(), (StatusEntry{true, "Sorting Package Labels ..."}));
    QVERIFY(!f.panWait->isVisible());
    QVERIFY(ReadAll(w.port) == printed);
    QCOMPARE(WaitingLabels(f.EngineHandle(), m), 0);
    for (const demo::Label& l : m.labels) QVERIFY(!Exists(l.fileName));
    // Manual passes do not count, and nothing waited for the host.
    QVERIFY(r.ui->pauses.empty());
    QVERIFY(!f.txtCount->isVisible());
    QCOMPARE(r.ui->cursorDepth, 0);
  }
};

QTEST_MAIN(E2eWindowTest)
#include "e2e_window_test.moc"
