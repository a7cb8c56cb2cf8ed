/* Custom actions of the sample kit package and of its runtime package, one
 * 64-bit DLL stored in the Binary table of both. Each entry point is named in
 * the CustomAction table and returns an installer status.
 *
 * The kit folder is derived here with this library's own code, by the rules
 * the bootstrap stages by: the cleanup checks that contract from the package's
 * side and must not share code with the bootstrap. */
#include <windows.h>
#include <msi.h>
#include <msiquery.h>

#include <string.h>

#define KIT_EVENT "QelPmxCabExtractWaitEvent"
#define KIT_WAIT_MS 900000 /* the bootstrap writes about 72 MB first */
#define KIT_CHAIN "Qel", "Orva", "pmx4.2.0_17_x64"
#define VENDOR_KEY "Software\\Tovimark"

/* The value of a numeric property, or `otherwise` when it is empty. */
static DWORD NumberProperty(MSIHANDLE install, const char *name, DWORD otherwise)
{
    char text[32] = "";
    DWORD length = sizeof(text);
    if (MsiGetPropertyA(install, name, text, &length) != ERROR_SUCCESS || text[0] == '\0')
        return otherwise;
    DWORD value = 0;
    for (const char *p = text; *p >= '0' && *p <= '9'; p++)
        value = value * 10 + (DWORD)(*p - '0');
    return value;
}

/* Tests keep a record of the wait in the file named by ORVA_WAIT_RECORD:
 * whether the event was there already (opened) or not (created), whether it
 * was set before the wait ended, and how long the wait took. */
static void RecordWait(MSIHANDLE install, int opened, DWORD result, DWORD waitedMs)
{
    char path[MAX_PATH] = "";
    DWORD length = sizeof(path);
    if (MsiGetPropertyA(install, "ORVA_WAIT_RECORD", path, &length) != ERROR_SUCCESS || path[0] == '\0')
        return;
    char record[160];
    wsprintfA(record, "event: %s\r\nwait: %s\r\nwaited ms: %lu\r\n", opened ? "opened" : "created",
              result == WAIT_OBJECT_0 ? "set" : result == WAIT_TIMEOUT ? "timed out" : "failed", waitedMs);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, record, (DWORD)strlen(record), &written, NULL);
    CloseHandle(file);
}

/* The package waits here, as its first action, until the bootstrap has written
 * every cabinet beside it; after 15 minutes (or ORVA_WAIT_MS, which tests set
 * shorter) it goes on and lets the engine report whatever is missing. Opens
 * the bootstrap's event, or creates it when the package runs before the
 * bootstrap has. */
__declspec(dllexport) UINT __stdcall WaitForCabinets(MSIHANDLE install)
{
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, KIT_EVENT);
    if (event != NULL) {
        int opened = GetLastError() == ERROR_ALREADY_EXISTS;
        DWORD started = GetTickCount();
        DWORD result = WaitForSingleObject(event, NumberProperty(install, "ORVA_WAIT_MS", KIT_WAIT_MS));
        RecordWait(install, opened, result, GetTickCount() - started);
        CloseHandle(event);
    }
    return ERROR_SUCCESS;
}

/* The runtime package found its product present: leave the user's answer for
 * the bootstrap as REG_SZ of the bare letters, without a terminating NUL (the
 * bootstrap reads it that way). The answer is the property HUXANSWER. */
__declspec(dllexport) UINT __stdcall RecordInstallStatus(MSIHANDLE install)
{
    char answer[32] = "";
    DWORD length = sizeof(answer);
    if (MsiGetPropertyA(install, "HUXANSWER", answer, &length) != ERROR_SUCCESS)
        answer[0] = '\0';
    const char *status = strcmp(answer, "reinstall") == 0 ? "reinstall" : "exists";

    /* The byte after the letters must not be NUL, or the registry stores one. */
    char data[16];
    memset(data, 'x', sizeof(data));
    DWORD count = (DWORD)strlen(status);
    memcpy(data, status, count);

    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, VENDOR_KEY, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) ==
        ERROR_SUCCESS) {
        RegSetValueExA(key, "InstallStatus", 0, REG_SZ, (const BYTE *)data, count);
        RegCloseKey(key);
    }
    return ERROR_SUCCESS;
}

/* Appends "\" and `name` to `path` (capacity MAX_PATH); 0 when it does not fit. */
static int AppendPart(char *path, const char *name)
{
    size_t used = strlen(path), add = strlen(name);
    if (used + 1 + add >= MAX_PATH)
        return 0;
    if (used == 0 || path[used - 1] != '\\')
        path[used++] = '\\';
    memcpy(path + used, name, add + 1);
    return 1;
}

static HMODULE LoadFromSystem(const char *name)
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !AppendPart(path, name))
        return NULL;
    return LoadLibraryExA(path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
}

static int IsMajorVersion6(void)
{
    OSVERSIONINFOA version;
    memset(&version, 0, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&version))
        return 0;
#pragma GCC diagnostic pop
    return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion == 6;
}

typedef HRESULT(WINAPI *FolderPathEx)(const GUID *, DWORD, HANDLE, LPWSTR, UINT);
typedef HRESULT(WINAPI *FolderPathW)(HWND, int, HANDLE, DWORD, LPWSTR);
typedef BOOL(WINAPI *SpecialFolderPathW)(HWND, LPWSTR, int, BOOL);

static const GUID LocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};

