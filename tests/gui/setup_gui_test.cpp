// Drives the real setup.exe through its windows, from a second program under
// the same Wine desktop: windows are found by caption, controls by id, state is
// read with messages and styles, and the setup is acted on with posted
// commands and real keystrokes. Every wait polls against a deadline; nothing is
// ever sent to the setup without a time-out.
#include <gtest/gtest.h>

#include <windows.h>
#include <tlhelp32.h>
#include <commctrl.h>
#include <imagehlp.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver_util.h"
#include "setup_process.h"

namespace {

using setupwatch::kBackdropCaption;
using setupwatch::kLogPath;
using setupwatch::kWizardCaption;

const char kDefaultDest[] = "c:\\Program Files\\CuratoNet";

std::string Text(HWND h)
{
    char buf[4096] = "";
    DWORD_PTR n = 0;
    if (!SendPatiently(h, WM_GETTEXT, sizeof buf, reinterpret_cast<LPARAM>(buf), &n))
        return "<no answer>";
    return std::string(buf, n);
}

LRESULT Send(HWND h, UINT msg, WPARAM wp = 0, LPARAM lp = 0)
{
    DWORD_PTR r = 0;
    SendPatiently(h, msg, wp, lp, &r);
    return static_cast<LRESULT>(r);
}

bool LooksDefault(HWND button)
{
    return (GetWindowLongA(button, GWL_STYLE) & 0x0F) == BS_DEFPUSHBUTTON;
}

std::string ReadFile(const char* path)
{
    std::string data;
    FILE* f = fopen(path, "rb");
    if (!f)
        return data;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, n);
    fclose(f);
    return data;
}

// One run of setup.exe with its windows.
class SetupRun {
public:
    explicit SetupRun(const std::string& args = "", const std::string& exe = Env("SETUP_EXE"))
    {
        std::string cmd = "\"" + exe + "\"" + (args.empty() ? "" : " " + args);
        STARTUPINFOA si = {};
        si.cb = sizeof si;
        std::vector<char> line(cmd.begin(), cmd.end());
        line.push_back('\0');
        started_ = CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi_) != FALSE;
    }
    ~SetupRun()
    {
        if (!started_)
            return;
        if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(pi_.hProcess, 99);
        CloseHandle(pi_.hThread);
        CloseHandle(pi_.hProcess);
    }

    bool Started() const { return started_; }
    DWORD Pid() const { return pi_.dwProcessId; }

    HWND Window(const char* caption, DWORD ms = kPatience)
    {
        HWND found = NULL;
        WaitFor([&] { return (found = setupwatch::FindTopLevel(pi_.dwProcessId, caption, nullptr)) != NULL; }, ms);
        return found;
    }
    HWND Backdrop() { return Window(kBackdropCaption); }
    HWND Wizard() { return Window(kWizardCaption); }

    // The page inside the wizard frame: its one child dialog.
    HWND Page() { return setupwatch::WizardPage(Wizard()); }
    HWND PageItem(int id) { return GetDlgItem(Page(), id); }
    HWND WizItem(int id) { return GetDlgItem(Wizard(), id); }

    // The page is identified by its group box caption.
    std::string PageTitle()
    {
        HWND page = Page();
        HWND box = page ? GetWindow(page, GW_CHILD) : NULL;
        return box ? Text(box) : "";
    }
    bool WaitPage(const char* title)
    {
        return WaitFor([&] { return PageTitle() == title; });
    }

    void Command(HWND to, int id) { PostMessageA(to, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(to, id))); }
    void Next() { Command(Wizard(), 1001); }
    void Back() { Command(Wizard(), 1000); }
    void Cancel() { Command(Wizard(), IDCANCEL); }

    HWND Focus()
    {
        GUITHREADINFO gi = {};
        gi.cbSize = sizeof gi;
        GetGUIThreadInfo(pi_.dwThreadId, &gi);
        return gi.hwndFocus;
    }
    HWND Active()
    {
        GUITHREADINFO gi = {};
        gi.cbSize = sizeof gi;
        GetGUIThreadInfo(pi_.dwThreadId, &gi);
        return gi.hwndActive;
    }
    bool WaitFocus(HWND h)
    {
        return WaitFor([&] { return Focus() == h; });
    }

    // Real keystrokes, so that the setup's own Shift state is right. They go
    // to the foreground window, so they wait until the frame is that window.
    void Key(WORD vk, bool shift = false)
    {
        HWND wizard = Wizard();
        SetForegroundWindow(wizard);
        EXPECT_TRUE(WaitFor([&] { return GetForegroundWindow() == wizard; }));
        setupwatch::PressKey(vk, shift);
        Sleep(300);
    }

    // A window of the setup other than the frame and the backdrop that has
    // come to the foreground: a modal box the setup opened.
    HWND ForeignWindow()
    {
        HWND found = NULL;
        WaitFor([&] {
            HWND fg = GetForegroundWindow();
            DWORD pid = 0;
            GetWindowThreadProcessId(fg, &pid);
            if (pid == pi_.dwProcessId && fg != Wizard() && fg != Backdrop())
                found = fg;
            return found != NULL;
        });
        return found;
    }

    // The installing page does its work inside its creation: the frame
    // disables Next once that is over.
    bool Installed() { return !IsWindowEnabled(WizItem(1001)) && PageTitle().rfind("Installing", 0) == 0; }
    bool WaitInstalled()
    {
        return WaitFor([&] { return Installed(); }, 600000);
    }

    // Cancel and answer the confirmation; true when "Confirm Cancel" appeared
    // with its question.
    bool ConfirmCancel(int answer)
    {
        Cancel();
        HWND box = Window("Confirm Cancel");
        if (!box)
            return false;
        bool question = HasChildText(box, "Are you sure you want to cancel the installation of the software?");
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
        WaitFor([&] { return !IsWindow(box); });
        return question;
    }

    bool Exited(DWORD* code, DWORD ms = kPatience)
    {
        if (WaitForSingleObject(pi_.hProcess, ms) != WAIT_OBJECT_0)
            return false;
        GetExitCodeProcess(pi_.hProcess, code);
        return true;
    }

    static bool HasChildText(HWND parent, const char* text)
    {
        for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
            if (Text(c) == text)
                return true;
        return false;
    }

    // Ends the run the way the user would: Cancel, Yes.
    void Quit()
    {
        EXPECT_TRUE(ConfirmCancel(IDYES));
        DWORD code = 1234;
        EXPECT_TRUE(Exited(&code));
        EXPECT_EQ(0u, code);
    }

private:
    bool started_ = false;
    PROCESS_INFORMATION pi_ = {};
};

// A picture of part of the screen: 24-bit pixels, rows bottom-up, as a BMP
// file keeps them.
struct Picture {
    RECT area;
    std::vector<unsigned char> bits;
    bool operator==(const Picture& other) const { return bits == other.bits; }
};

RECT WholeScreen()
{
    RECT r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    return r;
}

