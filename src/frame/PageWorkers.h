// SPDX-License-Identifier: AGPL-3.0-or-later
// The page-image workers of the viewer session: two threads of a QThreadPool,
// and the way back to the UI thread through queued calls on an object that lives
// there. What runs on them, and when, is the session's business.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

#include <QObject>
#include <QThreadPool>

#include "frame/ViewerSession.h"

class CPageWorkers : public QObject, public IPageExecutor {
    Q_OBJECT

public:
    // Created on the UI thread, which Post returns to.
    explicit CPageWorkers(QObject* parent = nullptr);
    // Waits for every work started.
    ~CPageWorkers() override;

    void Start(std::function<void()> fnWork) override;
    void Post(std::function<void()> fnDone) override;
    void Join() override;
    // Waits up to iTimeoutMs for work handed back and runs what was handed back,
    // and nothing else of the event loop. false when nothing came in time.
    bool RunPosted(int iTimeoutMs);

private:
    QThreadPool m_pool;
    std::mutex m_mutex;
    std::condition_variable m_posted;
    int m_iPosted = 0;
};