/* `wide` in the ANSI code page, each character by its own spelling there; 0
 * when one has none or it does not fit. */
static int ToAnsiExactly(const WCHAR *wide, char *out)
{
    UINT codePage = GetACP();
    int anything = codePage == CP_UTF8 || codePage == CP_UTF7;
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, anything ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, out, MAX_PATH, NULL,
                            anything ? NULL : &usedDefault) == 0 || usedDefault) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

/* The bootstrap stages under the ANSI spelling of the folder, or of its short
 * form where a name has no spelling; the same here, or nothing. */
static void SpellFolder(const WCHAR *wide, char *out)
{
    WCHAR shortForm[MAX_PATH];
    if (ToAnsiExactly(wide, out))
        return;
    DWORD length = GetShortPathNameW(wide, shortForm, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || !ToAnsiExactly(shortForm, out))
        out[0] = '\0';
}

/* The base the bootstrap stages under: LocalLow on 6.x, else the roaming
 * application data folder (shfolder.dll, then shell32), else the profile. */
static void FindUserDataFolder(char *out)
{
    WCHAR wide[MAX_PATH];
    out[0] = '\0';
    if (IsMajorVersion6()) {
        HMODULE shell = LoadFromSystem("shell32.dll");
        FolderPathEx get = shell ? (FolderPathEx)(void *)GetProcAddress(shell, "SHGetFolderPathEx") : NULL;
        if (get != NULL && get(&LocalAppDataLow, 0, NULL, wide, MAX_PATH) == S_OK)
            SpellFolder(wide, out);
        if (shell != NULL)
            FreeLibrary(shell);
        return;
    }
    HMODULE folders = LoadFromSystem("shfolder.dll");
    if (folders != NULL) {
        FolderPathW get = (FolderPathW)(void *)GetProcAddress(folders, "SHGetFolderPathW");
        int found = get != NULL && get(NULL, 26 /* CSIDL_APPDATA */, NULL, 0, wide) >= 0;
        FreeLibrary(folders);
        if (found)
            SpellFolder(wide, out);
        if (found || get != NULL)
            return;
    } else {
        HMODULE shell = LoadFromSystem("shell32.dll");
        SpecialFolderPathW get =
            shell ? (SpecialFolderPathW)(void *)GetProcAddress(shell, "SHGetSpecialFolderPathW") : NULL;
        int found = get != NULL && get(NULL, wide, 26, TRUE);
        if (shell != NULL)
            FreeLibrary(shell);
        if (found)
            SpellFolder(wide, out);
        if (found || get != NULL)
            return;
    }
    DWORD length = GetEnvironmentVariableW(L"USERPROFILE", wide, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        GetWindowsDirectoryW(wide, MAX_PATH);
    SpellFolder(wide, out);
}

static void DeleteFilesIn(const char *folder)
{
    char pattern[MAX_PATH];
    strcpy(pattern, folder);
    if (!AppendPart(pattern, "*"))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        char path[MAX_PATH];
        strcpy(path, folder);
        if (AppendPart(path, found.cFileName)) {
            SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
            DeleteFileA(path);
        }
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

/* On a full uninstall and on a cancelled setup: every file in the kit folder
 * goes, then the kit folder and the two above it, each only when empty. */
__declspec(dllexport) UINT __stdcall CleanStagingFolder(MSIHANDLE install)
{
    (void)install;
    static const char *const chain[] = {KIT_CHAIN};
    char folders[3][MAX_PATH];
    char path[MAX_PATH];
    FindUserDataFolder(path);
    if (path[0] == '\0')
        return ERROR_SUCCESS;
    for (int i = 0; i < 3; i++) {
        if (!AppendPart(path, chain[i]))
            return ERROR_SUCCESS;
        strcpy(folders[i], path);
    }
    DeleteFilesIn(folders[2]);
    for (int i = 2; i >= 0; i--)
        RemoveDirectoryA(folders[i]);
    return ERROR_SUCCESS;
}

/* After the interactive install has run the runtime package: the four files
 * the kit left for it in its home go. A silent run leaves them to the
 * bootstrap. */
__declspec(dllexport) UINT __stdcall RemoveKitHomeFiles(MSIHANDLE install)
{
    static const char *const files[] = {"hux.msi", "hux1041.MST", "hux2052.MST", "orvadb.msi"};
    char home[MAX_PATH];
    DWORD length = sizeof(home);
    if (MsiGetPropertyA(install, "INSTALLDIR", home, &length) != ERROR_SUCCESS || home[0] == '\0')
        return ERROR_SUCCESS;
    for (unsigned i = 0; i < sizeof(files) / sizeof(files[0]); i++) {
        char path[MAX_PATH];
        strcpy(path, home);
        if (AppendPart(path, files[i]))
            DeleteFileA(path);
    }
    return ERROR_SUCCESS;
}

/* Stands in for the user pressing Cancel, so that tests reach the package's
 * user-exit actions without a dialog. */
__declspec(dllexport) UINT __stdcall SimulateCancel(MSIHANDLE install)
{
    (void)install;
    return ERROR_INSTALL_USEREXIT;
}

/* Lets tests make one run of the package fail on purpose. */
__declspec(dllexport) UINT __stdcall FailOnRequest(MSIHANDLE install)
{
    (void)install;
    return ERROR_INSTALL_FAILURE;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved)
{
    (void)instance;
    (void)reason;
    (void)reserved;
    return TRUE;
}
