#pragma once
// The Japanese texts of the download windows are written in the sources as UTF-8.
#include <QString>

namespace download {

inline QString Utf8(const char* s) { return QString::fromUtf8(s); }

}  // namespace download
