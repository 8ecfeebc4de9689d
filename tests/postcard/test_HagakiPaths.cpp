// SPDX-License-Identifier: AGPL-3.0-or-later
// Paths of the front, back and shown PDFs in document mode and undo-folder mode,
// the PDF the views draw, and the clean-up of the cached page images.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "PostcardTestSupport.h"
#include "postcard/HagakiManage.h"

using pctest::DocSetup;

namespace {

struct Paths {
    std::string frontSrc, backSrc, viewSrc, frontDst, backDst, viewDst;
};

Paths Resolve(COrmaViewDoc& doc, int* result = nullptr) {
    char b[6][MAX_PATH] = {};
    int r = doc.GetHagakiFilePaths(b[0], b[1], b[2], b[3], b[4], b[5]);
    if (result)
        *result = r;
    return Paths{b[0], b[1], b[2], b[3], b[4], b[5]};
}

std::string Upper(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::toupper(c); });
    return s;
}

// "$W" is the work-desk folder with its separator, "$U" the same in capitals,
// "$S" the folder of turned sides with its separator.
std::string Expand(std::string text, const std::string& w) {
    const std::pair<const char*, std::string> vars[] = {
        {"$W", w}, {"$U", Upper(w)}, {"$S", w + pctest::StandardCp932() + "/"}};
    for (const auto& [name, value] : vars) {
        for (std::size_t at; (at = text.find(name)) != std::string::npos;) text.replace(at, 2, value);
    }
    return text;
}

}  // namespace

TEST(HagakiPathsDocumentMode, SidesInStandardTurnedInPlace) {
    auto s = DocSetup::DocumentMode(5);
    const std::string base = s->doc.m_strDocFolder + "/Data/Standard/";
    CHagakiInfo& i = s->doc.m_cHagakiInfo;
    i.SetFile1("f.pdf");
    i.SetFilePageName("Data5.pdf");
    i.m_bFile1Rotated = 1;  // the flags do not matter in document mode
    i.m_bMerged = 1;
    int r = 0;
    Paths p = Resolve(s->doc, &r);
    EXPECT_EQ(1, r);
    EXPECT_EQ(base + "f.pdf", p.frontSrc);
    EXPECT_EQ(base + "f.pdf", p.frontDst);
    EXPECT_EQ("", p.backSrc + p.backDst);
    EXPECT_EQ(s->doc.m_strDocFolder + "/Data/Data5.pdf", p.viewSrc);
    EXPECT_EQ(p.viewSrc, p.viewDst);

    i.SetFilePageName("");
    EXPECT_EQ("", Resolve(s->doc).viewDst);
    EXPECT_FALSE(ovtest::Exists(s->workDesk + "/" + pctest::kStandardUtf8));
}

