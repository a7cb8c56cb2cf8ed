#include <gtest/gtest.h>

#include <winternl.h>

#include <string>
#include <vector>

#include "support/sysload.h"
#include "tests/win/helpers.h"
#include "tests/win/imports.h"
#include "tests/win/logcheck.h"

namespace {

typedef std::vector<std::string> Messages;

std::string SystemDirectory()
{
    char path[MAX_PATH];
    GetSystemDirectoryA(path, MAX_PATH);
    return path;
}

// The loader's reference count of a loaded module, read from its entry in the
// process's module list (x86-64 layout); -1 for a module that is pinned.
int LoadCountOf(HMODULE module)
{
    struct Entry {
        LIST_ENTRY inLoadOrder, inMemoryOrder, inInitializationOrder;
        void *base;
        void *entryPoint;
        ULONG imageSize;
        UNICODE_STRING fullName, baseName;
        ULONG flags;
        SHORT loadCount;
    };
    PEB_LDR_DATA *loader = NtCurrentTeb()->ProcessEnvironmentBlock->Ldr;
    LIST_ENTRY *head = reinterpret_cast<LIST_ENTRY *>(reinterpret_cast<char *>(loader) + 0x10);
    for (LIST_ENTRY *link = head->Flink; link != head; link = link->Flink) {
        Entry *entry = reinterpret_cast<Entry *>(link);
        if (entry->base == module)
            return entry->loadCount;
    }
    return 0; // not loaded
}

// A copy of a file from beside this program in the system directory, for the
// life of the object.
class SystemDirectoryFile {
  public:
    SystemDirectoryFile(const char *source, const std::string &name) : path_(SystemDirectory() + "\\" + name)
    {
        EXPECT_TRUE(CopyFileA((OwnFolder() + source).c_str(), path_.c_str(), FALSE)) << path_;
    }
    ~SystemDirectoryFile() { EXPECT_TRUE(DeleteFileA(path_.c_str())) << path_; }

  private:
    std::string path_;
};

// What the stand-in for GetSystemDirectoryA answers: a return value and the
// last error it leaves, as a broken system would.
UINT g_systemDirectoryReturn;
DWORD g_systemDirectoryError;

UINT WINAPI SystemDirectoryNotHad(LPSTR out, UINT size)
{
    if (size > 0)
        out[0] = '\0';
    SetLastError(g_systemDirectoryError);
    return g_systemDirectoryReturn;
}

} // namespace

TEST(SystemLoader, MissingNameLogsTheFullPathItTriedAndNotTheSearchOrder)
{
    std::string folder = MakeTempFolder("load");
    ScopedTmpdir tmpdir(folder.c_str());
    // This one lies beside the test program, not in the system directory.
    EXPECT_EQ(NULL, HUX_System_LoadLibrary("msi-2.0.2600.0.dll"));
    EXPECT_EQ(NULL, LoadSystemLibrary("msi-2.0.2600.0.dll"));
    char path[MAX_PATH];
    ASSERT_EQ(1, MakeSystemPath(path, sizeof(path), "msi-2.0.2600.0.dll"));
    EXPECT_EQ(SystemDirectory() + "\\msi-2.0.2600.0.dll", path);
    EXPECT_EQ((Messages{"LoadLibrary(" + std::string(path) + ") failed.  ErrorCode: 126"}), LogMessagesIn(folder));
}

