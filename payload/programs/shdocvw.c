/* Stand-in for the web-browser control library. The setup writes it and calls
 * its DllRegisterServer, which records where it was registered from, as a
 * class library does: its own path as the in-process server of its class
 * (a class of its own, for the current user). */
#include <windows.h>

static const char kServerKey[] =
    "Software\\Classes\\CLSID\\{3F1B7C2E-9D4A-4E61-B8C5-2A7D90E6F413}\\InprocServer32";

static HINSTANCE gSelf;

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        gSelf = self;
    return TRUE;
}

HRESULT WINAPI DllRegisterServer(void)
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(gSelf, path, MAX_PATH);
    HKEY key;
    if (n == 0 || n >= MAX_PATH || RegCreateKeyA(HKEY_CURRENT_USER, kServerKey, &key) != ERROR_SUCCESS)
        return E_FAIL;
    LONG set = RegSetValueExA(key, NULL, 0, REG_SZ, (const BYTE*)path, n + 1);
    RegCloseKey(key);
    return set == ERROR_SUCCESS ? S_OK : E_FAIL;
}
