// Package labels: the documents the host leaves in its Labels table, printed in
// sorted order to the printer of their kind or raw to the label printer's port.
//
// A label is done the moment its document has printed: its record is marked
// deleted and flushed before the next label goes out, and marked records are
// no longer waiting labels. A pass that stops at a failed label (or is killed)
// therefore leaves exactly the labels that did not print, and the next pass
// goes on with them; the marked records are packed away at the end of every
// pass, under the same whole-table lock that the pass took first.
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "engine/labels.h"
#include "engine/label_refusal.h"
#include "engine/uSequncr.h"
#include "platform/clock.h"
#include "platform/cups_printing.h"
#include "platform/file.h"
#include "platform/port.h"
#include "platform/printing.h"
#include "setup/TableAccess.h"
#include "setup/uSetup.h"

// Linking the engine brings the platform's printing service in.
__attribute__((used)) static const int* const kCupsPrintingLinked = &plat::CupsPrintingLinked;

namespace {

const char* const kJobTitle = "Kavlo Shipping Label";
constexpr size_t kBlockMax = 254;  // bytes of one pass-through block
constexpr size_t kReadChunk = 64 * 1024;

int32_t PrinterFor(uint8_t document) {
  if (!AppSetup) return PrinterNone;
  switch (document) {
    case 0: return AppSetup->PackagePrinter;
    case 1: return AppSetup->CommInvoicePrinter;
    case 2: return AppSetup->KeyentryPrinter;
    default: return PrinterNone;
  }
}

// Reads the whole open document in chunks and hands each chunk on. False when
// a chunk is refused or fewer bytes come back than the file holds.
template <typename Sink>
bool ForEachChunk(plat::File& file, Sink&& sink) {
  const int64_t size = file.Size();
  if (size < 0) return false;
  std::string chunk(kReadChunk, '\0');
  int64_t total = 0;
  for (;;) {
    const size_t n = file.Read(chunk.data(), chunk.size());
    if (n == 0) break;
    total += static_cast<int64_t>(n);
    if (!sink(std::string_view(chunk.data(), n))) return false;
  }
  return total == size;
}

bool SendToPort(plat::File& file, const std::string& port) {
  auto out = plat::OpenPort(port, AppSetup ? AppSetup->IniFileName : std::string());
  if (!out) return false;
  const bool ok = ForEachChunk(file, [&](std::string_view bytes) { return out->Write(bytes.data(), bytes.size()); });
  const bool closed = out->Close();
  return ok && closed;
}

bool SendToPrinter(plat::File& file, int32_t printer) {
  // A position names the printer of the settings' list, whatever the
  // platform's list holds now; a printer that has gone fails the label.
  auto job = printer == PrinterDefault ? plat::Printing().StartJob(PrinterDefault, kJobTitle)
                                       : plat::Printing().StartJobOn(AppSetup->PrinterName(printer), kJobTitle);
  if (!job) return false;
  std::string block;
  block.reserve(kBlockMax);
  bool ok = ForEachChunk(file, [&](std::string_view bytes) {
    for (char c : bytes) {
      block += c;
      const size_t n = block.size();
      if (n == kBlockMax || (n >= 2 && block[n - 2] == '\r' && block[n - 1] == '\n')) {
        if (!job->SendBlock(block)) return false;
        block.clear();
      }
    }
    return true;
  });
  if (ok && !block.empty()) ok = job->SendBlock(block);
  // Ends the job, or cancels it after a failure.
  const bool ended = job->End(ok);
  return ok && ended;
}

std::string g_refusal;

}  // namespace

const std::string& LastLabelRefusal() { return g_refusal; }

std::string UndoubleBackslashes(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (size_t i = 0; i < name.size(); ++i) {
    out += name[i];
    if (name[i] == '\\' && i + 1 < name.size() && name[i + 1] == '\\') ++i;
  }
  return out;
}

