// What the installed packages left behind: typed reads of registry strings,
// the vendor key's values (with the InstallStatus handshake value), the kit
// home, and a file-presence probe. Synchronous, silent, no state of their own.
// What decides, free of Win32 and tested natively: support/probes_logic.h.
#ifndef SUPPORT_PROBES_H
#define SUPPORT_PROBES_H

#include <windows.h>

// Reads the string value `name` of the open `key` into `buffer` (NULL for a
// size query). `count` holds the buffer's size on entry and the size the
// registry reports on return. Returns 0 or the query's status for a
// terminated REG_SZ, REG_EXPAND_SZ (unexpanded) or REG_MULTI_SZ; 13
// (ERROR_INVALID_DATA) for a missing value, any other type or unterminated
// data. The buffer keeps whatever the query wrote: nothing is cleared,
// repaired or terminated here.
LONG QueryRegistryString(HKEY key, char *buffer, const char *name, DWORD *count);

// Reads the vendor key's value `name` (HKLM "Software", then PROFILE_VENDOR) into
// `buffer` of `size` bytes. 1 for a well-formed, non-empty string, else 0.
// Whatever the result, the buffer holds exactly what the query wrote into it
// and nothing else: untouched when the key or value is missing, the raw bytes
// of data that failed the type or termination test.
int ReadVendorValue(const char *name, char *buffer, DWORD size);

// Deletes the vendor key's value `name`, and the vendor key itself when that
// leaves it without values and subkeys. 1 when the vendor key could be opened
// for deleting, else 0 (nothing deleted).
int DeleteVendorValue(const char *name);

// Removes the "InstallStatus" request (and the vendor key if left empty).
// Always 1.
int ClearInstallStatus(void);

// The installed kit's home folder, "OrvaHome" of the kit key, into `buffer`
// of `size` bytes. 1 when it reads as a string (the empty string included),
// else 0; the buffer keeps what the query wrote.
int GetKitHome(char *buffer, DWORD size);

// 1 when anything matches `path`: a file, a folder, or for wildcards any
// entry; else 0.
int FileExists(const char *path);

#endif
