// SPDX-License-Identifier: AGPL-3.0-or-later
#include "qtglue/QtText.h"

#include "win32/CodePage.h"

QString ov::ToQString(const std::string& cp932) {
    return QString::fromUtf8(Cp932ToUtf8Lossy(cp932));
}

std::string ov::FromQString(const QString& text) {
    return Utf8ToCp932(text.toStdString()).value_or(std::string());
}
