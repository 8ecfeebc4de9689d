// SPDX-License-Identifier: AGPL-3.0-or-later
// The postcard edit pane on a record held in memory: the fields' limits and
// rules, the red lot number, reset, the read-only cards, and the stored bytes
// given back for every field the user did not change.
#include <string>

#include <gtest/gtest.h>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "GuiTestSupport.h"
#include "editpane/HagakiEditDialog.h"
#include "editpane/MemoEdit.h"
#include "postcard/HagakiInfo.h"
#include "postcard/HagakiRecordSource.h"
#include "win32/CodePage.h"

namespace {

class CRecordSource : public IHagakiRecordSource {
public:
    int GetHagakiInfo(CHagakiInfo& cInfo, int) override {
        cInfo = m_cInfo;
        return 0;
    }
    int SetHagakiInfo(const CHagakiInfo& cInfo) override {
        m_cInfo = cInfo;
        return 0;
    }
    BOOL HasHagakiManage() const override { return TRUE; }
    BOOL IsEditable() const override { return m_bEditable; }
    CHagakiInfo m_cInfo;
    BOOL m_bEditable = TRUE;
};

class EditPaneTest : public ::testing::Test {
protected:
    // A card from 山田　太郎 with a memo and both side files.
    void Load(BOOL bEditable = TRUE, bool bSides = true) {
        CHagakiInfo& rec = m_source.m_cInfo;
        rec.m_strFrom = ov::Utf8ToCp932("山田　太郎").value();
        rec.m_strMemo = ov::Utf8ToCp932("返信済み").value();
        rec.m_strYear = "2024";
        rec.m_strFile1 = bSides ? "F.pdf" : "";
        rec.m_strFile2 = bSides ? "B.pdf" : "";
        m_source.m_bEditable = bEditable;
        ASSERT_TRUE(m_pane.SetDocument(&m_source));
        ASSERT_EQ(m_pane.Load(), 0);
    }
    QString Text(int nID) const {
        return nID == IDC_HAGAKI_MEMO ? m_pane.MemoEdit()->toPlainText()
                                      : qobject_cast<QLineEdit*>(m_pane.Control(nID))->text();
    }
    QWidget* Reset() const { return m_pane.Control(IDC_HAGAKI_RESET); }
    // Selects all of a field and types text, one key press a character.
    void Retype(int nID, const QString& text) {
        QWidget* pControl = m_pane.Control(nID);
        QTest::keyClick(pControl, Qt::Key_A, Qt::ControlModifier);
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, c.unicode() < 128 ? c.toUpper().unicode() : 0, Qt::NoModifier,
                            QString(c));
            QApplication::sendEvent(pControl, &press);
        }
    }

    QApplication* m_pApp = guitest::App();
    CRecordSource m_source;
    CHagakiEditDialog m_pane;
};

TEST_F(EditPaneTest, FieldsKeepTheirLimitsAndRules) {
    Load();
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QString::fromUtf8("山田　太郎"));
    // Limits in CP932 bytes; a character CP932 cannot hold is refused.
    const struct {
        int nID;
        QString typed, kept;
    } cases[] = {
        {IDC_HAGAKI_FROM, QString(60, QChar(0x6F22)), QString(50, QChar(0x6F22))},
        {IDC_HAGAKI_FROM, QStringLiteral("a\u00E4b"), QStringLiteral("ab")},
        {IDC_HAGAKI_YEAR, QStringLiteral("2a0-2\u0661x45"), QStringLiteral("2024")},
        {IDC_HAGAKI_MEMO, QString(99, QChar(0x6F22)) + "x" + QChar(0x5B57), QString(99, QChar(0x6F22)) + "x"},
    };
    for (const auto& c : cases) {
        Retype(c.nID, c.typed);
        EXPECT_EQ(Text(c.nID), c.kept) << c.nID;
    }
    // The memo takes no line break, typed or pasted.
    Retype(IDC_HAGAKI_MEMO, QStringLiteral("ab"));
    QTest::keyClick(m_pane.MemoEdit(), Qt::Key_Return);
    m_pane.MemoEdit()->insertPlainText(QStringLiteral("cd\r\nef"));
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QStringLiteral("abcdef"));
    // The lot number is red while ill-formed.
    QWidget* pNumber = m_pane.Control(IDC_HAGAKI_NUMBER);
    const QColor normal = QApplication::palette(pNumber).color(QPalette::Text);
    Retype(IDC_HAGAKI_NUMBER, QStringLiteral("12組34567 901"));
    EXPECT_EQ(pNumber->palette().color(QPalette::Text), QColor(255, 0, 0));
    Retype(IDC_HAGAKI_NUMBER, QStringLiteral("12組345678901"));
    EXPECT_EQ(pNumber->palette().color(QPalette::Text), normal);
    // Reset brings every field back.
    EXPECT_TRUE(Reset()->isEnabled());
    qobject_cast<QPushButton*>(Reset())->click();
    EXPECT_FALSE(Reset()->isEnabled());
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QString::fromUtf8("返信済み"));
    // A changed lot number is stored full-width.
    Retype(IDC_HAGAKI_NUMBER, QStringLiteral("98組76543210A"));
    ASSERT_EQ(m_pane.SaveToDoc(), 0);
    EXPECT_EQ(m_source.m_cInfo.m_strNumber, ov::Utf8ToCp932("９８組７６５４３２１０Ａ").value());
}

