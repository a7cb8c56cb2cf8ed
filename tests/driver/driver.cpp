// The end-to-end driver: runs the cases of the case files (tests/driver/cases)
// on the machine it runs on, Windows or Wine alike, and writes one line per
// case to the results file:
//   pass <case> | fail <case>: <what differed> | skip <case>: <why>
// and "N passed, N failed, N skipped" last. Exit code 0 when nothing failed.
//
// Every system setting a case may change is put back after the case, also
// when it fails or the run is interrupted with Ctrl-C: InstallerLocation, the
// vendor key (with the kit keys below it), the staging chain under the user
// data folder, the vendor's folder under Program Files and the driver's
// scratch folder. Folders that existed before the run are moved aside for
// the run and moved back at its end.
//
// usage: driver.exe <bundle folder> <results file> <case file>...
// The case language is described in tests/driver/cases/README.txt.
#include <windows.h>
#include <winioctl.h>
#include <winsafer.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "staging/cabinets.h"
#include "support/profile.h"
#include "tests/tools/watch.h"

typedef std::vector<std::string> Strings;

// ---------------------------------------------------------------- text

static std::string Convert(const std::string &text, UINT from, UINT to)
{
    if (text.empty())
        return text;
    int wide = MultiByteToWideChar(from, 0, text.data(), (int)text.size(), NULL, 0);
    std::wstring w(wide, L'\0');
    MultiByteToWideChar(from, 0, text.data(), (int)text.size(), &w[0], wide);
    int bytes = WideCharToMultiByte(to, 0, w.data(), wide, NULL, 0, NULL, NULL);
    std::string out(bytes, '\0');
    WideCharToMultiByte(to, 0, w.data(), wide, &out[0], bytes, NULL, NULL);
    return out;
}

// Case files are UTF-8; the system's ANSI interface takes the code page.
static std::string Ansi(const std::string &utf8) { return Convert(utf8, CP_UTF8, CP_ACP); }
static std::string Utf8(const std::string &ansi) { return Convert(ansi, CP_ACP, CP_UTF8); }

static std::wstring Wide(const std::string &utf8)
{
    int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), NULL, 0);
    std::wstring w(count, L'\0');
    if (count > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &w[0], count);
    return w;
}

// Splits at " | "; the pieces keep every other space, which commands need.
static Strings SplitFields(const std::string &text)
{
    Strings fields;
    size_t start = 0, bar;
    while ((bar = text.find(" | ", start)) != std::string::npos) {
        fields.push_back(text.substr(start, bar - start));
        start = bar + 3;
    }
    fields.push_back(text.substr(start));
    return fields;
}

