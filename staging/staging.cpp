#include "staging/staging.h"

#include "staging/chain.h"
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
typedef HRESULT(WINAPI *GetFolderPathWFn)(HWND, int, HANDLE, DWORD, LPWSTR);
typedef BOOL(WINAPI *GetSpecialFolderPathWFn)(HWND, LPWSTR, int, BOOL);

static const GUID kFolderLocalAppDataLow = {
    0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
static const int kFolderAppData = 26; // CSIDL_APPDATA

// LocalLow, through shell32's SHGetFolderPathEx (version 6.x), into `wide`
// (MAX_PATH characters).
static BOOL QueryLocalAppDataLow(WCHAR *wide)
{
    BOOL filled = FALSE;
    HMODULE shell32 = LoadSystemLibrary("shell32.dll");
    if (shell32 == NULL)
        return FALSE;
    GetFolderPathExFn getFolderPathEx = FindExport<GetFolderPathExFn>(shell32, "SHGetFolderPathEx");
    if (getFolderPathEx != NULL)
        filled = getFolderPathEx(&kFolderLocalAppDataLow, 0, NULL, wide, MAX_PATH) == 0;
    FreeLibrary(shell32);
    return filled;
}

// The roaming application data folder on older systems: shfolder.dll, or
// shell32's SHGetSpecialFolderPathW where shfolder.dll cannot be loaded.
// The wide forms, so that a name outside the code page keeps its letters.
static BOOL QueryRoamingAppData(WCHAR *wide)
{
    BOOL filled = FALSE;
    HMODULE shfolder = LoadSystemLibrary("shfolder.dll");
    if (shfolder != NULL) {
        GetFolderPathWFn getFolderPath = FindExport<GetFolderPathWFn>(shfolder, "SHGetFolderPathW");
        if (getFolderPath != NULL)
            filled = getFolderPath(NULL, kFolderAppData, NULL, 0, wide) >= 0;
        FreeLibrary(shfolder);
        return filled;
    }
    HMODULE shell32 = LoadSystemLibrary("shell32.dll");
    if (shell32 == NULL)
        return FALSE;
    GetSpecialFolderPathWFn getSpecialFolderPath =
        FindExport<GetSpecialFolderPathWFn>(shell32, "SHGetSpecialFolderPathW");
    if (getSpecialFolderPath != NULL)
        filled = getSpecialFolderPath(NULL, wide, kFolderAppData, TRUE);
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

// `wide` in the ANSI code page into `out` (MAX_PATH bytes): 1 when every
// character has its own spelling there (no default character, no best fit:
// a best fit can name another folder), 0 when one has none, -1 when the
// spelling would not fit.
static int SpellExactly(const WCHAR *wide, char *out)
{
    // UTF-8 as the code page spells everything, and takes neither the flag
    // nor the question.
    UINT codePage = GetACP();
    BOOL anyCharacter = codePage == CP_UTF8 || codePage == CP_UTF7;
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, anyCharacter ? 0 : WC_NO_BEST_FIT_CHARS, wide, -1, out, MAX_PATH, NULL,
                            anyCharacter ? NULL : &usedDefault) == 0) {
        out[0] = '\0';
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? -1 : 0;
    }
    if (usedDefault) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

enum FolderSpelling { FOLDER_SPELLED, FOLDER_NOT_SPELLED, FOLDER_UNUSABLE };

// The base folder `wide` as the ANSI calls and the engine's command line
// take it (see FindUserDataFolder): its own spelling, else its short form's.
// Only the base is shortened; the chain below it keeps its names, which the
// package looks for.
static FolderSpelling SpellUsableFolder(const WCHAR *wide, char *out)
{
    int spelled = SpellExactly(wide, out);
    if (spelled != 1) {
        WCHAR shortForm[MAX_PATH];
        DWORD length = GetShortPathNameW(wide, shortForm, MAX_PATH);
        int shortSpelled = length != 0 && length < MAX_PATH ? SpellExactly(shortForm, out) : -1;
        if (shortSpelled != 1)
            return spelled == 0 || shortSpelled == 0 ? FOLDER_NOT_SPELLED : FOLDER_UNUSABLE;
    }
    return IsUsableDataFolder(out) ? FOLDER_SPELLED : FOLDER_UNUSABLE;
}

// The profile folder, then the Windows folder: where to stage when the shell
// gives no usable folder, rather than a drive root.
static BOOL ReadFallbackFolder(int which, WCHAR *wide)
{
    DWORD length = which == 0 ? GetEnvironmentVariableW(L"USERPROFILE", wide, MAX_PATH)
                              : GetWindowsDirectoryW(wide, MAX_PATH);
    return length != 0 && length < MAX_PATH;
}

DWORD FindUserDataFolder(char *out)
{
    WCHAR wide[MAX_PATH];
    out[0] = '\0';
    FolderLookupLibraries held;
    HoldFolderLookupLibraries(&held);
    BOOL found = IsVistaFamily() ? QueryLocalAppDataLow(wide) : QueryRoamingAppData(wide);
    ReleaseFolderLookupLibraries(&held);
    // A lookup that failed may have left anything in `wide`; one that found a
    // folder without a spelling ends here, not in a folder elsewhere.
    for (int fallback = 0; fallback <= 2; fallback++) {
        if (fallback > 0)
            found = ReadFallbackFolder(fallback - 1, wide);
        if (!found)
            continue;
        switch (SpellUsableFolder(wide, out)) {
        case FOLDER_SPELLED:
            return 0;
        case FOLDER_NOT_SPELLED:
            return ERROR_NO_UNICODE_TRANSLATION;
        case FOLDER_UNUSABLE:
            break;
        }
    }
    out[0] = '\0';
    return EXIT_STAGING_PATH_TOO_LONG;
}

BOOL GetUserDataFolder(char *out)
{
    return FindUserDataFolder(out) == 0;
}

// The staged file `fileName` under the user data folder, or with "" as its
// path and the code of the lookup that failed.
static void MakeStagedFile(StagedFile *out, const char *fileName, int makesBase)
{
    char base[MAX_PATH];
    DWORD code = FindUserDataFolder(base);
    FormStagedFile(out, base, fileName);
    out->makesBase = makesBase;
    if (code != 0)
        out->unformedCode = code;
}

void MakePackagePath(StagedFile *out)
{
    MakeStagedFile(out, PROFILE_PACKAGE_FILE, 1);
}

void MakeCabinetPath(StagedFile *out, const char *name)
{
    char fileName[MAX_PATH];
    const char *const parts[] = {name, ".cab"};
    if (!JoinText(fileName, sizeof(fileName), parts))
        FormStagedFile(out, "", ""); // nothing formed, nothing made
    else
        MakeStagedFile(out, fileName, 0);
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

static int Failed(StagingFailure *failure, const char *label, DWORD code)
{
    failure->label = label;
    failure->code = code;
    return 0;
}

// Writes `size` bytes into the held kit folder as the staged file; see
// WriteResourceToStagedFile.
static int WriteStagedFile(const HeldChain *chain, const StagedFile *staged, const unsigned char *bytes,
                           DWORD size, StagingFailure *failure)
{
    HANDLE file;
    DWORD code = CreateStagedFile(chain, staged->name, &file);
    if (code != 0)
        return Failed(failure, LABEL_CREATE_FILE, code);
    if (!WriteInChunks(bytes, size, WriteFileChunk, file)) {
        code = GetLastError();
        RemoveUnfinishedFile(file);
        return Failed(failure, LABEL_WRITE_FILE, code);
    }
    if (!CloseHandle(file))
        return Failed(failure, LABEL_CLOSE_HANDLE, GetLastError());
    return 1;
}

int WriteResourceToStagedFile(HMODULE module, int id, const char *type, const StagedFile *staged,
                              StagingFailure *failure)
{
    failure->label = NULL;
    failure->code = 0;
    HRSRC resource = FindResourceA(module, MAKEINTRESOURCEA(id), type);
    if (resource == NULL)
        return 0;
    DWORD size = SizeofResource(module, resource);
    const unsigned char *bytes = (const unsigned char *)LockResource(LoadResource(module, resource));
    if (bytes == NULL && size != 0)
        return 0;
    if (staged->path[0] == '\0')
        return Failed(failure, LABEL_CREATE_FILE, staged->unformedCode);

    // The chain is held from before the file is created until it is closed.
    HeldChain chain;
    DWORD code = HoldStagingChain(staged, &chain);
    int written = code == 0 ? WriteStagedFile(&chain, staged, bytes, size, failure)
                            : Failed(failure, LABEL_CREATE_FILE, code);
    ReleaseStagingChain(&chain);
    return written;
}

int ExtractResourceToFile(HMODULE module, int id, const char *type, const StagedFile *staged)
{
    StagingFailure failure;
    int written = WriteResourceToStagedFile(module, id, type, staged, &failure);
    if (failure.code != 0)
        FailWithCode(failure.label, failure.code);
    return written;
}