TEST(HagakiPathsUndoFolder, TargetsKeepTheWorkDesksFilesUntouched) {
    struct Case {
        const char* name;
        const char* file1;
        int rotated;
        const char* shown;
        int page;
        int merged;
        const char* frontDst;
        const char* viewDst;
    };
    const Case cases[] = {
        {"first visit", "/scan/front.pdf", 0, "/scan/scan.pdf", 2, 0,
         "$S"
         "front.pdf",
         "$W~scan-2.pdf"},
        {"turned and merged before", "$Wx/front.pdf", 1, "/scan/scan.pdf", 2, 1, "$Wx/front.pdf",
         "/scan/scan.pdf"},
        {"merged file of this work desk", "", 0, "$W~scan-2.pdf", 1, 0, "", "$W~scan-2.pdf"},
        {"same name at page 2", "", 0, "$W~scan-2.pdf", 2, 0, "", "$W~~scan-2-2.pdf"},
        {"same name in another folder", "", 0, "/other/~scan-2.pdf", 1, 0, "", "$W~~scan-2-1.pdf"},
        {"folder in capitals", "", 0, "$U~scan-2.pdf", 1, 0, "", "$U~scan-2.pdf"},
        {"extension is the last dot", "", 0, "/scan/a.b.c", 1, 0, "", "$W~a.b-1.pdf"},
        {"no shown PDF", "/scan/f.pdf", 0, "", 1, 0,
         "$S"
         "f.pdf",
         ""},
    };
    for (const Case& c : cases) {
        auto s = DocSetup::UndoFolderMode();
        const std::string w = s->workDesk + "/";
        CHagakiInfo& i = s->doc.m_cHagakiInfo;
        i.SetFile1(Expand(c.file1, w));
        i.m_bFile1Rotated = c.rotated;
        i.SetFilePageName(Expand(c.shown, w));
        i.m_iFilePageNumber = c.page;
        i.m_bMerged = c.merged;
        int r = 0;
        Paths p = Resolve(s->doc, &r);
        EXPECT_EQ(1, r) << c.name;
        EXPECT_EQ(i.GetFile1(), p.frontSrc) << c.name;
        EXPECT_EQ(i.GetFilePageName(), p.viewSrc) << c.name;
        EXPECT_EQ(Expand(c.frontDst, w), p.frontDst) << c.name;
        EXPECT_EQ(Expand(c.viewDst, w), p.viewDst) << c.name;
        EXPECT_EQ("", p.backSrc + p.backDst) << c.name;
        // The folder of turned sides exists, under its UTF-8 name.
        EXPECT_TRUE(ovtest::Exists(w + pctest::kStandardUtf8)) << c.name;
    }
}

TEST(HagakiPathsUndoFolder, CaseFoldingNeverTouchesTrailBytes) {
    auto s = DocSetup::UndoFolderMode();
    // "ア" is 0x83 0x41 and "ツ" is 0x83 0x61: they differ only in the letter case
    // of their trail bytes, yet they are different folders.
    const std::string deskA = s->dir.Path() + "/desk\x83\x41";
    std::strncpy(s->doc.m_pHagakiManage->m_pInfo->szWorkDeskFolder, deskA.c_str(), MAX_PATH - 1);
    s->doc.m_cHagakiInfo.SetFilePageName(s->dir.Path() + "/desk\x83\x61/~scan-2.pdf");
    EXPECT_EQ(deskA + "/~~scan-2-1.pdf", Resolve(s->doc).viewDst);
    s->doc.m_cHagakiInfo.SetFilePageName(Upper(s->dir.Path()) + "/DESK\x83\x41/~scan-2.pdf");
    EXPECT_EQ(s->doc.m_cHagakiInfo.GetFilePageName(), Resolve(s->doc).viewDst);
    EXPECT_TRUE(ovtest::Exists(s->dir.Path() + "/desk\xE3\x82\xA2/" + pctest::kStandardUtf8));
}

TEST(HagakiPathsLimits, PathsOver259BytesAreRefusedWithoutOverflow) {
    auto s = DocSetup::UndoFolderMode();
    const std::string fits = "/" + std::string(254, 'a') + ".pdf";  // 259 bytes
    std::vector<char> front(300, 'Z'), view(300, 'Z');
    s->doc.m_cHagakiInfo.SetFile1(fits);
    EXPECT_EQ(1, s->doc.GetHagakiFilePaths(front.data(), nullptr, view.data(), nullptr, nullptr, nullptr));
    EXPECT_EQ(fits, std::string(front.data()));
    EXPECT_EQ('Z', front[260]);

    ovtest::TraceCapture trace;
    std::fill(front.begin(), front.end(), 'Z');
    s->doc.m_cHagakiInfo.SetFile1(fits + "x");
    EXPECT_EQ(0, s->doc.GetHagakiFilePaths(front.data(), nullptr, view.data(), nullptr, nullptr, nullptr));
    EXPECT_TRUE(trace.Contains("Path too long"));
    EXPECT_EQ('\0', front[0]);
    EXPECT_EQ('\0', view[0]);
    EXPECT_TRUE(std::all_of(front.begin() + 1, front.end(), [](char c) { return c == 'Z'; }));
    // A path that is not asked for does not matter.
    EXPECT_EQ(1, s->doc.GetHagakiFilePaths(nullptr, nullptr, view.data(), nullptr, nullptr, nullptr));
    // The operations that need it fail instead of working on a cut path.
    EXPECT_EQ(-705, s->doc.RotateHagakiPdf(1));
    EXPECT_EQ(0, s->doc.m_cHagakiInfo.m_bFile1Rotated);
}

