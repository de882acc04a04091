#include "ui/fZone.h"
#include "ui/fZoneCoverage.h"
#include "ui/QtText.h"

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <climits>

#include "platform/text.h"
#include "ui/UiServices.h"

namespace {


const QColor kSilver(192, 192, 192);
// The usual greyed text vanishes on silver; this one stays readable there and
// still reads as disabled next to black.
const QColor kDisabledText(72, 72, 72);

// Edit fields and lists show the window colour when enabled, silver when not.
void Paint(QWidget* w, bool enabled) {
  QPalette p = w->palette();
  const QColor c = enabled ? QApplication::palette().color(QPalette::Active, QPalette::Base) : kSilver;
  p.setColor(QPalette::Active, QPalette::Base, c);
  p.setColor(QPalette::Inactive, QPalette::Base, c);
  p.setColor(QPalette::Disabled, QPalette::Base, c);
  p.setColor(QPalette::Disabled, QPalette::Text, kDisabledText);
  w->setPalette(p);
}

enum class Arrow { Left, Right, Down };

// The button pictures are drawn here; QIcon derives the greyed image itself.
QIcon ArrowIcon(Arrow dir) {
  QPixmap pm(16, 16);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(Qt::NoPen);
  p.setBrush(dir == Arrow::Down ? QColor(0, 0, 0) : QColor(0, 96, 0));
  QPolygonF poly;
  switch (dir) {
    case Arrow::Left:
      poly << QPointF(1, 8) << QPointF(8, 1) << QPointF(8, 5) << QPointF(15, 5) << QPointF(15, 11)
           << QPointF(8, 11) << QPointF(8, 15);
      break;
    case Arrow::Right:
      poly << QPointF(15, 8) << QPointF(8, 1) << QPointF(8, 5) << QPointF(1, 5) << QPointF(1, 11)
           << QPointF(8, 11) << QPointF(8, 15);
      break;
    case Arrow::Down:
      poly << QPointF(3, 6) << QPointF(13, 6) << QPointF(8, 11);
      break;
  }
  p.drawPolygon(poly);
  return QIcon(pm);
}

template <class W>
W* Make(QWidget* parent, const char* name) {
  auto* w = new W(parent);
  w->setObjectName(QString::fromLatin1(name));
  return w;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* caption) {
  auto* b = Make<QPushButton>(parent, name);
  b->setText(QString::fromUtf8(caption));
  b->setAutoDefault(false);  // Enter in a field must not press a button
  b->setDefault(false);
  b->setFixedSize(70, 25);
  return b;
}

QHBoxLayout* Row(std::initializer_list<QWidget*> widgets, int indent, int spacing) {
  auto* row = new QHBoxLayout;
  row->setSpacing(spacing);
  row->addSpacing(indent);
  for (QWidget* w : widgets) row->addWidget(w);
  row->addStretch(1);
  return row;
}

}  // namespace

TfrmZone::TfrmZone(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmZone"));
  setWindowTitle(QStringLiteral("Kavlo Shipment Vadoviver - Zone Setup ..."));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowCloseButtonHint);
  setModal(true);
  BuildControls();
  BuildMovePages();
  BuildAreaLists();
  BuildLayout();

  // Tab order of the record part, then the move pages and the lists.
  setTabOrder(txtZone, btnZone);
  setTabOrder(btnZone, lbxZone);
  setTabOrder(lbxZone, txtName);
  setTabOrder(txtName, btnAdd);
  setTabOrder(btnAdd, btnSave);
  setTabOrder(btnSave, btnDelete);
  setTabOrder(btnDelete, btnClose);
  setTabOrder(btnClose, btnFirst);
  setTabOrder(btnFirst, btnPrev);
  setTabOrder(btnPrev, btnNext);
  setTabOrder(btnNext, btnLast);
  setTabOrder(btnLast, pagMove);
  setTabOrder(pagMove, tabMode);
  setTabOrder(tabMode, lbxZoneList);
  setTabOrder(lbxZoneList, lbxAvailList);
  setTabOrder(lbxAvailList, btnAddSel);
  QWidget* column[] = {btnAddSel, btnDelSel, btnAddArea, btnDelArea, btnAddProv,
                       btnDelProv, btnAddCity, btnDelCity, btnAddMatch, btnDelMatch};
  for (size_t i = 1; i < std::size(column); ++i) setTabOrder(column[i - 1], column[i]);

  setFixedSize(900, 470);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    move(screen->availableGeometry().center() - rect().center());
  }
}

