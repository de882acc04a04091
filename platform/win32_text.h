#pragma once
// Names and texts as Windows' wide-character calls take them: the program's
// 8-bit text is Windows-1252, those calls take UTF-16. For the Win32
// implementation files only (defined in os_win32.cpp).
#include <cstddef>
#include <string>

namespace plat::win32 {

std::wstring Wide(const std::string& s);
std::string Narrow(const wchar_t* w, size_t len);
std::string Narrow(const std::wstring& w);

}  // namespace plat::win32
