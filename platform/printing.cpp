// The printer service registry and the fixed printer list.
#include "platform/printing.h"

#include <mutex>

namespace plat {

namespace {

class FixedPrinterList final : public PrinterService {
 public:
  FixedPrinterList(std::vector<std::string> names, bool hasDefault)
      : names_(std::move(names)), hasDefault_(hasDefault) {}
  std::vector<std::string> Printers() override { return names_; }
  bool HasDefault() override { return hasDefault_; }
  std::unique_ptr<PrintJob> StartJob(int, const std::string&) override { return nullptr; }

 private:
  std::vector<std::string> names_;
  bool hasDefault_;
};

std::mutex g_mutex;
std::shared_ptr<PrinterService> g_service;
// Services that were replaced stay alive: callers may still hold the
// reference that Printing() gave them.
std::vector<std::shared_ptr<PrinterService>> g_retired;

}  // namespace

std::unique_ptr<PrintJob> PrinterService::StartJobOn(const std::string& printer, const std::string& title) {
  const std::vector<std::string> names = Printers();
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i] == printer) return StartJob(static_cast<int>(i), title);
  return nullptr;
}

PrinterService& Printing() {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (!g_service) g_service = MakeCupsPrinterService();
  if (!g_service) g_service = MakeFixedPrinterList({}, false);
  return *g_service;
}

void SetPrinting(std::shared_ptr<PrinterService> service) {
  std::lock_guard<std::mutex> lock(g_mutex);
  if (g_service) g_retired.push_back(std::move(g_service));
  g_service = std::move(service);  // nullptr: back to the platform's service on next use
}

std::shared_ptr<PrinterService> MakeFixedPrinterList(std::vector<std::string> names, bool hasDefault) {
  return std::make_shared<FixedPrinterList>(std::move(names), hasDefault);
}

}  // namespace plat
