/* bmpgen: writes the stand-in "empty picture" bitmap, bmEmptyPicture.bmp.
 *
 *   bmpgen OUTPUT
 *
 * A 64 x 48 pixel, 24-bit Windows bitmap: a light grey field with a dark grey
 * frame and a cross from corner to corner, the usual placeholder for an item
 * that has no picture yet. */
#include <stdio.h>
#include <string.h>

enum { kWidth = 64, kHeight = 48, kRowBytes = kWidth * 3, kPixelBytes = kRowBytes * kHeight };
enum { kHeaderBytes = 14 + 40 };

static void Put16(unsigned char* p, unsigned v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

static void Put32(unsigned char* p, unsigned v)
{
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

static void Headers(unsigned char* h)
{
    memset(h, 0, kHeaderBytes);
    h[0] = 'B';
    h[1] = 'M';
    Put32(h + 2, kHeaderBytes + kPixelBytes);
    Put32(h + 10, kHeaderBytes);
    Put32(h + 14, 40);         /* BITMAPINFOHEADER */
    Put32(h + 18, kWidth);
    Put32(h + 22, kHeight);    /* bottom-up rows */
    Put16(h + 26, 1);          /* planes */
    Put16(h + 28, 24);         /* bits per pixel */
    Put32(h + 34, kPixelBytes);
    Put32(h + 38, 2835);       /* 72 dpi */
    Put32(h + 42, 2835);
}

static int OnFigure(int x, int y)
{
    if (x == 0 || y == 0 || x == kWidth - 1 || y == kHeight - 1)
        return 1;
    int d1 = x * (kHeight - 1) - y * (kWidth - 1);
    int d2 = x * (kHeight - 1) - (kHeight - 1 - y) * (kWidth - 1);
    int tolerance = kWidth - 1;
    return (d1 > -tolerance && d1 < tolerance) || (d2 > -tolerance && d2 < tolerance);
}

static void Pixels(unsigned char* p)
{
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            memset(p + y * kRowBytes + 3 * x, OnFigure(x, y) ? 0x80 : 0xE0, 3);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: bmpgen OUTPUT\n");
        return 2;
    }
    static unsigned char image[kHeaderBytes + kPixelBytes];
    Headers(image);
    Pixels(image + kHeaderBytes);
    FILE* f = fopen(argv[1], "wb");
    int ok = f && fwrite(image, 1, sizeof image, f) == sizeof image;
    ok = f && (fclose(f) == 0) && ok;
    if (!ok) {
        remove(argv[1]);
        fprintf(stderr, "bmpgen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
