#include "installer/afterinstall.h"

#include "installer/engine.h"
#include "installer/afterinstall_logic.h"
#include "support/probes.h"

DWORD RunReinstallHandshake(char *mainCommand, DWORD result)
{
    // The package stores the text without its NUL: the zero-filled buffer
    // terminates it, which is why the buffer's text decides and not the read's
    // result.
    char status[STATUS_BUFFER_SIZE];
    ZeroMemory(status, sizeof(status));
    ReadVendorValue("InstallStatus", status, sizeof(status));
    if (!IsReinstallRequest(status, sizeof(status)))
        return result;
    ClearInstallStatus(); // before the rerun, so that a request it leaves is its own
    return RunAndWait(mainCommand);
}

// Runs `command` when it could be composed; a cut command is never run.
static void RunIfComposed(int composed, char *command)
{
    if (composed)
        RunAndWait(command); // the exit code of a follow-up is not ours to report
}

// Deletes "<kit home>\<name>" when that path fits; a cut name is never deleted.
static void DeleteKitFile(const char *kitHome, const char *name)
{
    char path[FOLLOWUP_BUFFER_SIZE];
    ZeroMemory(path, sizeof(path));
    if (MakeKitFilePath(path, sizeof(path), kitHome, name))
        DeleteFileA(path);
}

void RunSilentFollowUps(const char *msiexecPath, unsigned short language, const char *runtimeFolder,
                        const char *databaseFolder)
{
    char kitHome[FOLLOWUP_BUFFER_SIZE];
    char package[FOLLOWUP_BUFFER_SIZE];
    char command[FOLLOWUP_BUFFER_SIZE];
    ZeroMemory(kitHome, sizeof(kitHome));
    if (!GetKitHome(kitHome, sizeof(kitHome)) || !IsUsableKitHome(kitHome))
        return; // no kit installed here, or no folder: nothing of ours to install or delete

    ZeroMemory(package, sizeof(package));
    ZeroMemory(command, sizeof(command));
    if (MakeKitFilePath(package, sizeof(package), kitHome, "hux.msi") && FileExists(package) == 1)
        RunIfComposed(ComposeRuntimeCommand(command, sizeof(command), msiexecPath, package, kitHome,
                                            language, runtimeFolder),
                      command);

    ZeroMemory(package, sizeof(package));
    ZeroMemory(command, sizeof(command));
    if (MakeKitFilePath(package, sizeof(package), kitHome, "orvadb.msi") && FileExists(package) == 1)
        RunIfComposed(ComposeDatabaseCommand(command, sizeof(command), msiexecPath, package, databaseFolder),
                      command);

    // Whether or not the installs ran: the kit package leaves these for us.
    DeleteKitFile(kitHome, "hux.msi");
    DeleteKitFile(kitHome, "orvadb.msi");
    DeleteKitFile(kitHome, "hux2052.MST");
    DeleteKitFile(kitHome, "hux1041.MST");
}
