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
// findings go to FAKE_MSIEXEC_REPORT (default: report.txt beside this
// program), one line each, the last one "done":
//   event at start: set|not set
//   event: set|not set after <ms> ms
//   <name>.cab: ok|missing|differs|unexpected|absent   (in table order)
//   order: table|not table        (last-write times of the staged cabinets)
#include <windows.h>

#include <stdlib.h>
#include <string.h>

#include <string>

#include "installer/engine.h"
#include "staging/cabinets.h"

static void AppendToLog(const char *commandLine)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA("FAKE_MSIEXEC_LOG", path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        length = GetModuleFileNameA(NULL, path, MAX_PATH);
        char *slash = strrchr(path, '\\');
        if (length == 0 || length >= MAX_PATH || slash == NULL || slash + 10 >= path + MAX_PATH)
            return;
        strcpy(slash + 1, "calls.txt");
    }
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

// A file beside this program, or the one named by `variable`.
static std::string OutputPath(const char *variable, const char *defaultName)
{
    char path[MAX_PATH];
    DWORD length = GetEnvironmentVariableA(variable, path, MAX_PATH);
    if (length != 0 && length < MAX_PATH)
        return path;
    length = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string own(path, length < MAX_PATH ? length : 0);
    return own.substr(0, own.rfind('\\') + 1) + defaultName;
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

static void PlayPackageSide(const char *commandLine, DWORD waitMs)
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

    HANDLE out = CreateFileA(OutputPath("FAKE_MSIEXEC_REPORT", "report.txt").c_str(), FILE_APPEND_DATA,
                             FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    DWORD written;
    WriteFile(out, report.data(), (DWORD)report.size(), &written, NULL);
    CloseHandle(out);
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    const char *commandLine = GetCommandLineA();
    AppendToLog(commandLine);
    char value[64];
    DWORD waitLength = GetEnvironmentVariableA("FAKE_MSIEXEC_WAIT_CABINETS", value, sizeof(value));
    if (waitLength != 0 && waitLength < sizeof(value))
        PlayPackageSide(commandLine, (DWORD)strtoul(value, NULL, 0));
    if (GetEnvironmentVariableA("FAKE_MSIEXEC_PASSTHROUGH", value, sizeof(value)) != 0)
        ExitProcess(RunSystemMsiexec(ArgumentsOf(commandLine)));
    DWORD length = GetEnvironmentVariableA("FAKE_MSIEXEC_EXIT", value, sizeof(value));
    ExitProcess(length != 0 && length < sizeof(value) ? (DWORD)strtoul(value, NULL, 0) : 0);
}
