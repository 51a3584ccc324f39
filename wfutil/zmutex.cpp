#include "zmutex.h"

#include "zexcept.h"
#include "zinit.h"
#include "zos.h"
#include "ztrace.h"

#include <cstring>

static const char kSource[] = "../../../wf/wfutil/zmutex";

HMODULE hKernel32 = nullptr;
ZCriticalSectionFn pInitializeCriticalSection = nullptr;
ZCriticalSectionFn pEnterCriticalSection = nullptr;
ZCriticalSectionFn pLeaveCriticalSection = nullptr;
ZTryEnterCriticalSectionFn pTryEnterCriticalSection = nullptr;
ZCriticalSectionFn pDeleteCriticalSection = nullptr;
int gLiveMutexCount = 0;

static ZTraceChannel gMutexChannel Z_INIT(Z_INIT_CHANNEL_MUTEX)("ZMutex", -1);
ZTraceChannel* const gMutexTraceChannel = &gMutexChannel;

static const int kTraceLevel = 8;

template <class Fn>
static Fn FindKernel32Entry(const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(hKernel32, name)));
}

static bool CriticalSectionEntriesFound()
{
    return pInitializeCriticalSection && pEnterCriticalSection && pLeaveCriticalSection &&
           pTryEnterCriticalSection && pDeleteCriticalSection;
}

// The first critical-section mutex loads KERNEL32 and finds the entry points;
// later ones reuse them. A lookup that failed once is tried again rather than
// leaving the next mutex to call through a null pointer.
static void LoadCriticalSectionEntries()
{
    if (!hKernel32) {
        hKernel32 = LoadLibraryA("KERNEL32");
        ZASSERT(kSource, 69, hKernel32);
    }
    if (CriticalSectionEntriesFound())
        return;
    pInitializeCriticalSection = FindKernel32Entry<ZCriticalSectionFn>("InitializeCriticalSection");
    pEnterCriticalSection = FindKernel32Entry<ZCriticalSectionFn>("EnterCriticalSection");
    pLeaveCriticalSection = FindKernel32Entry<ZCriticalSectionFn>("LeaveCriticalSection");
    pTryEnterCriticalSection = FindKernel32Entry<ZTryEnterCriticalSectionFn>("TryEnterCriticalSection");
    pDeleteCriticalSection = FindKernel32Entry<ZCriticalSectionFn>("DeleteCriticalSection");
    ZASSERT(kSource, 76, pInitializeCriticalSection);
    ZASSERT(kSource, 77, pEnterCriticalSection);
    ZASSERT(kSource, 78, pLeaveCriticalSection);
    ZASSERT(kSource, 79, pTryEnterCriticalSection);
    ZASSERT(kSource, 80, pDeleteCriticalSection);
}

// The last mutex gone releases KERNEL32; the next one loads and looks up again.
static void UnloadCriticalSectionEntries()
{
    const bool ok = FreeLibrary(hKernel32) != 0;
    if (!ok) {
        ZAssertFailedInDestructor(kSource, 111, "ok", nullptr);
        return;
    }
    hKernel32 = nullptr;
    pInitializeCriticalSection = pEnterCriticalSection = pLeaveCriticalSection = nullptr;
    pTryEnterCriticalSection = nullptr;
    pDeleteCriticalSection = nullptr;
}

ZThreadMutex::ZThreadMutex(bool quietMutex)
    : quiet(quietMutex), level(0), useCriticalSection(false), mutexHandle(nullptr)
{
    Create();
}

ZThreadMutex::ZThreadMutex(bool quietMutex, int orderLevel, const char* orderName)
    : quiet(quietMutex), level(orderLevel), name(orderName), useCriticalSection(false),
      mutexHandle(nullptr)
{
    Create();
}

void ZThreadMutex::Create()
{
    if (Traces())
        Trace(ZString(" (lvl=") + FormatInt(level, "%i") + ") being constructed");
    useCriticalSection = ZIsWinNT();
    if (useCriticalSection) {
        LoadCriticalSectionEntries();
        pInitializeCriticalSection(&criticalSection);
    } else {
        mutexHandle = CreateMutexA(nullptr, FALSE, nullptr);
        if (!mutexHandle) {
            const DWORD err = GetLastError();
            throw ZFatalEx(&ZErr::Unexpected, "CreateMutex", static_cast<int>(err),
                           SystemErrorText(static_cast<int>(err)), kSource, 88,
                           "ZThreadMutex::ctor");
        }
    }
    ++gLiveMutexCount;
}

