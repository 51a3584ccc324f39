// The whole install, timed: from Next on the destination page to the moment
// the frame's third button reads "Close" (seen within the drivers' 20 ms
// polling step), against the pacing the installing page prescribes (11 x 20
// ms for each of 55 file steps and 250 ms before the completion: 12.35 s).
// Each run also times the pacing alone, the same pauses through the same
// code with nothing else, right before the install, in the same process and
// under the same load: the difference is the install's own work. Runs the
// real setup.exe under Wine's desktop like the end-to-end tests, waits as
// patiently as they do, and says where a run stopped; nothing is retried.
// Where SETUP_DIRECT_EXE names setup_direct.exe, the setup that writes each
// product file directly under its own name (no partial file, no flush, no
// rename), each run installs with both in turn, so that the cost of a file
// taking its name only when whole shows as the difference of the two.
#include "pacing.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "driver_util.h"
#include "setup_process.h"

using namespace setupwatch;

namespace {

// The 54 product files, and the browser control written again for its
// registration.
const int kFileSteps = 55;
const int kPositions = 11;
const DWORD kPacingMs = kFileSteps * kPositions * kProgressStepMs + kCompletionPauseMs;
const int kRuns = 5;

double NowMs()
{
    LARGE_INTEGER count, perSecond;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&perSecond);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(perSecond.QuadPart);
}

// The install's pauses alone, taken as the installing page takes them.
double TimePacingAlone()
{
    CFineTimer fineTimer;
    const double start = NowMs();
    for (int file = 0; file < kFileSteps; ++file)
        for (int position = 0; position < kPositions; ++position)
            Pause(kProgressStepMs);
    Pause(kCompletionPauseMs);
    return NowMs() - start;
}

// One run of setup.exe, read only in ways that need no answer from it while
// it installs: texts the window system keeps, enabled states, windows found.
class InstallRun {
public:
    explicit InstallRun(const std::string& exe) : proc_(exe) {}

    // Through the pages to "Close" with dest as the destination: the time from
    // Next on the destination page, or false with where the run stopped.
    bool Install(const std::string& dest, double* ms, std::string* stopped)
    {
        if (!proc_.Started())
            return Stop(stopped, "setup.exe did not start");
        if (!WaitPage("Welcome"))
            return Stop(stopped, "no welcome page");
        Next();
        if (!WaitPage("License Agreement"))
            return Stop(stopped, "no licence page after Next");
        if (!SendPatiently(PageItem(1016), BM_CLICK, 0, 0) ||
            !WaitFor([&] { return IsWindowEnabled(WizItem(1001)) != FALSE; }))
            return Stop(stopped, "Next not enabled by the accept box");
        Next();
        if (!WaitPage("Destination Directory"))
            return Stop(stopped, "no destination page after Next");
        char text[MAX_PATH] = "";
        if (!SendPatiently(PageItem(1003), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(dest.c_str())) ||
            !SendPatiently(PageItem(1003), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)) || dest != text)
            return Stop(stopped, "destination field not set");
        const double start = NowMs();
        Next();
        HWND box = NULL;
        WaitFor([&] { return Text(WizItem(IDCANCEL)) == "Close" || (box = Box()) != NULL || !proc_.Running(); },
                kPacingMs + kPatience);
        *ms = NowMs() - start;
        if (Text(WizItem(IDCANCEL)) != "Close")
            return Stop(stopped, InstallStop(box));
        return Close(stopped);
    }

