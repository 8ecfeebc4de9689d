// SPDX-License-Identifier: AGPL-3.0-or-later
// Postcard mode in-process against the postcard-viewer stand-in running as a
// second process: the edit pane, saving before each event or move, the events
// and their failures, read-only cards, the three turns, keys and the layout.
#include <cstdlib>
#include <functional>
#include <string>

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSplitter>
#include <QTest>
#include <QWheelEvent>

#include "GuiTestSupport.h"
#include "PdfWriter.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "editpane/HagakiEditDialog.h"
#include "editpane/MemoEdit.h"
#include "frame/MainFrm.h"
#include "ormamsg/OrmaMsg.h"
#include "postcard/PostcardTestSupport.h"
#include "support/EnvGuard.h"
#include "win32/CodePage.h"

namespace {

std::string Cp(const std::string& utf8) {
    return ov::Utf8ToCp932(utf8).value();
}

// The front side is a red portrait page, the back side a blue landscape page.
ovsample::PdfPage Side(bool bFront) {
    return bFront ? ovsample::PdfPage{200, 280, 0, "1 0 0 rg 0 0 200 280 re f", {}}
                  : ovsample::PdfPage{280, 200, 0, "0 0 1 rg 0 0 280 200 re f", {}};
}
const pctest::PdfPage kFront{200, 280, 0};
const pctest::PdfPage kBack{280, 200, 0};
pctest::PdfPage Turned(pctest::PdfPage page, int rotate) {
    page.rotate = rotate;
    return page;
}
using Pages = std::vector<pctest::PdfPage>;

// One postcard record's six fields (UTF-8).
struct Record {
    std::string from, kana, number, year, type, memo;
};
const Record kRecordOne{"山田　太郎", "ヤマダ　タロウ", "１２組３４５６７８９０１",
                        "2024",       "年賀状",         "返信済み"};
const Record kRecordTwo{"佐藤　花子", "サトウ　ハナコ", "", "2023", "暑中見舞い", ""};

// The record keys as the work desk writes them (CP932, CRLF).
std::string RecordKeys(const Record& r, const std::string& file1, const std::string& file2) {
    return Cp("Page1HagakiFrom=" + r.from + "\r\nPage1HagakiFromkana=" + r.kana +
              "\r\nPage1HagakiNumber=" + r.number + "\r\nPage1HagakiYear=" + r.year +
              "\r\nPage1HagakiType=" + r.type + "\r\nPage1HagakiMemo=" + r.memo +
              "\r\nPage1HagakiFile1=" + file1 + "\r\nPage1HagakiFile2=" + file2 + "\r\n");
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

// The viewer fixture without the indexed document: each test writes its own desks.
class PostcardModeTest : public guitest::ViewerFixture {
protected:
    void SetUp() override { ov::InstallMessageBoxPresenter(); }
    void TearDown() override {
        Stop();
        StopPeer();
    }

    // --- Work desks ---
    std::string Desk(int n) const {
        return n == 1 ? m_env.WorkDesk() : m_env.Path("desk" + std::to_string(n));
    }
    std::string UndoData(int n) const { return Desk(n) + "/UndoFolder/UndoData.ini"; }
    std::string DataDir() const { return m_env.WorkDesk() + "/Doc000012/Data"; }
    std::string DataDat(int id) const { return DataDir() + "/Data" + std::to_string(id) + ".dat"; }

    // Undo folder of desk n: its postcard's sides and shown PDF lie in desk n/scans.
    void WriteUndoDesk(int n, const std::string& title, const Record& r, bool bSides = true) {
        const std::string scans = Desk(n) + "/scans/";
        ovtest::MakeDirs(scans);
        ovtest::MakeDirs(Desk(n) + "/UndoFolder");
        ASSERT_TRUE(ovsample::WritePdf(scans + "front.pdf", {Side(true)}));
        ASSERT_TRUE(ovsample::WritePdf(scans + "back.pdf", {Side(false)}));
        ASSERT_TRUE(ovsample::WritePdf(scans + "shown.pdf", {Side(true), Side(false)}));
        ovtest::WriteFile(
            UndoData(n),
            Cp("[BinderInfo]\r\nTitle=" + title + "\r\n[PageInfo]\r\n") +
                RecordKeys(r, bSides ? scans + "front.pdf" : "", bSides ? scans + "back.pdf" : "") +
                "Page1FilePageName=" + scans + "shown.pdf\r\nPage1FilePageNumber=1\r\n");
    }

    // Document 12 of desk 1: three postcard pages; page 3 has no side files.
    void WriteDocumentDesk() {
        ovtest::MakeDirs(DataDir() + "/Standard");
        const Record records[] = {kRecordOne, kRecordTwo, {"Three", "", "", "", "", ""}};
        for (int id = 1; id <= 3; ++id) {
            const std::string f = "F" + std::to_string(id) + ".pdf", b = "B" + std::to_string(id) + ".pdf";
            if (id < 3) {
                ASSERT_TRUE(ovsample::WritePdf(DataDir() + "/Standard/" + f, {Side(true)}));
                ASSERT_TRUE(ovsample::WritePdf(DataDir() + "/Standard/" + b, {Side(false)}));
            }
            ASSERT_TRUE(ovsample::WritePdf(DataDir() + "/Data" + std::to_string(id) + ".pdf",
                                           {Side(true), Side(false)}));
            ovtest::WriteFile(DataDat(id), "[PageInfo]\r\nPage1Flag=0\r\n" +
                                               RecordKeys(records[id - 1], id < 3 ? f : "", id < 3 ? b : ""));
        }
        ovtest::WriteFile(m_env.WorkDesk() + "/Doc000012/Doc.dat",
                          "[DocInfo]\r\nPageTotal=3\r\nIndexTotal=0\r\nDocName=Cards\r\nMaxPageID=3\r\n"
                          "PageIDList=1,2,3\r\n");
    }

    // --- The postcard viewer's stand-in, serving key 7 ---
    // cards: "DESK,DOCID,PAGEID,EDITABLE".
    bool StartPeer(int iMode, const QStringList& cards, const QStringList& more = {}) {
        StopPeer();
        const QString ready = QString::fromStdString(m_env.Path("peer.ready"));
        QFile::remove(ready);
        QStringList args = {"--key",
                            "7",
                            "--mode",
                            QString::number(iMode),
                            "--no-launch",
                            "--timeout",
                            "120",
                            "--ready-file",
                            ready,
                            "--log",
                            QString::fromStdString(m_env.Path("peer.log"))};
        for (const QString& card : cards) args << "--card" << card;
        m_peer.start(QString::fromStdString(ovtest::BuildProgram("ormaview-postcard-viewer")), args + more);
        for (int i = 0; i < 1000 && !QFile::exists(ready) && m_peer.state() != QProcess::NotRunning; ++i)
            QTest::qWait(10);
        return QFile::exists(ready);
    }
    void StopPeer() {
        if (m_peer.state() != QProcess::NotRunning) {
            m_peer.terminate();
            if (!m_peer.waitForFinished(5000))
                m_peer.kill(), m_peer.waitForFinished(5000);
        }
    }
    QString Card(int n, int iDocID, int iPageID, int iEditable) const {
        return QStringLiteral("%1,%2,%3,%4")
            .arg(QString::fromStdString(Desk(n)))
            .arg(iDocID)
            .arg(iPageID)
            .arg(iEditable);
    }
    std::string PeerLog() const { return ovtest::ReadFile(m_env.Path("peer.log")); }

    // --- The viewer in this process ---
    bool StartViewer() {
        if (!Start("/h 7"))
            return false;
        Frame()->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(Frame()));
        return true;
    }
    // The closing path, then the window goes.
    void CloseViewer() {
        Frame()->OnClose();
        EXPECT_FALSE(Frame()->isVisible());
        Stop();
    }

    CHagakiEditDialog* Pane() const { return Frame()->GetHagakiEditDialog(); }
    QLineEdit* Field(int nID) const { return qobject_cast<QLineEdit*>(Pane()->Control(nID)); }
    CMemoEdit* Memo() const { return Pane()->MemoEdit(); }
    QString Text(int nID) const {
        return nID == IDC_HAGAKI_MEMO ? Memo()->toPlainText() : Field(nID)->text();
    }
    bool Enabled(UINT nID) const { return Frame()->CommandAction(nID)->isEnabled(); }
    static void Key(QWidget* pWidget, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(pWidget, key, modifiers);
    }
    // Types text, one key press a character (also characters no key stands for).
    static void Type(QWidget* pWidget, const QString& text) {
        for (const QChar c : text) {
            if (c.unicode() < 128) {
                QTest::keyClick(pWidget, c.toLatin1());
            } else {
                QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
                QApplication::sendEvent(pWidget, &press);
            }
        }
    }
    // Types text into a field after selecting all of it.
    void Retype(int nID, const QString& text) {
        QWidget* pControl = Pane()->Control(nID);
        pControl->setFocus();
        Key(pControl, Qt::Key_A, Qt::ControlModifier);
        Type(pControl, text);
    }
    // The colour in the middle of the page image.
    QColor PageColour() const {
        const QImage& image = View()->PageImage();
        return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
    }
    bool PageIsLandscape() const { return View()->PageImage().width() > View()->PageImage().height(); }

    QProcess m_peer;
};

TEST_F(PostcardModeTest, UndoFolderSavesTheEditBeforeEachEventAndFollowsTheViewersAnswer) {
    WriteUndoDesk(1, "Desk one", kRecordOne);
    WriteUndoDesk(2, "Desk two", kRecordTwo);
    ASSERT_TRUE(StartPeer(1, {Card(1, 1, 1, 1), Card(2, 1, 1, 1)}));
    ASSERT_TRUE(StartViewer());
    EXPECT_TRUE(Frame()->windowTitle().contains("Desk one"));
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QString::fromStdString(kRecordOne.from));
    EXPECT_EQ(Text(IDC_HAGAKI_NUMBER), QStringLiteral("12組345678901"));  // shown half-width
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QString::fromStdString(kRecordOne.memo));
    EXPECT_FALSE(Enabled(ID_PREV_PAGE));
    EXPECT_TRUE(Enabled(ID_NEXT_PAGE));
    EXPECT_EQ(PeerLog(), "event=1 change=0 result=0 card=1\n");

    // The key of a disabled command does nothing.
    Key(Field(IDC_HAGAKI_FROM), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(PeerLog(), "event=1 change=0 result=0 card=1\n");

    const std::string one = ovtest::ReadFile(UndoData(1)), two = ovtest::ReadFile(UndoData(2));
    Retype(IDC_HAGAKI_FROM, "Taro");
    Key(Field(IDC_HAGAKI_FROM), Qt::Key_PageDown, Qt::ControlModifier);  // next, from inside the field
    // Only the edited line changed; the unchanged lot number went back byte for byte.
    EXPECT_EQ(ovtest::ReadFile(UndoData(1)), Replaced(one, Cp("From=" + kRecordOne.from), "From=Taro"));
    EXPECT_EQ(PeerLog(), "event=1 change=0 result=0 card=1\nevent=3 change=1 result=0 card=2\n");
    EXPECT_TRUE(Frame()->windowTitle().contains("Desk two"));
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QString::fromStdString(kRecordTwo.from));
    EXPECT_FALSE(Pane()->Control(IDC_HAGAKI_RESET)->isEnabled());
    EXPECT_TRUE(Enabled(ID_PREV_PAGE));
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));

    // Back without a change: the record is not rewritten, the event says 0.
    Key(View(), Qt::Key_PageUp, Qt::ControlModifier);
    EXPECT_EQ(ovtest::ReadFile(UndoData(2)), two);
    EXPECT_NE(PeerLog().find("event=4 change=0 result=0 card=1\n"), std::string::npos);
    EXPECT_TRUE(Frame()->windowTitle().contains("Desk one"));
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QStringLiteral("Taro"));  // read back from the saved record

    // The wheel moves like the buttons.
    QWheelEvent wheel(QPointF(10, 10), View()->mapToGlobal(QPointF(10, 10)), QPoint(), QPoint(0, -120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(View(), &wheel);
    EXPECT_TRUE(Frame()->windowTitle().contains("Desk two"));

    // Closing without a change tells the viewer nothing.
    const std::string log = PeerLog();
    CloseViewer();
    EXPECT_EQ(PeerLog(), log);
    EXPECT_EQ(m_env.MessageLog(), "");
}

TEST_F(PostcardModeTest, UndoFolderCloseSendsTheChangeStateOnlyWhenSomethingChanged) {
    struct Case {
        const char* name;
        std::function<void()> act;
        const char* event;  // nullptr: no close event
    };
    const Case cases[] = {
        {"nothing", [] {}, nullptr},
        {"retyped the same", [this] { Retype(IDC_HAGAKI_YEAR, "2024"); }, nullptr},
        {"memo", [this] { Retype(IDC_HAGAKI_MEMO, "new"); }, "event=2 change=1"},
        {"turned", [this] { Key(View(), Qt::Key_R, Qt::ControlModifier); }, "event=2 change=2"},
        {"both",
         [this] {
             Key(View(), Qt::Key_T, Qt::ControlModifier);
             Retype(IDC_HAGAKI_TYPE, "x");
         },
         "event=2 change=3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteUndoDesk(1, "Desk one", kRecordOne);
        const std::string before = ovtest::ReadFile(UndoData(1));
        ASSERT_TRUE(StartPeer(1, {Card(1, 1, 1, 1)}));
        ASSERT_TRUE(StartViewer());
        c.act();
        CloseViewer();
        if (c.event == nullptr) {
            EXPECT_EQ(PeerLog(), "event=1 change=0 result=0 card=1\n");
            EXPECT_EQ(ovtest::ReadFile(UndoData(1)), before);
        } else {
            EXPECT_NE(PeerLog().find(std::string(c.event) + " result=0 card=1"), std::string::npos)
                << PeerLog();
            EXPECT_NE(ovtest::ReadFile(UndoData(1)), before);
            EXPECT_TRUE(m_peer.waitForFinished(10000));  // it ends after an answered close
        }
        std::remove(m_env.Path("peer.log").c_str());
    }
    EXPECT_EQ(m_env.MessageLog(), "");
}

TEST_F(PostcardModeTest, RefusedOrUndeliveredEventKeepsTheCardWithItsRecordSaved) {
    struct Case {
        QStringList options;
        int iMessageCode;  // 0: no box
    };
    const Case cases[] = {{{"--fail", "3=5"}, 0}, {{"--die-on", "3"}, -5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options.join(' ').toStdString());
        ovtest::WriteFile(m_env.Path("messages.log"), "");
        WriteUndoDesk(1, "Desk one", kRecordOne);
        WriteUndoDesk(2, "Desk two", kRecordTwo);
        ASSERT_TRUE(StartPeer(1, {Card(1, 1, 1, 1), Card(2, 1, 1, 1)}, c.options));
        ASSERT_TRUE(StartViewer());
        Retype(IDC_HAGAKI_FROM, "Taro");
        Frame()->CommandAction(ID_NEXT_PAGE)->trigger();
        EXPECT_NE(ovtest::ReadFile(UndoData(1)).find("Page1HagakiFrom=Taro\r\n"), std::string::npos);
        EXPECT_TRUE(Frame()->windowTitle().contains("Desk one"));
        EXPECT_EQ(Text(IDC_HAGAKI_FROM), QStringLiteral("Taro"));
        EXPECT_EQ(Doc()->m_strDocFolder, Desk(1) + "/UndoFolder");
        const std::string box = c.iMessageCode == 0
                                    ? ""
                                    : "50010\tQuilm-WorkArea\t" +
                                          guitest::MessageTextUtf8(ov::MessageNumberForCode(c.iMessageCode)) +
                                          "\n";
        EXPECT_EQ(m_env.MessageLog(), box);
        Stop();
    }
}

TEST_F(PostcardModeTest, ReadOnlyCardsTakeNoInputAndNoTurn) {
    struct Case {
        const char* name;
        int iEditable;
        bool bSides;
    };
    const Case cases[] = {{"not editable", 0, true}, {"no side files", 1, false}, {"editable", 1, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteUndoDesk(1, "Desk one", kRecordOne, c.bSides);
        const std::string before = ovtest::ReadFile(UndoData(1));
        ASSERT_TRUE(StartPeer(1, {Card(1, 1, 1, c.iEditable)}));
        ASSERT_TRUE(StartViewer());
        const bool bWritable = c.iEditable != 0 && c.bSides;
        EXPECT_EQ(Pane()->m_bReadOnly == FALSE, bWritable);
        for (UINT nID : {ID_OMOTE_ROTATE, ID_URA_ROTATE, ID_HAGAKI_ROTATION})
            EXPECT_EQ(Enabled(nID), bWritable);
        for (int nID : {IDC_HAGAKI_FROM, IDC_HAGAKI_FROMKANA, IDC_HAGAKI_NUMBER, IDC_HAGAKI_YEAR,
                        IDC_HAGAKI_TYPE, IDC_HAGAKI_MEMO}) {
            const QString old = Text(nID);
            Retype(nID, "7");
            EXPECT_EQ(Text(nID) != old, bWritable) << nID;
        }
        EXPECT_EQ(Pane()->Control(IDC_HAGAKI_RESET)->isEnabled(), bWritable);
        const QImage page = View()->PageImage().copy();
        Key(View(), Qt::Key_R, Qt::ControlModifier);
        EXPECT_EQ(View()->PageImage().copy() == page, !bWritable);
        if (!bWritable) {
            CloseViewer();
            EXPECT_EQ(ovtest::ReadFile(UndoData(1)), before);
            EXPECT_EQ(PeerLog(), "event=1 change=0 result=0 card=1\n");
        }
        Stop();
        std::remove(m_env.Path("peer.log").c_str());
    }
}

TEST_F(PostcardModeTest, DocumentModeMovesBetweenPagesAndSavesEachPagesRecord) {
    WriteDocumentDesk();
    ASSERT_TRUE(StartPeer(0, {Card(1, 12, 1, 1)}));
    ASSERT_TRUE(StartViewer());
    EXPECT_TRUE(Frame()->windowTitle().contains("Cards"));
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QString::fromStdString(kRecordOne.from));
    const std::string one = ovtest::ReadFile(DataDat(1)), two = ovtest::ReadFile(DataDat(2));

    Retype(IDC_HAGAKI_FROM, "Uno");
    View()->setFocus();
    Key(View(), Qt::Key_PageDown);  // the page view's own keys keep working
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);
    EXPECT_EQ(ovtest::ReadFile(DataDat(1)), Replaced(one, Cp("From=" + kRecordOne.from), "From=Uno"));
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QString::fromStdString(kRecordTwo.from));

    Retype(IDC_HAGAKI_FROMKANA, "Hanako");
    Key(Memo(), Qt::Key_PageUp, Qt::ControlModifier);  // the memo leaves the key to the command
    EXPECT_EQ(Doc()->m_iCurPagePos, 1);
    EXPECT_EQ(ovtest::ReadFile(DataDat(2)),
              Replaced(two, Cp("Fromkana=" + kRecordTwo.kana), "Fromkana=Hanako"));
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QStringLiteral("Uno"));

    // Page 3 names no side files: read-only, no turn.
    Key(View(), Qt::Key_PageDown, Qt::ControlModifier);
    Key(View(), Qt::Key_PageDown, Qt::ControlModifier);
    EXPECT_EQ(Doc()->m_iCurPagePos, 3);
    EXPECT_TRUE(Field(IDC_HAGAKI_FROM)->isReadOnly());
    EXPECT_FALSE(Enabled(ID_OMOTE_ROTATE));
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));

    // A change on page 1 is saved on closing; document mode sends no events.
    Key(View(), Qt::Key_PageUp, Qt::ControlModifier);
    Key(View(), Qt::Key_PageUp, Qt::ControlModifier);
    Retype(IDC_HAGAKI_MEMO, "memo");
    Key(View(), Qt::Key_Escape);  // outside the edit pane Escape closes
    EXPECT_FALSE(Frame()->isVisible());
    EXPECT_NE(ovtest::ReadFile(DataDat(1)).find("Page1HagakiMemo=memo\r\n"), std::string::npos);
    EXPECT_EQ(PeerLog(), "");
    EXPECT_EQ(m_env.MessageLog(), "");
}

