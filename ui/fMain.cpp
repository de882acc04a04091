#include "ui/fMain.h"
#include "ui/QtText.h"
#include "ui/Pictures.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPolygon>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <exception>

#include "platform/file.h"
#include "platform/text.h"
#include "setup/TableAccess.h"  // SafeDir
#include "setup/uSetup.h"

#include "ui/fQuery.h"
#include "ui/fSetup.h"
#include "ui/fZone.h"

namespace {

constexpr int ModePackage = 0;
constexpr int ModeShipment = 1;
constexpr int ProcessAutomatic = 0;
constexpr int ProcessManual = 1;

constexpr int PicDocument = 0;
constexpr int PicFolder = 1;

const char* const SortFileFilter = "Shipment Sort file (*.qry)|*.qry";
const char* const TextFileFilter = "Order Text file (*.txt)|*.txt";

std::string Trimmed(const QLineEdit* edit) { return plat::Trim(S(edit->text())); }

std::string& ProgramFolderOverride() {
  static std::string folder;
  return folder;
}

// The window's clock: its waits are plain pauses of the user-interface
// thread, through the UI services like every other wait of the window.
class WindowClock : public plat::Clock {
 public:
  TimePoint Now() override { return plat::SystemClock().Now(); }
  bool Wait(int milliseconds) override {
    ui::Ui().Pause(milliseconds);
    return true;
  }
};

plat::Clock& TheWindowClock() {
  static WindowClock clock;
  return clock;
}

QToolButton* PictureButton(QWidget* parent, const char* name) {
  auto* b = new QToolButton(parent);
  b->setObjectName(QLatin1String(name));
  b->setIconSize(QSize(16, 16));
  b->setFocusPolicy(Qt::StrongFocus);
  b->setAutoRaise(false);
  return b;
}

}  // namespace

// ---------------------------------------------------------------------------
// TTabControl

TTabControl::TTabControl(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)), client_(new QWidget(this)) {
  bar_->setDrawBase(false);
  bar_->setExpanding(false);
  bar_->setFocusPolicy(Qt::TabFocus);
  setFocusProxy(bar_);
  connect(bar_, &QTabBar::currentChanged, this, &TTabControl::currentChanged);
}

int TTabControl::addTab(const QString& text) {
  const int index = bar_->addTab(text);
  Arrange();
  return index;
}

int TTabControl::count() const { return bar_->count(); }
int TTabControl::currentIndex() const { return bar_->currentIndex(); }
void TTabControl::setCurrentIndex(int index) { bar_->setCurrentIndex(index); }
QString TTabControl::tabText(int index) const { return bar_->tabText(index); }

void TTabControl::Arrange() {
  const QSize hint = bar_->sizeHint();
  bar_->setGeometry(2, 0, qMin(hint.width(), width() - 4), hint.height());
  const int top = hint.height();
  client_->setGeometry(4, top + 4, qMax(0, width() - 8), qMax(0, height() - top - 8));
}

void TTabControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Arrange();
}

void TTabControl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QStyleOptionTabWidgetFrame opt;
  opt.initFrom(this);
  opt.shape = bar_->shape();
  opt.tabBarSize = bar_->sizeHint();
  opt.tabBarRect = bar_->geometry();
  opt.rect = rect().adjusted(0, bar_->height() - 1, 0, 0);
  opt.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  style()->drawPrimitive(QStyle::PE_FrameTabWidget, &opt, &p, this);
}

// ---------------------------------------------------------------------------
// TfrmMain: construction

template <class F>
void TfrmMain::Guarded(F&& handler) {
  try {
    handler();
  } catch (const std::exception& e) {
    ui::Ui().ShowError(this, e.what());
  } catch (...) {
    ui::Ui().ShowError(this, "Unknown error");
  }
}

template <class F>
void TfrmMain::RunPass(F&& pass) {
  try {
    pass();
  } catch (...) {
    HideStatus();
    throw;
  }
}


void TfrmMain::SetProgramFolder(const std::string& folder) { ProgramFolderOverride() = folder; }

