#include "trace_capture.h"
#include "zmutex.h"
#include "ztrace.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <climits>

namespace {

// Takes the channel list away while it lives, as if no channel existed.
class NoChannels {
public:
    NoChannels() : head(gTraceChannels), count(gTraceChannelCount)
    {
        gTraceChannels = nullptr;
        gTraceChannelCount = 0;
    }
    ~NoChannels()
    {
        gTraceChannels = head;
        gTraceChannelCount = count;
    }

private:
    ZTraceChannel* head;
    int count;
};

DWORD WINAPI ReadThreadTag(void* result)
{
    *static_cast<std::string*>(result) = CurrentThreadTag().c_str();
    return 0;
}

std::string TagOfAnotherThread()
{
    std::string tag;
    HANDLE thread = CreateThread(nullptr, 0, ReadThreadTag, &tag, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    return tag;
}

} // namespace

TEST(ZTraceHeader, PrefixOfAKnownProcessTimeAndChannel)
{
    // Year, month, weekday, day, hour, minute, second, milliseconds.
    const SYSTEMTIME march5 = {2026, 3, 4, 5, 9, 5, 0, 42};
    EXPECT_STREQ("234   |0305|090500.042|        |0|",
                 gRootTraceChannel.Prefix(ZPidTag(1234) + CurrentThreadTag(), march5, "0"));

    const SYSTEMTIME newYearsEve = {2026, 12, 4, 31, 23, 59, 59, 999};
    EXPECT_STREQ("000   |1231|235959.999|ZMutex  |8|",
                 gMutexTraceChannel->Prefix(ZPidTag(1000) + "   ", newYearsEve, "8"));

    EXPECT_STREQ("000", ZPidTag(1000));
    EXPECT_STREQ("999", ZPidTag(999));
    EXPECT_STREQ("007", ZPidTag(7));
    EXPECT_STREQ("234", ZPidTag(-1234));
    EXPECT_STREQ("648", ZPidTag(INT_MIN));   // 2147483648 without overflow

#ifdef _WIN64
    EXPECT_STREQ("0x0000000000ABCDEF", ZPointerText(reinterpret_cast<void*>(0xABCDEF)));
    EXPECT_STREQ("0x1234567800ABCDEF", ZPointerText(reinterpret_cast<void*>(0x1234567800ABCDEFull)));
    EXPECT_STREQ("0x0000000000000000", ZPointerText(nullptr));
#else
    EXPECT_STREQ("0x00ABCDEF", ZPointerText(reinterpret_cast<void*>(0xABCDEF)));
    EXPECT_STREQ("0x00000000", ZPointerText(nullptr));
#endif
}

TEST(ZTraceChannel, ChannelsOfTheProcessInBuildOrder)
{
    ASSERT_EQ(5, gTraceChannelCount);
    const char* const newestFirst[] = {"ZSockSem", "ZUser   ", "ZProcess", "        ", "ZMutex  "};
    const ZTraceChannel* const expected[] = {gSockSemTraceChannel, gUserTraceChannel,
                                             gProcessTraceChannel, &gRootTraceChannel,
                                             gMutexTraceChannel};
    const ZTraceChannel* c = gTraceChannels;
    const ZTraceChannel* newer = nullptr;
    for (int i = 0; i < 5; ++i, newer = c, c = c->next) {
        ASSERT_NE(nullptr, c);
        EXPECT_EQ(expected[i], c);
        EXPECT_STREQ(newestFirst[i], c->name);
        EXPECT_EQ(0, c->level);
        EXPECT_EQ(newer, c->prev);
        EXPECT_EQ(OwnPidTag(), c->pidTag.c_str());
        EXPECT_TRUE(c->fixedTag.IsEmpty());
    }
    EXPECT_EQ(nullptr, c);

    ZTraceChannel longName("LongerThanEight", 0);
    EXPECT_STREQ("LongerThanEight", longName.name);
}

TEST(ZTraceChannel, LevelInheritanceAndListUpkeep)
{
    {
        NoChannels none;
        ZTraceChannel first("First", -1);
        EXPECT_EQ(0, first.level);
        EXPECT_EQ(&first, gTraceChannels);
        EXPECT_EQ(1, gTraceChannelCount);
    }

    ZTraceChannel* const head = gTraceChannels;
    const int count = gTraceChannelCount;
    {
        ZTraceChannel five("Five", 5);
        ZTraceChannel inheriting("Inherit", -1);
        EXPECT_EQ(5, five.level);
        EXPECT_EQ(5, inheriting.level);
        EXPECT_EQ(count + 2, gTraceChannelCount);

        // Unlinking from the middle of the list joins the neighbours.
        auto* middle = new ZTraceChannel("Middle", 3);
        ZTraceChannel newest("Newest", -1);
        EXPECT_EQ(3, newest.level);
        delete middle;
        EXPECT_EQ(&inheriting, newest.next);
        EXPECT_EQ(&newest, inheriting.prev);
    }
    EXPECT_EQ(head, gTraceChannels);
    EXPECT_EQ(count, gTraceChannelCount);
    EXPECT_EQ(nullptr, head->prev);
    ZTraceChannel after("After", -1);
    EXPECT_EQ(0, after.level);
}

TEST(ZTraceChannel, LastChannelGoneReleasesTheTraceLock)
{
    NoChannels none;
    const int mutexes = gLiveMutexCount;
    {
        ZTraceChannel only("Only", 0);
        gTraceLock = new ZThreadMutex(true);
    }
    EXPECT_EQ(nullptr, gTraceLock);
    EXPECT_EQ(mutexes, gLiveMutexCount);
}

TEST(ZTrace, WritesOnlyMessagesTheChannelLevelReaches)
{
    TraceCapture capture;
    EXPECT_EQ(-1, TraceLevel(nullptr));
    EXPECT_EQ(0, TraceLevel(&gRootTraceChannel));

    ZTrace(&gRootTraceChannel, 8, "level eight");
    ZTrace(nullptr, 0, "no channel");
    ZTrace(nullptr, -1, "no channel either");
    ZTrace(&gRootTraceChannel, 0, "level zero");
    gTraceLock = new ZThreadMutex(true);
    ZTrace(gProcessTraceChannel, 0, "under the trace lock");
    delete gTraceLock;
    gTraceLock = nullptr;

    const std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(2u, lines.size());
    // tag|MMDD|HHMMSS.mmm|name|level|message
    const std::string& first = lines[0];
    ASSERT_EQ(34u + 11u, first.size());
    EXPECT_EQ(OwnPidTag() + "   |", first.substr(0, 7));
    EXPECT_EQ('|', first[11]);
    EXPECT_EQ('.', first[18]);
    EXPECT_EQ("|        |0|level zero\n", first.substr(22));
    EXPECT_EQ("|ZProcess|0|under the trace lock\n", lines[1].substr(22));

    // With no channel left, Header writes nothing.
    {
        NoChannels none;
        EXPECT_EQ(gTraceSink, gRootTraceChannel.Header("0"));
    }
    EXPECT_EQ(2u, capture.Lines().size());
}

TEST(ZTraceThreadTag, RegisteredThreadsCarryTheirTag)
{
    EXPECT_STREQ("   ", CurrentThreadTag());
    ZThread self = {GetCurrentThreadId(), "main7"};
    ZThread other = {GetCurrentThreadId() + 1, "x"};
    ZRegisterThread(&other);
    ZRegisterThread(&self);
    EXPECT_STREQ("main7", CurrentThreadTag());
    EXPECT_EQ(OwnPidTag() + "main7", gRootTraceChannel.WriterTag().c_str());
    EXPECT_EQ("   ", TagOfAnotherThread());

    ZTraceChannel fixed("Fixed", 0);
    fixed.fixedTag = "FIXED";
    EXPECT_STREQ("FIXED", fixed.WriterTag());

    ZUnregisterThread(&other);
    EXPECT_STREQ("main7", CurrentThreadTag());
    EXPECT_EQ(1, gThreadRegistry.GetCount());
    ZUnregisterThread(&self);
    EXPECT_STREQ("   ", CurrentThreadTag());
    EXPECT_EQ(0, gThreadRegistry.GetCount());
}
