/* Stand-in for one of CuratoNet's helper programs; TOOL_TITLE names it. It
 * tells the user to start it from the CuratoNet application. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE prev, LPSTR cmdLine, int show)
{
    (void)instance;
    (void)prev;
    (void)cmdLine;
    (void)show;
    MessageBoxA(NULL, TOOL_TITLE " is started from the CuratoNet application.", TOOL_TITLE,
                MB_OK | MB_ICONINFORMATION);
    return 0;
}
