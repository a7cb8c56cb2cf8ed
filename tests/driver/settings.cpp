#include "tests/driver/settings.h"

#include <shlobj.h>

#include "support/profile.h"

static const char kSavedSuffix[] = ".orva-tests-saved";
static const RegKey kInstallerKey = {HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer"};
static const RegKey kVendorKey = {HKEY_LOCAL_MACHINE, "SOFTWARE\\" PROFILE_VENDOR};
#define EXPLORER_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
const RegKey kUserShellFolders = {HKEY_CURRENT_USER, EXPLORER_KEY "User Shell Folders"};
const RegKey kShellFolders = {HKEY_CURRENT_USER, EXPLORER_KEY "Shell Folders"};
const char kLocalLowValue[] = "{A520A1A4-1780-4FF6-BD18-167343C5AF16}";

struct ValueRecord {
    RegKey key;
    std::string name;
    RegValue before;
    std::string firstMadeKey; // the topmost key of the path that was missing ("" when none)
};

struct VariableRecord {
    std::string name;
    bool existed;
    std::string value;
};

// Everything the running case changed, in the order it did.
struct CaseRecords {
    bool open;
    RegTree vendor;
    std::vector<ValueRecord> values;
    std::vector<VariableRecord> variables;
    Strings removals;
    Strings drives;
    Strings systemFiles;
};

static CRITICAL_SECTION g_lock;
static Places g_runPlaces, g_casePlaces;
static CaseRecords g_case;

// ---------------------------------------------------------------- places

static std::string KnownFolder(const GUID &id)
{
    PWSTR wide = NULL;
    std::string folder;
    if (SHGetKnownFolderPath(id, 0, NULL, &wide) == S_OK)
        folder = Utf8(std::wstring(wide));
    CoTaskMemFree(wide);
    return folder;
}

static std::string SystemFolder(UINT(WINAPI *get)(LPWSTR, UINT))
{
    WCHAR folder[MAX_PATH];
    UINT length = get(folder, MAX_PATH);
    return length > 0 && length < MAX_PATH ? Utf8(folder, length) : "";
}

static std::string Variable(const char *name)
{
    std::string value;
    return ReadVariable(name, &value) ? value : "";
}

// Where the bootstrap stages on 6.x and later is LocalLow: found here
// through the shell's known folder, independently of the bootstrap's lookup.
static bool FindPlaces(Places *places, std::string *problem)
{
    places->system = SystemFolder(GetSystemDirectoryW);
    places->windows = SystemFolder(GetWindowsDirectoryW);
    places->profile = Variable("USERPROFILE");
    places->userData = KnownFolder(FOLDERID_LocalAppDataLow);
    places->programFiles = Variable("ProgramW6432");
    if (places->programFiles.empty())
        places->programFiles = Variable("ProgramFiles");
    places->temp = Variable("TEMP");
    if (places->userData.empty() || places->programFiles.empty() || places->temp.empty() || places->profile.empty()) {
        *problem = "cannot find LocalLow, Program Files, TEMP or USERPROFILE";
        return false;
    }
    places->staging = places->userData + "\\Qel";
    places->vendorFolder = places->programFiles + "\\" PROFILE_VENDOR;
    places->scratch = places->temp + "\\orva-driver";
    return true;
}

// A system file that a run cut short left replaced: its saved copy goes back.
static void PutBackSystemFile(const std::string &path)
{
    if (Exists(path + kSavedSuffix))
        MoveOver(path + kSavedSuffix, path);
}

static void PutBackSavedSystemFiles(void)
{
    std::string suffix = kSavedSuffix;
    for (const std::string &saved : NamesIn(g_runPlaces.system, "*" + suffix))
        PutBackSystemFile(g_runPlaces.system + "\\" + saved.substr(0, saved.size() - suffix.size()));
}

bool StartSettings(std::string *problem)
{
    InitializeCriticalSection(&g_lock);
    if (!FindPlaces(&g_runPlaces, problem))
        return false;
    g_casePlaces = g_runPlaces;
    PutBackSavedSystemFiles();
    return true;
}

const Places &CasePlaces(void) { return g_casePlaces; }

// ---------------------------------------------------------------- guarded folders

// The staging chains of every place the bootstrap may stage in (LocalLow,
// then the profile and the Windows folder when the shell's answer is unfit),
// the vendor's folder and the driver's scratch folder.
static Strings GuardedFolders(void)
{
    const Places &run = g_runPlaces;
    return Strings{run.staging, run.profile + "\\Qel", run.windows + "\\Qel", run.vendorFolder, run.scratch};
}

bool MoveAsideGuardedFolders(std::string *problem)
{
    for (const std::string &folder : GuardedFolders()) {
        if (!Exists(folder))
            continue;
        std::string aside = folder + kSavedSuffix;
        if (Exists(aside) || !MoveOver(folder, aside)) {
            *problem = "cannot move " + folder + " aside to " + aside + " (left from an interrupted run?)";
            return false;
        }
    }
    return true;
}

void MoveBackGuardedFolders(void)
{
    for (const std::string &folder : GuardedFolders()) {
        std::string aside = folder + kSavedSuffix;
        if (Exists(aside) && !Exists(folder))
            MoveOver(aside, folder);
    }
}

// ---------------------------------------------------------------- records

class Locked {
  public:
    Locked() { EnterCriticalSection(&g_lock); }
    ~Locked() { LeaveCriticalSection(&g_lock); }
};

static bool SameValue(const ValueRecord &record, const RegKey &key, const std::string &name)
{
    return record.key.hive == key.hive && _stricmp(record.key.path.c_str(), key.path.c_str()) == 0 &&
           _stricmp(record.name.c_str(), name.c_str()) == 0;
}

// The topmost key of `key`'s path that does not exist yet ("" when the key does).
static std::string FirstMissingKey(const RegKey &key)
{
    for (size_t at = key.path.find('\\');; at = key.path.find('\\', at + 1)) {
        std::string prefix = at == std::string::npos ? key.path : key.path.substr(0, at);
        if (!KeyExists(RegKey{key.hive, prefix}))
            return prefix;
        if (at == std::string::npos)
            return "";
    }
}

static void RecordValueLocked(const RegKey &key, const std::string &name)
{
    for (const ValueRecord &record : g_case.values)
        if (SameValue(record, key, name))
            return;
    g_case.values.push_back(ValueRecord{key, name, ReadValue(key, name), FirstMissingKey(key)});
}

void BeginCase(void)
{
    Locked locked;
    g_case = CaseRecords();
    g_case.open = true;
    RecordValueLocked(kInstallerKey, "InstallerLocation");
    RecordValueLocked(kUserShellFolders, kLocalLowValue);
    RecordValueLocked(kShellFolders, kLocalLowValue);
    g_case.vendor = ReadTree(kVendorKey);
}

void RecordValue(const RegKey &key, const std::string &name)
{
    Locked locked;
    RecordValueLocked(key, name);
}

void RecordVariable(const std::string &name)
{
    Locked locked;
    for (const VariableRecord &record : g_case.variables)
        if (_stricmp(record.name.c_str(), name.c_str()) == 0)
            return;
    VariableRecord record = {name, false, ""};
    record.existed = ReadVariable(name, &record.value);
    g_case.variables.push_back(record);
}

void RemoveAfterCase(const std::string &path)
{
    Locked locked;
    g_case.removals.push_back(path);
}

void MoveUserDataForCase(const std::string &folder)
{
    Locked locked;
    g_casePlaces.userData = folder;
    g_casePlaces.staging = folder + "\\Qel";
    g_case.removals.push_back(g_casePlaces.staging);
}

void UnmountAfterCase(const std::string &letter)
{
    Locked locked;
    g_case.drives.push_back(letter);
}

bool ReplaceSystemFile(const std::string &name, const std::string &replacement, std::string *problem)
{
    Locked locked;
    std::string path = g_runPlaces.system + "\\" + name;
    PutBackSystemFile(path);
    if (!CopyOne(path, path + kSavedSuffix)) {
        *problem = "cannot save " + path + ": error " + std::to_string(GetLastError());
        return false;
    }
    g_case.systemFiles.push_back(path);
    if (!CopyOne(replacement, path)) {
        *problem = "cannot put " + replacement + " in place of " + path + ": error " + std::to_string(GetLastError());
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- putting back

static void PutBackVariables(void)
{
    for (auto record = g_case.variables.rbegin(); record != g_case.variables.rend(); ++record) {
        if (record->existed)
            SetVariable(record->name, record->value);
        else
            RemoveVariable(record->name);
    }
}

// Keys that the case's writes made, once nothing is left in them.
static void RemoveMadeKeys(const ValueRecord &record)
{
    if (record.firstMadeKey.empty())
        return;
    for (std::string path = record.key.path; path.size() >= record.firstMadeKey.size(); path = ParentOf(path)) {
        RegKey key = {record.key.hive, path};
        if (!KeyIsEmpty(key))
            break;
        DeleteKeyTree(key);
    }
}

static void PutBackValues(void)
{
    for (auto record = g_case.values.rbegin(); record != g_case.values.rend(); ++record) {
        if (record->before.exists) {
            WriteValue(record->key, record->name, record->before.type, record->before.bytes);
        } else {
            DeleteValue(record->key, record->name);
            RemoveMadeKeys(*record);
        }
    }
    DeleteKeyTree(kVendorKey);
    if (g_case.vendor.exists)
        WriteTree(kVendorKey, g_case.vendor);
}

static void UnmountDrives(void)
{
    std::string dosDevices = DosDevicesFolder();
    for (const std::string &letter : g_case.drives)
        RunHook("small-disk-off", Strings{dosDevices, letter});
}

void EndCase(void)
{
    Locked locked;
    if (!g_case.open)
        return;
    PutBackVariables();
    for (auto path = g_case.removals.rbegin(); path != g_case.removals.rend(); ++path)
        RemoveTree(*path);
    for (const std::string &folder : GuardedFolders())
        RemoveTree(folder);
    UnmountDrives();
    PutBackValues();
    for (const std::string &path : g_case.systemFiles)
        PutBackSystemFile(path);
    g_casePlaces = g_runPlaces;
    g_case = CaseRecords();
}

void EndRunNow(void)
{
    Locked locked;
    EndCase();
    MoveBackGuardedFolders();
}

void HoldSettings(void) { EnterCriticalSection(&g_lock); }
