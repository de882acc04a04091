// The zone editor's move pages: by Longitude, Province, City and Match.
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include "zone_fixture.h"

using A = TfrmZoneTestAccess;
using zt::Entry;
using zt::PM;
using zt::Provinces;

class ZoneMovesTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<zt::World> world;
  std::shared_ptr<ScriptedUi> ui;

  static std::vector<int> VisibleTabs(TfrmZone& w) {
    std::vector<int> out;
    for (int i = 0; i < w.pagMove->count(); ++i) {
      if (w.pagMove->isTabVisible(i)) out.push_back(i);
    }
    return out;
  }
  static void City(TfrmZone& w, QToolButton* button, const char* town) {
    button->click();
    w.cbxMovCity->setEditText(QString::fromLatin1(town));
    w.btnMovCityO->click();
  }
  static void Match(TfrmZone& w, QToolButton* button, const char* start) {
    button->click();
    w.txtMovMatch->setText(QString::fromLatin1(start));
    w.btnMovMatchO->click();
  }

 private slots:
  void init() {
    world = std::make_unique<zt::World>();
    ui = InstallScriptedUi();
  }
  void cleanup() { world.reset(); }

  void pagesAndDirection() {
    world->AddZone("Z", "Zone", {{"NY", {}}});
    TfrmZone w(nullptr);
    zt::ShowActive(w);
    QVERIFY(w.pagMove->isHidden());
    QVERIFY(w.btnAddMatch->isVisible() && w.lblByMatch->isVisible());
    QCOMPARE(w.pagMove->tabText(0), QString("Move by Longitude ..."));
    QCOMPARE(w.pagMove->tabText(3), QString("Move by Match ..."));

    w.btnAddCity->click();
    QVERIFY(w.pagMove->isVisible());
    const QString shots = qEnvironmentVariable("VV_SCREENSHOT_DIR");  // pictures for the README
    if (!shots.isEmpty()) w.grab().save(shots + "/zone_move_city.png");
    QCOMPARE(VisibleTabs(w), std::vector<int>{2});
    QVERIFY(A::MoveIn(w));
    w.btnDelProv->click();  // another pair switches page and direction
    QCOMPARE(VisibleTabs(w), std::vector<int>{1});
    QCOMPARE(w.pagMove->currentWidget(), w.tabProv);
    QVERIFY(!A::MoveIn(w));

    // Cancel changes nothing; the inputs keep their values.
    w.cbxMovProv->setEditText("ny");
    w.btnMovProvC->click();
    QVERIFY(w.pagMove->isHidden());
    QVERIFY(VisibleTabs(w).empty());
    QVERIFY(!A::Changed(w));
    QCOMPARE(A::Zone(w).ProvinceCount(), 1);
    w.btnDelProv->click();
    QCOMPARE(w.cbxMovProv->currentText(), QString("ny"));

    // The direction is that of the last button pressed, by Selection included.
    w.btnAddArea->click();
    QVERIFY(A::MoveIn(w));
    w.btnDelSel->click();  // no current line: only the direction changes
    QVERIFY(w.pagMove->isVisible());
    QVERIFY(!A::Changed(w));
    w.optMovWest->setChecked(true);
    w.speMovArea->setValue(1);
    w.btnMovAreaO->click();
    QVERIFY(w.pagMove->isHidden());
    QVERIFY(Provinces(w).empty());
    QVERIFY(A::Changed(w));
    QCOMPARE(zt::Status(w), std::string("Ready."));  // the moves leave the status alone

    // Record operations close an open page.
    w.btnAddProv->click();
    ui->answers = {ui::MsgResult::No};
    w.btnAdd->click();
    QVERIFY(w.pagMove->isHidden());
  }

  void byLongitude() {
    world->AddZone("Z", "Zone", {{"ON", {"K1A0A0"}}, {"NY", {}}, {"WA", {}}});
    TfrmZone w(nullptr);
    zt::ShowActive(w);
    // N of 0 (the value at opening): the page closes, nothing changes.
    w.btnAddArea->click();
    QCOMPARE(w.speMovArea->value(), 0);
    w.btnMovAreaO->click();
    QVERIFY(w.pagMove->isHidden());
    QVERIFY(!A::Changed(w));
    QCOMPARE(A::Zone(w).ProvinceCount(), 3);
    // Text that is not a whole number counts as 0.
    w.btnAddArea->click();
    w.speMovArea->setValue(50);
    w.speMovArea->findChild<QLineEdit*>()->setText("");
    w.btnMovAreaO->click();
    QVERIFY(w.pagMove->isHidden());
    QVERIFY(!A::Changed(w));
    QCOMPARE(A::Zone(w).ProvinceCount(), 3);

    // From the east, positions below 7: NS (2), QC (5), ON (6, partial made whole).
    w.btnAddArea->click();
    w.speMovArea->setValue(7);
    w.btnMovAreaO->click();
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "NY", "WA", "NS", "QC"}));
    QVERIFY(Entry(w, "ON")->Areas.empty() && Entry(w, "ON")->AreasTo.empty());
    QVERIFY(zt::Has(w.lbxZoneList, "Ontario"));

    // From the west, 64 less the position below 1: the states (position 64 and up).
    w.btnDelArea->click();
    w.optMovWest->setChecked(true);
    w.speMovArea->setValue(1);
    w.btnMovAreaO->click();
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "NS", "QC"}));
    // A very large N takes everything, without overflow.
    w.btnAddArea->click();
    w.speMovArea->setValue(INT_MAX);
    w.btnMovAreaO->click();
    QCOMPARE(A::Zone(w).ProvinceCount(), int(zt::Provinces().size()));
    QVERIFY(zt::Lines(w.lbxAvailList).empty());
  }

  void byProvince() {
    world->AddZone("Z", "Zone", {{"ON", {"K1A0A0"}}});
    TfrmZone w(nullptr);
    zt::ShowActive(w);
    w.btnAddProv->click();
    w.cbxMovProv->setEditText("  ");
    w.btnMovProvO->click();
    QVERIFY(!A::Changed(w));
    QVERIFY(w.pagMove->isHidden());

    w.btnAddProv->click();
    w.cbxMovProv->setEditText(" ny ");
    w.btnMovProvO->click();
    QVERIFY(A::Changed(w));
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "NY"}));
    QCOMPARE(Entry(w, "NY")->Country, std::string("US"));
    w.btnAddProv->click();
    w.cbxMovProv->setEditText("on");
    w.btnMovProvO->click();
    QVERIFY(Entry(w, "ON")->Areas.empty());
    w.btnAddProv->click();
    w.cbxMovProv->setEditText("zz");
    w.btnMovProvO->click();
    QCOMPARE(A::Zone(w).ProvinceCount(), 2);
    w.btnDelProv->click();
    w.cbxMovProv->setEditText("On");
    w.btnMovProvO->click();
    QCOMPARE(Provinces(w), std::vector<std::string>{"NY"});
    QVERIFY(zt::Has(w.lbxAvailList, "Ontario"));
  }

  void byCity() {
    world->AddZone("Z", "Zone", {{"NS", {}}});
    TfrmZone w(nullptr);
    zt::ShowActive(w);
    // Into the zone, any letter case: every province holding the town.
    City(w, w.btnAddCity, " barrie ");
    QVERIFY(A::Changed(w));
    QCOMPARE(Provinces(w), (std::vector<std::string>{"NS", "ON", "QC"}));
    QCOMPARE(Entry(w, "ON")->Areas, TStringList{"L9M9J6"});
    QCOMPARE(Entry(w, "ON")->AreasTo, TStringList{"L9M9Z9"});
    QCOMPARE(Entry(w, "QC")->Areas, TStringList{"J4M2T6"});
    QVERIFY(zt::Has(w.lbxZoneList, "Ontario" + PM));
    QVERIFY(zt::Has(w.lbxAvailList, "Quebec" + PM));
    // The other lines of Ottawa's province join; a town already there is not doubled.
    City(w, w.btnAddCity, "OTTAWA");
    City(w, w.btnAddCity, "Ottawa");
    QCOMPARE(Entry(w, "ON")->Areas, (TStringList{"L9M9J6", "K1A0A0", "K1B1A1"}));
    // Montreal completes Quebec: whole by count.
    City(w, w.btnAddCity, "montreal");
    QVERIFY(zt::Has(w.lbxZoneList, "Quebec"));

    // A whole province stays whole when one of its towns moves in...
    City(w, w.btnAddCity, "halifax");
    QVERIFY(Entry(w, "NS")->Areas.empty());
    // ...and keeps every other line when one moves out.
    City(w, w.btnDelCity, "HALIFAX");
    QCOMPARE(Entry(w, "NS")->Areas, TStringList{"B4A1A1"});
    QCOMPARE(Entry(w, "NS")->AreasTo, TStringList{"B4A9Z9"});
    // The last code out takes the entry with it.
    City(w, w.btnDelCity, "Dartmouth");
    QVERIFY(!Entry(w, "NS"));
    City(w, w.btnDelCity, "ottawa");
    QCOMPARE(Entry(w, "ON")->Areas, TStringList{"L9M9J6"});
    QCOMPARE(Entry(w, "ON")->AreasTo, TStringList{"L9M9Z9"});
    // A town no province has changes nothing but marks the zone changed.
    A::SetChanged(w, false);
    City(w, w.btnDelCity, "Atlantis");
    QVERIFY(A::Changed(w));
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "QC"}));
    // US towns: codes only.
    City(w, w.btnAddCity, "new york");
    QCOMPARE(Entry(w, "NY")->Areas, (TStringList{"10001", "10002"}));
    QVERIFY(Entry(w, "NY")->AreasTo.empty());
  }

  void byMatch() {
    TfrmZone w(nullptr);
    world->AddZone("Z", "Zone");
    zt::ShowActive(w);
    Match(w, w.btnAddMatch, "k1");
    QVERIFY(w.pagMove->isHidden());
    QCOMPARE(Entry(w, "ON")->Areas, (TStringList{"K1A0A0", "K1B1A1"}));
    QCOMPARE(Entry(w, "ON")->AreasTo, (TStringList{"K1A9Z9", "K1B9Z9"}));
    Match(w, w.btnDelMatch, "K1A");
    QCOMPARE(Entry(w, "ON")->Areas, TStringList{"K1B1A1"});
    Match(w, w.btnAddMatch, "1");  // all of New York's zips begin with 1
    QCOMPARE(Entry(w, "NY")->Areas, (TStringList{"10001", "10002", "14201"}));
    QVERIFY(zt::Has(w.lbxZoneList, "New York"));
    Match(w, w.btnDelMatch, "k1b1a1");
    QVERIFY(!Entry(w, "ON"));
    A::SetChanged(w, false);
    Match(w, w.btnAddMatch, "   ");
    QVERIFY(!A::Changed(w));
    QCOMPARE(w.txtMovMatch->maxLength(), 6);
  }
};

VV_ZONE_TEST_MAIN(ZoneMovesTest)
#include "zone_moves_test.moc"
