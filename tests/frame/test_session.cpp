// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer session without a window or a peer: page moves and command states,
// the postcard workflow against an in-process postcard manager, the turns with
// real PDFs, and page jobs that race moves, turns and closing, run step by step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "IndexedDocument.h"
#include "PdfWriter.h"
#include "document/OrmaViewDoc.h"
#include "document/PageJob.h"
#include "frame/ViewerSession.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"
#include "postcard/HagakiInfo.h"
#include "postcard/HagakiManage.h"
#include "support/BitmapGap.h"
#include "support/TestSupport.h"

namespace {

using Log = std::vector<std::string>;

// Stand-ins: workers that run only when the test says so, a window that records
// what it is asked, and a postcard manager answering in-process, all writing into
// one call log. Work and posted callbacks wait in queues until the test runs them.
class FakeExecutor : public IPageExecutor {
public:
    explicit FakeExecutor(Log& log) : m_log(log) {}
    void Start(std::function<void()> fnWork) override { work.push_back(std::move(fnWork)); }
    void Post(std::function<void()> fnDone) override { posted.push_back(std::move(fnDone)); }
    void Join() override {
        m_log.push_back("join");
        while (RunWork()) {
        }
    }
    bool RunWork() { return RunOne(work); }
    bool RunPosted() { return RunOne(posted); }
    // Runs everything: the posted callbacks first, then one work at a time.
    void Settle() {
        while (RunPosted() || RunWork()) {
        }
    }
    std::deque<std::function<void()>> work, posted;

private:
    static bool RunOne(std::deque<std::function<void()>>& queue) {
        if (queue.empty())
            return false;
        auto fn = std::move(queue.front());
        queue.pop_front();
        fn();
        return true;
    }
    Log& m_log;
};

class FakeWindow : public IViewerWindow {
public:
    explicit FakeWindow(Log& log) : m_log(log) {}
    void ShowPage(int, std::shared_ptr<const CPageBitmap> pBitmap) override {
        shown.push_back(std::move(pBitmap));
    }
    void ShowPageError(int iResult) override { pageErrors.push_back(iResult); }
    void PageRequested() override {}
    BOOL RefreshZoomView() override { return TRUE; }
    void CloseZoomView() override { m_log.push_back("zoom closed"); }
    void SetTitle(const std::string& strTitle) override { title = strTitle; }
    void CommandStatesChanged() override {}
    void ShowError(int iResult) override { m_log.push_back("box " + std::to_string(iResult)); }
    void SetWaitCursor(BOOL bWait) override { waitDepth += bWait ? 1 : -1; }
    void SaveWindowPlacement() override { m_log.push_back("placement"); }
    // The pane: its six fields, taken from and handed back to the session.
    int EditPaneLoad() override {
        session->GetHagakiInfo(pane, 0);
        m_log.push_back("pane load");
        return 0;
    }
    int EditPaneSaveToDoc() override {
        m_log.push_back("pane save");
        CHagakiInfo cInfo;
        session->GetHagakiInfo(cInfo, 0);
        cInfo.m_strFrom = pane.m_strFrom;
        cInfo.m_strYear = pane.m_strYear;
        cInfo.m_strMemo = pane.m_strMemo;
        return session->SetHagakiInfo(cInfo);
    }
    void EditPaneSetReadOnly(BOOL) override {}
    std::uint32_t CentrePixel() const {
        const CPageBitmap& b = *shown.back();
        return b.Row(b.Height() / 2)[b.Width() / 2] & 0xFFFFFF;
    }
    bool Landscape() const { return shown.back()->Width() > shown.back()->Height(); }

