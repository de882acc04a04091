#pragma once
// The wall clock as people read it.
#include <string>

namespace plat {

// Local time now in ISO 8601 with seconds and the UTC offset, as
// 2026-12-09T07:20:00+01:00; "" when the time cannot be had.
std::string LocalTimeIso8601();

}  // namespace plat
