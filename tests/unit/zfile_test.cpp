// ZFile's open modes, writes and closes, and the file and directory functions,
// on the NT platform in a fresh temporary directory per test.
#include "zbuffer.h"
#include "zfile.h"
#include "zraise_check.h"
#include "zcreate_record.h"
#include "zsecurity_check.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char kZfile[] = "../../../wf/wfutil/zfile";
const DWORD kSequential = FILE_FLAG_SEQUENTIAL_SCAN;

// SetFilePointer that reports 0xFFFFFFFF, with or without an error code.
DWORD gSeekError = 0;
DWORD WINAPI FarSetFilePointer(HANDLE, LONG, LONG*, DWORD)
{
    if (gSeekError)
        SetLastError(gSeekError);
    return INVALID_SET_FILE_POINTER;
}

DWORD WINAPI RefusingGetCurrentDirectoryA(DWORD, char*)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return 0;
}

// LocalFree that refuses every block; the blocks are kept for a real free.
std::vector<HLOCAL> gRefusedBlocks;
HLOCAL WINAPI RefusingLocalFree(HLOCAL block)
{
    gRefusedBlocks.push_back(block);
    SetLastError(ERROR_INVALID_HANDLE);
    return block;
}

DWORD WINAPI RefusingGetFileAttributesA(const char*)
{
    SetLastError(ERROR_ACCESS_DENIED);
    return INVALID_FILE_ATTRIBUTES;
}

// WriteFile that cuts the next gWritesToCut calls short: each writes half of
// its bytes and reports success without an error code, as Wine answers a
// full disk (where a device takes nothing, nothing).
int gWritesToCut = 0;
void* gRealWriteFile = nullptr;
BOOL WINAPI CutShortWriteFile(HANDLE h, const void* data, DWORD count, DWORD* written,
                              OVERLAPPED* overlapped)
{
    const auto real = reinterpret_cast<BOOL(WINAPI*)(HANDLE, const void*, DWORD, DWORD*, OVERLAPPED*)>(
        gRealWriteFile);
    if (gWritesToCut == 0)
        return real(h, data, count, written, overlapped);
    --gWritesToCut;
    if (!real(h, data, count / 2, written, overlapped))
        *written = 0;
    SetLastError(NO_ERROR);
    return TRUE;
}

// FlushFileBuffers that fails with gFlushError, or else flushes and records
// whether gFlushWatched named a file at that moment.
DWORD gFlushError = 0;
void* gRealFlushFileBuffers = nullptr;
std::string gFlushWatched, gAtFlush;
BOOL WINAPI RecordingFlushFileBuffers(HANDLE h)
{
    if (gFlushError) {
        SetLastError(gFlushError);
        return FALSE;
    }
    gAtFlush = GetFileAttributesA(gFlushWatched.c_str()) == INVALID_FILE_ATTRIBUTES ? "name free"
                                                                                   : "name taken";
    return reinterpret_cast<BOOL(WINAPI*)(HANDLE)>(gRealFlushFileBuffers)(h);
}

void RemoveTree(const std::string& dir)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = dir + "\\" + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(path);
            else
                DeleteFileA(path.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(dir.c_str());
}

class ZFileTest : public testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
        static int serial = 0;
        dir = JoinPath(temp, "zfile" + FormatInt(static_cast<int>(GetCurrentProcessId()), "%i") +
                                 "_" + FormatInt(++serial, "%i"));
        ASSERT_TRUE(CreateDirectoryA(dir, nullptr));
    }
    void TearDown() override { RemoveTree(dir.c_str()); }

    ZString Path(const char* name) const { return JoinPath(dir, name); }
    static void Put(const char* path, const std::string& bytes)
    {
        HANDLE h = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h);
        DWORD written = 0;
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
    }
    static std::string Content(const char* path)
    {
        HANDLE h = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return "<missing>";
        char buffer[4096];
        DWORD got = 0;
        ReadFile(h, buffer, sizeof buffer, &got, nullptr);
        CloseHandle(h);
        return std::string(buffer, got);
    }
    static void WriteText(ZFile& file, const char* text)
    {
        file.Write(text, static_cast<int>(strlen(text)));
    }
    // Opens, writes text and closes in one go.
    static void OpenWrite(const char* path, const char* mode, const char* text)
    {
        ZFile file;
        file.Open(path, mode);
        WriteText(file, text);
        file.Close();
    }
    static ZString OpenDetail(const char* path, const char* mode)
    {
        return "Open file <" + ZString(path) + "> mode <" + mode + "> from <" + ZCurrentDir() + ">";
    }
    // Whether a second opener with this access and full sharing gets in.
    static bool OthersMayOpen(const char* path, DWORD access)
    {
        HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE)
            return false;
        CloseHandle(h);
        return true;
    }

    ZString dir;
};

} // namespace

