#include "zexcept.h"
#include "zfile.h"
#include "zuser.h"
#include "zwinutil.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>

#include <cstdio>
#include <typeinfo>

namespace {

const char kSource[] = "../../../wf/wfutil/zwinutil";
const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// Every test program that changes the Shell Folders values holds this lock
// meanwhile, so that tests running side by side never save each other's
// scratch values as the originals.
const char kShellFoldersLock[] = "CuratoNetShellFoldersTestLock";

class CrossProcessLock {
public:
    explicit CrossProcessLock(const char* name) : m_mutex(CreateMutexA(nullptr, FALSE, name))
    {
        if (m_mutex)
            WaitForSingleObject(m_mutex, INFINITE);   // an abandoned lock is ours too
    }
    ~CrossProcessLock()
    {
        if (m_mutex) {
            ReleaseMutex(m_mutex);
            CloseHandle(m_mutex);
        }
    }

private:
    HANDLE m_mutex;
};

// A registry value as it was, put back on destruction (or removed again when
// it did not exist).
class SavedValue {
public:
    SavedValue(HKEY root, const char* name) : m_root(root), m_name(name), m_size(sizeof m_data)
    {
        HKEY key;
        m_existed = false;
        if (RegOpenKeyExA(m_root, kShellFolders, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            m_existed = RegQueryValueExA(key, m_name, nullptr, &m_type, m_data, &m_size) ==
                        ERROR_SUCCESS;
            RegCloseKey(key);
        }
    }
    ~SavedValue()
    {
        if (m_existed)
            Write(m_type, m_data, m_size);
        else
            Remove();
    }
    SavedValue(const SavedValue&) = delete;
    SavedValue& operator=(const SavedValue&) = delete;

    void Set(const char* text)
    {
        Write(REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(strlen(text) + 1));
    }
    void Remove()
    {
        HKEY key;
        if (RegOpenKeyExA(m_root, kShellFolders, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, m_name);
            RegCloseKey(key);
        }
    }

private:
    void Write(DWORD type, const BYTE* data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(m_root, kShellFolders, 0, nullptr, 0,
                                                 KEY_SET_VALUE, nullptr, &key, nullptr));
        EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(key, m_name, 0, type, data, size));
        RegCloseKey(key);
    }

    HKEY m_root;
    const char* m_name;
    bool m_existed;
    DWORD m_type;
    BYTE m_data[4096];
    DWORD m_size;
};

void RemoveTree(const ZString& path)
{
    WIN32_FIND_DATAA found;
    const HANDLE h = FindFirstFileA(JoinPath(path, "*"), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") == 0 || strcmp(found.cFileName, "..") == 0)
                continue;
            const ZString child = JoinPath(path, found.cFileName);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child);
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(path);
}

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

// The show command as the file stores it (the 32-bit field at offset 0x3C of
// the link header). The link object itself reads every value other than
// normal, maximised and minimised-inactive back as SW_SHOWNORMAL.
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

void ExpectRecord(const ZFatalEx& ex, const std::type_info& type, const char* operation, int rc,
                  const ZString& text, int line, const ZString& detail)
{
    EXPECT_EQ(type, typeid(ex));
    EXPECT_EQ(&ZErr::Unexpected, ex.desc);
    EXPECT_STREQ(operation, ex.operation);
    EXPECT_EQ(rc, ex.rc);
    EXPECT_STREQ(text, ex.text);
    ASSERT_EQ(1, ex.infos.GetCount());
    const ZExInfo* info = ex.infos.First()->value;
    EXPECT_STREQ(kSource, info->file);
    EXPECT_EQ(line, info->line);
    EXPECT_STREQ(detail, info->text);
}

void ExpectAssertion(const ZFatalEx& ex, int line, const char* expression)
{
    const ZString detail = "\n" + ZString(kSource) + "[" + FormatInt(line, "%i") +
                           "] ZASSERT( " + expression + " );";
    ExpectRecord(ex, typeid(ZInternalEx), "Assertion Failed", -1, "", line, detail);
}

// Whether this thread's COM initialisation count is back at zero.
bool ComReleased()
{
    const HRESULT hr = CoInitialize(NULL);
    if (SUCCEEDED(hr))
        CoUninitialize();
    return hr == S_OK;
}

// Points both programs folders at fresh scratch folders for one test and puts
// the registry back afterwards.
class ZProgramGroupTest : public ::testing::Test {
protected:
    ZProgramGroupTest()
        : m_lock(kShellFoldersLock),
          m_common(HKEY_LOCAL_MACHINE, "Common Programs"),
          m_programs(HKEY_CURRENT_USER, "Programs")
    {
        static int counter = 0;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        char name[64];
        snprintf(name, sizeof name, "zpg-%lu-%d", GetCurrentProcessId(), ++counter);
        scratch = JoinPath(temp, name);
        commonDir = JoinPath(scratch, "common");
        userDir = JoinPath(scratch, "user");
        CreateDirectoryA(scratch, nullptr);
        CreateDirectoryA(commonDir, nullptr);
        CreateDirectoryA(userDir, nullptr);
        m_common.Set(commonDir);
        m_programs.Set(userDir);
    }
    ~ZProgramGroupTest() override { RemoveTree(scratch); }