TfrmZone::~TfrmZone() {
  // The list models read the editing state's lines, which die before the
  // window's children: the lists go first.
  delete tabModeBody;
}

void TfrmZone::BuildControls() {
  panZone = Make<QFrame>(this, "panZone");
  panZone->setFixedSize(300, 68);
  panZone->setFrameShape(QFrame::StyledPanel);
  lblZone = Make<QLabel>(panZone, "lblZone");
  lblZone->setText(QStringLiteral("Zone "));
  txtZone = Make<QLineEdit>(panZone, "txtZone");
  txtZone->setMaxLength(9);
  txtZone->setFixedSize(132, 22);
  btnZone = Make<QToolButton>(panZone, "btnZone");
  btnZone->setIcon(ArrowIcon(Arrow::Down));
  btnZone->setFixedSize(20, 22);
  lblName = Make<QLabel>(panZone, "lblName");
  lblName->setText(QStringLiteral("Name"));
  txtName = Make<QLineEdit>(panZone, "txtName");
  txtName->setFixedHeight(22);
  auto* fields = new QGridLayout(panZone);
  fields->setContentsMargins(8, 8, 8, 8);
  fields->setHorizontalSpacing(4);
  fields->setVerticalSpacing(8);
  fields->setColumnMinimumWidth(0, 48);
  fields->addWidget(lblZone, 0, 0);
  fields->addLayout(Row({txtZone, btnZone}, 0, 0), 0, 1);
  fields->addWidget(lblName, 1, 0);
  fields->addWidget(txtName, 1, 1);

  // The drop-down lies over the name field and the buttons below, so it is a
  // child of the window, outside every layout, placed under the code field
  // when it opens.
  lbxZone = Make<QListWidget>(this, "lbxZone");
  lbxZone->setSelectionMode(QAbstractItemView::SingleSelection);
  lbxZone->setFixedSize(152, 130);
  lbxZone->hide();
  lbxZone->installEventFilter(this);

  btnAdd = MakeButton(this, "btnAdd", "&Add");
  btnSave = MakeButton(this, "btnSave", "&Save");
  btnDelete = MakeButton(this, "btnDelete", "&Delete");
  btnClose = MakeButton(this, "btnClose", "&Close");
  btnFirst = MakeButton(this, "btnFirst", "|<&<");
  btnPrev = MakeButton(this, "btnPrev", "<<");
  btnNext = MakeButton(this, "btnNext", ">>");
  btnLast = MakeButton(this, "btnLast", "&>>|");

  stbMain = Make<QStatusBar>(this, "stbMain");
  stbMain->setSizeGripEnabled(false);
  stbMain->setFixedHeight(24);
  stbPanel = Make<QLabel>(stbMain, "stbPanel");
  stbMain->addWidget(stbPanel, 1);

  connect(txtZone, &QLineEdit::textChanged, this, &TfrmZone::txtZoneChange);
  connect(txtName, &QLineEdit::textChanged, this, &TfrmZone::txtNameChange);
  connect(btnZone, &QToolButton::clicked, this, &TfrmZone::btnZoneClick);
  connect(lbxZone, &QListWidget::itemClicked, this, &TfrmZone::lbxZoneClick);
  connect(lbxZone, &QListWidget::currentRowChanged, this, [this] {
    if (!FFillingDropDown) lbxZoneClick();
  });
  connect(lbxZone, &QListWidget::itemDoubleClicked, this, &TfrmZone::lbxZoneDblClick);
  connect(btnAdd, &QPushButton::clicked, this, &TfrmZone::btnAddClick);
  connect(btnSave, &QPushButton::clicked, this, &TfrmZone::btnSaveClick);
  connect(btnDelete, &QPushButton::clicked, this, &TfrmZone::btnDeleteClick);
  connect(btnClose, &QPushButton::clicked, this, &TfrmZone::btnCloseClick);
  connect(btnFirst, &QPushButton::clicked, this, &TfrmZone::btnFirstClick);
  connect(btnPrev, &QPushButton::clicked, this, &TfrmZone::btnPrevClick);
  connect(btnNext, &QPushButton::clicked, this, &TfrmZone::btnNextClick);
  connect(btnLast, &QPushButton::clicked, this, &TfrmZone::btnLastClick);
}

