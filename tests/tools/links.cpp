#include "tests/tools/links.h"

#include <windows.h>
#include <winioctl.h>

#include <string.h>

bool RunsUnderWine()
{
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != NULL;
}

std::string UnixPathOf(const std::wstring &path)
{
    typedef char *(CDECL * UnixFileNameFn)(LPCWSTR);
    UnixFileNameFn unixFileName =
        (UnixFileNameFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name");
    char *name = unixFileName != NULL ? unixFileName(path.c_str()) : NULL;
    if (name == NULL)
        return "";
    std::string unixName(name);
    HeapFree(GetProcessHeap(), 0, name);
    return unixName;
}

static bool IsLink(const std::wstring &path)
{
    DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The header of a mount point (junction) reparse buffer, then its names.
struct MountPointBuffer {
    DWORD tag;
    WORD dataLength, reserved;
    WORD substituteOffset, substituteLength, printOffset, printLength;
    WCHAR names[1024];
};

bool MakeJunction(const std::wstring &link, const std::wstring &target, std::string *problem)
{
    if (!CreateDirectoryW(link.c_str(), NULL)) {
        *problem = "cannot create the junction's folder: error " + std::to_string(GetLastError());
        return false;
    }
    HANDLE folder = CreateFileW(link.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    std::wstring substitute = L"\\??\\" + target;
    static MountPointBuffer buffer;
    memset(&buffer, 0, sizeof(buffer));
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substituteLength = (WORD)(substitute.size() * 2);
    buffer.printOffset = (WORD)(buffer.substituteLength + 2);
    buffer.printLength = (WORD)(target.size() * 2);
    memcpy(buffer.names, substitute.c_str(), buffer.substituteLength);
    memcpy((char *)buffer.names + buffer.printOffset, target.c_str(), buffer.printLength);
    buffer.dataLength = (WORD)(8 + buffer.printOffset + buffer.printLength + 2);
    DWORD returned;
    BOOL made = folder != INVALID_HANDLE_VALUE && DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &buffer,
                                                                  8 + buffer.dataLength, NULL, 0, &returned, NULL);
    DWORD error = GetLastError();
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);
    if (!made || !IsLink(link)) {
        RemoveDirectoryW(link.c_str());
        *problem = "cannot make a junction here (FSCTL_SET_REPARSE_POINT: error " + std::to_string(made ? 0 : error) +
                   ")";
        return false;
    }
    return true;
}

// Runs a Unix program, which Wine starts like any other when given its Unix
// path, but without a process handle to wait on: the callers wait for its
// effect instead.
static bool StartUnixCommand(const std::string &command, std::string *problem)
{
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    std::string line = command;
    if (!CreateProcessA(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        *problem = command + ": not started, error " + std::to_string(GetLastError());
        return false;
    }
    if (process.hProcess != NULL)
        CloseHandle(process.hProcess);
    if (process.hThread != NULL)
        CloseHandle(process.hThread);
    return true;
}

// Waits (a hang guard of 30 s, not a timing) until `path` is a link, or gone.
static bool WaitForLink(const std::wstring &path, bool present, std::string *problem)
{
    for (int i = 0; i < 3000; i++) {
        if (present ? IsLink(path) : GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
            return true;
        Sleep(10);
    }
    *problem = present ? "no link appeared" : "the link stayed";
    return false;
}

bool MakeFolderLink(const std::wstring &target, const std::wstring &link, std::string *problem)
{
    if (!RunsUnderWine())
        return MakeJunction(link, target, problem);
    std::string unixTarget = UnixPathOf(target), unixLink = UnixPathOf(link);
    if (unixTarget.empty() || unixLink.empty()) {
        *problem = "no Unix path for the link or its target";
        return false;
    }
    return StartUnixCommand("/bin/ln -s \"" + unixTarget + "\" \"" + unixLink + "\"", problem) &&
           WaitForLink(link, true, problem);
}

bool RemoveFolderLink(const std::wstring &link, std::string *problem)
{
    if (!IsLink(link))
        return GetFileAttributesW(link.c_str()) == INVALID_FILE_ATTRIBUTES;
    if (!RunsUnderWine()) {
        if (RemoveDirectoryW(link.c_str())) // a junction goes as an empty folder would, its target stays
            return true;
        *problem = "cannot remove the junction: error " + std::to_string(GetLastError());
        return false;
    }
    std::string unixLink = UnixPathOf(link);
    return !unixLink.empty() && StartUnixCommand("/bin/rm -f \"" + unixLink + "\"", problem) && // no -r: the link only
           WaitForLink(link, false, problem);
}
