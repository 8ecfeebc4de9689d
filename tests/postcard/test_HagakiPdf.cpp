// SPDX-License-Identifier: AGPL-3.0-or-later
// Real PDFs turned, exchanged and merged, read back for page count, order and
// rotation; the undo-folder rule that the work desk's files stay untouched; and
// the failure paths of the merge and of the replace step.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PostcardTestSupport.h"
#include "postcard/HagakiManage.h"
#include "postcard/HagakiPdfHooks.h"
#include "win32/FileApi.h"

using pctest::DocSetup;
using pctest::PdfPage;

namespace {

// Front and back sides have media boxes that no turn confuses.
constexpr int kFrontW = 200, kFrontH = 100, kBackW = 150, kBackH = 300;

bool IsFront(const PdfPage& p) {
    return p.width == kFrontW && p.height == kFrontH;
}
bool IsBack(const PdfPage& p) {
    return p.width == kBackW && p.height == kBackH;
}

// Replace-step stand-ins: count the waits, fail the first N moves.
int g_sleeps = 0;
int g_failMoves = 0;
void CountSleep(DWORD ms) {
    EXPECT_EQ(100u, ms);
    ++g_sleeps;
}
BOOL FailingMove(const char* from, const char* to, DWORD flags) {
    if (g_failMoves > 0) {
        --g_failMoves;
        errno = EACCES;
        return FALSE;
    }
    return MoveFileExA(from, to, flags);
}

class HooksScope {
public:
    explicit HooksScope(int failMoves) {
        g_sleeps = 0;
        g_failMoves = failMoves;
        m_sleep = ov::SetHagakiReplaceSleep(&CountSleep);
        m_move = ov::SetHagakiReplaceMove(&FailingMove);
    }
    ~HooksScope() {
        ov::SetHagakiReplaceSleep(m_sleep);
        ov::SetHagakiReplaceMove(m_move);
    }

private:
    ov::HagakiSleepFn m_sleep;
    ov::HagakiMoveFn m_move;
};

// Document mode with f.pdf and b.pdf in Data/Standard and an old Data5.pdf.
std::unique_ptr<DocSetup> DocumentPostcard() {
    auto s = DocSetup::DocumentMode(5);
    pctest::WriteOnePagePdf(s->StandardDir() + "/f.pdf", kFrontW, kFrontH);
    pctest::WriteOnePagePdf(s->StandardDir() + "/b.pdf", kBackW, kBackH);
    pctest::WriteOnePagePdf(s->DataDir() + "/Data5.pdf", 50, 50);
    CHagakiInfo& i = s->doc.m_cHagakiInfo;
    i.SetFile1("f.pdf");
    i.SetFile2("b.pdf");
    i.SetFilePageName("Data5.pdf");
    s->doc.m_cHagakiInfoOrg = i;
    return s;
}

// Undo-folder mode: the work desk's sides and a two-page scan outside W.
std::unique_ptr<DocSetup> UndoPostcard() {
    auto s = DocSetup::UndoFolderMode();
    pctest::WriteOnePagePdf(s->dir / "scan/front.pdf", kFrontW, kFrontH);
    pctest::WriteOnePagePdf(s->dir / "scan/back.pdf", kBackW, kBackH);
    pctest::WriteOnePagePdf(s->dir / "scan/scan.pdf", 60, 60);
    CHagakiInfo& i = s->doc.m_cHagakiInfo;
    i.SetFile1(s->dir / "scan/front.pdf");
    i.SetFile2(s->dir / "scan/back.pdf");
    i.SetFilePageName(s->dir / "scan/scan.pdf");
    i.m_iFilePageNumber = 2;
    s->doc.m_cHagakiInfoOrg = i;
    return s;
}

std::vector<unsigned long long> Hashes(const std::vector<std::string>& files) {
    std::vector<unsigned long long> h;
    for (const auto& f : files) h.push_back(pctest::FileHash(f));
    return h;
}

}  // namespace

