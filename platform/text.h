#pragma once
// Text is std::string holding Windows-1252 bytes throughout the program.
#include <string>
#include <string_view>

namespace plat {

// Removes leading and trailing characters whose code is 32 or less.
std::string Trim(std::string_view s);
// Upper-cases the letters a..z only; every other byte is left alone.
std::string UpperAZ(std::string_view s);
// "%.3d": at least three digits, zero-filled on the left (negative numbers keep their sign).
std::string Format3d(int value);
// "%s%.3d".
std::string FormatS3d(std::string_view prefix, int value);
// Lossless conversions between Windows-1252 and UTF-8. The five codes that
// Windows-1252 leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the C1
// control characters of the same value, so all 256 codes survive a round trip.
std::string Cp1252ToUtf8(std::string_view s);
std::string Utf8ToCp1252(std::string_view s);

}  // namespace plat
