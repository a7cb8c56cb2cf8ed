// Windows-level tests. Besides running the tests, the program serves as the
// child of the tests whose subject ends the process, and as the other
// programs those tests need:
//   --child extract <id> -        ExtractResourceToFile of a test resource to
//                                 a staged file whose path could not be
//                                 formed; the exit code is its result unless
//                                 it fails
//   --child fail <code>           FailWithSystemError with <code> as last error
//   --child stage <base> <file>   the staged file <file> under <base>, its
//                                 chain made, and resource 201 written there
//   --child stage-cabinet <base> <file>
//                                 the same as a cabinet's: the base not made
//   --child stage-relinked <base> <file> <outside>
//                                 as stage, with a hard link to <outside> put
//                                 at the name right before the file is created
//   --child stage-swapped <base> <file> <outside>
//                                 as stage, with the kit folder renamed away
//                                 and a link to <outside> put in its place at
//                                 the first call that opens the file's name;
//                                 the exit code is the rename's error (0 when
//                                 it moved) unless the staging fails
//   --child stage-renamed <base> <file>
//                                 as stage, with another process trying to
//                                 rename the kit folder at the first chunk
//                                 written; the exit code is that process's
//   --child stage-full <base> <file> <chunk>
//                                 as stage, with the write of chunk <chunk>
//                                 (from 1) failing as on a full disk
//   --child stage-package [no-short-names]
//                                 the package staged as the program does it,
//                                 under the user data folder; with
//                                 no-short-names as on a volume without them
//   --child cabinets              the cabinet writer, on this thread
//   --child cabinets-full <chunk> the same, with chunk <chunk> of all the
//                                 cabinets' writes failing as on a full disk
//   --child rename <from> <to>    MoveFileA; the exit code is its error, or 0
//   --child hold <file> <ready> <release>
//                                 holds <file> open for reading with every
//                                 sharing flag, as a scanner does, between
//                                 setting event <ready> and event <release>
//   --child end-during-start <marker>
//                                 ends the process from another thread while
//                                 this one is starting an engine; <marker> is
//                                 written once the start is over
//   --child load-system <name> silent|logged
//                                 LoadSystemLibrary or HUX_System_LoadLibrary
//                                 of <name>: 0 when it loads it from the
//                                 system directory, 1 from elsewhere, 2 not
//   --child load-bare <name>      the same with a load by bare name, the fault
//                                 the loaders are there to avoid
//   --child record-loads <file> <path>
//                                 every LoadLibraryExA of the units, name and
//                                 flags a line each, into <file>, while they
//                                 take one path that loads DLLs: "boxes" (the
//                                 Error box), "gate-box", "silent-boxes" (both
//                                 as records), "lookup" (the user data folder),
//                                 "gate" (msi.dll's version), "chain" (the
//                                 calls the staging chain looks up), "harden"
//   --child has-handle <value> <name>
//                                 exits 0 when <value> is no handle of this
//                                 process, 1 when it is the event <name>
//                                 (inherited), 2 when it is another object
//   --child has-event <name> <started> <closed>
//                                 sets <started>, waits for <closed>, then
//                                 exits 0 when event <name> still exists
#include <gtest/gtest.h>

#include <winternl.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "installer/engine.h"
#include "staging/cabinet_writer.h"
#include "support/sysload.h"
#include "staging/staging.h"
#include "support/ending.h"
#include "tests/win/helpers.h"
#include "tests/win/imports.h"

typedef NTSTATUS(NTAPI *NtCreateFileFn)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                        PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);
typedef FARPROC(WINAPI *GetProcAddressFn)(HMODULE, LPCSTR);
typedef BOOL(WINAPI *WriteFileFn)(HANDLE, LPCVOID, DWORD, LPDWORD, LPOVERLAPPED);

// What the fault hooks act on, set by the child action that installs them.
static struct {
    GetProcAddressFn realGetProcAddress;
    NtCreateFileFn realCreateFile;
    WriteFileFn realWriteFile;
    std::string fileName;  // the staged file's own name
    std::string filePath;  // its full path
    std::string kit;       // the kit folder
    std::string outside;   // where the attacker's link or file leads
    bool done;             // the hook has acted once
    DWORD result;          // what it found, as the child's exit code
    int chunksLeft;        // writes before the one that fails
} g_hook;

// Whether an NtCreateFile opens the staged file's own name.
static bool OpensStagedName(POBJECT_ATTRIBUTES attributes)
{
    char name[MAX_PATH] = "";
    const UNICODE_STRING *unicode = attributes->ObjectName;
    WideCharToMultiByte(CP_ACP, 0, unicode->Buffer, unicode->Length / sizeof(WCHAR), name, MAX_PATH - 1, NULL, NULL);
    return lstrcmpiA(name, g_hook.fileName.c_str()) == 0;
}

