// SPDX-License-Identifier: AGPL-3.0-or-later
#include "frame/MainFrm.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QHelpEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QSocketNotifier>
#include <QSplitter>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QWindowStateChangeEvent>

#include "app/OrmaView.h"
#include "app/ToQString.h"
#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "display/OrmaViewView.h"
#include "document/OrmaViewDoc.h"
#include "editpane/HagakiEditDialog.h"
#include "image/Ravelin.h"
#include "ipc/WindowManager.h"
#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "postcard/HagakiManage.h"
#include "win32/ShellPath.h"

// The icons live in the library's resource file; a static library needs its
// resources registered by hand.
static void InitFrameResources() {
    Q_INIT_RESOURCE(ormaview);
}

namespace {

// One toolbar button: command, label string, icon, disabled icon and the key
// that runs the command from anywhere in the window (0: none).
struct ButtonDef {
    UINT nID;
    UINT nLabel;
    int iIcon;
    int iDisabledIcon;
    int iKey;
};

constexpr int kKeyPrev = (Qt::CTRL | Qt::Key_PageUp).toCombined();
constexpr int kKeyNext = (Qt::CTRL | Qt::Key_PageDown).toCombined();
constexpr int kKeyClose = (Qt::CTRL | Qt::Key_W).toCombined();
constexpr int kKeyOmote = (Qt::CTRL | Qt::Key_R).toCombined();
constexpr int kKeyUra = (Qt::CTRL | Qt::SHIFT | Qt::Key_R).toCombined();
constexpr int kKeyRotation = (Qt::CTRL | Qt::Key_T).toCombined();

// Toolbar 128 (standard mode).
constexpr ButtonDef kStandardButtons[] = {
    {ID_PREV_PAGE, IDS_LABEL_PREV, 145, 149, kKeyPrev},
    {ID_NEXT_PAGE, IDS_LABEL_NEXT, 144, 150, kKeyNext},
    {ID_ANNOTATION, IDS_LABEL_ANNOTATIONS, 148, 151, 0},
    {ID_VIEW_CLOSE, IDS_LABEL_CLOSE, 143, 152, kKeyClose},
};

// Toolbar 130 (postcard mode).
constexpr ButtonDef kHagakiButtons[] = {
    {ID_PREV_PAGE, IDS_LABEL_PREV, 145, 149, kKeyPrev},
    {ID_NEXT_PAGE, IDS_LABEL_NEXT, 144, 150, kKeyNext},
    {ID_ANNOTATION, IDS_LABEL_ANNOTATIONS, 148, 151, 0},
    {ID_OMOTE_ROTATE, IDS_LABEL_OMOTE, 153, 157, kKeyOmote},
    {ID_URA_ROTATE, IDS_LABEL_URA, 154, 156, kKeyUra},
    {ID_HAGAKI_ROTATION, IDS_LABEL_ROTATION, 155, 158, kKeyRotation},
    {ID_VIEW_CLOSE, IDS_LABEL_CLOSE, 143, 152, kKeyClose},
};

// The page view keeps at least this width beside the edit pane, whatever window
// size was saved.
constexpr int kMinPageViewWidth = 200;
// Action codes of HagakiPageAction and direction codes of MovePage.
constexpr int kActionClose = 2;
constexpr int kActionNext = 3;
constexpr int kActionPrev = 4;
constexpr int kMovePrev = 2;
constexpr int kMoveNext = 3;

UINT ToolTipStringFor(UINT nID) {
    switch (nID) {
        case ID_PREV_PAGE:
            return IDS_TIP_PREV_PAGE;
        case ID_NEXT_PAGE:
            return IDS_TIP_NEXT_PAGE;
        case ID_VIEW_CLOSE:
            return IDS_TIP_CLOSE;
        case ID_ANNOTATION:
            return IDS_TIP_ANNOTATIONS;
        case ID_OMOTE_ROTATE:
            return IDS_TIP_OMOTE;
        case ID_URA_ROTATE:
            return IDS_TIP_URA;
        case ID_HAGAKI_ROTATION:
            return IDS_TIP_ROTATION;
        default:
            return 0;
    }
}

// Cuts CP932 text to at most maxBytes bytes without splitting a character.
std::string CutCp932(const std::string& text, std::size_t maxBytes) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t len = IsDBCSLeadByte(static_cast<unsigned char>(text[i])) ? 2 : 1;
        if (i + len > maxBytes)
            break;
        i += len;
    }
    return text.substr(0, i);
}

