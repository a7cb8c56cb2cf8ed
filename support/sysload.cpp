#include "support/sysload.h"

#include "support/text.h"

HMODULE LoadSystemLibrary(const char *name)
{
    char directory[MAX_PATH];
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(directory, sizeof(directory));
    if (length == 0 || length >= sizeof(directory))
        return NULL;
    if (!CopyText(path, sizeof(path), directory) || !AppendText(path, sizeof(path), "\\") ||
        !AppendText(path, sizeof(path), name))
        return NULL;
    return LoadLibraryA(path);
}
