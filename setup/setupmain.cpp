#include "setupmain.h"

#include "delayload.h"
#include "resource.h"
#include "screenscale.h"
#include "shelllaunch.h"
#include "wizard.h"
#include "wizsteps.h"
#include "zinit.h"

#include <shellapi.h>
#include <string.h>

static const char kProductName[] = "CuratoNet";
static const char kMakerLine[] = "Tamber Labs ";
static const char kHelpFailureText[] = "Failed to launch help.";
// The standard Help command.
static const WORD kHelpCommand = 57670;
// Posted by a size change: the wizard frame takes the focus once more.
static const UINT kFocusWizardMessage = WM_APP;

// The fixed-pitch font of the About box's version line, made once for the
// process and deleted at exit: 12 pixels high at 96 dots per inch, at the
// screen's scale.
struct CSharedFont {
    CSharedFont()
        : handle(::CreateFontA(ScaleToScreen(12), 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "Courier")) {}
    ~CSharedFont() { ::DeleteObject(handle); }
    HFONT handle;
};
static CSharedFont gCourierFont Z_INIT(Z_INIT_APP_FONTS);

CSetupMain::CSetupMain()
    : CDialog(IDD_SETUP_MAIN),
      m_hIcon(::LoadIconA(::GetModuleHandleA(NULL), MAKEINTRESOURCEA(IDI_SETUP))),
      m_pWizard(NULL)
{
}

CSetupMain::~CSetupMain()
{
    delete m_pWizard;
}

bool CSetupMain::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    if (msg == WM_COMMAND && LOWORD(wParam) == kHelpCommand) {
        OnHelp();
        return true;
    }
    switch (msg) {
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) != IDM_ABOUTBOX)
            return false;
        {
            HWND focus = ::GetFocus();
            CAboutDlg about;
            about.DoModal(m_hWnd);
            RaiseWizard(focus);
        }
        return true;
    case WM_PAINT:
        OnPaint();
        return true;
    case WM_ERASEBKGND:
        result = TRUE;   // painting covers the whole client area
        return true;
    case WM_SIZE:
        OnSize();
        return false;
    case kFocusWizardMessage:
        FocusWizardAgain();
        return true;
    case WM_QUERYDRAGICON:
        result = reinterpret_cast<INT_PTR>(m_hIcon);
        return true;
    case WM_DESTROY:
        OnDestroy();
        return false;
    case WM_CLOSE:
        OnCancel();
        return true;
    }
    return CDialog::OnMessage(msg, wParam, lParam, result);
}

BOOL CSetupMain::OnInitDialog()
{
    PlaceOnDesktop();
    AddAboutToSystemMenu();
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    ::SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    ::SetWindowTextA(m_hWnd, "CuratoNet Installation");

    m_pWizard = new CWizardDlg(this);
    m_pWizard->Create(m_hWnd);
    HWND wizard = m_pWizard->GetSafeHwnd();
    ::ShowWindow(wizard, SW_SHOWNORMAL);
    ::ShowWindow(m_hWnd, SW_SHOWNORMAL);
    ::SetFocus(wizard);
    return FALSE;
}

// Margins of a tenth of the desktop's width on every side, the vertical ones too.
void CSetupMain::PlaceOnDesktop()
{
    RECT r;
    ::GetClientRect(::GetDesktopWindow(), &r);
    int width = r.right - r.left;
    int m = width / 10;
    ::SetWindowPos(m_hWnd, NULL, m, m, width - 2 * m, (r.bottom - r.top) - 2 * m, SWP_NOZORDER);
}

void CSetupMain::AddAboutToSystemMenu()
{
    HMENU menu = ::GetSystemMenu(m_hWnd, FALSE);
    if (!menu)
        return;
    char text[256] = "";
    if (::LoadStringA(::GetModuleHandleA(NULL), IDS_ABOUTBOX, text, sizeof text) <= 0)
        return;
    ::AppendMenuA(menu, MF_SEPARATOR, 0, NULL);
    ::AppendMenuA(menu, MF_STRING, IDM_ABOUTBOX, text);
}

