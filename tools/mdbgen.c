/* mdbgen: writes the stand-in product database, curato.mdb.
 *
 *   mdbgen OUTPUT
 *
 * The file is laid out like a small page-structured database: a header page,
 * then 4096-byte pages of catalogue records (fixed fields, then text fields),
 * each page with a slot table at its front and its records packed from its
 * end, so that the middle of a page is free space; every eighth page is an
 * unused free page. The content comes from a fixed pseudo-random sequence, so
 * every build writes the same bytes. */
#include <stdint.h>
#include <stdio.h>
#include <string.h>

enum { kPageSize = 4096, kPageCount = 3039 }; /* 12,447,744 bytes */
/* Chosen so that the file packs at about 7.6:1. */
enum { kRecordsFloor = 2534 };

static uint32_t gSeed = 0x1A2B3C4Du;

static uint32_t NextRandom(void)
{
    gSeed ^= gSeed << 13;
    gSeed ^= gSeed >> 17;
    gSeed ^= gSeed << 5;
    return gSeed;
}

static unsigned Pick(unsigned n) { return NextRandom() % n; }

static const char* const kKinds[] = {"Stamp", "Coin", "Banknote", "Postcard", "Medal",
                                     "Token", "Badge", "Cover", "Card", "Button"};
static const char* const kCountries[] = {"Austria", "Belgium", "Canada", "Denmark",
                                         "France", "Germany", "Italy", "Japan",
                                         "Norway", "Portugal", "Spain", "Sweden"};
static const char* const kWords[] = {
    "mint", "used", "hinged", "perforated", "imperforate", "overprint", "proof",
    "uncirculated", "worn", "toned", "crease", "corner", "margin", "block", "pair",
    "single", "sheet", "issue", "series", "commemorative", "definitive", "airmail",
    "rare", "common", "variety", "error", "shade", "watermark", "gum", "cancel",
    "postmark", "first", "day", "edition", "silver", "bronze", "copper", "gold",
    "red", "blue", "green", "violet", "brown", "portrait", "harbour", "bridge",
    "castle", "mountain", "river", "flower", "bird", "ship", "train", "king",
    "queen", "jubilee", "centenary", "anniversary", "exhibition", "catalogue",
    "value", "grade", "fine", "superb"};

#define COUNT(a) ((unsigned)(sizeof(a) / sizeof((a)[0])))

static void Put16(unsigned char* p, unsigned v)
{
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
}

static void Put32(unsigned char* p, uint32_t v)
{
    Put16(p, v & 0xFFFF);
    Put16(p + 2, v >> 16);
}

/* A text field: 16-bit length, then the bytes. Returns the bytes used. */
static unsigned PutText(unsigned char* p, const char* text)
{
    unsigned n = (unsigned)strlen(text);
    Put16(p, n);
    memcpy(p + 2, text, n);
    return n + 2;
}

static void Description(char* out, size_t cap)
{
    out[0] = 0;
    unsigned words = 3 + Pick(6);
    for (unsigned i = 0; i < words; ++i) {
        if (i)
            strncat(out, " ", cap - strlen(out) - 1);
        strncat(out, kWords[Pick(COUNT(kWords))], cap - strlen(out) - 1);
    }
}

/* One catalogue record into rec; returns its length. */
static unsigned BuildRecord(unsigned char* rec, uint32_t id)
{
    char text[160];
    Put32(rec, id);
    Put16(rec + 4, Pick(COUNT(kKinds)));
    Put16(rec + 6, 1840 + Pick(170));
    Put32(rec + 8, 25 * (1 + Pick(4000)));
    rec[12] = (unsigned char)(1 + Pick(5));
    rec[13] = 0;
    unsigned n = 14;
    snprintf(text, sizeof text, "%s %s No. %u", kCountries[Pick(COUNT(kCountries))],
             kKinds[Pick(COUNT(kKinds))], 1 + Pick(900));
    n += PutText(rec + n, text);
    Description(text, sizeof text);
    n += PutText(rec + n, text);
    snprintf(text, sizeof text, "19%02u-%02u-%02u", Pick(100), 1 + Pick(12), 1 + Pick(28));
    n += PutText(rec + n, text);
    return n;
}

static void HeaderPage(unsigned char* page)
{
    memset(page, 0, kPageSize);
    memcpy(page + 4, "CuratoNet Catalogue DB", 22);
    Put32(page + 32, 1);          /* format version */
    Put32(page + 36, kPageSize);
    Put32(page + 40, kPageCount);
    PutText(page + 64, "Tables: Items, Kinds, Countries");
}

/* A data page: 16-byte header, slot table, records from the end backwards
 * down to kRecordsFloor; what lies between the slot table and the records is
 * free space (more than half of the page, as in a database that has seen
 * deletions). */
static void DataPage(unsigned char* page, unsigned number, uint32_t* nextId)
{
    unsigned char rec[512];
    memset(page, 0, kPageSize);
    page[0] = 1; /* page type: data */
    Put32(page + 4, number);
    unsigned slots = 0, end = kPageSize;
    for (;;) {
        unsigned len = BuildRecord(rec, *nextId);
        if (end - len < kRecordsFloor)
            break;
        end -= len;
        memcpy(page + end, rec, len);
        Put16(page + 16 + 2 * slots, end);
        ++slots;
        ++*nextId;
    }
    Put16(page + 2, end - (16 + 2 * slots)); /* free bytes */
    Put16(page + 8, slots);
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: mdbgen OUTPUT\n");
        return 2;
    }
    FILE* f = fopen(argv[1], "wb");
    if (!f) {
        fprintf(stderr, "mdbgen: cannot create %s\n", argv[1]);
        return 1;
    }
    unsigned char page[kPageSize];
    uint32_t nextId = 1;
    int ok = 1;
    for (unsigned i = 0; i < kPageCount && ok; ++i) {
        if (i == 0)
            HeaderPage(page);
        else if (i % 8 == 0)
            memset(page, 0, kPageSize); /* free page */
        else
            DataPage(page, i, &nextId);
        ok = fwrite(page, 1, kPageSize, f) == kPageSize;
    }
    ok = (fclose(f) == 0) && ok;
    if (!ok) {
        remove(argv[1]);
        fprintf(stderr, "mdbgen: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
