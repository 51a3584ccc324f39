// The monkey: randomised sessions of the real setup.exe, each replayable from
// the seed it prints. A session clicks enabled buttons (the licence check box
// among them), presses Tab, Enter, Esc and Space, and posts or sends closes,
// system commands, commands, the end of the session and text queries to the
// setup's windows at random moments, during the install and inside its
// message boxes too, as task managers, the session and screen readers do. The
// seed also picks a fault: none, a destination file held open, a destination
// that cannot be made, or no programs folder. While the install runs, a
// request sent must be answered within a second (the session asked to wait,
// a text query with the window's text), and none may be taken: the cancel
// question does not come up before the install has returned. When
// the session has run its course the setup is led to its end the way a user
// would leave it, and then
//   - it must have ended with code 0, without a crash dialog and within a
//     bounded time (otherwise it counts as a crash or a hang);
//   - every product file on disk is the payload's, byte for byte, or absent,
//     or the held file unchanged, and nothing else is in the destination;
//   - the session log has one line more.
// Usage: monkey.exe [--first SEED] [--sessions N]; SETUP_EXE and PAYLOAD_FILES
// name setup.exe and the payload's files. A table of the outcomes ends the
// output; the exit code is 0 when no session failed a check.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "setup_process.h"

using namespace setupwatch;

