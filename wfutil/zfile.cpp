#include "zfile.h"

#include "zbuffer.h"
#include "zexcept.h"
#include "zinit.h"
#include "zwinutil.h"

#include <winioctl.h>

#include <sys/stat.h>

#include <cstring>

const ZString gPermPublic Z_INIT(Z_INIT_PERMISSIONS) = "*PUBLIC*";
const ZString gPermProtected Z_INIT(Z_INIT_PERMISSIONS) = "*PROTECTED*";
const ZString gPermPrivate Z_INIT(Z_INIT_PERMISSIONS) = "*PRIVATE*";
const ZString gPermNull Z_INIT(Z_INIT_PERMISSIONS) = "*NULL*";

namespace {

const char kZfileFile[] = "../../../wf/wfutil/zfile";

const DWORD kShareRead = FILE_SHARE_READ;
const DWORD kShareReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// One row of the open-mode table. Write modes get security attributes; the
// appending modes move to the end of file, raising with seekLine on failure.
struct OpenMode {
    const char* name;
    const char* alias;
    DWORD access;
    DWORD share;
    DWORD disposition;
    bool writes;
    int seekLine;
};

const OpenMode kOpenModes[] = {
    {"R", nullptr, GENERIC_READ, kShareReadWrite, OPEN_EXISTING, false, 0},
    {"RE", nullptr, GENERIC_READ, kShareReadWrite, OPEN_EXISTING, false, 0},
    {"A", nullptr, GENERIC_WRITE, kShareReadWrite, OPEN_EXISTING, true, 927},
    {"T", nullptr, GENERIC_WRITE, kShareRead, TRUNCATE_EXISTING, true, 0},
    {"C", nullptr, GENERIC_WRITE, kShareRead, CREATE_NEW, true, 0},
    {"CT", "TC", GENERIC_WRITE, kShareRead, CREATE_ALWAYS, true, 0},
    {"CA", "AC", GENERIC_WRITE, kShareReadWrite, OPEN_ALWAYS, true, 958},
};

const OpenMode* FindOpenMode(const char* upperMode)
{
    for (const OpenMode& m : kOpenModes)
        if (strcmp(upperMode, m.name) == 0 || (m.alias && strcmp(upperMode, m.alias) == 0))
            return &m;
    return nullptr;
}

bool IsPermissionClass(const char* permissions)
{
    return strcmp(permissions, gPermPublic) == 0 || strcmp(permissions, gPermProtected) == 0 ||
           strcmp(permissions, gPermPrivate) == 0 || strcmp(permissions, gPermNull) == 0;
}

// The file attribute of one letter of "CHARS" (either case), or 0.
DWORD AttributeOfLetter(char letter)
{
    switch (letter) {
    case 'C': case 'c': return FILE_ATTRIBUTE_COMPRESSED;
    case 'H': case 'h': return FILE_ATTRIBUTE_HIDDEN;
    case 'A': case 'a': return FILE_ATTRIBUTE_ARCHIVE;
    case 'R': case 'r': return FILE_ATTRIBUTE_READONLY;
    case 'S': case 's': return FILE_ATTRIBUTE_SYSTEM;
    }
    return 0;
}

// The file attributes of a permissions argument: a class name adds none to
// normal, anything else must be letters of "CHARS".
DWORD AttributeWord(const char* permissions, const char* file)
{
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (IsPermissionClass(permissions))
        return attributes;
    for (const char* p = permissions; *p; ++p) {
        const DWORD attribute = AttributeOfLetter(*p);
        if (!attribute)
            throw ZCommonEx(&ZErr::BadParam, "ZFile::SetAttributes", 0,
                            "Invalid permissions <" + ZString(permissions) + "> for file <" + file +
                                ">",
                            kZfileFile, 891, "");
        attributes |= attribute;
    }
    return attributes;
}

[[noreturn]] void RaiseSystem(const ZErrorDesc& desc, const char* operation, DWORD code, int line,
                              const char* detail)
{
    const int rc = static_cast<int>(code);
    throw ZRareEx(&desc, operation, rc, SystemErrorText(rc), kZfileFile, line, detail);
}

[[noreturn]] void RaiseCommon(const ZErrorDesc& desc, const char* operation, DWORD code, int line,
                              const char* detail)
{
    const int rc = static_cast<int>(code);
    throw ZCommonEx(&desc, operation, rc, SystemErrorText(rc), kZfileFile, line, detail);
}

// Moves to the end of file. A position whose low part is 0xFFFFFFFF is valid,
// so the last error is cleared first and tells the two apart.
void SeekToEnd(HANDLE f, int line)
{
    LONG high = 0;
    SetLastError(NO_ERROR);
    if (SetFilePointer(f, 0, &high, FILE_END) != INVALID_SET_FILE_POINTER)
        return;
    const DWORD err = GetLastError();
    if (err != NO_ERROR)
        RaiseSystem(ZErr::Unexpected, "SetFilePointer", err, line, "");
}

void SetCompression(HANDLE f, const char* file)
{
    USHORT format = COMPRESSION_FORMAT_DEFAULT;
    DWORD returned = 0;
    if (!DeviceIoControl(f, FSCTL_SET_COMPRESSION, &format, sizeof format, nullptr, 0, &returned,
                         nullptr))
        RaiseSystem(ZErr::CantModifyFile, "DeviceIoControl", GetLastError(), 987, file);
}

// A handle that has not reached its owner yet, closed if it never does.
struct PendingHandle {
    ~PendingHandle()
    {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
    }
    HANDLE Release()
    {
        const HANDLE taken = h;
        h = INVALID_HANDLE_VALUE;
        return taken;
    }
    HANDLE h = INVALID_HANDLE_VALUE;
};

// The CreateFileA of one mode; *err is the system's code when it fails. Write
// modes carry the access list of their permission class for the call's span.
HANDLE CreateModeHandle(const char* file, const OpenMode& mode, DWORD attributes,
                        const char* permissions, ZUser* user, DWORD* err)
{
    if (!mode.writes) {
        HANDLE h = CreateFileA(file, mode.access, mode.share, nullptr, mode.disposition, attributes,
                               nullptr);
        *err = GetLastError();
        return h;
    }
    // The access list's destructor may raise after the file is open: the
    // handle is then closed rather than lost.
    PendingHandle pending;
    {
        ZWinSecAttrs security(permissions, user);
        pending.h = CreateFileA(file, mode.access, mode.share, security.GetAttrs(), mode.disposition,
                                attributes, nullptr);
        *err = GetLastError();
    }
    return pending.Release();
}

// A write or flush that failed. A full disk is named as such. A write cut
// short for which the system gives no code at all is reported as
// ERROR_WRITE_FAULT, "the system cannot write to the specified device": it
// says what happened without claiming a reason the system did not give,
// where the code 0 would read "Success".
[[noreturn]] void RaiseWriteFailure(const char* operation, DWORD code, int diskFullLine, int line,
                                    const ZString& detail)
{
    if (code == ERROR_DISK_FULL)
        RaiseCommon(ZErr::DiskFull, operation, code, diskFullLine, detail);
    RaiseSystem(ZErr::Unexpected, operation, code == NO_ERROR ? ERROR_WRITE_FAULT : code, line,
                detail);
}

// A missing file or path, which a delete that need not find anything ignores.
bool IsMissing(DWORD err)
{
    return err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND;
}

// The name a file is written under until it is whole. No file the library's
// callers install ends so, and it keeps the file's own name in front, so that
// a leftover is seen for what it is.
ZString PartialName(const char* path)
{
    return ZString(path) + ".partial";
}

// The buffer under partial, on the disk and closed; errors name path.
void WriteFlushed(const ZBuffer& buffer, const char* partial, const char* path)
{
    ZFile file;
    file.OpenAs(partial, path, "CT", nullptr, nullptr);
    file.Write(buffer.Data(), buffer.Size());
    file.Flush();
    file.Close();
}

} // namespace

