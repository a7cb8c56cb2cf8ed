#include "staging/chunks.h"

int WriteInChunks(const unsigned char *bytes, size_t size, ChunkWriter write, void *context)
{
    size_t done = 0;
    while (done < size) {
        size_t remaining = size - done;
        unsigned long chunk = (unsigned long)(remaining < WRITE_CHUNK_SIZE ? remaining : (size_t)WRITE_CHUNK_SIZE);
        unsigned long written = 0;
        if (!write(context, bytes + done, chunk, &written) || written == 0)
            return 0;
        done += written < chunk ? written : chunk;
    }
    return 1;
}
