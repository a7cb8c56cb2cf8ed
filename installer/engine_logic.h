// Deciding logic of the engine runs: the engine version test and the
// composition of the engine command line. No Win32 calls here.
// Its Win32 twin: installer/engine.h.
#ifndef INSTALLER_ENGINE_LOGIC_H
#define INSTALLER_ENGINE_LOGIC_H

#include <stddef.h>

enum { COMMAND_BUFFER_SIZE = 1024 };

// Whether an engine file version (dwFileVersionMS, dwFileVersionLS) is
// 2.0.2600.0 or later, the oldest engine the package can run on.
int IsEngineVersionAccepted(unsigned long versionMS, unsigned long versionLS);

// Composes the main engine command into `out` (capacity `cap`):
//   "<msiexec>" /i "<package>" <properties> WRAPPER=1
// and for a language other than 1033, with the embedded transform named:
//   "<msiexec>" /i "<package>" TRANSFORMS=:<language> <properties> WRAPPER=1
// The template is applied literally, so an empty property string or one that
// begins with a space gives double spaces. Returns 1, or 0 with "" in `out`
// when the command would not fit.
int ComposeMainCommand(char *out, size_t cap, const char *msiexecPath,
                       const char *packagePath, unsigned short language,
                       const char *properties);

// The program a command line starts, into `out` (capacity `cap`): the text
// between its leading double quotes, or up to its first blank when it does
// not begin with one. 1, or 0 with "" in `out` when that would not fit.
int CommandProgram(char *out, size_t cap, const char *commandLine);

#endif
