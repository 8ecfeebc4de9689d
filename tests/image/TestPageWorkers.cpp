// SPDX-License-Identifier: AGPL-3.0-or-later
// Pages made away from the UI thread: a render cancelled from another thread
// leaves nothing behind, a page made on a worker is the page made directly, and
// the page store that outlives the run never hands out a stale or damaged entry
// and stays within its bound.
#include <sys/stat.h>

#include <fcntl.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "ImageTestUtil.h"
#include "document/PageJob.h"
#include "image/MuPdf.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"
#include "image/ThmFile.h"
#include "support/TestSupport.h"

using ov::image::CPageStore;
using ov::image::PageStoreKey;

namespace {

// A page of many thin curves: MuPDF takes a long while over it, checking the
// cancel between the curves.
ovsample::PdfPage DensePage(int iCurves) {
    std::string content = "0.3 w\n";
    char buf[160];
    unsigned seed = 12345;
    auto next = [&seed]() {
        seed = seed * 1103515245u + 12345u;
        return static_cast<float>((seed >> 8) % 5950) / 10.0f;
    };
    for (int i = 0; i < iCurves; ++i) {
        std::snprintf(buf, sizeof buf, "%.1f %.1f m %.1f %.1f %.1f %.1f %.1f %.1f c S\n", next(), next(),
                      next(), next(), next(), next(), next(), next());
        content += buf;
    }
    return {595.28f, 841.89f, 0, content, {}};
}

std::vector<std::string> FilesIn(const std::string& folder) {
    return imgtest::ListFolder(folder);
}

TEST(PageWorkersTest, CancelledRenderEndsEarlyAndLeavesNoFile) {
    ovtest::TempDir dir;
    const std::string pdf = dir / "dense.pdf", out = dir / "out";
    imgtest::Pdf(pdf, {DensePage(100000)});
    ::mkdir(out.c_str(), 0700);
    const std::string thm = out + "/OrmaView1.thm";

    ov::image::RenderCancel cancel;
    std::atomic<int> result{1};
    std::thread worker([&] {
        ov::image::ScopedRenderCancel scope(&cancel);
        result = WorkDesk_CreateThumbFile(pdf.c_str(), 1, thm.c_str(), 1000, 1000, 0, nullptr);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    cancel.Cancel();
    worker.join();
    EXPECT_EQ(result.load(), ov::image::kErrCancelled);
    EXPECT_TRUE(FilesIn(out).empty());  // neither the page image nor a temporary file
}

// What a page store test works with: a source, its annotation file, and a page
// image made from them.
class PageStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        imgtest::Pdf(m_pdf, {imgtest::RectPage(200, 300, 20, 20, 100, 100, 1, 0, 0, 0)});
        ovtest::WriteFile(m_dat, "[EditInfo]\r\n");
        ASSERT_EQ(imgtest::Thumb(m_pdf, 1, m_thm), 0);
    }
    PageStoreKey Key(int iPage = 1) const {
        PageStoreKey key;
        key.source = m_pdf;
        key.page = iPage;
        key.drawEditInfo = 1;
        key.editInfo = m_dat;
        return key;
    }
    static void Touch(const std::string& path, int iSecondsLater) {
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        timespec times[2] = {st.st_atim, st.st_mtim};
        times[1].tv_sec += iSecondsLater;
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    }

    ovtest::TempDir m_dir;
    std::string m_pdf = m_dir / "Data1.pdf";
    std::string m_dat = m_dir / "Data1.dat";
    std::string m_thm = m_dir / "made.thm";
    std::string m_out = m_dir / "OrmaView1.thm";
    CPageStore m_store{m_dir / "store", CPageStore::kDefaultBytes};
};

TEST_F(PageStoreTest, AnEntryIsFoundOnlyForTheSameSourceAnnotationsAndPage) {
    m_store.Store(Key(), m_thm);
    ASSERT_TRUE(m_store.Fetch(Key(), m_out));
    EXPECT_EQ(ovtest::ReadFile(m_out), ovtest::ReadFile(m_thm));

    struct Case {
        const char* what;
        std::function<void()> change;
        PageStoreKey key;
    };
    PageStoreKey otherScale = Key();
    otherScale.scaleX = 500;
    PageStoreKey noAnnotations = Key();
    noAnnotations.drawEditInfo = 0;
    const Case cases[] = {
        {"another page", [] {}, Key(2)},
        {"another scale", [] {}, otherScale},
        {"annotations off", [] {}, noAnnotations},
        {"annotation file changed", [&] { Touch(m_dat, 7); }, Key()},
        // Same size, same inode, only a new modification time.
        {"source changed", [&] { Touch(m_pdf, 5); }, Key()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.change();
        std::remove(m_out.c_str());
        EXPECT_FALSE(m_store.Fetch(c.key, m_out));
        EXPECT_FALSE(ovtest::Exists(m_out));
    }
}

TEST_F(PageStoreTest, ADamagedEntryIsNeverUsedAndIsRemoved) {
    m_store.Store(Key(), m_thm);
    const std::string entry = m_store.EntryPath(Key());
    ASSERT_TRUE(ovtest::Exists(entry));
    for (const bool bTruncate : {false, true}) {
        SCOPED_TRACE(bTruncate ? "truncated" : "one byte changed");
        m_store.Store(Key(), m_thm);
        std::string bytes = ovtest::ReadFile(entry);
        if (bTruncate)
            bytes.resize(bytes.size() - 10);
        else
            bytes[bytes.size() - 20] ^= 0x41;
        ovtest::WriteFile(entry, bytes);
        EXPECT_FALSE(m_store.Fetch(Key(), m_out));
        EXPECT_FALSE(ovtest::Exists(m_out));
        EXPECT_FALSE(ovtest::Exists(entry));
    }
}

TEST_F(PageStoreTest, TheStoreStaysWithinItsBoundDroppingTheOldestFirst) {
    const unsigned long long nEntry = ovtest::ReadFile(m_thm).size();
    CPageStore store(m_dir / "bounded", nEntry * 5 / 2);  // room for two entries
    // A temporary file of a write that never finished, long ago.
    ::mkdir((m_dir / "bounded").c_str(), 0700);
    const std::string left = m_dir / "bounded/0123456789abcdef.thm.AbCdEf";
    ovtest::WriteFile(left, "partial");
    Touch(left, -3600);
    for (int iPage = 1; iPage <= 6; ++iPage) {
        store.Store(Key(iPage), m_thm);
        const auto files = FilesIn(m_dir / "bounded");
        unsigned long long nTotal = 0;
        for (const std::string& name : files) nTotal += ovtest::ReadFile(m_dir / "bounded/" + name).size();
        EXPECT_LE(nTotal, store.MaxBytes()) << "after page " << iPage;
        EXPECT_TRUE(ovtest::Exists(store.EntryPath(Key(iPage))));
        std::this_thread::sleep_for(std::chrono::milliseconds(20));  // distinct times of use
    }
    EXPECT_FALSE(ovtest::Exists(left));
    EXPECT_TRUE(ovtest::Exists(store.EntryPath(Key(5))));
    EXPECT_FALSE(ovtest::Exists(store.EntryPath(Key(4))));
    EXPECT_FALSE(ovtest::Exists(store.EntryPath(Key(1))));
}

// A page made on a worker thread (as the neighbours of the shown page are) is
// the page made directly: the same page-image bytes and the same bitmap, from a
// render and from the page store alike.
TEST_F(PageStoreTest, APageMadeOnAWorkerIsThePageMadeDirectly) {
    ovtest::WriteFile(m_dat, "[EditInfo]\r\nA=highlight,#0000FF,100,0,0,60,60\r\n");
    const std::string direct = m_dir / "direct.thm";
    ASSERT_EQ(WorkDesk_CreateThumbFile(m_pdf.c_str(), 1, direct.c_str(), 1000, 1000, 1, m_dat.c_str()), 0);
    CPageBitmap expected;
    ASSERT_EQ(WorkDesk_GetThumbnail(nullptr, direct.c_str(), 333, 222, &expected), 0);

    for (const bool bFromStore : {false, true}) {
        SCOPED_TRACE(bFromStore ? "from the store" : "rendered");
        CPageJob job;
        job.strSource = m_pdf;
        job.strThumb = m_out;
        job.strEditInfo = m_dat;
        job.iWidth = 333;
        job.iHeight = 222;
        std::remove(m_out.c_str());
        CPageBitmap made;
        int r = 1;
        std::thread worker([&] { r = MakePageJobBitmap(job, &m_store, nullptr, &made); });
        worker.join();
        ASSERT_EQ(r, 0);
        if (bFromStore)
            EXPECT_FALSE(ovtest::Exists(m_out));  // drawn straight from the stored image
        else
            EXPECT_EQ(ovtest::ReadFile(m_out), ovtest::ReadFile(direct));
        ASSERT_EQ(made.Width(), expected.Width());
        ASSERT_EQ(made.Height(), expected.Height());
        EXPECT_EQ(std::memcmp(made.Bits(), expected.Bits(),
                              static_cast<std::size_t>(made.Stride()) * made.Height()),
                  0);
    }
}

}  // namespace
