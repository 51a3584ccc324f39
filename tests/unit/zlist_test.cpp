#include "zexcept.h"
#include "zlist.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

std::vector<int> Lines(const ZTemplateList<ZExInfo*>& list)
{
    std::vector<int> lines;
    for (const ZTemplateNode<ZExInfo*>* n = list.First(); n; n = n->Next())
        lines.push_back(n->value->line);
    return lines;
}

// Counts the values that are destroyed, so a test can see whether a list
// frees its nodes.
struct Counted {
    explicit Counted(int* c) : count(c) {}
    Counted(const Counted& other) : count(other.count) {}
    ~Counted() { ++*count; }
    int* count;
};

// A handle whose body can be shared by hand, as a copied handle would share it.
class SharedIntList : public ZTemplateList<int> {
public:
    void ShareBodyOf(SharedIntList& other)
    {
        if (--rep->refCount == 0)
            delete rep;
        rep = other.rep;
        ++rep->refCount;
    }
    ZListRep* Body() const { return rep; }
};

std::vector<int> Values(const ZTemplateList<int>& list)
{
    std::vector<int> values;
    for (const ZTemplateNode<int>* n = list.First(); n; n = n->Next())
        values.push_back(n->value);
    return values;
}

} // namespace

TEST(ZList, HeadReversesAndTailKeepsTheOrderOfAdding)
{
    ZExInfo a("a", 1, ""), b("b", 2, ""), c("c", 3, "");
    ZTemplateList<ZExInfo*> atHead;
    atHead.AddHead(&a);
    atHead.AddHead(&b);
    atHead.AddHead(&c);
    EXPECT_EQ((std::vector<int>{3, 2, 1}), Lines(atHead));
    EXPECT_EQ(3, atHead.GetCount());
    EXPECT_EQ(nullptr, atHead.First()->prev);

    ZTemplateList<ZExInfo*> atTail;
    atTail.AddTail(&a);
    atTail.AddTail(&b);
    atTail.AddTail(&c);
    EXPECT_EQ((std::vector<int>{1, 2, 3}), Lines(atTail));

    atTail.RemoveHead();
    EXPECT_EQ((std::vector<int>{2, 3}), Lines(atTail));
    EXPECT_EQ(nullptr, atTail.First()->prev);   // unlinked from the removed head
}

TEST(ZList, RemovingFromAnEmptyBodyFailsAndLeavesItUnchanged)
{
    ZListRep rep;
    rep.AddHead(new ZTemplateNode<int>(nullptr, rep.head, 7));
    rep.RemoveHead();
    EXPECT_TRUE(rep.IsEmpty());
    EXPECT_EQ(nullptr, rep.head);
    EXPECT_EQ(nullptr, rep.tail);

    try {
        rep.RemoveHead();
        FAIL() << "no assertion";
    } catch (const ZInternalEx& ex) {
        EXPECT_EQ(&ZErr::Unexpected, ex.desc);
        const ZExInfo* site = ex.infos.First()->value;
        EXPECT_STREQ("../../../wf/wfutil/zlist", site->file);
        EXPECT_EQ(124, site->line);
        EXPECT_STREQ("\n../../../wf/wfutil/zlist[124] ZASSERT( nodeCount > 0 );", site->text);
    }
    EXPECT_EQ(0, rep.nodeCount);
    EXPECT_EQ(nullptr, rep.head);
    EXPECT_EQ(nullptr, rep.tail);
    EXPECT_EQ(1, rep.refCount);

    ZTemplateList<int> list;
    EXPECT_THROW(list.RemoveHead(), ZInternalEx);
    EXPECT_TRUE(list.IsEmpty());
}

TEST(ZList, ListsFreeTheirNodesButNeverThePointees)
{
    int destroyed = 0;
    {
        ZTemplateList<Counted> values;
        Counted c(&destroyed);
        values.AddTail(c);
        values.AddHead(c);
        destroyed = 0;
    }
    // The two node values and the local original.
    EXPECT_EQ(3, destroyed);

    char blockA[8] = "block a";
    char* blockB = new char[8];
    memcpy(blockB, "block b", 8);
    {
        ZTemplateList<void*> blocks;
        blocks.AddTail(blockA);
        blocks.AddTail(blockB);
    }
    EXPECT_STREQ("block a", blockA);
    EXPECT_STREQ("block b", blockB);   // still owned here
    delete[] blockB;
}

TEST(ZList, ChangingASharedBodyGivesTheHandleItsOwnCopy)
{
    SharedIntList a;
    a.AddTail(1);
    a.AddTail(2);
    SharedIntList b;
    b.ShareBodyOf(a);
    EXPECT_EQ(a.Body(), b.Body());
    EXPECT_EQ(2, a.Body()->refCount);

    b.AddTail(3);
    EXPECT_NE(a.Body(), b.Body());
    EXPECT_EQ(1, a.Body()->refCount);
    EXPECT_EQ(1, b.Body()->refCount);
    EXPECT_EQ((std::vector<int>{1, 2}), Values(a));
    EXPECT_EQ((std::vector<int>{1, 2, 3}), Values(b));
}
