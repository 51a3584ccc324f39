/* icocheck: reads back every image header of an icon file and fails unless
 * each image keeps to the documented icon format, which every Windows since
 * 95 reads alike.
 *
 *   icocheck ICON
 *
 * Each image is a BITMAPINFOHEADER (no PNG), then a colour table of exactly
 * the entries its bit count makes (2, 16 or 256; none above 8 bits), then the
 * colour pixels and the transparency mask. biHeight counts both bitmaps;
 * biCompression, the resolutions, biClrUsed and biClrImportant are 0. The
 * directory entry names the image's own width, height, colour count, planes
 * and bit count, and the exact bytes the image takes. A reader that trusts
 * biClrUsed and one that sizes the table by the bit count then find the same
 * pixels. Prints one line per image read back; a departure names the image
 * and the field, and the exit code is 1. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { kDirBytes = 6, kEntryBytes = 16, kInfoBytes = 40 };

static const char* gPath = "";
static int gFailed;

static unsigned Get16(const unsigned char* p)
{
    return p[0] | (unsigned)p[1] << 8;
}

static unsigned long Get32(const unsigned char* p)
{
    return Get16(p) | (unsigned long)Get16(p + 2) << 16;
}

static void Fail(const char* what)
{
    fprintf(stderr, "icocheck: %s: %s\n", gPath, what);
    exit(1);
}

/* Reports a departure of one image; the others are still read. */
static void Depart(unsigned image, const char* field, unsigned long is, unsigned long must)
{
    fprintf(stderr, "icocheck: %s: image %u: %s is %lu, must be %lu\n", gPath, image, field, is, must);
    gFailed = 1;
}

static void Expect(unsigned image, const char* field, unsigned long is, unsigned long must)
{
    if (is != must)
        Depart(image, field, is, must);
}

static unsigned char* ReadWholeFile(const char* path, size_t* size)
{
    FILE* f = fopen(path, "rb");
    if (!f)
        Fail("cannot open the icon");
    fseek(f, 0, SEEK_END);
    long len = ftell(f);
    rewind(f);
    unsigned char* data = malloc(len > 0 ? (size_t)len : 1);
    if (!data)
        Fail("out of memory");
    if (len < 0 || fread(data, 1, (size_t)len, f) != (size_t)len)
        Fail("cannot read the icon");
    fclose(f);
    *size = (size_t)len;
    return data;
}

/* Bytes of one row of a bitmap, padded to whole 32-bit words. */
static unsigned long RowBytes(unsigned long width, unsigned bits)
{
    return (width * bits + 31) / 32 * 4;
}

static void CheckImage(unsigned image, const unsigned char* entry, const unsigned char* data, size_t size)
{
    const unsigned long width = entry[0] ? entry[0] : 256, height = entry[1] ? entry[1] : 256;
    const unsigned long bytes = Get32(entry + 8), offset = Get32(entry + 12);
    if (offset > size || bytes > size - offset || bytes < kInfoBytes) {
        fprintf(stderr, "icocheck: %s: image %u: its %lu bytes at %lu lie outside the file\n", gPath, image,
                bytes, offset);
        gFailed = 1;
        return;
    }
    const unsigned char* info = data + offset;
    if (memcmp(info, "\x89PNG", 4) == 0) {
        fprintf(stderr, "icocheck: %s: image %u: a PNG image, which Windows before Vista cannot read\n", gPath,
                image);
        gFailed = 1;
        return;
    }
    const unsigned bits = Get16(info + 14);
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        fprintf(stderr, "icocheck: %s: image %u: biBitCount is %u, must be 1, 4, 8, 24 or 32\n", gPath, image, bits);
        gFailed = 1;
        return;
    }
    const unsigned long colours = bits <= 8 ? 1UL << bits : 0;
    Expect(image, "biSize", Get32(info), kInfoBytes);
    Expect(image, "biWidth", Get32(info + 4), width);
    Expect(image, "biHeight", Get32(info + 8), 2 * height);
    Expect(image, "biPlanes", Get16(info + 12), 1);
    Expect(image, "biCompression", Get32(info + 16), 0);
    Expect(image, "biXPelsPerMeter", Get32(info + 24), 0);
    Expect(image, "biYPelsPerMeter", Get32(info + 28), 0);
    Expect(image, "biClrUsed", Get32(info + 32), 0);
    Expect(image, "biClrImportant", Get32(info + 36), 0);
    Expect(image, "the directory's colour count", entry[2], bits < 8 ? colours : 0);
    Expect(image, "the directory's planes", Get16(entry + 4), 1);
    Expect(image, "the directory's bit count", Get16(entry + 6), bits);
    Expect(image, "the directory's image bytes", bytes,
           kInfoBytes + 4 * colours + (RowBytes(width, bits) + RowBytes(width, 1)) * height);
    const unsigned long used = Get32(info + 32);
    printf("%s: image %u: %lu x %lu, %u bits, colour table of %lu entries (biClrUsed %lu, biClrImportant %lu), "
           "%lu bytes\n",
           gPath, image, width, height, bits, used ? used : colours, used, Get32(info + 36), bytes);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: icocheck ICON\n");
        return 2;
    }
    gPath = argv[1];
    size_t size;
    unsigned char* data = ReadWholeFile(gPath, &size);
    if (size < kDirBytes || Get16(data) != 0 || Get16(data + 2) != 1)
        Fail("not an icon file (its header is not 0, 1)");
    const unsigned count = Get16(data + 4);
    if (count == 0 || size < kDirBytes + (size_t)count * kEntryBytes)
        Fail("its directory holds no image or is cut short");
    for (unsigned i = 0; i < count; ++i)
        CheckImage(i + 1, data + kDirBytes + i * kEntryBytes, data, size);
    free(data);
    return gFailed;
}
