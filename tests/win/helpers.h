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

// A symbolic link made on the Unix side at `link` (a Windows path whose
// folder exists) leading to `target`: what Wine shows for a junction, which
// Wine cannot make itself. RemoveUnixLink removes the link, never what it
// leads to.
bool MakeUnixLink(const std::string &target, const std::string &link);
bool RemoveUnixLink(const std::string &link);

// Whether `path` is a folder with nothing in it.
bool IsEmptyFolder(const std::string &path);

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
