// SPDX-License-Identifier: AGPL-3.0-or-later
// The frame's page keys beyond the toolbar buttons: Home and End to the first
// and last page, Ctrl+G to a page number, Ctrl+W and Ctrl+Q to close, A for the
// annotations; and the page indicator under the toolbar's buttons.

#include <cstdio>

#include <QAction>
#include <QApplication>
#include <QInputDialog>
#include <QLabel>
#include <QToolBar>

#include "app/ToQString.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "frame/MainFrm.h"
#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"

namespace {

// The wait cursor around a move, restored before any error box.
class CNavigationWaitCursor {
public:
    CNavigationWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CNavigationWaitCursor() { QApplication::restoreOverrideCursor(); }
    CNavigationWaitCursor(const CNavigationWaitCursor&) = delete;
    CNavigationWaitCursor& operator=(const CNavigationWaitCursor&) = delete;
};

// A string-table format with two numbers, as Qt text.
QString FormatNumbers(UINT nFormat, int a, int b) {
    char szText[MAX_PATH] = {};
    std::snprintf(szText, sizeof szText, LoadResString(nFormat).c_str(), a, b);
    return ov::ToQString(szText);
}

}  // namespace

void CMainFrame::CreateNavigation() {
    // Keys added to the toolbar's commands; the keys they already have stay.
    const auto addKey = [](QAction* pAction, const QKeySequence& key) {
        if (pAction == nullptr)
            return;
        QList<QKeySequence> keys = pAction->shortcuts();
        if (keys.contains(key))
            return;
        keys.append(key);
        pAction->setShortcuts(keys);
    };
    addKey(CommandAction(ID_VIEW_CLOSE), QKeySequence(Qt::CTRL | Qt::Key_W));
    addKey(CommandAction(ID_VIEW_CLOSE), QKeySequence(Qt::CTRL | Qt::Key_Q));
    addKey(CommandAction(ID_ANNOTATION), QKeySequence(Qt::Key_A));

    // Page keys of standard mode; in postcard mode the postcard viewer decides
    // which postcard comes next.
    if (!m_bHagaki) {
        const struct {
            const char* name;
            QKeySequence key;
            void (CMainFrame::*handler)();
        } keys[] = {
            {"ID_FIRST_PAGE", QKeySequence(Qt::Key_Home), &CMainFrame::OnFirstPage},
            {"ID_LAST_PAGE", QKeySequence(Qt::Key_End), &CMainFrame::OnLastPage},
            {"ID_GOTO_PAGE", QKeySequence(Qt::CTRL | Qt::Key_G), &CMainFrame::OnGoToPage},
        };
        for (const auto& k : keys) {
            auto* pAction = new QAction(this);
            pAction->setObjectName(QString::fromLatin1(k.name));
            pAction->setShortcut(k.key);
            pAction->setShortcutContext(Qt::WindowShortcut);
            connect(pAction, &QAction::triggered, this, k.handler);
            addAction(pAction);
        }
    }

    // The page indicator: under the buttons and no wider than they are, so the
    // page view keeps its size whatever number it shows.
    m_pPageIndicator = new QLabel(m_wndToolBar);
    m_pPageIndicator->setObjectName(QStringLiteral("m_pPageIndicator"));
    m_pPageIndicator->setAlignment(Qt::AlignCenter);
    m_pPageIndicator->setContentsMargins(0, 6, 0, 0);
    m_pPageIndicator->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    m_pPageIndicator->setMaximumWidth(m_wndToolBar->sizeHint().width());
    m_wndToolBar->addWidget(m_pPageIndicator);
    if (COrmaViewView* pView = GetActiveView())
        connect(pView, &COrmaViewView::pagePainted, this, &CMainFrame::UpdatePageIndicator);
    UpdatePageIndicator();
}

void CMainFrame::UpdatePageIndicator() {
    if (m_pPageIndicator == nullptr)
        return;
    COrmaViewDoc* pDoc = m_pDoc;
    if (pDoc == nullptr || pDoc->m_iCurPagePos < 1 || pDoc->m_iPageTotal < 1) {
        m_pPageIndicator->clear();
        m_pPageIndicator->setToolTip(QString());
        return;
    }
    // An index sheet has no page number of its own (0).
    const int iNumber = pDoc->GetDisplayPageNo(pDoc->m_iCurPagePos);
    QString strText = FormatNumbers(IDS_PAGE_NUMBER_FORMAT, iNumber, pDoc->m_iPageTotal);
    if (iNumber == 0)
        strText.replace(0, strText.indexOf(QLatin1Char(' ')), QStringLiteral("-"));
    m_pPageIndicator->setText(strText);
    m_pPageIndicator->setToolTip(FormatNumbers(IDS_TIP_PAGE_NUMBER, iNumber, pDoc->m_iPageTotal));
}

int CMainFrame::GoToPagePos(int iPagePos) {
    if (m_bHagaki || m_pDoc == nullptr || m_pView == nullptr || iPagePos < 1 ||
        iPagePos == m_pDoc->m_iCurPagePos)
        return 0;
    // The steps of a page move: the position, the page image, the title, the view.
    int rc = 0;
    {
        CNavigationWaitCursor wait;
        m_pView->DestroyZoomView(FALSE);
        m_pDoc->m_iCurPagePos = iPagePos;
        rc = m_pView->RefreshPage();
        SetFrameTitle(m_pDoc->GetFrameTitle());
    }
    UpdateCommandState();
    UpdatePageIndicator();
    return rc;
}

void CMainFrame::OnFirstPage() {
    ov::ClearMessageDetail();
    const int rc = GoToPagePos(m_pDoc != nullptr ? m_pDoc->GetFirstPagePos() : 0);
    if (rc != 0)
        ShowErrorMessage(rc);
}

void CMainFrame::OnLastPage() {
    ov::ClearMessageDetail();
    const int rc = GoToPagePos(m_pDoc != nullptr ? m_pDoc->GetLastPagePos() : 0);
    if (rc != 0)
        ShowErrorMessage(rc);
}

int CMainFrame::GoToPageNumber(int iNumber) {
    ov::ClearMessageDetail();
    return GoToPagePos(m_pDoc != nullptr ? m_pDoc->ConvertPageNoToPagePos(iNumber) : 0);
}

void CMainFrame::OnGoToPage() {
    if (m_bHagaki || m_pDoc == nullptr || m_pDoc->m_iPageTotal < 1)
        return;
    const int iCurrent = m_pDoc->GetDisplayPageNo(m_pDoc->m_iCurPagePos);
    char szLabel[MAX_PATH] = {};
    std::snprintf(szLabel, sizeof szLabel, LoadResString(IDS_GOTO_LABEL).c_str(), m_pDoc->m_iPageTotal);
    bool bOk = false;
    const int iNumber =
        QInputDialog::getInt(this, ov::ToQString(LoadResString(IDS_GOTO_TITLE)), ov::ToQString(szLabel),
                             iCurrent < 1 ? 1 : iCurrent, 1, m_pDoc->m_iPageTotal, 1, &bOk);
    if (!bOk)
        return;
    const int rc = GoToPageNumber(iNumber);
    if (rc != 0)
        ShowErrorMessage(rc);
}