    CViewerSession* session = nullptr;
    std::vector<std::shared_ptr<const CPageBitmap>> shown;
    std::vector<int> pageErrors;
    int waitDepth = 0;
    std::string title;
    CHagakiInfo pane;

private:
    Log& m_log;
};

// The postcard viewer's answers: a list of cards, next and previous move along it.
struct Card {
    std::string desk;
    int iDocID = 12, iPageID = 1, bEditable = 1;
};

class FakeHagakiManage : public CHagakiManage {
public:
    FakeHagakiManage(Log& log, int iMode, std::vector<Card> cards)
        : m_log(log), m_iMode(iMode), m_cards(std::move(cards)) {}
    int Initialize(HWND hOwner, int iKey) override {
        m_pInfo = static_cast<HAGAKI_MANAGE_INFO*>(std::calloc(1, sizeof(HAGAKI_MANAGE_INFO)));
        m_pInfo->iKey = iKey;
        m_pInfo->hOwnerWnd = hOwner;
        m_pInfo->iMode = m_iMode;
        Publish();
        return 0;
    }
    int FireEvent(int iEvent) override {
        m_pInfo->iResult = 0;
        m_log.push_back("event " + std::to_string(iEvent) + " change " + std::to_string(m_pInfo->iChange));
        if (bUndelivered)
            return -5;  // the block stays as published
        if (iRefuse != 0) {
            m_pInfo->iResult = iRefuse;
            return -5;
        }
        m_iCard += iEvent == 3 ? 1 : iEvent == 4 ? -1 : 0;
        Publish();
        return 0;
    }
    bool bUndelivered = false;
    int iRefuse = 0;

private:
    void Publish() {
        const Card& c = m_cards[m_iCard];
        std::strncpy(m_pInfo->szWorkDeskFolder, c.desk.c_str(), MAX_PATH - 1);
        m_pInfo->iDocID = c.iDocID;
        m_pInfo->iPageID = c.iPageID;
        m_pInfo->bEditable = c.bEditable;
        m_pInfo->bNextPage = m_iCard + 1 < static_cast<int>(m_cards.size());
        m_pInfo->bPrevPage = m_iCard > 0;
    }
    Log& m_log;
    int m_iMode;
    std::vector<Card> m_cards;
    int m_iCard = 0;
};

constexpr std::uint32_t kRed = 0xFF0000, kGreen = 0x00FF00, kBlue = 0x0000FF;

// A red portrait front side, a blue landscape back side.
ovsample::PdfPage Side(bool bFront) {
    return bFront ? ovsample::PdfPage{200, 280, 0, "1 0 0 rg 0 0 200 280 re f", {}}
                  : ovsample::PdfPage{280, 200, 0, "0 0 1 rg 0 0 280 200 re f", {}};
}

std::string RecordKeys(const std::string& from, const std::string& file1, const std::string& file2) {
    return "Page1HagakiFrom=" + from + "\r\nPage1HagakiYear=2024\r\nPage1HagakiFile1=" + file1 +
           "\r\nPage1HagakiFile2=" + file2 + "\r\n";
}

class SessionTest : public ::testing::Test {
protected:
    std::string Desk(int n) const { return m_dir / ("desk" + std::to_string(n)); }
    std::string DocDir() const { return Desk(1) + "/Doc000012"; }
    std::string UndoData(int n) const { return Desk(n) + "/UndoFolder/UndoData.ini"; }
    std::string DataDat(int id) const { return DocDir() + "/Data/Data" + std::to_string(id) + ".dat"; }

    void WriteIndexedDocument() { ovtestdoc::WriteIndexedDocument(Desk(1)); }
    // A postcard's front and back sides and the PDF that shows both.
    static void WriteCard(const std::string& front, const std::string& back, const std::string& shown) {
        ASSERT_TRUE(ovsample::WritePdf(front, {Side(true)}) && ovsample::WritePdf(back, {Side(false)}) &&
                    ovsample::WritePdf(shown, {Side(true), Side(false)}));
    }
    // Postcard pages 1 and 2 of desk 1, with their sides in Data/Standard.
    void WritePostcardDocument() {
        ovtest::MakeDirs(DocDir() + "/Data/Standard");
        for (int id = 1; id <= 2; ++id) {
            const std::string f = "F" + std::to_string(id) + ".pdf", b = "B" + std::to_string(id) + ".pdf";
            WriteCard(DocDir() + "/Data/Standard/" + f, DocDir() + "/Data/Standard/" + b,
                      DocDir() + "/Data/Data" + std::to_string(id) + ".pdf");
            ovtest::WriteFile(DataDat(id),
                              "[PageInfo]\r\nPage1Flag=0\r\n" + RecordKeys(id == 1 ? "One" : "Two", f, b));
        }
        ovtest::WriteFile(DocDir() + "/Doc.dat",
                          "[DocInfo]\r\nPageTotal=2\r\nDocName=Cards\r\nPageIDList=1,2\r\n");
    }
    // The undo folder of desk n with its sides and shown PDF in desk n/scans.
    void WriteUndoDesk(int n, const std::string& from, bool bFront = true, bool bBack = true) {
        const std::string scans = Desk(n) + "/scans/";
        ovtest::MakeDirs(scans);
        ovtest::MakeDirs(Desk(n) + "/UndoFolder");
        WriteCard(scans + "front.pdf", scans + "back.pdf", scans + "shown.pdf");
        ovtest::WriteFile(
            UndoData(n),
            "[BinderInfo]\r\nTitle=Desk " + std::to_string(n) + "\r\n[PageInfo]\r\n" +
                RecordKeys(from, bFront ? scans + "front.pdf" : "", bBack ? scans + "back.pdf" : "") +
                "Page1FilePageName=" + scans + "shown.pdf\r\nPage1FilePageNumber=1\r\n");
    }

