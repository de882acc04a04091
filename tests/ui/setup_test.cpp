// The setup window against a real settings file in a temporary program folder.
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>
#include <fstream>
#include <memory>

#include "platform/ini.h"
#include "setup/uSetup.h"
#include "tests/ui/scripted_ui_support.h"
#include "ui/fSetup.h"

class SetupTest : public QObject {
  Q_OBJECT

  std::shared_ptr<ScriptedUi> ui_;
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TSetup> setup_;
  std::unique_ptr<TfrmSetup> frm_;

  std::string Folder() const { return dir_->path().toStdString(); }
  std::string Ini() const { return Folder() + "/Vadoviver.ini"; }

  void Open() {
    setup_ = std::make_unique<TSetup>(Folder());
    AppSetup = setup_.get();
    frm_ = std::make_unique<TfrmSetup>(nullptr);
    frm_->show();
    QVERIFY(QTest::qWaitForWindowExposed(frm_.get()));
  }

 private slots:
  void init() {
    ui_ = InstallScriptedUi();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
  }
  void cleanup() {
    frm_.reset();
    AppSetup = nullptr;
    setup_.reset();
  }

  void controlsCarryTheirNamesAndTexts() {
    Open();
    QCOMPARE(frm_->windowTitle(), QString("Kavlo Shipment Vadoviver - Application Setup ..."));
    // The caption fits a title bar in a bold font beside the icon and close box.
    QFont bold = frm_->font();
    bold.setBold(true);
    QVERIFY(QFontMetrics(bold).horizontalAdvance(frm_->windowTitle()) + 100 <= frm_->width());
    QCOMPARE(frm_->findChild<QLabel*>("lblPath")->text(), QString("Kavlo Desko Path"));
    QCOMPARE(frm_->findChild<QPushButton*>("btnOK")->text(), QString("&OK"));
    QCOMPARE(frm_->findChild<QPushButton*>("btnCancel")->text(), QString("&Cancel"));
    QVERIFY(frm_->findChild<QLineEdit*>("txtPath"));
    QVERIFY(frm_->findChild<QToolButton*>("btnPath"));
  }

  void fieldShowsStoredFolderOrProgramFolder() {
    Open();
    QCOMPARE(frm_->txtPath->text().toStdString(), Folder());
    cleanup();
    plat::IniWriteString(Ini(), "Paths", "Desko", "/srv/kavlo");
    Open();
    QCOMPARE(frm_->txtPath->text(), QString("/srv/kavlo"));
  }

  // OK stores SafeDir of the trimmed text and writes the settings file.
  void okStoresCleanedFolder_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("stored");
    QTest::newRow("trailing slash") << "/srv/kavlo/" << "/srv/kavlo";
    QTest::newRow("blanks and backslash") << "  C:\\KAVLO\\  " << "C:\\KAVLO";
    QTest::newRow("empty is accepted") << "   " << "";
  }
  void okStoresCleanedFolder() {
    QFETCH(QString, typed);
    QFETCH(QString, stored);
    Open();
    setup_->QueryFile = "/srv/q/zone.qry";
    frm_->txtPath->setText(typed);
    frm_->btnOK->click();
    QCOMPARE(frm_->result(), int(QDialog::Accepted));
    QVERIFY(!frm_->isVisible());
    QCOMPARE(QString::fromStdString(setup_->HostPath), stored);
    // A new settings object on the same program folder reads the same values.
    TSetup again(Folder());
    QCOMPARE(QString::fromStdString(again.HostPath), stored);
    QCOMPARE(again.QueryFile, std::string("/srv/q/zone.qry"));
  }

  void folderButtonThenCancelKeepsOldFolder() {
    plat::IniWriteString(Ini(), "Paths", "Desko", "/old/kavlo");
    Open();
    frm_->txtPath->setText("  /start/here  ");
    ui_->dialogAnswers.push_back({true, "/chosen/kavlo/"});
    frm_->btnPath->click();
    QCOMPARE(ui_->dialogs.size(), size_t(1));
    QCOMPARE(ui_->dialogs[0].kind, std::string("folder"));
    QCOMPARE(ui_->dialogs[0].spec.title, std::string("Please choose the proper path to Kavlo Desko ..."));
    QCOMPARE(ui_->dialogs[0].spec.initialDir, std::string("/start/here"));
    QCOMPARE(frm_->txtPath->text(), QString("/chosen/kavlo"));

    frm_->btnCancel->click();
    QCOMPARE(frm_->result(), int(QDialog::Rejected));
    QCOMPARE(setup_->HostPath, std::string("/old/kavlo"));
    QCOMPARE(plat::IniReadString(Ini(), "Paths", "Desko", ""), std::string("/old/kavlo"));
  }

  void cancelledFolderChoiceAndCloseBoxChangeNothing() {
    Open();
    frm_->txtPath->setText("/typed");
    ui_->dialogAnswers.push_back({false, ""});
    frm_->btnPath->click();
    QCOMPARE(frm_->txtPath->text(), QString("/typed"));
    frm_->close();
    QCOMPARE(frm_->result(), int(QDialog::Rejected));
    QCOMPARE(setup_->HostPath, Folder());
    QVERIFY(!QFile::exists(QString::fromStdString(Ini())));
  }

  void unwritableSettingsKeepWindowOpen() {
    Open();
    setup_->IniFileName = Folder() + "/missing/folder/Vadoviver.ini";
    frm_->txtPath->setText("/new/kavlo/");
    frm_->btnOK->click();
    QCOMPARE(ui_->errors.size(), size_t(1));
    QCOMPARE(ui_->errors[0], "Unable to write to " + setup_->IniFileName);
    QVERIFY(frm_->isVisible());
    QCOMPARE(setup_->HostPath, std::string("/new/kavlo"));
  }
};

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  SetupTest t;
  return QTest::qExec(&t, argc, argv);
}

#include "setup_test.moc"
