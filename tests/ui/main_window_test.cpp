// The main window without the engine's work: its first start, the mode and
// processing combinations, Process and Stop, the picture buttons, the fields
// kept in the settings and the settings file on close.
#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QFocusEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>

#include "platform/error.h"
#include "platform/ini.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"
#include "tests/ui/main_window_support.h"

using namespace mwt;

namespace {

void Leave(QLineEdit* edit) {
  QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
  QApplication::sendEvent(edit, &out);
}

bool SameIcon(const QIcon& a, const QIcon& b) { return a.pixmap(16, 16).toImage() == b.pixmap(16, 16).toImage(); }

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void firstStartWithoutIni() {
    World w;
    Running r(w);
    TfrmMain& f = *r.frm;
    QCOMPARE(f.windowTitle(), QStringLiteral("Kavlo Package & Shipment Vadoviver ..."));
    QVERIFY(AppSetup != nullptr);
    QVERIFY(f.EngineHandle() != 0);
    QCOMPARE(f.tabMode->currentIndex(), 0);
    QCOMPARE(f.tabProcess->currentIndex(), 0);
    QCOMPARE(r.Count(), std::string("0 "));
    QVERIFY(f.txtCount->isVisible());
    QVERIFY(f.btnStop->isVisible());
    QVERIFY(!f.lblSource->isVisible());
    QVERIFY(!f.txtResult->isVisible());
    QVERIFY(f.txtQuery->text().isEmpty());
    QVERIFY(!f.tmrProcess->isActive());
    QCOMPARE(f.tmrProcess->interval(), 10000);
    QVERIFY(!f.panWait->isVisible());
    QVERIFY(SameIcon(f.btnQuery->icon(), f.ilsMain->Image(0)));

    f.tabMode->setCurrentIndex(1);
    QVERIFY(f.lblSource->isVisible());
    QCOMPARE(Text(f.lblSource), std::string("Source Path"));
    QCOMPARE(Text(f.lblResult), std::string("Result Path"));
    QCOMPARE(f.txtSource->text().toStdString(), SafeDir(w.program));
    QVERIFY(f.txtResult->text().isEmpty());
    QVERIFY(!Exists(w.program + "/Vadoviver.ini"));  // nothing is written before close

    QVERIFY(f.close());
    QVERIFY(Exists(w.program + "/Vadoviver.ini"));
    const std::string ini = w.program + "/Vadoviver.ini";
    QCOMPARE(plat::IniReadString(ini, "Paths", "Desko", "?"), SafeDir(w.program));
    QCOMPARE(plat::IniReadString(ini, "Paths", "Source", "?"), SafeDir(w.program));
    QCOMPARE(plat::IniReadString(ini, "Paths", "Result", "?"), std::string());
    QCOMPARE(plat::IniReadString(ini, "Files", "Query", "?"), std::string());
  }

