// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-step-bench [--runs N] [--pages N]: a page step onto a page that was
// not made ahead, timed from the command to the moment the session hands the
// page's picture to the window (IViewerWindow::ShowPage), against MuPDF alone
// drawing the same page of a twin work desk that nothing has seen before, at the
// page image's size (the bare render; the library's whole
// WorkDesk_CreateThumbFile of the page is shown beside it). The session runs with
// two worker threads, no window toolkit and no page store; every step jumps
// three pages on, so that neither the page nor a neighbour made ahead is ready.
// The step runs with the viewer's allocator setting, the bare render with
// MuPDF's own (blocks reused from the heap).
#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
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

#include <mupdf/fitz.h>

#include "BareRender.h"
#include "BenchSupport.h"
#include "SampleWorkDesk.h"
#include "document/OrmaViewDoc.h"
#include "frame/ViewerSession.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"

namespace fs = std::filesystem;

namespace {

using ovbench::Median;
using ovbench::NowMs;

// Two worker threads; posted callbacks run on the bench's thread in Pump.
class ThreadExecutor : public IPageExecutor {
public:
    ThreadExecutor() {
        for (int i = 0; i < 2; ++i) m_threads.emplace_back([this] { Work(); });
    }
    ~ThreadExecutor() override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_bStop = true;
        }
        m_cv.notify_all();
        for (std::thread& t : m_threads) t.join();
    }
    void Start(std::function<void()> fnWork) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_work.push_back(std::move(fnWork));
            ++m_iBusy;
        }
        m_cv.notify_all();
    }
    void Post(std::function<void()> fnDone) override {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_posted.push_back(std::move(fnDone));
        }
        m_cv.notify_all();
    }
    void Join() override {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cv.wait(lock, [this] { return m_iBusy == 0; });
    }
    // Runs posted callbacks until done() holds.
    void Pump(const std::function<bool()>& done) {
        while (!done()) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait(lock, [this] { return !m_posted.empty(); });
                fn = std::move(m_posted.front());
                m_posted.pop_front();
            }
            fn();
        }
    }

private:
    void Work() {
        for (;;) {
            std::function<void()> fn;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                m_cv.wait(lock, [this] { return m_bStop || !m_work.empty(); });
                if (m_bStop)
                    return;
                fn = std::move(m_work.front());
                m_work.pop_front();
            }
            fn();
            {
                std::lock_guard<std::mutex> lock(m_mutex);
                --m_iBusy;
            }
            m_cv.notify_all();
        }
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::function<void()>> m_work, m_posted;
    int m_iBusy = 0;
    bool m_bStop = false;
    std::vector<std::thread> m_threads;
};

class Window : public IViewerWindow {
public:
    void ShowPage(int iPagePos, std::shared_ptr<const CPageBitmap>) override {
        shownPos = iPagePos;
        shownAt = NowMs();
    }
    void ShowPageError(int iResult) override { std::fprintf(stderr, "page error %d\n", iResult); }
    void PageRequested() override {}
    BOOL RefreshZoomView() override { return TRUE; }
    void CloseZoomView() override {}
    void SetTitle(const std::string&) override {}
    void CommandStatesChanged() override {}
    void ShowError(int iResult) override { std::fprintf(stderr, "error box %d\n", iResult); }
    void SetWaitCursor(BOOL) override {}
    void SaveWindowPlacement() override {}
    int EditPaneLoad() override { return 0; }
    int EditPaneSaveToDoc() override { return 0; }
    void EditPaneSetReadOnly(BOOL) override {}
    int shownPos = 0;
    double shownAt = 0;
};

}  // namespace

