// SPDX-License-Identifier: AGPL-3.0-or-later
// The program's string table and its language modules.
#pragma once

#include <string>

#include "base/WinTypes.h"

// String IDs used by the viewer.
enum : UINT {
    IDS_DOC_TEMPLATE = 128,
    IDS_APP_TITLE = 57344,              // "Quilm-WorkArea"
    IDS_TIP_CLOSE = 57346,              // "Close"
    IDS_TIP_PREV_PAGE = 57347,          // "Previous Page"
    IDS_TIP_NEXT_PAGE = 57348,          // "Next Page"
    IDS_TITLE_FORMAT = 57349,           // "%s ( %d/%d )"
    IDS_LABEL_PREV = 57350,             // "Previous"
    IDS_LABEL_NEXT = 57351,             // "Next"
    IDS_LABEL_CLOSE = 57352,            // "Close"
    IDS_LABEL_ANNOTATIONS = 57353,      // "Annotations"
    IDS_TIP_ANNOTATIONS = 57354,        // "Show/Hide annotations"
    IDS_LABEL_OMOTE = 57355,            // "Turn front"
    IDS_LABEL_URA = 57356,              // "Turn back"
    IDS_LABEL_ROTATION = 57357,         // "Upside down"
    IDS_TIP_OMOTE = 57358,              // "Turn front side right"
    IDS_TIP_URA = 57359,                // "Turn back side right"
    IDS_TIP_ROTATION = 57360,           // "Turn postcard upside down"
    IDS_POSTCARD_TITLE = 57361,         // "Postalyn"
    IDS_POSTCARD_TITLE_FORMAT = 57362,  // "Postalyn - %s ( %d/%d )"
    IDS_POSTCARD_TITLE_NAME = 57363,    // "Postalyn - %s"
    // Labels of the postcard edit pane, numbered as its controls.
    IDS_HAGAKI_RESET = 160,     // "reset(&U)"
    IDS_HAGAKI_FROM = 161,      // "name(&F)："
    IDS_HAGAKI_NUMBER = 162,    // "lot number(&N)："
    IDS_HAGAKI_YEAR = 163,      // "year(&Y)："
    IDS_HAGAKI_TYPE = 164,      // "class(&C)："
    IDS_HAGAKI_MEMO = 165,      // "memo(&M)："
    IDS_HAGAKI_FROMKANA = 166,  // "kana(&K)："
    // Page navigation: the go-to dialog and the page indicator.
    IDS_GOTO_TITLE = 57380,          // "Go to Page"
    IDS_GOTO_LABEL = 57381,          // "Page number (1 to %d):"
    IDS_TIP_PAGE_NUMBER = 57382,     // "Page %d of %d ..."
    IDS_PAGE_NUMBER_FORMAT = 57383,  // "%d / %d"
    // Reading aids: the magnifier's steps, the turned view, the lot number's form.
    IDS_LABEL_ZOOM = 57384,          // "Zoom"
    IDS_TIP_ZOOM = 57385,            // "Zoom in ..."
    IDS_LABEL_TURN_VIEW = 57386,     // "Turn view"
    IDS_TIP_TURN_VIEW = 57387,       // "Turn the view 90 degrees clockwise ..."
    IDS_HAGAKI_NUMBER_HINT = 57388,  // "13 bytes: ..."
    IDS_VIEW_NAME = 57389,           // "Page"
    IDS_VIEW_DESCRIPTION = 57390,    // "The current page ..."
    IDS_ZOOM_LEVEL_FORMAT = 57391,   // "%s x"
};

// A handle of a language module (a string catalogue); nullptr is the program's
// own (English) table.
struct LanguageModule;
using HINSTANCE = const LanguageModule*;

// The language module for the locale ($LC_ALL, $LC_MESSAGES, $LANG): Japanese
// when it starts with "ja", else nullptr.
HINSTANCE GetResourceHandle(HINSTANCE instance, int reserved);
// Makes the module the current resource module (nullptr: the program's own).
void SetCurrentResourceModule(HINSTANCE module);
HINSTANCE GetCurrentResourceModule();
void FreeLibrary(HINSTANCE module);
// The language of a module: "ja" for the Japanese one, "en" for nullptr (ours).
const char* LanguageOf(HINSTANCE module);

// The entry of the current module (falling back to the program's own table), as
// CP932, cut to 259 bytes; empty when the ID is missing.
std::string LoadResString(UINT id);
