// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image writer: the row encoding and its hash in one pass, written to
// a temporary file beside the target (on a helper thread while the page is
// drawn) and renamed over it. The format is described in ThmFormat.h.
#include "image/ThmFile.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "base/Trace.h"
#include "image/FileUtil.h"
#include "image/MuPdf.h"
#include "image/ThmFormat.h"

namespace ov::image {

using namespace thm;

namespace {

inline bool SamePixel(const std::uint8_t* a, const std::uint8_t* b) {
    return a[0] == b[0] && a[1] == b[1] && a[2] == b[2];
}

// Whether the 16 bytes at p each equal the byte three before (one pixel earlier).
inline bool Repeats16(const std::uint8_t* p) {
#if defined(__SSE2__)
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 3));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(a, b)) == 0xFFFF;
#else
    return std::memcmp(p, p - 3, 16) == 0;
#endif
}

// XXH64 (seed 0) over pieces, as if they were one block.
class Hasher {
public:
    void Update(const std::uint8_t* p, std::size_t n) {
        total_ += n;
        if (fill_ + n < 32) {
            std::memcpy(buf_ + fill_, p, n);
            fill_ += n;
            return;
        }
        if (fill_ > 0) {
            const std::size_t k = 32 - fill_;
            std::memcpy(buf_ + fill_, p, k);
            Stripes(buf_, 32);
            p += k;
            n -= k;
            fill_ = 0;
        }
        const std::size_t whole = n / 32 * 32;
        Stripes(p, whole);
        std::memcpy(buf_, p + whole, n - whole);
        fill_ = n - whole;
    }
    std::uint64_t Digest() const {
        std::uint64_t h = P5;
        if (total_ >= 32) {
            h = Rotl(v_[0], 1) + Rotl(v_[1], 7) + Rotl(v_[2], 12) + Rotl(v_[3], 18);
            for (std::uint64_t v : v_) h = Merge(h, v);
        }
        return Finish(h + total_, buf_, buf_ + fill_);
    }

private:
    void Stripes(const std::uint8_t* p, std::size_t n) {
        std::uint64_t v1 = v_[0], v2 = v_[1], v3 = v_[2], v4 = v_[3];
        for (const std::uint8_t* end = p + n; p < end; p += 32) {
            v1 = Round(v1, Read64(p));
            v2 = Round(v2, Read64(p + 8));
            v3 = Round(v3, Read64(p + 16));
            v4 = Round(v4, Read64(p + 24));
        }
        v_[0] = v1, v_[1] = v2, v_[2] = v3, v_[3] = v4;
    }
    std::uint64_t v_[4] = {P1 + P2, P2, 0, 0 - P1};
    std::uint8_t buf_[32] = {};
    std::size_t fill_ = 0;
    std::uint64_t total_ = 0;
};

// Literal stretches of at least this many bytes are written from the image
// itself; shorter ones are copied next to the record headers.
constexpr std::size_t kInPlaceBytes = 512;

// The encoded bytes as pieces for one writev: record headers, runs and short
// literals in a scratch buffer, long literals where they lie in the image.
class Pieces {
public:
    Pieces(std::uint8_t* scratch, std::vector<iovec>* parts) : o_(scratch), parts_(parts) { parts_->clear(); }
    std::uint8_t* Cursor() { return o_; }
    struct Mark {
        std::uint8_t* o;
        std::size_t parts, lastLen;
    };
    Mark Here() const { return {o_, parts_->size(), parts_->empty() ? 0 : parts_->back().iov_len}; }
    // Drops what was added since the mark.
    void Back(const Mark& m) {
        o_ = m.o;
        parts_->resize(m.parts);
        if (!parts_->empty())
            parts_->back().iov_len = m.lastLen;
    }
    // Everything added so far counts as hashed (the file header, hashed apart).
    void SkipHash() {
        hashedPart_ = parts_->empty() ? 0 : parts_->size() - 1;
        hashedBytes_ = parts_->empty() ? 0 : parts_->back().iov_len;
    }
    // Hashes what was added since the last call, while it is still in the cache.
    void HashNew(Hasher* hasher) {
        for (std::size_t i = hashedPart_; i < parts_->size(); ++i) {
            const iovec& v = (*parts_)[i];
            const std::size_t from = i == hashedPart_ ? hashedBytes_ : 0;
            hasher->Update(static_cast<const std::uint8_t*>(v.iov_base) + from, v.iov_len - from);
        }
        SkipHash();
    }
    // The k bytes just put at Cursor().
    void Put(std::size_t k) {
        Add(o_, k);
        o_ += k;
    }
    void Record(std::uint8_t tag, int n) {
        o_[0] = tag;
        o_[1] = static_cast<std::uint8_t>(n);
        o_[2] = static_cast<std::uint8_t>(n >> 8);
        Put(3);
    }
    void Literal(const std::uint8_t* p, int n) {
        Record(kLiteral, n);
        const std::size_t bytes = static_cast<std::size_t>(n) * 3;
        if (bytes >= kInPlaceBytes) {
            Add(p, bytes);
        } else {
            std::memcpy(o_, p, bytes);
            Put(bytes);
        }
    }

private:
    __attribute__((always_inline)) void Add(const std::uint8_t* p, std::size_t k) {
        if (!parts_->empty() &&
            static_cast<const std::uint8_t*>(parts_->back().iov_base) + parts_->back().iov_len == p)
            parts_->back().iov_len += k;
        else
            parts_->push_back({const_cast<std::uint8_t*>(p), k});
    }
    std::uint8_t* o_;
    std::vector<iovec>* parts_;
    std::size_t hashedPart_ = 0, hashedBytes_ = 0;
};

