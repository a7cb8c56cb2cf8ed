// Starts a program and waits for it like a person at the screen would: every
// message box the program shows is read and answered with OK, so a test that
// makes the program fail never hangs on a box nobody closes.
#ifndef TOOLS_WATCH_H
#define TOOLS_WATCH_H

#include <windows.h>

enum { WATCH_MAX_BOXES = 8, WATCH_TEXT_SIZE = 2048 };

struct WatchedBox {
    char captionUtf8[WATCH_TEXT_SIZE];
    char textUtf8[WATCH_TEXT_SIZE];
};

struct WatchResult {
    int started;
    DWORD startError; // GetLastError of a start that failed, else 0
    DWORD exitCode;
    int boxCount;
    WatchedBox boxes[WATCH_MAX_BOXES];
};

// Runs `commandLine` (copied; CreateProcessW may write into it) and fills
// `result`. Returns 0 when the program could not be started, with the
// system's code in result->startError: under Wine a start also fails when the
// new process dies before its first line (for instance while its own DLLs
// are loaded), and the code is all that tells why.
int RunWatched(const WCHAR *commandLine, WatchResult *result);
// The same with `folder` as the program's current folder (NULL: the caller's).
int RunWatchedIn(const WCHAR *commandLine, const WCHAR *folder, WatchResult *result);

#endif
