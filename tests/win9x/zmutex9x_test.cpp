#include "zexcept.h"
#include "zmutex.h"
#include "zos.h"
#include "ztrace.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>

namespace {

const char kSource[] = "../../../wf/wfutil/zmutex";

DWORD WINAPI TryTake(void* mutex)
{
    HANDLE handle = static_cast<ZThreadMutex*>(mutex)->mutexHandle;
    if (WaitForSingleObject(handle, 0) != WAIT_OBJECT_0)
        return 0;
    ReleaseMutex(handle);
    return 1;
}

DWORD WINAPI LockAndEnd(void* mutex)
{
    static_cast<ZThreadMutex*>(mutex)->Lock();
    return 0;
}

DWORD RunThread(LPTHREAD_START_ROUTINE routine, ZThreadMutex& mutex)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, &mutex, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    DWORD result = 0;
    GetExitCodeThread(thread, &result);
    CloseHandle(thread);
    return result;
}

// Whether a thread other than the caller could take the mutex now.
bool FreeForOthers(ZThreadMutex& mutex)
{
    return RunThread(TryTake, mutex) == 1;
}

const ZExInfo& RaiseSite(const ZFatalEx& ex)
{
    return *ex.infos.First()->value;
}

} // namespace

TEST(ZThreadMutex9x, UsesAMutexObjectAndLeavesKernel32Alone)
{
    ASSERT_TRUE(ZIsWin9x());
    EXPECT_FALSE(gThreadRegistryLock.useCriticalSection);
    EXPECT_EQ(nullptr, hKernel32);
    const int live = gLiveMutexCount;
    {
        ZThreadMutex mutex(true);
        EXPECT_FALSE(mutex.useCriticalSection);
        EXPECT_NE(nullptr, mutex.mutexHandle);
        EXPECT_EQ(live + 1, gLiveMutexCount);

        mutex.Lock();
        mutex.Lock();
        EXPECT_FALSE(FreeForOthers(mutex));
        mutex.UnLock();
        EXPECT_FALSE(FreeForOthers(mutex));
        mutex.UnLock();
        EXPECT_TRUE(FreeForOthers(mutex));
    }
    EXPECT_EQ(live, gLiveMutexCount);
    EXPECT_EQ(nullptr, hKernel32);
    // The trace path takes the registry lock, a mutex object here.
    EXPECT_STREQ("   ", CurrentThreadTag());
}

TEST(ZThreadMutex9x, AbandonedMutexFailsTheLockAssertionAndIsLeftFree)
{
    ZThreadMutex mutex(true);
    RunThread(LockAndEnd, mutex);
    try {
        mutex.Lock();
        ADD_FAILURE() << "locking an abandoned mutex did not fail";
        mutex.UnLock();
    } catch (const ZInternalEx& ex) {
        EXPECT_EQ(&ZErr::Unexpected, ex.desc);
        EXPECT_EQ(-1, ex.rc);
        EXPECT_STREQ(kSource, RaiseSite(ex).file);
        EXPECT_EQ(160, RaiseSite(ex).line);
        EXPECT_NE(nullptr, strstr(RaiseSite(ex).text, "[160] ZASSERT( rc == WAIT_OBJECT_0 );"));
    }
    EXPECT_TRUE(FreeForOthers(mutex));
    mutex.Lock();
    EXPECT_FALSE(FreeForOthers(mutex));
    mutex.UnLock();
}

TEST(ZThreadMutex9x, UnlockingAMutexNotHeldRaisesTheUnlockError)
{
    ZThreadMutex mutex(true);
    try {
        mutex.UnLock();
        ADD_FAILURE() << "releasing a mutex not held did not fail";
    } catch (const ZRareEx& ex) {
        EXPECT_EQ(nullptr, dynamic_cast<const ZCommonEx*>(&ex));
        EXPECT_EQ(&ZErr::Unexpected, ex.desc);
        EXPECT_STREQ("ZThreadMutex::UnLock", ex.operation);
        EXPECT_EQ(ERROR_NOT_OWNER, ex.rc);
        EXPECT_STREQ(SystemErrorText(ERROR_NOT_OWNER), ex.text);
        EXPECT_STREQ(kSource, RaiseSite(ex).file);
        EXPECT_EQ(180, RaiseSite(ex).line);
        EXPECT_STREQ("", RaiseSite(ex).text);
    }
}

TEST(ZGuard9x, GuardsHoldAndReleaseMutexObjectsAndRefuseOutOfOrder)
{
    ZThreadMutex disk(true, 2, "Disk");
    ZThreadMutex index(true, 5, "Index");
    ZLockStack held;
    {
        ZGuard indexGuard(&index, &held);
        EXPECT_FALSE(FreeForOthers(index));
        try {
            ZGuard diskGuard(&disk, &held);
            ADD_FAILURE() << "out-of-order lock was not refused";
        } catch (const ZFatalEx& ex) {
            EXPECT_STREQ("Potential Deadlock Prevented", ex.text);
            EXPECT_EQ(321, RaiseSite(ex).line);
            EXPECT_STREQ("Program tried to lock mux <Disk (2)> after mux <Index (5)>",
                         RaiseSite(ex).text);
        }
        EXPECT_TRUE(FreeForOthers(disk));
        EXPECT_EQ(1, held.Count());
    }
    EXPECT_TRUE(FreeForOthers(index));
    EXPECT_EQ(0, held.Count());
}
