/* A stand-in for the system's multimedia timer library that lacks one of the
 * functions the setup takes from it: timeEndPeriod, which the setup first
 * calls when the install ends. The others do what the system's do. */
#include <windows.h>

UINT WINAPI timeBeginPeriod(UINT period)
{
    (void)period;
    return 0;
}

DWORD WINAPI timeGetTime(void)
{
    return GetTickCount();
}
