/* Stand-in for the web-browser control library. The setup writes it and calls
 * its DllRegisterServer; registering has nothing to do here. */
#include <windows.h>

HRESULT WINAPI DllRegisterServer(void)
{
    return S_OK;
}
