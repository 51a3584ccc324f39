// Starting a program with the signed-in user's own rights: through the
// desktop's shell.
//
// The setup runs with administrator rights, and a program it starts itself
// runs with them too: on the product's first run, everything it created would
// belong to the administrators, and Windows would keep the user's own programs
// from dragging files into it. The desktop's shell runs with the user's own
// rights, so the setup asks the shell to start the program: the shell's list
// of its windows (ShellWindows, asked of the shell's own process, never made
// in this one) finds the desktop's window; its browser's active view gives
// the view's automation object, whose application object starts the program
// in the shell's process (IShellDispatch2::ShellExecute).
//
// Windows 9x and NT 4 have no such list, a replaced shell may lack it or a
// later step, and a system library of the way may be missing or lack a
// function (delayload.h): the shell has then not been asked, and the caller
// starts the program itself. Once the shell has been asked, starting the
// program is the shell's: whatever answer comes back, the caller must not
// start it again, since a failure reported across processes does not say
// that the program was not started.
#pragma once

#include "zstring.h"

// Asks the desktop's shell to open file with no arguments, with dir as its
// working directory, shown (SW_SHOW). False when the shell could not be
// asked: nothing has been started then. COM is initialised on the calling
// thread for the while; waiting for the shell's answers runs a message loop,
// so the caller holds off requests to its windows (CRequestGuard).
bool OpenThroughDesktopShell(const ZString& file, const ZString& dir);
