// The process and window helpers of the programs that run setup.exe and watch
// it from outside: none of them needs an answer from the setup, which answers
// only between its stretches of work while it installs. A driver that has
// helpers of its own names these with their namespace.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <string>
#include <vector>

#include "driver_util.h"

namespace setupwatch {

// The setup's two windows, found by caption, and its session log.
const char kBackdropCaption[] = "CuratoNet Installation";
const char kWizardCaption[] = "Setup Wizard";
const char kLogPath[] = "C:\\setup.log";

// The product files in the order the setup writes them.
const char* const kManifest[] = {
    "curatoapp.EXE", "curatoprint.EXE", "czimporter.EXE", "HTMLStartPage.htm", "ExportTabStartPage.htm",
    "curatohelp.htm", "Shdocvw.dll", "curato.dll", "panecrafter.dll", "AxInterop.SHDocVw.dll",
    "Interop.SHDocVw.dll", "Microsoft.mshtml.dll", "curato.mdb", "tall_1.lyo", "tall_2.lyo", "tall_3.lyo",
    "tall_4.lyo", "wide_1.lyo", "wide_2.lyo", "wide_3.lyo", "wide_4.lyo", "site_1.lyo", "site_2.lyo",
    "site_3.lyo", "site_4.lyo", "site_5.lyo", "site_6.lyo", "site_7.lyo", "site_8.lyo", "site_9.lyo",
    "site_10.lyo", "site_11.lyo", "site_cream.lyo", "site_tartan.lyo", "site_foggy.lyo", "site_violet.lyo",
    "site_meadow.lyo", "site_cedar.lyo", "gde_01.gde", "gde_02.gde", "gde_03.gde", "gde_04.gde", "gde_05.gde",
    "gde_06.gde", "gde_07.gde", "gde_08.gde", "gde_09.gde", "gde_10.gde", "azure.wsy", "cream.wsy",
    "tartan.wsy", "rosy.wsy", "cedar.wsy", "bmEmptyPicture.bmp",
};
const int kManifestSize = sizeof kManifest / sizeof kManifest[0];

// What can reach the setup's windows from outside at any moment: the closes
// that a task manager or the session sends, the system menu's commands, the
// dialog manager's and the frame's commands, and the end of the session; and
// what only a careless or hostile program sends: a command that names another
// control than the one it comes from, and a second dialog initialisation.
struct Request {
    const char* name;
    UINT msg;
    WPARAM wParam;
    bool fromOtherControl = false;   // a command from the window's first control, whatever its id
};
const Request kRequests[] = {
    {"WM_CLOSE", WM_CLOSE, 0},
    {"SC_CLOSE", WM_SYSCOMMAND, SC_CLOSE},
    {"About", WM_SYSCOMMAND, 0x10},
    {"IDOK", WM_COMMAND, IDOK},
    {"IDCANCEL", WM_COMMAND, IDCANCEL},
    {"Next", WM_COMMAND, 1001},
    {"Back", WM_COMMAND, 1000},
    {"Help", WM_COMMAND, 57670},
    {"WM_QUERYENDSESSION", WM_QUERYENDSESSION, 0},
    {"WM_ENDSESSION false", WM_ENDSESSION, FALSE},
    {"WM_ENDSESSION true", WM_ENDSESSION, TRUE},
    {"IDCANCEL from another control", WM_COMMAND, IDCANCEL, true},
    {"WM_INITDIALOG", WM_INITDIALOG, 0},
};

// A command carries the control it comes from, where the window has one.
inline LPARAM RequestParam(HWND to, const Request& r)
{
    if (r.msg != WM_COMMAND)
        return 0;
    return reinterpret_cast<LPARAM>(r.fromOtherControl ? GetWindow(to, GW_CHILD) : GetDlgItem(to, LOWORD(r.wParam)));
}

// The text the window system keeps for a window of another process.
inline std::string Text(HWND h)
{
    char buf[4096] = "";
    int n = GetWindowTextA(h, buf, sizeof buf);
    return std::string(buf, n > 0 ? n : 0);
}

inline std::string ClassOf(HWND h)
{
    char cls[64] = "";
    GetClassNameA(h, cls, sizeof cls);
    return cls;
}

// The page inside the wizard frame: its one child dialog; null when none.
inline HWND WizardPage(HWND wizard)
{
    for (HWND c = GetWindow(wizard, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (ClassOf(c) == "#32770")
            return c;
    return NULL;
}

inline DWORD ProcessOf(HWND h)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(h, &pid);
    return pid;
}

// The whole file, or "<missing>" when it cannot be read.
inline std::string ReadFile(const std::string& path)
{
    std::string data;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return "<missing>";
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, n);
    fclose(f);
    return data;
}

inline bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

inline bool IsDir(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

// The names of the plain files in a directory.
inline std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return names;
}

inline void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
    DeleteFileA(path.c_str());
}

