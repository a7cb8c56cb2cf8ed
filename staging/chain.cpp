#include "staging/chain.h"

#include <winternl.h>
#include <aclapi.h>

#include "support/ending.h"
#include "support/sysload.h"

// The statuses this unit tells apart; the rest become the system's codes.
static const NTSTATUS kStatusAccessDenied = (NTSTATUS)0xC0000022;
static const NTSTATUS kStatusNameNotFound = (NTSTATUS)0xC0000034;
static const NTSTATUS kStatusNameCollision = (NTSTATUS)0xC0000035;
static const NTSTATUS kStatusCannotDelete = (NTSTATUS)0xC0000121; // a read-only file

enum {
    FILE_BASIC_INFORMATION_CLASS = 4,
    FILE_STANDARD_INFORMATION_CLASS = 5,
    FILE_RENAME_INFORMATION_CLASS = 10,
    FILE_DISPOSITION_INFORMATION_CLASS = 13,
    FILE_ATTRIBUTE_TAG_INFORMATION_CLASS = 35,
    WIDE_NAME_SIZE = STAGING_PATH_SIZE,
    FINAL_PATH_SIZE = 1024, // the long form of a base whose short form fits MAX_PATH
    ASIDE_NAME_TRIES = 16,  // names taken by earlier copies that are still held
};

typedef NTSTATUS(NTAPI *NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef NTSTATUS(NTAPI *NtFileInformationFn)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);
typedef ULONG(NTAPI *RtlNtStatusToDosErrorFn)(NTSTATUS);
typedef DWORD(WINAPI *GetFinalPathNameByHandleWFn)(HANDLE, LPWSTR, DWORD, DWORD);
typedef int(WINAPI *CompareStringOrdinalFn)(LPCWCH, int, LPCWCH, int, BOOL);

// ntdll's calls that open and change a file by its name inside a folder
// given by handle, which kernel32 has no call for; and kernel32's final path
// of a handle, from 6.x on (before, the attributes alone tell a link).
struct ChainCalls {
    NtCreateFileFn createFile;
    NtFileInformationFn setInformation;
    NtFileInformationFn queryInformation;
    RtlNtStatusToDosErrorFn statusToCode;
    GetFinalPathNameByHandleWFn finalPath;
    CompareStringOrdinalFn compareOrdinal;
};
static ChainCalls g_calls;
static BOOL g_callsKnown;

// Looked up once, by the main thread as it stages the package, before the
// cabinet writer starts. ntdll and kernel32 are in every process; the loads
// only count a reference, which is kept for the process's life.
static const ChainCalls *Calls(void)
{
    if (!g_callsKnown) {
        HMODULE ntdll = LoadSystemLibrary("ntdll.dll");
        HMODULE kernel32 = LoadSystemLibrary("kernel32.dll");
        if (ntdll != NULL) {
            g_calls.createFile = FindExport<NtCreateFileFn>(ntdll, "NtCreateFile");
            g_calls.setInformation = FindExport<NtFileInformationFn>(ntdll, "NtSetInformationFile");
            g_calls.queryInformation = FindExport<NtFileInformationFn>(ntdll, "NtQueryInformationFile");
            g_calls.statusToCode = FindExport<RtlNtStatusToDosErrorFn>(ntdll, "RtlNtStatusToDosError");
        }
        if (kernel32 != NULL) {
            g_calls.finalPath = FindExport<GetFinalPathNameByHandleWFn>(kernel32, "GetFinalPathNameByHandleW");
            g_calls.compareOrdinal = FindExport<CompareStringOrdinalFn>(kernel32, "CompareStringOrdinal");
        }
        g_callsKnown = TRUE;
    }
    const ChainCalls *calls = &g_calls;
    return calls->createFile && calls->setInformation && calls->queryInformation && calls->statusToCode ? calls
                                                                                                           : NULL;
}

static DWORD CodeOf(NTSTATUS status)
{
    return StagingCodeOfStatus((unsigned long)status, Calls()->statusToCode(status));
}

