#include "pacing.h"

#include <commctrl.h>
#include <mmsystem.h>

static const UINT kFinestMs = 1;
// The longest a system timer tick lasts (15.625 ms), rounded up.
static const DWORD kCoarsestTickMs = 16;

CFineTimer::CFineTimer() : m_raised(timeBeginPeriod(kFinestMs) == TIMERR_NOERROR) {}

CFineTimer::~CFineTimer()
{
    if (m_raised)
        timeEndPeriod(kFinestMs);
}

// A sleep is counted from the last timer tick, so it may end up to a tick
// before the time asked. The pause therefore measures itself with the
// performance counter, whose steps are far finer than any tick, and sleeps a
// millisecond more at a time until its time is up. A machine without that
// counter (the call may say so, though every PC's timer chip provides one)
// sleeps a tick longer instead, which no tick can cut below the time asked.
void Pause(DWORD ms)
{
    LARGE_INTEGER perSecond, start;
    if (!QueryPerformanceFrequency(&perSecond) || perSecond.QuadPart <= 0) {
        Sleep(ms + kCoarsestTickMs);
        return;
    }
    QueryPerformanceCounter(&start);
    // Counts times 1000, so that no count is lost to rounding.
    const ULONGLONG due = static_cast<ULONGLONG>(perSecond.QuadPart) * ms;
    const auto over = [&] {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<ULONGLONG>(now.QuadPart - start.QuadPart) * 1000 >= due;
    };
    for (Sleep(ms); !over();)
        Sleep(1);
}

void RunProgressBar(HWND bar)
{
    for (int pos = 0; pos <= 100; pos += 10) {
        SendMessageA(bar, PBM_SETPOS, pos, 0);
        Pause(kProgressStepMs);
    }
}
