#include "zbuffer.h"

#include "zexcept.h"
#include "zstring.h"

#include <zlib.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

static const char kSource[] = "../../../wf/wfutil/zbuffer";
static const char kGuardCheck[] = "buff[-1] == buff[buffSize]";

namespace {

const int kSizeFieldBytes = 4;

// The block behind a buffer: one byte before the content and one after the
// capacity, so that both guards always lie inside it. Null when the block
// cannot be had.
unsigned char* TryAllocateData(long long capacity)
{
    if (capacity < 0 || capacity > INT_MAX - 2)
        return nullptr;
    unsigned char* block = static_cast<unsigned char*>(malloc(static_cast<size_t>(capacity) + 2));
    return block ? block + 1 : nullptr;
}

unsigned char* AllocateData(long long capacity)
{
    unsigned char* data = TryAllocateData(capacity);
    if (!data)
        throw std::bad_alloc();
    return data;
}

void FreeData(unsigned char* data)
{
    if (data)
        free(data - 1);
}

// Frees a block that has not been taken over by a buffer.
struct PendingData {
    ~PendingData() { FreeData(data); }
    unsigned char* data;
};

bool GuardsIntact(const unsigned char* data, int size)
{
    return size < 1 || data[-1] == data[size];
}

// The content as text for the guard report: up to the first zero byte, never
// more than the content.
ZString ContentText(const unsigned char* data, int size)
{
    const void* zero = memchr(data, 0, static_cast<size_t>(size));
    const int n = zero ? static_cast<int>(static_cast<const unsigned char*>(zero) - data) : size;
    return ZString(reinterpret_cast<const char*>(data), n);
}

// The expanded size a block announces, or -1 when its size field is cut short
// or the prefix kept before it and the announced bytes would not fit a 32-bit
// size.
int AnnouncedSize(const unsigned char* block, int blockLen, int prefix)
{
    if (prefix < 0 || blockLen < kSizeFieldBytes)
        return -1;
    const unsigned long n = block[0] | block[1] << 8 | block[2] << 16 | static_cast<unsigned long>(block[3]) << 24;
    if (n > static_cast<unsigned long>(INT_MAX - 2 - prefix))
        return -1;
    return static_cast<int>(n);
}

// Once the output area is full, the stream must end right there: with its
// 4-byte Adler-32 trailer, which zlib checks, or, in the form the original
// entries have, with nothing after the deflate data. False for a stream that
// has more output than the size field allows, whose deflate data goes on, or
// whose trailer is wrong.
bool StreamEndsHere(z_stream& stream)
{
    unsigned char excess;
    stream.next_out = &excess;
    stream.avail_out = 1;
    const int status = inflate(&stream, Z_FINISH);
    if (stream.avail_out == 0)
        return false;
    if (status != Z_BUF_ERROR || stream.avail_in != 0)
        return status == Z_STREAM_END;
    // No trailer: zlib confirms that the deflate data is complete when it is
    // handed the checksum of what it produced as the trailer.
    const uLong check = stream.adler;
    unsigned char trailer[4] = {static_cast<unsigned char>(check >> 24), static_cast<unsigned char>(check >> 16),
                                static_cast<unsigned char>(check >> 8), static_cast<unsigned char>(check)};
    stream.next_in = trailer;
    stream.avail_in = sizeof trailer;
    return inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.avail_out == 1;
}

// The outcome of the one inflate call: the bytes produced, or Z_DATA_ERROR for
// a stream that is damaged although its first bytes came out.
int InflateOutcome(z_stream& stream, int status, int dstLen)
{
    const int produced = static_cast<int>(stream.total_out);
    if (status == Z_STREAM_END)
        return produced;
    if (status != Z_OK && status != Z_BUF_ERROR)
        return Z_DATA_ERROR;
    if (produced < dstLen)
        return produced;   // cut short: the count tells
    return StreamEndsHere(stream) ? produced : Z_DATA_ERROR;
}

} // namespace

ZBuffer::ZBuffer(int n) : data(nullptr), size(n), capacity(n)
{
    if (n != 0) {
        data = AllocateData(n);
        memset(data, 0, static_cast<size_t>(n));
    }
    SetGuards();
}

