// SPDX-License-Identifier: AGPL-3.0-or-later
// Real PDFs turned and merged, read back for page count, order and rotation;
// undo-folder sources never modified; failures of the merge and replace. (The
// exchange and a side that has gone are the session's.)
#include <gtest/gtest.h>

#include <cerrno>

#include "PostcardTestSupport.h"
#include "base/ErrorCodes.h"
#include "postcard/HagakiPdfHooks.h"
#include "win32/CodePage.h"
#include "win32/FileApi.h"

using namespace pctest;
using Pages = std::vector<PdfPage>;

namespace {

// Front and back have media boxes that no turn confuses.
const auto F = [](int rotate = 0) { return PdfPage{200, 100, rotate}; };
const auto B = [](int rotate = 0) { return PdfPage{150, 300, rotate}; };

// The replace step counts its waits and fails the first N moves.
int g_sleeps = 0, g_failMoves = 0;
struct Hooks {
    explicit Hooks(int failMoves) {
        g_sleeps = 0;
        g_failMoves = failMoves;
        sleep = ov::SetHagakiReplaceSleep([](DWORD ms) { g_sleeps += ms == 100; });
        move = ov::SetHagakiReplaceMove([](const char* from, const char* to, DWORD flags) -> BOOL {
            if (g_failMoves-- > 0)
                return errno = EACCES, FALSE;
            return MoveFileExA(from, to, flags);
        });
    }
    ~Hooks() {
        ov::SetHagakiReplaceSleep(sleep);
        ov::SetHagakiReplaceMove(move);
    }
    ov::HagakiSleepFn sleep;
    ov::HagakiMoveFn move;
};

// Document mode: f.pdf and b.pdf in Data/Standard and an old Data5.pdf. Undo-folder
// mode: the sides and the shown scan (page 2) outside the work desk.
std::unique_ptr<DocSetup> Postcard(int mode) {
    auto s = std::make_unique<DocSetup>(mode, 5);
    const std::string src = mode ? s->dir.Path() + "/" : s->StandardDir() + "/";
    WritePdf(src + "f.pdf", 200, 100);
    WritePdf(src + "b.pdf", 150, 300);
    WritePdf(mode ? src + "scan.pdf" : s->DataDir() + "/Data5.pdf", 50, 50);
    CHagakiInfo& i = s->doc.m_cHagakiInfo;
    i.SetFile1(mode ? src + "f.pdf" : "f.pdf");
    i.SetFile2(mode ? src + "b.pdf" : "b.pdf");
    i.SetFilePageName(mode ? src + "scan.pdf" : "Data5.pdf");
    i.m_iFilePageNumber = mode ? 2 : 1;
    s->doc.m_cHagakiInfoOrg = i;
    return s;
}

}  // namespace

TEST(HagakiPdf, UndoFolderTurnsWorkOnCopiesAndSourcesStayUntouched) {
    auto s = Postcard(1);
    ovtest::WriteFile(s->UndoData(), "[PageInfo]\nPage1HagakiFrom=x\n");
    const std::vector<std::string> sources = {s->dir / "f.pdf", s->dir / "b.pdf", s->dir / "scan.pdf",
                                              s->UndoData()};
    std::vector<std::size_t> before;
    for (const auto& f : sources) before.push_back(Hash(f));
    const std::string w = s->workDesk + "/", copy = w + ovtest::Sj(kStandardUtf8) + "/f.pdf",
                      merged = w + "~scan-2.pdf";
    const CHagakiInfo& i = s->doc.m_cHagakiInfo;
    for (int turn : {90, 180}) {  // the second turn rewrites the copy and the merged PDF, nothing else
        ASSERT_EQ(0, s->doc.RotateHagakiPdf(1));
        EXPECT_EQ(copy, i.GetFile1());
        EXPECT_EQ(merged, i.GetFilePageName());
        EXPECT_EQ(std::make_tuple(1, 1, 1),
                  std::make_tuple(i.m_bFile1Rotated, i.m_bMerged, i.m_iFilePageNumber));
        EXPECT_EQ(ReadPdf(w + kStandardUtf8 + "/f.pdf"), Pages{F(turn)});
        EXPECT_EQ(ReadPdf(merged), (Pages{F(turn), B()}));
        for (std::size_t n = 0; n < sources.size(); ++n) EXPECT_EQ(before[n], Hash(sources[n])) << sources[n];
    }
    EXPECT_EQ(ovtest::ListFolder(s->workDesk), (Names{"UndoFolder", "~scan-2.pdf", kStandardUtf8}));
    EXPECT_EQ(ovtest::ListFolder(w + kStandardUtf8), Names{"f.pdf"});
    int page = 0;
    EXPECT_EQ(merged, s->doc.GetViewPdfPath(&page));  // the views follow the merged PDF at page 1
    EXPECT_EQ(1, page);
}

