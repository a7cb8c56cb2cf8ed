// Shared helpers of the Windows-level tests.
#ifndef TESTS_WIN_HELPERS_H
#define TESTS_WIN_HELPERS_H

#include <windows.h>

#include <string>

#include "tests/tools/watch.h"

enum { RESOURCE_20000 = 201, RESOURCE_8192 = 202, RESOURCE_EMPTY = 203 };
#define TEST_RESOURCE_TYPE "TEST_BYTES"

// The folder of the test executable, with a trailing backslash.
std::string OwnFolder();

// A new, empty folder under the temporary folder, without trailing backslash.
std::string MakeTempFolder(const char *tag);

std::string ReadWholeFile(const std::string &path);
void WriteWholeFile(const std::string &path, const std::string &bytes);
bool IsFolder(const std::string &path);

// A link at `link` (a Windows path whose folder exists) to the folder
// `target`: a junction on Windows, a Unix symbolic link under Wine
// (tests/tools/links.h). RemoveFolderLink removes the link, never what it
// leads to. Each reports a failure to make or remove it as a test failure.
bool MakeFolderLink(const std::string &target, const std::string &link);
bool RemoveFolderLink(const std::string &link);

// Whether `path` is a folder with nothing in it.
bool IsEmptyFolder(const std::string &path);

// A name no other test program of the run uses: "<prefix>-<process>-<n>".
std::string UniqueName(const char *prefix);

// Starts this test program as a child (`--child <action> <args>`) and
// returns its process handle without waiting; NULL when it did not start.
HANDLE StartChild(const std::string &arguments);

// Runs this test program as a child (`--child <action> <args>`; see main.cpp),
// answering its message boxes, and returns what happened.
WatchResult RunChild(const std::string &arguments);

// Reads and restores a REG_SZ value of HKLM around a test.
class SavedMachineValue {
  public:
    SavedMachineValue(const char *keyPath, const char *valueName);
    ~SavedMachineValue();

  private:
    std::string keyPath_, valueName_, data_;
    DWORD type_ = 0;
    bool existed_ = false;
};

void SetMachineValueBytes(const char *keyPath, const char *valueName, const char *bytes, DWORD count);
void DeleteMachineValue(const char *keyPath, const char *valueName);

#endif
