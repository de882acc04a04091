#include "ui/fMain.h"
#include "ui/QtText.h"
#include "ui/Pictures.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QFocusEvent>
#include <QFont>
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
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <exception>

#include "engine/uSequncr.h"
#include "geo/uXArea.h"
#include "platform/file.h"
#include "platform/text.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

#include "ui/fQuery.h"
#include "ui/fSetup.h"
#include "ui/fZone.h"

namespace {

constexpr int ProcessInterval = 10000;  // ms between the end of a pass and the next
constexpr int SettleWait = 60000;       // ms the label count must stay unchanged

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

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent) {
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
  tmrProcess->setInterval(ProcessInterval);

  auto* central = new QWidget(this);
  central->setObjectName(QStringLiteral("central"));
  central->setFixedSize(468, 236);
  setCentralWidget(central);

  tabMode = new TTabControl(central);
  tabMode->setObjectName(QStringLiteral("tabMode"));
  tabMode->addTab(QStringLiteral("Package"));
  tabMode->addTab(QStringLiteral("Shipment"));
  tabMode->setGeometry(4, 4, 460, 228);
  tabMode->Arrange();
  tabMode->setCurrentIndex(ModePackage);

  QWidget* modeClient = tabMode->client();
  tabProcess = new TTabControl(modeClient);
  tabProcess->setObjectName(QStringLiteral("tabProcess"));
  tabProcess->addTab(QStringLiteral("Automatic"));
  tabProcess->addTab(QStringLiteral("Manual"));
  tabProcess->setGeometry(4, 4, modeClient->width() - 8, 148);
  tabProcess->Arrange();
  tabProcess->setCurrentIndex(ProcessAutomatic);

  QWidget* rows = tabProcess->client();
  const int rowTop = 10;
  const int rowStep = 34;
  const int labelWidth = 84;
  const int fieldLeft = 8 + labelWidth + 4;
  const int buttonSize = 24;
  const int buttonLeft = rows->width() - buttonSize - 8;
  const int fieldWidth = buttonLeft - 4 - fieldLeft;
  auto makeRow = [&](int row, const char* labelName, const char* text, QLabel*& label, const char* editName,
                     QLineEdit*& edit, const char* buttonName, QToolButton*& button) {
    const int y = rowTop + row * rowStep;
    label = new QLabel(QLatin1String(text), rows);
    label->setObjectName(QLatin1String(labelName));
    label->setGeometry(8, y + 2, labelWidth, 20);
    edit = new QLineEdit(rows);
    edit->setObjectName(QLatin1String(editName));
    edit->setGeometry(fieldLeft, y, fieldWidth, 24);
    edit->installEventFilter(this);
    button = PictureButton(rows, buttonName);
    button->setGeometry(buttonLeft, y, buttonSize, buttonSize);
    label->setBuddy(edit);
  };
  makeRow(0, "lblQuery", "Sort File", lblQuery, "txtQuery", txtQuery, "btnQuery", btnQuery);
  makeRow(1, "lblSource", "Source Path", lblSource, "txtSource", txtSource, "btnSource", btnSource);
  makeRow(2, "lblResult", "Result Path", lblResult, "txtResult", txtResult, "btnResult", btnResult);

  btnProcess = new QPushButton(QStringLiteral("&Process"), central);
  btnProcess->setObjectName(QStringLiteral("btnProcess"));
  btnProcess->setGeometry(16, 190, 96, 28);
  btnStop = new QPushButton(QStringLiteral("&Stop"), central);
  btnStop->setObjectName(QStringLiteral("btnStop"));
  btnStop->setGeometry(central->width() - 16 - 96, 190, 96, 28);

  txtCount = new QLabel(central);
  txtCount->setObjectName(QStringLiteral("txtCount"));
  txtCount->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  txtCount->setFrameStyle(QFrame::Box | QFrame::Plain);
  txtCount->setGeometry(central->width() - 8 - 72, 6, 72, 20);

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
  Engine = OpenData();
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
  CloseData(Engine);
  Engine = 0;
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

void TfrmMain::ShowCount() { txtCount->setText(QString::asprintf("%d ", PassCount)); }

void TfrmMain::CountUp() {
  ++PassCount;
  ShowCount();
}

void TfrmMain::tabModeChange() {
  ShowFileControls(tabMode->currentIndex() == ModeShipment);
  PassCount = 0;
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

void TfrmMain::ShowStatus(const char* text) {
  panWait->setText(QString::fromLatin1(text));
  PlaceWaitPanel();
  panWait->raise();
  panWait->show();
  ui::Ui().ProcessMessages();
}

void TfrmMain::HideStatus() { panWait->hide(); }

void TfrmMain::Warn(const char* text, const char* caption) {
  ui::Ui().Message(this, text, caption, ui::MsgButtons::Ok, ui::MsgIcon::Warning);
}

void TfrmMain::Inform(const char* text, const char* caption) {
  ui::Ui().Message(this, text, caption, ui::MsgButtons::Ok, ui::MsgIcon::Information);
}

std::string TfrmMain::QueryFileName() const { return Trimmed(txtQuery); }

int TfrmMain::LabelCount(const std::string& table) const {
  const int handle = mOpen(Engine, table, "");
  if (handle == 0) return 0;  // a table that cannot be opened holds no label we could print
  const int count = d4recCountDo(handle);
  d4close(handle);
  return count;
}

void TfrmMain::AutoPackagePass() {
  const std::string labels = (AppSetup ? AppSetup->MultiShipperPath : std::string()) + "\\Labels";
  const int first = LabelCount(labels);
  if (first <= 0) return;
  ShowStatus("Processing Package Labels ...");
  // A plain pause: the window does not react until Kavlo Desko has had time
  // to finish writing a batch of labels.
  ui::Ui().Pause(SettleWait);
  panWait->setText(QStringLiteral("Sorting Package Labels ..."));
  ui::Ui().ProcessMessages();
  const int second = LabelCount(labels);
  if (second != first) {
    HideStatus();
    return;
  }
  TProvinceArray provinces;
  TSortOrderArray order;
  const bool validOrder = ReadSortFile(QueryFileName(), order);
  LoadPassProvinces(order, provinces);
  if (!validOrder) {
    Warn("Unable to process package label sort.", "Sort file invalid");
  } else if (SequenceLabels(provinces, order)) {
    CountUp();
  } else {
    Warn("Unable to process package label sort.", "Error Occured");
  }
  order.clear();
  FreeProvinces(provinces);
  HideStatus();
}

void TfrmMain::AutoShipmentPass() {
  const std::string sourceFile = Trimmed(txtSource) + "\\ORDER.TXT";
  const std::string resultFile = Trimmed(txtResult) + "\\ORDER.TXT";
  if (!plat::FileExists(sourceFile)) return;
  if (!plat::FileExists(resultFile) && !plat::CreateEmptyFile(resultFile)) {
    Warn("Unable to create the sorted result text file.", "Unable to create new file");
    return;
  }
  ShowStatus("Sorting a Shipment File ...");
  TProvinceArray provinces;
  TSortOrderArray order;
  const bool validOrder = ReadSortFile(QueryFileName(), order);
  LoadPassProvinces(order, provinces);
  if (!validOrder) {
    Warn("Unable to create the sorted result text file.", "Sort file invalid");
  } else if (SequenceShipmentFile(sourceFile, resultFile, provinces, order)) {
    CountUp();
  } else {
    Warn("Unable to create the sorted result text file.", "Unable to create new file");
  }
  order.clear();
  FreeProvinces(provinces);
  HideStatus();
}

void TfrmMain::ManualPackagePass() {
  ShowStatus("Sorting Package Labels ...");
  TProvinceArray provinces;
  TSortOrderArray order;
  const bool validOrder = ReadSortFile(QueryFileName(), order);
  LoadPassProvinces(order, provinces);
  if (validOrder && SequenceLabels(provinces, order))
    Inform("File Sort Processed Successfully.", "Success ...");
  order.clear();
  FreeProvinces(provinces);
  HideStatus();
}

void TfrmMain::ManualShipmentPass() {
  // The result is made under the same (trimmed) name that is sorted into: a
  // name with blanks around it must not leave a stray file behind, and a
  // field of blanks is no file name at all.
  const std::string sourceFile = Trimmed(txtSource);
  const std::string resultFile = Trimmed(txtResult);
  if (!plat::FileExists(resultFile) && (resultFile.empty() || !plat::CreateEmptyFile(resultFile))) {
    Warn("Unable to create the sorted result text file.", "Unable to create new file");
    return;
  }
  ShowStatus("Sorting a Shipment File ...");
  TProvinceArray provinces;
  TSortOrderArray order;
  const bool validOrder = ReadSortFile(QueryFileName(), order);
  LoadPassProvinces(order, provinces);
  if (validOrder &&
      SequenceShipmentFile(sourceFile, resultFile, provinces, order))
    Inform("File Sort Processed Successfully.", "Success ...");
  order.clear();
  FreeProvinces(provinces);
  HideStatus();
}
