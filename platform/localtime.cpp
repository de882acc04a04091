#include "platform/localtime.h"

#include <cstdio>
#include <ctime>

#include "platform/os.h"

namespace plat {

namespace {

bool Local(std::chrono::system_clock::time_point t, std::tm* out) {
  return os::Os().LocalTime(std::chrono::system_clock::to_time_t(t), out);
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar.
long long DaysFromCivil(long long y, int m, int d) {
  y -= m <= 2;
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The local zone's offset from UTC as +hhmm. strftime's %z gives it so on
// POSIX systems; Windows' C library gives the zone's name instead, so there
// it is the difference between the local time shown and the time itself.
std::string ZoneOffset(const std::tm& local, std::time_t t) {
  char zone[8];
  if (std::strftime(zone, sizeof zone, "%z", &local) == 5 && (zone[0] == '+' || zone[0] == '-') &&
      IsDigit(zone[1]) && IsDigit(zone[2]) && IsDigit(zone[3]) && IsDigit(zone[4]))
    return zone;
  const long long shown = DaysFromCivil(local.tm_year + 1900LL, local.tm_mon + 1, local.tm_mday) * 86400 +
                          local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
  long long minutes = (shown - static_cast<long long>(t)) / 60;
  const char sign = minutes < 0 ? '-' : '+';
  if (minutes < 0) minutes = -minutes;
  if (minutes >= 100 * 60) return "";
  char out[8];
  std::snprintf(out, sizeof out, "%c%02lld%02lld", sign, minutes / 60, minutes % 60);
  return out;
}

}  // namespace

std::string LocalTimeIso8601() {
  const std::time_t now = std::chrono::system_clock::to_time_t(os::Os().Now());
  std::tm local{};
  if (!os::Os().LocalTime(now, &local)) return "";
  char date[32];
  if (std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local) == 0) return "";
  // ISO 8601's extended format wants +hh:mm.
  const std::string zone = ZoneOffset(local, now);
  if (zone.size() != 5) return date;
  return std::string(date) + zone.substr(0, 3) + ':' + zone.substr(3);
}

std::string LocalDateTime(std::chrono::system_clock::time_point t) {
  std::tm local{};
  char buf[32];
  if (!Local(t, &local) || std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local) == 0) return "";
  return buf;
}

}  // namespace plat
