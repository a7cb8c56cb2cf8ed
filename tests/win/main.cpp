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
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include "staging/cabinet_writer.h"
#include "staging/staging.h"
#include "tests/win/helpers.h"

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
    if (argc == 5 && strcmp(argv[2], "stage") == 0) {
        StagedFile staged;
        BuildStagedFile(&staged, argv[3], argv[4], TRUE);
        return ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_20000, TEST_RESOURCE_TYPE, &staged);
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
