// The zone editor's two area lists in both views, and the by Selection moves.
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTabBar>
#include <QToolButton>

#include "ui/fZoneCoverage.h"
#include "zone_fixture.h"

using A = TfrmZoneTestAccess;
using zt::Entry;
using zt::PM;
using zt::Provinces;

class ZoneListsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<zt::World> world;
  std::shared_ptr<ScriptedUi> ui;


 private slots:
  void init() {
    world = std::make_unique<zt::World>();
    ui = InstallScriptedUi();
  }
  void cleanup() { world.reset(); }

  void buildsBothViews() {
    world->AddZone("Z", "Zone", {{"ON", {"K1A0A0", "M5V1A1"}}, {"NY", {}}, {"WA", {"98101", "98102"}}, {"XX", {"X"}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    QCOMPARE(c.tabMode->currentIndex(), int(TfrmZone::TabSummary));
    // Sorted without regard to letter case; a partial province in both lists.
    QCOMPARE(zt::Lines(c.lbxZoneList), (std::vector<std::string>{"New York", "Ontario" + PM, "Washington"}));
    QCOMPARE(zt::Lines(c.lbxAvailList),
             (std::vector<std::string>{"north Dakota", "Nova Scotia", "Nunavut", "Ontario" + PM, "Quebec"}));
    QCOMPARE(zt::Q(zt::Lines(c.lbxZoneList)[1]), QString::fromUtf8("Ontario \u00b1"));
    const QString shots = qEnvironmentVariable("VV_SCREENSHOT_DIR");  // pictures for the README
    if (!shots.isEmpty()) w.grab().save(shots + "/zone_summary.png");

    c.tabMode->setCurrentIndex(TfrmZone::TabDetail);
    QCOMPARE(ui->maxCursorDepth, 1);
    QCOMPARE(ui->cursorDepth, 0);
    QVERIFY(!A::Changed(w));
    QCOMPARE(zt::Lines(c.lbxZoneList),
             (std::vector<std::string>{"10001, New York, New York", "10002, New York, New York",
                                       "14201, Buffalo, New York", "98101, Seattle, Washington",
                                       "98102, Seattle, Washington", "K1A0A0, Ottawa, Ontario",
                                       "M5V1A1, Toronto, Ontario"}));
    // Nunavut has no postal line and so no Detail line.
    QCOMPARE(zt::Lines(c.lbxAvailList),
             (std::vector<std::string>{"58102, Fargo, north Dakota", "B3L1P5, Halifax, Nova Scotia",
                                       "B3M0A0, Halifax, Nova Scotia", "B4A1A1, Dartmouth, Nova Scotia",
                                       "H1M2V8, Montreal, Quebec", "J4M2T6, Barrie, Quebec",
                                       "K1B1A1, Ottawa, Ontario", "K2B1A1, Kanata, Ontario",
                                       "L9M9J6, Barrie, Ontario"}));
    if (!shots.isEmpty()) w.grab().save(shots + "/zone_detail.png");

    // The view persists through loads; switching never changes the zone.
    c.tabMode->setCurrentIndex(TfrmZone::TabSummary);
    QCOMPARE(A::Zone(w).ProvinceCount(), 4);

    // Saving counts whole provinces: WA holds all its lines and is stored whole;
    // the unknown entry stays in the zone.
    c.txtName->setText("Zone 2");
    ui->answers = {ui::MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(zt::Status(w), std::string("Record updated."));
    TZone z;
    z.Load("Z");
    QCOMPARE(z.ProvinceCount(), 4);
    QCOMPARE(z.GetProvince(2)->Province, std::string("WA"));
    QVERIFY(z.GetProvince(2)->Areas.empty());
    QCOMPARE(z.GetProvince(3)->Province, std::string("XX"));
    QCOMPARE(z.GetProvince(0)->Areas, (TStringList{"K1A0A0", "M5V1A1"}));
  }

  void summarySelection() {
    world->AddZone("Z", "Zone", {{"ON", {"K1A0A0"}}, {"NS", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);

    // A "±" line added makes the province whole.
    QCOMPARE(zt::Select(c.lbxAvailList, {"Ontario"}), 1);
    c.btnAddSel->click();
    QVERIFY(A::Changed(w));
    QVERIFY(A::MoveIn(w));
    QVERIFY(zt::Has(c.lbxZoneList, "Ontario"));
    QVERIFY(!zt::Has(c.lbxAvailList, "Ontario" + PM));
    QVERIFY(Entry(w, "ON")->Areas.empty() && Entry(w, "ON")->AreasTo.empty());

    // Lines without the sign append whole provinces, top line first.
    QCOMPARE(zt::Select(c.lbxAvailList, {"Quebec", "Nunavut"}), 2);
    c.btnAddSel->click();
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "NS", "NU", "QC"}));
    QCOMPARE(Entry(w, "QC")->Country, std::string("CA"));
    QVERIFY(zt::Has(c.lbxZoneList, "Nunavut"));  // no postal lines, still a Summary line

    // Removing takes the province out, whole or partial.
    QCOMPARE(zt::Select(c.lbxZoneList, {"Nova Scotia", "Quebec"}), 2);
    c.btnDelSel->click();
    QVERIFY(!A::MoveIn(w));
    QCOMPARE(Provinces(w), (std::vector<std::string>{"ON", "NU"}));

    c.btnNext->click();  // one zone: the same, reloaded
    QVERIFY(Entry(w, "ON")->Areas == TStringList{"K1A0A0"});
    QCOMPARE(zt::Select(c.lbxZoneList, {"Ontario"}), 1);
    c.btnDelSel->click();
    QCOMPARE(A::Zone(w).ProvinceCount(), 1);
    QVERIFY(zt::Has(c.lbxAvailList, "Ontario"));
    QVERIFY(!zt::Has(c.lbxZoneList, "Ontario" + PM));
  }

  void detailSelection() {
    world->AddZone("Z", "Zone", {{"ON", {"K1A0A0"}}, {"NY", {"10001"}}, {"NS", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    c.tabMode->setCurrentIndex(TfrmZone::TabDetail);

    // Every missing line added back: the province is whole again.
    QCOMPARE(zt::Select(c.lbxAvailList, {"K1B1A1", "K2B1A1", "L9M9J6", "M5V1A1"}), 4);
    c.btnAddSel->click();
    const TProvince* on = Entry(w, "ON");
    QCOMPARE(on->Areas, (TStringList{"K1A0A0", "K1B1A1", "K2B1A1", "L9M9J6", "M5V1A1"}));
    QCOMPARE(on->AreasTo, (TStringList{"K1A9Z9", "K1B9Z9", "K2B9Z9", "L9M9Z9", "M5V9Z9"}));
    c.tabMode->setCurrentIndex(TfrmZone::TabSummary);
    QVERIFY(zt::Has(c.lbxZoneList, "Ontario"));
    QVERIFY(!zt::Has(c.lbxAvailList, "Ontario"));
    c.tabMode->setCurrentIndex(TfrmZone::TabDetail);

    // A zip code into a partial state: no range ends.
    QCOMPARE(zt::Select(c.lbxAvailList, {"10002"}), 1);
    c.btnAddSel->click();
    QCOMPARE(Entry(w, "NY")->Areas, (TStringList{"10001", "10002"}));
    QVERIFY(Entry(w, "NY")->AreasTo.empty());

    // A line of a province not in the zone creates its entry.
    QCOMPARE(zt::Select(c.lbxAvailList, {"J4M2T6"}), 1);
    c.btnAddSel->click();
    QCOMPARE(Entry(w, "QC")->Country, std::string("CA"));
    QCOMPARE(Entry(w, "QC")->Areas, TStringList{"J4M2T6"});
    QCOMPARE(Entry(w, "QC")->AreasTo, TStringList{"J4M6Z9"});
    QVERIFY(zt::Has(c.lbxZoneList, "J4M2T6, Barrie, Quebec"));

    // Lines of a whole province with no listed codes: it keeps the others.
    QCOMPARE(zt::Select(c.lbxZoneList, {"B3L1P5", "B4A1A1"}), 2);
    c.btnDelSel->click();
    QCOMPARE(Entry(w, "NS")->Areas, TStringList{"B3M0A0"});
    QCOMPARE(Entry(w, "NS")->AreasTo, TStringList{"B3M9Z9"});
    QVERIFY(zt::Has(c.lbxAvailList, "B3L1P5, Halifax, Nova Scotia"));

    // The last listed code of an entry goes: the entry goes with it.
    QCOMPARE(zt::Select(c.lbxZoneList, {"B3M0A0", "J4M2T6", "K2B1A1", "10001"}), 4);
    c.btnDelSel->click();
    QVERIFY(!Entry(w, "NS"));
    QVERIFY(!Entry(w, "QC"));
    QCOMPARE(Entry(w, "ON")->Areas, (TStringList{"K1A0A0", "K1B1A1", "L9M9J6", "M5V1A1"}));
    QCOMPARE(Entry(w, "ON")->AreasTo, (TStringList{"K1A9Z9", "K1B9Z9", "L9M9Z9", "M5V9Z9"}));
    QCOMPARE(Entry(w, "NY")->Areas, TStringList{"10002"});

    // Saved and loaded again, the zone holds what the lists showed.
    ui->answers = {ui::MsgResult::Yes};
    c.btnSave->click();
    TZone z;
    z.Load("Z");
    QCOMPARE(z.ProvinceCount(), 2);
    QCOMPARE(z.GetProvince(0)->Areas, (TStringList{"K1A0A0", "K1B1A1", "L9M9J6", "M5V1A1"}));
    QCOMPARE(z.GetProvince(1)->Areas, TStringList{"10002"});
  }

  // A line wider than the list scrolls sideways and shows whole as a tooltip,
  // also when it is not the first line (the lines share one measured size).
  void longLinesScroll() {
    std::vector<std::string> lines(400, "A1");
    lines[300] = "K1A0A0, A town whose name is far wider than the list, Ontario";
    QListView view;
    view.setUniformItemSizes(true);
    view.setTextElideMode(Qt::ElideNone);
    auto* model = new TAreaListModel(lines, &view);
    view.setModel(model);
    view.setItemDelegate(new TAreaLineDelegate(model, &view));
    model->Reset();
    view.resize(120, 80);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QVERIFY(view.horizontalScrollBar()->maximum() > 0);
    QCOMPARE(zt::S(model->index(300).data(Qt::ToolTipRole).toString()), lines[300]);
  }

  void buttonWithoutSelection() {
    world->AddZone("Z", "Zone", {{"ON", {}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    // No current line: nothing, not even a change.
    c.btnAddSel->click();
    QVERIFY(!A::Changed(w));
    QVERIFY(A::MoveIn(w));
    // A current line but no selection: marked changed, nothing moved.
    auto* model = c.lbxAvailList->model();
    c.lbxAvailList->selectionModel()->setCurrentIndex(model->index(0, 0), QItemSelectionModel::NoUpdate);
    QVERIFY(c.lbxAvailList->selectionModel()->selectedIndexes().isEmpty());
    c.btnAddSel->click();
    QVERIFY(A::Changed(w));
    QCOMPARE(A::Zone(w).ProvinceCount(), 1);
    QVERIFY(!c.lbxAvailList->currentIndex().isValid());  // no selection survives a rebuild
  }

  // Summary marks the provinces with postal lines that no stored zone takes;
  // the marks follow the stored zones, not the edits on screen.
  void summaryMarksProvincesWithUncoveredLines() {
    world->AddZone("Z", "Zone", {{"ON", {"K1A0A0"}}, {"NS", {}}, {"NY", {"10001", "10002", "14201"}}});
    TfrmZone w(nullptr);
    const zt::Controls c(w);
    zt::ShowActive(w);
    auto marked = [&] {
      std::vector<std::string> out;
      for (QListView* view : {c.lbxZoneList, c.lbxAvailList}) {
        auto* mark = qobject_cast<TUncoveredMark*>(view->itemDelegate());
        if (!mark) return std::vector<std::string>{"no mark"};
        for (int i = 0; i < view->model()->rowCount(); ++i)
          if (mark->Marks(view->model()->index(i, 0))) out.push_back(zt::Lines(view)[static_cast<size_t>(i)]);
      }
      return out;
    };
    // Nunavut has no postal line, so nothing of it is uncovered.
    QCOMPARE(marked(), (std::vector<std::string>{"Ontario" + PM, "north Dakota", "Ontario" + PM, "Quebec", "Washington"}));
    const QString shots = qEnvironmentVariable("VV_SCREENSHOT_DIR");
    if (!shots.isEmpty()) w.grab().save(shots + "/zone_summary_uncovered.png");
    c.tabMode->setCurrentIndex(TfrmZone::TabDetail);
    QVERIFY(marked().empty());
    c.tabMode->setCurrentIndex(TfrmZone::TabSummary);

    QCOMPARE(zt::Select(c.lbxAvailList, {"Ontario", "Quebec", "Washington"}), 3);
    c.btnAddSel->click();
    QCOMPARE(marked().size(), size_t(4));  // not saved yet
    ui->answers = {ui::MsgResult::Yes};
    c.btnSave->click();
    QCOMPARE(zt::Status(w), std::string("Record updated."));
    QCOMPARE(marked(), (std::vector<std::string>{"north Dakota"}));

    ui->answers = {ui::MsgResult::Yes};
    c.btnDelete->click();
    QCOMPARE(zt::Status(w), std::string("Record deleted."));
    QCOMPARE(marked(), (std::vector<std::string>{"New York", "north Dakota", "Nova Scotia", "Ontario", "Quebec",
                                                 "Washington"}));
  }
};

VV_ZONE_TEST_MAIN(ZoneListsTest)
#include "zone_lists_test.moc"
