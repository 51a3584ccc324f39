#include "zfile.h"
#include "zraise_check.h"
#include "zshellfolders_fixture.h"
#include "zuser.h"
#include "zwinutil.h"

#include <objbase.h>
#include <shlobj.h>

namespace {

const char kSource[] = "../../../wf/wfutil/zwinutil";

class ZProgramGroupTest : public shellfolders::Test {};

int CountEntries(const ZString& folder)
{
    int n = 0;
    WIN32_FIND_DATAA found;
    const HANDLE h = FindFirstFileA(JoinPath(folder, "*"), &found);
    if (h == INVALID_HANDLE_VALUE)
        return 0;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            ++n;
    } while (FindNextFileA(h, &found));
    FindClose(h);
    return n;
}

void WriteTextFile(const ZString& path, const char* text)
{
    FILE* f = fopen(path, "wb");
    ASSERT_NE(nullptr, f);
    fputs(text, f);
    fclose(f);
}

ZString ReadTextFile(const ZString& path)
{
    char buffer[256] = {};
    FILE* f = fopen(path, "rb");
    if (!f)
        return ZString();
    const size_t n = fread(buffer, 1, sizeof buffer - 1, f);
    fclose(f);
    return ZString(buffer, static_cast<int>(n));
}

// The show command as the file stores it (the 32-bit field at offset 0x3C of
// the link header). The link object reads every value other than normal,
// maximised and minimised-inactive back as SW_SHOWNORMAL.
int StoredShowCommand(const ZString& linkPath)
{
    unsigned char header[0x40] = {};
    FILE* f = fopen(linkPath, "rb");
    if (!f)
        return -1;
    const size_t n = fread(header, 1, sizeof header, f);
    fclose(f);
    if (n != sizeof header)
        return -1;
    return header[0x3C] | header[0x3D] << 8 | header[0x3E] << 16 | header[0x3F] << 24;
}

// A shortcut file as the shell link object reads it back.
struct LinkContents {
    bool loaded = false;
    char path[MAX_PATH] = {};
    char workingDirectory[MAX_PATH] = {};
    char iconPath[MAX_PATH] = {};
    int iconIndex = -1;
    char description[INFOTIPSIZE] = {};
    char arguments[MAX_PATH] = {};
};

// COM must be initialised on the thread (a live ZProgramGroup does that).
LinkContents ReadLink(const ZString& linkPath)
{
    LinkContents c;
    IShellLinkA* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&link))))
        return c;
    IPersistFile* file = nullptr;
    WCHAR wide[MAX_PATH];
    if (SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
        MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wide, MAX_PATH) &&
        SUCCEEDED(file->Load(wide, STGM_READ))) {
        c.loaded = true;
        link->GetPath(c.path, MAX_PATH, nullptr, SLGP_RAWPATH);
        link->GetWorkingDirectory(c.workingDirectory, MAX_PATH);
        link->GetIconLocation(c.iconPath, MAX_PATH, &c.iconIndex);
        link->GetDescription(c.description, INFOTIPSIZE);
        link->GetArguments(c.arguments, MAX_PATH);
    }
    if (file)
        file->Release();
    link->Release();
    return c;
}

// Whether this thread's COM initialisation count is back at zero.
bool ComReleased()
{
    const HRESULT hr = CoInitialize(NULL);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_OK;
}

HRESULT WINAPI ClassNotRegistered(REFCLSID, LPUNKNOWN, DWORD, REFIID, LPVOID* object)
{
    *object = nullptr;
    return REGDB_E_CLASSNOTREG;
}

} // namespace

TEST_F(ZProgramGroupTest, AdministratorGetsTheAllUsersFolder)
{
    ASSERT_TRUE(ZUser().CanManageServices());   // root under Wine
    {
        ZProgramGroup group("Curato");
        EXPECT_STREQ(commonDir, group.progDir);
        EXPECT_STREQ("Curato", group.groupName);
        group.CreateFolder();
        EXPECT_EQ(2, ZFileType(JoinPath(commonDir, "Curato")));
        EXPECT_EQ(0, ZFileType(JoinPath(userDir, "Curato")));

        // An existing folder is left as it is.
        const ZString kept = JoinPath(JoinPath(commonDir, "Curato"), "kept.txt");
        WriteTextFile(kept, "kept");
        group.CreateFolder();
        EXPECT_STREQ("kept", ReadTextFile(kept));
    }
    EXPECT_TRUE(ComReleased());
}

TEST_F(ZProgramGroupTest, EmptyCommonProgramsFallsBackToPrograms)
{
    m_common.Set("");
    ZProgramGroup group("Curato");
    EXPECT_STREQ(userDir, group.progDir);
}

// A construction that raises gives its COM initialisation back too.
TEST_F(ZProgramGroupTest, FailedLookupsRaiseAndReleaseCom)
{
    m_common.Set("");
    m_programs.Set("");
    ExpectAssertion([] { ZProgramGroup group("Curato"); }, kSource, 1036, "! progDir.IsEmpty()");
    EXPECT_TRUE(ComReleased());

    // An administrator without the all-users value gets the registry's error,
    // not the per-user folder.
    m_common.Remove();
    m_programs.Set(userDir);
    ExpectSystemError<ZRareEx>([] { ZProgramGroup group("Curato"); }, ZErr::Unexpected,
                               "RegQueryValueEx", ERROR_FILE_NOT_FOUND, kSource, 578,
                               "HKEY_LOCAL_MACHINE\\" + ZString(shellfolders::kKey) +
                                   " (Common Programs)");
    EXPECT_TRUE(ComReleased());
}

