// SPDX-License-Identifier: AGPL-3.0-or-later
// The program's own (English) string table and the Japanese language module.
// The texts are kept in UTF-8 here and handed out as CP932.
#include "ormamsg/StringTable.h"

#include <cstdlib>
#include <cstring>
#include <string_view>

#include "win32/CodePage.h"

struct StringEntry {
    UINT id;
    const char* utf8;
};

struct LanguageModule {
    const char* name;
    const StringEntry* entries;
    std::size_t count;
};

namespace {

constexpr StringEntry kEnglish[] = {
    {IDS_DOC_TEMPLATE, "OrmaView\n\nOrmaVi\n\n\nOrmaView.Document\nOrmaVi Document"},
    {IDS_APP_TITLE, "Quilm-WorkArea"},
    {IDS_TIP_CLOSE, "Close"},
    {IDS_TIP_PREV_PAGE, "Previous Page"},
    {IDS_TIP_NEXT_PAGE, "Next Page"},
    {IDS_TITLE_FORMAT, "%s ( %d/%d )"},
    {IDS_LABEL_PREV, "Previous"},
    {IDS_LABEL_NEXT, "Next"},
    {IDS_LABEL_CLOSE, "Close"},
    {IDS_LABEL_ANNOTATIONS, "Annotations"},
    {IDS_TIP_ANNOTATIONS, "Show/Hide annotations"},
    {IDS_LABEL_OMOTE, "Turn front"},
    {IDS_LABEL_URA, "Turn back"},
    {IDS_LABEL_ROTATION, "Upside down"},
    {IDS_TIP_OMOTE, "Turn front side right"},
    {IDS_TIP_URA, "Turn back side right"},
    {IDS_TIP_ROTATION, "Turn postcard upside down"},
    {IDS_POSTCARD_TITLE, "Postalyn"},
    {IDS_POSTCARD_TITLE_FORMAT, "Postalyn - %s ( %d/%d )"},
    {IDS_POSTCARD_TITLE_NAME, "Postalyn - %s"},
    {IDS_HAGAKI_RESET, "reset(&U)"},
    {IDS_HAGAKI_FROM, "name(&F)："},
    {IDS_HAGAKI_NUMBER, "lot number(&N)："},
    {IDS_HAGAKI_YEAR, "year(&Y)："},
    {IDS_HAGAKI_TYPE, "class(&C)："},
    {IDS_HAGAKI_MEMO, "memo(&M)："},
    {IDS_HAGAKI_FROMKANA, "kana(&K)："},
    {IDS_GOTO_TITLE, "Go to Page"},
    {IDS_GOTO_LABEL, "Page number (1 to %d):"},
    {IDS_TIP_PAGE_NUMBER,
     "Page %d of %d (index sheets not counted). Home: first page, End: last page, "
     "Ctrl+G: go to a page"},
    {IDS_PAGE_NUMBER_FORMAT, "%d / %d"},
    {IDS_USAGE,
     "Usage: ormaview WORKDESK-FOLDER DOCUMENT-ID PAGE-ID\n"
     "       ormaview /h KEY\n"
     "       ormaview -h | --help | -v | --version\n"},
    {IDS_HELP,
     "\n"
     "Shows one page of a work-desk document: the document \"Doc%06d\" of the\n"
     "work-desk folder, starting at the page with the given ID. A folder that\n"
     "holds spaces is given in double quotes.\n"
     "With /h the viewer runs for the postcard viewer, which published the\n"
     "postcard to show under the numeric KEY.\n"
     "\n"
     "Environment:\n"
     "  ORMAVIEW_WORKDESK    the work-desk folder (else WorkDeskFolder in section\n"
     "                       [WorkDesk] of $XDG_CONFIG_HOME/ormaview/ormaview.ini)\n"
     "  ORMAVIEW_TRACE_FILE  the trace file, \"-\" for standard error (else\n"
     "                       $XDG_STATE_HOME/ormaview/trace.log)\n"
     "Without either, the window placement is kept in WorkDesk.dat of the folder\n"
     "on the command line (or of the postcard's record).\n"
     "\n"
     "Keys:\n"
     "  PageDown, Space, Right     next page (index sheets are passed over)\n"
     "  PageUp, Backspace, Left    previous page\n"
     "  Home, End                  first, last page\n"
     "  Ctrl+G                     go to a page number\n"
     "  A                          show or hide the annotations\n"
     "  +, =, Ctrl+wheel up        magnify step by step (1.5x to 6x)\n"
     "  -, Ctrl+wheel down         step back (closes at the level it opened at)\n"
     "  W                          fit the page's width in the magnifier\n"
     "  R, Shift+R                 turn the view right, left (the file is not changed)\n"
     "  Ctrl+PageDown, Ctrl+PageUp next, previous page from anywhere in the window\n"
     "  Ctrl+R, Ctrl+Shift+R       postcard mode: turn the front, the back side\n"
     "  Ctrl+T                     postcard mode: turn the postcard upside down\n"
     "  Escape, Ctrl+W, Ctrl+Q     close\n"
     "  The mouse wheel steps one page per full notch; a double click closes.\n"
     "\n"
     "Exit status: 0 after a normal run or --help/--version, 2 for a command-line\n"
     "mistake, 1 when the viewer could not start (a message box tells why).\n"},
    {IDS_TRY_HELP, "Try 'ormaview --help' for more information.\n"},
    {IDS_CMD_UNKNOWN_OPTION, "unknown option %s"},
    {IDS_CMD_EMPTY_QUOTES, "an empty parameter (\"\") was given"},
    {IDS_CMD_OPEN_QUOTE, "a double quote is not closed: %s"},
    {IDS_CMD_NO_KEY, "missing parameter: /h needs the postcard key"},
    {IDS_CMD_MISSING_ONE, "missing parameter: %s"},
    {IDS_CMD_MISSING_MORE, "missing parameters: %s"},
    {IDS_CMD_BAD_KEY, "the postcard key %s is not a number of 1 or more"},
    {IDS_CMD_BAD_DOC_ID, "the document ID %s is not a number of 1 or more"},
    {IDS_CMD_BAD_PAGE_ID, "the page ID %s is not a number of 1 or more"},
    {IDS_CMD_FOLDER_CP932,
     "the folder \"%s\" holds \"%s\"%s, which the work desk's code page (CP932) cannot hold"},
    {IDS_CMD_ARGUMENT_CP932,
     "the argument \"%s\" holds \"%s\"%s, which the work desk's code page (CP932) cannot hold"},
    {IDS_CMD_FAILED, "the viewer could not start; the trace log tells why"},
    {IDS_PARAM_FOLDER, "WORKDESK-FOLDER"},
    {IDS_PARAM_DOC_ID, "DOCUMENT-ID"},
    {IDS_PARAM_PAGE_ID, "PAGE-ID"},
    {IDS_START_RUNTIME_FOLDER, "the runtime folder %s cannot be used: %s"},
    {IDS_START_OTHER_VIEWER, "another viewer is running and did not close in time"},
    {IDS_START_NO_WINDOW, "the viewer window could not be created"},
    {IDS_LABEL_ZOOM, "Zoom"},
    {IDS_TIP_ZOOM, "Zoom in step by step (Ctrl+wheel too); - zooms out, W fits the width"},
    {IDS_LABEL_TURN_VIEW, "Turn view"},
    {IDS_TIP_TURN_VIEW, "Turn the view right (Shift+R: left); the file is not changed"},
    {IDS_HAGAKI_NUMBER_HINT, "13 bytes: eleven ASCII letters or digits and 組 once, e.g. 2024組0001234"},
    {IDS_VIEW_NAME, "Page"},
    {IDS_VIEW_DESCRIPTION, "The current page. Wheel or PgDown/PgUp: next or previous page; +: zoom in"},
    {IDS_ZOOM_LEVEL_FORMAT, "%sx"},
};

// Same IDs, same format directives in the same order.
constexpr StringEntry kJapanese[] = {
    {IDS_DOC_TEMPLATE, "OrmaView\n\nOrmaVi\n\n\nOrmaView.Document\nOrmaVi Document"},
    {IDS_APP_TITLE, "Quilm-WorkArea"},
    {IDS_TIP_CLOSE, "閉じる"},
    {IDS_TIP_PREV_PAGE, "前のページ"},
    {IDS_TIP_NEXT_PAGE, "次のページ"},
    {IDS_TITLE_FORMAT, "%s ( %d/%d )"},
    {IDS_LABEL_PREV, "前へ"},
    {IDS_LABEL_NEXT, "次へ"},
    {IDS_LABEL_CLOSE, "閉じる"},
    {IDS_LABEL_ANNOTATIONS, "注釈"},
    {IDS_TIP_ANNOTATIONS, "注釈の表示/非表示"},
    {IDS_LABEL_OMOTE, "表面 右90度回転"},
    {IDS_LABEL_URA, "裏面 右90度回転"},
    {IDS_LABEL_ROTATION, "はがき天地回転"},
    {IDS_TIP_OMOTE, "表面を右に90度回転"},
    {IDS_TIP_URA, "裏面を右に90度回転"},
    {IDS_TIP_ROTATION, "はがきの天地を回転（表裏の入れ替え）"},
    {IDS_POSTCARD_TITLE, "Postalyn"},
    {IDS_POSTCARD_TITLE_FORMAT, "Postalyn - %s ( %d/%d )"},
    {IDS_POSTCARD_TITLE_NAME, "Postalyn - %s"},
    {IDS_HAGAKI_RESET, "元に戻す(&U)"},
    {IDS_HAGAKI_FROM, "差出人(&F)："},
    {IDS_HAGAKI_NUMBER, "お年玉番号(&N)："},
    {IDS_HAGAKI_YEAR, "年(&Y)："},
    {IDS_HAGAKI_TYPE, "種別(&C)："},
    {IDS_HAGAKI_MEMO, "メモ(&M)："},
    {IDS_HAGAKI_FROMKANA, "フリガナ(&K)："},
    {IDS_GOTO_TITLE, "ページへ移動"},
    {IDS_GOTO_LABEL, "ページ番号（1～%d）:"},
    {IDS_TIP_PAGE_NUMBER,
     "%d / %d ページ（インデックスシートを除く）。Home: 最初のページ、End: 最後のページ、"
     "Ctrl+G: ページへ移動"},
    {IDS_PAGE_NUMBER_FORMAT, "%d / %d"},
    {IDS_USAGE,
     "使い方: ormaview ワークデスクフォルダ 文書ID ページID\n"
     "        ormaview /h キー\n"
     "        ormaview -h | --help | -v | --version\n"},
    {IDS_HELP,
     "\n"
     "ワークデスクの文書を1ページずつ表示します。ワークデスクフォルダの文書\n"
     "\"Doc%06d\" を、指定されたIDのページから開きます。空白を含むフォルダは\n"
     "二重引用符で囲んでください。\n"
     "/h を付けると、はがきビューアのために動作します。表示するはがきは、\n"
     "はがきビューアが数値のキーで公開しています。\n"
     "\n"
     "環境変数:\n"
     "  ORMAVIEW_WORKDESK    ワークデスクフォルダ（ない場合は\n"
     "                       $XDG_CONFIG_HOME/ormaview/ormaview.ini の\n"
     "                       [WorkDesk] セクションの WorkDeskFolder）\n"
     "  ORMAVIEW_TRACE_FILE  トレースファイル。\"-\" で標準エラー出力（ない場合は\n"
     "                       $XDG_STATE_HOME/ormaview/trace.log）\n"
     "どちらもない場合、ウィンドウの位置はコマンドラインのフォルダ（または\n"
     "はがきの記録のフォルダ）の WorkDesk.dat に保存されます。\n"
     "\n"
     "キー:\n"
     "  PageDown, Space, Right     次のページ（インデックスシートは飛ばします）\n"
     "  PageUp, Backspace, Left    前のページ\n"
     "  Home, End                  最初のページ、最後のページ\n"
     "  Ctrl+G                     ページ番号を指定して移動\n"
     "  A                          注釈の表示/非表示\n"
     "  +, =, Ctrl+ホイール上      段階的に拡大（1.5倍〜6倍）\n"
     "  -, Ctrl+ホイール下         一段階戻す（開いた倍率で閉じます）\n"
     "  W                          拡大表示をページの幅に合わせる\n"
     "  R, Shift+R                 表示を右、左に回転（ファイルは変更しません）\n"
     "  Ctrl+PageDown, Ctrl+PageUp ウィンドウのどこからでも次、前のページ\n"
     "  Ctrl+R, Ctrl+Shift+R       はがきモード: 表面、裏面を回転\n"
     "  Ctrl+T                     はがきモード: はがきの上下を反転\n"
     "  Escape, Ctrl+W, Ctrl+Q     閉じる\n"
     "  マウスホイールは1ノッチで1ページ移動し、ダブルクリックで閉じます。\n"
     "\n"
     "終了ステータス: 通常の終了と --help/--version では 0、コマンドラインの\n"
     "誤りでは 2、ビューアを起動できなかったときは 1（理由はメッセージボックス\n"
     "に表示されます）。\n"},
    {IDS_TRY_HELP, "詳しくは 'ormaview --help' を実行してください。\n"},
    {IDS_CMD_UNKNOWN_OPTION, "不明なオプションです: %s"},
    {IDS_CMD_EMPTY_QUOTES, "空のパラメータ (\"\") が指定されました"},
    {IDS_CMD_OPEN_QUOTE, "二重引用符が閉じていません: %s"},
    {IDS_CMD_NO_KEY, "パラメータが足りません: /h にははがきのキーが必要です"},
    {IDS_CMD_MISSING_ONE, "パラメータが足りません: %s"},
    {IDS_CMD_MISSING_MORE, "パラメータが足りません: %s"},
    {IDS_CMD_BAD_KEY, "はがきのキー %s は1以上の数値ではありません"},
    {IDS_CMD_BAD_DOC_ID, "文書ID %s は1以上の数値ではありません"},
    {IDS_CMD_BAD_PAGE_ID, "ページID %s は1以上の数値ではありません"},
    {IDS_CMD_FOLDER_CP932,
     "フォルダ \"%s\" に、ワークデスクの文字コード（CP932）で表せない文字 \"%s\"%s が含まれています"},
    {IDS_CMD_ARGUMENT_CP932,
     "引数 \"%s\" に、ワークデスクの文字コード（CP932）で表せない文字 \"%s\"%s が含まれています"},
    {IDS_CMD_FAILED, "ビューアを起動できませんでした。理由はトレースログに記録されています"},
    {IDS_PARAM_FOLDER, "ワークデスクフォルダ"},
    {IDS_PARAM_DOC_ID, "文書ID"},
    {IDS_PARAM_PAGE_ID, "ページID"},
    {IDS_START_RUNTIME_FOLDER, "実行時フォルダ %s を使用できません: %s"},
    {IDS_START_OTHER_VIEWER, "別のビューアが実行中で、時間内に閉じませんでした"},
    {IDS_START_NO_WINDOW, "ビューアのウィンドウを作成できませんでした"},
    {IDS_LABEL_ZOOM, "拡大"},
    {IDS_TIP_ZOOM, "段階的に拡大（Ctrl+ホイールでも）。-: 縮小、W: ページの幅に合わせる"},
    {IDS_LABEL_TURN_VIEW, "表示回転"},
    {IDS_TIP_TURN_VIEW, "表示を右に90度回転（Shift+R: 左に回転）。ファイルは変更しません"},
    {IDS_HAGAKI_NUMBER_HINT, "13バイト: 半角英数字11文字と「組」1文字（例: 2024組0001234）"},
    {IDS_VIEW_NAME, "ページ"},
    {IDS_VIEW_DESCRIPTION, "現在のページ。ホイール、PgDown/PgUp: 次/前のページ、+: 拡大"},
    {IDS_ZOOM_LEVEL_FORMAT, "%s倍"},
};

constexpr LanguageModule kEnglishModule{"en", kEnglish, sizeof(kEnglish) / sizeof(kEnglish[0])};
constexpr LanguageModule kJapaneseModule{"ja", kJapanese, sizeof(kJapanese) / sizeof(kJapanese[0])};

HINSTANCE g_current = nullptr;

const char* Find(const LanguageModule& module, UINT id) {
    for (std::size_t i = 0; i < module.count; ++i) {
        if (module.entries[i].id == id)
            return module.entries[i].utf8;
    }
    return nullptr;
}

// The locale that names the language of messages, by POSIX precedence.
std::string_view MessageLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(name);
        if (v != nullptr && *v != '\0')
            return v;
    }
    return {};
}

}  // namespace