static BOOL ToWide(const char *name, WCHAR *wide)
{
    return MultiByteToWideChar(CP_ACP, 0, name, -1, wide, WIDE_NAME_SIZE) != 0;
}

// Opens `name` inside the folder `parent`, by that name only.
static NTSTATUS OpenIn(HANDLE parent, const WCHAR *name, ACCESS_MASK access, ULONG share, ULONG disposition,
                       ULONG options, HANDLE *opened)
{
    UNICODE_STRING unicode;
    unicode.Buffer = (PWSTR)name;
    unicode.Length = (USHORT)(lstrlenW(name) * sizeof(WCHAR));
    unicode.MaximumLength = unicode.Length;
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &unicode, OBJ_CASE_INSENSITIVE, parent, NULL);
    IO_STATUS_BLOCK io;
    *opened = INVALID_HANDLE_VALUE;
    NTSTATUS status = Calls()->createFile(opened, access | SYNCHRONIZE, &attributes, &io, NULL, FILE_ATTRIBUTE_NORMAL,
                                          share, disposition, options | FILE_SYNCHRONOUS_IO_NONALERT, NULL, 0);
    if (status != 0)
        *opened = INVALID_HANDLE_VALUE;
    return status;
}

static NTSTATUS SetInformation(HANDLE file, void *information, ULONG size, ULONG informationClass)
{
    IO_STATUS_BLOCK io;
    return Calls()->setInformation(file, &io, information, size, informationClass);
}

static NTSTATUS QueryInformation(HANDLE file, void *information, ULONG size, ULONG informationClass)
{
    IO_STATUS_BLOCK io;
    return Calls()->queryInformation(file, &io, information, size, informationClass);
}

static NTSTATUS MarkForDeletion(HANDLE file)
{
    BOOLEAN deleteFile = TRUE; // FILE_DISPOSITION_INFORMATION
    return SetInformation(file, &deleteFile, sizeof(deleteFile), FILE_DISPOSITION_INFORMATION_CLASS);
}

// Whether `folder`'s final path is `parent`'s and the name: under Wine a
// Unix link opens as the folder it leads to, with the attributes of a real
// folder; only its final path shows where it lies. Where the final path
// cannot be had (before 6.x, a path longer than the buffer), the attributes
// decide alone.
static BOOL LiesWhereNamed(HANDLE parent, const WCHAR *name, HANDLE folder)
{
    const ChainCalls *calls = Calls();
    if (calls->finalPath == NULL || calls->compareOrdinal == NULL)
        return TRUE;
    WCHAR parentPath[FINAL_PATH_SIZE], folderPath[FINAL_PATH_SIZE];
    DWORD parentLength = calls->finalPath(parent, parentPath, FINAL_PATH_SIZE, 0);
    DWORD folderLength = calls->finalPath(folder, folderPath, FINAL_PATH_SIZE, 0);
    if (parentLength == 0 || parentLength >= FINAL_PATH_SIZE || folderLength == 0 || folderLength >= FINAL_PATH_SIZE)
        return TRUE;
    int nameLength = lstrlenW(name);
    return folderLength == parentLength + 1 + (DWORD)nameLength && folderPath[parentLength] == L'\\' &&
           calls->compareOrdinal(folderPath, (int)parentLength, parentPath, (int)parentLength, TRUE) == CSTR_EQUAL &&
           calls->compareOrdinal(folderPath + parentLength + 1, nameLength, name, nameLength, TRUE) == CSTR_EQUAL;
}

// 0 when `folder`, opened as `name` in `parent`, is a real folder there; a
// junction opened as itself shows as a reparse point. (The attributes alone:
// GetFileInformationByHandle also asks for the volume, which under Wine
// costs more than the rest of a staged file's chain.)
static DWORD CheckRealFolder(HANDLE parent, const WCHAR *name, HANDLE folder)
{
    struct {
        ULONG attributes;
        ULONG reparseTag;
    } tag; // FILE_ATTRIBUTE_TAG_INFORMATION
    NTSTATUS status = QueryInformation(folder, &tag, sizeof(tag), FILE_ATTRIBUTE_TAG_INFORMATION_CLASS);
    if (status != 0)
        return CodeOf(status);
    DWORD attributes = tag.attributes;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY) || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !LiesWhereNamed(parent, name, folder))
        return EXIT_STAGING_FOLDER_IS_LINK;
    return 0;
}

