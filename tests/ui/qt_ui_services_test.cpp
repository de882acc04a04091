// The Qt implementation of the UI services: what the real message boxes and
// file dialogs are given, read back from the open dialog itself.
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <filesystem>
#include <fstream>
#include <functional>

#include "tests/ui/scripted_ui_support.h"
#include "ui/UiServices.h"

namespace {

// Runs inspect on the next modal window as soon as it is open.
void OnModal(std::function<void(QWidget*)> inspect) {
  auto* poll = new QTimer;
  poll->setInterval(5);
  QObject::connect(poll, &QTimer::timeout, [poll, inspect] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal) return;
    poll->stop();
    poll->deleteLater();
    inspect(modal);
  });
  poll->start();
}

}  // namespace

class QtUiServicesTest : public QObject {
  Q_OBJECT

  std::shared_ptr<ui::UiServices> qt_ = ui::MakeQtUiServices();

 private slots:
  void registryDefaultsToQt() {
    ui::SetUi(nullptr);
    ui::UiServices& first = ui::Ui();
    QVERIFY(dynamic_cast<ScriptedUi*>(&first) == nullptr);
    QCOMPARE(&ui::Ui(), &first);  // one instance, kept
    auto scripted = InstallScriptedUi();
    QCOMPARE(&ui::Ui(), static_cast<ui::UiServices*>(scripted.get()));
    ui::SetUi(nullptr);
    QVERIFY(dynamic_cast<ScriptedUi*>(&ui::Ui()) == nullptr);
  }

  void messageBox_data() {
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("icon");
    QTest::addColumn<int>("press");
    QTest::addColumn<int>("expected");
    QTest::newRow("warning ok") << int(ui::MsgButtons::Ok) << int(ui::MsgIcon::Warning) << int(QMessageBox::Ok)
                                << int(ui::MsgResult::Ok);
    QTest::newRow("question yes") << int(ui::MsgButtons::YesNo) << int(ui::MsgIcon::Question)
                                  << int(QMessageBox::Yes) << int(ui::MsgResult::Yes);
    QTest::newRow("question no") << int(ui::MsgButtons::YesNo) << int(ui::MsgIcon::Question) << int(QMessageBox::No)
                                 << int(ui::MsgResult::No);
    QTest::newRow("information") << int(ui::MsgButtons::Ok) << int(ui::MsgIcon::Information)
                                 << int(QMessageBox::Ok) << int(ui::MsgResult::Ok);
  }

