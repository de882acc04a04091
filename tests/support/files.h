#pragma once
// Whole-file helpers for tests: read, write, copy, look at a folder.
#include <string>
#include <string_view>
#include <vector>

namespace vvtest {

// A missing or unreadable file reads as "" and a failed write gives false:
// tests check exactly that a file is gone or was left empty.
std::string ReadFile(const std::string& path);
bool WriteFile(const std::string& path, std::string_view bytes);

// For data a test cannot do without (fixtures, expected dumps): throws
// std::runtime_error naming the file.
std::string ReadFileOrThrow(const std::string& path);
void WriteFileOrThrow(const std::string& path, std::string_view bytes);

// Anything under that name, a link to nothing or a pipe too.
bool Exists(const std::string& path);

// Copies a file over whatever is at `to`; the copy is writable by its owner
// even when the original (a shared fixture) is read-only.
bool CopyFile(const std::string& from, const std::string& to);

// Names in a folder ending in `suffix`, sorted; none for a missing folder.
std::vector<std::string> ListDir(const std::string& folder, const std::string& suffix = "");

}  // namespace vvtest
