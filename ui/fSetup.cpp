#include "ui/fSetup.h"
#include "ui/QtText.h"
#include "ui/Pictures.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "platform/error.h"
#include "platform/text.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"


TfrmSetup::TfrmSetup(QWidget* owner) : QDialog(owner) {
  setObjectName("frmSetup");
  setWindowTitle("Kavlo Shipment Vadoviver - Application Setup ...");
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);

  lblPath = new QLabel("Kavlo Desko Path", this);
  lblPath->setObjectName("lblPath");
  txtPath = new QLineEdit(this);
  txtPath->setObjectName("txtPath");
  txtPath->setMinimumWidth(360);
  lblPath->setBuddy(txtPath);
  btnPath = new QToolButton(this);
  btnPath->setObjectName("btnPath");
  btnPath->setIcon(DrawOpenFolder());
  btnPath->setIconSize(QSize(16, 16));

  dlgOpen.title = "Please choose the proper path to Kavlo Desko ...";
  dlgOpen.fileName = "*.*";
  dlgOpen.pathMustExist = true;
  dlgOpen.hideReadOnly = true;

  btnOK = new QPushButton("&OK", this);
  btnOK->setObjectName("btnOK");
  btnOK->setDefault(true);
  btnCancel = new QPushButton("&Cancel", this);
  btnCancel->setObjectName("btnCancel");
  btnCancel->setAutoDefault(false);

  auto* pathRow = new QHBoxLayout;
  pathRow->setSpacing(2);
  pathRow->addWidget(txtPath, 1);
  pathRow->addWidget(btnPath);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* main = new QVBoxLayout(this);
  main->addWidget(lblPath);
  main->addLayout(pathRow);
  main->addSpacing(8);
  main->addLayout(buttons);
  main->setSizeConstraint(QLayout::SetFixedSize);
  // A window manager shows the caption in a bold title font beside its
  // buttons; the fixed width must leave it room so it is not cut short.
  QFont title = font();
  title.setBold(true);
  if (title.pointSizeF() > 0) title.setPointSizeF(title.pointSizeF() * 1.15);
  const int need = QFontMetrics(title).horizontalAdvance(windowTitle()) + 140;
  const QMargins m = main->contentsMargins();
  txtPath->setMinimumWidth(
      std::max(txtPath->minimumWidth(), need - m.left() - m.right() - pathRow->spacing() - btnPath->sizeHint().width()));

  QWidget::setTabOrder(txtPath, btnPath);
  QWidget::setTabOrder(btnPath, btnOK);
  QWidget::setTabOrder(btnOK, btnCancel);

  connect(btnPath, &QToolButton::clicked, this, [this] { btnPathClick(); });
  connect(btnOK, &QPushButton::clicked, this, [this] { btnOKClick(); });
  connect(btnCancel, &QPushButton::clicked, this, [this] { btnCancelClick(); });

  FormShow();
}

void TfrmSetup::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TfrmSetup::FormShow() { txtPath->setText(AppSetup ? Q(AppSetup->HostPath) : QString()); }

void TfrmSetup::btnPathClick() {
  std::string chosen;
  if (!ui::Ui().ChooseFolder(this, dlgOpen.title, plat::Trim(S(txtPath->text())), chosen)) return;
  txtPath->setText(Q(SafeDir(chosen)));
}

void TfrmSetup::btnOKClick() {
  if (!AppSetup) return;
  AppSetup->HostPath = SafeDir(plat::Trim(S(txtPath->text())));
  try {
    AppSetup->Save();
  } catch (const plat::Error& e) {
    // The window stays open; HostPath already holds the new folder.
    ui::Ui().ShowError(this, e.what());
    return;
  }
  accept();
}

void TfrmSetup::btnCancelClick() { reject(); }
