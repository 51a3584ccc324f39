// Test fixture for the programs-folder lookup: both Shell Folders values point
// at fresh scratch folders during a test and are put back afterwards.
#pragma once

#include "zstring.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace shellfolders {

const char kKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

// Test programs run side by side; each holds this lock while it has changed
// the values, so that none saves another's scratch values as the originals.
class Lock {
public:
    Lock() : m_mutex(CreateMutexA(nullptr, FALSE, "CuratoNetShellFoldersTestLock"))
    {
        if (m_mutex)
            WaitForSingleObject(m_mutex, INFINITE);   // an abandoned lock is ours too
    }
    ~Lock()
    {
        if (m_mutex) {
            ReleaseMutex(m_mutex);
            CloseHandle(m_mutex);
        }
    }

private:
    HANDLE m_mutex;
};

// A value as it was, put back on destruction (removed again if it was absent).
class SavedValue {
public:
    SavedValue(HKEY root, const char* name) : m_root(root), m_name(name), m_size(sizeof m_data)
    {
        HKEY key;
        m_existed = RegOpenKeyExA(m_root, kKey, 0, KEY_READ, &key) == ERROR_SUCCESS;
        if (m_existed) {
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
        if (RegOpenKeyExA(m_root, kKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
            RegDeleteValueA(key, m_name);
            RegCloseKey(key);
        }
    }

private:
    void Write(DWORD type, const BYTE* data, DWORD size)
    {
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(m_root, kKey, 0, nullptr, 0, KEY_SET_VALUE,
                                                 nullptr, &key, nullptr));
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

inline void RemoveTree(const ZString& path)
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

class Test : public ::testing::Test {
protected:
    Test()
        : m_common(HKEY_LOCAL_MACHINE, "Common Programs"),
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
    ~Test() override { RemoveTree(scratch); }

    Lock m_lock;
    SavedValue m_common;
    SavedValue m_programs;
    ZString scratch;
    ZString commonDir;
    ZString userDir;
};

} // namespace shellfolders
