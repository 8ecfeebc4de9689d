// SPDX-License-Identifier: AGPL-3.0-or-later
// Postcard mode's widgets, in-process on the postcard viewer's block published
// for a key (document mode): the edit pane's fields, limits, colours, reset and
// read-only state as the session hands them the record, the layout and the keys
// that stay the fields' own.
#include <string>

#include <QAction>
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QToolBar>

#include "GuiTestSupport.h"
#include "PdfWriter.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "editpane/HagakiEditDialog.h"
#include "editpane/MemoEdit.h"
#include "frame/MainFrm.h"
#include "win32/CodePage.h"

namespace {

std::string Cp(const std::string& utf8) {
    return ov::Utf8ToCp932(utf8).value();
}

const char* const kFrom = "山田　太郎";
const char* const kMemo = "返信済み";

class PostcardModeTest : public guitest::ViewerFixture {
protected:
    void SetUp() override {
        ViewerFixture::SetUp();
        // Document 12: pages 1 and 2 are postcards with both sides; page 3 has none.
        ovtest::MakeDirs(DataDir() + "/Standard");
        const ovsample::PdfPage front{200, 280, 0, "1 0 0 rg 0 0 200 280 re f", {}};
        for (int id = 1; id <= 3; ++id) {
            const std::string sides = id < 3 ? "\r\nPage1HagakiFile1=F.pdf\r\nPage1HagakiFile2=B.pdf" : "";
            ASSERT_TRUE(ovsample::WritePdf(DataDir() + "/Data" + std::to_string(id) + ".pdf", {front}));
            ovtest::WriteFile(DataDat(id),
                              Cp("[PageInfo]\r\nPage1Flag=0\r\nPage1HagakiFrom=" + std::string(kFrom) +
                                 "\r\nPage1HagakiYear=2024\r\nPage1HagakiMemo=" + kMemo + sides + "\r\n"));
        }
        ASSERT_TRUE(ovsample::WritePdf(DataDir() + "/Standard/F.pdf", {front}));
        ASSERT_TRUE(ovsample::WritePdf(DataDir() + "/Standard/B.pdf", {front}));
        ovtest::WriteFile(m_env.WorkDesk() + "/Doc000012/Doc.dat",
                          "[DocInfo]\r\nPageTotal=3\r\nIndexTotal=0\r\nDocName=Cards\r\nMaxPageID=3\r\n"
                          "PageIDList=1,2,3\r\n");
    }
    std::string DataDir() const { return m_env.WorkDesk() + "/Doc000012/Data"; }
    std::string DataDat(int id) const { return DataDir() + "/Data" + std::to_string(id) + ".dat"; }

    CHagakiEditDialog* Pane() const { return Frame()->GetHagakiEditDialog(); }
    QLineEdit* Field(int nID) const { return qobject_cast<QLineEdit*>(Pane()->Control(nID)); }
    CMemoEdit* Memo() const { return Pane()->MemoEdit(); }
    QString Text(int nID) const {
        return nID == IDC_HAGAKI_MEMO ? Memo()->toPlainText() : Field(nID)->text();
    }
    QPushButton* Reset() const { return qobject_cast<QPushButton*>(Pane()->Control(IDC_HAGAKI_RESET)); }
    static void Key(QWidget* pWidget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(pWidget, key, modifiers);
    }
    // Selects all of a field and types text, one key press a character.
    void Retype(int nID, const QString& text) {
        QWidget* pControl = Pane()->Control(nID);
        pControl->setFocus();
        Key(pControl, Qt::Key_A, Qt::ControlModifier);
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, c.unicode() < 128 ? QChar(c).toUpper().unicode() : 0,
                            Qt::NoModifier, QString(c));
            QApplication::sendEvent(pControl, &press);
        }
    }
};

