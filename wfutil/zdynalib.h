// ZDynaLib: one dynamically loaded library, its exported functions looked up
// by name, and unloading; platform failures become library exceptions.
#pragma once

#include "zstring.h"

#include <windows.h>

class ZDynaLib {
public:
    ZDynaLib();
    ~ZDynaLib();
    ZDynaLib(const ZDynaLib&) = delete;
    ZDynaLib& operator=(const ZDynaLib&) = delete;

    // Only while nothing is loaded; never returns null.
    HMODULE Load(const char* libraryName);
    // Only while loaded; never returns null.
    FARPROC FindFunction(const char* functionName);
    // Only while loaded; FreeLibrary's result. The object may load again.
    BOOL Free();

    ZString name;   // the last requested library; empty after Free
    HMODULE hLib;   // null while nothing is loaded
};
