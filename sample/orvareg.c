/* The kit's registration library (a stand-in): self-registration entry points
 * that register nothing. */
#include <windows.h>

__declspec(dllexport) HRESULT __stdcall DllRegisterServer(void) { return S_OK; }
__declspec(dllexport) HRESULT __stdcall DllUnregisterServer(void) { return S_OK; }

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