QIcon ButtonIcon(int iIcon, int iDisabledIcon) {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/%1.svg").arg(iIcon), QSize(), QIcon::Normal);
    icon.addFile(QStringLiteral(":/icons/%1.svg").arg(iDisabledIcon), QSize(), QIcon::Disabled);
    return icon;
}

// The wait cursor around a command's work; restored when the scope ends, before
// any error box is shown.
class CWaitCursor {
public:
    CWaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~CWaitCursor() { QApplication::restoreOverrideCursor(); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;
};

// The template's title (first field of string 128), carried while hidden.
QString TemplateTitle() {
    const std::string strTemplate = LoadResString(IDS_DOC_TEMPLATE);
    return ov::ToQString(strTemplate.substr(0, strTemplate.find('\n')));
}

}  // namespace

CMainFrame::CMainFrame(COrmaViewDoc* pDocument) : m_pTemplateDoc(pDocument) {
    InitFrameResources();
    setObjectName(QStringLiteral("CMainFrame"));
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    delete m_pMessageNotifier;
    m_pMessageNotifier = nullptr;
    if (m_hWnd != 0)
        UnregisterWindow(m_hWnd);
    if (m_bImageIOInit) {
        if (ImageIO_UnInitialize() == 0)
            OV_TRACE("ImageIO_UnInitialize() Error!\n");
    }
}

BOOL CMainFrame::Create(BOOL bHagakiMode) {
    m_bHagaki = bHagakiMode == 1 ? TRUE : FALSE;
    if (!PreCreateWindow())
        return FALSE;
    return OnCreate() == -1 ? FALSE : TRUE;
}

