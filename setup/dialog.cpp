#include "dialog.h"

#include "answering.h"

// The window property that ties a dialog window to its object.
static const char kObjectProp[] = "CDialogObject";

CDialog::CDialog(UINT templateId)
    : m_hWnd(NULL), m_templateId(templateId), m_modal(false), m_looping(false), m_loopEnded(false), m_loopResult(0)
{
}

CDialog::~CDialog()
{
    // Nothing of a half-destroyed object may see the window's last messages.
    if (m_hWnd) {
        HWND hWnd = m_hWnd;
        Detach();
        ::DestroyWindow(hWnd);
    }
}

INT_PTR CDialog::DoModal(HWND parent)
{
    m_modal = true;
    INT_PTR r = ::DialogBoxParamA(::GetModuleHandleA(NULL), MAKEINTRESOURCEA(m_templateId), parent,
                                  DialogProc, reinterpret_cast<LPARAM>(this));
    m_modal = false;
    return r;
}

bool CDialog::Create(HWND parent)
{
    m_modal = false;
    HWND hWnd = ::CreateDialogParamA(::GetModuleHandleA(NULL), MAKEINTRESOURCEA(m_templateId), parent,
                                     DialogProc, reinterpret_cast<LPARAM>(this));
    return hWnd != NULL;
}

INT_PTR CDialog::RunModalLoop(HWND parent)
{
    m_loopEnded = false;
    m_loopResult = 0;
    if (!Create(parent))
        return -1;
    m_looping = true;
    MSG msg;
    while (m_hWnd && !m_loopEnded && ::GetMessageA(&msg, NULL, 0, 0) > 0) {
        if (!WalkPreTranslate(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }
    m_looping = false;
    DestroyWindow();
    return m_loopResult;
}

void CDialog::EndDialog(INT_PTR code)
{
    if (m_modal) {
        ::EndDialog(m_hWnd, code);
    } else {
        m_loopEnded = true;
        m_loopResult = code;
        WakeLoop();
    }
}

// The loop's window can be ended while the loop answers a message sent from
// another thread or program (a system command that opened the About box, in
// whose own loop the cancel was confirmed, say). GetMessage answers such a
// message without returning, and would wait on with nothing left to come: a
// null message of the thread's own makes it return and see that it is over.
void CDialog::WakeLoop()
{
    if (m_looping)
        ::PostMessageA(NULL, WM_NULL, 0, 0);
}

void CDialog::DestroyWindow()
{
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

// Enter in a multi-line edit that does not take Enter as a line break stands
// for the dialog's OK, as it does in any dialog. Some systems' edit controls
// look for a default button instead and drop the key in a dialog without one.
// (A window handle names a window; it points at nothing to keep constant.)
// cppcheck-suppress constParameter
static bool IsEnterForDialog(HWND dlg, const MSG* msg)
{
    if (msg->message != WM_KEYDOWN || msg->wParam != VK_RETURN || ::GetParent(msg->hwnd) != dlg)
        return false;
    char cls[8] = "";
    ::GetClassNameA(msg->hwnd, cls, sizeof cls);
    LONG style = ::GetWindowLongA(msg->hwnd, GWL_STYLE);
    return lstrcmpiA(cls, "Edit") == 0 && (style & ES_MULTILINE) && !(style & ES_WANTRETURN);
}

bool CDialog::PreTranslateMessage(MSG* msg)
{
    if (IsEnterForDialog(m_hWnd, msg)) {
        // The command may destroy this dialog: nothing of it is used afterwards.
        ::SendMessageA(m_hWnd, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return true;
    }
    return ::IsDialogMessageA(m_hWnd, msg) != FALSE;
}

bool CDialog::WalkPreTranslate(MSG* msg)
{
    if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST)
        return false;
    for (HWND hWnd = msg->hwnd; hWnd; hWnd = ::GetParent(hWnd)) {
        CDialog* dlg = FromHandle(hWnd);
        // A handler may destroy the window and its object: nothing of the
        // object is touched once it has answered.
        if (dlg && dlg->PreTranslateMessage(msg))
            return true;
    }
    return false;
}

bool CDialog::OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR& result)
{
    switch (msg) {
    case WM_INITDIALOG:
        result = OnInitDialog();
        return true;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK) {
            OnOK();
            return true;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            OnCancel();
            return true;
        }
        return false;
    default:
        return false;
    }
}

CDialog* CDialog::FromHandle(HWND hWnd)
{
    return static_cast<CDialog*>(::GetPropA(hWnd, kObjectProp));
}

void CDialog::Attach(HWND hWnd)
{
    m_hWnd = hWnd;
    ::SetPropA(hWnd, kObjectProp, this);
}

void CDialog::Detach()
{
    ::RemovePropA(m_hWnd, kObjectProp);
    m_hWnd = NULL;
    WakeLoop();
}

int CRequestGuard::s_held = 0;

static bool IsPushButtonClick(HWND control, WORD code)
{
    LONG type = ::GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    return code == BN_CLICKED && (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON);
}

// A report of one of the dialog's own controls about its state: it comes from
// a child of the dialog, names that child's own id, and is no push button's
// click. A command that names another id than its control's is the command of
// that id, whoever sent it. (The window handles point at nothing to keep
// constant.)
// cppcheck-suppress constParameter
static bool IsControlReport(HWND dlg, HWND control, WPARAM wParam)
{
    return control && ::GetParent(control) == dlg && (::GetDlgCtrlID(control) & 0xFFFF) == LOWORD(wParam) &&
           !IsPushButtonClick(control, HIWORD(wParam));
}

// Whether the message asks the dialog to act: close, end the session, run a
// system command (the close and the setup's own menu entries), or carry out a
// command (from a menu, the dialog manager's Enter and Esc, a push button, or
// a control that is not the dialog's own). The other system commands move,
// size and restore windows. (The window handle points at nothing to keep
// constant.)
// cppcheck-suppress constParameter
static bool IsRequest(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
    case WM_ENDSESSION:
        return true;
    case WM_SYSCOMMAND:
        return (wParam & 0xFFF0) == SC_CLOSE || (wParam & 0xFFF0) < 0xF000;
    case WM_COMMAND:
        return !IsControlReport(dlg, reinterpret_cast<HWND>(lParam), wParam);
    default:
        return false;
    }
}

