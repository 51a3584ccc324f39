// OS identity, platform tests, user name, ZUser and impersonation on the NT
// platform.
#include "zos.h"
#include "zinit.h"
#include "zraise_check.h"
#include "zuser.h"

#include <gtest/gtest.h>

namespace {

const char kZos[] = "../../../wf/wfutil/zos";
const char kZuser[] = "../../../wf/wfutil/zuser";

// Every GetVersionExA of the program goes through this counter, from before
// the library's first platform question to the end of the run.
int gVersionCalls = 0;
bool gVersionFails = false;
void* gRealGetVersionExA = nullptr;

BOOL WINAPI CountingGetVersionExA(OSVERSIONINFOA* info)
{
    ++gVersionCalls;
    if (gVersionFails) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return reinterpret_cast<BOOL(WINAPI*)(OSVERSIONINFOA*)>(gRealGetVersionExA)(info);
}

// What the platform tests did while the system refused the version query.
struct RefusedQueries {
    ZInternalEx* ntFailures[2] = {nullptr, nullptr};
    ZInternalEx* win9xFailure = nullptr;
    int callsWhileRefused = 0;
};
RefusedQueries gRefused;

ZInternalEx* Copy(const ZInternalEx& ex)
{
    return new ZInternalEx(ex);
}

// Built after the library's own globals up to the trace channels, and before
// the thread registry, whose lock is the library's first platform question.
struct VersionProbe {
    VersionProbe() : patch("kernel32.dll", "GetVersionExA",
                           reinterpret_cast<void*>(&CountingGetVersionExA))
    {
        gRealGetVersionExA = patch.Original();
        gVersionFails = true;
        for (ZInternalEx*& failure : gRefused.ntFailures) {
            try {
                ZIsWinNT();
            } catch (const ZInternalEx& ex) {
                failure = Copy(ex);
            }
        }
        try {
            ZIsWin9x();
        } catch (const ZInternalEx& ex) {
            gRefused.win9xFailure = Copy(ex);
        }
        gRefused.callsWhileRefused = gVersionCalls;
        gVersionFails = false;
        gVersionCalls = 0;
    }
    ZImportPatch patch;
};
VersionProbe gVersionProbe Z_INIT(Z_INIT_CHANNEL_SOCKSEM + 1);

int gUserNameError = 0;
BOOL WINAPI RefusingGetUserNameA(char*, DWORD*)
{
    SetLastError(gUserNameError);
    return FALSE;
}

int gOpenSCManagerCalls = 0;
int gCloseServiceHandleCalls = 0;
void* gRealOpenSCManagerA = nullptr;
void* gRealCloseServiceHandle = nullptr;
bool gServiceManagerRefuses = false;

DWORD gServiceManagerAccess = 0;
SC_HANDLE WINAPI CountingOpenSCManagerA(const char* machine, const char* database, DWORD access)
{
    ++gOpenSCManagerCalls;
    gServiceManagerAccess = access;
    if (gServiceManagerRefuses) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    return reinterpret_cast<SC_HANDLE(WINAPI*)(const char*, const char*, DWORD)>(
        gRealOpenSCManagerA)(machine, database, access);
}

BOOL WINAPI CountingCloseServiceHandle(SC_HANDLE h)
{
    ++gCloseServiceHandleCalls;
    return reinterpret_cast<BOOL(WINAPI*)(SC_HANDLE)>(gRealCloseServiceHandle)(h);
}

bool ThreadImpersonates()
{
    HANDLE token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
        return false;
    CloseHandle(token);
    return true;
}

HANDLE OwnToken(DWORD access)
{
    HANDLE token = nullptr;
    EXPECT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &token));
    return token;
}

} // namespace

TEST(ZOS, KindsAndSeparators)
{
    EXPECT_EQ('W', gOS.kind);
    EXPECT_EQ('\\', gOS.Separator());
    EXPECT_EQ('W', ZOS().kind);
    EXPECT_EQ('W', ZOS("win").kind);
    const ZOS unix("Unix");
    EXPECT_EQ('U', unix.kind);
    EXPECT_EQ('/', unix.Separator());
    ZOS other;
    other.kind = 'O';
    EXPECT_EQ('/', other.Separator());
}

TEST(ZOS, UnknownNamesAndKindsFailTheirAssertions)
{
    ExpectAssertion([] { ZOS os(""); }, kZos, 379, "false");
    ExpectAssertion([] { ZOS os("WINNT"); }, kZos, 379, "false");
    ZOS odd;
    odd.kind = 'X';
    ExpectAssertion([&] { odd.Separator(); }, kZos, 390, "false");
}

TEST(ZOS, LibraryAndChannelNames)
{
    EXPECT_STREQ("Wayfinder", gLibraryName);
    EXPECT_STREQ("ZProcess", kProcessChannelName);
    EXPECT_STREQ("ZUser", kUserChannelName);
    EXPECT_STREQ("ZSockSem", kSockSemChannelName);
}

