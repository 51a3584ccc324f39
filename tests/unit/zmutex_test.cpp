#include "trace_capture.h"
#include "zexcept.h"
#include "zmutex.h"
#include "ztrace.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace {

const char kSource[] = "../../../wf/wfutil/zmutex";

// The module state as the process has it; put back whatever a test does.
struct SavedModuleState {
    HMODULE module = hKernel32;
    ZCriticalSectionFn init = pInitializeCriticalSection, enter = pEnterCriticalSection,
                       leave = pLeaveCriticalSection, remove = pDeleteCriticalSection;
    ZTryEnterCriticalSectionFn tryEnter = pTryEnterCriticalSection;
    int count = gLiveMutexCount;

    ~SavedModuleState() { Set(module, init, enter, leave, tryEnter, remove, count); }
    static void Set(HMODULE m, ZCriticalSectionFn i, ZCriticalSectionFn e, ZCriticalSectionFn l,
                    ZTryEnterCriticalSectionFn t, ZCriticalSectionFn d, int c)
    {
        hKernel32 = m;
        pInitializeCriticalSection = i;
        pEnterCriticalSection = e;
        pLeaveCriticalSection = l;
        pTryEnterCriticalSection = t;
        pDeleteCriticalSection = d;
        gLiveMutexCount = c;
    }
};

BOOL WINAPI NeverCalled(LPCRITICAL_SECTION)
{
    return FALSE;
}

FARPROC Kernel32Entry(const char* name)
{
    return GetProcAddress(GetModuleHandleA("KERNEL32"), name);
}

template <class Fn>
bool Is(Fn pointer, const char* name)
{
    return reinterpret_cast<void*>(pointer) == reinterpret_cast<void*>(Kernel32Entry(name));
}

DWORD WINAPI TryTake(void* mutex)
{
    CRITICAL_SECTION* section = &static_cast<ZThreadMutex*>(mutex)->criticalSection;
    if (!pTryEnterCriticalSection(section))
        return 0;
    pLeaveCriticalSection(section);
    return 1;
}

// Whether a thread other than the caller could take the mutex now.
bool FreeForOthers(ZThreadMutex& mutex)
{
    HANDLE thread = CreateThread(nullptr, 0, TryTake, &mutex, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD taken = 0;
    GetExitCodeThread(thread, &taken);
    CloseHandle(thread);
    return taken == 1;
}

class MutexChannelLevel {
public:
    explicit MutexChannelLevel(int level) : saved(gMutexTraceChannel->level)
    {
        gMutexTraceChannel->level = level;
    }
    ~MutexChannelLevel() { gMutexTraceChannel->level = saved; }

private:
    int saved;
};

void LockAndUnlock(ZThreadMutex& mutex)
{
    mutex.Lock();
    mutex.UnLock();
}

void ExpectDeadlockError(const ZFatalEx& ex, const char* detail)
{
    EXPECT_EQ(nullptr, dynamic_cast<const ZRareEx*>(&ex));
    EXPECT_EQ(nullptr, dynamic_cast<const ZInternalEx*>(&ex));
    EXPECT_EQ(&ZErr::Unexpected, ex.desc);
    EXPECT_STREQ("ZGuard::ZGuard", ex.operation);
    EXPECT_EQ(-1, ex.rc);
    EXPECT_STREQ("Potential Deadlock Prevented", ex.text);
    ASSERT_NE(nullptr, ex.infos.First());
    EXPECT_STREQ(kSource, ex.infos.First()->value->file);
    EXPECT_EQ(321, ex.infos.First()->value->line);
    EXPECT_STREQ(detail, ex.infos.First()->value->text);
}

} // namespace

