#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "installer/engine.h"
#include "tests/win/helpers.h"
#include "tests/win/logcheck.h"

namespace {

const char kInstallerKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer";
const char kLocation[] = "InstallerLocation";

std::string SystemDirectory()
{
    char path[MAX_PATH];
    GetSystemDirectoryA(path, MAX_PATH);
    return path;
}

void SetLocation(const std::string &value)
{
    SetMachineValueBytes(kInstallerKey, kLocation, value.c_str(), (DWORD)value.size() + 1);
}

// LocateMsiexec's answer, or "<failed>".
std::string Located(DWORD size = MAX_PATH)
{
    char out[MAX_PATH + 64];
    memset(out, 'z', sizeof(out));
    if (!LocateMsiexec(out, size)) {
        EXPECT_EQ('\0', out[0]);
        return "<failed>";
    }
    return out;
}

} // namespace

TEST(EngineGate, AcceptsTheSystemsEngine)
{
    DWORD versionMS = 0;
    ASSERT_EQ(1, CheckEngineVersion(&versionMS));
    EXPECT_GE(versionMS, 0x00020000u);
    EXPECT_EQ(1, CheckEngineVersion(NULL));
}

TEST(EngineGate, JudgesTheFileVersionOfStandIns)
{
    struct {
        const char *file;
        int accepted;
        DWORD versionMS;
    } const cases[] = {
        {"msi-2.0.2600.0.dll", 1, 0x00020000},
        {"msi-3.1.4000.0.dll", 1, 0x00030001},
        {"msi-2.0.2599.65535.dll", 0, 0},
        {"msi-1.20.0.0.dll", 0, 0},
        {"runner.exe", 0, 0},        // no version resource at all
        {"no-such-file.dll", 0, 0},
    };
    for (const auto &c : cases) {
        std::string path = OwnFolder() + c.file;
        DWORD versionMS = 0xAAAAAAAA;
        EXPECT_EQ(c.accepted, CheckEngineFileVersion(path.c_str(), &versionMS)) << c.file;
        if (c.accepted)
            EXPECT_EQ(c.versionMS, versionMS) << c.file;
        else
            EXPECT_EQ(0xAAAAAAAAu, versionMS) << c.file << ": left alone on refusal";
    }
}

TEST(LocateMsiexec, UsesInstallerLocationAsStored)
{
    SavedMachineValue saved(kInstallerKey, kLocation);
    struct {
        const char *location;
        const char *expected;
    } const cases[] = {
        {"C:\\windows\\system32", "C:\\windows\\system32\\msiexec.exe"},
        {"C:\\windows\\system32\\", "C:\\windows\\system32\\\\msiexec.exe"}, // kept, and doubled
        {"D:\\engine dir", "D:\\engine dir\\msiexec.exe"},
    };
    for (const auto &c : cases) {
        SetLocation(c.location);
        EXPECT_EQ(c.expected, Located()) << c.location;
    }
}

TEST(LocateMsiexec, ValueWithoutTerminatorEndsAtItsByteCount)
{
    SavedMachineValue saved(kInstallerKey, kLocation);
    const char letters[] = "C:\\enginexyz"; // the bytes after the value's nine are not 0
    SetMachineValueBytes(kInstallerKey, kLocation, letters, 9);
    EXPECT_EQ("C:\\engine\\msiexec.exe", Located());
}

TEST(LocateMsiexec, FailsWithoutValueOrRoom)
{
    SavedMachineValue saved(kInstallerKey, kLocation);
    DeleteMachineValue(kInstallerKey, kLocation);
    EXPECT_EQ("<failed>", Located());

    // "\msiexec.exe" is 12 characters: 247 + 12 = 259 fit a 260-byte buffer.
    SetLocation("C:\\" + std::string(244, 'l'));
    EXPECT_EQ(259u, Located().size());
    SetLocation("C:\\" + std::string(245, 'l'));
    EXPECT_EQ("<failed>", Located());
    SetLocation("C:\\" + std::string(400, 'l')); // larger than the buffer itself
    EXPECT_EQ("<failed>", Located());

    SetLocation("C:\\windows\\system32");
    EXPECT_EQ("<failed>", Located(20));
}

TEST(OnVersion52, MsiexecIsInTheSystemDirectoryWhateverTheRegistrySays)
{
    ASSERT_TRUE(IsVersion52()) << "run as windows_tests52.exe, which the prefix reports as 5.2";
    SavedMachineValue saved(kInstallerKey, kLocation);
    SetLocation("C:\\elsewhere");
    EXPECT_EQ(SystemDirectory() + "\\msiexec.exe", Located());
    DeleteMachineValue(kInstallerKey, kLocation);
    EXPECT_EQ(SystemDirectory() + "\\msiexec.exe", Located());
}

// 5.1 is not 5.2: the engine is where the registry says, and nowhere else.
TEST(OnVersion51, MsiexecIsWhereInstallerLocationSays)
{
    OSVERSIONINFOA version;
    ZeroMemory(&version, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));
    ASSERT_EQ(5u, version.dwMajorVersion) << "run as windows_tests51.exe, which the prefix reports as 5.1";
    ASSERT_EQ(1u, version.dwMinorVersion);
    EXPECT_FALSE(IsVersion52());
    SavedMachineValue saved(kInstallerKey, kLocation);
    SetLocation("C:\\elsewhere");
    EXPECT_EQ("C:\\elsewhere\\msiexec.exe", Located());
    DeleteMachineValue(kInstallerKey, kLocation);
    EXPECT_EQ("<failed>", Located());
}