void TfrmZone::BuildMovePages() {
  pagMove = Make<QTabWidget>(this, "pagMove");
  pagMove->setFixedSize(300, 180);
  QFont small = font();
  small.setPointSizeF(small.pointSizeF() > 0 ? small.pointSizeF() * 0.85 : 8);

  tabArea = Make<QWidget>(pagMove, "tabArea");
  optMovEast = Make<QRadioButton>(tabArea, "optMovEast");
  optMovEast->setText(QStringLiteral("Start with Eastern most"));
  optMovEast->setChecked(true);
  optMovWest = Make<QRadioButton>(tabArea, "optMovWest");
  optMovWest->setText(QStringLiteral("Start with Western most"));
  lblMovArea = Make<QLabel>(tabArea, "lblMovArea");
  lblMovArea->setText(QStringLiteral("# of Provinces to move"));
  lblMovArea->setMinimumWidth(160);
  speMovArea = Make<QSpinBox>(tabArea, "speMovArea");
  speMovArea->setRange(INT_MIN, INT_MAX);  // no bounds of its own
  speMovArea->setValue(0);
  speMovArea->setFixedSize(80, 22);
  btnMovAreaO = MakeButton(tabArea, "btnMovAreaO", "&OK");
  btnMovAreaC = MakeButton(tabArea, "btnMovAreaC", "Cance&l");
  {
    auto* v = new QVBoxLayout(tabArea);
    v->setContentsMargins(8, 6, 8, 8);
    v->setSpacing(2);
    v->addWidget(optMovEast);
    v->addWidget(optMovWest);
    v->addSpacing(6);
    v->addLayout(Row({lblMovArea, speMovArea}, 0, 2));
    v->addStretch(1);
    v->addLayout(Row({btnMovAreaO, btnMovAreaC}, 52, 10));
  }
  pagMove->addTab(tabArea, QStringLiteral("Move by Longitude ..."));

  // A label above, an input and OK with Cancel below.
  auto arrange = [](QWidget* tab, QLabel* lbl, QWidget* input, QPushButton* ok, QPushButton* cancel) {
    auto* v = new QVBoxLayout(tab);
    v->setContentsMargins(8, 4, 8, 8);
    v->setSpacing(6);
    v->addWidget(lbl);
    v->addLayout(Row({input}, 0, 0));
    v->addStretch(1);
    v->addLayout(Row({ok, cancel}, 52, 10));
  };
  auto page = [&](QWidget*& tab, const char* tabName, QLabel*& lbl, const char* lblName, const char* text,
                  const char* caption) {
    tab = Make<QWidget>(pagMove, tabName);
    lbl = Make<QLabel>(tab, lblName);
    lbl->setText(QString::fromLatin1(text));
    lbl->setWordWrap(true);
    lbl->setFont(small);
    lbl->setFixedHeight(44);
    lbl->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    pagMove->addTab(tab, QString::fromLatin1(caption));
  };
  page(tabProv, "tabProv", lblMovProv, "lblMovProv", "Please choose a Province with which to move by.",
       "Move by Province ...");
  cbxMovProv = Make<QComboBox>(tabProv, "cbxMovProv");
  cbxMovProv->setEditable(true);
  cbxMovProv->setInsertPolicy(QComboBox::NoInsert);
  cbxMovProv->setFixedSize(200, 22);
  btnMovProvO = MakeButton(tabProv, "btnMovProvO", "&OK");
  btnMovProvC = MakeButton(tabProv, "btnMovProvC", "&Cancel");
  arrange(tabProv, lblMovProv, cbxMovProv, btnMovProvO, btnMovProvC);

  page(tabCity, "tabCity", lblMovCity, "lblMovCity", "Please choose a City with which to move by.",
       "Move by City ...");
  cbxMovCity = Make<QComboBox>(tabCity, "cbxMovCity");
  cbxMovCity->setEditable(true);
  cbxMovCity->setInsertPolicy(QComboBox::NoInsert);
  cbxMovCity->setFixedSize(200, 22);
  btnMovCityO = MakeButton(tabCity, "btnMovCityO", "&OK");
  btnMovCityC = MakeButton(tabCity, "btnMovCityC", "&Cancel");
  arrange(tabCity, lblMovCity, cbxMovCity, btnMovCityO, btnMovCityC);

  page(tabMatch, "tabMatch", lblMovMatch, "lblMovMatch",
       "Please enter the first part of a Postal Code with which any matches found will be moved.",
       "Move by Match ...");
  txtMovMatch = Make<QLineEdit>(tabMatch, "txtMovMatch");
  txtMovMatch->setMaxLength(6);
  txtMovMatch->setFixedSize(100, 22);
  btnMovMatchO = MakeButton(tabMatch, "btnMovMatchO", "&OK");
  btnMovMatchC = MakeButton(tabMatch, "btnMovMatchC", "&Cancel");
  arrange(tabMatch, lblMovMatch, txtMovMatch, btnMovMatchO, btnMovMatchC);

  connect(btnMovAreaO, &QPushButton::clicked, this, &TfrmZone::btnMovAreaClick);
  connect(btnMovProvO, &QPushButton::clicked, this, &TfrmZone::btnMovProvClick);
  connect(btnMovCityO, &QPushButton::clicked, this, &TfrmZone::btnMovCityClick);
  connect(btnMovMatchO, &QPushButton::clicked, this, &TfrmZone::btnMovMatchClick);
  for (QPushButton* b : {btnMovAreaC, btnMovProvC, btnMovCityC, btnMovMatchC}) {
    connect(b, &QPushButton::clicked, this, &TfrmZone::btnMovCancelClick);
  }
  ClosePage();
}

