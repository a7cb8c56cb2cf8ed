#include "support/log.h"

#include <windows.h>

#include <string.h>
#include <time.h>

#include "support/log_logic.h"

// The log's path into `path` (LOG_PATH_SIZE bytes). TMPDIR gets a backslash
// whether or not it ends in one; the temporary folder already ends in one. A
// TMPDIR that does not fit the folder buffer drops the record: the folder it
// names is not known, and the temporary folder is not what was asked for.
static int FindLogPath(char *path)
{
    char folder[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("TMPDIR", folder, MAX_PATH);
    if (length != 0)
        return length < MAX_PATH && JoinLogPath(path, LOG_PATH_SIZE, folder, "\\");
    length = GetTempPathA(MAX_PATH, folder);
    return length != 0 && length < MAX_PATH && JoinLogPath(path, LOG_PATH_SIZE, folder, "");
}

void LogMessage(const char *message)
{
    // The time is taken before the file is opened.
    char prefix[LOG_PREFIX_SIZE];
    time_t now = time(NULL);
    size_t prefixLength = FormatRecordPrefix(prefix, sizeof(prefix), localtime(&now));

    char path[LOG_PATH_SIZE];
    if (!FindLogPath(path))
        return;
    // Write sharing only: a reader holding the file makes this record drop.
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    SetFilePointer(file, 0, NULL, FILE_END);
    DWORD written;
    WriteFile(file, prefix, (DWORD)prefixLength, &written, NULL);
    WriteFile(file, message, (DWORD)strlen(message), &written, NULL);
    CloseHandle(file);
}
