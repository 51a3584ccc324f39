#include "selfcheck.h"

#include <stddef.h>
#include <string.h>
#include <windows.h>

namespace {

// What the headers say, read from the start of the file.
struct CHeaderFacts {
    DWORD checksumAt;   // the CheckSum field's offset, a multiple of 4
    DWORD checksum;     // its value
    ULONGLONG end;      // where the file ends: its last section or its signature
};

ULONGLONG Later(ULONGLONG a, ULONGLONG b)
{
    return a > b ? a : b;
}

// The headers of a program of this build's kind, from the first bytes of the
// file; false when they are not that or do not lie within those bytes.
bool ReadHeaders(const BYTE* start, DWORD length, CHeaderFacts* facts)
{
    const IMAGE_DOS_HEADER* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(start);
    if (length < sizeof *dos || dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0 || dos->e_lfanew % 8)
        return false;
    const ULONGLONG ntAt = static_cast<ULONGLONG>(dos->e_lfanew);
    if (ntAt + sizeof(IMAGE_NT_HEADERS) > length)
        return false;
    const IMAGE_NT_HEADERS* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(start + ntAt);
    if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR_MAGIC)
        return false;
    const ULONGLONG sectionsAt = ntAt + offsetof(IMAGE_NT_HEADERS, OptionalHeader) +
                                 nt->FileHeader.SizeOfOptionalHeader;
    const WORD count = nt->FileHeader.NumberOfSections;
    if (sectionsAt + count * sizeof(IMAGE_SECTION_HEADER) > length)
        return false;
    ULONGLONG end = nt->OptionalHeader.SizeOfHeaders;
    const IMAGE_SECTION_HEADER* section = reinterpret_cast<const IMAGE_SECTION_HEADER*>(start + sectionsAt);
    for (WORD i = 0; i < count; ++i, ++section)
        end = Later(end, static_cast<ULONGLONG>(section->PointerToRawData) + section->SizeOfRawData);
    // The signature's "address" is an offset in the file.
    const IMAGE_DATA_DIRECTORY& signature = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY];
    if (signature.Size)
        end = Later(end, static_cast<ULONGLONG>(signature.VirtualAddress) + signature.Size);
    facts->checksumAt = static_cast<DWORD>(ntAt + offsetof(IMAGE_NT_HEADERS, OptionalHeader.CheckSum));
    facts->checksum = nt->OptionalHeader.CheckSum;
    facts->end = end;
    return true;
}

// Adds bytes that start at a multiple of 4 in the file to sum, four at a time
// as little-endian 32-bit words, leaving out the word at skip (an offset
// within bytes). A last, shorter piece is the file's end, padded with zeros.
void AddWords(const BYTE* bytes, DWORD length, DWORD skip, ULONGLONG* sum)
{
    DWORD i = 0;
    for (; i + 4 <= length; i += 4) {
        DWORD word;
        memcpy(&word, bytes + i, 4);
        if (i != skip)
            *sum += word;
    }
    for (DWORD shift = 0; i < length; ++i, shift += 8)
        *sum += static_cast<DWORD>(bytes[i]) << shift;
}

// The image checksum from the sum of the file's 32-bit words: the
// one's-complement sum of its 16-bit words (every carry added back in), which
// folding gives since 65,535 divides 2^32 - 1, plus the file's length.
DWORD ImageChecksum(ULONGLONG sum, DWORD fileSize)
{
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<DWORD>(sum) + fileSize;
}

// Whether the open file is whole. Read in pieces into a buffer of fixed size,
// so that the check adds no more than that to the program's memory.
bool FileIsWhole(HANDLE file)
{
    static BYTE piece[64 * 1024];
    const DWORD size = ::GetFileSize(file, NULL);
    DWORD got = 0;
    CHeaderFacts facts;
    if (size == INVALID_FILE_SIZE || !::ReadFile(file, piece, sizeof piece, &got, NULL) ||
        !ReadHeaders(piece, got, &facts) || facts.end != size)
        return false;
    ULONGLONG sum = 0;
    DWORD skip = facts.checksumAt;
    for (DWORD read = got;; read += got) {
        AddWords(piece, got, skip, &sum);
        skip = MAXDWORD;
        if (read == size)
            return ImageChecksum(sum, size) == facts.checksum;
        // Every piece but the last is full, as a file on disk gives them, so
        // that each starts at a multiple of 4.
        if (got != sizeof piece || !::ReadFile(file, piece, sizeof piece, &got, NULL) || got == 0)
            return false;
    }
}

} // namespace

bool ProgramFileIsWhole(const char* path)
{
    HANDLE file = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool whole = FileIsWhole(file);
    ::CloseHandle(file);
    return whole;
}