TEST_F(ZFileTest, EachModeOpensWithItsDispositionSharingAndAccessList)
{
    struct Row {
        const char* mode;
        bool fileExists;
        DWORD access;
        DWORD share;
        DWORD disposition;
    };
    const DWORD rw = FILE_SHARE_READ | FILE_SHARE_WRITE;
    const Row rows[] = {
        {"R", true, GENERIC_READ, rw, OPEN_EXISTING},
        {"re", true, GENERIC_READ, rw, OPEN_EXISTING},
        {"A", true, GENERIC_WRITE, rw, OPEN_EXISTING},
        {"t", true, GENERIC_WRITE, FILE_SHARE_READ, TRUNCATE_EXISTING},
        {"C", false, GENERIC_WRITE, FILE_SHARE_READ, CREATE_NEW},
        {"CT", true, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS},
        {"tc", false, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS},
        {"CA", false, GENERIC_WRITE, rw, OPEN_ALWAYS},
        {"aC", true, GENERIC_WRITE, rw, OPEN_ALWAYS},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.mode);
        const ZString path = Path(row.mode) + ".dat";
        if (row.fileExists)
            Put(path, "old");
        CreateRecorder recorder;
        ZFile file;
        file.Open(path, row.mode);
        EXPECT_STREQ(path, file.name);
        EXPECT_FALSE(file.immedEOF);
        EXPECT_NE(INVALID_HANDLE_VALUE, file.f);
        ASSERT_EQ(1u, gCreateCalls.size());
        const CreateCall& call = gCreateCalls[0];
        EXPECT_EQ(std::string(path), call.path);
        EXPECT_EQ(row.access, call.access);
        EXPECT_EQ(row.share, call.share);
        EXPECT_EQ(row.disposition, call.disposition);
        EXPECT_EQ(kSequential | 0xA0, call.flags);   // the default "A": normal and archive
        EXPECT_EQ(row.access == GENERIC_WRITE, call.secured);
        if (call.secured)
            ExpectClassAces(call.aces, kReadExecute);
        // Whom the open lets in beside it.
        EXPECT_TRUE(OthersMayOpen(path, GENERIC_READ));
        EXPECT_EQ(row.share == rw, OthersMayOpen(path, GENERIC_WRITE));
        file.Close();
        EXPECT_STREQ("", file.name);
        EXPECT_EQ(INVALID_HANDLE_VALUE, file.f);
    }
}

TEST_F(ZFileTest, ModesCreateTruncateAndAppendAsNamed)
{
    const ZString path = Path("data.txt");
    ExpectSystemError<ZCommonEx>([&] { OpenWrite(path, "T", "x"); }, ZErr::CantOpenFile,
                                 "CreateFile", ERROR_FILE_NOT_FOUND, kZfile, 975,
                                 OpenDetail(path, "T"));
    ExpectSystemError<ZCommonEx>([&] { OpenWrite(path, "A", "x"); }, ZErr::CantOpenFile,
                                 "CreateFile", ERROR_FILE_NOT_FOUND, kZfile, 975,
                                 OpenDetail(path, "A"));
    ExpectSystemError<ZCommonEx>([&] { OpenWrite(path, "r", "x"); }, ZErr::CantOpenFile,
                                 "CreateFile", ERROR_FILE_NOT_FOUND, kZfile, 975,
                                 OpenDetail(path, "r"));
    EXPECT_EQ("<missing>", Content(path));

    OpenWrite(path, "C", "one");
    EXPECT_EQ("one", Content(path));
    ExpectSystemError<ZCommonEx>([&] { OpenWrite(path, "c", "two"); }, ZErr::CantOpenFile,
                                 "CreateFile", ERROR_FILE_EXISTS, kZfile, 975,
                                 OpenDetail(path, "c"));
    EXPECT_EQ("one", Content(path));
    OpenWrite(path, "A", "+two");
    EXPECT_EQ("one+two", Content(path));
    OpenWrite(path, "CA", "+three");
    EXPECT_EQ("one+two+three", Content(path));
    OpenWrite(path, "T", "four");
    EXPECT_EQ("four", Content(path));
    OpenWrite(path, "ct", "five");
    EXPECT_EQ("five", Content(path));
    OpenWrite(path, "TC", "six");
    EXPECT_EQ("six", Content(path));

    const ZString fresh = Path("fresh.txt");
    OpenWrite(fresh, "ac", "new");
    EXPECT_EQ("new", Content(fresh));
}

