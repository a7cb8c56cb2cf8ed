// Recording stand-in for msiexec.exe, found by the product through the
// InstallerLocation registry value. Each run appends its exact command line
// and a line break to the file named by FAKE_MSIEXEC_LOG (default: calls.txt
// beside this program), then exits with FAKE_MSIEXEC_EXIT (any 32-bit value,
// decimal or 0x hex; default 0).
// With FAKE_MSIEXEC_PASSTHROUGH set it runs the system's msiexec.exe with the
// same arguments instead and exits with its code: a recorder in front of the
// real engine.
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include "installer/engine.h"

static void AppendToLog(const char *commandLine)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("FAKE_MSIEXEC_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        length = GetModuleFileNameA(NULL, path, MAX_PATH);
        char *slash = strrchr(path, '\\');
        if (length == 0 || length >= MAX_PATH || slash == NULL || slash + 10 >= path + MAX_PATH)
            return;
        strcpy(slash + 1, "calls.txt");
    }
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, commandLine, (DWORD)strlen(commandLine), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
    CloseHandle(file);
}

// The command line after the program's own (possibly quoted) name.
static const char *ArgumentsOf(const char *commandLine)
{
    const char *p = commandLine;
    if (*p == '"') {
        p = strchr(p + 1, '"');
        return p != NULL ? p + 1 : "";
    }
    while (*p != '\0' && *p != ' ' && *p != '\t')
        p++;
    return p;
}

static DWORD RunSystemMsiexec(const char *arguments)
{
    static char command[40000];
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || strlen(arguments) > sizeof(command) - MAX_PATH - 20)
        return 1;
    strcpy(command, "\"");
    strcat(command, directory);
    strcat(command, "\\msiexec.exe\"");
    strcat(command, arguments);
    return RunAndWait(command);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const char *commandLine = GetCommandLineA();
    AppendToLog(commandLine);
    char value[64];
    if (GetEnvironmentVariableA("FAKE_MSIEXEC_PASSTHROUGH", value, sizeof(value)) != 0)
        ExitProcess(RunSystemMsiexec(ArgumentsOf(commandLine)));
    DWORD length = GetEnvironmentVariableA("FAKE_MSIEXEC_EXIT", value, sizeof(value));
    ExitProcess(length != 0 && length < sizeof(value) ? (DWORD)strtoul(value, NULL, 0) : 0);
}
