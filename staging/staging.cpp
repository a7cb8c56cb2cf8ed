#include "staging/staging.h"

#include "staging/chunks.h"
#include "staging/staging_logic.h"
#include "support/profile.h"
#include "support/sysload.h"
#include "support/text.h"

static BOOL g_vistaFamily;
static BOOL g_vistaFamilyKnown;

BOOL IsVistaFamily(void)
{
    if (!g_vistaFamilyKnown) {
        OSVERSIONINFOA version;
        g_vistaFamily = ReadSystemVersion(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
                        version.dwMajorVersion == 6;
        g_vistaFamilyKnown = TRUE;
    }
    return g_vistaFamily;
}

typedef HRESULT(WINAPI *GetFolderPathExFn)(const GUID *, DWORD, HANDLE, LPWSTR, UINT);
typedef HRESULT(WINAPI *GetFolderPathAFn)(HWND, int, HANDLE, DWORD, LPSTR);
typedef BOOL(WINAPI *GetSpecialFolderPathAFn)(HWND, LPSTR, int, BOOL);

static const GUID kFolderLocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
static const int kFolderAppData = 26; // CSIDL_APPDATA

// LocalLow, through shell32's SHGetFolderPathEx (version 6.x).
static BOOL QueryLocalAppDataLow(char *out)
{
    BOOL filled = FALSE;
    HMODULE shell32 = LoadSystemLibrary("shell32.dll");
    if (shell32 == NULL)
        return FALSE;
    GetFolderPathExFn getFolderPathEx = FindExport<GetFolderPathExFn>(shell32, "SHGetFolderPathEx");
    WCHAR wide[MAX_PATH];
    if (getFolderPathEx != NULL && getFolderPathEx(&kFolderLocalAppDataLow, 0, NULL, wide, MAX_PATH) == 0)
        filled = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, MAX_PATH, NULL, NULL) != 0;
    FreeLibrary(shell32);
    return filled;
}

// The roaming application data folder on older systems: shfolder.dll, or
// shell32's SHGetSpecialFolderPathA where shfolder.dll cannot be loaded.
static BOOL QueryRoamingAppData(char *out)
{
    BOOL filled = FALSE;
    HMODULE shfolder = LoadSystemLibrary("shfolder.dll");
    if (shfolder != NULL) {
        GetFolderPathAFn getFolderPath = FindExport<GetFolderPathAFn>(shfolder, "SHGetFolderPathA");
        if (getFolderPath != NULL)
            filled = getFolderPath(NULL, kFolderAppData, NULL, 0, out) >= 0;
        FreeLibrary(shfolder);
        return filled;
    }
    HMODULE shell32 = LoadSystemLibrary("shell32.dll");
    if (shell32 == NULL)
        return FALSE;
    GetSpecialFolderPathAFn getSpecialFolderPath =
        FindExport<GetSpecialFolderPathAFn>(shell32, "SHGetSpecialFolderPathA");
    if (getSpecialFolderPath != NULL)
        filled = getSpecialFolderPath(NULL, out, kFolderAppData, TRUE);
    FreeLibrary(shell32);
    return filled;
}

// Each lookup library of the user data folder, with the DLL that it loads by
// bare name during the lookup. Wine's loader looks for that one beside the
// program first (a download folder), whatever SetDefaultDllDirectories said;
// a module already loaded is found by its name before any search, so it is
// loaded first, by full path, and held as long as the lookup library:
//   6.x  shell32 delay-loads ole32 for SHGetFolderPathEx; loaded here with
//        the altered search, ole32's own imports (combase, rpcrt4) come from
//        the system folder too;
//   5.x  shfolder's SHGetFolderPathA is a forward to shell32, which is
//        resolved by name.
// Found under Wine 8 by tracing /s runs on both paths with WINEDEBUG=
// +loaddll,+module ("LdrResolveDelayLoadedAPI" and "find_forwarded_export
// delay loading shell32.dll", each then "looking for ... in (null)": the
// default search) and by a marker DLL planted beside the program under every
// name a run loads, with native DLLs preferred; the end-to-end case
// dlls_planted_beside_the_program_or_in_the_current_folder_are_never_loaded
// keeps it so.
struct FolderLookup {
    const char *library;
    const char *loadedByName;
};
static const FolderLookup kVistaFamilyLookup = {"shell32.dll", "ole32.dll"};
static const FolderLookup kOlderLookup = {"shfolder.dll", "shell32.dll"};

void HoldFolderLookupLibraries(FolderLookupLibraries *held)
{
    const FolderLookup *lookup = IsVistaFamily() ? &kVistaFamilyLookup : &kOlderLookup;
    held->modules[0] = LoadSystemLibrary(lookup->loadedByName);
    held->modules[1] = LoadSystemLibrary(lookup->library);
}

void ReleaseFolderLookupLibraries(FolderLookupLibraries *held)
{
    for (int i = FOLDER_LOOKUP_LIBRARY_COUNT - 1; i >= 0; i--) {
        if (held->modules[i] != NULL)
            FreeLibrary(held->modules[i]);
        held->modules[i] = NULL;
    }
}

// Whether a length returned by GetEnvironmentVariableA or GetWindowsDirectoryA
// means the whole value is in `out`, and the value is fit to stage under.
static BOOL IsCompleteUsableFolder(DWORD length, const char *out)
{
    return length != 0 && length < MAX_PATH && IsUsableDataFolder(out);
}

