// The two area lists of the zone editor and the by Selection moves.
#include <QItemSelectionModel>
#include <QListView>
#include <QTabBar>
#include <QToolButton>

#include <algorithm>

#include "platform/text.h"
#include "ui/UiServices.h"
#include "ui/fZone.h"

namespace {

// Rows of the selected lines, top down.
std::vector<int> SelectedRows(QListView* view) {
  std::vector<int> rows;
  const QItemSelection sel = view->selectionModel()->selection();
  for (const QItemSelectionRange& r : sel) {
    for (int row = r.top(); row <= r.bottom(); ++row) rows.push_back(row);
  }
  std::sort(rows.begin(), rows.end());
  rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
  return rows;
}

}  // namespace

// ---------------------------------------------------------------------------
// TAreaListModel

int TAreaListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(FLines.size());
}

QVariant TAreaListModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= static_cast<int>(FLines.size())) return QVariant();
  // The whole line as a tooltip: long Detail lines do not fit the list's width.
  if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
    return QString::fromUtf8(plat::Cp1252ToUtf8(FLines[static_cast<size_t>(index.row())]));
  }
  return QVariant();
}

void TAreaListModel::Reset() {
  beginResetModel();
  FLongest = -1;
  for (size_t i = 0; i < FLines.size(); ++i) {
    if (FLongest < 0 || FLines[i].size() > FLines[static_cast<size_t>(FLongest)].size()) FLongest = static_cast<int>(i);
  }
  endResetModel();
}

QSize TAreaLineDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
  QSize size = QStyledItemDelegate::sizeHint(option, index);
  const int longest = FModel->LongestRow();
  if (longest >= 0 && longest != index.row()) {
    // Same padding as the measured line, text width of the longest.
    const QFontMetrics fm(option.font);
    const QString own = index.data(Qt::DisplayRole).toString();
    const QString wide = FModel->index(longest).data(Qt::DisplayRole).toString();
    const int extra = fm.horizontalAdvance(wide) - fm.horizontalAdvance(own);
    if (extra > 0) size.setWidth(size.width() + extra);
  }
  return size;
}

// ---------------------------------------------------------------------------
// Building the lists

void TfrmZone::ShowLists() {
  FZoneModel->Reset();
  FAvailModel->Reset();
}

void TfrmZone::FillAreaLists() {
  FEdit.FillAreaLists();
  ShowLists();
}

void TfrmZone::tabModeChange() {
  ui::Ui().SetWaitCursor();
  FEdit.SetView(tabMode->currentIndex() == TabDetail ? TAreaView::Detail : TAreaView::Summary);
  FillAreaLists();
  ui::Ui().RestoreCursor();
}

// ---------------------------------------------------------------------------
// by Selection

void TfrmZone::btnSelectClick() {
  const bool in = sender() == btnAddSel;
  QListView* source = in ? lbxAvailList : lbxZoneList;
  FEdit.MoveSelection(in, source->currentIndex().isValid(), SelectedRows(source));
  ShowLists();
}
