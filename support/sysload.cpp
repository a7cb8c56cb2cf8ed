#include "support/sysload.h"

#include "support/log_messages.h"
#include "support/log.h"
#include "support/log_logic.h"
#include "support/text.h"

#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

typedef BOOL(WINAPI *SetDllDirectoryAFn)(LPCSTR);
typedef BOOL(WINAPI *SetDefaultDllDirectoriesFn)(DWORD);

enum SystemPathStep { SYSTEM_PATH_FORMED, SYSTEM_DIRECTORY_NOT_HAD, SYSTEM_PATH_TOO_LONG };

// The one rule by which every system DLL path is formed:
// "<system directory>\<name>" into `out` (capacity `cap`), "" on failure.
// `directoryLength` receives what GetSystemDirectoryA returned.
static SystemPathStep FormSystemPath(char *out, size_t cap, const char *name, UINT *directoryLength)
{
    *directoryLength = 0;
    if (cap == 0)
        return SYSTEM_DIRECTORY_NOT_HAD;
    UINT length = GetSystemDirectoryA(out, (UINT)cap);
    *directoryLength = length;
    if (length == 0 || length >= cap) {
        out[0] = '\0';
        return SYSTEM_DIRECTORY_NOT_HAD;
    }
    const char *const parts[] = {"\\", name};
    if (!AppendAllOrEmpty(out, cap, parts))
        return SYSTEM_PATH_TOO_LONG;
    return SYSTEM_PATH_FORMED;
}

// The DLLs that a system DLL imports are then looked up from its own folder,
// the system directory, and not from the program's folder first.
static HMODULE LoadByFullPath(const char *path)
{
    return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

int MakeSystemPath(char *out, size_t cap, const char *name)
{
    UINT directoryLength;
    return FormSystemPath(out, cap, name, &directoryLength) == SYSTEM_PATH_FORMED;
}

HMODULE LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH];
    if (!MakeSystemPath(path, sizeof(path), name))
        return NULL;
    return LoadByFullPath(path);
}

HMODULE HUX_System_LoadLibrary(const char *name)
{
    char message[LOG_MESSAGE_SIZE];
    char path[MAX_PATH];
    UINT directoryLength;
    // Each error code is read before anything else can change it.
    switch (FormSystemPath(path, sizeof(path), name, &directoryLength)) {
    case SYSTEM_DIRECTORY_NOT_HAD: {
        DWORD error = GetLastError();
        FormatLogText(message, sizeof(message), LOG_SYSTEM_DIRECTORY_NOT_HAD, (int)directoryLength, (int)error);
        LogMessage(message);
        return NULL;
    }
    case SYSTEM_PATH_TOO_LONG: {
        DWORD error = GetLastError();
        FormatLogText(message, sizeof(message), LOG_SYSTEM_PATH_TOO_LONG, (int)error);
        LogMessage(message);
        return NULL;
    }
    case SYSTEM_PATH_FORMED:
        break;
    }
    HMODULE module = LoadByFullPath(path);
    if (module == NULL) {
        DWORD error = GetLastError();
        FormatLogText(message, sizeof(message), LOG_LOAD_FAILED, path, (int)error);
        LogMessage(message);
    }
    return module;
}

// Logs `format` with the last error code as it is when this is called.
static void LogWithLastError(const char *format)
{
    DWORD error = GetLastError();
    char message[LOG_MESSAGE_SIZE];
    FormatLogText(message, sizeof(message), format, (int)error);
    LogMessage(message);
}

int HardenDllSearchPath(const char *directory)
{
    return HardenDllSearchPathFrom(directory, "kernel32.dll");
}

int HardenDllSearchPathFrom(const char *directory, const char *moduleName)
{
    HMODULE kernel = HUX_System_LoadLibrary(moduleName);
    if (kernel == NULL) {
        // The code is the one the loader's own record left behind.
        LogWithLastError(LOG_KERNEL_NOT_LOADED);
        return 0;
    }
    SetDllDirectoryAFn setDllDirectory = FindExport<SetDllDirectoryAFn>(kernel, "SetDllDirectoryA");
    if (setDllDirectory == NULL) {
        LogWithLastError(LOG_SET_DLL_DIRECTORY_NOT_FOUND);
        FreeLibrary(kernel);
        return 0;
    }
    if (!setDllDirectory(directory)) {
        LogWithLastError(LOG_SET_DLL_DIRECTORY_FAILED);
        FreeLibrary(kernel);
        return 0;
    }
    // SetDllDirectoryA("") takes the current folder out, not the program's
    // own. Systems without SetDefaultDllDirectories keep their default order;
    // every load of ours still passes a full path with the altered search.
    SetDefaultDllDirectoriesFn setDefaultDirectories =
        FindExport<SetDefaultDllDirectoriesFn>(kernel, "SetDefaultDllDirectories");
    if (setDefaultDirectories != NULL)
        setDefaultDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    FreeLibrary(kernel);
    return 1;
}

BOOL ReadSystemVersion(OSVERSIONINFOA *version)
{
    ZeroMemory(version, sizeof(*version));
    version->dwOSVersionInfoSize = sizeof(*version); // 148
    return GetVersionExA(version);
}