TLabelPrint PrintLabel(const std::string& fileName, uint8_t document, bool deleteDocument) {
  g_refusal.clear();
  const int32_t printer = PrinterFor(document);
  if (printer != PrinterEltron && printer != PrinterDefault && printer < 0) return TLabelPrint::NotPrinted;

  const std::string name = UndoubleBackslashes(fileName);
  // Only a plain file is a label document: a folder, device, FIFO or link
  // named in the table is refused like a missing one.
  if (!plat::IsRegularFile(name)) return TLabelPrint::NotPrinted;
  g_refusal = LabelDocumentRefusal(name);
  if (!g_refusal.empty()) return TLabelPrint::NotPrinted;
  auto file = plat::OpenExclusive(name, plat::OpenMode::ReadWrite);
  if (!file) return TLabelPrint::NotPrinted;
  // Measured on the open file: the name could have been swapped meanwhile.
  g_refusal = LabelSizeRefusal(name, file->Size());
  if (!g_refusal.empty()) {
    file->Close();
    return TLabelPrint::NotPrinted;
  }

  bool ok = printer == PrinterEltron
                ? SendToPort(*file, "LPT" + std::to_string(AppSetup->EltronPort))
                : SendToPrinter(*file, printer);
  file->Close();
  if (!ok) return TLabelPrint::NotPrinted;
  if (!deleteDocument) return TLabelPrint::Printed;
  return plat::DeleteFile(name) ? TLabelPrint::Printed : TLabelPrint::PrintedNotDeleted;
}

bool PrintLabelDocument(const std::string& fileName, uint8_t document) {
  return PrintLabel(fileName, document) == TLabelPrint::Printed;
}

namespace {

// Closes a table handle on every path out.
class TableHandle {
 public:
  explicit TableHandle(int h) : h_(h) {}
  ~TableHandle() { Close(); }
  TableHandle(const TableHandle&) = delete;
  TableHandle& operator=(const TableHandle&) = delete;
  int get() const { return h_; }
  void Close() {
    if (h_) d4close(h_);
    h_ = 0;
  }

 private:
  int h_;
};

// Keys from the label's shipment and package records; false when there is no
// such shipment (every key stays empty).
bool ReadKeys(int shipment, int package, int32_t s, int32_t k, TItem& item) {
  if (d4seekDouble(shipment, s) != 0) return false;
  item.Values[sfProvinceCode] = fetch(shipment, "st_prov");
  item.Values[sfCustomerId] = fetch(shipment, "st_custid");
  item.Values[sfCustomerName] = fetch(shipment, "st_name");
  item.Values[sfPostalCode] = fetch(shipment, "st_postal");
  item.Values[sfShipmentRef1] = fetch(shipment, "reference0");
  item.Values[sfShipmentRef2] = fetch(shipment, "reference1");
  for (int rc = d4seekDouble(package, s); rc == 0; rc = d4seekNextDouble(package, s)) {
    if (ifetch(package, "pkg_no") != k) continue;
    item.Values[sfPackageRef1] = fetch(package, "reference1");
    item.Values[sfPackageRef2] = fetch(package, "reference2");
    item.Values[sfPackageRef3] = fetch(package, "reference3");
    item.Values[sfPackageRef4] = fetch(package, "reference4");
    break;
  }
  return true;
}

}  // namespace

bool ReadLabels(int labels, const TProvinceArray& provinces, const TSortOrderArray& order,
                std::vector<TLabelDoc>& docs, std::vector<TItem>& items, bool& marked, bool readOnly) {
  TKeyDeriver keys(provinces, order);
  keys.PrepareZones();
  const auto open = readOnly ? mOpenReadOnly : mOpen;
  TableHandle shipment(open(AppEngine, AppSetup->DataPath + "\\Shipment", "shipmentid"));
  TableHandle package(open(AppEngine, AppSetup->DataPath + "\\Package", "shipmentid"));
  if (!shipment.get() || !package.get()) return false;

  for (int rc = d4top(labels); rc == 0; rc = d4skip(labels, 1)) {
    // Printed by an earlier pass that did not get to pack.
    if (d4deleted(labels) == 1) {
      marked = true;
      continue;
    }
    TLabelDoc doc;
    doc.FileName = fetch(labels, "file_name");
    doc.Document = static_cast<uint8_t>(ifetch(labels, "document"));
    doc.RecNo = d4recNo(labels);
    const int32_t s = ifetch(labels, "shipment");
    int32_t k = ifetch(labels, "package");
    doc.Shipment = s;
    doc.Package = k;
    // An invoice or key-entry document without a package takes package 1's references.
    if (k == 0 && doc.Document > 0) k = 1;

    TItem item;
    item.Origin = static_cast<int32_t>(docs.size());
    if (ReadKeys(shipment.get(), package.get(), s, k, item)) keys.Derive(item);
    docs.push_back(std::move(doc));
    items.push_back(std::move(item));
  }
  // Records that navigation passed over are marked ones, to be packed away.
  if (d4recCountDo(labels) > static_cast<int32_t>(docs.size())) marked = true;
  package.Close();
  shipment.Close();
  return true;
}