BOOL CMainFrame::PreCreateWindow() {
    // Register under the viewer's window class, so that a second viewer finds
    // this one and can ask it to close.
    m_hWnd = RegisterWindow(kViewerWndClass, [this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) {
        return OnWindowMessage(msg, wParam, lParam);
    });
    if (m_hWnd == 0) {
        OV_TRACE("RegisterWindow() Error! [ErrorCode] %d\n", GetLastError());
    } else {
        const int fd = GetWindowMessageFd(m_hWnd);
        if (fd >= 0) {
            m_pMessageNotifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
            connect(m_pMessageNotifier, &QSocketNotifier::activated, this,
                    [this] { DispatchWindowMessages(m_hWnd); });
        }
    }

    // Caption, system menu, sizing border and maximise box; no minimise box.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(TemplateTitle());

    RECT rc;
    GetInitialWindowRect(&rc);
    setGeometry(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
    m_rcNormal = geometry();
    return TRUE;
}

int CMainFrame::OnCreate() {
    if (!OnCreateClient()) {
        OV_TRACE("CFrameWnd::OnCreate() Error!\n");
        return -1;
    }
    if (ImageIO_Initialize(m_hWnd, LoadResString(IDS_APP_TITLE).c_str(), 0) == 0) {
        OV_TRACE("ImageIO_Initialize() Error!\n");
        m_bImageIOInit = FALSE;
        return -1;
    }
    if (!CreateToolBar())
        return -1;
    qApp->installEventFilter(this);
    return 0;
}

BOOL CMainFrame::OnCreateClient() {
    if (!m_bHagaki) {
        m_pView = nullptr;
        auto* pView = new COrmaViewView(m_pTemplateDoc, this);
        ConnectView(pView);
        setCentralWidget(pView);
        pView->setFocus();
        return TRUE;
    }
    // Postcard mode: the edit pane on the left (320 pixels), the page view on
    // the right; neither can be pushed out of sight, so a small window grows to
    // hold both.
    m_wndSplitter = new QSplitter(Qt::Horizontal, this);
    m_wndSplitter->setObjectName(QStringLiteral("m_wndSplitter"));
    m_pEditPane = new CHagakiEditDialog(m_wndSplitter);
    auto* pView = new COrmaViewView(m_pTemplateDoc, m_wndSplitter);
    ConnectView(pView);
    pView->setMinimumWidth(kMinPageViewWidth);
    m_wndSplitter->addWidget(m_pEditPane);
    m_wndSplitter->addWidget(pView);
    m_wndSplitter->setChildrenCollapsible(false);
    m_wndSplitter->setSizes({320, 225});
    m_wndSplitter->setStretchFactor(0, 0);
    m_wndSplitter->setStretchFactor(1, 1);
    setCentralWidget(m_wndSplitter);
    pView->setFocus();
    return TRUE;
}

void CMainFrame::ConnectView(COrmaViewView* pView) {
    // A page is made after its command has returned: its failure is reported
    // when it comes, and the commands follow the page shown.
    connect(pView, &COrmaViewView::pageFailed, this, [this](int rc) {
        UpdateCommandState();
        ShowErrorMessage(rc);
    });
}

BOOL CMainFrame::CreateToolBar() {
    m_wndToolBar = new QToolBar(this);
    m_wndToolBar->setObjectName(QStringLiteral("m_wndToolBar"));
    m_wndToolBar->setMovable(false);
    m_wndToolBar->setFloatable(false);
    m_wndToolBar->setAllowedAreas(Qt::LeftToolBarArea);
    m_wndToolBar->setOrientation(Qt::Vertical);
    m_wndToolBar->setIconSize(QSize(24, 24));
    m_wndToolBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_wndToolBar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::LeftToolBarArea, m_wndToolBar);

    const ButtonDef* pBegin = m_bHagaki ? std::begin(kHagakiButtons) : std::begin(kStandardButtons);
    const ButtonDef* pEnd = m_bHagaki ? std::end(kHagakiButtons) : std::end(kStandardButtons);
    for (const ButtonDef* p = pBegin; p != pEnd; ++p) {
        auto* pAction = new QAction(ButtonIcon(p->iIcon, p->iDisabledIcon),
                                    ov::ToQString(LoadResString(p->nLabel)), this);
        pAction->setData(p->nID);
        pAction->setObjectName(QStringLiteral("ID_%1").arg(p->nID));
        if (p->nID == ID_ANNOTATION)
            pAction->setCheckable(true);
        if (p->iKey != 0)
            pAction->setShortcut(QKeySequence(QKeyCombination::fromCombined(p->iKey)));
        m_wndToolBar->addAction(pAction);
        m_mapActions[p->nID] = pAction;
        if (QWidget* pButton = m_wndToolBar->widgetForAction(pAction)) {
            pButton->setObjectName(QStringLiteral("button_%1").arg(p->nID));
            pButton->setFocusPolicy(Qt::NoFocus);
        }
        const UINT nID = p->nID;
        connect(pAction, &QAction::triggered, this, [this, nID] {
            switch (nID) {
                case ID_PREV_PAGE:
                    OnPrevPage();
                    break;
                case ID_NEXT_PAGE:
                    OnNextPage();
                    break;
                case ID_VIEW_CLOSE:
                    OnViewClose();
                    break;
                case ID_ANNOTATION:
                    OnAnnotation();
                    break;
                case ID_OMOTE_ROTATE:
                    OnOmoteRotate();
                    break;
                case ID_URA_ROTATE:
                    OnUraRotate();
                    break;
                case ID_HAGAKI_ROTATION:
                    OnHagakiRotation();
                    break;
                default:
                    break;
            }
        });
    }
    setWindowIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(m_bHagaki ? 130 : 128)));
    CreateNavigation();
    UpdateCommandState();
    return TRUE;
}

QAction* CMainFrame::CommandAction(UINT nID) const {
    const auto it = m_mapActions.find(nID);
    return it == m_mapActions.end() ? nullptr : it->second;
}

COrmaViewView* CMainFrame::GetActiveView() const {
    if (m_wndSplitter != nullptr)
        return qobject_cast<COrmaViewView*>(m_wndSplitter->widget(1));
    return qobject_cast<COrmaViewView*>(centralWidget());
}

COrmaViewDoc* CMainFrame::GetActiveDocument() const {
    COrmaViewView* pView = GetActiveView();
    return pView != nullptr ? pView->GetDocument() : nullptr;
}

CHagakiEditDialog* CMainFrame::GetHagakiEditDialog() const {
    if (!m_bHagaki || m_wndSplitter == nullptr)
        return nullptr;
    return qobject_cast<CHagakiEditDialog*>(m_wndSplitter->widget(0));
}

