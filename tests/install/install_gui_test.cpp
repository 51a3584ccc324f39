// Installs the product end to end through the real setup.exe, driven from a
// second program under the same Wine desktop. While it installs the setup
// answers only between its stretches of work, so the driver reads it in ways
// that need no answer from it: window texts kept by the window system, styles,
// visibility and the pixels of the progress bar on screen. Every wait polls
// against a deadline.
#include <gtest/gtest.h>

#include <objbase.h>
#include <psapi.h>
#include <shlobj.h>
#include <windows.h>
#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "setup_process.h"

using namespace setupwatch;

namespace {

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char kAppDefaults[] = "Software\\Wine\\AppDefaults\\";
// Where the payload's stand-in for the browser control records the path it
// was registered from.
const char kBrowserControlServerKey[] =
    "Software\\Classes\\CLSID\\{3F1B7C2E-9D4A-4E61-B8C5-2A7D90E6F413}\\InprocServer32";

const char kCaption[] = "Installing CuratoNet...";
const char kCompletion[] =
    "Installation is complete.  To start CuratoNet, click the Windows Start button at the lower left of your "
    "screen, click on the Programs folder, and select CuratoPro.  Select Choose Hobby from the Options menu to "
    "initialize field names for your hobby.";
const char kSetupFailure[] =
    "An error occurred while installing CuratoNet\n"
    "If you are using Windows 2000 or XP, It may be necessary to login as an administrator in order to "
    "install this program.\n"
    "If you are already logged in as admin, The following information should help resolve the problem:\n"
    "The following information should help resolve the problem:\n";
const char kCopyFailure[] =
    "An error occurred while installing CuratoNet\n"
    "If you are using Windows 2000, 2003, or XP, It is necessary to login as an administrator in order to "
    "install this program.\n"
    "If you are already logged in as admin, The following information should help resolve the problem:\n"
    "The following information should help resolve the problem:\n";
const char kIconsFailure[] =
    "An error occurred while installing CuratoNet\n"
    "If you are using Windows 2000 or XP, It is necessary to login as an administrator in order to install "
    "this program.\n"
    "If you are already logged in as admin, The following information should help resolve the problem:\n";
const char kSupportSuffix[] =
    "\nIf the problem cannot be resolved, contact\nTamber Labs (https://support.tamberlabs.example) for "
    "additional assistance";
const char kDamagedCaption[] = "CuratoNet Setup";
const char kDamaged[] =
    "The setup program is damaged, perhaps by an incomplete download. Please obtain a new copy.";
const char kInvalidDirectory[] =
    "The directory entered was an invalid one.  Please run the installation again and specify a valid directory.";


int ManifestIndex(const std::string& name)
{
    for (int i = 0; i < kManifestSize; ++i)
        if (name == kManifest[i])
            return i;
    return -1;
}

void WriteFile(const std::string& path, const std::string& data)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f) << path;
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

std::string RegString(HKEY root, const std::string& key, const char* name, bool* present = nullptr)
{
    char data[1024] = "";
    DWORD size = sizeof data - 1, type = 0;
    HKEY h;
    bool ok = RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &h) == ERROR_SUCCESS;
    if (ok) {
        ok = RegQueryValueExA(h, name, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS;
        RegCloseKey(h);
    }
    if (present)
        *present = ok;
    return ok ? std::string(data) : "";
}

void SetRegString(HKEY root, const std::string& key, const char* name, const std::string& value)
{
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &h, nullptr));
    RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(h);
}

std::string CommonPrograms()
{
    return RegString(HKEY_LOCAL_MACHINE, kShellFolders, "Common Programs");
}

std::string GroupDir()
{
    return CommonPrograms() + "\\Curato";
}

std::string LinkPath()
{
    return GroupDir() + "\\CuratoNet.lnk";
}

// A destination, or any other path, unique to this run of the driver.
std::string Unique(const char* what)
{
    static int counter = 0;
    char name[96];
    snprintf(name, sizeof name, "C:\\inst-%lu-%d-%s", GetCurrentProcessId(), ++counter, what);
    return name;
}

// The fraction of the progress bar's width that is filled on screen, 0 when
// empty; -1 when it cannot be read.
double BarFill(HWND bar)
{
    RECT r;
    if (!GetClientRect(bar, &r) || r.right < 8)
        return -1;
    POINT origin = {0, 0};
    ClientToScreen(bar, &origin);
    int w = r.right, y = r.bottom / 2;
    HDC screen = GetDC(NULL);
    HDC mem = CreateCompatibleDC(screen);
    HBITMAP bmp = CreateCompatibleBitmap(screen, w, 1);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, 1, screen, origin.x, origin.y + y, SRCCOPY);
    COLORREF fill = GetSysColor(COLOR_HIGHLIGHT);
    int last = -1;
    for (int x = 0; x < w; ++x)
        if (GetPixel(mem, x, 0) == fill)
            last = x;
    SelectObject(mem, old);
    DeleteObject(bmp);
    DeleteDC(mem);
    ReleaseDC(NULL, screen);
    return (last + 1) / static_cast<double>(w);
}

// What was seen of the install while it ran.
struct InstallTrace {
    std::vector<std::string> names;                // minor texts in the order seen
    std::map<std::string, double> minFill, maxFill;
    std::vector<std::string> captions;             // distinct group box texts
    bool sawIconsStage = false;
    bool barVisibleInIconsStage = false;
    bool barHiddenInIconsStage = false;
    HWND errorBox = NULL;                          // an "Error Detected" box, if one came up
    DWORD elapsed = 0;                             // ms from Next to the end of the watch
};

// One run of a setup program with its windows.
class SetupRun {
public:
    explicit SetupRun(const std::string& exe = Env("SETUP_EXE")) : proc_(exe) {}

    bool Started() const { return proc_.Started(); }
    DWORD Pid() const { return proc_.Pid(); }

