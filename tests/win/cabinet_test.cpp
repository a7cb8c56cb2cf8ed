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

// The event's name held by another kind of object (any program of the
// session can take it first) stops nothing: setting the event fails, and the
// worker still writes every cabinet and ends as it always does.
TEST(CabinetWriter, NameHeldByAnotherKindOfObjectStopsNoCabinet)
{
    RemoveStagedCabinets();
    HANDLE mutex = CreateMutexA(NULL, FALSE, CABINET_EVENT_NAME);
    ASSERT_NE((HANDLE)NULL, mutex);
    EXPECT_EQ(0, SignalCabinetsReady());
    WatchResult result = RunChild("cabinets");
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(0, result.boxCount);
    ExpectEveryCabinetStaged();
    CloseHandle(mutex);
    RemoveStagedCabinets();
}

// A cabinet whose write fails part way (here the third, as on a disk that
// fills up) is removed before the process ends with the code, and the event
// is set once it is gone: a package that waits wakes at once and finds each
// cabinet whole or absent, never cut.
TEST(CabinetWriter, CabinetThatCannotBeWrittenIsRemovedAndTheEventSet)
{
    RemoveStagedCabinets();
    HANDLE event = FreshCabinetEvent();
    WatchResult result = RunChild("cabinets-full 3"); // each test cabinet is one chunk
    EXPECT_EQ(112u, result.exitCode);
    ASSERT_EQ(1, result.boxCount);
    const std::string expected = "Installer : Wrapper.WriteFile (In small chunks)  failed with error 112: ";
    EXPECT_EQ(expected, std::string(result.boxes[0].textUtf8).substr(0, expected.size()));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(event, 0)) << "the waiting package is released";
    for (int i = 0; i < CABINET_COUNT; i++) {
        std::string staged = ReadWholeFile(StagedCabinet(i));
        EXPECT_EQ(i < 2 ? CabinetResource(i) : "<missing>", staged) << StagedCabinet(i);
    }
    CloseHandle(event);
    RemoveStagedCabinets();
}
