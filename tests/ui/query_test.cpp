// The sort order window against real sort files: everything the window writes
// is read back with ReadSortFile.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <sstream>

#include "engine/uSequncr.h"
#include "platform/ini.h"
#include "tests/support/files.h"
#include "tests/ui/scripted_ui_support.h"
#include "ui/fQuery.h"

namespace {

std::string ReadAll(const std::string& path) { return vvtest::ReadFile(path); }
void WriteAll(const std::string& path, const std::string& text) { vvtest::WriteFile(path, text); }

std::vector<int> Order(const std::string& file) {
  TSortOrderArray order;
  ReadSortFile(file, order);
  return std::vector<int>(order.begin(), order.end());
}

// Descending elements as a bit mask, and the reverse flag, as the engine reads them.
std::pair<uint32_t, bool> Directions(const std::string& file) {
  TSortOrderArray order;
  ReadSortFile(file, order);
  return {order.DescendingMask, order.Reverse};
}

}  // namespace

class QueryTest : public QObject {
  Q_OBJECT

  std::shared_ptr<ScriptedUi> ui_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TfrmQuery> frm_;

  std::string Path(const char* name) const { return (dir_->path() + "/" + name).toStdString(); }
  QComboBox* List(int i) const {
    QComboBox* l[5] = {frm_->cbxPriority1, frm_->cbxPriority2, frm_->cbxPriority3,
                       frm_->cbxPriority4, frm_->cbxPriority5};
    return l[i - 1];
  }
  // The five lists' selected entries.
  QVector<int> Choices() const {
    QVector<int> v;
    for (int i = 1; i <= 5; ++i) v << List(i)->currentIndex();
    return v;
  }
  void Choose(const QVector<int>& entries) {
    for (int i = 1; i <= 5; ++i) List(i)->setCurrentIndex(entries[i - 1]);
  }
  QCheckBox* Down(int i) const {
    QCheckBox* c[5] = {frm_->chkDescending1, frm_->chkDescending2, frm_->chkDescending3,
                       frm_->chkDescending4, frm_->chkDescending5};
    return c[i - 1];
  }
  // The five "Descending" boxes, 1 for checked.
  QVector<int> Downs() const {
    QVector<int> v;
    for (int i = 1; i <= 5; ++i) v << (Down(i)->isChecked() ? 1 : 0);
    return v;
  }
  void ChooseDowns(const QVector<int>& checked) {
    for (int i = 1; i <= 5; ++i) Down(i)->setChecked(checked[i - 1] != 0);
  }

 private slots:
  void init() {
    ui_ = InstallScriptedUi();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    frm_ = std::make_unique<TfrmQuery>(nullptr);
    frm_->show();
    QVERIFY(QTest::qWaitForWindowExposed(frm_.get()));
  }
  void cleanup() { frm_.reset(); }

  void controlsCarryTheirNamesAndTexts() {
    QCOMPARE(frm_->windowTitle(), QString("Sort Order Screen ..."));
    const std::pair<const char*, const char*> labels[] = {
        {"lblInsturctions", "Please set up the sort order for the Order.txt file :"},
        {"lblPriority1", "#1 Sort Priority By"}, {"lblPriority5", "#5 Sort Priority By"},
        {"lblFileName", "File name:"},           {"lblSaveAs", "Save File As ...(*.qry)"},
        {"lblOpenAs", "Open File As ...(*.qry)"}};
    for (auto [name, text] : labels) {
      auto* l = frm_->findChild<QLabel*>(name);
      QVERIFY2(l, name);
      QCOMPARE(l->text(), QString(text));
    }
    QCOMPARE(frm_->findChild<QPushButton*>("btnClose")->text(), QString("&Close"));
    QCOMPARE(frm_->findChild<QCheckBox*>("chkDescending3")->text(), QString("Descending"));
    QCOMPARE(frm_->findChild<QCheckBox*>("chkReverse")->text(), QString("Reverse (last label first)"));
    QCOMPARE(frm_->btnSave->focusPolicy(), Qt::NoFocus);
    QCOMPARE(frm_->btnOpen->focusPolicy(), Qt::NoFocus);
    QVERIFY(frm_->btnSave->text().isEmpty() && !frm_->btnSave->icon().isNull());
    // Fixed size: the layout pins the window to its size hint.
    QCOMPARE(frm_->minimumSize(), frm_->maximumSize());

    // Tab order: each list and its direction, the reverse box, Close, then the file name.
    QStringList chain;
    QWidget* w = frm_->cbxPriority1;
    do {
      if (w->focusPolicy() & Qt::TabFocus) chain << w->objectName();
      w = w->nextInFocusChain();
    } while (w != frm_->cbxPriority1 && chain.size() < 20);
    QCOMPARE(chain, (QStringList{"cbxPriority1", "chkDescending1", "cbxPriority2", "chkDescending2", "cbxPriority3",
                                 "chkDescending3", "cbxPriority4", "chkDescending4", "cbxPriority5", "chkDescending5",
                                 "chkReverse", "btnClose", "txtFileName"}));
  }

