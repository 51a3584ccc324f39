// Cost of one lock and unlock: ZThreadMutex (a critical section on NT, which
// stays out of the kernel when uncontended) against a Win32 mutex object (the
// Windows 9x mechanism), and a ZGuard with its lock record; plus the cost of a
// trace message that its channel's level turns away against one that is
// written. All measured side by side in one run.
#include "zmutex.h"
#include "ztrace.h"

#include <windows.h>

#include <cstdio>

namespace {

const int kRounds = 200000;

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

template <class Body>
double NanosecondsPerRound(int rounds, Body body)
{
    LARGE_INTEGER from, to;
    QueryPerformanceCounter(&from);
    for (int i = 0; i < rounds; ++i)
        body();
    QueryPerformanceCounter(&to);
    return Seconds(from, to) * 1e9 / rounds;
}

} // namespace

int main()
{
    ZThreadMutex mutex(false);
    const double section = NanosecondsPerRound(kRounds, [&] {
        mutex.Lock();
        mutex.UnLock();
    });

    HANDLE object = CreateMutexA(nullptr, FALSE, nullptr);
    const double kernelObject = NanosecondsPerRound(kRounds, [&] {
        WaitForSingleObject(object, INFINITE);
        ReleaseMutex(object);
    });
    CloseHandle(object);

    ZThreadMutex ordered(true, 3, "Ordered");
    ZLockStack held;
    const double guard = NanosecondsPerRound(kRounds, [&] { ZGuard g(&ordered, &held); });

    const double refused = NanosecondsPerRound(kRounds, [&] { ZTrace(gMutexTraceChannel, 8, "x"); });
    char dir[MAX_PATH], path[MAX_PATH];
    GetTempPathA(MAX_PATH, dir);
    GetTempFileNameA(dir, "zmb", 0, path);
    FILE* sink = fopen(path, "w");
    if (!sink) {
        fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    FILE* saved = gTraceSink;
    gTraceSink = sink;
    const double line = NanosecondsPerRound(kRounds / 100, [&] { ZTrace(&gRootTraceChannel, 0, "x"); });
    gTraceSink = saved;
    fclose(sink);
    DeleteFileA(path);

    printf("lock + unlock, ZThreadMutex (critical section): %8.1f ns\n", section);
    printf("lock + unlock, Win32 mutex object:              %8.1f ns  (%.1f x)\n", kernelObject,
           kernelObject / section);
    printf("ZGuard with lock record, ordered mutex:         %8.1f ns  (%.1f x)\n", guard,
           guard / section);
    printf("trace message below the channel level:          %8.1f ns\n", refused);
    printf("trace line written to a file:                   %8.1f ns  (%.0f x)\n", line,
           line / refused);
    return 0;
}
