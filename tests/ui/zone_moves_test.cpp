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
    const zt::Controls c(w);
    std::vector<int> out;
    for (int i = 0; i < c.pagMove->count(); ++i) {
      if (c.pagMove->isTabVisible(i)) out.push_back(i);
    }
    return out;
  }
  static void City(TfrmZone& w, QToolButton* button, const char* town) {
    const zt::Controls c(w);
    button->click();
    c.cbxMovCity->setEditText(QString::fromLatin1(town));
    c.btnMovCityO->click();
  }
  static void Match(TfrmZone& w, QToolButton* button, const char* start) {
    const zt::Controls c(w);
    button->click();
    c.txtMovMatch->setText(QString::fromLatin1(start));
    c.btnMovMatchO->click();
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
    const zt::Controls c(w);
    zt::ShowActive(w);
    QVERIFY(c.pagMove->isHidden());
    QVERIFY(c.btnAddMatch->isVisible() && c.lblByMatch->isVisible());
    QCOMPARE(c.pagMove->tabText(0), QString("Move by Longitude ..."));
    QCOMPARE(c.pagMove->tabText(3), QString("Move by Match ..."));

    c.btnAddCity->click();
    QVERIFY(c.pagMove->isVisible());
    const QString shots = qEnvironmentVariable("VV_SCREENSHOT_DIR");  // pictures for the README
    if (!shots.isEmpty()) w.grab().save(shots + "/zone_move_city.png");
    QCOMPARE(VisibleTabs(w), std::vector<int>{2});
    QVERIFY(A::MoveIn(w));
    c.btnDelProv->click();  // another pair switches page and direction
    QCOMPARE(VisibleTabs(w), std::vector<int>{1});
    QCOMPARE(c.pagMove->currentWidget(), c.tabProv);
    QVERIFY(!A::MoveIn(w));

    // Cancel changes nothing; the inputs keep their values.
    c.cbxMovProv->setEditText("ny");
    c.btnMovProvC->click();
    QVERIFY(c.pagMove->isHidden());
    QVERIFY(VisibleTabs(w).empty());
    QVERIFY(!A::Changed(w));
    QCOMPARE(A::Zone(w).ProvinceCount(), 1);
    c.btnDelProv->click();
    QCOMPARE(c.cbxMovProv->currentText(), QString("ny"));

    // The direction is that of the last button pressed, by Selection included.
    c.btnAddArea->click();
    QVERIFY(A::MoveIn(w));
    c.btnDelSel->click();  // no current line: only the direction changes
    QVERIFY(c.pagMove->isVisible());
    QVERIFY(!A::Changed(w));
    c.optMovWest->setChecked(true);
    c.speMovArea->setValue(1);
    c.btnMovAreaO->click();
    QVERIFY(c.pagMove->isHidden());
    QVERIFY(Provinces(w).empty());
    QVERIFY(A::Changed(w));
    QCOMPARE(zt::Status(w), std::string("Ready."));  // the moves leave the status alone

    // Record operations close an open page.
    c.btnAddProv->click();
    ui->answers = {ui::MsgResult::No};
    c.btnAdd->click();
    QVERIFY(c.pagMove->isHidden());
  }

  void byLongitude() {
    world->AddZone("Z", "Zone", {{"ON", {"K1A0A0"}}, {"NY", {}}, {"WA", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    // N of 0 (the value at opening): the page closes, nothing changes.
    c.btnAddArea->click();
    QCOMPARE(c.speMovArea->value(), 0);
    c.btnMovAreaO->click();
    QVERIFY(c.pagMove->isHidden());
    QVERIFY(!A::Changed(w));
    QCOMPARE(A::Zone(w).ProvinceCount(), 3);
    // Text that is not a whole number counts as 0.
    c.btnAddArea->click();
    c.speMovArea->setValue(50);
    c.speMovArea->findChild<QLineEdit*>()->setText("");
    c.btnMovAreaO->click();
    QVERIFY(c.pagMove->isHidden());
    QVERIFY(!A::Changed(w));
    QCOMPARE(A::Zone(w).ProvinceCount(), 3);

    // From the east, positions below 7: NS (2), QC (5), ON (6, partial made whole).
    c.btnAddArea->click();
    c.speMovArea->setValue(7);
    c.btnMovAreaO->click();
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "NY", "WA", "NS", "QC"}));
    QVERIFY(Entry(w, "ON")->Areas.empty() && Entry(w, "ON")->AreasTo.empty());
    QVERIFY(zt::Has(c.lbxZoneList, "Ontario"));

    // From the west, 64 less the position below 1: the states (position 64 and up).
    c.btnDelArea->click();
    c.optMovWest->setChecked(true);
    c.speMovArea->setValue(1);
    c.btnMovAreaO->click();
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "NS", "QC"}));
    // A very large N takes everything, without overflow.
    c.btnAddArea->click();
    c.speMovArea->setValue(INT_MAX);
    c.btnMovAreaO->click();
    QCOMPARE(A::Zone(w).ProvinceCount(), int(zt::Provinces().size()));
    QVERIFY(zt::Lines(c.lbxAvailList).empty());
  }

  void byProvince() {
    world->AddZone("Z", "Zone", {{"ON", {"K1A0A0"}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    c.btnAddProv->click();
    c.cbxMovProv->setEditText("  ");
    c.btnMovProvO->click();
    QVERIFY(!A::Changed(w));
    QVERIFY(c.pagMove->isHidden());

    c.btnAddProv->click();
    c.cbxMovProv->setEditText(" ny ");
    c.btnMovProvO->click();
    QVERIFY(A::Changed(w));
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "NY"}));
    QCOMPARE(Entry(w, "NY")->Country, std::string("US"));
    c.btnAddProv->click();
    c.cbxMovProv->setEditText("on");
    c.btnMovProvO->click();
    QVERIFY(Entry(w, "ON")->Areas.empty());
    c.btnAddProv->click();
    c.cbxMovProv->setEditText("zz");
    c.btnMovProvO->click();
    QCOMPARE(A::Zone(w).ProvinceCount(), 2);
    c.btnDelProv->click();
    c.cbxMovProv->setEditText("On");
    c.btnMovProvO->click();
    QCOMPARE(Provinces(w), std::vector<std::string>{"NY"});
    QVERIFY(zt::Has(c.lbxAvailList, "Ontario"));
  }

  void byCity() {
    world->AddZone("Z", "Zone", {{"NS", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    // Into the zone, any letter case: every province holding the town.
    City(w, c.btnAddCity, " barrie ");
    QVERIFY(A::Changed(w));
    QCOMPARE(Provinces(w), (std::vector<std::string>{"NS", "ON", "QC"}));
    QCOMPARE(Entry(w, "ON")->Areas, TStringList{"L9M9J6"});
    QCOMPARE(Entry(w, "ON")->AreasTo, TStringList{"L9M9Z9"});
    QCOMPARE(Entry(w, "QC")->Areas, TStringList{"J4M2T6"});
    QVERIFY(zt::Has(c.lbxZoneList, "Ontario" + PM));
    QVERIFY(zt::Has(c.lbxAvailList, "Quebec" + PM));
    // The other lines of Ottawa's province join; a town already there is not doubled.
    City(w, c.btnAddCity, "OTTAWA");
    City(w, c.btnAddCity, "Ottawa");
    QCOMPARE(Entry(w, "ON")->Areas, (TStringList{"L9M9J6", "K1A0A0", "K1B1A1"}));
    // Montreal completes Quebec: whole by count.
    City(w, c.btnAddCity, "montreal");
    QVERIFY(zt::Has(c.lbxZoneList, "Quebec"));

    // A whole province stays whole when one of its towns moves in...
    City(w, c.btnAddCity, "halifax");
    QVERIFY(Entry(w, "NS")->Areas.empty());
    // ...and keeps every other line when one moves out.
    City(w, c.btnDelCity, "HALIFAX");
    QCOMPARE(Entry(w, "NS")->Areas, TStringList{"B4A1A1"});
    QCOMPARE(Entry(w, "NS")->AreasTo, TStringList{"B4A9Z9"});
    // The last code out takes the entry with it.
    City(w, c.btnDelCity, "Dartmouth");
    QVERIFY(!Entry(w, "NS"));
    City(w, c.btnDelCity, "ottawa");
    QCOMPARE(Entry(w, "ON")->Areas, TStringList{"L9M9J6"});
    QCOMPARE(Entry(w, "ON")->AreasTo, TStringList{"L9M9Z9"});
    // A town no province has changes nothing but marks the zone changed.
    A::SetChanged(w, false);
    City(w, c.btnDelCity, "Atlantis");
    QVERIFY(A::Changed(w));
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "QC"}));
    // US towns: codes only.
    City(w, c.btnAddCity, "new york");
    QCOMPARE(Entry(w, "NY")->Areas, (TStringList{"10001", "10002"}));
    QVERIFY(Entry(w, "NY")->AreasTo.empty());
  }

  void byMatch() {
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    world->AddZone("Z", "Zone");
    zt::ShowActive(w);
    Match(w, c.btnAddMatch, "k1");
    QVERIFY(c.pagMove->isHidden());
    QCOMPARE(Entry(w, "ON")->Areas, (TStringList{"K1A0A0", "K1B1A1"}));
    QCOMPARE(Entry(w, "ON")->AreasTo, (TStringList{"K1A9Z9", "K1B9Z9"}));
    Match(w, c.btnDelMatch, "K1A");
    QCOMPARE(Entry(w, "ON")->Areas, TStringList{"K1B1A1"});
    Match(w, c.btnAddMatch, "1");  // all of New York's zips begin with 1
    QCOMPARE(Entry(w, "NY")->Areas, (TStringList{"10001", "10002", "14201"}));
    QVERIFY(zt::Has(c.lbxZoneList, "New York"));
    Match(w, c.btnDelMatch, "k1b1a1");
    QVERIFY(!Entry(w, "ON"));
    A::SetChanged(w, false);
    Match(w, c.btnAddMatch, "   ");
    QVERIFY(!A::Changed(w));
    QCOMPARE(c.txtMovMatch->maxLength(), 6);
  }
};

VV_ZONE_TEST_MAIN(ZoneMovesTest)
#include "zone_moves_test.moc"