TEST(HagakiPdf, MissingSidesAndBadPdfsLeaveNothingBehind) {
    auto s = Postcard(0);
    CHagakiInfo& i = s->doc.m_cHagakiInfo;
    const std::string shown = s->DataDir() + "/Data5.pdf", junk = s->StandardDir() + "/junk.pdf";
    const auto old = Hash(shown);
    ovtest::WriteFile(junk, "not a pdf");
    ovtest::TraceCapture trace;
    i.SetFile1("junk.pdf");  // no PDF: the library's code, nothing left behind
    EXPECT_EQ(ov::kErrTurnFailed, s->doc.RotateHagakiPdf(1));
    EXPECT_TRUE(trace.Contains("COrmaViewDoc::RotatePdf Error! [ErrorCode] -543"));
    EXPECT_EQ(ov::kErrMergeFailed, s->doc.MergeTwoPageCurrentPape());
    EXPECT_TRUE(trace.Contains("ImageIO_MergeTwoPage() Error! [iRet]"));
    EXPECT_EQ(std::make_tuple(old, std::string("not a pdf"), 0, 0),
              std::make_tuple(Hash(shown), ovtest::ReadFile(junk), i.m_bFile1Rotated, i.m_bMerged));
    EXPECT_EQ(ovtest::ListFolder(s->StandardDir()), (Names{"b.pdf", "f.pdf", "junk.pdf"}));
    i.SetFile1("missing.pdf");  // neither side: an error, and the shown PDF stays
    i.SetFile2("missing.pdf");
    trace.Clear();
    EXPECT_EQ(ov::kErrNotFound, s->doc.MergeTwoPageCurrentPape());
    EXPECT_TRUE(trace.Contains("PathFileExists Error! [ErrorCode]"));
    EXPECT_EQ(old, Hash(shown));
    EXPECT_EQ(ovtest::ListFolder(s->DataDir()), (Names{"Data5.pdf", "Standard"}));
}

TEST(HagakiPdf, ReplaceTriesFiftyTimesThenFailsWithTheSourceIntactElseTurnsInPlace) {
    auto s = Postcard(0);
    const std::string side = s->StandardDir() + "/f.pdf", shown = s->DataDir() + "/Data5.pdf";
    const auto sideBefore = Hash(side), shownBefore = Hash(shown);
    {
        Hooks hooks(1000);
        ovtest::TraceCapture trace;
        EXPECT_EQ(ov::kErrNotReplaced, s->doc.RotateHagakiPdf(1));
        EXPECT_EQ(50, g_sleeps);
        EXPECT_TRUE(trace.Contains("::MoveFileEx Error! [ErrorCode] 13"));
    }
    EXPECT_EQ(std::make_pair(sideBefore, shownBefore), std::make_pair(Hash(side), Hash(shown)));
    EXPECT_EQ(ReadPdf(side + ".tmp.pdf"), Pages{F(90)});
    EXPECT_EQ(std::make_pair(0, 0),
              std::make_pair(s->doc.m_cHagakiInfo.m_bFile1Rotated, s->doc.m_cHagakiInfo.m_bMerged));
    {
        Hooks hooks(49);  // the fiftieth try succeeds
        ASSERT_EQ(0, s->doc.RotateHagakiPdf(1));
        EXPECT_EQ(49, g_sleeps);
    }
    // In document mode the side and the shown PDF are rewritten in place.
    EXPECT_EQ(ReadPdf(side), Pages{F(90)});
    EXPECT_EQ(ReadPdf(shown), (Pages{F(90), B()}));
    EXPECT_EQ(ovtest::ListFolder(s->StandardDir()), (Names{"b.pdf", "f.pdf"}));
    EXPECT_EQ(ovtest::ListFolder(s->workDesk), Names{"Doc000012"});  // no folder of turned copies
    const CHagakiInfo& i = s->doc.m_cHagakiInfo;
    EXPECT_EQ(std::make_tuple(1, 0, 1), std::make_tuple(i.m_bFile1Rotated, i.m_bFile2Rotated, i.m_bMerged));
    EXPECT_EQ("f.pdf Data5.pdf", i.GetFile1() + " " + i.GetFilePageName());
}

TEST(HagakiPdf, DocumentModeSideNamesMustBeBareFileNames) {
    auto s = Postcard(0);
    CHagakiInfo& i = s->doc.m_cHagakiInfo;
    const std::string outside = s->dir.Path() + "/outside";
    WritePdf(outside + "/victim.pdf", 200, 100);
    const auto victim = Hash(outside + "/victim.pdf");
    const auto shown = Hash(s->DataDir() + "/Data5.pdf");
    ovtest::TraceCapture trace;
    for (const char* name : {"../../../../outside/victim.pdf", "..", ".", "sub/f.pdf", "..\\f.pdf"}) {
        SCOPED_TRACE(name);
        i.SetFile1(name);
        EXPECT_EQ(ov::kErrBadParameter, s->doc.RotateHagakiPdf(1));
        EXPECT_EQ(ov::kErrBadParameter, s->doc.MergeTwoPageCurrentPape());
        EXPECT_EQ(ov::kErrBadParameter, s->doc.UpSideDownHagakiPdf());  // the exchanged name is checked too
        i.SetFile1("f.pdf");
        i.SetFile2(name);
        EXPECT_EQ(ov::kErrBadParameter, s->doc.RotateHagakiPdf(1));
        i.SetFile2("b.pdf");
    }
    EXPECT_TRUE(trace.Contains("COrmaViewDoc::GetHagakiFilePaths() Error! Not a file name [File] .."));
    EXPECT_EQ(victim, Hash(outside + "/victim.pdf"));
    EXPECT_EQ(shown, Hash(s->DataDir() + "/Data5.pdf"));
    EXPECT_EQ(0, i.m_bFile1Rotated + i.m_bMerged);
    // A CP932 name whose second byte is 0x5C is a plain name.
    const std::string hyo = "\x95\x5c.pdf";
    WritePdf(s->StandardDir() + "/" + ov::Cp932ToUtf8(hyo).value(), 200, 100);
    i.SetFile1(hyo);
    EXPECT_EQ(0, s->doc.RotateHagakiPdf(1));
}