// Many copies of one pixel, to follow a long run with memcmp.
constexpr int kPatternPixels = 128;
struct Pattern {
    std::uint8_t bytes[kPatternPixels * 3];
    bool valid = false;
};

// One row of w pixels as 'L' and 'R' records. Runs are looked for in steps of
// 16 bytes, so a row without runs (a scan) costs one compare per 16 bytes. A
// row whose runs cover less than a quarter of it is written as one literal,
// which a reader uses where it lies instead of copying it.
void EncodeRow(const std::uint8_t* row, int w, Pieces* out, Pattern* pattern) {
    const int n = w * 3;
    const Pieces::Mark start = out->Here();
    int inRuns = 0;
    int lit = 0;  // first pixel not yet in a record
    int i = 3;    // next byte compared with the byte one pixel before
    while (i + 16 <= n) {
        if (!Repeats16(row + i)) {
            i += 16;
            continue;
        }
        // Pixel q lies inside the 16 bytes, so it equals pixel q - 1.
        const int q = i / 3 + 1;
        const std::uint8_t* v = row + 3 * q;
        int s = q - 1;
        while (s > lit && SamePixel(row + 3 * (s - 1), v)) --s;
        int b = 3 * q + 3, steps = 0;
        while (b + 16 <= n && steps < 4 && Repeats16(row + b)) b += 16, ++steps;
        int e = b / 3;
        if (steps == 4) {
            // A long run: compare with many copies of the pixel, then go on in steps of 16 bytes.
            if (!pattern->valid || !SamePixel(pattern->bytes, v)) {
                FillPixels(pattern->bytes, v, kPatternPixels);
                pattern->valid = true;
            }
            while (w - e >= kPatternPixels &&
                   std::memcmp(row + 3 * e, pattern->bytes, sizeof pattern->bytes) == 0)
                e += kPatternPixels;
            b = 3 * e;
            while (b + 16 <= n && Repeats16(row + b)) b += 16;
            e = b / 3;
        }
        while (e < w && SamePixel(row + 3 * e, v)) ++e;
        if (e - s < kMinRun) {
            i += 16;
            continue;
        }
        if (s > lit)
            out->Literal(row + 3 * lit, s - lit);
        out->Record(kRun, e - s);
        std::memcpy(out->Cursor(), v, 3);
        out->Put(3);
        inRuns += e - s;
        lit = e;
        i = 3 * e + 3;
    }
    if (inRuns * 4 < w) {
        out->Back(start);
        lit = 0;
    }
    if (w > lit)
        out->Literal(row + 3 * lit, w - lit);
}

// What the encoding of one image carries from one call to the next.
struct EncodeState {
    Pattern pattern;
    // A run of copied rows left for the next call: from row runAt, runRows
    // rows are known to equal the row above runAt (not compared again).
    int runAt = -1;
    int runRows = 0;
};

