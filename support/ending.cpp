#include "support/ending.h"

#include <string.h>

#include "support/log.h"
#include "support/sysload.h"
#include "support/text.h"

typedef int(WINAPI *MessageBoxAFn)(HWND, LPCSTR, LPCSTR, UINT);
typedef int(WINAPI *MessageBoxWFn)(HWND, LPCWSTR, LPCWSTR, UINT);
typedef int(WINAPI *LoadStringWFn)(HINSTANCE, UINT, LPWSTR, int);
typedef int(WINAPI *LoadStringAFn)(HINSTANCE, UINT, LPSTR, int);

enum { MESSAGE_STRING_SIZE = 1024, MESSAGE_ENGINE_TOO_OLD = 4 };

// user32 for a box, and the DLL a box loads by bare name as it comes up:
// under Wine 8, imm32 (which Wine's user32 brings) loads ole32 by bare name
// when a box is made, and Wine's loader looks for it beside the program first,
// whatever SetDefaultDllDirectories said. A module already loaded is found by
// its name before any search, so ole32 is loaded first, by full path, and held
// with user32. Found by the planting case's run with the engine gate's box
// (a marker ole32.dll beside the program was loaded). On Windows ole32 is a
// known DLL.
struct BoxLibraries {
    HMODULE ole32, user32;
};

static HMODULE HoldBoxLibraries(BoxLibraries *held)
{
    held->ole32 = LoadSystemLibrary("ole32.dll");
    held->user32 = LoadSystemLibrary("user32.dll");
    return held->user32;
}

static void ReleaseBoxLibraries(BoxLibraries *held)
{
    if (held->user32 != NULL)
        FreeLibrary(held->user32);
    if (held->ole32 != NULL)
        FreeLibrary(held->ole32);
}

static BOOL g_noBoxes;

void ShowNoBoxes(void)
{
    g_noBoxes = TRUE;
}

// The box a silent run does not show, as one record of the diagnostic log:
// Message box "<caption>": <text>, the caption quoted so that an empty one
// shows as such.
static void LogBox(const char *caption, const char *text)
{
    size_t capacity = strlen(caption) + strlen(text) + 32;
    char *record = (char *)LocalAlloc(LPTR, capacity);
    if (record == NULL)
        return;
    const char *const parts[] = {"Message box \"", caption, "\": ", text};
    JoinText(record, capacity, parts); // fits: the capacity was counted for it
    LogMessage(record);
    LocalFree(record);
}

// MessageBoxA(NULL, text, caption, type), or its record when no box is shown.
static void ShowMessageBox(const char *text, const char *caption, UINT type)
{
    if (g_noBoxes) {
        LogBox(caption, text);
        return;
    }
    BoxLibraries held;
    HMODULE user32 = HoldBoxLibraries(&held);
    MessageBoxAFn messageBox = user32 != NULL ? FindExport<MessageBoxAFn>(user32, "MessageBoxA") : NULL;
    if (messageBox != NULL)
        messageBox(NULL, text, caption, type);
    ReleaseBoxLibraries(&held);
}

// String `stringId` of `module`, in the ANSI code page as the log takes it,
// as the record of a box with `caption`.
static void LogMessageStringBox(HMODULE user32, HINSTANCE module, UINT stringId, const char *caption)
{
    LoadStringAFn loadString = FindExport<LoadStringAFn>(user32, "LoadStringA");
    char text[MESSAGE_STRING_SIZE];
    if (loadString == NULL || loadString(module, stringId, text, MESSAGE_STRING_SIZE) <= 0)
        text[0] = '\0';
    LogBox(caption, text);
}

// String `stringId` of `module` shown with MessageBoxW and `caption`, or its
// record when no box is shown.
static void ShowMessageStringBox(HINSTANCE module, UINT stringId, const WCHAR *caption, UINT type)
{
    BoxLibraries held;
    HMODULE user32 = HoldBoxLibraries(&held);
    if (user32 == NULL) {
        ReleaseBoxLibraries(&held);
        return;
    }
    if (g_noBoxes) {
        char ansiCaption[MESSAGE_STRING_SIZE];
        if (WideCharToMultiByte(CP_ACP, 0, caption, -1, ansiCaption, sizeof(ansiCaption), NULL, NULL) == 0)
            ansiCaption[0] = '\0';
        LogMessageStringBox(user32, module, stringId, ansiCaption);
        ReleaseBoxLibraries(&held);
        return;
    }
    LoadStringWFn loadString = FindExport<LoadStringWFn>(user32, "LoadStringW");
    MessageBoxWFn messageBox = FindExport<MessageBoxWFn>(user32, "MessageBoxW");
    if (loadString != NULL && messageBox != NULL) {
        WCHAR text[MESSAGE_STRING_SIZE];
        if (loadString(module, stringId, text, MESSAGE_STRING_SIZE) <= 0)
            text[0] = L'\0';
        messageBox(NULL, text, caption, type);
    }
    ReleaseBoxLibraries(&held);
}

void ShowEngineTooOldBox(HINSTANCE module)
{
    ShowMessageStringBox(module, MESSAGE_ENGINE_TOO_OLD, L"", MB_ICONERROR);
}

// The state of the engine start that the process's end waits for.
enum { NO_ENGINE_STARTING, ENGINE_STARTING, PROCESS_ENDING };
static volatile LONG g_engineStart = NO_ENGINE_STARTING;

int BeginEngineStart(void)
{
    return InterlockedCompareExchange(&g_engineStart, ENGINE_STARTING, NO_ENGINE_STARTING) == NO_ENGINE_STARTING;
}

void EndEngineStart(void)
{
    InterlockedCompareExchange(&g_engineStart, NO_ENGINE_STARTING, ENGINE_STARTING);
}

// Waits until an engine being started has been given the cabinet event, and
// keeps any engine from being started after: a package started now would
// find no event once this process has ended, create its own and wait for it
// its full time.
static void HoldOffEngineStarts(void)
{
    while (InterlockedCompareExchange(&g_engineStart, PROCESS_ENDING, NO_ENGINE_STARTING) == ENGINE_STARTING)
        Sleep(1);
}

void FailWithSystemError(const char *label)
{
    DWORD code = GetLastError();
    HoldOffEngineStarts();
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