  void controlsNamesCaptionsAndLayout() {
    World w;
    Running r(w);
    TfrmMain& f = *r.frm;
    const char* names[] = {"mnuMain", "mnuZones", "mnuSorts", "mnuSetup", "mnuExit", "ilsMain", "tmrProcess",
                           "tabMode", "tabProcess", "txtCount", "panWait", "lblQuery", "txtQuery", "btnQuery",
                           "lblSource", "txtSource", "btnSource", "lblResult", "txtResult", "btnResult",
                           "btnProcess", "btnStop"};
    for (const char* n : names) QVERIFY2(f.findChild<QObject*>(QLatin1String(n)) != nullptr, n);
    QCOMPARE(f.mnuMain->actions().size(), 4);
    QCOMPARE(f.mnuZones->text(), QStringLiteral("&Zones"));
    QCOMPARE(f.mnuSorts->text(), QStringLiteral("&Sorts"));
    QCOMPARE(f.mnuSetup->text(), QStringLiteral("Set&up"));
    QCOMPARE(f.mnuExit->text(), QStringLiteral("E&xit"));
    for (QAction* a : f.mnuMain->actions()) QVERIFY(a->menu() == nullptr);
    QCOMPARE(f.tabMode->tabText(0), QStringLiteral("Package"));
    QCOMPARE(f.tabMode->tabText(1), QStringLiteral("Shipment"));
    QCOMPARE(f.tabProcess->tabText(0), QStringLiteral("Automatic"));
    QCOMPARE(f.tabProcess->tabText(1), QStringLiteral("Manual"));
    QCOMPARE(f.btnProcess->text(), QStringLiteral("&Process"));
    QCOMPARE(f.btnStop->text(), QStringLiteral("&Stop"));
    QCOMPARE(Text(f.lblQuery), std::string("Sort File"));
    QVERIFY(f.txtCount->alignment() & Qt::AlignRight);
    QVERIFY(f.panWait->font().bold());
    QCOMPARE(f.ilsMain->Count(), 2);
    QVERIFY(!SameIcon(f.ilsMain->Image(0), f.ilsMain->Image(1)));
    QCOMPARE(f.ilsMain->Image(0).pixmap(16, 16).size(), QSize(16, 16));
    // Fixed size, no maximise button.
    QCOMPARE(f.minimumSize(), f.maximumSize());
    QVERIFY(!(f.windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(f.windowFlags() & Qt::WindowMinimizeButtonHint);
    // The controls of the rows sit on tabProcess (disabling it disables them).
    for (QWidget* c : std::initializer_list<QWidget*>{f.txtQuery, f.btnQuery, f.txtSource, f.btnResult})
      QVERIFY(f.tabProcess->isAncestorOf(c));
    QVERIFY(f.tabMode->isAncestorOf(f.tabProcess));
    QVERIFY(!f.tabProcess->isAncestorOf(f.btnProcess));
    // Tab order: the rows of tabProcess, then Process and Stop.
    f.tabMode->setCurrentIndex(1);
    QWidget* expected[] = {f.txtQuery, f.btnQuery, f.txtSource, f.btnSource, f.txtResult, f.btnResult,
                           f.btnProcess, f.btnStop};
    QWidget* at = f.txtQuery;
    for (size_t i = 1; i < std::size(expected); ++i) {
      at = at->nextInFocusChain();
      while (at->focusPolicy() == Qt::NoFocus) at = at->nextInFocusChain();
      QCOMPARE(at, expected[i]);
    }
  }

  void modeAndProcessing_data() {
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("process");
    QTest::addColumn<bool>("rows");
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("folders");
    QTest::newRow("package automatic") << 0 << 0 << false << "Source Path" << "Result Path" << true;
    QTest::newRow("package manual") << 0 << 1 << false << "Source File" << "Result File" << false;
    QTest::newRow("shipment automatic") << 1 << 0 << true << "Source Path" << "Result Path" << true;
    QTest::newRow("shipment manual") << 1 << 1 << true << "Source File" << "Result File" << false;
  }

  void modeAndProcessing() {
    QFETCH(int, mode);
    QFETCH(int, process);
    QFETCH(bool, rows);
    QFETCH(QString, source);
    QFETCH(QString, result);
    QFETCH(bool, folders);
    World w;
    w.WriteVadoviverIni("/orders/in", "/orders/out", "/sorts/a.qry");
    Running r(w);
    TfrmMain& f = *r.frm;
    QCOMPARE(f.txtQuery->text(), QStringLiteral("/sorts/a.qry"));
    // Start from the other side so that both handlers really run.
    r.Mode(1 - mode, 1 - process);
    r.Mode(mode, process);
    for (QWidget* c : std::initializer_list<QWidget*>{f.lblSource, f.txtSource, f.btnSource, f.lblResult,
                                                      f.txtResult, f.btnResult})
      QCOMPARE(c->isVisible(), rows);
    QVERIFY(f.lblQuery->isVisible() && f.txtQuery->isVisible() && f.btnQuery->isVisible());
    QCOMPARE(f.lblSource->text(), source);
    QCOMPARE(f.lblResult->text(), result);
    QCOMPARE(f.txtSource->text(), folders ? QStringLiteral("/orders/in") : QString());
    QCOMPARE(f.txtResult->text(), folders ? QStringLiteral("/orders/out") : QString());
    const QIcon& picture = f.ilsMain->Image(folders ? 1 : 0);
    QVERIFY(SameIcon(f.btnSource->icon(), picture));
    QVERIFY(SameIcon(f.btnResult->icon(), picture));
    QCOMPARE(f.txtCount->isVisible(), folders);
    QCOMPARE(f.btnStop->isVisible(), folders);
    QCOMPARE(f.txtQuery->text(), QStringLiteral("/sorts/a.qry"));
  }

  void manualEntriesAreForgotten() {
    World w;
    w.WriteVadoviverIni("/orders/in", "/orders/out", "");
    Running r(w);
    TfrmMain& f = *r.frm;
    r.Mode(1, 1);
    f.txtSource->setText("/typed/source.txt");
    f.txtResult->setText("/typed/result.txt");
    Leave(f.txtSource);
    Leave(f.txtResult);
    f.tabProcess->setCurrentIndex(0);
    QCOMPARE(f.txtSource->text(), QStringLiteral("/orders/in"));
    QCOMPARE(f.txtResult->text(), QStringLiteral("/orders/out"));
    QCOMPARE(AppSetup->SourcePath, std::string("/orders/in"));
    // A mode change also returns to Automatic with the saved folders.
    f.tabProcess->setCurrentIndex(1);
    f.txtSource->setText("/typed/again.txt");
    f.tabMode->setCurrentIndex(0);
    QCOMPARE(f.tabProcess->currentIndex(), 0);
    QCOMPARE(f.txtSource->text(), QStringLiteral("/orders/in"));
  }

  void fieldsReachSettingsWhenLeft() {
    World w;
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.txtQuery->setText("  /sorts/by zone.qry \t");
    f.txtSource->setText(" /orders/in/ ");
    f.txtResult->setText("/orders/out//");
    // Typing alone changes nothing; the passes use the field texts meanwhile.
    QCOMPARE(AppSetup->QueryFile, std::string());
    QCOMPARE(AppSetup->SourcePath, SafeDir(w.program));
    // Switching to another window is not leaving the field.
    QFocusEvent away(QEvent::FocusOut, Qt::ActiveWindowFocusReason);
    QApplication::sendEvent(f.txtQuery, &away);
    QCOMPARE(AppSetup->QueryFile, std::string());

    Leave(f.txtQuery);
    Leave(f.txtSource);
    Leave(f.txtResult);
    QCOMPARE(AppSetup->QueryFile, std::string("/sorts/by zone.qry"));
    QCOMPARE(f.txtQuery->text(), QStringLiteral("  /sorts/by zone.qry \t"));  // the field stays as typed
    QCOMPARE(AppSetup->SourcePath, SafeDir("/orders/in/"));
    QCOMPARE(AppSetup->ResultPath, SafeDir("/orders/out//"));

    // In Manual, leaving the file fields keeps the folders.
    f.tabProcess->setCurrentIndex(1);
    f.txtSource->setText("/files/ORDER.TXT");
    f.txtResult->setText("/files/SORTED.TXT");
    Leave(f.txtSource);
    Leave(f.txtResult);
    QCOMPARE(AppSetup->SourcePath, SafeDir("/orders/in/"));
    QCOMPARE(AppSetup->ResultPath, SafeDir("/orders/out//"));

    // A real move of the focus from one field to the next counts as leaving.
    f.tabProcess->setCurrentIndex(0);
    f.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&f));
    f.txtSource->setFocus(Qt::TabFocusReason);
    f.txtSource->setText("/moved/by/focus");
    f.txtResult->setFocus(Qt::TabFocusReason);
    QCOMPARE(AppSetup->SourcePath, std::string("/moved/by/focus"));

    // Closing writes the settings.
    QVERIFY(f.close());
    const std::string ini = w.program + "/Vadoviver.ini";
    QCOMPARE(plat::IniReadString(ini, "Files", "Query", "?"), std::string("/sorts/by zone.qry"));
    QCOMPARE(plat::IniReadString(ini, "Paths", "Result", "?"), SafeDir("/orders/out//"));
    TSetup again(w.program);
    QCOMPARE(again.SourcePath, AppSetup->SourcePath);
  }

