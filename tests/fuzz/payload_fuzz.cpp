// Damaged payload entries, made from the packer's own entries, sent through
// ZBuffer::Expand, and a sample of them through ZExtractPayload into files.
// Every damaged entry must be rejected or come out as exactly the file it was
// packed from: no wrong size, no other bytes, no crash, and no file on disk
// that is neither what it was before nor the packed file.
//
//   payload_fuzz PACKED_DIR FILES_DIR [--count N] [--extract N] [--seed S] [--first I]
//
// Entry i of a run is damaged from its own seed (S, i), so --first I --count 1
// replays one entry. Exit status 0 when nothing came out wrong.
#include "payload.h"
#include "scratch.h"
#include "zbuffer.h"
#include "zexcept.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const char kChildSwitch[] = "--extract-one";
const char kEntryName[] = "FUZZED.BIN";

struct Entry {
    std::string name;
    Bytes packed;   // as the packer wrote it
    Bytes file;     // the file it was packed from
};

// A small generator with a seed of its own for each damaged entry.
class Rng {
public:
    Rng(unsigned seed, unsigned index) : state(seed * 2654435761u ^ (index + 1) * 40503u) { Next(); }
    unsigned Next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
    size_t Below(size_t n) { return n ? Next() % n : 0; }

private:
    unsigned state;
};

enum Damage { kFlip, kOverwrite, kTruncate, kSizeField, kAppend, kRemove, kDamageKinds };
const char* const kDamageNames[kDamageKinds] = {"bit flip", "overwritten bytes", "truncation",
                                                 "size-field edit", "appended bytes", "removed bytes"};

enum Verdict { kRejected, kSameBytes, kWrongSize, kOtherBytes, kOtherError, kVerdicts };
const char* const kVerdictNames[kVerdicts] = {"rejected", "same bytes", "wrong size", "other bytes",
                                              "other error"};

void EditSizeField(Bytes& b, Rng& rng)
{
    unsigned size = b[0] | b[1] << 8 | b[2] << 16 | static_cast<unsigned>(b[3]) << 24;
    const unsigned edits[] = {size + 1, size - 1, size * 2, size / 2, rng.Next(), 0x7FFFFFFFu, 0xFFFFFFFFu};
    const unsigned edited = edits[rng.Below(sizeof edits / sizeof edits[0])];
    size = edited == size ? size + 1 : edited;
    for (int i = 0; i < 4; ++i)
        b[static_cast<size_t>(i)] = static_cast<unsigned char>(size >> (8 * i));
}

// The entry with one kind of damage; never equal to the good entry.
Bytes Damaged(const Bytes& good, Damage kind, Rng& rng)
{
    Bytes b = good;
    const size_t n = b.size();
    switch (kind) {
    case kFlip:
        b[rng.Below(n)] ^= static_cast<unsigned char>(1u << rng.Below(8));
        break;
    case kOverwrite: {
        const size_t at = rng.Below(n), len = 1 + rng.Below(16);
        for (size_t i = at; i < n && i < at + len; ++i)
            b[i] = static_cast<unsigned char>(rng.Next());
        break;
    }
    case kTruncate:   // to one byte at least: the store refuses an empty entry itself
        b.resize(1 + rng.Below(n - 1));
        break;
    case kSizeField:
        EditSizeField(b, rng);
        break;
    case kAppend:
        for (size_t i = 1 + rng.Below(16); i > 0; --i)
            b.push_back(static_cast<unsigned char>(rng.Next()));
        break;
    case kRemove: {
        const size_t at = rng.Below(n), len = 1 + rng.Below(16);
        b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + len < n ? at + len : n));
        break;
    }
    default:
        break;
    }
    if (b == good)
        b.push_back(0);
    return b;
}

Verdict ExpandVerdict(const Bytes& damaged, const Bytes& file)
{
    ZBuffer buffer(damaged.data(), static_cast<int>(damaged.size()));
    try {
        buffer.Expand(0);
    } catch (const ZInternalEx& ex) {
        return ex.infos.First()->value->line == 250 ? kRejected : kOtherError;
    } catch (...) {
        return kOtherError;
    }
    if (buffer.Size() != static_cast<int>(file.size()))
        return kWrongSize;
    return memcmp(buffer.Data(), file.data(), file.size()) == 0 ? kSameBytes : kOtherBytes;
}

