// SPDX-License-Identifier: AGPL-3.0-or-later
// The document: opening a folder, the page list and its navigation over index
// sheets, the page-image cache and the clean-up, with codes and trace lines.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <memory>
#include <string>

#include "DocTestSupport.h"
#include "base/ErrorCodes.h"
#include "document/FirstPageDraw.h"
#include "document/OrmaViewDoc.h"
#include "document/PageJob.h"
#include "image/OrmaImage.h"
#include "image/PageBitmap.h"
#include "image/PageStore.h"
#include "image/ThmFile.h"

using namespace ovdoc;
using Names = std::vector<std::string>;

namespace {

class DocumentTest : public ::testing::Test {
protected:
    std::string Folder(int docID) const {
        char name[32];
        std::snprintf(name, sizeof(name), "Doc%06d", docID);
        return m_desk / name;
    }
    std::string File(const char* kind, int pos) const {
        return Folder(1) + "/Data/Data" + std::to_string(IdOfPos(pos)) + kind;
    }
    static std::string Thm(const COrmaViewDoc& doc, int pos) {
        return (doc.m_bShowEditInfo ? doc.m_strEditInfoOnFolder : doc.m_strEditInfoOffFolder) + "/OrmaView" +
               std::to_string(IdOfPos(pos)) + ".thm";
    }
    std::string Thm(int pos) const { return Thm(m_doc, pos); }
    // Document 1 read from Doc.dat without the image step.
    void Load(const std::string& flags, const std::string& name = "Doc") {
        m_doc.m_strDocFolder = Folder(1);
        WriteDocument(Folder(1), flags, false, name);
        ASSERT_EQ(m_doc.ReadDocFile(), 0);
    }
    int ReadDat(const std::string& text) {
        m_doc.m_strDocFolder = Folder(1);
        ovtest::WriteFile(Folder(1) + "/Doc.dat", text);
        return m_doc.ReadDocFile();
    }
    ovtest::TempDir m_desk;
    ovtest::TraceCapture m_trace;
    COrmaViewDoc m_doc;
};

// Stepping, go-to and the titles are the session's; here the sides of index
// sheets and the numbers around them.
TEST_F(DocumentTest, SidesAndPageNumbers) {
    Load("N2222N3N22");
    const int sides[] = {-1, 1, 0, 1, 0, -1, -1, -1, 1, 0};
    const int numbers[] = {1, 0, 0, 0, 0, 2, 3, 4, 0, 0};
    for (int p = 1; p <= 10; ++p) {
        EXPECT_EQ(m_doc.GetIndexSheetSide(p), sides[p - 1]) << p;
        EXPECT_EQ(m_doc.GetDisplayPageNo(p), numbers[p - 1]) << p;
    }
    EXPECT_EQ(std::make_pair(m_doc.GetDisplayPageNo(0), m_doc.GetDisplayPageNo(11)), std::make_pair(1, 1));
}

TEST_F(DocumentTest, LookupsKeepPositionsAndIdsApart) {
    ovtest::MakeDirs(Folder(1));
    ASSERT_EQ(ReadDat(DocDat("4", "0", "", "", "5, 0, 5, 6")), 0);
    EXPECT_EQ(m_doc.GetPageID(4), 6);
    EXPECT_EQ(m_doc.ConvertPageIDToPagePos(6), 4);
    EXPECT_EQ(m_doc.ConvertPageIDToPagePos(5), 1);  // a repeated ID: its first position
    EXPECT_EQ(m_doc.ConvertPageIDToPagePos(0), 2);
    EXPECT_EQ(m_doc.ConvertPageIDToPagePos(4), 0);
    EXPECT_EQ(m_trace.Text(), "");

    m_doc.m_cMapPageInfo.erase(3);
    const std::pair<int, const char*> bad[] = {
        {0, "Parameter Error!\n"}, {3, "CMap::Lookup() Error!\n"}, {2, "cPageInfo.m_iPageID < 1\n"}};
    for (auto [pos, text] : bad) {
        m_trace.Clear();
        EXPECT_EQ(m_doc.GetPageID(pos), -1);
        EXPECT_EQ(m_doc.GetPageFlag(pos), 0);
        EXPECT_EQ(m_trace.Text(), "");  // both silent
        EXPECT_EQ(m_doc.LookupPageID(pos), 0);
        EXPECT_EQ(m_doc.GetDataPdfPath(pos), "");
        EXPECT_TRUE(m_trace.Contains(text)) << pos;
    }
}

TEST_F(DocumentTest, TotalsRecountedWhenWrongNegativeOrHuge) {
    Load("N2N2N");
    std::string list;
    for (int p = 1; p <= 5; ++p) list += (p > 1 ? "," : "") + std::to_string(IdOfPos(p));
    for (auto [pt, it] : {std::pair{"3", "0"}, std::pair{"-1", "6"}, std::pair{"6", "-1"},
                          std::pair{"2147483647", "2147483647"}}) {
        ASSERT_EQ(ReadDat(DocDat(pt, it, "", "", list)), 0);
        EXPECT_EQ(m_doc.m_iPageTotal, 3) << pt << " " << it;
        EXPECT_EQ(m_doc.m_iIndexTotal, 2) << pt << " " << it;
        EXPECT_EQ(m_doc.m_cMapPageInfo[4].m_iPageFlag, 2);  // the recount cached the flags
    }
    EXPECT_EQ(m_doc.m_iMaxPageID, 0);
    EXPECT_EQ(m_doc.m_strDocName, "");
}

TEST_F(DocumentTest, DocNameAndPageIdListRules) {
    ovtest::MakeDirs(Folder(1));
    std::string name(129, 'a');
    for (int i = 0; i < 65; ++i) name += "\x83\x65";  // 259 bytes: kept whole
    ASSERT_EQ(ReadDat(DocDat("2", "0", name, "0", " 4 , 2147483647, 4294967295")), 0);
    EXPECT_EQ(m_doc.m_strDocName, name);
    EXPECT_EQ(m_doc.GetPageID(2), 2147483647);
    EXPECT_EQ(m_doc.GetPageID(3), -1);  // beyond the int range: no valid ID
    EXPECT_EQ(m_trace.Text(), "");

    name = std::string(300, '\x83');  // 150 double-byte characters: cut to 129 of them
    for (std::size_t i = 1; i < name.size(); i += 2) name[i] = '\x65';
    ASSERT_EQ(ReadDat(DocDat("0", "0", name, "0", "")), 0);
    EXPECT_EQ(m_doc.m_strDocName, name.substr(0, 258));
    EXPECT_TRUE(m_trace.Contains("DocName is too long"));

    // A list of a bad form (the forms are the list parser's test): nothing of it is kept.
    ASSERT_EQ(ReadDat(DocDat("2", "0", "", "", "5,6")), 0);
    m_trace.Clear();
    EXPECT_EQ(ReadDat(DocDat("2", "0", "N", "7", "1,x,3")), ov::kErrNotFound);
    EXPECT_TRUE(
        m_trace.Contains("ReadPageIDListFromDocInfo() Error! [FilePath] " + Folder(1) + "/Doc.dat\n"));
    EXPECT_EQ(m_doc.m_strDocName, "N");  // the header fields keep what was read
    EXPECT_EQ(m_doc.m_iMaxPageID, 7);
    EXPECT_TRUE(m_doc.m_cMapPageInfo.empty());  // no page list of another document
}

TEST_F(DocumentTest, SecondInitDocAndDestructorCleanUp) {
    WriteDocument(Folder(1), "NNN", true);
    WriteDocument(Folder(2), "N", true);
    auto doc = std::make_unique<COrmaViewDoc>();
    ASSERT_EQ(doc->InitDoc(m_desk.Path(), 1, IdOfPos(3)), 0);
    const std::string first = doc->m_strTempFolder;
    ASSERT_EQ(doc->InitDoc(m_desk.Path(), 2, IdOfPos(1)), 0);
    EXPECT_NE(doc->m_strTempFolder, first);
    EXPECT_FALSE(ovtest::Exists(first));  // the unreachable first folder is gone
    EXPECT_EQ(doc->m_cMapPageInfo.size(), 1u);
    EXPECT_EQ(doc->InitDoc(m_desk.Path(), 2, IdOfPos(3)),
              ov::kErrNotFound);  // no stale position of the longer list

    const std::string temp = doc->m_strTempFolder;
    ASSERT_TRUE(ovtest::Exists(temp));
    doc.reset();
    EXPECT_FALSE(ovtest::Exists(temp));
    EXPECT_EQ(ovtest::ListFolder(Folder(2)), (Names{"Data", "Doc.dat"}));
    EXPECT_EQ(ovtest::ListFolder(Folder(2) + "/Data"), Names{"Data" + std::to_string(IdOfPos(1)) + ".pdf"});
}

TEST_F(DocumentTest, OpeningFailures) {
    EXPECT_EQ(m_doc.InitDoc(m_desk.Path(), 5, 1), ov::kErrFolderMissing);
    EXPECT_TRUE(m_trace.Contains("DocFolder is not Exist [Path] " + Folder(5) + "\n"));
    EXPECT_TRUE(ovtest::Exists(m_doc.m_strEditInfoOnFolder));

    // Empty folder: the page is not found; a file as folder: no Doc.dat.
    ovtest::MakeDirs(Folder(2));
    ovtest::WriteFile(Folder(4), "not a folder");
    // Doc.dat a FIFO or linked to /dev/zero: refused at once, never waited on or
    // read without end (the alarm ends a test that would wait).
    ovtest::MakeDirs(Folder(6));
    ovtest::MakeDirs(Folder(7));
    ASSERT_EQ(0, ::mkfifo((Folder(6) + "/Doc.dat").c_str(), 0600));
    ASSERT_EQ(0, ::symlink("/dev/zero", (Folder(7) + "/Doc.dat").c_str()));
    ::alarm(60);
    const std::pair<int, std::string> unusable[] = {
        {2, "ConvertPageIDToPagePos() Error! [DocFolder] " + Folder(2) + " [PageID] 9\n"},
        {4, "GetPrivateProfileLongString() Error!\n"},
        {6, "Not a regular file [Path] " + Folder(6) + "/Doc.dat"},
        {7, "Not a regular file [Path] " + Folder(7) + "/Doc.dat"}};
    for (const auto& [id, text] : unusable) {
        COrmaViewDoc doc;
        m_trace.Clear();
        EXPECT_EQ(doc.InitDoc(m_desk.Path(), id, 9), ov::kErrNotFound) << id;
        EXPECT_TRUE(m_trace.Contains(text)) << m_trace.Text();
        EXPECT_EQ(doc.GetPagePosTotal(), 0);
    }
    ::alarm(0);
    // Page IDs not in the list: the list stays read, no current page.
    WriteDocument(Folder(1), "NN", true);
    for (int id : {0, -1, 1, IdOfPos(2) + 1}) {
        COrmaViewDoc doc;
        m_trace.Clear();
        EXPECT_EQ(doc.InitDoc(m_desk.Path(), 1, id), ov::kErrNotFound) << id;
        EXPECT_TRUE(m_trace.Contains("[PageID] " + std::to_string(id) + "\n"));
        EXPECT_EQ(doc.GetPageID(2), IdOfPos(2));
        EXPECT_EQ(doc.m_iCurPagePos, 0);
    }
    // No temporary folder to be had.
    const std::string saved = std::getenv("TMPDIR");
    setenv("TMPDIR", (Folder(4) + "/sub").c_str(), 1);
    m_trace.Clear();
    EXPECT_EQ(COrmaViewDoc().InitDoc(m_desk.Path(), 1, IdOfPos(1)), ov::kErrFolderNotMade);
    setenv("TMPDIR", saved.c_str(), 1);
    EXPECT_TRUE(m_trace.Contains("CreateTempFolder() Error!\n"));
}

// The stepping rules as they read, one index-sheet side at a time.
int ReferenceNext(COrmaViewDoc& doc) {
    const int t = doc.GetPagePosTotal();
    if (doc.m_iCurPagePos >= t)
        return 0;
    int p = doc.m_iCurPagePos + 1;
    for (int s; (s = doc.GetIndexSheetSide(p)) != -1;) {
        p += s == 1 && doc.GetPageFlag(p + 1) == 2 ? 2 : 1;
        if (p > t)
            return 0;
    }
    return p;
}

int ReferencePrev(COrmaViewDoc& doc) {
    if (doc.m_iCurPagePos < 2)
        return 0;
    int p = doc.m_iCurPagePos - 1;
    for (int s; (s = doc.GetIndexSheetSide(p)) != -1;) {
        p -= s == 0 ? 2 : 1;
        if (p < 1)
            return 0;
    }
    return p;
}

}  // namespace

