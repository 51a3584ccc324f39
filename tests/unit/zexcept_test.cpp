#include "zbuffer.h"
#include "zexcept.h"
#include "zlist.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char kListSource[] = "../../../wf/wfutil/zlist";

ZInternalEx FailedListAssertion()
{
    ZListRep rep;
    try {
        rep.RemoveHead();
    } catch (const ZInternalEx& ex) {
        return ex;
    }
    throw std::logic_error("RemoveHead on an empty body did not fail");
}

std::vector<const ZExInfo*> Records(const ZFatalEx& ex)
{
    std::vector<const ZExInfo*> records;
    for (const ZTemplateNode<ZExInfo*>* n = ex.infos.First(); n; n = n->Next())
        records.push_back(n->value);
    return records;
}

// Sets the pending context record for one scope.
class PendingRecord {
public:
    PendingRecord(const char* file, const char* text) : saved(gPendingExInfo)
    {
        gPendingExInfo.file = file;
        gPendingExInfo.text = text;
    }
    ~PendingRecord() { gPendingExInfo = saved; }

private:
    ZExInfo saved;
};

template <class Caught, class Ex>
bool IsCaughtAs(const Ex& ex)
{
    try {
        throw ex;
    } catch (const Caught&) {
        return true;
    } catch (...) {
        return false;
    }
}

std::string Stars(int n)
{
    return std::string(static_cast<size_t>(n), '*');
}

// Runs this test program once more, limited to the test named by filter, and
// collects what it sends to the debugger output. The lines are read the way a
// debug-output monitor reads them, from the system-wide buffer that
// OutputDebugString fills when no debugger is attached: attaching one would
// put Wine's debugger support under test as well, and its 64-bit exception
// dispatch is not sound while a debugger is attached.
class DebugOutputMonitor {
public:
    DebugOutputMonitor()
        : mutex(CreateMutexA(nullptr, FALSE, "DBWinMutex")),
          mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, kBytes,
                                     "DBWIN_BUFFER")),
          bufferReady(CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY")),
          dataReady(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY")),
          view(mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, kBytes) : nullptr)
    {
    }
    ~DebugOutputMonitor()
    {
        if (view)
            UnmapViewOfFile(view);
        for (HANDLE h : {dataReady, bufferReady, mapping, mutex})
            if (h)
                CloseHandle(h);
    }
    bool Ready() const { return mutex && view && bufferReady && dataReady; }

    // Collects the lines of process pid until it has ended and its output is drained.
    std::vector<std::string> Collect(HANDLE process, DWORD pid)
    {
        std::vector<std::string> lines;
        const DWORD start = GetTickCount();
        bool ended = false;
        while (GetTickCount() - start < 60000) {
            if (WaitForSingleObject(dataReady, ended ? 200 : 50) == WAIT_OBJECT_0) {
                const DWORD* sender = static_cast<const DWORD*>(view);
                if (*sender == pid)
                    lines.emplace_back(reinterpret_cast<const char*>(sender + 1));
                SetEvent(bufferReady);
            } else if (ended) {
                break;
            }
            ended = ended || WaitForSingleObject(process, 0) == WAIT_OBJECT_0;
        }
        return lines;
    }

private:
    static const DWORD kBytes = 4096;
    HANDLE mutex, mapping, bufferReady, dataReady;
    void* view;
};

std::vector<std::string> DebugOutputOfChild(const char* filter)
{
    DebugOutputMonitor monitor;
    std::vector<std::string> lines;
    if (!monitor.Ready())
        return lines;
    char exe[MAX_PATH];
    GetModuleFileNameA(nullptr, exe, sizeof exe);
    std::string command = std::string("\"") + exe + "\" --gtest_filter=" + filter;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE nul = CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = si.hStdOutput = si.hStdError = nul;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessA(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi)) {
        lines = monitor.Collect(pi.hProcess, pi.dwProcessId);
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    CloseHandle(nul);
    return lines;
}

} // namespace

TEST(ZExcept, FailedListAssertionFormatsAsSevenLines)
{
    ZInternalEx ex = FailedListAssertion();
    ex.date.year = 2007;
    ex.date.month = 3;
    ex.date.day = 5;
    ex.time.hour = 9;
    ex.time.minute = 5;
    ex.time.second = 0;
    const std::string expected = "\n" + Stars(25) + " 2007/03/05 09:05:00 " + Stars(25) +
                                 "\nERROR [Unexpected] An unexpected error has occurred"
                                 "\nAssertion Failed rc=-1: "
                                 "\n../../../wf/wfutil/zlist[124] "
                                 "\n../../../wf/wfutil/zlist[124] ZASSERT( nodeCount > 0 );"
                                 "\n" + Stars(71);
    EXPECT_EQ(expected, ex.Format().c_str());

    ex.date = ZDate();
    ex.time = ZTime();
    const std::string unset = ex.Format().c_str();
    EXPECT_EQ("\n" + Stars(25) + "   " + Stars(25) + "\n", unset.substr(0, 55));
}

