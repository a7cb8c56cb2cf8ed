#include "tests/win/helpers.h"

#include <gtest/gtest.h>

#include <string.h>

#include "tests/tools/links.h"

std::string OwnFolder()
{
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.rfind('\\') + 1);
}

// Wine hands the process id of an ended process to a later one, and the
// folders of earlier runs stay: a name taken already is skipped, so that each
// test starts in a folder it made itself, empty.
std::string MakeTempFolder(const char *tag)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    static int serial;
    for (int attempt = 0; attempt < 1000; attempt++) {
        std::string folder = std::string(temp) + "wt-" + tag + "-" + std::to_string(GetCurrentProcessId()) +
                             "-" + std::to_string(++serial);
        if (CreateDirectoryA(folder.c_str(), NULL))
            return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            ADD_FAILURE() << folder << ": not made, error " << GetLastError();
            return folder;
        }
    }
    ADD_FAILURE() << "no free temporary folder name for " << tag;
    return "";
}

std::string ReadWholeFile(const std::string &path)
{
    std::string bytes;
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return "<missing>";
    char chunk[4096];
    DWORD count;
    while (ReadFile(file, chunk, sizeof(chunk), &count, NULL) && count > 0)
        bytes.append(chunk, count);
    CloseHandle(file);
    return bytes;
}

void WriteWholeFile(const std::string &path, const std::string &bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, file) << path;
    DWORD written;
    WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
}

bool IsFolder(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static std::wstring WideOfAnsi(const std::string &text)
{
    WCHAR wide[MAX_PATH * 2];
    MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, MAX_PATH * 2);
    return wide;
}

bool MakeFolderLink(const std::string &target, const std::string &link)
{
    std::string problem;
    bool made = ::MakeFolderLink(WideOfAnsi(target), WideOfAnsi(link), &problem);
    EXPECT_TRUE(made) << link << ": " << problem;
    return made;
}

bool RemoveFolderLink(const std::string &link)
{
    std::string problem;
    bool removed = ::RemoveFolderLink(WideOfAnsi(link), &problem);
    EXPECT_TRUE(removed) << link << ": " << problem;
    return removed;
}

bool IsEmptyFolder(const std::string &path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool empty = true;
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            empty = false;
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return empty;
}

std::string UniqueName(const char *prefix)
{
    static int serial;
    return std::string(prefix) + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
}

static std::wstring ChildCommand(const std::string &arguments)
{
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" --child ";
    WCHAR wide[4096];
    MultiByteToWideChar(CP_ACP, 0, arguments.c_str(), -1, wide, 4096);
    return command + wide;
}

HANDLE StartChild(const std::string &arguments)
{
    std::wstring command = ChildCommand(arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        ADD_FAILURE() << "child not started, error " << GetLastError();
        return NULL;
    }
    CloseHandle(process.hThread);
    return process.hProcess;
}

WatchResult RunChild(const std::string &arguments)
{
    std::wstring command = ChildCommand(arguments);
    WatchResult result;
    EXPECT_TRUE(RunWatched(command.c_str(), &result));
    return result;
}

SavedMachineValue::SavedMachineValue(const char *keyPath, const char *valueName)
    : keyPath_(keyPath), valueName_(valueName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    char data[4096];
    DWORD count = sizeof(data);
    existed_ = RegQueryValueExA(key, valueName, NULL, &type_, (BYTE *)data, &count) == ERROR_SUCCESS;
    if (existed_)
        data_.assign(data, count);
    RegCloseKey(key);
}

SavedMachineValue::~SavedMachineValue()
{
    if (existed_)
        SetMachineValueBytes(keyPath_.c_str(), valueName_.c_str(), data_.data(), (DWORD)data_.size());
    else
        DeleteMachineValue(keyPath_.c_str(), valueName_.c_str());
}

void SetMachineValueBytes(const char *keyPath, const char *valueName, const char *bytes, DWORD count)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, NULL, 0, KEY_SET_VALUE, NULL,
                                             &key, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, valueName, 0, REG_SZ, (const BYTE *)bytes, count));
    RegCloseKey(key);
}

void DeleteMachineValue(const char *keyPath, const char *valueName)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS)
        return;
    RegDeleteValueA(key, valueName);
    RegCloseKey(key);
}