TEST_F(DocumentTest, StepsGiveTheRulesAnswersOnAnyMixOfSheets) {
    unsigned seed = 12345;
    auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int round = 0; round < 40; ++round) {
        std::string flags;
        const int n = 1 + static_cast<int>(next() % 40);
        while (static_cast<int>(flags.size()) < n) {
            const unsigned k = next() % 10;  // runs of index pages of any length
            flags += k < 4 ? std::string(1 + next() % 7, '2') : std::string(1, "N13N"[k % 4]);
        }
        flags.resize(static_cast<std::size_t>(n));
        Load(flags);
        for (int cur = 1; cur <= n; ++cur) {
            SCOPED_TRACE(flags + " from " + std::to_string(cur));
            m_doc.m_iCurPagePos = cur;
            // Flags read on a copy of the list: the steps then read no file at all.
            for (auto& entry : m_doc.m_cMapPageInfo) entry.second.m_iPageFlag = -1;
            m_doc.InvalidatePageSteps();
            CPageStepQuery q = m_doc.GetPageStepQuery();
            ReadPageStepFlags(q, nullptr);
            m_doc.TakePageStepFlags(q);
            const int peekPrev = m_doc.PeekPrevPagePos(0), peekNext = m_doc.PeekNextPagePos(0);
            const int prev = ReferencePrev(m_doc), nextPos = ReferenceNext(m_doc);
            EXPECT_TRUE(q.bComplete);
            EXPECT_EQ(peekPrev, prev);
            EXPECT_EQ(peekNext, nextPos);
            for (int ask = 0; ask < 2; ++ask) {  // asked again: the kept answer
                EXPECT_EQ(m_doc.GetPrevPagePos(0), prev);
                EXPECT_EQ(m_doc.GetNextPagePos(0), nextPos);
            }
            EXPECT_EQ(m_doc.GetNextPagePos(1), nextPos);  // a step moves, or stays at the end
            EXPECT_EQ(m_doc.m_iCurPagePos, nextPos > 0 ? nextPos : cur);
            m_doc.m_iCurPagePos = cur;
            EXPECT_EQ(m_doc.GetPrevPagePos(1), prev);
            EXPECT_EQ(m_doc.m_iCurPagePos, prev > 0 ? prev : cur);
        }
    }
}

