#pragma once
// Label printing as the label pass needs it: beside PrintLabelDocument's
// yes/no, whether a document that printed could not be deleted.
#include <cstdint>
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
};

// Reads the waiting labels of the open, locked Labels table in its current
// order, each with an item (Origin = index in docs) whose keys come from
// Shipment and Package of AppSetup->DataPath. Records marked deleted are
// skipped and set `marked`. False when Shipment or Package cannot be opened,
// so that no label prints out of order.
bool ReadLabels(int labels, const TProvinceArray& provinces, const TSortOrderArray& order,
                std::vector<TLabelDoc>& docs, std::vector<TItem>& items, bool& marked);

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

// SequenceLabels with the reason it ended and the number printed.
TLabelRun RunLabelPass(const TProvinceArray& provinces, const TSortOrderArray& order);