BOOL GetUserDataFolder(char *out)
{
    out[0] = '\0';
    FolderLookupLibraries held;
    HoldFolderLookupLibraries(&held);
    BOOL filled = IsVistaFamily() ? QueryLocalAppDataLow(out) : QueryRoamingAppData(out);
    ReleaseFolderLookupLibraries(&held);
    if (filled && IsUsableDataFolder(out))
        return TRUE;
    // A lookup that failed may have left anything in `out`: fall back to the
    // profile, then the Windows folder, rather than stage in a drive root.
    if (IsCompleteUsableFolder(GetEnvironmentVariableA("USERPROFILE", out, MAX_PATH), out))
        return TRUE;
    if (IsCompleteUsableFolder(GetWindowsDirectoryA(out, MAX_PATH), out))
        return TRUE;
    out[0] = '\0';
    return FALSE;
}

// A junction, or under Wine a symbolic link, where a folder should be. The
// name must not end in a backslash: Wine reports the folder the link leads
// to for "link\", not the link.
static BOOL IsLink(const char *folder)
{
    DWORD attributes = GetFileAttributesA(folder);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Creates the folders of `staged` from the outside in (its base too when
// `createBase`), as far as they were formed and as long as none on the way is
// a link: a folder made beneath one would already be written through it. The
// writing itself then refuses the link.
static void CreateStagingFolders(const StagedFile *staged, BOOL createBase)
{
    if (staged->base[0] == '\0')
        return;
    if (createBase)
        CreateDirectoryA(staged->base, NULL);
    for (int i = 0; i < STAGING_FOLDER_COUNT && staged->folders[i][0] != '\0'; i++) {
        CreateDirectoryA(staged->folders[i], NULL); // it may exist already; a real failure shows at CreateFile
        if (IsLink(staged->folders[i]))
            return;
    }
}

int BuildStagedFile(StagedFile *staged, const char *base, const char *fileName, BOOL createBase)
{
    int formed = FormStagedFile(staged, base, fileName);
    CreateStagingFolders(staged, createBase);
    return formed;
}

void MakePackagePath(StagedFile *out)
{
    char base[MAX_PATH];
    GetUserDataFolder(base);
    BuildStagedFile(out, base, PROFILE_PACKAGE_FILE, TRUE);
}

void MakeCabinetPath(StagedFile *out, const char *name)
{
    char base[MAX_PATH];
    char fileName[MAX_PATH];
    const char *const parts[] = {name, ".cab"};
    GetUserDataFolder(base);
    if (!JoinText(fileName, sizeof(fileName), parts))
        FormStagedFile(out, "", ""); // nothing formed, nothing made
    else
        BuildStagedFile(out, base, fileName, FALSE);
}

int AreStagingFoldersReal(const StagedFile *staged)
{
    // From the outside in: a link higher up decides what lies below it.
    for (int i = 0; i < STAGING_FOLDER_COUNT; i++) {
        if (IsLink(staged->folders[i]))
            return 0;
    }
    return 1;
}

// Creates the staged file anew. Whatever stands at its path is deleted first
// rather than opened: a hard link or a file link planted there would have
// the resource written into the file it leads to. CREATE_NEW then refuses
// anything put back in between. INVALID_HANDLE_VALUE, with the system's code
// as last error, when either step fails.
static HANDLE CreateNewStagedFile(const char *path)
{
    if (!DeleteFileA(path)) {
        DWORD code = GetLastError();
        if (code != ERROR_FILE_NOT_FOUND && code != ERROR_PATH_NOT_FOUND)
            return INVALID_HANDLE_VALUE; // a folder in the way, a file in use, denied
    }
    return CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
}

static int WriteFileChunk(void *context, const unsigned char *bytes, unsigned long count,
                          unsigned long *written)
{
    DWORD done = 0;
    if (!WriteFile((HANDLE)context, bytes, count, &done, NULL))
        return 0;
    *written = done;
    if (done == 0) {
        SetLastError(ERROR_WRITE_FAULT); // success without progress would never end
        return 0;
    }
    return 1;
}

int ExtractResourceToFile(HMODULE module, int id, const char *type, const StagedFile *staged)
{
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (resource == NULL)
        return 0;
    DWORD size = SizeofResource(module, resource);
    const unsigned char *bytes = (const unsigned char *)LockResource(LoadResource(module, resource));
    if (bytes == NULL && size != 0)
        return 0;

    if (staged->path[0] == '\0')
        FailWithCode(LABEL_CREATE_FILE, EXIT_STAGING_PATH_TOO_LONG);
    if (!AreStagingFoldersReal(staged))
        FailWithCode(LABEL_CREATE_FILE, EXIT_STAGING_FOLDER_IS_LINK);
    HANDLE file = CreateNewStagedFile(staged->path);
    if (file == INVALID_HANDLE_VALUE)
        FailWithSystemError(LABEL_CREATE_FILE);
    if (!WriteInChunks(bytes, size, WriteFileChunk, file))
        FailWithSystemError(LABEL_WRITE_FILE);
    if (!CloseHandle(file))
        FailWithSystemError(LABEL_CLOSE_HANDLE);
    return 1;
}
