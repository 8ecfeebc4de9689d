// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-startup-bench [--runs N] [--pages N] [--index-run N] [--slow-ms N] [--viewer PATH]
//
// Times the viewer on the sample work desk, on the offscreen platform:
//  1. process start to the first painted page (the viewer reports the moment
//     with ORMAVIEW_REPORT_FIRST_PAINT=1), over N runs of the ormaview program;
//  2. a page step in-process, the page image not yet made (uncached) and made
//     before (cached), set against the time the image library takes to render
//     the same page; the working folder's size while stepping;
//  3. a document of two pages around a run of N index sheets (default 100 000):
//     opening it, the first paint of the viewer, a step over the run and the
//     command state asked again;
//  4. responsiveness: one page of the long document is replaced by a dense
//     drawing that takes MuPDF about --slow-ms (default 4000) to draw; the
//     longest time the UI thread spends on one event over the whole stepping
//     run (an event-loop latency probe), the first window when the first page
//     is that slow page, the close (WM_CLOSE, the command of Escape) 0.3 s into
//     it, the first page from the page store against a bare render, and the
//     resident memory while paging through the document.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <QApplication>

#include <QElapsedTimer>
#include <QTimer>
#include "BenchSupport.h"
#include "PdfWriter.h"
#include "SampleWorkDesk.h"
#include "app/OrmaView.h"
#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"

#include "document/PageJob.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"
#include "image/Ravelin.h"
#include "ipc/WindowManager.h"
#include "ormacomm/OrmaComm.h"
#include "win32/ShellPath.h"

extern char** environ;

namespace {

using ovbench::NowMs;

namespace fs = std::filesystem;

// CPU time of this thread: the magnifier's opening and its load run on the one
// thread, so this leaves out what the other work on the machine costs.
double CpuMs() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

struct Stats {
    double median = 0, min = 0, max = 0;
};

Stats Summarise(std::vector<double> v) {
    Stats s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.median = v[v.size() / 2];
    s.min = v.front();
    s.max = v.back();
    return s;
}

// The time the image library takes to render a page image file of a page that
// it has not seen before (a twin of the document, so nothing of it is cached).
double TimeRender(const std::string& docFolder, int pageId, const std::string& scratch) {
    const std::string pdf = docFolder + "/Data/Data" + std::to_string(pageId) + ".pdf";
    const std::string dat = docFolder + "/Data/Data" + std::to_string(pageId) + ".dat";
    std::remove(scratch.c_str());
    const double t0 = NowMs();
    WorkDesk_CreateThumbFile(pdf.c_str(), 1, scratch.c_str(), 1000, 1000, 1, dat.c_str());
    return NowMs() - t0;
}

// Bytes of the files below a folder.
unsigned long long FolderBytes(const std::string& folder) {
    unsigned long long total = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec))
            total += it->file_size(ec);
    }
    return total;
}

// What one start of the viewer showed, in ms after the spawn (negative when not
// seen): the first paint of the window, the first paint of the page, and the
// end of the process after a close sent closeAfterMs after the first window
// (the close is sent after the page when closeAfterMs is negative).
struct ViewerRun {
    double window = -1;
    double page = -1;
    double exitAfterClose = -1;
};

