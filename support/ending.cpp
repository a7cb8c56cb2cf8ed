#include "support/ending.h"

#include "support/sysload.h"

typedef int(WINAPI *MessageBoxAFn)(HWND, LPCSTR, LPCSTR, UINT);
typedef int(WINAPI *MessageBoxWFn)(HWND, LPCWSTR, LPCWSTR, UINT);
typedef int(WINAPI *LoadStringWFn)(HINSTANCE, UINT, LPWSTR, int);

enum { MESSAGE_STRING_SIZE = 1024 };

void ShowMessageBox(const char *text, const char *caption, UINT type)
{
    HMODULE user32 = LoadSystemLibrary("user32.dll");
    if (user32 == NULL)
        return;
    MessageBoxAFn messageBox = FindExport<MessageBoxAFn>(user32, "MessageBoxA");
    if (messageBox != NULL)
        messageBox(NULL, text, caption, type);
    FreeLibrary(user32);
}

void ShowMessageStringBox(HINSTANCE module, UINT stringId, const WCHAR *caption, UINT type)
{
    HMODULE user32 = LoadSystemLibrary("user32.dll");
    if (user32 == NULL)
        return;
    LoadStringWFn loadString = FindExport<LoadStringWFn>(user32, "LoadStringW");
    MessageBoxWFn messageBox = FindExport<MessageBoxWFn>(user32, "MessageBoxW");
    if (loadString != NULL && messageBox != NULL) {
        WCHAR text[MESSAGE_STRING_SIZE];
        if (loadString(module, stringId, text, MESSAGE_STRING_SIZE) <= 0)
            text[0] = L'\0';
        messageBox(NULL, text, caption, type);
    }
    FreeLibrary(user32);
}
