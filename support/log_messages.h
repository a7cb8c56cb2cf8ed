// The texts of the diagnostic log's records, as formats for FormatLogText:
// the loader, the start-up hardening and the engine run write them, the
// tests check them. Their exact bytes (two blanks after "failed.") are what
// readers of the log search for, so they are written here once. (The boxes a
// silent run does not show are records too: support/ending.h.)
#ifndef SUPPORT_LOG_MESSAGES_H
#define SUPPORT_LOG_MESSAGES_H

// The return value and the code of a GetSystemDirectoryA that gave no path.
#define LOG_SYSTEM_DIRECTORY_NOT_HAD "GetSystemDirectory failed.  Return Code: %d, ErrorCode: %d"
// A system DLL path that would not fit MAX_PATH.
#define LOG_SYSTEM_PATH_TOO_LONG "_snprintf failed.  ErrorCode: %d"
// A load by full path that failed, with the path.
#define LOG_LOAD_FAILED "LoadLibrary(%s) failed.  ErrorCode: %d"
// The hardening's own records, each with the last error code.
#define LOG_KERNEL_NOT_LOADED "HUX_System_LoadLibrary(kernel32.dll) failed.  ErrorCode: %d"
#define LOG_SET_DLL_DIRECTORY_NOT_FOUND "GetProcAddress(SetDllDirectory) failed.  ErrorCode: %d"
#define LOG_SET_DLL_DIRECTORY_FAILED "SetDllDirectory() failed.  ErrorCode: %d"
// An engine that could not be started, with the program its command names:
// the exit code is then 1, as for an engine that returned 1, and this record
// tells the two apart.
#define LOG_ENGINE_NOT_STARTED "CreateProcess(%s) failed.  ErrorCode: %d"

#endif