ZBuffer::ZBuffer(const void* src, int len) : data(AllocateData(len)), size(len), capacity(len)
{
    if (len > 0)
        memcpy(data, src, static_cast<size_t>(len));
    SetGuards();
}

ZBuffer::~ZBuffer() noexcept(false)
{
    if (GuardsIntact(data, size)) {
        FreeData(data);
        return;
    }
    const ZString text = ContentText(data, size);
    FreeData(data);
    ZAssertFailedInDestructor(kSource, 178, kGuardCheck, text);
}

unsigned char* ZBuffer::Resize(int newSize, bool keep)
{
    CheckGuards();
    if (capacity < newSize) {
        const long long newCapacity = 2LL * newSize;
        unsigned char* newData = AllocateData(newCapacity);
        const int kept = keep && size > 0 ? size : 0;
        memcpy(newData, data, static_cast<size_t>(kept));
        memset(newData + kept, 0, static_cast<size_t>(newCapacity - kept));
        FreeData(data);
        data = newData;
        capacity = static_cast<int>(newCapacity);
    }
    size = newSize;
    SetGuards();
    return data;
}

unsigned char* ZBuffer::Extend(int n)
{
    const int old = size;
    if (static_cast<long long>(old) + n > INT_MAX)
        throw std::bad_alloc();
    Resize(old + n, true);
    return data + old;
}

void ZBuffer::SetGuards()
{
    if (size < 1)
        return;
    const unsigned char guard = static_cast<unsigned char>(RandomInRange(0, 255));
    data[-1] = guard;
    data[size] = guard;
}

void ZBuffer::CheckGuards() const
{
    if (!GuardsIntact(data, size))
        ZAssertFailed(kSource, 178, kGuardCheck, ContentText(data, size));
}

void ZBuffer::Expand(int offset)
{
    CheckGuards();
    const int remaining = size - offset;
    if (remaining == 0)
        return;
    TakeExpansion(offset, data + offset, remaining);
}

void ZBuffer::ExpandFrom(const void* block, int len)
{
    CheckGuards();
    TakeExpansion(0, static_cast<const unsigned char*>(block), len);
}

// The first prefix bytes of the content, then the block's expanded bytes,
// become the content. A damaged block leaves the buffer as it was.
void ZBuffer::TakeExpansion(int prefix, const unsigned char* block, int blockLen)
{
    // A block whose size field is cut short, or that announces more than a
    // buffer can hold, is as damaged as one that expands to the wrong count.
    const int origExpandedSize = AnnouncedSize(block, blockLen, prefix);
    PendingData expanded = {origExpandedSize < 0 ? nullptr : TryAllocateData(prefix + origExpandedSize)};
    if (!expanded.data)
        ZAssertFailed(kSource, 250, "exp == origExpandedSize", nullptr);

    memcpy(expanded.data, data, static_cast<size_t>(prefix));
    const int exp = ZInflateBlock(block, blockLen, expanded.data + prefix, origExpandedSize);
    ZASSERT(kSource, 250, exp == origExpandedSize);

    FreeData(data);
    data = expanded.data;
    expanded.data = nullptr;
    size = capacity = prefix + origExpandedSize;
    SetGuards();
}

int ZInflateBlock(const unsigned char* src, int srcLen, unsigned char* dst, int dstLen)
{
    if (srcLen < kSizeFieldBytes || dstLen < 0)
        return Z_BUF_ERROR;
    z_stream stream = {};   // default allocator, no opaque pointer
    const int status = inflateInit(&stream);
    if (status != Z_OK)
        return status < 0 ? status : -status;
    stream.next_in = const_cast<Bytef*>(src + kSizeFieldBytes);
    stream.avail_in = static_cast<uInt>(srcLen - kSizeFieldBytes);
    stream.next_out = dst;
    stream.avail_out = static_cast<uInt>(dstLen);
    const int outcome = InflateOutcome(stream, inflate(&stream, Z_FINISH), dstLen);
    inflateEnd(&stream);
    return outcome;
}