  void freshWindowShowsEmptyListsAndName() {
    for (int i = 1; i <= 5; ++i) {
      QComboBox* l = List(i);
      QCOMPARE(l->count(), 14);
      QCOMPARE(l->currentIndex(), 0);
      QVERIFY(l->itemText(0).isEmpty());
      QVERIFY(!l->isEditable());
      for (int k = 0; k < SortFieldCount; ++k) QCOMPARE(l->itemText(k + 1), QString(SortFieldCaptions[k]));
    }
    QVERIFY(frm_->txtFileName->text().isEmpty());

    // Whatever was chosen the last time is gone when the window shows again.
    Choose({3, 4, 5, 6, 7});
    ChooseDowns({1, 0, 1, 0, 1});
    frm_->chkReverse->setChecked(true);
    frm_->txtFileName->setText("old.qry");
    frm_->hide();
    frm_->show();
    QCOMPARE(Choices(), (QVector<int>{0, 0, 0, 0, 0}));
    QCOMPARE(Downs(), (QVector<int>{0, 0, 0, 0, 0}));
    QVERIFY(!frm_->chkReverse->isChecked());
    QVERIFY(frm_->txtFileName->text().isEmpty());
  }

  void saveClosesUpGapsAndUsesTheSaveDialog() {
    const std::string file = Path("zone.qry");
    Choose({2, 0, 7, 0, 0});  // Zone Code, -, Ship To Postal Code
    frm_->txtFileName->setText("  draft.qry  ");
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnSave->click();

    QCOMPARE(ui_->dialogs.size(), size_t(1));
    const RecordedDialog& d = ui_->dialogs[0];
    QCOMPARE(d.kind, std::string("save"));
    QCOMPARE(d.spec.title, std::string("Please save the sort file ..."));
    QCOMPARE(d.spec.filter, std::string("Shipment Sort file (*.qry)|*.qry"));
    QCOMPARE(d.spec.defaultExt, std::string("qry"));
    QCOMPARE(d.spec.fileName, std::string("draft.qry"));
    QVERIFY(d.spec.initialDir.empty());
    QVERIFY(!d.spec.overwritePrompt);

    QCOMPARE(frm_->txtFileName->text().toStdString(), file);
    QCOMPARE(Order(file), (std::vector<int>{1, 6}));
    QCOMPARE(plat::IniReadInteger(file, "Keys", "Key3", -1), -1);
    QVERIFY(ui_->errors.empty());
    // Nothing descending, nothing reversed: the file is the plain old format,
    // and opening and saving it again gives the same bytes.
    QVERIFY(ReadAll(file).find("Desc") == std::string::npos);
    QVERIFY(ReadAll(file).find("Reverse") == std::string::npos);
    frm_->hide();
    frm_->show();
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnOpen->click();
    QCOMPARE(Downs(), (QVector<int>{0, 0, 0, 0, 0}));
    QVERIFY(!frm_->chkReverse->isChecked());
    const std::string again = Path("again.qry");
    ui_->dialogAnswers.push_back({true, again});
    frm_->btnSave->click();
    QCOMPARE(ReadAll(again), ReadAll(file));
  }

