// SPDX-License-Identifier: AGPL-3.0-or-later
// The rule that brings a window rectangle saved on another screen back onto
// this one.
#pragma once

#include <QList>
#include <QMargins>
#include <QRect>

namespace ov {

// Sides below this are raised to it (or to the available area, when smaller).
inline constexpr int kMinWindowSide = 200;

// The rectangle a window opens with when Left, Top, Width and Height were saved
// (values as read, any int) and the screens offer the given available areas
// (logical pixels; the first is the primary screen). Each side is first limited
// to the available area of the screen the rectangle lies on most (the primary
// one when it lies on none), before anything is added, so no value overflows.
// A rectangle that was limited, or of which less than half is on the available
// areas, is then moved onto that screen's, its size kept when it fits. A
// rectangle that fits and lies mostly on screen stays where it was saved.
// The rectangle is the window's inside; frame is the border that the window
// manager puts around it (title bar included). A rectangle that is limited or
// moved is fitted so that its frame, not just its inside, lies on the area.
QRect FitSavedWindowRect(int iLeft, int iTop, int iWidth, int iHeight, const QList<QRect>& available,
                         const QMargins& frame = QMargins());

// The available areas of the screens, the primary one first.
QList<QRect> AvailableScreenAreas();

}  // namespace ov
