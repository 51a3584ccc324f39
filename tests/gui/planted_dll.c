/* A stand-in for a library planted beside setup.exe under the name of the one
   the install loads by bare name. Being loaded leaves a marker file next to
   it; its registration entry point reports success so the install goes on. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\')
        --n;
    lstrcpyA(path + n, "planted-loaded.txt");
    HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f != INVALID_HANDLE_VALUE)
        CloseHandle(f);
    return TRUE;
}

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void)
{
    return S_OK;
}
