// The whole install, timed: from Next on the destination page to the moment
// the frame's third button reads "Close" (seen within the drivers' 20 ms
// polling step), against the pacing the installing page prescribes (11 x 20
// ms for each of 55 file steps and 250 ms before the completion: 12.35 s).
// Each run also times the pacing alone, the same pauses through the same
// code with nothing else, right before the install, in the same process and
// under the same load: the difference is the install's own work. Runs the
// real setup.exe under Wine's desktop like the end-to-end tests, waits as
// patiently as they do, and says where a run stopped; nothing is retried.
//
// Each run installs with three programs in turn: setup.exe, and the two
// builds made for the benchmark alone, whose timers split the install into
// stages (bench/install_timers.cpp): setup_timed, setup.exe as it is, and
// setup_sleeping, as the setup was before it answered Windows while it
// installs. All through each install a thread of the benchmark sends the
// wizard frame a message every 50 ms or so and keeps the slowest answer.
// A fourth program, setup_direct, writes each product file directly under
// its own name (no partial file, no flush, no rename), as the setup did
// before a file took its name only when whole: the difference of its own work
// from setup.exe's is their cost.
#include "pacing.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
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

// Sends the window WM_NULL from a thread of its own, one message every 50 ms
// or so (each only once the one before has been answered), until asked for
// the slowest answer. Sent much more often, the messages would cost the setup
// time of their own: each one wakes a pause and is answered.
class AnswerWatch {
public:
    explicit AnswerWatch(HWND window) : window_(window), stop_(CreateEventA(NULL, TRUE, FALSE, NULL))
    {
        thread_ = CreateThread(NULL, 0, Run, this, 0, NULL);
    }
    ~AnswerWatch() { SlowestMs(); }
    AnswerWatch(const AnswerWatch&) = delete;
    AnswerWatch& operator=(const AnswerWatch&) = delete;

    // Waits for the answer still awaited, then stops.
    double SlowestMs()
    {
        if (thread_) {
            SetEvent(stop_);
            WaitForSingleObject(thread_, INFINITE);
            CloseHandle(thread_);
            CloseHandle(stop_);
            thread_ = NULL;
        }
        return slowestMs_;
    }

private:
    static DWORD WINAPI Run(LPVOID self)
    {
        static_cast<AnswerWatch*>(self)->Watch();
        return 0;
    }
    void Watch()
    {
        do {
            const double sent = NowMs();
            DWORD_PTR r;
            if (!SendMessageTimeoutA(window_, WM_NULL, 0, 0, SMTO_NORMAL, kPatience, &r))
                return;
            slowestMs_ = std::max(slowestMs_, NowMs() - sent);
        } while (WaitForSingleObject(stop_, 50) == WAIT_TIMEOUT);
    }

    HWND window_;
    HANDLE stop_;
    HANDLE thread_;
    double slowestMs_ = 0;
};

// The application the last Close started. It is closed only once another
// program has a window on Wine's desktop: a desktop whose shell has started a
// program ends a few seconds after its last window has gone, and with it this
// benchmark.
HWND gStartedApp = NULL;

bool CloseStartedApp()
{
    HWND app = gStartedApp;
    gStartedApp = NULL;
    if (!app)
        return true;
    PostMessageA(app, WM_CLOSE, 0, 0);
    return WaitFor([&] { return !IsWindow(app); });
}

// One run of setup.exe, read only in ways that need no answer from it while
// it installs: texts the window system keeps, enabled states, windows found.
class InstallRun {
public:
    explicit InstallRun(const std::string& exe) : proc_(exe) {}

