#include "zdynalib.h"
#include "zraise_check.h"

namespace {

const char kSource[] = "../../../wf/wfutil/zdynalib";
// A system library that neither the test program nor the libraries it imports
// hold, so whether it is loaded shows in GetModuleHandle.
const char kUnheldLibrary[] = "mpr.dll";

} // namespace

TEST(ZDynaLib, LoadsALibraryAndFindsAnExport)
{
    ZDynaLib lib;
    EXPECT_STREQ("", lib.name);
    EXPECT_EQ(nullptr, lib.hLib);

    const HMODULE h = lib.Load("kernel32.dll");
    EXPECT_EQ(GetModuleHandleA("kernel32.dll"), h);
    EXPECT_EQ(h, lib.hLib);
    EXPECT_STREQ("kernel32.dll", lib.name);
    EXPECT_EQ(GetProcAddress(h, "GetTickCount"), lib.FindFunction("GetTickCount"));

    EXPECT_NE(FALSE, lib.Free());
    EXPECT_STREQ("", lib.name);
    EXPECT_EQ(nullptr, lib.hLib);
}

TEST(ZDynaLib, MissingLibraryRaisesCantLoadDLLAndStaysUsable)
{
    const char* missing = "zdynalib_no_such_library.dll";
    ZDynaLib lib;
    ExpectSystemError<ZCommonEx>([&] { lib.Load(missing); }, ZErr::CantLoadDLL, "LoadLibrary",
                                 ERROR_MOD_NOT_FOUND, kSource, 43,
                                 "Could not load dynamic library <zdynalib_no_such_library.dll>");
    EXPECT_EQ(nullptr, lib.hLib);
    EXPECT_STREQ(missing, lib.name);

    EXPECT_NE(nullptr, lib.Load("kernel32.dll"));
    EXPECT_STREQ("kernel32.dll", lib.name);
}

TEST(ZDynaLib, MissingExportRaisesCantFindFunctionAndKeepsTheLibrary)
{
    ZDynaLib lib;
    const HMODULE h = lib.Load("kernel32.dll");
    ExpectSystemError<ZCommonEx>([&] { lib.FindFunction("DllRegisterServer"); },
                                 ZErr::CantFindFunction, "GetProcAddress", ERROR_PROC_NOT_FOUND,
                                 kSource, 56,
                                 "Could not find function <DllRegisterServer> in <kernel32.dll>");
    EXPECT_EQ(h, lib.hLib);
    EXPECT_NE(nullptr, lib.FindFunction("GetTickCount"));
}

// A bare name is a system library, never looked for elsewhere. The test
// program's own file is no library of the system's: by its bare name it is not
// loaded, although a plain search finds it (the program is where a planted
// library would be), while its path loads it.
TEST(ZDynaLib, BareNameIsLoadedFromTheSystemDirectoryOnly)
{
    char self[MAX_PATH];
    ASSERT_NE(0u, GetModuleFileNameA(nullptr, self, MAX_PATH));
    const char* bare = strrchr(self, '\\') + 1;
    ASSERT_EQ(GetModuleHandleA(nullptr), LoadLibraryA(bare)) << "a plain search finds the program itself";

    ZDynaLib lib;
    ExpectSystemError<ZCommonEx>([&] { lib.Load(bare); }, ZErr::CantLoadDLL, "LoadLibrary",
                                 ERROR_MOD_NOT_FOUND, kSource, 43,
                                 ZString("Could not load dynamic library <") + bare + ">");
    EXPECT_EQ(GetModuleHandleA(nullptr), lib.Load(self));
}

TEST(ZDynaLib, PreconditionsAreAssertions)
{
    ZDynaLib lib;
    ExpectAssertion([&] { lib.FindFunction("GetTickCount"); }, kSource, 51, "hLib");
    ExpectAssertion([&] { lib.Free(); }, kSource, 66, "hLib");

    const HMODULE h = lib.Load("kernel32.dll");
    ExpectAssertion([&] { lib.Load("advapi32.dll"); }, kSource, 37, "!hLib");
    EXPECT_EQ(h, lib.hLib);
    EXPECT_STREQ("kernel32.dll", lib.name);
}

// A reference of the test's own keeps the library in memory while the object
// goes; whether the object dropped its reference shows when the test drops
// its own.
TEST(ZDynaLib, DestructionUnloadsExactlyOnce)
{
    ASSERT_EQ(nullptr, GetModuleHandleA(kUnheldLibrary));

    {
        ZDynaLib lib;
        lib.Load(kUnheldLibrary);
        ASSERT_NE(nullptr, LoadLibraryA(kUnheldLibrary));
    }
    const HMODULE held = GetModuleHandleA(kUnheldLibrary);
    ASSERT_NE(nullptr, held);
    FreeLibrary(held);
    EXPECT_EQ(nullptr, GetModuleHandleA(kUnheldLibrary));

    {
        ZDynaLib lib;
        lib.Load(kUnheldLibrary);
        ASSERT_NE(nullptr, LoadLibraryA(kUnheldLibrary));
        EXPECT_NE(FALSE, lib.Free());
    }
    const HMODULE stillHeld = GetModuleHandleA(kUnheldLibrary);
    ASSERT_NE(nullptr, stillHeld);
    FreeLibrary(stillHeld);
    EXPECT_EQ(nullptr, GetModuleHandleA(kUnheldLibrary));

    {
        ZDynaLib failed;
        EXPECT_THROW(failed.Load("zdynalib_no_such_library.dll"), ZCommonEx);
    }
}
