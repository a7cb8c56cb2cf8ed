#include "tests/driver/win32.h"

#include <winioctl.h>

#include <string.h>
#include <wchar.h>

#include "tests/tools/links.h"

// ---------------------------------------------------------------- text

std::wstring Wide(const std::string &utf8)
{
    int count = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), NULL, 0);
    std::wstring wide(count, L'\0');
    if (count > 0)
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &wide[0], count);
    return wide;
}

std::string Utf8(const WCHAR *wide, size_t count)
{
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, (int)count, NULL, 0, NULL, NULL);
    std::string utf8(bytes > 0 ? bytes : 0, '\0');
    if (bytes > 0)
        WideCharToMultiByte(CP_UTF8, 0, wide, (int)count, &utf8[0], bytes, NULL, NULL);
    return utf8;
}

std::string Utf8(const std::wstring &wide) { return Utf8(wide.data(), wide.size()); }

std::string Utf8FromAnsi(const std::string &ansi)
{
    int count = MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), NULL, 0);
    std::wstring wide(count > 0 ? count : 0, L'\0');
    if (count > 0)
        MultiByteToWideChar(CP_ACP, 0, ansi.data(), (int)ansi.size(), &wide[0], count);
    return Utf8(wide);
}

std::string ReplaceAll(std::string text, const std::string &from, const std::string &to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

Strings Lines(const std::string &text)
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

std::string ParentOf(const std::string &path)
{
    size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? "" : path.substr(0, slash);
}

// ---------------------------------------------------------------- files

static DWORD AttributesOf(const std::string &path) { return GetFileAttributesW(Wide(path).c_str()); }

bool Exists(const std::string &path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }

bool IsFolder(const std::string &path)
{
    DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsLink(const std::string &path)
{
    DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool MakeFolders(const std::string &path, std::string *topmostMade)
{
    std::string made;
    // Each folder from the first one below the drive ("C:\") down to `path`.
    for (size_t at = path.find('\\', 3);; at = path.find('\\', at + 1)) {
        std::string folder = at == std::string::npos ? path : path.substr(0, at);
        if (!Exists(folder) && CreateDirectoryW(Wide(folder).c_str(), NULL) && made.empty())
            made = folder;
        if (at == std::string::npos)
            break;
    }
    if (topmostMade != NULL)
        *topmostMade = made;
    return IsFolder(path);
}

// A link goes by itself: RemoveDirectory on Windows. Under Wine that call
// follows the Unix symbolic link and removes the folder it points to when
// it is empty, and a link left dangling is seen by no Win32 call while it
// keeps its folder from being removed: the hook removes the link.
static void RemoveLink(const std::string &path)
{
    if (IsWine())
        RunHook("unlink", Strings{UnixPath(path)});
    else
        RemoveDirectoryW(Wide(path).c_str());
}

void RemoveTree(const std::string &path)
{
    std::wstring wide = Wide(path);
    DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    SetFileAttributesW(wide.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(wide.c_str());
        return;
    }
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        RemoveLink(path);
        return;
    }
    for (const std::string &name : NamesIn(path))
        RemoveTree(path + "\\" + name);
    RemoveDirectoryW(wide.c_str());
}

bool ReadBytes(const std::string &path, std::string *bytes)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    static char chunk[1 << 16];
    DWORD count;
    while (ReadFile(file, chunk, sizeof(chunk), &count, NULL) && count > 0)
        bytes->append(chunk, count);
    CloseHandle(file);
    return true;
}

static bool WriteWith(const std::string &path, DWORD access, DWORD disposition, const std::string &bytes)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), access, FILE_SHARE_READ, NULL, disposition, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    BOOL wrote = WriteFile(file, bytes.data(), (DWORD)bytes.size(), &written, NULL);
    CloseHandle(file);
    return wrote && written == bytes.size();
}

bool WriteBytes(const std::string &path, const std::string &bytes)
{
    return WriteWith(path, GENERIC_WRITE, CREATE_ALWAYS, bytes);
}

