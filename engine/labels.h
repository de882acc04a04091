#pragma once
// Label printing as the label pass needs it: beside PrintLabelDocument's
// yes/no, whether a document that printed could not be deleted.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/uSequncr.h"

enum class TLabelPrint {
  NotPrinted,         // nothing went out (or the job was cancelled); the file stays
  Printed,            // printed and its file deleted
  PrintedNotDeleted,  // printed, but the file could not be deleted
};

// Every pair of backslashes becomes one, left to right, pairs not overlapping.
std::string UndoubleBackslashes(const std::string& name);

// Prints one document; deletes it afterwards unless deleteDocument is false
// (the label pass deletes it itself, once the label's record is marked).
TLabelPrint PrintLabel(const std::string& fileName, uint8_t document, bool deleteDocument = true);

// Why the last PrintLabel refused its document (a table, settings file or
// program, too large, outside [Labels] Folders); "" when it did not.
const std::string& LastLabelRefusal();

// One waiting label.
struct TLabelDoc {
  std::string FileName;
  uint8_t Document = 0;
  int32_t RecNo = 0;  // the label's record in Labels, to mark it once printed
  int32_t Shipment = 0;  // as the record has them, for logs and previews
  int32_t Package = 0;
};

// A label in print order, as printed or as it would print.
struct TLabelLine {
  int Position = 0;  // from 1, in print order within the pass
  std::string FileName;
  int32_t Shipment = 0;
  int32_t Package = 0;
  uint8_t Document = 0;
  std::vector<std::string> Keys;  // the key texts, one per element of the sort order
};

// Called once per label, right after its record is durably marked printed
// (before its document is deleted); what it raises is dropped.
using TLabelPrinted = std::function<void(const TLabelLine&)>;

// SequenceLabels that reports each printed label to onPrinted (may be empty).
bool SequenceLabels(const TProvinceArray& provinces, const TSortOrderArray& order, const TLabelPrinted& onPrinted);

// The waiting labels in the order a pass would print them. Reads with no lock
// and opens every table read-only, so nothing is printed or changed. False
// when a table cannot be read (LastErrorText says why).
bool PreviewLabels(const TProvinceArray& provinces, const TSortOrderArray& order, std::vector<TLabelLine>& out);

// Reads the waiting labels of the open, locked Labels table in its current
// order, each with an item (Origin = index in docs) whose keys come from
// Shipment and Package of AppSetup->DataPath. Records marked deleted are
// skipped and set `marked`. False when Shipment or Package cannot be opened,
// so that no label prints out of order.
bool ReadLabels(int labels, const TProvinceArray& provinces, const TSortOrderArray& order,
                std::vector<TLabelDoc>& docs, std::vector<TItem>& items, bool& marked, bool readOnly = false);

// What became of one label pass.
struct TLabelRun {
  enum TState {
    Failed,   // Labels cannot be opened, or a label could not print or be marked
    Locked,   // another program holds the Labels lock: nothing was read or printed
    Stopped,  // a stop was requested: the labels printed so far are done, the rest wait
    Done,     // every waiting label printed (also when there was none)
  } State = Failed;
  int Printed = 0;  // labels printed and marked in this pass
};

// SequenceLabels with the reason it ended and the number printed; each
// printed label is reported to onPrinted (may be empty).
TLabelRun RunLabelPass(const TProvinceArray& provinces, const TSortOrderArray& order,
                       const TLabelPrinted& onPrinted = TLabelPrinted());