HINSTANCE GetResourceHandle(HINSTANCE instance, int reserved) {
    (void)instance;
    (void)reserved;
    std::string_view locale = MessageLocale();
    if (locale.size() >= 2 && locale.substr(0, 2) == "ja")
        return &kJapaneseModule;
    return nullptr;
}

void SetCurrentResourceModule(HINSTANCE module) {
    g_current = module;
}

HINSTANCE GetCurrentResourceModule() {
    return g_current;
}

void FreeLibrary(HINSTANCE module) {
    // The catalogues are part of the program; nothing to release. A freed current
    // module falls back to the program's own table.
    if (module != nullptr && module == g_current)
        g_current = nullptr;
}

const char* LanguageOf(HINSTANCE module) {
    return module != nullptr ? module->name : kEnglishModule.name;
}

std::string LoadResText(UINT id) {
    const char* utf8 = g_current != nullptr ? Find(*g_current, id) : nullptr;
    if (utf8 == nullptr)
        utf8 = Find(kEnglishModule, id);
    return utf8 != nullptr ? utf8 : std::string();
}

std::string LoadResString(UINT id) {
    std::string text = ov::Utf8ToCp932(LoadResText(id)).value_or(std::string());
    // A 260-byte buffer: at most 259 bytes, never half a character.
    text.resize(ov::Cp932CutLength(text, MAX_PATH - 1));
    return text;
}