TEST_F(DocumentTest, AskingAgainDoesNotWalkTheSheetsAndUnreadFlagsAreNotKept) {
    Load("N" + std::string(1000, '2') + "N");
    m_doc.m_iCurPagePos = 1;
    EXPECT_EQ(m_doc.PeekNextPagePos(100), -1);  // more flags than that to read
    ASSERT_EQ(m_doc.GetNextPagePos(0), 1002);
    // A change inside the run is not seen: the answer was kept, not walked again.
    m_doc.m_cMapPageInfo[500].m_iPageFlag = 0;
    EXPECT_EQ(m_doc.GetNextPagePos(0), 1002);
    m_doc.m_iCurPagePos = 1002;
    EXPECT_EQ(m_doc.GetPrevPagePos(0), 500);  // another position: asked anew
    m_doc.InvalidatePageSteps();
    m_doc.m_iCurPagePos = 1;
    EXPECT_EQ(m_doc.GetNextPagePos(1), 500);
    EXPECT_EQ(m_doc.m_iCurPagePos, 500);

    // A negative flag is read again each time, so an answer built on it is not kept.
    Load("N2NN");
    ovtest::WriteFile(File(".dat", 3), "[PageInfo]\r\nPage1Flag=-1\r\n");
    m_doc.m_iCurPagePos = 1;
    EXPECT_EQ(m_doc.GetNextPagePos(0), 3);
    ovtest::WriteFile(File(".dat", 3), "[PageInfo]\r\nPage1Flag=2\r\n");
    EXPECT_EQ(m_doc.GetNextPagePos(0), 4);
}

