// Construction order of the process-wide objects. Objects in different source
// files would otherwise be built in an order the language leaves open; these
// priorities fix it (lower numbers first; destruction runs in reverse).
#pragma once

#define Z_INIT(priority) __attribute__((init_priority(priority)))

// The setup application's own objects come first (session log, application
// object, destination directory), then the library's.
enum {
    Z_INIT_APP_LOG = 1001,
    Z_INIT_APP_OBJECT = 1002,
    Z_INIT_APP_DESTDIR = 1003,

    Z_INIT_CATALOGUE = 2001,      // error catalogue and pending context record
    Z_INIT_STRINGS = 2002,        // global text list
    Z_INIT_PERMISSIONS = 2003,    // permission-class texts
    Z_INIT_OS = 2004,             // operating-system identity, library name
    Z_INIT_CHANNEL_MUTEX = 2010,  // trace channels, in this order
    Z_INIT_CHANNEL_ROOT = 2011,
    Z_INIT_CHANNEL_PROCESS = 2012,
    Z_INIT_CHANNEL_USER = 2013,
    Z_INIT_CHANNEL_SOCKSEM = 2014,
    Z_INIT_THREAD_REGISTRY = 2020, // thread registry and its lock

    Z_INIT_APP_FONTS = 3001,
};
