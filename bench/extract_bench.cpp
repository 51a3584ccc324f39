// Prints, measured side by side in one run:
//  - the time ZExtractPayload takes for all payload entries of this program,
//    each to a fresh directory, with the SIDs kept across the entries as the
//    install keeps them;
//  - the time of the bare work it cannot avoid: one zlib inflate of each entry
//    straight from the resource into its final buffer and one plain write of
//    the bytes (the limit), and the ratio of the two;
//  - the growth of the peak working set while the largest entry is extracted,
//    against the three copies the store may hold (the resource bytes, the
//    compressed copy and the expanded block).
#include "payload.h"
#include "zexcept.h"
#include "zwinutil.h"

#include <windows.h>
#include <psapi.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Entry {
    char name[MAX_PATH];
    const unsigned char* data;
    DWORD size;
};

BOOL CALLBACK CollectEntry(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR out)
{
    Entry e;
    snprintf(e.name, sizeof e.name, "%s", name);
    HRSRC found = FindResourceA(module, name, type);
    e.data = static_cast<const unsigned char*>(LockResource(LoadResource(module, found)));
    e.size = SizeofResource(module, found);
    reinterpret_cast<std::vector<Entry>*>(out)->push_back(e);
    return TRUE;
}

double Now()
{
    LARGE_INTEGER t, f;
    QueryPerformanceCounter(&t);
    QueryPerformanceFrequency(&f);
    return static_cast<double>(t.QuadPart) / static_cast<double>(f.QuadPart);
}

void RemoveTree(const char* path)
{
    char pattern[MAX_PATH], child[MAX_PATH];
    snprintf(pattern, sizeof pattern, "%s\\*", path);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            snprintf(child, sizeof child, "%s\\%s", path, found.cFileName);
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(child);
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(path);
}

void FreshDir(char* path, const char* kind, int round)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    snprintf(path, MAX_PATH, "%sextract-bench-%lu-%s-%d", temp, GetCurrentProcessId(), kind, round);
    RemoveTree(path);
    CreateDirectoryA(path, nullptr);
}

double TimeStore(const std::vector<Entry>& entries, int round)
{
    char dir[MAX_PATH], dest[MAX_PATH];
    FreshDir(dir, "store", round);
    ZSidCache sids;
    const double start = Now();
    for (const Entry& e : entries) {
        snprintf(dest, sizeof dest, "%s\\%s", dir, e.name);
        ZExtractPayload(e.name, dest, true);
    }
    const double elapsed = Now() - start;
    RemoveTree(dir);
    return elapsed;
}

// One inflate straight from the resource into an exactly sized block, one
// write: what any extraction has to do.
bool InflateAndWrite(const Entry& e, const char* dest)
{
    const DWORD expected = e.data[0] | e.data[1] << 8 | e.data[2] << 16 | static_cast<DWORD>(e.data[3]) << 24;
    unsigned char* out = static_cast<unsigned char*>(malloc(expected ? expected : 1));
    z_stream zs = {};
    inflateInit(&zs);
    zs.next_in = const_cast<unsigned char*>(e.data + 4);
    zs.avail_in = e.size - 4;
    zs.next_out = out;
    zs.avail_out = expected;
    inflate(&zs, Z_FINISH);
    const bool ok = zs.total_out == expected;
    inflateEnd(&zs);
    HANDLE f = CreateFileA(dest, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    WriteFile(f, out, expected, &written, nullptr);
    CloseHandle(f);
    free(out);
    return ok && written == expected;
}

double TimeLimit(const std::vector<Entry>& entries, int round)
{
    char dir[MAX_PATH], dest[MAX_PATH];
    FreshDir(dir, "limit", round);
    const double start = Now();
    for (const Entry& e : entries) {
        snprintf(dest, sizeof dest, "%s\\%s", dir, e.name);
        if (!InflateAndWrite(e, dest))
            fprintf(stderr, "bare inflate of %s failed\n", e.name);
    }
    const double elapsed = Now() - start;
    RemoveTree(dir);
    return elapsed;
}

PROCESS_MEMORY_COUNTERS Memory()
{
    PROCESS_MEMORY_COUNTERS pmc = {};
    pmc.cb = sizeof pmc;
    GetProcessMemoryInfo(GetCurrentProcess(), &pmc, sizeof pmc);
    return pmc;
}

const double kMB = 1024.0 * 1024.0;

// Runs first, before anything else has touched the large blocks.
void ReportPeakOfLargest(const std::vector<Entry>& entries)
{
    const Entry* largest = &entries[0];
    for (const Entry& e : entries)
        if (e.size > largest->size)
            largest = &e;
    const DWORD expanded = largest->data[0] | largest->data[1] << 8 | largest->data[2] << 16 |
                           static_cast<DWORD>(largest->data[3]) << 24;
    char dir[MAX_PATH], dest[MAX_PATH];
    FreshDir(dir, "peak", 0);
    snprintf(dest, sizeof dest, "%s\\%s", dir, largest->name);
    const PROCESS_MEMORY_COUNTERS before = Memory();
    ZExtractPayload(largest->name, dest, true);
    const PROCESS_MEMORY_COUNTERS after = Memory();
    RemoveTree(dir);
    const double allowed = (2.0 * largest->size + expanded) / kMB;
    const double growth = (static_cast<double>(after.PeakWorkingSetSize) - before.WorkingSetSize) / kMB;
    printf("largest entry %s: %lu bytes stored, %lu bytes expanded\n", largest->name, largest->size,
           expanded);
    printf("peak working set: %.2f MB before, %.2f MB after the extraction\n",
           before.PeakWorkingSetSize / kMB, after.PeakWorkingSetSize / kMB);
    printf("growth of the peak during the extraction: %.2f MB; three copies allowed: %.2f MB "
           "(resource %.2f + compressed copy %.2f + expanded %.2f); %.0f%% of the allowance\n",
           growth, allowed, largest->size / kMB, largest->size / kMB, expanded / kMB,
           100.0 * growth / allowed);
}

void CompareWithLimit(const std::vector<Entry>& entries)
{
    const int kRounds = 15;
    double bestStore = 1e9, bestLimit = 1e9;
    printf("\n%d entries, %d rounds, each into a fresh directory\n", static_cast<int>(entries.size()), kRounds);
    printf("round   ZExtractPayload   inflate+write (limit)   ratio\n");
    for (int round = 1; round <= kRounds; ++round) {
        const double store = TimeStore(entries, round);
        const double limit = TimeLimit(entries, round);
        bestStore = store < bestStore ? store : bestStore;
        bestLimit = limit < bestLimit ? limit : bestLimit;
        printf("%5d   %12.1f ms   %18.1f ms   %5.2f\n", round, 1000 * store, 1000 * limit, store / limit);
    }
    printf(" best   %12.1f ms   %18.1f ms   %5.2f\n", 1000 * bestStore, 1000 * bestLimit,
           bestStore / bestLimit);
}

} // namespace

int main()
{
    std::vector<Entry> entries;
    EnumResourceNamesA(nullptr, "BINFILE", CollectEntry, reinterpret_cast<LONG_PTR>(&entries));
    if (entries.empty()) {
        fprintf(stderr, "no payload entries in this program\n");
        return 1;
    }
    try {
        ReportPeakOfLargest(entries);
        CompareWithLimit(entries);
    } catch (const ZFatalEx& ex) {
        fprintf(stderr, "extraction failed:%s\n", ex.Format().c_str());
        return 1;
    }
    return 0;
}
