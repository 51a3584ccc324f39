// Files and directories: ZFile with its seven open modes, and the free
// functions that delete, classify, size and create.
#pragma once

#include "zstring.h"

#include <windows.h>

class ZBuffer;
class ZUser;

// Names of the permission classes, compared exactly.
extern const ZString gPermPublic;      // "*PUBLIC*"
extern const ZString gPermProtected;   // "*PROTECTED*"
extern const ZString gPermPrivate;     // "*PRIVATE*"
extern const ZString gPermNull;        // "*NULL*"

class ZFile {
public:
    ZFile();
    virtual ~ZFile() noexcept(false);
    ZFile(const ZFile&) = delete;
    ZFile& operator=(const ZFile&) = delete;

    // mode: R, RE, A, T, C, CT/TC, CA/AC (any case). permissions: a permission
    // class or attribute letters from "CHARS"; null or empty means "A".
    void Open(const char* file, const char* mode, const char* permissions = nullptr,
              ZUser* user = nullptr);
    // As Open, for a file written under another name before it takes its own:
    // path is opened, while the name member and every error speak of file.
    void OpenAs(const char* path, const char* file, const char* mode,
                const char* permissions = nullptr, ZUser* user = nullptr);
    // All count bytes or an exception. A write the system cuts short without
    // an error is followed by one more for the rest, which writes it or says
    // why not (a full disk, as Wine reports one).
    void Write(const void* data, int count);
    // Takes what was written out of the system's cache onto the disk.
    void Flush();
    void Close();

    ZString name;
    bool immedEOF;
    HANDLE f;
};

void ZDeleteFile(const char* path, bool mustExist);
// 0 nothing there (or empty path), 1 file, 2 directory, 3 device or offline file.
int ZFileType(const char* path);
double ZFileSize(const char* path);
ZString ZCurrentDir();
// Creates the one directory path; null permissions mean "*PROTECTED*".
void ZMakeDir(const char* path, const char* permissions, ZUser* user);
void ZWriteBufferToFile(const ZBuffer& buffer, const char* path);
// Writes the buffer as the file path so that path never names part of it, not
// even after a power failure: the bytes go under a partial name in the same
// folder (path followed by ".partial"), are flushed to the disk and closed,
// and only then does the file take the name path, which must be free (callers
// delete the old file first, and remove a leftover partial file with
// ZRemovePartial). On failure the partial file is removed. Errors name path.
void ZWriteBufferWhole(const ZBuffer& buffer, const char* path);
// Removes what a ZWriteBufferWhole of path that was ended (a killed process, a
// power failure) left under the partial name. Quiet when nothing is there, and
// when it cannot go: the next write's open then fails and says so.
void ZRemovePartial(const char* path);