// The creation of the staged file as an attacker racing the product would
// have it: a hard link to a file outside is put at the name just before.
static NTSTATUS NTAPI CreateAfterPlantingHardLink(PHANDLE handle, ACCESS_MASK access, POBJECT_ATTRIBUTES attributes,
                                                  PIO_STATUS_BLOCK io, PLARGE_INTEGER size, ULONG fileAttributes,
                                                  ULONG share, ULONG disposition, ULONG options, PVOID ea,
                                                  ULONG eaLength)
{
    if (disposition == FILE_CREATE && OpensStagedName(attributes))
        CreateHardLinkA(g_hook.filePath.c_str(), g_hook.outside.c_str(), NULL);
    return g_hook.realCreateFile(handle, access, attributes, io, size, fileAttributes, share, disposition, options,
                                 ea, eaLength);
}

// Between the check of the chain and the write: the kit folder renamed away
// and a link to another folder put in its place, once.
static NTSTATUS NTAPI CreateAfterSwappingTheKitFolder(PHANDLE handle, ACCESS_MASK access,
                                                      POBJECT_ATTRIBUTES attributes, PIO_STATUS_BLOCK io,
                                                      PLARGE_INTEGER size, ULONG fileAttributes, ULONG share,
                                                      ULONG disposition, ULONG options, PVOID ea, ULONG eaLength)
{
    if (!g_hook.done && OpensStagedName(attributes)) {
        g_hook.done = true;
        std::string aside = g_hook.kit + ".aside";
        g_hook.result = MoveFileA(g_hook.kit.c_str(), aside.c_str()) ? 0 : GetLastError();
        if (g_hook.result == 0 && !MakeFolderLink(g_hook.outside, g_hook.kit))
            g_hook.result = 97; // the link could not be made
    }
    return g_hook.realCreateFile(handle, access, attributes, io, size, fileAttributes, share, disposition, options,
                                 ea, eaLength);
}

// GetProcAddress that hands out `replacement` for ntdll's NtCreateFile: the
// product looks ntdll's calls up at run time, through this program's import.
static NtCreateFileFn g_createFileReplacement;
static FARPROC WINAPI GetProcAddressWithHook(HMODULE module, LPCSTR name)
{
    FARPROC found = g_hook.realGetProcAddress(module, name);
    if (found != NULL && HIWORD(name) != 0 && strcmp(name, "NtCreateFile") == 0) {
        g_hook.realCreateFile = (NtCreateFileFn)(void *)found;
        return (FARPROC)(void *)g_createFileReplacement;
    }
    return found;
}

// The first chunk starts another process that tries to rename the kit folder.
static BOOL WINAPI WriteWhileRenaming(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written, LPOVERLAPPED overlapped)
{
    if (!g_hook.done) {
        g_hook.done = true;
        WatchResult renamer = RunChild("rename \"" + g_hook.kit + "\" \"" + g_hook.kit + ".aside\"");
        g_hook.result = renamer.started ? renamer.exitCode : 96;
    }
    return g_hook.realWriteFile(file, bytes, count, written, overlapped);
}

// Chunk number chunksLeft + 1 fails as a write past the end of a full disk.
static BOOL WINAPI WriteUntilTheDiskIsFull(HANDLE file, LPCVOID bytes, DWORD count, LPDWORD written,
                                           LPOVERLAPPED overlapped)
{
    if (g_hook.chunksLeft-- <= 0) {
        SetLastError(ERROR_DISK_FULL);
        return FALSE;
    }
    return g_hook.realWriteFile(file, bytes, count, written, overlapped);
}

// GetShortPathNameW on a volume without short names: the long form back.
static DWORD WINAPI NoShortName(LPCWSTR path, LPWSTR out, DWORD size)
{
    DWORD length = (DWORD)lstrlenW(path);
    if (length + 1 > size)
        return length + 1;
    lstrcpyW(out, path);
    return length;
}

// The package staged as the program stages it, under the user data folder.
static int StagePackage(void)
{
    StagedFile package;
    MakePackagePath(&package);
    return ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_20000, TEST_RESOURCE_TYPE, &package);
}

static int StagePackageWithoutShortNames(void)
{
    ScopedImportPatch patch("kernel32.dll", "GetShortPathNameW", (void *)NoShortName);
    return patch.ok() ? StagePackage() : 98;
}

