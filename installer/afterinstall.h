// The two phases after the main engine run: the reinstall handshake and the
// silent follow-up installs from the kit home.
// What decides, free of Win32 and tested natively: installer/afterinstall_logic.h.
#ifndef INSTALLER_AFTERINSTALL_H
#define INSTALLER_AFTERINSTALL_H

#include <windows.h>

// The reinstall handshake. When the package left "InstallStatus" = "reinstall"
// in the vendor key, removes it and runs `mainCommand` once more; returns that
// run's exit code. Otherwise returns `result` and leaves the value alone.
DWORD RunReinstallHandshake(char *mainCommand, DWORD result);

// The follow-ups of a silent install: installs the runtime package (hux.msi)
// and the database package (orvadb.msi) that the kit package left in the kit
// home, into the folders given ("" for the packages' own), then deletes them
// and the two runtime transforms. Nothing is touched when the kit home is not
// registered, or is no absolute folder path (IsUsableKitHome). Exit codes and
// failures are ignored.
void RunSilentFollowUps(const char *msiexecPath, unsigned short language, const char *runtimeFolder,
                        const char *databaseFolder);

#endif