TEST_F(ZFileTest, ReadIfExistsOnAMissingFileReadsAsEmpty)
{
    const ZString path = Path("absent.txt");
    CreateRecorder recorder;
    ZFile file;
    file.Open(path, "RE");
    EXPECT_TRUE(gCreateCalls.empty());
    EXPECT_TRUE(file.immedEOF);
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.f);
    EXPECT_STREQ(path, file.name);
    file.Close();
    EXPECT_FALSE(file.immedEOF);
    EXPECT_STREQ("", file.name);
    EXPECT_EQ("<missing>", Content(path));
}

TEST_F(ZFileTest, UnknownModeRaisesAndLeavesTheObjectClosable)
{
    const ZString path = Path("x.txt");
    ZFile file;
    ExpectRaised<ZCommonEx>([&] { file.Open(path, "x"); },
                            {&ZErr::BadParam, "ZFile::Open", 0,
                             "Invalid mode <x> for file <" + path + ">", kZfile, 968, ""});
    EXPECT_TRUE(file.immedEOF);
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.f);
    EXPECT_STREQ(path, file.name);
    file.Close();
    ExpectRaised<ZCommonEx>([&] { file.Open(path, "CTA"); },
                            {&ZErr::BadParam, "ZFile::Open", 0,
                             "Invalid mode <CTA> for file <" + path + ">", kZfile, 968, ""});
    EXPECT_EQ("<missing>", Content(path));
}

TEST_F(ZFileTest, PermissionLettersBecomeAttributesWithTheProtectedList)
{
    struct Row {
        const char* permissions;
        DWORD attributes;
    };
    const Row rows[] = {
        {"rh", 0x83}, {"", 0xA0}, {nullptr, 0xA0}, {"SsAa", 0xA4}, {"*PROTECTED*", 0x80},
    };
    int n = 0;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.permissions ? row.permissions : "(null)");
        const ZString path = Path("f") + FormatInt(++n, "%i");
        CreateRecorder recorder;
        ZFile file;
        file.Open(path, "CT", row.permissions);
        file.Close();
        ASSERT_EQ(1u, gCreateCalls.size());
        EXPECT_EQ(kSequential | row.attributes, gCreateCalls[0].flags);
        ExpectClassAces(gCreateCalls[0].aces, kReadExecute);
    }
    // The file carries the hidden attribute. (Wine derives the read-only one
    // from the access list, which lets the user write.)
    EXPECT_NE(0u, GetFileAttributesA(Path("f1")) & FILE_ATTRIBUTE_HIDDEN);
}

TEST_F(ZFileTest, PermissionClassesGiveTheirAccessLists)
{
    const ZString path = Path("classes.txt");
    CreateRecorder recorder;
    for (const char* permissions : {"*PUBLIC*", "*PRIVATE*", "*NULL*"}) {
        ZFile file;
        file.Open(path, "CT", permissions);
        file.Close();
    }
    ASSERT_EQ(3u, gCreateCalls.size());
    for (const CreateCall& call : gCreateCalls)
        EXPECT_EQ(kSequential | FILE_ATTRIBUTE_NORMAL, call.flags);
    ExpectClassAces(gCreateCalls[0].aces, kFull);
    ASSERT_EQ(2u, gCreateCalls[1].aces.size());
    ExpectAce(gCreateCalls[1].aces[0], kFull, ProcessUserSid());
    ExpectAce(gCreateCalls[1].aces[1], kFull, "S-1-5-18");
    EXPECT_FALSE(gCreateCalls[2].secured);
}

TEST_F(ZFileTest, BadPermissionLettersRaiseBeforeAnythingIsOpened)
{
    const ZString path = Path("bad.txt");
    CreateRecorder recorder;
    for (const char* permissions : {"*public*", "RX", "r h"}) {
        ZFile file;
        ExpectRaised<ZCommonEx>([&] { file.Open(path, "CT", permissions); },
                                {&ZErr::BadParam, "ZFile::SetAttributes", 0,
                                 "Invalid permissions <" + ZString(permissions) + "> for file <" +
                                     path + ">",
                                 kZfile, 891, ""});
        EXPECT_FALSE(file.immedEOF);
        EXPECT_EQ(INVALID_HANDLE_VALUE, file.f);
    }
    EXPECT_TRUE(gCreateCalls.empty());
    EXPECT_EQ("<missing>", Content(path));
}

