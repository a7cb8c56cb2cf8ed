/* Stands in for kernel32 in the tests of the start-up hardening, placed in
   the system directory under its own name: SetDllDirectoryA fails with 4321
   when asked for "fail" and succeeds otherwise; SetDefaultDllDirectories
   (exported when built WITH_DEFAULT_DIRECTORIES) always fails. Both record
   their argument for the test to read. No windows.h: the exports carry the
   system's names. */
__declspec(dllimport) void __stdcall SetLastError(unsigned long code);

static char g_directory[64] = "<not called>";
static unsigned long g_defaultFlags;

__declspec(dllexport) int __stdcall SetDllDirectoryA(const char *directory)
{
    int i = 0;
    for (; directory != 0 && directory[i] != '\0' && i < (int)sizeof(g_directory) - 1; i++)
        g_directory[i] = directory[i];
    g_directory[i] = '\0';
    if (directory != 0 && directory[0] == 'f' && directory[1] == 'a' && directory[2] == 'i' &&
        directory[3] == 'l' && directory[4] == '\0') {
        SetLastError(4321);
        return 0;
    }
    return 1;
}

#ifdef WITH_DEFAULT_DIRECTORIES
__declspec(dllexport) int __stdcall SetDefaultDllDirectories(unsigned long flags)
{
    g_defaultFlags = flags;
    SetLastError(87);
    return 0;
}
#endif

__declspec(dllexport) const char *StandInDirectory(void)
{
    return g_directory;
}

__declspec(dllexport) unsigned long StandInDefaultFlags(void)
{
    return g_defaultFlags;
}