TEST_F(PostcardModeTest, DocumentModePageWithoutImageStillShowsItsOwnRecord) {
    WriteDocumentDesk();
    ovtest::WriteFile(DataDir() + "/Data2.pdf", "not a pdf");
    ASSERT_TRUE(StartPeer(0, {Card(1, 12, 1, 1)}));
    ASSERT_TRUE(StartViewer());
    Frame()->CommandAction(ID_NEXT_PAGE)->trigger();
    EXPECT_EQ(Doc()->m_iCurPagePos, 2);
    ASSERT_NE(View(), nullptr);         // the page is made on a worker: waited for
    EXPECT_NE(m_env.MessageLog(), "");  // the page image's failure is shown
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QString::fromStdString(kRecordTwo.from));
    // An edit there goes into page 2's record with page 2's own side files.
    Retype(IDC_HAGAKI_YEAR, "1999");
    Frame()->CommandAction(ID_PREV_PAGE)->trigger();
    const std::string dat = ovtest::ReadFile(DataDat(2));
    EXPECT_NE(dat.find(Cp("Page1HagakiFrom=" + kRecordTwo.from + "\r\n")), std::string::npos) << dat;
    EXPECT_NE(dat.find("Page1HagakiYear=1999\r\nPage1HagakiType="), std::string::npos) << dat;
    EXPECT_NE(dat.find("Page1HagakiFile1=F2.pdf\r\nPage1HagakiFile2=B2.pdf\r\n"), std::string::npos) << dat;
}

