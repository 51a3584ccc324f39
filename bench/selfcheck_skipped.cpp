// setup.exe's start-up check of its own file, left out: the start-up
// benchmark's build of setup.exe without it takes this in its place.
#include "selfcheck.h"

bool ProgramFileIsWhole(const char*)
{
    return true;
}