void TfrmZone::BuildAreaLists() {
  tabMode = Make<QTabBar>(this, "tabMode");
  tabMode->addTab(QStringLiteral("Detail"));
  tabMode->addTab(QStringLiteral("Summary"));
  tabMode->setShape(QTabBar::RoundedNorth);
  tabMode->setDrawBase(false);
  tabMode->setExpanding(false);
  tabMode->setStyleSheet(QStringLiteral("QTabBar::tab { width: 88px; }"));
  tabMode->setFixedHeight(26);
  tabModeBody = Make<QFrame>(this, "tabModeBody");
  tabModeBody->setFrameShape(QFrame::StyledPanel);
  auto* body = new QHBoxLayout(tabModeBody);
  body->setContentsMargins(5, 5, 5, 5);  // inside the frame's own pixel
  body->setSpacing(0);

  auto list = [&](QFrame*& pan, const char* panName, QLabel*& lbl, const char* lblName, const char* caption,
                  QListView*& lbx, const char* lbxName, TAreaListModel*& model,
                  const std::vector<std::string>& lines) {
    pan = Make<QFrame>(tabModeBody, panName);
    pan->setFixedWidth(232);
    lbl = Make<QLabel>(pan, lblName);
    lbl->setText(QString::fromLatin1(caption));
    lbl->setFixedHeight(18);
    lbx = Make<QListView>(pan, lbxName);
    lbx->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lbx->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lbx->setUniformItemSizes(true);  // no per-line measuring of long lists
    // Long lines scroll sideways rather than being cut.
    lbx->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    lbx->setTextElideMode(Qt::ElideNone);
    model = new TAreaListModel(lines, lbx);
    lbx->setModel(model);
    lbx->setItemDelegate(new TUncoveredMark(model, lbx));
    auto* v = new QVBoxLayout(pan);
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(2);
    lbl->setIndent(2);
    v->addWidget(lbl);
    v->addWidget(lbx, 1);
  };
  list(panZoneList, "panZoneList", lblZoneList, "lblZoneList", "In the Zone ...", lbxZoneList, "lbxZoneList",
       FZoneModel, FEdit.ZoneLines());
  list(panAvailList, "panAvailList", lblAvailList, "lblAvailList", "Available ...", lbxAvailList,
       "lbxAvailList", FAvailModel, FEdit.AvailLines());

  const QIcon left = ArrowIcon(Arrow::Left);
  const QIcon right = ArrowIcon(Arrow::Right);
  // The button column: per row a centred label, the add button, the remove button.
  auto* column = new QVBoxLayout;
  column->setContentsMargins(2, 20, 2, 0);
  column->setSpacing(2);
  auto row = [&](QLabel*& lbl, const char* lblName, const char* caption, QToolButton*& add, const char* addName,
                 QToolButton*& del, const char* delName) {
    lbl = Make<QLabel>(tabModeBody, lblName);
    lbl->setText(QString::fromLatin1(caption));
    lbl->setAlignment(Qt::AlignCenter);
    lbl->setFixedHeight(16);
    add = Make<QToolButton>(tabModeBody, addName);
    add->setIcon(left);
    add->setFixedSize(28, 24);
    del = Make<QToolButton>(tabModeBody, delName);
    del->setIcon(right);
    del->setFixedSize(28, 24);
    if (column->count() > 0) column->addSpacing(4);
    column->addWidget(lbl);
    column->addWidget(add, 0, Qt::AlignHCenter);
    column->addWidget(del, 0, Qt::AlignHCenter);
  };
  row(lblBySel, "lblBySel", "by Selection", btnAddSel, "btnAddSel", btnDelSel, "btnDelSel");
  row(lblByArea, "lblByArea", "by Longitude", btnAddArea, "btnAddArea", btnDelArea, "btnDelArea");
  row(lblByProv, "lblByProv", "by Province", btnAddProv, "btnAddProv", btnDelProv, "btnDelProv");
  row(lblByCity, "lblByCity", "by City", btnAddCity, "btnAddCity", btnDelCity, "btnDelCity");
  row(lblByMatch, "lblByMatch", "by Match", btnAddMatch, "btnAddMatch", btnDelMatch, "btnDelMatch");
  column->addStretch(1);
  body->addWidget(panZoneList);
  body->addLayout(column, 1);
  body->addWidget(panAvailList);

  connect(tabMode, &QTabBar::currentChanged, this, &TfrmZone::tabModeChange);
  for (QToolButton* b : {btnAddSel, btnDelSel}) connect(b, &QToolButton::clicked, this, &TfrmZone::btnSelectClick);
  for (QToolButton* b : {btnAddArea, btnDelArea}) connect(b, &QToolButton::clicked, this, &TfrmZone::btnAreaClick);
  for (QToolButton* b : {btnAddProv, btnDelProv}) connect(b, &QToolButton::clicked, this, &TfrmZone::btnProvClick);
  for (QToolButton* b : {btnAddCity, btnDelCity}) connect(b, &QToolButton::clicked, this, &TfrmZone::btnCityClick);
  for (QToolButton* b : {btnAddMatch, btnDelMatch}) {
    connect(b, &QToolButton::clicked, this, &TfrmZone::btnMatchClick);
  }
}

