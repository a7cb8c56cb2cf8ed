// Starts one installer run for the benchmark and measures it from outside:
//   launch.exe <stamps file> [--event-set|--watch-event] <program.exe> [arguments]
// The performance counter is read just before CreateProcess ("launch"), so
// every figure counts from the moment the installer process is created. While
// the program runs its memory is sampled every few milliseconds; Wine fills
// the private bytes from the process's anonymous resident pages and swap, and
// the peak working set from its resident high-water mark. The child inherits
// BENCH_STAMPS, which names the same file, so the stand-in engine appends its
// own stamps there. With --event-set the cabinet event is created already set
// and held, for programs that do not set it themselves (the peer, and the
// stand-in started directly as the trivial program). With --watch-event the
// launcher waits on the event itself and stamps when it is set
// ("watched_event_set"), for runs with the real engine, which stamps nothing.
#include <windows.h>
#include <psapi.h>

#include <stdio.h>
#include <wchar.h>

#include "stamps.h"

static const DWORD kSampleMs = 4;
static const char kEventName[] = "QelPmxCabExtractWaitEvent";

static HANDLE g_watchedEvent;
static LARGE_INTEGER g_watchedSet;

static DWORD WINAPI WatchEvent(LPVOID)
{
    if (WaitForSingleObject(g_watchedEvent, INFINITE) == WAIT_OBJECT_0)
        QueryPerformanceCounter(&g_watchedSet);
    return 0;
}

struct MemoryPeaks {
    SIZE_T privateBytes;
    SIZE_T workingSet;
    int samples;
};

static void Sample(HANDLE process, MemoryPeaks *peaks)
{
    // Wine leaves PrivateUsage at 0 and puts the private bytes (anonymous
    // resident pages and swap) in PagefileUsage, as Windows does too.
    PROCESS_MEMORY_COUNTERS counters;
    ZeroMemory(&counters, sizeof(counters));
    if (!GetProcessMemoryInfo(process, &counters, sizeof(counters)) || counters.WorkingSetSize == 0)
        return; // the process has gone
    if (counters.PagefileUsage > peaks->privateBytes)
        peaks->privateBytes = counters.PagefileUsage;
    SIZE_T workingSet = counters.PeakWorkingSetSize > counters.WorkingSetSize ? counters.PeakWorkingSetSize
                                                                              : counters.WorkingSetSize;
    if (workingSet > peaks->workingSet)
        peaks->workingSet = workingSet;
    peaks->samples++;
}

int wmain(int argc, WCHAR **argv)
{
    int next = 2;
    bool eventSet = argc > 2 && wcscmp(argv[2], L"--event-set") == 0;
    bool watchEvent = argc > 2 && wcscmp(argv[2], L"--watch-event") == 0;
    if (eventSet || watchEvent)
        next++;
    if (argc < next + 1) {
        fputs("usage: launch.exe <stamps file> [--event-set|--watch-event] <program.exe> [arguments]\n", stderr);
        return 2;
    }
    SetEnvironmentVariableW(L"BENCH_STAMPS", argv[1]); // read by AppendToStamps here and in the stand-in
    HANDLE event = eventSet || watchEvent ? CreateEventA(NULL, TRUE, eventSet, kEventName) : NULL;
    g_watchedEvent = event;
    if (watchEvent)
        CloseHandle(CreateThread(NULL, 0, WatchEvent, NULL, 0, NULL));

    static WCHAR command[32768];
    _snwprintf(command, 32767, L"\"%ls\"", argv[next]);
    for (int i = next + 1; i < argc; i++) {
        size_t used = wcslen(command);
        _snwprintf(command + used, 32767 - used, L" %ls", argv[i]);
    }
    command[32767] = L'\0';
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    LARGE_INTEGER frequency, launched, ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&launched);
    if (!CreateProcessW(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        fprintf(stderr, "launch: cannot start %ls (%lu)\n", argv[next], GetLastError());
        return 2;
    }
    MemoryPeaks peaks = {0, 0, 0};
    while (WaitForSingleObject(process.hProcess, kSampleMs) == WAIT_TIMEOUT)
        Sample(process.hProcess, &peaks);
    QueryPerformanceCounter(&ended);
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    if (event != NULL)
        CloseHandle(event);

    char text[512];
    _snprintf(text, sizeof(text) - 1,
              "launch %I64d\nended %I64d\nfrequency %I64d\nexit %lu\npeak_private %I64u\npeak_working_set %I64u\n"
              "memory_samples %d\nwatched_event_set %I64d\n",
              launched.QuadPart, ended.QuadPart, frequency.QuadPart, exitCode, (unsigned long long)peaks.privateBytes,
              (unsigned long long)peaks.workingSet, peaks.samples, g_watchedSet.QuadPart);
    text[sizeof(text) - 1] = '\0';
    AppendToStamps(text);
    return 0;
}