namespace {

// Marks a printed label's record and makes that durable before anything else
// prints.
bool MarkPrinted(int labels, int32_t recNo) {
  return d4go(labels, recNo) == 0 && d4delete(labels) == 0 && d4flush(labels) == 0;
}

// The label as reported to logs and previews.
TLabelLine LineOf(const TLabelDoc& doc, const TItem& item, const TSortOrderArray& order, int position) {
  TLabelLine line;
  line.Position = position;
  line.FileName = doc.FileName;
  line.Shipment = doc.Shipment;
  line.Package = doc.Package;
  line.Document = doc.Document;
  for (TSortField f : order) line.Keys.push_back(item.Values[f]);
  return line;
}

}  // namespace

TLabelRun RunLabelPass(const TProvinceArray& provinces, const TSortOrderArray& order, const TLabelPrinted& onPrinted) {
  TLabelRun run;
  if (!AppSetup) return run;
  TableHandle labels(mOpen(AppEngine, AppSetup->MultiShipperPath + "\\Labels", "document"));
  if (!labels.get()) return run;
  if (d4lockFile(labels.get()) != 0) {  // closing lets go of the table
    run.State = TLabelRun::Locked;
    return run;
  }

  std::vector<TLabelDoc> docs;
  std::vector<TItem> items;
  bool marked = false;
  bool ok = ReadLabels(labels.get(), provinces, order, docs, items, marked);
  bool stopped = false;

  if (ok) {
    int position = 0;
    for (size_t i : SortedOrder(items, order)) {
      ++position;
      const TLabelDoc& doc = docs[static_cast<size_t>(items[i].Origin)];
      TLabelPrint printed = TLabelPrint::NotPrinted;
      try {
        printed = PrintLabel(doc.FileName, doc.Document, false);
      } catch (const std::exception&) {
        printed = TLabelPrint::NotPrinted;
      }
      items[i].Done = true;
      if (printed == TLabelPrint::NotPrinted) {
        ok = false;
        break;
      }
      // The record is marked, durably, before the document goes: a process
      // killed in between leaves a stray document, never a waiting label
      // whose document is gone (which would stop every later pass). A
      // document that cannot be deleted leaves its label done (it must not
      // print again); the pass still stops to report it.
      marked = true;
      ++run.Printed;
      if (!MarkPrinted(labels.get(), doc.RecNo)) {
        ok = false;
        break;
      }
      // What the label's report does cannot undo or stop its printing.
      try {
        if (onPrinted) onPrinted(LineOf(doc, items[i], order, position));
      } catch (...) {
      }
      if (!plat::DeleteFile(UndoubleBackslashes(doc.FileName))) {
        ok = false;
        break;
      }
      // A stop asked for (a signal to the headless cycle) ends the pass
      // here, between two labels: the rest wait for the next run.
      if (plat::StopRequested() && run.Printed < static_cast<int>(docs.size())) {
        stopped = true;
        break;
      }
    }
  }

  if (marked && d4pack(labels.get()) != 0) ok = false;
  // Unlocking writes what the pack left to write: its failure is the pass's.
  if (d4unlock(labels.get()) != 0) ok = false;
  labels.Close();
  run.State = !ok ? TLabelRun::Failed : stopped ? TLabelRun::Stopped : TLabelRun::Done;
  return run;
}

bool SequenceLabels(const TProvinceArray& provinces, const TSortOrderArray& order) {
  return RunLabelPass(provinces, order).State == TLabelRun::Done;
}

bool SequenceLabels(const TProvinceArray& provinces, const TSortOrderArray& order, const TLabelPrinted& onPrinted) {
  return RunLabelPass(provinces, order, onPrinted).State == TLabelRun::Done;
}

bool PreviewLabels(const TProvinceArray& provinces, const TSortOrderArray& order, std::vector<TLabelLine>& out) {
  out.clear();
  if (!AppSetup) return false;
  TableHandle labels(mOpenReadOnly(AppEngine, AppSetup->MultiShipperPath + "\\Labels", "document"));
  if (!labels.get()) return false;
  std::vector<TLabelDoc> docs;
  std::vector<TItem> items;
  bool marked = false;
  if (!ReadLabels(labels.get(), provinces, order, docs, items, marked, true)) return false;
  int position = 0;
  for (size_t i : SortedOrder(items, order))
    out.push_back(LineOf(docs[static_cast<size_t>(items[i].Origin)], items[i], order, ++position));
  return true;
}
