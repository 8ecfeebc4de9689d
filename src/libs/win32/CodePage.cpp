// SPDX-License-Identifier: AGPL-3.0-or-later
// CP932 <-> UTF-8 through iconv, and the half-width/full-width mapping through
// ICU's transliterators on the UTF-8 form.
#include "win32/CodePage.h"

#include <iconv.h>
#include <unicode/translit.h>
#include <unicode/unistr.h>
#include <unicode/utypes.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

namespace {

// One converter per direction and thread, reset before each use.
class Converter {
public:
    Converter(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Converter() {
        if (m_cd != reinterpret_cast<iconv_t>(-1))
            iconv_close(m_cd);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Whole-input conversion; nullopt on any invalid or unconvertible sequence.
    std::optional<std::string> Convert(std::string_view in) {
        if (m_cd == reinterpret_cast<iconv_t>(-1))
            return std::nullopt;
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        std::string out;
        if (in.empty())
            return out;
        out.resize(in.size() * 4 + 16);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        std::size_t used = 0;
        while (srcLeft > 0) {
            char* dst = out.data() + used;
            std::size_t dstLeft = out.size() - used;
            std::size_t r = iconv(m_cd, &src, &srcLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (r != static_cast<std::size_t>(-1))
                continue;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            return std::nullopt;  // EILSEQ or EINVAL (truncated input)
        }
        out.resize(used);
        return out;
    }

private:
    iconv_t m_cd;
};

Converter& ToUtf8() {
    thread_local Converter c("UTF-8", "CP932");
    return c;
}

Converter& ToCp932() {
    thread_local Converter c("CP932", "UTF-8");
    return c;
}

bool IsTrailByte(unsigned char c) {
    return c >= 0x40 && c <= 0xFC && c != 0x7F;
}

}  // namespace

namespace ov {

std::optional<std::string> Cp932ToUtf8(std::string_view cp932) {
    return ToUtf8().Convert(cp932);
}

std::optional<std::string> Utf8ToCp932(std::string_view utf8) {
    return ToCp932().Convert(utf8);
}

std::string Cp932ToUtf8Lossy(std::string_view cp932) {
    if (auto whole = Cp932ToUtf8(cp932))
        return *whole;
    // Character by character: a lead byte with its trail, or one byte.
    std::string out;
    out.reserve(cp932.size() * 2);
    std::size_t i = 0;
    while (i < cp932.size()) {
        std::size_t n = Cp932CharLength(cp932, i);
        if (n == 2 && !IsTrailByte(static_cast<unsigned char>(cp932[i + 1])))
            n = 1;
        if (auto part = Cp932ToUtf8(cp932.substr(i, n))) {
            out += *part;
        } else {
            char hex[8];
            for (std::size_t k = 0; k < n; ++k) {
                std::snprintf(hex, sizeof(hex), "\\x%02X", static_cast<unsigned char>(cp932[i + k]));
                out += hex;
            }
        }
        i += n;
    }
    return out;
}

std::string Cp932ToUtf8Shown(std::string_view cp932, std::vector<std::string>* pUndecodable, bool* pExact) {
    if (pUndecodable != nullptr)
        pUndecodable->clear();
    if (auto whole = Cp932ToUtf8(cp932)) {
        if (pExact != nullptr)
            *pExact = Utf8ToCp932(*whole) == std::optional<std::string>(std::string(cp932));
        return *whole;
    }
    if (pExact != nullptr)
        *pExact = false;
    std::string out;
    out.reserve(cp932.size() * 3);
    std::size_t i = 0;
    while (i < cp932.size()) {
        const auto c = static_cast<unsigned char>(cp932[i]);
        // A lead byte takes a byte of the trail range with it, decodable or not;
        // without one it stands alone and the next byte is read afresh.
        const std::size_t n =
            IsDBCSLeadByte(c) && i + 1 < cp932.size() && IsTrailByte(static_cast<unsigned char>(cp932[i + 1]))
                ? 2
                : 1;
        const std::string_view ch = cp932.substr(i, n);
        if (auto part = (n == 1 && IsDBCSLeadByte(c)) ? std::nullopt : Cp932ToUtf8(ch)) {
            out += *part;
        } else {
            out += kReplacementUtf8;
            if (pUndecodable != nullptr)
                pUndecodable->emplace_back(ch);
        }
        i += n;
    }
    return out;
}

std::string FirstCharNotInCp932(std::string_view utf8, unsigned* codePoint) {
    if (codePoint != nullptr)
        *codePoint = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const std::size_t n = c < 0x80             ? 1
                              : (c & 0xE0) == 0xC0 ? 2
                              : (c & 0xF0) == 0xE0 ? 3
                              : (c & 0xF8) == 0xF0 ? 4
                                                   : 0;
        bool valid = n != 0 && i + n <= utf8.size();
        for (std::size_t k = 1; valid && k < n; ++k)
            valid = (static_cast<unsigned char>(utf8[i + k]) & 0xC0) == 0x80;
        if (!valid) {
            char hex[8];
            std::snprintf(hex, sizeof(hex), "\\x%02X", c);
            return hex;
        }
        const std::string_view ch = utf8.substr(i, n);
        if (!Utf8ToCp932(ch)) {
            if (codePoint != nullptr) {
                unsigned cp = n == 1 ? c : c & (0xFFu >> (n + 1));
                for (std::size_t k = 1; k < n; ++k)
                    cp = (cp << 6) | (static_cast<unsigned char>(ch[k]) & 0x3Fu);
                *codePoint = cp;
            }
            return std::string(ch);
        }
        i += n;
    }
    return std::string();
}

std::size_t Cp932CharLength(std::string_view text, std::size_t pos) {
    if (pos >= text.size())
        return 0;
    return IsDBCSLeadByte(static_cast<unsigned char>(text[pos])) && pos + 1 < text.size() ? 2 : 1;
}

std::size_t Cp932CutLength(std::string_view text, std::size_t maxBytes) {
    std::size_t n = 0;
    for (std::size_t len; (len = Cp932CharLength(text, n)) != 0 && n + len <= maxBytes;) n += len;
    return n;
}

}  // namespace ov

BOOL IsDBCSLeadByte(unsigned char c) {
    return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
}

namespace {

// The transliterators are built once and shared; ICU's transliterate() is not
// const, so calls are serialised.
std::mutex g_translitMutex;

icu::Transliterator* Transliterator(bool toHalf) {
    static std::unique_ptr<icu::Transliterator> half, full;
    std::unique_ptr<icu::Transliterator>& slot = toHalf ? half : full;
    if (!slot) {
        UErrorCode status = U_ZERO_ERROR;
        slot.reset(icu::Transliterator::createInstance(toHalf ? "Fullwidth-Halfwidth" : "Halfwidth-Fullwidth",
                                                       UTRANS_FORWARD, status));
        if (U_FAILURE(status))
            slot.reset();
    }
    return slot.get();
}

// Maps one UTF-8 text; nullopt when the transliterator is not available.
std::optional<std::string> MapUtf8(const std::string& utf8, bool toHalf) {
    std::lock_guard<std::mutex> lock(g_translitMutex);
    icu::Transliterator* t = Transliterator(toHalf);
    if (t == nullptr)
        return std::nullopt;
    icu::UnicodeString u = icu::UnicodeString::fromUTF8(utf8);
    t->transliterate(u);
    std::string out;
    u.toUTF8String(out);
    return out;
}

// Maps CP932 text. A character whose mapped form CP932 cannot hold keeps its
// own form (the platform leaves such characters alone too).
std::optional<std::string> MapCp932(std::string_view src, bool toHalf) {
    auto utf8 = ov::Cp932ToUtf8(src);
    if (!utf8)
        return std::nullopt;
    auto mapped = MapUtf8(*utf8, toHalf);
    if (!mapped)
        return std::nullopt;
    if (auto back = ov::Utf8ToCp932(*mapped))
        return back;
    // Rare: map character by character and keep what cannot come back.
    std::string out;
    std::size_t i = 0;
    while (i < src.size()) {
        const std::size_t n = ov::Cp932CharLength(src, i);
        std::string_view ch = src.substr(i, n);
        auto u = ov::Cp932ToUtf8(ch);
        std::optional<std::string> m = u ? MapUtf8(*u, toHalf) : std::nullopt;
        std::optional<std::string> b = m ? ov::Utf8ToCp932(*m) : std::nullopt;
        out += b ? *b : std::string(ch);
        i += n;
    }
    return out;
}

}  // namespace

int LCMapStringA(DWORD locale, DWORD flags, const char* src, int srcLen, char* dest, int destSize) {
    (void)locale;
    const bool toHalf = flags == LCMAP_HALFWIDTH;
    const bool toFull = flags == LCMAP_FULLWIDTH;
    if ((!toHalf && !toFull) || src == nullptr || srcLen == 0 || srcLen < -1 || destSize < 0 ||
        (destSize > 0 && dest == nullptr)) {
        SetLastError(EINVAL);
        return 0;
    }
    const bool withNul = srcLen == -1;
    std::string_view in(src, withNul ? std::strlen(src) : static_cast<std::size_t>(srcLen));
    std::optional<std::string> out;
    try {
        out = in.empty() ? std::string() : MapCp932(in, toHalf);
    } catch (...) {
        out.reset();
    }
    if (!out) {
        SetLastError(EILSEQ);
        return 0;
    }
    if (withNul)
        out->push_back('\0');
    const int needed = static_cast<int>(out->size());
    if (destSize == 0)
        return needed;
    if (needed > destSize) {
        SetLastError(ENOBUFS);
        return 0;
    }
    std::memcpy(dest, out->data(), out->size());
    return needed;
}
