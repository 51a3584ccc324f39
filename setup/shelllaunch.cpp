#include "shelllaunch.h"

#include "zcomref.h"
#include "zexcept.h"

#include <shlobj.h>
#include <exdisp.h>
#include <servprov.h>
#include <shldisp.h>
#include <shlguid.h>

namespace {

// COM on this thread while it lives, when it could be initialised.
class CComThread {
public:
    CComThread() : m_ok(SUCCEEDED(::CoInitialize(NULL))) {}
    ~CComThread()
    {
        if (m_ok)
            ::CoUninitialize();
    }
    CComThread(const CComThread&) = delete;
    CComThread& operator=(const CComThread&) = delete;

    bool Ok() const { return m_ok; }

private:
    bool m_ok;
};

// A text in the active code page as an automation string, freed when it goes.
class CBstr {
public:
    explicit CBstr(const char* text) : m_text(NULL)
    {
        int n = ::MultiByteToWideChar(CP_ACP, 0, text, -1, NULL, 0);
        if (n > 0)
            m_text = ::SysAllocStringLen(NULL, n - 1);
        if (m_text)
            ::MultiByteToWideChar(CP_ACP, 0, text, -1, m_text, n);
    }
    ~CBstr()
    {
        if (m_text)   // only once the library has been had
            ::SysFreeString(m_text);
    }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const { return m_text; }

private:
    BSTR m_text;
};

// An argument of that type, its value zero.
VARIANT Arg(VARTYPE type)
{
    VARIANT v;
    ::ZeroMemory(&v, sizeof v);
    V_VT(&v) = type;
    return v;
}

VARIANT TextArg(BSTR text)
{
    VARIANT v = Arg(VT_BSTR);
    V_BSTR(&v) = text;
    return v;
}

VARIANT NumberArg(LONG n)
{
    VARIANT v = Arg(VT_I4);
    V_I4(&v) = n;
    return v;
}

// Whether a call that hands out an interface succeeded and handed one out
// (read after the call: the reference is taken, not the pointer).
template <class T> bool Got(HRESULT hr, const ZComRef<T>& ref)
{
    return SUCCEEDED(hr) && ref.p;
}

// The desktop's window in the shell's list of its windows, as a browser.
bool FindDesktopBrowser(ZComRef<IShellBrowser>& browser)
{
    ZComRef<IShellWindows> windows;
    HRESULT made = ::CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.Out());
    if (!Got(made, windows))
        return false;
    VARIANT desktop = NumberArg(CSIDL_DESKTOP), none = Arg(VT_EMPTY);
    LONG hwnd = 0;
    ZComRef<IDispatch> found;
    // S_FALSE: no desktop window in the list.
    if (windows.p->FindWindowSW(&desktop, &none, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, &found.p) != S_OK || !found.p)
        return false;
    ZComRef<IServiceProvider> services;
    return Got(found.p->QueryInterface(IID_IServiceProvider, services.Out()), services) &&
           Got(services.p->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out()), browser);
}

// The application object of the desktop's shell, through the desktop's view.
bool FindDesktopShell(ZComRef<IShellDispatch2>& shell)
{
    ZComRef<IShellBrowser> browser;
    ZComRef<IShellView> view;
    ZComRef<IDispatch> background;
    ZComRef<IShellFolderViewDual> folderView;
    ZComRef<IDispatch> application;
    return FindDesktopBrowser(browser) && Got(browser.p->QueryActiveShellView(&view.p), view) &&
           Got(view.p->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out()), background) &&
           Got(background.p->QueryInterface(IID_IShellFolderViewDual, folderView.Out()), folderView) &&
           Got(folderView.p->get_Application(&application.p), application) &&
           Got(application.p->QueryInterface(IID_IShellDispatch2, shell.Out()), shell);
}

} // namespace

bool OpenThroughDesktopShell(const ZString& file, const ZString& dir)
{
    try {
        CBstr fileText(file), noArguments(""), dirText(dir), verb("open");
        if (!fileText.Get() || !noArguments.Get() || !dirText.Get() || !verb.Get())
            return false;
        CComThread com;
        ZComRef<IShellDispatch2> shell;
        if (!com.Ok() || !FindDesktopShell(shell))
            return false;
        shell.p->ShellExecute(fileText.Get(), TextArg(noArguments.Get()), TextArg(dirText.Get()),
                              TextArg(verb.Get()), NumberArg(SW_SHOW));
        return true;
    } catch (ZFatalEx&) {
        // A library of the way could not be had. Raised at the first call
        // into it, and every library is taken whole then: always before the
        // shell was asked.
        return false;
    }
}