TEST(ZExcept, AssertionCarriesItsSiteAndTheClockOfItsMaking)
{
    const ZDate before = ZDate::Today();
    const ZInternalEx ex = FailedListAssertion();
    EXPECT_EQ(&ZErr::Unexpected, ex.desc);
    EXPECT_STREQ("Assertion Failed", ex.operation);
    EXPECT_EQ(-1, ex.rc);
    EXPECT_STREQ("", ex.text);
    ASSERT_EQ(1u, Records(ex).size());
    EXPECT_STREQ(kListSource, Records(ex)[0]->file);
    EXPECT_EQ(before.year, ex.date.year);
    EXPECT_GE(ex.date.month, 1);
    EXPECT_LE(ex.date.month, 12);
    EXPECT_GE(ex.time.hour, 0);
    EXPECT_LE(ex.time.hour, 23);

    EXPECT_STREQ("../../../wf/wfutil/zbuffer[178] ZASSERT( x ); // abc",
                 ZAssertText("../../../wf/wfutil/zbuffer", 178, "x", "abc"));
    try {
        ZASSERT_MSG("f", 9, 1 + 1 == 3, ZString("why"));
        FAIL();
    } catch (const ZInternalEx& e) {
        EXPECT_STREQ("\nf[9] ZASSERT( 1 + 1 == 3 ); // why", e.infos.First()->value->text);
    }
}