TEST_F(DocumentTest, DamagedPageImageIsMadeAgainOnceThenThePageFails) {
    WriteDocument(Folder(1), "NN", true);
    ASSERT_EQ(m_doc.InitDoc(m_desk.Path(), 1, IdOfPos(1)), 0);
    const std::string thm = Thm(1);
    auto flipByte = [&] {
        std::string bytes = ovtest::ReadFile(thm);
        ASSERT_GT(bytes.size(), 100u);  // the middle lies past the header
        bytes[bytes.size() / 2] ^= 0x5A;
        ovtest::WriteFile(thm, bytes);
    };
    flipByte();
    CPageBitmap bmp;
    EXPECT_EQ(m_doc.GetThumbnail(nullptr, 40, 60, &bmp), 0);
    EXPECT_FALSE(bmp.IsNull());
    EXPECT_TRUE(m_trace.Contains("(page image made again)"));
    CPageBitmap again;
    m_trace.Clear();
    EXPECT_EQ(m_doc.GetThumbnail(nullptr, 40, 60, &again), 0);  // the new image is whole
    EXPECT_EQ(m_trace.Text(), "");

    // Damaged again, and the page cannot be made any more: the page's own error.
    flipByte();
    ASSERT_EQ(std::remove(File(".pdf", 1).c_str()), 0);
    CPageBitmap none;
    EXPECT_EQ(m_doc.GetThumbnail(nullptr, 40, 60, &none), ov::kErrNotFound);
    EXPECT_FALSE(ovtest::Exists(thm));
}

