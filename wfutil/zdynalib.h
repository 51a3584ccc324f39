// ZDynaLib: one dynamically loaded library, its exported functions looked up
// by name, and unloading; platform failures become library exceptions.
// ZLoadLibrary: where every library the setup loads at run time comes from.
#pragma once

#include "zstring.h"

#include <windows.h>

// Loads a library without a search: a bare file name ("winmm.dll") names a
// system library, loaded by its full path in the system directory; a path is
// loaded as given. The library's own imports are looked for beside it first.
// The setup runs with administrator rights, often from a folder that other
// users can write to (a download folder), and a search for a bare name may
// look there before the system directory: a library planted there under a
// system library's name would run with those rights. Null on failure, with
// the thread's last error set.
HMODULE ZLoadLibrary(const char* nameOrPath);

class ZDynaLib {
public:
    ZDynaLib();
    ~ZDynaLib();
    ZDynaLib(const ZDynaLib&) = delete;
    ZDynaLib& operator=(const ZDynaLib&) = delete;

    // Only while nothing is loaded; never returns null. Loads with
    // ZLoadLibrary: a bare name is a system library.
    HMODULE Load(const char* libraryName);
    // Only while loaded; never returns null.
    FARPROC FindFunction(const char* functionName);
    // Only while loaded; FreeLibrary's result. The object may load again.
    BOOL Free();

    ZString name;   // the last requested library; empty after Free
    HMODULE hLib;   // null while nothing is loaded
};