ViewerRun RunViewer(const std::string& viewer, const std::string& desk, int docId, int pageId,
                    double closeAfterMs) {
    ViewerRun run;
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return run;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFd[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFd[0]);
    const std::string doc = std::to_string(docId);
    const std::string page = std::to_string(pageId);
    char* argv[] = {const_cast<char*>(viewer.c_str()), const_cast<char*>(desk.c_str()),
                    const_cast<char*>(doc.c_str()), const_cast<char*>(page.c_str()), nullptr};
    pid_t pid = 0;
    const double t0 = NowMs();
    const int rc = posix_spawn(&pid, viewer.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFd[1]);
    if (rc != 0) {
        close(pipeFd[0]);
        return run;
    }
    std::string err;
    char buf[512];
    ssize_t n;
    auto marker = [&err, t0](const char* name) {
        const std::size_t at = err.find(name);
        if (at == std::string::npos || err.find('\n', at) == std::string::npos)
            return -1.0;
        return std::atoll(err.c_str() + at + std::strlen(name)) / 1e6 - t0;
    };
    while ((n = read(pipeFd[0], buf, sizeof buf)) > 0) {
        err.append(buf, static_cast<std::size_t>(n));
        run.window = marker("ORMAVIEW_FIRST_WINDOW ");
        run.page = marker("ORMAVIEW_FIRST_PAINT ");
        if (closeAfterMs >= 0 ? run.window >= 0 : run.page >= 0)
            break;
    }
    if (closeAfterMs > 0)
        usleep(static_cast<useconds_t>(closeAfterMs * 1000));
    // The viewer registers its window just after the first paint: looked for a while.
    HWND hViewer = 0;
    for (int i = 0; i < 200 && hViewer == 0; ++i) {
        hViewer = FindWindowA(kViewerWndClass, nullptr);
        if (hViewer == 0)
            usleep(5000);
    }
    const double tClose = NowMs();
    if (hViewer != 0)
        SendMessageA(hViewer, WM_CLOSE, 0, 0);
    while (read(pipeFd[0], buf, sizeof buf) > 0) {
    }
    close(pipeFd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.exitAfterClose = NowMs() - tClose;
    return run;
}

// One start of the viewer; the milliseconds from spawn to the first painted
// page, or a negative value on failure. The viewer is closed with WM_CLOSE.
double TimeFirstPaint(const std::string& viewer, const std::string& desk, int docId, int pageId) {
    return RunViewer(viewer, desk, docId, pageId, -1).page;
}

// A page of n short thin curves (A4), each within a box of 40 points: MuPDF's
// time to draw it grows with n.
ovsample::PdfPage DensePage(int n) {
    std::string content = "0.3 w\n";
    char line[160];
    unsigned seed = 4242;
    auto next = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<float>((seed >> 8) % static_cast<unsigned>(range * 10)) / 10.0f;
    };
    for (int i = 0; i < n; ++i) {
        const float x = next(555), y = next(800);
        std::snprintf(line, sizeof line, "%.1f %.1f m %.1f %.1f %.1f %.1f %.1f %.1f c S\n", x + next(40),
                      y + next(40), x + next(40), y + next(40), x + next(40), y + next(40), x + next(40),
                      y + next(40));
        content += line;
    }
    return {595.28f, 841.89f, 0, content, {}};
}

// Resident memory of this process now and at its peak, in MB.
void ResidentMb(double* now, double* peak) {
    FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    while (f != nullptr && std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "VmRSS:", 6) == 0)
            *now = std::atof(line + 6) / 1024.0;
        if (std::strncmp(line, "VmHWM:", 6) == 0)
            *peak = std::atof(line + 6) / 1024.0;
    }
    if (f != nullptr)
        std::fclose(f);
}

