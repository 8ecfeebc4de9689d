// SPDX-License-Identifier: AGPL-3.0-or-later
// MuPDF's context for each thread: the base context with its locks, the clone
// per thread (and a second family of both for drawing the edit information),
// MuPDF's warnings and errors to the trace log, the reason of the thread's last
// error, the cancel of a render, the thread's Japanese font, and MuPDF's
// allocator.
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "base/Trace.h"
#include "image/LargeBuffer.h"
#include "image/MuPdfInternal.h"

namespace ov::image::detail {
namespace {

// MuPDF's own reason for the last error of this thread.
thread_local std::string t_lastReason;

void OnMuPdfWarning(void*, const char* message) {
    OV_TRACE_TEXT("MuPDF warning: %s\n", message);
}
void OnMuPdfError(void*, const char* message) {
    OV_TRACE_TEXT("MuPDF error: %s\n", message);
    t_lastReason = message != nullptr ? message : "";
}

// MuPDF across threads: one base context made once with a lock set, and a
// clone of it for every thread that uses the library (the clones share the base
// context's store of decoded images and glyphs under its locks). No MuPDF object
// is ever handed from one thread to another. The base context is kept until the
// process ends (the clones of threads still running need it).
// A lock set is an array of FZ_LOCK_MAX mutexes, passed as the user pointer.
void LockMuPdf(void* locks, int lock) {
    static_cast<std::mutex*>(locks)[lock].lock();
}
void UnlockMuPdf(void* locks, int lock) {
    static_cast<std::mutex*>(locks)[lock].unlock();
}
std::mutex g_locks[FZ_LOCK_MAX];
fz_locks_context g_lockContext = {g_locks, LockMuPdf, UnlockMuPdf};

// MuPDF's memory: a block of 1 MB or more (a decoded scan, a large pixmap) is
// mapped with huge pages and given back when freed, so that a fresh decoded
// image costs a handful of page faults instead of one every 4 KB.
void* MuPdfMalloc(void*, std::size_t bytes) {
    return MallocMixed(bytes);
}
void* MuPdfRealloc(void*, void* p, std::size_t bytes) {
    return ReallocMixed(p, bytes);
}
void MuPdfFree(void*, void* p) {
    FreeMixed(p);
}
fz_alloc_context g_allocContext = {nullptr, MuPdfMalloc, MuPdfRealloc, MuPdfFree};

// MuPDF's cache of decoded images and glyphs, shared by the threads: a page is
// rendered once and then kept as a page image, so a modest cache does.
constexpr std::size_t kStoreBytes = 64u << 20;

// The edit information's text is drawn in a context family of its own. MuPDF
// empties the whole glyph cache of a context family whenever it closes a PDF,
// that is after every page: in the pages' family the notes' glyphs would be
// rendered anew for every page. This family never opens a document, so its
// glyph cache keeps them (within MuPDF's fixed size of it). Its store holds
// nothing else.
std::mutex g_notesLocks[FZ_LOCK_MAX];
fz_locks_context g_notesLockContext = {g_notesLocks, LockMuPdf, UnlockMuPdf};
constexpr std::size_t kNotesStoreBytes = 1u << 20;

fz_context* NewBaseContext(fz_locks_context* locks, std::size_t storeBytes) {
    fz_context* ctx = fz_new_context(&g_allocContext, locks, storeBytes);
    if (ctx == nullptr) {
        OV_TRACE("fz_new_context() Error!\n");
        return nullptr;
    }
    fz_set_warning_callback(ctx, OnMuPdfWarning, nullptr);
    fz_set_error_callback(ctx, OnMuPdfError, nullptr);
    return ctx;
}

fz_context* BaseContext() {
    static fz_context* s_base = NewBaseContext(&g_lockContext, kStoreBytes);
    return s_base;
}

fz_context* NotesBaseContext() {
    static fz_context* s_base = NewBaseContext(&g_notesLockContext, kNotesStoreBytes);
    return s_base;
}

struct ContextHolder {
    fz_context* ctx = nullptr;
    fz_font* font = nullptr;  // the built-in Japanese font, loaded on first use
    bool fontTried = false;
    ~ContextHolder() {
        if (ctx != nullptr) {
            fz_drop_font(ctx, font);
            fz_drop_context(ctx);
        }
    }
};
thread_local ContextHolder t_mu;
thread_local ContextHolder t_notes;
thread_local fz_cookie* t_cookie = nullptr;  // the cancel of the thread's current render (not owned)

fz_context* ThreadContext(ContextHolder* holder, fz_context* base) {
    if (holder->ctx == nullptr) {
        if (base == nullptr)
            return nullptr;
        fz_context* ctx = fz_clone_context(base);
        if (ctx == nullptr) {
            OV_TRACE("fz_clone_context() Error!\n");
            return nullptr;
        }
        fz_set_warning_callback(ctx, OnMuPdfWarning, nullptr);
        fz_set_error_callback(ctx, OnMuPdfError, nullptr);
        holder->ctx = ctx;
    }
    return holder->ctx;
}

}  // namespace

fz_context* Ctx() {
    return ThreadContext(&t_mu, BaseContext());
}

fz_context* NotesCtx() {
    fz_context* ctx = ThreadContext(&t_notes, NotesBaseContext());
    return ctx != nullptr ? ctx : Ctx();
}

// Whether the thread's current render was cancelled (the flag is set from
// another thread, RenderCancel::Cancel).
bool Cancelled() {
    return t_cookie != nullptr && __atomic_load_n(&t_cookie->abort, __ATOMIC_RELAXED) != 0;
}

int CaughtCode(fz_context* ctx, int otherwise) {
    return fz_caught(ctx) == FZ_ERROR_MEMORY ? kErrMemory : otherwise;
}

fz_cookie* CurrentCookie() {
    return t_cookie;
}

void SetLastReason(const char* reason) {
    t_lastReason = reason;
}

fz_font* JapaneseFont(fz_context* ctx) {
    // Each context family has its own: MuPDF objects never cross families.
    ContextHolder& holder = ctx == t_notes.ctx ? t_notes : t_mu;
    if (!holder.fontTried) {
        holder.fontTried = true;
        fz_try(ctx) {
            holder.font = fz_new_cjk_font(ctx, FZ_ADOBE_JAPAN);
        }
        fz_catch(ctx) {
            OV_TRACE("fz_new_cjk_font() Error! [MuPDF] %s\n", fz_caught_message(ctx));
            holder.font = nullptr;
        }
    }
    return holder.font;
}

}  // namespace ov::image::detail