    HWND Window(const char* caption, const char* cls = nullptr, DWORD ms = kPatience)
    {
        HWND found = NULL;
        WaitFor([&] { return (found = FindTopLevel(proc_.Pid(), caption, cls)) != NULL; }, ms);
        return found;
    }
    HWND Wizard() { return FindTopLevel(proc_.Pid(), kWizardCaption, nullptr); }
    HWND Page() { return WizardPage(Wizard()); }
    HWND PageItem(int id) { return GetDlgItem(Page(), id); }
    HWND WizItem(int id) { return GetDlgItem(Wizard(), id); }
    std::string PageTitle() { return Text(GetWindow(Page(), GW_CHILD)); }
    bool WaitPage(const char* title, DWORD ms = kPatience)
    {
        return WaitFor([&] { return PageTitle() == title; }, ms);
    }
    void Command(HWND to, int id)
    {
        PostMessageA(to, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(to, id)));
    }

    // Through the welcome and licence pages to the destination page, where the
    // destination text is replaced; true on the destination page.
    bool ReachDestination(const std::string& dest)
    {
        const auto stuck = [](const char* where) {
            ADD_FAILURE() << "on the way to the destination page: " << where;
            return false;
        };
        if (!Window(kWizardCaption) || !WaitPage("Welcome"))
            return stuck("no welcome page");
        Command(Wizard(), 1001);
        if (!WaitPage("License Agreement"))
            return stuck("no licence page after Next");
        // The page's title shows as soon as its first control is made; the
        // box is clicked once the page's initialisation has put the licence
        // in its text field.
        DWORD_PTR licenceLength = 0;
        if (!WaitFor([&] { return SendPatiently(PageItem(1002), WM_GETTEXTLENGTH, 0, 0, &licenceLength) &&
                                  licenceLength > 0; }))
            return stuck("no licence text");
        if (!SendPatiently(PageItem(1016), BM_CLICK, 0, 0) ||
            !WaitFor([&] { return IsWindowEnabled(WizItem(1001)) != FALSE; }))
            return stuck("Next not enabled by the accept box");
        Command(Wizard(), 1001);
        if (!WaitPage("Destination Directory"))
            return stuck("no destination page after Next");
        // The field is read-only for the user, not for WM_SETTEXT; the page
        // takes the text into the destination when it is destroyed by Next.
        // An edit keeps its own text: it is read back with a message. It is
        // set only once the page's initialisation has put the default there,
        // which would replace a text set before.
        char text[MAX_PATH] = "";
        if (!WaitFor([&] {
                return SendPatiently(PageItem(1003), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)) &&
                       strcmp(text, "c:\\Program Files\\CuratoNet") == 0;
            }))
            return stuck("no default destination");
        if (!SendPatiently(PageItem(1003), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(dest.c_str())) ||
            !SendPatiently(PageItem(1003), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)) || dest != text)
            return stuck("destination field not set");
        return true;
    }

    // Presses Next on the destination page and watches the install until the
    // third button reads "Close", an error box or the "Invalid Directory" box
    // comes up, or the sequence has ended otherwise.
    InstallTrace Install()
    {
        InstallTrace t;
        DWORD start = GetTickCount();
        Command(Wizard(), 1001);
        std::string lastName;
        while (GetTickCount() - start < 120000) {
            HWND page = Page();
            if (page && ClassOf(page) == "#32770" && GetDlgItem(page, 1006)) {
                Observe(page, t, lastName);
            }
            if (Text(WizItem(IDCANCEL)) == "Close")
                break;
            if ((t.errorBox = FindTopLevel(proc_.Pid(), "Error Detected", "#32770")) != NULL)
                break;
            if (FindTopLevel(proc_.Pid(), "Invalid Directory", "#32770"))
                break;
            Sleep(2);
        }
        t.elapsed = GetTickCount() - start;
        return t;
    }

    // Goes on watching after an error box has been answered.
    InstallTrace Resume()
    {
        InstallTrace t;
        std::string lastName;
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 60000 && Text(WizItem(IDCANCEL)) != "Close") {
            if ((t.errorBox = FindTopLevel(proc_.Pid(), "Error Detected", "#32770")) != NULL)
                break;
            if (Page())
                Observe(Page(), t, lastName);
            Sleep(2);
        }
        return t;
    }

    bool Exited(DWORD* code, DWORD ms = kPatience) { return proc_.Exited(code, ms); }

    // Cancel, then Yes on "Confirm Cancel"; true when that box asked its question.
    bool CancelConfirmed()
    {
        Command(Wizard(), IDCANCEL);
        HWND box = Window("Confirm Cancel", "#32770");
        if (!box)
            return false;
        bool asked = BoxText(box) == "Are you sure you want to cancel the installation of the software?";
        PostMessageA(box, WM_COMMAND, IDYES, 0);
        return asked;
    }

    static std::string BoxText(HWND box) { return Text(GetDlgItem(box, 0xFFFF)); }
    static void PressOk(HWND box)
    {
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        WaitFor([&] { return !IsWindow(box); });
    }

private:
    void Observe(HWND page, InstallTrace& t, std::string& lastName)
    {
        std::string caption = Text(GetWindow(page, GW_CHILD));
        if (t.captions.empty() || t.captions.back() != caption)
            t.captions.push_back(caption);
        HWND bar = GetDlgItem(page, 1006);
        std::string major = Text(GetDlgItem(page, 1009));
        if (major == "Creating Program Groups and Icons") {
            t.sawIconsStage = true;
            (IsWindowVisible(bar) ? t.barVisibleInIconsStage : t.barHiddenInIconsStage) = true;
            return;
        }
        // The page shows only once its texts are set: the name is read after
        // the bar was seen shown, else the template's text of a page not yet
        // shown could pass for a file's name.
        if (!IsWindowVisible(bar))
            return;
        std::string name = Text(GetDlgItem(page, 1010));
        if (name.empty())
            return;
        if (name != lastName) {
            t.names.push_back(name);
            lastName = name;
        }
        double fill = BarFill(bar);
        if (fill < 0)
            return;
        if (!t.minFill.count(name) || fill < t.minFill[name])
            t.minFill[name] = fill;
        if (!t.maxFill.count(name) || fill > t.maxFill[name])
            t.maxFill[name] = fill;
    }

    ChildProcess proc_;
};

// The window of the application that Close started (its title, its class),
// the program file it runs from, the command line and working directory it
// was given, the process that started it, and how many copies of it run.
struct LaunchedApp {
    HWND window = NULL;
    std::string image, commandLine, workingDir, parentName;
    DWORD parentPid = 0;
    size_t running = 0;
};

// The start-up parameters a process keeps (RTL_USER_PROCESS_PARAMETERS) as far
// as the command line, in the layout of the driver's own architecture, which
// is the product's.
struct ProcessParameters {
    BYTE flags[16];
    PVOID consoleAndStandardHandles[5];
    UNICODE_STRING currentDirectory;
    HANDLE currentDirectoryHandle;
    UNICODE_STRING dllPath, imagePath, commandLine;
};

std::string RemoteText(HANDLE process, const UNICODE_STRING& s)
{
    std::wstring wide(s.Length / sizeof(WCHAR), L'\0');
    if (wide.empty() || !ReadProcessMemory(process, s.Buffer, &wide[0], s.Length, nullptr))
        return "";
    char text[2 * MAX_PATH] = "";
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), static_cast<int>(wide.size()), text, sizeof text - 1, nullptr,
                        nullptr);
    return text;
}

// The command line and working directory of a process, read from its memory.
void ReadStartParameters(HANDLE process, LaunchedApp& app)
{
    PROCESS_BASIC_INFORMATION basic = {};
    PEB peb = {};
    ProcessParameters params = {};
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof basic, nullptr) != 0 ||
        !ReadProcessMemory(process, basic.PebBaseAddress, &peb, sizeof peb, nullptr) ||
        !ReadProcessMemory(process, peb.ProcessParameters, &params, sizeof params, nullptr))
        return;
    app.commandLine = RemoteText(process, params.commandLine);
    app.workingDir = RemoteText(process, params.currentDirectory);
}

// The process that started pid, and its program's name.
void ReadParent(DWORD pid, LaunchedApp& app)
{
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 pe = {};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe))
        if (pe.th32ProcessID == pid)
            app.parentPid = pe.th32ParentProcessID;
    for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe))
        if (pe.th32ProcessID == app.parentPid)
            app.parentName = pe.szExeFile;
    CloseHandle(snap);
}

// Finds the application's window, reads what it was started with, and closes it.
LaunchedApp FindLaunchedApp()
{
    LaunchedApp app;
    WaitFor([&] { return (app.window = FindTopLevel(0, "CuratoNet", "CuratoNetMain")) != NULL; });
    if (!app.window)
        return app;
    app.running = ProcessesNamed("CuratoApp.exe").size();
    DWORD pid = 0;
    GetWindowThreadProcessId(app.window, &pid);
    ReadParent(pid, app);
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
    if (process) {
        char path[MAX_PATH] = "";
        GetModuleFileNameExA(process, NULL, path, MAX_PATH);
        app.image = path;
        ReadStartParameters(process, app);
        PostMessageA(app.window, WM_CLOSE, 0, 0);
        WaitForSingleObject(process, 10000);
        CloseHandle(process);
    }
    return app;
}

