// Intrusive doubly linked lists whose body is shared by reference count.
// Lists of pointers never delete their pointees: the list's owner does that.
#pragma once

class ZListNode {
public:
    // Stores both neighbours and links this node in between them.
    ZListNode(ZListNode* prevNode, ZListNode* nextNode);
    // Unlinks the node from its neighbours; no list body is touched.
    virtual ~ZListNode();

    ZListNode* prev;
    ZListNode* next;

    ZListNode(const ZListNode&) = delete;
    ZListNode& operator=(const ZListNode&) = delete;
};

template <class T>
class ZTemplateNode : public ZListNode {
public:
    ZTemplateNode(ZListNode* prevNode, ZListNode* nextNode, const T& v)
        : ZListNode(prevNode, nextNode), value(v) {}
    ZTemplateNode* Next() const { return static_cast<ZTemplateNode*>(next); }

    T value;
};

// The body of a list: owns its nodes.
class ZListRep {
public:
    ZListRep() : nodeCount(0), head(nullptr), tail(nullptr), refCount(1) {}

    bool IsEmpty() const { return nodeCount == 0; }
    ZListNode* First() const { return head; }
    // The node must already be linked before the current head.
    void AddHead(ZListNode* node);
    // The node must already be linked after the current tail.
    void AddTail(ZListNode* node);
    void RemoveHead();
    void DeleteAll();

    int nodeCount;
    ZListNode* head;
    ZListNode* tail;
    int refCount;
};

// An abstract handle on a shared body. Typed lists are always destroyed
// through their own type, so the destructor is protected and not virtual.
class ZList {
public:
    virtual void Unshare() = 0;

    ZList(const ZList&) = delete;
    ZList& operator=(const ZList&) = delete;

protected:
    ZList();
    ~ZList();

    ZListRep* rep;
};

template <class T>
class ZTemplateList : public ZList {
public:
    ZTemplateList() = default;
    ~ZTemplateList() = default;

    void Unshare() override;

    void AddHead(const T& value)
    {
        Unshare();
        rep->AddHead(new ZTemplateNode<T>(nullptr, rep->head, value));
    }
    void AddTail(const T& value)
    {
        Unshare();
        rep->AddTail(new ZTemplateNode<T>(rep->tail, nullptr, value));
    }
    const ZTemplateNode<T>* First() const
    {
        return static_cast<const ZTemplateNode<T>*>(rep->First());
    }
    ZTemplateNode<T>* First()
    {
        Unshare();
        return static_cast<ZTemplateNode<T>*>(rep->First());
    }
    bool IsEmpty()
    {
        Unshare();
        return rep->IsEmpty();
    }
    void RemoveHead()
    {
        Unshare();
        rep->RemoveHead();
    }
    int GetCount() const { return rep->nodeCount; }
};

template <class T>
void ZTemplateList<T>::Unshare()
{
    if (rep->refCount == 1)
        return;
    ZListRep* old = rep;
    rep = new ZListRep;
    --old->refCount;
    for (ZListNode* n = old->head; n; n = n->next) {
        auto* typed = dynamic_cast<ZTemplateNode<T>*>(n);
        if (!typed)
            break;
        rep->AddTail(new ZTemplateNode<T>(rep->tail, nullptr, typed->value));
    }
}

class ZString;
// A global list of texts, made at start-up and released at exit.
extern ZTemplateList<ZString> gStringList;
