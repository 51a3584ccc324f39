// Small helpers shared by the programs that drive setup.exe from outside.
#pragma once

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

inline std::string Env(const char* name)
{
    const char* v = getenv(name);
    return v ? v : "";
}

// How long a driver waits for what it expects to happen: long enough for a
// machine loaded with other test runs, bounded so that a hang still fails.
const DWORD kPatience = 60000;

// Polls pred until it holds or ms milliseconds have passed.
template <class Pred> bool WaitFor(Pred pred, DWORD ms = kPatience)
{
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(20);
    }
    return true;
}

// Sends a message to a window of the setup and waits for the answer as long as
// for anything else: a setup slowed by a loaded machine is waited for, where
// a short timeout would drop the message. False when no answer came.
inline bool SendPatiently(HWND h, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result = nullptr)
{
    DWORD_PTR r = 0;
    const bool answered = SendMessageTimeoutA(h, msg, wp, lp, SMTO_NORMAL, kPatience, &r) != 0;
    if (result)
        *result = r;
    return answered;
}

inline int CountLines(const std::string& s)
{
    int n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}

// Under Wine's desktop a driver has no console: its output goes to driver.log
// in the folder DRIVER_OUT, and its exit code to driver.log.rc beside it, which
// tells the wrapper script (tests/common/run-in-desktop.sh) that it is done.
inline std::string DriverLogPath()
{
    const std::string out = Env("DRIVER_OUT");
    return out.empty() ? out : out + "\\driver.log";
}

inline void DriverOutputToLog()
{
    if (DriverLogPath().empty())
        return;
    freopen(DriverLogPath().c_str(), "w", stdout);
    setvbuf(stdout, NULL, _IONBF, 0);
}

inline int DriverExit(int rc)
{
    if (DriverLogPath().empty())
        return rc;
    if (FILE* f = fopen((DriverLogPath() + ".rc").c_str(), "w")) {
        fprintf(f, "%d\n", rc);
        fclose(f);
    }
    return rc;
}
