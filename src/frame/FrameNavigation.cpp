// SPDX-License-Identifier: AGPL-3.0-or-later
// The page indicator under the toolbar's buttons and the go-to-page dialog
// (Ctrl+G, standard mode).

#include <cstdio>

#include <QAction>
#include <QInputDialog>
#include <QLabel>
#include <QToolBar>

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
