// Loads shell32 from the system directory the way a program does before and
// after the start-up hardening, in a process that imports nothing but
// kernel32 and msvcrt (so that no system DLL is loaded before it asks):
//   load_probe.exe plain    SetDllDirectoryA("") and LoadLibraryA on the
//                           full path, as the program did before hardening
//   load_probe.exe loaders  SetDllDirectoryA("") alone, then the program's
//                           own loaders: a system without
//                           SetDefaultDllDirectories
//   load_probe.exe mended   HardenDllSearchPath(""), then the program's own
//                           loaders
// Exit code 0 when shell32 was loaded, 1 when not, 2 for a usage error.
#include <windows.h>

#include <string.h>

#include "support/sysload.h"

typedef BOOL(WINAPI *SetDllDirectoryAFn)(LPCSTR);

static void RemoveCurrentFolder(void)
{
    SetDllDirectoryAFn setDllDirectory =
        FindExport<SetDllDirectoryAFn>(GetModuleHandleA("kernel32.dll"), "SetDllDirectoryA");
    if (setDllDirectory != NULL)
        setDllDirectory("");
}

static int LoadPlain(void)
{
    RemoveCurrentFolder();
    char path[MAX_PATH];
    return MakeSystemPath(path, sizeof(path), "shell32.dll") && LoadLibraryA(path) != NULL ? 0 : 1;
}

static int LoadWithOurLoaders(void)
{
    HMODULE logged = HUX_System_LoadLibrary("shell32.dll");
    HMODULE silent = LoadSystemLibrary("shell32.dll");
    return logged != NULL && silent != NULL ? 0 : 1;
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "plain") == 0)
        return LoadPlain();
    if (argc == 2 && strcmp(argv[1], "loaders") == 0) {
        RemoveCurrentFolder();
        return LoadWithOurLoaders();
    }
    if (argc == 2 && strcmp(argv[1], "mended") == 0) {
        HardenDllSearchPath("");
        return LoadWithOurLoaders();
    }
    return 2;
}