    FakeHagakiManage* Manager(int iMode, std::vector<Card> cards) {
        return m_pManage = new FakeHagakiManage(m_log, iMode, std::move(cards));
    }
    // The session over a 300 x 300 view; pManage (owned by the document) makes it postcard mode.
    int Open(const std::string& folder, int iDocID, int iPageID, FakeHagakiManage* pManage = nullptr,
             bool bSettle = true) {
        m_doc.m_pHagakiManage = pManage;
        m_s = std::make_unique<CViewerSession>(m_doc, m_win, m_exec, pManage != nullptr);
        m_win.session = m_s.get();
        m_s->SetPageStore(m_pStore);
        m_s->SetViewSize(300, 300);
        const int rc = m_s->Load(folder, iDocID, iPageID, 1, 7);
        if (bSettle)
            m_exec.Settle();
        return rc;
    }
    // The log since the last call, without the joins unless asked for.
    Log Take(bool bJoins = false) {
        Log out;
        std::copy_if(m_log.begin(), m_log.end(), std::back_inserter(out),
                     [&](auto& s) { return bJoins || s != "join"; });
        m_log.clear();
        return out;
    }
    bool Enabled(UINT nID) { return m_s->GetCommandState(nID).bEnabled != 0; }
    // The current page made afresh into a file of its own, the page store asked first.
    CPageBitmap Fresh() {
        CPageJob job;
        EXPECT_EQ(m_doc.GetPageJob(m_doc.m_iCurPagePos, 290, 290, &job), 0);
        job.strThumb = m_dir / ("fresh" + std::to_string(++m_iFresh) + ".thm");
        CPageBitmap bitmap;
        EXPECT_EQ(MakePageJobBitmap(job, m_pStore.get(), nullptr, &bitmap), 0);
        return bitmap;
    }
    static bool Same(const CPageBitmap& a, const CPageBitmap& b) {
        return a.Width() == b.Width() && a.Height() == b.Height() &&
               std::equal(a.Bits(), a.Bits() + a.Stride() * a.Height(), b.Bits());
    }

    static std::string Made(const std::string& path) {
        ovtest::MakeDirs(path);
        return path;
    }

