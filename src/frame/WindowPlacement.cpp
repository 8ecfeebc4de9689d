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
#include "ormacomm/OrmaComm.h"
#include "win32/PrivateProfile.h"
#include "win32/ShellPath.h"

namespace {
constexpr const char* kSection = "ThumbViewRect";
}  // namespace

void CMainFrame::LoadWindowRect(RECT* pRect) {
    *pRect = RECT{};
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
        pRect->left = iLeft;
        pRect->top = iTop;
        pRect->right = iLeft + iWidth;
        pRect->bottom = iTop + iHeight;
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
