// The printing service over the Windows print spooler.
//
// Printer list: local printers and printer connections, in the order the
// spooler gives them (the settings keep the list they resolved positions
// against and start their jobs by name). The default is the spooler's.
//
// Jobs: one raw document (datatype "RAW", so no driver touches the bytes)
// under the caller's title, written block by block. A job that fails or is
// abandoned is aborted, so nothing half-sent ever prints. An empty document is
// withdrawn the same way and counts as printed, as with the other platforms'
// service.
#include "platform/win32.h"
#include <winspool.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/cups_printing.h"
#include "platform/printing.h"

namespace plat {
namespace {

// Printer names are 8-bit Windows-1252 text in the rest of the program.
using win32::Wide;
std::string Narrow(const wchar_t* w) { return win32::Narrow(w, wcslen(w)); }

std::vector<std::string> ListPrinters() {
  const DWORD flags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  DWORD needed = 0, count = 0;
  std::vector<BYTE> buf;
  // The list may grow between the two calls; ask again with the new size.
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (EnumPrintersW(flags, nullptr, 4, buf.empty() ? nullptr : buf.data(), static_cast<DWORD>(buf.size()),
                      &needed, &count))
      break;
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
    buf.resize(needed);
    count = 0;
  }
  std::vector<std::string> names;
  const auto* info = reinterpret_cast<const PRINTER_INFO_4W*>(buf.data());
  for (DWORD i = 0; i < count; ++i) {
    if (!info[i].pPrinterName) continue;
    std::string name = Narrow(info[i].pPrinterName);
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  }
  return names;
}

std::string DefaultPrinter() {
  DWORD size = 0;
  if (GetDefaultPrinterW(nullptr, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return "";
  std::wstring name(size, L'\0');
  if (!GetDefaultPrinterW(name.data(), &size)) return "";
  return Narrow(name.c_str());
}

class SpoolerJob final : public PrintJob {
 public:
  SpoolerJob(HANDLE printer, DWORD jobId) : printer_(printer), jobId_(jobId) {}
  ~SpoolerJob() override {
    if (printer_) End(false);
  }

  bool SendBlock(const std::string& bytes) override {
    if (!printer_ || failed_) return false;
    size_t put = 0;
    while (put < bytes.size()) {
      DWORD done = 0;
      const DWORD want = static_cast<DWORD>(std::min<size_t>(bytes.size() - put, 1u << 30));
      if (!WritePrinter(printer_, const_cast<char*>(bytes.data()) + put, want, &done) || done == 0) {
        failed_ = true;
        return false;
      }
      put += done;
    }
    sent_ += put;
    return true;
  }

  bool End(bool ok) override {
    if (!printer_) return false;
    bool accepted = false;
    if (ok && !failed_ && sent_ == 0) {
      // Nothing to print: withdrawn, and done.
      Withdraw();
      accepted = true;
    } else if (ok && !failed_) {
      accepted = EndDocPrinter(printer_) != 0;
      if (!accepted) Withdraw();
    } else {
      Withdraw();
    }
    ClosePrinter(printer_);
    printer_ = nullptr;
    return accepted;
  }

 private:
  // Deleting the job by its id takes it out of the queue on every spooler;
  // AbortPrinter then ends the document this handle has open.
  void Withdraw() {
    SetJobW(printer_, jobId_, 0, nullptr, JOB_CONTROL_DELETE);
    AbortPrinter(printer_);
  }

  HANDLE printer_;
  DWORD jobId_;
  bool failed_ = false;
  size_t sent_ = 0;
};

class SpoolerPrinterService final : public PrinterService {
 public:
  std::vector<std::string> Printers() override { return ListPrinters(); }

  bool HasDefault() override { return !DefaultPrinter().empty(); }

  std::unique_ptr<PrintJob> StartJob(int position, const std::string& title) override {
    std::string printer;
    if (position == -1) {
      printer = DefaultPrinter();
    } else if (position >= 0) {
      const std::vector<std::string> names = ListPrinters();
      if (static_cast<size_t>(position) < names.size()) printer = names[static_cast<size_t>(position)];
    }
    return StartJobOn(printer, title);
  }

  // By name, without reading the list again: a printer that is gone refuses
  // the job, and no other printer can take its place.
  std::unique_ptr<PrintJob> StartJobOn(const std::string& printer, const std::string& title) override {
    if (printer.empty()) return nullptr;
    std::wstring name = Wide(printer);
    HANDLE h = nullptr;
    if (!OpenPrinterW(name.data(), &h, nullptr)) return nullptr;
    std::wstring docName = Wide(title);
    wchar_t raw[] = L"RAW";
    DOC_INFO_1W doc{};
    doc.pDocName = docName.data();
    doc.pOutputFile = nullptr;
    doc.pDatatype = raw;
    const DWORD jobId = StartDocPrinterW(h, 1, reinterpret_cast<BYTE*>(&doc));
    if (jobId == 0) {
      ClosePrinter(h);
      return nullptr;
    }
    return std::make_unique<SpoolerJob>(h, jobId);
  }
};

}  // namespace

// The engine refers to this so that linking it always brings a service in.
const int CupsPrintingLinked = 1;

// The platform's own printing service: on Windows, the spooler's.
std::shared_ptr<PrinterService> MakeCupsPrinterService() { return std::make_shared<SpoolerPrinterService>(); }

}  // namespace plat
