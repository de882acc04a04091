#pragma once
// Documents that a Labels record may not name. Printing a label deletes its
// document, so a damaged or hostile record naming the host's tables, a
// settings file or a program would destroy it; such a label is refused like
// a missing document.
#include <cstdint>
#include <string>

constexpr int64_t kLabelDocumentMax = 16 * 1024 * 1024;

// Why the named document may not be printed, by its kind (extension, any
// letter case) and, when [Labels] Folders is set, its folder; "" when it may.
std::string LabelDocumentRefusal(const std::string& name);
// Why a document of this many bytes may not be printed; "" when it may.
std::string LabelSizeRefusal(const std::string& name, int64_t size);
// Whether path lies inside folder (at any depth), both absolute and resolved.
// With Windows names either separator separates and letters match in any
// case (Windows-1252); otherwise the names are compared byte for byte.
bool PathInsideFolder(const std::string& path, const std::string& folder, bool windowsNames);
