// Start-up of setup.exe against its floor, a bare Win32 program that shows one
// dialog from a template: the time from CreateProcess until the program waits
// for input with its first page showing (the welcome page; the floor's
// dialog), and its peak working set by then. A build of setup.exe without
// the check of its own file at start-up is started too, so that the check's
// cost shows beside the rest, and the check is also timed alone. The three
// are started in turn, after one warm-up start each, under the same Wine
// desktop; prints every run, the best and the median of each, setup's ratios
// to the floor and its difference to the unchecked build.
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "driver_util.h"
#include "selfcheck.h"
#include "setup_process.h"

namespace {

const int kRuns = 9;
const double kMB = 1024.0 * 1024.0;

struct Sample {
    double ms;
    double peakMB;
};

// The wizard's page is its child dialog; the page's first control, the group
// box, carries the page's title.
bool SetupShowsWelcome(DWORD pid)
{
    HWND wizard = setupwatch::FindTopLevel(pid, "Setup Wizard", nullptr);
    for (HWND c = wizard ? GetWindow(wizard, GW_CHILD) : NULL; c; c = GetWindow(c, GW_HWNDNEXT)) {
        char cls[16] = "", title[32] = "";
        GetClassNameA(c, cls, sizeof cls);
        GetWindowTextA(GetWindow(c, GW_CHILD), title, sizeof title);
        if (strcmp(cls, "#32770") == 0 && IsWindowVisible(c) && strcmp(title, "Welcome") == 0)
            return true;
    }
    return false;
}

bool FloorShowsDialog(DWORD pid)
{
    return setupwatch::FindTopLevel(pid, "Start-up floor", nullptr) != NULL;
}

struct Target {
    const char* name;
    std::string exe;
    bool (*ready)(DWORD pid);
};

double Now()
{
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

// One start; false, with where it stopped, when the program did not come up
// within the patience. The program waits for input first; its first page is
// then normally showing already, else it is polled for.
bool StartOnce(const Target& target, Sample* sample, std::string* stopped)
{
    std::string cmd = "\"" + target.exe + "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    const double start = Now();
    if (!CreateProcessA(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi)) {
        *stopped = "it did not start (error " + std::to_string(GetLastError()) + ")";
        return false;
    }
    WaitForInputIdle(pi.hProcess, kPatience);
    DWORD ended = STILL_ACTIVE;
    const bool up = WaitFor([&] {
        return target.ready(pi.dwProcessId) || (GetExitCodeProcess(pi.hProcess, &ended) && ended != STILL_ACTIVE);
    }) && ended == STILL_ACTIVE;
    sample->ms = 1000.0 * (Now() - start);
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    const bool measured = GetProcessMemoryInfo(pi.hProcess, &pmc, sizeof pmc) != FALSE;
    sample->peakMB = pmc.PeakWorkingSetSize / kMB;
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, kPatience);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    if (ended != STILL_ACTIVE)
        *stopped = "it ended with code " + std::to_string(ended) + " before its first page showed";
    else if (!up)
        *stopped = "its first page did not show within " + std::to_string(kPatience) + " ms";
    else if (!measured)
        *stopped = "its peak working set could not be read";
    return up && measured;
}

double Best(std::vector<double> v)
{
    return *std::min_element(v.begin(), v.end());
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Report(const std::vector<Sample>& floor, const std::vector<Sample>& setup,
            const std::vector<Sample>& unchecked)
{
    std::vector<double> floorMs, setupMs, uncheckedMs, floorMB, setupMB;
    printf("%-7s %10s %10s %13s %15s %15s\n", "run", "floor ms", "setup ms", "unchecked ms",
           "floor peak MB", "setup peak MB");
    for (size_t i = 0; i < floor.size(); ++i) {
        printf("%-7d %10.1f %10.1f %13.1f %15.2f %15.2f\n", static_cast<int>(i + 1), floor[i].ms,
               setup[i].ms, unchecked[i].ms, floor[i].peakMB, setup[i].peakMB);
        floorMs.push_back(floor[i].ms);
        setupMs.push_back(setup[i].ms);
        uncheckedMs.push_back(unchecked[i].ms);
        floorMB.push_back(floor[i].peakMB);
        setupMB.push_back(setup[i].peakMB);
    }
    printf("%-7s %10.1f %10.1f %13.1f %15.2f %15.2f\n", "best", Best(floorMs), Best(setupMs),
           Best(uncheckedMs), Best(floorMB), Best(setupMB));
    printf("%-7s %10.1f %10.1f %13.1f %15.2f %15.2f\n", "median", Median(floorMs), Median(setupMs),
           Median(uncheckedMs), Median(floorMB), Median(setupMB));
    printf("setup / floor: time %.2f (best), %.2f (median); peak working set %.2f (best), "
           "%.2f (median)\n",
           Best(setupMs) / Best(floorMs), Median(setupMs) / Median(floorMs),
           Best(setupMB) / Best(floorMB), Median(setupMB) / Median(floorMB));
    printf("setup - unchecked (the check of its own file): %+.1f ms (best), %+.1f ms (median)\n",
           Best(setupMs) - Best(uncheckedMs), Median(setupMs) - Median(uncheckedMs));
}

// The check of setup.exe's own file alone, as it runs at start-up, timed in
// this process on the same file: every run after the first finds the file
// in the system's cache, as a start does.
void ReportCheck(const std::string& exe)
{
    std::vector<double> ms;
    bool whole = true;
    for (int i = 0; i <= kRuns; ++i) {
        const double start = Now();
        whole = ProgramFileIsWhole(exe.c_str()) && whole;
        if (i > 0)
            ms.push_back(1000.0 * (Now() - start));
    }
    printf("the check alone on setup.exe: %.2f ms (best), %.2f ms (median) of %d; the file %s\n",
           Best(ms), Median(ms), kRuns, whole ? "is whole" : "is NOT whole");
}

} // namespace

int main()
{
    DriverOutputToLog();
    const Target floorTarget = {"floor", Env("FLOOR_EXE"), FloorShowsDialog};
    const Target setupTarget = {"setup", Env("SETUP_EXE"), SetupShowsWelcome};
    const Target uncheckedTarget = {"unchecked", Env("SETUP_UNCHECKED_EXE"), SetupShowsWelcome};
    if (floorTarget.exe.empty() || setupTarget.exe.empty() || uncheckedTarget.exe.empty()) {
        printf("FLOOR_EXE, SETUP_EXE and SETUP_UNCHECKED_EXE name the three programs\n");
        return DriverExit(1);
    }
    printf("start-up until the first page shows and waits for input, %d starts each in turn;\n"
           "unchecked: setup.exe built without the check of its own file\n",
           kRuns);
    std::vector<Sample> floor, setup, unchecked;
    Sample sample;
    std::string stopped;
    for (int i = 0; i <= kRuns; ++i) {
        for (const Target* target : {&floorTarget, &setupTarget, &uncheckedTarget}) {
            if (!StartOnce(*target, &sample, &stopped)) {
                printf("%s, %s: %s\n", target->name, i ? ("start " + std::to_string(i)).c_str() : "warm-up start",
                       stopped.c_str());
                return DriverExit(1);
            }
            if (i > 0)   // the first start of each only warms up
                (target == &floorTarget ? floor : target == &setupTarget ? setup : unchecked).push_back(sample);
        }
    }
    Report(floor, setup, unchecked);
    ReportCheck(setupTarget.exe);
    return DriverExit(0);
}