void TfrmZone::BuildLayout() {
  // Left: the record part and the move page below it; right: the view tabs
  // over the area lists; the status bar across the bottom.
  auto* buttons = new QGridLayout;
  buttons->setHorizontalSpacing(6);
  buttons->setVerticalSpacing(7);
  QPushButton* grid[2][4] = {{btnAdd, btnSave, btnDelete, btnClose}, {btnFirst, btnPrev, btnNext, btnLast}};
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 4; ++c) buttons->addWidget(grid[r][c], r, c);
  }
  auto* left = new QVBoxLayout;
  left->setSpacing(0);
  left->addWidget(panZone);
  left->addSpacing(10);
  left->addLayout(buttons);
  left->addSpacing(13);
  left->addWidget(pagMove);
  left->addStretch(1);

  auto* right = new QVBoxLayout;
  right->setSpacing(0);
  right->addWidget(tabMode, 0, Qt::AlignLeft);
  right->addWidget(tabModeBody, 1);

  auto* content = new QHBoxLayout;
  content->setContentsMargins(8, 8, 8, 8);
  content->setSpacing(10);
  content->addLayout(left);
  content->addLayout(right, 1);

  auto* root = new QVBoxLayout(this);
  root->setContentsMargins(0, 0, 0, 0);
  root->setSpacing(0);
  root->addLayout(content, 1);
  root->addWidget(stbMain);
}

// ---------------------------------------------------------------------------
// Small helpers

std::string TfrmZone::ZoneText() const { return S(txtZone->text()); }
std::string TfrmZone::NameText() const { return S(txtName->text()); }
void TfrmZone::SetZoneText(const std::string& text) { txtZone->setText(Q(text)); }
void TfrmZone::SetNameText(const std::string& text) { txtName->setText(Q(text)); }
void TfrmZone::SetStatus(const std::string& text) { stbPanel->setText(Q(text)); }

bool TfrmZone::AskGoBack() {
  return ui::Ui().Message(this, "Do you want to go back and save the changes you made to this zone first?",
                          "Warning, Changes Made ...", ui::MsgButtons::YesNo,
                          ui::MsgIcon::Question) == ui::MsgResult::Yes;
}

