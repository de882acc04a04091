// The printing service over the CUPS client library.
//
// Printer list: every destination the scheduler reports (cupsGetDests2 on the
// default connection, so CUPS_SERVER and the client configuration pick the
// scheduler), instances folded into their printer, sorted by name in byte
// order. The settings keep the list they resolved positions against and
// start their jobs by name.
//
// Jobs: Create-Job with the title and no options, then one raw document
// (application/vnd.cups-raw, so no filter touches the bytes) streamed block by
// block over a connection of the job's own. A job that fails or is abandoned is
// cancelled, so nothing half-sent ever prints. An empty document is withdrawn
// the same way (the scheduler takes no empty documents) and counts as printed.
#include <cups/cups.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/cups_printing.h"
#include "platform/printing.h"

namespace plat {
namespace {

// Never prompt on a terminal for a password: a scheduler that wants one just
// refuses the request.
const char* NoPassword(const char*, http_t*, const char*, const char*, void*) { return nullptr; }

struct DestList {
  std::vector<std::string> names;
  std::string defaultName;  // "" when the scheduler names no default
};

DestList ReadDests() {
  cupsSetPasswordCB2(NoPassword, nullptr);
  DestList list;
  cups_dest_t* dests = nullptr;
  int n = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  for (int i = 0; i < n; ++i) {
    if (!dests[i].name) continue;
    std::string name = dests[i].name;
    if (dests[i].is_default && list.defaultName.empty()) list.defaultName = name;
    if (std::find(list.names.begin(), list.names.end(), name) == list.names.end())
      list.names.push_back(name);
  }
  cupsFreeDests(n, dests);
  std::sort(list.names.begin(), list.names.end());
  return list;
}

void CancelJob(const std::string& printer, int jobId) {
  // The job's own connection may be mid-request; cancel over the default one.
  cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.c_str(), jobId, 0);
}

class CupsJob final : public PrintJob {
 public:
  CupsJob(http_t* http, std::string printer, int jobId)
      : http_(http), printer_(std::move(printer)), jobId_(jobId) {}
  ~CupsJob() override {
    if (http_) End(false);
  }

  bool SendBlock(const std::string& bytes) override {
    if (!http_ || failed_) return false;
    if (bytes.empty()) return true;
    if (cupsWriteRequestData(http_, bytes.data(), bytes.size()) != HTTP_STATUS_CONTINUE) {
      failed_ = true;
      return false;
    }
    sent_ += bytes.size();
    return true;
  }

  bool End(bool ok) override {
    if (!http_) return false;
    bool accepted = false;
    if (ok && !failed_ && sent_ == 0) {
      // The scheduler refuses an empty document; an empty job has nothing to
      // print, so it is withdrawn and counts as done.
      httpClose(http_);
      http_ = nullptr;
      CancelJob(printer_, jobId_);
      return true;
    }
    if (ok && !failed_) {
      ipp_status_t st = cupsFinishDocument(http_, printer_.c_str());
      accepted = st < IPP_STATUS_REDIRECTION_OTHER_SITE;
    }
    // Closing before finishing aborts the unfinished document upload.
    httpClose(http_);
    http_ = nullptr;
    if (!accepted) CancelJob(printer_, jobId_);
    return accepted;
  }

 private:
  http_t* http_;
  std::string printer_;
  int jobId_;
  bool failed_ = false;
  size_t sent_ = 0;
};

class CupsPrinterService final : public PrinterService {
 public:
  std::vector<std::string> Printers() override { return ReadDests().names; }

  bool HasDefault() override { return !ReadDests().defaultName.empty(); }

  std::unique_ptr<PrintJob> StartJob(int position, const std::string& title) override {
    DestList list = ReadDests();
    std::string printer;
    if (position == -1) {
      printer = list.defaultName;
    } else if (position >= 0 && static_cast<size_t>(position) < list.names.size()) {
      printer = list.names[static_cast<size_t>(position)];
    }
    return StartJobOn(printer, title);
  }

  // By name, without reading the list again: a queue that is gone refuses
  // the job, and no other queue can take its place.
  std::unique_ptr<PrintJob> StartJobOn(const std::string& printer, const std::string& title) override {
    if (printer.empty()) return nullptr;
    http_t* http = httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1,
                                30000, nullptr);
    if (!http) return nullptr;
    int jobId = cupsCreateJob(http, printer.c_str(), title.c_str(), 0, nullptr);
    if (jobId <= 0) {
      httpClose(http);
      return nullptr;
    }
    if (cupsStartDocument(http, printer.c_str(), jobId, title.c_str(), CUPS_FORMAT_RAW, 1) !=
        HTTP_STATUS_CONTINUE) {
      httpClose(http);
      CancelJob(printer, jobId);
      return nullptr;
    }
    return std::make_unique<CupsJob>(http, printer, jobId);
  }
};

}  // namespace

const int CupsPrintingLinked = 1;

std::shared_ptr<PrinterService> MakeCupsPrinterService() {
  return std::make_shared<CupsPrinterService>();
}

}  // namespace plat