// The desktop's shell: the process of the desktop's window.
DWORD DesktopShellPid()
{
    return ProcessOf(GetDesktopWindow());
}

bool SameFile(const std::string& a, const std::string& b)
{
    return _stricmp(a.c_str(), b.c_str()) == 0;
}

// The shortcut file read back through the shell link object.
struct Shortcut {
    bool loaded = false;
    std::string path, workingDir, iconPath, description, arguments;
    int iconIndex = -1, showCmd = -1;
};

Shortcut ReadShortcut(const std::string& file)
{
    Shortcut s;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return s;
    IPersistFile* persist = nullptr;
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, file.c_str(), -1, wide, MAX_PATH);
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&persist))) &&
        SUCCEEDED(persist->Load(wide, STGM_READ))) {
        char buf[MAX_PATH] = "";
        s.loaded = true;
        link->GetPath(buf, MAX_PATH, nullptr, SLGP_RAWPATH);
        s.path = buf;
        link->GetWorkingDirectory(buf, MAX_PATH);
        s.workingDir = buf;
        link->GetIconLocation(buf, MAX_PATH, &s.iconIndex);
        s.iconPath = buf;
        link->GetDescription(buf, MAX_PATH);
        s.description = buf;
        link->GetArguments(buf, MAX_PATH);
        s.arguments = buf;
        link->GetShowCmd(&s.showCmd);
    }
    if (persist)
        persist->Release();
    link->Release();
    return s;
}

// Whether the file at path holds exactly the stand-in product file of that name.
bool SameAsPayload(const std::string& dir, const char* name)
{
    std::string installed = ReadFile(dir + "\\" + name);
    return installed != "<missing>" && installed == ReadFile(Env("PAYLOAD_FILES") + "\\" + name);
}

// The product files in dir that hold other bytes than the payload's; the
// names there that are no product file's go to others.
int DamagedFiles(const std::string& dir, std::vector<std::string>* others)
{
    int damaged = 0;
    for (const std::string& name : FilesIn(dir)) {
        if (ManifestIndex(name) < 0) {
            others->push_back(name);
        } else if (!SameAsPayload(dir, name.c_str())) {
            printf("damaged: %s\n", name.c_str());
            ++damaged;
        }
    }
    return damaged;
}

// Whether every name is a product file's partial name.
bool AllPartial(const std::vector<std::string>& names)
{
    for (const std::string& name : names) {
        const size_t dot = name.rfind(".partial");
        if (dot == std::string::npos || dot + 8 != name.size() || ManifestIndex(name.substr(0, dot)) < 0)
            return false;
    }
    return true;
}

ULONGLONG PayloadSize(const char* name)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA((Env("PAYLOAD_FILES") + "\\" + name).c_str(), GetFileExInfoStandard, &data))
        return 0;
    return static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
}

// What a file of that many bytes takes on a drive of 4 KiB blocks.
ULONGLONG OnDrive(ULONGLONG bytes)
{
    return (bytes + 4095) / 4096 * 4096;
}

ULONGLONG FreeBytes(const std::string& dir)
{
    ULARGE_INTEGER available = {};
    GetDiskFreeSpaceExA(dir.c_str(), &available, nullptr, nullptr);
    return available.QuadPart;
}

// Writes a file of zeros until the drive of dir has no more than leave bytes free.
bool FillDriveUntil(const std::string& file, ULONGLONG leave)
{
    HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    static const std::vector<char> zeros(1 << 20);
    for (ULONGLONG free = FreeBytes(file.substr(0, file.rfind('\\') + 1)); free > leave;) {
        DWORD chunk = static_cast<DWORD>(std::min<ULONGLONG>(zeros.size(), free - leave)), written = 0;
        if (!::WriteFile(h, zeros.data(), chunk, &written, nullptr) || written != chunk)
            break;
        free -= chunk;
    }
    CloseHandle(h);
    return FreeBytes(file.substr(0, file.rfind('\\') + 1)) <= leave;
}

// The windows of the setup other than the backdrop, the frame and the box.
std::vector<HWND> OtherWindows(SetupRun& run, HWND box)
{
    std::vector<HWND> others;
    for (HWND h : TopLevels(run.Pid()))
        if (h != box && h != run.Wizard() && h != run.Window("CuratoNet Installation", nullptr, 0))
            others.push_back(h);
    return others;
}

// While a box of the install is open, every request to the backdrop, the frame
// and the installing page is answered at once and changes nothing: the box
// stays, no other window comes up, and the session is asked to wait.
void ExpectNoRequestTaken(SetupRun& run, HWND box)
{
    HWND backdrop = run.Window("CuratoNet Installation"), wizard = run.Wizard(), page = run.Page();
    ASSERT_TRUE(backdrop && wizard && page && GetDlgItem(page, 1006));
    const struct {
        const char* name;
        HWND window;
    } targets[] = {{"backdrop", backdrop}, {"frame", wizard}, {"page", page}};
    for (const auto& target : targets) {
        for (const Request& r : kRequests) {
            SCOPED_TRACE(std::string(r.name) + " sent to the " + target.name);
            DWORD_PTR answer = 1;
            EXPECT_TRUE(SendMessageTimeoutA(target.window, r.msg, r.wParam, RequestParam(target.window, r),
                                            SMTO_NORMAL, 10000, &answer))
                << "no answer: the request was taken and opened a loop of its own";
            if (r.msg == WM_QUERYENDSESSION) {
                EXPECT_EQ(0u, answer);
            }
            PostMessageA(target.window, r.msg, r.wParam, RequestParam(target.window, r));
            Sleep(100);
            EXPECT_TRUE(IsWindowVisible(box));
            EXPECT_TRUE(IsWindow(backdrop) && IsWindow(wizard) && IsWindow(page));
            std::vector<HWND> others = OtherWindows(run, box);
            EXPECT_TRUE(others.empty()) << "a window \"" << Text(others[0]) << "\" came up";
            if (::testing::Test::HasFailure())
                return;
        }
    }
}

// Wine's own overrides of libraries, for every program of the prefix.
const char kWineDllOverrides[] = "Software\\Wine\\DllOverrides";

