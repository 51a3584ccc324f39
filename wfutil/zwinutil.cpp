// Registry keys and the security attributes built from permission classes.
#include "zwinutil.h"

#include "zexcept.h"
#include "zfile.h"
#include "zos.h"
#include "zuser.h"

#include <cstring>

namespace {

const char kZwinutilFile[] = "../../../wf/wfutil/zwinutil";

const DWORD kFullAccess = GENERIC_ALL | STANDARD_RIGHTS_ALL | SPECIFIC_RIGHTS_ALL;   // 0x101FFFFF
const DWORD kReadExecute = GENERIC_READ | GENERIC_EXECUTE;                        // 0xA0000000
const int kAclBytes = 10240;
const int kInfoBytes = 1024;

[[noreturn]] void RaiseRare(const char* operation, DWORD code, int line, const char* detail = "")
{
    const int rc = static_cast<int>(code);
    throw ZRareEx(&ZErr::Unexpected, operation, rc, SystemErrorText(rc), kZwinutilFile, line,
                  detail);
}

// The innermost ZSidCache of each thread, or null.
thread_local ZSidCache* tSidCache = nullptr;

} // namespace

ZRegKey::ZRegKey(HKEY root, const char* subKey, bool readOnly)
    : m_key(nullptr), m_readOnly(readOnly)
{
    const LONG rc = RegOpenKeyExA(root, subKey, 0, readOnly ? KEY_READ : KEY_ALL_ACCESS, &m_key);
    m_name = RootName(root) + subKey;
    if (rc != ERROR_SUCCESS)
        RaiseRare("RegOpenKeyEx", rc, 395, m_name);
}

ZRegKey::~ZRegKey() noexcept(false)
{
    const LONG rc = RegCloseKey(m_key);
    if (rc != ERROR_SUCCESS)
        ZRaiseFromDestructor(ZRareEx(&ZErr::Unexpected, "RegCloseKey", rc, SystemErrorText(rc),
                                     kZwinutilFile, 421, ""));
}

ZString ZRegKey::QueryString(const char* valueName)
{
    char buffer[4096];
    DWORD size = sizeof buffer;
    DWORD type = REG_NONE;
    const LONG rc = RegQueryValueExA(m_key, valueName, nullptr, &type,
                                     reinterpret_cast<BYTE*>(buffer), &size);
    if (rc != ERROR_SUCCESS || type != REG_SZ)
        RaiseRare("RegQueryValueEx", rc, 578, m_name + " (" + valueName + ")");
    // Stored data need not end in a zero byte: the text stops at the data's end.
    return ZString(buffer, static_cast<int>(strnlen(buffer, size)));
}

// A key handle names a key; it points at nothing the function could change.
// cppcheck-suppress constParameter
ZString ZRegKey::RootName(HKEY root)
{
    if (root == HKEY_LOCAL_MACHINE)
        return "HKEY_LOCAL_MACHINE\\";
    if (root == HKEY_CURRENT_USER)
        return "HKEY_CURRENT_USER\\";
    if (root == HKEY_CLASSES_ROOT)
        return "HKEY_CLASSES_ROOT\\";
    return "???\\";
}

ZSidCache::ZSidCache() : m_user(), m_system(), m_outer(tSidCache)
{
    tSidCache = this;
}

ZSidCache::~ZSidCache()
{
    tSidCache = m_outer;
}

ZSidCache::Slot* ZSidCache::UserSlot()
{
    return tSidCache ? &tSidCache->m_user : nullptr;
}

ZSidCache::Slot* ZSidCache::SystemSlot()
{
    return tSidCache ? &tSidCache->m_system : nullptr;
}

PSID ZSidCache::Slot::Get()
{
    return filled ? sid : nullptr;
}

// A SID that does not fit is not kept, and is looked up again next time.
void ZSidCache::Slot::Keep(PSID source)
{
    filled = CopySid(sizeof sid, sid, source) != FALSE;
}

ZWinSecAttrs::ZWinSecAttrs(const char* permissions, ZUser* user)
    : m_attrs(), m_descriptor(), m_active(false)
{
    const char* text = permissions ? permissions : "";   // no text: an unrecognised one
    if (!ZIsWinNT() || strcmp(text, gPermNull) == 0)
        return;
    try {
        Build(text, user);
    } catch (...) {
        // The destructor does not run for a constructor that raises.
        DWORD ignored;
        FreeBlocks(&ignored);
        throw;
    }
}

ZWinSecAttrs::~ZWinSecAttrs() noexcept(false)
{
    DWORD err = 0;
    if (!FreeBlocks(&err))
        ZRaiseFromDestructor(ZRareEx(&ZErr::Unexpected, "~ZWinSecAttrs", static_cast<int>(err),
                                     SystemErrorText(static_cast<int>(err)), kZwinutilFile, 870,
                                     ""));
}

SECURITY_ATTRIBUTES* ZWinSecAttrs::GetAttrs()
{
    return m_active ? &m_attrs : nullptr;
}

