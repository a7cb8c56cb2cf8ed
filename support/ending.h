// Every way the program ends, and the only boxes it shows. The exit codes
// below are the program's own; any other code is the engine's, or the
// system's error code of a failed staged write (FailWithSystemError).
//
// A silent run shows no box at all (ShowNoBoxes): each box's caption and
// text become a record of the diagnostic log instead, and the exit code is
// the same.
//
// Boxes are shown through user32 loaded by full path from the system folder
// at the moment a box is needed. user32 is no static import: under Wine its
// own imports (version, imm32, ...) would otherwise be resolved beside the
// program, in a download folder, before its first line runs. When user32
// cannot be loaded, or lacks a function, no box is shown and the program
// still ends with the same code.
#ifndef SUPPORT_ENDING_H
#define SUPPORT_ENDING_H

#include <windows.h>

#ifndef ERROR_REPARSE_POINT_ENCOUNTERED
#define ERROR_REPARSE_POINT_ENCOUNTERED 4395
#endif

enum : DWORD {
    // Returned from WinMain.
    EXIT_NO_PACKAGE = 1,                                // the package is not among the resources
    EXIT_ENGINE_NOT_STARTED = 1,                        // RunAndWait: msiexec could not be started
    EXIT_BAD_COMMAND_LINE = ERROR_INVALID_COMMAND_LINE, // 1639, what msiexec answers too
    EXIT_ENGINE_TOO_OLD = 0xFFFFFFFE,                   // -2, after the engine-gate box
    EXIT_ENGINE_NOT_FOUND = 0xFFFFFFFD,                 // -3
    // Given by FailWithSystemError when a staged file cannot be written, after
    // its "Error" box; beside these, the code CreateFile, WriteFile or
    // CloseHandle failed with.
    EXIT_STAGING_PATH_TOO_LONG = ERROR_FILENAME_EXCED_RANGE,      // 206: no path of 259 characters
    EXIT_STAGING_FOLDER_IS_LINK = ERROR_REPARSE_POINT_ENCOUNTERED, // 4395: Qel, Orva or the kit folder
};

// From now on no box is shown: each becomes a record of the diagnostic log,
// 'Message box "<caption>": <text>' as the box would have shown them. For "/s": a silent
// run is one nobody watches (a deployment tool, a service, a locked
// machine), and a box would hold it until the tool's own time-out instead of
// ending with the exit code. Called by the main thread before any box can
// come and before the cabinet writer starts.
void ShowNoBoxes(void);

// An engine being started must get the cabinet event before the process can
// end (RunAndWait hands it over): the process does not end from another
// thread between BeginEngineStart and EndEngineStart. BeginEngineStart
// returns 0 when another thread is ending the process already; then no
// engine may be started.
int BeginEngineStart(void);
void EndEngineStart(void);

// The engine-gate box: message string 4 of `module`'s string table, read
// with LoadStringW in the user's UI language (empty when absent), shown with
// MessageBoxW and an empty caption. Wide, so that it reads right when the UI
// language's code page is not the ANSI code page. The caller then returns
// EXIT_ENGINE_TOO_OLD.
void ShowEngineTooOldBox(HINSTANCE module);

// Shows "<label> failed with error <code>: <system text>" in a box captioned
// "Error" and ends the process with the last error code, from whichever
// thread calls it; once an engine being started has been given the cabinet
// event, and with no engine started after.
__declspec(noreturn) void FailWithSystemError(const char *label);

// FailWithSystemError with `code` as the last error.
__declspec(noreturn) void FailWithCode(const char *label, DWORD code);

#endif
