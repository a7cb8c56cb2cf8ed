// Windows-level tests. Besides running the tests, the program serves as the
// child of the tests whose subject ends the process:
//   --child extract <id> -        ExtractResourceToFile of a test resource to
//                                 a staged file whose path could not be
//                                 formed; the exit code is its result unless
//                                 it fails
//   --child fail <code>           FailWithSystemError with <code> as last error
//   --child stage <base> <file>   the staged file <file> under <base>, its
//                                 folders made, and resource 201 written there
//   --child cabinets              the cabinet writer, on this thread
//   --child stage-relinked <base> <file> <outside>
//                                 as stage, with a hard link to <outside> put
//                                 back at the path right after the product
//                                 deletes what stood there
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "staging/cabinet_writer.h"
#include "staging/staging.h"
#include "tests/win/helpers.h"
#include "tests/win/imports.h"

typedef BOOL(WINAPI *DeleteFileAFn)(LPCSTR);
static DeleteFileAFn g_realDeleteFile;
static const char *g_linkTarget;

// DeleteFileA as an attacker racing the product would have it: the file is
// deleted, and a hard link to a file outside is planted at once in its place.
static BOOL WINAPI DeleteAndPlantHardLink(LPCSTR path)
{
    BOOL deleted = g_realDeleteFile(path);
    DWORD code = GetLastError();
    CreateHardLinkA(path, g_linkTarget, NULL);
    SetLastError(code);
    return deleted;
}

// Stages resource 201 as the file <file> under <base>, its folders made.
static int Stage(const char *base, const char *file)
{
    StagedFile staged;
    BuildStagedFile(&staged, base, file, TRUE);
    return ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_20000, TEST_RESOURCE_TYPE, &staged);
}

static int RunChildAction(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[2], "extract") == 0 && strcmp(argv[4], "-") == 0) {
        StagedFile unformed;
        FormStagedFile(&unformed, "", "");
        return ExtractResourceToFile(GetModuleHandleA(NULL), atoi(argv[3]), TEST_RESOURCE_TYPE, &unformed);
    }
    if (argc == 4 && strcmp(argv[2], "fail") == 0) {
        SetLastError((DWORD)strtoul(argv[3], NULL, 0));
        FailWithSystemError(LABEL_CREATE_FILE);
    }
    if (argc == 5 && strcmp(argv[2], "stage") == 0)
        return Stage(argv[3], argv[4]);
    if (argc == 6 && strcmp(argv[2], "stage-relinked") == 0) {
        g_linkTarget = argv[5];
        ScopedImportPatch patch("kernel32.dll", "DeleteFileA", (void *)DeleteAndPlantHardLink);
        if (!patch.ok())
            return 98; // the fault cannot be made
        g_realDeleteFile = (DeleteFileAFn)patch.original();
        return Stage(argv[3], argv[4]);
    }
    if (argc == 3 && strcmp(argv[2], "cabinets") == 0)
        return (int)CabinetWriterThread(GetModuleHandleA(NULL));
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
