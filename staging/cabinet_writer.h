// The cabinet writer: the eight cabinets are written beside the package on a
// worker thread while the engine starts, and the event is set after the last
// one is closed.
#ifndef STAGING_CABINET_WRITER_H
#define STAGING_CABINET_WRITER_H

#include <windows.h>

// Creates the cabinet event, manual-reset and not signalled (or opens it if
// another instance made it). The caller keeps the handle for the process's
// life: an event exists only while a handle to it is open.
HANDLE CreateCabinetEvent(void);

// The worker: writes every cabinet resource of `module` (an HMODULE) that is
// present, skipping absent ones, then sets the event. Returns 1. A cabinet
// that cannot be written is removed, the event set, and the process ended
// through FailWithCode: the waiting package is released at once and finds no
// cut cabinet. The event is never set while a cabinet is being written.
DWORD WINAPI CabinetWriterThread(LPVOID module);

// Sets the cabinet event. 1 when set, 0 when it could not be opened.
int SignalCabinetsReady(void);

typedef HANDLE(WINAPI *ThreadStarter)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                      LPDWORD);

// Starts the worker for `module` and returns its handle. When no thread can
// be started, the cabinets are written on the calling thread and the event
// is set before this returns; the result is then NULL.
HANDLE StartCabinetWriter(HMODULE module);
HANDLE StartCabinetWriterWith(HMODULE module, ThreadStarter startThread);

// Waits until the worker has written every cabinet and closes its handle
// (NULL: nothing to wait for). The kit folder is the installed product's
// source, so the process must never end with a cabinet half written.
void FinishCabinetWriter(HANDLE worker);

#endif
