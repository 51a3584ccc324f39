// The payload store as it wrote each file before a file took its name only
// when whole: straight under the file's own name, with no partial file, no
// flush and no rename. Built only into setup_direct.exe, the install
// benchmark's program to compare with, from the store's own source with its
// two calls of the whole-file write exchanged for the direct write.
#include "zfile.h"

#define ZRemovePartial(path) static_cast<void>(path)
#define ZWriteBufferWhole ZWriteBufferToFile
#include "payload.cpp"
