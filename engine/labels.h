#pragma once
// Label printing as the label pass needs it: beside PrintLabelDocument's
// yes/no, whether a document that printed could not be deleted.
#include <cstdint>
#include <string>

enum class TLabelPrint {
  NotPrinted,         // nothing went out (or the job was cancelled); the file stays
  Printed,            // printed and its file deleted
  PrintedNotDeleted,  // printed, but the file could not be deleted
};

// Every pair of backslashes becomes one, left to right, pairs not overlapping.
std::string UndoubleBackslashes(const std::string& name);

TLabelPrint PrintLabel(const std::string& fileName, uint8_t document);
