// Recording stand-in for msiexec.exe, found by the product through the
// InstallerLocation registry value. Each run appends its exact command line
// and a line break to the file named by FAKE_MSIEXEC_LOG (default: calls.txt
// beside this program), then exits with FAKE_MSIEXEC_EXIT (any 32-bit value,
// decimal or 0x hex; default 0).
// With FAKE_MSIEXEC_PASSTHROUGH set it runs the system's msiexec.exe with the
// same arguments instead and exits with its code: a recorder in front of the
// real engine.
// With FAKE_MSIEXEC_WAIT_CABINETS=<ms> it first plays the package's side of
// the cabinet handshake: it opens or creates the cabinet event, waits for it
// at most <ms>, and the moment the wait returns compares every cabinet beside
// the package with the file of the same name in FAKE_MSIEXEC_EXPECT_DIR. The
// findings are appended to FAKE_MSIEXEC_REPORT_<n> for run n, else to
// FAKE_MSIEXEC_REPORT (default: report.txt beside this program), one line
// each, the last one "done":
//   event at start: set|not set
//   event: set|not set after <ms> ms
//   <name>.cab: ok|missing|differs|unexpected|absent   (in table order)
//   order: table|not table        (last-write times of the staged cabinets)
// It can also leave behind what an installed package leaves. Runs are
// numbered by the lines in the log, this run's included:
//   FAKE_MSIEXEC_EXIT_<n>        exit code of run n (before FAKE_MSIEXEC_EXIT)
//   FAKE_MSIEXEC_STATUS_<n>      "InstallStatus" text that run n (or, without
//   FAKE_MSIEXEC_STATUS          the number, every run) writes in the vendor
//                                key HKLM "Software\<vendor>"; stored as the
//                                runtime package stores it, without its NUL,
//                                unless FAKE_MSIEXEC_STATUS_NUL is set
//   FAKE_MSIEXEC_KIT_HOME        on the first run: this folder is created,
//   FAKE_MSIEXEC_KIT_FILES       holding the comma-separated files named, and
//                                registered as "OrvaHome" of the kit key
// The vendor and the kit key are the build profile's (support/profile.h).
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "installer/engine.h"
#include "staging/cabinets.h"
#include "support/profile.h"

static int LogPath(char path[MAX_PATH])
{
    DWORD length = GetEnvironmentVariableA("FAKE_MSIEXEC_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        length = GetModuleFileNameA(NULL, path, MAX_PATH);
        char *slash = strrchr(path, '\\');
        if (length == 0 || length >= MAX_PATH || slash == NULL || slash + 10 >= path + MAX_PATH)
            return 0;
        strcpy(slash + 1, "calls.txt");
    }
    return 1;
}

static void AppendToLog(const char *commandLine)
{
    char path[MAX_PATH];
    if (!LogPath(path))
        return;
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(file, commandLine, (DWORD)strlen(commandLine), &written, NULL);
    WriteFile(file, "\n", 1, &written, NULL);
    CloseHandle(file);
}

// The command line after the program's own (possibly quoted) name.
static const char *ArgumentsOf(const char *commandLine)
{
    const char *p = commandLine;
    if (*p == '"') {
        p = strchr(p + 1, '"');
        return p != NULL ? p + 1 : "";
    }
    while (*p != '\0' && *p != ' ' && *p != '\t')
        p++;
    return p;
}

static DWORD RunSystemMsiexec(const char *arguments)
{
    static char command[40000];
    char directory[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH || strlen(arguments) > sizeof(command) - MAX_PATH - 20)
        return 1;
    strcpy(command, "\"");
    strcat(command, directory);
    strcat(command, "\\msiexec.exe\"");
    strcat(command, arguments);
    return RunAndWait(command);
}

static bool ReadWhole(const std::string &path, std::string *bytes)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_EXISTING, 0, NULL);
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

// The folder of the package named after " /i \"" in the command line.
static std::string PackageFolder(const char *commandLine)
{
    const char *start = strstr(commandLine, " /i \"");
    if (start == NULL)
        return "";
    std::string package(start + 5);
    package = package.substr(0, package.find('"'));
    return package.substr(0, package.rfind('\\') + 1);
}

