// Entry point and main sequence: one pass of phases on the main thread, no
// window and no message loop. The value WinMain returns is the exit code.
#include <windows.h>

#include <stdlib.h>

#include "app/options.h"
#include "installer/afterinstall.h"
#include "installer/command.h"
#include "installer/engine.h"
#include "staging/cabinet_writer.h"
#include "staging/staging.h"
#include "support/ending.h"
#include "support/profile.h"
#include "support/sysload.h"

enum : DWORD {
    EXIT_ENGINE_TOO_OLD = 0xFFFFFFFE,   // -2, after message string 4
    EXIT_ENGINE_NOT_FOUND = 0xFFFFFFFD, // -3
    EXIT_NO_PACKAGE = 1,                // also what a failed engine start gives
    EXIT_BAD_COMMAND_LINE = ERROR_INVALID_COMMAND_LINE, // what msiexec answers too
};

enum { MESSAGE_ENGINE_TOO_OLD = 4 };

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
    char packagePath[MAX_PATH];
    char msiexecPath[MAX_PATH];
    char mainCommand[COMMAND_BUFFER_SIZE];

    // Phase 1: before any library is loaded, the current folder leaves the
    // DLL search order. A failure is logged and start-up goes on.
    HardenDllSearchPath("");

    InitOptions(&options, ChooseInstallLanguage());
    if (!TranslateOptions(argc, argv, &options))
        return EXIT_BAD_COMMAND_LINE;

    if (!CheckEngineVersion(NULL)) {
        // Message string 4 in the user's language, with an empty caption.
        ShowMessageStringBox(instance, MESSAGE_ENGINE_TOO_OLD, L"", MB_ICONERROR);
        return EXIT_ENGINE_TOO_OLD;
    }

    MakePackagePath(packagePath);
    if (!ExtractResourceToFile(instance, PACKAGE_RESOURCE_ID, PACKAGE_RESOURCE_TYPE, packagePath))
        return EXIT_NO_PACKAGE;

    if (!LocateMsiexec(msiexecPath, sizeof(msiexecPath)))
        return EXIT_ENGINE_NOT_FOUND;

    if (!ComposeMainCommand(mainCommand, sizeof(mainCommand), msiexecPath, packagePath,
                            options.language, options.properties))
        return EXIT_BAD_COMMAND_LINE;

    // The package waits on the event, so it must exist before the engine
    // starts; its handle is held until the process ends.
    g_cabinetEvent = CreateCabinetEvent();
    HANDLE cabinetWriter = StartCabinetWriter(instance);

    DWORD result = RunAndWait(mainCommand);

    result = RunReinstallHandshake(mainCommand, result);
    if (options.silent) // whatever the engine gave; never changes the result
        RunSilentFollowUps(msiexecPath, options.language, options.pubhuxFolder, options.orvadbFolder);

    // An engine that ended early (a cancelled maintenance run) must not cut
    // a cabinet that later repairs read from the kit folder.
    FinishCabinetWriter(cabinetWriter);
    return result;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    return (int)RunMainSequence(instance, __argc, __argv);
}
