#include "zbuffer.h"
#include "zexcept.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

typedef std::vector<unsigned char> Bytes;

const int kDatabaseSize = 12447744;

// Pages of a catalogue database: a page header, a run of text records with
// numbers from a fixed generator, and zero padding, so the content packs about
// as well as the product's own database.
Bytes DatabaseLikeFile(int size)
{
    Bytes file(static_cast<size_t>(size), 0);
    unsigned seed = 12345;
    for (int page = 0; page * 4096 < size; ++page) {
        unsigned char* p = &file[static_cast<size_t>(page) * 4096];
        const int room = size - page * 4096 < 4096 ? size - page * 4096 : 4096;
        int used = snprintf(reinterpret_cast<char*>(p), static_cast<size_t>(room), "PAGE%06d", page);
        while (used < room * 3 / 4) {
            seed = seed * 1103515245u + 12345u;
            char record[96];
            const int n = snprintf(record, sizeof record, "|%05u|Coin|Silver|%4u|Grade %c|Lot %u\r\n",
                                   (seed >> 8) % 100000, 1800 + (seed >> 4) % 220,
                                   'A' + static_cast<char>((seed >> 20) % 5), (seed >> 12) % 977);
            if (used + n > room)
                break;
            memcpy(p + used, record, static_cast<size_t>(n));
            used += n;
        }
    }
    return file;
}

// A payload entry: the 4-byte little-endian size, then the zlib stream at
// maximum compression, with or without its Adler-32 trailer.
Bytes PackedBlock(const Bytes& file, bool withTrailer, unsigned announced)
{
    uLongf packedLen = compressBound(static_cast<uLong>(file.size()));
    Bytes block(4 + packedLen);
    const int status = compress2(&block[4], &packedLen, file.data(), static_cast<uLong>(file.size()), 9);
    if (status != Z_OK)
        throw std::runtime_error("compress2 failed");
    block.resize(4 + packedLen - (withTrailer ? 0 : 4));
    for (int i = 0; i < 4; ++i)
        block[static_cast<size_t>(i)] = static_cast<unsigned char>(announced >> (8 * i));
    return block;
}

Bytes PackedBlock(const Bytes& file, bool withTrailer = false)
{
    return PackedBlock(file, withTrailer, static_cast<unsigned>(file.size()));
}

const Bytes& Database()
{
    static const Bytes file = DatabaseLikeFile(kDatabaseSize);
    return file;
}

Bytes Content(const ZBuffer& b)
{
    return Bytes(b.Data(), b.Data() + b.Size());
}

int FailedLine(const ZInternalEx& ex)
{
    return ex.infos.First()->value->line;
}

// Expands the block at the start of b; the assertion line it failed with, or 0.
int ExpandLine(ZBuffer& b)
{
    try {
        b.Expand(0);
    } catch (const ZInternalEx& ex) {
        return FailedLine(ex);
    }
    return 0;
}

Bytes Text(const char* s)
{
    return Bytes(s, s + strlen(s));
}

} // namespace

TEST(ZBuffer, EmptyBuffersHaveNoGuards)
{
    {
        ZBuffer none(0);
        EXPECT_EQ(nullptr, none.Data());
        EXPECT_EQ(0, none.Size());
        EXPECT_EQ(0, none.Capacity());
        none.CheckGuards();
        none.Expand(0);
        EXPECT_EQ(nullptr, none.Data());
    }
    ZBuffer copied("", 0);
    ASSERT_NE(nullptr, copied.Data());
    EXPECT_EQ(0, copied.Size());
    copied.Data()[-1] = 1;   // both bytes of the block are free to change
    copied.Data()[0] = 2;
    copied.CheckGuards();

    ZBuffer zeros(5);
    EXPECT_EQ(Bytes(5, 0), Content(zeros));
    EXPECT_EQ(zeros.Data()[-1], zeros.Data()[5]);
    EXPECT_THROW(ZBuffer(-1), std::bad_alloc);
}