Picture Capture(const RECT& area)
{
    Picture p;
    p.area = area;
    const int w = area.right - area.left, h = area.bottom - area.top;
    BITMAPINFOHEADER bh = {};
    bh.biSize = sizeof bh;
    bh.biWidth = w;
    bh.biHeight = h;
    bh.biPlanes = 1;
    bh.biBitCount = 24;
    HDC screen = GetDC(NULL);
    void* bits = NULL;
    HBITMAP bmp = CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&bh), DIB_RGB_COLORS, &bits, NULL, 0);
    HDC mem = CreateCompatibleDC(screen);
    HGDIOBJ old = SelectObject(mem, bmp);
    BitBlt(mem, 0, 0, w, h, screen, area.left, area.top, SRCCOPY);
    SelectObject(mem, old);
    GdiFlush();
    const unsigned char* first = static_cast<const unsigned char*>(bits);
    p.bits.assign(first, first + ((w * 3 + 3) & ~3) * h);
    DeleteDC(mem);
    DeleteObject(bmp);
    ReleaseDC(NULL, screen);
    return p;
}

// Writes the picture as NAME.bmp in DRIVER_OUT; the wrapper makes PNGs of them.
void Save(const Picture& p, const char* name)
{
    BITMAPINFOHEADER bh = {};
    bh.biSize = sizeof bh;
    bh.biWidth = p.area.right - p.area.left;
    bh.biHeight = p.area.bottom - p.area.top;
    bh.biPlanes = 1;
    bh.biBitCount = 24;
    BITMAPFILEHEADER fh = {};
    fh.bfType = 0x4D42;
    fh.bfOffBits = sizeof fh + sizeof bh;
    fh.bfSize = fh.bfOffBits + static_cast<DWORD>(p.bits.size());
    FILE* f = fopen((Env("DRIVER_OUT") + "\\" + name + ".bmp").c_str(), "wb");
    if (f) {
        fwrite(&fh, sizeof fh, 1, f);
        fwrite(&bh, sizeof bh, 1, f);
        fwrite(p.bits.data(), p.bits.size(), 1, f);
        fclose(f);
    }
}

// Saves the whole desktop, once the last repaint has had time to land.
void Screenshot(const char* name)
{
    if (Env("DRIVER_OUT").empty())
        return;
    Sleep(400);
    Save(Capture(WholeScreen()), name);
}

// An area of the screen once it has settled: two captures a quarter of a
// second apart are the same. So no picture shows a repaint half done, and the
// same pages give the same pictures run after run.
Picture Settled(const RECT& area)
{
    Picture last = Capture(area);
    for (int i = 0; i < 40; ++i) {
        Sleep(250);
        Picture now = Capture(area);
        if (now == last)
            break;
        last = now;
    }
    return last;
}

void SettledShot(const char* name, const RECT& area)
{
    if (Env("DRIVER_OUT").empty())
        return;
    Save(Settled(area), name);
}

RECT AreaOf(HWND h)
{
    RECT r = {};
    GetWindowRect(h, &r);
    return r;
}

// The smallest area holding both windows.
RECT AreaOf(HWND a, HWND b)
{
    RECT ra = AreaOf(a), rb = AreaOf(b), both;
    UnionRect(&both, &ra, &rb);
    return both;
}

// The walk's caret shows steadily instead of blinking (a setting of the
// walk's own Wine prefix, read by every program started after it), so that a
// page with a caret looks the same in every picture.
void SteadyCaret()
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, "Control Panel\\Desktop", &key));
    RegSetValueExA(key, "CursorBlinkRate", 0, REG_SZ, reinterpret_cast<const BYTE*>("-1"), 3);
    RegCloseKey(key);
}

COLORREF ClientPixel(HWND h, int x, int y)
{
    POINT p = {x, y};
    ClientToScreen(h, &p);
    HDC screen = GetDC(NULL);
    COLORREF c = GetPixel(screen, p.x, p.y);
    ReleaseDC(NULL, screen);
    return c;
}

// A window as a failure message names it: class and text.
std::string WindowLabel(HWND h)
{
    return h ? setupwatch::ClassOf(h) + " \"" + setupwatch::Text(h) + "\"" : std::string("nothing");
}

// The wizard frame floats above the backdrop, where the user can reach it.
bool WizardOnTop(SetupRun& run)
{
    RECT wr;
    GetWindowRect(run.Wizard(), &wr);
    POINT centre = {(wr.left + wr.right) / 2, (wr.top + wr.bottom) / 2};
    return WaitFor([&] { return GetAncestor(WindowFromPoint(centre), GA_ROOT) == run.Wizard(); });
}

// Ends the processes of that program name; true when there was one.
bool EndProcessNamed(const char* name)
{
    bool found = false;
    HANDLE snap = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32 pe = {};
    pe.dwSize = sizeof pe;
    for (BOOL ok = Process32First(snap, &pe); ok; ok = Process32Next(snap, &pe)) {
        if (lstrcmpiA(pe.szExeFile, name) != 0)
            continue;
        found = true;
        HANDLE p = OpenProcess(PROCESS_TERMINATE, FALSE, pe.th32ProcessID);
        if (p) {
            TerminateProcess(p, 0);
            CloseHandle(p);
        }
    }
    CloseHandle(snap);
    return found;
}

// Selects the first top-level entry of the folder browser's tree for which
// the browser enables OK, that is, a file-system folder.
bool SelectFileSystemFolder(HWND browser)
{
    HWND tree = FindWindowExA(browser, NULL, "SysTreeView32", NULL);
    HWND ok = GetDlgItem(browser, IDOK);
    if (!tree || !ok)
        return false;
    LRESULT root = Send(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
    for (LRESULT item = Send(tree, TVM_GETNEXTITEM, TVGN_CHILD, root); item;
         item = Send(tree, TVM_GETNEXTITEM, TVGN_NEXT, item)) {
        Send(tree, TVM_SELECTITEM, TVGN_CARET, item);
        if (WaitFor([&] { return IsWindowEnabled(ok) != FALSE; }, 1000))
            return true;
    }
    return false;
}

// Walks 10 -> 20 (box checked) -> 30.
void GoToDestinationPage(SetupRun& run)
{
    ASSERT_TRUE(run.WaitPage("Welcome"));
    run.Next();
    ASSERT_TRUE(run.WaitPage("License Agreement"));
    Send(run.PageItem(1016), BM_CLICK);
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(run.WizItem(1001)) != FALSE; }));
    run.Next();
    ASSERT_TRUE(run.WaitPage("Destination Directory"));
}

} // namespace