namespace {

const char kDefaultDest[] = "C:\\Program Files\\CuratoNet";
const char kWorkDir[] = "C:\\monkey";
const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char k98Key[] = "Software\\Wine\\AppDefaults\\monkey98.exe";
const UINT kHangCode = 0xDEAD;
// How soon a request sent while the install runs must be answered: the setup
// then answers as soon as its current stretch of work, a few tens of
// milliseconds at most, is done.
const DWORD kPromptMs = 1000;

// --trace: every step of a session is printed, to follow a replayed seed.
bool gTrace = false;

void Trace(const char* what, const std::string& detail = "")
{
    if (gTrace)
        printf("  %8lu ms  %s %s\n", GetTickCount() % 100000000, what, detail.c_str());
}

// splitmix64: the same sequence from the same seed on every machine.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next()
    {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    int Below(int n) { return n > 0 ? static_cast<int>(Next() % n) : 0; }
    bool Chance(int percent) { return Below(100) < percent; }

private:
    uint64_t state_;
};

enum Fault { kNoFault, kLockedFile, kBadDestination, kNoProgramsFolder, kFaultKinds };
const char* const kFaultNames[] = {"none", "locked file", "bad destination", "no programs folder"};

enum EndState {
    kBeforeInstall, kFinishedLaunched, kFinishedNotLaunched, kStopped, kCrash, kHang, kNotStarted, kEndStates
};
const char* const kEndNames[] = {
    "ended before the install",
    "install finished, Close started the product",
    "install finished, ended without starting the product",
    "install stopped on an error, then cancelled",
    "crash",
    "hang",
    "setup.exe did not start",
};

// What one session set up, did and saw.
struct Session {
    unsigned seed = 0;
    Fault fault = kNoFault;
    std::string exe, dir, dest;
    std::string held, heldBefore;   // the file held open, and what it held
    HANDLE hold = INVALID_HANDLE_VALUE;
    bool eager = false;             // heads for the install most of the time
    int steps = 0, posted = 0, postedInstalling = 0, postedInBox = 0, keys = 0, clicks = 0;
    int sent = 0, sentInstalling = 0;
    DWORD slowestAnswerMs = 0;      // to a request sent while the install ran
    int maxPage = 0;
    bool started = false, finished = false, launched = false, crashed = false, hung = false;
    HWND destPage = NULL;           // the destination page whose text was set
    DWORD exitCode = 0;
    std::string crashSign, fileProblem, answerProblem;
    bool logOk = true;
    EndState end = kBeforeInstall;
};

// The setup's windows as they are now.
struct View {
    HWND backdrop = NULL, wizard = NULL, page = NULL;
    int pageId = 0;
    std::vector<HWND> boxes;   // top-level dialogs other than the backdrop and the frame
    bool installing = false;   // the install runs: it has not yet returned to the frame
};

View Look(DWORD pid)
{
    View v;
    for (HWND h : TopLevels(pid)) {
        std::string caption = Text(h);
        if (caption == kBackdropCaption)
            v.backdrop = h;
        else if (caption == kWizardCaption)
            v.wizard = h;
        else if (ClassOf(h) == "#32770")
            v.boxes.push_back(h);
    }
    for (HWND c = GetWindow(v.wizard, GW_CHILD); v.wizard && c; c = GetWindow(c, GW_HWNDNEXT))
        if (ClassOf(c) == "#32770")
            v.page = c;
    if (v.page)
        v.pageId = GetDlgItem(v.page, 1006) ? 40 : GetDlgItem(v.page, 1003) ? 30 : GetDlgItem(v.page, 1016) ? 20 : 10;
    // The frame disables Next once the install has returned. Read last, so
    // that no box seen above can have come after the install.
    v.installing = v.pageId == 40 && IsWindowEnabled(GetDlgItem(v.wizard, 1001));
    return v;
}

// The payload's files, read once.
const std::string& PayloadFile(const std::string& name)
{
    static std::map<std::string, std::string> cache;
    auto it = cache.find(name);
    if (it == cache.end())
        it = cache.emplace(name, ReadFile(Env("PAYLOAD_FILES") + "\\" + name)).first;
    return it->second;
}

bool IsProductFile(const std::string& name)
{
    for (const char* p : kManifest)
        if (_stricmp(p, name.c_str()) == 0)
            return true;
    return false;
}

void SetRegString(HKEY root, const char* key, const char* name, const std::string& value)
{
    HKEY h;
    if (RegCreateKeyExA(root, key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr) != ERROR_SUCCESS)
        return;
    RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
}

std::string RegString(HKEY root, const char* key, const char* name)
{
    char data[1024] = "";
    DWORD size = sizeof data - 1;
    HKEY h;
    if (RegOpenKeyExA(root, key, 0, KEY_READ, &h) == ERROR_SUCCESS) {
        RegQueryValueExA(h, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(h);
    }
    return data;
}

// The shortcut a finished install leaves: the last thing the install makes
// before it shows completion, so it tells a finished install even when the
// setup ended before the relabelled button could be seen.
std::string ShortcutGroup()
{
    return RegString(HKEY_LOCAL_MACHINE, kShellFolders, "Common Programs") + "\\Curato";
}

// A drive letter with nothing behind it.
std::string MissingDrive()
{
    char root[] = "Q:\\";
    while (root[0] < 'Y' && GetDriveTypeA(root) != DRIVE_NO_ROOT_DIR)
        ++root[0];
    return root;
}

// Sets up the session's destination, program and fault.
void Prepare(Session& s, Rng& rng, const std::string& programs98)
{
    s.dir = std::string(kWorkDir) + "\\s" + std::to_string(s.seed);
    RemoveTree(s.dir);
    RemoveTree(kDefaultDest);
    RemoveTree(ShortcutGroup());
    CreateDirectoryA(kWorkDir, nullptr);
    CreateDirectoryA(s.dir.c_str(), nullptr);
    s.dest = s.dir + "\\CuratoNet";
    s.exe = Env("SETUP_EXE");
    switch (s.fault) {
    case kLockedFile: {
        CreateDirectoryA(s.dest.c_str(), nullptr);
        s.held = kManifest[rng.Below(kManifestSize)];
        s.heldBefore = "held open by the monkey, session " + std::to_string(s.seed);
        std::string path = s.dest + "\\" + s.held;
        if (FILE* f = fopen(path.c_str(), "wb")) {
            fputs(s.heldBefore.c_str(), f);
            fclose(f);
        }
        s.hold = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             0, nullptr);
        break;
    }
    case kBadDestination:
        if (rng.Chance(50)) {
            s.dest = MissingDrive() + "CuratoNet\\s" + std::to_string(s.seed);
        } else {
            std::string blocker = s.dir + "\\blocker";
            if (FILE* f = fopen(blocker.c_str(), "wb"))
                fclose(f);
            s.dest = blocker + "\\CuratoNet";
        }
        break;
    case kNoProgramsFolder:
        s.exe = programs98;
        SetRegString(HKEY_CURRENT_USER, kShellFolders, "Programs", "");
        break;
    default:
        break;
    }
}

BOOL CALLBACK CollectButton(HWND c, LPARAM lp)
{
    if (ClassOf(c) == "Button" && IsWindowVisible(c) && IsWindowEnabled(c) &&
        (GetWindowLongA(c, GWL_STYLE) & BS_TYPEMASK) != BS_GROUPBOX)
        reinterpret_cast<std::vector<HWND>*>(lp)->push_back(c);
    return TRUE;
}

// The enabled, visible buttons of the setup's windows, check boxes included.
std::vector<HWND> Buttons(DWORD pid)
{
    std::vector<HWND> buttons;
    for (HWND top : TopLevels(pid))
        EnumChildWindows(top, CollectButton, reinterpret_cast<LPARAM>(&buttons));
    return buttons;
}

// The requests a session posts: every one in the list but Help, which starts
// the platform's help program, a process of its own.
const Request& RandomRequest(Rng& rng)
{
    const int n = sizeof kRequests / sizeof kRequests[0];
    for (;;) {
        const Request& r = kRequests[rng.Below(n)];
        if (r.msg != WM_COMMAND || r.wParam != 57670)
            return r;
    }
}

// The install never asks whether to cancel: the question shows while it runs
// only when a request was taken from it. (A sent request taken from it, which
// opened a box, would also go unanswered while the box is open; the About box
// can show during the install when it was opened before, since it leaves the
// frame usable.)
void CheckUndisturbed(Session& s, const View& v)
{
    if (!v.installing)
        return;
    for (HWND box : v.boxes)
        if (Text(box) == "Confirm Cancel")
            s.answerProblem += " \"Confirm Cancel\" came up during the install;";
}

// A screen reader's question, which is only ever sent.
const Request kTextQuery = {"WM_GETTEXT", WM_GETTEXT, 0};

// Sends the request and waits a while for the answer. While the install runs
// the answer must come promptly, and be what a setup that takes no request
// gives: the session asked to wait, a text query answered with the text.
void SendRequest(Session& s, HWND to, const Request& r, DWORD pid, bool installing)
{
    char text[256] = "";
    const bool query = r.msg == WM_GETTEXT;
    DWORD_PTR answer = 1;
    const DWORD start = GetTickCount();
    const bool answered = SendMessageTimeoutA(to, r.msg, query ? sizeof text : r.wParam,
                                              query ? reinterpret_cast<LPARAM>(text) : RequestParam(to, r),
                                              SMTO_NORMAL, kPromptMs, &answer) != 0;
    const DWORD took = GetTickCount() - start;
    ++s.sent;
    if (!installing)
        return;
    ++s.sentInstalling;
    const View after = Look(pid);
    CheckUndisturbed(s, after);
    if (!answered && after.installing && IsWindow(to)) {
        s.answerProblem += " " + std::string(r.name) + " sent during the install not answered within " +
                           std::to_string(kPromptMs) + " ms;";
        return;
    }
    if (!answered)
        return;
    s.slowestAnswerMs = std::max(s.slowestAnswerMs, took);
    if (r.msg == WM_QUERYENDSESSION && answer != 0)
        s.answerProblem += " the session was let end during the install;";
    if (query && (answer != strlen(text) || Text(to) != text))
        s.answerProblem += " the text query was answered with \"" + std::string(text) + "\";";
}

void PostRandomRequest(Session& s, Rng& rng, const View& v, DWORD pid)
{
    HWND targets[] = {v.backdrop, v.wizard, v.page};
    HWND to = targets[rng.Below(3)];
    const bool send = rng.Chance(50);
    const Request& r = send && rng.Chance(15) ? kTextQuery : RandomRequest(rng);
    if (!to)
        return;
    if (send)
        SendRequest(s, to, r, pid, v.installing);
    else
        PostMessageA(to, r.msg, r.wParam, RequestParam(to, r));
    Trace(send ? "sent" : "posted", std::string(r.name) + " to " + Text(to) + (v.installing ? " (installing)" : "") +
                                        (v.boxes.empty() ? "" : " (box " + Text(v.boxes.front()) + ")"));
    ++s.posted;
    s.postedInstalling += v.installing;
    s.postedInBox += !v.boxes.empty();
}

void RandomKey(Session& s, Rng& rng, const View& v)
{
    static const WORD keys[] = {VK_TAB, VK_RETURN, VK_ESCAPE, VK_SPACE};
    if (rng.Chance(70)) {
        HWND top = !v.boxes.empty() ? v.boxes.front() : v.wizard;
        if (top)
            SetForegroundWindow(top);
    }
    WORD vk = keys[rng.Below(4)];
    bool shift = vk == VK_TAB && rng.Chance(30);
    Trace("key", std::to_string(vk) + (shift ? " with Shift" : "") + " to " + Text(GetForegroundWindow()));
    PressKey(vk, shift);
    ++s.keys;
}

void RandomClick(Session& s, Rng& rng, DWORD pid)
{
    std::vector<HWND> buttons = Buttons(pid);
    if (buttons.empty())
        return;
    HWND button = buttons[rng.Below(static_cast<int>(buttons.size()))];
    Trace("click", Text(button) + " of " + Text(GetAncestor(button, GA_ROOT)));
    ClickAt(button);
    ++s.clicks;
}

// One step towards the install: accept the licence, then Next.
void StepForward(Session& s, Rng& rng, const View& v)
{
    HWND accept = v.pageId == 20 ? GetDlgItem(v.page, 1016) : NULL;
    DWORD_PTR checked = 1;
    if (accept && SendMessageTimeoutA(accept, BM_GETCHECK, 0, 0, SMTO_NORMAL, 1000, &checked) && checked == 0) {
        ClickAt(accept);
        ++s.clicks;
        return;
    }
    HWND next = GetDlgItem(v.wizard, 1001);
    Trace("forward from page", std::to_string(v.pageId));
    if (rng.Chance(50)) {
        ClickAt(next);
        ++s.clicks;
    } else {
        PostMessageA(v.wizard, WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), reinterpret_cast<LPARAM>(next));
    }
}

