// SPDX-License-Identifier: AGPL-3.0-or-later
// The viewer window's placement in WorkDesk.dat, section "ThumbViewRect": the
// normal (restored) rectangle and whether the window was maximised.

// Trace lines name the file of the class this part belongs to.
#define OV_TRACE_SOURCE "MainFrm.cpp"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <vector>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QStyle>

#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "frame/MainFrm.h"
#include "frame/WindowPlacement.h"
#include "ormacomm/OrmaComm.h"
#include "win32/PrivateProfile.h"
#include "win32/ShellPath.h"

namespace {
constexpr const char* kSection = "ThumbViewRect";

// Area of the overlap of two rectangles given by edges (right and bottom
// exclusive), in 64 bits.
long long OverlapArea(long long l, long long t, long long r, long long b, const QRect& area) {
    const long long w = std::min<long long>(r, area.x() + static_cast<long long>(area.width())) -
                        std::max<long long>(l, area.x());
    const long long h = std::min<long long>(b, area.y() + static_cast<long long>(area.height())) -
                        std::max<long long>(t, area.y());
    return w > 0 && h > 0 ? w * h : 0;
}
}  // namespace

QRect ov::FitSavedWindowRect(int iLeft, int iTop, int iWidth, int iHeight, const QList<QRect>& available,
                             const QMargins& frame) {
    QList<QRect> areas;
    for (const QRect& a : available) {
        if (a.width() > 0 && a.height() > 0)
            areas.append(a);
    }
    if (areas.isEmpty())
        areas.append(QRect(0, 0, 800, 600));

    // The screen the saved rectangle lies on most; edges in 64 bits, where
    // Left + Width cannot overflow.
    const long long l = iLeft;
    const long long t = iTop;
    const long long r = l + std::max(iWidth, 1);
    const long long b = t + std::max(iHeight, 1);
    qsizetype iBest = 0;
    long long best = -1;
    for (qsizetype i = 0; i < areas.size(); ++i) {
        const long long overlap = OverlapArea(l, t, r, b, areas[i]);
        if (overlap > best) {
            best = overlap;
            iBest = i;
        }
    }
    // Where the inside may lie so that the frame around it stays on that
    // screen (at least one pixel, however wide the frame).
    const QRect& screen = areas[iBest];
    const QRect area(screen.x() + frame.left(), screen.y() + frame.top(),
                     std::max(1, screen.width() - frame.left() - frame.right()),
                     std::max(1, screen.height() - frame.top() - frame.bottom()));

    // The size, limited to that area before anything is added.
    const int w = std::clamp(iWidth, std::min(kMinWindowSide, area.width()), area.width());
    const int h = std::clamp(iHeight, std::min(kMinWindowSide, area.height()), area.height());

    long long visible = 0;
    for (const QRect& a : areas) visible += OverlapArea(l, t, l + w, t + h, a);
    const bool bLimited = w != iWidth || h != iHeight;
    if (!bLimited && visible * 2 >= static_cast<long long>(w) * h)
        return QRect(iLeft, iTop, w, h);
    // Mostly off screen, or larger than it: moved onto it as little as needed.
    const long long x =
        std::clamp<long long>(l, area.x(), area.x() + static_cast<long long>(area.width()) - w);
    const long long y =
        std::clamp<long long>(t, area.y(), area.y() + static_cast<long long>(area.height()) - h);
    return QRect(static_cast<int>(x), static_cast<int>(y), w, h);
}

QList<QRect> ov::AvailableScreenAreas() {
    QList<QRect> areas;
    const QScreen* pPrimary = QGuiApplication::primaryScreen();
    if (pPrimary != nullptr)
        areas.append(pPrimary->availableGeometry());
    for (const QScreen* pScreen : QGuiApplication::screens()) {
        if (pScreen != pPrimary)
            areas.append(pScreen->availableGeometry());
    }
    return areas;
}

void CMainFrame::LoadWindowRect(RECT* pRect) {
    *pRect = RECT{};
    m_bFitWhenFramed = false;
    const int rc = OV_GUARDED([&]() -> int {
        char szPath[MAX_PATH] = {};
        if (GetWorkDeskDatPath(szPath) == 0) {
            m_strWorkDeskDatPath.clear();
            OV_TRACE("GetWorkDeskDatPath() Error!\n");
            return 0;
        }
        m_strWorkDeskDatPath = szPath;
        const char* path = m_strWorkDeskDatPath.c_str();
        const int iLeft = static_cast<int>(GetPrivateProfileIntA(kSection, "Left", 0, path));
        const int iTop = static_cast<int>(GetPrivateProfileIntA(kSection, "Top", 0, path));
        const int iWidth = static_cast<int>(GetPrivateProfileIntA(kSection, "Width", 0, path));
        const int iHeight = static_cast<int>(GetPrivateProfileIntA(kSection, "Height", 0, path));
        // All four 0: no saved rectangle.
        if (iLeft == 0 && iTop == 0 && iWidth == 0 && iHeight == 0)
            return 0;
        // Saved on another screen (larger, scaled, no longer attached): the
        // rectangle is brought onto this one before its edges are added up,
        // with the frame as far as it is known. A window manager frames the
        // window only when it is shown; then it is fitted again.
        const QRect rc =
            ov::FitSavedWindowRect(iLeft, iTop, iWidth, iHeight, ov::AvailableScreenAreas(), FrameMargins());
        m_aiSavedRect = {iLeft, iTop, iWidth, iHeight};
        m_bFitWhenFramed =
            rc.x() != iLeft || rc.y() != iTop || rc.width() != iWidth || rc.height() != iHeight;
        pRect->left = rc.x();
        pRect->top = rc.y();
        pRect->right = static_cast<LONG>(rc.x()) + rc.width();
        pRect->bottom = static_cast<LONG>(rc.y()) + rc.height();
        return 0;
    });
    if (rc != 0)
        *pRect = RECT{};
}

