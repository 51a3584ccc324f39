// A user identity that can be impersonated and asked whether it may manage
// services, and the scoped impersonation of such a user.
#pragma once

#include "zstring.h"

#include <windows.h>

class ZUser {
public:
    // The current user.
    ZUser();
    ~ZUser();
    ZUser(const ZUser&) = delete;
    ZUser& operator=(const ZUser&) = delete;

    // The system's test for administrative rights: true on Windows 9x, else
    // whether the service manager lets this user create services.
    bool CanManageServices() const;

    ZString name;
    ZString domain;       // left empty in this system
    bool isWin9x;
    HANDLE token;         // INVALID_HANDLE_VALUE for the current user
    ZString profile;      // set to "" in this system
};

class ZImpersonate {
public:
    // Impersonates user on the calling thread (NT only; null does nothing).
    explicit ZImpersonate(ZUser* user);
    ~ZImpersonate();
    ZImpersonate(const ZImpersonate&) = delete;
    ZImpersonate& operator=(const ZImpersonate&) = delete;

    bool active;
};
