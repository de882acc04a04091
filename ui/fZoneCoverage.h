#pragma once
// Marks, in the zone editor's Summary view, the provinces and states that have
// postal lines no stored zone takes: packages there would sort before every
// zoned one, so the user should see it while editing zones.
#include <QSet>
#include <QString>
#include <functional>

#include "ui/fZone.h"

class TUncoveredMark : public TAreaLineDelegate {
  Q_OBJECT

 public:
  using TAreaLineDelegate::TAreaLineDelegate;
  // The list lines (display texts) to mark.
  void SetLines(QSet<QString> lines) { FLines = std::move(lines); }
  // Marks only while this says so (the Summary view).
  void SetActive(std::function<bool()> active) { FActive = std::move(active); }
  bool Marks(const QModelIndex& index) const;

  static const char* const ToolTip;

 protected:
  void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
  bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                 const QModelIndex& index) override;

 private:
  bool Active() const { return !FLines.isEmpty() && (!FActive || FActive()); }
  QSet<QString> FLines;
  std::function<bool()> FActive;
};
