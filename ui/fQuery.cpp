#include "ui/fQuery.h"
#include "ui/QtText.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <cstdio>
#include <iterator>
#include <string>

#include "engine/uSequncr.h"
#include "platform/error.h"
#include "platform/ini.h"
#include "platform/text.h"

namespace {

constexpr int kNoField = 255;  // FillSortCombo's "no choice"
const char* const kSortFileFilter = "Shipment Sort file (*.qry)|*.qry";


// A floppy disk: the save picture.
QPixmap SavePicture() {
  QPixmap pm(24, 24);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(20, 40, 90), 1.2));
  QPainterPath body;
  body.moveTo(3, 3);
  body.lineTo(18, 3);
  body.lineTo(21, 6);
  body.lineTo(21, 21);
  body.lineTo(3, 21);
  body.closeSubpath();
  p.setBrush(QColor(45, 85, 170));
  p.drawPath(body);
  p.setBrush(QColor(225, 230, 240));
  p.drawRect(QRectF(7, 3.5, 9, 6));          // shutter
  p.setBrush(QColor(45, 85, 170));
  p.drawRect(QRectF(12.5, 4.5, 2, 4));       // shutter slot
  p.setBrush(Qt::white);
  p.drawRect(QRectF(6, 12.5, 12, 8));        // label
  p.setPen(QPen(QColor(150, 160, 180), 0.8));
  p.drawLine(QPointF(8, 15), QPointF(16, 15));
  p.drawLine(QPointF(8, 17.5), QPointF(16, 17.5));
  return pm;
}

// An open folder: the open picture.
QPixmap OpenPicture() {
  QPixmap pm(24, 24);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(QColor(120, 85, 10), 1.2));
  QPainterPath back;
  back.moveTo(2, 6);
  back.lineTo(8, 6);
  back.lineTo(10, 8);
  back.lineTo(19, 8);
  back.lineTo(19, 19);
  back.lineTo(2, 19);
  back.closeSubpath();
  p.setBrush(QColor(220, 170, 50));
  p.drawPath(back);
  QPainterPath front;
  front.moveTo(2, 19);
  front.lineTo(6, 11);
  front.lineTo(22, 11);
  front.lineTo(18, 19);
  front.closeSubpath();
  p.setBrush(QColor(250, 210, 90));
  p.drawPath(front);
  return pm;
}

QToolButton* PictureButton(QWidget* parent, const char* name, const QPixmap& picture) {
  auto* b = new QToolButton(parent);
  b->setObjectName(name);
  b->setIcon(QIcon(picture));
  b->setIconSize(picture.size());
  b->setFocusPolicy(Qt::NoFocus);
  b->setAutoRaise(false);
  return b;
}

QLabel* Label(QWidget* parent, const char* name, const char* text) {
  auto* l = new QLabel(QString::fromLatin1(text), parent);
  l->setObjectName(name);
  return l;
}

}  // namespace

