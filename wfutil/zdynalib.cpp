#include "zdynalib.h"

#include "zexcept.h"

static const char kSource[] = "../../../wf/wfutil/zdynalib";

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
    hLib = LoadLibraryA(name);
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
