#pragma once
// Printing: the installed printers and raw print jobs, plus parallel/USB ports.
#include <memory>
#include <string>
#include <vector>

namespace plat {

class PrintJob {
 public:
  virtual ~PrintJob() = default;
  // Sends one block of raw bytes; false when the printer refused it.
  virtual bool SendBlock(const std::string& bytes) = 0;
  // Ends the job (ok) or cancels it; false when the server did not accept the job.
  virtual bool End(bool ok) = 0;
};

class PrinterService {
 public:
  virtual ~PrinterService() = default;
  // Installed printers in a fixed order (printer positions refer to it).
  virtual std::vector<std::string> Printers() = 0;
  virtual bool HasDefault() = 0;
  // position >= 0 selects Printers()[position]; -1 the default printer.
  // Returns nullptr when the job cannot be started.
  virtual std::unique_ptr<PrintJob> StartJob(int position, const std::string& title) = 0;
  // Starts a job on the printer of that name as the platform has it now;
  // nullptr when there is no such printer (any more) or it takes no job. The
  // default looks the name up in Printers().
  virtual std::unique_ptr<PrintJob> StartJobOn(const std::string& printer, const std::string& title);
};

// The service the program uses; defaults to the platform's (CUPS). Tests may
// replace it.
PrinterService& Printing();
void SetPrinting(std::shared_ptr<PrinterService> service);

// The platform's own service (CUPS), used when none was set.
std::shared_ptr<PrinterService> MakeCupsPrinterService();

// A fixed printer list without jobs, for settings tests.
std::shared_ptr<PrinterService> MakeFixedPrinterList(std::vector<std::string> names, bool hasDefault);

}  // namespace plat