TEST_F(DocumentTest, PageImagesOfARunStayWithinTheirBound) {
    const int n = 24;
    WriteDocument(Folder(1), std::string(n, 'N'), true);
    ASSERT_EQ(m_doc.InitDoc(m_desk.Path(), 1, IdOfPos(1)), 0);
    const auto one = std::filesystem::file_size(Thm(1));
    m_doc.m_nThumbCacheBytes = 3 * one;
    auto folderBytes = [&] {
        unsigned long long total = 0;
        for (const auto& e : std::filesystem::directory_iterator(m_doc.m_strEditInfoOnFolder))
            total += e.file_size();
        return total;
    };
    for (int pos = 2; pos <= n; ++pos) {
        ASSERT_EQ(m_doc.GetNextPagePos(1), pos);
        ASSERT_EQ(m_doc.CreateThumbFile(), 0);
        EXPECT_LE(folderBytes(), 3 * one + one / 4) << pos;  // images of one size, give or take
        EXPECT_TRUE(ovtest::Exists(Thm(pos)));
    }
    EXPECT_FALSE(ovtest::Exists(Thm(1)));  // the oldest went first
    EXPECT_TRUE(ovtest::Exists(Thm(n - 1)));
    // Back to a dropped page: made again on demand.
    m_doc.m_iCurPagePos = 1;
    CPageBitmap bmp;
    EXPECT_EQ(m_doc.GetThumbnail(nullptr, 30, 30, &bmp), 0);
    EXPECT_TRUE(ovtest::Exists(Thm(1)));
    EXPECT_EQ(m_trace.Text(), "");
}

