#include "wizstep40.h"

#include "answering.h"
#include "createdirs.h"
#include "manifest.h"
#include "pacing.h"
#include "payload.h"
#include "resource.h"
#include "wizsteps.h"
#include "zdynalib.h"
#include "zexcept.h"
#include "zwinutil.h"

#include <commctrl.h>

// The hourglass for as long as the object lives.
class CWaitCursor {
public:
    CWaitCursor() : m_hOld(::SetCursor(::LoadCursorA(NULL, IDC_WAIT))) {}
    ~CWaitCursor() { ::SetCursor(m_hOld); }
    CWaitCursor(const CWaitCursor&) = delete;
    CWaitCursor& operator=(const CWaitCursor&) = delete;

private:
    HCURSOR m_hOld;
};

// The template's group box: its first control without an id.
static HWND FirstUnnumberedChild(HWND parent)
{
    for (HWND child = ::GetWindow(parent, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        if ((::GetDlgCtrlID(child) & 0xFFFF) == 0xFFFF)
            return child;
    return NULL;
}

// The page's progress bar is a common control: its window class exists once
// the common controls are initialised. Without their library the page cannot
// be made: the setup says so, and the wizard stays without a page, where
// Cancel ends the setup.
CWizStep40::CWizStep40(CWizardDlg* wizard)
    : CWizStepBase(IDD_WIZSTEP40, wizard), m_hCaption(NULL), m_hProgress(NULL), m_hMinor(NULL), m_hMajor(NULL)
{
    try {
        ::InitCommonControls();
    } catch (ZFatalEx& ex) {
        // The old page is gone and this one not yet made: the wizard may take
        // no request from the box's message loop.
        CRequestGuard guard;
        ShowFailure(kSetupFailureText, ex);
    }
}

BOOL CWizStep40::OnInitDialog()
{
    m_hCaption = FirstUnnumberedChild(m_hWnd);
    m_hProgress = Item(IDC_PROGRESS);
    m_hMinor = Item(IDC_MINOR_STATUS);
    m_hMajor = Item(IDC_MAJOR_STATUS);
    // The message boxes of the install run message loops, and the install
    // answers sent messages between its stretches of work. A close or a page
    // change taken from either would delete the wizard and this page while
    // the install still runs on it; so the setup takes no requests, and the
    // backdrop no input, until the install has returned.
    CRequestGuard guard;
    HWND backdrop = ::GetWindow(m_pWizard->GetSafeHwnd(), GW_OWNER);
    bool wasDisabled = ::EnableWindow(backdrop, FALSE) != FALSE;
    bool result = true;
    try {
        result = RunInstallSequence();
    } catch (ZFatalEx& ex) {
        // Raised outside the stages' own handlers: the system's timer library,
        // which paces the whole install, could not be had.
        ShowFailure(kSetupFailureText, ex);
    }
    if (!wasDisabled)
        ::EnableWindow(backdrop, TRUE);
    return result;
}

// No worker thread and no message loop: every stage runs here, in order, and
// a failed stage is reported before the next one starts. Only a directory
// that cannot be made ends the install early. Nothing is undone. The pauses
// answer what is sent to the setup's windows meanwhile (answering.h), and so
// do the stretches of work that may take a while without one.
bool CWizStep40::RunInstallSequence()
{
    CFineTimer fineTimer;   // each pause lasts what it says on Windows too
    ZSidCache sids;         // looked up once for every file and folder made
    AnswerSentMessages();   // making the page and starting up are a stretch of their own
    try {
        CWaitCursor wait;
        SetUpPage();
    } catch (ZFatalEx& ex) {
        ShowFailure(kSetupFailureText, ex);
    }
    try {
        CreateDirectories();
    } catch (ZFatalEx&) {
        ::MessageBoxA(m_hWnd, kDirectoryFailureText, kDirectoryFailureCaption, MB_OK | MB_ICONERROR);
        return false;
    }
    try {
        CopyFiles();
    } catch (ZFatalEx& ex) {
        ShowFailure(kCopyFailureText, ex);
    }
    try {
        RegisterBrowserControl();
    } catch (ZFatalEx&) {
        // The browser control is the system's own; the product runs without
        // the registration, so its failure is not worth a message.
    }
    try {
        CreateProgramGroup();
    } catch (ZFatalEx& ex) {
        ShowFailure(kIconsFailureText, ex);
    }
    return true;
}

void CWizStep40::SetUpPage()
{
    ::SetWindowTextA(m_hCaption, ZString("Installing ") + kProductName + "...");
    ::ShowWindow(m_hCaption, SW_SHOW);
    SetMajorText("");
    SetMinorText("");
    ::ShowWindow(m_hWnd, SW_SHOW);
    Repaint();
}

void CWizStep40::CreateDirectories()
{
    SetMajorText("Creating Directories...");
    CreateDirsAsNeeded(gDestDir, "*PROTECTED*", false);
}

void CWizStep40::CopyFiles()
{
    SetMajorText("Copying Files...");
    for (const ManifestEntry& entry : kInstallManifest)
        InstallPayloadFile(entry.name, entry.overwrite);
}

void CWizStep40::RegisterBrowserControl()
{
    typedef HRESULT(STDAPICALLTYPE * RegisterServerFn)();
    InstallPayloadFile(kBrowserControlLibrary, true);
    ZDynaLib lib;
    // The copy just written is the one registered, by its path: a search for
    // the bare name could find another.
    lib.Load(JoinPath(gDestDir, kBrowserControlLibrary));
    RegisterServerFn registerServer =
        reinterpret_cast<RegisterServerFn>(reinterpret_cast<void*>(lib.FindFunction(kRegisterFunction)));
    registerServer();
    lib.Free();
    AnswerSentMessages();   // the library's registration is a stretch of its own
}

void CWizStep40::CreateProgramGroup()
{
    SetMinorText("");
    ::ShowWindow(m_hProgress, SW_HIDE);
    Repaint();
    SetMinorText("");
    Repaint();
    SetMajorText("Creating Program Groups and Icons");
    ZProgramGroup group(kProgramGroupName);
    AnswerSentMessages();   // so is COM's start-up
    group.CreateFolder();
    group.CreateShortcut(kShortcutName, JoinPath(gDestDir, kShortcutTarget), "", gDestDir, nullptr, 0);
    Finish();
}

void CWizStep40::InstallPayloadFile(const char* name, bool overwrite)
{
    SetMinorText(name);
    ::UpdateWindow(m_hMinor);
    ::SendMessageA(m_hProgress, PBM_SETPOS, 0, 0);
    ZExtractPayload(name, JoinPath(gDestDir, name), overwrite);
    RunProgressBar(m_hProgress);
}

// From here on the frame's Cancel button means Close: start the product.
void CWizStep40::Finish()
{
    Pause(kCompletionPauseMs);
    SetMajorText(kCompletionText);
    SetMinorText(kCompletionHint);
    ::SetWindowTextA(m_pWizard->Item(IDCANCEL), kCloseCaption);
    m_pWizard->m_bFinished = true;
}

void CWizStep40::SetMajorText(const char* text)
{
    ::SetWindowTextA(m_hMajor, text);
}

void CWizStep40::SetMinorText(const char* text)
{
    ::SetWindowTextA(m_hMinor, text);
}

// Texts set since the last repaint show although no message loop runs.
void CWizStep40::Repaint()
{
    ::UpdateWindow(m_hWnd);
}

// Owned by the page, or by the wizard while the page has no window yet.
void CWizStep40::ShowFailure(const char* text, const ZFatalEx& ex)
{
    ZString message = text + ex.Format() + kSupportSuffix;
    ::MessageBoxA(m_hWnd ? m_hWnd : m_pWizard->GetSafeHwnd(), message, kErrorCaption, MB_OK | MB_ICONERROR);
}
