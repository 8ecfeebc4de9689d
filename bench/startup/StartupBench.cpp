// SPDX-License-Identifier: AGPL-3.0-or-later
// ormaview-startup-bench [--runs N] [--pages N] [--index-run N] [--viewer PATH]
//
// Times the viewer on the sample work desk, on the offscreen platform:
//  1. process start to the first painted page (the viewer reports the moment
//     with ORMAVIEW_REPORT_FIRST_PAINT=1), over N runs of the ormaview program;
//  2. a page step in-process, the page image not yet made (uncached) and made
//     before (cached), set against the time the image library takes to render
//     the same page; the working folder's size while stepping;
//  3. a document of two pages around a run of N index sheets (default 100 000):
//     opening it, the first paint of the viewer, a step over the run and the
//     command state asked again.
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

#include "SampleWorkDesk.h"
#include "app/OrmaView.h"
#include "display/OrmaViewView.h"
#include "display/OrmaZoomView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/Ravelin.h"
#include "ipc/WindowManager.h"
#include "win32/ShellPath.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

double NowMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1e3 + ts.tv_nsec / 1e6;
}

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

// One start of the viewer; the milliseconds from spawn to the first painted
// page, or a negative value on failure. The viewer is closed with WM_CLOSE.
double TimeFirstPaint(const std::string& viewer, const std::string& desk, int docId, int pageId) {
    int pipeFd[2];
    if (pipe(pipeFd) != 0)
        return -1;
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
        return -1;
    }
    std::string err;
    double result = -1;
    char buf[512];
    ssize_t n;
    while ((n = read(pipeFd[0], buf, sizeof buf)) > 0) {
        err.append(buf, static_cast<std::size_t>(n));
        const std::size_t at = err.find("ORMAVIEW_FIRST_PAINT ");
        if (at != std::string::npos && err.find('\n', at) != std::string::npos) {
            const long long ns = std::atoll(err.c_str() + at + 21);
            result = ns / 1e6 - t0;
            break;
        }
    }
    const HWND hViewer = FindWindowA(kViewerWndClass, nullptr);
    if (hViewer != 0)
        SendMessageA(hViewer, WM_CLOSE, 0, 0);
    // Drain the rest so that the viewer never blocks on a full pipe.
    while (read(pipeFd[0], buf, sizeof buf) > 0) {
    }
    close(pipeFd[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return result;
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

// Document 10 of the desk: page 1, a run of n index sheets (IDs 2..n+1, flag 2
// in their data files), page n + 2; the two normal pages are copies of a sample
// page.
bool WriteIndexRunDocument(const std::string& desk, int n, const std::string& samplePdf) {
    const std::string folder = desk + "/Doc000010";
    fs::create_directories(folder + "/Data");
    std::string list = "1";
    for (int id = 2; id <= n + 2; ++id) list += "," + std::to_string(id);
    for (int id = 2; id <= n + 1; ++id) {
        FILE* f = std::fopen((folder + "/Data/Data" + std::to_string(id) + ".dat").c_str(), "wb");
        if (f == nullptr)
            return false;
        std::fputs("[PageInfo]\r\nPage1Flag=2\r\n", f);
        std::fclose(f);
    }
    std::error_code ec;
    for (int id : {1, n + 2})
        fs::copy_file(samplePdf, folder + "/Data/Data" + std::to_string(id) + ".pdf",
                      fs::copy_options::overwrite_existing, ec);
    FILE* f = std::fopen((folder + "/Doc.dat").c_str(), "wb");
    if (f == nullptr)
        return false;
    std::fprintf(f,
                 "[DocInfo]\r\nPageTotal=2\r\nIndexTotal=%d\r\nDocName=Index run\r\nMaxPageID=%d\r\n"
                 "PageIDList=%s\r\n",
                 n, n + 2, list.c_str());
    std::fclose(f);
    return !ec;
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 10;
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
    setenv("ORMAVIEW_REPORT_FIRST_PAINT", "1", 1);

    ovsample::SampleInfo info;
    ovsample::SampleInfo twin;
    if (!ovsample::WriteSampleWorkDesk(root + "/twin", pages, &twin))
        return 1;
    if (!ovsample::WriteSampleWorkDesk(root + "/desk", pages, &info))
        return 1;

    // 1. Process start to first painted page.
    std::vector<double> firstPaint;
    for (int i = 0; i < runs; ++i) {
        const double ms = TimeFirstPaint(viewer, info.folder, info.firstDocId, info.firstPageId);
        if (ms < 0) {
            std::fprintf(stderr, "viewer run %d failed (%s)\n", i + 1, viewer.c_str());
            return 1;
        }
        firstPaint.push_back(ms);
    }
    const Stats fp = Summarise(firstPaint);
    std::printf("first paint (sample document %d, %d runs): median %.1f ms, min %.1f, max %.1f\n",
                info.firstDocId, runs, fp.median, fp.min, fp.max);
    unsetenv("ORMAVIEW_REPORT_FIRST_PAINT");

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

    std::vector<double> uncached, renders, ratios, cached;
    unsigned long long maxFolder = 0;
    while (frame->CommandAction(ID_NEXT_PAGE)->isEnabled()) {
        const double t0 = NowMs();
        frame->OnNextPage();
        const double step = NowMs() - t0;
        maxFolder = std::max(maxFolder, FolderBytes(doc->m_strTempFolder));
        const double render = renderOf[static_cast<std::size_t>(doc->GetPageID(doc->m_iCurPagePos))];
        uncached.push_back(step);
        renders.push_back(render);
        ratios.push_back(step / render);
    }
    std::vector<double> redraws, creates, cursors, titles, states;
    while (frame->CommandAction(ID_PREV_PAGE)->isEnabled()) {
        double t0 = NowMs();
        frame->OnPrevPage();
        cached.push_back(NowMs() - t0);
        // The parts of a cached step: the page image check, and the new bitmap
        // with its paint.
        t0 = NowMs();
        doc->CreateThumbFile();
        creates.push_back(NowMs() - t0);
        t0 = NowMs();
        frame->GetActiveView()->RedrawPage();
        redraws.push_back(NowMs() - t0);
        t0 = NowMs();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        QApplication::restoreOverrideCursor();
        cursors.push_back(NowMs() - t0);
        t0 = NowMs();
        frame->SetFrameTitle(doc->GetFrameTitle());
        titles.push_back(NowMs() - t0);
        t0 = NowMs();
        frame->UpdateCommandState();
        states.push_back(NowMs() - t0);
    }
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
        zd->m_bShowEditInfo = 0;
        view->RefreshPage();
        for (ZoomRow& row : zoomRows) {
            while (zd->GetPageID(zd->m_iCurPagePos) < row.pageId) view->MovePage(3);
            while (zd->GetPageID(zd->m_iCurPagePos) > row.pageId) view->MovePage(2);
            view->repaint();
            const QRect page = view->PageImageRect();
            const QRect select = row.small
                                     ? QRect(page.center(), QSize(40, 40))
                                     : QRect(page.center() - QPoint(view->width() / 4, view->height() / 4),
                                             QSize(view->width() / 2, view->height() / 2));
            for (int i = 0; i < runs + 1; ++i) {
                const double t0 = NowMs(), c0 = CpuMs();
                view->CreateZoomView(select, page);
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
            while (zd->GetPageID(zd->m_iCurPagePos) > 1) view->MovePage(2);
            zf->UpdateCommandState();
            view->repaint();
            const QRect page = view->PageImageRect();
            // Around the pen stroke, the highlight and the note.
            view->CreateZoomView(
                QRect(page.left() + page.width() * 12 / 100, page.top() + page.height() * 31 / 100,
                      page.width() * 50 / 100, page.height() * 19 / 100),
                page);
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
    const bool written =
        WriteIndexRunDocument(info.folder, indexRun, info.folder + "/Doc000009/Data/Data1.pdf");
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

    const Stats su = Summarise(uncached), sr = Summarise(renders), sq = Summarise(ratios),
                sc = Summarise(cached);
    std::printf("page view %dx%d, document 9, %zu steps each way\n", viewSize.width(), viewSize.height(),
                uncached.size());
    std::printf("uncached step: median %.1f ms, min %.1f, max %.1f\n", su.median, su.min, su.max);
    std::printf("page render:   median %.1f ms, min %.1f, max %.1f\n", sr.median, sr.min, sr.max);
    double sumStep = 0, sumRender = 0;
    for (double v : uncached) sumStep += v;
    for (double v : renders) sumRender += v;
    std::printf("uncached step / render: per page median %.2f, max %.2f; all pages %.2f\n", sq.median, sq.max,
                sumRender > 0 ? sumStep / sumRender : 0.0);
    std::printf("cached step:   median %.1f ms, min %.1f, max %.1f\n", sc.median, sc.min, sc.max);

    const Stats sl = Summarise(loads), sp = Summarise(paints);
    std::printf("  cached step parts: image check median %.2f ms, bitmap and paint median %.1f ms\n",
                Summarise(creates).median, Summarise(redraws).median);
    std::printf("  wait cursor %.2f ms, title %.2f ms, command state %.2f ms\n", Summarise(cursors).median,
                Summarise(titles).median, Summarise(states).median);
    std::printf("  of which bitmap from cache: median %.1f ms; paint alone: median %.2f ms\n", sl.median,
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
