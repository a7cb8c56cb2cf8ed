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
// older systems, else the user profile or the Windows folder. Returns TRUE,
// or FALSE with "" in `out` when no usable folder could be had.
BOOL GetUserDataFolder(char *out);

// Forms the chain of `fileName` under `base` into `staged` (FormStagedFile)
// and creates its folders from the outside in, `base` itself too when
// `createBase`; no folder is made beneath one that is a link. Returns 1, or 0
// with "" as the file's path when `base` is empty or the path would exceed
// 259 characters.
int BuildStagedFile(StagedFile *staged, const char *base, const char *fileName, BOOL createBase);

// The package's staged file under the user data folder, folders created.
// Its path is "" when none could be formed; ExtractResourceToFile acts on
// that, so there is no result to ignore.
void MakePackagePath(StagedFile *out);

// The staged file of cabinet `name` (without ".cab"): the same chain as the
// package's, the user data folder itself not created. Its path is "" when
// none could be formed.
void MakeCabinetPath(StagedFile *out, const char *name);

// Whether the three folders of `staged` are real folders and not links
// (junctions) that would send the file elsewhere. A folder that is missing is
// left to the file's creation to report.
int AreStagingFoldersReal(const StagedFile *staged);

// Writes resource `id` of string type `type` to the path of `staged`,
// replacing any file there: the old file, or a link planted in its place, is
// deleted and the file created anew. Returns 1 when written, 0 when the
// resource does not exist. Any failure to write ends the process through
// FailWithSystemError (support/ending.h): an empty path (none could be
// formed) with EXIT_STAGING_PATH_TOO_LONG, a link among its three folders
// (AreStagingFoldersReal) with EXIT_STAGING_FOLDER_IS_LINK, else the code
// the file's creation, writing or closing failed with.
int ExtractResourceToFile(HMODULE module, int id, const char *type, const StagedFile *staged);

#endif
