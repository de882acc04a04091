#pragma once
// The zone editor: one zone at a time, its code and name, and the areas it
// covers, moved between "In the Zone ..." and "Available ..." lists.
#include <QAbstractListModel>
#include <QDialog>

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "geo/uXArea.h"
#include "geo/uXZone.h"

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

// The lines of one area list. Lines are kept as Windows-1252 bytes and turned
// into display text only when the view asks, so tens of thousands of lines
// cost one bulk reset instead of one widget item each.
class TAreaListModel : public QAbstractListModel {
 public:
  using QAbstractListModel::QAbstractListModel;
  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  // Replaces every line; sorts them alphabetically without regard to case (a..z).
  void SetLines(std::vector<std::string>&& lines);
  const std::string& Line(int row) const { return FLines[static_cast<size_t>(row)]; }
  int Count() const { return static_cast<int>(FLines.size()); }

 private:
  std::vector<std::string> FLines;
};

class TfrmZone : public QDialog {
  Q_OBJECT

 public:
  explicit TfrmZone(QWidget* owner);
  ~TfrmZone() override;

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

  static constexpr int TabDetail = 0;
  static constexpr int TabSummary = 1;

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
  friend class TfrmZoneTestAccess;  // tests and the benchmark reach the state through it

  void BuildControls();
  void BuildMovePages();
  void BuildAreaLists();

  void FormShow();
  void FormHide();
  void lbxZoneKeyPress(int key);
  void lbxZoneExit();

  void EnableEditing(bool enabled);
  void ClearFields();
  void LoadZone(const std::string& code);
  void FillCodeDropDown(int index);
  void FillAreaLists();
  void EndAdding();
  bool AskGoBack();
  int IndexOfCode(const std::string& code) const;
  bool ValidateZone(TStringList& errors);
  void StoreFields();

  void Navigate(int which);
  void ClosePage();
  void OpenPage(QWidget* page, bool moveIn, QWidget* firstInput);
  void SetStatus(const std::string& text);
  std::string CodeAt(int index) const;
  std::string ZoneText() const;
  std::string NameText() const;
  void SetZoneText(const std::string& text);
  void SetNameText(const std::string& text);
  void IndexProvinces();
  int ProvinceOfName(const std::string& name) const;
  int FirstEntryIndex(const std::string& province) const;
  TProvince* FirstEntry(const std::string& province) const;
  void MakeWhole(const TProvince& province);
  void RemoveFirstEntry(const std::string& province);
  TProvince* AppendEntry(const TProvince& province);
  // Marks the Summary lines of provinces with postal lines in no stored zone;
  // run whenever the stored zones may have changed.
  void RefreshCoverage();
  void MoveSelectionSummary(const std::vector<int>& rows, QListView* source);
  void MoveSelectionDetail(const std::vector<int>& rows, QListView* source);
  // Moves the postal lines of every province that pass the test (City and Match pages).
  template <class Pred>
  void MoveLines(Pred matches);

  std::string FOrigCode;
  std::unique_ptr<TZone> FZone;
  std::unique_ptr<TStringList> FCodes;
  int32_t FIndex = -1;
  TProvinceArray FProvinces;
  bool FAdding = false;
  bool FChanged = false;
  bool FMoveIn = false;

  // A save that failed half-way: the old record of a changed code may already
  // be removed (FOrigRemoved), and the Zones row of FPendingCode may already be
  // written. A retry must neither remove again nor append a second row.
  bool FOrigRemoved = false;
  std::string FPendingCode;
  bool FShown = false;
  bool FChoosing = false;      // lbxZone is dropped down
  bool FFillingDropDown = false;
  TAreaListModel* FZoneModel;
  TAreaListModel* FAvailModel;
  // Upper-cased postal code -> (province, line) of its first occurrence in FProvinces.
  std::unordered_map<std::string, std::pair<int, int>> FCodeIndex;
  std::unordered_map<std::string, int> FNameIndex;  // province name -> first province
};
