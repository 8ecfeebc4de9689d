// SPDX-License-Identifier: AGPL-3.0-or-later
#include "frame/MainFrm.h"

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHelpEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLayout>
#include <QSocketNotifier>
#include <QSplitter>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QWindow>
#include <QWindowStateChangeEvent>

#include "base/ErrorGuard.h"
#include "base/Trace.h"
#include "display/OrmaViewView.h"
#include "editpane/HagakiEditDialog.h"
#include "frame/PageWorkers.h"
#include "image/PageStore.h"
#include "image/Ravelin.h"
#include "ipc/WindowManager.h"
#include "ormacomm/OrmaComm.h"
#include "ormamsg/OrmaMsg.h"
#include "ormamsg/StringTable.h"
#include "qtglue/QtText.h"
#include "qtglue/WaitCursor.h"
#include "win32/CodePage.h"

// The icons live in the library's resource file; a static library needs its
// resources registered by hand.
static void InitFrameResources() {
    Q_INIT_RESOURCE(ormaview);
}

// Which modes a command belongs to.
enum : unsigned { kStandardMode = 1, kPostcardMode = 2, kBothModes = 3 };

// One command of the frame: its toolbar button (label 0: none), tooltip, keys
// and handler. kWindowKeys run it from anywhere in the window; kViewKeys while
// the page view has the focus (PageDown in the edit pane stays the field's).
struct CommandDef {
    UINT nID;
    UINT nLabel;
    UINT nTip;
    int iIcon;
    int iDisabledIcon;
    bool bCheckable;
    int aWindowKeys[2];
    int aViewKeys[3];
    int (CViewerSession::*pfnSession)();
    void (CMainFrame::*pfnFrame)();
    unsigned nModes;
};

