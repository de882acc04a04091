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

std::string LocalDateTime(std::chrono::system_clock::time_point t) {
  const time_t secs = std::chrono::system_clock::to_time_t(t);
  struct tm local {};
  char buf[32];
  if (!localtime_r(&secs, &local) || strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local) == 0) return "";
  return buf;
}

}  // namespace plat
