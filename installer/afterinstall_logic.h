// Deciding logic of the two phases after the main engine run: whether the
// package asked for a second run, and the paths and commands of the silent
// follow-up installs from the kit home. No Win32 calls here.
// Its Win32 twin: installer/afterinstall.h.
#ifndef INSTALLER_AFTERINSTALL_LOGIC_H
#define INSTALLER_AFTERINSTALL_LOGIC_H

#include <stddef.h>

enum {
    STATUS_BUFFER_SIZE = 512,   // the InstallStatus text as the package leaves it
    FOLLOWUP_BUFFER_SIZE = 1024 // every kit-home path and follow-up command
};

// Whether the status text in `status` (capacity `cap`) is exactly
// "reinstall". Only the buffer's own bytes are looked at: a buffer without a
// terminator holds no text and asks for nothing.
int IsReinstallRequest(const char *status, size_t cap);

// Whether `kitHome`, the kit home as the kit key holds it, is a folder the
// follow-ups may use: an absolute path with a drive ("X:\...") or a UNC root
// ("\\server\share..."), without a double quote. Anything else counts as no
// kit home at all. A relative value would be resolved against the current
// folder, which is the download folder when a user starts the program; a
// quote would end the quoted package path of a follow-up command and add
// options of its own (no Windows path holds one).
int IsUsableKitHome(const char *kitHome);

// "<kit home>\<file name>" into `out` (capacity `cap`). 1, or 0 with "" in
// `out` when it would not fit: a cut name must never be probed or deleted.
int MakeKitFilePath(char *out, size_t cap, const char *kitHome, const char *fileName);

// The runtime package's command into `out` (capacity `cap`):
//   "<msiexec>" /i "<package>" /qn ADDLOCAL=ALL SDKSILENT=1
// and for a language other than 1033, with the kit home's external transform:
//   "<msiexec>" /i "<package>" TRANSFORMS="<kit home>\hux<language>.MST" /qn ADDLOCAL=ALL SDKSILENT=1
// followed by " INSTALLDIR=" and `installDir`, unquoted, when that is not
// empty. 1, or 0 with "" in `out` when the transform path or the command
// would not fit: a cut INSTALLDIR would install elsewhere, so a command that
// does not fit is never run.
int ComposeRuntimeCommand(char *out, size_t cap, const char *msiexecPath, const char *packagePath,
                          const char *kitHome, unsigned short language, const char *installDir);

// The database package's command into `out` (capacity `cap`):
//   "<msiexec>" /i "<package>" /qn
// followed by " INSTALLDIR=" and `installDir`, unquoted, when that is not
// empty. 1, or 0 with "" in `out` when it would not fit.
int ComposeDatabaseCommand(char *out, size_t cap, const char *msiexecPath, const char *packagePath,
                           const char *installDir);

#endif
