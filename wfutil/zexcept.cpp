#include "zexcept.h"

#include "zinit.h"

#include <windows.h>

#include <cstdio>
#include <ctime>
#include <exception>

const ZErrorDesc gErrorCatalogue[kErrorCatalogueSize] Z_INIT(Z_INIT_CATALOGUE) = {
    {"Unexpected", "An unexpected error has occurred"},
    {"CantLoadDLL", "CantLoadDLL"},
    {"CantFindFunction", "CantFindFunction"},
    {"CantOpenFile", "The file cannot be opened"},
    {"CantDeleteFile", "The file cannot be deleted"},
    {"CantCreatePipe", "CantCreatePipe"},
    {"CantLaunchPgm", "CantLaunchPgm"},
    {"CantAccessFile", "The file cannot be accessed"},
    {"Timeout", "Operation timed out"},
    {"HostNotFound", "Network hostname not found"},
    {"DiskFull", "The output disk drive is full"},
    {"CantChangeDir", "Cannot change directory"},
    {"CantMakeDir", "Cannot create new directory"},
    {"CantRemoveDir", "Cannot remove directory"},
    {"NotImplemented", "Feature not available for this system"},
    {"LostConnection", "LostConnection"},
    {"AlreadyExists", "The File or Directory already exists"},
    {"ServMgrFailure", "ServMgrFailure"},
    {"CantModifyFile", "Cannot modify file information"},
    {"BadParam", "Invalid parameter"},
    {"CantDynAlloc", "Dynamic allocation failed"},
    {"CantAppendPDS", "Invalid open mode, cannot append data to PDS member"},
    {"DDNotAllocated", "Invalid ddname, not allocated"},
    {"ODBC", "An unexpected SQL/ODBC error has occurred"},
    {"Comm", "A communications port error has occured"},
    {"FixMe", "Temporary Error - Remove Before Shipping"},
};

namespace ZErr {
const ZErrorDesc& Unexpected = gErrorCatalogue[0];
const ZErrorDesc& CantLoadDLL = gErrorCatalogue[1];
const ZErrorDesc& CantFindFunction = gErrorCatalogue[2];
const ZErrorDesc& CantOpenFile = gErrorCatalogue[3];
const ZErrorDesc& CantDeleteFile = gErrorCatalogue[4];
const ZErrorDesc& CantCreatePipe = gErrorCatalogue[5];
const ZErrorDesc& CantLaunchPgm = gErrorCatalogue[6];
const ZErrorDesc& CantAccessFile = gErrorCatalogue[7];
const ZErrorDesc& Timeout = gErrorCatalogue[8];
const ZErrorDesc& HostNotFound = gErrorCatalogue[9];
const ZErrorDesc& DiskFull = gErrorCatalogue[10];
const ZErrorDesc& CantChangeDir = gErrorCatalogue[11];
const ZErrorDesc& CantMakeDir = gErrorCatalogue[12];
const ZErrorDesc& CantRemoveDir = gErrorCatalogue[13];
const ZErrorDesc& NotImplemented = gErrorCatalogue[14];
const ZErrorDesc& LostConnection = gErrorCatalogue[15];
const ZErrorDesc& AlreadyExists = gErrorCatalogue[16];
const ZErrorDesc& ServMgrFailure = gErrorCatalogue[17];
const ZErrorDesc& CantModifyFile = gErrorCatalogue[18];
const ZErrorDesc& BadParam = gErrorCatalogue[19];
const ZErrorDesc& CantDynAlloc = gErrorCatalogue[20];
const ZErrorDesc& CantAppendPDS = gErrorCatalogue[21];
const ZErrorDesc& DDNotAllocated = gErrorCatalogue[22];
const ZErrorDesc& ODBC = gErrorCatalogue[23];
const ZErrorDesc& Comm = gErrorCatalogue[24];
const ZErrorDesc& FixMe = gErrorCatalogue[25];
} // namespace ZErr

ZExInfo gPendingExInfo Z_INIT(Z_INIT_CATALOGUE)("", -1, "");

ZString ZExInfo::Format() const
{
    if (line > 0)
        return file + "[" + FormatInt(line, "%i") + "] " + text;
    return file + " " + text;
}

ZDate ZDate::Today()
{
    const time_t now = ::time(nullptr);
    const tm* local = localtime(&now);
    ZDate d;
    if (local) {
        d.year = local->tm_year + 1900;
        d.month = local->tm_mon + 1;
        d.day = local->tm_mday;
    }
    return d;
}