TEST_F(PostcardModeTest, EditPaneFieldsKeepTheirLimitsAndRules) {
    ASSERT_TRUE(StartPostcard(1, 1));
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QString::fromUtf8(kFrom));
    EXPECT_FALSE(Reset()->isEnabled());

    // Limits in CP932 bytes; a character CP932 cannot hold is refused.
    const struct {
        int nID;
        QString typed, kept;
    } cases[] = {
        {IDC_HAGAKI_FROM, QString(60, QChar(0x6F22)), QString(50, QChar(0x6F22))},
        {IDC_HAGAKI_FROM, QStringLiteral("a\u00E4b"), QStringLiteral("ab")},
        {IDC_HAGAKI_FROMKANA, QString(210, 'k'), QString(200, 'k')},
        {IDC_HAGAKI_NUMBER, QString(30, '1'), QString(22, '1')},
        {IDC_HAGAKI_YEAR, QStringLiteral("2a0-2\u0661x45"), QStringLiteral("2024")},
        {IDC_HAGAKI_TYPE, QString(50, 't'), QString(40, 't')},
        {IDC_HAGAKI_MEMO, QString(99, QChar(0x6F22)) + "x" + QChar(0x5B57), QString(99, QChar(0x6F22)) + "x"},
    };
    for (const auto& c : cases) {
        Retype(c.nID, c.typed);
        EXPECT_EQ(Text(c.nID), c.kept) << c.nID;
    }
    // The memo takes no line break, typed or pasted.
    Retype(IDC_HAGAKI_MEMO, QStringLiteral("ab"));
    Key(Memo(), Qt::Key_Return);
    Memo()->insertPlainText(QStringLiteral("cd\r\nef"));
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QStringLiteral("abcdef"));

    // The lot number is red while ill-formed.
    const QColor normal = QApplication::palette(Field(IDC_HAGAKI_NUMBER)).color(QPalette::Text);
    Retype(IDC_HAGAKI_NUMBER, QStringLiteral("12組34567 901"));
    EXPECT_EQ(Field(IDC_HAGAKI_NUMBER)->palette().color(QPalette::Text), QColor(255, 0, 0));
    Retype(IDC_HAGAKI_NUMBER, QStringLiteral("12組345678901"));
    EXPECT_EQ(Field(IDC_HAGAKI_NUMBER)->palette().color(QPalette::Text), normal);

    // Reset brings every field back; once modified, the pane stays modified.
    EXPECT_TRUE(Reset()->isEnabled());
    Reset()->click();
    EXPECT_FALSE(Reset()->isEnabled());
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QString::fromUtf8(kFrom));
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QString::fromUtf8(kMemo));
    Retype(IDC_HAGAKI_YEAR, QStringLiteral("2024"));
    EXPECT_TRUE(Reset()->isEnabled());

    // Enter and Escape in the pane do nothing; Alt+letter moves to the field.
    Key(Field(IDC_HAGAKI_FROM), Qt::Key_Return);
    Key(Field(IDC_HAGAKI_FROM), Qt::Key_Escape);
    Key(Memo(), Qt::Key_Escape);
    EXPECT_TRUE(Frame()->isVisible());
    const std::pair<Qt::Key, int> mnemonics[] = {
        {Qt::Key_F, IDC_HAGAKI_FROM}, {Qt::Key_K, IDC_HAGAKI_FROMKANA}, {Qt::Key_N, IDC_HAGAKI_NUMBER},
        {Qt::Key_Y, IDC_HAGAKI_YEAR}, {Qt::Key_C, IDC_HAGAKI_TYPE},     {Qt::Key_M, IDC_HAGAKI_MEMO}};
    for (const auto& [key, nID] : mnemonics) {
        Key(View(), key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), Pane()->Control(nID)) << nID;
    }

    // Letters and the page keys typed in a field are the field's, never a command.
    const int bShown = Doc()->m_bShowEditInfo;
    Retype(IDC_HAGAKI_FROM, "");
    QTest::keyClicks(Field(IDC_HAGAKI_FROM), "aA ");
    Key(Field(IDC_HAGAKI_FROM), Qt::Key_PageDown);
    Key(Field(IDC_HAGAKI_FROM), Qt::Key_Left);
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QStringLiteral("aA "));
    EXPECT_EQ(Doc()->m_bShowEditInfo, bShown);
    EXPECT_EQ(Doc()->m_iCurPagePos, 1);
    // The double click does not close in postcard mode.
    QTest::mouseDClick(View(), Qt::LeftButton);
    EXPECT_TRUE(Frame()->isVisible());

    // What the pane holds goes to the record when the viewer closes; a changed
    // lot number full-width.
    Retype(IDC_HAGAKI_NUMBER, QStringLiteral("98組76543210A"));
    Frame()->OnClose();
    EXPECT_NE(ovtest::ReadFile(DataDat(1)).find(Cp("Page1HagakiNumber=９８組７６５４３２１０Ａ\r\n")),
              std::string::npos);
}

TEST_F(PostcardModeTest, ReadOnlyCardsTakeNoInput) {
    const struct {
        const char* what;
        int iPageID, iEditable;
    } cases[] = {{"not editable", 1, 0}, {"no side files", 3, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(StartPostcard(c.iPageID, c.iEditable));
        EXPECT_TRUE(Pane()->m_bReadOnly);
        for (int nID : {IDC_HAGAKI_FROM, IDC_HAGAKI_FROMKANA, IDC_HAGAKI_NUMBER, IDC_HAGAKI_YEAR,
                        IDC_HAGAKI_TYPE, IDC_HAGAKI_MEMO}) {
            const QString old = Text(nID);
            Retype(nID, "7");
            EXPECT_EQ(Text(nID), old) << nID;
        }
        EXPECT_FALSE(Reset()->isEnabled());
    }
}

}  // namespace
