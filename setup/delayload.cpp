#include "delayload.h"

#include "dialog.h"
#include "manifest.h"
#include "zdynalib.h"

#include <delayimp.h>

static const char kSource[] = "../../../wf/setup/delayload";

// Run-time DLL searches look in the system directory only. Looked up at run
// time: older systems lack the call and still start. Windows Vista (6.0) is
// left alone, because creating a shell link there fails under the
// restriction; the delayed libraries come from the system directory there too.
void RestrictDllSearch()
{
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof version;
    if (::GetVersionExA(&version) && version.dwMajorVersion == 6 && version.dwMinorVersion == 0)
        return;
    typedef BOOL(WINAPI * SetDefaultDllDirectoriesFn)(DWORD);
    SetDefaultDllDirectoriesFn setDirs = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (setDirs)
        setDirs(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

template <class T>
static const T* FromRva(DWORD rva)
{
    return reinterpret_cast<const T*>(reinterpret_cast<const BYTE*>(::GetModuleHandleA(NULL)) + rva);
}

// The first function the setup takes from the delayed library that lib lacks,
// or null when it has them all. Every delayed function is imported by name.
static const char* FirstMissingFunction(PCImgDelayDescr library, HMODULE lib)
{
    for (const IMAGE_THUNK_DATA* entry = FromRva<IMAGE_THUNK_DATA>(library->rvaINT); entry->u1.AddressOfData;
         ++entry) {
        const char* name = FromRva<IMAGE_IMPORT_BY_NAME>(static_cast<DWORD>(entry->u1.AddressOfData))->Name;
        if (!::GetProcAddress(lib, name))
            return name;
    }
    return NULL;
}

// Before a delayed library is first loaded. A library that cannot be loaded
// from the system directory, or lacks a function the setup takes from it, is
// not used: the program's own image, which exports nothing, stands in for it,
// so that every call into it fails in the failure hook. Answering null would
// have the runtime load the library by a search instead, which may look beside
// setup.exe first.
static FARPROC WINAPI NotifyHook(unsigned reason, PDelayLoadInfo info)
{
    if (reason != dliNotePreLoadLibrary)
        return NULL;
    HMODULE lib = ZLoadLibrary(info->szDll);
    if (lib && !FirstMissingFunction(info->pidd, lib))
        return reinterpret_cast<FARPROC>(lib);
    if (lib)
        ::FreeLibrary(lib);
    return reinterpret_cast<FARPROC>(::GetModuleHandleA(NULL));
}

// The failed call, from the failure hook to the stand-in that raises for it,
// which runs at once.
static struct {
    PCImgDelayDescr library;
    const char* function;   // the function called
    FARPROC* slot;          // the call's import slot
    FARPROC unbound;        // what the slot held before: the way into the runtime
} gFailedCall;

// Runs as the target of the failed call, in place of the function that could
// not be had; it never returns, so the caller's arguments do not matter. It
// gives the import slot back to the runtime, so that a later call fails the
// same way, and raises where the call was made: ZDynaLib asks the library
// again, and raises as it does when loading fails or a function is missing.
static void RaiseForFailedCall()
{
    *gFailedCall.slot = gFailedCall.unbound;
    ZDynaLib lib;
    lib.Load(FromRva<char>(gFailedCall.library->rvaDLLName));
    const char* missing = FirstMissingFunction(gFailedCall.library, lib.hLib);
    lib.FindFunction(missing ? missing : gFailedCall.function);
    // Whole now, yet not at the first call into it: the library is not used.
    ZAssertFailed(kSource, 87, "missing", "the library was not whole at its first call");
}

// A function could not be found in a delayed library, or in the program's own
// image standing in for it. (A library the runtime failed to load is never
// reported: the notify hook always answers with a module.) The answer becomes
// the call's target.
static FARPROC WINAPI FailureHook(unsigned reason, PDelayLoadInfo info)
{
    if (reason != dliFailGetProc)
        return NULL;
    gFailedCall.library = info->pidd;
    gFailedCall.function = info->dlp.szProcName;
    gFailedCall.slot = info->ppfn;
    gFailedCall.unbound = *info->ppfn;
    return reinterpret_cast<FARPROC>(&RaiseForFailedCall);
}

// The C runtime's delay-load helper calls these.
extern "C" {
PfnDliHook __pfnDliNotifyHook2 = NotifyHook;
PfnDliHook __pfnDliFailureHook2 = FailureHook;
}

void ShowLibraryFailure(HWND owner, const ZFatalEx& ex)
{
    CRequestGuard guard;
    ::MessageBoxA(owner, ex.Format(), kErrorCaption, MB_OK | MB_ICONERROR);
}
