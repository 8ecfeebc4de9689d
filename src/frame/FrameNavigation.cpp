// SPDX-License-Identifier: AGPL-3.0-or-later
// The page indicator under the toolbar's buttons and the go-to-page dialog
// (Ctrl+G, standard mode), the magnifier's steps and the turned view.

#include <cstdio>

#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QToolBar>

#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "qtglue/QtText.h"

namespace {

// A string-table format with two numbers, as Qt text.
QString FormatNumbers(UINT nFormat, int a, int b) {
    char szText[MAX_PATH] = {};
    std::snprintf(szText, sizeof szText, LoadResString(nFormat).c_str(), a, b);
    return ov::ToQString(szText);
}

}  // namespace

void CMainFrame::CreatePageIndicator() {
    // Under the buttons and no wider than they are, so the page view keeps its
    // size whatever number it shows.
    m_pPageIndicator = new QLabel(m_wndToolBar);
    m_pPageIndicator->setObjectName(QStringLiteral("m_pPageIndicator"));
    m_pPageIndicator->setAlignment(Qt::AlignCenter);
    m_pPageIndicator->setContentsMargins(0, 6, 0, 0);
    m_pPageIndicator->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_pPageIndicator->setAccessibleName(ov::ToQString(LoadResString(IDS_GOTO_TITLE)));
    m_pPageIndicator->setMaximumWidth(m_wndToolBar->sizeHint().width());
    m_wndToolBar->addWidget(m_pPageIndicator);
}

void CMainFrame::UpdatePageIndicator() {
    if (m_pPageIndicator == nullptr)
        return;
    const int iTotal = m_pSession->GetPageTotal();
    if (iTotal < 1) {
        m_pPageIndicator->clear();
        m_pPageIndicator->setToolTip(QString());
        return;
    }
    // An index sheet has no page number of its own (0).
    const int iNumber = m_pSession->GetDisplayPageNo();
    QString strText = FormatNumbers(IDS_PAGE_NUMBER_FORMAT, iNumber, iTotal);
    if (iNumber == 0)
        strText.replace(0, strText.indexOf(QLatin1Char(' ')), QStringLiteral("-"));
    // The magnifier's level under the page number while it is open.
    if (m_dZoomLevel > 0) {
        char szText[MAX_PATH] = {};
        std::snprintf(szText, sizeof szText, LoadResString(IDS_ZOOM_LEVEL_FORMAT).c_str(),
                      QString::number(m_dZoomLevel, 'g', 2).toLatin1().constData());
        strText += QLatin1Char('\n') + ov::ToQString(szText);
    }
    m_pPageIndicator->setText(strText);
    m_pPageIndicator->setToolTip(FormatNumbers(IDS_TIP_PAGE_NUMBER, iNumber, iTotal));
}

void CMainFrame::OnGoToPage() {
    const int iTotal = m_pSession->GetPageTotal();
    if (m_bHagaki || iTotal < 1)
        return;
    const int iCurrent = m_pSession->GetDisplayPageNo();
    char szLabel[MAX_PATH] = {};
    std::snprintf(szLabel, sizeof szLabel, LoadResString(IDS_GOTO_LABEL).c_str(), iTotal);
    bool bOk = false;
    const int iNumber =
        QInputDialog::getInt(this, ov::ToQString(LoadResString(IDS_GOTO_TITLE)), ov::ToQString(szLabel),
                             iCurrent < 1 ? 1 : iCurrent, 1, iTotal, 1, &bOk);
    if (bOk)
        m_pSession->GoToPageNumber(iNumber);
}

void CMainFrame::OnZoomIn() {
    // Opening goes through the view's zoomRequested, which checks that the
    // picture shown is the current page's.
    m_pView->ZoomIn();
}

void CMainFrame::OnZoomOut() {
    m_pView->ZoomOut();
}

void CMainFrame::OnZoomFitWidth() {
    m_pView->ZoomFitWidth();
}

int CMainFrame::ViewTurnsOf(int iPagePos) const {
    const auto it = m_mapViewTurns.find(iPagePos);
    return it == m_mapViewTurns.end() ? 0 : it->second;
}

void CMainFrame::TurnView(int iQuarter) {
    const int iPagePos = m_pDoc->m_iCurPagePos;
    if (m_bHagaki || iPagePos < 1)
        return;
    const int iTurns = (ViewTurnsOf(iPagePos) + iQuarter + 4) % 4;
    m_mapViewTurns[iPagePos] = iTurns;
    m_pView->SetQuarterTurns(iTurns, TRUE);
}

void CMainFrame::OnTurnViewRight() {
    TurnView(1);
}

void CMainFrame::OnTurnViewLeft() {
    TurnView(-1);
}