void CMainFrame::SetFrameTitle(const std::string& strTitle) {
    setWindowTitle(ov::ToQString(strTitle));
}

int CMainFrame::Load(std::string strWorkDeskFolder, int iDocID, int iPageID) {
    const int iResult = OV_GUARDED([&]() -> int {
        if (!m_bHagaki) {
            if (strWorkDeskFolder.empty()) {
                OV_TRACE("Parameter Error! strWorkDeskFolder.GetLength() == 0.\n");
                return -705;
            }
            if (iDocID < 1) {
                OV_TRACE("Parameter Error! iDocID < 1.\n");
                ov::NoteMessageDetail(ov::DetailKind::DocumentID, iDocID);
                return -705;
            }
            if (iPageID < 1) {
                OV_TRACE("Parameter Error! iPageID < 1.\n");
                ov::NoteMessageDetail(ov::DetailKind::PageID, iPageID);
                return -705;
            }
            if (!PathFileExistsA(strWorkDeskFolder.c_str())) {
                OV_TRACE("File doesn't Exist! [File] %s\n", strWorkDeskFolder.c_str());
                ov::NoteMessageDetail(ov::DetailKind::Folder, strWorkDeskFolder);
                return -701;
            }
        }
        if (m_pDoc == nullptr) {
            m_pDoc = GetActiveDocument();
            if (m_pDoc == nullptr) {
                OV_TRACE("GetActiveDocument() Error!\n");
                return -702;
            }
        }
        m_pView = GetActiveView();
        if (m_pView == nullptr) {
            OV_TRACE("GetActiveView() Error!\n");
            return -702;
        }
        if (m_bHagaki) {
            // The postcard manager names the folder, document and page.
            const COrmaDeskApp* pApp = OvGetApp();
            const int rc = m_pDoc->InitHagakiManage(m_hWnd, pApp != nullptr ? pApp->m_iHagakiManageKey : 0);
            if (rc != 0) {
                OV_TRACE("COrmaViewDoc::InitDoc() Error!\n");
                ov::NoteMessageDetail(ov::DetailKind::PostcardKey,
                                      pApp != nullptr ? pApp->m_iHagakiManageKey : 0);
                return rc;
            }
            strWorkDeskFolder = m_pDoc->m_pHagakiManage->GetFolder();
            iDocID = m_pDoc->m_pHagakiManage->GetDocID();
            iPageID = m_pDoc->m_pHagakiManage->GetCurPageID();
        }
        m_pDoc->m_bDeferPageImage = TRUE;  // made by the view's workers, the window shows at once
        const int rc = m_pDoc->InitDoc(strWorkDeskFolder, iDocID, iPageID);
        if (rc != 0) {
            OV_TRACE("COrmaViewDoc::InitDoc() Error!\n");
            return rc;
        }
        SetFrameTitle(m_pDoc->GetFrameTitle());
        m_pView->m_pDoc = m_pDoc;
        if (m_bHagaki) {
            CHagakiEditDialog* pPane = GetHagakiEditDialog();
            if (pPane == nullptr) {
                OV_TRACE("GetHagakiEditDialog() Error!\n");
                return -702;
            }
            pPane->SetDocument(m_pDoc);
            if (const int rcPane = pPane->Load(); rcPane != 0) {
                OV_TRACE("CHagakiEditDialog::Load() Error!\n");
                return rcPane;
            }
        }
        return 0;
    });
    UpdateCommandState();
    return iResult;
}

// --- Commands ---

void CMainFrame::OnPrevPage() {
    int rc = 0;
    {
        CWaitCursor wait;
        if (m_bHagaki)
            rc = HagakiPageAction(4);
        else if (m_pView != nullptr)
            rc = m_pView->MovePage(2);
    }
    UpdateCommandState();
    if (rc != 0)
        ShowErrorMessage(rc);
}

void CMainFrame::OnNextPage() {
    int rc = 0;
    {
        CWaitCursor wait;
        if (m_bHagaki)
            rc = HagakiPageAction(3);
        else if (m_pView != nullptr)
            rc = m_pView->MovePage(3);
    }
    UpdateCommandState();
    if (rc != 0)
        ShowErrorMessage(rc);
}

