#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "support/probes_logic.h"

namespace {
const long kMoreData = 234; // ERROR_MORE_DATA
const long kFileNotFound = 2;

// The decision on `data` written into a heap buffer of exactly `bufferSize`
// bytes, so that AddressSanitizer stops any look outside it.
long Check(long status, unsigned long type, const std::string &data, unsigned long count,
           unsigned long bufferSize)
{
    std::unique_ptr<char[]> buffer(new char[bufferSize == 0 ? 1 : bufferSize]);
    memcpy(buffer.get(), data.data(), data.size() < bufferSize ? data.size() : bufferSize);
    if (bufferSize == 0) // a zero-capacity buffer: a pointer to no bytes of ours
        return CheckRegistryString(status, type, count, buffer.get() + 1, 0);
    return CheckRegistryString(status, type, count, buffer.get(), bufferSize);
}
} // namespace

TEST(RegistryString, TypeAndTerminationDecide)
{
    using std::string;
    struct {
        const char *what;
        long status;
        unsigned long type;
        string data;
        unsigned long count, bufferSize;
        long expected;
    } const cases[] = {
        {"REG_SZ terminated", 0, 1, string("abc\0", 4), 4, 16, 0},
        {"REG_SZ filling the buffer", 0, 1, string("abc\0", 4), 4, 4, 0},
        {"REG_SZ without NUL", 0, 1, "reinstall", 9, 9, 13},
        {"REG_SZ without NUL, room after", 0, 1, string("reinstall\0", 10), 9, 512, 13},
        {"REG_SZ of one NUL", 0, 1, string("\0", 1), 1, 16, 0},
        {"REG_EXPAND_SZ terminated", 0, 2, string("%TEMP%\0", 7), 7, 16, 0},
        {"REG_EXPAND_SZ without NUL", 0, 2, "%TEMP%", 6, 6, 13},
        {"REG_MULTI_SZ of 0 bytes", 0, 7, "", 0, 16, 13},
        {"REG_MULTI_SZ of 1 byte", 0, 7, string("\0", 1), 1, 16, 13},
        {"REG_MULTI_SZ of 2 bytes", 0, 7, string("\0\0", 2), 2, 16, 0},
        {"REG_MULTI_SZ well formed", 0, 7, string("a\0b\0\0", 5), 5, 5, 0},
        {"REG_MULTI_SZ ending in one NUL", 0, 7, string("a\0b\0", 4), 4, 16, 13},
        {"REG_MULTI_SZ without NUL", 0, 7, "ab", 2, 2, 13},
        {"REG_DWORD", 0, 4, string("\0\0\0\0", 4), 4, 16, 13},
        {"REG_BINARY", 0, 3, string("a\0", 2), 2, 16, 13},
        {"REG_NONE", 0, 0, string("a\0", 2), 2, 16, 13},
        {"missing value", kFileNotFound, 0, "", 16, 16, 13},
        {"an unknown type", 0, 0x12345, string("a\0", 2), 2, 16, 13},
        // Data that did not fit: its end lies outside the buffer and is not read.
        {"REG_SZ larger than the buffer", kMoreData, 1, "abcdefgh", 9, 4, kMoreData},
        {"REG_MULTI_SZ larger than the buffer", kMoreData, 7, "ab", 6, 2, kMoreData},
        {"REG_SZ into no room", kMoreData, 1, "", 4, 0, kMoreData},
        {"a count beyond the buffer reported as success", 0, 1, "abcd", 9, 4, 13},
        {"REG_DWORD larger than the buffer", kMoreData, 4, "", 4, 2, 13},
        // No byte to test: never a look before the buffer.
        {"zero-byte REG_SZ", 0, 1, "", 0, 16, 13},
        {"zero-byte REG_EXPAND_SZ", 0, 2, "", 0, 16, 13},
        {"zero-byte REG_SZ into no room", 0, 1, "", 0, 0, 13},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, Check(c.status, c.type, c.data, c.count, c.bufferSize)) << c.what;
}

TEST(RegistryString, SizeQueriesJudgeTheTypeAndCountOnly)
{
    struct {
        const char *what;
        long status;
        unsigned long type, count;
        long expected;
    } const cases[] = {
        {"REG_SZ", 0, 1, 4, 0},
        {"REG_SZ of zero bytes", 0, 1, 0, 0},
        {"REG_EXPAND_SZ", 0, 2, 7, 0},
        {"REG_MULTI_SZ of 2 bytes", 0, 7, 2, 0},
        {"REG_MULTI_SZ of 1 byte", 0, 7, 1, 13},
        {"REG_DWORD", 0, 4, 4, 13},
        {"missing value", kFileNotFound, 0, 0, 13},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, CheckRegistryString(c.status, c.type, c.count, NULL, 0)) << c.what;
}
