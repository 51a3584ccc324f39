// ZProgramGroup: the Start-menu programs folder, a group folder in it and
// shortcut files written through the shell link object.
#include "zwinutil.h"

#include "zcomref.h"
#include "zexcept.h"
#include "zfile.h"
#include "zos.h"
#include "zuser.h"

#include <objbase.h>
#include <shlobj.h>

static const char kSource[] = "../../../wf/wfutil/zwinutil";
static const char kShellFolders[] =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

namespace {

// One object per thread: COM must be newly initialised here. A second
// initialisation (S_FALSE) still counts, so it is given back before failing;
// otherwise COM would stay initialised after the first object has gone.
void InitialiseCom()
{
    const HRESULT hr = CoInitialize(NULL);
    if (hr == S_OK)
        return;
    if (SUCCEEDED(hr))
        CoUninitialize();
    ZAssertFailed(kSource, 1019, "CoInitialize(NULL) == S_OK", nullptr);
}

ZString ShellFolder(HKEY root, const char* valueName)
{
    ZRegKey key(root, kShellFolders, true);
    return key.QueryString(valueName);
}

bool MayWriteAllUsersFolder()
{
    ZUser user;
    return user.CanManageServices();
}

void CheckStep(HRESULT hr, const char* step, int line)
{
    if (FAILED(hr))
        throw ZFatalEx(&ZErr::Unexpected, step, static_cast<int>(hr),
                       SystemErrorText(static_cast<int>(hr)), kSource, line, "");
}

// The shell takes the link's file name as UTF-16 of at most MAX_PATH - 1
// characters; a longer path is refused here rather than cut short.
void WidenLinkPath(const ZString& linkPath, WCHAR (&wide)[MAX_PATH])
{
    if (MultiByteToWideChar(CP_ACP, 0, linkPath, -1, wide, MAX_PATH) == 0) {
        const DWORD err = GetLastError();
        throw ZFatalEx(&ZErr::Unexpected, "MultiByteToWideChar", static_cast<int>(err),
                       SystemErrorText(static_cast<int>(err)), kSource, 1121, linkPath);
    }
}

} // namespace

ZProgramGroup::ZProgramGroup(const char* name)
{
    InitialiseCom();
    // The destructor does not run for a constructor that raises.
    try {
        groupName = name;
        if (ZIsWinNT() && MayWriteAllUsersFolder())
            progDir = ShellFolder(HKEY_LOCAL_MACHINE, "Common Programs");
        if (progDir.IsEmpty())
            progDir = ShellFolder(HKEY_CURRENT_USER, "Programs");
        ZASSERT(kSource, 1036, ! progDir.IsEmpty());
    } catch (...) {
        CoUninitialize();
        throw;
    }
}

ZProgramGroup::~ZProgramGroup()
{
    CoUninitialize();
}

void ZProgramGroup::CreateFolder()
{
    const ZString folder = JoinPath(progDir, groupName);
    if (ZFileType(folder) != 0)
        return;
    try {
        ZMakeDir(folder, nullptr, nullptr);
    } catch (const ZCommonEx& ex) {
        if (ex.desc != &ZErr::AlreadyExists)
            throw;
    }
}

void ZProgramGroup::CreateShortcut(const char* name, const char* target, const char* arguments,
                                   const char* workingDirectory, const char* iconPath,
                                   int iconIndex)
{
    ZString workDir(workingDirectory);
    if (!workingDirectory) {
        const ZString targetPath(target);
        const int p = targetPath.ReverseFind('\\');
        ZASSERT(kSource, 1111, p != -1);
        workDir = targetPath.Left(p);
    }
    if (!iconPath)
        iconPath = target;
    const ZString linkPath = JoinPath(JoinPath(progDir, groupName), name) + ".lnk";
    WCHAR wideLinkPath[MAX_PATH];
    WidenLinkPath(linkPath, wideLinkPath);

    ZComRef<IShellLinkA> link;
    CheckStep(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                               link.Out()),
              "CoCreateInstance", 1125);
    ZComRef<IPersistFile> file;
    CheckStep(link.p->QueryInterface(IID_IPersistFile, file.Out()), "QueryInterface", 1128);
    CheckStep(link.p->SetPath(target), "SetPath", 1134);
    CheckStep(link.p->SetWorkingDirectory(workDir), "SetWorkingDirectory", 1135);
    CheckStep(link.p->SetIconLocation(iconPath, iconIndex), "SetIconLocation", 1136);
    CheckStep(link.p->SetDescription(name), "SetDescription", 1137);
    CheckStep(link.p->SetArguments(arguments), "SetArguments", 1138);
    CheckStep(link.p->SetShowCmd(SW_SHOW), "SetShowCmd", 1139);
    CheckStep(file.p->Save(wideLinkPath, TRUE), "Save", 1141);
}
