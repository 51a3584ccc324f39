// ZRegKey against a scratch key of the current user, and the access lists that
// ZWinSecAttrs builds, read back through the Win32 security calls.
#include "zraise_check.h"
#include "zsecurity_check.h"
#include "zuser.h"
#include "zwinutil.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

const char kZwinutil[] = "../../../wf/wfutil/zwinutil";

void ExpectThreeAces(const char* permissions, DWORD everyoneMask)
{
    SCOPED_TRACE(permissions);
    ZWinSecAttrs attrs(permissions, nullptr);
    ASSERT_NE(nullptr, attrs.GetAttrs());
    EXPECT_EQ(static_cast<void*>(&attrs), attrs.GetAttrs());
    ExpectClassAces(ReadAces(attrs.GetAttrs()), everyoneMask);
}

bool ThreadImpersonates()
{
    HANDLE token;
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
        return false;
    CloseHandle(token);
    return true;
}

// A user whose token is the process's own, opened with the given rights.
void GiveOwnToken(ZUser& user, DWORD access)
{
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), access, &user.token));
}

// A refused system call of any stdcall signature, with a recognisable code.
const int kInjectedError = ERROR_INVALID_FUNCTION;
template <class... Args>
BOOL WINAPI RefuseCall(Args...)
{
    SetLastError(kInjectedError);
    return FALSE;
}

// AddAccessAllowedAce refused only at its gFailingAce-th call.
int gAceCalls = 0;
int gFailingAce = 0;
void* gRealAddAccessAllowedAce = nullptr;
BOOL WINAPI RefuseNthAce(PACL acl, DWORD revision, DWORD mask, PSID sid)
{
    if (++gAceCalls == gFailingAce)
        return RefuseCall(acl);
    return reinterpret_cast<BOOL(WINAPI*)(PACL, DWORD, DWORD, PSID)>(gRealAddAccessAllowedAce)(
        acl, revision, mask, sid);
}

// Records the library's LocalAlloc blocks until LocalFree releases them.
std::vector<void*> gLiveBlocks;
void* gRealLocalAlloc = nullptr;
void* gRealLocalFree = nullptr;
HLOCAL WINAPI TrackedLocalAlloc(UINT flags, SIZE_T bytes)
{
    HLOCAL block = reinterpret_cast<HLOCAL(WINAPI*)(UINT, SIZE_T)>(gRealLocalAlloc)(flags, bytes);
    if (block)
        gLiveBlocks.push_back(block);
    return block;
}
HLOCAL WINAPI TrackedLocalFree(HLOCAL block)
{
    for (size_t i = 0; i < gLiveBlocks.size(); ++i)
        if (gLiveBlocks[i] == block)
            gLiveBlocks.erase(gLiveBlocks.begin() + i);
    return reinterpret_cast<HLOCAL(WINAPI*)(HLOCAL)>(gRealLocalFree)(block);
}

class BlockTracker {
public:
    BlockTracker()
        : m_alloc("kernel32.dll", "LocalAlloc", reinterpret_cast<void*>(&TrackedLocalAlloc)),
          m_free("kernel32.dll", "LocalFree", reinterpret_cast<void*>(&TrackedLocalFree))
    {
        gRealLocalAlloc = m_alloc.Original();
        gRealLocalFree = m_free.Original();
        gLiveBlocks.clear();
    }
    int Outstanding() const { return static_cast<int>(gLiveBlocks.size()); }

private:
    ZImportPatch m_alloc;
    ZImportPatch m_free;
};

// The access that the library asks RegOpenKeyExA for.
REGSAM gOpenAccess = 0;
void* gRealRegOpenKeyExA = nullptr;
LONG WINAPI RecordingRegOpenKeyExA(HKEY root, const char* subKey, DWORD options, REGSAM access,
                                   HKEY* key)
{
    gOpenAccess = access;
    return reinterpret_cast<LONG(WINAPI*)(HKEY, const char*, DWORD, REGSAM, HKEY*)>(
        gRealRegOpenKeyExA)(root, subKey, options, access, key);
}