static std::string ReplaceAll(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

static std::string Printable(const std::string &text)
{
    std::string out = text.size() > 160 ? text.substr(0, 160) + "...(" + std::to_string(text.size()) + " bytes)" : text;
    out = ReplaceAll(out, "\r", "\\r");
    return ReplaceAll(out, "\n", "\\n");
}

// ---------------------------------------------------------------- state

struct Run {
    int done;
    DWORD exitCode;
    Strings boxes;  // "caption | text"
    Strings calls;  // engine command lines, in order
};

static std::string g_bundle, g_scratch, g_userData, g_programFiles, g_system, g_staging, g_vendorFolder;
static std::string g_callsLog, g_report;
static int g_isWine;
static Strings g_caseEnvironment; // variables set by the current case
static CRITICAL_SECTION g_restoreLock;

static const char kInstallerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
static const char kVendorKey[] = "SOFTWARE\\" PROFILE_VENDOR;
static const char kSavedSuffix[] = ".orva-tests-saved";

// ---------------------------------------------------------------- files

static int IsFolder(const std::string &path)
{
    DWORD attributes = GetFileAttributesA(Ansi(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

static int Exists(const std::string &path) { return GetFileAttributesA(Ansi(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

// Removes a file or a folder with everything in it. A link (junction) is
// removed itself; what it points to is never entered.
static void RemoveTree(const std::string &path)
{
    std::string ansi = Ansi(path);
    DWORD attributes = GetFileAttributesA(ansi.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesA(ansi.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileA(ansi.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((ansi + "\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
                    RemoveTree(path + "\\" + Utf8(found.cFileName));
            } while (FindNextFileA(search, &found));
            FindClose(search);
        }
    }
    RemoveDirectoryA(ansi.c_str());
}

static int MakeFolders(const std::string &path)
{
    for (size_t at = path.find('\\', 3); at != std::string::npos; at = path.find('\\', at + 1))
        CreateDirectoryA(Ansi(path.substr(0, at)).c_str(), NULL);
    CreateDirectoryA(Ansi(path).c_str(), NULL);
    return IsFolder(path);
}

static int ReadFileText(const std::string &path, std::string *text)
{
    HANDLE file = CreateFileA(Ansi(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    text->clear();
    static char chunk[1 << 16];
    DWORD count;
    while (ReadFile(file, chunk, sizeof(chunk), &count, NULL) && count > 0)
        text->append(chunk, count);
    CloseHandle(file);
    return 1;
}

static int WriteFileText(const std::string &path, const std::string &text)
{
    HANDLE file = CreateFileA(Ansi(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    DWORD written = 0;
    WriteFile(file, text.data(), (DWORD)text.size(), &written, NULL);
    CloseHandle(file);
    return written == text.size();
}

static Strings Lines(const std::string &text)
{
    Strings lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// The names in `folder`, comma-separated in name order ("" when empty,
// "<none>" when there is no such folder).
static std::string FolderListing(const std::string &folder)
{
    if (!IsFolder(folder))
        return "<none>";
    Strings names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(Ansi(folder + "\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
                names.push_back(Utf8(found.cFileName));
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    for (size_t i = 1; i < names.size(); i++) // few names: insertion sort
        for (size_t j = i; j > 0 && _stricmp(names[j - 1].c_str(), names[j].c_str()) > 0; j--)
            names[j].swap(names[j - 1]);
    std::string listing;
    for (size_t i = 0; i < names.size(); i++)
        listing += (i ? "," : "") + names[i];
    return listing;
}

// ---------------------------------------------------------------- registry

// A key with all its values and subkeys, as read before a case.
struct RegValue {
    std::string name;
    DWORD type;
    std::string data;
};
struct RegTree {
    int exists;
    std::vector<RegValue> values;
    Strings subkeyNames;
    std::vector<RegTree> subkeys;
};

static const REGSAM kView = KEY_WOW64_64KEY;

static void ReadTree(HKEY parent, const std::string &path, RegTree *tree)
{
    tree->exists = 0;
    tree->values.clear();
    tree->subkeyNames.clear();
    tree->subkeys.clear();
    HKEY key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_READ | kView, &key) != ERROR_SUCCESS)
        return;
    tree->exists = 1;
    static char name[16384];
    static BYTE data[65536];
    for (DWORD i = 0;; i++) {
        DWORD nameSize = sizeof(name), dataSize = sizeof(data), type = 0;
        if (RegEnumValueA(key, i, name, &nameSize, NULL, &type, data, &dataSize) != ERROR_SUCCESS)
            break;
        tree->values.push_back(RegValue{std::string(name, nameSize), type, std::string((char *)data, dataSize)});
    }
    for (DWORD i = 0;; i++) {
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(key, i, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        tree->subkeyNames.push_back(std::string(name, nameSize));
    }
    for (size_t i = 0; i < tree->subkeyNames.size(); i++) {
        tree->subkeys.push_back(RegTree());
        ReadTree(key, tree->subkeyNames[i], &tree->subkeys.back());
    }
    RegCloseKey(key);
}

static void WriteTree(HKEY parent, const std::string &path, const RegTree &tree)
{
    HKEY key;
    if (RegCreateKeyExA(parent, path.c_str(), 0, NULL, 0, KEY_ALL_ACCESS | kView, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    for (const RegValue &value : tree.values)
        RegSetValueExA(key, value.name.c_str(), 0, value.type, (const BYTE *)value.data.data(), (DWORD)value.data.size());
    for (size_t i = 0; i < tree.subkeys.size(); i++)
        WriteTree(key, tree.subkeyNames[i], tree.subkeys[i]);
    RegCloseKey(key);
}

static void DeleteTree(HKEY parent, const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(parent, path.c_str(), 0, KEY_ALL_ACCESS | kView, &key) != ERROR_SUCCESS)
        return;
    static char name[16384];
    for (;;) {
        DWORD nameSize = sizeof(name);
        if (RegEnumKeyExA(key, 0, name, &nameSize, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        std::string child(name, nameSize);
        DeleteTree(key, child);
        if (RegDeleteKeyExA(key, child.c_str(), kView, 0) != ERROR_SUCCESS)
            break;
    }
    RegCloseKey(key);
    RegDeleteKeyExA(parent, path.c_str(), kView, 0);
}

// One value of an HKLM key: 1 with its type and bytes, 0 when absent.
static int ReadValue(const std::string &keyPath, const std::string &name, DWORD *type, std::string *data)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE | kView, &key) != ERROR_SUCCESS)
        return 0;
    static BYTE bytes[65536];
    DWORD size = sizeof(bytes);
    LONG status = RegQueryValueExA(key, name.c_str(), NULL, type, bytes, &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS)
        return 0;
    data->assign((char *)bytes, size);
    return 1;
}

static int WriteValue(const std::string &keyPath, const std::string &name, DWORD type, const std::string &data)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, NULL, 0, KEY_SET_VALUE | kView, NULL, &key, NULL) !=
        ERROR_SUCCESS)
        return 0;
    LONG status = RegSetValueExA(key, name.c_str(), 0, type, (const BYTE *)data.data(), (DWORD)data.size());
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

static int DeleteValue(const std::string &keyPath, const std::string &name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE | kView, &key) != ERROR_SUCCESS)
        return 1;
    LONG status = RegDeleteValueA(key, name.c_str());
    RegCloseKey(key);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// ---------------------------------------------------------------- settings

// What a case may change, as it was before the case.
struct Settings {
    int recorded;
    int hadLocation;
    DWORD locationType;
    std::string location;
    RegTree vendor;
};
static Settings g_before;

static void RecordSettings(void)
{
    Settings now;
    now.hadLocation = ReadValue(kInstallerKey, "InstallerLocation", &now.locationType, &now.location);
    ReadTree(HKEY_LOCAL_MACHINE, kVendorKey, &now.vendor);
    now.recorded = 1;
    EnterCriticalSection(&g_restoreLock);
    g_before = now;
    LeaveCriticalSection(&g_restoreLock);
}

// The folders a case may write; the driver owns them for the run.
static Strings GuardedFolders(void) { return Strings{g_staging, g_vendorFolder, g_scratch}; }

static void RestoreSettings(void)
{
    EnterCriticalSection(&g_restoreLock);
    if (g_before.recorded) {
        if (g_before.hadLocation)
            WriteValue(kInstallerKey, "InstallerLocation", g_before.locationType, g_before.location);
        else
            DeleteValue(kInstallerKey, "InstallerLocation");
        DeleteTree(HKEY_LOCAL_MACHINE, kVendorKey);
        if (g_before.vendor.exists)
            WriteTree(HKEY_LOCAL_MACHINE, kVendorKey, g_before.vendor);
    }
    for (const std::string &folder : GuardedFolders())
        RemoveTree(folder);
    for (const std::string &name : g_caseEnvironment)
        SetEnvironmentVariableA(name.c_str(), NULL);
    g_caseEnvironment.clear();
    LeaveCriticalSection(&g_restoreLock);
}

static int MoveAsideFolders(std::string *problem)
{
    for (const std::string &folder : GuardedFolders()) {
        if (!Exists(folder))
            continue;
        std::string aside = folder + kSavedSuffix;
        if (Exists(aside) || !MoveFileA(Ansi(folder).c_str(), Ansi(aside).c_str())) {
            *problem = "cannot move " + folder + " aside to " + aside + " (left from an interrupted run?)";
            return 0;
        }
    }
    return 1;
}

static void MoveBackFolders(void)
{
    for (const std::string &folder : GuardedFolders()) {
        std::string aside = folder + kSavedSuffix;
        if (Exists(aside) && !Exists(folder))
            MoveFileA(Ansi(aside).c_str(), Ansi(folder).c_str());
    }
}

static BOOL WINAPI OnInterrupt(DWORD signal)
{
    (void)signal;
    RestoreSettings();
    MoveBackFolders();
    fprintf(stderr, "driver: interrupted; the settings are restored\n");
    ExitProcess(3);
}

// ---------------------------------------------------------------- places

typedef HRESULT(WINAPI *KnownFolderPath)(const GUID *, DWORD, HANDLE, PWSTR *);

// Where the bootstrap stages on 6.x and later: LocalLow. Found here through
// the shell's known folder, independently of the bootstrap's own lookup.
static std::string LocalLowFolder(void)
{
    static const GUID localLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    HMODULE shell = LoadLibraryExA((std::string(system) + "\\shell32.dll").c_str(), NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    KnownFolderPath get = shell ? (KnownFolderPath)(void *)GetProcAddress(shell, "SHGetKnownFolderPath") : NULL;
    PWSTR wide = NULL;
    std::string folder;
    if (get != NULL && get(&localLow, 0, NULL, &wide) == S_OK) {
        int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, NULL, 0, NULL, NULL);
        folder.assign(bytes > 0 ? bytes - 1 : 0, '\0');
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, &folder[0], bytes, NULL, NULL);
        CoTaskMemFree(wide);
    }
    return folder;
}

static std::string EnvironmentValue(const char *name)
{
    char value[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(name, value, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Utf8(value) : "";
}

static int FindPlaces(std::string *problem)
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    g_system = Utf8(system);
    g_userData = LocalLowFolder();
    g_programFiles = EnvironmentValue("ProgramW6432");
    if (g_programFiles.empty())
        g_programFiles = EnvironmentValue("ProgramFiles");
    std::string temp = EnvironmentValue("TEMP");
    if (g_userData.empty() || g_programFiles.empty() || temp.empty()) {
        *problem = "cannot find LocalLow, Program Files or TEMP";
        return 0;
    }
    g_staging = g_userData + "\\Qel";
    g_vendorFolder = g_programFiles + "\\" PROFILE_VENDOR;
    g_scratch = temp + "\\orva-driver";
    g_callsLog = g_scratch + "\\calls.txt";
    g_report = g_scratch + "\\report.txt";
    g_isWine = GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != NULL;
    return 1;
}

// {name} placeholders of the case files; {rep:<text>:<n>} repeats text n times.
static std::string Expand(std::string text)
{
    const std::string kit = g_staging + "\\Orva\\" PROFILE_KIT_FOLDER;
    const std::string package = kit + "\\" PROFILE_PACKAGE_FILE;
    const std::string engine = g_bundle + "\\engine";
    const std::pair<const char *, std::string> names[] = {
        {"{product}", "installers\\" BUNDLE_PRODUCT},
        {"{main}", "\"" + engine + "\\msiexec.exe\" /i \"" + package + "\""},
        {"{engine}", engine},
        {"{package}", package},
        {"{kit}", kit},
        {"{staging}", g_staging},
        {"{userdata}", g_userData},
        {"{bundle}", g_bundle},
        {"{scratch}", g_scratch},
        {"{programfiles}", g_programFiles},
        {"{vendorfolder}", g_vendorFolder},
        {"{system}", g_system},
        {"{kitkey}", PROFILE_KIT_KEY},
        {"{vendorkey}", kVendorKey},
    };
    for (const auto &name : names)
        text = ReplaceAll(text, name.first, name.second);
    size_t at;
    while ((at = text.find("{rep:")) != std::string::npos) {
        size_t colon = text.find(':', at + 5), end = text.find('}', at);
        if (colon == std::string::npos || end == std::string::npos || colon > end)
            break;
        std::string piece = text.substr(at + 5, colon - at - 5), repeated;
        for (int n = atoi(text.substr(colon + 1, end - colon - 1).c_str()); n > 0; n--)
            repeated += piece;
        text.replace(at, end - at + 1, repeated);
    }
    return text;
}

// ---------------------------------------------------------------- running

static void ClearRecords(void)
{
    DeleteFileA(Ansi(g_callsLog).c_str());
    DeleteFileA(Ansi(g_report).c_str());
}

static int RunProgram(const std::string &exe, const std::string &tail, Run *run)
{
    ClearRecords();
    std::wstring command = L"\"" + Wide(exe) + L"\"" + (tail.empty() ? L"" : L" " + Wide(tail));
    static WatchResult result;
    run->done = RunWatched(command.c_str(), &result);
    run->exitCode = result.exitCode;
    run->boxes.clear();
    for (int i = 0; i < result.boxCount; i++)
        run->boxes.push_back(std::string(result.boxes[i].captionUtf8) + " | " + result.boxes[i].textUtf8);
    std::string calls;
    run->calls.clear();
    if (ReadFileText(g_callsLog, &calls))
        for (const std::string &line : Lines(Utf8(calls)))
            run->calls.push_back(line);
    return run->done;
}

// Runs the system's own engine with `arguments` and waits: the kit cases'
// cleanup, which needs no watching.
static DWORD RunSystemEngine(const std::string &arguments)
{
    std::string command = Ansi("\"" + g_system + "\\msiexec.exe\" " + arguments);
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return GetLastError();
    WaitForSingleObject(process.hProcess, 300000);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return code;
}

// The stand-in's report once it ends with "done" (at most 60 s), without the
// line that depends on timing.
static std::string WaitForReport(void)
{
    std::string text;
    for (int i = 0; i < 600; i++) {
        if (ReadFileText(g_report, &text) && text.size() >= 5 && text.compare(text.size() - 5, 5, "done\n") == 0)
            break;
        Sleep(100);
    }
    std::string kept;
    for (const std::string &line : Lines(text))
        if (line.compare(0, 15, "event at start:") != 0)
            kept += (kept.empty() ? "" : ";") + line;
    return kept;
}

// ---------------------------------------------------------------- links

// The header of a mount point (junction) reparse buffer, then its names.
struct MountPointBuffer {
    DWORD tag;
    WORD dataLength, reserved;
    WORD substituteOffset, substituteLength, printOffset, printLength;
    WCHAR names[1024];
};

// Makes `link` a junction to `target`: 0 and the error in `problem` when the
// system here cannot.
static int MakeJunction(const std::string &link, const std::string &target, std::string *problem)
{
    if (!CreateDirectoryA(Ansi(link).c_str(), NULL)) {
        *problem = "cannot create " + link + ": error " + std::to_string(GetLastError());
        return 0;
    }
    HANDLE folder = CreateFileA(Ansi(link).c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, NULL);
    std::wstring substitute = L"\\??\\" + Wide(target), print = Wide(target);
    static MountPointBuffer buffer;
    memset(&buffer, 0, sizeof(buffer));
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substituteLength = (WORD)(substitute.size() * 2);
    buffer.printOffset = (WORD)(buffer.substituteLength + 2);
    buffer.printLength = (WORD)(print.size() * 2);
    memcpy(buffer.names, substitute.c_str(), buffer.substituteLength);
    memcpy((char *)buffer.names + buffer.printOffset, print.c_str(), buffer.printLength);
    buffer.dataLength = (WORD)(8 + buffer.printOffset + buffer.printLength + 2);
    DWORD returned;
    BOOL made = folder != INVALID_HANDLE_VALUE &&
                DeviceIoControl(folder, FSCTL_SET_REPARSE_POINT, &buffer, 8 + buffer.dataLength, NULL, 0, &returned, NULL);
    DWORD error = GetLastError();
    if (folder != INVALID_HANDLE_VALUE)
        CloseHandle(folder);
    DWORD attributes = GetFileAttributesA(Ansi(link).c_str());
    if (!made || attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        RemoveDirectoryA(Ansi(link).c_str());
        *problem = "cannot make a junction here (FSCTL_SET_REPARSE_POINT: error " + std::to_string(made ? 0 : error) + ")";
        return 0;
    }
    return 1;
}

static DWORD LinkCount(const std::string &path)
{
    HANDLE file = CreateFileA(Ansi(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    BY_HANDLE_FILE_INFORMATION info;
    DWORD count = 0;
    if (file != INVALID_HANDLE_VALUE && GetFileInformationByHandle(file, &info))
        count = info.nNumberOfLinks;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return count;
}

// A start from a normal user's token, as from Explorer without elevation:
// Windows refuses a program that requires administrator rights with 740.
static int StartAsNormalUser(const std::string &exe, DWORD *error)
{
    SAFER_LEVEL_HANDLE level;
    HANDLE token = NULL;
    if (!SaferCreateLevel(SAFER_SCOPEID_USER, SAFER_LEVELID_NORMALUSER, SAFER_LEVEL_OPEN, &level, NULL))
        return 0;
    BOOL made = SaferComputeTokenFromLevel(level, NULL, &token, 0, NULL);
    SaferCloseLevel(level);
    if (!made)
        return 0;
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    std::string command = "\"" + Ansi(exe) + "\" /lang=abc " + std::string(1100, 'P'); // refused at once if started
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    if (CreateProcessAsUserA(token, NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        *error = 0;
        WaitForSingleObject(process.hProcess, 60000);
        CloseHandle(process.hProcess);
        CloseHandle(process.hThread);
    } else {
        *error = GetLastError();
    }
    CloseHandle(token);
    return 1;
}

// ---------------------------------------------------------------- cases

struct Outcome {
    int skipped;
    std::string why;      // the reason of a skip, or of a failed setup step
    Strings differences;  // one per failed check
};

static void Differ(Outcome *outcome, const std::string &what, const std::string &expected, const std::string &actual)
{
    outcome->differences.push_back(what + ": expected [" + Printable(expected) + "], got [" + Printable(actual) + "]");
}

static int ParseNumber(const std::string &text, DWORD *value)
{
    char *end;
    unsigned long long number = strtoull(text.c_str(), &end, 0);
    *value = (DWORD)number;
    return !text.empty() && *end == '\0';
}

static std::string ValueText(const std::string &key, const std::string &name)
{
    DWORD type;
    std::string data;
    if (!ReadValue(key, name, &type, &data))
        return "<none>";
    if (type == REG_DWORD && data.size() == 4)
        return std::to_string(*(const DWORD *)data.data());
    while (!data.empty() && data.back() == '\0')
        data.pop_back();
    return Utf8(data);
}

static int KeyExists(const std::string &path)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_READ | kView, &key) != ERROR_SUCCESS)
        return 0;
    RegCloseKey(key);
    return 1;
}

// One step of a case. Returns 0 when the case cannot go on (a setup step
// failed, or the case is skipped here).
static int Step(const std::string &verb, const Strings &args, Run *run, Outcome *outcome)
{
    const std::string &a = args[0];
    const std::string b = args.size() > 1 ? args[1] : "";
    const std::string c = args.size() > 2 ? args[2] : "";
    if (verb == "windows-only") {
        if (g_isWine) {
            outcome->skipped = 1;
            outcome->why = a;
            return 0;
        }
        return 1;
    }
    if (verb == "env") {
        size_t equals = a.find('=');
        std::string name = a.substr(0, equals);
        g_caseEnvironment.push_back(name);
        return SetEnvironmentVariableA(name.c_str(), Ansi(a.substr(equals + 1)).c_str());
    }
    if (verb == "engine") { // stand-in | system | none | <folder>
        if (a == "none")
            return DeleteValue(kInstallerKey, "InstallerLocation");
        std::string folder = a == "stand-in" ? g_bundle + "\\engine" : a == "system" ? g_system : a;
        return WriteValue(kInstallerKey, "InstallerLocation", REG_SZ, Ansi(folder) + std::string(1, '\0'));
    }
    if (verb == "reg") { // key | name | sz|dword|multi_sz|delete | data
        if (c == "delete")
            return DeleteValue(a, b);
        if (c == "dword") {
            DWORD number;
            return ParseNumber(args.size() > 3 ? args[3] : "", &number) &&
                   WriteValue(a, b, REG_DWORD, std::string((const char *)&number, 4));
        }
        std::string data = Ansi(args.size() > 3 ? args[3] : "") + std::string(1, '\0');
        if (c == "multi_sz")
            data += std::string(1, '\0');
        return WriteValue(a, b, c == "multi_sz" ? REG_MULTI_SZ : REG_SZ, data);
    }
    if (verb == "mkdir")
        return MakeFolders(a);
    if (verb == "file")
        return WriteFileText(a, b);
    if (verb == "remove") {
        RemoveTree(a);
        return !Exists(a);
    }
    if (verb == "copy")
        return CopyFileA(Ansi(a).c_str(), Ansi(b).c_str(), FALSE);
    if (verb == "hardlink") { // link | existing file
        if (CreateHardLinkA(Ansi(a).c_str(), Ansi(b).c_str(), NULL))
            return 1;
        outcome->skipped = 1;
        outcome->why = "cannot make a hard link here: error " + std::to_string(GetLastError());
        return 0;
    }
    if (verb == "junction") { // link | target folder
        if (MakeJunction(a, b, &outcome->why))
            return 1;
        outcome->skipped = 1;
        return 0;
    }
    if (verb == "run") { // program in the bundle | command tail
        if (!RunProgram(g_bundle + "\\" + a, b, run)) {
            outcome->why = "cannot start " + a;
            return 0;
        }
        return 1;
    }
    if (verb == "run-copy") { // a program anywhere | command tail
        if (!RunProgram(a, b, run)) {
            outcome->why = "cannot start " + a;
            return 0;
        }
        return 1;
    }
    if (verb == "system-engine") {
        RunSystemEngine(a);
        return 1;
    }
    if (verb == "normal-user-start") { // program | expected error
        DWORD error, expected;
        if (!StartAsNormalUser(g_bundle + "\\" + a, &error)) {
            outcome->skipped = 1;
            outcome->why = "cannot make a normal user's token here: error " + std::to_string(GetLastError());
            return 0;
        }
        ParseNumber(b, &expected);
        if (error != expected)
            Differ(outcome, "error of a start without elevation", std::to_string(expected), std::to_string(error));
        return 1;
    }
    // Checks: a difference is recorded and the case goes on.
    if (verb == "exit") {
        DWORD expected;
        ParseNumber(a, &expected);
        if (!run->done || run->exitCode != expected)
            Differ(outcome, "exit code", std::to_string(expected), run->done ? std::to_string(run->exitCode) : "no run");
    } else if (verb == "calls") {
        if (std::to_string(run->calls.size()) != a)
            Differ(outcome, "engine runs", a, std::to_string(run->calls.size()));
    } else if (verb == "call") { // n | command line
        size_t n = (size_t)atoi(a.c_str());
        std::string actual = n >= 1 && n <= run->calls.size() ? run->calls[n - 1] : "<no such run>";
        if (actual != b)
            Differ(outcome, "engine command " + a, b, actual);
    } else if (verb == "boxes") {
        if (std::to_string(run->boxes.size()) != a)
            Differ(outcome, "boxes", a, std::to_string(run->boxes.size()));
    } else if (verb == "box") { // n | caption | text, up to a trailing "*"
        size_t n = (size_t)atoi(a.c_str());
        std::string actual = n >= 1 && n <= run->boxes.size() ? run->boxes[n - 1] : "<no such box>";
        std::string expected = b + " | " + c;
        int prefix = !expected.empty() && expected.back() == '*';
        if (prefix ? actual.compare(0, expected.size() - 1, expected, 0, expected.size() - 1) != 0 ||
                         actual.size() < expected.size()
                   : actual != expected)
            Differ(outcome, "box " + a, expected, actual);
    } else if (verb == "exists") {
        if (!Exists(a))
            Differ(outcome, "present", a, "<none>");
    } else if (verb == "absent") {
        if (Exists(a))
            Differ(outcome, "absent", a, "present");
    } else if (verb == "same") {
        std::string left, right;
        if (!ReadFileText(a, &left) || !ReadFileText(b, &right) || left != right)
            Differ(outcome, "same bytes as " + b, a, "differs or missing");
    } else if (verb == "text") {
        std::string text;
        if (!ReadFileText(a, &text))
            text = "<none>";
        if (text != b)
            Differ(outcome, "text of " + a, b, text);
    } else if (verb == "contains") {
        std::string text;
        if (!ReadFileText(a, &text))
            text = "<none>";
        if (text.find(b) == std::string::npos)
            Differ(outcome, "text of " + a + " containing", b, text);
    } else if (verb == "files") {
        std::string listing = FolderListing(a);
        if (listing != b)
            Differ(outcome, "files in " + a, b, listing);
    } else if (verb == "links") {
        if (std::to_string(LinkCount(a)) != b)
            Differ(outcome, "links to " + a, b, std::to_string(LinkCount(a)));
    } else if (verb == "value") { // key | name | data or <none>
        std::string actual = ValueText(a, b);
        if (actual != c)
            Differ(outcome, "value " + b, c, actual);
    } else if (verb == "value-contains") {
        std::string actual = ValueText(a, b);
        if (actual.find(c) == std::string::npos)
            Differ(outcome, "value " + b + " containing", c, actual);
    } else if (verb == "no-key") {
        if (KeyExists(a))
            Differ(outcome, "key", "<none>", a);
    } else if (verb == "report") { // the stand-in's report, lines joined by ";"
        std::string actual = WaitForReport();
        if (actual != a)
            Differ(outcome, "what the package saw", a, actual);
    } else if (verb == "size") {
        WIN32_FILE_ATTRIBUTE_DATA data;
        std::string actual = GetFileAttributesExA(Ansi(a).c_str(), GetFileExInfoStandard, &data)
                                 ? std::to_string(data.nFileSizeLow) : "<none>";
        if (actual != b)
            Differ(outcome, "size of " + a, b, actual);
    } else if (verb == "no-loaded-markers") { // folder: no planted DLL was loaded
        std::string listing = FolderListing(a), loaded;
        for (const std::string &name : SplitFields(ReplaceAll(listing, ",", " | ")))
            if (name.size() > 7 && name.compare(name.size() - 7, 7, ".loaded") == 0)
                loaded += (loaded.empty() ? "" : ",") + name;
        if (!loaded.empty())
            Differ(outcome, "planted DLLs loaded", "", loaded);
    } else {
        outcome->why = "unknown step: " + verb;
        return 0;
    }
    return 1;
}

struct Case {
    std::string name;
    std::vector<std::pair<std::string, std::string>> steps; // verb, rest
    std::vector<std::pair<std::string, std::string>> finally;
};

static int ReadCases(const std::string &path, std::vector<Case> *cases, std::string *problem)
{
    std::string text;
    if (!ReadFileText(path, &text)) {
        *problem = "cannot read " + path;
        return 0;
    }
    for (const std::string &line : Lines(text)) {
        if (line.empty() || line[0] == '#')
            continue;
        size_t space = line.find(' ');
        std::string verb = line.substr(0, space), rest = space == std::string::npos ? "" : line.substr(space + 1);
        if (verb == "case") {
            cases->push_back(Case{rest, {}, {}});
        } else if (cases->empty()) {
            *problem = path + ": a step before the first case: " + line;
            return 0;
        } else if (verb == "finally") {
            size_t inner = rest.find(' ');
            cases->back().finally.push_back({rest.substr(0, inner), inner == std::string::npos ? "" : rest.substr(inner + 1)});
        } else {
            cases->back().steps.push_back({verb, rest});
        }
    }
    return 1;
}

static std::string RunCase(const Case &one)
{
    RecordSettings();
    Outcome outcome = {0, "", {}};
    Run run = {0, 0, {}, {}};
    MakeFolders(g_scratch);
    // Every case starts with the stand-in as the engine, unless it says otherwise.
    Step("engine", Strings{"stand-in"}, &run, &outcome);
    for (const auto &step : one.steps) {
        if (!Step(step.first, SplitFields(Expand(step.second)), &run, &outcome)) {
            if (!outcome.skipped && outcome.why.empty())
                outcome.why = "setup step failed: " + step.first + " " + Printable(Expand(step.second));
            break;
        }
    }
    Outcome cleanup = {0, "", {}};
    for (const auto &step : one.finally)
        Step(step.first, SplitFields(Expand(step.second)), &run, &cleanup);
    RestoreSettings();
    if (outcome.skipped)
        return "skip " + one.name + ": " + outcome.why;
    std::string result;
    if (!outcome.why.empty())
        outcome.differences.insert(outcome.differences.begin(), outcome.why);
    for (const std::string &difference : outcome.differences)
        result += (result.empty() ? "" : "; ") + difference;
    return result.empty() ? "pass " + one.name : "fail " + one.name + ": " + result;
}

// ---------------------------------------------------------------- other modes

// Runs a GoogleTest program and adds a line per test to the results, from
// its own report lines ("[       OK ] Suite.Name (3 ms)").
static int RunGoogleTests(const std::string &exe, const std::string &arguments, const char *resultsPath)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), NULL, TRUE};
    HANDLE readEnd, writeEnd;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0))
        return 2;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = writeEnd;
    startup.hStdError = writeEnd;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::string command = "\"" + Ansi(exe) + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    BOOL started = CreateProcessA(NULL, line.data(), NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process);
    CloseHandle(writeEnd);
    FILE *results = fopen(resultsPath, "ab");
    if (!started || results == NULL) {
        if (results != NULL) {
            fprintf(results, "fail %s: cannot start it (error %lu)\r\n", exe.c_str(), GetLastError());
            fclose(results);
        }
        CloseHandle(readEnd);
        return 1;
    }
    std::string output;
    char chunk[4096];
    DWORD count;
    while (ReadFile(readEnd, chunk, sizeof(chunk), &count, NULL) && count > 0) {
        fwrite(chunk, 1, count, stdout);
        output.append(chunk, count);
    }
    CloseHandle(readEnd);
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exitCode = 1;
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    std::string program = exe.substr(exe.rfind('\\') + 1);
    int reported = 0;
    for (const std::string &text : Lines(output)) {
        const char *verdict = text.compare(0, 12, "[       OK ]") == 0   ? "pass"
                              : text.compare(0, 12, "[  FAILED  ]") == 0 ? "fail"
                              : text.compare(0, 12, "[  SKIPPED ]") == 0 ? "skip"
                                                                          : NULL;
        size_t end = text.find(" (");
        if (verdict == NULL || end == std::string::npos || text.find(" ms)") == std::string::npos)
            continue; // the summary lines at the end
        std::string name = program + ": " + text.substr(13, end - 13);
        fprintf(results, "%s %s%s\r\n", verdict, name.c_str(),
                strcmp(verdict, "pass") == 0 ? "" : ": see the program's output in the log");
        reported++;
    }
    if (reported == 0 || (exitCode != 0 && output.find("[  FAILED  ]") == std::string::npos))
        fprintf(results, "fail %s: exit code %lu, %d tests reported\r\n", program.c_str(), exitCode, reported);
    fclose(results);
    return exitCode == 0 ? 0 : 1;
}

// Appends "N passed, N failed, N skipped"; 1 when anything failed or a skip
// gives no reason.
static int Summarize(const char *resultsPath)
{
    std::string text;
    if (!ReadFileText(Utf8(resultsPath), &text))
        return 2;
    int passed = 0, failed = 0, skipped = 0;
    for (const std::string &line : Lines(text)) {
        if (line.compare(0, 5, "pass ") == 0)
            passed++;
        else if (line.compare(0, 5, "skip ") == 0 && line.find(": ") != std::string::npos)
            skipped++;
        else if (!line.empty())
            failed++; // a failure, a skip without its reason, or anything else
    }
    FILE *results = fopen(resultsPath, "ab");
    if (results == NULL)
        return 2;
    fprintf(results, "%d passed, %d failed, %d skipped\r\n", passed, failed, skipped);
    fclose(results);
    printf("%d passed, %d failed, %d skipped\n", passed, failed, skipped);
    return failed ? 1 : 0;
}

// 1 when this process runs elevated as a member of the Administrators group.
static int IsElevatedAdministrator(void)
{
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_NT_AUTHORITY;
    PSID administrators;
    BOOL member = FALSE;
    if (!AllocateAndInitializeSid(&authority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                  0, &administrators))
        return 0;
    if (!CheckTokenMembership(NULL, administrators, &member))
        member = FALSE;
    FreeSid(administrators);
    HANDLE token;
    TOKEN_ELEVATION elevation = {0};
    DWORD size;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
        if (!GetTokenInformation(token, TokenElevation, &elevation, sizeof(elevation), &size))
            elevation.TokenIsElevated = 0;
        CloseHandle(token);
    }
    return member && elevation.TokenIsElevated;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--admin-check") == 0) {
        if (IsElevatedAdministrator())
            return 0;
        printf("run-tests: administrator rights are needed. Open the command prompt with\n"
               "\"Run as administrator\" and start run-tests.cmd again. Nothing was changed.\n");
        return 1;
    }
    InitializeCriticalSection(&g_restoreLock);
    if (argc >= 4 && strcmp(argv[1], "--gtest") == 0) {
        // The test programs write in the kit folder and the vendor key too:
        // the same record and restore as for a case.
        std::string problem;
        if (!FindPlaces(&problem) || !MoveAsideFolders(&problem)) {
            fprintf(stderr, "driver: %s\n", problem.c_str());
            return 2;
        }
        RecordSettings();
        SetConsoleCtrlHandler(OnInterrupt, TRUE);
        int result = RunGoogleTests(Utf8(argv[2]), argc > 4 ? argv[4] : "", argv[3]);
        RestoreSettings();
        MoveBackFolders();
        return result;
    }
    if (argc == 3 && strcmp(argv[1], "--summary") == 0)
        return Summarize(argv[2]);
    if (argc < 4) {
        fprintf(stderr, "usage: driver.exe <bundle folder> <results file> <case file>...\n"
                        "       driver.exe --gtest <program> <results file> [<arguments>]\n"
                        "       driver.exe --summary <results file>\n");
        return 2;
    }
    g_bundle = Utf8(argv[1]);
    while (!g_bundle.empty() && g_bundle.back() == '\\')
        g_bundle.pop_back();
    std::string problem;
    std::vector<Case> cases;
    for (int i = 3; i < argc; i++)
        if (!ReadCases(Utf8(argv[i]), &cases, &problem))
            break;
    if (problem.empty())
        FindPlaces(&problem);
    if (problem.empty())
        MoveAsideFolders(&problem);
    if (!problem.empty()) {
        fprintf(stderr, "driver: %s\n", problem.c_str());
        return 2;
    }
    SetConsoleCtrlHandler(OnInterrupt, TRUE);
    SetEnvironmentVariableA("FAKE_MSIEXEC_LOG", Ansi(g_callsLog).c_str());
    SetEnvironmentVariableA("FAKE_MSIEXEC_REPORT", Ansi(g_report).c_str());

    FILE *results = fopen(argv[2], "ab");
    if (results == NULL) {
        fprintf(stderr, "driver: cannot write %s\n", argv[2]);
        MoveBackFolders();
        return 2;
    }
    int failed = 0;
    for (const Case &one : cases) {
        std::string line = RunCase(one);
        failed += line.compare(0, 5, "fail ") == 0;
        fprintf(results, "%s\r\n", line.c_str());
        fflush(results);
        printf("%s\n", line.c_str());
        fflush(stdout);
    }
    fclose(results);
    MoveBackFolders();
    return failed ? 1 : 0;
}
