#include "support/ending.h"

#include <string.h>

#include "support/sysload.h"
#include "support/text.h"

typedef int(WINAPI *MessageBoxAFn)(HWND, LPCSTR, LPCSTR, UINT);
typedef int(WINAPI *MessageBoxWFn)(HWND, LPCWSTR, LPCWSTR, UINT);
typedef int(WINAPI *LoadStringWFn)(HINSTANCE, UINT, LPWSTR, int);

enum { MESSAGE_STRING_SIZE = 1024, MESSAGE_ENGINE_TOO_OLD = 4 };

// MessageBoxA(NULL, text, caption, type).
static void ShowMessageBox(const char *text, const char *caption, UINT type)
{
    HMODULE user32 = LoadSystemLibrary("user32.dll");
    if (user32 == NULL)
        return;
    MessageBoxAFn messageBox = FindExport<MessageBoxAFn>(user32, "MessageBoxA");
    if (messageBox != NULL)
        messageBox(NULL, text, caption, type);
    FreeLibrary(user32);
}

// String `stringId` of `module` shown with MessageBoxW and `caption`.
static void ShowMessageStringBox(HINSTANCE module, UINT stringId, const WCHAR *caption, UINT type)
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

void ShowEngineTooOldBox(HINSTANCE module)
{
    ShowMessageStringBox(module, MESSAGE_ENGINE_TOO_OLD, L"", MB_ICONERROR);
}

void FailWithSystemError(const char *label)
{
    DWORD code = GetLastError();
    char *systemText = NULL;
    if (!FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, NULL, code,
                        MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), (LPSTR)&systemText, 0, NULL))
        systemText = NULL; // no text for this code: show the label and the code alone
    const char *shownText = systemText != NULL ? systemText : "";

    size_t capacity = strlen(shownText) + strlen(label) + 40;
    char *message = (char *)LocalAlloc(LPTR, capacity);
    if (message != NULL) {
        char codeText[24] = "";
        AppendDecimal(codeText, sizeof(codeText), (long)(int)code); // what "%d" gives
        const char *const parts[] = {label, " failed with error ", codeText, ": ", shownText};
        JoinText(message, capacity, parts); // fits: the capacity was counted for it
    }
    ShowMessageBox(message != NULL ? message : label, "Error", MB_OK); // no box without user32
    LocalFree(message);
    LocalFree(systemText);
    ExitProcess(code);
}

void FailWithCode(const char *label, DWORD code)
{
    SetLastError(code);
    FailWithSystemError(label);
}
