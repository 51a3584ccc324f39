#include "zos.h"

#include "zexcept.h"
#include "zinit.h"

#include <windows.h>

#include <cstring>

namespace {

const char kZosFile[] = "../../../wf/wfutil/zos";

// The platform id of the running system; false when the system refuses the query.
bool QueryPlatformId(DWORD* platformId)
{
    OSVERSIONINFOA info;
    memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (!GetVersionExA(&info))
        return false;
    *platformId = info.dwPlatformId;
    return true;
}

} // namespace

const char kProcessChannelName[] = "ZProcess";
const char kUserChannelName[] = "ZUser";
const char kSockSemChannelName[] = "ZSockSem";

ZOS gOS Z_INIT(Z_INIT_OS);
const ZString gLibraryName Z_INIT(Z_INIT_OS) = "Wayfinder";

ZOS::ZOS(const char* name) : kind('W')
{
    const ZString upper = UpperCopy(name ? name : "WIN");
    if (strcmp(upper, "WIN") == 0)
        kind = 'W';
    else if (strcmp(upper, "UNIX") == 0)
        kind = 'U';
    else
        ZASSERT(kZosFile, 379, false);
}

char ZOS::Separator() const
{
    switch (kind) {
    case 'W':
        return '\\';
    case 'U':
    case 'O':
        return '/';
    }
    ZASSERT(kZosFile, 390, false);
}

namespace {

// One platform test with its own cache, filled by the first successful query.
struct PlatformCache {
    bool known;
    bool value;
};

bool CachedPlatformIs(PlatformCache& cache, DWORD wanted, int assertLine)
{
    if (cache.known)
        return cache.value;
    DWORD platformId = 0;
    const bool ok = QueryPlatformId(&platformId);
    ZASSERT(kZosFile, assertLine, ok);
    cache.value = platformId == wanted;
    cache.known = true;
    return cache.value;
}

} // namespace

bool ZIsWin9x()
{
    static PlatformCache cache = {false, false};
    return CachedPlatformIs(cache, VER_PLATFORM_WIN32_WINDOWS, 287);
}

bool ZIsWinNT()
{
    static PlatformCache cache = {false, false};
    return CachedPlatformIs(cache, VER_PLATFORM_WIN32_NT, 347);
}

ZString ZUserName()
{
    char buffer[100];
    DWORD size = sizeof buffer;
    if (GetUserNameA(buffer, &size))
        return ZString(buffer);
    const DWORD err = GetLastError();
    if (err == ERROR_NOT_LOGGED_ON && ZIsWin9x())
        return ZString("Win95");
    throw ZFatalEx(&ZErr::Unexpected, "GetUserName", static_cast<int>(err),
                   SystemErrorText(static_cast<int>(err)), kZosFile, 115, "");
}