int main(int argc, char** argv) {
    int runs = 5, pages = 90;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (std::strcmp(argv[i], "--pages") == 0 && i + 1 < argc) {
            pages = std::max(12, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: ormaview-step-bench [--runs N] [--pages N]\n");
            return 2;
        }
    }
    const fs::path work = fs::temp_directory_path() / ("ormaview-step-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "tmp");
    ::setenv("ORMAVIEW_TRACE_FILE", (work / "trace.log").c_str(), 1);
    ::setenv("TMPDIR", (work / "tmp").c_str(), 1);
    ovsample::SampleInfo desk, twin;
    if (!ovsample::WriteSampleWorkDesk((work / "twin").string(), pages, &twin) ||
        !ovsample::WriteSampleWorkDesk((work / "desk").string(), pages, &desk))
        return 1;
    const std::string scratch = (work / "render.thm").string();
    fz_context* ctx = fz_new_context(nullptr, nullptr, 64u << 20);  // as the library's context
    if (ctx == nullptr)
        return 1;
    fz_register_document_handlers(ctx);
    std::vector<double> steps, renders, ratios, thumbs;
    for (int run = 0; run < runs; ++run) {
        COrmaViewDoc doc;
        Window window;
        ThreadExecutor exec;
        CViewerSession session(doc, window, exec, FALSE);
        session.SetViewSize(904, 800);
        if (session.Load(desk.folder, 9, 1) != 0)
            return 1;
        exec.Pump([&] { return window.shownPos == 1 && session.IsIdle(); });
        for (int number = 4; number <= session.GetPageTotal(); number += 3) {
            // The step with the viewer's allocator setting (main: blocks of 1 MB
            // and more mapped afresh each time), the bare render and the library
            // call with blocks reused from the heap, as MuPDF alone runs.
            mallopt(M_MMAP_THRESHOLD, 1 << 20);
            const double t0 = NowMs();
            session.GoToPageNumber(number);
            exec.Pump([&] { return window.shownPos == doc.m_iCurPagePos && !session.IsPageBusy(); });
            const double step = window.shownAt - t0;
            exec.Pump([&] { return session.IsIdle() == TRUE; });  // the reader reads the page
            const int id = doc.GetPageID(doc.m_iCurPagePos);
            const std::string pdf = twin.folder + "/Doc000009/Data/Data" + std::to_string(id) + ".pdf";
            const std::string dat = twin.folder + "/Doc000009/Data/Data" + std::to_string(id) + ".dat";
            mallopt(M_MMAP_THRESHOLD, 32 << 20);
            const double r0 = NowMs();
            ovbench::BareRender(ctx, pdf.c_str());
            const double render = NowMs() - r0;
            std::remove(scratch.c_str());
            const double t1 = NowMs();
            WorkDesk_CreateThumbFile(pdf.c_str(), 1, scratch.c_str(), 1000, 1000, 1, dat.c_str());
            const double thumb = NowMs() - t1;
            if (run == 0)
                continue;  // the first run warms up
            steps.push_back(step);
            renders.push_back(render);
            thumbs.push_back(thumb);
            ratios.push_back(step / render);
        }
    }
    std::printf("%zu steps onto pages not made ahead (document 9 of %d pages, view 904 x 800)\n",
                steps.size(), pages);
    std::printf(
        "step to the picture: median %.2f ms; bare render: median %.2f ms; "
        "WorkDesk_CreateThumbFile: median %.2f ms\n",
        Median(steps), Median(renders), Median(thumbs));
    std::printf("step / bare render: medians %.3f, per page median %.3f (target <= 1.05 %s)\n",
                Median(steps) / Median(renders), Median(ratios),
                Median(steps) / Median(renders) <= 1.05 ? "met" : "MISSED");
    std::printf(
        "{\"bench\":\"step_not_made_ahead\",\"step_ms\":%.3f,\"render_ms\":%.3f,\"thumb_ms\":%.3f,"
        "\"ratio\":%.3f,\"per_page_ratio\":%.3f}\n",
        Median(steps), Median(renders), Median(thumbs), Median(steps) / Median(renders), Median(ratios));
    fz_drop_context(ctx);
    std::error_code ec;
    fs::remove_all(work, ec);
    return 0;
}
