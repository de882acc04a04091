// The zone editor's record part: states, validation, save, delete, navigation,
// the drop-down code list, and a saved zone used by the shipment sorter.
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTabBar>
#include <QToolButton>

#include <fstream>
#include <sstream>

#include "engine/uSequncr.h"
#include "tests/support/files.h"
#include "zone_fixture.h"

using ui::MsgButtons;
using ui::MsgIcon;
using ui::MsgResult;
using A = TfrmZoneTestAccess;

class ZoneRecordsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<zt::World> world;
  std::shared_ptr<ScriptedUi> ui;

  static void Type(QLineEdit* edit, const char* text) {
    edit->setFocus();
    edit->clear();
    QTest::keyClicks(edit, QString::fromLatin1(text));
  }

 private slots:
  void init() {
    world = std::make_unique<zt::World>();
    ui = InstallScriptedUi();
  }
  void cleanup() { world.reset(); }

  void emptyTableOpensEmpty() {
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    QCOMPARE(zt::Status(w), std::string("Ready."));
    QVERIFY(c.txtZone->text().isEmpty());
    QVERIFY(c.txtName->text().isEmpty());
    QVERIFY(c.btnAdd->isEnabled());
    QVERIFY(c.btnClose->isEnabled());
    for (QWidget* c : std::initializer_list<QWidget*>{c.txtZone, c.btnZone, c.txtName, c.btnSave, c.btnDelete,
                                                      c.btnFirst, c.btnPrev, c.btnNext, c.btnLast, c.tabMode,
                                                      c.lbxZoneList, c.lbxAvailList, c.btnAddSel, c.btnDelCity,
                                                      c.btnAddMatch}) {
      QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
    }
    const QColor silver(192, 192, 192);
    QCOMPARE(c.txtZone->palette().color(QPalette::Base), silver);
    QCOMPARE(c.lbxAvailList->palette().color(QPalette::Base), silver);
    // The greyed lines stay readable on silver.
    QVERIFY(qGray(c.lbxAvailList->palette().color(QPalette::Disabled, QPalette::Text).rgb()) < qGray(silver.rgb()) - 80);
    QCOMPARE(c.tabMode->currentIndex(), int(TfrmZone::TabSummary));
    QVERIFY(zt::Lines(c.lbxZoneList).empty());
    QCOMPARE(zt::Lines(c.lbxAvailList).size(), zt::Provinces().size());
    QVERIFY(!A::Changed(w));
    QVERIFY(c.pagMove->isHidden());

    // Add enables editing with the window colour again.
    c.btnAdd->click();
    QVERIFY(c.txtZone->isEnabled());
    QVERIFY(c.txtZone->palette().color(QPalette::Base) != silver);
    QCOMPARE(c.btnDelete->text(), QString("Ca&ncel"));
    QVERIFY(!c.btnAdd->isEnabled());
    // Navigation with nothing stored does nothing, and asks nothing.
    c.btnNext->click();
    QVERIFY(A::Adding(w));
    QVERIFY(ui->messages.empty());
    // Cancel goes back to the empty state.
    c.btnDelete->click();
    QVERIFY(!A::Adding(w));
    QVERIFY(!c.txtZone->isEnabled());
    QCOMPARE(c.btnDelete->text(), QString("&Delete"));
  }

  void validationMessages() {
    world->AddZone("WEST", "Western", {{"WA", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    c.btnAdd->click();

    // Blank code and no area: both lines, never the not-unique one.
    Type(c.txtZone, "   ");
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(ui->messages.size(), size_t(2));
    const RecordedMessage& m = ui->messages[1];
    QCOMPARE(m.caption, std::string("Cannot Save ..."));
    QCOMPARE(m.text, std::string("Some errors were found with the data for this zone:\r\r"
                                 "\tZone is blank.\r\n"
                                 "\tNo states/provinces have been added to the zone.\r\n"
                                 "\rPlease correct the situation before saving."));
    QVERIFY(m.buttons == MsgButtons::Ok && m.icon == MsgIcon::Warning);
    QCOMPARE(ui->messages[0].caption, std::string("Save Warning ..."));
    QVERIFY(ui->messages[0].icon == MsgIcon::Question);
    QVERIFY(A::Adding(w));

    // A taken code, quoted exactly as typed; an area added, so only one line.
    Type(c.txtZone, " WEST ");
    QVERIFY(zt::Select(c.lbxAvailList, {"Ontario"}) == 1);
    c.btnAddSel->click();
    ui->Reset();
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(ui->messages.back().text, std::string("Some errors were found with the data for this zone:\r\r"
                                                   "\tThis zone code [  WEST  ] is not unique.\r\n"
                                                   "\rPlease correct the situation before saving."));
    QVERIFY(A::Adding(w));
    QCOMPARE(c.txtZone->text(), QString(" WEST "));

    // A new code saves, goes back to browsing and shows the new zone.
    Type(c.txtZone, "EAST");
    c.txtName->setText("Eastern");
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(zt::Status(w), std::string("Record added."));
    QVERIFY(!A::Adding(w));
    QCOMPARE(c.txtZone->text(), QString("EAST"));
    QCOMPARE(A::Index(w), 0);
    QCOMPARE(A::Codes(w), (TStringList{"EAST", "WEST"}));

    // The unchanged code of a stored zone is never tested for uniqueness.
    ui->Reset();
    ui->answers = {MsgResult::Yes};
    c.txtName->setText("Eastern zone");
    c.btnSave->click();
    QCOMPARE(ui->messages.size(), size_t(1));
    QCOMPARE(zt::Status(w), std::string("Record updated."));
    TZone z;
    z.Load("EAST");
    QCOMPARE(z.Name, std::string("Eastern zone"));
    QCOMPARE(z.ProvinceCount(), 1);
    QCOMPARE(z.GetProvince(0)->Province, std::string("ON"));
    QVERIFY(z.GetProvince(0)->Areas.empty());
  }

  void codeChangeReplacesRecords() {
    world->AddZone("EAST1", "East one", {{"ON", {"K1A0A0", "K2B1A1"}}});
    world->AddZone("WEST", "West", {{"WA", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    QCOMPARE(c.txtZone->text(), QString("EAST1"));

    // Only the letter case changes: a new code, tested against the table.
    Type(c.txtZone, "east1");
    QVERIFY(A::Changed(w));
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(zt::Status(w), std::string("Record updated."));
    QCOMPARE(A::Codes(w), (TStringList{"WEST", "east1"}));
    QCOMPARE(c.txtZone->text(), QString("east1"));
    QCOMPARE(A::Index(w), 1);
    TZone z;
    QVERIFY(z.IsUnique("EAST1"));
    z.Load("east1");
    QCOMPARE(z.Name, std::string("East one"));
    QCOMPARE(z.GetProvince(0)->Areas, (TStringList{"K1A0A0", "K2B1A1"}));
    QCOMPARE(z.GetProvince(0)->AreasTo, (TStringList{"K1A9Z9", "K2B9Z9"}));
  }

  void replacementFailsWhileLocked() {
    world->AddZone("EAST1", "East one", {{"ON", {"K1A0A0"}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    Type(c.txtZone, "EAST9");
    {
      zt::LockHolder lock(world->dir + "\\AreaToZone");
      QVERIFY(lock.locked);
      ui->answers = {MsgResult::Yes};
      c.btnSave->click();
    }
    const RecordedMessage& m = ui->messages.back();
    QCOMPARE(m.caption, std::string("Replacement Failed ..."));
    QCOMPARE(m.text, std::string("Unable to remove the previous zone record from the table."));
    QVERIFY(m.icon == MsgIcon::Warning && m.buttons == MsgButtons::Ok);
    // Nothing written, the window as it was.
    TZone z;
    QVERIFY(z.IsUnique("EAST9"));
    z.Load("EAST1");
    QCOMPARE(z.ProvinceCount(), 1);
    QCOMPARE(c.txtZone->text(), QString("EAST9"));
    QCOMPARE(A::Codes(w), TStringList{"EAST1"});
    QVERIFY(A::Changed(w));
    QCOMPARE(zt::Status(w), std::string("Ready."));

    // Once the lock is gone the same save goes through.
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(zt::Status(w), std::string("Record updated."));
    QCOMPARE(A::Codes(w), TStringList{"EAST9"});
  }

  void saveFailureKeepsStateAndRetries() {
    world->AddZone("OLD", "Old", {{"QC", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    c.btnAdd->click();
    Type(c.txtZone, "NEW");
    QVERIFY(zt::Select(c.lbxAvailList, {"Ontario"}) == 1);
    c.btnAddSel->click();
    {
      // The Zones row is written, the area rows cannot be.
      zt::LockHolder lock(world->dir + "\\AreaToZone");
      QVERIFY(lock.locked);
      ui->answers = {MsgResult::Yes};
      c.btnSave->click();
    }
    QCOMPARE(ui->messages.back().caption, std::string("Save Failed ..."));
    QCOMPARE(ui->messages.back().text, std::string("Unable to save this zone record to the table."));
    QVERIFY(ui->messages.back().icon == MsgIcon::Warning);
    QVERIFY(A::Adding(w));
    QCOMPARE(c.txtZone->text(), QString("NEW"));
    QCOMPARE(zt::Status(w), std::string("Ready."));

    // The retry neither calls its own half-written row "not unique" nor appends a second one.
    ui->Reset();
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(ui->messages.size(), size_t(1));
    QCOMPARE(zt::Status(w), std::string("Record added."));
    TStringList codes;
    LoadZoneCodes(codes);
    QCOMPARE(codes, (TStringList{"NEW", "OLD"}));
    TZone z;
    z.Load("NEW");
    QCOMPARE(z.ProvinceCount(), 1);
    QCOMPARE(z.GetProvince(0)->Province, std::string("ON"));

    // A code change refused while the lock is held goes through on the retry.
    c.btnLast->click();
    QCOMPARE(c.txtZone->text(), QString("OLD"));
    Type(c.txtZone, "OLDER");
    {
      zt::LockHolder lock(world->dir + "\\AreaToZone");
      ui->answers = {MsgResult::Yes};
      c.btnSave->click();  // the delete itself needs the lock: replacement fails
    }
    QCOMPARE(ui->messages.back().caption, std::string("Replacement Failed ..."));
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(zt::Status(w), std::string("Record updated."));
    LoadZoneCodes(codes);
    QCOMPARE(codes, (TStringList{"NEW", "OLDER"}));
  }

  void dropDownSearch() {
    for (const char* c : {"EAST1", "EAST2", "WEST"}) world->AddZone(c, std::string("Zone ") + c, {{"ON", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    c.btnLast->click();
    QCOMPARE(c.txtZone->text(), QString("WEST"));
    c.btnZone->click();
    QVERIFY(c.lbxZone->isVisible());
    QVERIFY(c.btnZone->isHidden());
    QVERIFY(!c.btnSave->isEnabled() && !c.btnDelete->isEnabled());
    QVERIFY(c.txtName->text().isEmpty());
    QCOMPARE(c.lbxZone->count(), 3);
    QCOMPARE(c.txtZone->text(), QString("WEST"));

    auto selected = [&] {
      const auto items = c.lbxZone->selectedItems();
      return items.isEmpty() ? -1 : c.lbxZone->row(items.front());
    };
    QCOMPARE(selected(), 2);
    QTest::keyClick(c.lbxZone, Qt::Key_1);
    QCOMPARE(c.txtZone->text(), QString("WEST1"));
    QCOMPARE(selected(), -1);
    QTest::keyClick(c.lbxZone, Qt::Key_Backspace);
    QCOMPARE(selected(), 2);
    for (int i = 0; i < 4; ++i) QTest::keyClick(c.lbxZone, Qt::Key_Backspace);
    QVERIFY(c.txtZone->text().isEmpty());
    QCOMPARE(selected(), 0);
    QTest::keyClick(c.lbxZone, Qt::Key_Backspace);  // on an empty field
    QVERIFY(c.txtZone->text().isEmpty());
    QCOMPARE(selected(), 0);
    QTest::keyClick(c.lbxZone, Qt::Key_Space);  // not a code character
    QVERIFY(c.txtZone->text().isEmpty());
    QTest::keyClicks(c.lbxZone, "east");
    QCOMPARE(c.txtZone->text(), QString("east"));
    QCOMPARE(selected(), 0);
    QTest::keyClick(c.lbxZone, Qt::Key_2);
    QCOMPARE(selected(), 1);
    QCOMPARE(c.txtName->text(), QString());  // the zone is loaded only on leaving

    // Enter leaves the list with the chosen zone.
    c.stbPanel->setText("x");
    QTest::keyClick(c.lbxZone, Qt::Key_Return);
    QVERIFY(c.lbxZone->isHidden());
    QVERIFY(c.btnZone->isVisible());
    QCOMPARE(c.txtZone->text(), QString("EAST2"));
    QCOMPARE(c.txtName->text(), QString("Zone EAST2"));
    QCOMPARE(A::Index(w), 1);
    QVERIFY(c.btnSave->isEnabled() && c.btnDelete->isEnabled());
    QVERIFY(zt::Status(w).empty());
    QVERIFY(!A::Changed(w));

    // Leaving with no line selected brings the shown zone back.
    c.btnZone->click();
    QTest::keyClick(c.lbxZone, Qt::Key_X);
    QCOMPARE(selected(), -1);
    QTest::keyClick(c.lbxZone, Qt::Key_Escape);
    QVERIFY(w.isVisible());
    QCOMPARE(c.txtZone->text(), QString("EAST2"));
    QCOMPARE(c.txtName->text(), QString("Zone EAST2"));
    QCOMPARE(A::Index(w), 1);

    // Arrow keys and clicks put the line into the code field.
    c.btnZone->click();
    QTest::keyClick(c.lbxZone, Qt::Key_Down);
    QCOMPARE(c.txtZone->text(), QString("WEST"));
    c.txtName->setFocus();
    QVERIFY(c.lbxZone->isHidden());
    QCOMPARE(c.txtName->text(), QString("Zone WEST"));
    QVERIFY(ui->messages.empty());

    // Opening the list in add mode abandons the new zone.
    c.btnAdd->click();
    QVERIFY(A::Adding(w));
    c.btnZone->click();
    QVERIFY(!A::Adding(w));
    QCOMPARE(c.btnDelete->text(), QString("&Delete"));
    c.txtZone->setFocus();
    QCOMPARE(c.txtZone->text(), QString("WEST"));
  }

  void navigation() {
    for (const char* c : {"A1", "B2", "C3"}) world->AddZone(c, std::string("Zone ") + c, {{"ON", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    QCOMPARE(c.txtZone->text(), QString("A1"));
    QCOMPARE(zt::Status(w), std::string("Ready."));
    c.btnPrev->click();  // on the first: the same zone again
    QCOMPARE(c.txtZone->text(), QString("A1"));
    QVERIFY(zt::Status(w).empty());
    c.btnNext->click();
    QCOMPARE(c.txtName->text(), QString("Zone B2"));
    c.btnLast->click();
    QCOMPARE(A::Index(w), 2);
    c.stbPanel->setText("Record updated.");
    c.btnNext->click();  // on the last: the same zone again
    QCOMPARE(c.txtZone->text(), QString("C3"));
    QCOMPARE(A::Index(w), 2);
    QVERIFY(zt::Status(w).empty());
    c.btnFirst->click();
    QCOMPARE(A::Index(w), 0);
    QVERIFY(ui->messages.empty());

    // Edits make navigation ask; Yes stays, No goes on.
    c.txtName->setText("edited");
    QVERIFY(A::Changed(w));
    ui->answers = {MsgResult::Yes};
    c.btnNext->click();
    QCOMPARE(ui->messages.back().caption, std::string("Warning, Changes Made ..."));
    QCOMPARE(ui->messages.back().text,
             std::string("Do you want to go back and save the changes you made to this zone first?"));
    QCOMPARE(c.txtName->text(), QString("edited"));
    ui->answers = {MsgResult::No};
    c.btnNext->click();
    QCOMPARE(c.txtZone->text(), QString("B2"));
    QVERIFY(!A::Changed(w));

    // Answering No to the save question keeps the edits and the flag.
    c.txtName->setText("edited again");
    ui->answers = {MsgResult::No};
    c.btnSave->click();
    QCOMPARE(c.txtName->text(), QString("edited again"));
    QVERIFY(A::Changed(w));
    ui->Reset();
    c.btnClose->click();  // the question, answered No: the window closes
    QCOMPARE(ui->messages.size(), size_t(1));
    QVERIFY(!w.isVisible());
  }

  void goBackAfterAdd() {
    world->AddZone("A1", "Zone A1", {{"ON", {}}});
    world->AddZone("B2", "Zone B2", {{"QC", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    c.btnNext->click();
    c.btnAdd->click();  // nothing changed yet: no question
    QVERIFY(ui->messages.empty());
    QVERIFY(A::Adding(w));
    QVERIFY(A::Changed(w));  // clearing the shown zone's fields is a change
    QCOMPARE(zt::Lines(c.lbxAvailList).size(), zt::Provinces().size());
    QVERIFY(zt::Lines(c.lbxZoneList).empty());
    ui->answers = {MsgResult::Yes};
    c.btnFirst->click();
    QCOMPARE(ui->messages.size(), size_t(1));
    QVERIFY(A::Adding(w));
    QVERIFY(c.txtZone->text().isEmpty());

    // Save answered No in add mode returns to the zone shown before.
    ui->answers = {MsgResult::No};
    c.btnSave->click();
    QVERIFY(!A::Adding(w));
    QCOMPARE(c.txtZone->text(), QString("B2"));
    QCOMPARE(A::Index(w), 1);
    QVERIFY(c.btnAdd->isEnabled());

    // Cancel of an add goes to the first zone without a question.
    c.btnAdd->click();
    ui->Reset();
    c.btnDelete->click();
    QVERIFY(ui->messages.empty());
    QCOMPARE(c.txtZone->text(), QString("A1"));
    QCOMPARE(A::Index(w), 0);
  }

  void deleteZones() {
    world->AddZone("ONLY", "The only one", {{"ON", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    ui->answers = {MsgResult::No};
    c.btnDelete->click();
    QCOMPARE(ui->messages.back().caption, std::string("Delete Warning ..."));
    QCOMPARE(ui->messages.back().text, std::string("Are you sure you would like to delete this zone?"));
    QCOMPARE(c.txtZone->text(), QString("ONLY"));

    ui->answers = {MsgResult::Yes};
    c.btnDelete->click();
    QCOMPARE(zt::Status(w), std::string("Record deleted."));
    QVERIFY(c.txtZone->text().isEmpty() && c.txtName->text().isEmpty());
    QVERIFY(!c.txtZone->isEnabled() && !c.btnSave->isEnabled() && !c.btnDelete->isEnabled());
    QVERIFY(c.btnAdd->isEnabled());
    QVERIFY(A::Codes(w).empty());
    QVERIFY(zt::Lines(c.lbxZoneList).empty());
    QCOMPARE(zt::Lines(c.lbxAvailList).size(), zt::Provinces().size());
    TStringList codes;
    LoadZoneCodes(codes);
    QVERIFY(codes.empty());

    world->AddZone("X", "x");
    TfrmZone w2(nullptr);
    const zt::Controls c2(w2);
    zt::ShowActive(w2);
    {
      TZone gone;
      gone.Zone = "X";
      QVERIFY(gone.Delete());
    }
    ui->Reset();
    ui->answers = {MsgResult::Yes};
    c2.btnDelete->click();
    QCOMPARE(ui->messages.back().caption, std::string("Deletion Failed ..."));
    QCOMPARE(ui->messages.back().text, std::string("Unable to delete this zone record from the table."));
    QCOMPARE(c2.txtZone->text(), QString("X"));
  }

  // A zone made in the window is the zone the shipment sorter then uses.
  void savedZoneSequencesShipments() {
    // A new installation has no zone tables: the editor opens without making
    // them, and its first save does.
    const std::string zones = world->dir + "\\Zones", areas = world->dir + "\\AreaToZone";
    for (const char* ext : {".dbf", ".cdx"})
      for (const char* t : {"/Zones", "/AreaToZone"}) std::filesystem::remove(world->dir + t + ext);
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    QVERIFY(!d4exists(zones) && !d4exists(areas));
    c.btnAdd->click();
    Type(c.txtZone, "Z1");
    QVERIFY(zt::Select(c.lbxAvailList, {"Ontario"}) == 1);
    c.btnAddSel->click();
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(zt::Status(w), std::string("Record added."));
    QVERIFY(d4exists(zones) && d4exists(areas));

    c.btnAdd->click();
    Type(c.txtZone, "Z0");
    c.tabMode->setCurrentIndex(TfrmZone::TabDetail);
    QVERIFY(zt::Select(c.lbxAvailList, {"10002,"}) == 1);
    c.btnAddSel->click();
    ui->answers = {MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(zt::Status(w), std::string("Record added."));
    w.close();

    const std::string src = world->dir + "/ORDER.TXT";
    const std::string dst = world->dir + "/SORTED.TXT";
    auto header = [](const char* cust, const char* postal, const char* prov) {
      std::ostringstream s;
      s << "H,x,y," << cust << ",Name " << cust << ",6,7,8,9,10,11,12," << postal << "," << prov << ",15,16\r\n";
      return s.str();
    };
    const std::string a = header("C1", "K1A1B1", "ON") + "D,ontario\r\n";
    const std::string b = header("C2", "10002", "NY");
    const std::string c3 = header("C3", "10001", "NY") + "D,outside\r\n";
    std::ofstream(src, std::ios::binary) << a << b << c3;
    std::ofstream(dst, std::ios::binary).flush();
    TProvinceArray provinces;
    LoadProvinces(provinces);
    QVERIFY(SequenceShipmentFile(src, dst, provinces, TSortOrderArray{sfZoneCode}));
    FreeProvinces(provinces);
    const std::string out = vvtest::ReadFile(dst);
    QCOMPARE(out, c3 + b + a);  // no zone, then Z0 (10002 only), then Z1 (all of Ontario)
  }
};

VV_ZONE_TEST_MAIN(ZoneRecordsTest)
#include "zone_records_test.moc"
