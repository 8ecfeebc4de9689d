// SPDX-License-Identifier: AGPL-3.0-or-later
// Pages made away from the UI thread: a page job never stores or shows the page
// of a source that changed while it was made, nor anything once cancelled; the
// page store that outlives the run hands out only whole entries of the key
// asked for, removes nothing but its own entries, and stays off in folders that
// others could reach; the zoom view's annotated PDF is the page shown.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>

#include "ImageTestUtil.h"
#include "document/OrmaViewDoc.h"
#include "document/PageJob.h"
#include "image/MuPdf.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"
#include "image/ThmFile.h"
#include "postcard/HagakiManage.h"
#include "support/TestSupport.h"

using namespace ov::image;
using Names = std::vector<std::string>;

namespace {

// A page of many thin curves: MuPDF takes a long while over it, checking the
// cancel between the curves.
ovsample::PdfPage DensePage(int iCurves) {
    std::string content = "0.3 w\n";
    char buf[160];
    unsigned seed = 12345;
    auto next = [&seed]() {
        return static_cast<float>(((seed = seed * 1103515245u + 12345u) >> 8) % 5950) / 10;
    };
    for (int i = 0; i < iCurves; ++i) {
        std::snprintf(buf, sizeof buf, "%.1f %.1f m %.1f %.1f %.1f %.1f %.1f %.1f c S\n", next(), next(),
                      next(), next(), next(), next(), next(), next());
        content += buf;
    }
    return {595.28f, 841.89f, 0, content, {}};
}

ovsample::PdfPage Page(float r, float g, float b, float size = 100) {
    return imgtest::RectPage(200, 300, 20, 20, size, 100, r, g, b);
}

bool SameBitmap(const CPageBitmap& a, const CPageBitmap& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() && !a.IsNull() &&
           std::memcmp(a.Bits(), b.Bits(), static_cast<std::size_t>(a.Stride()) * a.Height()) == 0;
}

// An old file: its modification time an hour back (access time kept).
void MakeOld(const std::string& path) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, {st.st_mtim.tv_sec - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Runs the job on a worker held at step while change() runs; the job's result.
int RunHeld(const CPageJob& job, const CPageStore* store, RenderCancel* cancel, PageJobStep step,
            const std::function<void()>& change) {
    std::promise<void> held, release;
    std::shared_future<void> go = release.get_future().share();
    SetPageJobTestHook([&](const CPageJob&, PageJobStep now) {
        if (now == step) {
            held.set_value();
            go.wait();
        }
    });
    int r = 1;
    std::thread worker([&] {
        CPageBitmap bm;
        r = MakePageJobBitmap(job, store, cancel, &bm);
    });
    const bool bHeld = held.get_future().wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (bHeld)
        change();
    release.set_value();
    worker.join();
    SetPageJobTestHook({});
    EXPECT_TRUE(bHeld);
    return r;
}

class PageJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        imgtest::Pdf(m_pdf, {Page(1, 0, 0)});
        ovtest::WriteFile(m_dat, "[EditInfo]\r\nA=highlight,#0000FF,100,0,0,60,60\r\n");
        ovtest::MakeDirs(m_run);
    }
    void TearDown() override { SetPageJobTestHook({}); }
    CPageJob Job() const {
        CPageJob job;
        job.strSource = m_pdf;
        job.strThumb = m_run + "/OrmaView1.thm";
        job.strEditInfo = m_dat;
        job.iWidth = 120;
        job.iHeight = 160;
        return job;
    }
    // The page as it is now, made directly.
    CPageBitmap Direct(const std::string& pdf, int iPage, const std::string& dat) const {
        const std::string thm = m_dir / "direct.thm";
        EXPECT_EQ(imgtest::Thumb(pdf, iPage, thm, 1, dat), 0);
        CPageBitmap bm;
        EXPECT_EQ(WorkDesk_GetThumbnail(nullptr, thm.c_str(), 120, 160, &bm), 0);
        return bm;
    }

    ovtest::TempDir m_dir;
    std::string m_pdf = m_dir / "Data1.pdf";
    std::string m_dat = m_dir / "Data1.dat";
    std::string m_run = m_dir / "run";
};

