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
    // Not a leak: the block is held through the pointer one byte into it,
    // which FreeData takes back to the block's start.
    // cppcheck-suppress memleak
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

// The two bytes that open a zlib stream (RFC 1950): deflate with a window of
// at most 32 KB, no preset dictionary, and the check bits right.
bool ZlibHeaderGood(const unsigned char* header)
{
    const unsigned cmf = header[0], flg = header[1];
    return (cmf & 0x0F) == Z_DEFLATED && (cmf >> 4) <= 7 && (flg & 0x20) == 0 && (cmf << 8 | flg) % 31 == 0;
}

// What the inflater reads: all of the deflate data at once, then nothing more.
struct InflateInput {
    const unsigned char* next;
    unsigned len;
};

unsigned ReadAll(void* desc, z_const unsigned char** buf)
{
    InflateInput* in = static_cast<InflateInput*>(desc);
    *buf = const_cast<unsigned char*>(in->next);
    const unsigned len = in->len;
    in->len = 0;
    return len;
}

// Where the inflater's output goes, window by window: the output area, which
// it must not overrun.
struct InflateOutput {
    unsigned char* next;
    unsigned left;
};

int WriteOut(void* desc, unsigned char* buf, unsigned len)
{
    InflateOutput* out = static_cast<InflateOutput*>(desc);
    if (len > out->left)
        return 1;   // more output than the size field allows: stop
    memcpy(out->next, buf, len);
    out->next += len;
    out->left -= len;
    return 0;
}

// After the deflate data's final block, the stream ends with its Adler-32
// trailer, or, in the form the original entries have, with nothing at all.
bool TrailerGood(const unsigned char* rest, unsigned restLen, const unsigned char* out, int outLen)
{
    if (restLen == 0)
        return true;
    const uLong check = adler32(adler32(0, nullptr, 0), out, static_cast<uInt>(outLen));
    return restLen >= 4 && (static_cast<uLong>(rest[0]) << 24 | rest[1] << 16 | rest[2] << 8 | rest[3]) == check;
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

// zlib's callback inflater (inflateBack) decodes the deflate data between the
// stream's header and its trailer, both checked here. It writes through a
// 32 KB window and hands each full window out to be copied, which costs one
// copy of the output; in exchange setup.exe carries neither zlib's gzip
// support nor inflate's resumable state, 17 KB less.
int ZInflateBlock(const unsigned char* src, int srcLen, unsigned char* dst, int dstLen)
{
    if (srcLen < kSizeFieldBytes || dstLen < 0)
        return Z_BUF_ERROR;
    const unsigned char* stream = src + kSizeFieldBytes;
    const unsigned streamLen = static_cast<unsigned>(srcLen - kSizeFieldBytes);
    if (streamLen < 2 || !ZlibHeaderGood(stream))
        return Z_DATA_ERROR;

    z_stream inflater = {};   // default allocator, no opaque pointer
    unsigned char window[1u << MAX_WBITS];
    const int init = inflateBackInit(&inflater, MAX_WBITS, window);
    if (init != Z_OK)
        return init < 0 ? init : -init;
    InflateInput in = {stream + 2, streamLen - 2};
    InflateOutput out = {dst, static_cast<unsigned>(dstLen)};
    const int status = inflateBack(&inflater, ReadAll, &in, WriteOut, &out);
    inflateBackEnd(&inflater);

    const int produced = dstLen - static_cast<int>(out.left);
    if (status == Z_STREAM_END && TrailerGood(inflater.next_in, inflater.avail_in, dst, produced))
        return produced;
    const bool cutShort = status == Z_BUF_ERROR && inflater.next_in == nullptr && produced < dstLen;
    return cutShort ? produced : Z_DATA_ERROR;   // cut short, the count tells; else damaged
}