// What a reader of the staged cabinet finds, given the size it had the moment
// the event was seen set (-1: no file then).
static std::string CabinetVerdict(const std::string &staged, long long sizeWhenSet, const std::string &expected)
{
    std::string stagedBytes, expectedBytes;
    bool isExpected = ReadWhole(expected, &expectedBytes);
    if (sizeWhenSet < 0)
        return isExpected ? "missing" : "absent";
    if (!isExpected)
        return "unexpected";
    if ((size_t)sizeWhenSet != expectedBytes.size() || !ReadWhole(staged, &stagedBytes))
        return "differs";
    return stagedBytes == expectedBytes ? "ok" : "differs";
}

// The size of a staged file, -1 when there is none.
static long long FileSize(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return -1;
    return ((long long)data.nFileSizeHigh << 32) | data.nFileSizeLow;
}

static ULONGLONG LastWriteTime(const std::string &path)
{
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return 0;
    return ((ULONGLONG)data.ftLastWriteTime.dwHighDateTime << 32) | data.ftLastWriteTime.dwLowDateTime;
}

// The number of this run: the lines in the log, which this run has just added to.
static int RunNumber(void)
{
    char path[MAX_PATH];
    if (!LogPath(path))
        return 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    int lines = 0;
    char chunk[4096];
    DWORD count;
    while (ReadFile(file, chunk, sizeof(chunk), &count, NULL) && count > 0) {
        for (DWORD i = 0; i < count; i++)
            lines += chunk[i] == '\n';
    }
    CloseHandle(file);
    return lines;
}

// The variable "<name>_<run>" if set, else "<name>", into `value`. 0 when
// neither is set (or the value does not fit).
static int RunSetting(const char *name, int run, char *value, DWORD size)
{
    char perRun[64];
    _snprintf(perRun, sizeof(perRun) - 1, "%.40s_%d", name, run);
    perRun[sizeof(perRun) - 1] = '\0';
    DWORD length = GetEnvironmentVariableA(perRun, value, size);
    if (length == 0 || length >= size)
        length = GetEnvironmentVariableA(name, value, size);
    return length != 0 && length < size;
}

// Where run `run` appends its report.
static std::string ReportPath(int run)
{
    char path[MAX_PATH];
    if (RunSetting("FAKE_MSIEXEC_REPORT", run, path, MAX_PATH))
        return path;
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string own(path, length < MAX_PATH ? length : 0);
    return own.substr(0, own.rfind('\\') + 1) + "report.txt";
}

static void PlayPackageSide(const char *commandLine, DWORD waitMs, int run)
{
    std::string report;
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, CABINET_EVENT_NAME);
    report += std::string("event at start: ") + (WaitForSingleObject(event, 0) == WAIT_OBJECT_0 ? "set" : "not set") + "\n";
    if (WaitForSingleObject(event, waitMs) == WAIT_OBJECT_0)
        report += "event: set\n";
    else
        report += "event: not set after " + std::to_string(waitMs) + " ms\n";

    // Sizes first, at once: a cabinet still being written shows short.
    std::string folder = PackageFolder(commandLine);
    std::string files[CABINET_COUNT];
    long long sizesWhenSet[CABINET_COUNT];
    for (int i = 0; i < CABINET_COUNT; i++) {
        char name[MAX_PATH];
        FormatCabinetName(name, sizeof(name), &kCabinetTable[i]);
        files[i] = std::string(name) + ".cab";
        sizesWhenSet[i] = FileSize(folder + files[i]);
    }

    char expectDir[MAX_PATH] = "";
    GetEnvironmentVariableA("FAKE_MSIEXEC_EXPECT_DIR", expectDir, MAX_PATH);
    ULONGLONG previous = 0;
    bool inTableOrder = true;
    for (int i = 0; i < CABINET_COUNT; i++) {
        std::string expected = std::string(expectDir) + "\\" + files[i];
        report += files[i] + ": " + CabinetVerdict(folder + files[i], sizesWhenSet[i], expected) + "\n";
        ULONGLONG written = LastWriteTime(folder + files[i]);
        if (written != 0) {
            inTableOrder = inTableOrder && written >= previous;
            previous = written;
        }
    }
    report += std::string("order: ") + (inTableOrder ? "table" : "not table") + "\ndone\n";
    CloseHandle(event);

    HANDLE out = CreateFileA(ReportPath(run).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    DWORD written;
    WriteFile(out, report.data(), (DWORD)report.size(), &written, NULL);
    CloseHandle(out);
}