TEST_F(ZProgramGroupTest, OnlyOneObjectPerThread)
{
    {
        ZProgramGroup first("Curato");
        ExpectAssertion([] { ZProgramGroup second("Other"); }, kSource, 1019,
                        "CoInitialize(NULL) == S_OK");
        EXPECT_FALSE(ComReleased());
    }
    EXPECT_TRUE(ComReleased());
    ZProgramGroup again("Curato");
    EXPECT_STREQ(commonDir, again.progDir);
}

TEST_F(ZProgramGroupTest, ShortcutTakesItsDefaultsFromTheTarget)
{
    ZProgramGroup group("Curato");
    group.CreateFolder();
    const ZString folder = JoinPath(commonDir, "Curato");
    const ZString linkPath = JoinPath(folder, "CuratoNet.lnk");

    group.CreateShortcut("CuratoNet", "C:\\Apps\\Tool.exe", "-a \"b c\"", nullptr, nullptr, 0);
    LinkContents c = ReadLink(linkPath);
    ASSERT_TRUE(c.loaded);
    EXPECT_STREQ("C:\\Apps\\Tool.exe", c.path);
    EXPECT_STREQ("C:\\Apps", c.workingDirectory);
    EXPECT_STREQ("C:\\Apps\\Tool.exe", c.iconPath);
    EXPECT_EQ(0, c.iconIndex);
    EXPECT_STREQ("CuratoNet", c.description);
    EXPECT_STREQ("-a \"b c\"", c.arguments);
    EXPECT_EQ(SW_SHOW, StoredShowCommand(linkPath));

    // Written again, the file is replaced.
    group.CreateShortcut("CuratoNet", "C:\\Apps\\Tool.exe", "", "D:\\Work", "C:\\Icons\\app.ico", 3);
    c = ReadLink(linkPath);
    ASSERT_TRUE(c.loaded);
    EXPECT_STREQ("D:\\Work", c.workingDirectory);
    EXPECT_STREQ("C:\\Icons\\app.ico", c.iconPath);
    EXPECT_EQ(3, c.iconIndex);
    EXPECT_STREQ("", c.arguments);
    EXPECT_EQ(1, CountEntries(folder));
}

TEST_F(ZProgramGroupTest, ShortcutFailuresWriteNothing)
{
    ZProgramGroup group("Curato");
    group.CreateFolder();
    const ZString folder = JoinPath(commonDir, "Curato");
    ExpectAssertion([&] { group.CreateShortcut("CuratoNet", "Tool.exe", "", nullptr, nullptr, 0); },
                    kSource, 1111, "p != -1");
    {
        ZImportPatch patch("ole32.dll", "CoCreateInstance",
                           reinterpret_cast<void*>(&ClassNotRegistered));
        ASSERT_TRUE(patch.Installed());
        ExpectSystemError<ZFatalEx>(
            [&] { group.CreateShortcut("CuratoNet", "C:\\Apps\\Tool.exe", "", nullptr, nullptr, 0); },
            ZErr::Unexpected, "CoCreateInstance", REGDB_E_CLASSNOTREG, kSource, 1125, "");
    }
    EXPECT_EQ(0, CountEntries(folder));
}

TEST_F(ZProgramGroupTest, FileInTheFolderPlaceIsLeftAloneAndSaveFails)
{
    const ZString inTheWay = JoinPath(commonDir, "Curato");
    WriteTextFile(inTheWay, "not a folder");
    ZProgramGroup group("Curato");
    group.CreateFolder();
    EXPECT_EQ(1, ZFileType(inTheWay));

    ExpectSystemError<ZFatalEx>(
        [&] { group.CreateShortcut("CuratoNet", "C:\\Apps\\Tool.exe", "", nullptr, nullptr, 0); },
        ZErr::Unexpected, "Save", HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND), kSource, 1141, "");
    EXPECT_STREQ("not a folder", ReadTextFile(inTheWay));
}

// The longest link path the shell takes is MAX_PATH - 1 characters; one more
// is refused before anything is written.
TEST_F(ZProgramGroupTest, OverLongLinkPathIsRefused)
{
    ZProgramGroup group("Curato");
    group.CreateFolder();
    const ZString folder = JoinPath(commonDir, "Curato");
    const int room = MAX_PATH - 1 - (folder.GetLength() + 1) - 4;   // "\" and ".lnk"
    ASSERT_GT(room, 0);

    const ZString tooLong('n', room + 1);
    const ZString tooLongPath = JoinPath(folder, tooLong) + ".lnk";
    ASSERT_EQ(MAX_PATH, tooLongPath.GetLength());
    ExpectSystemError<ZFatalEx>(
        [&] { group.CreateShortcut(tooLong, "C:\\Apps\\Tool.exe", "", nullptr, nullptr, 0); },
        ZErr::Unexpected, "MultiByteToWideChar", ERROR_INSUFFICIENT_BUFFER, kSource, 1121,
        tooLongPath);
    EXPECT_EQ(0, CountEntries(folder));

    const ZString longest('n', room);
    group.CreateShortcut(longest, "C:\\Apps\\Tool.exe", "", nullptr, nullptr, 0);
    EXPECT_EQ(1, ZFileType(JoinPath(folder, longest) + ".lnk"));
}