  void menuOpensModalWindowsOwnedByTheMainWindow_data() {
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("window");
    QTest::newRow("zones") << "mnuZones" << "TfrmZone";
    QTest::newRow("sorts") << "mnuSorts" << "TfrmQuery";
    QTest::newRow("setup") << "mnuSetup" << "TfrmSetup";
  }

  void menuOpensModalWindowsOwnedByTheMainWindow() {
    QFETCH(QString, action);
    QFETCH(QString, window);
    World w;
    w.CopyFixtureTables();
    w.WriteMondarixIni("");
    Running r(w);
    QString opened;
    QObject* owner = nullptr;
    QPointer<QWidget> seen;
    QTimer::singleShot(0, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) return;
      opened = QString::fromLatin1(modal->metaObject()->className());
      owner = modal->parent();
      seen = modal;
      if (auto* d = qobject_cast<QDialog*>(modal)) d->reject();
      else modal->close();
    });
    r.frm->findChild<QAction*>(action)->trigger();
    QCOMPARE(opened, window);
    QCOMPARE(owner, static_cast<QObject*>(r.frm.get()));
    QVERIFY(seen.isNull());  // released when it closed
    QVERIFY(r.ui->errors.empty());
  }

  void exitMenuClosesAndSaves() {
    World w;
    Running r(w);
    r.frm->txtQuery->setText("/sorts/exit.qry");
    Leave(r.frm->txtQuery);
    r.frm->mnuExit->trigger();
    QVERIFY(!r.frm->isVisible());
    QCOMPARE(plat::IniReadString(w.program + "/Vadoviver.ini", "Files", "Query", ""), std::string("/sorts/exit.qry"));
  }

  void unwritableIniKeepsWindowOpen() {
    World w;
    Running r(w);
    // A folder where the settings file should be: it reads as missing and
    // cannot be written (permissions would not stop a test run as root).
    const std::string ini = w.program + "/Vadoviver.ini";
    std::filesystem::create_directory(ini);
    QVERIFY(!r.frm->close());
    QVERIFY(r.frm->isVisible());
    QCOMPARE(r.ui->errors.size(), size_t(1));
    QVERIFY2(r.ui->errors[0].rfind("Unable to write to ", 0) == 0, r.ui->errors[0].c_str());
    QVERIFY(r.ui->errors[0].find("Vadoviver.ini") != std::string::npos);
    // Once the file can be written, the window closes.
    std::filesystem::remove(ini);
    QVERIFY(r.frm->close());
    QVERIFY(Exists(ini));
  }

  void processAndStopInAutomatic() {
    World w;
    Running r(w);
    TfrmMain& f = *r.frm;
    f.btnProcess->click();
    QVERIFY(f.tmrProcess->isActive());
    QVERIFY(!f.tabProcess->isEnabled());
    QVERIFY(!f.txtQuery->isEnabled());  // everything on tabProcess goes with it
    QVERIFY(!f.btnProcess->isEnabled());
    QVERIFY(f.tabMode->isEnabled() && f.btnStop->isEnabled() && f.mnuMain->isEnabled());
    // The first pass waits for the timer: nothing ran yet.
    QCOMPARE(r.ui->processMessagesCalls, 0);
    QCOMPARE(r.ui->maxCursorDepth, 0);
    QCOMPARE(f.tmrProcess->remainingTime() > 9000, true);

    f.btnStop->click();
    QVERIFY(!f.tmrProcess->isActive());
    QVERIFY(f.tabProcess->isEnabled() && f.btnProcess->isEnabled());

    // A mode change while cycling: Automatic again, the cycle goes on.
    f.btnProcess->click();
    f.tabMode->setCurrentIndex(1);
    QVERIFY(f.tmrProcess->isActive());
    QCOMPARE(f.tabProcess->currentIndex(), 0);
    QVERIFY(r.ui->messages.empty());
  }

  void manualProcessRunsAtOnceWithWaitCursor() {
    World w;
    Running r(w);
    TfrmMain& f = *r.frm;
    r.Mode(0, 1);
    f.btnProcess->click();
    QVERIFY(!f.tmrProcess->isActive());
    QCOMPARE(r.ui->maxCursorDepth, 1);
    QCOMPARE(r.ui->cursorDepth, 0);
    // The manual package pass showed its status, then hid it.
    QVERIFY(!r.status.empty());
    QCOMPARE(r.status.front().text, std::string("Sorting Package Labels ..."));
    QVERIFY(r.status.front().visible);
    QVERIFY(!f.panWait->isVisible());
    QVERIFY(f.btnProcess->isEnabled());
  }

  void resultPathInvalid_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("refused");
    QTest::newRow("equal") << "/orders/x" << "/orders/x" << true;
    QTest::newRow("equal after trimming") << "  /orders/x\t" << "/orders/x " << true;
    QTest::newRow("both empty") << "" << "  " << true;
    QTest::newRow("letter case differs") << "/orders/x" << "/Orders/x" << false;
    QTest::newRow("different") << "/orders/in" << "/orders/out" << false;
  }

  void resultPathInvalid() {
    QFETCH(QString, source);
    QFETCH(QString, result);
    QFETCH(bool, refused);
    World w;
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.txtSource->setText(source);
    f.txtResult->setText(result);
    f.btnProcess->click();
    QCOMPARE(f.tmrProcess->isActive(), !refused);
    QCOMPARE(f.btnProcess->isEnabled(), refused);
    if (refused) {
      QCOMPARE(r.ui->messages.size(), size_t(1));
      const RecordedMessage& m = r.ui->messages[0];
      QCOMPARE(m.text, std::string("Destination path must be different from the source path."));
      QCOMPARE(m.caption, std::string("Result path invalid"));
      QVERIFY(m.icon == ui::MsgIcon::Warning);
      QVERIFY(m.buttons == ui::MsgButtons::Ok);
    } else {
      QVERIFY(r.ui->messages.empty());
    }
    // Package mode makes no such check.
    f.btnStop->click();
    f.tabMode->setCurrentIndex(0);
    f.txtSource->setText("/same");
    f.txtResult->setText("/same");
    r.ui->messages.clear();
    f.btnProcess->click();
    QVERIFY(f.tmrProcess->isActive());
    QVERIFY(r.ui->messages.empty());
  }

  void pictureButtonDialogs_data() {
    QTest::addColumn<int>("process");
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("initialDir");
    QTest::addColumn<bool>("mustExist");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("field");

    QTest::newRow("sort file") << 0 << "btnQuery" << "open" << "Please choose the sort file for processing ..."
                               << "/sorts/old.qry" << "Shipment Sort file (*.qry)|*.qry" << "" << true
                               << "/sorts/new.qry" << "/sorts/new.qry";
    QTest::newRow("source path") << 0 << "btnSource" << "folder"
                                 << "Please choose the source path for processing ..." << "path" << "" << "/src/dir"
                                 << false << "/picked/in/" << "/picked/in";
    QTest::newRow("source file") << 1 << "btnSource" << "open" << "Please choose the source file for processing ..."
                                 << "/src/dir" << "Order Text file (*.txt)|*.txt" << "" << true
                                 << "/picked/ORDER.TXT" << "/picked/ORDER.TXT";
    QTest::newRow("result path") << 0 << "btnResult" << "folder"
                                 << "Please choose the result path for processing ..." << "path" << "" << "/src/dir"
                                 << false << "/picked/out" << "/picked/out";
    QTest::newRow("result file") << 1 << "btnResult" << "open" << "Please choose the result file for processing ..."
                                 << "/src/dir" << "Order Text file (*.txt)|*.txt" << "" << false
                                 << "/picked/NEW.TXT" << "/picked/NEW.TXT";
  }

  void pictureButtonDialogs() {
    QFETCH(int, process);
    QFETCH(QString, button);
    QFETCH(QString, kind);
    QFETCH(QString, title);
    QFETCH(QString, fileName);
    QFETCH(QString, filter);
    QFETCH(QString, initialDir);
    QFETCH(bool, mustExist);
    QFETCH(QString, answer);
    QFETCH(QString, field);
    World w;
    Running r(w);
    TfrmMain& f = *r.frm;
    r.Mode(1, process);
    f.txtQuery->setText(" /sorts/old.qry ");
    f.txtSource->setText(" /src/dir ");
    f.txtResult->setText("/unchanged");
    auto* b = f.findChild<QToolButton*>(button);
    QVERIFY(b);
    QLineEdit* edit = button == "btnQuery" ? f.txtQuery : button == "btnSource" ? f.txtSource : f.txtResult;
    const QString before = edit->text();
    const std::string savedSource = AppSetup->SourcePath, savedResult = AppSetup->ResultPath;

    // Cancel changes nothing.
    r.ui->dialogAnswers.push_back({false, "/ignored"});
    b->click();
    QCOMPARE(r.ui->dialogs.size(), size_t(1));
    QCOMPARE(edit->text(), before);
    const RecordedDialog& d = r.ui->dialogs[0];
    QCOMPARE(QString::fromStdString(d.kind), kind);
    QCOMPARE(QString::fromStdString(d.spec.title), title);
    QCOMPARE(QString::fromStdString(d.spec.initialDir), initialDir);
    QCOMPARE(QString::fromStdString(f.dlgOpen.title), title);
    QCOMPARE(QString::fromStdString(f.dlgOpen.fileName), fileName);
    QCOMPARE(QString::fromStdString(f.dlgOpen.filter), filter);
    QCOMPARE(QString::fromStdString(f.dlgOpen.initialDir), initialDir);
    QCOMPARE(f.dlgOpen.fileMustExist, mustExist);
    QVERIFY(f.dlgOpen.hideReadOnly && f.dlgOpen.pathMustExist);
    if (kind == "open") {
      QCOMPARE(QString::fromStdString(d.spec.fileName), fileName);
      QCOMPARE(QString::fromStdString(d.spec.filter), filter);
      QCOMPARE(d.spec.fileMustExist, mustExist);
    }

    r.ui->dialogAnswers.push_back({true, answer.toStdString()});
    b->click();
    QCOMPARE(edit->text(), field);
    const std::string chosen = field.toStdString();
    if (button == "btnQuery") QCOMPARE(AppSetup->QueryFile, chosen);
    else if (process == 0 && button == "btnSource") QCOMPARE(AppSetup->SourcePath, chosen);
    else if (process == 0) QCOMPARE(AppSetup->ResultPath, chosen);
    else {  // a chosen file is not a setting
      QCOMPARE(AppSetup->SourcePath, savedSource);
      QCOMPARE(AppSetup->ResultPath, savedResult);
    }
  }

  void raisedErrorStopsTheCycle() {
    World w;
    const std::string in = w.Sub("in"), out = w.Sub("out");
    WriteAll(in + "/ORDER.TXT", "H,1,2,C1,NAME\r\n");
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.txtSource->setText(QString::fromStdString(in));
    f.txtResult->setText(QString::fromStdString(out));
    // A called part raises while the pass shows its status.
    r.ui->onProcessMessages = [] { throw plat::Error("Unable to write to /nowhere/x.ini"); };
    f.btnProcess->click();
    f.tmrProcess->setInterval(10);
    f.tmrProcess->start();
    QTRY_COMPARE(r.ui->errors.size(), size_t(1));
    QCOMPARE(r.ui->errors[0], std::string("Unable to write to /nowhere/x.ini"));
    QVERIFY(!f.tmrProcess->isActive());   // the cycle halts ...
    QVERIFY(!f.btnProcess->isEnabled());  // ... until Stop and Process
    QCOMPARE(r.ui->cursorDepth, 0);
    QVERIFY(!f.panWait->isVisible());
    QVERIFY(Exists(in + "/ORDER.TXT"));
    QTest::qWait(50);
    QCOMPARE(r.ui->errors.size(), size_t(1));

    // The same error in a manual pass is shown the same way.
    f.btnStop->click();
    f.tabProcess->setCurrentIndex(1);
    f.txtResult->setText(QString::fromStdString(out + "/SORTED.TXT"));
    f.btnProcess->click();
    QCOMPARE(r.ui->errors.size(), size_t(2));
    QCOMPARE(r.ui->cursorDepth, 0);
    QVERIFY(!f.panWait->isVisible());
  }

  void stopPressedDuringAPassEndsTheCycle() {
    World w;
    const std::string in = w.Sub("in"), out = w.Sub("out");
    WriteAll(in + "/ORDER.TXT", "H,1,2,C1,NAME\r\n");
    Running r(w);
    TfrmMain& f = *r.frm;
    f.tabMode->setCurrentIndex(1);
    f.txtSource->setText(QString::fromStdString(in));
    f.txtResult->setText(QString::fromStdString(out));
    f.btnProcess->click();
    // The pass lets messages through: the user's Stop is handled mid-pass.
    r.ui->onProcessMessages = [&] { f.btnStop->click(); };
    f.tmrProcessTimer();
    QVERIFY(!f.tmrProcess->isActive());
    QVERIFY(f.btnProcess->isEnabled());
    QVERIFY(f.tabProcess->isEnabled());

    // Stop and Process again within one pass: the cycle goes on, but no tick
    // may arrive before this pass has ended.
    WriteAll(in + "/ORDER.TXT", "H,1,2,C1,NAME\r\n");
    f.btnProcess->click();
    bool armedDuringPass = true;
    r.ui->onProcessMessages = [&] {
      f.btnStop->click();
      f.btnProcess->click();
      armedDuringPass = f.tmrProcess->isActive();
    };
    f.tmrProcessTimer();
    QVERIFY(!armedDuringPass);
    QVERIFY(f.tmrProcess->isActive());
    QVERIFY(!f.btnProcess->isEnabled());
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
