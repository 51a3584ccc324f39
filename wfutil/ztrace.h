// Trace channels: levelled, time-stamped lines to one process-wide sink, and
// the thread registry whose tags mark each line's writer.
#pragma once

#include "zlist.h"
#include "zstring.h"

#include <cstdio>

class ZThreadMutex;
struct _SYSTEMTIME;

class ZTraceChannel {
public:
    // level -1 inherits the level of the most recently built channel (or 0).
    ZTraceChannel(const char* channelName, int channelLevel);
    ~ZTraceChannel();
    ZTraceChannel(const ZTraceChannel&) = delete;
    ZTraceChannel& operator=(const ZTraceChannel&) = delete;

    // Writes the line prefix to gTraceSink and returns it.
    FILE* Header(const char* levelText);

    // fixedTag when set, else the process tag and the calling thread's tag.
    ZString WriterTag() const;
    // The line prefix for a given writer tag and local time:
    // tag|MMDD|HHMMSS.mmm|name|level|
    ZString Prefix(const char* writerTag, const _SYSTEMTIME& now, const char* levelText) const;

    ZTraceChannel* next;
    ZTraceChannel* prev;
    int level;
    ZString name;
    ZString pidTag;
    ZString fixedTag;
};

// -1 for null, else the channel's level.
int TraceLevel(const ZTraceChannel* channel);

// Writes one message of the given level on the channel, when the channel's
// level reaches it: prefix, message, line feed, flush, under gTraceLock if set.
void ZTrace(ZTraceChannel* channel, int level, const char* message);

// The process tag: the id made non-negative, modulo 1000, as three digits.
ZString ZPidTag(int processId);
// A pointer as trace lines show it: "0x" and eight upper-case hex digits.
ZString ZPointerText(const void* p);

extern ZTraceChannel* gTraceChannels;
extern int gTraceChannelCount;
extern ZThreadMutex* gTraceLock;
extern FILE* gTraceSink;   // standard error until the application points it elsewhere

// The root channel (empty name) of the process.
extern ZTraceChannel gRootTraceChannel;
// The channels of the process, user and socket-semaphore modules.
extern ZTraceChannel* const gProcessTraceChannel;
extern ZTraceChannel* const gUserTraceChannel;
extern ZTraceChannel* const gSockSemTraceChannel;

// A thread known to the trace facility: its lines carry its tag.
struct ZThread {
    unsigned long threadId;
    ZString tag;
};

extern ZTemplateList<ZThread*> gThreadRegistry;
extern ZThreadMutex gThreadRegistryLock;

// The registry does not own the threads; a thread is removed before it goes.
void ZRegisterThread(ZThread* thread);
void ZUnregisterThread(const ZThread* thread);

// The calling thread's registered tag, or three blanks.
ZString CurrentThreadTag();
