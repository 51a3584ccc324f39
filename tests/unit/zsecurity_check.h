// Test helpers: the access list of a SECURITY_ATTRIBUTES as plain values.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include <string>
#include <vector>

const DWORD kFull = 0x101FFFFF;
const DWORD kReadExecute = 0xA0000000;

struct Ace {
    int type;
    int flags;
    DWORD mask;
    std::string sid;
};

inline std::string SidText(PSID sid)
{
    char* text = nullptr;
    if (!ConvertSidToStringSidA(sid, &text))
        return "?";
    std::string s = text;
    LocalFree(text);
    return s;
}

inline std::string TokenUserSid(HANDLE token)
{
    BYTE buffer[1024];
    DWORD length = 0;
    if (!GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &length))
        return "?";
    return SidText(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid);
}

inline std::string ProcessUserSid()
{
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return "?";
    std::string sid = TokenUserSid(token);
    CloseHandle(token);
    return sid;
}

// The ACEs of the descriptor behind a SECURITY_ATTRIBUTES, after checking the
// parts of the structure that every class shares.
inline std::vector<Ace> ReadAces(const SECURITY_ATTRIBUTES* attrs)
{
    std::vector<Ace> aces;
    EXPECT_EQ(sizeof(void*) == 4 ? 12u : 24u, attrs->nLength);   // the real size of each architecture
    EXPECT_TRUE(attrs->bInheritHandle);
    PSECURITY_DESCRIPTOR sd = attrs->lpSecurityDescriptor;
    BOOL present = FALSE, defaulted = TRUE;
    PACL acl = nullptr;
    EXPECT_TRUE(GetSecurityDescriptorDacl(sd, &present, &acl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_FALSE(defaulted);
    PSID owner = reinterpret_cast<PSID>(1), group = reinterpret_cast<PSID>(1);
    EXPECT_TRUE(GetSecurityDescriptorOwner(sd, &owner, &defaulted));
    EXPECT_TRUE(GetSecurityDescriptorGroup(sd, &group, &defaulted));
    EXPECT_EQ(nullptr, owner);
    EXPECT_EQ(nullptr, group);
    if (!acl)
        return aces;
    EXPECT_EQ(ACL_REVISION, acl->AclRevision);
    for (DWORD i = 0; i < acl->AceCount; ++i) {
        void* raw = nullptr;
        EXPECT_TRUE(GetAce(acl, i, &raw));
        auto* ace = static_cast<ACCESS_ALLOWED_ACE*>(raw);
        aces.push_back({ace->Header.AceType, ace->Header.AceFlags, ace->Mask,
                        SidText(&ace->SidStart)});
    }
    return aces;
}

inline void ExpectAce(const Ace& ace, DWORD mask, const std::string& sid)
{
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace.type);
    EXPECT_EQ(0, ace.flags);
    EXPECT_EQ(mask, ace.mask);
    EXPECT_EQ(sid, ace.sid);
}

// Everyone with the given rights, then the process's user and SYSTEM in full.
inline void ExpectClassAces(const std::vector<Ace>& aces, DWORD everyoneMask)
{
    ASSERT_EQ(3u, aces.size());
    ExpectAce(aces[0], everyoneMask, "S-1-1-0");
    ExpectAce(aces[1], kFull, ProcessUserSid());
    ExpectAce(aces[2], kFull, "S-1-5-18");
}
