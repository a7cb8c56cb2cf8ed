#include "installer/engine.h"

#include "installer/engine_logic.h"
#include "support/ending.h"
#include "support/log.h"
#include "support/log_logic.h"
#include "support/log_messages.h"
#include "support/sysload.h"
#include "support/text.h"

typedef BOOL(WINAPI *GetFileVersionInfoAFn)(LPCSTR, DWORD, DWORD, LPVOID);
typedef BOOL(WINAPI *VerQueryValueAFn)(LPCVOID, LPCSTR, LPVOID *, PUINT);

static const char kInstallerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
static const char kMsiexecName[] = "msiexec.exe";

// The fixed file information of `path`, read with version.dll's functions.
// version.dll is loaded by full path at the time of the check so that nothing
// outside the known DLLs is ever loaded from the program's own folder.
static int ReadFixedFileInfo(const char *path, VS_FIXEDFILEINFO *fixed)
{
    int found = 0;
    HMODULE versionDll = LoadSystemLibrary("version.dll");
    if (versionDll == NULL)
        return 0;
    GetFileVersionInfoAFn getInfo = FindExport<GetFileVersionInfoAFn>(versionDll, "GetFileVersionInfoA");
    VerQueryValueAFn queryValue = FindExport<VerQueryValueAFn>(versionDll, "VerQueryValueA");
    BYTE info[1024];
    VS_FIXEDFILEINFO *value = NULL;
    UINT length = 0;
    if (getInfo != NULL && queryValue != NULL && getInfo(path, 0, sizeof(info), info) &&
        queryValue(info, "\\", (LPVOID *)&value, &length) && value != NULL &&
        length >= sizeof(*value)) {
        *fixed = *value;
        found = 1;
    }
    FreeLibrary(versionDll);
    return found;
}

int CheckEngineFileVersion(const char *path, DWORD *out)
{
    VS_FIXEDFILEINFO fixed;
    if (!ReadFixedFileInfo(path, &fixed) ||
        !IsEngineVersionAccepted(fixed.dwFileVersionMS, fixed.dwFileVersionLS))
        return 0;
    if (out != NULL)
        *out = fixed.dwFileVersionMS;
    return 1;
}

int CheckEngineVersion(DWORD *out)
{
    char path[1024];
    return MakeSystemPath(path, sizeof(path), "msi.dll") && CheckEngineFileVersion(path, out);
}

BOOL IsVersion52(void)
{
    OSVERSIONINFOA version;
    return ReadSystemVersion(&version) && version.dwMajorVersion == 5 && version.dwMinorVersion == 2;
}

// The InstallerLocation value into `out`, terminated at the byte count read:
// the registry does not promise a terminator, and a value stored without one
// must not run on into whatever follows.
static int ReadInstallerLocation(char *out, DWORD size)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    DWORD count = size - 1; // keeps a byte for the terminator
    LONG status = RegQueryValueExA(key, "InstallerLocation", NULL, NULL, (BYTE *)out, &count);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || count > size - 1)
        return 0;
    out[count] = '\0';
    return 1;
}

int LocateMsiexec(char *out, DWORD size)
{
    if (size == 0)
        return 0;
    ZeroMemory(out, size);
    if (IsVersion52())
        return MakeSystemPath(out, size, kMsiexecName);
    // The location is used as stored: one that ends in a backslash gives a
    // doubled one before the name, which the system accepts.
    const char *const parts[] = {"\\", kMsiexecName};
    if (ReadInstallerLocation(out, size))
        return AppendAllOrEmpty(out, size, parts);
    out[0] = '\0'; // a failed read may have left bytes behind
    return 0;
}

static HANDLE g_sharedWithEngines;

void ShareWithEveryEngine(HANDLE handle)
{
    g_sharedWithEngines = handle;
}

// A handle of the engine's own to the shared object, which the engine never
// uses: it only keeps the object alive until the engine ends.
static void HandOverSharedHandle(HANDLE engine)
{
    HANDLE theirs;
    if (g_sharedWithEngines != NULL)
        DuplicateHandle(GetCurrentProcess(), g_sharedWithEngines, engine, &theirs, 0, FALSE, DUPLICATE_SAME_ACCESS);
}

static void LogEngineNotStarted(const char *commandLine, DWORD error)
{
    char program[MAX_PATH];
    char message[LOG_MESSAGE_SIZE];
    CommandProgram(program, sizeof(program), commandLine); // "" when it would not fit
    FormatLogText(message, sizeof(message), LOG_ENGINE_NOT_STARTED, program, (int)error);
    LogMessage(message);
}

DWORD RunAndWait(char *commandLine)
{
    DWORD exitCode = EXIT_ENGINE_NOT_STARTED; // also when no code can be read
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    ZeroMemory(&process, sizeof(process));
    if (!BeginEngineStart()) {
        Sleep(INFINITE); // another thread is ending the process, after its box
        return EXIT_ENGINE_NOT_STARTED;
    }
    BOOL started = CreateProcessA(NULL, commandLine, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    DWORD startError = started ? 0 : GetLastError();
    if (started)
        HandOverSharedHandle(process.hProcess);
    EndEngineStart();
    if (!started) {
        LogEngineNotStarted(commandLine, startError);
        return EXIT_ENGINE_NOT_STARTED;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return exitCode;
}
