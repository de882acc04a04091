#include "platform/localtime.h"

#include <time.h>

namespace plat {

std::string LocalTimeIso8601() {
  const time_t now = time(nullptr);
  struct tm local {};
  if (!localtime_r(&now, &local)) return "";
  char date[32], zone[8];
  if (strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local) == 0) return "";
  // strftime gives +hhmm; ISO 8601's extended format wants +hh:mm.
  if (strftime(zone, sizeof zone, "%z", &local) != 5) return date;
  return std::string(date) + zone[0] + zone[1] + zone[2] + ':' + zone[3] + zone[4];
}

}  // namespace plat
