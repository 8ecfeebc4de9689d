// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-session-bench [--runs N] [--index-run N]
//
// The viewer session without Qt, on real worker threads, opening a document of
// two pages around a run of N index sheets (default 100 000), each run on a
// fresh copy of the document (no page flag read before). A stand-in window
// reads the previous/next command states whenever the session says they
// changed, as the frame does. Times from the start of Load:
//  - Load returned (the first command states read inside it);
//  - the first page shown (the first paint);
//  - the previous/next states settled on their answers (every work done);
// and the longest the UI thread spent in one call (Load or one posted callback).
#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "SampleWorkDesk.h"
#include "document/OrmaViewDoc.h"
#include "frame/ViewerSession.h"
#include "image/PageBitmap.h"

namespace {

using ovbench::Median;
using ovbench::NowMs;
using ovbench::WriteIndexRunDocument;

namespace fs = std::filesystem;

// One thread per work; posted callbacks wait for the bench's loop.
class ThreadExecutor : public IPageExecutor {
public:
    ~ThreadExecutor() override { Join(); }
    void Start(std::function<void()> fnWork) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_iActive;
        }
        m_threads.emplace_back([this, fn = std::move(fnWork)] {
            fn();
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_iActive;
            m_cv.notify_one();
        });
    }
    void Post(std::function<void()> fnDone) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_posted.push_back(std::move(fnDone));
        m_cv.notify_one();
    }
    void Join() override {
        for (std::thread& t : m_threads) t.join();
        m_threads.clear();
    }
    // Waits for the next posted callback; false when none is left and no work
    // runs that could post one.
    bool Next(std::function<void()>* pfn) {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [&] { return !m_posted.empty() || m_iActive == 0; });
        if (m_posted.empty())
            return false;
        *pfn = std::move(m_posted.front());
        m_posted.pop_front();
        return true;
    }

private:
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_posted;
    int m_iActive = 0;
};

class BenchWindow : public IViewerWindow {
public:
    void ShowPage(int, std::shared_ptr<const CPageBitmap>) override {
        if (shownMs < 0)
            shownMs = NowMs() - t0;
    }
    void ShowPageError(int iResult) override { std::fprintf(stderr, "page error %d\n", iResult); }
    void PageRequested() override {}
    BOOL RefreshZoomView() override { return TRUE; }
    void CloseZoomView() override {}
    void SetTitle(const std::string&) override {}
    void CommandStatesChanged() override {
        const double t = NowMs();
        prev = session->GetCommandState(ID_PREV_PAGE).bEnabled != 0;
        next = session->GetCommandState(ID_NEXT_PAGE).bEnabled != 0;
        if (firstStateMs < 0)
            firstStateMs = NowMs() - t;
    }
    void ShowError(int iResult) override { std::fprintf(stderr, "error box %d\n", iResult); }
    void SetWaitCursor(BOOL) override {}
    void SaveWindowPlacement() override {}
    int EditPaneLoad() override { return 0; }
    int EditPaneSaveToDoc() override { return 0; }
    void EditPaneSetReadOnly(BOOL) override {}

    CViewerSession* session = nullptr;
    double t0 = 0, shownMs = -1, firstStateMs = -1;
    bool prev = false, next = false;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    int indexRun = 100000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--index-run") == 0)
            indexRun = std::max(2, std::atoi(argv[i + 1]));
    }
    char tmpl[] = "/tmp/ormaview-session-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    const std::string root = tmpl;
    for (const char* sub : {"/runtime", "/tmp"}) fs::create_directories(root + sub);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    setenv("ORMAVIEW_TRACE_FILE", (root + "/trace.log").c_str(), 1);
    ovsample::SampleInfo info;
    if (!ovsample::WriteSampleWorkDesk(root + "/desk", 0, &info) || info.vectorPdfs.empty())
        return 1;
    if (!WriteIndexRunDocument(info.folder + "/Doc000010", indexRun, info.vectorPdfs.front()))
        return 1;

    std::vector<double> opened, loaded, states, shown, settled, longest;
    for (int run = 0; run < runs; ++run) {
        // The part of Load that reads Doc.dat and fills the page list.
        COrmaViewDoc doc;
        doc.m_bDeferPageImage = TRUE;
        const double t0 = NowMs();
        doc.InitDoc(info.folder, 10, 1);
        opened.push_back(NowMs() - t0);
    }
    for (int run = 0; run < runs; ++run) {
        // A fresh document object reads every flag again; the files stay in the
        // page cache of the system, as for a document opened before.
        COrmaViewDoc doc;
        BenchWindow window;
        ThreadExecutor executor;
        CViewerSession session(doc, window, executor, FALSE);
        window.session = &session;
        session.SetViewSize(904, 800);
        window.t0 = NowMs();
        const int rc = session.Load(info.folder, 10, 1);
        double maxCall = NowMs() - window.t0;
        loaded.push_back(maxCall);
        if (rc != 0) {
            std::fprintf(stderr, "Load failed: %d\n", rc);
            return 1;
        }
        // The event loop: posted callbacks until nothing more comes.
        std::function<void()> fn;
        double lastMs = 0;
        while (executor.Next(&fn)) {
            const double t = NowMs();
            fn();
            lastMs = NowMs() - window.t0;
            maxCall = std::max(maxCall, NowMs() - t);
        }
        if (window.shownMs < 0 || window.prev || !window.next) {
            std::fprintf(stderr, "run %d: shown %.1f, prev %d next %d\n", run + 1, window.shownMs,
                         window.prev, window.next);
            return 1;
        }
        states.push_back(window.firstStateMs);
        shown.push_back(window.shownMs);
        settled.push_back(lastMs);
        longest.push_back(maxCall);
        std::printf(
            "run %d: Load %.1f ms (first command states %.1f), first page shown %.1f, states settled "
            "%.1f, longest UI call %.1f\n",
            run + 1, loaded.back(), states.back(), shown.back(), settled.back(), longest.back());
    }
    std::printf(
        "index run of %d, %d runs (medians): InitDoc alone %.1f ms, Load %.1f ms, first command states %.1f "
        "ms, "
        "first page shown %.1f ms, previous/next states settled %.1f ms, longest UI call %.1f ms\n",
        indexRun, runs, Median(opened), Median(loaded), Median(states), Median(shown), Median(settled),
        Median(longest));
    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
