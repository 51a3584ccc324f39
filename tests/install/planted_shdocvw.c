/* A library planted under the browser control's name beside a program: a
 * download folder holding setup.exe may hold one too. Whenever it is loaded it
 * leaves a marker file next to itself, so a test can tell that it ran. */
#include <windows.h>

static void LeaveMarker(HINSTANCE self)
{
    char path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return;
    lstrcatA(path, ".loaded");
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
}

static HINSTANCE gSelf;

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        gSelf = self;
        LeaveMarker(self);
    }
    return TRUE;
}

HRESULT WINAPI DllRegisterServer(void)
{
    LeaveMarker(gSelf);
    return S_OK;
}
