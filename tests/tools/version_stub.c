/* A DLL that is nothing but a version resource: stands in for msi.dll when the
   engine gate is to see a given engine version. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
