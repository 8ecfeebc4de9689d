// SPDX-License-Identifier: AGPL-3.0-or-later
// Message boxes by number: the texts of the messages the viewer shows, in English
// and Japanese, and the mapping of error codes to message numbers.
#include "ormamsg/OrmaMsg.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "ormamsg/StringTable.h"
#include "win32/CodePage.h"

namespace {

struct MessageEntry {
    int number;
    const char* english;
    const char* japanese;
};

// UTF-8 here, CP932 when handed out.
constexpr MessageEntry kMessages[] = {
    {17,
     "The page could not be found: the document's page list, a page file or the requested page is "
     "missing.\n\nClose this window and open the document again from the work desk. If it happens again, "
     "the document folder may be damaged; ask your administrator to check it.",
     "ページが見つかりません。文書のページ一覧、ページのファイル、または指定されたページがありません。\n\n"
     "このウィンドウを閉じて、ワークデスクから文書を開き直してください。繰り返し発生する場合は文書フォルダが"
     "壊れている可能性があります。管理者に確認を依頼してください。"},
    {18, "There is not enough memory to continue.\n\nClose other programs or windows and try again.",
     "メモリが不足しているため、処理を続けられません。\n\nほかのプログラムやウィンドウを閉じてから、もう一度"
     "実行してください。"},
    {24,
     "A working folder could not be created.\n\nMake sure the disk has free space and that the temporary "
     "folder (TMPDIR, normally /tmp) can be written, then try again.",
     "作業用フォルダを作成できませんでした。\n\nディスクの空き容量と、一時フォルダ（TMPDIR、通常は /tmp）"
     "に書き込めることを確認してから、もう一度実行してください。"},
    {25,
     "The document or the work-desk folder does not exist.\n\nMake sure the work-desk folder is available "
     "(for example, that its drive is mounted) and that the document has not been moved or deleted, then "
     "open it again from the work desk.",
     "文書またはワークデスクのフォルダが存在しません。\n\nワークデスクのフォルダが利用できること（ドライブが"
     "マウントされていることなど）と、文書が移動・削除されていないことを確認してから、ワークデスクから開き直"
     "して"
     "ください。"},
    {38,
     "The page could not be prepared for display: a work-desk library reported an error.\n\nClose this "
     "window and open the page again. If it happens again, the page's file may be damaged; ask your "
     "administrator to check the trace log.",
     "ページを表示用に準備できませんでした（ワークデスクのライブラリでエラーが発生しました）。\n\n"
     "このウィンドウを閉じて、もう一度ページを開いてください。繰り返し発生する場合はページのファイルが壊れて"
     "いる"
     "可能性があります。管理者にトレースログの確認を依頼してください。"},
    {41,
     "The viewer window could not be set up (its document or page view is missing).\n\nClose the viewer "
     "and start it again from the work desk.",
     "ビューアのウィンドウを準備できませんでした（文書またはページ表示がありません）。\n\nビューアを閉じて、"
     "ワークデスクから起動し直してください。"},
    {42,
     "An unexpected error occurred and the operation was not completed.\n\nClose the viewer and try again. "
     "If it happens again, ask your administrator to check the trace log.",
     "予期しないエラーが発生したため、処理を完了できませんでした。\n\nビューアを閉じて、もう一度実行してくだ"
     "さい。"
     "繰り返し発生する場合は、管理者にトレースログの確認を依頼してください。"},
    {46,
     "The viewer's private runtime folder cannot be used, so it cannot find or tell other viewers and the "
     "work desk.\n\nIt must be a folder of your own (not a link) that only you can open (mode 0700). Remove "
     "or repair it, then start the viewer again. The folder and what is wrong with it:",
     "ビューアの専用実行時フォルダを使用できないため、ほかのビューアやワークデスクと連携できません。\n\n"
     "このフォルダは自分だけが開ける（モード 0700）自分のフォルダ（リンクではないもの）である必要があります。"
     "削除または修復してから、ビューアを起動し直してください。フォルダと問題点："},
    {47,
     "No postcard viewer has published this postcard key.\n\nThe postcard viewer may have ended, or the "
     "key is not the one it published. Open the postcard again from the postcard viewer.",
     "このはがきのキーを公開しているはがきビューアがありません。\n\nはがきビューアが終了したか、キーがはがき"
     "ビューアの公開したものと異なります。はがきビューアからはがきを開き直してください。"},
    {44,
     "The viewer was started with a wrong parameter: the folder is empty or a document or page ID is "
     "missing or not a number.\n\nStart the viewer again from the work desk, or see \"ormaview --help\" for "
     "the command line.",
     "ビューアの起動パラメータが正しくありません（フォルダが空か、文書IDまたはページIDがないか数値ではありま"
     "せ"
     "ん）。\n\nワークデスクからビューアを起動し直してください。コマンドラインの形式は \"ormaview --help\" で"
     "確認できます。"},
};

ov::MessagePresenter& Presenter() {
    static ov::MessagePresenter presenter;
    return presenter;
}

// What the next box is about, and what the last one was about.
struct MessageDetail {
    std::vector<std::string> lines;
    std::string last;
};

MessageDetail& Detail() {
    static MessageDetail detail;
    return detail;
}

bool JapaneseCurrent() {
    const char* language = LanguageOf(GetCurrentResourceModule());
    return language[0] == 'j' && language[1] == 'a';
}

}  // namespace