// Every scenario leaves no group folder and none of its paths behind.
//
// The install registers the browser control it wrote into the destination.
// Wine would load its built-in library of that name from that path instead and
// register it there, so that the shell's type library would name a file
// without one, and the desktop's shell could no longer be asked to start the
// application. Preferring a file of that name has the file the install names
// loaded, as Windows would load it (as SetupGui does).
class Install : public ::testing::Test {
protected:
    void SetUp() override
    {
        CoInitialize(nullptr);
        RemoveTree(GroupDir());
        SetRegString(HKEY_CURRENT_USER, kWineDllOverrides, "shdocvw", "native,builtin");
    }
    void TearDown() override
    {
        HKEY overrides;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, kWineDllOverrides, 0, KEY_SET_VALUE, &overrides) == ERROR_SUCCESS) {
            RegDeleteValueA(overrides, "shdocvw");
            RegCloseKey(overrides);
        }
        RemoveTree(GroupDir());
        for (const std::string& p : cleanup_)
            RemoveTree(p);
        CoUninitialize();
    }
    std::string Path(const char* what)
    {
        std::string p = Unique(what);
        cleanup_.push_back(p);
        return p;
    }

    // The checks of a finished install: texts, buttons, and the hidden bar.
    static void ExpectFinished(SetupRun& run, const InstallTrace& t)
    {
        EXPECT_EQ("Close", Text(run.WizItem(IDCANCEL)));
        EXPECT_EQ(kCompletion, Text(run.PageItem(1009)));
        EXPECT_EQ("Press CLOSE to exit", Text(run.PageItem(1010)));
        // The frame updates its buttons once the install has returned, a
        // moment after the relabelling.
        EXPECT_TRUE(WaitFor([&] { return !IsWindowEnabled(run.WizItem(1000)); }));
        EXPECT_TRUE(WaitFor([&] { return !IsWindowEnabled(run.WizItem(1001)); }));
        EXPECT_FALSE(IsWindowVisible(run.PageItem(1006)));
        // Next, which had the focus, is disabled now: Close takes it, so
        // Enter and Esc work without a click.
        GUITHREADINFO info = {};
        EXPECT_TRUE(WaitFor([&] {
            info.cbSize = sizeof info;
            return GetGUIThreadInfo(GetWindowThreadProcessId(run.Wizard(), nullptr), &info) &&
                   info.hwndFocus == run.WizItem(IDCANCEL);
        })) << "focus on control " << GetDlgCtrlID(info.hwndFocus);
        EXPECT_TRUE(t.sawIconsStage);
        EXPECT_TRUE(t.barHiddenInIconsStage);
        EXPECT_FALSE(t.barVisibleInIconsStage);
    }

    // Close starts the installed application once, from the destination, with
    // no arguments, and the setup ends with 0. The desktop's shell starts it,
    // with the user's own rights, or, where the shell cannot be asked, the
    // setup itself.
    enum Starter { kDesktopShell, kSetupItself };
    static void ExpectCloseLaunches(SetupRun& run, const std::string& dest, Starter starter = kDesktopShell)
    {
        const DWORD setupPid = run.Pid();
        run.Command(run.Wizard(), IDCANCEL);
        DWORD code = 1234;
        ASSERT_TRUE(run.Exited(&code));
        EXPECT_EQ(0u, code);
        LaunchedApp app = FindLaunchedApp();
        ASSERT_TRUE(app.window) << "no CuratoNet window after Close";
        printf("Close: %s (process %lu) started %s with the command line <%s> in <%s>\n",
               app.parentPid == setupPid ? "the setup itself" : app.parentName.c_str(), app.parentPid,
               app.image.c_str(), app.commandLine.c_str(), app.workingDir.c_str());
        EXPECT_TRUE(SameFile(dest + "\\curatoapp.EXE", app.image)) << app.image;
        EXPECT_EQ("\"" + dest + "\\CuratoApp.exe\"", app.commandLine);
        EXPECT_TRUE(SameFile(dest + "\\", app.workingDir)) << app.workingDir;
        EXPECT_EQ(1u, app.running) << "copies of the application running";
        if (starter == kDesktopShell) {
            EXPECT_EQ(DesktopShellPid(), app.parentPid);
            EXPECT_TRUE(SameFile("explorer.exe", app.parentName)) << app.parentName;
        } else {
            EXPECT_EQ(setupPid, app.parentPid);
        }
    }

    // A run that installs everything into dest: no box, every product file
    // the payload's and nothing else beside them, and Close starts the product.
    static void ExpectCompleteInstall(const std::string& dest)
    {
        SetupRun run;
        ASSERT_TRUE(run.ReachDestination(dest));
        InstallTrace t = run.Install();
        ASSERT_EQ(NULL, t.errorBox) << SetupRun::BoxText(t.errorBox);
        ExpectFinished(run, t);
        for (const char* name : kManifest)
            EXPECT_TRUE(SameAsPayload(dest, name)) << name;
        EXPECT_EQ(54u, FilesIn(dest).size());
        ExpectCloseLaunches(run, dest);
    }

    // The setup stopped: the page shows no completion, the button asks first.
    static void ExpectStoppedThenCancel(SetupRun& run)
    {
        EXPECT_EQ("Cancel", Text(run.WizItem(IDCANCEL)));
        EXPECT_NE(kCompletion, Text(run.PageItem(1009)));
        EXPECT_TRUE(run.CancelConfirmed());
        DWORD code = 1234;
        ASSERT_TRUE(run.Exited(&code));
        EXPECT_EQ(0u, code);
    }

    std::vector<std::string> cleanup_;
};

TEST_F(Install, FreshInstallIntoNestedDirectoryThenAgainOverIt)
{
    std::string top = Path("fresh");
    std::string dest = top + "\\nested\\CuratoNet";
    ASSERT_FALSE(Exists(top));
    int logLines = CountLines(ReadFile(kLogPath));
    {
        SetupRun run;
        ASSERT_TRUE(run.ReachDestination(dest));
        InstallTrace t = run.Install();
        ASSERT_EQ(NULL, t.errorBox) << SetupRun::BoxText(t.errorBox);
        printf("fresh install: %lu ms from Next to Close\n", t.elapsed);

        // What the page showed while it ran.
        ASSERT_FALSE(t.captions.empty());
        EXPECT_EQ(kCaption, t.captions.back());
        std::vector<std::string> expected(kManifest, kManifest + kManifestSize);
        expected.push_back("Shdocvw.dll");   // written once more for the registration
        EXPECT_EQ(expected, t.names);
        // The bar is sampled from the screen, and a loaded machine misses
        // many of the 20 ms of an empty or a full bar: what a sampler sees is
        // only printed. The pacing itself shows in the time: eleven 20 ms
        // steps for each of the 55 file steps and 250 ms before completion.
        int emptySeen = 0, fullSeen = 0;
        for (const std::string& name : t.names) {
            emptySeen += t.minFill[name] == 0.0;
            fullSeen += t.maxFill[name] > 0.95;
        }
        EXPECT_GT(emptySeen, 0) << "the bar was never seen empty";
        EXPECT_GT(fullSeen, 0) << "the bar was never seen full";
        EXPECT_GE(t.elapsed, 55u * 11 * 20 + 250) << "the install took less than its pacing";
        printf("bar seen empty for %d and full for %d of %zu file steps\n", emptySeen, fullSeen,
               t.names.size());
        ExpectFinished(run, t);

        // The directories, the 54 files byte for byte, and nothing else.
        EXPECT_TRUE(IsDir(top + "\\nested"));
        EXPECT_TRUE(IsDir(dest));
        for (const char* name : kManifest)
            EXPECT_TRUE(SameAsPayload(dest, name)) << name;
        EXPECT_EQ(54u, FilesIn(dest).size());
        EXPECT_FALSE(Exists(dest + "\\SETTINGS.INI"));

        Shortcut s = ReadShortcut(LinkPath());
        ASSERT_TRUE(s.loaded) << LinkPath();
        EXPECT_TRUE(SameFile(dest + "\\Curatoapp.EXE", s.path)) << s.path;
        EXPECT_TRUE(SameFile(dest, s.workingDir)) << s.workingDir;
        EXPECT_TRUE(SameFile(dest + "\\Curatoapp.EXE", s.iconPath)) << s.iconPath;
        EXPECT_EQ(0, s.iconIndex);
        EXPECT_EQ("CuratoNet", s.description);
        EXPECT_EQ("", s.arguments);
        // Wine's link object reads every show command other than maximised
        // and minimised back as SW_SHOWNORMAL, so the file's own header field
        // (offset 60) is checked as well.
        std::string raw = ReadFile(LinkPath());
        ASSERT_GE(raw.size(), 64u);
        EXPECT_EQ(SW_SHOW, static_cast<unsigned char>(raw[60]));
        printf("show command read back through the link object: %d\n", s.showCmd);
        EXPECT_EQ(1u, FilesIn(GroupDir()).size());
        ExpectCloseLaunches(run, dest);
    }
    EXPECT_EQ(logLines + 1, CountLines(ReadFile(kLogPath)));

    // Over the existing installation: the user's database stays, every other
    // file is written again, and so is the shortcut.
    const std::string mdb = dest + "\\curato.mdb";
    const std::string changedMdb = ReadFile(mdb) + "the user's own records";
    WriteFile(mdb, changedMdb);
    WriteFile(dest + "\\gde_05.gde", "edited");
    WriteFile(dest + "\\curatoapp.EXE", "");
    DeleteFileA((dest + "\\azure.wsy").c_str());
    WriteFile(LinkPath(), "");
    {
        SetupRun run;
        ASSERT_TRUE(run.ReachDestination(dest));
        InstallTrace t = run.Install();
        ASSERT_EQ(NULL, t.errorBox) << SetupRun::BoxText(t.errorBox);
        ExpectFinished(run, t);
        EXPECT_EQ(changedMdb, ReadFile(mdb));
        for (const char* name : kManifest) {
            if (strcmp(name, "curato.mdb") != 0) {
                EXPECT_TRUE(SameAsPayload(dest, name)) << name;
            }
        }
        Shortcut s = ReadShortcut(LinkPath());
        EXPECT_TRUE(s.loaded);
        EXPECT_TRUE(SameFile(dest + "\\Curatoapp.EXE", s.path)) << s.path;
        ExpectCloseLaunches(run, dest);
    }
    EXPECT_EQ(logLines + 2, CountLines(ReadFile(kLogPath)));
}

