#include "zexcept.h"
#include "zfile.h"
#include "zos.h"
#include "zwinutil.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <typeinfo>

namespace {

const char kSource[] = "../../../wf/wfutil/zwinutil";
const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
// Held by every test program while it changes the Shell Folders values.
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

// A registry value as it was, put back on destruction.
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

// Both programs folders point at fresh scratch folders during a test.
class ZProgramGroup9xTest : public ::testing::Test {
protected:
    ZProgramGroup9xTest()
        : m_lock(kShellFoldersLock),
          m_common(HKEY_LOCAL_MACHINE, "Common Programs"),
          m_programs(HKEY_CURRENT_USER, "Programs")
    {
        static int counter = 0;
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        char name[64];
        snprintf(name, sizeof name, "zpg9x-%lu-%d", GetCurrentProcessId(), ++counter);
        scratch = JoinPath(temp, name);
        commonDir = JoinPath(scratch, "common");
        userDir = JoinPath(scratch, "user");
        CreateDirectoryA(scratch, nullptr);
        CreateDirectoryA(commonDir, nullptr);
        CreateDirectoryA(userDir, nullptr);
        m_common.Set(commonDir);
        m_programs.Set(userDir);
    }
    ~ZProgramGroup9xTest() override { RemoveTree(scratch); }

    CrossProcessLock m_lock;
    SavedValue m_common;
    SavedValue m_programs;
    ZString scratch;
    ZString commonDir;
    ZString userDir;
};

} // namespace

// Windows 9x has one Start menu: the all-users value is never read, so even
// its absence does not matter.
TEST_F(ZProgramGroup9xTest, UsesTheUsersProgramsFolder)
{
    ASSERT_TRUE(ZIsWin9x());
    {
        ZProgramGroup group("Curato");
        EXPECT_STREQ(userDir, group.progDir);
        group.CreateFolder();
        EXPECT_EQ(2, ZFileType(JoinPath(userDir, "Curato")));
        EXPECT_EQ(0, ZFileType(JoinPath(commonDir, "Curato")));
        group.CreateShortcut("CuratoNet", "C:\\Apps\\Tool.exe", "", nullptr, nullptr, 0);
        EXPECT_EQ(1, ZFileType(JoinPath(JoinPath(userDir, "Curato"), "CuratoNet.lnk")));
    }
    m_common.Remove();
    ZProgramGroup group("Curato");
    EXPECT_STREQ(userDir, group.progDir);
}

TEST_F(ZProgramGroup9xTest, EmptyProgramsFails)
{
    m_programs.Set("");
    try {
        ZProgramGroup group("Curato");
        FAIL() << "no exception";
    } catch (const ZInternalEx& ex) {
        EXPECT_EQ(typeid(ZInternalEx), typeid(ex));
        EXPECT_EQ(&ZErr::Unexpected, ex.desc);
        EXPECT_STREQ("Assertion Failed", ex.operation);
        EXPECT_EQ(-1, ex.rc);
        EXPECT_STREQ("", ex.text);
        ASSERT_EQ(1, ex.infos.GetCount());
        EXPECT_STREQ(kSource, ex.infos.First()->value->file);
        EXPECT_EQ(1036, ex.infos.First()->value->line);
        EXPECT_STREQ("\n../../../wf/wfutil/zwinutil[1036] ZASSERT( ! progDir.IsEmpty() );",
                     ex.infos.First()->value->text);
    }
}
