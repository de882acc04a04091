#pragma once
// Ini files with Windows private-profile semantics: section and key names match
// regardless of letter case, values are taken byte for byte (after trimming the
// blanks around them), the first of duplicate keys wins, LF and CRLF both read.
// Writes keep every other line of the file where it was and replace the file
// atomically (temporary file in the same folder, then rename).
#include <string>
#include <utility>
#include <vector>

namespace plat {

std::string IniReadString(const std::string& file, const std::string& section,
                          const std::string& key, const std::string& def);
// A value that is not a whole number gives def.
int IniReadInteger(const std::string& file, const std::string& section,
                   const std::string& key, int def);
// Raise plat::Error("Unable to write to " + file) when the file cannot be written.
void IniWriteString(const std::string& file, const std::string& section,
                    const std::string& key, const std::string& value);
void IniWriteInteger(const std::string& file, const std::string& section,
                     const std::string& key, int value);
// Keys of a section in file order with their values (the first of duplicate
// keys only); empty when the file or section is missing.
std::vector<std::pair<std::string, std::string>> IniReadSection(const std::string& file,
                                                                const std::string& section);
void IniEraseSection(const std::string& file, const std::string& section);

}  // namespace plat
