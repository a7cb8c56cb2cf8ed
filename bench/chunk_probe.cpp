// Writes a file, mapped afresh as the installer's resources are in a new
// process, into a fresh file in WriteFile calls of 8192 bytes (the
// installer's chunk), 32 KB and 1 MB; five rounds, alternating, after a
// warm-up. Prints the median seconds of each chunk size (mapping, faults and
// writes), to show what the size of the calls costs under Wine.
//   chunk_probe.exe <source file> <scratch file>
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>

static int CompareDoubles(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return x < y ? -1 : x > y;
}

static double WriteInCallsOf(HANDLE mapping, SIZE_T size, DWORD chunk, const char *path)
{
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const unsigned char *bytes = (const unsigned char *)MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
    if (bytes == NULL)
        return -1;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return -1;
    for (SIZE_T done = 0; done < size;) {
        DWORD count = size - done < chunk ? (DWORD)(size - done) : chunk, written = 0;
        if (!WriteFile(file, bytes + done, count, &written, NULL) || written == 0)
            break;
        done += written;
    }
    CloseHandle(file);
    UnmapViewOfFile(bytes);
    QueryPerformanceCounter(&end);
    DeleteFileA(path);
    return (double)(end.QuadPart - start.QuadPart) / frequency.QuadPart;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fputs("usage: chunk_probe.exe <source file> <scratch file>\n", stderr);
        return 2;
    }
    HANDLE source = CreateFileA(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    LARGE_INTEGER size;
    if (source == INVALID_HANDLE_VALUE || !GetFileSizeEx(source, &size))
        return 2;
    HANDLE mapping = CreateFileMappingA(source, NULL, PAGE_READONLY, 0, 0, NULL);
    if (mapping == NULL)
        return 2;
    static const DWORD kChunks[] = {8192, 32768, 1 << 20};
    enum { CHUNKS = 3, ROUNDS = 5 };
    double seconds[CHUNKS][ROUNDS];
    for (int c = 0; c < CHUNKS; c++)
        WriteInCallsOf(mapping, (SIZE_T)size.QuadPart, kChunks[c], argv[2]); // warm-up
    for (int r = 0; r < ROUNDS; r++) {
        for (int c = 0; c < CHUNKS; c++)
            seconds[c][r] = WriteInCallsOf(mapping, (SIZE_T)size.QuadPart, kChunks[c], argv[2]);
    }
    for (int c = 0; c < CHUNKS; c++) {
        qsort(seconds[c], ROUNDS, sizeof(double), CompareDoubles);
        printf("wine_chunk %lu %.6f\n", kChunks[c], seconds[c][ROUNDS / 2]);
    }
    return 0;
}
