#include "wizsteps.h"

#include "delayload.h"
#include "resource.h"
#include "zinit.h"

#include <shlobj.h>

ZString gDestDir Z_INIT(Z_INIT_APP_DESTDIR);

static const char kDefaultDestDir[] = "c:\\Program Files\\CuratoNet";

CWizStep10::CWizStep10(CWizardDlg* wizard) : CWizStepBase(IDD_WIZSTEP10, wizard)
{
}

// The welcome picture: the page's one static control with a bitmap.
static HWND PictureControl(HWND page)
{
    for (HWND c = ::GetWindow(page, GW_CHILD); c; c = ::GetWindow(c, GW_HWNDNEXT)) {
        char cls[8] = "";
        ::GetClassNameA(c, cls, sizeof cls);
        if (lstrcmpiA(cls, "Static") == 0 && (::GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return c;
    }
    return NULL;
}

BOOL CWizStep10::OnInitDialog()
{
    HWND picture = PictureControl(m_hWnd);
    RECT room = {0, 0, WELCOME_PICTURE_CX, WELCOME_PICTURE_CY};
    if (picture && ::MapDialogRect(m_hWnd, &room)) {
        SIZE roomSize = {room.right, room.bottom};
        m_picture.Show(picture, roomSize);
    }
    return TRUE;
}

bool CWizStep10::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    if (msg == WM_DESTROY)
        m_picture.Release();   // while the picture control still exists
    return CWizStepBase::OnMessage(msg, wParam, lParam, result);
}

CWizStep20::CWizStep20(CWizardDlg* wizard) : CWizStepBase(IDD_WIZSTEP20, wizard)
{
}

int CWizStep20::GetNextStep()
{
    HWND accept = Item(IDC_LICENSE_ACCEPT);
    return accept && ::SendMessageA(accept, BM_GETCHECK, 0, 0) != 0 ? 30 : 0;
}

bool CWizStep20::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    if (msg == WM_COMMAND && LOWORD(wParam) == IDC_LICENSE_ACCEPT && HIWORD(wParam) == BN_CLICKED) {
        m_pWizard->UpdateButtons();
        return true;
    }
    return CWizStepBase::OnMessage(msg, wParam, lParam, result);
}

// The licence text from the program's own resources: 8-bit text, CR LF, no
// terminating zero; its length is the resource size. Empty when it is missing.
static ZString LicenseText()
{
    HRSRC res = ::FindResourceExA(NULL, "TEXTFILE", "LICENSE.TXT", 0);
    HGLOBAL data = res ? ::LoadResource(NULL, res) : NULL;
    const char* text = data ? static_cast<const char*>(::LockResource(data)) : NULL;
    return text ? ZString(text, ::SizeofResource(NULL, res)) : ZString();
}

BOOL CWizStep20::OnInitDialog()
{
    HWND edit = Item(IDC_LICENSE_TEXT);
    ::SetWindowTextA(edit, LicenseText());
    ::SendMessageA(edit, EM_SETSEL, 0, 0);
    ::SendMessageA(edit, EM_SCROLLCARET, 0, 0);
    ::SetFocus(edit);
    return FALSE;
}

CWizStep30::CWizStep30(CWizardDlg* wizard) : CWizStepBase(IDD_WIZSTEP30, wizard)
{
}

bool CWizStep30::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR& result)
{
    switch (msg) {
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_DEST_DIR && HIWORD(wParam) == EN_KILLFOCUS) {
            gDestDir = WindowText(Item(IDC_DEST_DIR));
            return true;
        }
        if (LOWORD(wParam) == IDC_DEST_BROWSE && HIWORD(wParam) == BN_CLICKED) {
            BrowseForFolder();
            return true;
        }
        break;
    case WM_DESTROY:
        gDestDir = WindowText(Item(IDC_DEST_DIR));
        return false;
    }
    return CWizStepBase::OnMessage(msg, wParam, lParam, result);
}

BOOL CWizStep30::OnInitDialog()
{
    gDestDir = kDefaultDestDir;
    ::SetWindowTextA(Item(IDC_DEST_DIR), gDestDir);
    return TRUE;
}

// The folder browser behind the "..." button: the chosen file-system folder
// itself becomes the destination text.
void CWizStep30::BrowseForFolder()
{
    IMalloc* alloc = NULL;
    try {
        if (FAILED(::SHGetMalloc(&alloc)) || !alloc)
            return;
    } catch (ZFatalEx& ex) {
        // The shell's library cannot be had: no browser, the text stays.
        ShowLibraryFailure(m_hWnd, ex);
        return;
    }
    // The browser runs a message loop; this page must outlive it.
    CRequestGuard guard;
    char path[MAX_PATH] = "";
    BROWSEINFOA bi = {};
    bi.hwndOwner = m_hWnd;
    bi.pszDisplayName = path;
    bi.lpszTitle = "Choose Destination Directory";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    LPITEMIDLIST item = ::SHBrowseForFolderA(&bi);
    if (item) {
        if (::SHGetPathFromIDListA(item, path))
            ::SetWindowTextA(Item(IDC_DEST_DIR), path);
        alloc->Free(item);
    }
    alloc->Release();
}
