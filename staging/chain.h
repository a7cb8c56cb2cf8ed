// The folders a staged file lies in, held while the file is written. Each of
// Qel, Orva and the kit folder is made or found by its name inside the one
// before it, opened as the folder itself (never what a link leads to),
// checked through that handle to be a real folder, given the label that
// keeps programs of low integrity out, and held without delete sharing, so
// that nobody can rename or replace it while this run writes in it. The
// staged file is then replaced relative to the held kit folder: no path is
// resolved again between the check and the write.
// What decides, free of Win32 and tested natively: staging/staging_logic.h.
#ifndef STAGING_CHAIN_H
#define STAGING_CHAIN_H

#include <windows.h>

#include "staging/staging_logic.h"

struct HeldChain {
    HANDLE base;                          // the user data folder
    HANDLE folders[STAGING_FOLDER_COUNT]; // Qel, Orva, the kit folder
};

// Holds the chain of `staged`, making what is missing (the base folder too
// when `staged->makesBase`). 0, or the code the write of the file ends with:
// EXIT_STAGING_FOLDER_IS_LINK for a folder of the chain that is a link or
// lies elsewhere than its name says, else the code of the open that failed
// (3 for a file where a folder goes, 5 when denied, 32 when another program
// holds the folder without sharing). Release the chain whatever the result.
DWORD HoldStagingChain(const StagedFile *staged, HeldChain *chain);
void ReleaseStagingChain(HeldChain *chain);

// Creates the staged file `name` anew in the held kit folder and opens it for
// writing (no sharing). Whatever stands at the name first goes: it is moved
// aside to a name of its own (FormAsideName) and deleted there, so that the
// name is free at once even while another program holds the old file open,
// and a read-only one goes too; never through a link, and the attributes of
// a file with other links (a hard link planted at the name) are left as they
// were. 0, or the code the creation ends with: 5 for a folder at the name,
// 80 when the name could not be freed, else the system's.
DWORD CreateStagedFile(const HeldChain *chain, const char *name, HANDLE *file);

// Removes the file this run created through `file` and could not finish
// (a disk that filled up, a device error), through that handle, and closes
// it: no cut file holds the space or is read as whole.
void RemoveUnfinishedFile(HANDLE file);

#endif
