// Loading of system DLLs by full path, never by bare name, so that nothing
// is picked up from the folder the program was started from.
#ifndef SUPPORT_SYSLOAD_H
#define SUPPORT_SYSLOAD_H

#include <windows.h>

// Loads `name` from the system directory. NULL when the directory cannot be
// had, the joined path would not fit MAX_PATH, or the load fails. Logs nothing.
HMODULE LoadSystemLibrary(const char *name);

#endif
