// Staging folders and resource extraction: where the package and its
// cabinets are written, and the writing itself.
// What decides, free of Win32 and tested natively: staging/staging_logic.h.
#ifndef STAGING_STAGING_H
#define STAGING_STAGING_H

#include <windows.h>

#include "staging/staging_logic.h"
#include "support/ending.h"

// Labels of the fatal "Error" box; "Wrapper" names this program.
#define LABEL_CREATE_FILE "Installer : Wrapper.CreateFile "
#define LABEL_WRITE_FILE "Installer : Wrapper.WriteFile (In small chunks) "
#define LABEL_CLOSE_HANDLE "Installer : Wrapper.CloseHandle "

// True when the system reports the NT platform with major version 6. Computed
// once and cached; the main thread asks first, before any worker exists.
BOOL IsVistaFamily(void);

// The libraries of the user data folder's lookup, both loaded by full path
// from the system folder: the DLL the shell would otherwise load by bare
// name during the lookup, then the lookup library itself (shell32 on 6.x,
// shfolder before). Held for one lookup, or by the cabinet writer for all of
// its lookups.
enum { FOLDER_LOOKUP_LIBRARY_COUNT = 2 };
struct FolderLookupLibraries {
    HMODULE modules[FOLDER_LOOKUP_LIBRARY_COUNT]; // NULL for one that did not load
};
void HoldFolderLookupLibraries(FolderLookupLibraries *held);
void ReleaseFolderLookupLibraries(FolderLookupLibraries *held);

// Fills `out` (MAX_PATH bytes) with the per-user base folder of the staging
// layout: LocalLow on version 6.x, the roaming application data folder on
// older systems, else the user profile or the Windows folder. The shell gives
// the folder in wide characters; `out` gets its spelling in the ANSI code
// page, and where a name of the path has no spelling there (a user name in
// Chinese characters on a system whose code page is 1252), the spelling of
// its short form, whose names are ASCII. Returns 0, or with "" in `out`:
// ERROR_NO_UNICODE_TRANSLATION when the folder has no spelling even so (a
// volume without short names), since a folder elsewhere would not be the
// one the package cleans up; EXIT_STAGING_PATH_TOO_LONG when no usable
// folder could be had.
DWORD FindUserDataFolder(char *out);

// FindUserDataFolder as a yes or no.
BOOL GetUserDataFolder(char *out);

// The package's staged file under the user data folder; its chain makes the
// user data folder too. Its path is "" when none could be formed, and its
// unformedCode then says why; ExtractResourceToFile acts on that, so there is
// no result to ignore. Nothing is made yet: the folders are made as the file
// is written.
void MakePackagePath(StagedFile *out);

// The staged file of cabinet `name` (without ".cab"): the same chain as the
// package's, without making the user data folder itself.
void MakeCabinetPath(StagedFile *out, const char *name);

// Why a staged file could not be written: the label of the step that failed
// (LABEL_CREATE_FILE, LABEL_WRITE_FILE, LABEL_CLOSE_HANDLE) and its code.
struct StagingFailure {
    const char *label;
    DWORD code; // 0: nothing failed
};

// Writes resource `id` of string type `type` to the staged file, replacing
// any file there: the chain is held (staging/chain.h), the old file moved
// aside and deleted, the file created anew and written in chunks. Returns 1
// when written; 0 when the resource does not exist (failure->code 0) or the
// write failed (failure filled in). A file this run created and could not
// finish is removed before this returns. An empty path fails with its
// unformedCode, a link among its three folders with
// EXIT_STAGING_FOLDER_IS_LINK, else with the code the creation, writing or
// closing failed with.
int WriteResourceToStagedFile(HMODULE module, int id, const char *type, const StagedFile *staged,
                              StagingFailure *failure);

// WriteResourceToStagedFile, with any failure ending the process through
// FailWithCode (support/ending.h): the "Error" box, then the code. Returns 1
// when written, 0 when the resource does not exist.
int ExtractResourceToFile(HMODULE module, int id, const char *type, const StagedFile *staged);

#endif