namespace {

constexpr int Key(QKeyCombination key) {
    return key.toCombined();
}

// The one command table, in toolbar order (toolbar 130 in postcard mode, 128
// without the three turns in standard mode; the magnifier and the turned view
// in a bar of their own), then the keys without a button.
const CommandDef kCommands[] = {
    {ID_PREV_PAGE,
     IDS_LABEL_PREV,
     IDS_TIP_PREV_PAGE,
     145,
     149,
     false,
     {Key(Qt::CTRL | Qt::Key_PageUp)},
     {Key(Qt::Key_PageUp), Key(Qt::Key_Backspace), Key(Qt::Key_Left)},
     &CViewerSession::OnPrevPage,
     nullptr,
     kBothModes},
    {ID_NEXT_PAGE,
     IDS_LABEL_NEXT,
     IDS_TIP_NEXT_PAGE,
     144,
     150,
     false,
     {Key(Qt::CTRL | Qt::Key_PageDown)},
     {Key(Qt::Key_PageDown), Key(Qt::Key_Space), Key(Qt::Key_Right)},
     &CViewerSession::OnNextPage,
     nullptr,
     kBothModes},
    // A typed in a postcard field stays text: a focused line edit takes the key first.
    {ID_ANNOTATION,
     IDS_LABEL_ANNOTATIONS,
     IDS_TIP_ANNOTATIONS,
     148,
     151,
     true,
     {Key(Qt::Key_A)},
     {},
     &CViewerSession::OnAnnotation,
     nullptr,
     kBothModes},
    {ID_OMOTE_ROTATE,
     IDS_LABEL_OMOTE,
     IDS_TIP_OMOTE,
     153,
     157,
     false,
     {Key(Qt::CTRL | Qt::Key_R)},
     {},
     &CViewerSession::OnOmoteRotate,
     nullptr,
     kPostcardMode},
    {ID_URA_ROTATE,
     IDS_LABEL_URA,
     IDS_TIP_URA,
     154,
     156,
     false,
     {Key(Qt::CTRL | Qt::SHIFT | Qt::Key_R)},
     {},
     &CViewerSession::OnUraRotate,
     nullptr,
     kPostcardMode},
    {ID_HAGAKI_ROTATION,
     IDS_LABEL_ROTATION,
     IDS_TIP_ROTATION,
     155,
     158,
     false,
     {Key(Qt::CTRL | Qt::Key_T)},
     {},
     &CViewerSession::OnHagakiRotation,
     nullptr,
     kPostcardMode},
    // The magnifier: + and = (Ctrl + wheel too) enlarge step by step.
    {ID_ZOOM_IN,
     IDS_LABEL_ZOOM,
     IDS_TIP_ZOOM,
     170,
     171,
     false,
     {Key(Qt::Key_Plus), Key(Qt::Key_Equal)},
     {},
     nullptr,
     &CMainFrame::OnZoomIn,
     kBothModes},
    // Turns the view only; postcard mode's Ctrl+R turns the file instead.
    {ID_TURN_VIEW_RIGHT,
     IDS_LABEL_TURN_VIEW,
     IDS_TIP_TURN_VIEW,
     172,
     173,
     false,
     {Key(Qt::Key_R)},
     {},
     nullptr,
     &CMainFrame::OnTurnViewRight,
     kStandardMode},
    {ID_VIEW_CLOSE,
     IDS_LABEL_CLOSE,
     IDS_TIP_CLOSE,
     143,
     152,
     false,
     {Key(Qt::CTRL | Qt::Key_W), Key(Qt::CTRL | Qt::Key_Q)},
     {},
     nullptr,
     &CMainFrame::OnClose,
     kBothModes},
    // The postcard viewer decides which postcard comes next: these are standard mode's.
    {ID_FIRST_PAGE,
     0,
     0,
     0,
     0,
     false,
     {Key(Qt::Key_Home)},
     {},
     &CViewerSession::OnFirstPage,
     nullptr,
     kStandardMode},
    {ID_LAST_PAGE,
     0,
     0,
     0,
     0,
     false,
     {Key(Qt::Key_End)},
     {},
     &CViewerSession::OnLastPage,
     nullptr,
     kStandardMode},
    {ID_GOTO_PAGE,
     0,
     0,
     0,
     0,
     false,
     {Key(Qt::CTRL | Qt::Key_G)},
     {},
     nullptr,
     &CMainFrame::OnGoToPage,
     kStandardMode},
    {ID_ZOOM_OUT, 0, 0, 0, 0, false, {Key(Qt::Key_Minus)}, {}, nullptr, &CMainFrame::OnZoomOut, kBothModes},
    {ID_ZOOM_FIT_WIDTH,
     0,
     0,
     0,
     0,
     false,
     {Key(Qt::Key_W)},
     {},
     nullptr,
     &CMainFrame::OnZoomFitWidth,
     kBothModes},
    {ID_TURN_VIEW_LEFT,
     0,
     0,
     0,
     0,
     false,
     {Key(Qt::SHIFT | Qt::Key_R)},
     {},
     nullptr,
     &CMainFrame::OnTurnViewLeft,
     kStandardMode},
};

const CommandDef* FindCommand(UINT nID) {
    for (const CommandDef& def : kCommands) {
        if (def.nID == nID)
            return &def;
    }
    return nullptr;
}

QList<QKeySequence> KeysOf(const int* pKeys, std::size_t n) {
    QList<QKeySequence> keys;
    for (std::size_t i = 0; i < n; ++i) {
        if (pKeys[i] != 0)
            keys << QKeySequence(QKeyCombination::fromCombined(pKeys[i]));
    }
    return keys;
}

QList<QKeySequence> WindowKeys(const CommandDef& def) {
    return KeysOf(def.aWindowKeys, std::size(def.aWindowKeys));
}

QList<QKeySequence> ViewKeys(const CommandDef& def) {
    return KeysOf(def.aViewKeys, std::size(def.aViewKeys));
}

// The page view keeps at least this width beside the edit pane, whatever window
// size was saved: as the window narrows the edit pane gives way first (down to
// kMinEditPaneWidth, its fields squeezed), so that the card stays readable.
constexpr int kMinPageViewWidth = 320;
constexpr int kMinEditPaneWidth = 160;

QIcon ButtonIcon(int iIcon, int iDisabledIcon) {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/%1.svg").arg(iIcon), QSize(), QIcon::Normal);
    icon.addFile(QStringLiteral(":/icons/%1.svg").arg(iDisabledIcon), QSize(), QIcon::Disabled);
    return icon;
}

// The template's title (first field of string 128), carried while hidden.
QString TemplateTitle() {
    const std::string strTemplate = LoadResString(IDS_DOC_TEMPLATE);
    return ov::ToQString(strTemplate.substr(0, strTemplate.find('\n')));
}

}  // namespace

CMainFrame::CMainFrame(COrmaViewDoc* pDocument) : m_pDoc(pDocument) {
    InitFrameResources();
    setObjectName(QStringLiteral("CMainFrame"));
}

