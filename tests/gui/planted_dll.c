/* A stand-in for a library planted beside setup.exe under the name of a
   system library the setup loads at run time. Being loaded leaves a marker
   file next to it, named after it ("winmm.dll.loaded"), so that one build of
   it serves under every name; its registration entry point reports success
   so an install that took it would go on. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH + 8];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return TRUE;
    lstrcatA(path, ".loaded");
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    return TRUE;
}

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void)
{
    return S_OK;
}
