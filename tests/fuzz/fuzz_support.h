// Shared pieces of the fuzz targets: the check that ends a run, a reader
// that takes numbers and lines off the front of an input, and strings kept
// in heap blocks of exactly their own size, so that AddressSanitizer stops
// any read or write past their end.
#ifndef TESTS_FUZZ_FUZZ_SUPPORT_H
#define TESTS_FUZZ_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

static inline void Check(bool condition)
{
    if (!condition)
        abort();
}

// Takes values off the front of the input; past its end every value is 0.
struct FuzzReader {
    const uint8_t *data;
    size_t size;

    uint8_t Byte()
    {
        if (size == 0)
            return 0;
        size--;
        return *data++;
    }

    unsigned long Number32()
    {
        unsigned long value = 0;
        for (int i = 0; i < 4; i++)
            value = value << 8 | Byte();
        return value;
    }

    // Up to the next LF (or the end); a NUL inside ends the string, as in
    // argv or a registry value read as text.
    std::string Line()
    {
        const uint8_t *end = (const uint8_t *)memchr(data, '\n', size);
        size_t length = end ? (size_t)(end - data) : size;
        std::string line((const char *)data, length);
        data += length;
        size -= length;
        if (size > 0) {
            data++;
            size--;
        }
        return line.c_str();
    }

    std::string Rest()
    {
        std::string rest((const char *)data, size);
        data += size;
        size = 0;
        return rest;
    }
};

// A NUL-terminated copy of `text` in a block of exactly its size.
struct HeapText {
    char *text;
    explicit HeapText(const std::string &source)
    {
        size_t length = strlen(source.c_str());
        text = (char *)malloc(length + 1);
        memcpy(text, source.c_str(), length + 1);
    }
    ~HeapText() { free(text); }
    HeapText(const HeapText &) = delete;
    HeapText &operator=(const HeapText &) = delete;
};

// An output buffer of exactly `cap` bytes, filled with a byte that no result
// holds, so that a missing terminator shows.
struct HeapBuffer {
    char *bytes;
    size_t cap;
    explicit HeapBuffer(size_t capacity) : bytes((char *)malloc(capacity)), cap(capacity)
    {
        memset(bytes, 0x7F, capacity); // a block of 0 bytes: any access to it is reported
    }
    ~HeapBuffer() { free(bytes); }
    HeapBuffer(const HeapBuffer &) = delete;
    HeapBuffer &operator=(const HeapBuffer &) = delete;

    bool Terminated() const { return memchr(bytes, '\0', cap) != NULL; }
};

#endif