// Repaints and keeps the wizard frame centred over the backdrop. The size
// change of the placement comes before the frame exists and only repaints.
void CSetupMain::OnSize()
{
    ::InvalidateRect(m_hWnd, NULL, FALSE);
    if (!m_pWizard || !m_pWizard->GetSafeHwnd())
        return;
    HWND wizard = m_pWizard->GetSafeHwnd();
    RECT outer, inner;
    ::GetWindowRect(m_hWnd, &outer);
    ::GetWindowRect(wizard, &inner);
    int x = outer.left + ((outer.right - outer.left) - (inner.right - inner.left)) / 2;
    int y = outer.top + ((outer.bottom - outer.top) - (inner.bottom - inner.top)) / 2;
    ::SetWindowPos(wizard, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ::SetFocus(wizard);
    ::PostMessageA(m_hWnd, kFocusWizardMessage, 0, 0);
}

// A restore can activate the backdrop after its size change, and the
// activation takes the focus back to the backdrop, where Enter would end the
// setup at once. So once the messages that came with the size change are
// done, a focus outside the wizard frame goes to it again: unless the
// backdrop is minimised or waits for a box of its own, or the frame cannot
// take input.
void CSetupMain::FocusWizardAgain()
{
    HWND wizard = m_pWizard ? m_pWizard->GetSafeHwnd() : NULL;
    if (!wizard || !::IsWindowEnabled(wizard) || !::IsWindowEnabled(m_hWnd) || ::IsIconic(m_hWnd))
        return;
    HWND focus = ::GetFocus();
    if (focus != wizard && !::IsChild(wizard, focus))
        ::SetFocus(wizard);
}

// After a modal box owned by the backdrop, the backdrop is activated again:
// the wizard frame is put back on top of it (some systems leave the owned
// frame behind its reactivated owner) and the keyboard focus goes back to
// where it was before the box, so that the wizard stays as it was.
void CSetupMain::RaiseWizard(HWND focus)
{
    if (!m_pWizard || !m_pWizard->GetSafeHwnd())
        return;
    HWND wizard = m_pWizard->GetSafeHwnd();
    ::SetWindowPos(wizard, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    ::SetFocus(focus && ::IsChild(wizard, focus) ? focus : wizard);
}

void CSetupMain::OnPaint()
{
    PAINTSTRUCT ps;
    HDC dc = ::BeginPaint(m_hWnd, &ps);
    if (::IsIconic(m_hWnd))
        PaintIcon(dc);
    else
        PaintBackdrop(dc);
    ::EndPaint(m_hWnd, &ps);
}

void CSetupMain::PaintIcon(HDC dc)
{
    ::SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT r;
    ::GetClientRect(m_hWnd, &r);
    int x = (r.right - r.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    int y = (r.bottom - r.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
}

// 160 bands from RGB(255, 0, 155) at the top down to RGB(2, 0, 1).
static void PaintGradient(HDC dc, const RECT& client)
{
    int h = client.bottom - client.top;
    for (int i = 0; i < 160; ++i) {
        RECT band = {client.left, client.top + h * i / 160, client.right, client.top + h * (i + 1) / 160};
        HBRUSH brush = ::CreateSolidBrush(RGB(255 - 255 * i / 160, 0, 155 - 155 * i / 160));
        ::FillRect(dc, &band, brush);
        ::DeleteObject(brush);
    }
}

static const COLORREF kBlack = RGB(0, 0, 0);
static const COLORREF kGrey = RGB(128, 128, 128);
static const COLORREF kWhite = RGB(255, 255, 255);

// The title in white on top of a grey extrusion down and to the right to a black edge.
static void PaintTitle(HDC dc)
{
    static const char kTitle[] = "CuratoNet for Collectibles";
    static const struct { int x, y; COLORREF colour; } kLayers[] = {
        {20, 10, kBlack}, {19, 9, kGrey}, {18, 8, kGrey}, {17, 7, kGrey},
        {16, 6, kGrey}, {15, 5, kGrey}, {14, 4, kWhite},
    };
    for (const auto& layer : kLayers) {
        ::SetTextColor(dc, layer.colour);
        ::TextOutA(dc, layer.x, layer.y, kTitle, sizeof kTitle - 1);
    }
}

// The maker's name in the bottom right corner with the same extrusion.
static void PaintMakerLine(HDC dc, RECT r)
{
    static const COLORREF kLayers[] = {kBlack, kGrey, kGrey, kGrey, kGrey, kGrey, kWhite};
    for (COLORREF colour : kLayers) {
        ::SetTextColor(dc, colour);
        ::DrawTextA(dc, kMakerLine, -1, &r, DT_SINGLELINE | DT_BOTTOM | DT_RIGHT);
        ::OffsetRect(&r, -1, -1);
    }
}

void CSetupMain::PaintBackdrop(HDC dc)
{
    RECT r;
    ::GetClientRect(m_hWnd, &r);
    PaintGradient(dc, r);
    ::SetBkMode(dc, TRANSPARENT);
    HFONT font = ::CreateFontA((r.right - r.left) / 16, 0, 0, 0, 400, TRUE, FALSE, FALSE, ANSI_CHARSET,
                               OUT_TT_PRECIS, 0, PROOF_QUALITY, 4, "Verdana");
    HGDIOBJ oldFont = ::SelectObject(dc, font);
    PaintTitle(dc);
    PaintMakerLine(dc, r);
    ::SelectObject(dc, oldFont);
    ::DeleteObject(font);
}

// The platform's default help: the contents of the help file named after the
// program. The setup ships none, and the help system says so itself.
void CSetupMain::OnHelp()
{
    char path[MAX_PATH + 5] = "";   // room for the extension after a full path
    DWORD n = ::GetModuleFileNameA(NULL, path, MAX_PATH);
    char* dot = strrchr(path, '.');
    lstrcpyA(dot && !strchr(dot, '\\') ? dot : path + n, ".HLP");
    if (!::WinHelpA(m_hWnd, path, HELP_CONTENTS, 0))
        ::MessageBoxA(m_hWnd, kHelpFailureText, NULL, MB_OK);
}

void CSetupMain::OnDestroy()
{
    if (!::WinHelpA(m_hWnd, NULL, HELP_QUIT, 0))
        ::MessageBoxA(m_hWnd, kHelpFailureText, NULL, MB_OK);
}

void CSetupMain::OnCancel()
{
    if (!m_pWizard || !m_pWizard->m_pCurStep) {
        DestroyWindow();
        return;
    }
    if (m_pWizard->m_bFinished) {
        LaunchInstalledApp();
        DestroyWindow();
        return;
    }
    HWND focus = ::GetFocus();
    int answer;
    {
        // The wizard stays as it is until the answer: a second cancel or a
        // page change from the box's message loop is not taken.
        CRequestGuard guard;
        answer = ::MessageBoxA(m_hWnd, "Are you sure you want to cancel the installation of the software?",
                               "Confirm Cancel", MB_YESNO | MB_ICONQUESTION);
    }
    if (answer != IDYES) {
        RaiseWizard(focus);
        return;
    }
    CWizardDlg* wizard = m_pWizard;
    m_pWizard = NULL;
    wizard->DestroyWindow();
    delete wizard;
    ::PostMessageA(m_hWnd, WM_CLOSE, 0, 0);
}

// The installed application is started from the directory it was installed
// to, so a destination changed on the destination page is honoured, and with
// the signed-in user's own rights, by the desktop's shell (shelllaunch.h).
// Where the shell cannot be asked, the setup starts it itself, as it always
// did. The result is not checked: the setup closes anyway, also when the
// shell's library cannot be had, which it says.
void CSetupMain::LaunchInstalledApp()
{
    ZString program = JoinPath(gDestDir, "CuratoApp.exe");
    // The shell's answers are waited for in a message loop: a second Close
    // from it would start the application once more.
    CRequestGuard guard;
    if (OpenThroughDesktopShell(program, gDestDir))
        return;
    try {
        ::ShellExecuteA(NULL, "open", program, "", gDestDir, SW_SHOW);
    } catch (ZFatalEx& ex) {
        ShowLibraryFailure(m_hWnd, ex);
    }
}

CAboutDlg::CAboutDlg() : CDialog(IDD_ABOUTBOX)
{
}

BOOL CAboutDlg::OnInitDialog()
{
    HWND version = Item(IDC_ABOUT_VERSION);
    ::SendMessageA(version, WM_SETFONT, reinterpret_cast<WPARAM>(gCourierFont.handle), TRUE);
    ::SetWindowTextA(m_hWnd, kProductName);
    ::SetWindowTextA(Item(IDC_ABOUT_TITLE), kProductName);
    ::SetWindowTextA(version, ModuleListing());
    return TRUE;
}
