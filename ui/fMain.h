#pragma once
// The main window: mode and way of processing, the sort file and the shipment
// source and result, the automatic cycle and the four processing passes.
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>
#include <string>

#include "ui/UiServices.h"

class TPassLog;
class QAction;
class QCloseEvent;
class QEvent;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPaintEvent;
class QPushButton;
class QResizeEvent;
class QShowEvent;
class QTabBar;
class QTimer;
class QToolButton;

// A row of tabs over one client area that keeps the same controls whichever
// tab is chosen: the tab index is a mode, not a page. Controls go on client().
class TTabControl : public QWidget {
  Q_OBJECT
 public:
  explicit TTabControl(QWidget* parent = nullptr);
  int addTab(const QString& text);
  int count() const;
  int currentIndex() const;
  void setCurrentIndex(int index);
  QString tabText(int index) const;
  QTabBar* tabBar() const { return bar_; }
  QWidget* client() const { return client_; }
  // Places the tabs and the client area for the current size (also before the
  // control is first shown, when no resize event has arrived yet).
  void Arrange();

 signals:
  void currentChanged(int index);

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void paintEvent(QPaintEvent* event) override;

 private:
  QTabBar* bar_;
  QWidget* client_;
};

// A list of small pictures shared by buttons.
class TImageList : public QObject {
  Q_OBJECT
 public:
  explicit TImageList(QObject* parent = nullptr) : QObject(parent) {}
  QList<QIcon> Images;
  QIcon Image(int index) const { return Images.value(index); }
  int Count() const { return static_cast<int>(Images.size()); }
};

class TfrmMain : public QMainWindow {
  Q_OBJECT
 public:
  explicit TfrmMain(QWidget* parent = nullptr);
  ~TfrmMain() override;  // FormDestroy

  // The folder that holds Vadoviver.ini; empty means the executable's folder.
  // Tests point it at a folder of their own.
  static void SetProgramFolder(const std::string& folder);
  static std::string ProgramFolder();

  QMenuBar* mnuMain;
  QAction* mnuZones;
  QAction* mnuSorts;
  QAction* mnuSetup;
  QAction* mnuExit;
  TImageList* ilsMain;
  ui::FileDialogSpec dlgOpen;
  QTimer* tmrProcess;
  TTabControl* tabMode;
  TTabControl* tabProcess;
  QLabel* txtCount;
  QLabel* panWait;
  QLabel* lblQuery;
  QLineEdit* txtQuery;
  QToolButton* btnQuery;
  QLabel* lblSource;
  QLineEdit* txtSource;
  QToolButton* btnSource;
  QLabel* lblResult;
  QLineEdit* txtResult;
  QToolButton* btnResult;
  QPushButton* btnProcess;
  QPushButton* btnStop;

  // Event handlers, public so that window tests can drive them directly.
  void FormShow();
  void FormClose();  // raises what AppSetup->Save raises
  void FormDestroy();
  void mnuZonesClick();
  void mnuSortsClick();
  void mnuSetupClick();
  void mnuExitClick();
  void tmrProcessTimer();
  void tabModeChange();
  void tabProcessChange();
  void txtQueryExit();
  void btnQueryClick();
  void txtSourceExit();
  void btnSourceClick();
  void txtResultExit();
  void btnResultClick();
  void btnProcessClick();
  void btnStopClick();

  // The processing passes (normally run by btnProcessClick and tmrProcessTimer).
  void AutoPackagePass();
  void AutoShipmentPass();
  void ManualPackagePass();
  void ManualShipmentPass();

  int EngineHandle() const { return Engine; }
  // False while the pass log's lines cannot be written.
  bool PassLogWritten() const;

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowFileControls(bool visible);
  void ChoosePathOrFile(QLineEdit* field, std::string* setting, const char* pathTitle,
                        const char* fileTitle, bool fileMustExist);
  void ShowCount();
  void CountUp();
  void ShowStatus(const char* text);
  void HideStatus();
  void Warn(const char* text, const char* caption);
  void Inform(const char* text, const char* caption);
  std::string QueryFileName() const;
  int LabelCount(const std::string& table) const;
  // Runs a handler; an error it raises is shown in the standard error box.
  template <class F>
  void Guarded(F&& handler);
  // Runs a pass; if it raises, the status panel is hidden before the error goes on.
  template <class F>
  void RunPass(F&& pass);
  void PlaceWaitPanel();
  void Centre();
  // The pass log of the settings in use (made once they exist).
  TPassLog& Log();

  int32_t PassCount = 0;
  int Engine = 0;
  bool Shown = false;
  bool Centred = false;
  // True from an automatic Process to Stop: the timer handler re-arms the
  // timer only while the cycle is wanted (Stop may be pressed during a pass).
  bool Cycling = false;
  // True while the timer handler runs a pass: a Process pressed meanwhile
  // (after a Stop) leaves the re-arming to that handler, so that automatic
  // passes never overlap.
  bool InPass = false;
  std::unique_ptr<TPassLog> PassLog;
};