TfrmQuery::TfrmQuery(QWidget* owner) : QDialog(owner) {
  setObjectName("frmQuery");
  setWindowTitle("Sort Order Screen ...");
  // Dialog border: fixed size, no minimise or maximise button.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  dlgSave.title = "Please save the sort file ...";
  dlgSave.filter = kSortFileFilter;
  dlgSave.defaultExt = "qry";
  dlgSave.overwritePrompt = false;
  dlgSave.fileMustExist = false;
  dlgSave.hideReadOnly = true;

  dlgOpen.title = "Please choose the sort file ...";
  dlgOpen.filter = kSortFileFilter;
  dlgOpen.defaultExt = "qry";
  dlgOpen.fileMustExist = true;
  dlgOpen.hideReadOnly = true;

  lblInsturctions = Label(this, "lblInsturctions", "Please set up the sort order for the Order.txt file :");
  lblPriority1 = Label(this, "lblPriority1", "#1 Sort Priority By");
  lblPriority2 = Label(this, "lblPriority2", "#2 Sort Priority By");
  lblPriority3 = Label(this, "lblPriority3", "#3 Sort Priority By");
  lblPriority4 = Label(this, "lblPriority4", "#4 Sort Priority By");
  lblPriority5 = Label(this, "lblPriority5", "#5 Sort Priority By");
  QComboBox** lists[5] = {&cbxPriority1, &cbxPriority2, &cbxPriority3, &cbxPriority4, &cbxPriority5};
  for (int i = 0; i < 5; ++i) {
    auto* c = new QComboBox(this);
    c->setObjectName(QString("cbxPriority%1").arg(i + 1));
    c->setEditable(false);  // choice from the list only
    c->setMinimumContentsLength(24);
    c->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    *lists[i] = c;
  }
  QCheckBox** downs[5] = {&chkDescending1, &chkDescending2, &chkDescending3, &chkDescending4, &chkDescending5};
  for (int i = 0; i < 5; ++i) {
    auto* c = new QCheckBox("Descending", this);
    c->setObjectName(QString("chkDescending%1").arg(i + 1));
    *downs[i] = c;
  }
  chkReverse = new QCheckBox("Reverse (last label first)", this);
  chkReverse->setObjectName("chkReverse");
  lblFileName = Label(this, "lblFileName", "File name:");
  txtFileName = new QLineEdit(this);
  txtFileName->setObjectName("txtFileName");
  lblSaveAs = Label(this, "lblSaveAs", "Save File As ...(*.qry)");
  btnSave = PictureButton(this, "btnSave", SavePicture());
  lblOpenAs = Label(this, "lblOpenAs", "Open File As ...(*.qry)");
  btnOpen = PictureButton(this, "btnOpen", OpenPicture());
  btnClose = new QPushButton("&Close", this);
  btnClose->setObjectName("btnClose");
  // Enter in the file name field must not close the window.
  btnClose->setAutoDefault(false);
  btnClose->setDefault(false);

  auto* grid = new QGridLayout;
  QLabel* labels[5] = {lblPriority1, lblPriority2, lblPriority3, lblPriority4, lblPriority5};
  for (int i = 0; i < 5; ++i) {
    grid->addWidget(labels[i], i, 0);
    grid->addWidget(*lists[i], i, 1);
    grid->addWidget(*downs[i], i, 2);
  }
  grid->addWidget(chkReverse, 5, 1, 1, 2);
  auto* fileRow = new QHBoxLayout;
  fileRow->addWidget(lblFileName);
  fileRow->addWidget(txtFileName, 1);
  auto* buttonsRow = new QHBoxLayout;
  buttonsRow->addWidget(btnSave);
  buttonsRow->addWidget(lblSaveAs);
  buttonsRow->addSpacing(24);
  buttonsRow->addWidget(btnOpen);
  buttonsRow->addWidget(lblOpenAs);
  buttonsRow->addStretch(1);
  auto* closeRow = new QHBoxLayout;
  closeRow->addStretch(1);
  closeRow->addWidget(btnClose);
  closeRow->addStretch(1);

  auto* main = new QVBoxLayout(this);
  main->addWidget(lblInsturctions);
  main->addLayout(grid);
  main->addSpacing(6);
  main->addLayout(fileRow);
  main->addLayout(buttonsRow);
  main->addSpacing(6);
  main->addLayout(closeRow);
  main->setSizeConstraint(QLayout::SetFixedSize);

  // Tab order: the five lists, each followed by its direction, the reverse
  // box, Close, then the file name.
  QWidget* chain[] = {cbxPriority1, chkDescending1, cbxPriority2, chkDescending2, cbxPriority3,
                      chkDescending3, cbxPriority4, chkDescending4, cbxPriority5, chkDescending5,
                      chkReverse,   btnClose,       txtFileName};
  for (size_t i = 0; i + 1 < std::size(chain); ++i) QWidget::setTabOrder(chain[i], chain[i + 1]);

  connect(btnSave, &QToolButton::clicked, this, [this] { btnSaveClick(); });
  connect(btnOpen, &QToolButton::clicked, this, [this] { btnOpenClick(); });
  connect(btnClose, &QPushButton::clicked, this, [this] { btnCloseClick(); });

  FormShow();
}

void TfrmQuery::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