TEST(ZBuffer, ResizeDoublesPastCapacityAndZeroFills)
{
    ZBuffer b("abcd", 4);
    unsigned char* p = b.Resize(10, true);
    EXPECT_EQ(p, b.Data());
    EXPECT_EQ(10, b.Size());
    EXPECT_EQ(20, b.Capacity());
    EXPECT_EQ(0, memcmp(p, "abcd", 4));
    for (int i = 4; i < 20; ++i) {
        if (i != 10) {   // the trailing guard
            EXPECT_EQ(0, p[i]) << i;
        }
    }
    EXPECT_EQ(p[-1], p[10]);

    p[13] = 'x';
    const unsigned char oldGuard = p[10];
    EXPECT_EQ(p, b.Resize(15, true));   // fits: nothing moves or is cleared
    EXPECT_EQ('x', p[13]);
    EXPECT_EQ(oldGuard, p[10]);
    EXPECT_EQ(p[-1], p[15]);

    unsigned char* added = b.Extend(2);
    EXPECT_EQ(b.Data() + 15, added);
    EXPECT_EQ(17, b.Size());

    b.Resize(30, false);
    EXPECT_EQ(60, b.Capacity());
    EXPECT_EQ(Bytes(30, 0), Content(b));

    // Sizes whose doubled capacity does not fit 32 bits cannot be had.
    EXPECT_THROW(b.Resize(INT_MAX / 2, true), std::bad_alloc);
    EXPECT_THROW(b.Extend(INT_MAX), std::bad_alloc);
    EXPECT_EQ(30, b.Size());
    EXPECT_EQ(60, b.Capacity());
}

TEST(ZBuffer, BrokenGuardIsCaughtByResizeExpandAndDestruction)
{
    for (int side = 0; side < 2; ++side) {
        ZBuffer b("abc\0def", 7);
        unsigned char* guard = side == 0 ? b.Data() - 1 : b.Data() + 7;
        const unsigned char good = *guard;
        *guard = static_cast<unsigned char>(good ^ 0x5A);
        try {
            b.Resize(3, true);
            FAIL() << "Resize";
        } catch (const ZInternalEx& ex) {
            EXPECT_EQ(&ZErr::Unexpected, ex.desc);
            EXPECT_STREQ("Assertion Failed", ex.operation);
            EXPECT_STREQ("\n../../../wf/wfutil/zbuffer[178] ZASSERT( buff[-1] == buff[buffSize] ); // abc",
                         ex.infos.First()->value->text);
        }
        EXPECT_EQ(7, b.Size());
        try {
            b.Expand(0);
            FAIL() << "Expand";
        } catch (const ZInternalEx& ex) {
            EXPECT_EQ(178, FailedLine(ex));
        }
        *guard = good;
    }

    try {
        ZBuffer b("abcdef", 6);
        b.Data()[6] ^= 1;
    } catch (const ZInternalEx& ex) {   // the content has no zero: all six bytes
        EXPECT_STREQ("\n../../../wf/wfutil/zbuffer[178] ZASSERT( buff[-1] == buff[buffSize] ); // abcdef",
                     ex.infos.First()->value->text);
        return;
    }
    FAIL() << "destruction";
}

TEST(ZBuffer, ExpandKeepsThePrefixWithOrWithoutTheTrailer)
{
    const Bytes text = Text("a catalogue of coins, stamps and cards; coins, stamps and cards");
    ZBuffer same("abc", 3);
    unsigned char* before = same.Data();
    same.Expand(3);
    EXPECT_EQ(before, same.Data());
    EXPECT_EQ(Text("abc"), Content(same));

    for (int trailer = 0; trailer < 2; ++trailer) {
        Bytes entry = Text("HDR!");
        const Bytes block = PackedBlock(text, trailer == 1);
        entry.insert(entry.end(), block.begin(), block.end());
        ZBuffer b(entry.data(), static_cast<int>(entry.size()));
        b.Expand(4);
        Bytes expected = Text("HDR!");
        expected.insert(expected.end(), text.begin(), text.end());
        EXPECT_EQ(expected, Content(b));
        EXPECT_EQ(b.Size(), b.Capacity());
        EXPECT_EQ(b.Data()[-1], b.Data()[b.Size()]);
    }
}

// The block is read where it lies: the content becomes its expanded bytes,
// and a damaged or empty block leaves the buffer as it was.
TEST(ZBuffer, ExpandFromReadsTheBlockInPlace)
{
    const Bytes text = Text("a catalogue of coins, stamps and cards; coins, stamps and cards");
    const Bytes block = PackedBlock(text, true);
    ZBuffer b(Text("old").data(), 3);
    b.ExpandFrom(block.data(), static_cast<int>(block.size()));
    EXPECT_EQ(text, Content(b));
    EXPECT_EQ(b.Size(), b.Capacity());

    const Bytes cut(block.begin(), block.end() - 9);
    for (int len : {0, 3, static_cast<int>(cut.size())}) {
        ZBuffer kept(Text("old").data(), 3);
        try {
            kept.ExpandFrom(cut.data(), len);
            ADD_FAILURE() << len;
        } catch (const ZInternalEx& ex) {
            EXPECT_EQ(250, FailedLine(ex)) << len;
        }
        EXPECT_EQ(Text("old"), Content(kept)) << len;
    }
}