    ovtest::TempDir m_dir;
    ovtest::EnvGuard m_tmp{"TMPDIR", Made(m_dir / "tmp").c_str()};
    ovtest::EnvGuard m_run{"XDG_RUNTIME_DIR", Made(m_dir / "run").c_str()};
    ovtest::TraceCapture m_trace;
    std::shared_ptr<const ov::image::CPageStore> m_pStore =
        std::make_shared<ov::image::CPageStore>(m_dir / "store", 64ull << 20);
    Log m_log;
    COrmaViewDoc m_doc;
    FakeWindow m_win{m_log};
    FakeExecutor m_exec{m_log};
    FakeHagakiManage* m_pManage = nullptr;
    std::unique_ptr<CViewerSession> m_s;
    int m_iFresh = 0;
};

TEST_F(SessionTest, StandardModeStepsOverIndexSheetsWithTitleStatesAndPicture) {
    WriteIndexedDocument();
    ASSERT_EQ(Open(Desk(1), 12, 1), 0) << m_trace.Text();
    const std::pair<std::function<int()>, int> steps[] = {
        {[] { return 0; }, 1},
        {[&] { return m_s->OnNextPage(); }, 2},
        {[&] { return m_s->OnNextPage(); }, 5},  // both index sheets passed over
        {[&] { return m_s->OnNextPage(); }, 5},  // the last page: nothing, no box
        {[&] { return m_s->OnWheel(120); }, 2},
        {[&] { return m_s->OnWheel(-360); }, 5},  // one message, one page
        {[&] { return m_s->OnFirstPage(); }, 1},
        {[&] { return m_s->OnLastPage(); }, 5},
        {[&] { return m_s->GoToPageNumber(2); }, 2},
        {[&] { return m_s->GoToPageNumber(4); }, 2},  // out of range: no move
        {[&] { return m_s->GoToPageNumber(1); }, 1},
    };
    const char* titles[] = {"", "Test doc ( 1/3 )", "Test doc ( 2/3 )", "", "", "Test doc ( 3/3 )"};
    const std::uint32_t colours[] = {0, kRed, kGreen, 0, 0, kBlue};
    for (std::size_t i = 0; i < std::size(steps); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(steps[i].first(), 0);
        m_exec.Settle();
        const int iPos = steps[i].second;
        EXPECT_EQ(m_doc.m_iCurPagePos, iPos);
        EXPECT_EQ(m_win.title, titles[iPos]);
        EXPECT_EQ(m_win.CentrePixel(), colours[iPos]);
        EXPECT_TRUE(m_s->IsShownPageCurrent());
        EXPECT_EQ(Enabled(ID_PREV_PAGE), iPos != 1);
        EXPECT_EQ(Enabled(ID_NEXT_PAGE), iPos != 5);
    }
    for (UINT nID : {ID_VIEW_CLOSE, ID_FIRST_PAGE, ID_LAST_PAGE, ID_GOTO_PAGE}) EXPECT_TRUE(Enabled(nID));
    for (UINT nID : {ID_OMOTE_ROTATE, ID_URA_ROTATE, ID_HAGAKI_ROTATION}) EXPECT_FALSE(Enabled(nID));
    EXPECT_EQ(m_win.waitDepth, 0);
    EXPECT_EQ(Take(), Log(4, "zoom closed"));  // Home, End and the two go-to moves
}

// At a start the neighbours wait for the window's first paint; released, they start.
TEST_F(SessionTest, HeldNeighboursStartOnlyWhenReleased) {
    WriteIndexedDocument();
    ASSERT_EQ(Open(Desk(1), 12, 1, nullptr, false), 0);
    m_s->HoldNeighbours(TRUE);
    m_exec.Settle();
    ASSERT_EQ(m_win.shown.size(), 1u);
    EXPECT_EQ(m_s->StartedJobs(), 1);  // the page alone
    m_s->HoldNeighbours(FALSE);
    m_exec.Settle();
    EXPECT_EQ(m_s->StartedJobs(), 2);  // and then its one neighbour
}

TEST_F(SessionTest, StaleOrCancelledResultsAreNeverShownOrKept) {
    WriteIndexedDocument();
    ASSERT_EQ(Open(Desk(1), 12, 1, nullptr, false), 0);
    // A result delivered after the page was asked for again (same key) is dropped.
    ASSERT_TRUE(m_exec.RunPosted());
    ASSERT_TRUE(m_exec.RunWork());  // page 1 made, its result posted
    m_s->RedrawPage();
    ASSERT_TRUE(m_exec.RunPosted());
    EXPECT_TRUE(m_win.shown.empty());
    EXPECT_TRUE(m_s->IsPageBusy());
    m_exec.Settle();
    ASSERT_EQ(m_win.shown.size(), 1u);
    EXPECT_EQ(m_s->StartedJobs(), 3);  // page 1 twice, then its one neighbour
    // Work cancelled before it ran writes nothing and shows nothing.
    ASSERT_EQ(m_s->OnLastPage(), 0);
    ASSERT_TRUE(m_exec.RunPosted());  // page 5's job waits
    ASSERT_EQ(m_s->GoToPageNumber(2), 0);
    ASSERT_TRUE(m_exec.RunPosted());
    ASSERT_TRUE(m_exec.RunWork());  // page 5's job, cancelled
    EXPECT_FALSE(ovtest::Exists(m_doc.GetThumbFilePath(5)));
    m_exec.Settle();
    EXPECT_EQ(m_win.shown.size(), 2u);
    EXPECT_EQ(m_win.CentrePixel(), kGreen);
    EXPECT_TRUE(m_s->IsIdle());
}

TEST_F(SessionTest, ClosingDuringAPendingPageJoinsItAndShowsNothingAfter) {
    WriteIndexedDocument();
    {
        ASSERT_EQ(Open(Desk(1), 12, 1, nullptr, false), 0);
        ASSERT_TRUE(m_exec.RunPosted());  // page 1's job waits on a worker
        Take();
        m_s->OnClose();
        m_s->OnClose();  // runs once
        EXPECT_TRUE(m_s->IsClosed());
        EXPECT_TRUE(m_exec.work.empty());
        EXPECT_EQ(m_log, (Log{"zoom closed", "join", "placement"}));
        m_exec.Settle();
        EXPECT_TRUE(m_win.shown.empty());
        EXPECT_FALSE(ovtest::Exists(m_doc.GetThumbFilePath(1)));
        EXPECT_EQ(m_s->RefreshPage(), 0);
        EXPECT_TRUE(m_exec.posted.empty() && m_exec.work.empty());
    }
    // Gone with a result still posted: nothing runs into it.
    m_s = std::make_unique<CViewerSession>(m_doc, m_win, m_exec, FALSE);
    m_s->SetViewSize(300, 300);
    ASSERT_EQ(m_s->Load(Desk(1), 12, 1), 0);
    m_s.reset();
    m_exec.Settle();
    EXPECT_TRUE(m_win.shown.empty());
}

// A rendered page is shown as soon as it is drawn, before its page image is
// written; a source changed while that file is written drops the picture, stores
// nothing and asks for the page again.
TEST_F(SessionTest, APageIsShownWhenDrawnAndAskedAgainWhenItsSourceChangesWhileWritten) {
    WriteIndexedDocument();
    const std::string pdf = DocDir() + "/Data/Data1.pdf";
    bool bChange = true;
    struct Unhook {
        ~Unhook() { SetPageJobTestHook({}); }
    } unhook;
    SetPageJobTestHook([&](const CPageJob&, PageJobStep step) {
        if (step == PageJobStep::Rendered && std::exchange(bChange, false)) {
            ASSERT_TRUE(ovsample::WritePdf(pdf + ".new", {{200, 280, 0, "0 1 0 rg 20 20 160 240 re f", {}}}));
            std::filesystem::rename(pdf + ".new", pdf);
        }
    });
    ASSERT_EQ(Open(Desk(1), 12, 1, nullptr, false), 0);
    ASSERT_TRUE(m_exec.RunPosted());
    ASSERT_TRUE(m_exec.RunWork());    // drawn, handed out, then its source replaced while written
    ASSERT_TRUE(m_exec.RunPosted());  // the picture as drawn
    EXPECT_EQ(m_win.CentrePixel(), kRed);
    EXPECT_FALSE(m_s->IsPageBusy());
    ASSERT_TRUE(m_exec.RunPosted());  // the write's end: the source changed
    EXPECT_TRUE(m_s->IsPageBusy());
    EXPECT_FALSE(ovtest::Exists(m_doc.GetThumbFilePath(1)));
    EXPECT_FALSE(std::filesystem::exists(m_pStore->Folder()) &&
                 !std::filesystem::is_empty(m_pStore->Folder()));
    m_exec.Settle();
    EXPECT_EQ(m_s->StartedJobs(), 3);  // page 1 twice, then its neighbour
    ASSERT_EQ(m_win.shown.size(), 2u);
    EXPECT_EQ(m_win.CentrePixel(), kGreen);
    // The page image written after the picture went out: the picture of the
    // page waited for, drawn first at its own size, differs from it by no more
    // than a shade at edges.
    CPageBitmap written;
    ASSERT_EQ(m_doc.GetThumbnail(nullptr, 290, 290, &written), 0);
    const ovtest::BitmapGap gap = ovtest::GapOf(*m_win.shown.back(), written);
    EXPECT_GT(gap.mean, 0.0);
    EXPECT_LT(gap.mean, 0.5);
    EXPECT_EQ(gap.far, 0.0);
    // The neighbour made ahead is scaled from its page image as it was drawn.
    EXPECT_EQ(m_s->OnNextPage(), 0);
    m_exec.Settle();
    ASSERT_EQ(m_win.shown.size(), 3u);
    ASSERT_EQ(m_doc.GetThumbnail(nullptr, 290, 290, &written), 0);
    EXPECT_TRUE(Same(*m_win.shown.back(), written));
}

// The same page asked for again after its picture went out but before its job's
// end is seen: the end shows it (the page was once left waiting for ever).
TEST_F(SessionTest, APageAskedForAgainWhileItsImageIsWrittenIsShownWhenTheJobEnds) {
    WriteIndexedDocument();
    ASSERT_EQ(Open(Desk(1), 12, 1, nullptr, false), 0);
    ASSERT_TRUE(m_exec.RunPosted());
    ASSERT_TRUE(m_exec.RunWork());    // drawn (its picture posted), then written (its end posted)
    ASSERT_TRUE(m_exec.RunPosted());  // the picture is shown
    m_s->SetViewSize(300, 300, TRUE);
    // The new request is looked at before the job's end.
    std::rotate(m_exec.posted.rbegin(), m_exec.posted.rbegin() + 1, m_exec.posted.rend());
    m_exec.Settle();
    EXPECT_FALSE(m_s->IsPageBusy());
    EXPECT_EQ(m_win.shown.size(), 2u);
}

TEST_F(SessionTest, UndoFolderSavesBeforeEachEventAndFollowsTheViewersAnswer) {
    WriteUndoDesk(1, "One");
    WriteUndoDesk(2, "Two");
    ASSERT_EQ(Open("", 0, 0, Manager(1, {{Desk(1)}, {Desk(2)}})), 0) << m_trace.Text();
    EXPECT_EQ(Take(), (Log{"event 1 change 0", "pane load"}));
    EXPECT_EQ(m_win.title, "Postalyn - Desk 1");
    EXPECT_EQ(m_win.pane.m_strFrom, "One");
    EXPECT_FALSE(Enabled(ID_PREV_PAGE));
    EXPECT_TRUE(Enabled(ID_NEXT_PAGE));
    for (UINT nID : {ID_FIRST_PAGE, ID_LAST_PAGE, ID_GOTO_PAGE}) EXPECT_FALSE(Enabled(nID));
    const std::string two = ovtest::ReadFile(UndoData(2));

    // Refused, then never delivered: the card stays with its record saved, and is redrawn.
    m_win.pane.m_strFrom = "Taro";
    for (const bool bUndelivered : {false, true}) {
        SCOPED_TRACE(bUndelivered);
        m_pManage->iRefuse = bUndelivered ? 0 : 5;
        m_pManage->bUndelivered = bUndelivered;
        const int iStarted = m_s->StartedJobs();
        EXPECT_EQ(m_s->OnNextPage(), bUndelivered ? -5 : 0);
        Log expected{"pane save", "event 3 change 1"};
        if (bUndelivered)
            expected.push_back("box -5");
        EXPECT_EQ(Take(), expected);
        EXPECT_NE(ovtest::ReadFile(UndoData(1)).find("Page1HagakiFrom=Taro\r\n"), std::string::npos);
        EXPECT_EQ(m_win.title, "Postalyn - Desk 1");
        EXPECT_EQ(m_doc.m_strDocFolder, Desk(1) + "/UndoFolder");
        m_exec.Settle();
        EXPECT_EQ(m_s->StartedJobs(), iStarted + 1);
        EXPECT_TRUE(m_s->IsShownPageCurrent());
    }
    m_pManage->bUndelivered = false;
    m_win.pane.m_strMemo = "memo";
    EXPECT_EQ(m_s->OnNextPage(), 0);
    // The page jobs are joined before the working folder goes with the re-open.
    EXPECT_EQ(Take(true), (Log{"pane save", "event 3 change 1", "join", "pane load"}));
    EXPECT_NE(ovtest::ReadFile(UndoData(1)).find("Page1HagakiMemo=memo\r\n"), std::string::npos);
    EXPECT_EQ(m_win.title, "Postalyn - Desk 2");
    EXPECT_EQ(m_win.pane.m_strFrom, "Two");
    EXPECT_TRUE(Enabled(ID_PREV_PAGE));
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    EXPECT_FALSE(m_s->IsShownPageCurrent());
    m_exec.Settle();
    EXPECT_TRUE(m_s->IsShownPageCurrent());

    // Back without a change: nothing rewritten, the event says 0.
    EXPECT_EQ(m_s->OnPrevPage(), 0);
    EXPECT_EQ(Take(), (Log{"pane save", "event 4 change 0", "pane load"}));
    EXPECT_EQ(ovtest::ReadFile(UndoData(2)), two);
    EXPECT_EQ(m_win.pane.m_strFrom, "Taro");  // read back from the saved record
    // The wheel moves like the buttons; with no next postcard it does nothing at all.
    EXPECT_EQ(m_s->OnWheel(-120), 0);
    m_exec.Settle();
    Take();
    m_win.pane.m_strFrom = "Uncommitted";
    EXPECT_EQ(m_s->OnWheel(-120), 0);
    m_exec.Settle();
    EXPECT_EQ(Take(), Log{});
    EXPECT_EQ(ovtest::ReadFile(UndoData(2)), two);
    EXPECT_EQ(m_win.waitDepth, 0);
}

TEST_F(SessionTest, UndoFolderCloseSendsItsEventOnlyAfterAChange) {
    const struct {
        const char* name;
        std::function<void()> act;
        Log events;
    } cases[] = {
        {"nothing", [] {}, {}},
        {"the same text again", [&] { m_win.pane.m_strYear = "2024"; }, {}},
        {"memo", [&] { m_win.pane.m_strMemo = "new"; }, {"event 2 change 1"}},
        {"turned", [&] { EXPECT_EQ(m_s->OnOmoteRotate(), 0); }, {"event 2 change 2"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteUndoDesk(1, "One");
        const std::string before = ovtest::ReadFile(UndoData(1));
        ASSERT_EQ(Open("", 0, 0, Manager(1, {{Desk(1)}})), 0);
        c.act();
        m_exec.Settle();
        Take();
        m_s->OnClose();
        Log expected{"zoom closed", "pane save"};
        expected.insert(expected.end(), c.events.begin(), c.events.end());
        if (!c.events.empty())
            expected.push_back("pane load");  // the answered close re-opens what the viewer names
        expected.push_back("placement");
        EXPECT_EQ(Take(), expected);
        EXPECT_EQ(ovtest::ReadFile(UndoData(1)) != before, !c.events.empty());
        m_exec.Settle();
        m_s.reset();
        m_doc.ReleaseHagakiManage();
    }
}

TEST_F(SessionTest, TurnsFollowTheEditableFlagAndTheSideFilesTheyTurn) {
    const struct {
        int bEditable;
        bool bFront, bBack, bOmote, bUra, bRotation;
    } cases[] = {
        {1, true, true, true, true, true},      {0, true, true, false, false, false},
        {1, false, false, false, false, false}, {1, true, false, true, false, false},
        {1, false, true, false, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.bEditable << c.bFront << c.bBack);
        WriteUndoDesk(1, "One", c.bFront, c.bBack);
        ASSERT_EQ(Open("", 0, 0, Manager(1, {{Desk(1), 12, 1, c.bEditable}})), 0);
        EXPECT_EQ(Enabled(ID_OMOTE_ROTATE), c.bOmote);
        EXPECT_EQ(Enabled(ID_URA_ROTATE), c.bUra);
        EXPECT_EQ(Enabled(ID_HAGAKI_ROTATION), c.bRotation);
        // A disabled turn does nothing.
        EXPECT_EQ(m_s->OnOmoteRotate(), 0);
        CHagakiInfo cInfo;
        m_s->GetHagakiInfo(cInfo, 0);
        EXPECT_EQ(cInfo.m_bFile1Rotated != 0, c.bOmote);
        m_exec.Settle();
        m_s.reset();
        m_doc.ReleaseHagakiManage();
    }
}

TEST_F(SessionTest, TurnsShowTheTurnedPageAndAFailedTurnKeepsThePicture) {
    WritePostcardDocument();
    ASSERT_EQ(Open("", 0, 0, Manager(0, {{Desk(1)}})), 0);
    EXPECT_EQ(m_win.CentrePixel(), kRed);
    EXPECT_FALSE(m_win.Landscape());
    // The old page's job is still held (or made, its result not yet in) when
    // the turn comes: afterwards only the turned page is shown and stored.
    const struct {
        const char* name;
        std::function<int()> turn;
        bool bMade, bLandscape;
        std::uint32_t colour;
    } steps[] = {
        {"front side", [&] { return m_s->OnOmoteRotate(); }, false, true, kRed},
        {"back side", [&] { return m_s->OnUraRotate(); }, true, true, kRed},
        {"upside down", [&] { return m_s->OnHagakiRotation(); }, false, false, kBlue},
        {"front side again", [&] { return m_s->OnOmoteRotate(); }, true, true, kBlue},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        m_s->RedrawPage();
        m_exec.RunPosted();
        if (s.bMade)
            m_exec.RunWork();
        const std::size_t iShown = m_win.shown.size();
        Take();
        EXPECT_EQ(s.turn(), 0);
        EXPECT_EQ(Take(true), Log{"join"});  // before any file was touched
        EXPECT_FALSE(m_s->IsShownPageCurrent());
        m_exec.Settle();
        ASSERT_EQ(m_win.shown.size(), iShown + 1);  // the turned page only
        EXPECT_EQ(m_win.Landscape(), s.bLandscape);
        EXPECT_EQ(m_win.CentrePixel(), s.colour);
        EXPECT_TRUE(Same(*m_win.shown.back(), Fresh()));
    }
    // A side file that has gone: the message, the trace line, the picture kept.
    const std::string front = DocDir() + "/Data/Standard/F1.pdf";
    ASSERT_EQ(std::remove(front.c_str()), 0);
    const std::size_t iShown = m_win.shown.size();
    Take();
    EXPECT_EQ(m_s->OnUraRotate(), -704);  // after the exchange the back side is F1.pdf
    EXPECT_EQ(Take(true), (Log{"join", "box -704"}));
    EXPECT_TRUE(m_trace.Contains("COrmaViewDoc::RotateHagakiPdf() Error!(-704)\n"));
    m_exec.Settle();
    EXPECT_EQ(m_win.shown.size(), iShown);
    EXPECT_TRUE(m_s->IsShownPageCurrent());
    // The exchanged sides are in the record once the card is left.
    m_s->OnClose();
    EXPECT_NE(ovtest::ReadFile(DataDat(1)).find("Page1HagakiFile1=B1.pdf\r\nPage1HagakiFile2=F1.pdf\r\n"),
              std::string::npos);
}

TEST_F(SessionTest, DocumentModeSavesEachPagesRecordEvenAfterAFailedPage) {
    WritePostcardDocument();
    ovtest::WriteFile(DocDir() + "/Data/Data2.pdf", "not a pdf");
    ASSERT_EQ(Open("", 0, 0, Manager(0, {{Desk(1)}})), 0);
    EXPECT_EQ(m_win.title, "Postalyn - Cards ( 1/2 )");
    m_win.pane.m_strFrom = "Uno";
    Take();
    EXPECT_EQ(m_s->OnNextPage(), 0);
    EXPECT_EQ(m_doc.m_iCurPagePos, 2);
    EXPECT_NE(ovtest::ReadFile(DataDat(1)).find("Page1HagakiFrom=Uno\r\n"), std::string::npos);
    m_exec.Settle();  // the page fails on its worker: the box comes then
    ASSERT_EQ(m_win.pageErrors.size(), 1u);
    EXPECT_EQ(Take(), (Log{"pane save", "pane load", "box " + std::to_string(m_win.pageErrors[0])}));
    EXPECT_EQ(m_win.pane.m_strFrom, "Two");
    EXPECT_FALSE(Enabled(ID_NEXT_PAGE));
    // An edit there goes into page 2's record with page 2's own side files.
    m_win.pane.m_strYear = "1999";
    EXPECT_EQ(m_s->OnPrevPage(), 0);
    const std::string dat = ovtest::ReadFile(DataDat(2));
    EXPECT_NE(dat.find("Page1HagakiFrom=Two\r\nPage1HagakiYear=1999\r\n"), std::string::npos) << dat;
    EXPECT_NE(dat.find("Page1HagakiFile1=F2.pdf\r\nPage1HagakiFile2=B2.pdf\r\n"), std::string::npos) << dat;
    EXPECT_FALSE(Enabled(ID_PREV_PAGE));
    Take();
    m_s->OnClose();  // document mode sends no events
    EXPECT_EQ(Take(), (Log{"zoom closed", "pane save", "pane load", "placement"}));
}

}  // namespace
