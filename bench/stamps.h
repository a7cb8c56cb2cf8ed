// The one way the bench's Windows programs record a moment: a line appended
// to the file named by BENCH_STAMPS (nothing when it is not set or too long).
#ifndef BENCH_STAMPS_H
#define BENCH_STAMPS_H

#include <windows.h>

#include <string.h>

static void AppendToStamps(const char *text)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("BENCH_STAMPS", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, text, (DWORD)strlen(text), &written, NULL);
    CloseHandle(file);
}

#endif