private:
    HWND Wizard() { return FindTopLevel(proc_.Pid(), kWizardCaption, nullptr); }
    HWND Page() { return WizardPage(Wizard()); }
    HWND PageItem(int id) { return GetDlgItem(Page(), id); }
    HWND WizItem(int id) { return GetDlgItem(Wizard(), id); }
    bool WaitPage(const char* title)
    {
        return WaitFor([&] { return Text(GetWindow(Page(), GW_CHILD)) == title; });
    }
    void Next()
    {
        PostMessageA(Wizard(), WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), reinterpret_cast<LPARAM>(WizItem(1001)));
    }
    // A failure box of the install: "Error Detected" or "Invalid Directory".
    HWND Box()
    {
        HWND box = FindTopLevel(proc_.Pid(), "Error Detected", "#32770");
        return box ? box : FindTopLevel(proc_.Pid(), "Invalid Directory", "#32770");
    }

    // What the setup showed when the install did not reach "Close".
    std::string InstallStop(HWND box)
    {
        if (box)
            return "the box \"" + Text(box) + "\" came up: " + Text(GetDlgItem(box, 0xFFFF));
        DWORD code = 0;
        if (proc_.Exited(&code, 0))
            return "setup.exe ended with code " + std::to_string(code) + " before \"Close\"";
        return "no \"Close\" within " + std::to_string(kPacingMs + kPatience) + " ms; the page shows \"" +
               Text(PageItem(1009)) + "\", \"" + Text(PageItem(1010)) + "\"";
    }

    // Close starts the installed application, which is closed again at once,
    // and ends the setup.
    bool Close(std::string* stopped)
    {
        PostMessageA(Wizard(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(WizItem(IDCANCEL)));
        HWND app = NULL;
        if (!WaitFor([&] { return (app = FindTopLevel(0, "CuratoNet", "CuratoNetMain")) != NULL; }))
            return Stop(stopped, "Close started no CuratoNet window");
        PostMessageA(app, WM_CLOSE, 0, 0);
        if (!WaitFor([&] { return !IsWindow(app); }))
            return Stop(stopped, "the started CuratoNet window did not close");
        DWORD code = 0;
        if (!proc_.Exited(&code))
            return Stop(stopped, "setup.exe did not end after Close");
        return true;
    }

    static bool Stop(std::string* stopped, const std::string& where)
    {
        *stopped = where;
        return false;
    }

    ChildProcess proc_;
};

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// One setup program timed run after run.
struct Program {
    const char* label;
    std::string exe;
    std::vector<double> walls, pacings, own;
    int failed;
};

void TimeInstall(Program& p, int run)
{
    const std::string dest = "C:\\bench-" + std::to_string(run) + "-" + p.label + "\\CuratoNet";
    const double pacing = TimePacingAlone();
    double wall = 0;
    std::string stopped;
    if (!InstallRun(p.exe).Install(dest, &wall, &stopped)) {
        printf("%-7d %-8s stopped: %s\n", run, p.label, stopped.c_str());
        ++p.failed;
        return;
    }
    printf("%-7d %-8s %10.0f %16.0f %18.0f %22.0f\n", run, p.label, wall, pacing, wall - pacing,
           wall - kPacingMs);
    p.walls.push_back(wall);
    p.pacings.push_back(pacing);
    p.own.push_back(wall - pacing);
}

} // namespace

int main()
{
    DriverOutputToLog();
    std::vector<Program> programs = {{"setup", Env("SETUP_EXE"), {}, {}, {}, 0}};
    if (programs[0].exe.empty()) {
        printf("SETUP_EXE names the setup program\n");
        return DriverExit(1);
    }
    if (!Env("SETUP_DIRECT_EXE").empty())
        programs.push_back({"direct", Env("SETUP_DIRECT_EXE"), {}, {}, {}, 0});
    printf("install of the whole payload, Next on the destination page to \"Close\", %d runs\n", kRuns);
    printf("prescribed pacing: %lu ms\n", kPacingMs);
    printf("%-7s %-8s %10s %16s %18s %22s\n", "run", "program", "wall ms", "pacing alone ms",
           "install's own ms", "beyond prescribed ms");
    for (int i = 1; i <= kRuns; ++i)
        for (Program& p : programs)
            TimeInstall(p, i);
    int failed = 0;
    for (const Program& p : programs) {
        failed += p.failed;
        if (!p.walls.empty())
            printf("%-7s %-8s %10.0f %16.0f %18.0f %22.0f\n", "median", p.label, Median(p.walls),
                   Median(p.pacings), Median(p.own), Median(p.walls) - kPacingMs);
    }
    for (size_t k = 1; k < programs.size(); ++k)
        if (!programs[0].own.empty() && !programs[k].own.empty())
            printf("setup - %s: %+.0f ms (medians of the install's own work)\n", programs[k].label,
                   Median(programs[0].own) - Median(programs[k].own));
    printf("%d of %d installs completed\n", kRuns * static_cast<int>(programs.size()) - failed,
           kRuns * static_cast<int>(programs.size()));
    return DriverExit(failed ? 1 : 0);
}