// A scratch key under HKEY_CURRENT_USER\Software, removed again at the end.
class ZRegKeyTest : public testing::Test {
protected:
    void SetUp() override
    {
        subKey = "Software\\ZRegKeyTest" + FormatInt(static_cast<int>(GetCurrentProcessId()), "%i");
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, subKey, 0, nullptr, 0,
                                                 KEY_ALL_ACCESS, nullptr, &key, nullptr));
    }
    void TearDown() override
    {
        RegCloseKey(key);
        RegDeleteKeyA(HKEY_CURRENT_USER, subKey);
    }
    void Set(const char* name, DWORD type, const void* data, DWORD size)
    {
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data), size));
    }
    void SetText(const char* name, const ZString& text)
    {
        Set(name, REG_SZ, text.c_str(), text.GetLength() + 1);
    }
    ZString Detail(const char* valueName) const
    {
        return "HKEY_CURRENT_USER\\" + subKey + " (" + valueName + ")";
    }

    ZString subKey;
    HKEY key = nullptr;
};

} // namespace

TEST(ZRegKeyRoot, NamesTheThreeRootsAndNothingElse)
{
    EXPECT_STREQ("HKEY_LOCAL_MACHINE\\", ZRegKey::RootName(HKEY_LOCAL_MACHINE));
    EXPECT_STREQ("HKEY_CURRENT_USER\\", ZRegKey::RootName(HKEY_CURRENT_USER));
    EXPECT_STREQ("HKEY_CLASSES_ROOT\\", ZRegKey::RootName(HKEY_CLASSES_ROOT));
    EXPECT_STREQ("???\\", ZRegKey::RootName(HKEY_USERS));
}

TEST_F(ZRegKeyTest, ReadsStringValuesUpToTheBufferSize)
{
    SetText("short", "C:\\Programs");
    SetText("longest", ZString('x', 4095));   // 4096 bytes with its zero
    Set("unterminated", REG_SZ, "abc", 3);
    ZImportPatch open("advapi32.dll", "RegOpenKeyExA",
                      reinterpret_cast<void*>(&RecordingRegOpenKeyExA));
    ASSERT_TRUE(open.Installed());
    gRealRegOpenKeyExA = open.Original();
    for (bool readOnly : {true, false}) {
        ZRegKey reg(HKEY_CURRENT_USER, subKey, readOnly);
        EXPECT_EQ(readOnly ? 0x20019u : 0xF003Fu, gOpenAccess);
        EXPECT_STREQ("C:\\Programs", reg.QueryString("short"));
        EXPECT_EQ(4095, reg.QueryString("longest").GetLength());
        EXPECT_STREQ("abc", reg.QueryString("unterminated"));
    }
}

TEST_F(ZRegKeyTest, RefusesWhatIsNotAShortEnoughStringValue)
{
    Set("expand", REG_EXPAND_SZ, "%TEMP%", 7);
    const DWORD number = 7;
    Set("number", REG_DWORD, &number, sizeof number);
    SetText("toolong", ZString('y', 4096));
    ZRegKey reg(HKEY_CURRENT_USER, subKey, true);
    ExpectSystemError<ZRareEx>([&] { reg.QueryString("expand"); }, ZErr::Unexpected,
                               "RegQueryValueEx", 0, kZwinutil, 578, Detail("expand"));
    ExpectSystemError<ZRareEx>([&] { reg.QueryString("number"); }, ZErr::Unexpected,
                               "RegQueryValueEx", 0, kZwinutil, 578, Detail("number"));
    ExpectSystemError<ZRareEx>([&] { reg.QueryString("missing"); }, ZErr::Unexpected,
                               "RegQueryValueEx", ERROR_FILE_NOT_FOUND, kZwinutil, 578,
                               Detail("missing"));
    ExpectSystemError<ZRareEx>([&] { reg.QueryString("toolong"); }, ZErr::Unexpected,
                               "RegQueryValueEx", ERROR_MORE_DATA, kZwinutil, 578,
                               Detail("toolong"));
}

TEST_F(ZRegKeyTest, MissingKeyRaisesWithItsDisplayName)
{
    const ZString missing = subKey + "\\missing";
    ExpectSystemError<ZRareEx>([&] { ZRegKey reg(HKEY_CURRENT_USER, missing, true); },
                               ZErr::Unexpected, "RegOpenKeyEx", ERROR_FILE_NOT_FOUND, kZwinutil,
                               395, "HKEY_CURRENT_USER\\" + missing);
    ExpectSystemError<ZRareEx>([&] { ZRegKey reg(HKEY_USERS, "ZRegKeyTestMissing", false); },
                               ZErr::Unexpected, "RegOpenKeyEx", ERROR_FILE_NOT_FOUND, kZwinutil,
                               395, "???\\ZRegKeyTestMissing");
}

