#include <gtest/gtest.h>

#include <string>

#include "staging/cabinet_writer.h"
#include "staging/cabinets.h"
#include "staging/staging.h"
#include "tests/win/helpers.h"

namespace {

std::string StagedCabinet(int index)
{
    char name[MAX_PATH];
    char path[MAX_PATH];
    EXPECT_EQ(1, FormatCabinetName(name, sizeof(name), &kCabinetTable[index]));
    EXPECT_EQ(1, MakeCabinetPath(path, name));
    return path;
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

TEST(CabinetWriter, SignalFailsWhenTheNameBelongsToAnotherKindOfObject)
{
    HANDLE mutex = CreateMutexA(NULL, FALSE, CABINET_EVENT_NAME);
    ASSERT_NE((HANDLE)NULL, mutex);
    EXPECT_EQ(0, SignalCabinetsReady());
    CloseHandle(mutex);
}