// Requests and keys posted while the install runs without a box wait in the
// queue, as clicks do, and act once it has returned: the install is not
// disturbed, and the first of them that ends the setup ends it with code 0.
// Once an Esc key posted to the frame's Cancel button on its own, once every
// request posted to the frame and the backdrop.
TEST_F(Install, RequestsPostedDuringTheInstallActAfterIt)
{
    for (bool keyAlone : {true, false}) {
        SCOPED_TRACE(keyAlone ? "an Esc key" : "every request");
        RemoveTree(GroupDir());
        std::string dest = Path(keyAlone ? "key" : "requests");
        SetupRun run;
        ASSERT_TRUE(run.ReachDestination(dest));
        run.Command(run.Wizard(), 1001);
        ASSERT_TRUE(WaitFor([&] { return run.PageItem(1006) != NULL && Text(run.PageItem(1010)) == "curato.dll"; }));
        HWND backdrop = run.Window("CuratoNet Installation"), wizard = run.Wizard();
        if (keyAlone) {
            PostMessageA(run.WizItem(IDCANCEL), WM_KEYDOWN, VK_ESCAPE, 1);
            PostMessageA(run.WizItem(IDCANCEL), WM_KEYUP, VK_ESCAPE, 0xC0000001);
        } else {
            for (HWND to : {wizard, backdrop})
                for (const Request& r : kRequests)
                    PostMessageA(to, r.msg, r.wParam, RequestParam(to, r));
        }
        DWORD code = 1234;
        ASSERT_TRUE(run.Exited(&code, 120000));
        EXPECT_EQ(0u, code);
        for (const char* name : kManifest)
            EXPECT_TRUE(SameAsPayload(dest, name)) << name;
        EXPECT_EQ(54u, FilesIn(dest).size());
        EXPECT_TRUE(ReadShortcut(LinkPath()).loaded);
        LaunchedApp app = FindLaunchedApp();
        EXPECT_TRUE(app.window) << "what was queued first did not act as Close";
        // The requests queued behind the first are not taken while the
        // desktop's shell starts the application.
        EXPECT_EQ(1u, app.running) << "copies of the application running";
    }
}

double NowMs()
{
    LARGE_INTEGER count, perSecond;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&perSecond);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(perSecond.QuadPart);
}

// While the install runs, the system never takes the setup for hung
// (IsHungAppWindow, the test behind "Not Responding"), and what is sent to its
// windows is answered promptly: sampled from here all through the install, at
// least 50 times, neither the frame nor the backdrop is hung in any sample, and
// a message sent to each is answered within half a second every time. A click
// on Cancel given meanwhile waits in the queue and acts once the install has
// returned, as Close.
TEST_F(Install, AnswersWindowsAllThroughTheInstall)
{
    std::string dest = Path("answers");
    SetupRun run;
    ASSERT_TRUE(run.ReachDestination(dest));
    const HWND windows[] = {run.Wizard(), run.Window(kBackdropCaption)};
    HWND next = run.WizItem(1001), cancel = run.WizItem(IDCANCEL);
    run.Command(windows[0], 1001);
    ASSERT_TRUE(WaitFor([&] { return run.PageItem(1006) != NULL; }));
    ClickAt(cancel);
    // The frame disables Next once the install has returned.
    int samples = 0, hungSamples = 0;
    double slowestMs = 0;
    std::string slowestDuring;
    while (IsWindowEnabled(next)) {
        bool hung = false;
        for (HWND w : windows) {
            hung |= IsHungAppWindow(w) != FALSE;
            const double sent = NowMs();
            DWORD_PTR r;
            if (!SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &r) && !IsWindow(w))
                continue;
            if (NowMs() - sent > slowestMs) {
                slowestMs = NowMs() - sent;
                slowestDuring = Text(run.PageItem(1009)) + " " + Text(run.PageItem(1010));
            }
        }
        ++samples;
        hungSamples += hung;
        Sleep(40);
    }
    printf("answering during the install: %d samples, %d with a window hung, the slowest answer %.0f ms (during "
           "\"%s\")\n", samples, hungSamples, slowestMs, slowestDuring.c_str());
    EXPECT_GE(samples, 50);
    EXPECT_EQ(0, hungSamples);
    EXPECT_LT(slowestMs, 500.0) << "during " << slowestDuring;
    EXPECT_TRUE(FindLaunchedApp().window) << "the click on Cancel did not act as Close after the install";
    DWORD code = 1234;
    ASSERT_TRUE(run.Exited(&code));
    EXPECT_EQ(0u, code);
    EXPECT_EQ(54u, FilesIn(dest).size());
}

// A drive that does not exist, and a file standing where a directory must go.
TEST_F(Install, UnusableDestinationShowsInvalidDirectoryAndDoesNothingElse)
{
    char drive[] = "Q:\\";
    for (char d = 'Q'; d <= 'Y' && GetDriveTypeA(drive) != DRIVE_NO_ROOT_DIR; ++d)
        drive[0] = d + 1;
    ASSERT_EQ(static_cast<UINT>(DRIVE_NO_ROOT_DIR), GetDriveTypeA(drive));
    std::string blocker = Path("blocker");
    WriteFile(blocker, "a file, not a directory");
    const std::string dests[] = {std::string(drive) + "CuratoNet\\sub", blocker + "\\CuratoNet"};
    for (const std::string& dest : dests) {
        SCOPED_TRACE(dest);
        SetupRun run;
        ASSERT_TRUE(run.ReachDestination(dest));
        run.Install();
        HWND box = run.Window("Invalid Directory", "#32770");
        ASSERT_TRUE(box);
        EXPECT_EQ(kInvalidDirectory, SetupRun::BoxText(box));
        ExpectNoRequestTaken(run, box);
        ASSERT_FALSE(HasFailure());
        SetupRun::PressOk(box);
        EXPECT_EQ("Creating Directories...", Text(run.PageItem(1009)));
        EXPECT_FALSE(Exists(dest));
        EXPECT_FALSE(Exists(GroupDir()));
        ExpectStoppedThenCancel(run);
    }
    EXPECT_EQ("a file, not a directory", ReadFile(blocker));
}

