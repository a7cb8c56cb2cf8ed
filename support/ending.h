// The program's two message boxes (the engine-gate message and the fatal
// "Error" box), shown through user32 loaded by full path from the system
// folder at the moment a box is needed. user32 is no static import: under
// Wine its own imports (version, imm32, ...) would otherwise be resolved
// beside the program, in a download folder, before its first line runs.
// When user32 cannot be loaded, or lacks a function, no box is shown and the
// caller goes on to its exit code.
#ifndef SUPPORT_ENDING_H
#define SUPPORT_ENDING_H

#include <windows.h>

// MessageBoxA(NULL, text, caption, type).
void ShowMessageBox(const char *text, const char *caption, UINT type);

// String `stringId` of `module`'s string table, read with LoadStringW in the
// user's UI language (empty when absent), shown with MessageBoxW and the
// caption `caption`. Wide, so that it reads right when the UI language's code
// page is not the ANSI code page.
void ShowMessageStringBox(HINSTANCE module, UINT stringId, const WCHAR *caption, UINT type);

#endif
