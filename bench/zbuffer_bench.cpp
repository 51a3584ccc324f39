// Expansion speed of the product database's payload entry: ZBuffer::Expand
// (allocation, one inflate, guard setting) against a bare one-shot zlib inflate
// into a buffer allocated beforehand, measured side by side in one run. A third
// figure, the bare inflate into a block allocated just before, tells the cost of
// first touching fresh memory apart from the cost of Expand itself.
#include "zbuffer.h"

#include <windows.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

const int kDatabaseSize = 12447744;
const int kRounds = 9;

// Catalogue pages: a header, text records with numbers from a fixed generator,
// zero padding. Packs at about the product database's ratio.
Bytes DatabaseLikeFile()
{
    Bytes file(kDatabaseSize, 0);
    unsigned seed = 12345;
    for (int page = 0; page * 4096 < kDatabaseSize; ++page) {
        char* p = reinterpret_cast<char*>(&file[static_cast<size_t>(page) * 4096]);
        int used = snprintf(p, 4096, "PAGE%06d", page);
        while (used < 3072) {
            seed = seed * 1103515245u + 12345u;
            used += snprintf(p + used, 4096 - used, "|%05u|Coin|Silver|%4u|Grade %c|Lot %u\r\n",
                             (seed >> 8) % 100000, 1800 + (seed >> 4) % 220,
                             'A' + static_cast<char>((seed >> 20) % 5), (seed >> 12) % 977);
        }
    }
    return file;
}

// The payload entry: size field, then the zlib stream without its trailer.
Bytes PackedEntry(const Bytes& file)
{
    uLongf len = compressBound(static_cast<uLong>(file.size()));
    Bytes entry(4 + len);
    compress2(&entry[4], &len, file.data(), static_cast<uLong>(file.size()), 9);
    entry.resize(4 + len - 4);
    for (int i = 0; i < 4; ++i)
        entry[i] = static_cast<unsigned char>(file.size() >> (8 * i));
    return entry;
}

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(f.QuadPart);
}

double TimeExpand(const Bytes& entry, const Bytes& file)
{
    ZBuffer buffer(entry.data(), static_cast<int>(entry.size()));
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    buffer.Expand(0);
    QueryPerformanceCounter(&t1);
    if (buffer.Size() != kDatabaseSize || memcmp(buffer.Data(), file.data(), file.size()) != 0)
        fprintf(stderr, "ZBuffer::Expand gave wrong bytes\n");
    return Seconds(t0, t1);
}

double TimeBareInflate(const Bytes& entry, Bytes& out)
{
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    z_stream s = {};
    inflateInit(&s);
    s.next_in = const_cast<Bytef*>(entry.data() + 4);
    s.avail_in = static_cast<uInt>(entry.size() - 4);
    s.next_out = out.data();
    s.avail_out = static_cast<uInt>(out.size());
    inflate(&s, Z_FINISH);
    const uLong produced = s.total_out;
    inflateEnd(&s);
    QueryPerformanceCounter(&t1);
    if (produced != out.size())
        fprintf(stderr, "bare inflate gave %lu bytes\n", produced);
    return Seconds(t0, t1);
}

// The bare inflate with its output block allocated inside the timed span, as
// Expand allocates its own.
double TimeBareInflateFresh(const Bytes& entry)
{
    LARGE_INTEGER t0, t1;
    QueryPerformanceCounter(&t0);
    unsigned char* fresh = static_cast<unsigned char*>(malloc(kDatabaseSize + 2));
    z_stream s = {};
    inflateInit(&s);
    s.next_in = const_cast<Bytef*>(entry.data() + 4);
    s.avail_in = static_cast<uInt>(entry.size() - 4);
    s.next_out = fresh + 1;
    s.avail_out = kDatabaseSize;
    inflate(&s, Z_FINISH);
    inflateEnd(&s);
    QueryPerformanceCounter(&t1);
    free(fresh);
    return Seconds(t0, t1);
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double MBps(double seconds)
{
    return kDatabaseSize / (1024.0 * 1024.0) / seconds;
}

} // namespace

int main()
{
    const Bytes file = DatabaseLikeFile();
    const Bytes entry = PackedEntry(file);
    printf("entry: %d bytes expanding to %d bytes, %d rounds\n", static_cast<int>(entry.size()),
           kDatabaseSize, kRounds);

    Bytes out(kDatabaseSize);
    std::vector<double> expand, bare, fresh;
    for (int round = 0; round < kRounds; ++round) {
        // Alternate the order so that neither side always runs on a warm cache.
        if (round % 2 == 0) {
            expand.push_back(TimeExpand(entry, file));
            bare.push_back(TimeBareInflate(entry, out));
            fresh.push_back(TimeBareInflateFresh(entry));
        } else {
            fresh.push_back(TimeBareInflateFresh(entry));
            bare.push_back(TimeBareInflate(entry, out));
            expand.push_back(TimeExpand(entry, file));
        }
    }
    const double e = Median(expand), b = Median(bare);
    const double eBest = *std::min_element(expand.begin(), expand.end());
    const double bBest = *std::min_element(bare.begin(), bare.end());
    printf("ZBuffer::Expand   median %7.1f MB/s   best %7.1f MB/s\n", MBps(e), MBps(eBest));
    printf("bare zlib inflate median %7.1f MB/s   best %7.1f MB/s\n", MBps(b), MBps(bBest));
    printf("ratio Expand/bare median %.3f   best %.3f   (goal >= 0.95)\n", b / e, bBest / eBest);
    const double f = Median(fresh);
    printf("bare inflate into a fresh block: median %7.1f MB/s; ratio Expand/fresh %.3f\n", MBps(f), f / e);
    return 0;
}