std::string TfrmMain::ProgramFolder() {
  const std::string& folder = ProgramFolderOverride();
  return folder.empty() ? plat::ExeFolder() : folder;
}

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent), Cycle(TheWindowClock()) {
  setObjectName(QStringLiteral("frmMain"));
  setWindowTitle(QStringLiteral("Kavlo Package & Shipment Vadoviver ..."));
  // Fixed size: a minimise button, no maximise button.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

  mnuMain = menuBar();
  mnuMain->setObjectName(QStringLiteral("mnuMain"));
  mnuZones = mnuMain->addAction(QStringLiteral("&Zones"));
  mnuZones->setObjectName(QStringLiteral("mnuZones"));
  mnuSorts = mnuMain->addAction(QStringLiteral("&Sorts"));
  mnuSorts->setObjectName(QStringLiteral("mnuSorts"));
  mnuSetup = mnuMain->addAction(QStringLiteral("Set&up"));
  mnuSetup->setObjectName(QStringLiteral("mnuSetup"));
  mnuExit = mnuMain->addAction(QStringLiteral("E&xit"));
  mnuExit->setObjectName(QStringLiteral("mnuExit"));

  ilsMain = new TImageList(this);
  ilsMain->setObjectName(QStringLiteral("ilsMain"));
  ilsMain->Images << DrawDocument() << DrawOpenFolder();

  dlgOpen.hideReadOnly = true;
  dlgOpen.pathMustExist = true;

  tmrProcess = new QTimer(this);
  tmrProcess->setObjectName(QStringLiteral("tmrProcess"));
  tmrProcess->setInterval(Cycle.Interval());

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("central"));
  central->setFixedSize(468, 236);
  setCentralWidget(central);

  tabMode = new TTabControl(central);
  tabMode->setObjectName(QStringLiteral("tabMode"));
  tabMode->addTab(QStringLiteral("Package"));
  tabMode->addTab(QStringLiteral("Shipment"));
  tabMode->Arrange();
  tabMode->setCurrentIndex(ModePackage);

  QWidget* modeClient = tabMode->client();
  tabProcess = new TTabControl(modeClient);
  tabProcess->setObjectName(QStringLiteral("tabProcess"));
  tabProcess->addTab(QStringLiteral("Automatic"));
  tabProcess->addTab(QStringLiteral("Manual"));
  tabProcess->setFixedHeight(148);
  tabProcess->Arrange();
  auto* modeLayout = new QVBoxLayout(modeClient);
  modeLayout->setContentsMargins(4, 4, 4, 4);
  modeLayout->addWidget(tabProcess);
  modeLayout->addStretch(1);
  tabProcess->setCurrentIndex(ProcessAutomatic);

  // Three rows of label, field and browse button.
  QWidget* rows = tabProcess->client();
  auto* grid = new QGridLayout(rows);
  grid->setContentsMargins(8, 10, 8, 0);
  grid->setHorizontalSpacing(4);
  grid->setVerticalSpacing(10);
  grid->setColumnMinimumWidth(0, 84);
  grid->setColumnStretch(1, 1);
  grid->setRowStretch(3, 1);
  auto makeRow = [&](int row, const char* labelName, const char* text, QLabel*& label, const char* editName,
                     QLineEdit*& edit, const char* buttonName, QToolButton*& button) {
    label = new QLabel(QLatin1String(text), rows);
    label->setObjectName(QLatin1String(labelName));
    edit = new QLineEdit(rows);
    edit->setObjectName(QLatin1String(editName));
    edit->setFixedHeight(24);
    edit->installEventFilter(this);
    button = PictureButton(rows, buttonName);
    button->setFixedSize(24, 24);
    label->setBuddy(edit);
    grid->addWidget(label, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(button, row, 2);
  };
  makeRow(0, "lblQuery", "Sort File", lblQuery, "txtQuery", txtQuery, "btnQuery", btnQuery);
  makeRow(1, "lblSource", "Source Path", lblSource, "txtSource", txtSource, "btnSource", btnSource);
  makeRow(2, "lblResult", "Result Path", lblResult, "txtResult", txtResult, "btnResult", btnResult);

  btnProcess = new QPushButton(QStringLiteral("&Process"), central);
  btnProcess->setObjectName(QStringLiteral("btnProcess"));
  btnProcess->setFixedSize(96, 28);
  btnStop = new QPushButton(QStringLiteral("&Stop"), central);
  btnStop->setObjectName(QStringLiteral("btnStop"));
  btnStop->setFixedSize(96, 28);

  txtCount = new QLabel(central);
  txtCount->setObjectName(QStringLiteral("txtCount"));
  txtCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  txtCount->setFrameStyle(QFrame::Box | QFrame::Plain);
  txtCount->setFixedSize(72, 20);

  // The pass counter sits on the tab control's top edge and the two buttons
  // at its foot; they are the window's own children (the cycle disables the
  // tabs, never them), laid over the tabs in the same cell.
  auto* frame = new QGridLayout(central);
  frame->setContentsMargins(4, 4, 4, 4);
  frame->addWidget(tabMode, 0, 0);
  auto* over = new QVBoxLayout;
  over->setContentsMargins(12, 2, 4, 14);
  over->addWidget(txtCount, 0, Qt::AlignRight);
  over->addStretch(1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnProcess);
  buttons->addStretch(1);
  buttons->addWidget(btnStop);
  buttons->addSpacing(8);
  over->addLayout(buttons);
  frame->addLayout(over, 0, 0);

  // A child of the window rather than of tabProcess: it must stay legible while
  // tabProcess is disabled during the automatic cycle.
  panWait = new QLabel(central);
  panWait->setObjectName(QStringLiteral("panWait"));
  QFont bold = panWait->font();
  bold.setBold(true);
  panWait->setFont(bold);
  panWait->setAlignment(Qt::AlignCenter);
  panWait->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panWait->setLineWidth(1);
  panWait->setAutoFillBackground(true);
  panWait->hide();

  // Window tab order: tabMode, btnProcess, btnStop (txtCount takes no focus);
  // on tabProcess: txtQuery, btnQuery, txtSource, btnSource, txtResult, btnResult.
  QWidget::setTabOrder(tabMode->tabBar(), tabProcess->tabBar());
  QWidget::setTabOrder(tabProcess->tabBar(), txtQuery);
  QWidget::setTabOrder(txtQuery, btnQuery);
  QWidget::setTabOrder(btnQuery, txtSource);
  QWidget::setTabOrder(txtSource, btnSource);
  QWidget::setTabOrder(btnSource, txtResult);
  QWidget::setTabOrder(txtResult, btnResult);
  QWidget::setTabOrder(btnResult, btnProcess);
  QWidget::setTabOrder(btnProcess, btnStop);

  stbMain = statusBar();
  stbMain->setObjectName(QStringLiteral("stbMain"));
  stbMain->setSizeGripEnabled(false);

  layout()->setSizeConstraint(QLayout::SetFixedSize);
  ShowCount();

  connect(mnuZones, &QAction::triggered, this, [this] { Guarded([this] { mnuZonesClick(); }); });
  connect(mnuSorts, &QAction::triggered, this, [this] { Guarded([this] { mnuSortsClick(); }); });
  connect(mnuSetup, &QAction::triggered, this, [this] { Guarded([this] { mnuSetupClick(); }); });
  connect(mnuExit, &QAction::triggered, this, [this] { Guarded([this] { mnuExitClick(); }); });
  connect(tmrProcess, &QTimer::timeout, this, [this] { Guarded([this] { tmrProcessTimer(); }); });
  connect(tabMode, &TTabControl::currentChanged, this, [this] { Guarded([this] { tabModeChange(); }); });
  connect(tabProcess, &TTabControl::currentChanged, this, [this] { Guarded([this] { tabProcessChange(); }); });
  connect(btnQuery, &QToolButton::clicked, this, [this] { Guarded([this] { btnQueryClick(); }); });
  connect(btnSource, &QToolButton::clicked, this, [this] { Guarded([this] { btnSourceClick(); }); });
  connect(btnResult, &QToolButton::clicked, this, [this] { Guarded([this] { btnResultClick(); }); });
  connect(btnProcess, &QPushButton::clicked, this, [this] { Guarded([this] { btnProcessClick(); }); });
  connect(btnStop, &QPushButton::clicked, this, [this] { Guarded([this] { btnStopClick(); }); });
}

