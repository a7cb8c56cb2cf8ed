// The floors of the start-up figures: a program that does only what the
// figure needs and nothing else, under the same Wine.
//   floor.exe <installer image> <out dir> <engine.exe|-> <name:type:id>...
// It maps the installer's image as an image (the bytes come from the same
// mapped file as the installer's own resources), then writes each named
// resource into <out dir>\<name> in WriteFile calls of 8192 bytes, the way
// the installer stages them: an existing file deleted first, then created
// anew. After the last file is closed it reads the performance counter
// ("written"). Given an engine, it then starts it on the first file as the
// installer does and waits for it, so that the engine's own "engine_start"
// stamp counts two process starts and the package bytes. The stamps go to
// the file named by BENCH_STAMPS; the exit code is 0, or 2 when a step fails.
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "stamps.h"

static const DWORD kChunk = 8192; // the installer's write call

// "<name>:<type>:<id>" split in place; 0 when the shape is wrong.
static int SplitEntry(char *entry, char **name, char **type, int *id)
{
    char *first = strchr(entry, ':');
    char *second = first != NULL ? strchr(first + 1, ':') : NULL;
    if (second == NULL)
        return 0;
    *first = *second = '\0';
    *name = entry;
    *type = first + 1;
    *id = atoi(second + 1);
    return *id > 0;
}

static int WriteResource(HMODULE image, const char *type, int id, const char *path)
{
    HRSRC resource = FindResourceA(image, MAKEINTRESOURCEA(id), type);
    if (resource == NULL)
        return 0;
    DWORD size = SizeofResource(image, resource);
    const unsigned char *bytes = (const unsigned char *)LockResource(LoadResource(image, resource));
    if (bytes == NULL && size != 0)
        return 0;
    DeleteFileA(path);
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    for (DWORD done = 0; done < size;) {
        DWORD count = size - done < kChunk ? size - done : kChunk, written = 0;
        if (!WriteFile(file, bytes + done, count, &written, NULL) || written == 0) {
            CloseHandle(file);
            return 0;
        }
        done += written;
    }
    return CloseHandle(file) != 0;
}

static int RunEngine(const char *engine, const char *package)
{
    static char command[2048];
    _snprintf(command, sizeof(command) - 1, "\"%s\" /i \"%s\"  WRAPPER=1", engine, package);
    command[sizeof(command) - 1] = '\0';
    STARTUPINFOA startup;
    PROCESS_INFORMATION process;
    ZeroMemory(&startup, sizeof(startup));
    startup.cb = sizeof(startup);
    if (!CreateProcessA(NULL, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process))
        return 0;
    WaitForSingleObject(process.hProcess, INFINITE);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return 1;
}

int main(int argc, char **argv)
{
    if (argc < 5) {
        fputs("usage: floor.exe <installer image> <out dir> <engine.exe|-> <name:type:id>...\n", stderr);
        return 2;
    }
    HMODULE image = LoadLibraryExA(argv[1], NULL, LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
    if (image == NULL)
        return 2;
    char firstPath[MAX_PATH] = "";
    for (int i = 4; i < argc; i++) {
        char *name, *type;
        int id;
        char path[MAX_PATH];
        if (!SplitEntry(argv[i], &name, &type, &id))
            return 2;
        _snprintf(path, sizeof(path) - 1, "%s\\%s", argv[2], name);
        path[sizeof(path) - 1] = '\0';
        if (!WriteResource(image, type, id, path))
            return 2;
        if (firstPath[0] == '\0')
            memcpy(firstPath, path, sizeof(path));
    }
    LARGE_INTEGER written;
    QueryPerformanceCounter(&written);
    char text[64];
    _snprintf(text, sizeof(text) - 1, "written %I64d\n", written.QuadPart);
    text[sizeof(text) - 1] = '\0';
    AppendToStamps(text);
    if (strcmp(argv[3], "-") != 0 && !RunEngine(argv[3], firstPath))
        return 2;
    return 0;
}