static StagedFile StagedUnderBase(const char *base, const char *file)
{
    StagedFile staged;
    FormStagedFile(&staged, base, file);
    staged.makesBase = 1;
    return staged;
}

// Stages resource 201 as the file <file> under <base>, its chain made.
static int Stage(const char *base, const char *file, int makesBase = 1)
{
    StagedFile staged = StagedUnderBase(base, file);
    staged.makesBase = makesBase;
    g_hook.fileName = file;
    g_hook.filePath = staged.path;
    g_hook.kit = staged.folders[STAGING_FOLDER_COUNT - 1];
    return ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_20000, TEST_RESOURCE_TYPE, &staged);
}

// Stages with NtCreateFile replaced by `hook`; 98 when the hook cannot be made.
static int StageWithCreateHook(const char *base, const char *file, const char *outside, NtCreateFileFn hook)
{
    g_hook.outside = outside;
    g_createFileReplacement = hook;
    ScopedImportPatch patch("kernel32.dll", "GetProcAddress", (void *)GetProcAddressWithHook);
    if (!patch.ok())
        return 98;
    g_hook.realGetProcAddress = (GetProcAddressFn)patch.original();
    int staged = Stage(base, file);
    return g_hook.done ? (int)g_hook.result : staged;
}

// Runs `action` with WriteFile replaced by `hook`; 98 when it cannot be made.
template <typename Action> static int WithWriteHook(WriteFileFn hook, Action action)
{
    ScopedImportPatch patch("kernel32.dll", "WriteFile", (void *)hook);
    if (!patch.ok())
        return 98;
    g_hook.realWriteFile = (WriteFileFn)patch.original();
    return action();
}

static int Hold(const char *path, const char *ready, const char *release)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return (int)GetLastError();
    HANDLE readyEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, ready);
    HANDLE releaseEvent = OpenEventA(SYNCHRONIZE, FALSE, release);
    if (readyEvent == NULL || releaseEvent == NULL)
        return 95;
    SetEvent(readyEvent);
    WaitForSingleObject(releaseEvent, 60000); // a hang guard, not a timing
    CloseHandle(file);
    return 0;
}

static DWORD WINAPI EndTheProcess(void *)
{
    FailWithCode(LABEL_CREATE_FILE, 1234);
}

// An end from another thread while this one is between BeginEngineStart and
// EndEngineStart must wait for EndEngineStart. The end is a silent run's,
// without a box, which would take the watcher longer to answer than the
// start takes: its record goes to the marker's folder.
static int EndDuringEngineStart(const char *marker)
{
    std::string folder(marker, strrchr(marker, '\\') - marker);
    SetEnvironmentVariableA("TMPDIR", folder.c_str());
    ShowNoBoxes();
    if (!BeginEngineStart())
        return 94;
    HANDLE ender = CreateThread(NULL, 0, EndTheProcess, NULL, 0, NULL);
    Sleep(300); // the ender is waiting for the start by now, or has ended the process
    WriteWholeFile(marker, "the start ended first");
    EndEngineStart();
    WaitForSingleObject(ender, 60000);
    return 93; // the ender did not end the process
}

static int HasEvent(const char *name, const char *started, const char *closed)
{
    HANDLE startedEvent = OpenEventA(EVENT_MODIFY_STATE, FALSE, started);
    HANDLE closedEvent = OpenEventA(SYNCHRONIZE, FALSE, closed);
    if (startedEvent == NULL || closedEvent == NULL)
        return 95;
    SetEvent(startedEvent);
    WaitForSingleObject(closedEvent, 60000);
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name);
    return event != NULL ? 0 : (int)GetLastError();
}

static int HasHandle(const char *value, const char *name)
{
    typedef NTSTATUS(NTAPI * NtQueryObjectFn)(HANDLE, OBJECT_INFORMATION_CLASS, PVOID, ULONG, PULONG);
    HANDLE handle = (HANDLE)(ULONG_PTR)_strtoui64(value, NULL, 10);
    DWORD flags;
    if (!GetHandleInformation(handle, &flags))
        return 0;
    NtQueryObjectFn queryObject =
        (NtQueryObjectFn)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject");
    static union {
        UNICODE_STRING name;
        BYTE room[4096];
    } information;
    ULONG length = 0;
    if (queryObject == NULL ||
        queryObject(handle, (OBJECT_INFORMATION_CLASS)1 /* ObjectNameInformation */, &information,
                    sizeof(information), &length) != 0)
        return 2;
    char objectName[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, information.name.Buffer, information.name.Length / sizeof(WCHAR), objectName,
                        sizeof(objectName) - 1, NULL, NULL);
    const char *tail = strrchr(objectName, '\\');
    return tail != NULL && strcmp(tail + 1, name) == 0 ? 1 : 2;
}

