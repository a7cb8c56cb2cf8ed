#include "staging/cabinet_writer.h"

#include "staging/cabinets.h"
#include "staging/staging.h"

HANDLE CreateCabinetEvent(void)
{
    return CreateEventA(NULL, TRUE, FALSE, CABINET_EVENT_NAME);
}

// Every cabinet path resolves the user data folder again, which loads and
// frees the libraries of the folder lookup. Held by the worker, they stay
// mapped and initialised while the cabinets are written, instead of being
// loaded and torn down again for each of the eight (under Wine, a good part
// of the staging time). The version answer is cached by the main thread
// before the worker starts.
DWORD WINAPI CabinetWriterThread(LPVOID module)
{
    FolderLookupLibraries lookupLibraries;
    HoldFolderLookupLibraries(&lookupLibraries);
    for (int i = 0; i < CABINET_COUNT; i++) {
        const CabinetEntry *entry = &kCabinetTable[i];
        char name[MAX_PATH];
        StagedFile cabinet;
        StagingFailure failure;
        FormatCabinetName(name, sizeof(name), entry);
        // The folder chain is made again for every cabinet: the engine may
        // be working in the same folders meanwhile.
        MakeCabinetPath(&cabinet, name);
        WriteResourceToStagedFile((HMODULE)module, entry->resourceId, entry->resourceType, &cabinet, &failure);
        if (failure.code != 0) {
            // The cut cabinet is gone already: a package that wakes finds
            // each cabinet whole or absent, as for a resource that is
            // missing, and reports it itself instead of waiting its full
            // time. The engine holds the event too (RunAndWait hands it over),
            // so it finds it set also after this process has ended.
            SignalCabinetsReady();
            FailWithCode(failure.label, failure.code);
        }
    }
    SignalCabinetsReady();
    ReleaseFolderLookupLibraries(&lookupLibraries);
    return 1;
}

int SignalCabinetsReady(void)
{
    HANDLE event = CreateEventA(NULL, TRUE, FALSE, CABINET_EVENT_NAME);
    if (event == NULL)
        return 0;
    SetEvent(event);
    CloseHandle(event);
    return 1;
}

HANDLE StartCabinetWriter(HMODULE module)
{
    return StartCabinetWriterWith(module, CreateThread);
}

HANDLE StartCabinetWriterWith(HMODULE module, ThreadStarter startThread)
{
    DWORD threadId;
    HANDLE worker = startThread(NULL, 0, CabinetWriterThread, module, 0, &threadId);
    if (worker == NULL)
        CabinetWriterThread(module); // the package must not wait for cabinets nobody writes
    return worker;
}

void FinishCabinetWriter(HANDLE worker)
{
    if (worker == NULL)
        return;
    WaitForSingleObject(worker, INFINITE);
    CloseHandle(worker);
}
