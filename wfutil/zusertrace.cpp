// The trace channel of the user module.
#include "zinit.h"
#include "zos.h"
#include "ztrace.h"

static ZTraceChannel gUserChannel Z_INIT(Z_INIT_CHANNEL_USER)(kUserChannelName, -1);
ZTraceChannel* const gUserTraceChannel = &gUserChannel;