namespace ov {

void SetMessagePresenter(MessagePresenter presenter) {
    Presenter() = std::move(presenter);
}

void NoteMessageDetail(const std::string& line) {
    std::vector<std::string>& lines = Detail().lines;
    if (line.empty() || lines.size() >= kMaxMessageDetails)
        return;
    for (const std::string& l : lines) {
        if (l == line)
            return;
    }
    lines.push_back(line);
}

void NoteMessageDetail(DetailKind kind, const std::string& value) {
    struct Label {
        DetailKind kind;
        const char* english;
        const char* japanese;
    };
    static constexpr Label kLabels[] = {
        {DetailKind::Folder, "Folder: ", "フォルダ: "},
        {DetailKind::File, "File: ", "ファイル: "},
        {DetailKind::DocumentID, "Document ID: ", "文書ID: "},
        {DetailKind::PageID, "Page ID: ", "ページID: "},
        {DetailKind::PostcardKey, "Postcard key: ", "はがきのキー: "},
        {DetailKind::DamagedPageFile, "page file is damaged: ", "ページのファイルが壊れています: "},
    };
    for (const Label& l : kLabels) {
        if (l.kind == kind) {
            NoteMessageDetail(
                Utf8ToCp932(JapaneseCurrent() ? l.japanese : l.english).value_or(std::string()) + value);
            return;
        }
    }
}

void NoteMessageDetail(DetailKind kind, int value) {
    NoteMessageDetail(kind, std::to_string(value));
}

void ClearMessageDetail() {
    Detail().lines.clear();
}

std::string PendingMessageDetail() {
    std::string text;
    for (const std::string& l : Detail().lines) {
        if (!text.empty())
            text += '\n';
        text += l;
    }
    return text;
}

std::string LastMessageDetail() {
    return Detail().last;
}

int MessageNumberForCode(int code) {
    switch (code) {
        case 0:
        case ov::kErrSilentParameter:
            return 0;
        case ov::kErrBadParameter:
            return 44;
        case ov::kErrNotFound:
            return 17;
        case ov::kErrFolderNotMade:
        case -103:
            return 24;
        case ov::kErrNoView:
            return 41;
        case ov::kErrFolderMissing:
        case -101:
            return 25;
        case -20:
            return 38;
        case ov::kErrNoMemory:
            return 18;
        case kErrRuntimeFolder:
            return 46;
        case kErrNoPostcardKey:
            return 47;
        default:
            return 42;
    }
}

std::string MessageText(int number) {
    const bool japanese = JapaneseCurrent();
    for (const MessageEntry& m : kMessages) {
        if (m.number == number)
            return Utf8ToCp932(japanese ? m.japanese : m.english).value_or(std::string());
    }
    char text[128];
    std::snprintf(text, sizeof(text),
                  japanese ? "エラーが発生しました。(メッセージ %d)" : "An error occurred (message %d).",
                  number);
    return Utf8ToCp932(text).value_or(std::string());
}

}  // namespace ov

int OrmaMsg_ShowMessage(HWND owner, int number, const char* caption, UINT style) {
    (void)owner;
    const std::string text = ov::MessageText(number);
    const std::string title = caption != nullptr ? caption : "";
    // The lines noted belong to this box only.
    const std::string informative = ov::PendingMessageDetail();
    ov::ClearMessageDetail();
    Detail().last = informative;
    if (ov::MessagePresenter& presenter = Presenter())
        return presenter(title, text, informative, style);
    std::fprintf(stderr, "%s: %s%s%s\n", ov::Cp932ToUtf8Lossy(title).c_str(),
                 ov::Cp932ToUtf8Lossy(text).c_str(), informative.empty() ? "" : "\n",
                 ov::Cp932ToUtf8Lossy(informative).c_str());
    return 1;  // as if OK was pressed
}

int ShowErrorMessage(int code) {
    const int number = ov::MessageNumberForCode(code);
    if (number == 0)
        return 0;
    const std::string caption = LoadResString(IDS_APP_TITLE);
    return OrmaMsg_ShowMessage(0, number, caption.c_str(), MB_ICONERROR | MB_TOPMOST | MB_SETFOREGROUND);
}
