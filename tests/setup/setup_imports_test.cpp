// The libraries that are loaded with setup.exe, read from its import table:
// only those that the welcome page needs. The common controls, COM, the shell
// and the multimedia timer are loaded at their first call, so that start-up
// does not wait for them.
#include "scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <string>

namespace {

std::string Upper(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return toupper(c); });
    return s;
}

// The file offset of an address relative to the image, or 0 outside every section.
DWORD FileOffset(const IMAGE_NT_HEADERS* nt, DWORD rva)
{
    const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
    for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section)
        if (rva >= section->VirtualAddress && rva < section->VirtualAddress + section->SizeOfRawData)
            return rva - section->VirtualAddress + section->PointerToRawData;
    return 0;
}

// The upper-cased names of the libraries in the program's import table.
std::set<std::string> ImportedLibraries(const Bytes& image)
{
    std::set<std::string> names;
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image.data());
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(image.data() + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const DWORD start = FileOffset(nt, dir.VirtualAddress);
    if (!start)
        return names;
    for (auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(image.data() + start);
         desc->Name; ++desc)
        names.insert(Upper(reinterpret_cast<const char*>(image.data() + FileOffset(nt, desc->Name))));
    return names;
}

TEST(SetupImports, OnlyTheLibrariesOfTheWelcomePageLoadWithTheProgram)
{
    Bytes image;
    ASSERT_TRUE(ReadBytes(SETUP_EXE, &image)) << SETUP_EXE;
    const std::set<std::string> expected = {"ADVAPI32.DLL", "GDI32.DLL", "KERNEL32.DLL",
                                            "MSVCRT.DLL", "USER32.DLL"};
    EXPECT_EQ(expected, ImportedLibraries(image));
}

} // namespace