TEST_F(PostcardModeTest, TurnsRewriteTheSideAndTheShownPdfAndRefreshThePage) {
    WriteDocumentDesk();
    ASSERT_TRUE(StartPeer(0, {Card(1, 12, 1, 1)}));
    ASSERT_TRUE(StartViewer());
    EXPECT_EQ(PageColour(), QColor(255, 0, 0));
    EXPECT_FALSE(PageIsLandscape());
    const std::string front = DataDir() + "/Standard/F1.pdf", back = DataDir() + "/Standard/B1.pdf",
                      shown = DataDir() + "/Data1.pdf";
    struct Step {
        const char* name;
        std::function<void()> turn;
        Pages front, back, shown;
        bool bLandscape;
        QColor colour;
    };
    const Step steps[] = {
        {"front side", [&] { Key(Field(IDC_HAGAKI_FROM), Qt::Key_R, Qt::ControlModifier); },  // from a field
         Pages{Turned(kFront, 90)}, Pages{kBack}, Pages{Turned(kFront, 90), kBack}, true, QColor(255, 0, 0)},
        {"back side", [&] { Key(View(), Qt::Key_R, Qt::ControlModifier | Qt::ShiftModifier); },
         Pages{Turned(kFront, 90)}, Pages{Turned(kBack, 90)}, Pages{Turned(kFront, 90), Turned(kBack, 90)},
         true, QColor(255, 0, 0)},
        {"upside down", [&] { Frame()->CommandAction(ID_HAGAKI_ROTATION)->trigger(); },
         Pages{Turned(kFront, 90)}, Pages{Turned(kBack, 90)}, Pages{Turned(kBack, 90), Turned(kFront, 90)},
         false, QColor(0, 0, 255)},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        s.turn();
        EXPECT_EQ(pctest::ReadPdf(front), s.front);
        EXPECT_EQ(pctest::ReadPdf(back), s.back);
        EXPECT_EQ(pctest::ReadPdf(shown), s.shown);
        View()->repaint();
        EXPECT_EQ(PageIsLandscape(), s.bLandscape);
        EXPECT_EQ(PageColour(), s.colour);
    }
    // A side file that has gone: the turn fails with its message, and the shown
    // PDF and the page stay as they were.
    std::remove(front.c_str());
    const std::size_t shownHash = pctest::Hash(shown);
    const QImage page = View()->PageImage().copy();
    Key(View(), Qt::Key_R,
        Qt::ControlModifier | Qt::ShiftModifier);  // after the exchange the back side is F1.pdf
    EXPECT_EQ(m_env.MessageLog(),
              "50010\tQuilm-WorkArea\t" + guitest::MessageTextUtf8(ov::MessageNumberForCode(-704)) + "\n");
    EXPECT_NE(m_env.TraceText().find("COrmaViewDoc::RotateHagakiPdf() Error!(-704)"), std::string::npos);
    EXPECT_EQ(pctest::Hash(shown), shownHash);
    EXPECT_EQ(View()->PageImage().copy(), page);
    ovtest::WriteFile(m_env.Path("messages.log"), "");

    // The exchanged sides are in the record once the card is left.
    CloseViewer();
    const std::string dat = ovtest::ReadFile(DataDat(1));
    EXPECT_NE(dat.find("Page1HagakiFile1=B1.pdf\r\nPage1HagakiFile2=F1.pdf\r\n"), std::string::npos) << dat;
    EXPECT_EQ(m_env.MessageLog(), "");
}

