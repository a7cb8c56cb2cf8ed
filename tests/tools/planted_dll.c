/* A DLL planted beside a program under the name of a system DLL. Loading it
   leaves "<its own path>.loaded" behind, and it refuses to attach, so that a
   process that picks it up fails the load instead of running on into it. */
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason != DLL_PROCESS_ATTACH)
        return TRUE;
    char marker[MAX_PATH + 8];
    DWORD length = GetModuleFileNameA(self, marker, MAX_PATH);
    if (length != 0 && length < MAX_PATH) {
        lstrcatA(marker, ".loaded");
        HANDLE file = CreateFileA(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
    }
    return FALSE;
}