void* ZWinSecAttrs::Alloc(SIZE_T bytes)
{
    // LocalAlloc pairs with the LocalFree of the destructor, whose failure is
    // reported; both exist on every Windows this library runs on.
    // cppcheck-suppress LocalAllocCalled
    void* block = LocalAlloc(LMEM_ZEROINIT, bytes);
    if (!block)
        RaiseRare("LocalAlloc", GetLastError(), 881);
    m_blocks.AddTail(block);
    return block;
}

// The access list: Everyone (by class), the user, SYSTEM, in this order.
void ZWinSecAttrs::Build(const char* permissions, ZUser* user)
{
    PACL acl = static_cast<PACL>(Alloc(kAclBytes));
    if (!InitializeAcl(acl, kAclBytes, ACL_REVISION))
        RaiseRare("InitializeAcl", GetLastError(), 714);
    if (strcmp(permissions, gPermPublic) == 0)
        AddEveryone(acl, kFullAccess, 725, 733);
    else if (strcmp(permissions, gPermPrivate) != 0)
        AddEveryone(acl, kReadExecute, 742, 750);
    AddTokenUser(acl, user);
    AddSystem(acl);
    if (!InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION))
        RaiseRare("InitializeSecurityDescriptor", GetLastError(), 821);
    if (!SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE))
        RaiseRare("SetSecurityDescriptorDacl", GetLastError(), 825);
    m_attrs.nLength = sizeof m_attrs;
    m_attrs.lpSecurityDescriptor = &m_descriptor;
    m_attrs.bInheritHandle = TRUE;
    m_active = true;
}

void ZWinSecAttrs::AddEveryone(PACL acl, DWORD mask, int sidLine, int aceLine)
{
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    PSID everyone = Alloc(kAclBytes);
    if (!InitializeSid(everyone, &world, 1))
        RaiseRare("InitSid", GetLastError(), sidLine);
    *GetSidSubAuthority(everyone, 0) = SECURITY_WORLD_RID;
    if (!AddAccessAllowedAce(acl, ACL_REVISION, mask, everyone))
        RaiseRare("AddAccessAllowedAce", GetLastError(), aceLine);
}

// The user's SID comes from the user's own token, read while impersonating
// that user; a user without a token stands for the process's own user, whose
// SID the thread's cache may already hold.
void ZWinSecAttrs::AddTokenUser(PACL acl, ZUser* user)
{
    ZImpersonate impersonation(user);
    const bool ownToken = !user || user->token == INVALID_HANDLE_VALUE;
    ZSidCache::Slot* slot = ownToken ? ZSidCache::UserSlot() : nullptr;
    PSID sid = slot ? slot->Get() : nullptr;
    if (!sid) {
        sid = ReadTokenUser(ownToken ? nullptr : user->token);
        if (slot)
            slot->Keep(sid);
    }
    if (!AddAccessAllowedAce(acl, ACL_REVISION, kFullAccess, sid))
        RaiseRare("AddAccessAllowedAce", GetLastError(), 791);
}

// The user SID of token, or of the process's own token when token is null.
PSID ZWinSecAttrs::ReadTokenUser(HANDLE token)
{
    void* info = Alloc(kInfoBytes);
    const bool opened = !token;
    if (opened && !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        RaiseRare("OpenProcTok", GetLastError(), 770);
    DWORD length = 0;
    const BOOL ok = GetTokenInformation(token, TokenUser, info, kInfoBytes, &length);
    const DWORD err = GetLastError();
    if (opened)
        CloseHandle(token);
    if (!ok)
        RaiseRare("GetTokenInformation", err, 779);
    return static_cast<TOKEN_USER*>(info)->User.Sid;
}

void ZWinSecAttrs::AddSystem(PACL acl)
{
    ZSidCache::Slot* slot = ZSidCache::SystemSlot();
    PSID system = slot ? slot->Get() : nullptr;
    if (!system) {
        system = LookUpSystem();
        if (slot)
            slot->Keep(system);
    }
    if (!AddAccessAllowedAce(acl, ACL_REVISION, kFullAccess, system))
        RaiseRare("AddAccessAllowedAce", GetLastError(), 814);
}

PSID ZWinSecAttrs::LookUpSystem()
{
    PSID system = Alloc(kInfoBytes);
    char* domain = static_cast<char*>(Alloc(kInfoBytes));
    DWORD sidSize = kInfoBytes;
    DWORD domainSize = kInfoBytes;
    SID_NAME_USE use;
    if (!LookupAccountNameA(nullptr, "SYSTEM", system, &sidSize, domain, &domainSize, &use))
        RaiseRare("LookupAccountName", GetLastError(), 807);
    return system;
}

// Frees every block, even after a failure; reports the first failure's code.
bool ZWinSecAttrs::FreeBlocks(DWORD* firstError)
{
    bool ok = true;
    while (!m_blocks.IsEmpty()) {
        void* block = m_blocks.First()->value;
        m_blocks.RemoveHead();
        if (LocalFree(block) && ok) {
            *firstError = GetLastError();
            ok = false;
        }
    }
    return ok;
}
