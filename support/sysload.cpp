#include "support/sysload.h"

#include "support/text.h"

int MakeSystemPath(char *out, size_t cap, const char *name)
{
    if (cap == 0)
        return 0;
    UINT length = GetSystemDirectoryA(out, (UINT)cap);
    if (length != 0 && length < cap && AppendText(out, cap, "\\") && AppendText(out, cap, name))
        return 1;
    out[0] = '\0';
    return 0;
}

HMODULE LoadSystemLibrary(const char *name)
{
    char path[MAX_PATH];
    if (!MakeSystemPath(path, sizeof(path), name))
        return NULL;
    return LoadLibraryA(path);
}

BOOL ReadSystemVersion(OSVERSIONINFOA *version)
{
    ZeroMemory(version, sizeof(*version));
    version->dwOSVersionInfoSize = sizeof(*version); // 148
    return GetVersionExA(version);
}
