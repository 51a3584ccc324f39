#include "zlist.h"

#include "zexcept.h"

static const char kSource[] = "../../../wf/wfutil/zlist";

ZListNode::ZListNode(ZListNode* prevNode, ZListNode* nextNode) : prev(prevNode), next(nextNode)
{
    if (prev)
        prev->next = this;
    if (next)
        next->prev = this;
}

ZListNode::~ZListNode()
{
    if (prev)
        prev->next = next;
    if (next)
        next->prev = prev;
}

void ZListRep::AddHead(ZListNode* node)
{
    head = node;
    if (!tail)
        tail = node;
    ++nodeCount;
}

void ZListRep::AddTail(ZListNode* node)
{
    tail = node;
    if (!head)
        head = node;
    ++nodeCount;
}

void ZListRep::RemoveHead()
{
    ZASSERT(kSource, 124, nodeCount > 0);
    ZListNode* old = head;
    head = old->next;
    delete old;
    if (--nodeCount == 0)
        tail = nullptr;
}

void ZListRep::DeleteAll()
{
    for (ZListNode* n = head; n;) {
        ZListNode* following = n->next;
        delete n;
        n = following;
    }
    nodeCount = 0;
    head = tail = nullptr;
}

ZList::ZList() : rep(new ZListRep) {}

ZList::~ZList()
{
    if (--rep->refCount == 0) {
        rep->DeleteAll();
        delete rep;
    }
}