ZThreadMutex::~ZThreadMutex() noexcept(false)
{
    Trace(" being destroyed");
    if (useCriticalSection)
        pDeleteCriticalSection(&criticalSection);
    else
        CloseHandle(mutexHandle);
    if (--gLiveMutexCount == 0 && useCriticalSection)
        UnloadCriticalSectionEntries();
}

void ZThreadMutex::Lock()
{
    Trace(" waiting for lock...");
    if (useCriticalSection) {
        pEnterCriticalSection(&criticalSection);
    } else {
        const DWORD rc = WaitForSingleObject(mutexHandle, INFINITE);
        // An abandoned mutex is owned by this thread now; give it back so that
        // the failed lock does not leave it held for ever.
        if (rc == WAIT_ABANDONED)
            ReleaseMutex(mutexHandle);
        ZASSERT(kSource, 160, rc == WAIT_OBJECT_0);
    }
    Trace(" lock acquired");
}

void ZThreadMutex::UnLock()
{
    Trace(" being unlocked");
    if (useCriticalSection) {
        pLeaveCriticalSection(&criticalSection);
    } else if (!ReleaseMutex(mutexHandle)) {
        const DWORD err = GetLastError();
        throw ZRareEx(&ZErr::Unexpected, "ZThreadMutex::UnLock", static_cast<int>(err),
                      SystemErrorText(static_cast<int>(err)), kSource, 180, "");
    }
}

bool ZThreadMutex::Traces() const
{
    return !quiet && TraceLevel(gMutexTraceChannel) >= kTraceLevel;
}

// The level is tested before any text is built.
void ZThreadMutex::Trace(const char* event) const
{
    if (!Traces())
        return;
    ZTrace(gMutexTraceChannel, kTraceLevel, "Mux " + ZPointerText(this) + event);
}

// A level and a name pointer: 8 bytes on 32-bit Windows, 16 on 64-bit.
static_assert(sizeof(ZLockStack::Entry) == 2 * sizeof(void*),
              "lock record entries are a level and a name pointer");

void ZLockStack::Push(int entryLevel, const char* entryName)
{
    const Entry entry = {entryLevel, entryName};
    memcpy(buffer.Extend(sizeof entry), &entry, sizeof entry);
    ++count;
}

void ZLockStack::RemoveLatest(int entryLevel)
{
    for (int i = count - 1; i >= 0; --i) {
        if (At(i).level != entryLevel)
            continue;
        unsigned char* data = buffer.Data();
        memmove(data + i * sizeof(Entry), data + (i + 1) * sizeof(Entry),
                (count - 1 - i) * sizeof(Entry));
        buffer.Resize(buffer.Size() - static_cast<int>(sizeof(Entry)), true);
        --count;
        return;
    }
}

static ZString LockText(const char* lockName, int lockLevel)
{
    return ZString("<") + lockName + " (" + FormatInt(lockLevel, "%i") + ")>";
}

ZGuard::ZGuard(ZThreadMutex* guarded, ZLockStack* record) : lockStack(record), mutex(guarded)
{
    mutex->Lock();
    const int lockLevel = mutex->level;
    if (!lockStack || lockLevel <= 0)
        return;
    // No destructor runs for a guard whose constructor fails: a refused or
    // unrecorded lock is given back here.
    try {
        CheckLockOrder(lockLevel);
        lockStack->Push(lockLevel, mutex->name);
    } catch (...) {
        mutex->UnLock();
        throw;
    }
}

void ZGuard::CheckLockOrder(int lockLevel) const
{
    if (lockStack->Count() == 0)
        return;
    const ZLockStack::Entry& last = lockStack->At(lockStack->Count() - 1);
    if (lockLevel < last.level) {
        const ZString detail = "Program tried to lock mux " + LockText(mutex->name, lockLevel) +
                               " after mux " + LockText(last.name, last.level);
        throw ZFatalEx(&ZErr::Unexpected, "ZGuard::ZGuard", -1, "Potential Deadlock Prevented", kSource, 321,
                       detail);
    }
}

// The lock goes first, then its record; the record goes also when the unlock
// fails, since the guard ends either way.
ZGuard::~ZGuard() noexcept(false)
{
    try {
        mutex->UnLock();
    } catch (const ZRareEx& ex) {
        ForgetLock();
        ZRaiseFromDestructor(ex);
        return;
    }
    ForgetLock();
}

void ZGuard::ForgetLock()
{
    if (lockStack && mutex->level > 0)
        lockStack->RemoveLatest(mutex->level);
}
