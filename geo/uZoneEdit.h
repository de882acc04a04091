#pragma once
// The zone being edited: one zone at a time, the list of zone codes, the
// province list, the two area lists ("In the Zone ..." and "Available ...")
// built from them, the moves between the lists, change tracking and saving.
// The zone editor window renders this state and forwards the user's actions;
// nothing here shows a message.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "geo/uXArea.h"
#include "geo/uXZone.h"

enum class TAreaView { Detail, Summary };

// What a save did; the window turns it into its message or status text.
enum class TZoneSaveResult {
  Added,          // a new zone was appended
  Updated,        // an existing zone was rewritten (or replaced under a new code)
  Failed,         // the zone could not be written; a retry is safe
  ReplaceFailed,  // the old records of a changed code could not be removed; nothing written
};

class TZoneEdit {
 public:
  TZoneEdit();
  ~TZoneEdit();
  TZoneEdit(const TZoneEdit&) = delete;
  TZoneEdit& operator=(const TZoneEdit&) = delete;

  // Opening: an empty zone, the province list and the zone codes from the
  // tables, every flag cleared and the Summary view chosen (nothing built yet).
  void Open();
  // The same on a province list and codes given by the caller (no tables read).
  void OpenWith(TProvinceArray&& provinces, TStringList codes);
  // Frees the zone, the codes and the province list.
  void Close();
  bool IsOpen() const { return FZone != nullptr; }

  TZone& Zone() { return *FZone; }
  const TZone& Zone() const { return *FZone; }
  const TStringList& Codes() const { return FCodes; }
  const TProvinceArray& Provinces() const { return FProvinces; }
  int32_t Index() const { return FIndex; }
  void SetIndex(int32_t index) { FIndex = index; }
  const std::string& OrigCode() const { return FOrigCode; }
  bool Adding() const { return FAdding; }
  bool Changed() const { return FChanged; }
  void SetChanged(bool changed) { FChanged = changed; }
  bool MoveIn() const { return FMoveIn; }
  void SetMoveIn(bool moveIn) { FMoveIn = moveIn; }

  std::string CodeAt(int32_t index) const;
  // Position of the first code equal to `code` (exact), else -1.
  int32_t IndexOfCode(const std::string& code) const;
  void ReloadCodes();

  // Loads a zone by code (an empty code: the first one), rebuilds the lists
  // and forgets the edits and any half-done save.
  void LoadZone(const std::string& code);
  // Add mode: an empty zone whose areas all stand in "Available ...". The
  // position and original code stay, so that a cancel can return to them.
  void BeginAdding();
  void EndAdding() { FAdding = false; }
  // Empties the zone (after deleting the last one) and rebuilds the lists.
  void ClearZone();

  // The code field changed: an edit unless it still names the loaded zone.
  void CodeEdited(std::string_view text);
  void NameEdited() { FChanged = true; }

  TAreaView View() const { return FView; }
  void SetView(TAreaView view) { FView = view; }
  // Rebuilds both lists from the zone and the province list; each is sorted
  // alphabetically without regard to a..z case.
  void FillAreaLists();
  const std::vector<std::string>& ZoneLines() const { return FZoneLines; }
  const std::vector<std::string>& AvailLines() const { return FAvailLines; }

  // by Selection: `rows` are the selected rows (top down) of the source list,
  // "Available ..." when moving in, "In the Zone ..." when moving out. Without
  // a current line nothing moves and nothing counts as changed. The lists are
  // rebuilt in every case.
  void MoveSelection(bool moveIn, bool hasCurrent, const std::vector<int>& rows);
  // The move pages, in the direction of MoveIn(). Each returns true when it
  // acted (the zone is then marked changed and the lists rebuilt).
  bool MoveByLongitude(int64_t count, bool east);
  bool MoveByProvince(std::string_view text);
  bool MoveByCity(std::string_view text);
  bool MoveByMatch(std::string_view text);

  // Adds the error lines of a zone about to be saved under the typed code;
  // true when none was added.
  bool Validate(const std::string& typedCode, TStringList& errors) const;
  // The trimmed code and name into the zone, and each entry's line count.
  void StoreFields(std::string_view code, std::string_view name);
  // Saves the zone under the typed code and name: appended in add mode,
  // rewritten when the code is unchanged, replaced (old records removed
  // first) when it changed. `show` receives the code to load afterwards.
  TZoneSaveResult Save(std::string_view code, std::string_view name, std::string& show);
  bool DeleteZone() { return FZone->Delete(); }

 private:
  void IndexProvinces();
  int ProvinceOfName(const std::string& name) const;
  int FirstEntryIndex(const std::string& province) const;
  TProvince* FirstEntry(const std::string& province) const;
  TProvince* AppendEntry(const TProvince& province);
  void MakeWhole(const TProvince& province);
  void RemoveFirstEntry(const std::string& province);
  void MoveSelectionSummary(const std::vector<int>& rows, const std::vector<std::string>& source);
  void MoveSelectionDetail(const std::vector<int>& rows, const std::vector<std::string>& source);
  // Moves the postal lines of every province that pass the test (City and Match).
  template <class Pred>
  void MoveLines(Pred matches);

  std::string FOrigCode;
  std::unique_ptr<TZone> FZone;
  TStringList FCodes;
  int32_t FIndex = -1;
  TProvinceArray FProvinces;
  bool FAdding = false;
  bool FChanged = false;
  bool FMoveIn = false;
  TAreaView FView = TAreaView::Summary;

  // A save that failed half-way: the old record of a changed code may already
  // be removed (FOrigRemoved), and the Zones row of FPendingCode may already be
  // written. A retry must neither remove again nor append a second row.
  bool FOrigRemoved = false;
  std::string FPendingCode;

  std::vector<std::string> FZoneLines;
  std::vector<std::string> FAvailLines;
  // Upper-cased postal code -> (province, line) of its first occurrence in FProvinces.
  std::unordered_map<std::string, std::pair<int, int>> FCodeIndex;
  std::unordered_map<std::string, int> FNameIndex;  // province name -> first province
};
