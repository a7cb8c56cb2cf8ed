// Loading of system DLLs by full path, never by bare name, so that nothing
// is picked up from the folder the program was started from.
#ifndef SUPPORT_SYSLOAD_H
#define SUPPORT_SYSLOAD_H

#include <windows.h>

// Loads `name` from the system directory. NULL when the directory cannot be
// had, the joined path would not fit MAX_PATH, or the load fails. Logs nothing.
HMODULE LoadSystemLibrary(const char *name);

// A function of a loaded library as the type the caller calls it through;
// NULL when the library does not export it.
template <typename Fn> Fn FindExport(HMODULE module, const char *name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

#endif
