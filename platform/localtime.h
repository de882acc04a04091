#pragma once
// The wall clock as people read it.
#include <chrono>
#include <string>

namespace plat {

// Local time now in ISO 8601 with seconds and the UTC offset, as
// 2026-12-09T07:20:00+01:00; "" when the time cannot be had.
std::string LocalTimeIso8601();
// A given time in the local time zone as 2026-12-09T07:20:00 (no offset).
std::string LocalDateTime(std::chrono::system_clock::time_point t);

}  // namespace plat
