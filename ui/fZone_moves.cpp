// The move pages of the zone editor: by Longitude, Province, City and Match.
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QToolButton>

#include <unordered_map>
#include <unordered_set>

#include "platform/text.h"
#include "ui/fZone.h"
#include "ui/QtText.h"

namespace {


}  // namespace

void TfrmZone::OpenPage(QWidget* page, bool moveIn, QWidget* firstInput) {
  FMoveIn = moveIn;
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
  const bool east = optMovEast->isChecked();
  if (n > 0 && FZone) {
    FChanged = true;
    for (const auto& pp : FProvinces) {
      const TProvince& p = *pp;
      const int64_t pos = p.Country == "CA" ? int64_t{p.Sequence} : int64_t{p.Sequence} + 13;
      const bool taken = east ? pos < n : 64 - pos < n;
      if (!taken) continue;
      if (FMoveIn) MakeWhole(p);
      else RemoveFirstEntry(p.Province);
    }
    FillAreaLists();
  }
  ClosePage();
}

void TfrmZone::btnMovProvClick() {
  const std::string code = plat::UpperAZ(plat::Trim(S(cbxMovProv->currentText())));
  if (!code.empty() && FZone) {
    FChanged = true;
    const int first = FirstEntryIndex(code);
    if (FMoveIn) {
      if (first >= 0) {
        FZone->GetProvince(first)->Areas.clear();
        FZone->GetProvince(first)->AreasTo.clear();
      } else {
        for (const auto& p : FProvinces) {
          if (p->Province == code) AppendEntry(*p);
        }
      }
    } else if (first >= 0) {
      FZone->DeleteProvince(first);
    }
    FillAreaLists();
  }
  ClosePage();
}

// Moves every postal line that the test accepts into or out of the zone,
// province by province. An entry covering a whole province with no listed
// codes stays whole when lines move in, and becomes partial (all its other
// lines) when lines move out.
template <class Pred>
void TfrmZone::MoveLines(Pred matches) {
  for (const auto& pp : FProvinces) {
    const TProvince& p = *pp;
    const bool ca = p.Country == "CA";
    std::vector<size_t> hits;
    for (size_t j = 0; j < p.Areas.size(); ++j) {
      if (matches(p, j)) hits.push_back(j);
    }
    if (hits.empty()) continue;
    TProvince* e = FirstEntry(p.Province);
    auto rangeEnd = [&](size_t j) { return j < p.AreasTo.size() ? p.AreasTo[j] : std::string(); };

    if (FMoveIn) {
      bool created = false;
      if (!e) {
        e = AppendEntry(p);
        created = true;
      }
      if (e->Areas.empty() && !created) continue;  // already the whole province
      std::unordered_set<std::string> have;
      for (const std::string& a : e->Areas) have.insert(plat::UpperAZ(a));
      for (size_t j : hits) {
        if (!have.insert(plat::UpperAZ(p.Areas[j])).second) continue;
        e->Areas.push_back(p.Areas[j]);
        if (ca) e->AreasTo.push_back(rangeEnd(j));
      }
      continue;
    }

    if (!e) continue;
    bool deleted = false;
    if (e->Areas.empty()) {
      std::vector<char> hit(p.Areas.size(), 0);
      for (size_t j : hits) hit[j] = 1;
      for (size_t j = 0; j < p.Areas.size(); ++j) {
        if (hit[j]) {
          deleted = true;
          continue;
        }
        e->Areas.push_back(p.Areas[j]);
        if (ca) e->AreasTo.push_back(rangeEnd(j));
      }
    } else {
      // One deletion per matching line, each taking the first occurrence left.
      std::unordered_map<std::string, int> want;
      for (size_t j : hits) ++want[plat::UpperAZ(p.Areas[j])];
      TStringList areas;
      TStringList to;
      const bool hasTo = !e->AreasTo.empty();
      for (size_t k = 0; k < e->Areas.size(); ++k) {
        auto it = want.find(plat::UpperAZ(e->Areas[k]));
        if (it != want.end() && it->second > 0) {
          --it->second;
          deleted = true;
          continue;
        }
        areas.push_back(e->Areas[k]);
        if (k < e->AreasTo.size()) to.push_back(e->AreasTo[k]);
      }
      for (size_t k = e->Areas.size(); k < e->AreasTo.size(); ++k) to.push_back(e->AreasTo[k]);
      e->Areas = std::move(areas);
      if (hasTo) e->AreasTo = std::move(to);
    }
    // e is the first entry of its province, so this removes e itself.
    if (deleted && e->Areas.empty()) RemoveFirstEntry(p.Province);
  }
}

void TfrmZone::btnMovCityClick() {
  const std::string city = plat::UpperAZ(plat::Trim(S(cbxMovCity->currentText())));
  if (!city.empty() && FZone) {
    FChanged = true;
    MoveLines([&](const TProvince& p, size_t j) { return j < p.Towns.size() && plat::UpperAZ(p.Towns[j]) == city; });
    FillAreaLists();
  }
  ClosePage();
}

void TfrmZone::btnMovMatchClick() {
  const std::string start = plat::UpperAZ(plat::Trim(S(txtMovMatch->text())));
  if (!start.empty() && FZone) {
    FChanged = true;
    MoveLines([&](const TProvince& p, size_t j) { return plat::UpperAZ(p.Areas[j]).compare(0, start.size(), start) == 0; });
    FillAreaLists();
  }
  ClosePage();
}