struct TopLevelQuery {
    DWORD pid;
    const char* caption;
    const char* cls;
    std::vector<HWND> found;
};

inline BOOL CALLBACK CollectTopLevel(HWND h, LPARAM lp)
{
    TopLevelQuery* q = reinterpret_cast<TopLevelQuery*>(lp);
    if ((q->pid == 0 || ProcessOf(h) == q->pid) && IsWindowVisible(h) && (!q->caption || Text(h) == q->caption) &&
        (!q->cls || ClassOf(h) == q->cls))
        q->found.push_back(h);
    return TRUE;
}

// The visible top-level windows of a process (every process for pid 0), in
// Z order, with a caption and a class (null: any).
inline std::vector<HWND> TopLevels(DWORD pid, const char* caption = nullptr, const char* cls = nullptr)
{
    TopLevelQuery q = {pid, caption, cls, {}};
    EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&q));
    return q.found;
}

inline HWND FindTopLevel(DWORD pid, const char* caption, const char* cls)
{
    std::vector<HWND> found = TopLevels(pid, caption, cls);
    return found.empty() ? NULL : found.front();
}

// Real keystrokes to whichever window has the keyboard, with Shift held
// around them when asked.
inline void PressKey(WORD vk, bool shift)
{
    std::vector<INPUT> in;
    auto add = [&](WORD k, bool up) {
        INPUT i = {};
        i.type = INPUT_KEYBOARD;
        i.ki.wVk = k;
        i.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
        in.push_back(i);
    };
    if (shift)
        add(VK_SHIFT, false);
    add(vk, false);
    add(vk, true);
    if (shift)
        add(VK_SHIFT, true);
    SendInput(static_cast<UINT>(in.size()), in.data(), sizeof(INPUT));
}

// A real click of the left button in the middle of the window. The cursor is
// moved there first, and the click waits until the system has reported it
// there for a while: in a desktop just started, Wine can put the cursor back
// where the screen's pointer was a moment after it was moved (seen on a
// loaded machine). The click itself also carries the place, so that it lands
// there even if the cursor moves once more.
inline void ClickAt(HWND h)
{
    RECT r;
    if (!GetWindowRect(h, &r))
        return;
    const POINT to = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    const auto there = [&] {
        POINT at;
        return GetCursorPos(&at) && at.x == to.x && at.y == to.y;
    };
    WaitFor([&] {
        SetCursorPos(to.x, to.y);
        Sleep(200);
        return there();
    }, 5000);
    const int cx = GetSystemMetrics(SM_CXSCREEN), cy = GetSystemMetrics(SM_CYSCREEN);
    INPUT in[3] = {};
    in[0].type = in[1].type = in[2].type = INPUT_MOUSE;
    // The middle of the pixel, on the scale of 0 to 65536 across the screen.
    in[0].mi.dx = static_cast<LONG>((2 * static_cast<LONGLONG>(to.x) + 1) * 65536 / (2 * cx));
    in[0].mi.dy = static_cast<LONG>((2 * static_cast<LONGLONG>(to.y) + 1) * 65536 / (2 * cy));
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    in[2].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(3, in, sizeof(INPUT));
}

// The ids of the running processes of a program name.
inline std::vector<DWORD> ProcessesNamed(const char* name)
{
    std::vector<DWORD> ids;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 pe = {};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe))
        if (lstrcmpiA(pe.szExeFile, name) == 0)
            ids.push_back(pe.th32ProcessID);
    CloseHandle(snap);
    return ids;
}

inline void EndProcess(DWORD pid, UINT code = 0)
{
    HANDLE p = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!p)
        return;
    TerminateProcess(p, code);
    WaitForSingleObject(p, 5000);
    CloseHandle(p);
}

// One started program; ended by force if it still runs when this goes.
class ChildProcess {
public:
    explicit ChildProcess(const std::string& exe, const std::string& args = "")
    {
        std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back('\0');
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        started_ = CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi_) != FALSE;
    }
    ~ChildProcess()
    {
        if (!started_)
            return;
        Terminate(99);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return started_; }
    DWORD Pid() const { return pi_.dwProcessId; }
    DWORD Tid() const { return pi_.dwThreadId; }
    bool Running() const { return started_ && WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }

    // True when the process ended within ms; code is then its exit code.
    bool Exited(DWORD* code, DWORD ms = kPatience)
    {
        if (!started_ || WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0)
            return false;
        GetExitCodeProcess(pi_.hProcess, code);
        return true;
    }
    void Terminate(UINT code)
    {
        if (Running()) {
            TerminateProcess(pi_.hProcess, code);
            WaitForSingleObject(pi_.hProcess, 5000);
        }
    }

private:
    bool started_ = false;
    PROCESS_INFORMATION pi_ = {};
};

} // namespace setupwatch
