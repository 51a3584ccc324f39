#include "ztrace.h"

#include "zinit.h"
#include "zmutex.h"

#include <windows.h>

ZTraceChannel* gTraceChannels = nullptr;
int gTraceChannelCount = 0;
ZThreadMutex* gTraceLock = nullptr;
FILE* gTraceSink = nullptr;

// stderr is not a constant, so the sink is set by an initialiser of its own,
// just before the first channel is built.
static struct ZTraceSinkInit {
    ZTraceSinkInit() { gTraceSink = stderr; }
} gTraceSinkInit Z_INIT(Z_INIT_CHANNEL_MUTEX - 1);

ZTraceChannel gRootTraceChannel Z_INIT(Z_INIT_CHANNEL_ROOT)("", -1);

ZTemplateList<ZThread*> gThreadRegistry Z_INIT(Z_INIT_THREAD_REGISTRY);
ZThreadMutex gThreadRegistryLock Z_INIT(Z_INIT_THREAD_REGISTRY)(true);

static const int kNameWidth = 8;

ZString ZPidTag(int processId)
{
    const unsigned magnitude =
        processId < 0 ? 0u - static_cast<unsigned>(processId) : static_cast<unsigned>(processId);
    return FormatInt(static_cast<int>(magnitude % 1000), "%03i");
}

ZString ZPointerText(const void* p)
{
    // Eight hex digits on 32-bit Windows; the whole pointer on 64-bit.
    char text[24];
    FormatInto(text, sizeof text, "0x%0*I64X", static_cast<int>(2 * sizeof p),
               static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(p)));
    return ZString(text);
}

ZTraceChannel::ZTraceChannel(const char* channelName, int channelLevel)
    : next(gTraceChannels), prev(nullptr), level(channelLevel), name(channelName),
      pidTag(ZPidTag(static_cast<int>(GetCurrentProcessId())))
{
    if (level == -1)
        level = gTraceChannels ? gTraceChannels->level : 0;
    if (name.GetLength() < kNameWidth)
        name += ZString(' ', kNameWidth - name.GetLength());
    if (next)
        next->prev = this;
    gTraceChannels = this;
    ++gTraceChannelCount;
}

ZTraceChannel::~ZTraceChannel()
{
    if (--gTraceChannelCount == 0 && gTraceLock) {
        delete gTraceLock;
        gTraceLock = nullptr;
    }
    if (prev)
        prev->next = next;
    if (next)
        next->prev = prev;
    if (gTraceChannels == this)
        gTraceChannels = next;
}

int TraceLevel(const ZTraceChannel* channel)
{
    return channel ? channel->level : -1;
}

ZString ZTraceChannel::WriterTag() const
{
    if (!fixedTag.IsEmpty())
        return fixedTag;
    return pidTag + CurrentThreadTag();
}

ZString ZTraceChannel::Prefix(const char* writerTag, const SYSTEMTIME& now,
                              const char* levelText) const
{
    char stamp[48];
    FormatInto(stamp, sizeof stamp, "%02i%02i|%02i%02i%02i.%03i", now.wMonth, now.wDay, now.wHour,
               now.wMinute, now.wSecond, now.wMilliseconds);
    return ZString(writerTag) + "|" + stamp + "|" + name + "|" + levelText + "|";
}

FILE* ZTraceChannel::Header(const char* levelText)
{
    if (!gTraceChannels)
        return gTraceSink;
    SYSTEMTIME now;
    GetLocalTime(&now);
    fputs(Prefix(WriterTag(), now, levelText), gTraceSink);
    return gTraceSink;
}

void ZTrace(ZTraceChannel* channel, int level, const char* message)
{
    if (!channel || TraceLevel(channel) < level)
        return;
    if (gTraceLock)
        gTraceLock->Lock();
    FILE* sink = channel->Header(FormatInt(level, "%i"));
    fputs(message, sink);
    fputs("\n", sink);
    fflush(sink);
    if (gTraceLock)
        gTraceLock->UnLock();
}

void ZRegisterThread(ZThread* thread)
{
    ZGuard guard(&gThreadRegistryLock, nullptr);
    gThreadRegistry.AddTail(thread);
}

// The list removes only at its head, so the others are taken off and put back.
void ZUnregisterThread(const ZThread* thread)
{
    ZGuard guard(&gThreadRegistryLock, nullptr);
    ZTemplateList<ZThread*> kept;
    while (!gThreadRegistry.IsEmpty()) {
        ZThread* registered = gThreadRegistry.First()->value;
        gThreadRegistry.RemoveHead();
        if (registered != thread)
            kept.AddTail(registered);
    }
    const ZTemplateList<ZThread*>& keptList = kept;
    for (const ZTemplateNode<ZThread*>* n = keptList.First(); n; n = n->Next())
        gThreadRegistry.AddTail(n->value);
}

ZString CurrentThreadTag()
{
    const DWORD self = GetCurrentThreadId();
    ZGuard guard(&gThreadRegistryLock, nullptr);
    const ZTemplateList<ZThread*>& registry = gThreadRegistry;
    for (const ZTemplateNode<ZThread*>* n = registry.First(); n; n = n->Next()) {
        if (n->value->threadId == self)
            return n->value->tag;
    }
    return ZString("   ");
}
