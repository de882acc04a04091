// The move pages of the zone editor: by Longitude, Province, City and Match.
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>

#include "ui/fZone.h"
#include "ui/QtText.h"

void TfrmZone::OpenPage(QWidget* page, bool moveIn, QWidget* firstInput) {
  FEdit.SetMoveIn(moveIn);
  const int own = pagMove->indexOf(page);
  for (int i = 0; i < pagMove->count(); ++i) pagMove->setTabVisible(i, i == own);
  pagMove->setCurrentIndex(own);
  pagMove->show();
  firstInput->setFocus(Qt::OtherFocusReason);
}

void TfrmZone::btnAreaClick() { OpenPage(tabArea, sender() == btnAddArea, optMovEast); }
void TfrmZone::btnProvClick() { OpenPage(tabProv, sender() == btnAddProv, cbxMovProv); }
void TfrmZone::btnCityClick() { OpenPage(tabCity, sender() == btnAddCity, cbxMovCity); }
void TfrmZone::btnMatchClick() { OpenPage(tabMatch, sender() == btnAddMatch, txtMovMatch); }
void TfrmZone::btnMovCancelClick() { ClosePage(); }

void TfrmZone::btnMovAreaClick() {
  // The text as it stands; anything that is not a whole number counts as 0.
  bool ok = false;
  int64_t n = speMovArea->cleanText().trimmed().toLongLong(&ok);
  if (!ok) n = 0;
  if (FEdit.MoveByLongitude(n, optMovEast->isChecked())) ShowLists();
  ClosePage();
}

void TfrmZone::btnMovProvClick() {
  if (FEdit.MoveByProvince(S(cbxMovProv->currentText()))) ShowLists();
  ClosePage();
}

void TfrmZone::btnMovCityClick() {
  if (FEdit.MoveByCity(S(cbxMovCity->currentText()))) ShowLists();
  ClosePage();
}

void TfrmZone::btnMovMatchClick() {
  if (FEdit.MoveByMatch(S(txtMovMatch->text()))) ShowLists();
  ClosePage();
}
