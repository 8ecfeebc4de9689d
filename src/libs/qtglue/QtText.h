// SPDX-License-Identifier: AGPL-3.0-or-later
// Text crosses from the core (CP932) to Qt (UTF-16) and back only here.
#pragma once

#include <string>

#include <QString>

namespace ov {

QString ToQString(const std::string& cp932);

// Empty when the text has a character that CP932 cannot hold.
std::string FromQString(const QString& text);

}  // namespace ov
