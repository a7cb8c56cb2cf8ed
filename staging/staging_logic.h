// The staging layout's rules that need no Win32 calls: which folder may be
// its base, and the chain of folders each staged file lies in.
// Its Win32 twin: staging/staging.h.
#ifndef STAGING_STAGING_LOGIC_H
#define STAGING_STAGING_LOGIC_H

#include <stddef.h>

// Whether `folder` may be the base of the staging folders: an absolute path
// ("X:\..." or "\\server\share\...") below the root of its drive or share.
// The engine runs elevated on what is staged, so staging must never happen in
// a drive root or relative to the current folder, where other users or the
// download folder decide what lies there.
int IsUsableDataFolder(const char *folder);

enum {
    STAGING_PATH_SIZE = 260, // MAX_PATH: 259 characters and the terminator
    STAGING_FOLDER_COUNT = 3 // Qel, Orva, the kit folder
};

// One staged file's chain "<base>\Qel\Orva\<kit folder>\<file>", formed once
// and then used both to create the folders and to check them before the file
// is created. None of the three folders may be a link: "Qel" holds "Orva",
// "Orva" holds the kit folder, the kit folder holds the file.
struct StagedFile {
    char base[STAGING_PATH_SIZE];
    char folders[STAGING_FOLDER_COUNT][STAGING_PATH_SIZE]; // from the outside in
    char path[STAGING_PATH_SIZE];                           // the file
};

// Forms `staged` for `fileName` under `base`, each folder from the one
// before it. 1 when the file's path fits; else 0 with "" in `path` and in
// every folder that did not fit either (all of them when `base` is empty):
// a cut path would stage the file somewhere else. The folders that fit are
// kept, and made by the caller as before.
int FormStagedFile(StagedFile *staged, const char *base, const char *fileName);

#endif
