// Where the install's time goes, for the install benchmark: linked only into
// the builds of setup.exe made for it, never into the product. Before the
// program starts, it puts timers in front of the system calls setup.exe makes
// itself (in its own import table), and from them it splits the install, from
// the Next that starts it to the moment Cancel reads "Close", into stages:
//   - pauses: the waits of the pacing;
//   - looks: the looks at the queue, where sent messages are answered;
//   - drawing: texts set, repaints, windows shown or hidden, progress positions;
//   - expanding: from a payload entry's lock to the next system call;
//   - writing: from there to the next drawing, the rest of the file's store;
//   - registration: from loading the browser control to freeing it;
//   - shortcut: from the stage's text to the completion's pause (COM's
//     start-up, the programs folder, the group folder and the link);
//   - the rest: everything else.
// It also keeps the longest time between two looks at the queue (the longest
// the setup went without answering a sent message) with the stage that took
// most of it, and the longest single system call other than a wait. The
// figures go to the file named by the environment variable SETUP_STAGE_TIMES
// when the program ends.
#include "import_patch.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

enum Stage { kPauses, kLooks, kDrawing, kExpanding, kWriting, kRegistration, kShortcut, kRest, kStages };
const char* const kStageKeys[kStages] = {"pauses", "looks", "drawing", "expanding", "writing",
                                         "registration", "shortcut", "rest"};

const WORD kNextCommand = 1001;
const char kIconsStageText[] = "Creating Program Groups and Icons";
const char kCloseCaption[] = "Close";
const char kBrowserControl[] = "shdocvw.dll";

double NowMs()
{
    static LARGE_INTEGER perSecond;
    if (!perSecond.QuadPart)
        QueryPerformanceFrequency(&perSecond);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(perSecond.QuadPart);
}

// The install's time so far, by stage, and the gaps between looks.
struct Account {
    bool timing = false;      // between Next and "Close"
    bool closed = false;      // "Close" shown and the first look after it taken
    double startMs = 0, endMs = 0, lastMs = 0;
    Stage span = kRest;       // the stage of the time outside the calls of their own
    double ms[kStages] = {};
    double sinceLook[kStages] = {};
    double lastLookMs = 0, longestGapMs = 0;
    Stage longestGapStage = kRest;
    double longestCallMs = 0;
    const char* longestCall = "";
    HMODULE browserControl = NULL;
    int depth = 0;            // watched calls under way; only the outermost is timed
};
Account gAccount;

// The time since the last boundary goes to the stage given.
void Boundary(Stage stage)
{
    const double now = NowMs();
    if (gAccount.timing) {
        gAccount.ms[stage] += now - gAccount.lastMs;
        gAccount.sinceLook[stage] += now - gAccount.lastMs;
    }
    gAccount.lastMs = now;
}

Stage MostOf(const double* ms)
{
    Stage most = kRest;
    for (int s = 0; s < kStages; ++s)
        if (ms[s] > ms[most])
            most = static_cast<Stage>(s);
    return most;
}

// A look at the queue: every message sent until now is answered.
void Look()
{
    Boundary(gAccount.span);
    if (!gAccount.timing && (gAccount.closed || !gAccount.startMs))
        return;
    const double gap = gAccount.lastMs - gAccount.lastLookMs;
    if (gap > gAccount.longestGapMs) {
        gAccount.longestGapMs = gap;
        gAccount.longestGapStage = MostOf(gAccount.sinceLook);
    }
    gAccount.lastLookMs = gAccount.lastMs;
    memset(gAccount.sinceLook, 0, sizeof gAccount.sinceLook);
    gAccount.closed = !gAccount.timing;
}

void Start()
{
    gAccount = Account();
    gAccount.timing = true;
    gAccount.startMs = gAccount.lastMs = gAccount.lastLookMs = NowMs();
}

