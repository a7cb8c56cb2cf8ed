// Windows-level tests. Besides running the tests, the program serves as the
// child of the tests whose subject ends the process:
//   --child extract <id> <path>   ExtractResourceToFile of a test resource;
//                                 the exit code is its result unless it fails
//   --child fail <code>           FailWithSystemError with <code> as last error
//   --child stage <base> <file>   the staging path of <file> under <base>, its
//                                 folders made, and resource 201 written there
//   --child cabinets              the cabinet writer, on this thread
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "staging/cabinet_writer.h"
#include "staging/staging.h"
#include "tests/win/helpers.h"

static int RunChildAction(int argc, char **argv)
{
    if (argc == 5 && strcmp(argv[2], "extract") == 0)
        return ExtractResourceToFile(GetModuleHandleA(NULL), atoi(argv[3]), TEST_RESOURCE_TYPE,
                                     strcmp(argv[4], "-") == 0 ? "" : argv[4]);
    if (argc == 4 && strcmp(argv[2], "fail") == 0) {
        SetLastError((DWORD)strtoul(argv[3], NULL, 0));
        FailWithSystemError(LABEL_CREATE_FILE);
    }
    if (argc == 5 && strcmp(argv[2], "stage") == 0) {
        char path[MAX_PATH];
        lstrcpynA(path, argv[3], MAX_PATH);
        BuildStagingPath(path, argv[4], TRUE);
        return ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_20000, TEST_RESOURCE_TYPE, path);
    }
    if (argc == 3 && strcmp(argv[2], "cabinets") == 0)
        return (int)CabinetWriterThread(GetModuleHandleA(NULL));
    return 99;
}

int main(int argc, char **argv)
{
    if (argc >= 2 && strcmp(argv[1], "--child") == 0)
        return RunChildAction(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
