#pragma once
// Texts cross between the program (Windows-1252 std::string) and Qt (QString)
// only through these two.
#include <QString>
#include <string>

#include "platform/text.h"

inline QString Q(const std::string& s) { return QString::fromStdString(plat::Cp1252ToUtf8(s)); }
inline std::string S(const QString& s) { return plat::Utf8ToCp1252(s.toStdString()); }
