// SPDX-License-Identifier: AGPL-3.0-or-later
#include "SampleWorkDesk.h"

#include <sys/stat.h>

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "PdfWriter.h"
#include "win32/CodePage.h"

namespace ovsample {
namespace {

namespace fs = std::filesystem;

constexpr float kA4W = 595.28f, kA4H = 841.89f;
constexpr float kCardW = 283.46f, kCardH = 419.53f;  // 100 x 148 mm

std::string Fmt(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Fmt(const char* format, ...) {
    char buf[512];
    va_list ap;
    va_start(ap, format);
    std::vsnprintf(buf, sizeof buf, format, ap);
    va_end(ap);
    return buf;
}

// INI text as the work desk writes it: CP932, CRLF line ends.
class Ini {
public:
    void Section(const std::string& name) {
        if (!m_text.empty())
            m_text += "\r\n";
        m_text += "[" + name + "]\r\n";
    }
    void Key(const std::string& key, const std::string& utf8Value) {
        std::optional<std::string> v = ov::Utf8ToCp932(utf8Value);
        if (!v) {
            std::fprintf(stderr, "not CP932: %s\n", utf8Value.c_str());
            m_ok = false;
            return;
        }
        m_text += key + "=" + *v + "\r\n";
    }
    void Key(const std::string& key, int value) { m_text += key + "=" + std::to_string(value) + "\r\n"; }
    bool Write(const fs::path& path) const {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << m_text;
        out.close();
        if (!m_ok || !out)
            std::fprintf(stderr, "INI not written: %s\n", path.c_str());
        return m_ok && static_cast<bool>(out);
    }

private:
    std::string m_text;
    bool m_ok = true;
};

// ---- Page makers (PDF coordinates: origin bottom-left) --------------------

PdfPage ScanPage(unsigned seed, float w = kA4W, float h = kA4H, bool picture = false) {
    PdfPage p;
    p.width = w;
    p.height = h;
    // 150 DPI scans.
    const int pw = static_cast<int>(w * 150.0f / 72.0f + 0.5f),
              ph = static_cast<int>(h * 150.0f / 72.0f + 0.5f);
    p.jpeg = MakeScanJpeg(pw, ph, seed, picture);
    p.content = Fmt("q %.2f 0 0 %.2f 0 0 cm /Im0 Do Q\n", w, h);
    return p;
}

PdfPage TextPage(const std::string& title, const std::vector<std::string>& lines, unsigned seed) {
    PdfPage p;
    std::string& c = p.content;
    c += "0.15 0.25 0.55 rg\n" + TextOp(72, 770, 24, title);
    c += "0.15 0.25 0.55 RG 1.5 w 72 755 m 523 755 l S\n";
    c += "0 g\n";
    float y = 720;
    for (const std::string& line : lines) {
        c += TextOp(72, y, 12, line);
        y -= 22;
    }
    // A small table.
    y -= 10;
    c += "0.3 G 0.8 w\n";
    for (int r = 0; r <= 4; ++r) c += Fmt("72 %.1f m 523 %.1f l S\n", y - r * 24.0f, y - r * 24.0f);
    for (float x : {72.0f, 222.0f, 372.0f, 523.0f}) c += Fmt("%.1f %.1f m %.1f %.1f l S\n", x, y, x, y - 96);
    const char* heads[3] = {"品名", "数量", "金額"};
    for (int k = 0; k < 3; ++k) c += TextOp(80.0f + 150.0f * k, y - 17, 11, heads[k]);
    for (int r = 1; r < 4; ++r) {
        c += TextOp(80, y - 17 - 24.0f * r, 11, Fmt("項目 %c", 'A' + r - 1));
        c += TextOp(230, y - 17 - 24.0f * r, 11, Fmt("%u", (seed * 7 + r * 3) % 20 + 1));
        c += TextOp(380, y - 17 - 24.0f * r, 11,
                    Fmt("%u,%03u 円", (seed + r) % 9 + 1, (seed * 37 + r * 111) % 1000));
    }
    // A coloured stamp box.
    c += "0.85 0.2 0.2 RG 2 w 430 90 80 50 re S\n0.85 0.2 0.2 rg\n" + TextOp(448, 108, 16, "承認");
    c += "0 g\n" + TextOp(72, 40, 9, Fmt("サンプル文書 ページ %u", seed));
    return p;
}

PdfPage LandscapePage() {
    PdfPage p;
    p.width = kA4H;
    p.height = kA4W;
    std::string& c = p.content;
    c += "0 g\n" + TextOp(60, 540, 22, "月別売上グラフ（横向きのページ）");
    c += "0 G 1 w 80 80 m 80 500 l S 80 80 m 780 80 l S\n";
    const char* months[12] = {"1月", "2月", "3月", "4月",  "5月",  "6月",
                              "7月", "8月", "9月", "10月", "11月", "12月"};
    for (int i = 0; i < 12; ++i) {
        float h = 60.0f + static_cast<float>((i * 53) % 300);
        c += Fmt("%.2f %.2f %.2f rg %.1f 81 36 %.1f re f\n", 0.2 + 0.05 * (i % 4), 0.4, 0.8 - 0.04 * i,
                 100.0f + i * 56.0f, h);
        c += "0 g\n" + TextOp(104.0f + i * 56.0f, 62, 10, months[i]);
    }
    return p;
}

PdfPage IndexPage(const std::string& label, int tab) {
    PdfPage p;
    std::string& c = p.content;
    c += Fmt("%.2f %.2f 0.3 rg %.1f %.1f 45 90 re f\n", 0.3 + 0.3 * tab, 0.6 - 0.2 * tab, kA4W - 45,
             650.0f - tab * 110.0f);
    c += "0.95 0.95 0.9 rg 60 300 420 200 re f 0.2 G 2 w 60 300 420 200 re S\n";
    c += "0 g\n" + TextOp(100, 390, 34, label);
    c += TextOp(100, 340, 12, "インデックス（区切り紙）");
    return p;
}

PdfPage CardFront(const std::string& name, const std::string& address, const std::string& zip) {
    PdfPage p;
    p.width = kCardW;
    p.height = kCardH;
    std::string& c = p.content;
    c += "0.85 0.1 0.1 RG 0.8 w\n";
    for (int i = 0; i < 7; ++i) c += Fmt("%.1f 375 16 22 re S\n", 120.0f + i * 20.0f + (i > 2 ? 4 : 0));
    c += "0 g\n";
    for (int i = 0; i < 7 && i < static_cast<int>(zip.size()); ++i)
        c += TextOp(124.0f + i * 20.0f + (i > 2 ? 4 : 0), 380, 14,
                    std::string(1, zip[static_cast<std::size_t>(i)]));
    c += TextOp(30, 330, 12, address);
    c += TextOp(60, 220, 26, name + " 様");
    c += "0.85 0.1 0.1 rg\n" + TextOp(200, 30, 9, "郵便はがき");
    return p;
}

PdfPage CardBack(unsigned seed) {
    return ScanPage(seed, kCardH, kCardW, true);
}

bool MakeDir(const fs::path& p) {
    std::error_code ec;
    fs::create_directories(p, ec);
    if (ec)
        std::fprintf(stderr, "folder not created: %s: %s\n", p.c_str(), ec.message().c_str());
    return !ec;
}

// True when the work desk can name the path: CP932 holds it, in at most 259
// bytes. Otherwise says why on standard error.
bool PathFitsWorkDesk(const fs::path& p) {
    unsigned codePoint = 0;
    const std::string ch = ov::FirstCharNotInCp932(p.string(), &codePoint);
    if (!ch.empty()) {
        std::fprintf(
            stderr,
            "the path \"%s\" holds \"%s\" (U+%04X), which the work desk's code page (CP932) cannot hold\n",
            p.c_str(), ch.c_str(), codePoint);
        return false;
    }
    if (ov::Utf8ToCp932(p.string()).value_or(std::string()).size() > 259) {
        std::fprintf(stderr, "path too long for the work desk (259 bytes): %s\n", p.c_str());
        return false;
    }
    return true;
}

// ---- Documents ---------------------------------------------------------------

struct PageDef {
    int id;
    int flag;  // 2 = index sheet
    PdfPage pdf;
    std::vector<std::string> editInfo;  // values of section "EditInfo"
};

bool WriteDocument(const fs::path& desk, int docId, const std::string& docNameUtf8,
                   const std::vector<PageDef>& pages) {
    const fs::path folder = desk / Fmt("Doc%06d", docId);
    if (!MakeDir(folder / "Data"))
        return false;
    int maxId = 0, index = 0;
    std::string list;
    for (const PageDef& p : pages) {
        maxId = std::max(maxId, p.id);
        if (p.flag == 2)
            ++index;
        list += (list.empty() ? "" : ",") + std::to_string(p.id);
        if (!WritePdf((folder / "Data" / Fmt("Data%d.pdf", p.id)).string(), {p.pdf}))
            return false;
        Ini dat;
        dat.Section("PageInfo");
        dat.Key("Page1Flag", p.flag);
        if (!p.editInfo.empty()) {
            dat.Section("EditInfo");
            for (std::size_t k = 0; k < p.editInfo.size(); ++k) dat.Key(Fmt("Item%zu", k + 1), p.editInfo[k]);
        }
        if (!dat.Write(folder / "Data" / Fmt("Data%d.dat", p.id)))
            return false;
    }
    Ini doc;
    doc.Section("DocInfo");
    doc.Key("PageTotal", static_cast<int>(pages.size()) - index);
    doc.Key("IndexTotal", index);
    doc.Key("DocName", docNameUtf8);
    doc.Key("MaxPageID", maxId);
    doc.Key("PageIDList", list);
    return doc.Write(folder / "Doc.dat");
}

std::vector<std::string> TextLines(int n) {
    static const char* kLines[] = {
        "本書は、サンプルの作業机に含まれる説明用の文書です。",
        "ページには日本語の文章、表、図形が含まれています。",
        "注釈（編集情報）は別のファイルに保存されています。",
        "ＡＢＣ全角英字と半角カナ ｶﾀｶﾅ も表示できます。",
        "次のページへ進むと、インデックスは飛ばされます。",
        "見積金額は税込みで表示しています。",
    };
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) out.push_back(kLines[i % 6]);
    return out;
}

}  // namespace

bool WriteSampleWorkDesk(const std::string& dir, int longPages, SampleInfo* info) {
    std::error_code ecAbsolute;
    if (!PathFitsWorkDesk(fs::absolute(dir, ecAbsolute)))
        return false;
    if (!MakeDir(dir))
        return false;
    std::error_code ec;
    const fs::path desk = fs::canonical(dir, ec);
    if (ec) {
        std::fprintf(stderr, "folder not found: %s\n", dir.c_str());
        return false;
    }
    info->folder = desk.string();
    // The work desk keeps its paths in CP932: a folder it cannot name is no work desk.
    if (!PathFitsWorkDesk(desk))
        return false;

    Ini wd;
    wd.Section("ThumbViewRect");
    wd.Key("Left", 80);
    wd.Key("Top", 60);
    wd.Key("Width", 1280);
    wd.Key("Height", 900);
    wd.Key("Size", 0);
    if (!wd.Write(desk / "WorkDesk.dat"))
        return false;

    // Document 1: a dozen pages, IDs not in position order.
    std::vector<PageDef> d1;
    d1.push_back({5,
                  0,
                  TextPage("御見積書", TextLines(5), 5),
                  {"rect,#E02020,2,66,44,120,36", "text,#D01010,14,200,52,要確認：数量",
                   "highlight,#FFE000,40,70,130,320,17", "rect,#2040C0,1.5,222,242,150,96"}});
    d1.push_back({2, 0, ScanPage(2), {}});
    d1.push_back({9, 2, IndexPage("第１章　契約書類", 0), {}});
    d1.push_back({3, 2, IndexPage("第２章　請求書", 1), {}});
    d1.push_back({1,
                  0,
                  ScanPage(1),
                  {"pen,#1060E0,3,100,300,130,280,170,300,210,285,250,305,290,290",
                   "highlight,#40FF40,35,90,400,400,40", "text,#000000,18,90,450,スキャンの注釈 Note"}});
    d1.push_back(
        {7, 0, LandscapePage(), {"rect,#FF8000,3,318,170,106,350", "text,#FF8000,16,300,150,前年比 +12%"}});
    d1.push_back({4, 0, TextPage("会議議事録", TextLines(8), 4), {}});
    d1.push_back({12, 0, ScanPage(12), {}});
    d1.push_back({6, 0, TextPage("納品書", TextLines(3), 6), {"line,#C00000,4,60,60,530,800"}});
    d1.push_back({10, 0, ScanPage(10, 419.53f, 595.28f), {}});  // an A5 scan
    d1.push_back({8, 0, TextPage("請求書", TextLines(6), 8), {}});
    d1.push_back({11, 0, ScanPage(11), {}});
    if (!WriteDocument(desk, 1, "サンプル文書（見積・請求）", d1))
        return false;
    info->firstPageId = 5;
    const fs::path data1 = desk / "Doc000001" / "Data";
    for (int id : {2, 1, 12, 11}) info->scanPdfs.push_back((data1 / Fmt("Data%d.pdf", id)).string());
    for (int id : {5, 4, 6, 8}) info->vectorPdfs.push_back((data1 / Fmt("Data%d.pdf", id)).string());
    for (int id : {5, 1, 7, 6}) info->annotated.push_back((data1 / Fmt("Data%d.dat", id)).string());
    info->landscapePdf = (data1 / "Data7.pdf").string();

    // Document 2: small.
    std::vector<PageDef> d2;
    d2.push_back({1, 0, TextPage("議事録", TextLines(4), 21), {}});
    d2.push_back({2, 0, ScanPage(22), {"highlight,#FFE000,40,80,150,200,30"}});
    d2.push_back({3, 0, TextPage("連絡先一覧", TextLines(2), 23), {}});
    if (!WriteDocument(desk, 2, "議事録　２０２４年", d2))
        return false;

    // Undo folder: one postcard, its sides and the shown PDF in a folder of their own.
    const fs::path scans = desk / "受信スキャン";
    if (!MakeDir(scans) || !MakeDir(desk / "UndoFolder"))
        return false;
    const fs::path front = scans / "hagaki_omote.pdf", back = scans / "hagaki_ura.pdf",
                   shown = scans / "scan.pdf";
    PdfPage cardFront = CardFront("山田　太郎", "東京都千代田区丸の内１－１－１", "1000005");
    PdfPage cardBack = CardBack(31);
    PdfPage cover = TextPage("スキャン送付状", TextLines(2), 30);
    if (!WritePdf(front.string(), {cardFront}) || !WritePdf(back.string(), {cardBack}) ||
        !WritePdf(shown.string(), {cover, cardFront}))
        return false;
    info->postcardFront = front.string();
    info->postcardBack = back.string();
    for (const fs::path& p : {front, back, shown}) {
        if (!PathFitsWorkDesk(p))
            return false;
    }
    Ini undo;
    undo.Section("BinderInfo");
    undo.Key("Title", "年賀状　２０２４");
    undo.Section("PageInfo");
    undo.Key("Page1HagakiFrom", "山田　太郎");
    undo.Key("Page1HagakiFromkana", "ヤマダ　タロウ");
    undo.Key("Page1HagakiNumber", "２０２４組０００１２３４");
    undo.Key("Page1HagakiYear", "2024");
    undo.Key("Page1HagakiType", "年賀状");
    undo.Key("Page1HagakiMemo", "住所変更あり");
    undo.Key("Page1HagakiFile1", front.string());
    undo.Key("Page1HagakiFile2", back.string());
    undo.Key("Page1FilePageName", shown.string());
    undo.Key("Page1FilePageNumber", 2);
    undo.Section("EditInfo");
    undo.Key("Item1", "rect,#E02020,2,20,200,240,60");
    undo.Key("Item2", "text,#E02020,12,24,180,差出人を確認");
    if (!undo.Write(desk / "UndoFolder" / "UndoData.ini"))
        return false;

    // Document 3: pages that carry postcard records, sides in Data/Standard.
    const fs::path doc3 = desk / "Doc000003";
    if (!MakeDir(doc3 / "Data" / "Standard"))
        return false;
    struct Card {
        const char* from;
        const char* kana;
        const char* address;
        const char* type;
        bool back;
    } cards[] = {{"佐藤　花子", "サトウ　ハナコ", "大阪府大阪市北区梅田２－２－２", "年賀状", true},
                 {"鈴木　一郎", "スズキ　イチロウ", "北海道札幌市中央区北一条３－３", "暑中見舞い", true},
                 {"高橋　次郎", "タカハシ　ジロウ", "福岡県福岡市博多区博多駅前４－４", "喪中はがき", false}};
    std::string list;
    int id = 0;
    for (const Card& card : cards) {
        ++id;
        const std::string f1 = Fmt("H%04d_1.pdf", id),
                          f2 = card.back ? Fmt("H%04d_2.pdf", id) : std::string();
        PdfPage cf = CardFront(card.from, card.address, Fmt("%07d", 1000000 + id * 1111));
        PdfPage cb = CardBack(40 + static_cast<unsigned>(id));
        if (!WritePdf((doc3 / "Data" / "Standard" / f1).string(), {cf}))
            return false;
        if (card.back && !WritePdf((doc3 / "Data" / "Standard" / f2).string(), {cb}))
            return false;
        std::vector<PdfPage> merged{cf};
        if (card.back)
            merged.push_back(cb);
        if (!WritePdf((doc3 / "Data" / Fmt("Data%d.pdf", id)).string(), merged))
            return false;
        Ini dat;
        dat.Section("PageInfo");
        dat.Key("Page1Flag", 0);
        dat.Key("Page1HagakiFrom", card.from);
        dat.Key("Page1HagakiFromkana", card.kana);
        // Well-formed lot numbers (stored full-width, as the work desk writes
        // them), except the third card's, which shows the red case.
        static const char* const kNumbers[] = {"２０２４組００００００１", "２０２４組００００００２",
                                               "0003"};
        dat.Key("Page1HagakiNumber", kNumbers[id - 1]);
        dat.Key("Page1HagakiYear", "2024");
        dat.Key("Page1HagakiType", card.type);
        dat.Key("Page1HagakiMemo", id == 1 ? "返信済み" : "");
        dat.Key("Page1HagakiFile1", f1);
        dat.Key("Page1HagakiFile2", f2);
        if (id == 1) {
            dat.Section("EditInfo");
            dat.Key("Item1", "highlight,#FFE000,40,25,320,230,22");
        }
        if (!dat.Write(doc3 / "Data" / Fmt("Data%d.dat", id)))
            return false;
        list += (list.empty() ? "" : ",") + std::to_string(id);
    }
    Ini doc3dat;
    doc3dat.Section("DocInfo");
    doc3dat.Key("PageTotal", id);
    doc3dat.Key("IndexTotal", 0);
    doc3dat.Key("DocName", "はがき　２０２４");
    doc3dat.Key("MaxPageID", id);
    doc3dat.Key("PageIDList", list);
    if (!doc3dat.Write(doc3 / "Doc.dat"))
        return false;

    // Document 9: a long document for benchmarks.
    if (longPages > 0) {
        std::vector<PageDef> d9;
        for (int i = 1; i <= longPages; ++i) {
            PageDef p{i, 0, {}, {}};
            switch (i % 3) {
                case 0:
                    p.pdf = ScanPage(static_cast<unsigned>(100 + i % 7));
                    break;
                case 1:
                    p.pdf = TextPage(Fmt("長い文書 %d", i), TextLines(6), static_cast<unsigned>(i));
                    break;
                default:
                    p.pdf = i % 2 ? LandscapePage() : TextPage("報告書", TextLines(4), 3);
                    break;
            }
            if (i % 5 == 0)
                p.editInfo = {"highlight,#FFE000,40,60,120,300,26", "text,#D01010,14,310,40,確認"};
            d9.push_back(std::move(p));
        }
        if (!WriteDocument(desk, 9, "長い文書（ベンチマーク用）", d9))
            return false;
    }
    return true;
}

}  // namespace ovsample