TEST(SetupGui, BackdropPlacementPaintingAndSessionLog)
{
    int linesBefore = CountLines(ReadFile(kLogPath));
    SetupRun run;
    ASSERT_TRUE(run.Started()) << Env("SETUP_EXE");
    HWND backdrop = run.Backdrop();
    ASSERT_TRUE(backdrop);
    // The separator is on disk by the time the backdrop shows.
    std::string log = ReadFile(kLogPath);
    EXPECT_EQ(linesBefore + 1, CountLines(log));

    RECT r;
    GetWindowRect(backdrop, &r);
    EXPECT_EQ(102, r.left);
    EXPECT_EQ(102, r.top);
    EXPECT_EQ(820, r.right - r.left);
    EXPECT_EQ(564, r.bottom - r.top);

    RECT c;
    GetClientRect(backdrop, &c);
    const COLORREF top = RGB(255, 0, 155), bottom = RGB(2, 0, 1);
    EXPECT_TRUE(WaitFor([&] { return ClientPixel(backdrop, c.right - 3, 1) == top; }))
        << std::hex << ClientPixel(backdrop, c.right - 3, 1);
    EXPECT_TRUE(WaitFor([&] { return ClientPixel(backdrop, 3, c.bottom - 1) == bottom; }))
        << std::hex << ClientPixel(backdrop, 3, c.bottom - 1);
    Screenshot("01-welcome");

    // The new line: pid tag, three blanks, date, time, root channel, level 0, 45 hyphens, CR LF.
    size_t start = log.rfind('\n', log.size() - 2);
    std::string line = log.substr(start == std::string::npos ? 0 : start + 1);
    char pid[8];
    snprintf(pid, sizeof pid, "%03u", static_cast<unsigned>(run.Pid() % 1000));
    ASSERT_EQ(81u, line.size()) << line;
    EXPECT_EQ(std::string(pid) + "   |", line.substr(0, 7));
    EXPECT_EQ('|', line[11]);
    EXPECT_EQ('.', line[18]);
    EXPECT_EQ("|        |0|" + std::string(45, '-') + "\r\n", line.substr(22));
    run.Quit();
}

TEST(SetupGui, WelcomePageButtonsEscapeAndAboutBox)
{
    SetupRun run;
    ASSERT_TRUE(run.WaitPage("Welcome"));
    HWND back = run.WizItem(1000), next = run.WizItem(1001), cancel = run.WizItem(IDCANCEL);
    EXPECT_EQ("<< &Back", Text(back));
    EXPECT_EQ("&Next >>", Text(next));
    EXPECT_EQ("Cancel", Text(cancel));
    EXPECT_FALSE(IsWindowEnabled(back));
    EXPECT_TRUE(IsWindowEnabled(next));
    EXPECT_TRUE(LooksDefault(next));
    EXPECT_FALSE(LooksDefault(cancel));

    // The welcome page has no tab stop: Tab stays on the frame's buttons and
    // the keyboard focus is never lost.
    ASSERT_TRUE(run.WaitFocus(next));
    run.Key(VK_TAB);
    EXPECT_TRUE(run.WaitFocus(cancel));
    run.Key(VK_TAB);
    EXPECT_TRUE(run.WaitFocus(next));

    // Esc on the frame asks; No keeps the page.
    run.Key(VK_ESCAPE);
    HWND box = run.Window("Confirm Cancel");
    ASSERT_TRUE(box);
    Screenshot("02-confirm-cancel");
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));
    EXPECT_EQ("Welcome", run.PageTitle());
    EXPECT_TRUE(WizardOnTop(run));

    PostMessageA(run.Backdrop(), WM_SYSCOMMAND, 0x10, 0);
    HWND about = run.Window("CuratoNet");
    ASSERT_TRUE(about);
    EXPECT_EQ("CuratoNet", Text(GetDlgItem(about, 1001)));
    HWND version = GetDlgItem(about, 1045);
    EXPECT_EQ("", Text(version));
    EXPECT_TRUE(GetWindowLongA(version, GWL_STYLE) & SS_SUNKEN);
    EXPECT_TRUE(SetupRun::HasChildText(
        about, "IMPORTANT:  If you are running Curato or CuratoPro, please close it before installing."));
    EXPECT_EQ("OK", Text(GetDlgItem(about, IDOK)));
    Screenshot("03-about");
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));
    EXPECT_TRUE(WizardOnTop(run));
    Screenshot("03-after-about");

    // A size change of the backdrop (minimise, restore) centres the frame
    // over it again and gives it the focus.
    HWND backdrop = run.Backdrop(), wizard = run.Wizard();
    SetWindowPos(wizard, NULL, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindowAsync(backdrop, SW_MINIMIZE);
    EXPECT_TRUE(WaitFor([&] { return IsIconic(backdrop) != FALSE; }));
    ShowWindowAsync(backdrop, SW_RESTORE);
    auto centred = [&] {
        RECT b, w;
        GetWindowRect(backdrop, &b);
        GetWindowRect(wizard, &w);
        return abs((b.left + b.right) - (w.left + w.right)) <= 2 && abs((b.top + b.bottom) - (w.top + w.bottom)) <= 2;
    };
    EXPECT_TRUE(WaitFor(centred));
    EXPECT_TRUE(WaitFor([&] { return run.Focus() && IsChild(wizard, run.Focus()); }))
        << "focus on " << WindowLabel(run.Focus()) << ", active " << WindowLabel(run.Active())
        << ", wizard " << (IsWindowVisible(wizard) ? "shown" : "hidden");
    run.Quit();
}

// The help program's windows: a process of its own, started by the platform.
std::vector<HWND> HelpWindows()
{
    std::vector<HWND> found;
    for (DWORD pid : setupwatch::ProcessesNamed("winhlp32.exe"))
        for (HWND h : setupwatch::TopLevels(pid))
            found.push_back(h);
    return found;
}

