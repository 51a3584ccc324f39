// The install's pacing on a machine of the test's own: the performance
// counter, the waits for sent messages and the looks at the queue, the timer
// calls and SendMessageA of this program are replaced, so that the pauses are
// checked against a clock that the test moves, with waits that end as early as
// the system lets them and messages that other programs send at set times.
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

// The multimedia timer's count, which moves at each tick.
DWORD WINAPI FakeTimeGetTime()
{
    return static_cast<DWORD>(gNowUs / gTickUs * gTickUs / 1000);
}

// Messages other programs send to the setup's windows: when each arrives, and
// when the setup answered it (0: not yet).
struct Sent {
    ULONGLONG arrivesUs;
    ULONGLONG answeredUs;
};
std::vector<Sent> gSent;
// The times the queue was looked at.
std::vector<ULONGLONG> gLooksUs;

bool SentWaiting()
{
    for (const Sent& m : gSent)
        if (m.arrivesUs <= gNowUs && !m.answeredUs)
            return true;
    return false;
}

// A look answers every message that has arrived.
BOOL WINAPI FakePeekMessageA(MSG*, HWND, UINT, UINT, UINT flags)
{
    EXPECT_EQ(static_cast<UINT>(PM_NOREMOVE), flags) << "a look took a message off the queue";
    gLooksUs.push_back(gNowUs);
    for (Sent& m : gSent)
        if (m.arrivesUs <= gNowUs && !m.answeredUs)
            m.answeredUs = gNowUs;
    return FALSE;
}

// As the system waits: the time asked is counted from the last tick, and the
// wait ends at the first tick after that, up to a tick before the time asked;
// unless a message is sent before then, which ends it at once.
DWORD WINAPI FakeMsgWaitForMultipleObjects(DWORD, const HANDLE*, BOOL, DWORD ms, DWORD wakeMask)
{
    EXPECT_EQ(static_cast<DWORD>(QS_SENDMESSAGE), wakeMask) << "the wait wakes for more than sent messages";
    if (SentWaiting())
        return WAIT_OBJECT_0;
    const ULONGLONG due = gNowUs / gTickUs * gTickUs + ms * 1000ULL;
    const ULONGLONG endUs = (due + gTickUs - 1) / gTickUs * gTickUs;
    for (const Sent& m : gSent) {
        if (m.arrivesUs > gNowUs && m.arrivesUs < endUs) {
            gNowUs = m.arrivesUs;
            return WAIT_OBJECT_0;
        }
    }
    gNowUs = endUs;
    return WAIT_TIMEOUT;
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
          m_wait("user32.dll", "MsgWaitForMultipleObjects",
                 reinterpret_cast<void*>(&FakeMsgWaitForMultipleObjects)),
          m_peek("user32.dll", "PeekMessageA", reinterpret_cast<void*>(&FakePeekMessageA)),
          m_begin("winmm.dll", "timeBeginPeriod", reinterpret_cast<void*>(&FakeBeginPeriod)),
          m_end("winmm.dll", "timeEndPeriod", reinterpret_cast<void*>(&FakeEndPeriod)),
          m_time("winmm.dll", "timeGetTime", reinterpret_cast<void*>(&FakeTimeGetTime)),
          m_send("user32.dll", "SendMessageA", reinterpret_cast<void*>(&FakeSendMessageA))
    {
    }
    void SetUp() override
    {
        for (const ZImportPatch* patch : {&m_frequency, &m_counter, &m_wait, &m_peek, &m_begin, &m_end, &m_time,
                                          &m_send})
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
        gSent.clear();
        gLooksUs.clear();
    }

private:
    ZImportPatch m_frequency;
    ZImportPatch m_counter;
    ZImportPatch m_wait;
    ZImportPatch m_peek;
    ZImportPatch m_begin;
    ZImportPatch m_end;
    ZImportPatch m_time;
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
            // The queue is looked at though nothing was sent, as the first
            // pause begins and then at least every 100 ms and a pause: the
            // looks tell the system the setup still responds.
            ASSERT_FALSE(gLooksUs.empty());
            EXPECT_EQ(gSettings.front().shownUs, gLooksUs.front());
            gLooksUs.push_back(endUs);
            for (size_t i = 1; i < gLooksUs.size(); ++i)
                EXPECT_LE(gLooksUs[i] - gLooksUs[i - 1], 120000u + slackUs) << "look " << i;
        }
    }
}

// Messages sent to the setup while it paces itself are answered as they come,
// or, when one comes while a position is drawn, as the next pause begins; and
// a pause woken by them still lasts its whole time.
TEST_F(PacingTest, SentMessagesAreAnsweredAtOnceAndThePausesKeepTheirLength)
{
    for (const Machine& machine : kMachines) {
        for (ULONGLONG startUs : kStartsUs) {
            SCOPED_TRACE(testing::Message() << machine.name << ", clock at " << startUs << " us");
            Boot(machine, startUs);
            for (ULONGLONG atUs = startUs + 3000; atUs < startUs + 600000; atUs += 7300)
                gSent.push_back({atUs, 0});
            CFineTimer fineTimer;
            RunProgressBar(NULL);
            const ULONGLONG runEndUs = gNowUs;
            Pause(kCompletionPauseMs);
            EXPECT_GE(gNowUs - runEndUs, 250000u);
            ASSERT_EQ(11u, gSettings.size());
            for (size_t i = 0; i < gSettings.size(); ++i) {
                const ULONGLONG nextUs = i + 1 < gSettings.size() ? gSettings[i + 1].begunUs : runEndUs;
                EXPECT_GE(nextUs - gSettings[i].shownUs, 20000u) << "position " << gSettings[i].pos;
            }
            for (const Sent& m : gSent) {
                if (m.arrivesUs > gNowUs)
                    break;
                ASSERT_NE(0u, m.answeredUs) << "sent at " << m.arrivesUs << " us";
                EXPECT_LE(m.answeredUs - m.arrivesUs, kDrawingUs) << "sent at " << m.arrivesUs << " us";
            }
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
