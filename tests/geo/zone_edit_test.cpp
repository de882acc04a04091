#include "geo/uZoneEdit.h"

#include <functional>
#include <sstream>

#include "geo_env.h"
#include "tests/fault_points.h"

namespace {

using Strings = std::vector<std::string>;
const std::string PM = std::string(" ") + static_cast<char>(177);

// A small geography: a town in two provinces, a province without postal
// lines, a US state.
TProvinceArray Geography() {
  struct Line { const char* prov; const char* from; const char* to; const char* town; };
  static const Line lines[] = {
      {"NS", "B3L1P5", "B3L5Z9", "HALIFAX"}, {"NS", "B4A1A1", "B4A9Z9", "DARTMOUTH"},
      {"QC", "J4M2T6", "J4M6Z9", "BARRIE"},  {"ON", "K1A0A0", "K1A9Z9", "OTTAWA"},
      {"ON", "K1B1A1", "K1B9Z9", "OTTAWA"},  {"ON", "L9M9J6", "L9M9Z9", "BARRIE"},
      {"NY", "10001", "", "NEW YORK"},       {"NY", "14201", "", "BUFFALO"},
  };
  struct Prov { const char* country; const char* code; int seq; const char* name; };
  static const Prov provs[] = {{"CA", "NS", 2, "Nova Scotia"}, {"CA", "QC", 5, "Quebec"}, {"CA", "ON", 6, "Ontario"},
                               {"CA", "NU", 11, "Nunavut"},    {"US", "NY", 103, "New York"}};
  TProvinceArray out;
  for (const Prov& p : provs) {
    auto t = std::make_unique<TProvince>();
    t->Country = p.country;
    t->Province = p.code;
    t->Sequence = p.seq;
    t->Name = p.name;
    for (const Line& l : lines) {
      if (t->Province != l.prov) continue;
      t->Areas.push_back(l.from);
      if (t->Country == "CA") t->AreasTo.push_back(l.to);
      t->Towns.push_back(l.town);
    }
    out.push_back(std::move(t));
  }
  return out;
}

// Entries as "ON:K1A0A0>K1A9Z9,L9M9J6>L9M9Z9 NY:" (no codes: the whole province).
void SetEntries(TZone& z, const std::string& text) {
  z.Provinces.clear();
  std::istringstream in(text);
  std::string item;
  while (in >> item) {
    auto e = std::make_unique<TProvince>();
    e->Province = item.substr(0, 2);
    e->Country = e->Province == "NY" ? "US" : "CA";
    std::istringstream codes(item.substr(3));
    std::string c;
    while (std::getline(codes, c, ',')) {
      const size_t gt = c.find('>');
      e->Areas.push_back(c.substr(0, gt));
      if (gt != std::string::npos) e->AreasTo.push_back(c.substr(gt + 1));
    }
    z.Provinces.push_back(std::move(e));
  }
}

std::string Entries(const TZone& z) {
  std::string out;
  for (int i = 0; i < z.ProvinceCount(); ++i) {
    const TProvince& e = *z.GetProvince(i);
    out += (out.empty() ? "" : " ") + e.Province + ":";
    for (size_t k = 0; k < e.Areas.size(); ++k) {
      out += (k ? "," : "") + e.Areas[k];
      if (k < e.AreasTo.size()) out += ">" + e.AreasTo[k];
    }
  }
  return out;
}

// Rows of the lines that start with any of the texts, in the list moved from.
std::vector<int> Rows(const TZoneEdit& e, bool moveIn, const Strings& starts) {
  const Strings& lines = moveIn ? e.AvailLines() : e.ZoneLines();
  std::vector<int> rows;
  for (size_t i = 0; i < lines.size(); ++i) {
    for (const std::string& s : starts) {
      if (lines[i].rfind(s, 0) == 0) {
        rows.push_back(static_cast<int>(i));
        break;
      }
    }
  }
  return rows;
}

void OpenOn(TZoneEdit& e, const std::string& entries, TAreaView view) {
  e.OpenWith(Geography(), {});
  SetEntries(e.Zone(), entries);
  e.SetView(view);
  e.FillAreaLists();
}

}  // namespace