void End()
{
    Boundary(gAccount.span);
    gAccount.timing = false;
    gAccount.endMs = gAccount.lastMs;
}

// One watched call from setup.exe's own code. A wait, a look or a drawing
// counts to that stage; any other counts to the stage it is made in, and an
// expansion ends at it.
class CWatchedCall {
public:
    CWatchedCall(const char* name, Stage own) : m_name(name), m_own(own), m_outer(gAccount.depth++ == 0)
    {
        if (!m_outer)
            return;
        if (gAccount.span == kExpanding)
            Boundary(kExpanding), gAccount.span = kWriting;
        else if (gAccount.span == kWriting && own == kDrawing)
            Boundary(kWriting), gAccount.span = kRest;
        else if (gAccount.span == kShortcut && own == kPauses)
            Boundary(kShortcut), gAccount.span = kRest;
        else
            Boundary(gAccount.span);
        m_startMs = gAccount.lastMs;
    }
    ~CWatchedCall()
    {
        --gAccount.depth;
        if (!m_outer)
            return;
        Boundary(m_own == kRest ? gAccount.span : m_own);
        if (gAccount.timing && m_own != kPauses && m_own != kLooks &&
            gAccount.lastMs - m_startMs > gAccount.longestCallMs) {
            gAccount.longestCallMs = gAccount.lastMs - m_startMs;
            gAccount.longestCall = m_name;
        }
    }
    CWatchedCall(const CWatchedCall&) = delete;
    CWatchedCall& operator=(const CWatchedCall&) = delete;

private:
    const char* m_name;
    Stage m_own;
    bool m_outer;
    double m_startMs = 0;
};

