#include "setupapp.h"

#include "delayload.h"
#include "selfcheck.h"
#include "setupmain.h"
#include "zinit.h"
#include "zmutex.h"
#include "ztrace.h"

#include <share.h>
#include <time.h>
#include <windows.h>

// Owns the session log stream so that it is closed after every other object
// of the program has gone.
struct CSessionLog {
    CSessionLog();
    ~CSessionLog();
};

FILE* gSetupLog;
static CSessionLog gSessionLog Z_INIT(Z_INIT_APP_LOG);

// Shared for reading and writing with other processes. When the log cannot be
// opened (no drive C, root not writable, the name taken by a directory), lines
// go to the null device instead: they are dropped and the setup runs as usual.
CSessionLog::CSessionLog()
{
    gSetupLog = _fsopen("C:\\setup.log", "at", _SH_DENYNO);
    if (!gSetupLog)
        gSetupLog = fopen("NUL", "wt");
}

CSessionLog::~CSessionLog()
{
    if (gSetupLog)
        fclose(gSetupLog);
    gSetupLog = NULL;
}

CSetupApp::CSetupApp() : m_nExitCode(0)
{
    _tzset();
    RestrictDllSearch();
}

static CSetupApp theApp Z_INIT(Z_INIT_APP_OBJECT);

// The separator line that opens each run's share of the session log.
static void WriteStartupLine()
{
    if (TraceLevel(&gRootTraceChannel) < 0)
        return;
    if (gTraceLock)
        gTraceLock->Lock();
    FILE* out = gRootTraceChannel.Header("0");
    fputs(ZString('-', 45), out);
    fputs("\n", out);
    fflush(out);
    if (gTraceLock)
        gTraceLock->UnLock();
}

// A setup.exe cut short or damaged (an incomplete download, say) is refused
// before any page shows and before it writes anything but the log's line.
static bool ProgramIsWhole()
{
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(NULL, path, MAX_PATH);
    if (n > 0 && n < MAX_PATH && ProgramFileIsWhole(path))
        return true;
    ::MessageBoxA(NULL, "The setup program is damaged, perhaps by an incomplete download. Please obtain a new copy.",
                  "CuratoNet Setup", MB_OK | MB_ICONERROR);
    return false;
}

bool CSetupApp::InitInstance()
{
    if (gSetupLog) {
        gTraceSink = gSetupLog;
        WriteStartupLine();
    }
    if (!ProgramIsWhole()) {
        m_nExitCode = 1;
        return false;
    }
    // Dialog controls are drawn in three dimensions by every 32-bit Windows:
    // there is nothing to switch on. The common controls, of which only the
    // installing page has one, are set up when that page is made, so that
    // their library is not loaded before the welcome page shows.
    ::SetCursor(::LoadCursorA(NULL, IDC_ARROW));
    CSetupMain backdrop;
    backdrop.RunModalLoop(NULL);
    return false;
}

int CSetupApp::Run()
{
    InitInstance();
    return m_nExitCode;
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    // The command line is not interpreted.
    return theApp.Run();
}
