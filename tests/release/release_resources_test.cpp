// setup.exe as Windows sees it before running it: the application manifest
// (administrator rights, the supported systems, no version 6 of the common
// controls, awareness of the display scale), the version resource and the
// image checksum, read back with the system's own calls.
// SETUP_EXE names the file to check; it may be either architecture's.
#include <windows.h>
#include <imagehlp.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::string SetupExe()
{
    const char* path = getenv("SETUP_EXE");
    return path ? path : "";
}

// The text of the manifest that Windows reads at start-up: resource type 24
// (RT_MANIFEST), id 1.
std::string ManifestText(const std::string& exe)
{
    HMODULE module = LoadLibraryExA(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return "";
    std::string text;
    if (HRSRC res = FindResourceA(module, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24))) {
        const char* bytes = static_cast<const char*>(LockResource(LoadResource(module, res)));
        text.assign(bytes, SizeofResource(module, res));
    }
    FreeLibrary(module);
    return text;
}

int Count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(ReleaseManifest, AsksForAdministratorRightsListsVistaTo11KeepsTheClassicControlsAndKnowsTheScale)
{
    const std::string manifest = ManifestText(SetupExe());
    ASSERT_FALSE(manifest.empty()) << "no manifest in " << SetupExe();
    EXPECT_EQ(1, Count(manifest, "<requestedExecutionLevel "));
    EXPECT_EQ(1, Count(manifest, "level=\"requireAdministrator\""));
    EXPECT_EQ(1, Count(manifest, "uiAccess=\"false\""));
    for (const char* id : {"{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
                           "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
                           "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_EQ(1, Count(manifest, std::string("<supportedOS Id=\"") + id + "\"/>")) << id;
    EXPECT_EQ(0, Count(manifest, "Common-Controls"));
    EXPECT_EQ(0, Count(manifest, "<dependency"));
    EXPECT_EQ(1, Count(manifest, "<application xmlns=\"urn:schemas-microsoft-com:asm.v3\"><windowsSettings>"
                                 "<dpiAware xmlns=\"http://schemas.microsoft.com/SMI/2005/WindowsSettings\">true"
                                 "</dpiAware></windowsSettings></application>"));
}

// Declared for Windows 7 on, which this build does not target.
extern "C" BOOL WINAPI QueryActCtxSettingsW(DWORD flags, HANDLE context, PCWSTR nameSpace, PCWSTR name,
                                            PWSTR buffer, SIZE_T size, SIZE_T* written);

// The system's own parser accepts it: a manifest it rejected would keep the
// program from starting at all. The display-scale setting reads back from
// the activation context as the system reads it at start-up.
TEST(ReleaseManifest, MakesAnActivationContextAwareOfTheDisplayScale)
{
    const std::string exe = SetupExe();
    ACTCTXA context = {};
    context.cbSize = sizeof context;
    context.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    context.lpSource = exe.c_str();
    context.lpResourceName = MAKEINTRESOURCEA(1);
    HANDLE handle = CreateActCtxA(&context);
    ASSERT_NE(INVALID_HANDLE_VALUE, handle) << "error " << GetLastError();
    WCHAR value[16] = L"";
    SIZE_T written = 0;
    EXPECT_TRUE(QueryActCtxSettingsW(0, handle, nullptr, L"dpiAware", value, 16, &written)) << "error "
                                                                                          << GetLastError();
    EXPECT_EQ(std::wstring(L"true"), value);
    ReleaseActCtx(handle);
}

class ReleaseVersion : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string exe = SetupExe();
        DWORD ignored = 0;
        block.resize(GetFileVersionInfoSizeA(exe.c_str(), &ignored));
        ASSERT_FALSE(block.empty()) << "no version resource in " << exe;
        ASSERT_TRUE(GetFileVersionInfoA(exe.c_str(), 0, block.size(), block.data()));
    }

    std::string Value(const char* name)
    {
        char* value = nullptr;
        UINT length = 0;
        const std::string query = std::string("\\StringFileInfo\\040904E4\\") + name;
        if (!VerQueryValueA(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &length))
            return "(none)";
        return value;
    }

    std::vector<char> block;
};

// The texts Explorer shows, and the fixed part that agrees with them.
TEST_F(ReleaseVersion, NamesProductMakerAndVersion)
{
    EXPECT_EQ("CuratoNet", Value("ProductName"));
    EXPECT_EQ("Tamber Labs", Value("CompanyName"));
    EXPECT_EQ("CuratoNet Setup", Value("FileDescription"));
    EXPECT_EQ("Copyright (c) Tamber Labs. All rights reserved.", Value("LegalCopyright"));
    EXPECT_EQ("setup.exe", Value("OriginalFilename"));
    EXPECT_EQ(CURATO_VERSION, Value("FileVersion"));
    EXPECT_EQ(CURATO_VERSION, Value("ProductVersion"));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(VS_FFI_SIGNATURE, fixed->dwSignature);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(CURATO_VERSION_MINOR, CURATO_VERSION_MAJOR)), fixed->dwFileVersionMS);
    EXPECT_EQ(static_cast<DWORD>(MAKELONG(0, CURATO_VERSION_PATCH)), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    EXPECT_EQ(static_cast<DWORD>(VFT_APP), fixed->dwFileType);

    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(4u, length);
    EXPECT_EQ(0x0409, translation[0]);
    EXPECT_EQ(1252, translation[1]);
}

// setup.exe checks itself against the checksum in its header at start-up: the
// linker must have written it, as the system computes it.
TEST(ReleaseImage, CarriesItsOwnChecksum)
{
    DWORD stored = 0, computed = 0;
    ASSERT_EQ(static_cast<DWORD>(CHECKSUM_SUCCESS), MapFileAndCheckSumA(SetupExe().c_str(), &stored, &computed));
    EXPECT_NE(0u, stored);
    EXPECT_EQ(computed, stored);
}

} // namespace