// The medium label with no-write-up, inherited by what is made inside. Wine
// and systems without integrity labels refuse it; the run goes on as before.
static void LabelFolder(HANDLE folder)
{
    unsigned char acl[STAGING_LABEL_ACL_SIZE];
    FormMediumLabelAcl(acl);
    SetSecurityInfo(folder, SE_FILE_OBJECT, LABEL_SECURITY_INFORMATION, NULL, NULL, NULL, (PACL)acl);
}

// Makes or finds folder `name` in `parent` and holds it: read and write
// sharing only, so that no one can rename or delete it meanwhile.
// WRITE_OWNER is what setting the label takes; a folder that refuses it is
// held without, and stays without the label.
static DWORD HoldFolder(HANDLE parent, const char *name, HANDLE *folder)
{
    static const ACCESS_MASK kAccess = FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES | READ_CONTROL;
    static const ULONG kOptions = FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT;
    WCHAR wide[WIDE_NAME_SIZE];
    if (!ToWide(name, wide))
        return GetLastError();
    NTSTATUS status =
        OpenIn(parent, wide, kAccess | WRITE_OWNER, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF, kOptions, folder);
    if (status == kStatusAccessDenied)
        status = OpenIn(parent, wide, kAccess, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN_IF, kOptions, folder);
    if (status != 0)
        return CodeOf(status);
    DWORD code = CheckRealFolder(parent, wide, *folder);
    if (code == 0)
        LabelFolder(*folder); // before anything is made or written in it
    return code;
}

DWORD HoldStagingChain(const StagedFile *staged, HeldChain *chain)
{
    chain->base = INVALID_HANDLE_VALUE;
    for (int i = 0; i < STAGING_FOLDER_COUNT; i++)
        chain->folders[i] = INVALID_HANDLE_VALUE;
    if (Calls() == NULL)
        return ERROR_PROC_NOT_FOUND;
    // The user's own folder: made for the package when it is missing, and
    // opened with full sharing, since it is not ours to hold.
    if (staged->makesBase)
        CreateDirectoryA(staged->base, NULL);
    chain->base = CreateFileA(staged->base, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS, NULL);
    if (chain->base == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : code; // as the file's creation reports it
    }
    HANDLE parent = chain->base;
    for (int i = 0; i < STAGING_FOLDER_COUNT; i++) {
        DWORD code = HoldFolder(parent, kStagingFolderNames[i], &chain->folders[i]);
        if (code != 0)
            return code;
        parent = chain->folders[i];
    }
    return 0;
}

void ReleaseStagingChain(HeldChain *chain)
{
    for (int i = STAGING_FOLDER_COUNT - 1; i >= 0; i--) {
        if (chain->folders[i] != INVALID_HANDLE_VALUE)
            CloseHandle(chain->folders[i]);
        chain->folders[i] = INVALID_HANDLE_VALUE;
    }
    if (chain->base != INVALID_HANDLE_VALUE)
        CloseHandle(chain->base);
    chain->base = INVALID_HANDLE_VALUE;
}

// FILE_RENAME_INFORMATION with room for a name.
struct RenameInformation {
    BOOLEAN replaceIfExists;
    HANDLE rootDirectory;
    ULONG fileNameLength;
    WCHAR fileName[WIDE_NAME_SIZE];
};