// Stores `text` as a REG_SZ value of HKLM `keyPath`, with its NUL or without.
// Without it, the byte after the letters must not be 0 in what is handed
// over, or the registry stores the NUL anyway.
static void StoreMachineString(const char *keyPath, const char *name, const char *text, int withNul)
{
    static char data[8192 + 2];
    size_t length = strlen(text);
    if (length + 2 > sizeof(data))
        return;
    memcpy(data, text, length);
    data[length] = withNul ? '\0' : 'x';
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)data, (DWORD)(length + (withNul ? 1 : 0)));
    RegCloseKey(key);
}

// The kit home as the kit package leaves it: the folder, the files named in
// FAKE_MSIEXEC_KIT_FILES (each holding its own name), and "OrvaHome".
static void CreateKitHome(void)
{
    static char home[1024], files[1024], path[2048];
    DWORD length = GetEnvironmentVariableA("FAKE_MSIEXEC_KIT_HOME", home, sizeof(home));
    if (length == 0 || length >= sizeof(home))
        return;
    CreateDirectoryA(home, NULL);
    length = GetEnvironmentVariableA("FAKE_MSIEXEC_KIT_FILES", files, sizeof(files));
    if (length == 0 || length >= sizeof(files))
        files[0] = '\0';
    for (char *name = strtok(files, ","); name != NULL; name = strtok(NULL, ",")) {
        _snprintf(path, sizeof(path) - 1, "%.1000s\\%.1000s", home, name);
        path[sizeof(path) - 1] = '\0';
        HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
        if (file == INVALID_HANDLE_VALUE)
            continue;
        DWORD written;
        WriteFile(file, name, (DWORD)strlen(name), &written, NULL);
        CloseHandle(file);
    }
    StoreMachineString(PROFILE_KIT_KEY, "OrvaHome", home, 1);
}

// What the installed package leaves behind on run `run`.
static void LeaveInstalledState(int run)
{
    static char status[8192];
    char nul[8];
    if (RunSetting("FAKE_MSIEXEC_STATUS", run, status, sizeof(status)))
        StoreMachineString("Software\\" PROFILE_VENDOR, "InstallStatus", status,
                           GetEnvironmentVariableA("FAKE_MSIEXEC_STATUS_NUL", nul, sizeof(nul)) != 0);
    if (run == 1)
        CreateKitHome();
}

// Ends the process with FAKE_MSIEXEC_EXIT_<run> when that is set.
static void ExitWithCodeOfRun(int run)
{
    char name[64], value[64];
    _snprintf(name, sizeof(name) - 1, "FAKE_MSIEXEC_EXIT_%d", run);
    name[sizeof(name) - 1] = '\0';
    DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    if (length != 0 && length < sizeof(value))
        ExitProcess((DWORD)strtoul(value, NULL, 0));
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const char *commandLine = GetCommandLineA();
    AppendToLog(commandLine);
    int run = RunNumber();
    char value[64];
    DWORD waitLength = GetEnvironmentVariableA("FAKE_MSIEXEC_WAIT_CABINETS", value, sizeof(value));
    if (waitLength != 0 && waitLength < sizeof(value))
        PlayPackageSide(commandLine, (DWORD)strtoul(value, NULL, 0), run);
    if (GetEnvironmentVariableA("FAKE_MSIEXEC_PASSTHROUGH", value, sizeof(value)) != 0)
        ExitProcess(RunSystemMsiexec(ArgumentsOf(commandLine)));
    LeaveInstalledState(run);
    ExitWithCodeOfRun(run);
    DWORD length = GetEnvironmentVariableA("FAKE_MSIEXEC_EXIT", value, sizeof(value));
    ExitProcess(length != 0 && length < sizeof(value) ? (DWORD)strtoul(value, NULL, 0) : 0);
}
