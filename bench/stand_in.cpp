// The benchmark's stand-in for msiexec.exe, found by the installer through
// InstallerLocation and run by the peer installer at the same path. It plays
// the package's part of the cabinet handshake and notes the times: on entry
// it reads the performance counter ("engine_start"), opens or creates the
// cabinet event and waits for it as the package does (at most 15 minutes),
// and reads the counter again the moment the wait returns ("event_set").
// The stamps, the wait's outcome and the command line are appended to the
// file named by BENCH_STAMPS; the exit code is 0.
// Started directly by launch.exe with the event already set, it is also the
// trivial program whose start is the floor of every start-up figure.
#include <windows.h>

#include <stdio.h>
#include <string.h>

#include "stamps.h"

static const DWORD kPackageWaitMs = 15 * 60 * 1000;

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    LARGE_INTEGER started, set;
    QueryPerformanceCounter(&started);
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, "QelPmxCabExtractWaitEvent");
    DWORD wait = event != NULL ? WaitForSingleObject(event, kPackageWaitMs) : WAIT_FAILED;
    QueryPerformanceCounter(&set);

    static char text[2048];
    _snprintf(text, sizeof(text) - 1, "engine_start %I64d\nevent_set %I64d\nevent_wait %s\ncommand %.1900s\n",
              started.QuadPart, set.QuadPart, wait == WAIT_OBJECT_0 ? "set" : "not set", GetCommandLineA());
    AppendToStamps(text);
    if (event != NULL)
        CloseHandle(event);
    return 0;
}