namespace {

// A copy of this program in a folder of its own with the marker DLL planted
// beside it under `names`, which it prefers to its built-in DLLs (Wine's
// AppDefaults, read when a process of that name starts; on Windows a load by
// bare name looks beside the program first anyway). Taken away again with
// the object.
class PlantedCopy {
  public:
    PlantedCopy(const std::vector<std::string> &names)
        : folder_(MakeTempFolder("plant")), exe_(UniqueName("wt-plant") + ".exe"),
          key_("Software\\Wine\\AppDefaults\\" + exe_ + "\\DllOverrides")
    {
        char self[MAX_PATH];
        GetModuleFileNameA(NULL, self, MAX_PATH);
        EXPECT_TRUE(CopyFileA(self, (folder_ + "\\" + exe_).c_str(), FALSE));
        HKEY overrides = NULL;
        RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, NULL, 0, KEY_SET_VALUE, NULL, &overrides, NULL);
        for (const std::string &name : names) {
            EXPECT_TRUE(CopyFileA((OwnFolder() + "planted.dll").c_str(), (folder_ + "\\" + name).c_str(), FALSE));
            std::string base = name.substr(0, name.rfind('.'));
            if (overrides != NULL)
                RegSetValueExA(overrides, base.c_str(), 0, REG_SZ, (const BYTE *)"native,builtin", 15);
        }
        if (overrides != NULL)
            RegCloseKey(overrides);
    }
    ~PlantedCopy() { RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str()); }

    // The copy's exit code for `--child <arguments>`.
    DWORD Run(const std::string &arguments) const
    {
        std::wstring command = L"\"" + std::wstring(Wide(folder_ + "\\" + exe_)) + L"\" --child " + Wide(arguments);
        WatchResult result;
        EXPECT_TRUE(RunWatched(command.c_str(), &result));
        return result.exitCode;
    }
    bool Loaded(const std::string &name) const
    {
        return GetFileAttributesA((folder_ + "\\" + name + ".loaded").c_str()) != INVALID_FILE_ATTRIBUTES;
    }

  private:
    static std::wstring Wide(const std::string &text)
    {
        WCHAR wide[1024];
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, wide, 1024);
        return wide;
    }
    std::string folder_, exe_, key_;
};

} // namespace

// Both loaders load a system DLL from the system directory, never one planted
// beside the program under its name, and log nothing. The names are ones the
// program has not loaded yet: a loaded module is found by its name first,
// wherever a search would look.
TEST(SystemLoader, LoadsFromTheSystemDirectoryNotBesideTheProgramAndLogsNothing)
{
    std::string logFolder = MakeTempFolder("load");
    ScopedTmpdir tmpdir(logFolder.c_str());
    const std::vector<std::string> names = {"shfolder.dll", "msi.dll"};
    PlantedCopy copy(names);
    for (const std::string &name : names) {
        SCOPED_TRACE(name);
        // The plant refuses to attach, so the load fails, with its marker left.
        EXPECT_NE(0u, copy.Run("load-bare " + name)) << "control: a load by bare name takes the plant";
        EXPECT_TRUE(copy.Loaded(name)) << "control";
    }
    PlantedCopy clean(names); // no marker from the control
    for (const std::string &name : names) {
        for (const char *loader : {"silent", "logged"}) {
            SCOPED_TRACE(name + " by the " + loader + " loader");
            EXPECT_EQ(0u, clean.Run("load-system " + name + " " + loader));
            EXPECT_FALSE(clean.Loaded(name));
        }
    }
    EXPECT_EQ("<missing>", ReadWholeFile(logFolder + "\\quorlim.log"));
}

// Every DLL the units load at run time, on each path that loads one, is
// loaded by its full path in the system directory with the altered search,
// never by a bare name: where the search is not narrowed to the system
// directory (a system without SetDefaultDllDirectories), a bare name would
// be looked for beside the program, in a download folder.
TEST(LoadedDlls, EachIsLoadedByItsFullPathInTheSystemDirectory)
{
    const struct {
        const char *path;
        const char *includes; // a DLL the path must load
    } cases[] = {
        {"boxes", "user32.dll"},  {"gate-box", "user32.dll"}, {"silent-boxes", "user32.dll"},
        {"lookup", "shell32.dll"}, {"gate", "version.dll"},    {"chain", "ntdll.dll"},
        {"harden", "kernel32.dll"},
    };
    const std::string system = SystemDirectory() + "\\";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        std::string record = MakeTempFolder("loads") + "\\loads.txt";
        RunChild("record-loads \"" + record + "\" " + c.path);
        std::string loads = ReadWholeFile(record);
        ASSERT_NE("<missing>", loads);
        EXPECT_NE(std::string::npos, loads.find(system + c.includes + "|")) << loads;
        for (size_t at = 0, end; at < loads.size(); at = end + 1) {
            end = loads.find('\n', at);
            std::string line = loads.substr(at, end - at);
            std::string name = line.substr(0, line.find('|')), flags = line.substr(line.find('|') + 1);
            EXPECT_EQ(0, _strnicmp(system.c_str(), name.c_str(), system.size())) << "loaded by bare name: " << line;
            EXPECT_EQ(std::to_string(LOAD_WITH_ALTERED_SEARCH_PATH), flags) << line;
        }
    }
}

