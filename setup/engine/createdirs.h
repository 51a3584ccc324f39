// Making a directory path exist, creating every missing directory on it from
// the outermost one inwards.
#pragma once

#include "zstring.h"

// stripLast true makes the parent of path exist instead of path itself.
// Directories created before a failure stay in place.
void CreateDirsAsNeeded(ZString path, const char* permissionClass, bool stripLast);
