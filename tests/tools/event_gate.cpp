// Plays the bootstrap's side of the cabinet event for tests that run the kit
// package without the bootstrap: creates the cabinet event (CABINET_EVENT_NAME)
// unsignalled, runs the command line in GATE_COMMAND, keeps the event unset
// for up to <hold ms> while the command runs, then sets it and waits for the
// end. Prints
//   gate: finished before the event     (the command did not wait for it)
//   gate: running at the event          (still running when the hold ended)
//   exit: <decimal> 0x<hex>
// usage: event_gate.exe <hold ms>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

#include "staging/cabinets.h"

static void Print(const char *text)
{
    DWORD written;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, (DWORD)strlen(text), &written, NULL);
}

int main(int argc, char **argv)
{
    static char command[32768];
    DWORD length = GetEnvironmentVariableA("GATE_COMMAND", command, sizeof(command));
    if (argc != 2 || length == 0 || length >= sizeof(command)) {
        Print("usage: GATE_COMMAND=<command line> event_gate.exe <hold ms>\n");
        return 2;
    }
    DWORD hold = (DWORD)strtoul(argv[1], NULL, 10);
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, CABINET_EVENT_NAME);
    if (event == NULL || GetLastError() == ERROR_ALREADY_EXISTS) {
        Print("gate: the event exists already\n");
        return 2;
    }
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        char line[80];
        snprintf(line, sizeof(line), "gate: the command did not start (error %lu)\n", GetLastError());
        Print(line);
        return 2;
    }
    CloseHandle(process.hThread);
    if (WaitForSingleObject(process.hProcess, hold) == WAIT_OBJECT_0)
        Print("gate: finished before the event\n");
    else
        Print("gate: running at the event\n");
    SetEvent(event);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    char line[64];
    snprintf(line, sizeof(line), "exit: %lu 0x%08lX\n", (unsigned long)code, (unsigned long)code);
    Print(line);
    CloseHandle(event);
    return 0;
}