TEST(HagakiPdfDocumentMode, FrontTurnRewritesSideAndShownPdf) {
    auto s = DocumentPostcard();
    ASSERT_EQ(0, s->doc.RotateHagakiPdf(1));

    auto front = pctest::ReadPdf(s->StandardDir() + "/f.pdf");
    ASSERT_EQ(1u, front.size());
    EXPECT_EQ(90, front[0].rotate);
    auto shown = pctest::ReadPdf(s->DataDir() + "/Data5.pdf");
    ASSERT_EQ(2u, shown.size());
    EXPECT_TRUE(IsFront(shown[0]));
    EXPECT_EQ(90, shown[0].rotate);
    EXPECT_TRUE(IsBack(shown[1]));
    EXPECT_EQ(0, shown[1].rotate);
    EXPECT_EQ((std::vector<std::string>{"b.pdf", "f.pdf"}), pctest::ListDir(s->StandardDir()));
    EXPECT_EQ((std::vector<std::string>{"Data5.pdf", "Standard"}), pctest::ListDir(s->DataDir()));

    const CHagakiInfo& i = s->doc.m_cHagakiInfo;
    EXPECT_EQ(1, i.m_bFile1Rotated);
    EXPECT_EQ(0, i.m_bFile2Rotated);
    EXPECT_EQ(1, i.m_bMerged);
    EXPECT_EQ("f.pdf", i.GetFile1());
    EXPECT_EQ("Data5.pdf", i.GetFilePageName());
    CHagakiInfo copy = i;
    s->doc.SetHagakiInfo(copy);
    EXPECT_EQ(2, s->doc.m_iHagakiChange);
}

TEST(HagakiPdfDocumentMode, FourTurnsGiveBackTheFirstOrientation) {
    auto s = DocumentPostcard();
    const int expected[] = {90, 180, 270, 0};
    for (int turn : expected) {
        ASSERT_EQ(0, s->doc.RotateHagakiPdf(0));
        auto back = pctest::ReadPdf(s->StandardDir() + "/b.pdf");
        ASSERT_EQ(1u, back.size());
        EXPECT_EQ(turn, back[0].rotate);
        EXPECT_TRUE(IsBack(back[0]));
        auto shown = pctest::ReadPdf(s->DataDir() + "/Data5.pdf");
        ASSERT_EQ(2u, shown.size());
        EXPECT_EQ(turn, shown[1].rotate);
        EXPECT_EQ(0, shown[0].rotate);
    }
}

TEST(HagakiPdfUndoFolder, TurnsWorkOnCopiesAndSourcesStayUntouched) {
    auto s = UndoPostcard();
    const std::vector<std::string> sources = {s->dir / "scan/front.pdf", s->dir / "scan/back.pdf",
                                              s->dir / "scan/scan.pdf", s->UndoData()};
    ovtest::WriteFile(s->UndoData(), "[PageInfo]\nPage1HagakiFrom=x\n");
    const auto before = Hashes(sources);
    const std::string w = s->workDesk + "/";
    const std::string copyCp932 = w + pctest::StandardCp932() + "/front.pdf";
    const std::string copyOnDisk = w + pctest::kStandardUtf8 + "/front.pdf";
    const std::string merged = w + "~scan-2.pdf";

    ASSERT_EQ(0, s->doc.RotateHagakiPdf(1));
    const CHagakiInfo& i = s->doc.m_cHagakiInfo;
    EXPECT_EQ(copyCp932, i.GetFile1());
    EXPECT_EQ(1, i.m_bFile1Rotated);
    EXPECT_EQ(1, i.m_bMerged);
    EXPECT_EQ(merged, i.GetFilePageName());
    EXPECT_EQ(1, i.m_iFilePageNumber);
    ASSERT_EQ(1u, pctest::ReadPdf(copyOnDisk).size());
    EXPECT_EQ(90, pctest::ReadPdf(copyOnDisk)[0].rotate);
    auto shown = pctest::ReadPdf(merged);
    ASSERT_EQ(2u, shown.size());
    EXPECT_TRUE(IsFront(shown[0]));
    EXPECT_EQ(90, shown[0].rotate);
    EXPECT_TRUE(IsBack(shown[1]));
    EXPECT_EQ(before, Hashes(sources));

    // The second turn rewrites the copy and the merged PDF, nothing else.
    ASSERT_EQ(0, s->doc.RotateHagakiPdf(1));
    EXPECT_EQ(copyCp932, i.GetFile1());
    EXPECT_EQ(180, pctest::ReadPdf(copyOnDisk)[0].rotate);
    EXPECT_EQ(merged, i.GetFilePageName());
    EXPECT_EQ(180, pctest::ReadPdf(merged)[0].rotate);
    EXPECT_EQ(before, Hashes(sources));
    EXPECT_EQ((std::vector<std::string>{"UndoFolder", "~scan-2.pdf", pctest::kStandardUtf8}),
              pctest::ListDir(s->workDesk));
    EXPECT_EQ((std::vector<std::string>{"front.pdf"}), pctest::ListDir(w + pctest::kStandardUtf8));

    // The views follow the merged PDF at page 1.
    int page = 0;
    EXPECT_EQ(merged, s->doc.GetViewPdfPath(&page));
    EXPECT_EQ(1, page);
}

