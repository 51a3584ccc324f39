#include "scratch.h"

#include <cstdio>

ScratchDir::ScratchDir(const std::string& parent)
{
    std::string base = parent;
    if (base.empty()) {
        char temp[MAX_PATH];
        GetTempPathA(MAX_PATH, temp);
        base = temp;
    }
    if (base.back() != '\\')
        base += '\\';
    static unsigned counter = 0;
    for (;;) {
        char name[64];
        snprintf(name, sizeof name, "engine-%lu-%u", GetCurrentProcessId(), ++counter);
        path = base + name;
        if (CreateDirectoryA(path.c_str(), nullptr))
            return;
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
}

ScratchDir::~ScratchDir()
{
    RemoveTree(path);
}

void RemoveTree(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(path.c_str());
        return;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = found.cFileName;
            if (name != "." && name != "..")
                RemoveTree(path + "\\" + name);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path.c_str());
}

bool ReadBytes(const std::string& path, Bytes* bytes)
{
    bytes->clear();
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    unsigned char chunk[65536];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes->insert(bytes->end(), chunk, chunk + n);
    fclose(f);
    return true;
}

void WriteBytes(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "wb");
    if (f) {
        fwrite(text.data(), 1, text.size(), f);
        fclose(f);
    }
}

std::string ReadText(const std::string& path)
{
    Bytes bytes;
    ReadBytes(path, &bytes);
    return std::string(bytes.begin(), bytes.end());
}

bool IsDirectory(const std::string& path)
{
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}
