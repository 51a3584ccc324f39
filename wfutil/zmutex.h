// ZThreadMutex, a lock for the threads of one process (a critical section on
// Windows NT, a mutex object on Windows 9x), and ZGuard, which holds one for a
// scope and refuses ordered locks taken out of level order.
#pragma once

#include "zbuffer.h"
#include "zstring.h"

#include <windows.h>

class ZTraceChannel;

class ZThreadMutex {
public:
    // A level-0, unnamed mutex: outside the lock-order check.
    explicit ZThreadMutex(bool quietMutex);
    // An ordered mutex: guards that share a lock record take these in
    // non-decreasing level order; the name appears in the deadlock error.
    ZThreadMutex(bool quietMutex, int orderLevel, const char* orderName);
    ~ZThreadMutex() noexcept(false);
    ZThreadMutex(const ZThreadMutex&) = delete;
    ZThreadMutex& operator=(const ZThreadMutex&) = delete;

    // Waits without limit; re-entrant for the holding thread.
    void Lock();
    void UnLock();

    bool quiet;                // no trace lines at all
    int level;                 // 0 and below: not ordered
    ZString name;
    bool useCriticalSection;   // Windows NT
    HANDLE mutexHandle;        // Windows 9x
    CRITICAL_SECTION criticalSection;

private:
    void Create();
    bool Traces() const;
    void Trace(const char* event) const;
};

// The ordered locks one thread holds, in the order taken: entries of a level
// and a name pointer (8 bytes on 32-bit Windows) in a buffer. The name is the mutex's own text, not a copy.
class ZLockStack {
public:
    struct Entry {
        int level;
        const char* name;
    };

    ZLockStack() : buffer(0), count(0) {}

    int Count() const { return count; }
    const Entry& At(int i) const { return reinterpret_cast<const Entry*>(buffer.Data())[i]; }
    void Push(int level, const char* name);
    // Removes the most recent entry with this level, if there is one.
    void RemoveLatest(int level);

private:
    ZBuffer buffer;
    int count;
};

class ZGuard {
public:
    // Locks the mutex; with a lock record, an ordered mutex below the most
    // recently recorded level is refused (and left unlocked).
    ZGuard(ZThreadMutex* mutex, ZLockStack* lockStack);
    ~ZGuard() noexcept(false);
    ZGuard(const ZGuard&) = delete;
    ZGuard& operator=(const ZGuard&) = delete;

    ZLockStack* lockStack;
    ZThreadMutex* mutex;

private:
    void CheckLockOrder(int lockLevel) const;
    void ForgetLock();
};

// Module state shared by all mutexes: KERNEL32 as loaded for the critical
// section entry points, the entry points, and the number of live mutexes.
typedef void(WINAPI* ZCriticalSectionFn)(LPCRITICAL_SECTION);
typedef BOOL(WINAPI* ZTryEnterCriticalSectionFn)(LPCRITICAL_SECTION);
extern HMODULE hKernel32;
extern ZCriticalSectionFn pInitializeCriticalSection;
extern ZCriticalSectionFn pEnterCriticalSection;
extern ZCriticalSectionFn pLeaveCriticalSection;
extern ZTryEnterCriticalSectionFn pTryEnterCriticalSection;
extern ZCriticalSectionFn pDeleteCriticalSection;
extern int gLiveMutexCount;

extern ZTraceChannel* const gMutexTraceChannel;