TEST(HagakiPdfExchange, ExchangeMergesBackFirstAndTwiceRestoresTheRecord) {
    auto s = UndoPostcard();
    ASSERT_EQ(0, s->doc.RotateHagakiPdf(0));  // back turned once: flags differ
    const CHagakiInfo first = s->doc.m_cHagakiInfo;

    ASSERT_EQ(0, s->doc.UpSideDownHagakiPdf());
    const CHagakiInfo& i = s->doc.m_cHagakiInfo;
    EXPECT_EQ(first.GetFile2(), i.GetFile1());
    EXPECT_EQ(first.GetFile1(), i.GetFile2());
    EXPECT_EQ(1, i.m_bFile1Rotated);
    EXPECT_EQ(0, i.m_bFile2Rotated);
    auto shown = pctest::ReadPdf(i.GetFilePageName());
    ASSERT_EQ(2u, shown.size());
    EXPECT_TRUE(IsBack(shown[0]));
    EXPECT_EQ(90, shown[0].rotate);
    EXPECT_TRUE(IsFront(shown[1]));

    ASSERT_EQ(0, s->doc.UpSideDownHagakiPdf());
    EXPECT_EQ(0, first.IsDiffFileFields(i));
    EXPECT_EQ(first.m_iFilePageNumber, i.m_iFilePageNumber);
    shown = pctest::ReadPdf(i.GetFilePageName());
    ASSERT_EQ(2u, shown.size());
    EXPECT_TRUE(IsFront(shown[0]));
    EXPECT_TRUE(IsBack(shown[1]));
}

TEST(HagakiPdfExchange, EmptyBackFileChangesNothing) {
    auto s = DocumentPostcard();
    s->doc.m_cHagakiInfo.SetFile2("");
    const auto before = pctest::FileHash(s->DataDir() + "/Data5.pdf");
    EXPECT_EQ(0, s->doc.UpSideDownHagakiPdf());
    EXPECT_EQ("f.pdf", s->doc.m_cHagakiInfo.GetFile1());
    EXPECT_EQ(0, s->doc.m_cHagakiInfo.m_bMerged);
    EXPECT_EQ(before, pctest::FileHash(s->DataDir() + "/Data5.pdf"));
}

TEST(HagakiPdfMerge, OneSideIsEnoughNeitherIsAnError) {
    auto s = DocumentPostcard();
    ASSERT_TRUE(DeleteFileA((s->StandardDir() + "/f.pdf").c_str()));
    ASSERT_EQ(0, s->doc.MergeTwoPageCurrentPape());
    auto shown = pctest::ReadPdf(s->DataDir() + "/Data5.pdf");
    ASSERT_FALSE(shown.empty());
    EXPECT_TRUE(IsBack(shown[0]));

    ASSERT_TRUE(DeleteFileA((s->StandardDir() + "/b.pdf").c_str()));
    s->doc.m_cHagakiInfo.m_bMerged = 0;
    const auto before = pctest::FileHash(s->DataDir() + "/Data5.pdf");
    ovtest::TraceCapture trace;
    EXPECT_EQ(-704, s->doc.MergeTwoPageCurrentPape());
    EXPECT_TRUE(trace.Contains("PathFileExists Error! [ErrorCode]"));
    EXPECT_EQ(before, pctest::FileHash(s->DataDir() + "/Data5.pdf"));
    EXPECT_EQ((std::vector<std::string>{"Data5.pdf", "Standard"}), pctest::ListDir(s->DataDir()));
    EXPECT_EQ(0, s->doc.m_cHagakiInfo.m_bMerged);
}

TEST(HagakiPdfMerge, NoShownPdfNamedFailsWithoutWriting) {
    auto s = UndoPostcard();
    s->doc.m_cHagakiInfo.SetFilePageName("");
    EXPECT_EQ(-704, s->doc.MergeTwoPageCurrentPape());
    EXPECT_EQ((std::vector<std::string>{"UndoFolder", pctest::kStandardUtf8}), pctest::ListDir(s->workDesk));
}

