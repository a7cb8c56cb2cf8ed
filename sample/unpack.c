/* The kit's unpacking tool (a stand-in): names the archive it would unpack. */
#include <windows.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR arguments, int show)
{
    (void)instance;
    (void)previous;
    (void)show;
    DWORD written;
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    WriteFile(out, "unpack: ", 8, &written, NULL);
    WriteFile(out, arguments, lstrlenA(arguments), &written, NULL);
    WriteFile(out, "\r\n", 2, &written, NULL);
    return 0;
}