TfrmMain::~TfrmMain() {
  try {
    FormDestroy();
  } catch (...) {
    // Nothing can be shown from a destructor; the settings were saved on close.
  }
}

// ---------------------------------------------------------------------------
// Qt events

void TfrmMain::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!Centred) {
    Centred = true;
    Centre();
  }
  if (!Shown) {
    Shown = true;
    Guarded([this] { FormShow(); });
  }
}

void TfrmMain::closeEvent(QCloseEvent* event) {
  try {
    FormClose();
    event->accept();
  } catch (const std::exception& e) {
    // The settings could not be saved: say so and stay open.
    ui::Ui().ShowError(this, e.what());
    event->ignore();
  }
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::FocusOut) {
    // Only a move of the focus to another control leaves a field; switching to
    // another window or opening a menu does not.
    const auto reason = static_cast<QFocusEvent*>(event)->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
      if (watched == txtQuery) Guarded([this] { txtQueryExit(); });
      else if (watched == txtSource) Guarded([this] { txtSourceExit(); });
      else if (watched == txtResult) Guarded([this] { txtResultExit(); });
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::Centre() {
  QScreen* screen = this->screen();
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  const QRect area = screen->availableGeometry();
  QRect frame = frameGeometry();
  frame.moveCenter(area.center());
  move(frame.topLeft());
}

// ---------------------------------------------------------------------------
// Form handlers

void TfrmMain::FormShow() {
  btnQuery->setIcon(ilsMain->Image(PicDocument));
  Processing = std::make_unique<TProcessing>(TheWindowClock());
  delete AppSetup;
  AppSetup = new TSetup(ProgramFolder());
  txtQuery->setText(Q(AppSetup->QueryFile));
  tabModeChange();
  tabProcessChange();
}

void TfrmMain::FormClose() {
  if (AppSetup) AppSetup->Save();
}

void TfrmMain::FormDestroy() {
  if (!Shown) return;
  Shown = false;
  tmrProcess->stop();
  delete AppSetup;
  AppSetup = nullptr;
  Processing.reset();
}

// The menu's windows: created with the main window as owner, shown modally,
// released when closed.
template <class TWindow>
static void ShowModalWindow(QWidget* owner) {
  TWindow frm(owner);
  frm.exec();
}

void TfrmMain::mnuZonesClick() { ShowModalWindow<TfrmZone>(this); }

void TfrmMain::mnuSortsClick() { ShowModalWindow<TfrmQuery>(this); }

void TfrmMain::mnuSetupClick() { ShowModalWindow<TfrmSetup>(this); }

void TfrmMain::mnuExitClick() { close(); }

// ---------------------------------------------------------------------------
// Mode and processing

void TfrmMain::ShowFileControls(bool visible) {
  lblSource->setVisible(visible);
  txtSource->setVisible(visible);
  btnSource->setVisible(visible);
  lblResult->setVisible(visible);
  txtResult->setVisible(visible);
  btnResult->setVisible(visible);
}

void TfrmMain::ShowCount() { txtCount->setText(QString::asprintf("%d ", Cycle.PassCount())); }

void TfrmMain::tabModeChange() {
  ShowFileControls(tabMode->currentIndex() == ModeShipment);
  Cycle.Reset();
  ShowCount();
  {
    // A change made by the program is not the user's: the handler runs once, below.
    const QSignalBlocker block(tabProcess);
    tabProcess->setCurrentIndex(ProcessAutomatic);
  }
  tabProcessChange();
}

void TfrmMain::tabProcessChange() {
  if (tabProcess->currentIndex() == ProcessAutomatic) {
    txtCount->show();
    lblSource->setText(QStringLiteral("Source Path"));
    lblResult->setText(QStringLiteral("Result Path"));
    txtSource->setText(AppSetup ? Q(AppSetup->SourcePath) : QString());
    txtResult->setText(AppSetup ? Q(AppSetup->ResultPath) : QString());
    btnSource->setIcon(ilsMain->Image(PicFolder));
    btnResult->setIcon(ilsMain->Image(PicFolder));
    btnStop->show();
  } else {
    txtCount->hide();
    lblSource->setText(QStringLiteral("Source File"));
    lblResult->setText(QStringLiteral("Result File"));
    txtSource->clear();
    txtResult->clear();
    btnSource->setIcon(ilsMain->Image(PicDocument));
    btnResult->setIcon(ilsMain->Image(PicDocument));
    btnStop->hide();
  }
}

void TfrmMain::txtQueryExit() {
  if (AppSetup) AppSetup->QueryFile = Trimmed(txtQuery);
}

void TfrmMain::txtSourceExit() {
  if (AppSetup && tabProcess->currentIndex() == ProcessAutomatic) AppSetup->SourcePath = SafeDir(Trimmed(txtSource));
}

void TfrmMain::txtResultExit() {
  if (AppSetup && tabProcess->currentIndex() == ProcessAutomatic) AppSetup->ResultPath = SafeDir(Trimmed(txtResult));
}

void TfrmMain::btnQueryClick() {
  dlgOpen.fileName = Trimmed(txtQuery);
  dlgOpen.filter = SortFileFilter;
  dlgOpen.initialDir.clear();
  dlgOpen.fileMustExist = true;
  dlgOpen.title = "Please choose the sort file for processing ...";
  std::string chosen;
  if (!ui::Ui().OpenDialog(this, dlgOpen, chosen)) return;
  txtQuery->setText(Q(chosen));
  if (AppSetup) AppSetup->QueryFile = Trimmed(txtQuery);
}

// The source and result buttons differ only in their field, titles and setting:
// Automatic chooses a folder (kept in the setting), Manual a file. Both dialogs
// start from the source field.
void TfrmMain::ChoosePathOrFile(QLineEdit* field, std::string* setting, const char* pathTitle,
                                const char* fileTitle, bool fileMustExist) {
  std::string chosen;
  if (tabProcess->currentIndex() == ProcessAutomatic) {
    dlgOpen.fileName = "path";
    dlgOpen.filter.clear();
    dlgOpen.initialDir = Trimmed(txtSource);
    dlgOpen.fileMustExist = false;
    dlgOpen.title = pathTitle;
    if (!ui::Ui().ChooseFolder(this, dlgOpen.title, dlgOpen.initialDir, chosen)) return;
    field->setText(Q(SafeDir(chosen)));
    if (setting) *setting = SafeDir(Trimmed(field));
  } else {
    dlgOpen.fileName = Trimmed(txtSource);
    dlgOpen.filter = TextFileFilter;
    dlgOpen.initialDir.clear();
    dlgOpen.fileMustExist = fileMustExist;
    dlgOpen.title = fileTitle;
    if (!ui::Ui().OpenDialog(this, dlgOpen, chosen)) return;
    field->setText(Q(chosen));
  }
}

void TfrmMain::btnSourceClick() {
  ChoosePathOrFile(txtSource, AppSetup ? &AppSetup->SourcePath : nullptr,
                   "Please choose the source path for processing ...",
                   "Please choose the source file for processing ...", true);
}

void TfrmMain::btnResultClick() {
  ChoosePathOrFile(txtResult, AppSetup ? &AppSetup->ResultPath : nullptr,
                   "Please choose the result path for processing ...",
                   "Please choose the result file for processing ...", false);
}

void TfrmMain::btnProcessClick() {
  const bool package = tabMode->currentIndex() == ModePackage;
  if (tabProcess->currentIndex() == ProcessManual) {
    ui::Ui().SetWaitCursor();
    try {
      RunPass([&] { package ? ManualPackagePass() : ManualShipmentPass(); });
    } catch (...) {
      ui::Ui().RestoreCursor();
      throw;
    }
    ui::Ui().RestoreCursor();
    return;
  }
  if (!package && Trimmed(txtSource) == Trimmed(txtResult)) {
    Warn("Destination path must be different from the source path.", "Result path invalid");
    return;
  }
  tabProcess->setEnabled(false);
  btnProcess->setEnabled(false);
  Cycling = true;
  if (!InPass) tmrProcess->start();
}

void TfrmMain::btnStopClick() {
  Cycling = false;
  tmrProcess->stop();
  tabProcess->setEnabled(true);
  btnProcess->setEnabled(true);
}

void TfrmMain::tmrProcessTimer() {
  tmrProcess->stop();
  ui::Ui().SetWaitCursor();
  InPass = true;
  try {
    RunPass([this] { tabMode->currentIndex() == ModePackage ? AutoPackagePass() : AutoShipmentPass(); });
  } catch (...) {
    // The cursor goes back, but the timer stays off: the cycle halts until
    // the user presses Stop and Process.
    InPass = false;
    ui::Ui().RestoreCursor();
    throw;
  }
  InPass = false;
  ui::Ui().RestoreCursor();
  if (Cycling) tmrProcess->start();
}

// ---------------------------------------------------------------------------
// Passes

void TfrmMain::PlaceWaitPanel() {
  QWidget* central = centralWidget();
  const QPoint top = txtQuery->mapTo(central, QPoint(0, 0));
  const QPoint bottom = btnResult->mapTo(central, QPoint(0, btnResult->height()));
  const int width = 300;
  const int height = 44;
  const int centreY = (top.y() + bottom.y()) / 2;
  panWait->setGeometry((central->width() - width) / 2, centreY - height / 2, width, height);
}

void TfrmMain::ShowStatus(const std::string& text) {
  panWait->setText(Q(text));
  PlaceWaitPanel();
  panWait->raise();
  panWait->show();
  // Painted now: a blocking step follows, and one round of message
  // processing does not paint a newly shown widget.
  panWait->repaint();
  ui::Ui().ProcessMessages();
}

void TfrmMain::HideStatus() { panWait->hide(); }

void TfrmMain::ShowMessage(const TPassMessage& message) {
  ui::Ui().Message(this, message.Text, message.Caption, ui::MsgButtons::Ok,
                   message.Icon == TPassIcon::Information ? ui::MsgIcon::Information : ui::MsgIcon::Warning);
}

void TfrmMain::Warn(const char* text, const char* caption) {
  ui::Ui().Message(this, text, caption, ui::MsgButtons::Ok, ui::MsgIcon::Warning);
}

// The sort file and, for shipments, the source and result as the fields hold
// them: the passes use the texts, not the saved settings.
TPassInput TfrmMain::PassInput() const {
  TPassInput in;
  in.QueryFile = Trimmed(txtQuery);
  in.Source = Trimmed(txtSource);
  in.Result = Trimmed(txtResult);
  return in;
}

void TfrmMain::AutoPass(TPassKind kind) {
  const TPassResult r = Cycle.Tick(*Processing, kind, PassInput(), *this);
  if (r.Outcome == TOutcome::Success) ShowCount();
  ShowPassStatus();
}

void TfrmMain::ManualPass(TPassKind kind) {
  Cycle.NoteManual(kind, Processing->Pass(kind, false, PassInput(), *this));
  ShowPassStatus();
}

// The last pass's outcome, and that the pass log is not being written while
// its lines fail (a log never stops a pass, so this is the only sign).
void TfrmMain::ShowPassStatus() {
  std::string text = Cycle.StatusLine();
  if (Processing->LogFailing()) text += "; the pass log " + Processing->Log().FileName() + " is not being written";
  stbMain->showMessage(Q(text));
}

void TfrmMain::AutoPackagePass() { AutoPass(TPassKind::Package); }

void TfrmMain::AutoShipmentPass() { AutoPass(TPassKind::Shipment); }

void TfrmMain::ManualPackagePass() { ManualPass(TPassKind::Package); }

void TfrmMain::ManualShipmentPass() { ManualPass(TPassKind::Shipment); }
