// Entry point and main sequence: one pass on the main thread, no window and
// no message loop. The program's ends, in the order they can come (the codes
// are named in support/ending.h):
//   EXIT_BAD_COMMAND_LINE   an option does not fit its buffer
//   EXIT_ENGINE_TOO_OLD     msi.dll older than the package needs, after the
//                           engine-gate box
//   EXIT_NO_PACKAGE         the package is not among the resources
//   FailWithSystemError     a staged file cannot be written, after the
//                           "Error" box (its record in a silent run), from the
//                           main thread (the package) or the cabinet writer:
//                           EXIT_STAGING_PATH_TOO_LONG, ERROR_NO_UNICODE_TRANSLATION
//                           (no spelling of the user data folder),
//                           EXIT_STAGING_FOLDER_IS_LINK, or the system's code
//   EXIT_ENGINE_NOT_FOUND   msiexec.exe cannot be located
//   EXIT_BAD_COMMAND_LINE   the main command does not fit
//   the engine's exit code  of its run, or of the rerun the package asked for;
//                           EXIT_ENGINE_NOT_STARTED when it could not start
#include <windows.h>

#include <stdlib.h>

#include "app/options.h"
#include "installer/afterinstall.h"
#include "installer/engine_logic.h"
#include "installer/engine.h"
#include "staging/cabinet_writer.h"
#include "staging/staging.h"
#include "support/ending.h"
#include "support/profile.h"
#include "support/sysload.h"

// Held for the process's life: the event exists only while a handle to it is
// open, and the worker and the package find this one by its name.
static HANDLE g_cabinetEvent;

static unsigned short ChooseInstallLanguage(void)
{
    return ChooseLanguageFor(GetUserDefaultLangID());
}

static DWORD RunMainSequence(HINSTANCE instance, int argc, char **argv)
{
    static Options options; // 3 KB of option buffers: kept off the stack
    StagedFile package;
    char msiexecPath[MAX_PATH];
    char mainCommand[COMMAND_BUFFER_SIZE];

    // Before any library is loaded, the current folder leaves the DLL search
    // order. A failure is logged and start-up goes on.
    HardenDllSearchPath("");

    InitOptions(&options, ChooseInstallLanguage());
    if (!TranslateOptions(argc, argv, &options))
        return EXIT_BAD_COMMAND_LINE;
    if (options.silent)
        ShowNoBoxes(); // nobody is there to answer one

    if (!CheckEngineVersion(NULL)) {
        ShowEngineTooOldBox(instance);
        return EXIT_ENGINE_TOO_OLD;
    }

    // A package path that could not be formed stays in the record as "": an
    // absent package still returns EXIT_NO_PACKAGE, a present one then ends
    // the process with EXIT_STAGING_PATH_TOO_LONG.
    MakePackagePath(&package);
    if (!ExtractResourceToFile(instance, PACKAGE_RESOURCE_ID, PACKAGE_RESOURCE_TYPE, &package))
        return EXIT_NO_PACKAGE;

    if (!LocateMsiexec(msiexecPath, sizeof(msiexecPath)))
        return EXIT_ENGINE_NOT_FOUND;

    if (!ComposeMainCommand(mainCommand, sizeof(mainCommand), msiexecPath, package.path,
                            options.language, options.properties))
        return EXIT_BAD_COMMAND_LINE;

    // The package waits on the event, so it must exist before the engine
    // starts; its handle is held until the process ends, and every engine
    // gets one of its own.
    g_cabinetEvent = CreateCabinetEvent();
    ShareWithEveryEngine(g_cabinetEvent);
    HANDLE cabinetWriter = StartCabinetWriter(instance);

    DWORD result = RunAndWait(mainCommand);

    result = RunReinstallHandshake(mainCommand, result);
    if (options.silent) // whatever the engine gave; never changes the result
        RunSilentFollowUps(msiexecPath, options.language, options.runtimeFolder, options.databaseFolder);

    // An engine that ended early (a cancelled maintenance run) must not cut
    // a cabinet that later repairs read from the kit folder.
    FinishCabinetWriter(cabinetWriter);
    return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return (int)RunMainSequence(instance, __argc, __argv);
}
