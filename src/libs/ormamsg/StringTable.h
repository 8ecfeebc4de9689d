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
    // The command line: usage, help and the one-line reasons of a failed start
    // (printed on a terminal, so whole and in UTF-8: see LoadResText).
    IDS_USAGE = 57400,                 // "Usage: ormaview WORKDESK-FOLDER ..."
    IDS_HELP = 57401,                  // the rest of --help: modes, environment, keys, exit status
    IDS_TRY_HELP = 57402,              // "Try 'ormaview --help' for more information."
    IDS_CMD_UNKNOWN_OPTION = 57403,    // "unknown option %s"
    IDS_CMD_EMPTY_QUOTES = 57404,      // "an empty parameter (\"\") was given"
    IDS_CMD_OPEN_QUOTE = 57405,        // "a double quote is not closed: %s"
    IDS_CMD_NO_KEY = 57406,            // "missing parameter: /h needs the postcard key"
    IDS_CMD_MISSING_ONE = 57407,       // "missing parameter: %s"
    IDS_CMD_MISSING_MORE = 57408,      // "missing parameters: %s"
    IDS_CMD_BAD_KEY = 57409,           // "the postcard key %s is not a number of 1 or more"
    IDS_CMD_BAD_DOC_ID = 57410,        // "the document ID %s is not ..."
    IDS_CMD_BAD_PAGE_ID = 57411,       // "the page ID %s is not ..."
    IDS_CMD_FOLDER_CP932 = 57412,      // "the folder \"%s\" holds \"%s\"%s, which ... (CP932) cannot hold"
    IDS_CMD_ARGUMENT_CP932 = 57413,    // "the argument \"%s\" holds ..."
    IDS_CMD_FAILED = 57414,            // a failed start that no box and no parameter explains
    IDS_PARAM_FOLDER = 57415,          // "WORKDESK-FOLDER"
    IDS_PARAM_DOC_ID = 57416,          // "DOCUMENT-ID"
    IDS_PARAM_PAGE_ID = 57417,         // "PAGE-ID"
    IDS_START_RUNTIME_FOLDER = 57418,  // "the runtime folder %s cannot be used: %s"
    IDS_START_OTHER_VIEWER = 57419,    // "another viewer is running and did not close in time"
    IDS_START_NO_WINDOW = 57420,       // "the viewer window could not be created"
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
// The same entry whole and in UTF-8, for text printed on a terminal.
std::string LoadResText(UINT id);
