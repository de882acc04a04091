// Renders every window of the program under the offscreen platform. Each
// picture is checked to be the window's own size and not blank; with
// VV_SCREENSHOT_DIR set (scripts/screenshots) the pictures are also written
// there as PNG files.
#include <QDir>
#include <QImage>
#include <QLineEdit>
#include <QPixmap>
#include <QPushButton>
#include <QSet>
#include <QTabBar>

#include "tests/ui/main_window_support.h"

#if __has_include("ui/fQuery.h")
#include <QCheckBox>
#include <QComboBox>

#include "engine/uSequncr.h"
#include "ui/fQuery.h"
#define VV_SHOT_QUERY 1
#endif
#if __has_include("ui/fSetup.h")
#include "ui/fSetup.h"
#define VV_SHOT_SETUP 1
#endif
#if __has_include("ui/fZone.h")
#include "ui/fZone.h"
#define VV_SHOT_ZONE 1
#endif

using namespace mwt;

namespace {

// Distinct colours in the picture: a blank or single-colour grab has one or two.
int Colours(const QImage& image) {
  QSet<QRgb> seen;
  for (int y = 0; y < image.height(); y += 2)
    for (int x = 0; x < image.width(); x += 2) seen.insert(image.pixel(x, y));
  return static_cast<int>(seen.size());
}

}  // namespace

class Screenshots : public QObject {
  Q_OBJECT

  void Shot(QWidget* w, const char* name) {
    QCoreApplication::processEvents();
    const QPixmap pm = w->grab();
    QCOMPARE(pm.size(), w->size());
    QVERIFY2(Colours(pm.toImage()) > 8, name);
    const QByteArray dir = qgetenv("VV_SCREENSHOT_DIR");
    if (dir.isEmpty()) return;
    QDir().mkpath(QString::fromLocal8Bit(dir));
    const QString file = QString::fromLocal8Bit(dir) + "/" + name + ".png";
    QVERIFY2(pm.save(file, "PNG"), qPrintable(file));
  }

 private slots:
  void windows() {
    World w;
    w.CopyFixtureTables();
    w.WriteMondarixIni("");
    w.WriteVadoviverIni("C:\\KAVLO\\EXPORT", "C:\\KAVLO\\SORTED", "C:\\KAVLO\\SORTS\\By Zone.qry");
    Running r(w);
    TfrmMain& f = *r.frm;

    Shot(&f, "main-package-automatic");
    f.tabMode->setCurrentIndex(1);
    Shot(&f, "main-shipment-automatic");
    f.tabProcess->setCurrentIndex(1);
    f.txtSource->setText("C:\\KAVLO\\EXPORT\\ORDER.TXT");
    f.txtResult->setText("C:\\KAVLO\\SORTED\\MONDAY.TXT");
    Shot(&f, "main-shipment-manual");
    f.tabMode->setCurrentIndex(0);
    f.tabProcess->setCurrentIndex(1);
    Shot(&f, "main-package-manual");

    // A pass under way: the cycle runs and the status panel is up.
    f.tabMode->setCurrentIndex(1);
    f.btnProcess->click();
    r.ui->onProcessMessages = [&] {
      // The pass has taken its file names; show the folders a user would have.
      f.txtSource->setText("C:\\KAVLO\\EXPORT");
      f.txtResult->setText("C:\\KAVLO\\SORTED");
      Shot(&f, "main-shipment-sorting");
    };
    const std::string in = w.Sub("in"), out = w.Sub("out");
    WriteAll(in + "/ORDER.TXT", "H,1,2,C1,ACME\r\n");
    f.txtSource->setText(QString::fromStdString(in));
    f.txtResult->setText(QString::fromStdString(out));
    f.tmrProcessTimer();
    r.ui->onProcessMessages = nullptr;
    f.btnStop->click();

#ifdef VV_SHOT_QUERY
    {
      TfrmQuery q(&f);
      q.show();
      // A dock's order: by zone location, then postal code running backwards,
      // printed last label first.
      q.cbxPriority1->setCurrentIndex(sfZoneLocation + 1);
      q.cbxPriority2->setCurrentIndex(sfPostalCode + 1);
      q.chkDescending2->setChecked(true);
      q.chkReverse->setChecked(true);
      q.txtFileName->setText("C:\\KAVLO\\SORTS\\By Zone.qry");
      Shot(&q, "sorts");
    }
#endif
#ifdef VV_SHOT_SETUP
    {
      TfrmSetup s(&f);
      s.show();
      Shot(&s, "setup");
    }
#endif
#ifdef VV_SHOT_ZONE
    {
      TfrmZone z(&f);
      z.show();
      Shot(&z, "zones");
      z.findChild<QTabBar*>(QStringLiteral("tabMode"))->setCurrentIndex(TfrmZone::TabDetail);
      Shot(&z, "zones-detail");
    }
#endif
  }
};

QTEST_MAIN(Screenshots)
#include "screenshots_test.moc"
