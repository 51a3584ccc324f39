#include "pacing.h"

#include "answering.h"

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

// A wait is counted from the last timer tick, so it may end up to a tick
// before the time asked; and a sent message ends it early. The pause therefore
// measures itself with the performance counter, whose steps are far finer than
// any tick, and waits for what is left until its time is up. A machine without
// that counter (the call may say so, though every PC's timer chip provides
// one) measures with the multimedia timer's millisecond count and waits a tick
// longer, which no tick can cut below the time asked.
namespace {
class CPauseClock {
public:
    explicit CPauseClock(DWORD ms);
    // The whole milliseconds still to wait, rounded up; 0 once the time is up.
    DWORD MsLeft() const;

private:
    LARGE_INTEGER m_perSecond;
    LARGE_INTEGER m_start;
    bool m_counted;
    DWORD m_ms;
    DWORD m_startMs;
};
} // namespace

CPauseClock::CPauseClock(DWORD ms) : m_start(), m_counted(false), m_ms(ms), m_startMs(0)
{
    m_counted = QueryPerformanceFrequency(&m_perSecond) && m_perSecond.QuadPart > 0;
    if (m_counted) {
        QueryPerformanceCounter(&m_start);
    } else {
        m_ms += kCoarsestTickMs;
        m_startMs = timeGetTime();
    }
}

DWORD CPauseClock::MsLeft() const
{
    if (!m_counted) {
        const DWORD passed = timeGetTime() - m_startMs;
        return passed >= m_ms ? 0 : m_ms - passed;
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    // Counts times 1000, so that no count is lost to rounding.
    const ULONGLONG perSecond = static_cast<ULONGLONG>(m_perSecond.QuadPart);
    const ULONGLONG passed = static_cast<ULONGLONG>(now.QuadPart - m_start.QuadPart) * 1000;
    const ULONGLONG due = perSecond * m_ms;
    return passed >= due ? 0 : static_cast<DWORD>((due - passed + perSecond - 1) / perSecond);
}

// The queue is looked at as the pause begins when a look is due, whether or
// not anything was sent, so that the system sees the setup respond all
// through the install.
void Pause(DWORD ms)
{
    const CPauseClock clock(ms);
    LookWhenDue();
    for (DWORD left = clock.MsLeft(); left > 0; left = clock.MsLeft())
        WaitAnswering(left);
}

void RunProgressBar(HWND bar)
{
    for (int pos = 0; pos <= 100; pos += 10) {
        SendMessageA(bar, PBM_SETPOS, pos, 0);
        Pause(kProgressStepMs);
    }
}
