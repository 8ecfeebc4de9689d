// SPDX-License-Identifier: AGPL-3.0-or-later
#include "qtglue/WaitCursor.h"

#include <QApplication>

ov::CWaitCursor::CWaitCursor() {
    Set(true);
}

ov::CWaitCursor::~CWaitCursor() {
    Set(false);
}

void ov::CWaitCursor::Set(bool bWait) {
    if (bWait)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}