bool AppendBytes(const std::string &path, const std::string &bytes)
{
    return WriteWith(path, FILE_APPEND_DATA, OPEN_ALWAYS, bytes);
}

bool CopyOne(const std::string &from, const std::string &to)
{
    return CopyFileW(Wide(from).c_str(), Wide(to).c_str(), FALSE) != 0;
}

bool MoveOver(const std::string &from, const std::string &to)
{
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

long long FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return ((long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

DWORD LinkCount(const std::string &path)
{
    HANDLE file = CreateFileW(Wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    BY_HANDLE_FILE_INFORMATION info;
    DWORD count = GetFileInformationByHandle(file, &info) ? info.nNumberOfLinks : 0;
    CloseHandle(file);
    return count;
}

Strings NamesIn(const std::string &folder, const std::string &pattern)
{
    Strings names;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(Wide(folder + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0)
            names.push_back(Utf8(std::wstring(found.cFileName)));
    } while (FindNextFileW(search, &found));
    FindClose(search);
    for (size_t i = 1; i < names.size(); i++) // few names: insertion sort
        for (size_t j = i; j > 0 && _stricmp(names[j - 1].c_str(), names[j].c_str()) > 0; j--)
            names[j].swap(names[j - 1]);
    return names;
}

// ---------------------------------------------------------------- links

static bool MakeUnixLink(const std::string &link, const std::string &target, std::string *problem)
{
    std::string unixLink = UnixPath(link), unixTarget = UnixPath(target);
    if (unixLink.empty() || unixTarget.empty()) {
        *problem = "no Unix path for " + (unixLink.empty() ? link : target) + " (is its folder there?)";
        return false;
    }
    std::string answer = RunHook("link", Strings{unixLink, unixTarget});
    if (answer != "ok" || !IsLink(link)) {
        *problem = "the hook could not link " + link + ": " + answer;
        return false;
    }
    return true;
}

bool MakeFolderLink(const std::string &link, const std::string &target, std::string *problem)
{
    return IsWine() ? MakeUnixLink(link, target, problem) : MakeJunction(Wide(link), Wide(target), problem);
}

// ---------------------------------------------------------------- Wine

bool IsWine(void) { return RunsUnderWine(); }

std::string UnixPath(const std::string &path) { return UnixPathOf(Wide(path)); } // UTF-8 in the test bed

std::string DosDevicesFolder(void)
{
    // Wine names a drive's root through its link: <prefix>/dosdevices/c:/
    std::string root = UnixPath("C:\\");
    size_t end = root.rfind("/c:/");
    return end == std::string::npos ? "" : root.substr(0, end);
}

std::string WindowsPathOf(const std::string &path)
{
    typedef WCHAR *(CDECL * DosFileNameFn)(const char *);
    DosFileNameFn dosFileName =
        (DosFileNameFn)(void *)GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_dos_file_name");
    if (path.empty() || path[0] != '/' || dosFileName == NULL)
        return path;
    WCHAR *name = dosFileName(path.c_str());
    if (name == NULL)
        return path;
    std::string windowsName = Utf8(std::wstring(name));
    HeapFree(GetProcessHeap(), 0, name);
    return windowsName;
}

static std::string g_hookScript, g_hookAnswers;
static LONG g_hookCalls;

void SetHook(const std::string &script, const std::string &answerFolder)
{
    g_hookScript = script;
    g_hookAnswers = answerFolder;
}

static std::string Quoted(const std::string &argument) { return "\"" + argument + "\""; }

// Waits for the hook's answer file: a hang guard, not a timing.
static std::string AwaitAnswer(const std::string &answerFile, DWORD limitMs)
{
    std::string text;
    bool answered = false;
    for (DWORD waited = 0; !answered && waited < limitMs; waited += 10)
        if (!(answered = ReadBytes(answerFile, &text)))
            Sleep(10);
    DeleteFileW(Wide(answerFile).c_str());
    return answered ? text : "failed: no answer from the hook within " + std::to_string(limitMs / 1000) + " s";
}

std::string RunHookForText(const std::string &verb, const Strings &arguments, DWORD limitMs)
{
    std::string answerFile = g_hookAnswers + "\\orva-hook-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(InterlockedIncrement(&g_hookCalls)) + ".txt";
    DeleteFileW(Wide(answerFile).c_str());
    std::string script = UnixPath(g_hookScript), answer = UnixPath(answerFile);
    if (script.empty() || answer.empty())
        return "failed: no Unix path for the hook " + g_hookScript + " or its answer";
    std::string command = "/bin/sh " + Quoted(script) + " " + verb + " " + Quoted(answer);
    for (const std::string &argument : arguments) {
        if (argument.find('"') != std::string::npos)
            return "failed: a quote in " + argument;
        command += " " + Quoted(argument);
    }
    std::wstring line = Wide(command);
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    ZeroMemory(&process, sizeof(process));
    if (!CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return "failed: cannot start the hook: error " + std::to_string(GetLastError());
    if (process.hProcess != NULL) // Wine gives none for a Unix program
        CloseHandle(process.hProcess);
    if (process.hThread != NULL)
        CloseHandle(process.hThread);
    return AwaitAnswer(answerFile, limitMs);
}

std::string RunHook(const std::string &verb, const Strings &arguments)
{
    Strings lines = Lines(RunHookForText(verb, arguments, 30000));
    return lines.empty() ? "failed: an empty answer from the hook" : lines[0];
}

// ---------------------------------------------------------------- registry

static const REGSAM kView = KEY_WOW64_64KEY;

RegKey ParseKey(const std::string &text)
{
    static const struct {
        const char *prefix;
        HKEY hive;
    } kHives[] = {
        {"HKLM\\", HKEY_LOCAL_MACHINE},
        {"HKEY_LOCAL_MACHINE\\", HKEY_LOCAL_MACHINE},
        {"HKCU\\", HKEY_CURRENT_USER},
        {"HKEY_CURRENT_USER\\", HKEY_CURRENT_USER},
    };
    for (const auto &hive : kHives) {
        size_t length = strlen(hive.prefix);
        if (_strnicmp(text.c_str(), hive.prefix, length) == 0)
            return RegKey{hive.hive, text.substr(length)};
    }
    return RegKey{HKEY_LOCAL_MACHINE, text};
}

std::string KeyText(const RegKey &key) { return (key.hive == HKEY_CURRENT_USER ? "HKCU\\" : "HKLM\\") + key.path; }

static HKEY OpenKey(const RegKey &key, REGSAM access)
{
    HKEY handle;
    if (RegOpenKeyExW(key.hive, Wide(key.path).c_str(), 0, access | kView, &handle) != ERROR_SUCCESS)
        return NULL;
    return handle;
}

static RegValue QueryValue(HKEY handle, const std::wstring &name)
{
    static BYTE bytes[65536];
    DWORD size = sizeof(bytes), type = 0;
    RegValue value = {false, 0, ""};
    if (RegQueryValueExW(handle, name.c_str(), NULL, &type, bytes, &size) == ERROR_SUCCESS)
        value = RegValue{true, type, std::string((const char *)bytes, size)};
    return value;
}

RegValue ReadValue(const RegKey &key, const std::string &name)
{
    HKEY handle = OpenKey(key, KEY_QUERY_VALUE);
    if (handle == NULL)
        return RegValue{false, 0, ""};
    RegValue value = QueryValue(handle, Wide(name));
    RegCloseKey(handle);
    return value;
}

bool WriteValue(const RegKey &key, const std::string &name, DWORD type, const std::string &bytes)
{
    HKEY handle;
    if (RegCreateKeyExW(key.hive, Wide(key.path).c_str(), 0, NULL, 0, KEY_SET_VALUE | kView, NULL, &handle, NULL) !=
        ERROR_SUCCESS)
        return false;
    LONG status = RegSetValueExW(handle, Wide(name).c_str(), 0, type, (const BYTE *)bytes.data(), (DWORD)bytes.size());
    RegCloseKey(handle);
    return status == ERROR_SUCCESS;
}

bool DeleteValue(const RegKey &key, const std::string &name)
{
    HKEY handle = OpenKey(key, KEY_SET_VALUE);
    if (handle == NULL)
        return true;
    LONG status = RegDeleteValueW(handle, Wide(name).c_str());
    RegCloseKey(handle);
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool KeyExists(const RegKey &key)
{
    HKEY handle = OpenKey(key, KEY_READ);
    if (handle != NULL)
        RegCloseKey(handle);
    return handle != NULL;
}

bool KeyIsEmpty(const RegKey &key)
{
    HKEY handle = OpenKey(key, KEY_READ);
    if (handle == NULL)
        return false;
    DWORD subkeys = 1, values = 1;
    LONG status = RegQueryInfoKeyW(handle, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
    RegCloseKey(handle);
    return status == ERROR_SUCCESS && subkeys == 0 && values == 0;
}

static Strings SubkeyNames(HKEY handle)
{
    Strings names;
    static WCHAR name[16384];
    for (DWORD i = 0;; i++) {
        DWORD size = 16384;
        if (RegEnumKeyExW(handle, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        names.push_back(Utf8(name, size));
    }
    return names;
}

void DeleteKeyTree(const RegKey &key)
{
    HKEY handle = OpenKey(key, KEY_ALL_ACCESS);
    if (handle == NULL)
        return;
    Strings children = SubkeyNames(handle);
    RegCloseKey(handle);
    for (const std::string &child : children)
        DeleteKeyTree(RegKey{key.hive, key.path + "\\" + child});
    RegDeleteKeyExW(key.hive, Wide(key.path).c_str(), kView, 0);
}

std::string StringBytes(const std::string &utf8, DWORD type)
{
    std::wstring wide = Wide(utf8);
    wide.push_back(L'\0');
    if (type == REG_MULTI_SZ)
        wide.push_back(L'\0');
    return std::string((const char *)wide.data(), wide.size() * sizeof(WCHAR));
}

static bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

std::string ValueText(const RegValue &value)
{
    if (!value.exists)
        return "<none>";
    if (value.type == REG_DWORD && value.bytes.size() == 4)
        return std::to_string(*(const DWORD *)value.bytes.data());
    if (!IsStringType(value.type))
        return value.bytes;
    std::wstring wide((const WCHAR *)value.bytes.data(), value.bytes.size() / sizeof(WCHAR));
    while (!wide.empty() && wide.back() == L'\0')
        wide.pop_back();
    return Utf8(wide);
}

size_t AnsiByteCount(const RegValue &value)
{
    if (!value.exists || !IsStringType(value.type))
        return value.bytes.size();
    int characters = (int)(value.bytes.size() / sizeof(WCHAR));
    if (characters == 0)
        return 0;
    return (size_t)WideCharToMultiByte(CP_ACP, 0, (const WCHAR *)value.bytes.data(), characters, NULL, 0, NULL, NULL);
}

RegTree ReadTree(const RegKey &key)
{
    RegTree tree = {false, {}, {}};
    HKEY handle = OpenKey(key, KEY_READ);
    if (handle == NULL)
        return tree;
    tree.exists = true;
    static WCHAR name[16384];
    for (DWORD i = 0;; i++) {
        DWORD size = 16384;
        if (RegEnumValueW(handle, i, name, &size, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            break;
        std::wstring valueName(name, size);
        tree.values.push_back({Utf8(valueName), QueryValue(handle, valueName)});
    }
    Strings children = SubkeyNames(handle);
    RegCloseKey(handle);
    for (const std::string &child : children)
        tree.subkeys.push_back({child, ReadTree(RegKey{key.hive, key.path + "\\" + child})});
    return tree;
}

void WriteTree(const RegKey &key, const RegTree &tree)
{
    HKEY handle;
    if (RegCreateKeyExW(key.hive, Wide(key.path).c_str(), 0, NULL, 0, KEY_ALL_ACCESS | kView, NULL, &handle, NULL) !=
        ERROR_SUCCESS)
        return;
    RegCloseKey(handle);
    for (const auto &value : tree.values)
        WriteValue(key, value.first, value.second.type, value.second.bytes);
    for (const auto &subkey : tree.subkeys)
        WriteTree(RegKey{key.hive, key.path + "\\" + subkey.first}, subkey.second);
}

// ---------------------------------------------------------------- environment

bool ReadVariable(const std::string &name, std::string *value)
{
    std::wstring wideName = Wide(name);
    DWORD length = GetEnvironmentVariableW(wideName.c_str(), NULL, 0);
    if (length == 0)
        return false;
    std::wstring wide(length, L'\0');
    length = GetEnvironmentVariableW(wideName.c_str(), &wide[0], length);
    wide.resize(length);
    *value = Utf8(wide);
    return true;
}

bool SetVariable(const std::string &name, const std::string &value)
{
    return SetEnvironmentVariableW(Wide(name).c_str(), Wide(value).c_str()) != 0;
}

void RemoveVariable(const std::string &name) { SetEnvironmentVariableW(Wide(name).c_str(), NULL); }

// ---------------------------------------------------------------- processes

HANDLE StartProcess(const std::string &command, const std::string &folder)
{
    std::wstring line = Wide(command), where = Wide(folder);
    STARTUPINFOW startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessW(NULL, &line[0], NULL, NULL, FALSE, 0, NULL, folder.empty() ? NULL : where.c_str(), &startup,
                        &process))
        return NULL;
    CloseHandle(process.hThread);
    return process.hProcess;
}

DWORD FinishProcess(HANDLE process, DWORD limitMs)
{
    WaitForSingleObject(process, limitMs);
    DWORD exitCode = 1;
    GetExitCodeProcess(process, &exitCode);
    CloseHandle(process);
    return exitCode;
}

// ---------------------------------------------------------------- integrity

// A primary token like this process's, with the Low mandatory label.
static HANDLE LowIntegrityToken(std::string *problem)
{
    HANDLE own = NULL, token = NULL;
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID low = NULL;
    if (!OpenProcessToken(GetCurrentProcess(),
                          TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT, &own) ||
        !DuplicateTokenEx(own, 0, NULL, SecurityImpersonation, TokenPrimary, &token) ||
        !AllocateAndInitializeSid(&authority, 1, SECURITY_MANDATORY_LOW_RID, 0, 0, 0, 0, 0, 0, 0, &low)) {
        *problem = "no low-integrity token: error " + std::to_string(GetLastError());
        if (own != NULL)
            CloseHandle(own);
        if (token != NULL)
            CloseHandle(token);
        return NULL;
    }
    CloseHandle(own);
    TOKEN_MANDATORY_LABEL label = {};
    label.Label.Sid = low;
    label.Label.Attributes = SE_GROUP_INTEGRITY;
    if (!SetTokenInformation(token, TokenIntegrityLevel, &label, sizeof(label) + GetLengthSid(low))) {
        *problem = "cannot label the token low: error " + std::to_string(GetLastError());
        CloseHandle(token);
        token = NULL;
    }
    FreeSid(low);
    return token;
}

bool RunAtLowIntegrity(const std::string &arguments, DWORD *exitCode, std::string *problem)
{
    HANDLE token = LowIntegrityToken(problem);
    if (token == NULL)
        return false;
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(NULL, self, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(self) + L"\" " + Wide(arguments);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    BOOL started =
        CreateProcessAsUserW(token, NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    DWORD error = GetLastError();
    CloseHandle(token);
    if (!started) {
        *problem = "cannot start a low-integrity process: error " + std::to_string(error);
        return false;
    }
    CloseHandle(process.hThread);
    *exitCode = FinishProcess(process.hProcess, 60000);
    return true;
}

DWORD DoAtLowIntegrity(const std::string &action, const std::string &path)
{
    if (action == "mkdir")
        return MakeFolders(path) ? 0 : GetLastError();
    HANDLE file = INVALID_HANDLE_VALUE;
    if (action == "create")
        file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, NULL, CREATE_NEW, 0, NULL);
    else if (action == "write")
        file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    else
        return ERROR_INVALID_PARAMETER;
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError();
    CloseHandle(file);
    return 0;
}