QComboBox* TfrmQuery::Priority(int i) const {
  switch (i) {
    case 1: return cbxPriority1;
    case 2: return cbxPriority2;
    case 3: return cbxPriority3;
    case 4: return cbxPriority4;
    default: return cbxPriority5;
  }
}

QCheckBox* TfrmQuery::Descending(int i) const {
  switch (i) {
    case 1: return chkDescending1;
    case 2: return chkDescending2;
    case 3: return chkDescending3;
    case 4: return chkDescending4;
    default: return chkDescending5;
  }
}

void TfrmQuery::ClearKeys() {
  for (int i = 1; i <= 5; ++i) {
    Keys[i] = -1;
    Desc[i] = false;
  }
}

void TfrmQuery::FillSortCombo(QComboBox* list, int code) {
  list->clear();
  list->addItem(QString());
  for (const char* caption : SortFieldCaptions) list->addItem(QString::fromLatin1(caption));
  if (code == kNoField)
    list->setCurrentIndex(0);
  else if (code >= 0 && code < SortFieldCount)
    list->setCurrentIndex(code + 1);
  else
    list->setCurrentIndex(-1);
}

void TfrmQuery::FormShow() {
  txtFileName->clear();
  for (int i = 1; i <= 5; ++i) {
    FillSortCombo(Priority(i), kNoField);
    Descending(i)->setChecked(false);
  }
  chkReverse->setChecked(false);
  ClearKeys();
}

void TfrmQuery::btnSaveClick() {
  int n = 0;
  for (int i = 1; i <= 5; ++i) {
    const int selected = Priority(i)->currentIndex();
    if (selected > 0) {
      Keys[++n] = selected - 1;
      Desc[n] = Descending(i)->isChecked();
    }
  }

  ui::FileDialogSpec spec = dlgSave;
  spec.fileName = plat::Trim(S(txtFileName->text()));
  spec.initialDir.clear();
  std::string chosen;
  if (!ui::Ui().SaveDialog(this, spec, chosen)) return;
  txtFileName->setText(Q(chosen));

  try {
    plat::IniEraseSection(chosen, "Keys");
    // Only what differs from the plain ascending order is written, so a file
    // without either reads exactly as it always did.
    for (int i = 1; i <= n; ++i) {
      plat::IniWriteInteger(chosen, "Keys", SortKeyName(i), Keys[i]);
      if (Desc[i]) plat::IniWriteInteger(chosen, "Keys", SortDescName(i), 1);
    }
    if (n > 0 && chkReverse->isChecked()) plat::IniWriteInteger(chosen, "Keys", SortReverseName, 1);
  } catch (const plat::Error& e) {
    ui::Ui().ShowError(this, e.what());
  }
}

void TfrmQuery::btnOpenClick() {
  ui::FileDialogSpec spec = dlgOpen;
  spec.fileName = plat::Trim(S(txtFileName->text()));
  spec.initialDir.clear();
  ClearKeys();

  std::string chosen;
  if (ui::Ui().OpenDialog(this, spec, chosen)) {
    txtFileName->setText(Q(chosen));
    for (int i = 1; i <= 5; ++i) {
      Keys[i] = plat::IniReadInteger(chosen, "Keys", SortKeyName(i), -1);
      Desc[i] = plat::IniReadInteger(chosen, "Keys", SortDescName(i), 0) == 1;
    }
    chkReverse->setChecked(plat::IniReadInteger(chosen, "Keys", SortReverseName, 0) == 1);
  }

  // The keys fill the lists from the top; the first missing key stops the
  // filling, so later lists keep what they showed.
  int j = 1;
  for (int i = 1; i <= 5; ++i) {
    if (Keys[j] < 0) continue;
    QComboBox* list = Priority(i);
    // A code that is not a sort field leaves the list without a choice, which
    // saving then treats as empty.
    list->setCurrentIndex(Keys[j] < SortFieldCount ? Keys[j] + 1 : -1);
    Descending(i)->setChecked(Desc[j]);
    ++j;
  }
}

void TfrmQuery::btnCloseClick() { close(); }