// A destination file held open without delete sharing cannot be replaced.
TEST_F(Install, FileThatCannotBeReplacedStopsTheCopyButNotTheRest)
{
    std::string dest = Path("locked");
    ASSERT_TRUE(CreateDirectoryA(dest.c_str(), nullptr));
    const std::string locked = dest + "\\site_5.lyo";
    WriteFile(locked, "in use");
    HANDLE hold = CreateFileA(locked.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, hold);
    SetupRun run;
    ASSERT_TRUE(run.ReachDestination(dest));
    InstallTrace t = run.Install();
    ASSERT_TRUE(t.errorBox);
    std::string text = SetupRun::BoxText(t.errorBox);
    EXPECT_EQ(0u, text.find(kCopyFailure)) << text;
    EXPECT_NE(std::string::npos, text.find("\nERROR [")) << text;
    EXPECT_NE(std::string::npos, text.find("\nDeleteFile rc=")) << text;
    EXPECT_NE(std::string::npos, text.find("Tried to delete <" + locked + ">")) << text;
    EXPECT_EQ(text.size() - strlen(kSupportSuffix), text.rfind(kSupportSuffix)) << text;
    // The backdrop takes no input while the install runs; nor does it take a
    // close posted to it, as a task manager's "End task" does. Were it taken,
    // "Confirm Cancel" would ask, and Yes would delete the page under the
    // running install.
    HWND backdrop = run.Window("CuratoNet Installation");
    EXPECT_FALSE(IsWindowEnabled(backdrop));
    PostMessageA(backdrop, WM_CLOSE, 0, 0);
    HWND confirm = run.Window("Confirm Cancel", "#32770", 3000);
    EXPECT_EQ(NULL, confirm) << "the close was taken during the install";
    if (confirm) {
        PostMessageA(confirm, WM_COMMAND, IDYES, 0);
        DWORD code = 0;
        ASSERT_FALSE(run.Exited(&code, 5000)) << "the setup ended with " << std::hex << code;
    }
    ExpectNoRequestTaken(run, t.errorBox);
    ASSERT_FALSE(HasFailure());
    SetupRun::PressOk(t.errorBox);

    InstallTrace rest = run.Resume();
    EXPECT_EQ(NULL, rest.errorBox);
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(backdrop) != FALSE; }));
    ExpectFinished(run, rest);
    CloseHandle(hold);
    EXPECT_EQ("in use", ReadFile(locked));
    int failed = ManifestIndex("site_5.lyo");
    for (int i = 0; i < kManifestSize; ++i) {
        if (i < failed || strcmp(kManifest[i], "Shdocvw.dll") == 0) {
            EXPECT_TRUE(SameAsPayload(dest, kManifest[i])) << kManifest[i];
        } else if (i > failed) {
            EXPECT_FALSE(Exists(dest + "\\" + kManifest[i])) << kManifest[i];
        }
    }
    EXPECT_TRUE(ReadShortcut(LinkPath()).loaded);
    ExpectCloseLaunches(run, dest);
}

// A drive with room for the files before the database but not for it, as
// the run's own small drive: the box names the full disk, the database is
// absent rather than cut short (where the next run would keep it), and no
// partial file is left. With room made, the next run installs everything.
TEST_F(Install, FullDriveIsNamedAndLeavesNoPartOfAFile)
{
    const std::string drive = Env("SMALL_DRIVE");
    if (drive.empty())
        GTEST_SKIP() << "no small drive: mounting a tmpfs for it was refused (it needs root)";
    const std::string dest = drive + "\\CuratoNet", filler = drive + "\\filler";
    const int database = ManifestIndex("curato.mdb");
    const ULONGLONG databaseSize = PayloadSize("curato.mdb");
    ULONGLONG beforeDatabase = 0, product = 0;
    for (int i = 0; i < kManifestSize; ++i)
        (i < database ? beforeDatabase : product) += OnDrive(PayloadSize(kManifest[i]));
    product += beforeDatabase;
    ASSERT_GT(FreeBytes(drive + "\\"), product + (1 << 20)) << "the small drive cannot hold the product";
    ASSERT_TRUE(FillDriveUntil(filler, beforeDatabase + databaseSize / 2));
    std::vector<std::string> others;
    {
        SetupRun run;
        ASSERT_TRUE(run.ReachDestination(dest));
        InstallTrace t = run.Install();
        ASSERT_TRUE(t.errorBox);
        const std::string text = SetupRun::BoxText(t.errorBox);
        printf("the box for the full drive:\n%s\n", text.c_str());
        EXPECT_EQ(0u, text.find(kCopyFailure)) << text;
        EXPECT_NE(std::string::npos, text.find("\nERROR [DiskFull] The output disk drive is full\nWriteFile rc=112: "))
            << text;
        EXPECT_NE(std::string::npos, text.find("zfile[1121] Write of " + std::to_string(databaseSize) + "\n"))
            << text;
        EXPECT_EQ(text.size() - strlen(kSupportSuffix), text.rfind(kSupportSuffix)) << text;
        SetupRun::PressOk(t.errorBox);
        InstallTrace rest = run.Resume();
        EXPECT_EQ(NULL, rest.errorBox);
        ExpectFinished(run, rest);
        EXPECT_EQ(0, DamagedFiles(dest, &others));
        EXPECT_TRUE(others.empty()) << others[0];
        for (int i = 0; i < database; ++i)
            EXPECT_TRUE(SameAsPayload(dest, kManifest[i])) << kManifest[i];
        EXPECT_FALSE(Exists(dest + "\\curato.mdb"));
        ExpectCloseLaunches(run, dest);
    }
    ASSERT_TRUE(DeleteFileA(filler.c_str()));
    ExpectCompleteInstall(dest);
    RemoveTree(dest);
}

// The setup ended from outside, as a task manager or a power failure ends it,
// at many moments of the copy: every other time while the database is being
// written (seen by its partial file, or its name, appearing), else while the
// page names a file picked at random. After each end, every product file is
// whole or absent. The next run that is not ended installs everything and
// leaves no partial file.
TEST_F(Install, RunEndedDuringTheCopyLeavesEveryFileWholeOrAbsent)
{
    const std::string dest = Path("ended"), database = dest + "\\curato.mdb";
    const int kMoments = 20;
    std::mt19937 rng(20);
    int aimedAtDatabase = 0, databaseHit = 0, leftPartial = 0, damaged = 0;
    for (int moment = 1; moment <= kMoments; ++moment) {
        const bool atDatabase = moment % 2 == 1;
        const char* target = atDatabase ? "curato.mdb" : kManifest[rng() % kManifestSize];
        const DWORD delay = atDatabase ? rng() % 40 : rng() % 250;
        if (atDatabase)
            DeleteFileA(database.c_str());   // a database already there is kept, never written
        SetupRun run;
        ASSERT_TRUE(run.ReachDestination(dest));
        run.Command(run.Wizard(), 1001);
        DWORD start = GetTickCount();
        bool reached = false;
        while (!reached && GetTickCount() - start < kPatience) {
            reached = atDatabase ? Exists(database + ".partial") || Exists(database)
                                 : Text(run.PageItem(1010)) == target;
            Sleep(1);
        }
        ASSERT_TRUE(reached) << "moment " << moment << ": " << target << " never came";
        Sleep(delay);
        EndProcess(run.Pid());
        std::vector<std::string> others;
        damaged += DamagedFiles(dest, &others);
        EXPECT_TRUE(AllPartial(others)) << "moment " << moment << ": " << others[0];
        leftPartial += !others.empty();
        aimedAtDatabase += atDatabase;
        databaseHit += atDatabase && !Exists(database);
        printf("moment %2d: %-22s + %3lu ms: %s%s%s\n", moment, atDatabase ? "curato.mdb's write" : target,
               delay, Exists(database) ? "curato.mdb whole" : "no curato.mdb", others.empty() ? "" : ", left ",
               others.empty() ? "" : others[0].c_str());
    }
    printf("runs ended: %d moments tried, %d aimed at the database's write, %d of them hit it (no "
           "curato.mdb right after), %d left a partial file, %d damaged files\n",
           kMoments, aimedAtDatabase, databaseHit, leftPartial, damaged);
    EXPECT_EQ(0, damaged);
    EXPECT_GT(databaseHit, 0);
    ExpectCompleteInstall(dest);
}

