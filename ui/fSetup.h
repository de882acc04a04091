#pragma once
// The setup window: the one setting the user gives by hand, the Kavlo Desko
// folder (AppSetup->HostPath), saved at once with OK.
#include <QDialog>

#include "ui/UiServices.h"

class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QToolButton;

class TfrmSetup : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmSetup(QWidget* owner);

  // Controls, in declaration order (public so that tests can reach them).
  QLabel* lblPath = nullptr;
  QLineEdit* txtPath = nullptr;
  QToolButton* btnPath = nullptr;
  ui::FileDialogSpec dlgOpen;  // the folder choice's title; initial folder set per use
  QPushButton* btnOK = nullptr;
  QPushButton* btnCancel = nullptr;

  void FormShow();
  void btnPathClick();
  void btnOKClick();
  void btnCancelClick();

 protected:
  void showEvent(QShowEvent* event) override;
};
