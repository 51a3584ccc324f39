// Directory creation as needed, in scratch directories on Wine's C: drive.
#include "createdirs.h"
#include "scratch.h"

#include "zexcept.h"

#include <gtest/gtest.h>

namespace {

// Records the names of directories added below root, in the order the file
// system reports them.
class AddedWatcher {
public:
    explicit AddedWatcher(const std::string& root)
        : dir(CreateFileA(root.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr))
    {
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        Arm();
    }
    ~AddedWatcher()
    {
        CancelIo(dir);
        CloseHandle(dir);
        CloseHandle(overlapped.hEvent);
    }

    // Collects notifications until none arrives for a while.
    std::vector<std::string> Added()
    {
        std::vector<std::string> names;
        while (WaitForSingleObject(overlapped.hEvent, 500) == WAIT_OBJECT_0) {
            DWORD n = 0;
            if (!GetOverlappedResult(dir, &overlapped, &n, FALSE) || n == 0)
                break;
            for (const char* p = buffer;;) {
                const FILE_NOTIFY_INFORMATION* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(p);
                if (info->Action == FILE_ACTION_ADDED) {
                    char name[MAX_PATH] = {};
                    WideCharToMultiByte(CP_ACP, 0, info->FileName, info->FileNameLength / 2, name,
                                        sizeof name - 1, nullptr, nullptr);
                    names.push_back(name);
                }
                if (!info->NextEntryOffset)
                    break;
                p += info->NextEntryOffset;
            }
            Arm();
        }
        return names;
    }

private:
    void Arm()
    {
        ResetEvent(overlapped.hEvent);
        ReadDirectoryChangesW(dir, buffer, sizeof buffer, TRUE, FILE_NOTIFY_CHANGE_DIR_NAME, nullptr,
                              &overlapped, nullptr);
    }

    HANDLE dir;
    OVERLAPPED overlapped = {};
    alignas(DWORD) char buffer[8192];
};

void ExpectCantMakeDir(const std::string& path)
{
    try {
        CreateDirsAsNeeded(path.c_str(), "*PROTECTED*", false);
        ADD_FAILURE() << "no exception for " << path;
    } catch (const ZCommonEx& ex) {
        EXPECT_EQ(ex.desc, &ZErr::CantMakeDir) << ex.desc->name.c_str();
    }
}

TEST(CreateDirsAsNeeded, CreatesMissingDirectoriesOutermostFirst)
{
    ScratchDir root("C:\\");
    AddedWatcher watcher(root.Path());
    CreateDirsAsNeeded((root / "A\\B\\C").c_str(), "*PROTECTED*", false);
    EXPECT_TRUE(IsDirectory(root / "A\\B\\C"));
    const std::vector<std::string> expected = {"A", "A\\B", "A\\B\\C"};
    EXPECT_EQ(watcher.Added(), expected);
}

TEST(CreateDirsAsNeeded, ExistingDirectoryOrDriveRootCreatesNothing)
{
    ScratchDir root("C:\\");
    ASSERT_TRUE(CreateDirectoryA((root / "A").c_str(), nullptr));
    AddedWatcher watcher(root.Path());
    CreateDirsAsNeeded((root / "A").c_str(), "*PROTECTED*", false);
    CreateDirsAsNeeded(root.Path().c_str(), "*PROTECTED*", false);
    CreateDirsAsNeeded("C:\\", "*PROTECTED*", false);
    EXPECT_TRUE(watcher.Added().empty());
}

TEST(CreateDirsAsNeeded, ClimbStopsAtTheDriveRoot)
{
    // A directory right below C:\ : stripping it leaves "C:", a directory.
    ScratchDir holder("C:\\");
    const std::string top = holder.Path() + "-top";
    CreateDirsAsNeeded(top.c_str(), "*PROTECTED*", false);
    EXPECT_TRUE(IsDirectory(top));
    RemoveTree(top);
}

TEST(CreateDirsAsNeeded, RelativePathsStartAtTheCurrentDirectory)
{
    ScratchDir root;
    char previous[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, previous);
    ASSERT_TRUE(SetCurrentDirectoryA(root.Path().c_str()));
    CreateDirsAsNeeded("A\\B", "*PROTECTED*", false);
    CreateDirsAsNeeded("Single", "*PROTECTED*", false);
    SetCurrentDirectoryA(previous);
    EXPECT_TRUE(IsDirectory(root / "A\\B"));
    EXPECT_TRUE(IsDirectory(root / "Single"));
}

TEST(CreateDirsAsNeeded, FileInTheWayFailsAndCreatesNothing)
{
    ScratchDir root;
    WriteBytes(root / "F", "a file");
    ExpectCantMakeDir(root / "F\\X");
    ExpectCantMakeDir(root / "F");
    EXPECT_EQ(ReadText(root / "F"), "a file");
    EXPECT_FALSE(IsDirectory(root / "F\\X"));
}

TEST(CreateDirsAsNeeded, TrailingSeparatorsAreAccepted)
{
    ScratchDir root;
    CreateDirsAsNeeded((root / "A\\").c_str(), "*PROTECTED*", false);
    CreateDirsAsNeeded((root / "B\\C\\\\").c_str(), "*PROTECTED*", false);
    CreateDirsAsNeeded((root / "A\\").c_str(), "*PROTECTED*", false);
    EXPECT_TRUE(IsDirectory(root / "A"));
    EXPECT_TRUE(IsDirectory(root / "B\\C"));
}

TEST(CreateDirsAsNeeded, MissingDriveFails)
{
    // Wine's default prefix maps C: and Z: only.
    try {
        CreateDirsAsNeeded("Q:\\CuratoNet", "*PROTECTED*", false);
        ADD_FAILURE() << "no exception for a missing drive";
    } catch (const ZFatalEx&) {
    }
}

} // namespace