TEST_F(PageJobTest, AChangedSourceOrACancelLeavesNothingAndTheNextRequestShowsTheNewPage) {
    auto replaceBy = [this](ovsample::PdfPage page) {
        imgtest::Pdf(m_dir / "new.pdf", {page});
        ASSERT_EQ(std::rename((m_dir / "new.pdf").c_str(), m_pdf.c_str()), 0);
    };
    RenderCancel* cancel = nullptr;
    const struct {
        const char* what;
        PageJobStep step;
        std::function<void()> change;
        int want;
    } cases[] = {
        {"renamed over, another size", PageJobStep::IdentityTaken, [&] { replaceBy(Page(0, 1, 0, 150)); },
         kErrSourceChanged},
        {"renamed over after the render", PageJobStep::Rendered, [&] { replaceBy(Page(0, 0, 1, 150)); },
         kErrSourceChanged},
        {"rewritten in place, same size, times put back", PageJobStep::IdentityTaken,
         [&] {
             struct stat st {};
             ASSERT_EQ(::stat(m_pdf.c_str(), &st), 0);
             imgtest::Pdf(m_dir / "same.pdf", {Page(1, 0, 1, 150)});  // as the source before
             ASSERT_EQ(ovtest::ReadFile(m_dir / "same.pdf").size(), static_cast<std::size_t>(st.st_size));
             std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a later change time
             ovtest::WriteFile(m_pdf, ovtest::ReadFile(m_dir / "same.pdf"));
             const timespec times[2] = {st.st_atim, st.st_mtim};
             ASSERT_EQ(::utimensat(AT_FDCWD, m_pdf.c_str(), times, 0), 0);
         },
         kErrSourceChanged},
        {"annotations changed", PageJobStep::Rendered,
         [&] { ovtest::WriteFile(m_dat, "[EditInfo]\r\nA=highlight,#00FF00,100,0,0,90,90\r\n"); },
         kErrSourceChanged},
        {"cancelled before the render", PageJobStep::IdentityTaken, [&] { cancel->Cancel(); }, kErrCancelled},
        {"cancelled after the annotations", PageJobStep::Rendered, [&] { cancel->Cancel(); }, kErrCancelled},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CPageStore store(m_dir / ("store" + std::to_string(++i)), CPageStore::kDefaultBytes);
        RenderCancel jobCancel;
        cancel = &jobCancel;
        ovtest::TraceCapture trace;
        EXPECT_EQ(RunHeld(Job(), &store, &jobCancel, c.step, c.change), c.want);
        EXPECT_EQ(trace.Contains("Page source changed while its image was made!"),
                  c.want == kErrSourceChanged);
        EXPECT_EQ(imgtest::ListFolder(m_run), Names{});  // neither the page image nor a temporary file
        EXPECT_EQ(imgtest::ListFolder(store.Folder()), Names{});
        // Asked again: the page as it is now, rendered, then straight from the store.
        const CPageBitmap now = Direct(m_pdf, 1, m_dat);
        for (const bool bFromStore : {false, true}) {
            CPageBitmap bm;
            std::remove(Job().strThumb.c_str());
            ASSERT_EQ(MakePageJobBitmap(Job(), &store, nullptr, &bm), 0);
            EXPECT_TRUE(SameBitmap(bm, now));
            EXPECT_EQ(ovtest::Exists(Job().strThumb), !bFromStore);
        }
    }
}