TEST_F(ZRegKeyTest, FailedCloseRaisesUnlessAnotherErrorIsUnwinding)
{
    // The key handle is the object's first member; closing it behind the
    // object's back makes the destructor's close fail.
    auto closeBehindItsBack = [](ZRegKey& reg) { RegCloseKey(*reinterpret_cast<HKEY*>(&reg)); };
    ExpectSystemError<ZRareEx>(
        [&] {
            ZRegKey reg(HKEY_CURRENT_USER, subKey, true);
            closeBehindItsBack(reg);
        },
        ZErr::Unexpected, "RegCloseKey", ERROR_INVALID_HANDLE, kZwinutil, 421, "");
    ZDebugOutputRecorder debug;
    ASSERT_TRUE(debug.Installed());
    try {
        ZRegKey reg(HKEY_CURRENT_USER, subKey, true);
        closeBehindItsBack(reg);
        throw std::runtime_error("first");
    } catch (const std::runtime_error& first) {
        EXPECT_STREQ("first", first.what());
    }
    // Instead of ending the process, the failure went to the debugger.
    EXPECT_NE(std::string::npos, debug.Text().find("RegCloseKey rc=6")) << debug.Text();
}

TEST(ZWinSecAttrs, AccessListsOfThePermissionClasses)
{
    ExpectThreeAces("*PUBLIC*", kFull);
    for (const char* protectedText : {"*PROTECTED*", "A", "RH", "", "*public*"})
        ExpectThreeAces(protectedText, kReadExecute);

    ZWinSecAttrs privateAttrs("*PRIVATE*", nullptr);
    ASSERT_NE(nullptr, privateAttrs.GetAttrs());
    const std::vector<Ace> aces = ReadAces(privateAttrs.GetAttrs());
    ASSERT_EQ(2u, aces.size());
    ExpectAce(aces[0], kFull, ProcessUserSid());
    ExpectAce(aces[1], kFull, "S-1-5-18");

    ZWinSecAttrs none("*NULL*", nullptr);
    EXPECT_EQ(nullptr, none.GetAttrs());
}

TEST(ZWinSecAttrs, UserAceComesFromTheGivenUsersTokenWhichStaysOpen)
{
    ZUser user;
    GiveOwnToken(user, TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE);
    {
        ZWinSecAttrs attrs("*PRIVATE*", &user);
        EXPECT_FALSE(ThreadImpersonates());
        const std::vector<Ace> aces = ReadAces(attrs.GetAttrs());
        ASSERT_EQ(2u, aces.size());
        ExpectAce(aces[0], kFull, TokenUserSid(user.token));
    }
    EXPECT_EQ(ProcessUserSid(), TokenUserSid(user.token));
}

TEST(ZWinSecAttrs, AnUnusableTokenRaisesBeforeAnythingIsImpersonated)
{
    ZUser stranger;
    stranger.token = CreateEventA(nullptr, FALSE, FALSE, nullptr);   // a handle, not a token
    ExpectSystemError<ZRareEx>([&] { ZWinSecAttrs attrs("*PUBLIC*", &stranger); },
                               ZErr::Unexpected, "ImpersonateLoggedOnUser", ERROR_INVALID_HANDLE,
                               "../../../wf/wfutil/zuser", 152, "");
    EXPECT_FALSE(ThreadImpersonates());
}

