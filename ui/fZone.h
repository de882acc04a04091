#pragma once
// The zone editor: one zone at a time, its code and name, and the areas it
// covers, moved between "In the Zone ..." and "Available ..." lists.
#include <QAbstractListModel>
#include <QDialog>
#include <QStyledItemDelegate>

#include <string>
#include <vector>

#include "geo/uZoneEdit.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QStatusBar;
class QTabBar;
class QTabWidget;
class QToolButton;

// One area list of the zone being edited, shown as it stands in the editing
// state. Lines stay Windows-1252 bytes there and become display text only when
// the view asks, so tens of thousands of lines cost one reset, not one widget
// item each.
class TAreaListModel : public QAbstractListModel {
 public:
  TAreaListModel(const std::vector<std::string>& lines, QObject* parent)
      : QAbstractListModel(parent), FLines(lines) {}
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  // The lines were rebuilt: the view reads them again.
  void Reset();
  const std::string& Line(int row) const { return FLines[static_cast<size_t>(row)]; }
  int Count() const { return static_cast<int>(FLines.size()); }
  // The row of the line with the most characters, -1 for an empty list.
  int LongestRow() const { return FLongest; }

 private:
  const std::vector<std::string>& FLines;
  int FLongest = -1;
};

// Area lines are measured by the longest one, so that with uniform line
// sizes the list still scrolls sideways far enough to show every line whole.
class TAreaLineDelegate : public QStyledItemDelegate {
 public:
  TAreaLineDelegate(const TAreaListModel* model, QObject* parent) : QStyledItemDelegate(parent), FModel(model) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

 private:
  const TAreaListModel* FModel;
};

class TfrmZone : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmZone(QWidget* owner);
  ~TfrmZone() override;


  static constexpr int TabDetail = 0;
  static constexpr int TabSummary = 1;

  // The editing state the window shows. A caller that changes it directly
  // (the benchmark) calls ShowLists to render the lists again.
  TZoneEdit& Editor() { return FEdit; }
  const TZoneEdit& Editor() const { return FEdit; }
  void ShowLists();

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private slots:
  void txtZoneChange();
  void txtNameChange();
  void btnZoneClick();
  void lbxZoneClick();
  void lbxZoneDblClick();
  void btnAddClick();
  void btnSaveClick();
  void btnDeleteClick();
  void btnCloseClick();
  void btnFirstClick();
  void btnPrevClick();
  void btnNextClick();
  void btnLastClick();
  void tabModeChange();
  void btnSelectClick();
  void btnAreaClick();
  void btnProvClick();
  void btnCityClick();
  void btnMatchClick();
  void btnMovAreaClick();
  void btnMovProvClick();
  void btnMovCityClick();
  void btnMovMatchClick();
  void btnMovCancelClick();

 private:
  // Controls, each also found by its object name (the tests do so).
  // Record part
  QFrame* panZone;
  QLabel* lblZone;
  QLineEdit* txtZone;
  QToolButton* btnZone;
  QListWidget* lbxZone;
  QLabel* lblName;
  QLineEdit* txtName;
  QPushButton* btnAdd;
  QPushButton* btnSave;
  QPushButton* btnDelete;
  QPushButton* btnClose;
  QPushButton* btnFirst;
  QPushButton* btnPrev;
  QPushButton* btnNext;
  QPushButton* btnLast;

  // Move pages
  QTabWidget* pagMove;
  QWidget* tabArea;
  QRadioButton* optMovEast;
  QRadioButton* optMovWest;
  QSpinBox* speMovArea;
  QLabel* lblMovArea;
  QPushButton* btnMovAreaO;
  QPushButton* btnMovAreaC;
  QWidget* tabProv;
  QLabel* lblMovProv;
  QComboBox* cbxMovProv;
  QPushButton* btnMovProvO;
  QPushButton* btnMovProvC;
  QWidget* tabCity;
  QLabel* lblMovCity;
  QComboBox* cbxMovCity;
  QPushButton* btnMovCityO;
  QPushButton* btnMovCityC;
  QWidget* tabMatch;
  QLabel* lblMovMatch;
  QLineEdit* txtMovMatch;
  QPushButton* btnMovMatchO;
  QPushButton* btnMovMatchC;

  // Area lists
  QTabBar* tabMode;
  QFrame* tabModeBody;
  QFrame* panZoneList;
  QLabel* lblZoneList;
  QListView* lbxZoneList;
  QFrame* panAvailList;
  QLabel* lblAvailList;
  QListView* lbxAvailList;
  QLabel* lblBySel;
  QToolButton* btnAddSel;
  QToolButton* btnDelSel;
  QLabel* lblByArea;
  QToolButton* btnAddArea;
  QToolButton* btnDelArea;
  QLabel* lblByProv;
  QToolButton* btnAddProv;
  QToolButton* btnDelProv;
  QLabel* lblByCity;
  QToolButton* btnAddCity;
  QToolButton* btnDelCity;
  QLabel* lblByMatch;
  QToolButton* btnAddMatch;
  QToolButton* btnDelMatch;

  QStatusBar* stbMain;
  QLabel* stbPanel;  // the bar's single text panel

  void BuildControls();
  void BuildMovePages();
  void BuildAreaLists();
  void BuildLayout();

  void FormShow();
  void FormHide();
  void lbxZoneKeyPress(int key);
  void lbxZoneExit();

  void EnableEditing(bool enabled);
  void ClearFields();
  void LoadZone(const std::string& code);
  // Marks the Summary lines of provinces with postal lines in no stored zone;
  // run whenever the stored zones may have changed.
  void RefreshCoverage();
  void FillCodeDropDown(int index);
  void FillAreaLists();
  void EndAdding();
  bool AskGoBack();

  void Navigate(int which);
  void ClosePage();
  void OpenPage(QWidget* page, bool moveIn, QWidget* firstInput);
  void SetStatus(const std::string& text);
  std::string ZoneText() const;
  std::string NameText() const;
  void SetZoneText(const std::string& text);
  void SetNameText(const std::string& text);

  TZoneEdit FEdit;
  bool FShown = false;
  bool FChoosing = false;      // lbxZone is dropped down
  bool FFillingDropDown = false;
  TAreaListModel* FZoneModel;
  TAreaListModel* FAvailModel;
};