// 0 when `module` is `name` in the system directory, 1 elsewhere, 2 none.
static int WhereLoaded(HMODULE module, const char *name)
{
    if (module == NULL)
        return 2;
    char loaded[MAX_PATH], expected[MAX_PATH];
    GetModuleFileNameA(module, loaded, MAX_PATH);
    GetSystemDirectoryA(expected, MAX_PATH);
    lstrcatA(expected, "\\");
    lstrcatA(expected, name);
    return lstrcmpiA(loaded, expected) == 0 ? 0 : 1;
}

// One loader a process: once a module is loaded, a load by bare name finds
// it by its name, wherever a search would look.
static int LoadFromTheSystem(const char *name, const char *loader)
{
    return WhereLoaded(strcmp(loader, "logged") == 0 ? HUX_System_LoadLibrary(name) : LoadSystemLibrary(name), name);
}

typedef HMODULE(WINAPI *LoadLibraryExAFn)(LPCSTR, HANDLE, DWORD);
static LoadLibraryExAFn g_realLoadLibraryEx;
static HANDLE g_loadRecord = INVALID_HANDLE_VALUE;

static HMODULE WINAPI RecordLoad(LPCSTR name, HANDLE file, DWORD flags)
{
    char line[MAX_PATH + 32];
    _snprintf(line, sizeof(line) - 1, "%s|%lu\n", name, flags);
    line[sizeof(line) - 1] = '\0';
    DWORD written;
    WriteFile(g_loadRecord, line, (DWORD)strlen(line), &written, NULL);
    return g_realLoadLibraryEx(name, file, flags);
}

static int RecordLoads(const char *record, const char *path)
{
    g_loadRecord = CreateFileA(record, GENERIC_WRITE, FILE_SHARE_READ, NULL, CREATE_ALWAYS, 0, NULL);
    ScopedImportPatch patch("kernel32.dll", "LoadLibraryExA", (void *)RecordLoad);
    if (g_loadRecord == INVALID_HANDLE_VALUE || !patch.ok())
        return 98;
    g_realLoadLibraryEx = (LoadLibraryExAFn)patch.original();
    char folder[MAX_PATH];
    StagedFile staged;
    if (strcmp(path, "silent-boxes") == 0)
        ShowNoBoxes();
    if (strcmp(path, "gate-box") == 0 || strcmp(path, "silent-boxes") == 0)
        ShowEngineTooOldBox(GetModuleHandleA(NULL));
    if (strcmp(path, "boxes") == 0 || strcmp(path, "silent-boxes") == 0)
        FailWithCode(LABEL_CREATE_FILE, 5); // ends the process
    if (strcmp(path, "lookup") == 0)
        GetUserDataFolder(folder);
    if (strcmp(path, "gate") == 0)
        CheckEngineVersion(NULL);
    if (strcmp(path, "chain") == 0) {
        std::string base = std::string(getenv("TEMP")) + "\\" + UniqueName("wt-record");
        FormStagedFile(&staged, base.c_str(), "a.bin");
        staged.makesBase = 1;
        ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_8192, TEST_RESOURCE_TYPE, &staged);
    }
    if (strcmp(path, "harden") == 0)
        HardenDllSearchPath("");
    CloseHandle(g_loadRecord);
    return 0;
}

