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
#include "postcard/HagakiManage.h"
#include "support/TestSupport.h"

using namespace ov::image;
using Names = std::vector<std::string>;

namespace {

ovsample::PdfPage Page(float r, float g, float b, float size = 100) {
    return imgtest::RectPage(200, 300, 20, 20, size, 100, r, g, b);
}

bool SameBitmap(const CPageBitmap& a, const CPageBitmap& b) {
    return a.Width() == b.Width() && a.Height() == b.Height() && !a.IsNull() &&
           std::memcmp(a.Bits(), b.Bits(), static_cast<std::size_t>(a.Stride()) * a.Height()) == 0;
}

// Sets the modification time of path an hour back, or to mtime when given (access time kept).
void SetTimes(const std::string& path, const timespec* mtime = nullptr) {
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    const timespec times[2] = {st.st_atim, mtime ? *mtime : timespec{st.st_mtim.tv_sec - 3600, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

// Runs the job on a worker held at step while change() runs; the job's result.
// *pbDrawn: whether its bitmap was handed out as drawn.
int RunHeld(const CPageJob& job, const CPageStore* store, RenderCancel* cancel, PageJobStep step,
            const std::function<void()>& change, bool* pbDrawn) {
    std::promise<void> held, release;
    std::shared_future<void> go = release.get_future().share();
    SetPageJobTestHook([&](const CPageJob&, PageJobStep now) {
        if (now == step)
            held.set_value(), go.wait();
    });
    int r = 1;
    std::thread worker([&] {
        CPageBitmap bm;
        r = MakePageJobBitmap(job, store, cancel, &bm, nullptr, [&] { *pbDrawn = true; });
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

// A source with its annotation file, the run's folder, and a page image made from the source.
class PageJobTest : public ::testing::Test {
protected:
    void SetUp() override {
        imgtest::Pdf(m_pdf, {Page(1, 0, 0)});
        ovtest::WriteFile(m_dat, "[EditInfo]\r\nA=highlight,#0000FF,100,0,0,60,60\r\n");
        ovtest::MakeDirs(m_run);
        ASSERT_EQ(imgtest::Thumb(m_pdf, 1, m_thm), 0);
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
    static bool Holds(const CPageStore& store, const PageStoreKey& key, const Names& thms) {
        ThmImage got;
        return store.Load(key, &got) == kOk &&
               std::any_of(thms.begin(), thms.end(), [&](const std::string& thm) {
                   return imgtest::MeanDiff(got, imgtest::ReadBack(thm)) == 0;
               });
    }

    ovtest::TempDir m_dir;
    std::string m_pdf = m_dir / "Data1.pdf", m_dat = m_dir / "Data1.dat", m_run = m_dir / "run";
    std::string m_thm = m_dir / "made.thm";
    CPageStore m_store{m_dir / "store", CPageStore::kDefaultBytes};
};
using PageStoreTest = PageJobTest;

TEST_F(PageJobTest, AChangedSourceOrACancelLeavesNothingAndTheNextRequestShowsTheNewPage) {
    auto replaceBy = [this](const ovsample::PdfPage& page, bool bKeepTimes) {
        struct stat st {};
        ASSERT_EQ(::stat(m_pdf.c_str(), &st), 0);
        imgtest::Pdf(m_dir / "new.pdf", {page});
        if (!bKeepTimes) {
            ASSERT_EQ(std::rename((m_dir / "new.pdf").c_str(), m_pdf.c_str()), 0);
            return;
        }
        // Written in place with the same size and its modification time put back, as cp -p does.
        ASSERT_EQ(ovtest::ReadFile(m_dir / "new.pdf").size(), static_cast<std::size_t>(st.st_size));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // a later change time
        ovtest::WriteFile(m_pdf, ovtest::ReadFile(m_dir / "new.pdf"));
        SetTimes(m_pdf, &st.st_mtim);
    };
    RenderCancel* cancel = nullptr;
    const struct {
        const char* what;
        PageJobStep step;
        std::function<void()> change;
        int want;
        bool bDrawn = false;  // handed out before the change
    } cases[] = {
        {"renamed over, another size", PageJobStep::IdentityTaken,
         [&] { replaceBy(Page(0, 1, 0, 150), false); }, kErrSourceChanged},
        {"renamed over once drawn", PageJobStep::Drawn, [&] { replaceBy(Page(0, 1, 1, 150), false); },
         kErrSourceChanged},
        {"renamed over after the render", PageJobStep::Rendered,
         [&] { replaceBy(Page(0, 0, 1, 150), false); }, kErrSourceChanged, true},
        {"rewritten in place, same size, times put back", PageJobStep::IdentityTaken,
         [&] { replaceBy(Page(1, 0, 1, 150), true); }, kErrSourceChanged},
        {"annotations changed", PageJobStep::Rendered,
         [&] { ovtest::WriteFile(m_dat, "[EditInfo]\r\nA=highlight,#00FF00,100,0,0,90,90\r\n"); },
         kErrSourceChanged, true},
        {"cancelled before the render", PageJobStep::IdentityTaken, [&] { cancel->Cancel(); }, kErrCancelled},
        {"cancelled after the annotations", PageJobStep::Rendered, [&] { cancel->Cancel(); }, kErrCancelled,
         true},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CPageStore store(m_dir / ("store" + std::to_string(++i)), CPageStore::kDefaultBytes);
        RenderCancel jobCancel;
        cancel = &jobCancel;
        ovtest::TraceCapture trace;
        bool bDrawn = false;
        EXPECT_EQ(RunHeld(Job(), &store, &jobCancel, c.step, c.change, &bDrawn), c.want);
        EXPECT_EQ(bDrawn, c.bDrawn);
        EXPECT_EQ(trace.Contains("Page source changed while its image was made!"),
                  c.want == kErrSourceChanged);
        EXPECT_EQ(ovtest::ListFolder(m_run), Names{});  // neither the page image nor a temporary file
        EXPECT_EQ(ovtest::ListFolder(store.Folder()), Names{});
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
    // Many thin curves: MuPDF takes a long while over them, checking the cancel between them.
    std::string curves = "0.3 w\n";
    for (int i = 0; i < 100000; ++i)
        curves += std::to_string(i * 7 % 595) + " 0 m 0 " + std::to_string(i * 13 % 841) + " 595 " +
                  std::to_string(i * 31 % 841) + " " + std::to_string(i * 17 % 595) + " 841 c S\n";
    imgtest::Pdf(m_pdf, {{595.28f, 841.89f, 0, curves, {}}});
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
    EXPECT_EQ(ovtest::ListFolder(m_run), Names{});
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
    ASSERT_EQ(imgtest::Thumb(path, 1, m_dir / "zoom.thm"), 0);
    const ThmImage zoom = imgtest::ReadBack(m_dir / "zoom.thm");
    EXPECT_EQ(imgtest::Pixel(zoom, 100, zoom.height - 100), 0x00FF00u);  // page 2 is green

    // The source replaced while the page is made: made again from the new one.
    SetPageJobTestHook([&](const CPageJob&, PageJobStep step) {
        if (step == PageJobStep::Rendered && ovtest::Exists(desk / "new.pdf"))
            std::filesystem::rename(desk / "new.pdf", scan);
    });
    imgtest::Pdf(desk / "new.pdf", {Page(1, 0, 0), Page(0, 0, 1, 150)});
    ASSERT_EQ(doc.DeleteThumbFileCurrent(), 0);
    ovtest::TraceCapture trace;
    CPageBitmap bm;
    ASSERT_EQ(doc.GetThumbnail(nullptr, 120, 160, &bm), 0);
    EXPECT_TRUE(trace.Contains("Page source changed while its image was made!"));
    EXPECT_TRUE(SameBitmap(bm, Direct(scan, 2, ini)));
}

TEST_F(PageStoreTest, AnEntryIsUsedOnlyForItsWholeKey) {
    m_store.Store(Key(), m_thm);
    ASSERT_TRUE(Holds(m_store, Key(), {m_thm}));
    const std::pair<const char*, std::function<void(PageStoreKey*)>> cases[] = {
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
    for (const auto& [what, change] : cases) {
        PageStoreKey key = Key();
        change(&key);
        ThmImage img;
        EXPECT_EQ(m_store.Load(key, &img), kErrNoFile) << what;
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
            SetTimes(folder + "/" + name);
    }
    ASSERT_EQ(::symlink(m_thm.c_str(), (folder + "/00000000000000aa.thm").c_str()), 0);
    CPageStore store(folder, nEntry * 5 / 2);  // room for two entries
    for (int iPage = 1; iPage <= 6; ++iPage) {
        store.Store(Key(iPage), m_thm);
        unsigned long long nTotal = 0;
        for (int i = 1; i <= iPage; ++i) nTotal += ovtest::ReadFile(store.EntryPath(Key(i))).size();
        EXPECT_LE(nTotal, store.MaxBytes()) << "after page " << iPage;
        EXPECT_TRUE(Holds(store, Key(iPage), {m_thm}));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // distinct times of use
    }
    EXPECT_TRUE(ovtest::Exists(store.EntryPath(Key(5))));
    EXPECT_FALSE(ovtest::Exists(store.EntryPath(Key(4))));
    for (const auto& [name, kept] : files)
        EXPECT_EQ(ovtest::ReadFile(folder + "/" + name), kept ? std::string(nEntry, 'u') : "") << name;
    EXPECT_EQ(ovtest::ReadFile(folder + "/00000000000000aa.thm"), ovtest::ReadFile(m_thm));
}

TEST_F(PageStoreTest, FoldersOthersCouldReachTurnTheStoreOff) {
    // The user's own files in the folder a link points at, old enough for any clean-up.
    const std::string mine = m_dir / "mine";
    ovtest::MakeDirs(mine);
    for (const char* name : {"a.thm", "0123456789abcdef.thm", "b.thm.tmp1-1"}) {
        ovtest::WriteFile(mine + "/" + name, "the user's");
        SetTimes(mine + "/" + name);
    }
    const bool bRoot = ::geteuid() == 0;
    const struct {
        const char* what;
        const char* at;  // under the cache folder; "": nothing made
        mode_t mode;     // 0: a link to the user's folder
        uid_t owner;
        std::string reason;  // "": the store is on
    } cases[] = {
        {"pages is a link", "ormaview/pages", 0, ::geteuid(), "not a real folder"},
        {"ormaview is a link", "ormaview", 0, ::geteuid(), "not a real folder"},
        {"pages writable by the group", "ormaview/pages", 0770, ::geteuid(), "writable by group or others"},
        {"ormaview writable by all", "ormaview", 0777, ::geteuid(), "writable by group or others"},
        {"pages of another user (as root)", "ormaview/pages", 0700, bRoot ? 65534 : ::geteuid(),
         bRoot ? "owned by another user" : ""},
        {"missing: made private", "", 0, ::geteuid(), ""},
    };
    int i = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string cache = m_dir / ("cache" + std::to_string(++i)), at = cache + "/" + c.at;
        ovtest::MakeDirs(std::filesystem::path(at).parent_path());
        if (*c.at != '\0' && c.mode == 0) {
            ASSERT_EQ(::symlink(mine.c_str(), at.c_str()), 0);
        } else if (*c.at != '\0') {
            ovtest::MakeDirs(at);
            ASSERT_EQ(::chmod(at.c_str(), c.mode), 0);
            ASSERT_EQ(::chown(at.c_str(), c.owner, static_cast<gid_t>(-1)), 0);
        }
        ovtest::EnvGuard env("XDG_CACHE_HOME", cache.c_str());
        ovtest::TraceCapture trace;
        // Off: a bound that any clean-up would meet by removing everything.
        CPageStore store(CPageStore::DefaultFolder(), c.reason.empty() ? CPageStore::kDefaultBytes : 1);
        EXPECT_EQ(store.IsOn(), c.reason.empty());
        EXPECT_EQ(trace.Contains("Page store off! [Folder] "), !c.reason.empty()) << trace.Text();
        EXPECT_TRUE(c.reason.empty() || trace.Contains("[Reason] " + c.reason)) << trace.Text();
        store.Store(Key(), m_thm);
        store.Trim();
        EXPECT_EQ(Holds(store, Key(), {m_thm}), c.reason.empty());
        struct stat st {};
        if (c.reason.empty()) {
            ASSERT_EQ(::lstat((cache + "/ormaview/pages").c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0700u);
        }
    }
    EXPECT_EQ(ovtest::ListFolder(mine), (Names{"0123456789abcdef.thm", "a.thm", "b.thm.tmp1-1"}));
}

// Two viewers writing one entry at once: a reader always finds it whole and of
// its key, whichever writer came last.
TEST_F(PageStoreTest, TwoProcessesWritingOneEntryLeaveItWhole) {
    const std::string other = m_dir / "other.thm";
    ASSERT_EQ(imgtest::Thumb(m_pdf, 1, other, 1, m_dat), 0);  // another picture under the same key
    const PageStoreKey key = Key();
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        if ((children[c] = ::fork()) != 0)
            continue;
        ::alarm(60);
        for (int i = 0; i < 150; ++i) {
            m_store.Store(key, c == 0 ? m_thm : other);
            if (!Holds(m_store, key, {m_thm, other}))
                ::_exit(1);
        }
        ::_exit(0);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_TRUE(Holds(m_store, key, {m_thm, other}));
    EXPECT_EQ(ovtest::ListFolder(m_store.Folder()),
              Names{std::filesystem::path(m_store.EntryPath(key)).filename()});
}

}  // namespace
