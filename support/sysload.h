// The system directory and the DLLs in it. System DLLs are loaded by full
// path, never by bare name, so that nothing is picked up from the folder the
// program was started from.
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

// A function of a loaded library as the type the caller calls it through;
// NULL when the library does not export it.
template <typename Fn> Fn FindExport(HMODULE module, const char *name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

// The version the system reports to this program (GetVersionExA).
BOOL ReadSystemVersion(OSVERSIONINFOA *version);

#endif