TEST_F(PostcardModeTest, EditPaneFieldsKeepTheirLimitsAndRules) {
    WriteDocumentDesk();
    ASSERT_TRUE(StartPeer(0, {Card(1, 12, 1, 1)}));
    ASSERT_TRUE(StartViewer());
    QLineEdit* pName = Field(IDC_HAGAKI_FROM);
    QPushButton* pReset = qobject_cast<QPushButton*>(Pane()->Control(IDC_HAGAKI_RESET));
    ASSERT_NE(pReset, nullptr);

    // Limits in CP932 bytes: 100 letters or 50 double-byte characters.
    Retype(IDC_HAGAKI_FROM, QString(120, 'a'));
    EXPECT_EQ(pName->text(), QString(100, 'a'));
    Retype(IDC_HAGAKI_FROM, QString(60, QChar(0x6F22)));  // 漢
    EXPECT_EQ(pName->text(), QString(50, QChar(0x6F22)));
    Retype(IDC_HAGAKI_FROM, QString(98, 'a'));
    pName->setCursorPosition(1);
    pName->insert(QStringLiteral("XYZ"));  // cut where it was pasted
    EXPECT_EQ(pName->text(), "aXY" + QString(97, 'a'));
    // A character CP932 cannot hold is refused: nothing is inserted.
    Retype(IDC_HAGAKI_FROM, QStringLiteral("ab"));
    pName->insert(QStringLiteral("c\u00E4d"));
    EXPECT_EQ(pName->text(), QStringLiteral("ab"));
    Retype(IDC_HAGAKI_YEAR, QStringLiteral("2a0-2\u0661x45"));
    EXPECT_EQ(Text(IDC_HAGAKI_YEAR), QStringLiteral("2024"));

    // The memo: no line break ever, 200 bytes, the caret after the kept text.
    Retype(IDC_HAGAKI_MEMO, QStringLiteral("ab"));
    Key(Memo(), Qt::Key_Return);
    Key(Memo(), Qt::Key_Return, Qt::ControlModifier);
    Key(Memo(), Qt::Key_Enter);
    Memo()->insertPlainText(QStringLiteral("cd\r\nef\u2029gh"));
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QStringLiteral("abcdefgh"));
    EXPECT_EQ(Memo()->textCursor().position(), 8);
    Memo()->insertPlainText(QStringLiteral("\u00E4"));
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QStringLiteral("abcdefgh"));
    Memo()->selectAll();
    Memo()->insertPlainText(QString(99, QChar(0x6F22)) + "x" + QChar(0x5B57) + "yz");
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QString(99, QChar(0x6F22)) + "x");  // 199 bytes: 字 would straddle
    std::string memo;
    EXPECT_EQ(Memo()->GetFilteredText(&memo)->size(), 199u);

    // The lot number: red while ill-formed, also as loaded; written full-width when changed.
    const QColor normal = QApplication::palette(Field(IDC_HAGAKI_NUMBER)).color(QPalette::Text);
    const std::pair<QString, bool> numbers[] = {{QStringLiteral("12組345678901"), true},
                                                {QStringLiteral("12組34567 901"), false}};
    for (const auto& [number, valid] : numbers) {
        Retype(IDC_HAGAKI_NUMBER, number);
        EXPECT_EQ(Field(IDC_HAGAKI_NUMBER)->palette().color(QPalette::Text),
                  valid ? normal : QColor(255, 0, 0))
            << number.toStdString();
    }

    // Once modified the pane stays modified; reset brings everything back.
    pReset->click();
    EXPECT_FALSE(pReset->isEnabled());
    EXPECT_EQ(pName->text(), QString::fromStdString(kRecordOne.from));
    EXPECT_EQ(Text(IDC_HAGAKI_MEMO), QString::fromStdString(kRecordOne.memo));
    EXPECT_EQ(Text(IDC_HAGAKI_YEAR), QStringLiteral("2024"));
    EXPECT_EQ(Field(IDC_HAGAKI_NUMBER)->palette().color(QPalette::Text), normal);
    pName->setFocus();
    QTest::keyClicks(pName, "x");
    EXPECT_TRUE(pReset->isEnabled());
    Key(pName, Qt::Key_Backspace);
    EXPECT_TRUE(pReset->isEnabled());
    EXPECT_TRUE(Pane()->m_bModified);

    // Enter and Escape in the pane do nothing; Alt+letter moves to the field.
    Key(pName, Qt::Key_Return);
    Key(pName, Qt::Key_Escape);
    Key(Memo(), Qt::Key_Escape);
    EXPECT_TRUE(Frame()->isVisible());
    const std::pair<Qt::Key, int> mnemonics[] = {
        {Qt::Key_F, IDC_HAGAKI_FROM}, {Qt::Key_K, IDC_HAGAKI_FROMKANA}, {Qt::Key_N, IDC_HAGAKI_NUMBER},
        {Qt::Key_Y, IDC_HAGAKI_YEAR}, {Qt::Key_C, IDC_HAGAKI_TYPE},     {Qt::Key_M, IDC_HAGAKI_MEMO}};
    for (const auto& [key, nID] : mnemonics) {
        Key(View(), key, Qt::AltModifier);
        EXPECT_EQ(QApplication::focusWidget(), Pane()->Control(nID)) << nID;
    }
    Key(View(), Qt::Key_U, Qt::AltModifier);  // the reset button's: an animated click
    for (int i = 0; i < 100 && pReset->isEnabled(); ++i) QTest::qWait(10);
    EXPECT_FALSE(pReset->isEnabled());
    EXPECT_EQ(pName->text(), QString::fromStdString(kRecordOne.from));

    // A changed lot number is written full-width.
    Retype(IDC_HAGAKI_NUMBER, QStringLiteral("98組76543210A"));
    CloseViewer();
    EXPECT_NE(ovtest::ReadFile(DataDat(1)).find(Cp("Page1HagakiNumber=９８組７６５４３２１０Ａ\r\n")),
              std::string::npos);
}

