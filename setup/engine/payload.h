// The payload store: the product files that travel inside setup.exe as
// "BINFILE" resources, one compressed block per file, named by the file name.
#pragma once

// True when something (a file or a directory) exists at path.
bool ZFileExists(const char* path);

// Expands the entry called name (compared without regard to case) and writes it
// to destination. With overwrite false an existing file or directory is kept.
// The entry is expanded first in every case, so a damaged entry always fails.
// The file takes its name only when it is whole (ZWriteBufferWhole): a failed
// or ended write never leaves part of it under that name, where it would be
// kept. A partial file that an ended run left is removed.
void ZExtractPayload(const char* name, const char* destination, bool overwrite);