// Copies a program under a name of its own into folder, so that settings
// Wine keeps per program name reach that copy only.
std::string CopyAs(const std::string& from, const std::string& folder, const char* name)
{
    std::string to = folder + "\\" + name;
    CreateDirectoryA(folder.c_str(), nullptr);
    EXPECT_TRUE(CopyFileA(from.c_str(), to.c_str(), FALSE)) << to;
    return to;
}

// The browser control cannot be loaded at all: no box, the rest follows.
// Wine takes WINEDLLOVERRIDES from the Unix environment a program starts
// with, not from the environment a Windows parent hands on, so the override
// that disables the library is given to the setup's program name in the
// registry. The payload's stand-in records its registration: none is made.
TEST_F(Install, BrowserControlThatCannotBeLoadedIsPassedOverSilently)
{
    std::string folder = Path("noshdocvw-bin");
    std::string setup = CopyAs(Env("SETUP_EXE"), folder, "setupnoshd.exe");
    const std::string appKey = std::string(kAppDefaults) + "setupnoshd.exe";
    SetRegString(HKEY_CURRENT_USER, appKey + "\\DllOverrides", "shdocvw", "");
    RegDeleteKeyA(HKEY_CURRENT_USER, kBrowserControlServerKey);

    std::string dest = Path("noshdocvw");
    {
        SetupRun run(setup);
        ASSERT_TRUE(run.ReachDestination(dest));
        InstallTrace t = run.Install();
        ASSERT_EQ(NULL, t.errorBox) << SetupRun::BoxText(t.errorBox);
        ExpectFinished(run, t);
        EXPECT_TRUE(SameAsPayload(dest, "Shdocvw.dll"));
        EXPECT_TRUE(ReadShortcut(LinkPath()).loaded);
        ExpectCloseLaunches(run, dest);
    }
    bool registered = true;
    RegString(HKEY_CURRENT_USER, kBrowserControlServerKey, nullptr, &registered);
    EXPECT_FALSE(registered) << "the browser control was loaded and registered";
    RegDeleteKeyA(HKEY_CURRENT_USER, (appKey + "\\DllOverrides").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
}

// Where the setup cannot ask the desktop's shell to start the application, it
// starts it itself, as before: here a copy of the setup that cannot load the
// library through which it talks to interfaces of the shell's process (Wine's
// proxies of them), so that the first step of the shell's way fails.
TEST_F(Install, CloseStartsTheApplicationItselfWhereTheShellCannotBeAsked)
{
    std::string setup = CopyAs(Env("SETUP_EXE"), Path("noshell-bin"), "setupnoshell.exe");
    const std::string appKey = std::string(kAppDefaults) + "setupnoshell.exe";
    SetRegString(HKEY_CURRENT_USER, appKey + "\\DllOverrides", "actxprxy", "");
    std::string dest = Path("noshell");
    {
        SetupRun run(setup);
        ASSERT_TRUE(run.ReachDestination(dest));
        InstallTrace t = run.Install();
        ASSERT_EQ(NULL, t.errorBox) << SetupRun::BoxText(t.errorBox);
        ExpectFinished(run, t);
        ExpectCloseLaunches(run, dest, kSetupItself);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, (appKey + "\\DllOverrides").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
}

// The file offset of a resource's bytes in a program file.
size_t ResourceOffset(const std::string& exe, const char* type, const char* name)
{
    HMODULE file = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    HRSRC found = file ? FindResourceA(file, name, type) : nullptr;
    const BYTE* bytes = found ? static_cast<const BYTE*>(LockResource(LoadResource(file, found))) : nullptr;
    // A library loaded as a data file is the file as it is, at its handle's
    // address less the marker bits.
    const BYTE* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(file) & ~static_cast<ULONG_PTR>(3));
    size_t offset = bytes ? static_cast<size_t>(bytes - base) + SizeofResource(file, found) / 2 : 0;
    if (file)
        FreeLibrary(file);
    return offset;
}

// The middle of the program's code in its file.
size_t CodeOffset(const std::string& image)
{
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image.data() + dos->e_lfanew);
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
        if (strncmp(reinterpret_cast<const char*>(section->Name), ".text", 8) == 0)
            return section->PointerToRawData + section->SizeOfRawData / 2;
    return 0;
}

// A setup.exe that is not whole is refused before any page shows: the box
// says so, and OK ends the setup with code 1, having written nothing but the
// session log's line. Returns false when the program did not start or ended
// without a window: that is how the system itself refuses some files cut
// short.
bool RefusedBeforeAnyPage(const std::string& exe)
{
    int logLines = CountLines(ReadFile(kLogPath));
    SetupRun run(exe);
    DWORD code = 0;
    HWND box = NULL;
    if (run.Started() &&
        !WaitFor([&] { return (box = FindTopLevel(run.Pid(), kDamagedCaption, "#32770")) != NULL || run.Exited(&code, 0); }))
        ADD_FAILURE() << "neither the box nor the end of the program came";
    if (!box)
        return false;
    EXPECT_EQ(kDamaged, SetupRun::BoxText(box));
    EXPECT_EQ(NULL, FindTopLevel(run.Pid(), kBackdropCaption, nullptr));
    EXPECT_EQ(NULL, run.Wizard());
    SetupRun::PressOk(box);
    EXPECT_TRUE(run.Exited(&code));
    EXPECT_EQ(1u, code);
    EXPECT_EQ(logLines + 1, CountLines(ReadFile(kLogPath)));
    return true;
}

