// Files and directories on the Windows 9x platform: made without access lists.
#include "../unit/zcreate_record.h"
#include "zbuffer.h"
#include "zfile.h"

#include <gtest/gtest.h>

namespace {

class ZFile9xTest : public testing::Test {
protected:
    void SetUp() override
    {
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(sizeof temp, temp));
        dir = JoinPath(temp, "zfile9x" + FormatInt(static_cast<int>(GetCurrentProcessId()), "%i"));
        ASSERT_TRUE(CreateDirectoryA(dir, nullptr));
    }
    void TearDown() override
    {
        for (const char* name : {"file.txt", "buffer.bin", "whole.bin"}) {
            SetFileAttributesA(JoinPath(dir, name), FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(JoinPath(dir, name));
        }
        RemoveDirectoryA(JoinPath(dir, "sub"));
        RemoveDirectoryA(dir);
    }

    ZString dir;
};

} // namespace

TEST_F(ZFile9xTest, FilesAndDirectoriesAreMadeWithoutAccessLists)
{
    const ZString file = JoinPath(dir, "file.txt");
    const ZString sub = JoinPath(dir, "sub");
    const ZString bin = JoinPath(dir, "buffer.bin");
    const ZString whole = JoinPath(dir, "whole.bin");
    CreateRecorder recorder;
    {
        ZFile f;
        f.Open(file, "CT", "*PRIVATE*");
        f.Write("9x", 2);
        f.Close();
    }
    ZMakeDir(sub, nullptr, nullptr);
    ZBuffer buffer("abc", 3);
    ZWriteBufferToFile(buffer, bin);
    ZWriteBufferWhole(buffer, whole);
    ASSERT_EQ(4u, gCreateCalls.size());
    for (const CreateCall& call : gCreateCalls)
        EXPECT_FALSE(call.secured) << call.path;
    EXPECT_EQ(1, ZFileType(file));
    EXPECT_EQ(2, ZFileType(sub));
    EXPECT_EQ(3.0, ZFileSize(bin));
    EXPECT_EQ(3.0, ZFileSize(whole));
    EXPECT_EQ(0, ZFileType(whole + ".partial"));
    ExpectSystemError<ZCommonEx>([&] { ZMakeDir(sub, "*PUBLIC*", nullptr); }, ZErr::AlreadyExists,
                                 "CreateDirectory", ERROR_ALREADY_EXISTS,
                                 "../../../wf/wfutil/zfile", 306, "New directory <" + sub + ">");
}
