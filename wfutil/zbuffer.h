// ZBuffer: an owned, growable byte buffer with guard bytes on both sides of its
// content, and the one place where a compressed block is expanded.
//
// Compressed block format: a 4-byte little-endian expanded size, then a zlib
// stream whose 4-byte Adler-32 trailer may be missing. The trailer is checked
// when it is there; either way the stream must end exactly where the size
// field says, so that no damaged block is ever taken as good.
#pragma once

class ZBuffer {
public:
    explicit ZBuffer(int n);               // n zero bytes (no block at all for 0)
    ZBuffer(const void* src, int len);     // a copy of len bytes
    ~ZBuffer() noexcept(false);            // checks the guards
    ZBuffer(const ZBuffer&) = delete;
    ZBuffer& operator=(const ZBuffer&) = delete;

    unsigned char* Resize(int newSize, bool keep);
    unsigned char* Extend(int n);          // returns the first new byte
    void SetGuards();
    void CheckGuards() const;
    // Replaces the compressed block at offset by its expanded bytes.
    void Expand(int offset);
    // Replaces the content by the expanded bytes of the compressed block at
    // block, read where it lies (a payload entry in the program's image needs
    // no copy first). An empty block is damaged like any block cut short.
    void ExpandFrom(const void* block, int len);

    unsigned char* Data() const { return data; }
    int Size() const { return size; }
    int Capacity() const { return capacity; }

private:
    void TakeExpansion(int prefix, const unsigned char* block, int blockLen);

    unsigned char* data;   // second byte of the owned block, or null
    int size;
    int capacity;
};

// Inflates the block at src (its size field first) into dst in one pass of
// zlib's callback inflater. Returns the bytes produced, or a negative zlib
// status when the inflater could not be initialised, the block is shorter
// than its size field, or the stream is damaged: a bad header, a wrong
// trailer, output beyond dstLen, deflate data that does not end there.
int ZInflateBlock(const unsigned char* src, int srcLen, unsigned char* dst, int dstLen);
