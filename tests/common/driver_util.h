// Small helpers shared by the programs that drive setup.exe from outside.
#pragma once

#include <windows.h>

#include <cstdlib>
#include <string>

inline std::string Env(const char* name)
{
    const char* v = getenv(name);
    return v ? v : "";
}

// Polls pred until it holds or ms milliseconds have passed.
template <class Pred> bool WaitFor(Pred pred, DWORD ms = 10000)
{
    DWORD start = GetTickCount();
    while (!pred()) {
        if (GetTickCount() - start > ms)
            return false;
        Sleep(20);
    }
    return true;
}

inline int CountLines(const std::string& s)
{
    int n = 0;
    for (char c : s)
        n += c == '\n';
    return n;
}
