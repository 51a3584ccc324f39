// The install's pacing on a machine of the test's own: the performance
// counter, Sleep, the timer resolution calls and SendMessageA of this program
// are replaced, so that the pauses are checked against a clock that the test
// moves, with sleeps that end as early as the system lets them.
#include "pacing.h"

#include "../unit/zraise_check.h"

#include <commctrl.h>
#include <gtest/gtest.h>
#include <mmsystem.h>

#include <vector>

namespace {

// Real time in microseconds, and the system timer's tick: Windows' default
// 15.625 ms, 1 ms while the resolution is raised.
const ULONGLONG kDefaultTickUs = 15625;
const ULONGLONG kFineTickUs = 1000;
ULONGLONG gNowUs;
ULONGLONG gTickUs;

// The power-management timer's rate: counts that are no whole microseconds.
const LONGLONG kCounterHz = 3579545;
bool gHasCounter;

BOOL WINAPI FakeQueryPerformanceFrequency(LARGE_INTEGER* rate)
{
    rate->QuadPart = gHasCounter ? kCounterHz : 0;
    return gHasCounter;
}

BOOL WINAPI FakeQueryPerformanceCounter(LARGE_INTEGER* count)
{
    count->QuadPart = static_cast<LONGLONG>(gNowUs * kCounterHz / 1000000);
    return gHasCounter;
}

// As the system sleeps: the time asked is counted from the last tick, and the
// sleep ends at the first tick after that, up to a tick before the time asked.
void WINAPI FakeSleep(DWORD ms)
{
    if (ms == 0)
        return;
    const ULONGLONG due = gNowUs / gTickUs * gTickUs + ms * 1000ULL;
    gNowUs = (due + gTickUs - 1) / gTickUs * gTickUs;
}

MMRESULT gBeginResult;
std::vector<UINT> gBegun;
std::vector<UINT> gEnded;

MMRESULT WINAPI FakeBeginPeriod(UINT ms)
{
    gBegun.push_back(ms);
    if (gBeginResult == TIMERR_NOERROR)
        gTickUs = kFineTickUs;
    return gBeginResult;
}

MMRESULT WINAPI FakeEndPeriod(UINT ms)
{
    gEnded.push_back(ms);
    gTickUs = kDefaultTickUs;
    return TIMERR_NOERROR;
}

// A progress position takes a while to draw; it shows once drawn.
const ULONGLONG kDrawingUs = 2300;
struct Setting {
    WPARAM pos;
    ULONGLONG begunUs;
    ULONGLONG shownUs;
};
std::vector<Setting> gSettings;

LRESULT WINAPI FakeSendMessageA(HWND, UINT msg, WPARAM wp, LPARAM)
{
    if (msg == PBM_SETPOS) {
        const ULONGLONG begun = gNowUs;
        gNowUs += kDrawingUs;
        gSettings.push_back({wp, begun, gNowUs});
    }
    return 0;
}

// The three machines the setup may meet: the timer raised to 1 ms, the raise
// refused, and no performance counter at all.
struct Machine {
    const char* name;
    MMRESULT beginResult;
    bool hasCounter;
};
const Machine kMachines[] = {
    {"fine timer", TIMERR_NOERROR, true},
    {"fine timer refused", TIMERR_NOCANDO, true},
    {"no performance counter", TIMERR_NOCANDO, false},
};

class PacingTest : public testing::Test {
protected:
    PacingTest()
        : m_frequency("kernel32.dll", "QueryPerformanceFrequency",
                      reinterpret_cast<void*>(&FakeQueryPerformanceFrequency)),
          m_counter("kernel32.dll", "QueryPerformanceCounter", reinterpret_cast<void*>(&FakeQueryPerformanceCounter)),
          m_sleep("kernel32.dll", "Sleep", reinterpret_cast<void*>(&FakeSleep)),
          m_begin("winmm.dll", "timeBeginPeriod", reinterpret_cast<void*>(&FakeBeginPeriod)),
          m_end("winmm.dll", "timeEndPeriod", reinterpret_cast<void*>(&FakeEndPeriod)),
          m_send("user32.dll", "SendMessageA", reinterpret_cast<void*>(&FakeSendMessageA))
    {
    }
    void SetUp() override
    {
        for (const ZImportPatch* patch : {&m_frequency, &m_counter, &m_sleep, &m_begin, &m_end, &m_send})
            ASSERT_TRUE(patch->Installed());
    }
    // A machine whose clock stands at start, so that ticks fall at every phase.
    static void Boot(const Machine& machine, ULONGLONG startUs)
    {
        gNowUs = startUs;
        gTickUs = kDefaultTickUs;
        gHasCounter = machine.hasCounter;
        gBeginResult = machine.beginResult;
        gBegun.clear();
        gEnded.clear();
        gSettings.clear();
    }

private:
    ZImportPatch m_frequency;
    ZImportPatch m_counter;
    ZImportPatch m_sleep;
    ZImportPatch m_begin;
    ZImportPatch m_end;
    ZImportPatch m_send;
};

const ULONGLONG kStartsUs[] = {1000000, 1000400, 1000999, 1007000, 1015600};

// Each of the eleven positions shows a full 20 ms after it is drawn, the last
// one too, so one file's run lasts at least 220 ms; a pause overruns by at
// most what the timer's ticks make it.
TEST_F(PacingTest, EveryPositionShowsAFull20MsWithOrWithoutTheFineTimer)
{
    for (const Machine& machine : kMachines) {
        for (ULONGLONG startUs : kStartsUs) {
            SCOPED_TRACE(testing::Message() << machine.name << ", clock at " << startUs << " us");
            Boot(machine, startUs);
            CFineTimer fineTimer;
            RunProgressBar(NULL);
            const ULONGLONG endUs = gNowUs;
            ASSERT_EQ(11u, gSettings.size());
            const ULONGLONG slackUs = 2 * gTickUs + 1000 * (machine.hasCounter ? 0 : 16);
            for (size_t i = 0; i < gSettings.size(); ++i) {
                EXPECT_EQ(10 * i, gSettings[i].pos);
                const ULONGLONG nextUs = i + 1 < gSettings.size() ? gSettings[i + 1].begunUs : endUs;
                EXPECT_GE(nextUs - gSettings[i].shownUs, 20000u) << "position " << gSettings[i].pos;
                EXPECT_LT(nextUs - gSettings[i].shownUs, 20000u + slackUs) << "position " << gSettings[i].pos;
            }
            EXPECT_GE(endUs - gSettings.front().begunUs, 220000u);
        }
    }
}

// The wait before the completion texts is a full 250 ms on every machine.
TEST_F(PacingTest, TheCompletionWaitsAFull250MsWithOrWithoutTheFineTimer)
{
    for (const Machine& machine : kMachines) {
        for (ULONGLONG startUs : kStartsUs) {
            SCOPED_TRACE(testing::Message() << machine.name << ", clock at " << startUs << " us");
            Boot(machine, startUs);
            CFineTimer fineTimer;
            Pause(kCompletionPauseMs);
            EXPECT_GE(gNowUs - startUs, 250000u);
            EXPECT_LT(gNowUs - startUs, 250000u + 2 * gTickUs + 16000);
        }
    }
}

// The raise is asked for 1 ms, and only a raise the system granted is given
// back.
TEST_F(PacingTest, TheFineTimerGivesBackOnlyWhatItGot)
{
    for (const Machine& machine : kMachines) {
        SCOPED_TRACE(machine.name);
        Boot(machine, 0);
        {
            CFineTimer timer;
            EXPECT_EQ(std::vector<UINT>{1}, gBegun);
            EXPECT_TRUE(gEnded.empty());
        }
        EXPECT_EQ(machine.beginResult == TIMERR_NOERROR ? std::vector<UINT>{1} : std::vector<UINT>{}, gEnded);
    }
}

} // namespace
