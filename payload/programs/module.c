/* Stand-in for one of CuratoNet's libraries; MODULE_NAME names it. Its one
 * export reports that name. */
#include <windows.h>

__declspec(dllexport) const char* CuratoModuleName(void)
{
    return MODULE_NAME;
}
