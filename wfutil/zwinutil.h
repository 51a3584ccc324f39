// Windows facilities of the library: registry keys, security attributes built
// from permission classes, and Start-menu program groups with shortcuts.
#pragma once

#include "zlist.h"
#include "zstring.h"

#include <windows.h>

class ZUser;

class ZRegKey {
public:
    ZRegKey(HKEY root, const char* subKey, bool readOnly);
    ~ZRegKey() noexcept(false);
    ZRegKey(const ZRegKey&) = delete;
    ZRegKey& operator=(const ZRegKey&) = delete;

    // A REG_SZ value of at most 4096 bytes; anything else raises.
    ZString QueryString(const char* valueName);
    static ZString RootName(HKEY root);

private:
    HKEY m_key;
    ZString m_name;
    bool m_readOnly;
};

// The SIDs of the process's user and of SYSTEM, kept once they have been looked
// up. While one lives, every ZWinSecAttrs that its thread builds for the
// process's own user takes them from it rather than asking the process token
// and the account database again: a run that creates many files holds one, and
// each file still gets the same access list. The first build looks them up,
// and raises, as it would without one. Objects nest; the innermost is used.
class ZSidCache {
public:
    ZSidCache();
    ~ZSidCache();
    ZSidCache(const ZSidCache&) = delete;
    ZSidCache& operator=(const ZSidCache&) = delete;

private:
    friend class ZWinSecAttrs;

    // One SID, empty until one is kept.
    struct Slot {
        PSID Get();   // null while empty
        void Keep(PSID source);

        bool filled;
        BYTE sid[SECURITY_MAX_SID_SIZE];
    };

    // The slots of the calling thread's innermost cache, or null.
    static Slot* UserSlot();
    static Slot* SystemSlot();

    Slot m_user;
    Slot m_system;
    ZSidCache* m_outer;
};

class ZWinSecAttrs {
public:
    // permissions: "*PUBLIC*", "*PROTECTED*", "*PRIVATE*", "*NULL*"; any other
    // text counts as "*PROTECTED*". user: null for the process's own token.
    ZWinSecAttrs(const char* permissions, ZUser* user);
    ~ZWinSecAttrs() noexcept(false);
    ZWinSecAttrs(const ZWinSecAttrs&) = delete;
    ZWinSecAttrs& operator=(const ZWinSecAttrs&) = delete;

    // Null on Windows 9x and for "*NULL*".
    SECURITY_ATTRIBUTES* GetAttrs();
    // A zero-filled block that the object frees when it is destroyed.
    void* Alloc(SIZE_T bytes);

private:
    void Build(const char* permissions, ZUser* user);
    void AddEveryone(PACL acl, DWORD mask, int sidLine, int aceLine);
    void AddTokenUser(PACL acl, ZUser* user);
    PSID ReadTokenUser(HANDLE token);
    void AddSystem(PACL acl);
    PSID LookUpSystem();
    bool FreeBlocks(DWORD* firstError);

    SECURITY_ATTRIBUTES m_attrs;
    SECURITY_DESCRIPTOR m_descriptor;
    bool m_active;
    ZTemplateList<void*> m_blocks;
};

class ZProgramGroup {
public:
    // Initialises COM on the thread and finds the programs folder.
    explicit ZProgramGroup(const char* groupName);
    ~ZProgramGroup();
    ZProgramGroup(const ZProgramGroup&) = delete;
    ZProgramGroup& operator=(const ZProgramGroup&) = delete;

    void CreateFolder();
    // workingDirectory null: the target's folder; iconPath null: the target.
    void CreateShortcut(const char* name, const char* target, const char* arguments,
                        const char* workingDirectory, const char* iconPath, int iconIndex);

    ZString progDir;
    ZString groupName;
};