TEST_F(PostcardModeTest, LabelsTooltipsLayoutAndTheDoubleClick) {
    WriteDocumentDesk();
    // A window saved too narrow for both panes still shows the page.
    guitest::WritePlacement(m_env.WorkDeskDat(), 10, 10, 476, 500, 0);
    ASSERT_TRUE(StartPeer(0, {Card(1, 12, 1, 1)}));
    {
        ovtest::EnvGuard language("LANG", "ja_JP.UTF-8");
        ASSERT_TRUE(StartViewer());
    }
    EXPECT_GE(View()->width(), 200);
    EXPECT_GE(Pane()->width(), Pane()->minimumWidth());
    EXPECT_GT(Pane()->minimumWidth(), 0);
    EXPECT_FALSE(View()->PageImage().isNull());
    // Labels from the Japanese table, with their mnemonics.
    const auto* pLabel = Pane()->findChild<QLabel*>(QStringLiteral("label%1").arg(IDC_HAGAKI_FROM));
    ASSERT_NE(pLabel, nullptr);
    EXPECT_EQ(pLabel->text(), QStringLiteral("差出人(&F)："));
    EXPECT_EQ(pLabel->buddy(), Pane()->Control(IDC_HAGAKI_FROM));
    EXPECT_EQ(qobject_cast<QPushButton*>(Pane()->Control(IDC_HAGAKI_RESET))->text(),
              QStringLiteral("元に戻す(&U)"));

    // Each tooltip names the command's keys, read from the action itself.
    const std::pair<UINT, QString> keys[] = {
        {ID_PREV_PAGE, "Ctrl+PgUp"},   {ID_NEXT_PAGE, "Ctrl+PgDown"}, {ID_VIEW_CLOSE, "Ctrl+W, Ctrl+Q"},
        {ID_ANNOTATION, "A"},          {ID_OMOTE_ROTATE, "Ctrl+R"},   {ID_URA_ROTATE, "Ctrl+Shift+R"},
        {ID_HAGAKI_ROTATION, "Ctrl+T"}};
    for (const auto& [nID, key] : keys) {
        QAction* pAction = Frame()->CommandAction(nID);
        EXPECT_EQ(CMainFrame::ToolTipWithShortcuts(pAction, "Tip"), "Tip (" + key + ")");
        pAction->setShortcuts(pAction->shortcuts() << QKeySequence(Qt::Key_F5));
        EXPECT_EQ(CMainFrame::ToolTipWithShortcuts(pAction, "Tip"), "Tip (" + key + ", F5)");
    }

    // A letter typed in a field is text, never the annotation key.
    const int bShown = Frame()->m_pDoc->m_bShowEditInfo;
    Retype(IDC_HAGAKI_FROM, "");
    QTest::keyClicks(Field(IDC_HAGAKI_FROM), "aA");
    EXPECT_EQ(Text(IDC_HAGAKI_FROM), QStringLiteral("aA"));
    EXPECT_EQ(Frame()->m_pDoc->m_bShowEditInfo, bShown);

    // The double click does not close in postcard mode; Ctrl+W does.
    QTest::mouseDClick(View(), Qt::LeftButton);
    EXPECT_TRUE(Frame()->isVisible());
    Key(Field(IDC_HAGAKI_FROM), Qt::Key_W, Qt::ControlModifier);
    EXPECT_FALSE(Frame()->isVisible());
}

}  // namespace