ZFile::ZFile() : immedEOF(false), f(INVALID_HANDLE_VALUE) {}

ZFile::~ZFile() noexcept(false)
{
    if (f == INVALID_HANDLE_VALUE)
        return;
    try {
        Close();
    } catch (const ZRareEx& ex) {
        ZRaiseFromDestructor(ex);
    }
}

void ZFile::Open(const char* file, const char* mode, const char* permissions, ZUser* user)
{
    OpenAs(file, file, mode, permissions, user);
}

void ZFile::OpenAs(const char* path, const char* file, const char* mode, const char* permissions,
                   ZUser* user)
{
    ZASSERT(kZfileFile, 759, file);
    ZASSERT(kZfileFile, 760, mode);
    ZASSERT_MSG(kZfileFile, 761, f == INVALID_HANDLE_VALUE, file);

    name = file;
    const ZString upperMode = UpperCopy(mode);
    if (!permissions || !*permissions)
        permissions = "A";
    immedEOF = false;
    const DWORD attributes = AttributeWord(permissions, file) | FILE_FLAG_SEQUENTIAL_SCAN;

    const OpenMode* openMode = FindOpenMode(upperMode);
    if (!openMode) {
        f = INVALID_HANDLE_VALUE;
        immedEOF = true;
        throw ZCommonEx(&ZErr::BadParam, "ZFile::Open", 0,
                        "Invalid mode <" + ZString(mode) + "> for file <" + file + ">",
                        kZfileFile, 968, "");
    }
    if (strcmp(upperMode, "RE") == 0 && ZFileSize(path) < 0) {
        immedEOF = true;   // a missing file reads as empty
        return;
    }

    DWORD err = 0;
    f = CreateModeHandle(path, *openMode, attributes, permissions, user, &err);
    if (f == INVALID_HANDLE_VALUE)
        RaiseCommon(ZErr::CantOpenFile, "CreateFile", err, 975,
                    "Open file <" + ZString(file) + "> mode <" + mode + "> from <" + ZCurrentDir() +
                        ">");
    if (openMode->seekLine)
        SeekToEnd(f, openMode->seekLine);
    if (attributes & FILE_ATTRIBUTE_COMPRESSED)
        SetCompression(f, file);
}

