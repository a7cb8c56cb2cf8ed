#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "staging/cabinet_writer.h"
#include "staging/cabinets.h"
#include "staging/staging.h"
#include "tests/win/helpers.h"

namespace {

std::string StagedCabinet(int index)
{
    char name[MAX_PATH];
    StagedFile cabinet;
    EXPECT_EQ(1, FormatCabinetName(name, sizeof(name), &kCabinetTable[index]));
    MakeCabinetPath(&cabinet, name);
    EXPECT_STRNE("", cabinet.path);
    return cabinet.path;
}

std::string CabinetResource(int index)
{
    HMODULE self = GetModuleHandleA(NULL);
    HRSRC resource = FindResourceA(self, MAKEINTRESOURCEA(kCabinetTable[index].resourceId),
                                   kCabinetTable[index].resourceType);
    EXPECT_NE((HRSRC)NULL, resource) << kCabinetTable[index].resourceType;
    return std::string((const char *)LockResource(LoadResource(self, resource)), SizeofResource(self, resource));
}

void RemoveStagedCabinets()
{
    for (int i = 0; i < CABINET_COUNT; i++)
        DeleteFileA(StagedCabinet(i).c_str());
}

void ExpectEveryCabinetStaged()
{
    for (int i = 0; i < CABINET_COUNT; i++)
        EXPECT_EQ(CabinetResource(i), ReadWholeFile(StagedCabinet(i))) << StagedCabinet(i);
}

// The cabinet event as the package sees it, not signalled yet.
HANDLE FreshCabinetEvent()
{
    HANDLE event = CreateCabinetEvent();
    EXPECT_NE((HANDLE)NULL, event);
    ResetEvent(event);
    return event;
}

HANDLE WINAPI NoThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD)
{
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return NULL;
}

} // namespace

// Prefix lock: CabinetWriter (the kit folder and the cabinet event of the end-to-end cases)
TEST(CabinetWriter, StartedWorkerHasWrittenEverythingWhenFinishReturns)
{
    RemoveStagedCabinets();
    HANDLE event = FreshCabinetEvent();
    HANDLE worker = StartCabinetWriter(GetModuleHandleA(NULL));
    ASSERT_NE((HANDLE)NULL, worker);
    FinishCabinetWriter(worker);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    ExpectEveryCabinetStaged();
    CloseHandle(event);
    RemoveStagedCabinets();
}

// The worker holds the library of the folder lookup while it writes, so that
// the lookup of each cabinet does not load and tear it down again; the hold
// ends with the worker. On version 5.2 that library is shfolder.dll, which
// nothing else in this program loads (shell32 is loaded from the start).
TEST(OnVersion52, CabinetWriterHoldsNoLibraryOnceItReturns)
{
    RemoveStagedCabinets();
    ASSERT_EQ((HMODULE)NULL, GetModuleHandleA("shfolder.dll")) << "loaded before the worker ran";
    HANDLE event = FreshCabinetEvent();
    EXPECT_EQ(1u, CabinetWriterThread(GetModuleHandleA(NULL)));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    ExpectEveryCabinetStaged();
    EXPECT_EQ((HMODULE)NULL, GetModuleHandleA("shfolder.dll"));
    CloseHandle(event);
    RemoveStagedCabinets();
}

TEST(CabinetWriter, WithoutAThreadTheCallerWritesEverythingAndSetsTheEvent)
{
    RemoveStagedCabinets();
    HANDLE event = FreshCabinetEvent();
    EXPECT_EQ((HANDLE)NULL, StartCabinetWriterWith(GetModuleHandleA(NULL), NoThread));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0)) << "set before the engine could start";
    ExpectEveryCabinetStaged();
    FinishCabinetWriter(NULL); // nothing to wait for
    CloseHandle(event);
    RemoveStagedCabinets();
}

TEST(CabinetWriter, SignalSetsTheEventThePackageHolds)
{
    HANDLE event = FreshCabinetEvent();
    EXPECT_EQ(1, SignalCabinetsReady());
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    EXPECT_EQ(1, SignalCabinetsReady()); // set once, and it stays set
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0));
    CloseHandle(event);
}

TEST(CabinetWriter, SignalFailsWhenTheNameBelongsToAnotherKindOfObject)
{
    HANDLE mutex = CreateMutexA(NULL, FALSE, CABINET_EVENT_NAME);
    ASSERT_NE((HANDLE)NULL, mutex);
    EXPECT_EQ(0, SignalCabinetsReady());
    CloseHandle(mutex);
}

// A hard link planted at a cabinet's path, to a file outside the kit folder,
// and a plain file at another's: both are replaced, the file outside keeps
// its bytes.
TEST(CabinetWriter, PlantedHardLinkAndOldFileAreReplacedNotWrittenThrough)
{
    RemoveStagedCabinets();
    std::string outside = MakeTempFolder("outside") + "\\precious.txt";
    WriteWholeFile(outside, "precious bytes");
    ASSERT_TRUE(CreateHardLinkA(StagedCabinet(3).c_str(), outside.c_str(), NULL)) << GetLastError();
    WriteWholeFile(StagedCabinet(0), std::string(70000, 'x'));
    HANDLE event = FreshCabinetEvent();
    EXPECT_EQ(1u, CabinetWriterThread(GetModuleHandleA(NULL)));
    EXPECT_EQ("precious bytes", ReadWholeFile(outside));
    ExpectEveryCabinetStaged();
    CloseHandle(event);
    RemoveStagedCabinets();
}

// The kit folder replaced by a link to a folder outside: the worker ends the
// process with 4395 before its first cabinet, writes nothing through the
// link, and never sets the event. The real kit folder is put back after.
TEST(CabinetWriter, LinkedKitFolderEndsTheWorkerWith4395)
{
    char first[MAX_PATH];
    strcpy(first, StagedCabinet(0).c_str()); // makes the chain
    std::string kit(first, strrchr(first, '\\') - first);
    std::string aside = kit + ".aside";
    std::string outside = MakeTempFolder("outside");
    ASSERT_TRUE(MoveFileA(kit.c_str(), aside.c_str())) << GetLastError();
    bool linked = MakeUnixLink(outside, kit);
    HANDLE event = FreshCabinetEvent();

    WatchResult result = {};
    if (linked)
        result = RunChild("cabinets");

    EXPECT_EQ((DWORD)WAIT_TIMEOUT, WaitForSingleObject(event, 0)) << "the event must not be set";
    CloseHandle(event);
    EXPECT_TRUE(IsEmptyFolder(outside)) << "nothing written through the link";
    EXPECT_TRUE(RemoveUnixLink(kit));
    EXPECT_TRUE(MoveFileA(aside.c_str(), kit.c_str())) << GetLastError();
    ASSERT_TRUE(linked);
    EXPECT_EQ(4395u, result.exitCode);
    ASSERT_EQ(1, result.boxCount);
    EXPECT_STREQ("Error", result.boxes[0].captionUtf8);
    const std::string expected = "Installer : Wrapper.CreateFile  failed with error 4395: ";
    EXPECT_EQ(expected, std::string(result.boxes[0].textUtf8).substr(0, expected.size()));
}