// The start's first page drawn ahead goes to the page job of the same page from
// the same files, once, and the page image is the one a job draws itself; a file
// replaced after the draw began is drawn again by the job.
TEST_F(DocumentTest, FirstPageDrawnAheadIsUsedOnlyForTheSameFiles) {
    WriteDocument(Folder(1), "NNN", true);
    auto keyOf = [&](int pos) {
        ov::image::PageStoreKey key;
        key.source = File(".pdf", pos);
        key.drawEditInfo = 1;
        key.editInfo = File(".dat", pos);
        EXPECT_TRUE(ov::image::TakeIdentities(&key));
        return key;
    };
    auto pixels = [](const std::string& thm) {
        ov::image::ThmImage read;
        EXPECT_EQ(ov::image::ReadThm(thm, &read), 0) << thm;
        std::string rgb;
        for (int y = 0; y < read.height; ++y)
            rgb.append(reinterpret_cast<const char*>(read.rows[y]), read.width * 3);
        return std::to_string(read.width) + "x" + std::to_string(read.height) + ":" + rgb;
    };
    auto madeAlone = [&](int pos) {  // the page image of a start with nothing drawn ahead
        COrmaViewDoc doc;
        EXPECT_EQ(doc.InitDoc(m_desk.Path(), 1, IdOfPos(pos)), 0);
        return pixels(Thm(doc, pos));
    };
    ov::image::ThmImage image;
    {
        CFirstPageDraw draw(m_desk.Path(), 1, IdOfPos(2));
        EXPECT_FALSE(CFirstPageDraw::Take(keyOf(3), &image));  // another page
        ov::image::PageStoreKey hidden = keyOf(2);
        hidden.drawEditInfo = 0;
        EXPECT_FALSE(CFirstPageDraw::Take(hidden, &image));  // annotations hidden
        ASSERT_TRUE(CFirstPageDraw::Take(keyOf(2), &image));
        EXPECT_GT(image.width, 0);
        EXPECT_FALSE(CFirstPageDraw::Take(keyOf(2), &image));  // once
    }
    {
        CFirstPageDraw draw(m_desk.Path(), 1, IdOfPos(1));
        ASSERT_EQ(m_doc.InitDoc(m_desk.Path(), 1, IdOfPos(1)), 0);
        EXPECT_FALSE(CFirstPageDraw::Take(keyOf(1), &image));  // the job took it
        const std::string made = pixels(Thm(1));
        EXPECT_EQ(made, madeAlone(1));
    }
    {
        // A job cancelled (a close) while the page is still being drawn ahead stops
        // waiting for the draw: here the draw is held until the job has given up.
        std::promise<void> release;
        CFirstPageDraw::SetTestHook([go = release.get_future().share()](bool bOffered) {
            if (!bOffered)
                go.wait();
        });
        CFirstPageDraw draw(m_desk.Path(), 1, IdOfPos(2));
        CFirstPageDraw::SetTestHook({});
        ov::image::RenderCancel cancel;
        cancel.Cancel();
        auto taken =
            std::async(std::launch::async, [&] { return CFirstPageDraw::Take(keyOf(2), &image, &cancel); });
        const std::future_status status = taken.wait_for(std::chrono::seconds(20));
        release.set_value();
        EXPECT_EQ(status, std::future_status::ready);
        EXPECT_FALSE(taken.get());
        EXPECT_TRUE(CFirstPageDraw::Take(keyOf(2), &image));  // drawn on for a later job
    }
    {
        CFirstPageDraw draw(m_desk.Path(), 1, IdOfPos(3));
        WritePdf(File(".pdf", 3) + ".new", 300, 200);
        ASSERT_EQ(std::rename((File(".pdf", 3) + ".new").c_str(), File(".pdf", 3).c_str()), 0);
        COrmaViewDoc doc;
        ASSERT_EQ(doc.InitDoc(m_desk.Path(), 1, IdOfPos(3)), 0);
        const std::string made = pixels(Thm(doc, 3));
        EXPECT_FALSE(made.empty());
        EXPECT_EQ(made, madeAlone(3));
    }
    EXPECT_EQ(m_trace.Text(), "");
}

