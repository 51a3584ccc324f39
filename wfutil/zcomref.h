// ZComRef: a COM interface pointer that is released when its holder goes,
// also when a step raises, so that no early return or exception leaks it.
#pragma once

template <class T>
struct ZComRef {
    ZComRef() : p(nullptr) {}
    ~ZComRef()
    {
        if (p)
            p->Release();
    }
    ZComRef(const ZComRef&) = delete;
    ZComRef& operator=(const ZComRef&) = delete;

    // Where a call that hands out the interface puts it.
    void** Out() { return reinterpret_cast<void**>(&p); }

    T* p;
};
