// SPDX-License-Identifier: AGPL-3.0-or-later
#include "frame/PageWorkers.h"

#include <algorithm>
#include <chrono>

#include <QCoreApplication>
#include <QMetaObject>

namespace {
// Two workers: the wanted page and one neighbour, or both neighbours, at a time.
constexpr int kWorkers = 2;
}  // namespace

CPageWorkers::CPageWorkers(QObject* parent) : QObject(parent) {
    m_pool.setMaxThreadCount(kWorkers);
    // Kept for the session: each worker holds its MuPDF context and the helper
    // of its page-image writers, which a thread made after a pause in reading
    // (the pool's default lets an idle thread go after 30 s) makes anew on its
    // first page.
    m_pool.setExpiryTimeout(-1);
    m_pool.setObjectName(QStringLiteral("OrmaViewPageWorkers"));
}

CPageWorkers::~CPageWorkers() {
    m_pool.clear();
    m_pool.waitForDone();
}

void CPageWorkers::Start(std::function<void()> fnWork) {
    m_pool.start(std::move(fnWork));
}

void CPageWorkers::Post(std::function<void()> fnDone) {
    // Queued, also when called on the UI thread: it runs from the event loop.
    QMetaObject::invokeMethod(this, std::move(fnDone), Qt::QueuedConnection);
    // Counted once queued, so that RunPosted finds it.
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_iPosted;
    m_posted.notify_all();
}

bool CPageWorkers::RunPosted(int iTimeoutMs) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        if (!m_posted.wait_for(lock, std::chrono::milliseconds(std::max(0, iTimeoutMs)),
                               [this] { return m_iPosted > 0; }))
            return false;
        m_iPosted = 0;
    }
    QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    return true;
}

void CPageWorkers::Join() {
    m_pool.waitForDone();
}
