// The write loop of resource extraction, kept free of Win32 calls so that its
// chunking and its handling of short writes can be tested natively.
#ifndef STAGING_CHUNKS_H
#define STAGING_CHUNKS_H

#include <stddef.h>

enum { WRITE_CHUNK_SIZE = 8192 };

// Writes at most `count` bytes; reports how many were written. 0 on failure.
typedef int (*ChunkWriter)(void *context, const unsigned char *bytes,
                           unsigned long count, unsigned long *written);

// Writes `size` bytes in calls of at most 8192 bytes, each continuing where
// the previous one stopped. Returns 1, or 0 as soon as a call fails or makes
// no progress (a writer that keeps writing nothing would loop for ever).
int WriteInChunks(const unsigned char *bytes, size_t size, ChunkWriter write, void *context);

#endif
