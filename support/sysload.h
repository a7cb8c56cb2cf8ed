// The system directory and the DLLs in it. System DLLs are loaded by full
// path, never by bare name, so that nothing is picked up from the folder the
// program was started from; and the DLLs they import in turn are looked up
// from the system directory too (LOAD_WITH_ALTERED_SEARCH_PATH).
#ifndef SUPPORT_SYSLOAD_H
#define SUPPORT_SYSLOAD_H

#include <windows.h>

#include <stddef.h>

// "<system directory>\<name>" into `out` (capacity `cap`). 0 with "" in
// `out` when the directory cannot be had or the path would not fit.
int MakeSystemPath(char *out, size_t cap, const char *name);

// Loads `name` from the system directory. NULL when the directory cannot be
// had, the joined path would not fit MAX_PATH, or the load fails. Logs nothing.
HMODULE LoadSystemLibrary(const char *name);

// The same load, with each failure appended to the diagnostic log: the
// system directory not had, the path over 259 characters (nothing is loaded
// then), or the load itself failing (with the full path it tried).
// Its name breaks the program's naming on purpose: the log's records name the
// function ("HUX_System_LoadLibrary(kernel32.dll) failed", ...), and whoever
// reads a log finds the code by that name.
HMODULE HUX_System_LoadLibrary(const char *name);

// Start-up hardening: calls kernel32's SetDllDirectoryA(directory), looked up
// at run time; with "" that takes the current folder out of the DLL search
// order. Where kernel32 has SetDefaultDllDirectories, the default search is
// then narrowed to the system directory, so that the program's own folder
// (a download folder, as likely as not) is not searched either. 1 when
// SetDllDirectoryA was found and succeeded; 0 after logging otherwise.
int HardenDllSearchPath(const char *directory);

// HardenDllSearchPath with the functions taken from the system DLL
// `moduleName` instead of kernel32.dll: the tests' way to reach the failures
// that a real kernel32 never gives. The log's texts still name kernel32.dll.
int HardenDllSearchPathFrom(const char *directory, const char *moduleName);

// A function of a loaded library as the type the caller calls it through;
// NULL when the library does not export it.
template <typename Fn> Fn FindExport(HMODULE module, const char *name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// The version the system reports to this program (GetVersionExA).
BOOL ReadSystemVersion(OSVERSIONINFOA *version);

#endif