static int RunChildAction(int argc, char **argv)
{
    const char *action = argv[2];
    if (argc == 5 && strcmp(action, "extract") == 0 && strcmp(argv[4], "-") == 0) {
        StagedFile unformed;
        FormStagedFile(&unformed, "", "");
        return ExtractResourceToFile(GetModuleHandleA(NULL), atoi(argv[3]), TEST_RESOURCE_TYPE, &unformed);
    }
    if (argc == 4 && strcmp(action, "fail") == 0) {
        SetLastError((DWORD)strtoul(argv[3], NULL, 0));
        FailWithSystemError(LABEL_CREATE_FILE);
    }
    if (argc == 5 && strcmp(action, "stage") == 0)
        return Stage(argv[3], argv[4]);
    if (argc == 5 && strcmp(action, "stage-cabinet") == 0)
        return Stage(argv[3], argv[4], 0);
    if (argc == 6 && strcmp(action, "stage-relinked") == 0)
        return StageWithCreateHook(argv[3], argv[4], argv[5], CreateAfterPlantingHardLink);
    if (argc == 6 && strcmp(action, "stage-swapped") == 0)
        return StageWithCreateHook(argv[3], argv[4], argv[5], CreateAfterSwappingTheKitFolder);
    if (argc == 5 && strcmp(action, "stage-renamed") == 0) {
        return WithWriteHook(WriteWhileRenaming, [&] {
            int staged = Stage(argv[3], argv[4]);
            return g_hook.done ? (int)g_hook.result : staged;
        });
    }
    if (argc == 6 && strcmp(action, "stage-full") == 0) {
        g_hook.chunksLeft = atoi(argv[5]) - 1;
        return WithWriteHook(WriteUntilTheDiskIsFull, [&] { return Stage(argv[3], argv[4]); });
    }
    if ((argc == 3 || argc == 4) && strcmp(action, "stage-package") == 0)
        return argc == 3 ? StagePackage() : StagePackageWithoutShortNames();
    if (argc == 3 && strcmp(action, "cabinets") == 0)
        return (int)CabinetWriterThread(GetModuleHandleA(NULL));
    if (argc == 4 && strcmp(action, "cabinets-full") == 0) {
        g_hook.chunksLeft = atoi(argv[3]) - 1;
        return WithWriteHook(WriteUntilTheDiskIsFull, [] { return (int)CabinetWriterThread(GetModuleHandleA(NULL)); });
    }
    if (argc == 5 && strcmp(action, "rename") == 0)
        return MoveFileA(argv[3], argv[4]) ? 0 : (int)GetLastError();
    if (argc == 6 && strcmp(action, "hold") == 0)
        return Hold(argv[3], argv[4], argv[5]);
    if (argc == 4 && strcmp(action, "end-during-start") == 0)
        return EndDuringEngineStart(argv[3]);
    if (argc == 5 && strcmp(action, "load-system") == 0)
        return LoadFromTheSystem(argv[3], argv[4]);
    if (argc == 4 && strcmp(action, "load-bare") == 0)
        return WhereLoaded(LoadLibraryA(argv[3]), argv[3]);
    if (argc == 5 && strcmp(action, "record-loads") == 0)
        return RecordLoads(argv[3], argv[4]);
    if (argc == 5 && strcmp(action, "has-handle") == 0)
        return HasHandle(argv[3], argv[4]);
    if (argc == 6 && strcmp(action, "has-event") == 0)
        return HasEvent(argv[3], argv[4], argv[5]);
    return 99;
}

// A test that reaches a path showing a message box in this process would
// wait for an answer nobody gives, until the run's hang guard minutes later.
// This thread looks for such a box and ends the run at once, saying which
// box and which test; paths that are meant to show one run in a child under
// the watcher (RunChild).
enum { EXIT_BOX_IN_TEST_PROCESS = 0xB0 };

static BOOL CALLBACK EndRunAtBoxOfThisProcess(HWND window, LPARAM)
{
    DWORD owner = 0;
    char className[32];
    GetWindowThreadProcessId(window, &owner);
    if (owner != GetCurrentProcessId() || !IsWindowVisible(window) ||
        !GetClassNameA(window, className, sizeof(className)) || strcmp(className, "#32770") != 0)
        return TRUE;
    char caption[512] = "", text[2048] = "";
    GetWindowTextA(window, caption, sizeof(caption));
    GetDlgItemTextA(window, 0xFFFF, text, sizeof(text)); // the box's static text
    const testing::TestInfo *test = testing::UnitTest::GetInstance()->current_test_info();
    fflush(stdout);
    fprintf(stderr, "\nFAIL: %s.%s showed a message box in the test process, which nobody answers:\n  %s | %s\n",
            test != NULL ? test->test_suite_name() : "?", test != NULL ? test->name() : "?", caption, text);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), EXIT_BOX_IN_TEST_PROCESS);
    return FALSE;
}

// Set when the tests are done: the watcher ends before the process does,
// since Wine may kill a process outright that exits while another of its
// threads is inside a window call.
static HANDLE g_testsDone;

static DWORD WINAPI WatchForBoxes(void *)
{
    do
        EnumWindows(EndRunAtBoxOfThisProcess, 0);
    while (WaitForSingleObject(g_testsDone, 50) == WAIT_TIMEOUT);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "--child") == 0)
        return RunChildAction(argc, argv);
    g_testsDone = CreateEventA(NULL, TRUE, FALSE, NULL);
    HANDLE watcher = g_testsDone != NULL ? CreateThread(NULL, 0, WatchForBoxes, NULL, 0, NULL) : NULL;
    testing::InitGoogleTest(&argc, argv);
    int result = RUN_ALL_TESTS();
    if (watcher != NULL) {
        SetEvent(g_testsDone);
        WaitForSingleObject(watcher, INFINITE);
        CloseHandle(watcher);
    }
    return result;
}