void CMainFrame::OnViewClose() {
    OnClose();
}

void CMainFrame::OnAnnotation() {
    if (m_pDoc == nullptr)
        return;
    m_pDoc->m_bShowEditInfo = m_pDoc->m_bShowEditInfo == 0 ? 1 : 0;
    int rc = 0;
    {
        CWaitCursor wait;
        if (m_pView != nullptr)
            rc = m_pView->RefreshPage();
    }
    UpdateCommandState();
    if (rc != 0)
        ShowErrorMessage(rc);
}

void CMainFrame::OnOmoteRotate() {
    RunHagakiTurn(1);
}

void CMainFrame::OnUraRotate() {
    RunHagakiTurn(0);
}

void CMainFrame::OnHagakiRotation() {
    RunHagakiTurn(-1);
}

void CMainFrame::RunHagakiTurn(int iTurn) {
    if (m_pDoc == nullptr || m_pView == nullptr)
        return;
    int rc = 0;
    {
        CWaitCursor wait;
        rc = iTurn < 0 ? m_pDoc->UpSideDownHagakiPdf() : m_pDoc->RotateHagakiPdf(iTurn);
        if (rc != 0) {
            if (iTurn < 0)
                OV_TRACE("COrmaViewDoc::UpSideDownHagakiPdf() Error!(%d)\n", rc);
            else
                OV_TRACE("COrmaViewDoc::RotateHagakiPdf() Error!(%d)\n", rc);
        } else {
            // The turned PDF stays turned when its cached page image cannot go.
            rc = m_pDoc->DeleteThumbFileCurrent();
            if (rc != 0)
                OV_TRACE("COrmaViewDoc::DeleteThumbFileCurrent() Error!(%d)\n", rc);
            else
                m_pView->RefreshPage();
        }
    }
    UpdateCommandState();
    if (rc != 0)
        ShowErrorMessage(rc);
}

int CMainFrame::HagakiPageAction(int iAction) {
    if (!m_bHagaki || m_pDoc == nullptr || m_pView == nullptr)
        return 0;
    CHagakiManage* pManage = m_pDoc->m_pHagakiManage;
    const BOOL bManaged = IsHagakiManaged();
    if (bManaged) {
        // No postcard in that direction: nothing at all happens, not even a commit.
        if ((iAction == kActionNext && !pManage->HasNextPage()) ||
            (iAction == kActionPrev && !pManage->HasPrevPage()))
            return 0;
    }
    const int iResult = OV_GUARDED([&]() -> int {
        CHagakiEditDialog* pPane = GetHagakiEditDialog();
        if (pPane != nullptr) {
            if (const int rc = pPane->SaveToDoc(); rc != 0)
                return rc;
        }
        const int iChange = m_pDoc->m_iHagakiChange;
        if (iChange != 0) {
            if (const int rc = m_pDoc->SaveHagakiInfo(); rc != 0)
                return rc;
        }
        if (bManaged) {
            int iLoad = 0;
            pManage->SetChange(iChange);
            if (iChange != 0 || iAction != kActionClose) {
                const int rcEvent = pManage->FireEvent(iAction);
                if (pManage->GetResult() == 0 && rcEvent != 0) {
                    // The event never reached the postcard viewer (it has gone or
                    // did not answer): the postcard stays, and the user is told.
                    // Its record is saved already.
                    m_pView->RedrawPage();
                    return rcEvent;
                }
                if (pManage->GetResult() == 0) {
                    if (const int rc = m_pDoc->InitDocFromHagakiManage(); rc != 0)
                        return rc;
                    SetFrameTitle(m_pDoc->GetFrameTitle());
                    if (pPane != nullptr) {
                        iLoad = pPane->Load();
                        if (!pManage->IsEditable())
                            pPane->SetReadOnly(TRUE);
                    }
                }
            }
            m_pView->RedrawPage();
            return iLoad;
        }
        if (pManage == nullptr)
            return 0;
        // Document mode: the viewer moves between the document's pages itself.
        // A page whose image could not be made has still become the current
        // page: its own record is loaded all the same, so that the pane never
        // shows (and a later save never writes) the record of the page before.
        int rcMove = 0;
        if (iAction == kActionNext || iAction == kActionPrev)
            rcMove = m_pView->MovePage(iAction == kActionNext ? kMoveNext : kMovePrev);
        if (const int rc = m_pDoc->LoadHagakiInfo(); rc != 0) {
            OV_TRACE("COrmaViewDoc::LoadHagakiInfo() Error!(%d)\n", rc);
            return -3;
        }
        if (pPane != nullptr) {
            if (const int rc = pPane->Load(); rc != 0)
                return rc;
            if (!pManage->IsEditable())
                pPane->SetReadOnly(TRUE);
        }
        return rcMove;
    });
    UpdateCommandState();
    return iResult;
}

