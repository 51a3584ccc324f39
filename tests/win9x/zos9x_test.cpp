// OS identity, user and impersonation on the Windows 9x platform, which Wine
// reports to this test program.
#include "../unit/zraise_check.h"
#include "zinit.h"
#include "zos.h"
#include "zuser.h"
#include "zwinutil.h"

#include <gtest/gtest.h>

namespace {

const char kZos[] = "../../../wf/wfutil/zos";

// Counts every GetVersionExA of the program from before the library's first
// platform question (the thread registry's lock) to the end of the run.
int gVersionCalls = 0;
void* gRealGetVersionExA = nullptr;

BOOL WINAPI CountingGetVersionExA(OSVERSIONINFOA* info)
{
    ++gVersionCalls;
    return reinterpret_cast<BOOL(WINAPI*)(OSVERSIONINFOA*)>(gRealGetVersionExA)(info);
}

struct VersionCounter {
    VersionCounter()
        : patch("kernel32.dll", "GetVersionExA", reinterpret_cast<void*>(&CountingGetVersionExA))
    {
        gRealGetVersionExA = patch.Original();
    }
    ZImportPatch patch;
};
VersionCounter gVersionCounter Z_INIT(Z_INIT_CHANNEL_SOCKSEM + 1);

int gUserNameError = 0;
BOOL WINAPI RefusingGetUserNameA(char*, DWORD*)
{
    SetLastError(gUserNameError);
    return FALSE;
}

int gSystemCalls = 0;
SC_HANDLE WINAPI CountedOpenSCManagerA(const char*, const char*, DWORD)
{
    ++gSystemCalls;
    return nullptr;
}
BOOL WINAPI CountedImpersonateLoggedOnUser(HANDLE)
{
    ++gSystemCalls;
    return FALSE;
}

} // namespace

TEST(ZPlatform9x, Win9xIsAskedOnceAndCached)
{
    ASSERT_NE(nullptr, gRealGetVersionExA);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(ZIsWin9x());
        EXPECT_FALSE(ZIsWinNT());
    }
    EXPECT_EQ(2, gVersionCalls);
    EXPECT_EQ('\\', gOS.Separator());
}

TEST(ZUserName9x, NoLoggedOnUserIsWin95)
{
    ZImportPatch patch("advapi32.dll", "GetUserNameA", reinterpret_cast<void*>(&RefusingGetUserNameA));
    ASSERT_TRUE(patch.Installed());
    gUserNameError = ERROR_NOT_LOGGED_ON;
    EXPECT_STREQ("Win95", ZUserName());
    ZUser user;
    EXPECT_STREQ("Win95", user.name);
    EXPECT_TRUE(user.isWin9x);

    gUserNameError = ERROR_INVALID_PARAMETER;
    ExpectSystemError<ZFatalEx>([] { ZUserName(); }, ZErr::Unexpected, "GetUserName",
                                ERROR_INVALID_PARAMETER, kZos, 115, "");
}

TEST(ZUser9x, MayManageServicesAndIsNeverImpersonated)
{
    ZImportPatch manager("advapi32.dll", "OpenSCManagerA",
                         reinterpret_cast<void*>(&CountedOpenSCManagerA));
    ZImportPatch impersonate("advapi32.dll", "ImpersonateLoggedOnUser",
                             reinterpret_cast<void*>(&CountedImpersonateLoggedOnUser));
    ASSERT_TRUE(manager.Installed());
    ASSERT_TRUE(impersonate.Installed());
    gSystemCalls = 0;
    ZUser user;
    EXPECT_TRUE(user.isWin9x);
    EXPECT_TRUE(user.CanManageServices());
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_IMPERSONATE, &user.token));
    {
        ZImpersonate impersonation(&user);
        EXPECT_FALSE(impersonation.active);
    }
    EXPECT_EQ(0, gSystemCalls);
}

TEST(ZWinSecAttrs9x, NoClassGetsADescriptor)
{
    ZUser user;
    user.token = CreateEventA(nullptr, FALSE, FALSE, nullptr);   // never looked at here
    for (const char* permissions : {"*PUBLIC*", "*PROTECTED*", "*PRIVATE*", "*NULL*", "RH", ""}) {
        SCOPED_TRACE(permissions);
        ZWinSecAttrs own(permissions, nullptr);
        EXPECT_EQ(nullptr, own.GetAttrs());
        ZWinSecAttrs given(permissions, &user);
        EXPECT_EQ(nullptr, given.GetAttrs());
    }
}
