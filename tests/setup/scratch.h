// Helpers of the engine tests: a fresh scratch directory per test, removed
// with everything in it afterwards, and whole-file reads and writes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

class ScratchDir {
public:
    // A new, empty directory under parent (the temp folder by default).
    explicit ScratchDir(const std::string& parent = "");
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& Path() const { return path; }
    std::string operator/(const std::string& name) const { return path + "\\" + name; }

private:
    std::string path;
};

void RemoveTree(const std::string& path);
bool ReadBytes(const std::string& path, Bytes* bytes);
void WriteBytes(const std::string& path, const std::string& text);
std::string ReadText(const std::string& path);
bool IsDirectory(const std::string& path);