// The standard Help command goes to the platform's help program, which finds
// no help file of the setup's own and says so. Answered, it leaves the setup
// as it was; the setup's end closes the help it opened.
TEST(SetupGui, HelpCommandGoesToThePlatformsHelp)
{
    SetupRun run;
    ASSERT_TRUE(run.WaitPage("Welcome"));
    ASSERT_TRUE(HelpWindows().empty());
    PostMessageA(run.Backdrop(), WM_COMMAND, 57670, 0);
    std::vector<HWND> help;
    ASSERT_TRUE(WaitFor([&] { return !(help = HelpWindows()).empty(); }));
    Screenshot("09-help");
    bool named = false;
    for (HWND c = GetWindow(help.front(), GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        named |= setupwatch::Text(c).find("setup.HLP") != std::string::npos;
    EXPECT_TRUE(named) << "the help program does not name the setup's help file";
    PostMessageA(help.front(), WM_COMMAND, IDNO, 0);
    EXPECT_EQ("Welcome", run.PageTitle());
    run.Quit();
    EXPECT_TRUE(WaitFor([] { return setupwatch::ProcessesNamed("winhlp32.exe").empty(); }, 10000));
    for (DWORD pid : setupwatch::ProcessesNamed("winhlp32.exe"))
        setupwatch::EndProcess(pid);
}

TEST(SetupGui, LicencePageGatingEnterAndTabRing)
{
    SetupRun run;
    ASSERT_TRUE(run.WaitPage("Welcome"));
    run.Next();
    ASSERT_TRUE(run.WaitPage("License Agreement"));
    HWND back = run.WizItem(1000), next = run.WizItem(1001), cancel = run.WizItem(IDCANCEL);
    HWND edit = run.PageItem(1002), accept = run.PageItem(1016);
    EXPECT_EQ("Check here to indicate that you accept the above terms", Text(accept));
    EXPECT_EQ(ReadFile(Env("LICENSE_TXT").c_str()), Text(edit));
    EXPECT_TRUE(run.WaitFocus(edit));
    DWORD_PTR sel = Send(edit, EM_GETSEL);
    EXPECT_EQ(0u, LOWORD(sel));
    EXPECT_EQ(0u, HIWORD(sel));
    EXPECT_EQ(0, Send(edit, EM_GETFIRSTVISIBLELINE));
    EXPECT_TRUE(IsWindowEnabled(back));
    EXPECT_FALSE(IsWindowEnabled(next));
    EXPECT_TRUE(LooksDefault(cancel));
    EXPECT_FALSE(LooksDefault(next));
    Screenshot("04-licence");

    // Esc in the licence text asks too; No keeps the page and its focus.
    run.Key(VK_ESCAPE);
    HWND box = run.Window("Confirm Cancel");
    ASSERT_TRUE(box);
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));
    EXPECT_EQ("License Agreement", run.PageTitle());
    EXPECT_TRUE(run.WaitFocus(edit));

    // Enter in the licence text with the box unchecked changes nothing.
    run.Key(VK_RETURN);
    Sleep(300);
    EXPECT_EQ("License Agreement", run.PageTitle());

    // Tab ring: page's last control -> frame's first button, and back.
    run.Key(VK_TAB);
    EXPECT_TRUE(run.WaitFocus(back));
    run.Key(VK_TAB, true);
    EXPECT_TRUE(run.WaitFocus(edit));
    run.Key(VK_TAB);
    run.Key(VK_TAB);   // Next is disabled: Back -> Cancel
    EXPECT_TRUE(run.WaitFocus(cancel));
    run.Key(VK_TAB);
    EXPECT_TRUE(run.WaitFocus(accept));
    run.Key(VK_TAB, true);
    EXPECT_TRUE(run.WaitFocus(cancel));

    // Checking enables Next with the default look; unchecking takes it back.
    Send(accept, BM_CLICK);
    EXPECT_TRUE(WaitFor([&] { return IsWindowEnabled(next) != FALSE; }));
    EXPECT_TRUE(LooksDefault(next));
    EXPECT_FALSE(LooksDefault(cancel));
    Screenshot("05-licence-accepted");
    Send(accept, BM_CLICK);
    EXPECT_TRUE(WaitFor([&] { return !IsWindowEnabled(next); }));
    EXPECT_TRUE(LooksDefault(cancel));

    // Cancel, No: the page keeps its state, here the checked box.
    Send(accept, BM_CLICK);
    EXPECT_TRUE(run.ConfirmCancel(IDNO));
    EXPECT_EQ(BST_CHECKED, Send(run.PageItem(1016), BM_GETCHECK));
    EXPECT_TRUE(IsWindowEnabled(next));

    // Enter in the licence text with the box checked acts as Next. Clicking
    // the box twice leaves it checked and focused; Tab moves into the text.
    Send(accept, BM_CLICK);
    Send(accept, BM_CLICK);
    EXPECT_TRUE(run.WaitFocus(accept));
    run.Key(VK_TAB);
    EXPECT_TRUE(run.WaitFocus(edit));
    run.Key(VK_RETURN);
    EXPECT_TRUE(run.WaitPage("Destination Directory"));
    run.Quit();
}

