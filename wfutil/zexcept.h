// The library's failure model: an error catalogue whose entries are compared by
// identity, four exception classes that carry the failed operation, its code,
// the system's text, a time stamp and context records, and the always-active
// assertion ZASSERT.
#pragma once

#include "zlist.h"
#include "zstring.h"

// One catalogue entry. Entries are fixed objects referred to by address.
struct ZErrorDesc {
    ZErrorDesc(const char* n, const char* m) : name(n), message(m) {}
    ZErrorDesc(const ZErrorDesc&) = delete;
    ZErrorDesc& operator=(const ZErrorDesc&) = delete;

    ZString name;
    ZString message;
};

enum { kErrorCatalogueSize = 26 };
// The catalogue in order of construction.
extern const ZErrorDesc gErrorCatalogue[kErrorCatalogueSize];

namespace ZErr {
extern const ZErrorDesc& Unexpected;
extern const ZErrorDesc& CantLoadDLL;
extern const ZErrorDesc& CantFindFunction;
extern const ZErrorDesc& CantOpenFile;
extern const ZErrorDesc& CantDeleteFile;
extern const ZErrorDesc& CantCreatePipe;
extern const ZErrorDesc& CantLaunchPgm;
extern const ZErrorDesc& CantAccessFile;
extern const ZErrorDesc& Timeout;
extern const ZErrorDesc& HostNotFound;
extern const ZErrorDesc& DiskFull;
extern const ZErrorDesc& CantChangeDir;
extern const ZErrorDesc& CantMakeDir;
extern const ZErrorDesc& CantRemoveDir;
extern const ZErrorDesc& NotImplemented;
extern const ZErrorDesc& LostConnection;
extern const ZErrorDesc& AlreadyExists;
extern const ZErrorDesc& ServMgrFailure;
extern const ZErrorDesc& CantModifyFile;
extern const ZErrorDesc& BadParam;
extern const ZErrorDesc& CantDynAlloc;
extern const ZErrorDesc& CantAppendPDS;
extern const ZErrorDesc& DDNotAllocated;
extern const ZErrorDesc& ODBC;
extern const ZErrorDesc& Comm;
extern const ZErrorDesc& FixMe;
} // namespace ZErr

// One context record: where an exception was raised and a detail text.
struct ZExInfo {
    ZExInfo(const char* f, int l, const char* t) : file(f), line(l), text(t) {}
    ZString Format() const;

    ZString file;
    int line;
    ZString text;
};

struct ZDate {
    ZDate() : year(-1), month(-1), day(-1) {}
    static ZDate Today();
    ZString Format(const char* pattern) const;

    int year;
    int month;
    int day;
};

struct ZTime {
    ZTime() : hour(-1), minute(-1), second(-1) {}
    static ZTime Now();
    ZString Format() const;

    int hour;
    int minute;
    int second;
};

class ZFatalEx {
public:
    ZFatalEx(const ZErrorDesc* errorDesc, const char* op, int code, const char* message,
             const char* file, int line, const char* detail);
    ZFatalEx(const ZFatalEx& other);
    ZFatalEx& operator=(const ZFatalEx&) = delete;
    virtual ~ZFatalEx();

    // The full report: time stamp, error name and message, operation, code,
    // system text and one line per context record, between two rulers.
    ZString Format() const;

    const ZErrorDesc* desc;
    ZString operation;
    int rc;
    ZString text;
    ZTemplateList<ZExInfo*> infos;
    ZDate date;
    ZTime time;
};

class ZRareEx : public ZFatalEx {
public:
    using ZFatalEx::ZFatalEx;
};

class ZCommonEx : public ZRareEx {
public:
    using ZRareEx::ZRareEx;
};

class ZInternalEx : public ZFatalEx {
public:
    using ZFatalEx::ZFatalEx;
};

// When its text is not empty, every new exception carries a copy of it.
extern ZExInfo gPendingExInfo;

ZString SystemErrorText(int code);
ZString LastErrorText();

// The text of a failed assertion, without line feed:
// <file>[<line>] ZASSERT( <expression> );[ // <message>]
ZString ZAssertText(const char* file, int line, const char* expression, const char* message);

// Sends the debugger line, then throws ZInternalEx "Unexpected".
[[noreturn]] void ZAssertFailed(const char* file, int line, const char* expression,
                                const char* message);

// For destructors: throwing while another exception unwinds the stack would end
// the process, so then only the debugger line is written.
bool ZUnwinding();
void ZAssertFailedInDestructor(const char* file, int line, const char* expression,
                               const char* message) noexcept(false);
void ZDebugReport(const ZFatalEx& ex);
template <class Ex>
void ZRaiseFromDestructor(const Ex& ex) noexcept(false)
{
    if (ZUnwinding())
        ZDebugReport(ex);
    else
        throw ex;
}

// Source files and lines are the library's fixed texts, not __FILE__/__LINE__.
#define ZASSERT(file, line, expr) \
    do { if (!(expr)) ZAssertFailed(file, line, #expr, nullptr); } while (0)
#define ZASSERT_MSG(file, line, expr, msg) \
    do { if (!(expr)) ZAssertFailed(file, line, #expr, msg); } while (0)