// Renames the opened old copy of `name` to a name of its own in `kit`,
// never over another file. TRUE when it moved.
static BOOL MoveAside(HANDLE kit, HANDLE old, const char *name)
{
    for (unsigned n = 1; n <= ASIDE_NAME_TRIES; n++) {
        char aside[STAGING_PATH_SIZE];
        RenameInformation rename;
        ZeroMemory(&rename, sizeof(rename));
        if (!FormAsideName(aside, sizeof(aside), name, n) || !ToWide(aside, rename.fileName))
            return FALSE;
        rename.replaceIfExists = FALSE;
        rename.rootDirectory = kit;
        rename.fileNameLength = (ULONG)(lstrlenW(rename.fileName) * sizeof(WCHAR));
        NTSTATUS status = SetInformation(old, &rename, sizeof(rename), FILE_RENAME_INFORMATION_CLASS);
        if (status == 0)
            return TRUE;
        if (status != kStatusNameCollision)
            return FALSE;
    }
    return FALSE;
}

// Marks the opened old copy for deletion. A read-only one has the attribute
// taken off first. Attributes belong to the file, not to the name: for a
// file with other links they are put back at once, so that the file those
// links name keeps them.
static NTSTATUS DeleteOldCopy(HANDLE old)
{
    NTSTATUS status = MarkForDeletion(old);
    if (status != kStatusCannotDelete)
        return status;
    FILE_BASIC_INFORMATION basic;
    FILE_STANDARD_INFORMATION standard;
    if (QueryInformation(old, &basic, sizeof(basic), FILE_BASIC_INFORMATION_CLASS) != 0 ||
        QueryInformation(old, &standard, sizeof(standard), FILE_STANDARD_INFORMATION_CLASS) != 0)
        return status;
    const ULONG kept = basic.FileAttributes;
    FILE_BASIC_INFORMATION change;
    ZeroMemory(&change, sizeof(change)); // times of 0 are left as they are
    change.FileAttributes = (kept & ~FILE_ATTRIBUTE_READONLY) != 0 ? kept & ~FILE_ATTRIBUTE_READONLY
                                                                   : FILE_ATTRIBUTE_NORMAL;
    if (SetInformation(old, &change, sizeof(change), FILE_BASIC_INFORMATION_CLASS) != 0)
        return status;
    status = MarkForDeletion(old);
    if (standard.NumberOfLinks > 1 || status != 0) {
        change.FileAttributes = kept;
        SetInformation(old, &change, sizeof(change), FILE_BASIC_INFORMATION_CLASS);
    }
    return status;
}

// Frees `name` in `kit` for a new file; see CreateStagedFile.
static DWORD FreeStagedName(HANDLE kit, const WCHAR *wide, const char *name)
{
    HANDLE old;
    NTSTATUS status = OpenIn(kit, wide, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                             FILE_NON_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT, &old);
    if (status == kStatusNameNotFound)
        return 0;
    if (status != 0)
        return CodeOf(status); // a folder at the name, a holder that shares no delete, denied
    BOOL movedAside = MoveAside(kit, old, name);
    NTSTATUS deleted = DeleteOldCopy(old);
    CloseHandle(old);
    // Not moved aside but marked for deletion: the name is free once the
    // last holder lets go; until then the creation reports it taken.
    return movedAside || deleted == 0 ? 0 : CodeOf(deleted);
}

DWORD CreateStagedFile(const HeldChain *chain, const char *name, HANDLE *file)
{
    HANDLE kit = chain->folders[STAGING_FOLDER_COUNT - 1];
    WCHAR wide[WIDE_NAME_SIZE];
    *file = INVALID_HANDLE_VALUE;
    if (!ToWide(name, wide))
        return GetLastError();
    DWORD code = FreeStagedName(kit, wide, name);
    if (code != 0)
        return code;
    // DELETE, so that a file that cannot be finished can be removed through
    // this handle.
    NTSTATUS status = OpenIn(kit, wide, GENERIC_WRITE | DELETE, 0, FILE_CREATE, FILE_NON_DIRECTORY_FILE, file);
    return status != 0 ? CodeOf(status) : 0;
}

void RemoveUnfinishedFile(HANDLE file)
{
    MarkForDeletion(file);
    CloseHandle(file);
}