void ZFile::Write(const void* data, int count)
{
    const DWORD total = static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(f, data, total, &written, nullptr))
        RaiseWriteFailure("WriteFile", GetLastError(), 1121, 1125,
                          "Write of " + FormatInt(count, "%i"));
    if (written == total)
        return;
    // Cut short without an error, as Wine answers a full disk: the call for
    // the rest writes it or gives the reason.
    DWORD rest = 0;
    const BOOL wrote =
        WriteFile(f, static_cast<const char*>(data) + written, total - written, &rest, nullptr);
    if (wrote && rest == total - written)
        return;
    RaiseWriteFailure("WriteFile", wrote ? NO_ERROR : GetLastError(), 1121, 1125,
                      "Write of " + FormatInt(count, "%i"));
}

void ZFile::Close()
{
    ZASSERT(kZfileFile, 1135, f != INVALID_HANDLE_VALUE || immedEOF);
    if (f != INVALID_HANDLE_VALUE) {
        if (!CloseHandle(f))
            RaiseSystem(ZErr::Unexpected, "CloseHandle", GetLastError(), 1148,
                        "Close file <" + name + ">");
        f = INVALID_HANDLE_VALUE;
    }
    name = "";
    immedEOF = false;
}

void ZFile::Flush()
{
    if (!FlushFileBuffers(f))
        RaiseWriteFailure("FlushFileBuffers", GetLastError(), 1160, 1164,
                          "Flush file <" + name + ">");
}

