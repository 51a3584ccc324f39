#include "shelllaunch.h"

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

// An interface pointer, released when it goes.
template <class T> class CComRef {
public:
    CComRef() : p(NULL) {}
    ~CComRef()
    {
        if (p)
            p->Release();
    }
    CComRef(const CComRef&) = delete;
    CComRef& operator=(const CComRef&) = delete;

    T* operator->() const { return p; }
    void** Out() { return reinterpret_cast<void**>(&p); }

    T* p;
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
        if (m_text)   // made: the library is had
            ::SysFreeString(m_text);
    }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const { return m_text; }

private:
    BSTR m_text;
};

VARIANT TextArg(BSTR text)
{
    VARIANT v;
    ::ZeroMemory(&v, sizeof v);
    V_VT(&v) = VT_BSTR;
    V_BSTR(&v) = text;
    return v;
}

VARIANT NumberArg(LONG n)
{
    VARIANT v;
    ::ZeroMemory(&v, sizeof v);
    V_VT(&v) = VT_I4;
    V_I4(&v) = n;
    return v;
}

// Whether a call that hands out an interface succeeded and handed one out
// (read after the call: the reference is taken, not the pointer).
template <class T> bool Got(HRESULT hr, const CComRef<T>& ref)
{
    return SUCCEEDED(hr) && ref.p;
}

// The desktop's window in the shell's list of its windows, as a browser.
bool FindDesktopBrowser(CComRef<IShellBrowser>& browser)
{
    CComRef<IShellWindows> windows;
    HRESULT made = ::CoCreateInstance(CLSID_ShellWindows, NULL, CLSCTX_LOCAL_SERVER, IID_IShellWindows, windows.Out());
    if (!Got(made, windows))
        return false;
    VARIANT desktop = NumberArg(CSIDL_DESKTOP), none;
    ::ZeroMemory(&none, sizeof none);
    LONG hwnd = 0;
    CComRef<IDispatch> found;
    // S_FALSE: no desktop window in the list.
    if (windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH, &found.p) != S_OK || !found.p)
        return false;
    CComRef<IServiceProvider> services;
    return Got(found->QueryInterface(IID_IServiceProvider, services.Out()), services) &&
           Got(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser, browser.Out()), browser);
}

// The application object of the desktop's shell, through the desktop's view.
bool FindDesktopShell(CComRef<IShellDispatch2>& shell)
{
    CComRef<IShellBrowser> browser;
    CComRef<IShellView> view;
    CComRef<IDispatch> background;
    CComRef<IShellFolderViewDual> folderView;
    CComRef<IDispatch> application;
    return FindDesktopBrowser(browser) && Got(browser->QueryActiveShellView(&view.p), view) &&
           Got(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch, background.Out()), background) &&
           Got(background->QueryInterface(IID_IShellFolderViewDual, folderView.Out()), folderView) &&
           Got(folderView->get_Application(&application.p), application) &&
           Got(application->QueryInterface(IID_IShellDispatch2, shell.Out()), shell);
}

} // namespace

bool OpenThroughDesktopShell(const ZString& file, const ZString& dir)
{
    try {
        CBstr fileText(file), noArguments(""), dirText(dir), verb("open");
        if (!fileText.Get() || !noArguments.Get() || !dirText.Get() || !verb.Get())
            return false;
        CComThread com;
        CComRef<IShellDispatch2> shell;
        if (!com.Ok() || !FindDesktopShell(shell))
            return false;
        shell->ShellExecute(fileText.Get(), TextArg(noArguments.Get()), TextArg(dirText.Get()), TextArg(verb.Get()),
                            NumberArg(SW_SHOW));
        return true;
    } catch (ZFatalEx&) {
        // A library of the way could not be had. Raised at the first call
        // into it, and every library is taken whole then: always before the
        // shell was asked.
        return false;
    }
}
