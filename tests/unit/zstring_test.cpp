#include "zlist.h"
#include "zstring.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>

TEST(ZString, ConstructionForms)
{
    EXPECT_STREQ("", ZString());
    EXPECT_STREQ("", ZString(static_cast<const char*>(nullptr)));
    EXPECT_STREQ("", ZString("abc", 0));
    EXPECT_STREQ("ab", ZString("abc", 2));
    EXPECT_STREQ("", ZString('*', 0));
    EXPECT_STREQ("", ZString('*', -3));
    EXPECT_EQ(71, ZString('*', 71).GetLength());
    EXPECT_STREQ("---", ZString('-', 3));
}

TEST(ZString, ValueSemantics)
{
    ZString a("hello");
    ZString b(a);
    b += " world";
    EXPECT_STREQ("hello", a);
    EXPECT_STREQ("hello world", b);
    a = b;
    b = "x";
    EXPECT_STREQ("hello world", a);
    a = static_cast<const char*>(nullptr);
    EXPECT_TRUE(a.IsEmpty());
    ZString self("abc");
    self = self.c_str() + 1;   // assignment from its own text
    EXPECT_STREQ("bc", self);
}

TEST(ZString, SlicesClampTheirArguments)
{
    const ZString s("abcdef");
    EXPECT_STREQ("abc", s.Left(3));
    EXPECT_STREQ("", s.Left(-2));
    EXPECT_STREQ("abcdef", s.Left(99));
    EXPECT_STREQ("ef", s.Right(2));
    EXPECT_STREQ("abcdef", s.Right(99));
    EXPECT_STREQ("cdef", s.Mid(2));
    EXPECT_STREQ("abcdef", s.Mid(-1));
    EXPECT_STREQ("", s.Mid(6));
}

TEST(ZString, ReplaceRemoveFindUpper)
{
    ZString s("aaa-aa");
    EXPECT_EQ(2, s.Replace("aa", "b"));
    EXPECT_STREQ("ba-b", s);
    EXPECT_EQ(0, s.Replace("", "x"));
    EXPECT_EQ(0, s.Replace(nullptr, "x"));
    EXPECT_EQ(2, s.Replace("b", nullptr));
    EXPECT_STREQ("a-", s);

    ZString r("a-b-c");
    EXPECT_EQ(2, r.Remove('-'));
    EXPECT_STREQ("abc", r);
    EXPECT_EQ(4, ZString("C:\\x\\y").ReverseFind('\\'));
    EXPECT_EQ(-1, ZString("abc").ReverseFind('\\'));

    ZString u("MiXed 1x");
    u.MakeUpper();
    EXPECT_STREQ("MIXED 1X", u);
    EXPECT_STREQ("ABC", UpperCopy("abc"));
}

TEST(ZString, ConcatenationAndBuffer)
{
    const ZString a("a");
    EXPECT_STREQ("ab", a + ZString("b"));
    EXPECT_STREQ("ab", a + "b");
    EXPECT_STREQ("ba", "b" + a);
    EXPECT_STREQ("a\\", a + '\\');
    ZString g("xy");
    char* p = g.GetBuffer(10);
    EXPECT_STREQ("xy", p);
    p[0] = 'z';
    EXPECT_EQ(2, g.GetLength());
    EXPECT_STREQ("zy", g);
    ZString e;
    e.GetBuffer(4)[0] = 0;   // even the empty text hands out a writable buffer
}

TEST(Helpers, JoinPathPutsOneSeparatorAtTheSeam)
{
    EXPECT_STREQ("C:\\x\\y", JoinPath("C:\\x\\", "\\y"));
    EXPECT_STREQ("C:\\x\\y", JoinPath("C:\\x", "y"));
    EXPECT_STREQ("C:\\x\\y", JoinPath("C:\\x\\", "y"));
    EXPECT_STREQ("C:\\x\\y", JoinPath("C:\\x", "\\y"));
    EXPECT_STREQ("y", JoinPath("", "y"));
    EXPECT_STREQ("C:\\x", JoinPath("C:\\x", ""));
    EXPECT_STREQ("\\", JoinPath("\\", "\\"));
    EXPECT_STREQ("a\\\\b\\c", JoinPath("a\\\\b", ZString("c")));
}

TEST(Helpers, FormatIntRandomAndModules)
{
    EXPECT_STREQ("-1", FormatInt(-1, "%i"));
    EXPECT_STREQ("0", FormatInt(0, "%i"));
    std::set<int> seen;
    for (int i = 0; i < 20000; ++i) {
        const int v = RandomInRange(0, 255);
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 255);
        seen.insert(v);
        ASSERT_EQ(5, RandomInRange(5, 5));
    }
    EXPECT_EQ(256u, seen.size());
    EXPECT_STREQ("", ModuleListing());
}

// The system's formatter leaves a text that fills the buffer unterminated;
// FormatInto must cut it and end it, and never write past the buffer.
TEST(Helpers, FormatIntoCutsAndEndsWhatDoesNotFit)
{
    char buffer[8];
    memset(buffer, 'x', sizeof buffer);
    FormatInto(buffer, 6, "%02i:%02i:%02i", 1, 2, 3);
    EXPECT_STREQ("01:02", buffer);
    EXPECT_EQ('x', buffer[6]);

    FormatInto(buffer, 6, "%05i", 42);
    EXPECT_STREQ("00042", buffer);
    FormatInto(buffer, sizeof buffer, "%s", "");
    EXPECT_STREQ("", buffer);
    EXPECT_STREQ("-007", FormatInt(-7, "%04i"));
}

TEST(Helpers, ModuleListingJoinsEntries)
{
    ZModuleEntry a{"zfile", "1.2", "2007"};
    ZModuleEntry b{"zlist", "1.0", "2006"};
    ZTemplateList<ZModuleEntry*> registry;
    registry.AddTail(&a);
    registry.AddTail(&b);
    gModuleRegistry = &registry;
    const ZString text = ModuleListing();
    gModuleRegistry = nullptr;
    EXPECT_STREQ("zfile 1.2 2007\r\nzlist 1.0 2006", text);
}