TEST(ZPlatform, RefusedVersionQueryFailsTheAssertionAndCachesNothing)
{
    for (const ZInternalEx* ex : gRefused.ntFailures) {
        ASSERT_NE(nullptr, ex);
        ExpectRecord<ZInternalEx>(*ex, {&ZErr::Unexpected, "Assertion Failed", -1, "", kZos, 347,
                                        "\n../../../wf/wfutil/zos[347] ZASSERT( ok );"});
    }
    ASSERT_NE(nullptr, gRefused.win9xFailure);
    ExpectRecord<ZInternalEx>(*gRefused.win9xFailure,
                              {&ZErr::Unexpected, "Assertion Failed", -1, "", kZos, 287,
                               "\n../../../wf/wfutil/zos[287] ZASSERT( ok );"});
    EXPECT_EQ(3, gRefused.callsWhileRefused);
}

TEST(ZPlatform, NTIsAskedOnceAndCached)
{
    ASSERT_NE(nullptr, gRealGetVersionExA);
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(ZIsWinNT());
        EXPECT_FALSE(ZIsWin9x());
    }
    // One question each, however often they are asked.
    EXPECT_EQ(2, gVersionCalls);
}

TEST(ZUserName, IsTheSystemsUserName)
{
    char name[256];
    DWORD size = sizeof name;
    ASSERT_TRUE(GetUserNameA(name, &size));
    EXPECT_STREQ(name, ZUserName());
}

TEST(ZUserName, NotLoggedOnIsAnErrorOnNT)
{
    ZImportPatch patch("advapi32.dll", "GetUserNameA", reinterpret_cast<void*>(&RefusingGetUserNameA));
    ASSERT_TRUE(patch.Installed());
    gUserNameError = ERROR_NOT_LOGGED_ON;
    ExpectSystemError<ZFatalEx>([] { ZUserName(); }, ZErr::Unexpected, "GetUserName",
                                ERROR_NOT_LOGGED_ON, kZos, 115, "");
    ExpectSystemError<ZFatalEx>([] { ZUser user; }, ZErr::Unexpected, "GetUserName",
                                ERROR_NOT_LOGGED_ON, kZos, 115, "");
}

TEST(ZUser, StandsForTheCurrentUser)
{
    ZUser user;
    EXPECT_STREQ(ZUserName(), user.name);
    EXPECT_STREQ("", user.domain);
    EXPECT_FALSE(user.isWin9x);
    EXPECT_EQ(INVALID_HANDLE_VALUE, user.token);
    EXPECT_STREQ("", user.profile);
}

TEST(ZUser, CanManageServicesAsksTheServiceManagerAndClosesIt)
{
    ZImportPatch open("advapi32.dll", "OpenSCManagerA", reinterpret_cast<void*>(&CountingOpenSCManagerA));
    ZImportPatch close("advapi32.dll", "CloseServiceHandle",
                       reinterpret_cast<void*>(&CountingCloseServiceHandle));
    ASSERT_TRUE(open.Installed());
    ASSERT_TRUE(close.Installed());
    gRealOpenSCManagerA = open.Original();
    gRealCloseServiceHandle = close.Original();
    gOpenSCManagerCalls = gCloseServiceHandleCalls = 0;
    ZUser user;

    gServiceManagerRefuses = false;
    EXPECT_TRUE(user.CanManageServices());   // Wine's root may create services
    EXPECT_EQ(1, gOpenSCManagerCalls);
    EXPECT_EQ(static_cast<DWORD>(SC_MANAGER_CREATE_SERVICE), gServiceManagerAccess);
    EXPECT_EQ(1, gCloseServiceHandleCalls);

    gServiceManagerRefuses = true;
    EXPECT_FALSE(user.CanManageServices());
    EXPECT_EQ(2, gOpenSCManagerCalls);
    EXPECT_EQ(1, gCloseServiceHandleCalls);
}

TEST(ZImpersonate, WithoutATokenDoesNothing)
{
    {
        ZImpersonate none(nullptr);
        EXPECT_FALSE(none.active);
        EXPECT_FALSE(ThreadImpersonates());
    }
    ZUser current;
    ZImpersonate self(&current);
    EXPECT_FALSE(self.active);
    EXPECT_FALSE(ThreadImpersonates());
}

TEST(ZImpersonate, ImpersonatesTheUsersTokenUntilDestroyed)
{
    ZUser user;
    user.token = OwnToken(TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE);
    {
        ZImpersonate impersonation(&user);
        EXPECT_TRUE(impersonation.active);
        EXPECT_TRUE(ThreadImpersonates());
    }
    EXPECT_FALSE(ThreadImpersonates());
}

TEST(ZImpersonate, ATokenThatCannotBeImpersonatedRaises)
{
    ZUser user;
    user.token = CreateEventA(nullptr, FALSE, FALSE, nullptr);   // a handle, but no token
    ExpectSystemError<ZRareEx>([&] { ZImpersonate impersonation(&user); }, ZErr::Unexpected,
                               "ImpersonateLoggedOnUser", ERROR_INVALID_HANDLE, kZuser, 152, "");
    EXPECT_FALSE(ThreadImpersonates());
}
