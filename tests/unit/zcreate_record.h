// Test helper: records what the library passes to CreateFileA and
// CreateDirectoryA, the access list included, while the calls go through.
#pragma once

#include "zraise_check.h"
#include "zsecurity_check.h"

#include <string>
#include <vector>

// What the library passed to one CreateFileA or CreateDirectoryA call.
struct CreateCall {
    std::string path;
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD flags;
    bool secured;
    std::vector<Ace> aces;
};
inline std::vector<CreateCall> gCreateCalls;
inline void* gRealCreateFileA = nullptr;
inline void* gRealCreateDirectoryA = nullptr;

inline void Record(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags,
                   SECURITY_ATTRIBUTES* security)
{
    CreateCall call{path, access, share, disposition, flags, security != nullptr, {}};
    if (security)
        call.aces = ReadAces(security);   // the descriptor lives only for the call
    gCreateCalls.push_back(call);
}

inline HANDLE WINAPI RecordingCreateFileA(const char* path, DWORD access, DWORD share,
                                   SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                                   HANDLE templateFile)
{
    Record(path, access, share, disposition, flags, security);
    return reinterpret_cast<HANDLE(WINAPI*)(const char*, DWORD, DWORD, SECURITY_ATTRIBUTES*, DWORD,
                                            DWORD, HANDLE)>(gRealCreateFileA)(
        path, access, share, security, disposition, flags, templateFile);
}

inline BOOL WINAPI RecordingCreateDirectoryA(const char* path, SECURITY_ATTRIBUTES* security)
{
    Record(path, 0, 0, 0, 0, security);
    return reinterpret_cast<BOOL(WINAPI*)(const char*, SECURITY_ATTRIBUTES*)>(
        gRealCreateDirectoryA)(path, security);
}

class CreateRecorder {
public:
    CreateRecorder()
        : m_file("kernel32.dll", "CreateFileA", reinterpret_cast<void*>(&RecordingCreateFileA)),
          m_dir("kernel32.dll", "CreateDirectoryA",
                reinterpret_cast<void*>(&RecordingCreateDirectoryA))
    {
        gRealCreateFileA = m_file.Original();
        gRealCreateDirectoryA = m_dir.Original();
        gCreateCalls.clear();
    }

private:
    ZImportPatch m_file;
    ZImportPatch m_dir;
};
