// What a case may change on the machine, recorded before the case changes
// it and put back after the case however it ends: passed, failed, stopped
// with Ctrl-C or at the driver's guard. Safe to call from another thread
// than the case's (the console's control handler, the guard).
#ifndef DRIVER_SETTINGS_H
#define DRIVER_SETTINGS_H

#include "tests/driver/win32.h"

// Where the bootstrap and the driver work. The user data folder and the
// staging chain under it may change for a case (`local-low`).
struct Places {
    std::string system, windows, profile, programFiles, temp;
    std::string userData, staging; // LocalLow and its Qel folder
    std::string vendorFolder;       // the vendor's folder under Program Files
    std::string scratch;            // the driver's own folder for a case
};

// Finds the places of this machine and puts back what an interrupted run
// left saved. false with the reason when a place cannot be found.
bool StartSettings(std::string *problem);
const Places &CasePlaces(void);

// The folders a case may write, which the driver owns for the run: those
// that were there before are moved aside, and back at the end.
bool MoveAsideGuardedFolders(std::string *problem);
void MoveBackGuardedFolders(void);

// The shell's record of the user's LocalLow folder: one value in two keys.
extern const RegKey kUserShellFolders, kShellFolders;
extern const char kLocalLowValue[];

// Records InstallerLocation, the vendor key (with the kit keys below it) and
// LocalLow's values, which Wine's shell writes back after a lookup.
void BeginCase(void);
// Records a registry value before the case first writes or deletes it.
void RecordValue(const RegKey &key, const std::string &name);
// Records an environment variable before the case first sets it.
void RecordVariable(const std::string &name);
// A folder or link the case made outside the guarded folders: removed after it.
void RemoveAfterCase(const std::string &path);
// The user data folder for the rest of the case (its registry values are
// the caller's to change); the staging chain under it goes after the case.
void MoveUserDataForCase(const std::string &folder);
// A small disk the hook made as drive <letter>: removed after the case,
// after the folders on it.
void UnmountAfterCase(const std::string &letter);
// system32\<name> replaced by `replacement` for the case; a saved copy left
// by an interrupted run is put back first.
bool ReplaceSystemFile(const std::string &name, const std::string &replacement, std::string *problem);
// Puts back everything recorded since BeginCase.
void EndCase(void);
// EndCase and MoveBackGuardedFolders: for a run that is cut short.
void EndRunNow(void);
// Takes the settings for the rest of the process's life, for the thread
// that ends a run cut short: the case's thread records nothing more.
void HoldSettings(void);

#endif