TEST(ZThreadMutexNT, Kernel32IsLoadedByTheFirstMutexAndFreedByTheLast)
{
    // The process's thread-registry lock is a critical-section mutex already.
    EXPECT_TRUE(gThreadRegistryLock.useCriticalSection);
    EXPECT_NE(nullptr, hKernel32);
    EXPECT_GE(gLiveMutexCount, 1);

    SavedModuleState saved;
    SavedModuleState::Set(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0);   // no mutex yet
    auto* first = new ZThreadMutex(true);
    EXPECT_TRUE(first->useCriticalSection);
    EXPECT_EQ(GetModuleHandleA("KERNEL32"), hKernel32);
    EXPECT_TRUE(Is(pInitializeCriticalSection, "InitializeCriticalSection"));
    EXPECT_TRUE(Is(pEnterCriticalSection, "EnterCriticalSection"));
    EXPECT_TRUE(Is(pLeaveCriticalSection, "LeaveCriticalSection"));
    EXPECT_TRUE(Is(pTryEnterCriticalSection, "TryEnterCriticalSection"));
    EXPECT_TRUE(Is(pDeleteCriticalSection, "DeleteCriticalSection"));
    EXPECT_EQ(1, gLiveMutexCount);

    // A second mutex finds everything in place and looks nothing up.
    pTryEnterCriticalSection = NeverCalled;
    auto* second = new ZThreadMutex(false);
    EXPECT_EQ(reinterpret_cast<void*>(NeverCalled), reinterpret_cast<void*>(pTryEnterCriticalSection));
    EXPECT_EQ(2, gLiveMutexCount);
    LockAndUnlock(*second);
    delete second;
    EXPECT_EQ(1, gLiveMutexCount);
    EXPECT_NE(nullptr, hKernel32);

    delete first;
    EXPECT_EQ(0, gLiveMutexCount);
    EXPECT_EQ(nullptr, hKernel32);
    EXPECT_EQ(nullptr, pEnterCriticalSection);

    ZThreadMutex again(true);
    EXPECT_EQ(GetModuleHandleA("KERNEL32"), hKernel32);
    EXPECT_TRUE(Is(pTryEnterCriticalSection, "TryEnterCriticalSection"));
    EXPECT_EQ(1, gLiveMutexCount);
}

TEST(ZThreadMutexTrace, LinesOnlyFromNonQuietMutexesAtLevelEight)
{
    TraceCapture capture;
    {
        ZThreadMutex loud(false);
        LockAndUnlock(loud);
    }
    EXPECT_TRUE(capture.Lines().empty());

    MutexChannelLevel eight(8);
    {
        ZThreadMutex quiet(true);
        LockAndUnlock(quiet);
    }
    EXPECT_TRUE(capture.Lines().empty());

    auto* loud = new ZThreadMutex(false);
    LockAndUnlock(*loud);
    const std::string mux = std::string("Mux ") + ZPointerText(loud).c_str();
    delete loud;

    const std::vector<std::string> lines = capture.Lines();
    const char* const events[] = {" (lvl=0) being constructed", " waiting for lock...",
                                  " lock acquired", " being unlocked", " being destroyed"};
    ASSERT_EQ(5u, lines.size());
    for (int i = 0; i < 5; ++i) {
        const std::string& line = lines[i];
        ASSERT_GT(line.size(), 34u);
        EXPECT_EQ(OwnPidTag() + "   |", line.substr(0, 7));
        EXPECT_EQ("|ZMutex  |8|" + mux + events[i] + "\n", line.substr(22));
    }
}

TEST(ZGuard, RefusesAnOrderedLockBelowTheLatestAndLeavesItFree)
{
    ZThreadMutex disk(true, 2, "Disk");
    ZThreadMutex index(true, 5, "Index");
    ZLockStack held;
    {
        ZGuard indexGuard(&index, &held);
        try {
            ZGuard diskGuard(&disk, &held);
            ADD_FAILURE() << "out-of-order lock was not refused";
        } catch (const ZFatalEx& ex) {
            ExpectDeadlockError(ex, "Program tried to lock mux <Disk (2)> after mux <Index (5)>");
        }
        EXPECT_EQ(1, held.Count());
        EXPECT_TRUE(FreeForOthers(disk));
        EXPECT_FALSE(FreeForOthers(index));
    }
    EXPECT_EQ(0, held.Count());
    EXPECT_TRUE(FreeForOthers(index));
}

