// Test runner for the built executable under Wine. Wine re-quotes the
// arguments it is given, and the shell sees only 8 bits of an exit code, so
// the product's command tail comes verbatim from RUNNER_TAIL, and the result
// is printed in full:
//   box: <caption> | <text>      one line per message box, answered with OK
//   exit: <decimal> 0x<hex>      all 32 bits of the exit code
// RUNNER_ENV=<name>=<value> sets one variable for the program, for those that
// Wine sets itself for every process (USERPROFILE), whatever the shell says.
// RUNNER_CWD=<folder> is the program's current folder (else the runner's);
// the runner changes to it only after its own DLLs are loaded.
// usage: runner.exe <program.exe>
#include <windows.h>

#include <stdio.h>
#include <wchar.h>

#include "tests/tools/watch.h"

static void Print(const char *text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &written, NULL);
}

// The command tail as the product should see it, after its own name.
static int ReadTail(WCHAR *tail, int size)
{
    tail[0] = L'\0';
    DWORD length = GetEnvironmentVariableW(L"RUNNER_TAIL", tail, size);
    return length < (DWORD)size;
}

// Appends `text` to `line` with CR and LF shown as \r and \n, so that every
// box stays on one line of the report.
static void AppendEscaped(char *line, size_t size, const char *text)
{
    size_t used = strlen(line);
    for (; *text != '\0' && used + 3 < size; text++) {
        if (*text == '\r' || *text == '\n') {
            line[used++] = '\\';
            line[used++] = *text == '\r' ? 'r' : 'n';
        } else {
            line[used++] = *text;
        }
    }
    line[used] = '\0';
}

int wmain(int argc, WCHAR **argv)
{
    if (argc != 2) {
        Print("usage: runner.exe <program.exe>\n");
        return 2;
    }
    static WCHAR tail[16384];
    static WCHAR command[32768];
    if (!ReadTail(tail, 16384)) {
        Print("runner: cannot read the command tail\n");
        return 2;
    }
    _snwprintf(command, 32767, L"\"%ls\"%ls%ls", argv[1], tail[0] ? L" " : L"", tail);
    command[32767] = L'\0';

    static WCHAR setting[4096];
    DWORD settingLength = GetEnvironmentVariableW(L"RUNNER_ENV", setting, 4096);
    WCHAR *equals = settingLength > 0 && settingLength < 4096 ? wcschr(setting, L'=') : NULL;
    if (equals != NULL) {
        *equals = L'\0';
        SetEnvironmentVariableW(setting, equals + 1);
    }

    static WCHAR folder[MAX_PATH];
    DWORD folderLength = GetEnvironmentVariableW(L"RUNNER_CWD", folder, MAX_PATH);
    if (folderLength > 0 && (folderLength >= MAX_PATH || !SetCurrentDirectoryW(folder))) {
        Print("runner: cannot change to RUNNER_CWD\n");
        return 2;
    }

    static WatchResult result;
    if (!RunWatched(command, &result)) {
        char line[80];
        _snprintf(line, sizeof(line), "runner: cannot start the program (error %lu)\n", result.startError);
        line[sizeof(line) - 1] = '\0';
        Print(line);
        return 2;
    }
    char line[WATCH_TEXT_SIZE * 2 + 32];
    for (int i = 0; i < result.boxCount; i++) {
        // Every part is bounded one byte short of the line, which keeps room
        // for the line break.
        strcpy(line, "box: ");
        AppendEscaped(line, sizeof(line) - 1, result.boxes[i].captionUtf8);
        AppendEscaped(line, sizeof(line) - 1, " | ");
        AppendEscaped(line, sizeof(line) - 1, result.boxes[i].textUtf8);
        strcat(line, "\n");
        Print(line);
    }
    _snprintf(line, sizeof(line), "exit: %lu 0x%08lX\n", result.exitCode, result.exitCode);
    Print(line);
    return 0;
}