ZString ZDate::Format(const char* pattern) const
{
    if (year <= 0)
        return ZString();
    tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    char buffer[99];
    if (strftime(buffer, sizeof buffer, pattern, &t) == 0)
        return ZString();
    return UpperCopy(buffer);
}

ZTime ZTime::Now()
{
    const time_t now = ::time(nullptr);
    const tm* local = localtime(&now);
    ZTime t;
    if (local) {
        t.hour = local->tm_hour;
        t.minute = local->tm_min;
        t.second = local->tm_sec;
    }
    return t;
}

ZString ZTime::Format() const
{
    if (hour == -1 && minute == -1 && second == -1)
        return ZString();
    char buffer[64];
    FormatInto(buffer, sizeof buffer, "%02i:%02i:%02i", hour, minute, second);
    return ZString(buffer);
}

ZFatalEx::ZFatalEx(const ZErrorDesc* errorDesc, const char* op, int code, const char* message,
                   const char* file, int line, const char* detail)
    : desc(errorDesc), operation(op), rc(code), text(message),
      date(ZDate::Today()), time(ZTime::Now())
{
    if (!gPendingExInfo.text.IsEmpty())
        infos.AddHead(new ZExInfo(gPendingExInfo));
    infos.AddHead(new ZExInfo(file, line, detail));
}

ZFatalEx::ZFatalEx(const ZFatalEx& other)
    : desc(other.desc), operation(other.operation), rc(other.rc), text(other.text),
      date(other.date), time(other.time)
{
    for (const ZTemplateNode<ZExInfo*>* n = other.infos.First(); n; n = n->Next())
        infos.AddTail(new ZExInfo(*n->value));
}

ZFatalEx::~ZFatalEx()
{
    while (!infos.IsEmpty()) {
        ZExInfo* info = infos.First()->value;
        infos.RemoveHead();
        delete info;
    }
}

ZString ZFatalEx::Format() const
{
    const ZString stars25('*', 25);
    ZString s = "\n" + stars25 + " " + date.Format("%Y/%m/%d") + " " + time.Format() + " " + stars25;
    s += "\nERROR [" + desc->name + "] " + desc->message;
    s += "\n" + operation + " rc=" + FormatInt(rc, "%i") + ": " + text;
    for (const ZTemplateNode<ZExInfo*>* n = infos.First(); n; n = n->Next())
        s += "\n" + n->value->Format();
    s += "\n" + ZString('*', 71);
    return s;
}

ZString SystemErrorText(int code)
{
    // Inserts are ignored: there is no argument list, and a message with a %1
    // placeholder would otherwise read arguments that do not exist.
    char* buffer = nullptr;
    const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, static_cast<DWORD>(code),
                                   MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
                                   reinterpret_cast<char*>(&buffer), 0, nullptr);
    if (n == 0 || !buffer)
        return ZString("** No Message Description Found **");
    int len = static_cast<int>(n);
    while (len > 0 && (buffer[len - 1] == '\r' || buffer[len - 1] == '\n'))
        --len;
    ZString text(buffer, len);
    LocalFree(buffer);
    return text;
}

ZString LastErrorText()
{
    return SystemErrorText(static_cast<int>(GetLastError()));
}

ZString ZAssertText(const char* file, int line, const char* expression, const char* message)
{
    ZString s = ZString(file) + "[" + FormatInt(line, "%i") + "] ZASSERT( " + expression + " );";
    if (message)
        s += ZString(" // ") + message;
    return s;
}

void ZAssertFailed(const char* file, int line, const char* expression, const char* message)
{
    const ZString text = ZAssertText(file, line, expression, message);
    OutputDebugStringA(text + "\n");
    throw ZInternalEx(&ZErr::Unexpected, "Assertion Failed", -1, "", file, line, "\n" + text);
}

bool ZUnwinding()
{
    return std::uncaught_exceptions() > 0;
}

void ZAssertFailedInDestructor(const char* file, int line, const char* expression,
                               const char* message) noexcept(false)
{
    if (ZUnwinding())
        OutputDebugStringA(ZAssertText(file, line, expression, message) + "\n");
    else
        ZAssertFailed(file, line, expression, message);
}

void ZDebugReport(const ZFatalEx& ex)
{
    OutputDebugStringA(ex.Format() + "\n");
}