// Encodes rows [y, yEnd) of the h rows of the image as pieces (scratch has room
// for MaxEncodedBytes) and hashes them in the same pass, each row's records
// right after the row. Returns the first row not encoded: a run of copied rows
// that reaches yEnd above the image's end is left for the next call, so that
// the records are the same however the rows arrive.
int EncodeRows(const std::uint8_t* px, int w, int h, int y, int yEnd, Pieces* out, Hasher* hasher,
               EncodeState* state) {
    const std::size_t stride = static_cast<std::size_t>(w) * 3;
    while (y < yEnd) {
        const std::uint8_t* row = px + stride * y;
        if (y > 0) {
            int same = state->runAt == y ? std::min(state->runRows, yEnd - y) : 0;
            while (y + same < yEnd && same < 65535 &&
                   std::memcmp(row + stride * same, row - stride, stride) == 0)
                ++same;
            if (same > 0 && same < 65535 && y + same == yEnd && yEnd < h) {
                state->runAt = y;  // the run may go on in rows not drawn yet
                state->runRows = same;
                return y;
            }
            if (same > 0) {
                out->Record(kCopyRows, same);
                out->HashNew(hasher);
                y += same;
                continue;
            }
        }
        EncodeRow(row, w, out, &state->pattern);
        out->HashNew(hasher);
        ++y;
    }
    return y;
}

// Memory for the header and the encoded bytes of a file being written, kept
// per thread so that fresh pages are not faulted in for every page image.
struct Scratch {
    LargeArray<std::uint8_t> data;
    std::size_t capacity = 0;
    std::vector<iovec> parts;
    std::uint8_t* Get(std::size_t need) {
        if (capacity < need) {
            data.reset();
            capacity = 0;
            data = MakeLargeArray<std::uint8_t>(need, false);  // written only as far as the records go
            if (data)
                capacity = need;
        }
        return data.get();
    }
};
thread_local Scratch t_scratch;

}  // namespace

void thm::ReleaseWriterScratch() {
    t_scratch = Scratch{};
}

// The helper's nice value: on two cores its encoding of the start's first page
// otherwise delays the window's first paint by about as much as it saves.
constexpr int kHelperNice = 10;

// Rows encoded at a time by the helper between looks at what has been drawn.
constexpr std::size_t kEncodeChunkBytes = 256 * 1024;

namespace {

std::mutex g_helperHookMutex;
std::function<void(int)> g_helperHook;

void CallHelperHook(int yEnd) {
    std::function<void(int)> hook;
    {
        std::lock_guard<std::mutex> lk(g_helperHookMutex);
        hook = g_helperHook;
    }
    if (hook)
        hook(yEnd);
}

// A thread kept beside each drawing thread for the writers begun there: made
// at its first page image, joined when the drawing thread ends. A thread made
// for each page waited up to 5 ms before it first ran (it starts on its
// maker's busy core), by which time the page was drawn; a thread kept waiting
// is woken on the idle core at once.
class HelperThread {
public:
    HelperThread() = default;
    HelperThread(const HelperThread&) = delete;
    HelperThread& operator=(const HelperThread&) = delete;
    ~HelperThread() {
        if (!m_thread.joinable())
            return;
        {
            std::lock_guard<std::mutex> lk(m_lock);
            m_quit = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    // Runs task there; false when a task still runs or no thread can be had.
    bool Start(std::function<void()> task) {
        {
            std::lock_guard<std::mutex> lk(m_lock);
            if (m_busy)
                return false;
        }
        if (!m_thread.joinable()) {
            try {
                m_thread = std::thread([this] { Loop(); });
            } catch (const std::system_error&) {
                return false;
            }
        }
        {
            std::lock_guard<std::mutex> lk(m_lock);
            m_task = std::move(task);
            m_busy = true;
        }
        m_wake.notify_one();
        return true;
    }
    // Until the task has returned.
    void Wait() {
        std::unique_lock<std::mutex> lk(m_lock);
        m_done.wait(lk, [this] { return !m_busy; });
    }

private:
    void Loop() {
        // Work for later: the drawing, the window and the display come first
        // (the nice value is the thread's own on Linux).
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), kHelperNice);
        std::unique_lock<std::mutex> lk(m_lock);
        for (;;) {
            m_wake.wait(lk, [this] { return m_quit || m_task; });
            if (!m_task)
                return;
            std::function<void()> task = std::move(m_task);
            m_task = nullptr;
            lk.unlock();
            task();
            task = nullptr;
            lk.lock();
            m_busy = false;
            m_done.notify_all();
        }
    }
    std::mutex m_lock;
    std::condition_variable m_wake, m_done;
    std::function<void()> m_task;
    bool m_busy = false;
    bool m_quit = false;
    std::thread m_thread;
};

// The calling thread's helper. A child forked while it ran has a copy without
// its thread (and perhaps with its lock held): left alone, and a new one made.
HelperThread& ThisThreadsHelper() {
    thread_local std::unique_ptr<HelperThread> t_helper;
    thread_local pid_t t_pid = 0;
    if (t_helper && t_pid != ::getpid())
        static_cast<void>(t_helper.release());
    if (!t_helper) {
        t_helper = std::make_unique<HelperThread>();
        t_pid = ::getpid();
    }
    return *t_helper;
}

}  // namespace