BOOL CMainFrame::IsHagakiManaged() const {
    return m_bHagaki && m_pDoc != nullptr && m_pDoc->m_pHagakiManage != nullptr &&
                   m_pDoc->m_pHagakiManage->GetMode() == 1
               ? TRUE
               : FALSE;
}

// --- Command state ---

void CMainFrame::UpdateCommandState() {
    for (const auto& [nID, pAction] : m_mapActions) {
        switch (nID) {
            case ID_PREV_PAGE:
                OnUpdatePrevPage(pAction);
                break;
            case ID_NEXT_PAGE:
                OnUpdateNextPage(pAction);
                break;
            case ID_ANNOTATION:
                OnUpdateAnnotation(pAction);
                break;
            case ID_OMOTE_ROTATE:
                OnUpdateOmoteRotate(pAction);
                break;
            case ID_URA_ROTATE:
                OnUpdateUraRotate(pAction);
                break;
            case ID_HAGAKI_ROTATION:
                OnUpdateHagakiRotation(pAction);
                break;
            default:
                break;  // Close is always enabled
        }
    }
}

void CMainFrame::OnUpdatePrevPage(QAction* pAction) {
    if (m_pDoc == nullptr)
        return;
    if (IsHagakiManaged())
        pAction->setEnabled(m_pDoc->m_pHagakiManage->HasPrevPage() != 0);
    else
        pAction->setEnabled(m_pDoc->GetPrevPagePos(0) > 0);
}

void CMainFrame::OnUpdateNextPage(QAction* pAction) {
    if (m_pDoc == nullptr)
        return;
    if (IsHagakiManaged())
        pAction->setEnabled(m_pDoc->m_pHagakiManage->HasNextPage() != 0);
    else
        pAction->setEnabled(m_pDoc->GetNextPagePos(0) > 0);
}

void CMainFrame::OnUpdateAnnotation(QAction* pAction) {
    if (m_pDoc == nullptr)
        return;
    pAction->setChecked(m_pDoc->m_bShowEditInfo != 0);
}

// The turns need a postcard that may be edited and the side (or both sides) they
// turn.
void CMainFrame::OnUpdateOmoteRotate(QAction* pAction) {
    CHagakiInfo cInfo;
    const bool bEnable = m_pDoc != nullptr && m_bHagaki && m_pDoc->m_pHagakiManage != nullptr &&
                         m_pDoc->GetHagakiInfo(cInfo, 0) == 0 && m_pDoc->m_pHagakiManage->IsEditable() &&
                         !cInfo.m_strFile1.empty();
    pAction->setEnabled(bEnable);
}

void CMainFrame::OnUpdateUraRotate(QAction* pAction) {
    CHagakiInfo cInfo;
    const bool bEnable = m_pDoc != nullptr && m_bHagaki && m_pDoc->m_pHagakiManage != nullptr &&
                         m_pDoc->GetHagakiInfo(cInfo, 0) == 0 && m_pDoc->m_pHagakiManage->IsEditable() &&
                         !cInfo.m_strFile2.empty();
    pAction->setEnabled(bEnable);
}

void CMainFrame::OnUpdateHagakiRotation(QAction* pAction) {
    CHagakiInfo cInfo;
    const bool bEnable = m_pDoc != nullptr && m_bHagaki && m_pDoc->m_pHagakiManage != nullptr &&
                         m_pDoc->GetHagakiInfo(cInfo, 0) == 0 && m_pDoc->m_pHagakiManage->IsEditable() &&
                         !cInfo.m_strFile1.empty() && !cInfo.m_strFile2.empty();
    pAction->setEnabled(bEnable);
}