#define WATCHED(stage, result, fn, params, args)                                                   \
    result(WINAPI* gReal##fn) params;                                                              \
    result WINAPI Watched##fn params                                                               \
    {                                                                                              \
        CWatchedCall call(#fn, stage);                                                             \
        return gReal##fn args;                                                                     \
    }

// The pacing's waits, and the looks at the queue. A wait that wakes for sent
// messages answers them as they come: it ends a gap as a look does.
DWORD(WINAPI* gRealMsgWaitForMultipleObjects)(DWORD, const HANDLE*, BOOL, DWORD, DWORD);
DWORD WINAPI WatchedMsgWaitForMultipleObjects(DWORD n, const HANDLE* h, BOOL all, DWORD ms, DWORD mask)
{
    DWORD woken;
    {
        CWatchedCall call("MsgWaitForMultipleObjects", kPauses);
        woken = gRealMsgWaitForMultipleObjects(n, h, all, ms, mask);
    }
    if (mask & QS_SENDMESSAGE)
        Look();
    return woken;
}
WATCHED(kPauses, void, Sleep, (DWORD ms), (ms))
BOOL(WINAPI* gRealPeekMessageA)(MSG*, HWND, UINT, UINT, UINT);
BOOL WINAPI WatchedPeekMessageA(MSG* msg, HWND h, UINT first, UINT last, UINT flags)
{
    CWatchedCall call("PeekMessageA", kLooks);
    Look();
    return gRealPeekMessageA(msg, h, first, last, flags);
}

// The drawing.
WATCHED(kDrawing, BOOL, UpdateWindow, (HWND h), (h))
WATCHED(kDrawing, BOOL, ShowWindow, (HWND h, int show), (h, show))
WATCHED(kDrawing, BOOL, InvalidateRect, (HWND h, const RECT* r, BOOL erase), (h, r, erase))
WATCHED(kDrawing, LRESULT, SendMessageA, (HWND h, UINT msg, WPARAM wp, LPARAM lp), (h, msg, wp, lp))
BOOL(WINAPI* gRealSetWindowTextA)(HWND, LPCSTR);
BOOL WINAPI WatchedSetWindowTextA(HWND h, LPCSTR text)
{
    BOOL done;
    {
        CWatchedCall call("SetWindowTextA", kDrawing);
        done = gRealSetWindowTextA(h, text);
    }
    if (text && strcmp(text, kIconsStageText) == 0)
        gAccount.span = kShortcut;
    else if (text && strcmp(text, kCloseCaption) == 0 && gAccount.timing)
        End();
    return done;
}

// The store of a file, and the other system calls that mark a boundary.
WATCHED(kRest, DWORD, GetFileAttributesA, (LPCSTR path), (path))
WATCHED(kRest, BOOL, SetFileAttributesA, (LPCSTR path, DWORD a), (path, a))
WATCHED(kRest, BOOL, DeleteFileA, (LPCSTR path), (path))
WATCHED(kRest, HANDLE, CreateFileA,
        (LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES sa, DWORD how, DWORD flags, HANDLE tmpl),
        (path, access, share, sa, how, flags, tmpl))
WATCHED(kRest, BOOL, WriteFile, (HANDLE f, LPCVOID data, DWORD n, LPDWORD written, LPOVERLAPPED o),
        (f, data, n, written, o))
WATCHED(kRest, BOOL, FlushFileBuffers, (HANDLE f), (f))
WATCHED(kRest, BOOL, SetEndOfFile, (HANDLE f), (f))
WATCHED(kRest, BOOL, CloseHandle, (HANDLE h), (h))
WATCHED(kRest, BOOL, MoveFileA, (LPCSTR from, LPCSTR to), (from, to))
WATCHED(kRest, BOOL, MoveFileExA, (LPCSTR from, LPCSTR to, DWORD flags), (from, to, flags))
WATCHED(kRest, BOOL, CreateDirectoryA, (LPCSTR path, LPSECURITY_ATTRIBUTES sa), (path, sa))
LPVOID(WINAPI* gRealLockResource)(HGLOBAL);
LPVOID WINAPI WatchedLockResource(HGLOBAL loaded)
{
    LPVOID bytes;
    {
        CWatchedCall call("LockResource", kRest);
        bytes = gRealLockResource(loaded);
    }
    if (gAccount.timing)
        gAccount.span = kExpanding;
    return bytes;
}

// The browser control, from its loading to its freeing.
bool IsBrowserControl(LPCSTR path)
{
    const size_t n = path ? strlen(path) : 0, k = sizeof kBrowserControl - 1;
    return n >= k && _stricmp(path + n - k, kBrowserControl) == 0;
}
void EnterRegistration(LPCSTR path)
{
    if (gAccount.timing && IsBrowserControl(path)) {
        Boundary(gAccount.span);
        gAccount.span = kRegistration;
    }
}
HMODULE(WINAPI* gRealLoadLibraryA)(LPCSTR);
HMODULE WINAPI WatchedLoadLibraryA(LPCSTR path)
{
    EnterRegistration(path);
    CWatchedCall call("LoadLibraryA", kRest);
    HMODULE lib = gRealLoadLibraryA(path);
    if (IsBrowserControl(path))
        gAccount.browserControl = lib;
    return lib;
}
HMODULE(WINAPI* gRealLoadLibraryExA)(LPCSTR, HANDLE, DWORD);
HMODULE WINAPI WatchedLoadLibraryExA(LPCSTR path, HANDLE file, DWORD flags)
{
    EnterRegistration(path);
    CWatchedCall call("LoadLibraryExA", kRest);
    HMODULE lib = gRealLoadLibraryExA(path, file, flags);
    if (IsBrowserControl(path))
        gAccount.browserControl = lib;
    return lib;
}
BOOL(WINAPI* gRealFreeLibrary)(HMODULE);
BOOL WINAPI WatchedFreeLibrary(HMODULE lib)
{
    BOOL freed;
    {
        CWatchedCall call("FreeLibrary", kRest);
        freed = gRealFreeLibrary(lib);
    }
    if (lib && lib == gAccount.browserControl && gAccount.span == kRegistration)
        gAccount.span = kRest;
    return freed;
}

// The loops that answer: the frame's own, where the Next that the benchmark
// posts starts the install, and the message boxes'.
BOOL(WINAPI* gRealGetMessageA)(MSG*, HWND, UINT, UINT);
BOOL WINAPI WatchedGetMessageA(MSG* msg, HWND h, UINT first, UINT last)
{
    Look();
    BOOL got = gRealGetMessageA(msg, h, first, last);
    if (got > 0 && msg->message == WM_COMMAND && LOWORD(msg->wParam) == kNextCommand)
        Start();
    else
        Look();
    return got;
}
int(WINAPI* gRealMessageBoxA)(HWND, LPCSTR, LPCSTR, UINT);
int WINAPI WatchedMessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT style)
{
    Look();
    int answer = gRealMessageBoxA(owner, text, caption, style);
    Look();
    return answer;
}

#undef WATCHED

// The figures, one per line: a key, then milliseconds, then what they are.
void WriteFigures()
{
    const char* path = getenv("SETUP_STAGE_TIMES");
    FILE* out = path ? fopen(path, "w") : NULL;
    if (!out)
        return;
    fprintf(out, "install %.1f\n", gAccount.endMs - gAccount.startMs);
    for (int s = 0; s < kStages; ++s)
        fprintf(out, "%s %.1f\n", kStageKeys[s], gAccount.ms[s]);
    fprintf(out, "longest-gap %.1f %s\n", gAccount.longestGapMs, kStageKeys[gAccount.longestGapStage]);
    fprintf(out, "longest-call %.1f %s\n", gAccount.longestCallMs, *gAccount.longestCall ? gAccount.longestCall : "-");
    fclose(out);
}

// Each watched function: where it comes from, the timer put in its place,
// and where the system's own is kept.
struct Patch {
    const char* dll;
    const char* function;
    void* watched;
    void** real;
};
#define PATCH(dll, fn) {dll, #fn, reinterpret_cast<void*>(&Watched##fn), reinterpret_cast<void**>(&gReal##fn)}
const Patch kPatches[] = {
    PATCH("user32.dll", MsgWaitForMultipleObjects), PATCH("kernel32.dll", Sleep),
    PATCH("user32.dll", PeekMessageA),              PATCH("user32.dll", UpdateWindow),
    PATCH("user32.dll", ShowWindow),                PATCH("user32.dll", InvalidateRect),
    PATCH("user32.dll", SendMessageA),              PATCH("user32.dll", SetWindowTextA),
    PATCH("kernel32.dll", GetFileAttributesA),      PATCH("kernel32.dll", SetFileAttributesA),
    PATCH("kernel32.dll", DeleteFileA),             PATCH("kernel32.dll", CreateFileA),
    PATCH("kernel32.dll", WriteFile),               PATCH("kernel32.dll", FlushFileBuffers),
    PATCH("kernel32.dll", SetEndOfFile),            PATCH("kernel32.dll", CloseHandle),
    PATCH("kernel32.dll", MoveFileA),               PATCH("kernel32.dll", MoveFileExA),
    PATCH("kernel32.dll", CreateDirectoryA),        PATCH("kernel32.dll", LockResource),
    PATCH("kernel32.dll", LoadLibraryA),            PATCH("kernel32.dll", LoadLibraryExA),
    PATCH("kernel32.dll", FreeLibrary),             PATCH("user32.dll", GetMessageA),
    PATCH("user32.dll", MessageBoxA),
};
#undef PATCH

// The timers for the whole life of the program (never taken away), and the
// figures when it ends.
struct CInstallTimers {
    CInstallTimers()
    {
        for (const Patch& p : kPatches)
            *p.real = (new ZImportPatch(p.dll, p.function, p.watched))->Original();
    }
    ~CInstallTimers() { WriteFigures(); }
};

CInstallTimers gTimers;

} // namespace