TEST_F(EditPaneTest, ReadOnlyCardsTakeNoInput) {
    for (const bool bEditable : {false, true}) {
        SCOPED_TRACE(bEditable);
        Load(bEditable, !bEditable);  // not editable, or without side files
        EXPECT_TRUE(m_pane.m_bReadOnly);
        for (int nID : {IDC_HAGAKI_FROM, IDC_HAGAKI_FROMKANA, IDC_HAGAKI_NUMBER, IDC_HAGAKI_YEAR,
                        IDC_HAGAKI_TYPE, IDC_HAGAKI_MEMO}) {
            const QString old = Text(nID);
            Retype(nID, "7");
            EXPECT_EQ(Text(nID), old) << nID;
        }
        EXPECT_FALSE(Reset()->isEnabled());
    }
}

// Undecodable bytes, a lone lead byte at the end, a memo over its limit and
// NEC-selected IBM extension codes go back byte for byte while untouched; only
// a changed field is encoded anew.
TEST_F(EditPaneTest, UntouchedFieldsGoBackAsStoredAndAChangedOneIsEncodedAnew) {
    CHagakiInfo& rec = m_source.m_cInfo;
    rec.m_strFrom = std::string("\xff\xfe\x80\xa0\x61\x62\x63\xfd", 8);
    rec.m_strFromkana = "\x8e\x52\x93\x63\x82";
    rec.m_strMemo = std::string(2000, 'm');
    rec.m_strType = "\xed\x40\x87\x90";
    rec.m_strYear = "2024";
    rec.m_strFile1 = "F.pdf";
    const CHagakiInfo stored = rec;
    ASSERT_TRUE(m_pane.SetDocument(&m_source));
    ASSERT_EQ(0, m_pane.Load());
    auto* pFrom = qobject_cast<QLineEdit*>(m_pane.Control(IDC_HAGAKI_FROM));
    EXPECT_TRUE(pFrom->text().contains(QChar(0xFFFD)));  // shown, visibly replaced
    EXPECT_FALSE(m_pane.IsModified());
    // The user changes the year only: every other field keeps its bytes.
    qobject_cast<QLineEdit*>(m_pane.Control(IDC_HAGAKI_YEAR))->setText(QStringLiteral("2025"));
    ASSERT_EQ(0, m_pane.SaveToDoc());
    EXPECT_EQ("2025", rec.m_strYear);
    rec.m_strYear = stored.m_strYear;
    EXPECT_FALSE(stored.IsDiffUserFields(rec));
    EXPECT_EQ(stored.m_strMemo, rec.m_strMemo);
    // A change next to the replacement character keeps the undecodable bytes and
    // never writes U+FFFD as text.
    pFrom->setText(pFrom->text() + QStringLiteral("d"));
    ASSERT_EQ(0, m_pane.SaveToDoc());
    EXPECT_EQ(stored.m_strFrom + "d", rec.m_strFrom);
}

}  // namespace