// ---- ZExtractPayload into files, in a copy of this program whose one payload
// entry is the damaged one.

std::string ThisProgram()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

bool WriteChildProgram(const std::string& child, const Bytes& entry)
{
    if (!CopyFileA(ThisProgram().c_str(), child.c_str(), FALSE))
        return false;
    HANDLE update = BeginUpdateResourceA(child.c_str(), FALSE);
    if (!update)
        return false;
    const BOOL added = UpdateResourceA(update, "BINFILE", kEntryName, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                       const_cast<unsigned char*>(entry.data()), static_cast<DWORD>(entry.size()));
    return EndUpdateResourceA(update, !added) && added;
}

// The child's exit code: 0 written or kept, 1 raised, anything else a crash.
DWORD RunChild(const std::string& child, const std::string& destination, bool overwrite)
{
    std::string command = "\"" + child + "\" " + kChildSwitch + " \"" + destination + "\" " + (overwrite ? "1" : "0");
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return 98;
    DWORD code = 99;
    if (WaitForSingleObject(pi.hProcess, 60000) == WAIT_OBJECT_0)
        GetExitCodeProcess(pi.hProcess, &code);
    else
        TerminateProcess(pi.hProcess, 99);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return code;
}

int ExtractOne(const char* destination, bool overwrite)
{
    try {
        ZExtractPayload(kEntryName, destination, overwrite);
        return 0;
    } catch (const ZFatalEx&) {
        return 1;
    }
}

struct ExtractCounts {
    int samples = 0, raised = 0, written = 0, kept = 0, damagedFiles = 0, crashed = 0;
};

// One damaged entry extracted over a destination that is absent or holds
// older bytes. What is on disk afterwards must be the older bytes (or
// nothing) or exactly the packed file.
void ExtractSample(const Entry& e, const Bytes& damaged, Rng& rng, const ScratchDir& dir, ExtractCounts& counts)
{
    const std::string child = dir / "fuzzchild.exe", destination = dir / e.name;
    DeleteFileA(destination.c_str());
    Bytes before;
    const bool existed = rng.Below(2) == 1;
    if (existed)
        WriteBytes(destination, "older bytes of " + e.name);
    ReadBytes(destination, &before);
    const bool overwrite = rng.Below(2) == 1;
    ++counts.samples;
    if (!WriteChildProgram(child, damaged)) {
        ++counts.crashed;
        printf("could not make the child program for %s\n", e.name.c_str());
        return;
    }
    const DWORD code = RunChild(child, destination, overwrite);
    Bytes after;
    const bool present = ReadBytes(destination, &after);
    const bool sound = present ? (after == e.file || (existed && after == before)) : !existed;
    counts.crashed += code > 1;
    counts.raised += code == 1;
    counts.written += code == 0 && present && after == e.file;
    counts.kept += code == 0 && existed && !overwrite && after == before;
    if (!sound) {
        ++counts.damagedFiles;
        printf("%s: the file on disk is neither the old one nor the packed file\n", e.name.c_str());
    }
}

// ---- The run.

