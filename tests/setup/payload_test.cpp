// The payload store on the entries packed into this test program: sample.txt,
// damaged.txt, a copy of it cut short, and empty.txt, cut short to nothing.
#include "payload.h"
#include "scratch.h"

#include "zexcept.h"

#include <gtest/gtest.h>

namespace {

std::string SampleText()
{
    return ReadText(SAMPLE_TXT);
}

std::string DetailOf(const ZFatalEx& ex)
{
    return ex.infos.First()->value->text.c_str();
}

TEST(ZFileExists, SeesFilesAndDirectoriesOnly)
{
    ScratchDir dir;
    WriteBytes(dir / "file", "x");
    EXPECT_TRUE(ZFileExists((dir / "file").c_str()));
    EXPECT_TRUE(ZFileExists(dir.Path().c_str()));
    EXPECT_FALSE(ZFileExists((dir / "missing").c_str()));
    EXPECT_FALSE(ZFileExists((dir / "missing\\below").c_str()));
}

TEST(ZExtractPayload, FindsEntriesWithoutRegardToCase)
{
    ScratchDir dir;
    const char* const names[] = {"sample.txt", "SAMPLE.TXT", "Sample.Txt"};
    for (const char* name : names) {
        const std::string dest = dir / (std::string("out-") + name);
        ZExtractPayload(name, dest.c_str(), true);
        EXPECT_EQ(ReadText(dest), SampleText()) << name;
    }
}

// A partial file that an ended run left goes, also where the file is kept.
TEST(ZExtractPayload, WithoutOverwriteKeepsWhatExistsAndWritesWhatIsMissing)
{
    ScratchDir dir;
    const std::string file = dir / "kept.txt";
    WriteBytes(file, "old content");
    WriteBytes(file + ".partial", "half of an ended run's file");
    ZExtractPayload("sample.txt", file.c_str(), false);
    EXPECT_EQ(ReadText(file), "old content");
    EXPECT_FALSE(ZFileExists((file + ".partial").c_str()));

    const std::string folder = dir / "folder";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    ZExtractPayload("sample.txt", folder.c_str(), false);
    EXPECT_TRUE(IsDirectory(folder));

    const std::string fresh = dir / "fresh.txt";
    ZExtractPayload("sample.txt", fresh.c_str(), false);
    EXPECT_EQ(ReadText(fresh), SampleText());
}

TEST(ZExtractPayload, DamagedEntryFailsBeforeAnythingIsDecided)
{
    ScratchDir dir;
    const std::string kept = dir / "kept.txt";
    WriteBytes(kept, "old content");
    const std::string missing = dir / "missing.txt";
    const std::string cases[][2] = {{kept, "keep"}, {kept, "replace"}, {missing, "write"}};
    for (const auto& c : cases) {
        for (const char* entry : {"damaged.txt", "empty.txt"}) {
            try {
                ZExtractPayload(entry, c[0].c_str(), c[1] != "keep");
                ADD_FAILURE() << "no exception for " << entry << " when asked to " << c[1];
            } catch (const ZInternalEx& ex) {
                EXPECT_EQ(ex.desc, &ZErr::Unexpected);
                EXPECT_EQ(ex.infos.First()->value->line, 250);
            }
        }
    }
    EXPECT_EQ(ReadText(kept), "old content");
    EXPECT_FALSE(ZFileExists(missing.c_str()));
}

TEST(ZExtractPayload, OverwriteReplacesReadOnlyFileAndLeftover)
{
    ScratchDir dir;
    const std::string file = dir / "readonly.txt";
    const std::string partial = file + ".partial";
    for (const std::string& path : {file, partial}) {
        WriteBytes(path, "old content");
        ASSERT_TRUE(SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    }
    ZExtractPayload("sample.txt", file.c_str(), true);
    EXPECT_EQ(ReadText(file), SampleText());
    EXPECT_FALSE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(ZFileExists(partial.c_str()));
}

TEST(ZExtractPayload, OverwriteFailsOnDirectoryAndMissingParent)
{
    ScratchDir dir;
    const std::string folder = dir / "folder";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    try {
        ZExtractPayload("sample.txt", folder.c_str(), true);
        ADD_FAILURE() << "no exception for a directory in the way";
    } catch (const ZCommonEx& ex) {
        EXPECT_EQ(ex.desc, &ZErr::CantDeleteFile);
        EXPECT_EQ(std::string(ex.operation), "DeleteFile");
        EXPECT_EQ(DetailOf(ex), "Tried to delete <" + folder + ">");
    }
    EXPECT_TRUE(IsDirectory(folder));

    const std::string orphan = dir / "no-such-folder\\file.txt";
    try {
        ZExtractPayload("sample.txt", orphan.c_str(), true);
        ADD_FAILURE() << "no exception for a missing parent";
    } catch (const ZCommonEx& ex) {
        EXPECT_EQ(ex.desc, &ZErr::CantOpenFile);
        EXPECT_EQ(std::string(ex.operation), "CreateFile");
        // The file's own name, as without the partial file.
        EXPECT_EQ(DetailOf(ex).find("Open file <" + orphan + "> mode <CT> from <"), 0u) << DetailOf(ex);
    }
}

TEST(ZExtractPayload, MissingEntryIsRaisedWithItsName)
{
    ScratchDir dir;
    const std::string dest = dir / "none.txt";
    try {
        ZExtractPayload("no-such-entry.bin", dest.c_str(), true);
        ADD_FAILURE() << "no exception for a missing entry";
    } catch (const ZRareEx& ex) {
        EXPECT_EQ(ex.desc, &ZErr::CantAccessFile);
        EXPECT_EQ(std::string(ex.operation), "FindResourceEx");
        EXPECT_EQ(ex.rc, ERROR_RESOURCE_NAME_NOT_FOUND);
        EXPECT_EQ(std::string(ex.text), std::string(SystemErrorText(ex.rc)));
        EXPECT_EQ(DetailOf(ex), "No payload entry <no-such-entry.bin>");
    }
    EXPECT_FALSE(ZFileExists(dest.c_str()));
}

} // namespace