// The writer's state. Encoding and writing run either on the caller's thread,
// inside Rows, or on the drawing thread's helper (Begin with onHelper), which
// follows the rows drawn while the caller goes on drawing. In that case only
// the helper touches the encoding state between Begin and the end of its task;
// the follower is shared with the caller under followLock.
struct ThmWriter::State {
    std::optional<Pieces> pieces;
    Hasher hasher;
    EncodeState encoding;
    std::vector<iovec>* parts = nullptr;
    const std::uint8_t* pixels = nullptr;
    int width = 0, height = 0;
    int done = 0;     // rows encoded
    int encoded = 0;  // rows handed to the encoder (a run of copied rows may wait at their end)
    // The temporary file, and how much of the pieces it holds (the header's
    // room stays zero until the end). It is made by the helper, off the
    // drawing thread (at its start, or once the page is drawn when the rows
    // are followed), else in Begin.
    std::string path;
    TempFile tmp;
    bool created = false;
    int createResult = kOk;
    std::size_t writtenPart = 0, writtenInPart = kThmHeaderSize;
    off_t fileBytes = kThmHeaderSize;
    int writeErrno = 0;
    bool memoryShort = false;
    // Who follows the rows, and how far it has been handed them: the helper,
    // or the caller that finds it behind once the drawing is done.
    std::function<void(int)> follow;
    std::mutex followLock;
    bool followFailed = false;  // under followLock
    std::atomic<int> seen{0};   // written under followLock
    // The helper: how far the image is drawn, and whether to give up.
    std::mutex lock;
    std::condition_variable wake;
    int drawn = 0;
    bool stop = false;
    HelperThread* helper = nullptr;  // running HelperLoop

    bool Failed() const { return createResult != kOk || writeErrno != 0 || memoryShort; }

    void CreateFile() {
        if (!created)
            createResult = tmp.Create(path, true);
        created = true;
    }

    // Hands the rows up to yEnd to the follower, then encodes them and writes
    // what is new to the temporary file.
    void Advance(int yEnd) {
        FollowTo(yEnd);
        EncodeTo(yEnd);
    }

    // Returns false when the follower failed (ran out of memory).
    bool FollowTo(int yEnd) {
        std::lock_guard<std::mutex> lk(followLock);
        yEnd = std::min(yEnd, height);
        if (yEnd > seen.load(std::memory_order_relaxed)) {
            CallFollower(yEnd);
            seen.store(yEnd, std::memory_order_relaxed);
        }
        return !followFailed;
    }

    // Under followLock: a follower that ran out of memory is not called again.
    void CallFollower(int yEnd) {
        if (!follow || followFailed)
            return;
        try {
            follow(yEnd);
        } catch (const std::bad_alloc&) {
            followFailed = true;
        }
    }

    // Encodes the rows up to yEnd (all drawn) and writes what is new (making
    // the temporary file first).
    void EncodeTo(int yEnd) {
        yEnd = std::min(yEnd, height);
        if (yEnd > encoded) {
            encoded = yEnd;
            if (Failed())
                return;
            try {
                done = EncodeRows(pixels, width, height, done, yEnd, &*pieces, &hasher, &encoding);
            } catch (const std::bad_alloc&) {
                memoryShort = true;
                return;
            }
        }
        CreateFile();
        if (!Failed())
            Flush();
    }