TEST(ZGuard, ComparesOnlyTheLatestEntryAndAllowsEqualLevels)
{
    ZThreadMutex one(true, 1, "One");
    ZThreadMutex three(true, 3, "Three");
    ZThreadMutex alsoThree(true, 3, "AlsoThree");
    ZThreadMutex two(true, 2, "Two");
    ZLockStack held;
    ZGuard g1(&one, &held);
    ZGuard g3(&three, &held);
    {
        ZGuard equal(&alsoThree, &held);
        EXPECT_EQ(3, held.Count());
        EXPECT_EQ(alsoThree.name.c_str(), held.At(2).name);
    }
    // Only the most recent level-3 entry went.
    ASSERT_EQ(2, held.Count());
    EXPECT_EQ(three.name.c_str(), held.At(1).name);
    try {
        ZGuard below(&two, &held);
        ADD_FAILURE() << "out-of-order lock was not refused";
    } catch (const ZFatalEx& ex) {
        ExpectDeadlockError(ex, "Program tried to lock mux <Two (2)> after mux <Three (3)>");
    }
    EXPECT_EQ(2, held.Count());
}

TEST(ZGuard, UnorderedLocksAndMissingRecordsAreNotChecked)
{
    ZThreadMutex plain(true);
    ZThreadMutex ordered(true, 5, "Five");
    ZThreadMutex low(true, 1, "One");
    ZLockStack held;
    {
        ZGuard orderedGuard(&ordered, &held);
        ZGuard plainGuard(&plain, &held);   // level 0: neither refused nor recorded
        EXPECT_EQ(1, held.Count());
        ZGuard unchecked(&low, nullptr);    // no record: no check
        EXPECT_FALSE(FreeForOthers(low));
        EXPECT_FALSE(FreeForOthers(plain));
    }
    EXPECT_EQ(0, held.Count());
    EXPECT_TRUE(FreeForOthers(plain));
    EXPECT_TRUE(FreeForOthers(low));
}

namespace {

// The lock record's count at the moment a critical section is left.
const ZLockStack* gWatchedRecord = nullptr;
int gCountWhenLeft = -1;

void WINAPI LeaveAndNoteTheRecord(LPCRITICAL_SECTION section)
{
    gCountWhenLeft = gWatchedRecord->Count();
    LeaveCriticalSection(section);
}

} // namespace

TEST(ZGuard, UnlocksBeforeItForgetsTheRecordAndGivesBackALockItCannotRecord)
{
    {
        SavedModuleState saved;
        ZThreadMutex mutex(true, 4, "Four");
        ZLockStack held;
        gWatchedRecord = &held;
        pLeaveCriticalSection = LeaveAndNoteTheRecord;
        { ZGuard guard(&mutex, &held); }
        EXPECT_EQ(1, gCountWhenLeft) << "the record went before the lock";
        EXPECT_EQ(0, held.Count());
    }

    // A record whose buffer refuses to grow (its trailing guard is broken):
    // the guard fails, and the mutex it had taken is free again.
    ZThreadMutex mutex(true, 5, "Five");
    ZLockStack held;
    held.Push(1, "One");
    unsigned char* trailingGuard = const_cast<unsigned char*>(
        reinterpret_cast<const unsigned char*>(&held.At(0)) + sizeof(ZLockStack::Entry));
    const unsigned char intact = *trailingGuard;
    *trailingGuard = static_cast<unsigned char>(~intact);
    EXPECT_THROW(ZGuard(&mutex, &held), ZInternalEx);
    *trailingGuard = intact;
    EXPECT_TRUE(FreeForOthers(mutex));
    EXPECT_EQ(1, held.Count());
}

TEST(ZLockStack, RemovesTheLatestEntryOfALevelAndShiftsTheRest)
{
    ZLockStack stack;
    const char* const names[] = {"a", "b", "c", "d", "e"};
    const int levels[] = {1, 3, 5, 3, 7};
    for (int i = 0; i < 5; ++i)
        stack.Push(levels[i], names[i]);
    stack.RemoveLatest(3);
    stack.RemoveLatest(9);
    ASSERT_EQ(4, stack.Count());
    std::string order;
    for (int i = 0; i < stack.Count(); ++i)
        order += stack.At(i).name;
    EXPECT_EQ("abce", order);
    stack.RemoveLatest(3);
    stack.RemoveLatest(1);
    ASSERT_EQ(2, stack.Count());
    EXPECT_EQ(5, stack.At(0).level);
    EXPECT_EQ(7, stack.At(1).level);
}
