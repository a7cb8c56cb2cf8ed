// The staging layout's rules that need no Win32 calls: which folder may be
// its base, the chain of folders each staged file lies in, the name an old
// copy of a staged file is moved aside to, the label the chain's folders get,
// and the code a failure of the chain's system calls ends the run with.
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

// The names of the chain's folders, from the outside in.
extern const char *const kStagingFolderNames[STAGING_FOLDER_COUNT];

// One staged file's chain "<base>\Qel\Orva\<kit folder>\<file>", formed once.
// The folders are made and opened one inside the other from `base` on, by
// their names; `path` is what the engine is given. None of the three folders
// may be a link: "Qel" holds "Orva", "Orva" holds the kit folder, the kit
// folder holds the file.
struct StagedFile {
    char base[STAGING_PATH_SIZE];
    char folders[STAGING_FOLDER_COUNT][STAGING_PATH_SIZE]; // from the outside in
    char path[STAGING_PATH_SIZE];                           // the file
    char name[STAGING_PATH_SIZE];                           // the file's own name
    int makesBase;             // the base folder is made too (the package's chain)
    unsigned long unformedCode; // when `path` is "": the code the write ends with
};

// Forms `staged` for `fileName` under `base`, each folder from the one
// before it. 1 when the file's path fits; else 0 with "" in `path` and in
// every folder that did not fit either (all of them when `base` is empty):
// a cut path would stage the file somewhere else. The folders that fit are
// kept. `unformedCode` is STAGING_UNFORMED_PATH_CODE, `makesBase` 0.
int FormStagedFile(StagedFile *staged, const char *base, const char *fileName);

// What a write of a staged file whose path could not be formed ends with:
// ERROR_FILENAME_EXCED_RANGE, no path of 259 characters.
enum { STAGING_UNFORMED_PATH_CODE = 206 };

// The name the old copy of staged file `fileName` is moved aside to in the
// kit folder, "<file name>.<n>.old", into `out` (capacity `cap`): the
// staged name is then free at once, even while another program (a scanner,
// an indexer) still holds the old file open; the old copy goes when its last
// holder closes it. 1, or 0 with "" when it would not fit.
int FormAsideName(char *out, size_t cap, const char *fileName, unsigned n);

// The system ACL that labels a folder of the chain: one mandatory label of
// medium integrity with no-write-up, inherited by the folders and files made
// in it, so that programs of low integrity can neither create, change nor
// rename anything there. Its bytes, as the system reads an ACL.
enum { STAGING_LABEL_ACL_SIZE = 28 };
void FormMediumLabelAcl(unsigned char out[STAGING_LABEL_ACL_SIZE]);

// The Win32 code a staging step that failed with NT status `status` ends the
// run with, given `systemCode`, the system's own translation of it. The codes
// stay those the path-based calls gave before the chain was opened by handle:
//   a name taken when the file is created   80 (as CREATE_NEW reports it)
//   a file where a folder of the chain goes  3 (the path to the file is not found)
//   a folder where the file goes             5 (as creating a file over a folder)
unsigned long StagingCodeOfStatus(unsigned long status, unsigned long systemCode);

#endif
