#include "zdynalib.h"

#include "zexcept.h"

#include <string.h>

static const char kSource[] = "../../../wf/wfutil/zdynalib";

HMODULE ZLoadLibrary(const char* nameOrPath)
{
    if (strpbrk(nameOrPath, "\\/:"))
        return LoadLibraryExA(nameOrPath, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    char systemDir[MAX_PATH];
    const UINT n = GetSystemDirectoryA(systemDir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH)
        return nullptr;
    return LoadLibraryExA(JoinPath(ZString(systemDir, static_cast<int>(n)), nameOrPath), nullptr,
                          LOAD_WITH_ALTERED_SEARCH_PATH);
}

ZDynaLib::ZDynaLib() : hLib(nullptr) {}

ZDynaLib::~ZDynaLib()
{
    if (hLib) {
        FreeLibrary(hLib);
        hLib = nullptr;
    }
}

HMODULE ZDynaLib::Load(const char* libraryName)
{
    ZASSERT(kSource, 37, !hLib);
    name = libraryName;
    hLib = ZLoadLibrary(name);
    if (!hLib) {
        const DWORD err = GetLastError();
        throw ZCommonEx(&ZErr::CantLoadDLL, "LoadLibrary", static_cast<int>(err),
                        SystemErrorText(static_cast<int>(err)), kSource, 43,
                        "Could not load dynamic library <" + name + ">");
    }
    return hLib;
}

FARPROC ZDynaLib::FindFunction(const char* functionName)
{
    ZASSERT(kSource, 51, hLib);
    const FARPROC function = GetProcAddress(hLib, functionName);
    if (!function) {
        const DWORD err = GetLastError();
        throw ZCommonEx(&ZErr::CantFindFunction, "GetProcAddress", static_cast<int>(err),
                        SystemErrorText(static_cast<int>(err)), kSource, 56,
                        "Could not find function <" + ZString(functionName) + "> in <" + name +
                            ">");
    }
    return function;
}

BOOL ZDynaLib::Free()
{
    ZASSERT(kSource, 66, hLib);
    name = "";
    const BOOL ok = FreeLibrary(hLib);
    hLib = nullptr;
    return ok;
}
