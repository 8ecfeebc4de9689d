// SPDX-License-Identifier: AGPL-3.0-or-later
#include "editpane/MemoEdit.h"

#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>

#include "editpane/HagakiText.h"
#include "qtglue/QtText.h"
#include "win32/CodePage.h"

CMemoEdit::CMemoEdit(QWidget* parent) : QPlainTextEdit(parent) {
    setWordWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    setLineWrapMode(QPlainTextEdit::WidgetWidth);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Tab moves on to the next field, as in any form.
    setTabChangesFocus(true);
    connect(this, &QPlainTextEdit::textChanged, this, &CMemoEdit::RemoveLineBreaks);
}

void CMemoEdit::SetTextLimit(int nLimit) {
    m_nLimit = nLimit > 0 ? nLimit : 32767;
    RemoveLineBreaks();
}

void CMemoEdit::SetMemoText(const std::string& strText) {
    setPlainText(ov::ToQString(strText));
    moveCursor(QTextCursor::End);
}

void CMemoEdit::SetMemoTextUtf8(const std::string& strUtf8) {
    const bool bWasFiltering = m_bFiltering;
    m_bFiltering = true;
    setPlainText(QString::fromStdString(strUtf8));
    moveCursor(QTextCursor::End);
    m_bFiltering = bWasFiltering;
    m_strLast = Utf8ToCp932Marked(strUtf8).value_or(std::string());
    m_iLastCaret = static_cast<int>(m_strLast.size());
}

std::string CMemoEdit::MemoTextUtf8() const {
    return toPlainText().toStdString();
}

std::string* CMemoEdit::GetFilteredText(std::string* pOut) const {
    const std::string strText = ov::FromQString(toPlainText());
    *pOut = FilterText(strText.c_str(), m_nLimit + 1, nullptr);
    return pOut;
}

std::string CMemoEdit::FilterText(const char* pszText, int nMaximum, int* pCaret) {
    return ::FilterText(pszText, nMaximum, pCaret);
}

void CMemoEdit::keyPressEvent(QKeyEvent* event) {
    // Enter and Ctrl+Enter (carriage return and line feed) never reach the text.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void CMemoEdit::insertFromMimeData(const QMimeData* source) {
    // Pasted as usual; the change then passes the filter like any other.
    QPlainTextEdit::insertFromMimeData(source);
    RemoveLineBreaks();
}

void CMemoEdit::ReplaceText(const std::string& strText, int iCaret) {
    const bool bWasFiltering = m_bFiltering;
    m_bFiltering = true;
    setPlainText(QString::fromStdString(Cp932MarkedToUtf8(strText)));
    QTextCursor cursor = textCursor();
    cursor.setPosition(CharsBeforeByte(strText, iCaret));
    setTextCursor(cursor);
    ensureCursorVisible();
    m_bFiltering = bWasFiltering;
}

void CMemoEdit::RemoveLineBreaks() {
    if (m_bFiltering)
        return;
    const QString text = toPlainText();
    // A U+FFFD shown for bytes that did not decode passes as one byte.
    const std::optional<std::string> cp932 = Utf8ToCp932Marked(text.toStdString());
    if (!cp932) {
        // A character CP932 cannot hold would be lost when the record is
        // written: the input is refused.
        ReplaceText(m_strLast, m_iLastCaret);
        return;
    }
    const std::string& strText = *cp932;
    // The caret (selection end) in bytes; every character of the text is one
    // UTF-16 unit, since CP932 holds only characters of the basic plane.
    int iCaret = BytesBeforeChar(strText, textCursor().position());
    std::string strFiltered = FilterText(strText.c_str(), 0, &iCaret);
    // Typed or pasted text beyond the limit is cut where it was inserted, so the
    // text after the caret stays; whatever is still too long is cut at the end.
    std::string strFitted;
    int iFitCaret = iCaret;
    switch (ApplyFieldInput(m_strLast, strFiltered, FieldRule{m_nLimit, false}, &strFitted, &iFitCaret)) {
        case FieldInput::Cut:
            strFiltered = strFitted;
            iCaret = iFitCaret;
            break;
        case FieldInput::Refused:
            if (strFiltered.size() > static_cast<std::size_t>(m_nLimit)) {
                strFiltered = m_strLast;
                iCaret = m_iLastCaret;
            }
            break;
        case FieldInput::Accepted:
            break;
    }
    strFiltered = FilterText(strFiltered.c_str(), m_nLimit + 1, &iCaret);
    if (strFiltered != strText)
        ReplaceText(strFiltered, iCaret);
    m_strLast = strFiltered;
    m_iLastCaret = iCaret;
}