TEST(SystemLoaderInSystemDirectory, PathOf259CharactersLoadsOneMoreLogsAndLoadsNothing)
{
    std::string folder = MakeTempFolder("load");
    ScopedTmpdir tmpdir(folder.c_str());
    const size_t nameLength = 259 - SystemDirectory().size() - 1;
    const std::string fits = std::string(nameLength - 4, 'n') + ".dll";
    const std::string over = std::string(nameLength - 3, 'n') + ".dll";
    SystemDirectoryFile fitting("standin-plain.dll", fits);
    SystemDirectoryFile overlong("standin-plain.dll", over); // there, but never tried

    HMODULE module = HUX_System_LoadLibrary(fits.c_str());
    EXPECT_NE(nullptr, module);
    FreeLibrary(module);
    module = LoadSystemLibrary(fits.c_str());
    EXPECT_NE(nullptr, module);
    FreeLibrary(module);
    EXPECT_EQ("<missing>", ReadWholeFile(folder + "\\quorlim.log"));

    SetLastError(4242); // the formatter sets no code of its own
    EXPECT_EQ(NULL, HUX_System_LoadLibrary(over.c_str()));
    EXPECT_EQ(NULL, LoadSystemLibrary(over.c_str()));
    EXPECT_EQ(NULL, GetModuleHandleA(over.c_str())) << "the overlong name was loaded";
    EXPECT_EQ((Messages{"_snprintf failed.  ErrorCode: 4242"}), LogMessagesIn(folder));
}

TEST(Hardening, WithTheEmptyStringSucceedsLogsNothingAndKeepsKernel32sCount)
{
    std::string folder = MakeTempFolder("harden");
    ScopedTmpdir tmpdir(folder.c_str());
    // A DLL beside the program is found by bare name before, not after.
    HMODULE beside = LoadLibraryA("msi-2.0.2600.0.dll");
    EXPECT_NE(nullptr, beside);
    FreeLibrary(beside);

    HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    int countBefore = LoadCountOf(kernel32);
    EXPECT_EQ(1, HardenDllSearchPath(""));
    EXPECT_EQ(countBefore, LoadCountOf(kernel32));
    EXPECT_EQ("<missing>", ReadWholeFile(folder + "\\quorlim.log"));

    EXPECT_EQ(NULL, LoadLibraryA("msi-2.0.2600.0.dll")) << "the program's folder is still searched";
    HMODULE shell32 = LoadSystemLibrary("shell32.dll"); // full paths still load
    EXPECT_NE(nullptr, shell32);
    FreeLibrary(shell32);
}

TEST(Hardening, WithoutSetDllDirectoryLogsAndReleasesTheModule)
{
    std::string folder = MakeTempFolder("harden");
    ScopedTmpdir tmpdir(folder.c_str());
    HMODULE version = LoadSystemLibrary("version.dll"); // has no SetDllDirectoryA
    int countBefore = LoadCountOf(version);
    EXPECT_EQ(0, HardenDllSearchPathFrom("", "version.dll"));
    EXPECT_EQ(countBefore, LoadCountOf(version));
    FreeLibrary(version);
    EXPECT_EQ((Messages{"GetProcAddress(SetDllDirectory) failed.  ErrorCode: 127"}), LogMessagesIn(folder));
}

TEST(Hardening, KernelThatDoesNotLoadLeavesTwoRecords)
{
    std::string folder = MakeTempFolder("harden");
    ScopedTmpdir tmpdir(folder.c_str());
    EXPECT_EQ(0, HardenDllSearchPathFrom("", "no-such-kernel.dll"));
    Messages messages = LogMessagesIn(folder);
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ("LoadLibrary(" + SystemDirectory() + "\\no-such-kernel.dll) failed.  ErrorCode: 126", messages[0]);
    // Its code is whatever writing the first record left behind.
    const std::string second = "HUX_System_LoadLibrary(kernel32.dll) failed.  ErrorCode: ";
    EXPECT_EQ(second, messages[1].substr(0, second.size()));
    EXPECT_GT(messages[1].size(), second.size());
}