double Percentile(std::vector<double> v, double q) {
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, static_cast<std::size_t>(q * (v.size() - 1) + 0.5))];
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 10;
    int slowMs = 4000;
    int pages = 30;
    int indexRun = 100000;
    std::string viewer = (fs::path(argv[0]).parent_path() / "ormaview").string();
    std::string zoomShot;  // --zoom-shot FILE: the open magnifier saved as PNG
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0)
            runs = std::max(1, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--pages") == 0)
            pages = std::max(3, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--index-run") == 0)
            indexRun = std::max(2, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--slow-ms") == 0)
            slowMs = std::max(100, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--viewer") == 0)
            viewer = argv[i + 1];
        if (std::strcmp(argv[i], "--zoom-shot") == 0)
            zoomShot = argv[i + 1];
    }

    char tmpl[] = "/tmp/ormaview-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr)
        return 1;
    const std::string root = tmpl;
    for (const char* sub : {"/desk", "/runtime", "/tmp"}) fs::create_directories(root + sub);
    fs::permissions(root + "/runtime", fs::perms::owner_all, fs::perm_options::replace);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    setenv("XDG_RUNTIME_DIR", (root + "/runtime").c_str(), 1);
    setenv("TMPDIR", (root + "/tmp").c_str(), 1);
    setenv("ORMAVIEW_WORKDESK", (root + "/desk").c_str(), 1);
    setenv("ORMAVIEW_TRACE_FILE", (root + "/trace.log").c_str(), 1);
    setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/config").c_str(), 1);
    setenv("ORMAVIEW_REPORT_FIRST_PAINT", "1", 1);

    ovsample::SampleInfo info;
    ovsample::SampleInfo twin;
    if (!ovsample::WriteSampleWorkDesk(root + "/twin", pages, &twin))
        return 1;
    if (!ovsample::WriteSampleWorkDesk(root + "/desk", pages, &info))
        return 1;

    // The slow page: a dense drawing calibrated on a small one, written over a
    // page in the middle of document 9 (its twin keeps the normal page).
    const int slowId = pages / 2;
    const std::string slowPdf = info.folder + "/Doc000009/Data/Data" + std::to_string(slowId) + ".pdf";
    double slowRenderMs = 0;
    {
        const std::string probePdf = root + "/probe.pdf", probeThm = root + "/probe.thm";
        ovsample::WritePdf(probePdf, {DensePage(20000)});
        double t0 = NowMs();
        WorkDesk_CreateThumbFile(probePdf.c_str(), 1, probeThm.c_str(), 1000, 1000, 0, nullptr);
        const double probeMs = std::max(1.0, NowMs() - t0);
        const int curves = std::clamp(static_cast<int>(20000.0 * slowMs / probeMs), 20000, 20000000);
        ovsample::WritePdf(slowPdf, {DensePage(curves)});
        t0 = NowMs();
        WorkDesk_CreateThumbFile(slowPdf.c_str(), 1, probeThm.c_str(), 1000, 1000, 0, nullptr);
        slowRenderMs = NowMs() - t0;
        std::printf("slow page: document 9 page %d, %d curves, bare render %.0f ms\n", slowId, curves,
                    slowRenderMs);
    }

    // 1. Process start to first painted page: the page store empty (removed
    // before each run) and the page store holding the page (from the run before).
    std::vector<double> firstPaint, firstPaintStored, firstWindow;
    for (int pass = 0; pass < 2; ++pass) {
        for (int i = 0; i < runs; ++i) {
            std::error_code ec;
            if (pass == 0 || i == 0)
                fs::remove_all(root + "/cache", ec);
            const ViewerRun run = RunViewer(viewer, info.folder, info.firstDocId, info.firstPageId, -1);
            if (run.page < 0) {
                std::fprintf(stderr, "viewer run %d failed (%s)\n", i + 1, viewer.c_str());
                return 1;
            }
            if (pass == 0) {
                firstPaint.push_back(run.page);
                firstWindow.push_back(run.window);
            } else if (i > 0) {
                firstPaintStored.push_back(run.page);
            }
        }
    }
    const Stats fp = Summarise(firstPaint);
    std::printf("first paint (sample document %d, %d runs): median %.1f ms, min %.1f, max %.1f\n",
                info.firstDocId, runs, fp.median, fp.min, fp.max);
    std::printf("  first window: median %.1f ms; first paint with the page stored: median %.1f ms\n",
                Summarise(firstWindow).median, Summarise(firstPaintStored).median);

    // 4a. The slow page as the first page: first window, and a close 0.3 s into it.
    std::vector<double> slowWindow, slowExit;
    for (int i = 0; i < std::max(3, runs / 3); ++i) {
        std::error_code ec;
        fs::remove_all(root + "/cache", ec);
        const ViewerRun run = RunViewer(viewer, info.folder, 9, slowId, 300);
        slowWindow.push_back(run.window);
        slowExit.push_back(run.exitAfterClose);
    }
    std::printf(
        "slow first page: first window median %.1f ms (max %.1f); process gone %.1f ms after the close "
        "(median, max %.1f)\n",
        Summarise(slowWindow).median, Summarise(slowWindow).max, Summarise(slowExit).median,
        Summarise(slowExit).max);
    unsetenv("ORMAVIEW_REPORT_FIRST_PAINT");
    {
        std::error_code ec;
        fs::remove_all(root + "/cache", ec);
    }

    // 2. Page steps in-process through the long document.
    QApplication qapp(argc, argv);
    COrmaDeskApp app;
    if (!app.InitInstance(info.folder + " 9 1"))
        return 1;
    CMainFrame* frame = app.GetMainFrame();
    COrmaViewDoc* doc = app.GetDocument();
    frame->resize(1000, 800);
    QApplication::processEvents();
    frame->GetActiveView()->repaint();
    const std::string scratch = root + "/render.thm";

    // The render time of every page of the twin document, in page order (page
    // IDs of document 9 are its positions).
    std::vector<double> renderOf(static_cast<std::size_t>(pages) + 1, 0.0);
    for (int id = 1; id <= pages; ++id) renderOf[id] = TimeRender(twin.folder + "/Doc000009", id, scratch);

    // The event-loop latency probe: a 1 ms timer; the longest gap between two of
    // its ticks is the longest the UI thread was busy with something else.
    CViewerSession& session = frame->Session();
    QElapsedTimer probeClock;
    probeClock.start();
    qint64 lastTick = probeClock.nsecsElapsed();
    double maxGapMs = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = probeClock.nsecsElapsed();
        maxGapMs = std::max(maxGapMs, (now - lastTick) / 1e6);
        lastTick = now;
    });
    probe.start();
    auto waitIdle = [&] {
        while (!session.IsIdle()) {
            QEventLoop loop;
            QTimer::singleShot(5, &loop, &QEventLoop::quit);
            loop.exec();
        }
    };
    waitIdle();

    std::vector<double> steps, renders, ratios, cached, rss;
    double slowStepMs = -1, rssNow = 0, rssPeak = 0;
    unsigned long long maxFolder = 0;
    while (frame->CommandAction(ID_NEXT_PAGE)->isEnabled()) {
        // A reader reads the page before turning it: what was made ahead is done.
        waitIdle();
        lastTick = probeClock.nsecsElapsed();  // the bench's own work is not counted
        const double t0 = NowMs();
        session.OnNextPage();
        frame->WaitForPage();
        const double step = NowMs() - t0;
        lastTick = probeClock.nsecsElapsed();
        maxFolder = std::max(maxFolder, FolderBytes(doc->m_strTempFolder));
        ResidentMb(&rssNow, &rssPeak);
        rss.push_back(rssNow);
        const int id = doc->GetPageID(doc->m_iCurPagePos);
        if (id == slowId) {
            slowStepMs = step;
            continue;
        }
        const double render = renderOf[static_cast<std::size_t>(id)];
        steps.push_back(step);
        renders.push_back(render);
        ratios.push_back(step / render);
    }
    while (frame->CommandAction(ID_PREV_PAGE)->isEnabled()) {
        lastTick = probeClock.nsecsElapsed();
        const double t0 = NowMs();
        session.OnPrevPage();
        frame->WaitForPage();
        cached.push_back(NowMs() - t0);
        lastTick = probeClock.nsecsElapsed();
    }
    waitIdle();
    probe.stop();
    const QSize viewSize = frame->GetActiveView()->size();
    // Where a cached step goes: the page bitmap from the cached image file, and
    // the paint of the view.
    std::vector<double> loads, paints;
    for (int i = 0; i < 10; ++i) {
        const QSize request = COrmaViewView::PageBitmapRequest(viewSize);
        CPageBitmap bitmap;
        double t0 = NowMs();
        doc->GetThumbnail(nullptr, request.width(), request.height(), &bitmap);
        loads.push_back(NowMs() - t0);
        frame->GetActiveView()->repaint();  // bitmap kept: paint only
        t0 = NowMs();
        frame->GetActiveView()->repaint();
        paints.push_back(NowMs() - t0);
    }
    // 4b. The first page from the page store (as when the document is opened
    // again another day), against the bare render of the same page.
    std::vector<double> fromStore, storeRenders;
    {
        const ov::image::CPageStore store(ov::image::CPageStore::DefaultFolder(), GetPageCacheBytes());
        const QSize request = COrmaViewView::PageBitmapRequest(viewSize);
        for (int id = 1; id <= std::min(pages, 40); ++id) {
            if (id == slowId)
                continue;
            CPageJob job;
            job.strSource = info.folder + "/Doc000009/Data/Data" + std::to_string(id) + ".pdf";
            job.strEditInfo = info.folder + "/Doc000009/Data/Data" + std::to_string(id) + ".dat";
            job.strThumb = root + "/stored.thm";
            job.iWidth = request.width();
            job.iHeight = request.height();
            std::remove(job.strThumb.c_str());
            CPageBitmap bitmap;
            const double t0 = NowMs();
            const int rc = MakePageJobBitmap(job, &store, nullptr, &bitmap);
            if (rc == 0) {
                fromStore.push_back(NowMs() - t0);
                storeRenders.push_back(renderOf[static_cast<std::size_t>(id)]);
            }
        }
    }

    // 3. The magnifier: from the selection's release (CreateZoomView, which the
    // release calls) to its first animation frame painted, against the image
    // load it needs (ImageIO_GetImageInfo + ImageIO_LoadImage of the same file at
    // the same scale). Annotations off, so that the load is all the work.
    struct ZoomRow {
        ZoomRow(const char* w, int id, bool s) : what(w), pageId(id), small(s) {}
        const char* what;
        int pageId;
        bool small;
        std::vector<double> open, load, openWall, loadWall, created;
        int scale = 0;
    };
    std::vector<ZoomRow> zoomRows = {{"scan, small selection", 2, true},
                                     {"scan, half the view", 2, false},
                                     {"vector, small selection", 4, true},
                                     {"vector, half the view", 4, false}};
    QSize zoomViewSize;
    {
        const std::string cmd = info.folder + " 1 2";
        frame->OnClose();
        app.ExitInstance();
        COrmaDeskApp zoomApp;
        if (!zoomApp.InitInstance(cmd))
            return 1;
        CMainFrame* zf = zoomApp.GetMainFrame();
        COrmaViewDoc* zd = zoomApp.GetDocument();
        zf->resize(1000, 800);
        QApplication::processEvents();
        COrmaViewView* view = zf->GetActiveView();
        zoomViewSize = view->size();
        CViewerSession& zs = zf->Session();
        zd->m_bShowEditInfo = 0;
        zs.RefreshPage();
        zf->WaitForPage();
        for (ZoomRow& row : zoomRows) {
            while (zd->GetPageID(zd->m_iCurPagePos) < row.pageId) zs.MovePage(kMovePageNext);
            while (zd->GetPageID(zd->m_iCurPagePos) > row.pageId) zs.MovePage(kMovePagePrev);
            zf->WaitForPage();  // pages are made on workers
            view->repaint();
            const QRect page = view->PageImageRect();
            const QRect select = row.small
                                     ? QRect(page.center(), QSize(40, 40))
                                     : QRect(page.center() - QPoint(view->width() / 4, view->height() / 4),
                                             QSize(view->width() / 2, view->height() / 2));
            for (int i = 0; i < runs + 1; ++i) {
                const double t0 = NowMs(), c0 = CpuMs();
                view->CreateZoomView(select);
                const double createdCpu = CpuMs() - c0;
                COrmaZoomView* zoom = view->ZoomView();
                if (zoom == nullptr)
                    return 1;
                // The first frame is painted within the release (CreateZoomView) or
                // at the next update; either way the animation has then begun.
                while (!zoom->IsAnimating() && !zoom->IsShown())
                    QApplication::processEvents(QEventLoop::WaitForMoreEvents);
                const double opened = NowMs() - t0, openedCpu = CpuMs() - c0;
                row.scale = zoom->LoadScale();
                view->DestroyZoomView(TRUE);
                QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

                int iPage = 1;
                const std::string path = zd->GetViewPdfPath(&iPage);
                IMAGE_REQUEST r;
                std::memset(&r, 0, sizeof r);
                std::snprintf(r.szPath, sizeof r.szPath, "%s", path.c_str());
                r.iPage = iPage;
                HGLOBAL dib = nullptr;
                const double t1 = NowMs(), c1 = CpuMs();
                ImageIO_GetImageInfo(&r);
                r.iScaleSet = 1;
                r.iScale = row.scale;
                ImageIO_LoadImage(&r, &dib);
                const double loaded = NowMs() - t1, loadedCpu = CpuMs() - c1;
                GlobalFree(dib);
                if (i > 0) {  // the first round warms up
                    row.open.push_back(openedCpu);
                    row.load.push_back(loadedCpu);
                    row.openWall.push_back(opened);
                    row.loadWall.push_back(loaded);
                    row.created.push_back(createdCpu);
                }
            }
        }
        if (!zoomShot.empty()) {
            // Page 1 (a scan with annotations), magnified.
            zd->m_bShowEditInfo = 1;
            while (zd->GetPageID(zd->m_iCurPagePos) > 1) zs.MovePage(kMovePagePrev);
            zf->CommandStatesChanged();
            zf->WaitForPage();
            view->repaint();
            const QRect page = view->PageImageRect();
            // Around the pen stroke, the highlight and the note.
            view->CreateZoomView(QRect(page.left() + page.width() * 12 / 100,
                                       page.top() + page.height() * 31 / 100, page.width() * 50 / 100,
                                       page.height() * 19 / 100));
            COrmaZoomView* zoom = view->ZoomView();
            while (zoom != nullptr && !zoom->IsShown())
                QApplication::processEvents(QEventLoop::WaitForMoreEvents);
            if (zoom == nullptr || !zf->grab().save(QString::fromStdString(zoomShot)))
                return 1;
            std::printf("magnifier screenshot saved to %s\n", zoomShot.c_str());
        }
        zf->OnClose();
        zoomApp.ExitInstance();
    }

    // 3. A run of index sheets.
    const double w0 = NowMs();
    const bool written = ovbench::WriteIndexRunDocument(info.folder + "/Doc000010", indexRun,
                                                        info.folder + "/Doc000009/Data/Data1.pdf");
    std::printf("index run: document 10 with %d index sheets written in %.0f ms\n", indexRun, NowMs() - w0);
    double openMs = -1, stepMs = -1, askMs = -1, againMs = -1, backMs = -1, paintMs = -1;
    if (written) {
        COrmaViewDoc runDoc;
        double t0 = NowMs();
        const int rc = runDoc.InitDoc(info.folder, 10, 1);
        const std::string title = runDoc.GetFrameTitle();
        openMs = NowMs() - t0;
        t0 = NowMs();
        const int prev0 = runDoc.GetPrevPagePos(0), next0 = runDoc.GetNextPagePos(0);
        askMs = NowMs() - t0;  // the first command state: reads the run's flags
        t0 = NowMs();
        const int moved = runDoc.GetNextPagePos(1);
        runDoc.CreateThumbFile();
        runDoc.GetFrameTitle();
        runDoc.GetPrevPagePos(0);
        runDoc.GetNextPagePos(0);
        stepMs = NowMs() - t0;
        t0 = NowMs();
        for (int i = 0; i < 100; ++i) {
            runDoc.GetPrevPagePos(0);
            runDoc.GetNextPagePos(0);
        }
        againMs = (NowMs() - t0) / 100;
        t0 = NowMs();
        runDoc.GetPrevPagePos(1);
        runDoc.GetFrameTitle();
        runDoc.GetPrevPagePos(0);
        runDoc.GetNextPagePos(0);
        backMs = NowMs() - t0;
        std::printf("index run: InitDoc %d, title \"%s\", prev %d next %d, stepped to %d\n", rc,
                    title.c_str(), prev0, next0, moved);
        setenv("ORMAVIEW_REPORT_FIRST_PAINT", "1", 1);
        paintMs = TimeFirstPaint(viewer, info.folder, 10, 1);
        unsetenv("ORMAVIEW_REPORT_FIRST_PAINT");
    }

    const Stats su = Summarise(steps), sr = Summarise(renders), sq = Summarise(ratios),
                sc = Summarise(cached);
    std::printf("page view %dx%d, document 9, %zu steps forward (the slow page left out), %zu back\n",
                viewSize.width(), viewSize.height(), steps.size(), cached.size());
    std::printf("step with the page made ahead: median %.2f ms, 95th percentile %.2f ms, max %.1f\n",
                su.median, Percentile(steps, 0.95), su.max);
    std::printf("bare render of the same pages: median %.2f ms, 95th percentile %.2f ms\n", sr.median,
                Percentile(renders, 0.95));
    std::printf("step / bare render: medians %.2f, 95th percentiles %.2f (per page: median %.2f, max %.2f)\n",
                su.median / sr.median, Percentile(steps, 0.95) / Percentile(renders, 0.95), sq.median,
                sq.max);
    std::printf("step onto the slow page (shown when drawn): %.0f ms; step back: median %.2f ms, max %.1f\n",
                slowStepMs, sc.median, sc.max);
    std::printf("longest UI-thread event over the whole run (probe): %.1f ms\n", maxGapMs);
    if (!fromStore.empty())
        std::printf(
            "first page from the page store: median %.2f ms against a bare render of %.2f ms (%.2f)\n",
            Summarise(fromStore).median, Summarise(storeRenders).median,
            Summarise(fromStore).median / Summarise(storeRenders).median);
    if (rss.size() >= 10) {
        std::printf("resident memory while paging forward (MB):");
        for (std::size_t at :
             {std::size_t{10}, rss.size() / 4, rss.size() / 2, rss.size() * 3 / 4, rss.size()})
            std::printf(" after %zu pages %.1f;", at, rss[std::max<std::size_t>(at, 1) - 1]);
        std::printf(" peak of the process %.1f\n", rssPeak);
    }
    const Stats sl = Summarise(loads), sp = Summarise(paints);
    std::printf("  bitmap from a cached page image: median %.1f ms; paint alone: median %.2f ms\n", sl.median,
                sp.median);

    std::printf("working folder while stepping through %d pages: at most %.1f MB (bound %.0f MB)\n", pages,
                maxFolder / 1048576.0, COrmaViewDoc::kThumbCacheBytes / 1048576.0);
    std::printf(
        "index run of %d: open (InitDoc + title) %.1f ms, first command state %.1f ms, "
        "step over the run %.1f ms, command state asked again %.4f ms, step back %.1f ms, "
        "viewer first paint %.1f ms\n",
        indexRun, openMs, askMs, stepMs, againMs, backMs, paintMs);
    std::printf(
        "magnifier, view %dx%d, document 1, %d runs: thread CPU ms from the release (CreateZoomView) to "
        "the first frame painted, and of the load it needs (wall clock in brackets)\n",
        zoomViewSize.width(), zoomViewSize.height(), runs);
    for (const ZoomRow& row : zoomRows) {
        const double open = Summarise(row.open).median, load = Summarise(row.load).median;
        std::printf(
            "  %-24s scale %4d: open %.1f [%.1f] (CreateZoomView %.1f), load %.1f [%.1f], ratio %.2f "
            "(target <= 1.2 %s)\n",
            row.what, row.scale, open, Summarise(row.openWall).median, Summarise(row.created).median, load,
            Summarise(row.loadWall).median, load > 0 ? open / load : 0.0,
            load > 0 && open / load <= 1.2 ? "met" : "MISSED");
    }

    std::error_code ec;
    fs::remove_all(root, ec);
    return 0;
}