    void Flush() {
        iovec batch[64];
        for (;;) {
            if (writtenPart + 1 >= parts->size() && writtenInPart >= parts->back().iov_len)
                return;  // all written; the last piece may still grow
            int count = 0;
            for (std::size_t i = writtenPart; i < parts->size() && count < 64; ++i, ++count) {
                batch[count] = (*parts)[i];
                if (i == writtenPart) {
                    batch[count].iov_base = static_cast<std::uint8_t*>(batch[count].iov_base) + writtenInPart;
                    batch[count].iov_len -= writtenInPart;
                }
            }
            const ssize_t n = ::pwritev(tmp.Fd(), batch, count, fileBytes);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                writeErrno = n < 0 ? errno : ENOSPC;
                return;
            }
            fileBytes += n;
            for (auto left = static_cast<std::size_t>(n); left > 0;) {
                const std::size_t inPart = (*parts)[writtenPart].iov_len - writtenInPart;
                const std::size_t k = std::min(left, inPart);
                writtenInPart += k;
                left -= k;
                if (writtenInPart == (*parts)[writtenPart].iov_len && writtenPart + 1 < parts->size()) {
                    ++writtenPart;
                    writtenInPart = 0;
                }
            }
        }
    }

    // New rows go to the follower as they are drawn. While it follows (a view
    // waits for the page), nothing is encoded before the whole page is drawn:
    // the helper is then always ready for the next rows, and at the end of the
    // drawing only the last band is left to scale. Without a follower the
    // encoding goes on a piece at a time as the rows come.
    void HelperLoop() {
        // Made ready while the first rows are drawn: the follower (its memory)
        // when there is one, else the temporary file.
        if (follow) {
            std::lock_guard<std::mutex> lk(followLock);
            CallFollower(0);
        } else {
            CreateFile();
        }
        const int chunk =
            std::max(8, static_cast<int>(kEncodeChunkBytes / (static_cast<std::size_t>(width) * 3)));
        std::unique_lock<std::mutex> lk(lock);
        for (;;) {
            wake.wait(lk, [this] {
                return stop || drawn > seen.load() || (encoded < drawn && (!follow || drawn >= height));
            });
            if (stop)
                break;
            const int yEnd = drawn;
            lk.unlock();
            if (yEnd > seen.load()) {
                FollowTo(yEnd);
            } else {
                const int to = std::min(yEnd, encoded + chunk);
                CallHelperHook(to);
                EncodeTo(to);
            }
            lk.lock();
            if (encoded >= height)
                break;
        }
    }

    // Stops the helper (its work is wanted no more) and waits for it.
    void StopHelper() {
        if (helper == nullptr)
            return;
        {
            std::lock_guard<std::mutex> lk(lock);
            stop = true;
        }
        wake.notify_one();
        WaitHelper();
    }

    void WaitHelper() {
        if (helper != nullptr)
            helper->Wait();
        helper = nullptr;
    }
};

ThmWriter::ThmWriter() = default;
ThmWriter::~ThmWriter() {
    if (m_state)
        m_state->StopHelper();
}

int ThmWriter::Open(const std::string& fsPath) {
    if (m_state)
        m_state->StopHelper();
    m_state = std::make_unique<State>();
    m_state->path = fsPath;
    return kOk;
}

int ThmWriter::Begin(const ThmImage& image, bool onHelper, std::function<void(int yEnd)> follow) {
    State* st = m_state.get();
    if (st == nullptr || st->pieces || image.width < 1 || image.height < 1 || image.width > kMaxSide ||
        image.height > kMaxSide || !image.buffer || image.stride != image.width * 3 ||
        image.capacity < kThmHeaderSize + image.PixelBytes()) {
        OV_TRACE("WriteThm() Parameter Error! [Width] %d [Height] %d\n", image.width, image.height);
        return kErrArgument;
    }
    // The header, then the records, in scratch memory that is reused page after page.
    std::uint8_t* header =
        t_scratch.Get(kThmHeaderSize + MaxEncodedBytes(static_cast<std::size_t>(image.width), image.height));
    if (header == nullptr) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", image.width, image.height);
        return kErrMemory;
    }
    st->parts = &t_scratch.parts;
    st->pieces.emplace(header, st->parts);
    st->pieces->Put(kThmHeaderSize);
    st->pieces->SkipHash();  // the header's own bytes are not hashed
    st->pixels = image.Pixels();
    st->width = image.width;
    st->height = image.height;
    st->follow = std::move(follow);
    // Without a helper to be had the rows are encoded here instead.
    if (onHelper) {
        HelperThread& helper = ThisThreadsHelper();
        if (helper.Start([st] { st->HelperLoop(); })) {
            st->helper = &helper;
            return kOk;
        }
    }
    st->CreateFile();
    return st->createResult;
}

void ThmWriter::Rows(int yEnd) {
    State* st = m_state.get();
    if (st == nullptr || !st->pieces)
        return;
    if (st->helper == nullptr) {
        st->Advance(yEnd);
        return;
    }
    {
        std::lock_guard<std::mutex> lk(st->lock);
        st->drawn = std::max(st->drawn, std::min(yEnd, st->height));
    }
    st->wake.notify_one();
}

bool ThmWriter::FollowAll() {
    State* st = m_state.get();
    if (st == nullptr || !st->pieces)
        return false;
    // Whatever the helper has not handed on yet is handed on here, at once:
    // the helper may be busy encoding or writing.
    return st->FollowTo(st->height);
}

