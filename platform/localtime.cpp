#include "platform/localtime.h"

#include <ctime>

#include "platform/os.h"

namespace plat {

namespace {

bool Local(std::chrono::system_clock::time_point t, std::tm* out) {
  return os::Os().LocalTime(std::chrono::system_clock::to_time_t(t), out);
}

}  // namespace

std::string LocalTimeIso8601() {
  std::tm local{};
  if (!Local(os::Os().Now(), &local)) return "";
  char date[32], zone[8];
  if (std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local) == 0) return "";
  // strftime gives +hhmm; ISO 8601's extended format wants +hh:mm.
  if (std::strftime(zone, sizeof zone, "%z", &local) != 5) return date;
  return std::string(date) + zone[0] + zone[1] + zone[2] + ':' + zone[3] + zone[4];
}

std::string LocalDateTime(std::chrono::system_clock::time_point t) {
  std::tm local{};
  char buf[32];
  if (!Local(t, &local) || std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local) == 0) return "";
  return buf;
}

}  // namespace plat
