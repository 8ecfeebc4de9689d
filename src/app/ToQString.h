// SPDX-License-Identifier: AGPL-3.0-or-later
// Text crosses from the core (CP932) to Qt (UTF-16) and back only here.
#pragma once

#include <string>

#include <QString>

#include "win32/CodePage.h"

namespace ov {

inline QString ToQString(const std::string& cp932) {
    return QString::fromUtf8(Cp932ToUtf8Lossy(cp932));
}

// Empty when the text has a character that CP932 cannot hold.
inline std::string FromQString(const QString& text) {
    return Utf8ToCp932(text.toStdString()).value_or(std::string());
}

}  // namespace ov