int ThmWriter::Write(ThmImage&& image, const BeforePlace& beforePlace) {
    State* st = m_state.get();
    if (st == nullptr || !st->pieces || st->pixels != image.Pixels() || st->width != image.width ||
        st->height != image.height) {
        OV_TRACE("WriteThm() Parameter Error! [Width] %d [Height] %d\n", image.width, image.height);
        return kErrArgument;
    }
    Rows(image.height);
    st->WaitHelper();  // it ends once every row is written, or at a failure
    st->Advance(image.height);
    if (st->createResult != kOk)
        return st->createResult;
    if (st->memoryShort) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", image.width, image.height);
        return kErrMemory;
    }
    std::uint8_t header[kThmHeaderSize] = {};
    std::memcpy(header, kMagic, 8);
    Put32(header + 8, kVersion);
    Put32(header + 12, kThmHeaderSize);
    Put32(header + 16, static_cast<std::uint32_t>(image.width));
    Put32(header + 20, static_cast<std::uint32_t>(image.height));
    Put32(header + 24, static_cast<std::uint32_t>(image.stride));
    Put32(header + 28, kFormatRgb24);
    Put64(header + 32, static_cast<std::uint64_t>(st->fileBytes) - kThmHeaderSize);
    Put64(header + 40, st->hasher.Digest());
    Put32(header + 48, kEncodingRows);
    Put32(header + 60, static_cast<std::uint32_t>(Hash64(header, 60)));
    for (;;) {
        if (st->writeErrno != 0)
            break;
        const ssize_t n = ::pwrite(st->tmp.Fd(), header, kThmHeaderSize, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n != static_cast<ssize_t>(kThmHeaderSize))
            st->writeErrno = n < 0 ? errno : ENOSPC;
        break;
    }
    if (st->writeErrno != 0) {
        OV_TRACE("write() Error! [Path] %s [errno] %d\n", st->tmp.Path().c_str(), st->writeErrno);
        return kErrWrite;
    }
    struct stat written;
    if (::fstat(st->tmp.Fd(), &written) != 0) {
        OV_TRACE("fstat() Error! [Path] %s [errno] %d\n", st->tmp.Path().c_str(), errno);
        return kErrWrite;
    }
    int r = kOk;
    if (beforePlace) {
        if ((r = st->tmp.Close()) != kOk || (r = beforePlace(st->tmp.Path())) != kOk)
            return r;
    }
    if ((r = st->tmp.Commit()) != kOk)
        return r;
    const std::string fsPath = std::move(st->path);
    m_state.reset();
    // Hand the pixels to the next read of this file, when the file in place is
    // still the one just written (the rename may have changed its change time).
    FileStamp now;
    const FileStamp before = FileStamp::Of(written);
    if (StampOfPath(fsPath, &now) && now.dev == before.dev && now.ino == before.ino &&
        now.size == before.size && now.mtime.tv_sec == before.mtime.tv_sec &&
        now.mtime.tv_nsec == before.mtime.tv_nsec)
        KeepWritten(fsPath, now, std::move(image));
    return kOk;
}

void SetThmWriterTestHook(std::function<void(int yEnd)> hook) {
    std::lock_guard<std::mutex> lk(g_helperHookMutex);
    g_helperHook = std::move(hook);
}

int WriteThm(const std::string& fsPath, ThmImage&& image, const BeforePlace& beforePlace) {
    ThmWriter writer;
    int r = writer.Open(fsPath);
    if (r == kOk)
        r = writer.Begin(image, false);
    return r != kOk ? r : writer.Write(std::move(image), beforePlace);
}

int WriteThm(const std::string& fsPath, int width, int height, int stride, const std::uint8_t* rgb) {
    if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || rgb == nullptr ||
        stride < width * 3) {
        OV_TRACE("WriteThm() Parameter Error! [Width] %d [Height] %d\n", width, height);
        return kErrArgument;
    }
    ThmImage image;
    if (!image.Allocate(width, height)) {
        OV_TRACE("Page image memory Error! [Width] %d [Height] %d\n", width, height);
        return kErrMemory;
    }
    for (int y = 0; y < height; ++y)
        std::memcpy(image.Pixels() + static_cast<std::size_t>(image.stride) * y,
                    rgb + static_cast<std::size_t>(stride) * y, image.stride);
    return WriteThm(fsPath, std::move(image));
}

}  // namespace ov::image
