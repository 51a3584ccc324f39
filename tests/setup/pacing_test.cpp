// The install's pacing against a clock of the test's own: timeGetTime and
// Sleep of this program are replaced, so the pauses are checked by what they
// ask for, not by how long they took.
#include "pacing.h"

#include "../unit/zraise_check.h"

#include <gtest/gtest.h>
#include <mmsystem.h>

#include <vector>

namespace {

DWORD gClock;
std::vector<DWORD> gSleeps;
DWORD gShortfall;   // how much earlier than asked the next sleep ends

DWORD WINAPI FakeTimeGetTime()
{
    return gClock;
}

void WINAPI FakeSleep(DWORD ms)
{
    gSleeps.push_back(ms);
    gClock += ms - gShortfall;
    gShortfall = 0;
}

class PauseTest : public testing::Test {
protected:
    PauseTest()
        : m_clock("winmm.dll", "timeGetTime", reinterpret_cast<void*>(&FakeTimeGetTime)),
          m_sleep("kernel32.dll", "Sleep", reinterpret_cast<void*>(&FakeSleep))
    {
        gClock = 1000;
        gSleeps.clear();
        gShortfall = 0;
    }
    void SetUp() override
    {
        ASSERT_TRUE(m_clock.Installed());
        ASSERT_TRUE(m_sleep.Installed());
    }

private:
    ZImportPatch m_clock;
    ZImportPatch m_sleep;
};

TEST_F(PauseTest, TheWorkBeforeTheWaitIsPartOfThePause)
{
    CPause pause(20);
    gClock += 3;   // drawing a progress step
    pause.Wait();
    EXPECT_EQ(std::vector<DWORD>{17}, gSleeps);
    EXPECT_EQ(1020u, gClock);

    // Work that outlasts the pause adds no sleep at all.
    CPause late(20);
    gClock += 25;
    late.Wait();
    EXPECT_EQ(1u, gSleeps.size());
}

TEST_F(PauseTest, ASleepThatEndsEarlyIsFollowedByAnother)
{
    CPause pause(20);
    gShortfall = 5;
    pause.Wait();
    EXPECT_EQ((std::vector<DWORD>{20, 5}), gSleeps);
    EXPECT_EQ(1020u, gClock);
}

TEST_F(PauseTest, TheMillisecondCountMayWrapDuringAPause)
{
    gClock = 0xFFFFFFF6;   // ten before the wrap
    CPause pause(20);
    gClock += 4;
    pause.Wait();
    EXPECT_EQ(std::vector<DWORD>{16}, gSleeps);
    EXPECT_EQ(10u, gClock);
}

// Eleven steps of 20 ms, each with 2 ms of drawing, last 220 ms in all.
TEST_F(PauseTest, AFileStepRunTakesItsPrescribedTimeWithTheDrawingInside)
{
    for (int step = 0; step < 11; ++step) {
        CPause pause(20);
        gClock += 2;
        pause.Wait();
    }
    EXPECT_EQ(1220u, gClock);
}

std::vector<UINT> gBegun;
std::vector<UINT> gEnded;
MMRESULT gBeginResult;

MMRESULT WINAPI FakeBeginPeriod(UINT ms)
{
    gBegun.push_back(ms);
    return gBeginResult;
}

MMRESULT WINAPI FakeEndPeriod(UINT ms)
{
    gEnded.push_back(ms);
    return TIMERR_NOERROR;
}

TEST(CFineTimer, RaisesToOneMillisecondAndGivesBackOnlyWhatItGot)
{
    ZImportPatch begin("winmm.dll", "timeBeginPeriod", reinterpret_cast<void*>(&FakeBeginPeriod));
    ZImportPatch end("winmm.dll", "timeEndPeriod", reinterpret_cast<void*>(&FakeEndPeriod));
    ASSERT_TRUE(begin.Installed());
    ASSERT_TRUE(end.Installed());
    for (MMRESULT result : {TIMERR_NOERROR, TIMERR_NOCANDO}) {
        SCOPED_TRACE(result);
        gBegun.clear();
        gEnded.clear();
        gBeginResult = result;
        {
            CFineTimer timer;
            EXPECT_EQ(std::vector<UINT>{1}, gBegun);
            EXPECT_TRUE(gEnded.empty());
        }
        EXPECT_EQ(result == TIMERR_NOERROR ? std::vector<UINT>{1} : std::vector<UINT>{}, gEnded);
    }
}

} // namespace