TEST(ZBuffer, DatabaseExpandsByteForByte)
{
    const Bytes& file = Database();
    const Bytes withTrailer = PackedBlock(file, true);
    for (int trailer = 0; trailer < 2; ++trailer) {
        const Bytes block(withTrailer.begin(), withTrailer.end() - (trailer ? 0 : 4));
        EXPECT_EQ(0x78, block[4]);
        EXPECT_EQ(0xDA, block[5]);
        ZBuffer b(block.data(), static_cast<int>(block.size()));
        b.Expand(0);
        EXPECT_EQ(kDatabaseSize, b.Size());
        EXPECT_EQ(kDatabaseSize, b.Capacity());
        EXPECT_TRUE(memcmp(file.data(), b.Data(), file.size()) == 0) << "trailer " << trailer;
    }
}

TEST(ZBuffer, SizeFieldDecidesTheOutcome)
{
    const Bytes text = Text("one two three four five six seven eight nine ten");
    const unsigned real = static_cast<unsigned>(text.size());

    const unsigned unsatisfiable[] = {real + 1, 0x7FFFFFF0u, 0x80000000u, 0xFFFFFFFFu};
    for (unsigned announced : unsatisfiable) {
        const Bytes block = PackedBlock(text, false, announced);
        ZBuffer b(block.data(), static_cast<int>(block.size()));
        unsigned char* before = b.Data();
        try {
            b.Expand(0);
            FAIL() << announced;
        } catch (const ZInternalEx& ex) {
            EXPECT_EQ(250, FailedLine(ex));
            EXPECT_STREQ("\n../../../wf/wfutil/zbuffer[250] ZASSERT( exp == origExpandedSize );",
                         ex.infos.First()->value->text);
        }
        EXPECT_EQ(before, b.Data());
        EXPECT_EQ(block, Content(b));
        EXPECT_EQ(static_cast<int>(block.size()), b.Capacity());
    }

    // A size field smaller than the stream's output: the excess would be
    // dropped without a word, so the block is damaged, trailer or not.
    for (int trailer = 0; trailer < 2; ++trailer) {
        const Bytes shorter = PackedBlock(text, trailer == 1, real - 1);
        ZBuffer b(shorter.data(), static_cast<int>(shorter.size()));
        EXPECT_EQ(250, ExpandLine(b)) << "trailer " << trailer;
        EXPECT_EQ(shorter, Content(b));
    }

    ZBuffer past("HDR!", 4);
    EXPECT_THROW(past.Expand(5), ZInternalEx);    // an offset beyond the content
    EXPECT_THROW(past.Expand(-1), ZInternalEx);
    EXPECT_EQ(Text("HDR!"), Content(past));
}