    // Through the pages to "Close" with dest as the destination: the time from
    // Next on the destination page and the slowest answer to a message sent
    // meanwhile, or false with where the run stopped.
    bool Install(const std::string& dest, double* ms, double* slowestAnswerMs, std::string* stopped)
    {
        if (!proc_.Started())
            return Stop(stopped, "setup.exe did not start");
        if (!WaitPage("Welcome"))
            return Stop(stopped, "no welcome page");
        if (!CloseStartedApp())
            return Stop(stopped, "the CuratoNet window the last Close started did not close");
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
        {
            AnswerWatch answers(Wizard());
            WaitFor([&] { return Text(WizItem(IDCANCEL)) == "Close" || (box = Box()) != NULL || !proc_.Running(); },
                    kPacingMs + kPatience);
            *ms = NowMs() - start;
            *slowestAnswerMs = answers.SlowestMs();
        }
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

    // Close starts the installed application, which stays open until the next
    // setup shows its first page, and ends the setup.
    bool Close(std::string* stopped)
    {
        PostMessageA(Wizard(), WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(WizItem(IDCANCEL)));
        HWND app = NULL;
        if (!WaitFor([&] { return (app = FindTopLevel(0, "CuratoNet", "CuratoNetMain")) != NULL; }))
            return Stop(stopped, "Close started no CuratoNet window");
        gStartedApp = app;
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

// What the timed builds write when they end: a stage's milliseconds, or the
// longest gap between looks at the queue and the longest single system call,
// each with what it was.
struct StageTimes {
    std::map<std::string, double> ms;
    double longestGapMs = 0, longestCallMs = 0;
    std::string longestGapStage, longestCall;
};

bool ReadStageTimes(const std::string& path, StageTimes* t)
{
    FILE* f = fopen(path.c_str(), "r");
    if (!f)
        return false;
    char key[64], what[64];
    double ms;
    while (fscanf(f, "%63s %lf", key, &ms) == 2) {
        if (strcmp(key, "longest-gap") == 0 && fscanf(f, "%63s", what) == 1) {
            t->longestGapMs = ms;
            t->longestGapStage = what;
        } else if (strcmp(key, "longest-call") == 0 && fscanf(f, "%63s", what) == 1) {
            t->longestCallMs = ms;
            t->longestCall = what;
        } else {
            t->ms[key] = ms;
        }
    }
    fclose(f);
    return t->ms.count("install") != 0;
}

// The programs installed with in turn.
struct Program {
    const char* name;
    const char* env;
    bool timed;
    std::vector<double> walls, pacings, own, slowest;
    std::vector<StageTimes> stages;
};

// The stages of the work beyond the pauses, as the timed builds name them.
const char* const kWorkStages[][2] = {
    {"expanding", "expanding"},
    {"writing", "writing"},
    {"drawing", "drawing (texts, repaints, progress positions)"},
    {"registration", "the library registration"},
    {"shortcut", "the shortcut (COM start-up, folders, link)"},
    {"rest", "the rest"},
};

double MedianOf(const std::vector<StageTimes>& runs, const char* stage)
{
    std::vector<double> v;
    for (const StageTimes& t : runs)
        v.push_back(t.ms.at(stage));
    return Median(v);
}

// The worst of the runs by one figure, with what it was.
std::string Worst(const std::vector<StageTimes>& runs, double StageTimes::*ms, std::string StageTimes::*what)
{
    const StageTimes* worst = &runs.front();
    for (const StageTimes& t : runs)
        if (t.*ms > worst->*ms)
            worst = &t;
    char text[96];
    snprintf(text, sizeof text, "%.0f ms (%s)", worst->*ms, (worst->*what).c_str());
    return text;
}

void PrintBreakdown(const Program& after, const Program& before)
{
    printf("\nwhere the install's own time goes, measured inside the timed builds from Next to \"Close\"\n"
           "(medians of %zu and %zu runs, ms):\n", after.stages.size(), before.stages.size());
    printf("%-48s %16s %16s\n", "", "after", "before");
    printf("%-48s %16s %16s\n", "", after.name, before.name);
    double work[2] = {};
    for (const auto& stage : kWorkStages) {
        const double a = MedianOf(after.stages, stage[0]), b = MedianOf(before.stages, stage[0]);
        printf("  %-46s %16.0f %16.0f\n", stage[1], a, b);
        work[0] += a;
        work[1] += b;
    }
    printf("  %-46s %16.0f %16.0f\n", "work beyond the pauses (the sum)", work[0], work[1]);
    printf("  %-46s %16.0f %16.0f\n", "pauses (waits)", MedianOf(after.stages, "pauses"),
           MedianOf(before.stages, "pauses"));
    printf("  %-46s %16.0f %16.0f\n", "looks at the queue (answers to sent messages)",
           MedianOf(after.stages, "looks"), MedianOf(before.stages, "looks"));
    printf("  %-46s %16.0f %16.0f\n", "Next to \"Close\"", MedianOf(after.stages, "install"),
           MedianOf(before.stages, "install"));
    printf("longest without answering a sent message (the worst run, and the stage that took most of it):\n");
    for (const Program* p : {&after, &before})
        printf("  %-46s %33s\n", p->name,
               Worst(p->stages, &StageTimes::longestGapMs, &StageTimes::longestGapStage).c_str());
    printf("longest single system call other than a wait (the worst run):\n");
    for (const Program* p : {&after, &before})
        printf("  %-46s %33s\n", p->name,
               Worst(p->stages, &StageTimes::longestCallMs, &StageTimes::longestCall).c_str());
}

} // namespace

int main()
{
    DriverOutputToLog();
    Program programs[] = {
        {"setup.exe", "SETUP_EXE", false, {}, {}, {}, {}, {}},
        {"setup_timed.exe", "SETUP_TIMED_EXE", true, {}, {}, {}, {}, {}},
        {"setup_sleeping.exe", "SETUP_SLEEPING_EXE", true, {}, {}, {}, {}, {}},
        {"setup_direct.exe", "SETUP_DIRECT_EXE", false, {}, {}, {}, {}, {}},
    };
    for (const Program& p : programs) {
        if (Env(p.env).empty()) {
            printf("%s names the program %s\n", p.env, p.name);
            return DriverExit(1);
        }
    }
    // Where the timed builds write their figures, which they find in their
    // environment.
    const std::string times = Env("DRIVER_OUT").empty() ? "stage-times.txt" : Env("DRIVER_OUT") + "\\stage-times.txt";
    SetEnvironmentVariableA("SETUP_STAGE_TIMES", times.c_str());
    printf("install of the whole payload, Next on the destination page to \"Close\", %d runs of each program in turn\n",
           kRuns);
    printf("after: setup.exe, and setup_timed.exe (the same with the benchmark's timers)\n");
    printf("before: setup_sleeping.exe (with the timers; its pauses sleep, it answers no message while it installs)\n");
    printf("before: setup_direct.exe (each file written directly under its own name: no partial file, flush or "
           "rename)\n");
    printf("prescribed pacing: %lu ms\n", kPacingMs);
    printf("%-20s %4s %10s %16s %18s %22s %18s\n", "program", "run", "wall ms", "pacing alone ms", "install's own ms",
           "beyond prescribed ms", "slowest answer ms");
    int failed = 0, installs = 0;
    for (int i = 1; i <= kRuns; ++i) {
        for (Program& p : programs) {
            ++installs;
            const std::string dest = "C:\\bench-" + std::to_string(installs) + "\\CuratoNet";
            DeleteFileA(times.c_str());
            const double pacing = TimePacingAlone();
            double wall = 0, slowest = 0;
            std::string stopped;
            StageTimes stages;
            if (!InstallRun(Env(p.env)).Install(dest, &wall, &slowest, &stopped)) {
                printf("%-20s %4d stopped: %s\n", p.name, i, stopped.c_str());
                ++failed;
                continue;
            }
            if (p.timed && !ReadStageTimes(times, &stages)) {
                printf("%-20s %4d wrote no stage times to %s\n", p.name, i, times.c_str());
                ++failed;
                continue;
            }
            printf("%-20s %4d %10.0f %16.0f %18.0f %22.0f %18.0f\n", p.name, i, wall, pacing, wall - pacing,
                   wall - kPacingMs, slowest);
            p.walls.push_back(wall);
            p.pacings.push_back(pacing);
            p.own.push_back(wall - pacing);
            p.slowest.push_back(slowest);
            if (p.timed)
                p.stages.push_back(stages);
        }
    }
    printf("medians:\n");
    for (const Program& p : programs)
        if (!p.walls.empty())
            printf("%-20s %4s %10.0f %16.0f %18.0f %22.0f %18.0f\n", p.name, "", Median(p.walls), Median(p.pacings),
                   Median(p.own), Median(p.walls) - kPacingMs, Median(p.slowest));
    if (!programs[0].own.empty() && !programs[3].own.empty())
        printf("setup.exe - setup_direct.exe: %+.0f ms (medians of the install's own work: the partial file, its "
               "flush and the rename)\n", Median(programs[0].own) - Median(programs[3].own));
    if (!programs[1].stages.empty() && !programs[2].stages.empty())
        PrintBreakdown(programs[1], programs[2]);
    CloseStartedApp();
    printf("%d of %d installs completed\n", installs - failed, installs);
    return DriverExit(failed ? 1 : 0);
}
