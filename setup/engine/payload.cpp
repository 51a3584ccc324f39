#include "payload.h"

#include "zbuffer.h"
#include "zexcept.h"
#include "zfile.h"
#include "zstring.h"

#include <windows.h>

static const char kSource[] = "../../../wf/setup/payload";

bool ZFileExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// The bytes of the entry, which live as long as the program. A name without an
// entry is raised rather than read through a null resource: the caller learns
// which entry is missing instead of the program crashing.
static const void* LockPayloadEntry(const char* name, int* size)
{
    HRSRC found = FindResourceExA(nullptr, "BINFILE", name, 0);
    if (!found) {
        DWORD err = GetLastError();
        throw ZRareEx(&ZErr::CantAccessFile, "FindResourceEx", static_cast<int>(err),
                      SystemErrorText(static_cast<int>(err)), kSource, 23,
                      "No payload entry <" + ZString(name) + ">");
    }
    HGLOBAL loaded = LoadResource(nullptr, found);
    *size = static_cast<int>(SizeofResource(nullptr, found));
    return LockResource(loaded);
}

void ZExtractPayload(const char* name, const char* destination, bool overwrite)
{
    int size = 0;
    const void* entry = LockPayloadEntry(name, &size);
    ZBuffer buffer(0);
    buffer.ExpandFrom(entry, size);
    ZRemovePartial(destination);   // what an ended run left, whether the file is kept or not
    if (overwrite || !ZFileExists(destination)) {
        ZDeleteFile(destination, false);
        ZWriteBufferWhole(buffer, destination);
    }
}