TEST(SetupGui, DestinationPageBackResetsLicenceAndHiddenBrowseButton)
{
    SetupRun run;
    GoToDestinationPage(run);
    HWND back = run.WizItem(1000), next = run.WizItem(1001), cancel = run.WizItem(IDCANCEL);
    HWND dest = run.PageItem(1003), browse = run.PageItem(1004);
    EXPECT_EQ(kDefaultDest, Text(dest));
    EXPECT_TRUE(GetWindowLongA(dest, GWL_STYLE) & ES_READONLY);
    EXPECT_FALSE(IsWindowVisible(browse));
    EXPECT_TRUE(IsWindowEnabled(browse));
    EXPECT_TRUE(IsWindowEnabled(back));
    EXPECT_TRUE(IsWindowEnabled(next));
    EXPECT_TRUE(LooksDefault(next));
    EXPECT_TRUE(SetupRun::HasChildText(run.Page(), "This is where the program files will be stored."));
    Screenshot("06-destination");

    // Typing into the read-only field changes nothing.
    PostMessageA(dest, WM_CHAR, 'x', 0);
    Sleep(200);
    EXPECT_EQ(kDefaultDest, Text(dest));

    // The frame's last button leads Tab to the hidden "..." button; Space on
    // it opens the folder browser, which cancelled leaves the text alone.
    EXPECT_TRUE(run.WaitFocus(dest));
    run.Key(VK_TAB);
    EXPECT_TRUE(run.WaitFocus(back));
    run.Key(VK_TAB);
    run.Key(VK_TAB);
    EXPECT_TRUE(run.WaitFocus(cancel));
    run.Key(VK_TAB);
    EXPECT_TRUE(run.WaitFocus(browse));
    run.Key(VK_SPACE);
    HWND browser = run.ForeignWindow();
    ASSERT_TRUE(browser);
    EXPECT_TRUE(SetupRun::HasChildText(browser, "Choose Destination Directory"));
    Screenshot("07-folder-browser");
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
    EXPECT_EQ(kDefaultDest, Text(run.PageItem(1003)));

    // A file-system folder chosen there becomes the destination text itself.
    EXPECT_TRUE(run.WaitFocus(browse));
    run.Key(VK_SPACE);
    browser = run.ForeignWindow();
    ASSERT_TRUE(browser);
    ASSERT_TRUE(SelectFileSystemFolder(browser));
    PostMessageA(browser, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
    std::string chosen = Text(run.PageItem(1003));
    EXPECT_NE(kDefaultDest, chosen);
    EXPECT_TRUE(setupwatch::IsDir(chosen.c_str())) << chosen;
    Screenshot("07-folder-chosen");

    // Back shows the licence again, unchecked, with Next disabled.
    run.Back();
    ASSERT_TRUE(run.WaitPage("License Agreement"));
    EXPECT_EQ(BST_UNCHECKED, Send(run.PageItem(1016), BM_GETCHECK));
    EXPECT_FALSE(IsWindowEnabled(next));

    // Forward again: the default destination again; then Next reaches page 40.
    Send(run.PageItem(1016), BM_CLICK);
    ASSERT_TRUE(WaitFor([&] { return IsWindowEnabled(next) != FALSE; }));
    run.Next();
    ASSERT_TRUE(run.WaitPage("Destination Directory"));
    EXPECT_EQ(kDefaultDest, Text(run.PageItem(1003)));
    run.Next();
    ASSERT_TRUE(run.WaitInstalled());
    Screenshot("08-installing");
    EXPECT_FALSE(IsWindowEnabled(back));
    EXPECT_FALSE(IsWindowEnabled(next));
    EXPECT_TRUE(LooksDefault(cancel));
    if (Text(cancel) != "Close") {
        run.Quit();
        return;
    }
    // Close starts the installed application from the destination and ends the setup.
    run.Cancel();
    DWORD code = 1234;
    EXPECT_TRUE(run.Exited(&code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(WaitFor([] { return EndProcessNamed("CuratoApp.exe"); }));
}

TEST(SetupGui, YesOnEveryPageEndsWithCodeZeroAndNothingInstalled)
{
    bool installedBefore = setupwatch::IsDir(kDefaultDest);
    for (int page = 10; page <= 30; page += 10) {
        SCOPED_TRACE(page);
        SetupRun run;
        if (page == 30) {
            GoToDestinationPage(run);
        } else {
            ASSERT_TRUE(run.WaitPage("Welcome"));
            if (page == 20) {
                run.Next();
                ASSERT_TRUE(run.WaitPage("License Agreement"));
            }
        }
        EXPECT_TRUE(run.ConfirmCancel(IDYES));
        DWORD code = 1234;
        ASSERT_TRUE(run.Exited(&code));
        EXPECT_EQ(0u, code);
        EXPECT_EQ(installedBefore, setupwatch::IsDir(kDefaultDest));
    }

    // The About box opened by a system command another program sent, whose
    // answer it still awaits: the cancel confirmed in the box's own loop ends
    // the setup all the same.
    SetupRun run;
    ASSERT_TRUE(run.WaitPage("Welcome"));
    PatientSend* about = StartPatientSend(run.Backdrop(), WM_SYSCOMMAND, 0x10, 0);
    ASSERT_TRUE(about);
    EXPECT_TRUE(run.Window("CuratoNet"));
    EXPECT_TRUE(run.ConfirmCancel(IDYES));
    DWORD code = 1234;
    EXPECT_TRUE(run.Exited(&code));
    EXPECT_EQ(0u, code);
    LetGo(about);
}

TEST(SetupGui, CommandLineChangesNothing)
{
    int linesBefore = CountLines(ReadFile(kLogPath));
    SetupRun run("/S /D=C:\\elsewhere --unknown-switch extra words");
    HWND backdrop = run.Backdrop();
    ASSERT_TRUE(backdrop);
    ASSERT_TRUE(run.WaitPage("Welcome"));
    RECT r;
    GetWindowRect(backdrop, &r);
    EXPECT_EQ(102, r.left);
    EXPECT_EQ(820, r.right - r.left);
    EXPECT_EQ(linesBefore + 1, CountLines(ReadFile(kLogPath)));
    EXPECT_TRUE(run.ConfirmCancel(IDYES));
    DWORD code = 1234;
    ASSERT_TRUE(run.Exited(&code));
    EXPECT_EQ(0u, code);
}

// A log that cannot be opened for writing never stops the setup, and what it
// held is kept.
TEST(SetupGui, UnwritableSessionLogLetsTheSetupRun)
{
    std::string before = ReadFile(kLogPath);
    ASSERT_TRUE(SetFileAttributesA(kLogPath, FILE_ATTRIBUTE_READONLY));
    {
        SetupRun run;
        ASSERT_TRUE(run.WaitPage("Welcome"));
        EXPECT_TRUE(run.ConfirmCancel(IDYES));
        DWORD code = 1234;
        ASSERT_TRUE(run.Exited(&code));
        EXPECT_EQ(0u, code);
    }
    SetFileAttributesA(kLogPath, FILE_ATTRIBUTE_NORMAL);
    std::string after = ReadFile(kLogPath);
    EXPECT_EQ(before, after.substr(0, before.size()));
    printf("read-only log: %d line(s) added under this Wine\n", CountLines(after) - CountLines(before));

    // A directory in the log's place cannot be opened at all.
    const char aside[] = "C:\\setup.log.aside";
    ASSERT_TRUE(MoveFileA(kLogPath, aside));
    ASSERT_TRUE(CreateDirectoryA(kLogPath, NULL));
    {
        SetupRun run;
        ASSERT_TRUE(run.WaitPage("Welcome"));
        EXPECT_TRUE(run.ConfirmCancel(IDYES));
        DWORD code = 1234;
        ASSERT_TRUE(run.Exited(&code));
        EXPECT_EQ(0u, code);
    }
    EXPECT_TRUE(RemoveDirectoryA(kLogPath));
    EXPECT_TRUE(MoveFileA(aside, kLogPath));
}

// Declared for Windows Vista on, which this build does not target.
extern "C" DWORD WINAPI GetFinalPathNameByHandleA(HANDLE file, LPSTR path, DWORD size, DWORD flags);

// The file a name leads to, as the system reports it ("\\?\C:\..."), or "".
std::string FileReached(const char* path)
{
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    char reached[MAX_PATH] = "";
    if (h != INVALID_HANDLE_VALUE) {
        GetFinalPathNameByHandleA(h, reached, MAX_PATH, 0);
        CloseHandle(h);
    }
    return reached;
}

// Wine cannot make a symbolic link itself, but it starts Unix programs: ln
// makes one in the prefix, at the name given relative to C:\, pointing to
// target (relative to the link). Returns the file the name then leads to.
std::string MakeSymbolicLink(const std::string& name, const std::string& target)
{
    std::string cmd = "Z:\\bin\\ln -s \"" + target + "\" \"" + Env("WINEPREFIX") + "/drive_c/" + name + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    const std::string path = "C:\\" + name;
    WaitFor([&] { return FileReached(path.c_str()) != ""; });
    return FileReached(path.c_str());
}

// The session log is written only where it is a plain file of its own: a
// second hard link to another file at its name, and a symbolic link to one,
// leave that file as it was, and the setup runs as usual. A plain log
// afterwards gains its line again.
TEST(SetupGui, SessionLogIsNeverWrittenThroughALink)
{
    const char victim[] = "C:\\link-victim.txt", aside[] = "C:\\setup.log.aside";
    const std::string content = "not a log\r\n";
    FILE* f = fopen(victim, "wb");
    ASSERT_TRUE(f);
    fputs(content.c_str(), f);
    fclose(f);
    CloseHandle(CreateFileA(kLogPath, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, 0, NULL));
    ASSERT_TRUE(MoveFileA(kLogPath, aside));
    const auto runOnce = [] {
        SetupRun run;
        ASSERT_TRUE(run.WaitPage("Welcome"));
        run.Quit();
    };

    ASSERT_TRUE(CreateHardLinkA(kLogPath, victim, NULL));
    runOnce();
    EXPECT_EQ(content, ReadFile(victim)) << "written through a hard link";
    ASSERT_TRUE(DeleteFileA(kLogPath));

    ASSERT_EQ("\\\\?\\C:\\link-victim.txt", MakeSymbolicLink("setup.log", "link-victim.txt"));
    runOnce();
    EXPECT_EQ(content, ReadFile(victim)) << "written through a symbolic link";

    // The link is replaced, not followed (Wine's deletion would follow it).
    ASSERT_TRUE(MoveFileExA(aside, kLogPath, MOVEFILE_REPLACE_EXISTING));
    EXPECT_EQ(content, ReadFile(victim));
    const int lines = CountLines(ReadFile(kLogPath));
    runOnce();
    EXPECT_EQ(lines + 1, CountLines(ReadFile(kLogPath)));
    DeleteFileA(victim);
}

// Every request, sent and then posted to the backdrop, the frame and the page
// while a box of the setup is open, is answered at once and changes nothing:
// the box stays, no other window comes up, the page stays, and the session is
// asked to wait.
void ExpectNoRequestTaken(SetupRun& run, HWND box, const char* page)
{
    HWND targets[] = {run.Backdrop(), run.Wizard(), run.Page()};
    for (HWND to : targets) {
        for (const setupwatch::Request& r : setupwatch::kRequests) {
            SCOPED_TRACE(std::string(r.name) + " to " + Text(to));
            DWORD_PTR answer = 1;
            EXPECT_TRUE(SendMessageTimeoutA(to, r.msg, r.wParam, setupwatch::RequestParam(to, r), SMTO_NORMAL,
                                            10000, &answer))
                << "no answer: the request was taken and opened a loop of its own";
            if (r.msg == WM_QUERYENDSESSION) {
                EXPECT_EQ(0u, answer);
            }
            PostMessageA(to, r.msg, r.wParam, setupwatch::RequestParam(to, r));
            Sleep(100);
            EXPECT_TRUE(IsWindowVisible(box));
            EXPECT_EQ(3u, setupwatch::TopLevels(run.Pid()).size()) << "another window came up";
            EXPECT_EQ(page, run.PageTitle());
            if (::testing::Test::HasFailure())
                return;
        }
    }
}

// While the setup asks whether to cancel, and while the folder browser is
// open, the wizard stays as it is: neither a second cancel nor a page change
// is taken from their message loops.
TEST(SetupGui, NoRequestIsTakenWhileTheSetupAsksOrBrowses)
{
    SetupRun run;
    GoToDestinationPage(run);
    run.Cancel();
    HWND box = run.Window("Confirm Cancel");
    ASSERT_TRUE(box);
    ExpectNoRequestTaken(run, box, "Destination Directory");
    ASSERT_FALSE(HasFailure());
    PostMessageA(box, WM_COMMAND, IDNO, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(box); }));

    PostMessageA(run.Page(), WM_COMMAND, MAKEWPARAM(1004, BN_CLICKED), reinterpret_cast<LPARAM>(run.PageItem(1004)));
    HWND browser = run.ForeignWindow();
    ASSERT_TRUE(browser);
    ExpectNoRequestTaken(run, browser, "Destination Directory");
    ASSERT_FALSE(HasFailure());
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(WaitFor([&] { return !IsWindow(browser); }));
    EXPECT_EQ(kDefaultDest, Text(run.PageItem(1003)));
    run.Quit();
}

// The display scale the run's screen was given (run-in-desktop.sh): 96 dots
// per inch, 100 %, unless DESKTOP_DPI says otherwise.
int RunDpi()
{
    const std::string dpi = Env("DESKTOP_DPI");
    return dpi.empty() ? 96 : atoi(dpi.c_str());
}

int ScreenDpi()
{
    HDC screen = GetDC(NULL);
    int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(NULL, screen);
    return dpi;
}

// A pixel of a picture, counted from its top left corner.
COLORREF PixelAt(const Picture& p, int x, int y)
{
    const int w = p.area.right - p.area.left, h = p.area.bottom - p.area.top;
    const unsigned char* px = &p.bits[static_cast<size_t>((w * 3 + 3) & ~3) * (h - 1 - y) + x * 3];
    return RGB(px[2], px[1], px[0]);
}

// The number of rows of the picture that hold a pixel darker than mid-grey:
// the height of dark text on a light ground.
int InkHeight(const Picture& p)
{
    const int w = p.area.right - p.area.left, h = p.area.bottom - p.area.top;
    int first = -1, last = -1;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            COLORREF c = PixelAt(p, x, y);
            if (GetRValue(c) + GetGValue(c) + GetBValue(c) < 3 * 100) {
                first = first < 0 ? y : first;
                last = y;
                break;
            }
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

// The height of text drawn by this program in black on white in a font made
// as the About box's is at 100 %: 12 pixels high, "Courier".
int InkHeightAt100Percent(const char* text)
{
    Picture p;
    p.area = {0, 0, 200, 60};
    BITMAPINFOHEADER bh = {};
    bh.biSize = sizeof bh;
    bh.biWidth = 200;
    bh.biHeight = 60;
    bh.biPlanes = 1;
    bh.biBitCount = 24;
    void* bits = NULL;
    HBITMAP bmp = CreateDIBSection(NULL, reinterpret_cast<BITMAPINFO*>(&bh), DIB_RGB_COLORS, &bits, NULL, 0);
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ oldBmp = SelectObject(dc, bmp);
    HFONT font = CreateFontA(12, 0, 0, 0, 400, 0, 0, 0, 0, 0, 0, 0, 0, "Courier");
    HGDIOBJ oldFont = SelectObject(dc, font);
    PatBlt(dc, 0, 0, 200, 60, WHITENESS);
    TextOutA(dc, 10, 10, text, static_cast<int>(strlen(text)));
    GdiFlush();
    const unsigned char* first = static_cast<const unsigned char*>(bits);
    p.bits.assign(first, first + 200 * 3 * 60);
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBmp);
    DeleteObject(font);
    DeleteDC(dc);
    DeleteObject(bmp);
    return InkHeight(p);
}

RECT ClientArea(HWND h)
{
    RECT r = {};
    GetClientRect(h, &r);
    MapWindowPoints(h, NULL, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

std::string RectText(const RECT& r)
{
    char text[80];
    snprintf(text, sizeof text, "(%ld, %ld)-(%ld, %ld)", r.left, r.top, r.right, r.bottom);
    return text;
}

bool Inside(const RECT& r, const RECT& area)
{
    return r.left >= area.left && r.top >= area.top && r.right <= area.right && r.bottom <= area.bottom;
}

// Every control of the window, hidden ones too, lies inside its client area.
void ExpectControlsInside(HWND window)
{
    const RECT client = ClientArea(window);
    for (HWND c = GetWindow(window, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        EXPECT_TRUE(Inside(AreaOf(c), client)) << WindowLabel(c) << " at " << RectText(AreaOf(c)) << " outside "
                                               << RectText(client);
}

// The frame lies inside the backdrop, the page and the frame's buttons inside
// the frame, the page's controls inside the page.
void ExpectLaidOut(SetupRun& run, const char* page)
{
    SCOPED_TRACE(page);
    EXPECT_TRUE(Inside(AreaOf(run.Wizard()), ClientArea(run.Backdrop())))
        << "frame " << RectText(AreaOf(run.Wizard())) << ", backdrop " << RectText(ClientArea(run.Backdrop()));
    ExpectControlsInside(run.Wizard());
    ExpectControlsInside(run.Page());
}

// The welcome picture: the page's static control with a bitmap.
HWND PictureControl(HWND page)
{
    for (HWND c = GetWindow(page, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if (setupwatch::ClassOf(c) == "Static" && (GetWindowLongA(c, GWL_STYLE) & SS_TYPEMASK) == SS_BITMAP)
            return c;
    return NULL;
}

// The longest run of the picture's colour along a row and a column of the
// screen through the picture, 2 pixels in from its top left corner: the size
// the picture shows at (its ground is that colour to the edges).
SIZE ShownSize(HWND picture)
{
    RECT area = AreaOf(picture);
    InflateRect(&area, 4, 4);
    Picture p = Settled(area);
    const auto isPictureColour = [](COLORREF c) {
        return abs(GetRValue(c) - 204) < 16 && GetGValue(c) < 16 && abs(GetBValue(c) - 102) < 16;
    };
    SIZE shown = {0, 0};
    for (int x = 0, run = 0; x < area.right - area.left; ++x) {
        run = isPictureColour(PixelAt(p, x, 6)) ? run + 1 : 0;
        shown.cx = std::max<LONG>(shown.cx, run);
    }
    for (int y = 0, run = 0; y < area.bottom - area.top; ++y) {
        run = isPictureColour(PixelAt(p, 6, y)) ? run + 1 : 0;
        shown.cy = std::max<LONG>(shown.cy, run);
    }
    return shown;
}

// At the display scale of the run's screen, on a screen of the size that
// scale is made for (run-in-desktop.sh; SetupGuiAt144Dpi and SetupGuiAt192Dpi
// run this at 150 % and 200 %), what the setup makes in pixels grows with the
// scale: the welcome picture (444 x 163 pixels at 100 %), as far as its page
// has room for it, and the text of the About box's version line (a 12-pixel
// font at 100 %, measured by its ink against the same text in that font).
// Every control fits its page, every page its frame and the frame its
// backdrop. The pictures of each page at that scale are kept.
TEST(SetupGui, PagesFollowTheDisplayScale)
{
    const int dpi = RunDpi();
    ASSERT_EQ(dpi, ScreenDpi()) << "the screen does not have the run's display scale";
    const auto scaled = [dpi](int pixels) { return MulDiv(pixels, dpi, 96); };
    SetupRun run;
    ASSERT_TRUE(run.WaitPage("Welcome"));
    ExpectLaidOut(run, "Welcome");
    HWND page = run.Page(), picture = PictureControl(page);
    ASSERT_TRUE(picture);
    const RECT box = AreaOf(GetWindow(page, GW_CHILD)), r = AreaOf(picture);
    EXPECT_TRUE(Inside(r, box)) << "picture " << RectText(r) << ", its group box " << RectText(box);
    const SIZE shown = ShownSize(picture);
    printf("%d dpi: welcome picture %ld x %ld pixels, shown %ld x %ld, in a page of %ld x %ld\n", dpi,
           r.right - r.left, r.bottom - r.top, shown.cx, shown.cy, AreaOf(page).right - AreaOf(page).left,
           AreaOf(page).bottom - AreaOf(page).top);
    EXPECT_EQ(r.right - r.left, shown.cx);
    EXPECT_EQ(r.bottom - r.top, shown.cy);
    // The page gives the picture 105 of its 124 dialog units in height: a page
    // that grew less than the scale leaves less, and the picture fills it.
    const int room = MulDiv(AreaOf(page).bottom - AreaOf(page).top, 105, 124);
    if (scaled(163) <= room) {
        EXPECT_NEAR(scaled(444), shown.cx, 1);
        EXPECT_NEAR(scaled(163), shown.cy, 1);
    } else {
        printf("%d dpi: the page gives the picture %d pixels in height, not %d\n", dpi, room, scaled(163));
        EXPECT_NEAR(room, shown.cy, 1);
        EXPECT_NEAR(MulDiv(shown.cy, 444, 163), shown.cx, 1);
    }
    Screenshot("scale-01-welcome");

    // The version line is empty in this system: a text is put there to be seen.
    PostMessageA(run.Backdrop(), WM_SYSCOMMAND, 0x10, 0);
    HWND about = run.Window("CuratoNet");
    ASSERT_TRUE(about);
    HWND version = GetDlgItem(about, 1045);
    const char sample[] = "Mg[]";
    ASSERT_TRUE(SendPatiently(version, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(sample)));
    RECT line = ClientArea(version);
    InflateRect(&line, -3, -3);
    const int ink = InkHeight(Settled(line)), ink100 = InkHeightAt100Percent(sample);
    printf("%d dpi: About box's version text %d pixels high, %d at 100 %%\n", dpi, ink, ink100);
    EXPECT_NEAR(scaled(ink100), ink, 1);
    Screenshot("scale-02-about");
    PostMessageA(about, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(WaitFor([&] { return !IsWindow(about); }));

    run.Next();
    ASSERT_TRUE(run.WaitPage("License Agreement"));
    Send(run.PageItem(1016), BM_CLICK);
    ExpectLaidOut(run, "License Agreement");
    Screenshot("scale-03-licence");
    run.Next();
    ASSERT_TRUE(run.WaitPage("Destination Directory"));
    ExpectLaidOut(run, "Destination Directory");
    Screenshot("scale-04-destination");
    run.Next();
    ASSERT_TRUE(run.WaitInstalled());
    ExpectLaidOut(run, "Installing");
    Screenshot("scale-05-complete");
    ASSERT_EQ("Close", Text(run.WizItem(IDCANCEL)));
    run.Cancel();
    DWORD code = 1234;
    EXPECT_TRUE(run.Exited(&code));
    EXPECT_EQ(0u, code);
    EXPECT_TRUE(WaitFor([] { return EndProcessNamed("CuratoApp.exe"); }));
}

// Runs the install to its end, answering any error box; true when it finished
// with Close, which is then pressed.
bool InstallAndClose(SetupRun& run)
{
    GoToDestinationPage(run);
    run.Next();
    bool closed = WaitFor([&] {
        HWND error = run.Window("Error Detected", 0);
        if (error)
            PostMessageA(error, WM_COMMAND, IDOK, 0);
        return run.Installed() && Text(run.WizItem(IDCANCEL)) == "Close";
    }, 300000);
    if (!closed)
        return false;
    run.Cancel();
    DWORD code = 1234;
    EXPECT_TRUE(run.Exited(&code));
    WaitFor([] { return EndProcessNamed("CuratoApp.exe"); }, 5000);
    return true;
}

// Libraries planted beside a copy of setup.exe, under the names of the system
// libraries it loads at run time that are no known system libraries (the
// common controls, the multimedia timer) and of the browser control it
// registers. Each leaves a marker beside itself when it is loaded. COM and the
// shell are known system libraries, which Windows never looks for beside a
// program; Wine keeps no such list and takes a planted copy of COM for its
// own built-in libraries, whatever the setup does.
const char* const kPlantedLibraries[] = {"comctl32.dll", "winmm.dll", "Shdocvw.dll"};

// Where the browser control stand-in of the payload records the path it was
// registered from.
const char kBrowserControlServerKey[] =
    "Software\\Classes\\CLSID\\{3F1B7C2E-9D4A-4E61-B8C5-2A7D90E6F413}\\InprocServer32";

std::string RegisteredBrowserControl()
{
    char path[MAX_PATH] = "";
    LONG size = sizeof path;
    if (RegQueryValueA(HKEY_CURRENT_USER, kBrowserControlServerKey, path, &size) != ERROR_SUCCESS)
        return "<none>";
    return path;
}

// One Wine setting for one program name, under its AppDefaults key.
void SetAppDefault(const std::string& exeName, const char* subkey, const char* name, const char* value)
{
    std::string key = "Software\\Wine\\AppDefaults\\" + exeName + (*subkey ? "\\" : "") + subkey;
    HKEY h;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyA(HKEY_CURRENT_USER, key.c_str(), &h));
    RegSetValueExA(h, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value), static_cast<DWORD>(strlen(value) + 1));
    RegCloseKey(h);
}

// A run of the program exeName in dir, with the libraries planted beside it,
// through the install to Close. Wine is told to report the Windows version
// given (none: its default), and to take a library file that a search finds
// over its own built-in library, so that the search decides what Windows would
// load. Returns the planted libraries that were loaded.
std::vector<std::string> PlantedLibrariesLoaded(const std::string& dir, const std::string& exeName,
                                                const char* version)
{
    if (version)
        SetAppDefault(exeName, "", "Version", version);
    for (const char* name : kPlantedLibraries) {
        EXPECT_TRUE(CopyFileA(Env("PLANTED_DLL").c_str(), (dir + "\\" + name).c_str(), FALSE)) << name;
        DeleteFileA((dir + "\\" + name + ".loaded").c_str());
        std::string base(name, static_cast<size_t>(strchr(name, '.') - name));
        SetAppDefault(exeName, "DllOverrides", base.c_str(), "native,builtin");
    }
    RegDeleteKeyA(HKEY_CURRENT_USER, kBrowserControlServerKey);
    {
        SetupRun run("", dir + "\\" + exeName);
        EXPECT_TRUE(InstallAndClose(run));
    }
    EXPECT_TRUE(_stricmp(RegisteredBrowserControl().c_str(), (std::string(kDefaultDest) + "\\Shdocvw.dll").c_str()) == 0)
        << "the browser control registered is " << RegisteredBrowserControl();
    std::string key = "Software\\Wine\\AppDefaults\\" + exeName;
    RegDeleteKeyA(HKEY_CURRENT_USER, (key + "\\DllOverrides").c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, key.c_str());
    std::vector<std::string> loaded;
    for (const char* name : kPlantedLibraries)
        if (GetFileAttributesA((dir + "\\" + name + ".loaded").c_str()) != INVALID_FILE_ATTRIBUTES)
            loaded.push_back(name);
    return loaded;
}

// setup.exe as it runs on a system without the call that restricts library
// searches (Windows 9x, NT 4, 2000, and XP without its update): the name it
// looks the call up by made unknown, and the image checksum written afresh,
// so that the copy is still whole. Wine offers the call whatever version it
// reports.
bool WriteWithoutSearchRestriction(const std::string& to)
{
    std::string image = ReadFile(Env("SETUP_EXE").c_str());
    const std::string call("SetDefaultDllDirectories", sizeof "SetDefaultDllDirectories");
    size_t at = image.find(call);
    if (at == std::string::npos || image.find(call, at + 1) != std::string::npos)
        return false;
    image[at + call.size() - 2] = '_';
    DWORD stored, computed;
    IMAGE_NT_HEADERS* nt = CheckSumMappedFile(&image[0], static_cast<DWORD>(image.size()), &stored, &computed);
    if (!nt)
        return false;
    nt->OptionalHeader.CheckSum = computed;
    FILE* f = fopen(to.c_str(), "wb");
    bool written = f && fwrite(image.data(), 1, image.size(), f) == image.size();
    if (f)
        fclose(f);
    return written;
}

// No library planted beside setup.exe is loaded, whatever Windows version Wine
// reports: Windows Vista, where the setup leaves library searches
// unrestricted, included. Wine restricts searches on request under every
// version, so a copy that cannot make that request shows the loading by full
// path alone. The browser control registered is the one the install wrote.
TEST(SetupGui, LibraryPlantedBesideSetupIsNotLoaded)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    const struct {
        const char* exeName;
        const char* version;
    } runs[] = {{"setup98.exe", "win98"},   {"setupxp.exe", "winxp"}, {"setupvista.exe", "vista"},
                {"setup10.exe", "win10"}, {"setupnorestriction.exe", nullptr}};
    for (const auto& r : runs) {
        SCOPED_TRACE(r.exeName);
        std::string dir = std::string(temp) + "planted-" + r.exeName;
        CreateDirectoryA(dir.c_str(), NULL);
        const std::string exe = dir + "\\" + r.exeName;
        ASSERT_TRUE(r.version ? CopyFileA(Env("SETUP_EXE").c_str(), exe.c_str(), FALSE) != FALSE
                              : WriteWithoutSearchRestriction(exe));
        std::vector<std::string> loaded = PlantedLibrariesLoaded(dir, r.exeName, r.version);
        EXPECT_TRUE(loaded.empty()) << "loaded from beside the setup: " << loaded[0];
    }
}

// The walk scripts/run.sh shows on a machine without a display: every page in
// turn, as far as the setup goes, with a picture of each (the welcome page
// with the backdrop around it, the others as the wizard frame). Not part of
// the test run: the install writes the product into the default destination.
TEST(SetupGuiWalk, DISABLED_WalkThrough)
{
    SteadyCaret();
    SetupRun run;
    ASSERT_TRUE(run.WaitPage("Welcome")) << "the page shows \"" << run.PageTitle() << "\"";
    SettledShot("walk-10-welcome", AreaOf(run.Backdrop()));
    run.Next();
    ASSERT_TRUE(run.WaitPage("License Agreement")) << "the page shows \"" << run.PageTitle() << "\"";
    SettledShot("walk-20-licence", AreaOf(run.Wizard()));
    Send(run.PageItem(1016), BM_CLICK);
    SettledShot("walk-20-licence-accepted", AreaOf(run.Wizard()));
    run.Next();
    ASSERT_TRUE(run.WaitPage("Destination Directory")) << "the page shows \"" << run.PageTitle() << "\"";
    SettledShot("walk-30-destination", AreaOf(run.Wizard()));
    run.Next();
    ASSERT_TRUE(run.WaitInstalled());
    SettledShot("walk-40-complete", AreaOf(run.Wizard()));
    HWND cancel = run.WizItem(IDCANCEL);
    printf("page 40 ends with the button \"%s\"\n", Text(cancel).c_str());
    if (Text(cancel) == "Close") {
        run.Cancel();
        DWORD code;
        EXPECT_TRUE(run.Exited(&code));
        WaitFor([] { return EndProcessNamed("CuratoApp.exe"); }, 5000);
    } else {
        run.Quit();
    }
}

// The pictures of the install under way and of an "Error Detected" box, for
// the README: the same walk with a product file in the default destination
// held open, so that it cannot be replaced.
TEST(SetupGuiWalk, DISABLED_FileInUse)
{
    SteadyCaret();
    CreateDirectoryA(kDefaultDest, NULL);
    HANDLE held = CreateFileA((std::string(kDefaultDest) + "\\site_5.lyo").c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    SetupRun run;
    GoToDestinationPage(run);
    run.Next();
    // The page is read with the window system's own copy of its texts,
    // which needs no answer from the setup.
    HWND page = NULL;
    ASSERT_TRUE(WaitFor([&] {
        page = run.Page();
        return setupwatch::Text(GetDlgItem(page, 1010)) == "wide_2.lyo";
    })) << "the install never showed wide_2.lyo";
    Sleep(100);   // the progress bar part of the way
    Save(Capture(AreaOf(run.Wizard())), "walk-40-installing");
    HWND box = NULL;
    ASSERT_TRUE(WaitFor([&] { return (box = run.Window("Error Detected", 0)) != NULL; }));
    SettledShot("walk-40-error-detected", AreaOf(run.Wizard(), box));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(run.WaitInstalled());
    EXPECT_TRUE(WaitFor([&] { return setupwatch::Text(run.WizItem(IDCANCEL)) == "Close"; }));
    run.Cancel();
    DWORD code;
    EXPECT_TRUE(run.Exited(&code));
    WaitFor([] { return EndProcessNamed("CuratoApp.exe"); }, 5000);
    CloseHandle(held);
}

int main(int argc, char** argv)
{
    DriverOutputToLog();
    testing::InitGoogleTest(&argc, argv);
    return DriverExit(RUN_ALL_TESTS());
}