  // A descending box travels with its list's choice when gaps close up; the
  // box of an empty list is not saved.
  void saveWritesDirectionsWithTheirKeys() {
    const std::string file = Path("down.qry");
    Choose({2, 0, 7, 0, 4});
    ChooseDowns({0, 1, 1, 0, 0});
    frm_->chkReverse->setChecked(true);
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnSave->click();
    QCOMPARE(Order(file), (std::vector<int>{1, 6, 3}));
    QCOMPARE(Directions(file), (std::pair<uint32_t, bool>{0b010, true}));
    QCOMPARE(plat::IniReadInteger(file, "Keys", "Desc2", -1), 1);
    QCOMPARE(plat::IniReadInteger(file, "Keys", "Desc1", -1), -1);

    // Opened in a fresh window, the same choices come back and save the same.
    frm_->hide();
    frm_->show();
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnOpen->click();
    QCOMPARE(Choices(), (QVector<int>{2, 7, 4, 0, 0}));
    QCOMPARE(Downs(), (QVector<int>{0, 1, 0, 0, 0}));
    QVERIFY(frm_->chkReverse->isChecked());
    const std::string copy = Path("copy.qry");
    ui_->dialogAnswers.push_back({true, copy});
    frm_->btnSave->click();
    QCOMPARE(ReadAll(copy), ReadAll(file));
  }

  void saveOverExistingFileReplacesOnlyKeys() {
    const std::string file = Path("existing.qry");
    WriteAll(file,
             "[Notes]\nOwner=Dock 4\n[Keys]\nKey1=1\nKey2=2\nKey3=3\nKey4=4\nKey5=5\nKey9=9\nDesc1=1\nReverse=1\n"
             "[Other]\nA=1\n");
    Choose({10, 0, 0, 6, 0});  // Package Reference 1, Ship To Customer Name
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnSave->click();

    QVERIFY(ui_->messages.empty());  // no overwrite question
    QCOMPARE(Order(file), (std::vector<int>{9, 5}));
    QCOMPARE(Directions(file), (std::pair<uint32_t, bool>{0, false}));
    for (const char* gone : {"Key3", "Key4", "Key5", "Key9", "Desc1", "Reverse"})
      QCOMPARE(plat::IniReadInteger(file, "Keys", gone, -1), -1);
    QCOMPARE(plat::IniReadString(file, "Notes", "Owner", ""), std::string("Dock 4"));
    QCOMPARE(plat::IniReadInteger(file, "Other", "A", -1), 1);
  }

  void saveWithNoPriorityLeavesNoKeys() {
    const std::string file = Path("empty.qry");
    WriteAll(file, "[Keys]\nKey1=4\n");
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnSave->click();
    QVERIFY(ui_->messages.empty() && ui_->errors.empty());
    QVERIFY(Order(file).empty());
    QVERIFY(ReadAll(file).find("Keys") == std::string::npos);
  }

  void cancelledSaveWritesNothing() {
    Choose({1, 0, 0, 0, 0});
    frm_->txtFileName->setText("keep.qry");
    ui_->dialogAnswers.push_back({false, ""});
    frm_->btnSave->click();
    QCOMPARE(frm_->txtFileName->text(), QString("keep.qry"));
    QVERIFY(!QFile::exists(QString::fromStdString(Path("keep.qry"))));
  }

  void unwritableFileShowsErrorAndWindowStays() {
    const std::string file = Path("no/such/folder/x.qry");
    Choose({1, 0, 0, 0, 0});
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnSave->click();
    QCOMPARE(ui_->errors.size(), size_t(1));
    QVERIFY(ui_->errors[0].rfind("Unable to write to ", 0) == 0);
    QVERIFY(frm_->isVisible());
  }

  // Opening fills the lists from the top with the keys found, by the j rule.
  void openFillsListsFromTheTop_data() {
    QTest::addColumn<QString>("content");
    QTest::addColumn<QVector<int>>("expected");
    const QVector<int> before{5, 6, 7, 8, 9};
    QTest::newRow("two keys keep later lists") << "[Keys]\nKey1=2\nKey2=0\n" << QVector<int>{3, 1, 7, 8, 9};
    QTest::newRow("missing Key1 changes nothing") << "[Keys]\nKey2=3\nKey3=4\n" << before;
    QTest::newRow("gap stops the filling") << "[Keys]\nKey1=12\nKey3=4\n" << QVector<int>{13, 6, 7, 8, 9};
    QTest::newRow("word is no number") << "[keys]\nkey1=zone\n" << before;
    QTest::newRow("five keys, Key6 ignored")
        << "[Keys]\nKey1=0\nKey2=1\nKey3=2\nKey4=3\nKey5=4\nKey6=5\n" << QVector<int>{1, 2, 3, 4, 5};
    QTest::newRow("code above 12 shows no entry") << "[Keys]\nKey1=13\nKey2=4\n" << QVector<int>{-1, 5, 7, 8, 9};
    QTest::newRow("huge code") << "[Keys]\nKey1=2147483647\n" << QVector<int>{-1, 6, 7, 8, 9};
    QTest::newRow("no file section") << "[Other]\nKey1=1\n" << before;
  }
  void openFillsListsFromTheTop() {
    QFETCH(QString, content);
    QFETCH(QVector<int>, expected);
    const std::string file = Path("open.qry");
    WriteAll(file, content.toStdString());
    Choose({5, 6, 7, 8, 9});
    frm_->txtFileName->setText(" earlier.qry ");
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnOpen->click();

    const RecordedDialog& d = ui_->dialogs.at(0);
    QCOMPARE(d.kind, std::string("open"));
    QCOMPARE(d.spec.title, std::string("Please choose the sort file ..."));
    QCOMPARE(d.spec.filter, std::string("Shipment Sort file (*.qry)|*.qry"));
    QCOMPARE(d.spec.defaultExt, std::string("qry"));
    QCOMPARE(d.spec.fileName, std::string("earlier.qry"));
    QVERIFY(d.spec.fileMustExist && d.spec.hideReadOnly);
    QCOMPARE(Choices(), expected);
    QCOMPARE(frm_->txtFileName->text().toStdString(), file);
  }

