// Trace channels: levelled, time-stamped lines to one process-wide sink.
#pragma once

#include "zstring.h"

#include <cstdio>

class ZThreadMutex;

class ZTraceChannel {
public:
    // level -1 inherits the level of the most recently built channel (or 0).
    ZTraceChannel(const char* channelName, int channelLevel);
    ~ZTraceChannel();
    ZTraceChannel(const ZTraceChannel&) = delete;
    ZTraceChannel& operator=(const ZTraceChannel&) = delete;

    // Writes the line prefix to gTraceSink and returns it.
    FILE* Header(const char* levelText);

    ZTraceChannel* next;
    ZTraceChannel* prev;
    int level;
    ZString name;
    ZString pidTag;
    ZString fixedTag;
};

// -1 for null, else the channel's level.
int TraceLevel(const ZTraceChannel* channel);

extern ZTraceChannel* gTraceChannels;
extern int gTraceChannelCount;
extern ZThreadMutex* gTraceLock;
extern FILE* gTraceSink;   // standard error until the application points it elsewhere

// The root channel (empty name) of the process.
extern ZTraceChannel gRootTraceChannel;
