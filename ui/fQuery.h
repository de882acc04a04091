#pragma once
// The sort order window: composes up to five sort priorities and keeps them in
// a sort file (*.qry). Works on sort files only; no setting changes here.
#include <QDialog>
#include <cstdint>

#include "ui/UiServices.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QShowEvent;
class QToolButton;

class TfrmQuery : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmQuery(QWidget* owner);

  // Controls, in declaration order (public so that tests can reach them).
  ui::FileDialogSpec dlgSave;
  ui::FileDialogSpec dlgOpen;
  QLabel* lblInsturctions = nullptr;
  QLabel* lblPriority1 = nullptr;
  QLabel* lblPriority2 = nullptr;
  QLabel* lblPriority3 = nullptr;
  QLabel* lblPriority4 = nullptr;
  QLabel* lblPriority5 = nullptr;
  QComboBox* cbxPriority1 = nullptr;
  QComboBox* cbxPriority2 = nullptr;
  QComboBox* cbxPriority3 = nullptr;
  QComboBox* cbxPriority4 = nullptr;
  QComboBox* cbxPriority5 = nullptr;
  // "Descending" beside each list, and the batch printed last label first.
  QCheckBox* chkDescending1 = nullptr;
  QCheckBox* chkDescending2 = nullptr;
  QCheckBox* chkDescending3 = nullptr;
  QCheckBox* chkDescending4 = nullptr;
  QCheckBox* chkDescending5 = nullptr;
  QCheckBox* chkReverse = nullptr;
  QLabel* lblFileName = nullptr;
  QLineEdit* txtFileName = nullptr;
  QLabel* lblSaveAs = nullptr;
  QToolButton* btnSave = nullptr;
  QLabel* lblOpenAs = nullptr;
  QToolButton* btnOpen = nullptr;
  QPushButton* btnClose = nullptr;

  void FormShow();
  void btnSaveClick();
  void btnOpenClick();
  void btnCloseClick();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  // Keys[1..5]: a sort field code or -1 for none; Keys[0] is unused.
  int32_t Keys[6] = {-1, -1, -1, -1, -1, -1};
  // Desc[i]: key i sorts descending; Desc[0] is unused.
  bool Desc[6] = {};

  QComboBox* Priority(int i) const;      // 1..5
  QCheckBox* Descending(int i) const;    // 1..5
  void ClearKeys();
  void FillSortCombo(QComboBox* list, int code);
};
