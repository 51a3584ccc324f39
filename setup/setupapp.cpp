#include "setupapp.h"

#include "delayload.h"
#include "selfcheck.h"
#include "setupmain.h"
#include "zinit.h"
#include "zmutex.h"
#include "zos.h"
#include "ztrace.h"

#include <fcntl.h>
#include <io.h>
#include <stdint.h>
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

static const char kLogPath[] = "C:\\setup.log";

// Whether the open log is a plain file of its own at the log's name. The
// setup runs with administrator rights, and users without them may create
// files and links in the root of C: and change files others made there: a
// link at the log's name would turn the setup's append into a write to a file
// of the planter's choosing. So a symbolic link, junction or mount point there
// (opened as itself, not followed), a file with a second hard link, and a
// name that leads to another file all the same (as the system reports where
// it can: Windows Vista on, and Wine) are no log.
static bool IsPlainFileOfItsOwn(HANDLE file)
{
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(file, &info) || info.nNumberOfLinks != 1 ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)))
        return false;
    typedef DWORD(WINAPI * FinalPathFn)(HANDLE, LPSTR, DWORD, DWORD);
    FinalPathFn finalPath = reinterpret_cast<FinalPathFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "GetFinalPathNameByHandleA")));
    char reached[MAX_PATH];
    return !finalPath || (finalPath(file, reached, MAX_PATH, 0) == 4 + sizeof kLogPath - 1 &&
                          lstrcmpiA(reached + 4, kLogPath) == 0);   // after "\\?\"
}

// Appended in text mode and shared for reading and writing with other
// processes, as a C runtime stream; null when the log cannot be opened (no
// drive C, root not writable) or is not a plain file of its own. Links are
// not followed on Windows NT, the only systems that have them (Windows 9x
// does not know the flag).
static FILE* OpenSessionLog()
{
    HANDLE file = ::CreateFileA(kLogPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | (ZIsWin9x() ? 0 : FILE_FLAG_OPEN_REPARSE_POINT), NULL);
    if (file == INVALID_HANDLE_VALUE)
        return NULL;
    const int fd = IsPlainFileOfItsOwn(file) ? _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_APPEND | _O_TEXT) : -1;
    if (fd == -1) {
        ::CloseHandle(file);
        return NULL;
    }
    FILE* log = _fdopen(fd, "at");
    if (!log)
        _close(fd);
    return log;
}

// When the log cannot be used, lines go to the null device instead: they are
// dropped and the setup runs as usual.
CSessionLog::CSessionLog()
{
    gSetupLog = OpenSessionLog();
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