// A start with a warm page store: the page drawn ahead is the same picture in
// memory and is taken instead of the store's entry once it is drawn; while it is
// still being drawn the entry is read, without waiting for the draw. The entry
// here is forged (another page's picture under this page's key), so that the
// two can be told apart.
TEST_F(DocumentTest, AWarmStartTakesThePageDrawnAheadOnlyOnceItIsDrawn) {
    WriteDocument(Folder(1), "NN", true);
    ovtest::TempDir dir;
    const ov::image::CPageStore store(dir / "store", ov::image::CPageStore::kDefaultBytes);
    CPageJob job;
    job.strSource = File(".pdf", 2);
    job.strEditInfo = File(".dat", 2);
    job.bShowEditInfo = 1;
    job.strThumb = dir / "run.thm";
    job.iWidth = 60;
    job.iHeight = 80;
    ov::image::PageStoreKey key;
    key.source = job.strSource;
    key.drawEditInfo = 1;
    key.editInfo = job.strEditInfo;
    ASSERT_TRUE(ov::image::TakeIdentities(&key));
    const std::string otherPdf = dir / "other.pdf", other = dir / "other.thm";
    WritePdf(otherPdf, 300, 200);
    ASSERT_EQ(WorkDesk_CreateThumbFile(otherPdf.c_str(), 1, other.c_str(), 1000, 1000, 0, ""), 0);
    store.Store(key, other);
    auto bitsOf = [](const CPageBitmap& bm) {
        return std::string(reinterpret_cast<const char*>(bm.Bits()),
                           static_cast<std::size_t>(bm.Stride()) * bm.Height());
    };
    CPageBitmap forged, real;
    ASSERT_EQ(WorkDesk_GetThumbnail(nullptr, other.c_str(), 60, 80, &forged), 0);
    ASSERT_EQ(MakePageJobBitmap(job, nullptr, nullptr, &real), 0);  // no store: page 2 itself
    std::filesystem::remove(job.strThumb);
    ASSERT_FALSE(bitsOf(forged) == bitsOf(real));
    for (const bool bDrawnFirst : {true, false}) {
        SCOPED_TRACE(bDrawnFirst ? "drawn" : "still drawing");
        std::promise<void> offered, release;
        CFirstPageDraw::SetTestHook([&, go = release.get_future().share()](bool bOffered) {
            if (bOffered)
                offered.set_value();
            else if (!bDrawnFirst)
                go.wait();
        });
        CFirstPageDraw draw(m_desk.Path(), 1, IdOfPos(2));
        CFirstPageDraw::SetTestHook({});
        if (bDrawnFirst) {
            ASSERT_EQ(offered.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
        }
        CPageBitmap bm;
        auto made =
            std::async(std::launch::async, [&] { return MakePageJobBitmap(job, &store, nullptr, &bm); });
        const std::future_status status = made.wait_for(std::chrono::seconds(20));
        release.set_value();
        ASSERT_EQ(status, std::future_status::ready);
        EXPECT_EQ(made.get(), 0);
        EXPECT_TRUE(bitsOf(bm) == bitsOf(bDrawnFirst ? real : forged));
        EXPECT_FALSE(ovtest::Exists(job.strThumb));
    }
}