void Act(Session& s, Rng& rng, DWORD pid, const View& v)
{
    ++s.steps;
    if (!v.boxes.empty() && rng.Chance(40)) {
        for (int n = 1 + rng.Below(4); n > 0; --n)
            PostRandomRequest(s, rng, v, pid);
        return;
    }
    if (s.eager && s.maxPage < 40) {
        // Heading for the install: the cancel question is mostly answered No.
        HWND no = v.boxes.empty() ? NULL : GetDlgItem(v.boxes.front(), IDNO);
        if (no && rng.Chance(80)) {
            Trace("click", "No");
            ClickAt(no);
            ++s.clicks;
            return;
        }
        if (v.boxes.empty() && v.pageId > 0 && rng.Chance(75)) {
            StepForward(s, rng, v);
            return;
        }
    }
    int pick = rng.Below(100);
    if (pick < 35)
        RandomClick(s, rng, pid);
    else if (pick < 60)
        RandomKey(s, rng, v);
    else
        PostRandomRequest(s, rng, v, pid);
}

// A crash shows as the debugger's crash dialog or a program of it; the
// session then has failed, whichever of its programs crashed.
bool CrashSeen(std::string* sign)
{
    if (!ProcessesNamed("winedbg.exe").empty()) {
        *sign = "winedbg runs";
        return true;
    }
    if (FindTopLevel(0, "Program Error", nullptr)) {
        *sign = "a \"Program Error\" window";
        return true;
    }
    return false;
}