// Whether the message would start a loop of the system's own, which takes
// input and posted messages until it ends: the system commands (moving and
// sizing a window, its menus), the context menu, and presses on a window's
// frame, which lead to one or the other.
static bool StartsLoopOfItsOwn(UINT msg)
{
    return msg == WM_SYSCOMMAND || msg == WM_CONTEXTMENU || (msg >= WM_NCLBUTTONDOWN && msg <= WM_NCMBUTTONDBLCLK);
}

// What is kept from the setup's windows: the requests to its modeless windows
// while a guard lives, and, while the install answers sent messages between
// its stretches of work, anything that would start a loop in the middle of it,
// for a modal dialog too (the About box, opened before the install).
static bool IsKeptFromWindows(HWND dlg, bool modal, UINT msg, WPARAM wParam, LPARAM lParam)
{
    return (CRequestGuard::Held() && !modal && IsRequest(dlg, msg, wParam, lParam)) ||
           (AnsweringSentMessages() && StartsLoopOfItsOwn(msg));
}

// Messages whose answer is the dialog procedure's return value itself rather
// than DWLP_MSGRESULT.
static bool ReturnsDirectly(UINT msg)
{
    return msg == WM_INITDIALOG || msg == WM_QUERYDRAGICON || msg == WM_COMPAREITEM ||
           msg == WM_VKEYTOITEM || msg == WM_CHARTOITEM ||
           (msg >= WM_CTLCOLORMSGBOX && msg <= WM_CTLCOLORSTATIC);
}

// A window's dialog initialisation runs once, when the system creates it. Any
// later WM_INITDIALOG comes from another program, with no object behind it,
// and would run the initialisation again: the installing page's is the whole
// install. It is dropped.
INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    if (msg == WM_INITDIALOG) {
        if (FromHandle(hWnd))
            return FALSE;
        reinterpret_cast<CDialog*>(lParam)->Attach(hWnd);
    }
    CDialog* dlg = FromHandle(hWnd);
    if (!dlg)
        return FALSE;
    if (msg == WM_NCDESTROY) {
        dlg->Detach();
        return FALSE;
    }
    if (IsKeptFromWindows(hWnd, dlg->m_modal, msg, wParam, lParam)) {
        ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, FALSE);
        return TRUE;
    }
    INT_PTR result = 0;
    if (!dlg->OnMessage(msg, wParam, lParam, result))
        return FALSE;
    // The handler may have destroyed the window and deleted the object.
    if (ReturnsDirectly(msg))
        return result;
    if (::IsWindow(hWnd))
        ::SetWindowLongPtrA(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

ZString WindowText(HWND hWnd)
{
    int n = ::GetWindowTextLengthA(hWnd);
    char* buf = new char[n + 1];
    ZString text(buf, ::GetWindowTextA(hWnd, buf, n + 1));
    delete[] buf;
    return text;
}
