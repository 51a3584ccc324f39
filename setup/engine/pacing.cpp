#include "pacing.h"

#include <mmsystem.h>

static const UINT kFinestMs = 1;

CFineTimer::CFineTimer() : m_raised(timeBeginPeriod(kFinestMs) == TIMERR_NOERROR) {}

CFineTimer::~CFineTimer()
{
    if (m_raised)
        timeEndPeriod(kFinestMs);
}

CPause::CPause(DWORD ms) : m_end(timeGetTime() + ms) {}

// The time left is a signed difference, so that the millisecond count's wrap
// after 49.7 days neither ends a pause early nor makes it endless. A sleep
// that ends early is followed by another.
void CPause::Wait() const
{
    for (LONG left; (left = static_cast<LONG>(m_end - timeGetTime())) > 0;)
        Sleep(static_cast<DWORD>(left));
}