// Copies of setup.exe damaged as a download can be: one byte changed in its
// code, in a dialog, in the licence and in the database entry, the last byte
// cut off, the file cut to half its length, and a signed copy that lost the
// end of its signature. The unchanged file, and a signed one, start as before.
TEST_F(Install, DamagedSetupIsRefusedBeforeAnyPage)
{
    const std::string folder = Path("damaged-copies");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string good = ReadFile(Env("SETUP_EXE")), signedCopy = ReadFile(Env("SETUP_SIGNED_EXE"));
    ASSERT_GT(signedCopy.size(), good.size());
    struct Damage {
        const char* name;
        std::string image;
        size_t changedAt;   // 0: none
    };
    std::vector<Damage> copies = {
        {"code", good, CodeOffset(good)},
        {"dialog", good, ResourceOffset(Env("SETUP_EXE"), MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(136))},
        {"licence", good, ResourceOffset(Env("SETUP_EXE"), "TEXTFILE", "LICENSE.TXT")},
        {"database", good, ResourceOffset(Env("SETUP_EXE"), "BINFILE", "CURATO.MDB")},
        {"last-byte-cut", good.substr(0, good.size() - 1), 0},
        {"cut-to-half", good.substr(0, good.size() / 2), 0},
        {"signature-cut", signedCopy.substr(0, signedCopy.size() - 100), 0},
    };
    for (Damage& d : copies) {
        SCOPED_TRACE(d.name);
        if (d.image.size() == good.size()) {
            ASSERT_GT(d.changedAt, 0u);
            d.image[d.changedAt] = static_cast<char>(~d.image[d.changedAt]);
        }
        const std::string exe = folder + "\\" + d.name + ".exe";
        WriteFile(exe, d.image);
        if (!RefusedBeforeAnyPage(exe)) {
            EXPECT_EQ(std::string("cut-to-half"), d.name) << "the system refused to start it";
            printf("%s: the system did not start it\n", d.name);
        }
    }
    EXPECT_FALSE(Exists("c:\\Program Files\\CuratoNet"));
    EXPECT_FALSE(Exists(GroupDir()));

    for (const std::string& whole : {Env("SETUP_EXE"), Env("SETUP_SIGNED_EXE")}) {
        SCOPED_TRACE(whole);
        SetupRun run(whole);
        EXPECT_TRUE(run.Window(kWizardCaption) && run.WaitPage("Welcome"));
        EXPECT_TRUE(run.CancelConfirmed());
        DWORD code = 1234;
        EXPECT_TRUE(run.Exited(&code));
        EXPECT_EQ(0u, code);
    }
}

// The system's multimedia timer library, which paces the install, without
// one of the functions the setup takes from it: the one it first calls when
// the install ends. Put in the system directory for one copy of the setup, it
// stops the install before the directory is made, with the set-up failure box
// naming the function, rather than a crash at the end. The setup then ends as
// after any stopped install.
TEST_F(Install, SystemLibraryLackingAFunctionStopsTheInstallThatNeedsIt)
{
    char system[MAX_PATH];
    ASSERT_NE(0u, GetSystemDirectoryA(system, MAX_PATH));
    const std::string lib = std::string(system) + "\\winmm.dll", kept = lib + ".kept";
    ASSERT_TRUE(MoveFileA(lib.c_str(), kept.c_str()));
    struct Restore {
        const std::string& lib;
        const std::string& kept;
        ~Restore()
        {
            DeleteFileA(lib.c_str());
            MoveFileA(kept.c_str(), lib.c_str());
        }
    } restore{lib, kept};
    ASSERT_TRUE(CopyFileA(Env("STANDIN_WINMM").c_str(), lib.c_str(), FALSE));
    std::string setup = CopyAs(Env("SETUP_EXE"), Path("standin-bin"), "setupwinmm.exe");
    const std::string appKey = std::string(kAppDefaults) + "setupwinmm.exe";
    SetRegString(HKEY_CURRENT_USER, appKey + "\\DllOverrides", "winmm", "native");

    std::string dest = Path("standin");
    {
        SetupRun run(setup);
        ASSERT_TRUE(run.ReachDestination(dest));
        InstallTrace t = run.Install();
        ASSERT_TRUE(t.errorBox);
        std::string text = SetupRun::BoxText(t.errorBox);
        EXPECT_EQ(0u, text.find(kSetupFailure)) << text;
        EXPECT_NE(std::string::npos, text.find("\nERROR [CantFindFunction]")) << text;
        EXPECT_NE(std::string::npos, text.find("Could not find function <timeEndPeriod> in <WINMM.dll>")) << text;
        EXPECT_EQ(text.size() - strlen(kSupportSuffix), text.rfind(kSupportSuffix)) << text;
        SetupRun::PressOk(t.errorBox);
        EXPECT_FALSE(Exists(dest));
        ExpectStoppedThenCancel(run);
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, (appKey + "\\DllOverrides").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
}

// Reported as Windows 98, with an empty per-user programs folder: the group
// cannot be made.
TEST_F(Install, ProgramsFolderThatCannotBeDeterminedStopsBeforeCompletion)
{
    std::string folder = Path("win98");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string setup = folder + "\\setup98.exe";
    ASSERT_TRUE(CopyFileA(Env("SETUP_EXE").c_str(), setup.c_str(), FALSE));
    const std::string appKey = std::string(kAppDefaults) + "setup98.exe";
    SetRegString(HKEY_CURRENT_USER, appKey, "Version", "win98");
    bool hadPrograms = false;
    std::string programs = RegString(HKEY_CURRENT_USER, kShellFolders, "Programs", &hadPrograms);
    SetRegString(HKEY_CURRENT_USER, kShellFolders, "Programs", "");

    std::string dest = Path("noprograms");
    {
        SetupRun run(setup);
        EXPECT_TRUE(run.ReachDestination(dest));
        InstallTrace t = run.Install();
        EXPECT_TRUE(t.errorBox);
        if (t.errorBox) {
            std::string text = SetupRun::BoxText(t.errorBox);
            EXPECT_EQ(0u, text.find(kIconsFailure)) << text;
            EXPECT_NE(std::string::npos, text.find("\nERROR [Unexpected]")) << text;
            EXPECT_NE(std::string::npos, text.find("ZASSERT( ! progDir.IsEmpty() );")) << text;
            EXPECT_EQ(text.size() - strlen(kSupportSuffix), text.rfind(kSupportSuffix)) << text;
            ExpectNoRequestTaken(run, t.errorBox);
            ASSERT_FALSE(HasFailure());
            SetupRun::PressOk(t.errorBox);
        }
        EXPECT_TRUE(SameAsPayload(dest, "bmEmptyPicture.bmp"));
        EXPECT_EQ("Creating Program Groups and Icons", Text(run.PageItem(1009)));
        EXPECT_EQ("", Text(run.PageItem(1010)));
        ExpectStoppedThenCancel(run);
    }
    if (hadPrograms)
        SetRegString(HKEY_CURRENT_USER, kShellFolders, "Programs", programs);
    RegDeleteKeyA(HKEY_CURRENT_USER, appKey.c_str());
}

// A setup.exe whose gde_03.gde entry is cut short.
TEST_F(Install, DamagedPayloadEntryIsReportedAndNotWritten)
{
    std::string dest = Path("damaged");
    SetupRun run(Env("SETUP_DAMAGED_EXE"));
    ASSERT_TRUE(run.ReachDestination(dest));
    InstallTrace t = run.Install();
    ASSERT_TRUE(t.errorBox);
    std::string text = SetupRun::BoxText(t.errorBox);
    EXPECT_EQ(0u, text.find(kCopyFailure)) << text;
    EXPECT_NE(std::string::npos, text.find("\nERROR [Unexpected]")) << text;
    EXPECT_NE(std::string::npos, text.find("\nAssertion Failed rc=-1: ")) << text;
    EXPECT_NE(std::string::npos, text.find("zbuffer[250] ZASSERT( exp == origExpandedSize );")) << text;
    EXPECT_EQ(text.size() - strlen(kSupportSuffix), text.rfind(kSupportSuffix)) << text;
    SetupRun::PressOk(t.errorBox);
    InstallTrace rest = run.Resume();
    ExpectFinished(run, rest);
    EXPECT_TRUE(SameAsPayload(dest, "gde_02.gde"));
    EXPECT_FALSE(Exists(dest + "\\gde_03.gde"));
    EXPECT_FALSE(Exists(dest + "\\gde_04.gde"));
    ExpectCloseLaunches(run, dest);
}

} // namespace

int main(int argc, char** argv)
{
    DriverOutputToLog();
    testing::InitGoogleTest(&argc, argv);
    return DriverExit(RUN_ALL_TESTS());
}