TEST_F(ZFileTest, RefusedCompressionRaisesAndKeepsTheHandle)
{
    // Wine refuses FSCTL_SET_COMPRESSION on the write-only handle.
    const ZString path = Path("packed.txt");
    ZFile file;
    ExpectSystemError<ZRareEx>([&] { file.Open(path, "CT", "C"); }, ZErr::CantModifyFile,
                               "DeviceIoControl", ERROR_ACCESS_DENIED, kZfile, 987, path);
    ASSERT_NE(INVALID_HANDLE_VALUE, file.f);
    WriteText(file, "still open");
    file.Close();
    EXPECT_EQ("still open", Content(path));
}

TEST_F(ZFileTest, AssertionsOfOpenAndClose)
{
    const ZString path = Path("twice.txt");
    ZFile file;
    ExpectAssertion([&] { file.Close(); }, kZfile, 1135, "f != INVALID_HANDLE_VALUE || immedEOF");
    ExpectAssertion([&] { file.Open(nullptr, "R"); }, kZfile, 759, "file");
    ExpectAssertion([&] { file.Open(path, nullptr); }, kZfile, 760, "mode");
    file.Open(path, "CT");
    const HANDLE first = file.f;
    const ZString second = Path("second.txt");
    ExpectAssertion([&] { file.Open(second, "CT"); }, kZfile, 761, "f == INVALID_HANDLE_VALUE",
                    second);
    EXPECT_EQ(first, file.f);
    EXPECT_STREQ(path, file.name);
    file.Close();
    EXPECT_EQ("<missing>", Content(second));
}

TEST_F(ZFileTest, SeekToEndFailsOnlyWithAnErrorCode)
{
    const ZString path = Path("seek.txt");
    Put(path, "abc");
    ZImportPatch seek("kernel32.dll", "SetFilePointer", reinterpret_cast<void*>(&FarSetFilePointer));
    ASSERT_TRUE(seek.Installed());
    // 0xFFFFFFFF is a valid position too: without an error code it is one,
    // even though the open itself left "already exists" as the last error.
    gSeekError = 0;
    for (const char* mode : {"A", "CA"}) {
        ZFile file;
        file.Open(path, mode);
        file.Close();
    }
    gSeekError = ERROR_NEGATIVE_SEEK;
    ExpectSystemError<ZRareEx>([&] { ZFile file; file.Open(path, "A"); }, ZErr::Unexpected,
                               "SetFilePointer", ERROR_NEGATIVE_SEEK, kZfile, 927, "");
    ExpectSystemError<ZRareEx>([&] { ZFile file; file.Open(path, "AC"); }, ZErr::Unexpected,
                               "SetFilePointer", ERROR_NEGATIVE_SEEK, kZfile, 958, "");
}