  // The boxes follow their lists: set from DescN of the key that fills the
  // list, left alone where the list is left alone.
  void openSetsDirectionsWithTheLists() {
    const std::string file = Path("dirs.qry");
    WriteAll(file, "[Keys]\nKey1=2\nDesc1=1\nKey2=0\nDesc2=0\nDesc4=1\n");
    Choose({5, 6, 7, 8, 9});
    ChooseDowns({0, 1, 1, 0, 1});
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnOpen->click();
    QCOMPARE(Choices(), (QVector<int>{3, 1, 7, 8, 9}));
    QCOMPARE(Downs(), (QVector<int>{1, 0, 1, 0, 1}));
    QVERIFY(!frm_->chkReverse->isChecked());

    frm_->chkReverse->setChecked(true);
    ui_->dialogAnswers.push_back({false, ""});
    frm_->btnOpen->click();  // cancelled: nothing changes
    QCOMPARE(Downs(), (QVector<int>{1, 0, 1, 0, 1}));
    QVERIFY(frm_->chkReverse->isChecked());
  }

  void openThenSaveWritesEveryShownChoice() {
    const std::string file = Path("mixed.qry");
    WriteAll(file, "[Keys]\nKey1=2\nKey2=0\n");
    Choose({5, 6, 7, 8, 9});
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnOpen->click();
    QCOMPARE(List(1)->currentText(), QString("Province Location"));
    QCOMPARE(List(2)->currentText(), QString("Zone Location"));

    ui_->dialogAnswers.push_back({true, file});
    frm_->btnSave->click();
    QCOMPARE(Order(file), (std::vector<int>{2, 0, 6, 7, 8}));
  }

  void codeAboveTwelveIsSavedAsEmpty() {
    const std::string file = Path("bad.qry");
    WriteAll(file, "[Keys]\nKey1=13\nKey2=4\n");
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnOpen->click();
    QCOMPARE(List(1)->currentIndex(), -1);
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnSave->click();
    QCOMPARE(Order(file), (std::vector<int>{4}));
    QCOMPARE(plat::IniReadInteger(file, "Keys", "Key2", -1), -1);
  }

  void cancelledOpenChangesNothing() {
    const std::string file = Path("stale.qry");
    WriteAll(file, "[Keys]\nKey1=3\n");
    // A first open sets the window's keys; a cancelled second one must not
    // replay them.
    ui_->dialogAnswers.push_back({true, file});
    frm_->btnOpen->click();
    Choose({2, 3, 4, 5, 6});
    frm_->txtFileName->setText("typed.qry");
    ui_->dialogAnswers.push_back({false, ""});
    frm_->btnOpen->click();
    QCOMPARE(Choices(), (QVector<int>{2, 3, 4, 5, 6}));
    QCOMPARE(frm_->txtFileName->text(), QString("typed.qry"));
  }

  void closeSavesNothing() {
    Choose({1, 2, 0, 0, 0});
    frm_->txtFileName->setText(QString::fromStdString(Path("never.qry")));
    frm_->btnClose->click();
    QVERIFY(!frm_->isVisible());
    QVERIFY(ui_->dialogs.empty());
    QVERIFY(!QFile::exists(QString::fromStdString(Path("never.qry"))));
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QueryTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "query_test.moc"
