// Checks on the staging layout that need no Win32 calls.
#ifndef STAGING_LAYOUT_H
#define STAGING_LAYOUT_H

// Whether `folder` may be the base of the staging folders: an absolute path
// ("X:\..." or "\\server\share\...") below the root of its drive or share.
// The engine runs elevated on what is staged, so staging must never happen in
// a drive root or relative to the current folder, where other users or the
// download folder decide what lies there.
int IsUsableDataFolder(const char *folder);

#endif