TEST(ZExcept, CatalogueHoldsTwentySixEntriesInOrder)
{
    const char* const expected[kErrorCatalogueSize][2] = {
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
    for (int i = 0; i < kErrorCatalogueSize; ++i) {
        EXPECT_STREQ(expected[i][0], gErrorCatalogue[i].name) << i;
        EXPECT_STREQ(expected[i][1], gErrorCatalogue[i].message) << i;
    }
    const ZErrorDesc* const named[kErrorCatalogueSize] = {
        &ZErr::Unexpected, &ZErr::CantLoadDLL, &ZErr::CantFindFunction, &ZErr::CantOpenFile,
        &ZErr::CantDeleteFile, &ZErr::CantCreatePipe, &ZErr::CantLaunchPgm, &ZErr::CantAccessFile,
        &ZErr::Timeout, &ZErr::HostNotFound, &ZErr::DiskFull, &ZErr::CantChangeDir,
        &ZErr::CantMakeDir, &ZErr::CantRemoveDir, &ZErr::NotImplemented, &ZErr::LostConnection,
        &ZErr::AlreadyExists, &ZErr::ServMgrFailure, &ZErr::CantModifyFile, &ZErr::BadParam,
        &ZErr::CantDynAlloc, &ZErr::CantAppendPDS, &ZErr::DDNotAllocated, &ZErr::ODBC,
        &ZErr::Comm, &ZErr::FixMe,
    };
    for (int i = 0; i < kErrorCatalogueSize; ++i)
        EXPECT_EQ(&gErrorCatalogue[i], named[i]) << i;
}

TEST(ZExcept, EntriesCompareByIdentityAndClassesCatchByTree)
{
    const ZCommonEx a(&ZErr::AlreadyExists, "CreateDirectory", 183, "", "../../../wf/wfutil/zfile", 1, "");
    const ZCommonEx b(&ZErr::AlreadyExists, "CreateDirectory", 183, "", "../../../wf/wfutil/zfile", 2, "");
    const ZErrorDesc lookalike("AlreadyExists", "The File or Directory already exists");
    const ZCommonEx c(&lookalike, "CreateDirectory", 183, "", "../../../wf/wfutil/zfile", 3, "");
    EXPECT_EQ(a.desc, b.desc);
    EXPECT_NE(a.desc, c.desc);

    EXPECT_TRUE(IsCaughtAs<ZRareEx>(a));
    EXPECT_TRUE(IsCaughtAs<ZFatalEx>(a));
    const ZRareEx rare(&ZErr::Unexpected, "RegOpenKeyEx", 5, "", "f", 1, "");
    EXPECT_FALSE(IsCaughtAs<ZCommonEx>(rare));
    EXPECT_TRUE(IsCaughtAs<ZFatalEx>(rare));
    const ZInternalEx internal(&ZErr::Unexpected, "Assertion Failed", -1, "", "f", 1, "");
    EXPECT_FALSE(IsCaughtAs<ZRareEx>(internal));
    EXPECT_TRUE(IsCaughtAs<ZFatalEx>(internal));
}

TEST(ZExcept, PendingRecordAndCopiesOwnTheirRecords)
{
    const ZFatalEx plain(&ZErr::FixMe, "op", 0, "", "f", 5, "d");
    EXPECT_EQ(1u, Records(plain).size());

    PendingRecord pending("../../../wf/setup/seq", "while installing");
    const ZFatalEx ex(&ZErr::FixMe, "op", 0, "", "../../../wf/wfutil/zfile", 42, "detail");
    const std::vector<const ZExInfo*> original = Records(ex);
    ASSERT_EQ(2u, original.size());
    EXPECT_EQ(42, original[0]->line);                       // the raise site first
    EXPECT_STREQ("while installing", original[1]->text);    // the pending record second
    EXPECT_STREQ("../../../wf/setup/seq", original[1]->file);

    {
        const ZFatalEx copy(ex);
        const std::vector<const ZExInfo*> copied = Records(copy);
        ASSERT_EQ(2u, copied.size());
        for (size_t i = 0; i < 2; ++i) {
            EXPECT_NE(original[i], copied[i]);
            EXPECT_STREQ(original[i]->Format(), copied[i]->Format());
        }
        EXPECT_EQ(ex.date.day, copy.date.day);
        EXPECT_EQ(ex.time.second, copy.time.second);
    }
    EXPECT_STREQ("detail", original[0]->text);   // untouched by the copy's end
}

TEST(ZExcept, RecordDateAndTimeFormats)
{
    EXPECT_STREQ("f t", ZExInfo("f", 0, "t").Format());
    EXPECT_STREQ("f t", ZExInfo("f", -1, "t").Format());
    EXPECT_STREQ("f[1] t", ZExInfo("f", 1, "t").Format());
    EXPECT_STREQ("f ", ZExInfo("f", -1, "").Format());

    ZDate d;
    EXPECT_STREQ("", d.Format("%Y/%m/%d"));
    EXPECT_STREQ("", d.Format("fixed"));
    d.year = 2007;
    d.month = 3;
    d.day = 5;
    EXPECT_STREQ("2007/03/05", d.Format("%Y/%m/%d"));
    EXPECT_STREQ("MAR", d.Format("%b"));   // upper-cased
    EXPECT_STREQ("", d.Format(std::string(120, 'x').c_str()));   // beyond the limit

    ZTime t;
    EXPECT_STREQ("", t.Format());
    t.hour = t.minute = t.second = 0;
    EXPECT_STREQ("00:00:00", t.Format());
    t.hour = 9;
    t.minute = 5;
    EXPECT_STREQ("09:05:00", t.Format());
}

TEST(ZExcept, SystemErrorTexts)
{
    const ZString notFound = SystemErrorText(ERROR_FILE_NOT_FOUND);
    const bool known = strcmp(notFound, "The system cannot find the file specified.") == 0 ||
                       strcmp(notFound, "File not found.") == 0;   // Wine's wording
    EXPECT_TRUE(known) << notFound.c_str();
    EXPECT_STREQ("** No Message Description Found **", SystemErrorText(0x2FFFFFF0));

    // A message with an insert: there is no argument list, so the placeholder
    // comes back as text instead of being filled from stray memory.
    const ZString badExe = SystemErrorText(ERROR_BAD_EXE_FORMAT);
    EXPECT_NE(nullptr, strstr(badExe, "%1")) << badExe.c_str();

    SetLastError(ERROR_FILE_NOT_FOUND);
    EXPECT_STREQ(notFound, LastErrorText());
}

// Fails one list assertion and destroys a buffer with a broken guard while
// another exception unwinds. Run on its own, it checks that neither ends the
// process; run by the next test under a debug-output monitor, it shows both
// debug lines.
TEST(ZAssertDebugLine, ListAssertionAndBufferUnwinding)
{
    EXPECT_EQ(124, FailedListAssertion().infos.First()->value->line);
    bool caught = false;
    try {
        ZBuffer buffer("abc", 3);
        buffer.Data()[3] ^= 0xFF;   // the trailing guard
        throw ZCommonEx(&ZErr::CantOpenFile, "CreateFile", 2, "", "f", 1, "");
    } catch (const ZCommonEx& ex) {
        caught = ex.desc == &ZErr::CantOpenFile;
    }
    EXPECT_TRUE(caught);
}

TEST(ZAssertDebugLine, ReachesTheDebugger)
{
    const std::vector<std::string> lines = DebugOutputOfChild("ZAssertDebugLine.ListAssertionAndBufferUnwinding");
    int seen = 0;
    for (const std::string& line : lines) {
        if (line == "../../../wf/wfutil/zlist[124] ZASSERT( nodeCount > 0 );\n")
            seen |= 1;
        if (line == "../../../wf/wfutil/zbuffer[178] ZASSERT( buff[-1] == buff[buffSize] ); // abc\n")
            seen |= 2;
    }
    EXPECT_EQ(3, seen) << lines.size() << " debug lines";
}
