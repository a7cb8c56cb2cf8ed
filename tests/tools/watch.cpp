#include "tests/tools/watch.h"

#include <wchar.h>

struct WatchState {
    DWORD processId;
    WatchResult *result;
    HWND seen[WATCH_MAX_BOXES];
};

static void ToUtf8(const WCHAR *wide, char *out, int size)
{
    if (WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, size, NULL, NULL) == 0)
        out[0] = '\0';
}

static BOOL CALLBACK CloseBoxOfProcess(HWND window, LPARAM param)
{
    WatchState *state = (WatchState *)param;
    DWORD owner = 0;
    WCHAR className[32];
    GetWindowThreadProcessId(window, &owner);
    if (owner != state->processId || !IsWindowVisible(window) ||
        !GetClassNameW(window, className, 32) || wcscmp(className, L"#32770") != 0)
        return TRUE;
    WatchResult *result = state->result;
    for (int i = 0; i < result->boxCount; i++) {
        if (state->seen[i] == window)
            return TRUE; // already answered, still closing
    }
    if (result->boxCount < WATCH_MAX_BOXES) {
        WatchedBox *box = &result->boxes[result->boxCount];
        WCHAR text[WATCH_TEXT_SIZE];
        text[0] = L'\0';
        GetWindowTextW(window, text, WATCH_TEXT_SIZE);
        ToUtf8(text, box->captionUtf8, WATCH_TEXT_SIZE);
        text[0] = L'\0';
        GetDlgItemTextW(window, 0xFFFF, text, WATCH_TEXT_SIZE); // the box's static text
        ToUtf8(text, box->textUtf8, WATCH_TEXT_SIZE);
        state->seen[result->boxCount++] = window;
    }
    PostMessageW(window, WM_COMMAND, IDOK, 0);
    return TRUE;
}

int RunWatched(const WCHAR *commandLine, WatchResult *result) { return RunWatchedIn(commandLine, NULL, result); }

int RunWatchedIn(const WCHAR *commandLine, const WCHAR *folder, WatchResult *result)
{
    ZeroMemory(result, sizeof(*result));
    WCHAR command[32768];
    if (wcslen(commandLine) >= 32768)
        return 0;
    wcscpy(command, commandLine);

    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, folder, &startup, &process)) {
        result->startError = GetLastError();
        return 0;
    }
    result->started = 1;

    WatchState state;
    ZeroMemory(&state, sizeof(state));
    state.processId = process.dwProcessId;
    state.result = result;
    while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT)
        EnumWindows(CloseBoxOfProcess, (LPARAM)&state);

    GetExitCodeProcess(process.hProcess, &result->exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 1;
}
