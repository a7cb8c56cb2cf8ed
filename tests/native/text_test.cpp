#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

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
