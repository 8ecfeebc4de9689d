// SPDX-License-Identifier: AGPL-3.0-or-later
// The memo field of the postcard edit pane: a word-wrapping multi-line edit whose
// value never holds a line break and stays within a byte limit of CP932, however
// the text arrives (typed, pasted, dropped or set). A character that CP932 cannot
// hold is refused at input: the text stays as it was.
#pragma once

#include <string>

#include <QPlainTextEdit>

class CMemoEdit : public QPlainTextEdit {
    Q_OBJECT

public:
    explicit CMemoEdit(QWidget* parent = nullptr);

    // The limit in bytes of CP932 (32767 until set; 0 or less sets 32767 again).
    void SetTextLimit(int nLimit);
    // Sets the text (CP932); it passes the same filter as typed text.
    void SetMemoText(const std::string& strText);
    // The text without line breaks and within the limit, as CP932.
    std::string* GetFilteredText(std::string* pOut) const;
    // A loaded memo as the pane shows it (UTF-8, U+FFFD for bytes that did not
    // decode), whole even when it is over the limit: the limit applies to what
    // the user inserts, and an unchanged memo goes back as it was stored.
    void SetMemoTextUtf8(const std::string& strUtf8);
    // The text shown, UTF-8.
    std::string MemoTextUtf8() const;
    // Filters the text after a change; the caret keeps its place in the text
    // that remains. Runs after every change of the text.
    void RemoveLineBreaks();
    static std::string FilterText(const char* pszText, int nMaximum, int* pCaret);

    int m_nLimit = 32767;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void insertFromMimeData(const QMimeData* source) override;

private:
    // Replaces the shown text and puts the caret (in CP932 bytes) in view.
    void ReplaceText(const std::string& strText, int iCaret);

    std::string m_strLast;  // the text after the last change, CP932
    int m_iLastCaret = 0;   // its caret, bytes
    bool m_bFiltering = false;
};