// Each security call of the constructor refused in turn: the error names the
// call and its line, the impersonation has ended and no block is left behind.
TEST(ZWinSecAttrs, EachRefusedCallRaisesItsRowAndLeavesNothingBehind)
{
    struct Row {
        const char* function;
        void* refusal;
        int failAtCall;
        const char* permissions;
        const char* operation;
        int line;
    };
    void* refuse3 = reinterpret_cast<void*>(&RefuseCall<void*, void*, void*>);
    void* refuse4 = reinterpret_cast<void*>(&RefuseCall<void*, void*, void*, void*>);
    void* refuse7 = reinterpret_cast<void*>(&RefuseCall<void*, void*, void*, void*, void*, void*, void*>);
    void* refuse5 = reinterpret_cast<void*>(&RefuseCall<void*, void*, void*, void*, void*>);
    void* refuse2 = reinterpret_cast<void*>(&RefuseCall<void*, void*>);
    void* refuseAce = reinterpret_cast<void*>(&RefuseNthAce);
    const Row rows[] = {
        {"InitializeAcl", refuse3, 0, "*PUBLIC*", "InitializeAcl", 714},
        {"InitializeSid", refuse3, 0, "*PUBLIC*", "InitSid", 725},
        {"AddAccessAllowedAce", refuseAce, 1, "*PUBLIC*", "AddAccessAllowedAce", 733},
        {"InitializeSid", refuse3, 0, "*PROTECTED*", "InitSid", 742},
        {"AddAccessAllowedAce", refuseAce, 1, "*PROTECTED*", "AddAccessAllowedAce", 750},
        {"OpenProcessToken", refuse3, 0, "*PRIVATE*", "OpenProcTok", 770},
        {"GetTokenInformation", refuse5, 0, "*PRIVATE*", "GetTokenInformation", 779},
        {"AddAccessAllowedAce", refuseAce, 2, "*PUBLIC*", "AddAccessAllowedAce", 791},
        {"AddAccessAllowedAce", refuseAce, 1, "*PRIVATE*", "AddAccessAllowedAce", 791},
        {"LookupAccountNameA", refuse7, 0, "*PRIVATE*", "LookupAccountName", 807},
        {"AddAccessAllowedAce", refuseAce, 3, "*PROTECTED*", "AddAccessAllowedAce", 814},
        {"InitializeSecurityDescriptor", refuse2, 0, "*PRIVATE*", "InitializeSecurityDescriptor", 821},
        {"SetSecurityDescriptorDacl", refuse4, 0, "*PUBLIC*", "SetSecurityDescriptorDacl", 825},
    };
    BlockTracker blocks;
    ZUser user;
    GiveOwnToken(user, TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE);
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << row.function << " " << row.permissions);
        const bool tokenOpened = strcmp(row.function, "OpenProcessToken") == 0;
        for (ZUser* who : {static_cast<ZUser*>(nullptr), &user}) {
            if (who && tokenOpened)
                continue;   // a given user's token is never opened
            ZImportPatch refusal("advapi32.dll", row.function, row.refusal);
            ASSERT_TRUE(refusal.Installed());
            gRealAddAccessAllowedAce = refusal.Original();
            gAceCalls = 0;
            gFailingAce = row.failAtCall;
            ExpectSystemError<ZRareEx>([&] { ZWinSecAttrs attrs(row.permissions, who); },
                                       ZErr::Unexpected, row.operation, kInjectedError, kZwinutil,
                                       row.line, "");
            EXPECT_FALSE(ThreadImpersonates());
            EXPECT_EQ(0, blocks.Outstanding());
        }
    }
}

TEST(ZWinSecAttrs, AllocGivesZeroedBlocksAndRaisesWhenRefused)
{
    ZWinSecAttrs attrs("*NULL*", nullptr);
    const unsigned char* block = static_cast<unsigned char*>(attrs.Alloc(64));
    ASSERT_NE(nullptr, block);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(0, block[i]);
    // Half the address space: more than either architecture can give.
    ExpectSystemError<ZRareEx>([&] { attrs.Alloc(~SIZE_T(0) / 2); }, ZErr::Unexpected, "LocalAlloc",
                               ERROR_NOT_ENOUGH_MEMORY, kZwinutil, 881, "");
}

TEST(ZWinSecAttrs, FailedFreeRaisesUnlessAnotherErrorIsUnwinding)
{
    {
        BlockTracker blocks;
        ExpectSystemError<ZRareEx>(
            [] {
                ZWinSecAttrs attrs("*PUBLIC*", nullptr);
                LocalFree(attrs.Alloc(16));   // the destructor frees it a second time
                attrs.Alloc(16);
            },
            ZErr::Unexpected, "~ZWinSecAttrs", ERROR_INVALID_HANDLE, kZwinutil, 870, "");
        EXPECT_EQ(0, blocks.Outstanding());   // the blocks after the failure were freed too
    }
    ZDebugOutputRecorder debug;
    ASSERT_TRUE(debug.Installed());
    try {
        ZWinSecAttrs attrs("*PUBLIC*", nullptr);
        LocalFree(attrs.Alloc(16));
        throw std::runtime_error("first");
    } catch (const std::runtime_error& first) {
        EXPECT_STREQ("first", first.what());
    }
    // Instead of ending the process, the failure went to the debugger.
    EXPECT_NE(std::string::npos, debug.Text().find("~ZWinSecAttrs rc=6")) << debug.Text();
}

