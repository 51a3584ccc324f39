/* packer: turns one file into a payload entry for the setup program.
 *
 *   packer INPUT OUTPUT
 *
 * An entry is the file's length as 4 bytes little-endian, then the file as a
 * complete zlib stream at maximum compression (header 78 DA), with its 4-byte
 * Adler-32 trailer, so that the setup program can tell a damaged entry from a
 * good one. The deflate data comes from an encoder that searches harder than
 * zlib's own; any standard inflater reads it. Before writing, the entry is
 * expanded again and compared with the input, so a bad entry fails the build
 * instead of the installation. Nothing is left at OUTPUT when packing fails. */
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <libdeflate.h>
#include <zlib.h>

static const char* gInput = "";

static void Fail(const char* what)
{
    fprintf(stderr, "packer: %s: %s\n", gInput, what);
    exit(1);
}

static unsigned char* ReadWholeFile(const char* path, size_t* size)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        Fail("cannot open input");
    size_t cap = 1 << 16, len = 0;
    unsigned char* data = malloc(cap);
    if (!data)
        Fail("out of memory");
    for (;;) {
        len += fread(data + len, 1, cap - len, f);
        if (len < cap)
            break;
        cap *= 2;
        unsigned char* larger = realloc(data, cap);
        if (!larger) {
            free(data);
            Fail("out of memory");
        }
        data = larger;
    }
    if (ferror(f))
        Fail("cannot read input");
    fclose(f);
    *size = len;
    return data;
}

/* The setup program keeps sizes as signed 32-bit counts. */
static void CheckSize(size_t size)
{
    if (size > INT_MAX - 8)
        Fail("file too large for a payload entry (limit 2 GB)");
}

/* The strongest level of the encoder: slow, but a payload is packed once. */
enum { kLevel = 12 };

/* Compresses data into a complete zlib stream (header, deflate data, trailer). */
static unsigned char* Deflate(const unsigned char* data, size_t size, size_t* streamLen)
{
    struct libdeflate_compressor* c = libdeflate_alloc_compressor(kLevel);
    if (!c)
        Fail("out of memory");
    size_t cap = libdeflate_zlib_compress_bound(c, size);
    unsigned char* out = malloc(cap);
    if (!out)
        Fail("out of memory");
    *streamLen = libdeflate_zlib_compress(c, data, size, out, cap);
    libdeflate_free_compressor(c);
    if (*streamLen == 0)
        Fail("the encoder did not finish the stream");
    return out;
}

/* The entry: size field, then the whole stream. */
static unsigned char* BuildEntry(size_t size, const unsigned char* stream, size_t streamLen,
                                 size_t* entryLen)
{
    if (streamLen < 6 || stream[0] != 0x78 || stream[1] != 0xDA)
        Fail("zlib stream does not start with the header 78 DA");
    *entryLen = 4 + streamLen;
    unsigned char* entry = malloc(*entryLen);
    if (!entry)
        Fail("out of memory");
    for (int i = 0; i < 4; ++i)
        entry[i] = (unsigned char)(size >> (8 * i));
    memcpy(entry + 4, stream, streamLen);
    return entry;
}

/* Expands the entry with zlib (one inflate call into room for one byte more
 * than the size field says), checks that the stream ends with its trailer
 * exactly at the end of the entry, and compares the result with the original
 * bytes. */
static void VerifyEntry(const unsigned char* entry, size_t entryLen, const unsigned char* data,
                        size_t size)
{
    size_t expected = (size_t)entry[0] | (size_t)entry[1] << 8 | (size_t)entry[2] << 16 |
                      (size_t)entry[3] << 24;
    if (expected != size)
        Fail("verification failed: size field differs from the file's length");
    unsigned char* out = malloc(expected + 1);
    if (!out)
        Fail("out of memory");
    z_stream zs;
    memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK)
        Fail("verification failed: inflateInit failed");
    zs.next_in = (unsigned char*)entry + 4;
    zs.avail_in = (uInt)(entryLen - 4);
    zs.next_out = out;
    zs.avail_out = (uInt)(expected + 1);
    int status = inflate(&zs, Z_FINISH);
    size_t produced = zs.total_out;
    size_t unread = zs.avail_in;
    inflateEnd(&zs);
    if (status != Z_STREAM_END || unread != 0)
        Fail("verification failed: the stream is damaged or does not end with the entry");
    if (produced != size || memcmp(out, data, size) != 0)
        Fail("verification failed: the entry does not expand to the file's bytes");
    free(out);
}

static void WriteEntry(const char* path, const unsigned char* entry, size_t entryLen)
{
    FILE* f = fopen(path, "wb");
    if (!f)
        Fail("cannot create output");
    int ok = fwrite(entry, 1, entryLen, f) == entryLen;
    ok = (fclose(f) == 0) && ok;
    if (!ok) {
        remove(path);
        Fail("cannot write output");
    }
}

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: packer INPUT OUTPUT\n");
        return 2;
    }
    gInput = argv[1];
    remove(argv[2]);
    size_t size, streamLen, entryLen;
    unsigned char* data = ReadWholeFile(argv[1], &size);
    CheckSize(size);
    unsigned char* stream = Deflate(data, size, &streamLen);
    unsigned char* entry = BuildEntry(size, stream, streamLen, &entryLen);
    VerifyEntry(entry, entryLen, data, size);
    WriteEntry(argv[2], entry, entryLen);
    free(entry);
    free(stream);
    free(data);
    return 0;
}