TEST(HagakiPdfFailures, MissingSideAndUnreadablePdfs) {
    auto s = DocumentPostcard();
    ovtest::TraceCapture trace;
    s->doc.m_cHagakiInfo.SetFile1("missing.pdf");
    EXPECT_EQ(-704, s->doc.RotateHagakiPdf(1));
    EXPECT_TRUE(trace.Contains("PathFileExists Error! [path] " + s->StandardDir() + "/missing.pdf"));

    // A side that is no PDF: the turn fails in the library, nothing is left behind.
    ovtest::WriteFile(s->StandardDir() + "/junk.pdf", "not a pdf");
    s->doc.m_cHagakiInfo.SetFile1("junk.pdf");
    EXPECT_EQ(-543, s->doc.RotateHagakiPdf(1));
    EXPECT_TRUE(trace.Contains("COrmaViewDoc::RotatePdf Error! [ErrorCode] -543"));
    EXPECT_EQ("not a pdf", ovtest::ReadFile(s->StandardDir() + "/junk.pdf"));
    EXPECT_EQ(0, s->doc.m_cHagakiInfo.m_bFile1Rotated);

    const auto before = pctest::FileHash(s->DataDir() + "/Data5.pdf");
    s->doc.m_cHagakiInfo.SetFile2("junk.pdf");
    EXPECT_EQ(-204, s->doc.MergeTwoPageCurrentPape());
    EXPECT_TRUE(trace.Contains("ImageIO_MergeTwoPage() Error! [iRet]"));
    EXPECT_EQ(before, pctest::FileHash(s->DataDir() + "/Data5.pdf"));
    EXPECT_EQ((std::vector<std::string>{"b.pdf", "f.pdf", "junk.pdf"}), pctest::ListDir(s->StandardDir()));
    EXPECT_EQ((std::vector<std::string>{"Data5.pdf", "Standard"}), pctest::ListDir(s->DataDir()));
}

TEST(HagakiPdfReplace, FortyNineFailedMovesThenSuccess) {
    auto s = DocumentPostcard();
    HooksScope hooks(49);
    ASSERT_EQ(0, s->doc.RotateHagakiPdf(1));
    EXPECT_EQ(49, g_sleeps);
    EXPECT_EQ(90, pctest::ReadPdf(s->StandardDir() + "/f.pdf")[0].rotate);
    EXPECT_EQ(2u, pctest::ReadPdf(s->DataDir() + "/Data5.pdf").size());
    EXPECT_EQ((std::vector<std::string>{"b.pdf", "f.pdf"}), pctest::ListDir(s->StandardDir()));
}

TEST(HagakiPdfReplace, FailedReplaceKeepsTheSideAndLeavesTheTemporaryFile) {
    auto s = DocumentPostcard();
    const std::string side = s->StandardDir() + "/f.pdf";
    const auto before = pctest::FileHash(side);
    const auto shownBefore = pctest::FileHash(s->DataDir() + "/Data5.pdf");
    HooksScope hooks(1000);
    ovtest::TraceCapture trace;
    EXPECT_EQ(-707, s->doc.RotateHagakiPdf(1));
    EXPECT_EQ(50, g_sleeps);
    EXPECT_TRUE(trace.Contains("::MoveFileEx Error! [ErrorCode] 13"));
    EXPECT_EQ(before, pctest::FileHash(side));
    EXPECT_EQ(90, pctest::ReadPdf(side + ".tmp.pdf")[0].rotate);
    EXPECT_EQ(shownBefore, pctest::FileHash(s->DataDir() + "/Data5.pdf"));
    EXPECT_EQ(0, s->doc.m_cHagakiInfo.m_bFile1Rotated);
    EXPECT_EQ(0, s->doc.m_cHagakiInfo.m_bMerged);
}

TEST(HagakiPdfReplace, TargetThatCannotBeReplacedInUndoFolderMode) {
    auto s = UndoPostcard();
    const std::string source = s->dir / "scan/front.pdf";
    const auto before = pctest::FileHash(source);
    // Something that is no file stands where the turned copy goes.
    const std::string copy = s->workDesk + "/" + pctest::kStandardUtf8 + "/front.pdf";
    ovtest::MakeDirs(copy + "/inside");
    HooksScope hooks(0);
    EXPECT_EQ(-707, s->doc.RotateHagakiPdf(1));
    EXPECT_EQ(50, g_sleeps);
    EXPECT_EQ(before, pctest::FileHash(source));
    EXPECT_TRUE(ovtest::Exists(copy + ".tmp.pdf"));
    EXPECT_EQ(source, s->doc.m_cHagakiInfo.GetFile1());
    EXPECT_EQ(0, s->doc.m_cHagakiInfo.m_bFile1Rotated);
    EXPECT_FALSE(ovtest::Exists(s->workDesk + "/~scan-2.pdf"));
}

TEST(HagakiPdfReplace, ReadOnlyTargetFolder) {
    if (geteuid() == 0)
        GTEST_SKIP() << "file modes do not stop root";
    auto s = DocumentPostcard();
    const std::string side = s->StandardDir() + "/f.pdf";
    const auto before = pctest::FileHash(side);
    chmod(s->StandardDir().c_str(), 0555);
    HooksScope hooks(0);
    EXPECT_NE(0, s->doc.RotateHagakiPdf(1));
    chmod(s->StandardDir().c_str(), 0755);
    EXPECT_EQ(before, pctest::FileHash(side));
    EXPECT_EQ(0, s->doc.m_cHagakiInfo.m_bFile1Rotated);
}
