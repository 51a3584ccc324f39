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

// How long an answer may still arrive after its window has gone.
const DWORD kLateAnswerMs = 1000;

inline bool SendAndWait(HWND h, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result)
{
    return SendMessageTimeoutA(h, msg, wp, lp, SMTO_NORMAL, kPatience, result) != 0;
}

// One message on its way to a window of the setup, sent from a thread of its
// own. Held by the driver's thread and the sending thread; the last one to
// let go deletes it.
struct PatientSend {
    HWND to;
    UINT msg;
    WPARAM wp;
    LPARAM lp;
    DWORD_PTR result;
    bool answered;
    HANDLE done;
    LONG holders;
};

inline void LetGo(PatientSend* s)
{
    if (InterlockedDecrement(&s->holders) == 0) {
        CloseHandle(s->done);
        delete s;
    }
}

inline DWORD WINAPI PatientSendThread(LPVOID param)
{
    PatientSend* s = static_cast<PatientSend*>(param);
    s->answered = SendAndWait(s->to, s->msg, s->wp, s->lp, &s->result);
    SetEvent(s->done);
    LetGo(s);
    return 0;
}

// The message sent from a thread of its own, or null when no thread could be
// started.
inline PatientSend* StartPatientSend(HWND h, UINT msg, WPARAM wp, LPARAM lp)
{
    HANDLE done = CreateEventA(NULL, TRUE, FALSE, NULL);
    if (!done)
        return nullptr;
    PatientSend* s = new PatientSend{h, msg, wp, lp, 0, false, done, 2};
    HANDLE thread = CreateThread(NULL, 0, PatientSendThread, s, 0, NULL);
    if (!thread) {
        CloseHandle(done);
        delete s;
        return nullptr;
    }
    CloseHandle(thread);
    return s;
}

// Sends a message to a window of the setup and waits for the answer as long as
// for anything else: a setup slowed by a loaded machine is waited for, where
// a short timeout would drop the message. False when no answer came.
//
// The answer is waited for only while the window is there. Wine drops without
// an answer a message that reaches the setup after its window was destroyed
// (a page that a posted Next replaces while the driver reads its title), and
// the send would wait out its whole time while the setup answers everything
// else. So the message goes from a thread of its own, left to run out alone
// once the window is gone. An answer given just before the window went is
// still on its way then, and would write into the caller's buffer after the
// caller has returned: it is waited for a while longer (kLateAnswerMs), far
// longer than an answer takes to arrive.
inline bool SendPatiently(HWND h, UINT msg, WPARAM wp, LPARAM lp, DWORD_PTR* result = nullptr)
{
    DWORD_PTR r = 0;
    bool answered;
    if (PatientSend* s = StartPatientSend(h, msg, wp, lp)) {
        while (WaitForSingleObject(s->done, 10) == WAIT_TIMEOUT && IsWindow(h))
            continue;
        answered = WaitForSingleObject(s->done, kLateAnswerMs) == WAIT_OBJECT_0 && s->answered;
        r = answered ? s->result : 0;
        LetGo(s);
    } else {
        answered = SendAndWait(h, msg, wp, lp, &r);
    }
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

// Wine ends its desktop a second after the count of threads using it has
// fallen to the thread count of the desktop's own shell process. Once that
// shell has started a program for a setup it keeps helper threads, so a
// driver with few threads of its own can see the desktop, and itself, ended
// between two setups. Idle threads raise the driver's count above the
// shell's for as long as the driver runs.
inline DWORD WINAPI IdleThread(LPVOID)
{
    Sleep(INFINITE);
    return 0;
}

inline void HoldWineDesktop()
{
    for (int i = 0; i < 16; ++i)
        if (HANDLE t = CreateThread(nullptr, 0, IdleThread, nullptr, 0, nullptr))
            CloseHandle(t);
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
