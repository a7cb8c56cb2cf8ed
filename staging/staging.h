// Staging folders and resource extraction: where the package and its
// cabinets are written, and the writing itself.
#ifndef STAGING_STAGING_H
#define STAGING_STAGING_H

#include <windows.h>

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
// older systems, else the user profile or the Windows folder. Returns TRUE,
// or FALSE with "" in `out` when no usable folder could be had.
BOOL GetUserDataFolder(char *out);

// Extends `path` (MAX_PATH bytes, holding the user data folder) to
// "<path>\Qel\Orva\<kit folder>\<fileName>", creating each folder on the
// way (the user data folder itself too when `createBase`). Returns 1, or 0
// with "" in `path` when the base is empty or the path would exceed 259
// characters; a cut path would stage the file somewhere else.
int BuildStagingPath(char *path, const char *fileName, BOOL createBase);

// The package's staging path in `out` (MAX_PATH bytes), folders created.
// 0 with "" in `out` when no path could be formed.
int MakePackagePath(char *out);

// The staging path of cabinet `name` (without ".cab") in `out` (MAX_PATH
// bytes): the same chain as the package's, the user data folder itself not
// created. 0 with "" in `out` when no path could be formed.
int MakeCabinetPath(char *out, const char *name);

// Whether the kit folder of the staging path `path`, its "Orva" and its
// "Qel" are real folders and not links (junctions) that would send the file
// elsewhere. 0 with ERROR_REPARSE_POINT_ENCOUNTERED as last error when one
// is a link (ERROR_BAD_PATHNAME when `path` has no such three folders). A
// folder that is missing is left to the file's creation to report.
int AreStagingFoldersReal(const char *path);

// Writes resource `id` of string type `type` to `path`, replacing any file
// there: the old file, or a link planted in its place, is deleted and the
// file created anew. Returns 1 when written, 0 when the resource does not
// exist. Any failure to write ends the process through FailWithSystemError
// (support/ending.h): a link among the three folders of `path`
// (AreStagingFoldersReal) with EXIT_STAGING_FOLDER_IS_LINK, an empty `path`
// (no staging path could be formed) with EXIT_STAGING_PATH_TOO_LONG.
int ExtractResourceToFile(HMODULE module, int id, const char *type, const char *path);

#endif