// Where the attributes already say that nothing is there, the delete would
// only say so again: a fresh destination costs one call per file, not two.
void ZDeleteFile(const char* path, bool mustExist)
{
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesA(path, attributes & ~FILE_ATTRIBUTE_READONLY);
    else if (!mustExist && IsMissing(GetLastError()))
        return;
    if (DeleteFileA(path))
        return;
    const DWORD err = GetLastError();
    if (!mustExist && IsMissing(err))
        return;
    RaiseCommon(ZErr::CantDeleteFile, "DeleteFile", err, 164,
                "Tried to delete <" + ZString(path) + ">");
}

int ZFileType(const char* path)
{
    if (strncmp(path, "\\\\.\\", 4) == 0)
        return 3;
    if (!*path)
        return 0;
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD err = GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND)
            return 0;
        RaiseSystem(ZErr::Unexpected, "GetFileAttributes", err, 216, path);
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return 2;
    if (attributes & FILE_ATTRIBUTE_OFFLINE)
        return 3;
    return 1;
}

// The 64-bit form of stat, so that files beyond 2 GB have a size too.
double ZFileSize(const char* path)
{
    struct _stati64 info;
    if (_stati64(path, &info) != 0)
        return -1.0;
    return static_cast<double>(info.st_size);
}

ZString ZCurrentDir()
{
    char buffer[1024];
    const DWORD n = GetCurrentDirectoryA(sizeof buffer, buffer);
    if (n == 0)
        RaiseSystem(ZErr::Unexpected, "GetCurrentDirectory", GetLastError(), 258, "");
    if (n < sizeof buffer)
        return ZString(buffer, static_cast<int>(n));
    // Too long for the buffer: n is the size needed, terminating zero included.
    ZString longer(' ', static_cast<int>(n));
    const DWORD got = GetCurrentDirectoryA(n, longer.GetBuffer(static_cast<int>(n)));
    return longer.Left(got < n ? static_cast<int>(got) : 0);
}

void ZMakeDir(const char* path, const char* permissions, ZUser* user)
{
    if (!permissions)
        permissions = gPermProtected;
    BOOL made;
    DWORD err;
    {
        ZWinSecAttrs security(permissions, user);
        made = CreateDirectoryA(path, security.GetAttrs());
        err = GetLastError();
    }
    if (made)
        return;
    const ZString detail = "New directory <" + ZString(path) + ">";
    if (err == ERROR_ALREADY_EXISTS) {
        const DWORD attributes = GetFileAttributesA(path);
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const int rc = static_cast<int>(GetLastError());
            throw ZFatalEx(&ZErr::Unexpected, "GetFileAttributes", rc, SystemErrorText(rc),
                           kZfileFile, 303, path);
        }
        if (attributes & FILE_ATTRIBUTE_DIRECTORY)
            RaiseCommon(ZErr::AlreadyExists, "CreateDirectory", err, 306, detail);
    }
    RaiseCommon(ZErr::CantMakeDir, "CreateDirectory", err, 311, detail);
}

void ZWriteBufferToFile(const ZBuffer& buffer, const char* path)
{
    ZFile file;
    file.Open(path, "CT", nullptr, nullptr);
    file.Write(buffer.Data(), buffer.Size());
    file.Close();
}

void ZWriteBufferWhole(const ZBuffer& buffer, const char* path)
{
    const ZString partial = PartialName(path);
    try {
        WriteFlushed(buffer, partial, path);
        // The old file is gone: a plain rename, on Windows 9x as on NT.
        if (!MoveFileA(partial, path))
            RaiseCommon(ZErr::CantAccessFile, "MoveFile", GetLastError(), 340,
                        "Rename to <" + ZString(path) + ">");
    } catch (...) {
        DeleteFileA(partial);
        throw;
    }
}

void ZRemovePartial(const char* path)
{
    try {
        ZDeleteFile(PartialName(path), false);
    } catch (const ZCommonEx&) {
        // Left to the write that needs the name: its open names the file.
    }
}
