// The process module: here only its trace channel.
#include "zinit.h"
#include "zos.h"
#include "ztrace.h"

static ZTraceChannel gProcessChannel Z_INIT(Z_INIT_CHANNEL_PROCESS)(kProcessChannelName, -1);
ZTraceChannel* const gProcessTraceChannel = &gProcessChannel;