namespace {

void* const kRefuseOpenToken = reinterpret_cast<void*>(&RefuseCall<void*, void*, void*>);
void* const kRefuseTokenInfo = reinterpret_cast<void*>(&RefuseCall<void*, void*, void*, void*, void*>);
void* const kRefuseLookup =
    reinterpret_cast<void*>(&RefuseCall<void*, void*, void*, void*, void*, void*, void*>);

// The three entries for the process's user, whose SID is given: the helpers
// that read it would themselves be refused the token.
void ExpectClassList(const char* permissions, DWORD everyoneMask, const std::string& userSid)
{
    SCOPED_TRACE(permissions);
    ZWinSecAttrs attrs(permissions, nullptr);
    const std::vector<Ace> aces = ReadAces(attrs.GetAttrs());
    ASSERT_EQ(3u, aces.size());
    ExpectAce(aces[0], everyoneMask, "S-1-1-0");
    ExpectAce(aces[1], kFull, userSid);
    ExpectAce(aces[2], kFull, "S-1-5-18");
}

// Building for the process's user with its token refused: raises at line 770.
void ExpectTokenAsked(const char* permissions)
{
    ExpectSystemError<ZRareEx>([&] { ZWinSecAttrs attrs(permissions, nullptr); },
                               ZErr::Unexpected, "OpenProcTok", kInjectedError, kZwinutil, 770, "");
}

} // namespace

TEST(ZSidCache, WhileOneLivesTheSidsAreLookedUpOnceAndEveryListStaysTheSame)
{
    BlockTracker blocks;
    {
        ZSidCache sids;
        {
            ZImportPatch noToken("advapi32.dll", "OpenProcessToken", kRefuseOpenToken);
            ASSERT_TRUE(noToken.Installed());
            ExpectTokenAsked("*PROTECTED*");   // a failed first look-up raises and keeps nothing
            ExpectTokenAsked("*PUBLIC*");
        }
        const std::string me = ProcessUserSid();
        ExpectClassList("*PROTECTED*", kReadExecute, me);
        ZImportPatch noToken("advapi32.dll", "OpenProcessToken", kRefuseOpenToken);
        ZImportPatch noLookup("advapi32.dll", "LookupAccountNameA", kRefuseLookup);
        ASSERT_TRUE(noLookup.Installed());
        ExpectClassList("*PROTECTED*", kReadExecute, me);
        ExpectClassList("*PUBLIC*", kFull, me);
    }
    EXPECT_EQ(0, blocks.Outstanding());
    ZImportPatch noToken("advapi32.dll", "OpenProcessToken", kRefuseOpenToken);
    ExpectTokenAsked("*PROTECTED*");   // gone with the cache
}

// Another user's SID is never kept for the process's user, nor taken from
// the cache for that user.
TEST(ZSidCache, AGivenUsersTokenIsReadEveryTime)
{
    ZUser user;
    GiveOwnToken(user, TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE);
    ZSidCache sids;
    {
        ZWinSecAttrs attrs("*PRIVATE*", &user);
        ExpectAce(ReadAces(attrs.GetAttrs())[0], kFull, TokenUserSid(user.token));
    }
    {
        ZImportPatch noToken("advapi32.dll", "OpenProcessToken", kRefuseOpenToken);
        ExpectTokenAsked("*PRIVATE*");
    }
    ExpectThreeAces("*PROTECTED*", kReadExecute);
    ZImportPatch noInfo("advapi32.dll", "GetTokenInformation", kRefuseTokenInfo);
    ASSERT_TRUE(noInfo.Installed());
    ExpectSystemError<ZRareEx>([&] { ZWinSecAttrs attrs("*PRIVATE*", &user); }, ZErr::Unexpected,
                               "GetTokenInformation", kInjectedError, kZwinutil, 779, "");
}

TEST(ZSidCache, OnlyTheInnermostOfItsOwnThreadIsUsed)
{
    const std::string me = ProcessUserSid();
    ZSidCache outer;
    ExpectClassList("*PROTECTED*", kReadExecute, me);
    ZImportPatch noToken("advapi32.dll", "OpenProcessToken", kRefuseOpenToken);
    {
        ZSidCache inner;
        ExpectTokenAsked("*PROTECTED*");
    }
    ExpectClassList("*PROTECTED*", kReadExecute, me);
    std::thread other([] { ExpectTokenAsked("*PROTECTED*"); });
    other.join();
}
