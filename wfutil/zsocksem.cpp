// The socket-semaphore module: here only its trace channel.
#include "zinit.h"
#include "zos.h"
#include "ztrace.h"

static ZTraceChannel gSockSemChannel Z_INIT(Z_INIT_CHANNEL_SOCKSEM)(kSockSemChannelName, -1);
ZTraceChannel* const gSockSemTraceChannel = &gSockSemChannel;