  void messageBox() {
    QFETCH(int, buttons);
    QFETCH(int, icon);
    QFETCH(int, press);
    QFETCH(int, expected);
    QWidget owner;
    QString title, text;
    QMessageBox::Icon shown = QMessageBox::NoIcon;
    QMessageBox::StandardButtons offered;
    QWidget* parent = nullptr;
    OnModal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box) return;
      title = box->windowTitle();
      text = box->text();
      shown = box->icon();
      offered = box->standardButtons();
      parent = box->parentWidget();
      box->button(QMessageBox::StandardButton(press))->click();
    });
    // "±" is byte 177 in the program's text.
    const auto answer = qt_->Message(&owner, "Zone \xB1 saved.", "Success ...", ui::MsgButtons(buttons),
                                     ui::MsgIcon(icon));
    QCOMPARE(int(answer), expected);
    QCOMPARE(title, QStringLiteral("Success ..."));
    QCOMPARE(text, QString::fromUtf8("Zone \u00B1 saved."));
    QCOMPARE(parent, &owner);
    const QMessageBox::Icon icons[] = {QMessageBox::Warning, QMessageBox::Question, QMessageBox::Information,
                                       QMessageBox::Critical};
    QCOMPARE(shown, icons[icon]);
    if (ui::MsgButtons(buttons) == ui::MsgButtons::YesNo)
      QCOMPARE(offered, QMessageBox::Yes | QMessageBox::No);
    else
      QCOMPARE(offered, QMessageBox::StandardButtons(QMessageBox::Ok));
  }

  void errorBox() {
    QString text;
    QMessageBox::Icon shown = QMessageBox::NoIcon;
    OnModal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box) return;
      text = box->text();
      shown = box->icon();
      box->accept();
    });
    qt_->ShowError(nullptr, "Unable to write to /x/Vadoviver.ini");
    QCOMPARE(text, QStringLiteral("Unable to write to /x/Vadoviver.ini"));
    QCOMPARE(shown, QMessageBox::Critical);
  }

  void openDialogPresets() {
    QTemporaryDir dir;
    const std::string folder = dir.path().toStdString();
    std::ofstream(folder + "/old.qry") << "[Keys]\n";
    ui::FileDialogSpec spec;
    spec.title = "Please choose the sort file for processing ...";
    spec.fileName = folder + "/old.qry";
    spec.filter = "Shipment Sort file (*.qry)|*.qry";
    spec.fileMustExist = true;
    QString title, directory;
    QStringList filters, selected;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    QFileDialog::AcceptMode accept = QFileDialog::AcceptSave;
    OnModal([&](QWidget* w) {
      auto* d = qobject_cast<QFileDialog*>(w);
      if (!d) return;
      title = d->windowTitle();
      filters = d->nameFilters();
      mode = d->fileMode();
      accept = d->acceptMode();
      directory = d->directory().absolutePath();
      selected = d->selectedFiles();
      QMetaObject::invokeMethod(d, "accept");
    });
    std::string chosen;
    QVERIFY(qt_->OpenDialog(nullptr, spec, chosen));
    QCOMPARE(title, QString::fromStdString(spec.title));
    QCOMPARE(filters, QStringList{"Shipment Sort file (*.qry)"});
    QCOMPARE(mode, QFileDialog::ExistingFile);
    QCOMPARE(accept, QFileDialog::AcceptOpen);
    QCOMPARE(directory, QDir(dir.path()).absolutePath());
    QCOMPARE(chosen, folder + "/old.qry");

    // A file that need not exist, started from an initial folder; cancelling
    // leaves the answer alone.
    spec.fileMustExist = false;
    spec.fileName = "path";
    spec.filter.clear();
    spec.initialDir = folder;
    OnModal([&](QWidget* w) {
      auto* d = qobject_cast<QFileDialog*>(w);
      if (!d) return;
      mode = d->fileMode();
      filters = d->nameFilters();
      directory = d->directory().absolutePath();
      d->reject();
    });
    chosen = "unchanged";
    QVERIFY(!qt_->OpenDialog(nullptr, spec, chosen));
    QCOMPARE(chosen, std::string("unchanged"));
    QCOMPARE(mode, QFileDialog::AnyFile);
    QCOMPARE(directory, QDir(dir.path()).absolutePath());
  }

  void saveDialogPresets() {
    QTemporaryDir dir;
    ui::FileDialogSpec spec;
    spec.title = "Save the sort file ...";
    spec.filter = "Shipment Sort file (*.qry)|*.qry|Any file (*.*)|*.*";
    spec.initialDir = dir.path().toStdString();
    spec.fileName = "zones";
    spec.defaultExt = "qry";
    spec.overwritePrompt = false;
    QStringList filters;
    QString suffix;
    bool noPrompt = false;
    QFileDialog::AcceptMode accept = QFileDialog::AcceptOpen;
    OnModal([&](QWidget* w) {
      auto* d = qobject_cast<QFileDialog*>(w);
      if (!d) return;
      filters = d->nameFilters();
      suffix = d->defaultSuffix();
      noPrompt = d->testOption(QFileDialog::DontConfirmOverwrite);
      accept = d->acceptMode();
      QMetaObject::invokeMethod(d, "accept");
    });
    std::string chosen;
    QVERIFY(qt_->SaveDialog(nullptr, spec, chosen));
    QCOMPARE(filters, (QStringList{"Shipment Sort file (*.qry)", "Any file (*.*)"}));
    QCOMPARE(suffix, QStringLiteral("qry"));
    QVERIFY(noPrompt);
    QCOMPARE(accept, QFileDialog::AcceptSave);
    QCOMPARE(chosen, dir.path().toStdString() + "/zones.qry");
  }

  void folderChoice() {
    QTemporaryDir dir;
    std::filesystem::create_directory(dir.path().toStdString() + "/in");
    QString title;
    QFileDialog::FileMode mode = QFileDialog::AnyFile;
    OnModal([&](QWidget* w) {
      auto* d = qobject_cast<QFileDialog*>(w);
      if (!d) return;
      title = d->windowTitle();
      mode = d->fileMode();
      d->selectFile(dir.path() + "/in");
      QMetaObject::invokeMethod(d, "accept");
    });
    std::string chosen;
    QVERIFY(qt_->ChooseFolder(nullptr, "Please choose the source path for processing ...",
                              dir.path().toStdString(), chosen));
    QCOMPARE(title, QStringLiteral("Please choose the source path for processing ..."));
    QCOMPARE(mode, QFileDialog::Directory);
    QCOMPARE(chosen, dir.path().toStdString() + "/in");
  }

  void cursorMessagesAndPause() {
    QVERIFY(QApplication::overrideCursor() == nullptr);
    qt_->SetWaitCursor();
    QVERIFY(QApplication::overrideCursor() != nullptr);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    qt_->RestoreCursor();
    QVERIFY(QApplication::overrideCursor() == nullptr);

    bool ran = false;
    QTimer::singleShot(0, [&] { ran = true; });
    qt_->ProcessMessages();
    QVERIFY(ran);

    // The pause holds the thread: a due timer does not fire during it.
    bool fired = false;
    QTimer::singleShot(0, [&] { fired = true; });
    QElapsedTimer clock;
    clock.start();
    qt_->Pause(60);
    QVERIFY(clock.elapsed() >= 55);
    QVERIFY(!fired);
    QTRY_VERIFY(fired);
  }
};

QTEST_MAIN(QtUiServicesTest)
#include "qt_ui_services_test.moc"