TEST(HardeningInSystemDirectory, SetDllDirectoryThatFailsIsLoggedAndDefaultsAreLeftAlone)
{
    std::string folder = MakeTempFolder("harden");
    ScopedTmpdir tmpdir(folder.c_str());
    SystemDirectoryFile standIn("standin-full.dll", "qtest-standin-full.dll");
    // Held here too, so that the stand-in's record outlives the call.
    HMODULE held = LoadSystemLibrary("qtest-standin-full.dll");
    ASSERT_NE(nullptr, held);
    typedef const char *(*DirectoryFn)(void);
    typedef unsigned long (*FlagsFn)(void);
    DirectoryFn directory = FindExport<DirectoryFn>(held, "StandInDirectory");
    FlagsFn flags = FindExport<FlagsFn>(held, "StandInDefaultFlags");

    EXPECT_EQ(0, HardenDllSearchPathFrom("fail", "qtest-standin-full.dll"));
    EXPECT_STREQ("fail", directory());
    EXPECT_EQ(0u, flags()) << "defaults are narrowed only after SetDllDirectoryA succeeded";
    EXPECT_EQ(1, LoadCountOf(held)) << "the module was not released";
    EXPECT_EQ((Messages{"SetDllDirectory() failed.  ErrorCode: 4321"}), LogMessagesIn(folder));
    FreeLibrary(held);
}

TEST(HardeningInSystemDirectory, SetDefaultDllDirectoriesAbsentOrFailingIsSilent)
{
    std::string folder = MakeTempFolder("harden");
    ScopedTmpdir tmpdir(folder.c_str());
    SystemDirectoryFile full("standin-full.dll", "qtest-standin-full.dll");
    SystemDirectoryFile plain("standin-plain.dll", "qtest-standin-plain.dll");
    typedef const char *(*DirectoryFn)(void);
    typedef unsigned long (*FlagsFn)(void);

    HMODULE held = LoadSystemLibrary("qtest-standin-full.dll");
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(1, HardenDllSearchPathFrom("", "qtest-standin-full.dll"));
    EXPECT_STREQ("", FindExport<DirectoryFn>(held, "StandInDirectory")());
    EXPECT_EQ(0x800u, FindExport<FlagsFn>(held, "StandInDefaultFlags")()); // LOAD_LIBRARY_SEARCH_SYSTEM32, refused
    EXPECT_EQ(1, LoadCountOf(held));
    FreeLibrary(held);

    held = LoadSystemLibrary("qtest-standin-plain.dll");
    ASSERT_NE(nullptr, held);
    EXPECT_EQ(1, HardenDllSearchPathFrom("", "qtest-standin-plain.dll"));
    EXPECT_STREQ("", FindExport<DirectoryFn>(held, "StandInDirectory")());
    EXPECT_EQ(1, LoadCountOf(held));
    FreeLibrary(held);
    EXPECT_EQ("<missing>", ReadWholeFile(folder + "\\quorlim.log"));
}

// GetSystemDirectoryA failing (0) or asking for more room than MAX_PATH: the
// logging loader records the return value and the code and loads nothing;
// the silent loader records nothing; the hardening adds its own record.
TEST(SystemLoader, SystemDirectoryNotHadIsLoggedWithItsReturnAndCode)
{
    struct {
        UINT returned;
        DWORD error;
        const char *expected;
    } const cases[] = {
        {0, 1234, "GetSystemDirectory failed.  Return Code: 0, ErrorCode: 1234"},
        {MAX_PATH, 0, "GetSystemDirectory failed.  Return Code: 260, ErrorCode: 0"},
        {4096, 87, "GetSystemDirectory failed.  Return Code: 4096, ErrorCode: 87"},
    };
    for (const auto &c : cases) {
        std::string folder = MakeTempFolder("sysdir");
        ScopedTmpdir tmpdir(folder.c_str());
        g_systemDirectoryReturn = c.returned;
        g_systemDirectoryError = c.error;
        HMODULE logged, silent;
        int hardened;
        {
            ScopedImportPatch patch("kernel32.dll", "GetSystemDirectoryA", (void *)SystemDirectoryNotHad);
            ASSERT_TRUE(patch.ok()) << "no import of GetSystemDirectoryA to stand in for";
            logged = HUX_System_LoadLibrary("kernel32.dll");
            silent = LoadSystemLibrary("kernel32.dll");
            hardened = HardenDllSearchPath("");
        }
        EXPECT_EQ(NULL, logged) << c.expected;
        EXPECT_EQ(NULL, silent) << c.expected;
        EXPECT_EQ(0, hardened) << c.expected;
        const std::string kernelNotLoaded = "HUX_System_LoadLibrary(kernel32.dll) failed.  ErrorCode: ";
        Messages messages = LogMessagesIn(folder);
        ASSERT_EQ(3u, messages.size()) << c.expected;
        EXPECT_EQ(c.expected, messages[0]);
        EXPECT_EQ(c.expected, messages[1]) << "the hardening's load of kernel32";
        EXPECT_EQ(kernelNotLoaded, messages[2].substr(0, kernelNotLoaded.size()));
    }
}
