#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/text.h"

TEST(BoundedText, AppendFillsTheBufferExactlyAndNoFurther)
{
    char buf[8] = "abc";
    EXPECT_EQ(1, AppendText(buf, sizeof(buf), "defg")); // 7 characters and the terminator
    EXPECT_STREQ("abcdefg", buf);
    EXPECT_EQ(0, AppendText(buf, sizeof(buf), "h"));
    EXPECT_STREQ("abcdefg", buf);
}

TEST(BoundedText, AnAppendThatDoesNotFitLeavesTheBufferAsItWas)
{
    char buf[16];
    memset(buf, 'x', sizeof(buf));
    strcpy(buf, "abc");
    EXPECT_EQ(0, AppendText(buf, 8, "defgh"));
    EXPECT_STREQ("abc", buf);
    EXPECT_EQ('x', buf[4]); // nothing written behind the terminator either
}

TEST(BoundedText, AppendRefusesABufferWithoutTerminator)
{
    char buf[4] = {'a', 'b', 'c', 'd'};
    EXPECT_EQ(0, AppendText(buf, sizeof(buf), ""));
    EXPECT_EQ(0, memcmp(buf, "abcd", 4));
    EXPECT_EQ(4u, BoundedLength(buf, sizeof(buf)));
}

TEST(BoundedText, AppendNTakesAtMostCountCharacters)
{
    char buf[16] = "";
    EXPECT_EQ(1, AppendTextN(buf, sizeof(buf), "hello", 3));
    EXPECT_EQ(1, AppendTextN(buf, sizeof(buf), "!", 10));
    EXPECT_EQ(1, AppendTextN(buf, sizeof(buf), "ignored", 0));
    EXPECT_STREQ("hel!", buf);
}

TEST(BoundedText, CopyReplacesAndLeavesEmptyWhenTooLong)
{
    char buf[4] = "old";
    EXPECT_EQ(1, CopyText(buf, sizeof(buf), "new"));
    EXPECT_STREQ("new", buf);
    EXPECT_EQ(0, CopyText(buf, sizeof(buf), "long"));
    EXPECT_STREQ("", buf);
    EXPECT_EQ(0, CopyText(buf, 0, "x"));
}

TEST(BoundedText, DecimalMatchesPercentD)
{
    const long cases[] = {0, 7, 1041, -2, -3, 1639, 2147483647L, -2147483647L - 1, LONG_MIN};
    for (long value : cases) {
        char expected[32];
        snprintf(expected, sizeof(expected), "%ld", value);
        char buf[32] = "";
        ASSERT_EQ(1, AppendDecimal(buf, sizeof(buf), value)) << value;
        EXPECT_STREQ(expected, buf);
    }
    char tight[5] = "";
    EXPECT_EQ(0, AppendDecimal(tight, sizeof(tight), -1234));
    EXPECT_STREQ("", tight);
}

// The all-or-nothing join: every part appended, or "" left behind; never a
// text cut at the capacity.
TEST(AllOrNothing, AppendsEveryPartOrLeavesTheBufferEmpty)
{
    struct {
        const char *before; // the buffer's text before (JoinText: ignored)
        size_t cap;
        std::vector<const char *> parts;
        int appended;
        const char *afterAppend;
        int joined;
        const char *afterJoin;
    } const cases[] = {
        {"", 5, {"ab", "cd"}, 1, "abcd", 1, "abcd"},        // exact fit
        {"", 4, {"ab", "cd"}, 0, "", 0, ""},                // one over: not "ab", not "abc"
        {"x", 6, {"ab", "cd"}, 1, "xabcd", 1, "abcd"},      // exact fit after the text there
        {"x", 5, {"ab", "cd"}, 0, "", 1, "abcd"},           // one over only when appended
        {"xyz", 4, {"", ""}, 1, "xyz", 1, ""},
        {"xyz", 4, {}, 1, "xyz", 1, ""},
        {"", 1, {"a"}, 0, "", 0, ""},
        {"", 1, {""}, 1, "", 1, ""},
        {"x", 3, {"abc", "d"}, 0, "", 0, ""},              // the first part already too long
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.before) + " cap " + std::to_string(c.cap));
        char buf[16];
        memset(buf, '#', sizeof(buf));
        strcpy(buf, c.before);
        EXPECT_EQ(c.appended, AppendAllOrEmpty(buf, c.cap, c.parts.data(), c.parts.size()));
        EXPECT_STREQ(c.afterAppend, buf);
        EXPECT_EQ('#', buf[c.cap < strlen(c.before) + 1 ? strlen(c.before) + 1 : c.cap]) << "written past cap";

        memset(buf, '#', sizeof(buf));
        strcpy(buf, c.before);
        EXPECT_EQ(c.joined, JoinText(buf, c.cap, c.parts.data(), c.parts.size()));
        EXPECT_STREQ(c.afterJoin, buf);
        EXPECT_EQ('#', buf[c.cap < strlen(c.before) + 1 ? strlen(c.before) + 1 : c.cap]) << "written past cap";
    }
}

TEST(AllOrNothing, NothingIsWrittenWithoutCapacityOrTerminator)
{
    const char *const parts[] = {"a"};
    char buf[4] = {'x', 'y', 'z', 'w'};
    EXPECT_EQ(0, AppendAllOrEmpty(buf, 0, parts));
    EXPECT_EQ(0, JoinText(buf, 0, parts));
    EXPECT_EQ(0, memcmp(buf, "xyzw", 4));
    EXPECT_EQ(0, AppendAllOrEmpty(buf, 4, parts)); // no terminator within the buffer: not a text
    EXPECT_STREQ("", buf);
}
