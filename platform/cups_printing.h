#pragma once
// The platform's printing service (CUPS). Printing() uses it unless a test or
// the program installs another with SetPrinting().
#include <memory>

#include "platform/printing.h"

namespace plat {

// Printers in byte order of their names; jobs are raw, one document each.
// The scheduler is the client library's: CUPS_SERVER, then the client
// configuration, then the local default.
std::shared_ptr<PrinterService> MakeCupsPrinterService();

}  // namespace plat

namespace plat {
// Defined beside the service. The engine refers to it so that linking the
// engine always brings the service in: the registry's stand-in for it is a
// weak definition, which on its own would keep this one out of the link.
extern const int CupsPrintingLinked;
}  // namespace plat
