// Where setup.exe's system libraries come from, and what a call into one that
// cannot be had does.
//
// The setup runs with administrator rights, often from a folder that other
// users can write to (a download folder). A library planted there under the
// name of a system library must never be loaded:
// - the libraries loaded at their first call (delayed/*.def: the common
//   controls, COM, the shell, automation strings, the multimedia timer) are
//   loaded by their full path in the system directory on every Windows
//   version (ZLoadLibrary), never by a search;
// - RestrictDllSearch keeps the system's own searches at run time (libraries
//   that system libraries load) to the system directory where the system
//   offers that.
//
// A delayed library is taken whole or not at all: at the first call into it,
// every function the setup takes from it is looked up. When the library cannot
// be loaded, or lacks one of those functions, that call and every later one
// into the library raises ZCommonEx where it is made, with ZDynaLib's texts
// ("CantLoadDLL", or "CantFindFunction" naming the missing function), so the
// stage that needed the library fails as it fails otherwise. Whole, because a
// function whose first call is in a destructor (timeEndPeriod, CoUninitialize)
// could otherwise fail where no exception may leave: the process would end.
#pragma once

#include "zexcept.h"

#include <windows.h>

// Called once, before anything is loaded at run time.
void RestrictDllSearch();

// Tells the user that a system library could not be had, outside the install
// (whose stages show their own boxes): the exception's text in an
// "Error Detected" box owned by owner. The setup takes no requests meanwhile.
void ShowLibraryFailure(HWND owner, const ZFatalEx& ex);