void CMainFrame::GetInitialWindowRect(RECT* pRect) {
    *pRect = RECT{};
    LoadWindowRect(pRect);
    if (pRect->left == 0 && pRect->right == 0 && pRect->top == 0 && pRect->bottom == 0) {
        // No saved rectangle: a square as large as the smaller side of the
        // screen's work area less the caption (the rectangle is the window's
        // inside), centred by start-up.
        int s = 600;
        if (const QScreen* pScreen = QGuiApplication::primaryScreen()) {
            const QRect avail = pScreen->availableGeometry();
            const int iCaption = QApplication::style()->pixelMetric(QStyle::PM_TitleBarHeight);
            s = std::max(1, std::min(avail.width(), avail.height() - iCaption));
        }
        *pRect = RECT{0, 0, s, s};
        m_bCenterWindow = TRUE;
    }
}

void CMainFrame::ApplyInitialWindowRect() {
    m_bCenterWindow = FALSE;
    RECT rc;
    GetInitialWindowRect(&rc);
    setGeometry(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    m_rcNormal = geometry();
}

QMargins CMainFrame::FrameMargins() const {
    const QRect inside = geometry();
    const QRect frame = frameGeometry();
    return QMargins(inside.left() - frame.left(), inside.top() - frame.top(), frame.right() - inside.right(),
                    frame.bottom() - inside.bottom());
}

void CMainFrame::FitFramedWindow() {
    if (!m_bFitWhenFramed || !isVisible())
        return;
    // A maximised (or minimised) window is placed by the window manager.
    if ((windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) != 0) {
        m_bFitWhenFramed = false;
        return;
    }
    const QMargins frame = FrameMargins();
    if (frame.isNull())
        return;
    m_bFitWhenFramed = false;
    const QList<QRect> areas = ov::AvailableScreenAreas();
    const QRect rcFrame = frameGeometry();
    if (std::any_of(areas.begin(), areas.end(), [&](const QRect& a) { return a.contains(rcFrame); }))
        return;
    const auto& s = m_aiSavedRect;
    const QRect rc = ov::FitSavedWindowRect(s[0], s[1], s[2], s[3], areas, frame);
    if (rc != geometry())
        setGeometry(rc);
}

int CMainFrame::IsSavedMaximized() {
    return static_cast<int>(GetPrivateProfileIntA(kSection, "Size", 0, m_strWorkDeskDatPath.c_str()));
}

void CMainFrame::SaveWindowRect() {
    OV_GUARDED([&]() -> int {
        const char* path = m_strWorkDeskDatPath.c_str();
        if (!PathFileExistsA(path)) {
            if (MakeFile(path) == 0) {
                OV_TRACE("MakeFile() Error!\n");
                return 0;
            }
        }
        // The normal rectangle is kept also while the window is maximised, so a
        // maximised window comes back maximised over the rectangle it had.
        TrackNormalGeometry();
        const QRect rcNormal = m_rcNormal;
        const int iSize = isMaximized() ? 1 : 0;
        const std::pair<const char*, int> values[] = {
            {"Left", rcNormal.x()},        {"Top", rcNormal.y()}, {"Width", rcNormal.width()},
            {"Height", rcNormal.height()}, {"Size", iSize},
        };
        // The five keys go in one replace of the file: a crash leaves the old
        // placement or the new one, never a mix.
        char szValues[5][32];
        std::vector<ov::ProfileWrite> writes;
        for (std::size_t i = 0; i < std::size(values); ++i) {
            std::snprintf(szValues[i], sizeof szValues[i], "%d", values[i].second);
            writes.push_back({kSection, values[i].first, szValues[i]});
        }
        if (!ov::WritePrivateProfileKeys(writes, path)) {
            OV_TRACE("WritePrivateProfileString() Error! [File] %s [ErrorCode] %d\n", path, GetLastError());
            return 0;
        }
        WritePrivateProfileStringA(nullptr, nullptr, nullptr, path);
        return 0;
    });
}
