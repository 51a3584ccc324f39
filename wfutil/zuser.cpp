#include "zuser.h"

#include "zexcept.h"
#include "zos.h"

namespace {

const char kZuserFile[] = "../../../wf/wfutil/zuser";

} // namespace

ZUser::ZUser() : isWin9x(ZIsWin9x()), token(INVALID_HANDLE_VALUE)
{
    // Assigned here, not in the initialiser list: the name is asked for after
    // the platform test, while the member comes first in the layout.
    // cppcheck-suppress useInitializationList
    name = ZUserName();
    profile = "";
}

ZUser::~ZUser()
{
    if (token != INVALID_HANDLE_VALUE)
        CloseHandle(token);
}

bool ZUser::CanManageServices() const
{
    if (ZIsWin9x())
        return true;
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE);
    if (!manager)
        return false;
    CloseServiceHandle(manager);
    return true;
}

ZImpersonate::ZImpersonate(ZUser* user) : active(false)
{
    // A user without a token stands for the current user: nothing to assume.
    if (!user || user->token == INVALID_HANDLE_VALUE || !ZIsWinNT())
        return;
    if (!ImpersonateLoggedOnUser(user->token)) {
        const DWORD err = GetLastError();
        throw ZRareEx(&ZErr::Unexpected, "ImpersonateLoggedOnUser", static_cast<int>(err),
                      SystemErrorText(static_cast<int>(err)), kZuserFile, 152, "");
    }
    active = true;
}

ZImpersonate::~ZImpersonate()
{
    if (active)
        RevertToSelf();
}