TEST_F(PageJobTest, ARenderCancelledFromAnotherThreadEndsEarlyAndLeavesNoFile) {
    imgtest::Pdf(m_pdf, {DensePage(100000)});
    RenderCancel cancel;
    int result = 1;
    std::thread worker([&] {
        ScopedRenderCancel scope(&cancel);
        result = imgtest::Thumb(m_pdf, 1, m_run + "/OrmaView1.thm");
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cancel.Cancel();
    worker.join();
    EXPECT_EQ(result, kErrCancelled);
    EXPECT_EQ(imgtest::ListFolder(m_run), Names{});
}

// The page shown in the zoom view with its annotations is the page of the
// larger source that the page view shows, not its first page; and the
// document's own page drawing takes the page jobs' path, making a page whose
// source changed meanwhile again.
TEST_F(PageJobTest, TheDocumentShowsTheRightPageOfALargerSource) {
    ovtest::TempDir desk;
    const std::string scan = desk / "scans/scan.pdf", ini = desk / "UndoFolder/UndoData.ini";
    ovtest::MakeDirs(desk / "scans");
    imgtest::Pdf(scan, {Page(1, 0, 0), Page(0, 1, 0), Page(0, 0, 1)});
    ovtest::WriteFile(ini,
                      "[PageInfo]\r\nPage1FilePageName=" + scan +
                          "\r\nPage1FilePageNumber=2\r\n[EditInfo]\r\nA=line,#000000,1,150,250,190,290\r\n");
    COrmaViewDoc doc;
    doc.m_pHagakiManage = new CHagakiManage;  // the document owns and frees it
    auto* info = doc.m_pHagakiManage->m_pInfo =
        static_cast<HAGAKI_MANAGE_INFO*>(std::calloc(1, sizeof(HAGAKI_MANAGE_INFO)));
    info->iMode = 1;
    std::snprintf(info->szWorkDeskFolder, MAX_PATH, "%s", desk.Path().c_str());
    ASSERT_EQ(doc.InitDoc(desk.Path(), 42, 1), 0);

    std::string path;
    int created = 0;
    ASSERT_EQ(doc.CreateEditInfoPdf(&path, &created), 0);
    ASSERT_EQ(created, 1);
    EXPECT_EQ(imgtest::Rotations(path).size(), 1u);
    ThmImage img;
    ASSERT_EQ(imgtest::Thumb(path, 1, m_dir / "zoom.thm"), 0);
    ASSERT_EQ(ReadThm(m_dir / "zoom.thm", &img), 0);
    const std::uint8_t* px = img.Pixels() + static_cast<std::size_t>(img.height - 100) * img.stride + 100 * 3;
    EXPECT_EQ(std::vector<int>(px, px + 3), (std::vector<int>{0, 255, 0}));  // page 2 is green

    // The source replaced while the page is made: made again from the new one.
    SetPageJobTestHook([&](const CPageJob&, PageJobStep step) {
        if (step == PageJobStep::Rendered && ovtest::Exists(desk / "new.pdf")) {
            ASSERT_EQ(std::rename((desk / "new.pdf").c_str(), scan.c_str()), 0);
        }
    });
    imgtest::Pdf(desk / "new.pdf", {Page(1, 0, 0), Page(0, 0, 1, 150)});
    ASSERT_EQ(doc.DeleteThumbFileCurrent(), 0);
    ovtest::TraceCapture trace;
    CPageBitmap bm;
    ASSERT_EQ(doc.GetThumbnail(nullptr, 120, 160, &bm), 0);
    EXPECT_TRUE(trace.Contains("Page source changed while its image was made!"));
    const CPageBitmap want = Direct(scan, 2, ini);
    EXPECT_TRUE(SameBitmap(bm, want));
}

// What a page store test works with: a source, its annotation file, and a page
// image made from them.
class PageStoreTest : public PageJobTest {
protected:
    void SetUp() override {
        PageJobTest::SetUp();
        ASSERT_EQ(imgtest::Thumb(m_pdf, 1, m_thm), 0);
    }
    PageStoreKey Key(int iPage = 1) const {
        PageStoreKey key;
        key.source = m_pdf;
        key.page = iPage;
        key.drawEditInfo = 1;
        key.editInfo = m_dat;
        EXPECT_TRUE(TakeIdentities(&key));
        return key;
    }
    // Whether the store's entry of key is whole and holds one of the page images.
    static bool Holds(const CPageStore& store, const PageStoreKey& key, std::vector<std::string> thms) {
        ThmImage got, want;
        if (store.Load(key, &got) != kOk)
            return false;
        return std::any_of(thms.begin(), thms.end(), [&](const std::string& thm) {
            if (ReadThm(thm, &want) != kOk || got.width != want.width || got.height != want.height)
                return false;
            for (int y = 0; y < got.height; ++y)
                if (std::memcmp(got.Row(y), want.Row(y), static_cast<std::size_t>(got.stride)) != 0)
                    return false;
            return true;
        });
    }

    std::string m_thm = m_dir / "made.thm";
    CPageStore m_store{m_dir / "store", CPageStore::kDefaultBytes};
};

TEST_F(PageStoreTest, AnEntryIsUsedOnlyForItsWholeKey) {
    m_store.Store(Key(), m_thm);
    ASSERT_TRUE(Holds(m_store, Key(), {m_thm}));
    const struct {
        const char* what;
        std::function<void(PageStoreKey*)> change;
    } cases[] = {
        {"another page", [](PageStoreKey* k) { k->page = 2; }},
        {"another scale", [](PageStoreKey* k) { k->scaleX = 500; }},
        {"annotations off", [](PageStoreKey* k) { k->drawEditInfo = 0; }},
        {"another source path", [](PageStoreKey* k) { k->source += "x"; }},
        {"source modified", [](PageStoreKey* k) { k->sourceStamp.mtime.tv_nsec ^= 1; }},
        {"source changed, times put back", [](PageStoreKey* k) { k->sourceStamp.ctime.tv_nsec ^= 1; }},
        {"source replaced", [](PageStoreKey* k) { k->sourceStamp.ino ^= 1; }},
        {"annotation file changed", [](PageStoreKey* k) { k->editInfoStamp.ctime.tv_sec ^= 1; }},
        {"annotation file gone", [](PageStoreKey* k) { k->editInfoStamp = FileStamp{}; }},
    };
    for (const auto& c : cases) {
        PageStoreKey key = Key();
        c.change(&key);
        ThmImage img;
        EXPECT_EQ(m_store.Load(key, &img), kErrNoFile) << c.what;
    }
    // An entry damaged, cut short, or copied over another's name: never used, and removed.
    m_store.Store(Key(2), m_thm);
    const std::string entry = m_store.EntryPath(Key(2)), good = ovtest::ReadFile(entry);
    std::string flipped = good;
    flipped[good.size() - 20] ^= 0x41;
    for (const std::string& bytes :
         {flipped, good.substr(0, good.size() - 10), ovtest::ReadFile(m_store.EntryPath(Key()))}) {
        ovtest::WriteFile(entry, bytes);
        ovtest::TraceCapture trace;
        ThmImage img;
        EXPECT_EQ(m_store.Load(Key(2), &img), kErrThmFormat);
        EXPECT_TRUE(trace.Contains("Page store entry damaged! [Path] " + entry));
        EXPECT_FALSE(ovtest::Exists(entry));
    }
    EXPECT_TRUE(Holds(m_store, Key(), {m_thm}));
}

// Within its bound, oldest first; and nothing but its own entries and temporary
// files is ever removed, whatever its name, age or size.
TEST_F(PageStoreTest, OnlyItsOwnEntriesAreRemovedToStayWithinTheBound) {
    const unsigned long long nEntry = ovtest::ReadFile(m_thm).size() + 16 + KeyText(Key()).size();
    const std::string folder = m_dir / "bounded";
    ovtest::MakeDirs(folder);
    const std::pair<std::string, bool> files[] = {
        {"0123456789abcdef.thm", true},           // an entry's name, not its header
        {"0123456789abcdef.thm.AbCdEf", true},    // not the store's temporary name
        {"0123456789abcdef.thm.tmp12-3x", true},  // nearly
        {"Photo.thm", true},
        {"fedcba9876543210.thm.tmp12-3", false},  // a write that never finished
        {"fedcba9876543210.thm.tmp12-4", true},   // one that may still run (new)
    };
    for (const auto& [name, kept] : files) {
        ovtest::WriteFile(folder + "/" + name, std::string(nEntry, 'u'));
        if (name != "fedcba9876543210.thm.tmp12-4")
            MakeOld(folder + "/" + name);
    }
    ASSERT_EQ(::symlink(m_thm.c_str(), (folder + "/00000000000000aa.thm").c_str()), 0);
    CPageStore store(folder, nEntry * 5 / 2);  // room for two entries
    for (int iPage = 1; iPage <= 6; ++iPage) {
        store.Store(Key(iPage), m_thm);
        unsigned long long nTotal = 0;
        for (int i = 1; i <= iPage; ++i)
            nTotal += ovtest::Exists(store.EntryPath(Key(i)))
                          ? ovtest::ReadFile(store.EntryPath(Key(i))).size()
                          : 0;
        EXPECT_LE(nTotal, store.MaxBytes()) << "after page " << iPage;
        EXPECT_TRUE(Holds(store, Key(iPage), {m_thm}));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // distinct times of use
    }
    EXPECT_TRUE(ovtest::Exists(store.EntryPath(Key(5))));
    EXPECT_FALSE(ovtest::Exists(store.EntryPath(Key(4))));
    for (const auto& [name, kept] : files) {
        EXPECT_EQ(ovtest::Exists(folder + "/" + name), kept) << name;
        if (kept) {
            EXPECT_EQ(ovtest::ReadFile(folder + "/" + name), std::string(nEntry, 'u')) << name;
        }
    }
    EXPECT_EQ(ovtest::ReadFile(folder + "/00000000000000aa.thm"), ovtest::ReadFile(m_thm));
}

TEST_F(PageStoreTest, FoldersOthersCouldReachTurnTheStoreOff) {
    // The user's own files in the folder a link points at, old enough for any clean-up.
    const std::string mine = m_dir / "mine";
    ovtest::MakeDirs(mine);
    for (const char* name : {"a.thm", "0123456789abcdef.thm", "b.thm.tmp1-1"}) {
        ovtest::WriteFile(mine + "/" + name, "the user's");
        MakeOld(mine + "/" + name);
    }
    auto link = [&](const std::string& at) {
        ovtest::MakeDirs(std::filesystem::path(at).parent_path());
        ASSERT_EQ(::symlink(mine.c_str(), at.c_str()), 0);
    };
    auto folder = [](const std::string& at, mode_t mode, uid_t owner = ::geteuid()) {
        ovtest::MakeDirs(at);
        ASSERT_EQ(::chmod(at.c_str(), mode), 0);
        ASSERT_EQ(::chown(at.c_str(), owner, static_cast<gid_t>(-1)), 0);
    };
    const struct {
        const char* what;
        std::function<void(const std::string& cache)> make;
        std::string reason;
    } cases[] = {
        {"pages is a link", [&](const std::string& c) { link(c + "/ormaview/pages"); }, "not a real folder"},
        {"ormaview is a link", [&](const std::string& c) { link(c + "/ormaview"); }, "not a real folder"},
        {"pages writable by the group", [&](const std::string& c) { folder(c + "/ormaview/pages", 0770); },
         "writable by group or others"},
        {"ormaview writable by all", [&](const std::string& c) { folder(c + "/ormaview", 0777); },
         "writable by group or others"},
        {"pages of another user (as root)",
         [&](const std::string& c) {
             folder(c + "/ormaview/pages", 0700, ::geteuid() == 0 ? 65534 : ::geteuid());
         },
         ::geteuid() == 0 ? "owned by another user" : ""},
        {"missing: made private", [](const std::string&) {}, ""},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string cache = m_dir / ("cache" + std::to_string(++i));
        ovtest::MakeDirs(cache);
        c.make(cache);
        ovtest::EnvGuard env("XDG_CACHE_HOME", cache.c_str());
        ovtest::TraceCapture trace;
        // Off: a bound that any clean-up would meet by removing everything.
        CPageStore store(CPageStore::DefaultFolder(), c.reason.empty() ? CPageStore::kDefaultBytes : 1);
        EXPECT_EQ(store.IsOn(), c.reason.empty());
        EXPECT_EQ(trace.Contains("Page store off! [Folder] "), !c.reason.empty()) << trace.Text();
        if (!c.reason.empty()) {
            EXPECT_TRUE(trace.Contains("[Reason] " + c.reason)) << trace.Text();
            store.Store(Key(), m_thm);
            store.Trim();
            continue;
        }
        struct stat st {};
        ASSERT_EQ(::lstat((cache + "/ormaview/pages").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        store.Store(Key(), m_thm);
        EXPECT_TRUE(Holds(store, Key(), {m_thm}));
    }
    EXPECT_EQ(imgtest::ListFolder(mine), (Names{"0123456789abcdef.thm", "a.thm", "b.thm.tmp1-1"}));
}

// Two viewers writing one entry at once: a reader always finds it whole and of
// its key, whichever writer came last.
TEST_F(PageStoreTest, TwoProcessesWritingOneEntryLeaveItWhole) {
    const std::string other = m_dir / "other.thm";
    ASSERT_EQ(imgtest::Thumb(m_pdf, 1, other, 1, m_dat), 0);  // another picture under the same key
    const PageStoreKey key = Key();
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        if (children[c] == 0) {
            ::alarm(60);
            for (int i = 0; i < 150; ++i) {
                m_store.Store(key, c == 0 ? m_thm : other);
                if (!Holds(m_store, key, {m_thm, other}))
                    ::_exit(1);
            }
            ::_exit(0);
        }
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_TRUE(Holds(m_store, key, {m_thm, other}));
    EXPECT_EQ(imgtest::ListFolder(m_store.Folder()),
              Names{std::filesystem::path(m_store.EntryPath(key)).filename()});
}

}  // namespace
