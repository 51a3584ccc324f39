#include "createdirs.h"

#include "zfile.h"
#include "zos.h"

// Without trailing separators the climb would create the directory and then
// ask for it again under its name with the separator, which already exists.
// A drive root such as C:\ keeps its own separator.
static ZString WithoutTrailingSeparators(const ZString& path, char sep)
{
    int n = path.GetLength();
    while (n > 1 && path[n - 1] == sep && !(n == 3 && path[1] == ':'))
        --n;
    return n == path.GetLength() ? path : path.Left(n);
}

void CreateDirsAsNeeded(ZString path, const char* permissionClass, bool stripLast)
{
    const char sep = gOS.Separator();
    if (stripLast) {
        const int p = path.ReverseFind(sep);
        if (p < 1)
            return;
        path = path.Left(p);
    }
    path = WithoutTrailingSeparators(path, sep);
    if (ZFileType(path) == 2)
        return;
    CreateDirsAsNeeded(path, permissionClass, true);
    ZMakeDir(path, permissionClass, nullptr);
}