CMainFrame::~CMainFrame() {
    qApp->removeEventFilter(this);
    // The session cancels and joins its page work before its workers go.
    m_pSession.reset();
    m_pWorkers.reset();
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
    if (m_pDoc == nullptr)
        return FALSE;
    m_pWorkers = std::make_unique<CPageWorkers>();
    m_pSession = std::make_unique<CViewerSession>(*m_pDoc, *this, *m_pWorkers, m_bHagaki);
    const unsigned long long nStoreBytes = GetPageCacheBytes();
    if (nStoreBytes > 0)
        m_pSession->SetPageStore(
            std::make_shared<ov::image::CPageStore>(ov::image::CPageStore::DefaultFolder(), nStoreBytes));
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
    m_pView = new COrmaViewView();
    ConnectView();
    if (!m_bHagaki) {
        setCentralWidget(m_pView);
        m_pView->setFocus();
        return TRUE;
    }
    // Postcard mode: the edit pane on the left (320 pixels), the page view on
    // the right; neither can be pushed out of sight, so a small window grows to
    // hold both.
    m_wndSplitter = new QSplitter(Qt::Horizontal, this);
    m_wndSplitter->setObjectName(QStringLiteral("m_wndSplitter"));
    m_pEditPane = new CHagakiEditDialog(m_wndSplitter);
    m_pEditPane->SetDocument(m_pSession.get());
    m_pView->setMinimumWidth(kMinPageViewWidth);
    m_pEditPane->setMinimumWidth(std::min(m_pEditPane->minimumWidth(), kMinEditPaneWidth));
    m_wndSplitter->addWidget(m_pEditPane);
    m_wndSplitter->addWidget(m_pView);
    m_wndSplitter->setChildrenCollapsible(false);
    m_wndSplitter->setSizes({320, 225});
    m_wndSplitter->setStretchFactor(0, 0);
    m_wndSplitter->setStretchFactor(1, 1);
    setCentralWidget(m_wndSplitter);
    m_pView->setFocus();
    return TRUE;
}