    CrossProcessLock m_lock;
    SavedValue m_common;
    SavedValue m_programs;
    ZString scratch;
    ZString commonDir;
    ZString userDir;
};

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
    group.CreateFolder();
    EXPECT_EQ(2, ZFileType(JoinPath(userDir, "Curato")));
}

TEST_F(ZProgramGroupTest, NoProgramsFolderFailsAndReleasesCom)
{
    m_common.Set("");
    m_programs.Set("");
    try {
        ZProgramGroup group("Curato");
        FAIL() << "no exception";
    } catch (const ZInternalEx& ex) {
        ExpectAssertion(ex, 1036, "! progDir.IsEmpty()");
    }
    EXPECT_TRUE(ComReleased());
}

// An administrator without the all-users value gets the registry's error, not
// the per-user folder.
TEST_F(ZProgramGroupTest, MissingCommonProgramsIsAnError)
{
    m_common.Remove();
    try {
        ZProgramGroup group("Curato");
        FAIL() << "no exception";
    } catch (const ZRareEx& ex) {
        EXPECT_EQ(typeid(ZRareEx), typeid(ex));
        EXPECT_EQ(&ZErr::Unexpected, ex.desc);
        EXPECT_STREQ("RegQueryValueEx", ex.operation);
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, ex.rc);
        EXPECT_STREQ(SystemErrorText(ERROR_FILE_NOT_FOUND), ex.text);
        ASSERT_EQ(1, ex.infos.GetCount());
        EXPECT_STREQ(kSource, ex.infos.First()->value->file);
        EXPECT_EQ(578, ex.infos.First()->value->line);
        EXPECT_STREQ("HKEY_LOCAL_MACHINE\\" + ZString(kShellFolders) + " (Common Programs)",
                     ex.infos.First()->value->text);
    }
    EXPECT_TRUE(ComReleased());
}

TEST_F(ZProgramGroupTest, OnlyOneObjectPerThread)
{
    {
        ZProgramGroup first("Curato");
        try {
            ZProgramGroup second("Other");
            FAIL() << "no exception";
        } catch (const ZInternalEx& ex) {
            ExpectAssertion(ex, 1019, "CoInitialize(NULL) == S_OK");
        }
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

TEST_F(ZProgramGroupTest, TargetWithoutBackslashFails)
{
    ZProgramGroup group("Curato");
    group.CreateFolder();
    try {
        group.CreateShortcut("CuratoNet", "Tool.exe", "", nullptr, nullptr, 0);
        FAIL() << "no exception";
    } catch (const ZInternalEx& ex) {
        ExpectAssertion(ex, 1111, "p != -1");
    }
    EXPECT_EQ(0, CountEntries(JoinPath(commonDir, "Curato")));
}

TEST_F(ZProgramGroupTest, FileInTheFolderPlaceIsLeftAloneAndSaveFails)
{
    const ZString inTheWay = JoinPath(commonDir, "Curato");
    WriteTextFile(inTheWay, "not a folder");
    ZProgramGroup group("Curato");
    group.CreateFolder();
    EXPECT_EQ(1, ZFileType(inTheWay));
    EXPECT_STREQ("not a folder", ReadTextFile(inTheWay));

    try {
        group.CreateShortcut("CuratoNet", "C:\\Apps\\Tool.exe", "", nullptr, nullptr, 0);
        FAIL() << "no exception";
    } catch (const ZFatalEx& ex) {
        const int pathNotFound = HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
        ExpectRecord(ex, typeid(ZFatalEx), "Save", pathNotFound, SystemErrorText(pathNotFound),
                     1141, "");
    }
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
    try {
        group.CreateShortcut(tooLong, "C:\\Apps\\Tool.exe", "", nullptr, nullptr, 0);
        FAIL() << "no exception";
    } catch (const ZFatalEx& ex) {
        ExpectRecord(ex, typeid(ZFatalEx), "MultiByteToWideChar", ERROR_INSUFFICIENT_BUFFER,
                     SystemErrorText(ERROR_INSUFFICIENT_BUFFER), 1121, tooLongPath);
    }
    EXPECT_EQ(0, CountEntries(folder));

    const ZString longest('n', room);
    group.CreateShortcut(longest, "C:\\Apps\\Tool.exe", "", nullptr, nullptr, 0);
    EXPECT_EQ(1, ZFileType(JoinPath(folder, longest) + ".lnk"));
}