std::string CMainFrame::OnToolTipText(UINT nID, const QPoint& globalPos) const {
    if (!rect().contains(mapFromGlobal(globalPos)))
        return std::string();
    const UINT nString = ToolTipStringFor(nID);
    if (nString == 0)
        return std::string();
    // The notification's text buffer holds 80 characters.
    return CutCp932(LoadResString(nString), 79);
}

QString CMainFrame::ToolTipWithShortcuts(const QAction* pAction, const QString& strText) {
    QStringList keys;
    if (pAction != nullptr) {
        for (const QKeySequence& key : pAction->shortcuts()) {
            if (!key.isEmpty())
                keys << key.toString(QKeySequence::NativeText);
        }
    }
    return keys.isEmpty() ? strText : strText + QStringLiteral(" (") + keys.join(QStringLiteral(", ")) + ')';
}

// --- Events ---

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        auto* pKey = static_cast<QKeyEvent*>(event);
        auto* pWidget = qobject_cast<QWidget*>(watched);
        if (pKey->key() == Qt::Key_Escape && pWidget != nullptr && pWidget->window() == this) {
            // Escape in the edit pane does nothing (a form does not close on it);
            // anywhere else in the frame it closes the viewer.
            if (m_pEditPane == nullptr || (pWidget != m_pEditPane && !m_pEditPane->isAncestorOf(pWidget)))
                OnClose();
            return true;
        }
    } else if (event->type() == QEvent::ToolTip) {
        auto* pButton = qobject_cast<QToolButton*>(watched);
        if (pButton != nullptr && pButton->parentWidget() == m_wndToolBar &&
            pButton->defaultAction() != nullptr) {
            auto* pHelp = static_cast<QHelpEvent*>(event);
            const UINT nID = pButton->defaultAction()->data().toUInt();
            const std::string strText = OnToolTipText(nID, pHelp->globalPos());
            if (strText.empty())
                QToolTip::hideText();
            else
                QToolTip::showText(pHelp->globalPos(),
                                   ToolTipWithShortcuts(pButton->defaultAction(), ov::ToQString(strText)),
                                   pButton);
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::TrackNormalGeometry() {
    if ((windowState() & (Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen)) == 0)
        m_rcNormal = geometry();
}

void CMainFrame::resizeEvent(QResizeEvent* event) {
    TrackNormalGeometry();
    if (m_pView != nullptr)
        m_pView->DestroyZoomView(TRUE);
    QMainWindow::resizeEvent(event);
}

void CMainFrame::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange) {
        // Restored from maximised: back to the normal rectangle, also when the
        // window was first shown maximised and the platform has no other one.
        const auto* pChange = static_cast<QWindowStateChangeEvent*>(event);
        const Qt::WindowStates maximised = Qt::WindowMaximized | Qt::WindowFullScreen;
        if ((pChange->oldState() & maximised) != 0 &&
            (windowState() & (maximised | Qt::WindowMinimized)) == 0 && m_rcNormal.isValid() &&
            geometry() != m_rcNormal)
            setGeometry(m_rcNormal);
    }
    QMainWindow::changeEvent(event);
}

void CMainFrame::moveEvent(QMoveEvent* event) {
    TrackNormalGeometry();
    QMainWindow::moveEvent(event);
}

LRESULT CMainFrame::OnWindowMessage(UINT msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE) {
        OnClose();
        return 0;
    }
    return 0;
}

void CMainFrame::OnClose() {
    if (m_bClosing)
        return;
    close();
}

void CMainFrame::RunClosingSteps() {
    if (m_pView != nullptr) {
        m_pView->CancelPageWork();  // a page being drawn is not waited for
        m_pView->DestroyZoomView(FALSE);
    }
    if (m_bHagaki) {
        const int rc = HagakiPageAction(2);
        if (rc != 0)
            ShowErrorMessage(rc);
    }
    const HWND hWorkDesk = FindWindowA(kWorkDeskWndClass, nullptr);
    if (hWorkDesk != 0)
        SendMessageA(hWorkDesk, WM_VIEWER_CLOSED, 0, 0);
    SaveWindowRect();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (m_bClosing) {
        event->accept();
        return;
    }
    m_bClosing = true;
    RunClosingSteps();
    event->accept();
    emit frameClosed();
}