void CMainFrame::ConnectView() {
    COrmaViewView* pView = m_pView;
    pView->SetWindowHandle(m_hWnd);
    pView->SetSelectionEnabled(m_bHagaki);
    pView->SetZoomFileSource([this](std::string* pstrPath, int* piPage, BOOL* pbTemporary) {
        return m_pSession->ChooseZoomImageFile(pstrPath, piPage, pbTemporary);
    });
    if (const CommandDef* pNext = FindCommand(ID_NEXT_PAGE), *pPrev = FindCommand(ID_PREV_PAGE);
        pNext != nullptr && pPrev != nullptr)
        pView->SetStepKeys(ViewKeys(*pNext), ViewKeys(*pPrev));
    connect(pView, &COrmaViewView::viewSizeChanged, this,
            [this](QSize size) { m_pSession->SetViewSize(size.width(), size.height()); });
    const auto trigger = [this](UINT nID) {
        if (QAction* pAction = CommandAction(nID))
            pAction->trigger();  // nothing when the command is disabled
    };
    connect(pView, &COrmaViewView::nextRequested, this, [=] { trigger(ID_NEXT_PAGE); });
    connect(pView, &COrmaViewView::prevRequested, this, [=] { trigger(ID_PREV_PAGE); });
    connect(pView, &COrmaViewView::wheelStepped, this, [this](int iDelta) {
        // In postcard mode an open zoom view keeps the postcard where it is.
        if (m_bHagaki && m_pView->ZoomView() != nullptr)
            return;
        m_pSession->OnWheel(iDelta);
    });
    connect(pView, &COrmaViewView::zoomLevelChanged, this, [this](double dLevel) {
        m_dZoomLevel = dLevel;
        UpdatePageIndicator();
    });
    connect(pView, &COrmaViewView::doubleClicked, this, [this] {
        if (!m_bHagaki)
            OnClose();
    });
    // The magnifier opens only over a picture of the current page: never over
    // the previous card's right after a move or a turn.
    connect(pView, &COrmaViewView::zoomRequested, this, [this](QRect rcSelect) {
        if (m_pView->ZoomView() == nullptr && m_pSession->IsShownPageCurrent())
            m_pView->CreateZoomView(rcSelect);
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

    // The reading aids' buttons (magnifier, turned view) sit in a second bar
    // under the first, below the page indicator.
    m_wndViewBar = new QToolBar(this);
    m_wndViewBar->setObjectName(QStringLiteral("m_wndViewBar"));
    m_wndViewBar->setMovable(false);
    m_wndViewBar->setFloatable(false);
    m_wndViewBar->setAllowedAreas(Qt::LeftToolBarArea);
    m_wndViewBar->setOrientation(Qt::Vertical);
    m_wndViewBar->setIconSize(QSize(24, 24));
    m_wndViewBar->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    m_wndViewBar->setContextMenuPolicy(Qt::PreventContextMenu);
    addToolBar(Qt::LeftToolBarArea, m_wndViewBar);

    const unsigned nMode = m_bHagaki ? kPostcardMode : kStandardMode;
    for (const CommandDef& def : kCommands) {
        if ((def.nModes & nMode) == 0)
            continue;
        auto* pAction = new QAction(this);
        pAction->setData(def.nID);
        pAction->setObjectName(QStringLiteral("ID_%1").arg(def.nID));
        pAction->setCheckable(def.bCheckable);
        pAction->setShortcuts(WindowKeys(def));
        pAction->setShortcutContext(Qt::WindowShortcut);
        connect(pAction, &QAction::triggered, this, [this, &def] { RunCommand(def); });
        m_mapActions[def.nID] = pAction;
        if (def.nLabel == 0) {
            addAction(pAction);
            continue;
        }
        pAction->setIcon(ButtonIcon(def.iIcon, def.iDisabledIcon));
        pAction->setText(ov::ToQString(LoadResString(def.nLabel)));
        QToolBar* pBar = def.nID == ID_ZOOM_IN || def.nID == ID_TURN_VIEW_RIGHT ? m_wndViewBar : m_wndToolBar;
        pBar->addAction(pAction);
        if (QWidget* pButton = pBar->widgetForAction(pAction)) {
            pButton->setObjectName(QStringLiteral("button_%1").arg(def.nID));
            pButton->setFocusPolicy(Qt::NoFocus);
            // Read out by screen readers: the label, then what it does and its keys.
            pButton->setAccessibleName(pAction->text());
            pButton->setAccessibleDescription(
                ToolTipWithKeys(def.nID, ov::ToQString(LoadResString(def.nTip))));
        }
    }
    setWindowIcon(QIcon(QStringLiteral(":/icons/%1.svg").arg(m_bHagaki ? 130 : 128)));
    CreatePageIndicator();
    return TRUE;
}

void CMainFrame::RunCommand(const CommandDef& def) {
    if (def.pfnSession != nullptr)
        (m_pSession.get()->*def.pfnSession)();
    else if (def.pfnFrame != nullptr)
        (this->*def.pfnFrame)();
}

QAction* CMainFrame::CommandAction(UINT nID) const {
    const auto it = m_mapActions.find(nID);
    return it == m_mapActions.end() ? nullptr : it->second;
}

int CMainFrame::Load(std::string strWorkDeskFolder, int iDocID, int iPageID, int iManageKey) {
    const int iResult = m_pSession->Load(std::move(strWorkDeskFolder), iDocID, iPageID, m_hWnd, iManageKey);
    m_bLoaded = iResult == 0 ? TRUE : FALSE;
    CommandStatesChanged();
    return iResult;
}

void CMainFrame::WaitForFirstPicture(int iTimeoutMs) {
    // The pages around the first one are made once the window has first been
    // painted (or a second on at the latest), not while it is being shown.
    m_pSession->HoldNeighbours(TRUE);
    const auto release = [this] { m_pSession->HoldNeighbours(FALSE); };
    connect(
        m_pView, &COrmaViewView::viewPainted, this, [this, release] { QTimer::singleShot(0, this, release); },
        Qt::SingleShotConnection);
    QTimer::singleShot(1000, this, release);
    QElapsedTimer timer;
    timer.start();
    // The layout is settled before the window is shown: the page is asked for
    // at the size it will be shown at.
    if (QLayout* pLayout = layout())
        pLayout->activate();
    m_pView->ReportSize();
    while (m_bLoaded && m_pSession->IsPageBusy()) {
        const qint64 left = iTimeoutMs - timer.elapsed();
        if (left <= 0 || !m_pWorkers->RunPosted(static_cast<int>(left)))
            return;
    }
}

BOOL CMainFrame::WaitForPage(int iTimeoutMs) {
    // Settled already: nothing to run (the event loop is left alone).
    if (m_bLoaded && !m_pSession->IsPageBusy() &&
        (!m_pView->PageImage().isNull() || m_pView->ZoomView() != nullptr))
        return TRUE;
    QElapsedTimer timer;
    timer.start();
    // Events first: a paint or a resize that asks for the page may be pending.
    QCoreApplication::processEvents();
    while (m_pSession->IsPageBusy()) {
        if (timer.elapsed() > iTimeoutMs)
            return FALSE;
        // Sleeps in the event loop until the page comes (or a short while has passed).
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    QCoreApplication::processEvents();
    return TRUE;
}

// --- What the session asks of its window ---

void CMainFrame::ShowPage(int iPagePos, std::shared_ptr<const CPageBitmap> pBitmap) {
    // The page's own turn of the view; a picture made for the other shape is
    // asked for again at the next painting.
    if (!m_bHagaki)
        m_pView->SetQuarterTurns(ViewTurnsOf(iPagePos), FALSE);
    m_pView->ShowPage(std::move(pBitmap));
}

void CMainFrame::ShowPageError(int iResult) {
    m_pView->ShowPageError(iResult);
}

void CMainFrame::PageRequested() {
    const int iNumber = m_pSession->GetDisplayPageNo();
    m_pView->PageRequested(iNumber >= 1
                               ? QStringLiteral("Page %1 of %2").arg(iNumber).arg(m_pSession->GetPageTotal())
                               : QString());
}

BOOL CMainFrame::RefreshZoomView() {
    return m_pView->ChangeZoomImage();
}

void CMainFrame::CloseZoomView() {
    m_pView->DestroyZoomView(FALSE);
}

void CMainFrame::SetTitle(const std::string& strTitle) {
    setWindowTitle(ov::ToQString(strTitle));
}

void CMainFrame::CommandStatesChanged() {
    if (!m_bLoaded)
        return;
    for (const auto& [nID, pAction] : m_mapActions) {
        const CCommandState state = m_pSession->GetCommandState(nID);
        pAction->setEnabled(state.bEnabled != 0);
        if (pAction->isCheckable())
            pAction->setChecked(state.bChecked != 0);
    }
    UpdatePageIndicator();
}

void CMainFrame::ShowError(int iResult) {
    ShowErrorMessage(iResult);
}

void CMainFrame::SetWaitCursor(BOOL bWait) {
    ov::CWaitCursor::Set(bWait != 0);
}

void CMainFrame::SaveWindowPlacement() {
    SaveWindowRect();
}

int CMainFrame::EditPaneLoad() {
    return m_pEditPane != nullptr ? m_pEditPane->Load() : 0;
}

int CMainFrame::EditPaneSaveToDoc() {
    return m_pEditPane != nullptr ? m_pEditPane->SaveToDoc() : 0;
}

void CMainFrame::EditPaneSetReadOnly(BOOL bReadOnly) {
    if (m_pEditPane != nullptr)
        m_pEditPane->SetReadOnly(bReadOnly);
}

// --- Tooltips ---

std::string CMainFrame::OnToolTipText(UINT nID, const QPoint& globalPos) const {
    if (!rect().contains(mapFromGlobal(globalPos)))
        return std::string();
    const CommandDef* pDef = FindCommand(nID);
    if (pDef == nullptr || pDef->nTip == 0)
        return std::string();
    // The notification's text buffer holds 80 characters.
    const std::string strTip = LoadResString(pDef->nTip);
    return strTip.substr(0, ov::Cp932CutLength(strTip, 79));
}

QString CMainFrame::ToolTipWithKeys(UINT nID, const QString& strText) {
    const CommandDef* pDef = FindCommand(nID);
    if (pDef == nullptr)
        return strText;
    QStringList keys;
    for (const QKeySequence& key : WindowKeys(*pDef) + ViewKeys(*pDef))
        keys << key.toString(QKeySequence::NativeText);
    return keys.isEmpty() ? strText : strText + QStringLiteral(" (") + keys.join(QStringLiteral(", ")) + ')';
}

// --- Events ---

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        FitFramedWindow();
    } else if (event->type() == QEvent::KeyPress) {
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
        if (pButton != nullptr &&
            (pButton->parentWidget() == m_wndToolBar || pButton->parentWidget() == m_wndViewBar) &&
            pButton->defaultAction() != nullptr) {
            auto* pHelp = static_cast<QHelpEvent*>(event);
            const UINT nID = pButton->defaultAction()->data().toUInt();
            const std::string strText = OnToolTipText(nID, pHelp->globalPos());
            if (strText.empty())
                QToolTip::hideText();
            else
                QToolTip::showText(pHelp->globalPos(), ToolTipWithKeys(nID, ov::ToQString(strText)), pButton);
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
    FitFramedWindow();
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
    FitFramedWindow();
}

LRESULT CMainFrame::OnWindowMessage(UINT msg, WPARAM, LPARAM) {
    if (msg == WM_CLOSE)
        OnClose();
    return 0;
}

void CMainFrame::OnClose() {
    if (m_bClosing)
        return;
    close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
    if (!m_bClosing) {
        m_bClosing = true;
        m_pSession->OnClose();
        emit frameClosed();
    }
    event->accept();
}