// ---------------------------------------------------------------------------
// Opening and closing

void TfrmZone::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!FShown) {
    FShown = true;
    // An editor opened by the caller (the benchmark) is shown as it stands.
    if (!FEdit.IsOpen()) FormShow();
  }
}

void TfrmZone::hideEvent(QHideEvent* event) {
  QDialog::hideEvent(event);
  if (FShown && !event->spontaneous()) {
    FShown = false;
    FormHide();
  }
}

void TfrmZone::keyPressEvent(QKeyEvent* event) {
  // The window has no cancel button: Escape does not close it.
  if (event->key() == Qt::Key_Escape) {
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmZone::FormShow() {
  FEdit.Open();
  RefreshCoverage();
  // A window shown again starts from the browsing controls, whatever it was left in.
  EnableEditing(true);
  btnAdd->setEnabled(true);
  btnDelete->setText(QStringLiteral("&Delete"));
  FChoosing = false;
  lbxZone->hide();
  btnZone->show();
  {
    const QSignalBlocker block(tabMode);  // choosing the view here rebuilds nothing
    tabMode->setCurrentIndex(TabSummary);
  }
  if (FEdit.Codes().empty()) {
    EnableEditing(false);
    FillAreaLists();
  } else {
    LoadZone(FEdit.Codes().front());
  }
  FEdit.SetChanged(false);
  ClosePage();
  SetStatus("Ready.");
}

void TfrmZone::FormHide() {
  FChoosing = false;
  FEdit.Close();
}

// ---------------------------------------------------------------------------
// State

void TfrmZone::EnableEditing(bool enabled) {
  txtZone->setEnabled(enabled);
  Paint(txtZone, enabled);
  btnZone->setEnabled(enabled);
  txtName->setEnabled(enabled);
  Paint(txtName, enabled);
  btnSave->setEnabled(enabled);
  btnDelete->setEnabled(enabled);
  btnFirst->setEnabled(enabled);
  btnNext->setEnabled(enabled);
  btnPrev->setEnabled(enabled);
  btnLast->setEnabled(enabled);
  tabMode->setEnabled(enabled);
  lbxZoneList->setEnabled(enabled);
  Paint(lbxZoneList, enabled);
  lbxAvailList->setEnabled(enabled);
  Paint(lbxAvailList, enabled);
  for (QToolButton* b : {btnAddSel, btnDelSel, btnAddArea, btnDelArea, btnAddCity, btnDelCity, btnAddProv,
                         btnDelProv, btnDelMatch, btnAddMatch}) {
    b->setEnabled(enabled);
  }
  ClosePage();
}

void TfrmZone::ClearFields() {
  txtZone->clear();
  txtName->clear();
  ClosePage();
}

void TfrmZone::ClosePage() {
  pagMove->hide();
  for (int i = 0; i < pagMove->count(); ++i) pagMove->setTabVisible(i, false);
}

void TfrmZone::LoadZone(const std::string& code) {
  FEdit.LoadZone(code);
  SetZoneText(FEdit.Zone().Zone);
  SetNameText(FEdit.Zone().Name);
  ShowLists();
  FEdit.SetChanged(false);  // setting the fields is no edit
}

void TfrmZone::EndAdding() {
  FEdit.EndAdding();
  btnAdd->setEnabled(true);
  btnDelete->setText(QStringLiteral("&Delete"));
  if (FEdit.Codes().empty()) {
    ClearFields();
    EnableEditing(false);
  }
}

void TfrmZone::txtZoneChange() { FEdit.CodeEdited(ZoneText()); }

void TfrmZone::txtNameChange() { FEdit.NameEdited(); }

// ---------------------------------------------------------------------------
// The drop-down code list

void TfrmZone::FillCodeDropDown(int index) {
  FFillingDropDown = true;
  lbxZone->clear();
  for (const std::string& code : FEdit.Codes()) lbxZone->addItem(Q(code));
  lbxZone->setCurrentRow(index >= 0 && index < lbxZone->count() ? index : -1);
  if (index < 0 || index >= lbxZone->count()) lbxZone->clearSelection();
  FFillingDropDown = false;
}

void TfrmZone::btnZoneClick() {
  txtName->clear();
  FillCodeDropDown(FEdit.Index());
  if (FEdit.Codes().empty()) return;
  FChoosing = true;
  lbxZone->move(txtZone->mapTo(this, QPoint(0, txtZone->height())));
  lbxZone->show();
  lbxZone->raise();
  btnZone->hide();
  btnSave->setEnabled(false);
  btnDelete->setEnabled(false);
  lbxZone->setFocus(Qt::OtherFocusReason);
  if (FEdit.Adding()) EndAdding();
}

void TfrmZone::lbxZoneClick() {
  QListWidgetItem* item = lbxZone->currentItem();
  if (item && item->isSelected()) txtZone->setText(item->text());
}

void TfrmZone::lbxZoneDblClick() { txtZone->setFocus(Qt::OtherFocusReason); }

bool TfrmZone::eventFilter(QObject* watched, QEvent* event) {
  if (watched == lbxZone) {
    if (event->type() == QEvent::KeyPress) {
      auto* key = static_cast<QKeyEvent*>(event);
      int code = -1;
      switch (key->key()) {
        case Qt::Key_Backspace: code = 8; break;
        case Qt::Key_Return:
        case Qt::Key_Enter: code = 13; break;
        case Qt::Key_Escape: code = 27; break;
        case Qt::Key_Tab:
        case Qt::Key_Backtab: break;  // focus keys are not characters
        default:
          if (!key->text().isEmpty()) {
            const std::string bytes = S(key->text().left(1));
            if (!bytes.empty()) code = static_cast<unsigned char>(bytes[0]);
          }
      }
      if (code >= 0) {
        lbxZoneKeyPress(code);
        return true;  // swallowed: the list's own type-ahead must not run
      }
    } else if (event->type() == QEvent::FocusOut) {
      auto* focus = static_cast<QFocusEvent*>(event);
      // Another window taking the focus (a message box) is not leaving the list.
      if (focus->reason() != Qt::ActiveWindowFocusReason && focus->reason() != Qt::PopupFocusReason) {
        lbxZoneExit();
      }
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TfrmZone::lbxZoneKeyPress(int key) {
  std::string text = ZoneText();
  if (key == 8) {
    if (!text.empty()) text.pop_back();
    SetZoneText(text);
  } else if (key == 13 || key == 27) {
    txtZone->setFocus(Qt::OtherFocusReason);
  } else if (key >= 33 && key <= 127) {
    text.push_back(static_cast<char>(key));
    SetZoneText(text);
  }
  const std::string t = plat::UpperAZ(plat::Trim(ZoneText()));
  FFillingDropDown = true;
  int found = -1;
  for (int i = 0; i < lbxZone->count(); ++i) {
    const std::string line = plat::UpperAZ(S(lbxZone->item(i)->text()).substr(0, t.size()));
    if (line == t) {
      found = i;
      break;
    }
    lbxZone->setCurrentRow(-1);
    lbxZone->clearSelection();
  }
  if (found >= 0) {
    lbxZone->setCurrentRow(found);
    lbxZone->item(found)->setSelected(true);
  }
  FFillingDropDown = false;
}

void TfrmZone::lbxZoneExit() {
  if (!FChoosing || !FEdit.IsOpen()) return;
  FChoosing = false;
  const QList<QListWidgetItem*> selected = lbxZone->selectedItems();
  if (!selected.isEmpty()) {
    const int i = lbxZone->row(selected.front());
    LoadZone(FEdit.CodeAt(i));
    FEdit.SetIndex(i);
  } else {
    LoadZone(FEdit.CodeAt(FEdit.Index()));
  }
  SetStatus("");
  lbxZone->hide();
  btnZone->show();
  btnSave->setEnabled(true);
  btnDelete->setEnabled(true);
}

// ---------------------------------------------------------------------------
// Navigation

void TfrmZone::Navigate(int which) {
  // In add mode with no zone stored there is nothing to go to.
  if (FEdit.Codes().empty()) return;
  if (FEdit.Changed() && AskGoBack()) return;
  ClearFields();
  const int index = FEdit.Index();
  const int last = static_cast<int>(FEdit.Codes().size()) - 1;
  int pos = index;
  switch (which) {
    case 0: pos = 0; break;
    case 1: if (index > 0) pos = index - 1; break;
    case 2: if (index < last) pos = index + 1; break;
    default: pos = last; break;
  }
  LoadZone(FEdit.CodeAt(pos));
  if (FEdit.Adding()) EndAdding();
  SetStatus("");
}

void TfrmZone::btnFirstClick() { Navigate(0); }
void TfrmZone::btnPrevClick() { Navigate(1); }
void TfrmZone::btnNextClick() { Navigate(2); }
void TfrmZone::btnLastClick() { Navigate(3); }

// ---------------------------------------------------------------------------
// Add, Save, Delete, Close

void TfrmZone::btnAddClick() {
  if (FEdit.Changed() && AskGoBack()) return;
  txtZone->clear();
  btnAdd->setEnabled(false);
  ClearFields();
  EnableEditing(true);
  btnDelete->setText(QStringLiteral("Ca&ncel"));
  FEdit.BeginAdding();
  ShowLists();
}

void TfrmZone::btnSaveClick() {
  if (ui::Ui().Message(this, "Are you sure you want to save the changes you made to the Zone?", "Save Warning ...",
                       ui::MsgButtons::YesNo, ui::MsgIcon::Question) != ui::MsgResult::Yes) {
    if (FEdit.Adding()) {
      if (FEdit.Codes().empty()) {
        ClearFields();
      } else {
        const std::string orig = FEdit.OrigCode();
        LoadZone(FEdit.CodeAt(FEdit.Index()));
        FEdit.SetIndex(FEdit.IndexOfCode(orig));
      }
      EndAdding();
    }
    return;
  }

  TStringList errors;
  if (!FEdit.Validate(ZoneText(), errors)) {
    std::string text = "Some errors were found with the data for this zone:\r\r";
    for (const std::string& e : errors) text += e + "\r\n";
    text += "\rPlease correct the situation before saving.";
    ui::Ui().Message(this, text, "Cannot Save ...", ui::MsgButtons::Ok, ui::MsgIcon::Warning);
    return;
  }

  std::string show;
  switch (FEdit.Save(ZoneText(), NameText(), show)) {
    case TZoneSaveResult::Failed:
      ui::Ui().Message(this, "Unable to save this zone record to the table.", "Save Failed ...", ui::MsgButtons::Ok,
                       ui::MsgIcon::Warning);
      return;
    case TZoneSaveResult::ReplaceFailed:
      ui::Ui().Message(this, "Unable to remove the previous zone record from the table.", "Replacement Failed ...",
                       ui::MsgButtons::Ok, ui::MsgIcon::Warning);
      return;
    case TZoneSaveResult::Added:
      ClearFields();
      FEdit.ReloadCodes();
      RefreshCoverage();
      if (FEdit.Codes().empty()) {
        EnableEditing(false);
      } else {
        LoadZone(FEdit.CodeAt(FEdit.IndexOfCode(show)));
        SetStatus("Record added.");
      }
      EndAdding();
      return;
    case TZoneSaveResult::Updated:
      ClearFields();
      FEdit.ReloadCodes();
      RefreshCoverage();
      LoadZone(show);
      FEdit.SetIndex(FEdit.IndexOfCode(show));
      SetStatus("Record updated.");
      return;
  }
}

void TfrmZone::btnDeleteClick() {
  if (FEdit.Adding()) {
    FEdit.ReloadCodes();
    ClearFields();
    if (FEdit.Codes().empty()) {
      EnableEditing(false);
    } else {
      LoadZone(FEdit.Codes().front());
    }
    EndAdding();
    btnClose->setFocus(Qt::OtherFocusReason);
    return;
  }
  if (ui::Ui().Message(this, "Are you sure you would like to delete this zone?", "Delete Warning ...",
                       ui::MsgButtons::YesNo, ui::MsgIcon::Question) != ui::MsgResult::Yes) {
    return;
  }
  if (FEdit.DeleteZone()) {
    FEdit.ReloadCodes();
    RefreshCoverage();
    ClearFields();
    if (FEdit.Codes().empty()) {
      EnableEditing(false);
      FEdit.ClearZone();  // the lists must not go on showing the deleted zone
      ShowLists();
    } else {
      LoadZone(FEdit.Codes().front());
    }
    SetStatus("Record deleted.");
  } else {
    ui::Ui().Message(this, "Unable to delete this zone record from the table.", "Deletion Failed ...",
                     ui::MsgButtons::Ok, ui::MsgIcon::Warning);
  }
}

void TfrmZone::btnCloseClick() {
  if (FEdit.Changed() && AskGoBack()) return;
  close();
}