TEST_F(ZFileTest, WritesAreWholeOrRaise)
{
    const ZString path = Path("w.txt");
    ZFile file;
    ExpectSystemError<ZRareEx>([&] { WriteText(file, "abc"); }, ZErr::Unexpected, "WriteFile",
                               ERROR_INVALID_HANDLE, kZfile, 1125, "Write of 3");
    file.Open(path, "CT");
    file.Write("", 0);
    WriteText(file, "abc");
    file.Close();
    EXPECT_EQ("abc", Content(path));

    file.Open(path, "R");
    ExpectSystemError<ZRareEx>([&] { WriteText(file, "abcd"); }, ZErr::Unexpected, "WriteFile",
                               ERROR_ACCESS_DENIED, kZfile, 1125, "Write of 4");
    file.Close();
    EXPECT_EQ("abc", Content(path));

    // A write cut short without a reason is followed by one for the rest.
    ZImportPatch cut("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&CutShortWriteFile));
    ASSERT_TRUE(cut.Installed());
    gRealWriteFile = cut.Original();
    gWritesToCut = 1;
    OpenWrite(path, "CT", "whole after all");
    EXPECT_EQ("whole after all", Content(path));
    // Cut short again, it is an error, which never reads "Success".
    gWritesToCut = 2;
    ExpectSystemError<ZRareEx>([&] { OpenWrite(path, "CT", "abcdefgh"); }, ZErr::Unexpected,
                               "WriteFile", ERROR_WRITE_FAULT, kZfile, 1125, "Write of 8");
    EXPECT_EQ("abcdef", Content(path));
    gWritesToCut = 0;
}

TEST_F(ZFileTest, FullDiskRaisesDiskFull)
{
    // Wine's drive Z: is the Unix root, whose /dev/full refuses every write
    // for want of space.
    const char* full = "Z:\\dev\\full";
    ZFile file;
    file.Open(full, "A", "*NULL*");
    ExpectSystemError<ZCommonEx>([&] { WriteText(file, "12345"); }, ZErr::DiskFull, "WriteFile",
                                 ERROR_DISK_FULL, kZfile, 1121, "Write of 5");
    // Wine's way: the first call takes what fits and says nothing, and only
    // the call for the rest says that the disk is full.
    ZImportPatch cut("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&CutShortWriteFile));
    ASSERT_TRUE(cut.Installed());
    gRealWriteFile = cut.Original();
    gWritesToCut = 1;
    ExpectSystemError<ZCommonEx>([&] { WriteText(file, "123456"); }, ZErr::DiskFull, "WriteFile",
                                 ERROR_DISK_FULL, kZfile, 1121, "Write of 6");
    EXPECT_EQ(0, gWritesToCut);
    file.Close();
}

TEST_F(ZFileTest, FailedCloseKeepsTheHandleAndTheDestructorObeysUnwinding)
{
    const ZString path = Path("closing.txt");
    ZFile file;
    file.Open(path, "CT");
    const HANDLE h = file.f;
    CloseHandle(h);   // behind the object's back
    ExpectSystemError<ZRareEx>([&] { file.Close(); }, ZErr::Unexpected, "CloseHandle",
                               ERROR_INVALID_HANDLE, kZfile, 1148, "Close file <" + path + ">");
    EXPECT_EQ(h, file.f);
    EXPECT_STREQ(path, file.name);
    file.f = INVALID_HANDLE_VALUE;
    file.immedEOF = true;
    file.Close();

    ExpectSystemError<ZRareEx>(
        [&] {
            ZFile doomed;
            doomed.Open(path, "CT");
            CloseHandle(doomed.f);
        },
        ZErr::Unexpected, "CloseHandle", ERROR_INVALID_HANDLE, kZfile, 1148,
        "Close file <" + path + ">");
    ZDebugOutputRecorder debug;
    ASSERT_TRUE(debug.Installed());
    try {
        ZFile doomed;
        doomed.Open(path, "CT");
        CloseHandle(doomed.f);
        throw std::runtime_error("first");
    } catch (const std::runtime_error& first) {
        EXPECT_STREQ("first", first.what());
    }
    // Instead of ending the process, the failure went to the debugger.
    EXPECT_NE(std::string::npos, debug.Text().find("CloseHandle rc=6")) << debug.Text();
}

// The access list cannot be freed after the file was opened: the open fails,
// and the handle CreateFile gave is closed, not lost.
TEST_F(ZFileTest, HandleIsClosedWhenTheAccessListCannotBeFreed)
{
    const ZString path = Path("list.txt");
    {
        ZImportPatch refuse("kernel32.dll", "LocalFree", reinterpret_cast<void*>(&RefusingLocalFree));
        ASSERT_TRUE(refuse.Installed());
        ZFile file;
        ExpectSystemError<ZRareEx>([&] { file.Open(path, "C", "*PROTECTED*"); }, ZErr::Unexpected,
                                   "~ZWinSecAttrs", ERROR_INVALID_HANDLE, "../../../wf/wfutil/zwinutil", 870, "");
        EXPECT_EQ(INVALID_HANDLE_VALUE, file.f);
    }
    for (HLOCAL block : gRefusedBlocks)
        LocalFree(block);
    HANDLE alone = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(INVALID_HANDLE_VALUE, alone) << "the failed open left its handle open";
    CloseHandle(alone);
}

TEST_F(ZFileTest, DestructorClosesTheHandle)
{
    const ZString path = Path("owned.txt");
    {
        ZFile file;
        file.Open(path, "CT");
        EXPECT_FALSE(OthersMayOpen(path, GENERIC_WRITE));
    }
    EXPECT_TRUE(OthersMayOpen(path, GENERIC_WRITE));
}

TEST_F(ZFileTest, DeleteFileClearsReadOnlyAndIsQuietOnlyWhenAllowed)
{
    const ZString path = Path("ro.txt");
    Put(path, "x");
    ASSERT_TRUE(SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY));
    ASSERT_FALSE(DeleteFileA(path));   // the system keeps read-only files
    ZDeleteFile(path, true);
    EXPECT_EQ(0, ZFileType(path));

    ZDeleteFile(path, false);
    ZDeleteFile(Path("nodir\\x.txt"), false);
    ExpectSystemError<ZCommonEx>([&] { ZDeleteFile(path, true); }, ZErr::CantDeleteFile,
                                 "DeleteFile", ERROR_FILE_NOT_FOUND, kZfile, 164,
                                 "Tried to delete <" + path + ">");
    const ZString nowhere = Path("nodir\\x.txt");
    ExpectSystemError<ZCommonEx>([&] { ZDeleteFile(nowhere, true); }, ZErr::CantDeleteFile,
                                 "DeleteFile", ERROR_PATH_NOT_FOUND, kZfile, 164,
                                 "Tried to delete <" + nowhere + ">");

    // A file held open without delete sharing cannot go, mustExist or not.
    Put(path, "held");
    HANDLE held = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    ExpectSystemError<ZCommonEx>([&] { ZDeleteFile(path, false); }, ZErr::CantDeleteFile,
                                 "DeleteFile", ERROR_SHARING_VIOLATION, kZfile, 164,
                                 "Tried to delete <" + path + ">");
    CloseHandle(held);
    EXPECT_EQ("held", Content(path));
}

TEST_F(ZFileTest, FileTypesSizesAndTheCurrentDirectory)
{
    const ZString file = Path("five.txt");
    Put(file, "12345");
    EXPECT_EQ(0, ZFileType(""));
    EXPECT_EQ(3, ZFileType("\\\\.\\anything"));
    EXPECT_EQ(3, ZFileType("\\\\.\\"));
    EXPECT_EQ(2, ZFileType(dir));
    EXPECT_EQ(1, ZFileType(file));
    EXPECT_EQ(0, ZFileType(Path("none.txt")));
    EXPECT_EQ(0, ZFileType(Path("none\\none.txt")));
    const ZString bad = Path("a|b");
    ExpectSystemError<ZRareEx>([&] { ZFileType(bad); }, ZErr::Unexpected, "GetFileAttributes",
                               ERROR_INVALID_NAME, kZfile, 216, bad);

    EXPECT_EQ(5.0, ZFileSize(file));
    EXPECT_EQ(-1.0, ZFileSize(Path("none.txt")));

    char cwd[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryA(sizeof cwd, cwd));
    EXPECT_STREQ(cwd, ZCurrentDir());
    ZImportPatch refuse("kernel32.dll", "GetCurrentDirectoryA",
                        reinterpret_cast<void*>(&RefusingGetCurrentDirectoryA));
    ASSERT_TRUE(refuse.Installed());
    ExpectSystemError<ZRareEx>([] { ZCurrentDir(); }, ZErr::Unexpected, "GetCurrentDirectory",
                               ERROR_NOT_ENOUGH_MEMORY, kZfile, 258, "");
}

TEST_F(ZFileTest, MakeDirMakesOneLevelWithItsAccessList)
{
    const ZString made = Path("made");
    const ZString privateDir = Path("private");
    {
        CreateRecorder recorder;
        ZMakeDir(made, nullptr, nullptr);
        ZMakeDir(privateDir, "*PRIVATE*", nullptr);
        ASSERT_EQ(2u, gCreateCalls.size());
        ExpectClassAces(gCreateCalls[0].aces, kReadExecute);
        EXPECT_EQ(2u, gCreateCalls[1].aces.size());
    }
    EXPECT_EQ(2, ZFileType(made));
    EXPECT_EQ(2, ZFileType(privateDir));

    ExpectSystemError<ZCommonEx>([&] { ZMakeDir(made, nullptr, nullptr); }, ZErr::AlreadyExists,
                                 "CreateDirectory", ERROR_ALREADY_EXISTS, kZfile, 306,
                                 "New directory <" + made + ">");
    const ZString file = Path("plain.txt");
    Put(file, "x");
    ExpectSystemError<ZCommonEx>([&] { ZMakeDir(file, nullptr, nullptr); }, ZErr::CantMakeDir,
                                 "CreateDirectory", ERROR_ALREADY_EXISTS, kZfile, 311,
                                 "New directory <" + file + ">");
    {
        // Only a race could make the attributes query fail right after
        // "already exists"; a refusing GetFileAttributesA stands in for it.
        ZImportPatch refuse("kernel32.dll", "GetFileAttributesA",
                            reinterpret_cast<void*>(&RefusingGetFileAttributesA));
        ASSERT_TRUE(refuse.Installed());
        ExpectSystemError<ZFatalEx>([&] { ZMakeDir(made, nullptr, nullptr); }, ZErr::Unexpected,
                                    "GetFileAttributes", ERROR_ACCESS_DENIED, kZfile, 303, made);
    }
    const ZString deep = Path("no\\such");
    ExpectSystemError<ZCommonEx>([&] { ZMakeDir(deep, "*PUBLIC*", nullptr); }, ZErr::CantMakeDir,
                                 "CreateDirectory", ERROR_PATH_NOT_FOUND, kZfile, 311,
                                 "New directory <" + deep + ">");
}

TEST_F(ZFileTest, WriteBufferToFileWritesExactlyTheBuffer)
{
    const ZString path = Path("buffer.bin");
    Put(path, "a longer old content");
    const char bytes[] = {'b', 0, 'i', 'n', '\r', '\n'};
    ZBuffer buffer(bytes, sizeof bytes);
    {
        CreateRecorder recorder;
        ZWriteBufferToFile(buffer, path);
        ASSERT_EQ(1u, gCreateCalls.size());
        EXPECT_EQ(static_cast<DWORD>(CREATE_ALWAYS), gCreateCalls[0].disposition);
        ExpectClassAces(gCreateCalls[0].aces, kReadExecute);
    }
    EXPECT_EQ(std::string(bytes, sizeof bytes), Content(path));

    ZBuffer empty(0);
    ZWriteBufferToFile(empty, path);
    EXPECT_EQ("", Content(path));

    // Callers delete first, which also clears a read-only attribute. (Wine
    // running as root would let CREATE_ALWAYS replace a read-only file.)
    ASSERT_TRUE(SetFileAttributesA(path, FILE_ATTRIBUTE_READONLY));
    ZDeleteFile(path, true);
    ZWriteBufferToFile(buffer, path);
    EXPECT_EQ(std::string(bytes, sizeof bytes), Content(path));
}

// The file's own name holds nothing until the whole file is on the disk: the
// bytes go under the partial name, with the access list and attributes of a
// plain write, and are flushed before the file takes its name.
TEST_F(ZFileTest, WriteBufferWholeTakesTheNameOnlyWhenFlushed)
{
    const ZString path = Path("whole.bin");
    const ZString partial = path + ".partial";
    const char bytes[] = {'w', 0, 'h', 'o', 'l', 'e'};
    ZBuffer buffer(bytes, sizeof bytes);
    {
        CreateRecorder recorder;
        ZImportPatch flush("kernel32.dll", "FlushFileBuffers",
                           reinterpret_cast<void*>(&RecordingFlushFileBuffers));
        ASSERT_TRUE(flush.Installed());
        gRealFlushFileBuffers = flush.Original();
        gFlushError = 0;
        gFlushWatched = path.c_str();
        ZWriteBufferWhole(buffer, path);
        ASSERT_EQ(1u, gCreateCalls.size());
        EXPECT_EQ(std::string(partial), gCreateCalls[0].path);
        EXPECT_EQ(static_cast<DWORD>(CREATE_ALWAYS), gCreateCalls[0].disposition);
        EXPECT_EQ(kSequential | 0xA0, gCreateCalls[0].flags);
        ExpectClassAces(gCreateCalls[0].aces, kReadExecute);
        EXPECT_EQ("name free", gAtFlush);
    }
    EXPECT_EQ(std::string(bytes, sizeof bytes), Content(path));
    EXPECT_EQ("<missing>", Content(partial));
    EXPECT_EQ(FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA(path));
}

// Whatever fails, the partial file is gone when the error arrives, and the
// error names the file, never its partial name.
TEST_F(ZFileTest, WriteBufferWholeLeavesNothingPartialOnFailure)
{
    const ZString path = Path("fails.bin");
    const ZString partial = path + ".partial";
    ZBuffer buffer("content", 7);
    const auto expectNothingLeft = [&](const char* what) {
        EXPECT_EQ("<missing>", Content(partial)) << what;
        EXPECT_EQ("<missing>", Content(path)) << what;
    };

    const ZString orphan = Path("no-such-folder\\fails.bin");
    ExpectSystemError<ZCommonEx>([&] { ZWriteBufferWhole(buffer, orphan); }, ZErr::CantOpenFile,
                                 "CreateFile", ERROR_PATH_NOT_FOUND, kZfile, 975,
                                 OpenDetail(orphan, "CT"));
    {
        ZImportPatch cut("kernel32.dll", "WriteFile", reinterpret_cast<void*>(&CutShortWriteFile));
        ASSERT_TRUE(cut.Installed());
        gRealWriteFile = cut.Original();
        gWritesToCut = 2;
        ExpectSystemError<ZRareEx>([&] { ZWriteBufferWhole(buffer, path); }, ZErr::Unexpected,
                                   "WriteFile", ERROR_WRITE_FAULT, kZfile, 1125, "Write of 7");
        gWritesToCut = 0;
        expectNothingLeft("write");
    }
    {
        ZImportPatch flush("kernel32.dll", "FlushFileBuffers",
                           reinterpret_cast<void*>(&RecordingFlushFileBuffers));
        ASSERT_TRUE(flush.Installed());
        gFlushError = ERROR_DISK_FULL;
        ExpectSystemError<ZCommonEx>([&] { ZWriteBufferWhole(buffer, path); }, ZErr::DiskFull,
                                     "FlushFileBuffers", ERROR_DISK_FULL, kZfile, 1160,
                                     "Flush file <" + path + ">");
        expectNothingLeft("flush, disk full");
        gFlushError = ERROR_IO_DEVICE;
        ExpectSystemError<ZRareEx>([&] { ZWriteBufferWhole(buffer, path); }, ZErr::Unexpected,
                                   "FlushFileBuffers", ERROR_IO_DEVICE, kZfile, 1164,
                                   "Flush file <" + path + ">");
        expectNothingLeft("flush");
        gFlushError = 0;
    }
    // The name is taken: callers delete the old file first.
    Put(path, "someone else's");
    ExpectSystemError<ZCommonEx>([&] { ZWriteBufferWhole(buffer, path); }, ZErr::CantAccessFile,
                                 "MoveFile", ERROR_ALREADY_EXISTS, kZfile, 340,
                                 "Rename to <" + path + ">");
    EXPECT_EQ("someone else's", Content(path));
    EXPECT_EQ("<missing>", Content(partial));
}

// A path that fits while its partial name does not: the open says so, naming
// the file, and nothing is cut to fit.
TEST_F(ZFileTest, WriteBufferWholeRefusesAPartialNameBeyondTheLimit)
{
    const ZString prefix = Path("");
    const ZString path = prefix + ZString('n', MAX_PATH - 5 - prefix.GetLength());
    ASSERT_EQ(MAX_PATH - 5, path.GetLength());
    ZBuffer buffer("fits", 4);
    ExpectSystemError<ZCommonEx>([&] { ZWriteBufferWhole(buffer, path); }, ZErr::CantOpenFile,
                                 "CreateFile", ERROR_FILENAME_EXCED_RANGE, kZfile, 975,
                                 OpenDetail(path, "CT"));
    EXPECT_EQ(0, ZFileType(path));
    ZWriteBufferToFile(buffer, path);
    EXPECT_EQ("fits", Content(path));
}

// What an ended write left goes, read-only or not; anything else under that
// name stays for the write's open to report.
TEST_F(ZFileTest, RemovePartialRemovesOnlyAFileLeftOver)
{
    const ZString path = Path("left.bin");
    const ZString partial = path + ".partial";
    ZRemovePartial(path);
    Put(partial, "half");
    ASSERT_TRUE(SetFileAttributesA(partial, FILE_ATTRIBUTE_READONLY));
    ZRemovePartial(path);
    EXPECT_EQ(0, ZFileType(partial));

    ASSERT_TRUE(CreateDirectoryA(partial, nullptr));
    ZRemovePartial(path);
    EXPECT_EQ(2, ZFileType(partial));
    ZBuffer buffer("x", 1);
    ExpectSystemError<ZCommonEx>([&] { ZWriteBufferWhole(buffer, path); }, ZErr::CantOpenFile,
                                 "CreateFile", ERROR_ACCESS_DENIED, kZfile, 975,
                                 OpenDetail(path, "CT"));
    EXPECT_EQ(2, ZFileType(partial));
}
