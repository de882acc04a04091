#pragma once
// What every Win32 file of the program starts from: the Windows headers
// without their min/max macros and rarely used parts, and names and texts as
// the wide-character calls take them (the program's 8-bit text is
// Windows-1252, those calls take UTF-16; defined in os_win32.cpp). For the
// Win32 implementation files only.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>
#include <string>

namespace plat::win32 {

std::wstring Wide(const std::string& s);
std::string Narrow(const wchar_t* w, size_t len);
std::string Narrow(const std::wstring& w);

}  // namespace plat::win32
