// SPDX-License-Identifier: AGPL-3.0-or-later
#pragma once

namespace ov {

// Puts the application's style (the one the platform or -style chose) behind a
// thin proxy that draws the tool bars' extension buttons from the viewer's own
// icons. The toolkit's icons for them are PNG files, and reading the first PNG
// by name makes the toolkit load every image-format plug-in it has (to ask each
// whether it reads PNG): a few milliseconds and a dozen libraries on the way to
// the first picture, for a button that shows only in a very short window.
// Call once, after the QApplication is made and before the first tool bar.
void InstallFrameStyle();

}  // namespace ov
