// The product's write loop built natively: writes a payload file, mapped like
// the installer's resource, into a fresh file through WriteInChunks (8192-byte
// calls, as the installer does), and for comparison in one call; five times
// each, alternating, after a warm-up. Prints the median seconds of each and
// the number of write calls. Shows what the loop itself costs without Wine in
// between.
//   write_loop <payload file> <out dir>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

#include "staging/chunks.h"

struct Target {
    int fd;
    long calls;
};

static int WriteToFd(void *context, const unsigned char *bytes, unsigned long count, unsigned long *written)
{
    Target *target = (Target *)context;
    target->calls++;
    ssize_t done = write(target->fd, bytes, count);
    if (done < 0)
        return 0;
    *written = (unsigned long)done;
    return 1;
}

static double Now()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

static double TimedWrite(const unsigned char *bytes, size_t size, const std::string &path, bool chunked, long *calls)
{
    double start = Now();
    Target target = {open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 0};
    if (target.fd < 0)
        return -1;
    unsigned long wrote = 0;
    int ok = chunked ? WriteInChunks(bytes, size, WriteToFd, &target)
                     : WriteToFd(&target, bytes, (unsigned long)size, &wrote) && wrote == size;
    close(target.fd);
    double seconds = Now() - start;
    unlink(path.c_str());
    *calls = target.calls;
    return ok ? seconds : -1;
}

int main(int argc, char **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: write_loop <payload file> <out dir>\n");
        return 2;
    }
    int fd = open(argv[1], O_RDONLY);
    struct stat info;
    if (fd < 0 || fstat(fd, &info) != 0)
        return 2;
    size_t size = (size_t)info.st_size;
    const unsigned char *bytes = (const unsigned char *)mmap(NULL, size, PROT_READ, MAP_PRIVATE, fd, 0);
    if (bytes == MAP_FAILED)
        return 2;
    std::string out = std::string(argv[2]) + "/write_loop.out";
    long chunkCalls = 0, wholeCalls = 0;
    TimedWrite(bytes, size, out, true, &chunkCalls); // warm-up
    const int rounds = 5;
    double chunked[rounds], whole[rounds];
    for (int i = 0; i < rounds; i++) {
        chunked[i] = TimedWrite(bytes, size, out, true, &chunkCalls);
        whole[i] = TimedWrite(bytes, size, out, false, &wholeCalls);
    }
    std::sort(chunked, chunked + rounds);
    std::sort(whole, whole + rounds);
    printf("native_chunked %.6f %ld\nnative_whole %.6f %ld\n", chunked[rounds / 2], chunkCalls, whole[rounds / 2],
           wholeCalls);
    return 0;
}
