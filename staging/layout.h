// Checks on the staging layout that need no Win32 calls.
#ifndef STAGING_LAYOUT_H
#define STAGING_LAYOUT_H

#include <stddef.h>

// Whether `folder` may be the base of the staging folders: an absolute path
// ("X:\..." or "\\server\share\...") below the root of its drive or share.
// The engine runs elevated on what is staged, so staging must never happen in
// a drive root or relative to the current folder, where other users or the
// download folder decide what lies there.
int IsUsableDataFolder(const char *folder);

// The folders of a staging path "<base>\Qel\Orva\<kit folder>\<file>" that
// must never be links: the kit folder holds the file, "Orva" holds the kit
// folder, "Qel" holds "Orva".
enum { STAGING_KIT_FOLDER = 1, STAGING_ORVA_FOLDER = 2, STAGING_QEL_FOLDER = 3 };

// The folder `level` steps above the file that `path` names (one of the
// STAGING_ values), without a trailing backslash, in `out` (`cap` bytes).
// 1 on success; 0 with "" in `out` when `path` has fewer folders, when
// nothing or only a drive ("C:") would be left, or when it does not fit.
int StagingFolderOf(const char *path, int level, char *out, size_t cap);

#endif
