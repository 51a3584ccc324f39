// What the library knows of the platform it runs on: the operating-system
// identity and its path separator, the Windows 9x / NT tests, the user's name.
#pragma once

#include "zstring.h"

class ZOS {
public:
    // name: "WIN" (also null) or "UNIX", compared without regard to case.
    explicit ZOS(const char* name = nullptr);
    char Separator() const;

    char kind;   // 'W' Windows, 'U' UNIX, 'O' other
};

// The process's identity: Windows, so every path uses '\'.
extern ZOS gOS;

// Cached after the first successful query of the platform.
bool ZIsWin9x();
bool ZIsWinNT();

ZString ZUserName();

// The library's name.
extern const ZString gLibraryName;

// Names of the trace channels of the process, user and socket-semaphore
// modules; the trace facility builds the channels themselves.
extern const char kProcessChannelName[];
extern const char kUserChannelName[];
extern const char kSockSemChannelName[];
