// The zone editor's mark on provinces with postal lines in no zone.
#include <QHelpEvent>
#include <QListView>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QToolTip>

#include "geo/uXCoverage.h"
#include "platform/text.h"
#include "ui/fZone.h"
#include "ui/fZoneCoverage.h"

namespace {

constexpr int kMarkSize = 14;

// A warning triangle; unmarked lines get a blank one of the same size so that
// the texts stay aligned.
const QIcon& MarkIcon(bool marked) {
  static const QIcon icons[2] = {
      [] {
        QPixmap pm(kMarkSize, kMarkSize);
        pm.fill(Qt::transparent);
        return QIcon(pm);
      }(),
      [] {
        QPixmap pm(kMarkSize, kMarkSize);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath tri;
        tri.moveTo(kMarkSize / 2.0, 1);
        tri.lineTo(kMarkSize - 1, kMarkSize - 1.5);
        tri.lineTo(1, kMarkSize - 1.5);
        tri.closeSubpath();
        p.setPen(QPen(QColor(150, 90, 0), 1));
        p.setBrush(QColor(250, 190, 40));
        p.drawPath(tri);
        p.setPen(QPen(Qt::black, 1.6));
        p.drawLine(QPointF(kMarkSize / 2.0, 5), QPointF(kMarkSize / 2.0, 8.5));
        p.drawPoint(QPointF(kMarkSize / 2.0, 10.8));
        return QIcon(pm);
      }(),
  };
  return icons[marked ? 1 : 0];
}

}  // namespace

const char* const TUncoveredMark::ToolTip = "Some postal lines of this province or state are in no zone.";

bool TUncoveredMark::Marks(const QModelIndex& index) const {
  return Active() && FLines.contains(index.data(Qt::DisplayRole).toString());
}

void TUncoveredMark::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
  TAreaLineDelegate::initStyleOption(option, index);
  if (!Active()) return;
  const bool marked = Marks(index);
  option->features |= QStyleOptionViewItem::HasDecoration;
  option->icon = MarkIcon(marked);
  option->decorationSize = QSize(kMarkSize, kMarkSize);
  if (marked) option->palette.setColor(QPalette::Text, QColor(160, 0, 0));
}

bool TUncoveredMark::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                               const QModelIndex& index) {
  if (event && event->type() == QEvent::ToolTip && Marks(index)) {
    QToolTip::showText(event->globalPos(), QString::fromLatin1(ToolTip), view);
    return true;
  }
  return TAreaLineDelegate::helpEvent(event, view, option, index);
}

void TfrmZone::RefreshCoverage() {
  TZoneArray zones;
  LoadZones(zones);
  const TZoneCoverage coverage = ComputeZoneCoverage(FEdit.Provinces(), zones);
  FreeZones(zones);
  // Summary lines: the name, and the name with the partial sign.
  QSet<QString> lines;
  for (const auto& p : FEdit.Provinces()) {
    if (!coverage.UncoveredProvinces.count(p->Province)) continue;
    lines.insert(QString::fromUtf8(plat::Cp1252ToUtf8(p->Name)));
    lines.insert(QString::fromUtf8(plat::Cp1252ToUtf8(p->Name + " \xb1")));
  }
  for (QListView* view : {lbxZoneList, lbxAvailList}) {
    auto* mark = qobject_cast<TUncoveredMark*>(view->itemDelegate());
    if (!mark) continue;
    mark->SetLines(lines);
    mark->SetActive([this] { return tabMode->currentIndex() == TabSummary; });
    view->viewport()->update();
  }
}