namespace ov::image {

using namespace detail;

struct RenderCancel::Impl {
    fz_cookie cookie{};
};

RenderCancel::RenderCancel() : m_impl(std::make_unique<Impl>()) {}
RenderCancel::~RenderCancel() = default;

void RenderCancel::Cancel() {
    // MuPDF polls the cookie's abort flag while it draws; this is its way of
    // being stopped from another thread.
    __atomic_store_n(&m_impl->cookie.abort, 1, __ATOMIC_RELAXED);
}

bool RenderCancel::IsCancelled() const {
    return __atomic_load_n(&m_impl->cookie.abort, __ATOMIC_RELAXED) != 0;
}

ScopedRenderCancel::ScopedRenderCancel(RenderCancel* cancel) : m_previous(t_cookie) {
    t_cookie = cancel != nullptr ? &cancel->m_impl->cookie : nullptr;
}

ScopedRenderCancel::~ScopedRenderCancel() {
    t_cookie = static_cast<fz_cookie*>(m_previous);
}

std::string LastErrorReason() {
    return t_lastReason;
}

void ClearLastErrorReason() {
    t_lastReason.clear();
}

void EmptyCaches() {
    if (t_mu.ctx != nullptr)
        fz_empty_store(t_mu.ctx);
}

}  // namespace ov::image