TEST(HagakiViewPdf, ShownPdfAndPageInBothModes) {
    auto d = DocSetup::DocumentMode(5);
    d->doc.m_cHagakiInfo.m_iFilePageNumber = 3;
    int page = 0;
    EXPECT_EQ(d->doc.m_strDocFolder + "/Data/Data5.pdf", d->doc.GetViewPdfPath(&page));
    EXPECT_EQ(1, page);

    auto s = DocSetup::UndoFolderMode();
    const std::string scan = s->dir / "scan/scan.pdf";
    pctest::WriteOnePagePdf(scan, 100, 100);
    s->doc.m_cHagakiInfo.SetFilePageName(scan);
    s->doc.m_cHagakiInfo.m_iFilePageNumber = 3;
    EXPECT_EQ(scan, s->doc.GetViewPdfPath(&page));
    EXPECT_EQ(3, page);

    // Merged in this visit: the target is shown; while it is missing nothing is.
    const std::string merged = s->workDesk + "/~scan-3.pdf";
    s->doc.m_cHagakiInfo.m_bMerged = 1;
    s->doc.m_cHagakiInfo.SetFilePageName(merged);
    s->doc.m_cHagakiInfo.m_iFilePageNumber = 0;
    ovtest::TraceCapture trace;
    EXPECT_EQ("", s->doc.GetViewPdfPath(&page));
    EXPECT_EQ(1, page);
    EXPECT_TRUE(trace.Contains("PathFileExists Error! [path] " + merged));
    pctest::WriteOnePagePdf(merged, 100, 100);
    EXPECT_EQ(merged, s->doc.GetViewPdfPath(&page));
}

TEST(HagakiThumbCleanup, DeletesTheCurrentImagesOfTheCurrentState) {
    auto s = DocSetup::DocumentMode(5);
    const std::string on = s->doc.m_strEditInfoOnFolder + "/OrmaView5.thm";
    const std::string off = s->doc.m_strEditInfoOffFolder + "/OrmaView5.thm";
    const std::string pageThm = s->doc.m_strDocFolder + "/Page5.thm";
    for (const auto& f : {on, off, pageThm}) ovtest::WriteFile(f, "x");
    EXPECT_EQ(0, s->doc.DeleteThumbFileCurrent());
    EXPECT_FALSE(ovtest::Exists(on));
    EXPECT_TRUE(ovtest::Exists(off));
    EXPECT_FALSE(ovtest::Exists(pageThm));

    // Undo-folder mode keeps the work desk's thumbnail.
    auto u = DocSetup::UndoFolderMode();
    const std::string uThm = u->doc.m_strDocFolder + "/Page1.thm";
    ovtest::WriteFile(uThm, "x");
    ovtest::WriteFile(u->doc.m_strEditInfoOnFolder + "/OrmaView1.thm", "x");
    EXPECT_EQ(0, u->doc.DeleteThumbFileCurrent());
    EXPECT_TRUE(ovtest::Exists(uThm));
    EXPECT_FALSE(ovtest::Exists(u->doc.m_strEditInfoOnFolder + "/OrmaView1.thm"));

    // A position without a page ID is traced and still succeeds.
    ovtest::TraceCapture trace;
    s->doc.m_iCurPagePos = 4;
    EXPECT_EQ(0, s->doc.DeleteThumbFileCurrent());
    EXPECT_TRUE(trace.Contains("m_cMapPageInfo.Lookup() Error! [PageID] -1"));
    s->doc.m_iCurPagePos = 1;
    s->doc.m_cMapPageInfo[1].m_iPageID = 0;
    EXPECT_EQ(0, s->doc.DeleteThumbFileCurrent());
    EXPECT_TRUE(trace.Contains("m_cMapPageInfo.Lookup() Error! [PageID] 0"));
}