TEST(ZoneEdit, ListsInBothViews) {
  struct Case {
    TAreaView view;
    const char* entries;
    Strings in, avail;
  } cases[] = {
      // Sorted without regard to case; a partial province stands in both lists;
      // an entry of no known province shows nowhere; Nunavut has no postal line.
      {TAreaView::Summary, "ON:K1A0A0>K1A9Z9 NY: XX:X", {"New York", "Ontario" + PM},
       {"Nova Scotia", "Nunavut", "Ontario" + PM, "Quebec"}},
      {TAreaView::Detail, "ON:k1a0a0>K1A9Z9 NY:", {"10001, NEW YORK, New York", "14201, BUFFALO, New York",
                                                   "K1A0A0, OTTAWA, Ontario"},
       {"B3L1P5, HALIFAX, Nova Scotia", "B4A1A1, DARTMOUTH, Nova Scotia", "J4M2T6, BARRIE, Quebec",
        "K1B1A1, OTTAWA, Ontario", "L9M9J6, BARRIE, Ontario"}},
      // Every line listed counts as the whole province.
      {TAreaView::Summary, "QC:J4M2T6>J4M6Z9", {"Quebec"}, {"New York", "Nova Scotia", "Nunavut", "Ontario"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries);
    TZoneEdit e;
    OpenOn(e, c.entries, c.view);
    EXPECT_EQ(e.ZoneLines(), c.in);
    EXPECT_EQ(e.AvailLines(), c.avail);
  }
}

TEST(ZoneEdit, Moves) {
  using Act = std::function<void(TZoneEdit&)>;
  auto select = [](bool in, Strings starts) {
    return [in, starts](TZoneEdit& e) { e.MoveSelection(in, true, Rows(e, in, starts)); };
  };
  auto page = [](bool in, std::function<bool(TZoneEdit&)> move) {
    return [in, move](TZoneEdit& e) {
      e.SetMoveIn(in);
      move(e);
    };
  };
  struct Case {
    const char* name;
    TAreaView view;
    const char* before;
    Act act;
    const char* after;
    bool changed;
  } cases[] = {
      {"summary add whole", TAreaView::Summary, "ON:K1A0A0>K1A9Z9", select(true, {"Quebec", "Nunavut"}),
       "ON:K1A0A0>K1A9Z9 NU: QC:", true},
      {"summary add partial makes whole", TAreaView::Summary, "NY: ON:K1A0A0>K1A9Z9", select(true, {"Ontario"}),
       "NY: ON:", true},
      {"summary remove partial", TAreaView::Summary, "ON:K1A0A0>K1A9Z9 NY:", select(false, {"Ontario"}), "NY:", true},
      {"no current line", TAreaView::Summary, "ON:",
       [](TZoneEdit& e) { e.MoveSelection(true, false, Rows(e, true, {"Quebec"})); }, "ON:", false},
      {"current line, none selected", TAreaView::Summary, "ON:", [](TZoneEdit& e) { e.MoveSelection(true, true, {}); },
       "ON:", true},
      {"detail add with range end", TAreaView::Detail, "ON:K1A0A0>K1A9Z9 NY:10001",
       select(true, {"L9M9J6", "14201"}), "ON:K1A0A0>K1A9Z9,L9M9J6>L9M9Z9 NY:10001,14201", true},
      {"detail add creates entry", TAreaView::Detail, "", select(true, {"J4M2T6"}), "QC:J4M2T6>J4M6Z9", true},
      {"detail remove last code", TAreaView::Detail, "QC:J4M2T6>J4M6Z9 NY:", select(false, {"J4M2T6"}), "NY:", true},
      {"detail remove from whole", TAreaView::Detail, "ON:", select(false, {"K1B1A1"}),
       "ON:K1A0A0>K1A9Z9,L9M9J6>L9M9Z9", true},
      {"longitude east", TAreaView::Summary, "ON:K1A0A0>K1A9Z9",
       page(true, [](TZoneEdit& e) { return e.MoveByLongitude(7, true); }), "ON: NS: QC:", true},
      {"longitude zero", TAreaView::Summary, "ON:", page(true, [](TZoneEdit& e) { return e.MoveByLongitude(0, true); }),
       "ON:", false},
      {"longitude west out", TAreaView::Summary, "NY: NU: ON:",
       page(false, [](TZoneEdit& e) { return e.MoveByLongitude(1, false); }), "NU: ON:", true},
      {"longitude takes all", TAreaView::Summary, "",
       page(true, [](TZoneEdit& e) { return e.MoveByLongitude(INT64_MAX, true); }), "NS: QC: ON: NU: NY:", true},
      {"province lower case out", TAreaView::Summary, "ON:K1A0A0>K1A9Z9 NY:",
       page(false, [](TZoneEdit& e) { return e.MoveByProvince(" on "); }), "NY:", true},
      {"province unknown", TAreaView::Summary, "ON:",
       page(true, [](TZoneEdit& e) { return e.MoveByProvince("zz"); }), "ON:", true},
      {"province blank", TAreaView::Summary, "ON:",
       page(true, [](TZoneEdit& e) { return e.MoveByProvince("  "); }), "ON:", false},
      {"city in two provinces", TAreaView::Summary, "ON:K1A0A0>K1A9Z9",
       page(true, [](TZoneEdit& e) { return e.MoveByCity(" barrie "); }),
       "ON:K1A0A0>K1A9Z9,L9M9J6>L9M9Z9 QC:J4M2T6>J4M6Z9", true},
      {"city not doubled, whole stays whole", TAreaView::Summary, "ON:K1A0A0>K1A9Z9 NS:",
       page(true, [](TZoneEdit& e) { return e.MoveByCity("Ottawa") && e.MoveByCity("halifax"); }),
       "ON:K1A0A0>K1A9Z9,K1B1A1>K1B9Z9 NS:", true},
      {"city out of whole keeps the rest", TAreaView::Summary, "ON:",
       page(false, [](TZoneEdit& e) { return e.MoveByCity("ottawa"); }), "ON:L9M9J6>L9M9Z9", true},
      {"city out takes last code", TAreaView::Summary, "QC:J4M2T6>J4M6Z9",
       page(false, [](TZoneEdit& e) { return e.MoveByCity("BARRIE"); }), "", true},
      {"match in", TAreaView::Summary, "", page(true, [](TZoneEdit& e) { return e.MoveByMatch("k1"); }),
       "ON:K1A0A0>K1A9Z9,K1B1A1>K1B9Z9", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TZoneEdit e;
    OpenOn(e, c.before, c.view);
    c.act(e);
    EXPECT_EQ(Entries(e.Zone()), c.after);
    EXPECT_EQ(e.Changed(), c.changed);
  }
}

TEST(ZoneEdit, ListsFollowEveryMoveAndTheView) {
  TZoneEdit e;
  OpenOn(e, "ON:K1A0A0>K1A9Z9", TAreaView::Summary);
  e.SetMoveIn(true);
  ASSERT_TRUE(e.MoveByProvince("QC"));
  EXPECT_EQ(e.ZoneLines(), (Strings{"Ontario" + PM, "Quebec"}));
  e.SetView(TAreaView::Detail);
  e.FillAreaLists();
  EXPECT_EQ(e.ZoneLines(), (Strings{"J4M2T6, BARRIE, Quebec", "K1A0A0, OTTAWA, Ontario"}));
  // Editing the code back to the loaded one is no edit; the name always is.
  e.SetChanged(false);
  e.Zone().Zone = "E1";
  e.CodeEdited(" E1 ");
  EXPECT_FALSE(e.Changed());
  e.CodeEdited("E2");
  EXPECT_TRUE(e.Changed());
}

// Saving against real zone tables, with every file operation of the save
// failing in turn: whatever the failure, a retry stores the zone exactly once
// and the old code is gone.
class ZoneEditSave : public GeoEnv {
 protected:
  void MakeTables() {
    std::filesystem::remove(dir / "Zones.dbf");
    std::filesystem::remove(dir / "Zones.cdx");
    std::filesystem::remove(dir / "AreaToZone.dbf");
    std::filesystem::remove(dir / "AreaToZone.cdx");
    Create("Zones", {{"ZONE", 'C', 9, 0}, {"NAME", 'C', 40, 0}}, {{{"ZONE", "OLD"}, {"NAME", "Old"}}},
           {TAG4INFO{"ZONE", "ZONE", "", 0, 0}, TAG4INFO{}});
    Create("AreaToZone", {{"ZONE", 'C', 9, 0}, {"AREA", 'C', 10, 0}, {"AREA_TO", 'C', 10, 0}},
           {{{"ZONE", "OLD"}, {"AREA", "CAQC******"}, {"AREA_TO", ""}}},
           {TAG4INFO{"ZONE", "ZONE", "", 0, 0}, TAG4INFO{}});
  }
  void Open(TZoneEdit& e) {
    TStringList codes;
    LoadZoneCodes(codes);
    e.OpenWith(Geography(), codes);
    e.LoadZone(codes.front());
  }
  // The rows that belong to a zone; a row whose code could not be written
  // belongs to none.
  Strings Stored() {
    Strings out;
    for (const char* t : {"Zones", "AreaToZone"}) {
      const Strings codes = Rows(t, {"zone"});
      const Strings rest = Rows(t, {std::string(t) == "Zones" ? "name" : "area"});
      for (size_t i = 0; i < codes.size(); ++i) {
        if (!codes[i].empty()) out.push_back(codes[i] + "|" + rest[i]);
      }
    }
    return out;
  }
};

TEST_F(ZoneEditSave, RetryAfterAnyFailureStoresOnce) {
  struct Case {
    bool adding;
    const char* code;
    const char* name;
    Strings stored;
  } cases[] = {
      {true, "NEW", "New", {"OLD|Old", "NEW|New", "OLD|CAQC******", "NEW|CAON******"}},
      {false, "OLDER", "Older", {"OLDER|Older", "OLDER|CAQC******"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    std::unique_ptr<TZoneEdit> e;
    TZoneSaveResult first = TZoneSaveResult::Failed;
    std::string show;
    const int fired = faults::ForEachPoint(
        [&] {
          MakeTables();
          e = std::make_unique<TZoneEdit>();
          Open(*e);
          if (c.adding) {
            e->BeginAdding();
            e->SetMoveIn(true);
            e->MoveByProvince("ON");
          }
        },
        [&] { first = e->Save(c.code, c.name, show); },
        [&](const faults::Point&, bool) {
          if (first == TZoneSaveResult::Failed || first == TZoneSaveResult::ReplaceFailed) {
            // Save again, as the user would: the half-written row is no rival code.
            TStringList errors;
            EXPECT_TRUE(e->Validate(c.code, errors)) << (errors.empty() ? "" : errors.front());
            first = e->Save(c.code, c.name, show);
          }
          EXPECT_EQ(first, c.adding ? TZoneSaveResult::Added : TZoneSaveResult::Updated);
          EXPECT_EQ(show, c.code);
          EXPECT_EQ(Stored(), c.stored);
        });
    EXPECT_GT(fired, 0);
  }
}

TEST_F(ZoneEditSave, Validation) {
  MakeTables();
  TZoneEdit e;
  Open(e);
  struct Case {
    const char* typed;
    const char* entries;
    Strings errors;
  } cases[] = {
      {"  ", "", {"\tZone is blank.", "\tNo states/provinces have been added to the zone."}},
      {"OLD", "QC:", {}},  // the loaded code is never tested
      {" NEW ", "QC:", {}},
      {" OLD", "NU:", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    SetEntries(e.Zone(), c.entries);
    e.FillAreaLists();
    TStringList errors;
    EXPECT_EQ(e.Validate(c.typed, errors), c.errors.empty());
    EXPECT_EQ(errors, c.errors);
  }
  // A code another zone holds, repeated as typed.
  e.BeginAdding();
  TStringList errors;
  EXPECT_FALSE(e.Validate(" OLD", errors));
  EXPECT_EQ(errors, (Strings{"\tThis zone code [  OLD ] is not unique.",
                             "\tNo states/provinces have been added to the zone."}));
}