// Every damaged block fails with the line-250 assertion and leaves the buffer
// as it was. With its trailer, no block that expands to other bytes passes;
// without one, the original entries' form, what passes has the announced size
// and a stream that ends there.
TEST(ZBuffer, DamagedBlocksFailCleanly)
{
    Bytes small;
    for (int i = 0; i < 40; ++i) {
        const Bytes line = Text("Item|Coin|Silver|1921|Morgan dollar\r\n");
        small.insert(small.end(), line.begin(), line.end());
        small.push_back(static_cast<unsigned char>(i));
    }
    for (int trailer = 0; trailer < 2; ++trailer) {
        const Bytes block = PackedBlock(small, trailer == 1);
        for (size_t len = 1; len <= block.size(); ++len) {
            ZBuffer b(block.data(), static_cast<int>(len));
            const int line = ExpandLine(b);
            // Cut short anywhere, even inside the trailer, it fails; the
            // whole block, or the block without its trailer, is read.
            const bool whole = len == block.size() || (trailer == 1 && len == block.size() - 4);
            EXPECT_EQ(whole ? 0 : 250, line) << "trailer " << trailer << ", length " << len;
            EXPECT_EQ(static_cast<int>(whole ? small.size() : len), b.Size());
        }
    }

    const Bytes larger = DatabaseLikeFile(65536);
    for (int trailer = 0; trailer < 2; ++trailer) {
        const Bytes good = PackedBlock(larger, trailer == 1);
        unsigned seed = 99;
        int failed = 0, different = 0;
        for (int i = 0; i < 3000; ++i) {
            Bytes damaged = good;
            seed = seed * 1103515245u + 12345u;
            // One in ten flips hits the size field, the rest the stream.
            const size_t at = i % 10 == 0 ? (seed >> 8) % 4 : (seed >> 8) % damaged.size();
            damaged[at] ^= static_cast<unsigned char>(1u << ((seed >> 4) % 8));
            ZBuffer b(damaged.data(), static_cast<int>(damaged.size()));
            const int line = ExpandLine(b);
            if (line == 0) {
                EXPECT_EQ(static_cast<int>(larger.size()), b.Size()) << i;
                different += Content(b) != larger;
            } else {
                EXPECT_EQ(250, line) << i;
                EXPECT_EQ(damaged, Content(b)) << i;
                ++failed;
            }
        }
        EXPECT_GT(failed, 0);
        // With the trailer, only a flip in the padding bits after the final
        // block, which changes nothing, passes.
        if (trailer == 1) {
            EXPECT_GT(failed, 2990);
            EXPECT_EQ(0, different);
        }
    }
}

// The trailer is checked when it is there: a wrong one fails, wherever the
// difference lies.
TEST(ZBuffer, WrongTrailerIsADamagedBlock)
{
    const Bytes text = Text("one two three four five six seven eight nine ten");
    const Bytes good = PackedBlock(text, true);
    for (size_t at = good.size() - 4; at < good.size(); ++at) {
        Bytes wrong = good;
        wrong[at] ^= 0x01;
        ZBuffer b(wrong.data(), static_cast<int>(wrong.size()));
        EXPECT_EQ(250, ExpandLine(b)) << at;
    }
}

// The stream's two header bytes: any window the inflater can hold is read; a
// preset dictionary, a window beyond 32 KB, another method or wrong check
// bits make a damaged block.
TEST(ZBuffer, StreamHeaderIsChecked)
{
    const Bytes text = DatabaseLikeFile(20000);
    for (int windowBits = 9; windowBits <= 15; ++windowBits) {
        z_stream s = {};
        ASSERT_EQ(Z_OK, deflateInit2(&s, 9, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY));
        Bytes block(4 + deflateBound(&s, static_cast<uLong>(text.size())));
        s.next_in = const_cast<Bytef*>(text.data());
        s.avail_in = static_cast<uInt>(text.size());
        s.next_out = &block[4];
        s.avail_out = static_cast<uInt>(block.size() - 4);
        ASSERT_EQ(Z_STREAM_END, deflate(&s, Z_FINISH));
        block.resize(4 + s.total_out);
        deflateEnd(&s);
        for (int i = 0; i < 4; ++i)
            block[static_cast<size_t>(i)] = static_cast<unsigned char>(text.size() >> (8 * i));
        ZBuffer b(block.data(), static_cast<int>(block.size()));
        EXPECT_EQ(0, ExpandLine(b)) << windowBits;
        EXPECT_EQ(text, Content(b)) << windowBits;
    }

    // Header bytes whose check bits are right (a multiple of 31).
    const auto withHeader = [](Bytes block, unsigned char cmf, unsigned char flg) {
        flg = static_cast<unsigned char>((flg & 0xE0) + 31 - (cmf * 256 + (flg & 0xE0)) % 31);
        block[4] = cmf;
        block[5] = flg;
        return block;
    };
    const Bytes good = PackedBlock(text);
    const Bytes bad[] = {
        withHeader(good, 0x78, 0xDA | 0x20),   // a preset dictionary
        withHeader(good, 0x88, 0xDA),          // a 64 KB window
        withHeader(good, 0x77, 0xDA),          // method 7
        [&] { Bytes b = good; b[5] ^= 0x01; return b; }(),   // check bits wrong
    };
    for (const Bytes& block : bad) {
        ZBuffer b(block.data(), static_cast<int>(block.size()));
        EXPECT_EQ(250, ExpandLine(b)) << std::hex << int(block[4]) << ' ' << int(block[5]);
    }
}
