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

#include "engine/passes.h"
#include "ui/UiServices.h"

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
class QStatusBar;
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

// The window only shows what the passes and the cycle (below ui/) come to:
// it is their view (status panel, message boxes).
class TfrmMain : public QMainWindow, private TPassView {
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
  // Below the tabs: how the last pass ended, or when a busy host is tried again.
  QStatusBar* stbMain;

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

  int EngineHandle() const { return Processing ? Processing->Engine() : 0; }
  // False while the pass log's lines cannot be written.
  bool PassLogWritten() const { return !Processing || !Processing->LogFailing(); }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void ShowFileControls(bool visible);
  void ChoosePathOrFile(QLineEdit* field, std::string* setting, const char* pathTitle,
                        const char* fileTitle, bool fileMustExist);
  void ShowCount();
  // TPassView
  void ShowStatus(const std::string& text) override;
  void HideStatus() override;
  void ShowMessage(const TPassMessage& message) override;
  void Warn(const char* text, const char* caption);
  TPassInput PassInput() const;
  void AutoPass(TPassKind kind);
  void ManualPass(TPassKind kind);
  void ShowPassStatus();
  // Runs a handler; an error it raises is shown in the standard error box.
  template <class F>
  void Guarded(F&& handler);
  // Runs a pass; if it raises, the status panel is hidden before the error goes on.
  template <class F>
  void RunPass(F&& pass);
  void PlaceWaitPanel();
  void Centre();

  // The table engine and the passes, from the first showing to destruction.
  std::unique_ptr<TProcessing> Processing;
  // The automatic cycle: successful passes since the mode was chosen, the busy rule.
  TCycle Cycle;
  bool Shown = false;
  bool Centred = false;
  // True from an automatic Process to Stop: the timer handler re-arms the
  // timer only while the cycle is wanted (Stop may be pressed during a pass).
  bool Cycling = false;
  // True while the timer handler runs a pass: a Process pressed meanwhile
  // (after a Stop) leaves the re-arming to that handler, so that automatic
  // passes never overlap.
  bool InPass = false;
};
