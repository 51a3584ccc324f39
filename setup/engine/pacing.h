// The pauses of the installing page, kept to the millisecond: the system
// timer's resolution raised for the install's duration, and pauses that count
// the work done since they began (drawing a progress step) as part of them.
#pragma once

#include <windows.h>

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

// A pause that ends a fixed time after the object was made, so that the work
// done between making it and waiting on it is part of the pause rather than
// added to it.
class CPause {
public:
    explicit CPause(DWORD ms);
    // Returns when the time is up, at once when it already is.
    void Wait() const;

private:
    DWORD m_end;   // a timeGetTime value
};
