// The Windows Installer engine: the version gate, where msiexec.exe lives,
// and running it.
// What decides, free of Win32 and tested natively: installer/engine_logic.h.
#ifndef INSTALLER_ENGINE_H
#define INSTALLER_ENGINE_H

#include <windows.h>

// Whether the file at `path` carries a version resource of 2.0.2600.0 or
// later. `out`, when not NULL, receives the most significant version word.
int CheckEngineFileVersion(const char *path, DWORD *out);

// The gate on the system directory's msi.dll: 1 when the engine is new
// enough, 0 when it is older or its version cannot be read.
int CheckEngineVersion(DWORD *out);

// True when the system reports version 5.2. Not cached.
BOOL IsVersion52(void);

// Fills `out` (capacity `size`) with the full path of msiexec.exe: the system
// directory on 5.2, else the registry's InstallerLocation. 0 with "" in `out`
// when the location cannot be read or the path would not fit.
int LocateMsiexec(char *out, DWORD size);

// `handle` (the cabinet event) is handed to every engine RunAndWait starts
// from now on: each gets a handle of its own to it, so that the event lives
// as long as the engine, also when this process ends first (a cabinet that
// could not be written ends it while the package may not have opened the
// event yet). Set by the main thread before any engine starts.
void ShareWithEveryEngine(HANDLE handle);

// Runs `commandLine` (its quoted head names the executable) without handing
// it any inheritable handle of ours, and waits for it. Returns its exit code,
// or EXIT_ENGINE_NOT_STARTED when it could not be started
// (support/ending.h), after a record of the diagnostic log with the program
// and the system's code.
DWORD RunAndWait(char *commandLine);

#endif
