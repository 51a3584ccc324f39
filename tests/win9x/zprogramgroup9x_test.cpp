#include "../unit/zraise_check.h"
#include "../unit/zshellfolders_fixture.h"
#include "zfile.h"
#include "zos.h"
#include "zwinutil.h"

namespace {

class ZProgramGroup9xTest : public shellfolders::Test {};

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
    ExpectAssertion([] { ZProgramGroup group("Curato"); }, "../../../wf/wfutil/zwinutil", 1036,
                    "! progDir.IsEmpty()");
}
