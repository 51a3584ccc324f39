#include "wizard.h"

#include "resource.h"
#include "setupmain.h"
#include "wizstep40.h"
#include "wizsteps.h"

static bool IsTabKeyDown(const MSG* msg)
{
    return msg->message == WM_KEYDOWN && msg->wParam == VK_TAB;
}

enum TabWrap { kNoWrap, kForwardWrap, kBackwardWrap };

// Whether Tab now leaves the window's ring of tab-able children: forward from
// its last one, or (with Shift) backward from its first one.
static TabWrap WrapOf(HWND window)
{
    HWND first, last;
    FindTabEnds(window, &first, &last);
    HWND focus = ::GetFocus();
    bool shift = ::GetKeyState(VK_SHIFT) < 0;
    if (last && focus == last && !shift)
        return kForwardWrap;
    if (first && focus == first && shift)
        return kBackwardWrap;
    return kNoWrap;
}

CWizStepBase::CWizStepBase(UINT templateId, CWizardDlg* wizard)
    : CDialog(templateId), m_pWizard(wizard)
{
}

void CWizStepBase::OnOK()
{
    m_pWizard->OnNext();
}

void CWizStepBase::OnCancel()
{
    m_pWizard->OnCancel();
}

bool CWizStepBase::PreTranslateMessage(MSG* msg)
{
    if (!IsTabKeyDown(msg))
        return CDialog::PreTranslateMessage(msg);
    TabWrap wrap = WrapOf(m_hWnd);
    CWizardDlg* wizard = m_pWizard;
    // The page's own tab movement comes first.
    bool consumed = CDialog::PreTranslateMessage(msg);
    if (wrap == kNoWrap)
        return consumed;
    HWND frameFirst, frameLast;
    FindTabEnds(wizard->GetSafeHwnd(), &frameFirst, &frameLast);
    HWND target = wrap == kForwardWrap ? frameFirst : frameLast;
    if (target)
        ::SetFocus(target);
    return true;
}

CWizardDlg::CWizardDlg(CSetupMain* main)
    : CDialog(IDD_WIZARD), m_bFinished(false), m_pCurStep(NULL), m_pMain(main),
      m_hCancel(NULL), m_hNext(NULL), m_hBack(NULL)
{
}

CWizardDlg::~CWizardDlg()
{
    delete m_pCurStep;
}

bool CWizardDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDC_WIZ_NEXT:
            OnNext();
            return true;
        case IDC_WIZ_BACK:
            OnBack();
            return true;
        }
    }
    return CDialog::OnMessage(msg, wParam, lParam, result);
}

BOOL CWizardDlg::OnInitDialog()
{
    m_hCancel = Item(IDCANCEL);
    m_hNext = Item(IDC_WIZ_NEXT);
    m_hBack = Item(IDC_WIZ_BACK);
    m_pCurStep = CreateWizStep(10, this);
    if (m_pCurStep)
        ::ShowWindow(m_pCurStep->GetSafeHwnd(), SW_SHOW);
    UpdateButtons();
    return TRUE;
}

void CWizardDlg::UpdateButtons()
{
    int prev = m_pCurStep ? m_pCurStep->GetPrevStep() : 0;
    int next = m_pCurStep ? m_pCurStep->GetNextStep() : 0;
    ::EnableWindow(m_hBack, prev != 0);
    ::EnableWindow(m_hNext, next != 0);
    next = m_pCurStep ? m_pCurStep->GetNextStep() : 0;
    ::SendMessageA(m_hBack, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    ::SendMessageA(m_hNext, BM_SETSTYLE, next ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON, TRUE);
    ::SendMessageA(m_hCancel, BM_SETSTYLE, next ? BS_PUSHBUTTON : BS_DEFPUSHBUTTON, TRUE);
}

void CWizardDlg::GoToStep(int id)
{
    if (id != 0) {
        // The old page goes before the new one is made: the destination page
        // stores its directory when its window is destroyed, and the
        // installing page reads it while it is created.
        m_pCurStep->DestroyWindow();
        delete m_pCurStep;
        // Nothing may reach the deleted page while the new one is made: the
        // installing page's creation is the whole install.
        m_pCurStep = NULL;
        m_pCurStep = CreateWizStep(id, this);
        if (m_pCurStep)
            ::ShowWindow(m_pCurStep->GetSafeHwnd(), SW_SHOW);
    }
    UpdateButtons();
    FocusDefaultButtonIfStranded();
}

// After a page change the focus may be left on a button the new page disables
// (Next on the installing page) or on a control that takes no input (the
// installing page's group box); Enter and Esc would then reach nothing until
// the user clicks. The button that looks like the default takes it instead.
void CWizardDlg::FocusDefaultButtonIfStranded()
{
    HWND focus = ::GetFocus();
    if (focus && ::IsWindowEnabled(focus) && (::GetWindowLongA(focus, GWL_STYLE) & WS_TABSTOP))
        return;
    ::SetFocus(::IsWindowEnabled(m_hNext) ? m_hNext : m_hCancel);
}

void CWizardDlg::OnNext()
{
    if (!m_pCurStep || !::IsWindow(m_pCurStep->GetSafeHwnd()))
        return;
    GoToStep(m_pCurStep->GetNextStep());
}

void CWizardDlg::OnBack()
{
    if (!m_pCurStep || !::IsWindow(m_pCurStep->GetSafeHwnd()))
        return;
    GoToStep(m_pCurStep->GetPrevStep());
}

void CWizardDlg::OnCancel()
{
    // The backdrop decides what cancelling means; it may delete this frame.
    m_pMain->OnCancel();
}

bool CWizardDlg::PreTranslateMessage(MSG* msg)
{
    if (!IsTabKeyDown(msg) || !m_pCurStep)
        return CDialog::PreTranslateMessage(msg);
    TabWrap wrap = WrapOf(m_hWnd);
    HWND pageFirst, pageLast;
    FindTabEnds(m_pCurStep->GetSafeHwnd(), &pageFirst, &pageLast);
    // A page without a tab stop (the welcome page) leaves the ring to the
    // frame's buttons rather than dropping the keyboard focus.
    if (wrap == kNoWrap || !pageFirst)
        return CDialog::PreTranslateMessage(msg);
    ::SetFocus(m_pCurStep->GetSafeHwnd());
    ::SetFocus(wrap == kForwardWrap ? pageFirst : pageLast);
    return true;
}

CWizStepBase* CreateWizStep(int id, CWizardDlg* wizard)
{
    CWizStepBase* step;
    switch (id) {
    case 10: step = new CWizStep10(wizard); break;
    case 20: step = new CWizStep20(wizard); break;
    case 30: step = new CWizStep30(wizard); break;
    case 40: step = new CWizStep40(wizard); break;
    default: return NULL;
    }
    if (!step->Create(wizard->GetSafeHwnd())) {
        delete step;
        return NULL;
    }
    return step;
}

static bool CountsAsTabStop(HWND child)
{
    char cls[2] = "";
    ::GetClassNameA(child, cls, sizeof cls);
    return (::GetDlgCtrlID(child) & 0xFFFF) != 0xFFFF && ::IsWindowEnabled(child) && cls[0] != '#';
}

void FindTabEnds(HWND parent, HWND* first, HWND* last)
{
    *first = *last = NULL;
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        if (!CountsAsTabStop(child))
            continue;
        if (!*first)
            *first = child;
        *last = child;
    }
}