TEST(RunAndWait, PassesTheExitCodeOnInFull)
{
    // A start that fails gives 1 too; its record, with the system's code, is
    // what tells it from the stand-in's own 1.
    std::string records = MakeTempFolder("run-log");
    ScopedTmpdir tmpdir(records.c_str());
    std::string log = MakeTempFolder("run") + "\\calls.txt";
    SetEnvironmentVariableA("FAKE_MSIEXEC_LOG", log.c_str());
    const DWORD codes[] = {0, 1, 1603, 3010, 0x10000, 0xFFFFFFFE, 0xC0000005};
    for (DWORD code : codes) {
        SetEnvironmentVariableA("FAKE_MSIEXEC_EXIT", std::to_string(code).c_str());
        std::string command = "\"" + OwnFolder() + "msiexec.exe\" /i \"x.msi\"  WRAPPER=1";
        EXPECT_EQ(code, RunAndWait(&command[0])) << code << "; the log: " << ReadWholeFile(records + "\\quorlim.log");
    }
    SetEnvironmentVariableA("FAKE_MSIEXEC_EXIT", NULL);
    SetEnvironmentVariableA("FAKE_MSIEXEC_LOG", NULL);
    std::string expectedLine = "\"" + OwnFolder() + "msiexec.exe\" /i \"x.msi\"  WRAPPER=1\n";
    EXPECT_EQ(expectedLine + expectedLine, ReadWholeFile(log).substr(0, 2 * expectedLine.size()));
}

// An engine that does not start gives 1, as an engine that returns 1 does;
// the log's record tells the two apart.
TEST(RunAndWait, MissingExecutableGives1AndLogsTheStart)
{
    std::string folder = MakeTempFolder("start");
    ScopedTmpdir tmpdir(folder.c_str());
    std::string program = OwnFolder() + "no-such-program.exe";
    std::string command = "\"" + program + "\" /i \"x.msi\"";
    EXPECT_EQ(1u, RunAndWait(&command[0]));
    EXPECT_EQ((std::vector<std::string>{"CreateProcess(" + program + ") failed.  ErrorCode: 2"}),
              LogMessagesIn(folder));
}

// The engine gets no handle of ours: a deployment tool that reads our
// output through an inherited pipe would otherwise wait for the engine too.
TEST(RunAndWait, StartsTheEngineWithoutOurInheritableHandles)
{
    std::string name = UniqueName("wt-inheritable");
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), NULL, TRUE};
    HANDLE event = CreateEventA(&inheritable, TRUE, TRUE, name.c_str());
    ASSERT_NE((HANDLE)NULL, event);
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" --child has-handle " +
                          std::to_string((unsigned long long)(ULONG_PTR)event) + " " + name;
    EXPECT_EQ(0u, RunAndWait(&command[0])) << "1: the engine has our handle";
    CloseHandle(event);
}

// Every engine started gets a handle of its own to the shared object: the
// cabinet event outlives this process's handle, so a package that opens it
// after this process has ended still finds it.
TEST(RunAndWait, HandsTheSharedObjectToTheEngine)
{
    std::string name = UniqueName("wt-shared"), started = UniqueName("wt-started"), closed = UniqueName("wt-closed");
    HANDLE shared = CreateEventA(NULL, TRUE, TRUE, name.c_str());
    HANDLE startedEvent = CreateEventA(NULL, TRUE, FALSE, started.c_str());
    HANDLE closedEvent = CreateEventA(NULL, TRUE, FALSE, closed.c_str());
    ASSERT_TRUE(shared != NULL && startedEvent != NULL && closedEvent != NULL);
    ShareWithEveryEngine(shared);
    // Once the engine runs, this process lets go of the object.
    struct Closer {
        HANDLE started, closed, *shared;
        static DWORD WINAPI Run(void *context)
        {
            Closer *closer = (Closer *)context;
            if (WaitForSingleObject(closer->started, 60000) == WAIT_OBJECT_0) {
                CloseHandle(*closer->shared);
                *closer->shared = NULL;
            }
            SetEvent(closer->closed);
            return 0;
        }
    } closer = {startedEvent, closedEvent, &shared};
    HANDLE thread = CreateThread(NULL, 0, Closer::Run, &closer, 0, NULL);
    char self[MAX_PATH];
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string command = "\"" + std::string(self) + "\" --child has-event " + name + " " + started + " " + closed;
    EXPECT_EQ(0u, RunAndWait(&command[0])) << "the engine no longer finds the object";
    ShareWithEveryEngine(NULL);
    WaitForSingleObject(thread, 60000);
    CloseHandle(thread);
    if (shared != NULL)
        CloseHandle(shared);
    CloseHandle(startedEvent);
    CloseHandle(closedEvent);
}

// The process does not end from another thread while an engine is being
// started: that engine would miss the cabinet event.
TEST(ProcessEnd, WaitsForAnEngineBeingStarted)
{
    std::string marker = MakeTempFolder("end") + "\marker.txt";
    WatchResult result = RunChild("end-during-start \"" + marker + "\"");
    EXPECT_EQ(1234u, result.exitCode);
    EXPECT_EQ("the start ended first", ReadWholeFile(marker));
    EXPECT_EQ(0, result.boxCount);
}