bool LoadEntries(const std::string& packedDir, const std::string& filesDir, std::vector<Entry>* entries)
{
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((packedDir + "\\*.bin").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return false;
    do {
        Entry e;
        e.name = std::string(found.cFileName, strlen(found.cFileName) - 4);
        if (!ReadBytes(packedDir + "\\" + found.cFileName, &e.packed) || !ReadBytes(filesDir + "\\" + e.name, &e.file))
            return false;
        entries->push_back(e);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return !entries->empty();
}

// Every good entry reads back, with its trailer and, as the original entries
// have it, without.
bool GoodEntriesRead(const std::vector<Entry>& entries)
{
    for (const Entry& e : entries) {
        const Bytes trailerless(e.packed.begin(), e.packed.end() - 4);
        if (ExpandVerdict(e.packed, e.file) != kSameBytes || ExpandVerdict(trailerless, e.file) != kSameBytes) {
            printf("the good entry %s does not read back\n", e.name.c_str());
            return false;
        }
    }
    return true;
}

struct Options {
    std::string packedDir, filesDir;
    unsigned count = 100000, extract = 300, seed = 1, first = 0;
};

bool ParseOptions(int argc, char** argv, Options* o)
{
    if (argc < 3)
        return false;
    o->packedDir = argv[1];
    o->filesDir = argv[2];
    for (int i = 3; i + 1 < argc; i += 2) {
        const unsigned value = static_cast<unsigned>(strtoul(argv[i + 1], nullptr, 10));
        if (strcmp(argv[i], "--count") == 0)
            o->count = value;
        else if (strcmp(argv[i], "--extract") == 0)
            o->extract = value;
        else if (strcmp(argv[i], "--seed") == 0)
            o->seed = value;
        else if (strcmp(argv[i], "--first") == 0)
            o->first = value;
        else
            return false;
    }
    return true;
}

void PrintTable(const Options& o, const int counts[kDamageKinds][kVerdicts])
{
    printf("damaged entries through ZBuffer::Expand: seed %u, entries %u to %u\n", o.seed, o.first,
           o.first + o.count - 1);
    printf("%-18s %8s", "damage", "entries");
    for (const char* v : kVerdictNames)
        printf(" %11s", v);
    printf("\n");
    int total[kVerdicts] = {};
    for (int d = 0; d < kDamageKinds; ++d) {
        int sum = 0;
        for (int v = 0; v < kVerdicts; ++v) {
            sum += counts[d][v];
            total[v] += counts[d][v];
        }
        printf("%-18s %8d", kDamageNames[d], sum);
        for (int v = 0; v < kVerdicts; ++v)
            printf(" %11d", counts[d][v]);
        printf("\n");
    }
    printf("%-18s %8u", "all", o.count);
    for (int v = 0; v < kVerdicts; ++v)
        printf(" %11d", total[v]);
    printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && strcmp(argv[1], kChildSwitch) == 0)
        return ExtractOne(argv[2], strcmp(argv[3], "1") == 0);
    Options o;
    std::vector<Entry> entries;
    if (!ParseOptions(argc, argv, &o)) {
        fprintf(stderr, "usage: payload_fuzz PACKED_DIR FILES_DIR [--count N] [--extract N] [--seed S] [--first I]\n");
        return 2;
    }
    if (!LoadEntries(o.packedDir, o.filesDir, &entries)) {
        fprintf(stderr, "payload_fuzz: no packed entries with their files in %s and %s\n", o.packedDir.c_str(),
                o.filesDir.c_str());
        return 2;
    }
    if (!GoodEntriesRead(entries))
        return 1;

    int counts[kDamageKinds][kVerdicts] = {};
    ExtractCounts extracted;
    ScratchDir dir;
    const unsigned extractEvery = o.extract ? (o.count + o.extract - 1) / o.extract : 0;
    bool sound = true;
    for (unsigned i = o.first; i < o.first + o.count; ++i) {
        Rng rng(o.seed, i);
        const Entry& e = entries[rng.Below(entries.size())];
        const Damage kind = static_cast<Damage>(i % kDamageKinds);
        const Bytes damaged = Damaged(e.packed, kind, rng);
        const Verdict verdict = ExpandVerdict(damaged, e.file);
        ++counts[kind][verdict];
        if (verdict != kRejected && verdict != kSameBytes) {
            printf("entry %u (%s, %s): %s; replay with --seed %u --first %u --count 1\n", i, e.name.c_str(),
                   kDamageNames[kind], kVerdictNames[verdict], o.seed, i);
            sound = false;
        }
        if (extractEvery && (i - o.first) % extractEvery == 0)
            ExtractSample(e, damaged, rng, dir, extracted);
    }
    PrintTable(o, counts);
    printf("through ZExtractPayload into files: %d entries: raised %d, written as the packed file %d, "
           "existing file kept %d, damaged file on disk %d, crashed %d\n",
           extracted.samples, extracted.raised, extracted.written, extracted.kept, extracted.damagedFiles,
           extracted.crashed);
    return sound && extracted.damagedFiles == 0 && extracted.crashed == 0 ? 0 : 1;
}