// Follows the session: the pages reached, the destination put on the
// destination page as soon as it shows, completion, a started product and
// crashes.
void Watch(Session& s, const View& v)
{
    if (!s.crashed)
        s.crashed = CrashSeen(&s.crashSign);
    CheckUndisturbed(s, v);
    if (v.pageId > s.maxPage) {
        s.maxPage = v.pageId;
        Trace("reached page", std::to_string(v.pageId));
    }
    if (v.pageId == 30 && v.page != s.destPage) {
        DWORD_PTR r;
        HWND edit = GetDlgItem(v.page, 1003);
        if (SendMessageTimeoutA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(s.dest.c_str()), SMTO_NORMAL, 3000,
                                &r))
            s.destPage = v.page;
    }
    if (v.pageId == 40 && Text(GetDlgItem(v.wizard, IDCANCEL)) == "Close")
        s.finished = true;
}

bool Responsive(HWND h)
{
    DWORD_PTR r;
    return h && SendMessageTimeoutA(h, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &r) != 0;
}

// Leads the setup to its end as a user would leave it: every box answered
// (Yes to the cancel question), then Cancel or Close. Bounded: a setup that
// has not ended by then hangs.
void LeadToEnd(Session& s, ChildProcess& setup)
{
    DWORD start = GetTickCount();
    while (setup.Running() && !s.crashed && GetTickCount() - start < 180000) {
        View v = Look(setup.Pid());
        Watch(s, v);
        if (!v.boxes.empty()) {
            HWND box = v.boxes.front();
            std::string caption = Text(box);
            WPARAM answer = caption == "Confirm Cancel" ? IDYES
                            : caption == "Error Detected" || caption == "Invalid Directory" || caption == "CuratoNet"
                                ? IDOK
                                : IDCANCEL;
            Trace("answer", caption);
            PostMessageA(box, WM_COMMAND, answer, 0);
        } else if (!v.installing && Responsive(v.wizard)) {
            HWND cancel = GetDlgItem(v.wizard, IDCANCEL);
            PostMessageA(v.wizard, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        }
        Sleep(300);
    }
    DWORD code = 0;
    if (setup.Exited(&code, 0)) {
        s.exitCode = code;
        if (code >= 0x80000000u && !s.crashed) {
            s.crashed = true;
            s.crashSign = "an exception's exit code";
        }
    } else if (!s.crashed) {
        s.hung = true;
    }
}

// The started product: noted, then closed.
void EndLaunchedProduct(Session& s)
{
    if (s.finished)
        WaitFor([] { return FindTopLevel(0, "CuratoNet", "CuratoNetMain") != NULL; }, 5000);
    for (HWND app : TopLevels(0, "CuratoNet", "CuratoNetMain")) {
        s.launched = true;
        PostMessageA(app, WM_CLOSE, 0, 0);
    }
    WaitFor([] { return ProcessesNamed("CuratoApp.exe").empty(); }, 5000);
    for (DWORD pid : ProcessesNamed("CuratoApp.exe"))
        EndProcess(pid);
}

// Ends what a crash left: the debugger and its dialog.
void EndCrashLeftovers()
{
    for (DWORD pid : ProcessesNamed("winedbg.exe"))
        EndProcess(pid);
}

void CheckFilesIn(Session& s, const std::string& dir)
{
    if (!IsDir(dir))
        return;
    for (const std::string& name : FilesIn(dir)) {
        if (!IsProductFile(name)) {
            s.fileProblem += " " + dir + "\\" + name + " is no product file;";
            continue;
        }
        std::string data = ReadFile(dir + "\\" + name);
        bool held = dir == s.dest && _stricmp(name.c_str(), s.held.c_str()) == 0;
        if (data != PayloadFile(name) && !(held && data == s.heldBefore))
            s.fileProblem += " " + dir + "\\" + name + " differs from its entry;";
    }
}

void Verify(Session& s, int logBefore)
{
    if (s.hold != INVALID_HANDLE_VALUE)
        CloseHandle(s.hold);
    s.hold = INVALID_HANDLE_VALUE;
    if (!s.held.empty() && ReadFile(s.dest + "\\" + s.held) != s.heldBefore && !Exists(s.dest + "\\" + s.held))
        s.fileProblem += " the held file is gone;";
    s.finished |= Exists(ShortcutGroup() + "\\CuratoNet.lnk");
    CheckFilesIn(s, s.dest);
    CheckFilesIn(s, kDefaultDest);
    s.logOk = CountLines(ReadFile(kLogPath)) == logBefore + 1;
    s.end = !s.started          ? kNotStarted
            : s.crashed         ? kCrash
            : s.hung            ? kHang
            : s.maxPage < 40    ? kBeforeInstall
            : !s.finished       ? kStopped
            : s.launched        ? kFinishedLaunched
                                : kFinishedNotLaunched;
}

bool Failed(const Session& s)
{
    return s.end == kCrash || s.end == kHang || s.end == kNotStarted || !s.fileProblem.empty() || !s.logOk ||
           !s.answerProblem.empty() ||
           (s.end != kCrash && s.end != kHang && s.exitCode != 0);
}

Session RunSession(unsigned seed, const std::string& programs98, const std::string& programsValue)
{
    Session s;
    s.seed = seed;
    s.fault = static_cast<Fault>(seed % kFaultKinds);
    Rng rng(seed);
    Prepare(s, rng, programs98);
    s.eager = rng.Chance(70);
    int steps = 8 + rng.Below(s.eager ? 100 : 40);
    int logBefore = CountLines(ReadFile(kLogPath));
    DWORD start = GetTickCount();
    {
        ChildProcess setup(s.exe);
        s.started = setup.Started();
        if (s.started && WaitFor([&] { return Look(setup.Pid()).wizard != NULL || !setup.Running(); })) {
            for (int i = 0; i < steps && setup.Running() && !s.crashed && GetTickCount() - start < 120000; ++i) {
                View v = Look(setup.Pid());
                Watch(s, v);
                Act(s, rng, setup.Pid(), v);
                Sleep(rng.Chance(15) ? rng.Below(1500) : rng.Below(250));
            }
        }
        if (s.started)
            LeadToEnd(s, setup);
        if (s.hung || s.crashed)
            setup.Terminate(kHangCode);
    }
    EndLaunchedProduct(s);
    EndCrashLeftovers();
    if (s.fault == kNoProgramsFolder)
        SetRegString(HKEY_CURRENT_USER, kShellFolders, "Programs", programsValue);
    Verify(s, logBefore);
    if (!Failed(s))
        RemoveTree(s.dir);
    printf("seed %u: fault=%s%s%s %s steps=%d clicks=%d keys=%d posted=%d (installing %d, in a box %d) "
           "sent=%d (installing %d, slowest answer %lu ms) end=\"%s\"%s%s exit=%lu files=%s log=%s answers=%s %.1f s\n",
           s.seed, kFaultNames[s.fault], s.held.empty() ? "" : ":", s.held.c_str(), s.eager ? "eager" : "wandering",
           s.steps, s.clicks, s.keys, s.posted, s.postedInstalling, s.postedInBox, s.sent, s.sentInstalling,
           s.slowestAnswerMs, kEndNames[s.end], s.crashSign.empty() ? "" : " sign=", s.crashSign.c_str(), s.exitCode,
           s.fileProblem.empty() ? "ok" : s.fileProblem.c_str(), s.logOk ? "ok" : "FAILED",
           s.answerProblem.empty() ? "ok" : s.answerProblem.c_str(), (GetTickCount() - start) / 1000.0);
    return s;
}

// The detector must see a crash for its zero to mean anything: a copy of
// this program that faults on purpose is watched like a session.
bool CrashDetectorSeesACrash()
{
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    ChildProcess crasher(self, "--crash");
    std::string sign;
    DWORD code = 0;
    bool seen = WaitFor([&] { return CrashSeen(&sign) || (crasher.Exited(&code, 0) && code >= 0x80000000u); }, 30000);
    crasher.Terminate(kHangCode);
    EndCrashLeftovers();
    printf("crash detector: %s\n", seen ? (sign.empty() ? "sees the exit code of an exception" : sign.c_str())
                                         : "saw nothing of a program that crashed");
    return seen;
}

// A copy of setup.exe that Wine tells it runs on Windows 98, where the
// programs folder is the user's own.
std::string Make98Copy()
{
    std::string bin = std::string(kWorkDir) + "\\bin";
    CreateDirectoryA(kWorkDir, nullptr);
    CreateDirectoryA(bin.c_str(), nullptr);
    std::string exe = bin + "\\monkey98.exe";
    CopyFileA(Env("SETUP_EXE").c_str(), exe.c_str(), FALSE);
    SetRegString(HKEY_CURRENT_USER, k98Key, "Version", "win98");
    return exe;
}

int RunCampaign(unsigned first, int sessions)
{
    std::string programs98 = Make98Copy();
    std::string programsValue = RegString(HKEY_CURRENT_USER, kShellFolders, "Programs");
    if (!CrashDetectorSeesACrash())
        return 2;
    int ends[kEndStates] = {}, faults[kFaultKinds] = {};
    int fileFailures = 0, logFailures = 0, badExits = 0, failed = 0, posted = 0, installing = 0, inBox = 0;
    int answerFailures = 0, sent = 0, sentInstalling = 0;
    DWORD slowestAnswerMs = 0;
    DWORD start = GetTickCount();
    for (int i = 0; i < sessions; ++i) {
        Session s = RunSession(first + i, programs98, programsValue);
        ++ends[s.end];
        ++faults[s.fault];
        fileFailures += !s.fileProblem.empty();
        logFailures += !s.logOk;
        badExits += s.end != kCrash && s.end != kHang && s.exitCode != 0;
        failed += Failed(s);
        posted += s.posted;
        installing += s.postedInstalling;
        inBox += s.postedInBox;
        answerFailures += !s.answerProblem.empty();
        sent += s.sent;
        sentInstalling += s.sentInstalling;
        slowestAnswerMs = std::max(slowestAnswerMs, s.slowestAnswerMs);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, k98Key);
    printf("\nmonkey campaign: seeds %u to %u, %.0f s\n", first, first + sessions - 1, (GetTickCount() - start) / 1000.0);
    printf("  %-56s %6d\n", "sessions", sessions);
    printf("  %-56s %6d\n", "crashes", ends[kCrash]);
    printf("  %-56s %6d\n", "hangs", ends[kHang]);
    printf("  %-56s %6d\n", "sessions whose setup.exe did not start", ends[kNotStarted]);
    printf("  %-56s %6d\n", "file-check failures", fileFailures);
    printf("  %-56s %6d\n", "log-check failures (not one line more)", logFailures);
    printf("  %-56s %6d\n", "exit codes other than 0", badExits);
    printf("  %-56s %6d\n", "answer-check failures (sent during the install)", answerFailures);
    printf("  %-56s %6d\n", "requests posted or sent", posted);
    printf("  %-56s %6d\n", "  of them while the install ran", installing);
    printf("  %-56s %6d\n", "  of them while a message box was open", inBox);
    printf("  %-56s %6d\n", "  of them sent, the answer awaited", sent);
    printf("  %-56s %6d\n", "    of them while the install ran", sentInstalling);
    printf("  %-56s %6lu\n", "    the slowest answer while the install ran (ms)", slowestAnswerMs);
    printf("  end states:\n");
    for (int e = 0; e < kCrash; ++e)
        printf("    %-54s %6d\n", kEndNames[e], ends[e]);
    printf("  faults:\n");
    for (int f = 0; f < kFaultKinds; ++f)
        printf("    %-54s %6d\n", kFaultNames[f], faults[f]);
    printf("  one session again: monkey.exe --first SEED --sessions 1\n");
    printf("%d passed, %d failed\n", sessions - failed, failed);
    return failed == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "--crash") == 0) {
        volatile int* nowhere = nullptr;
        return *nowhere;
    }
    unsigned first = 1;
    int sessions = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (strcmp(argv[i], "--first") == 0)
            first = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
        else if (strcmp(argv[i], "--sessions") == 0)
            sessions = atoi(argv[i + 1]);
    }
    for (int i = 1; i < argc; ++i)
        gTrace |= strcmp(argv[i], "--trace") == 0;
    DriverOutputToLog();
    HoldWineDesktop();
    return DriverExit(RunCampaign(first, sessions));
}
