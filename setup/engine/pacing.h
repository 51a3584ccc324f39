// The pauses of the installing page, never shorter than they say: each
// progress position shows for a full 20 ms after it is set, and the
// completion waits a full 250 ms, whatever the system timer's resolution.
#pragma once

#include <windows.h>

// How long each of a progress run's eleven positions shows, and the wait
// before the completion texts.
const DWORD kProgressStepMs = 20;
const DWORD kCompletionPauseMs = 250;

// Raises the system timer's resolution to 1 ms for as long as it lives. At
// Windows' default 15.6 ms a 20 ms pause ends only at the second tick, after
// about 31 ms. A raise the system refuses is not given back.
class CFineTimer {
public:
    CFineTimer();
    ~CFineTimer();
    CFineTimer(const CFineTimer&) = delete;
    CFineTimer& operator=(const CFineTimer&) = delete;

private:
    bool m_raised;
};

// Returns no sooner than ms milliseconds after it was called; meanwhile it
// answers the messages sent to the setup's windows (answering.h).
void Pause(DWORD ms);

// Runs a progress bar from empty to full: positions 0, 10, ..., 100, each set
// and then shown for a full kProgressStepMs, so that one run lasts at least
// 220 ms.
void RunProgressBar(HWND bar);
