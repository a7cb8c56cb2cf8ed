#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/log_messages.h"
#include "support/log_logic.h"

namespace {

struct tm Broken(int year, int month, int day, int hour, int minute, int second, int weekday)
{
    struct tm when;
    memset(&when, 0, sizeof(when));
    when.tm_year = year - 1900;
    when.tm_mon = month - 1;
    when.tm_mday = day;
    when.tm_hour = hour;
    when.tm_min = minute;
    when.tm_sec = second;
    when.tm_wday = weekday;
    return when;
}

std::string TimeText(const struct tm &when)
{
    char out[64];
    memset(out, 'z', sizeof(out));
    if (!FormatTimeText(out, sizeof(out), &when)) {
        EXPECT_EQ('\0', out[0]);
        return "<none>";
    }
    return out;
}

std::string Prefix(const struct tm *when)
{
    char out[LOG_PREFIX_SIZE];
    size_t length = FormatRecordPrefix(out, sizeof(out), when);
    EXPECT_EQ(strlen(out), length);
    return std::string(out, length);
}

template <typename... Args> std::string Text(const char *format, Args... args)
{
    char out[LOG_MESSAGE_SIZE];
    int length = FormatLogText(out, sizeof(out), format, args...);
    EXPECT_EQ((int)strlen(out), length) << format;
    return out;
}

} // namespace

TEST(TimeText, DayBelowTenHasALeadingZeroAndYearsAroundTheCenturies)
{
    struct {
        struct tm when;
        const char *text;
    } const cases[] = {
        {Broken(1999, 12, 8, 0, 0, 0, 3), "Wed Dec 08 00:00:00 1999\n"},
        {Broken(1999, 12, 31, 23, 59, 59, 5), "Fri Dec 31 23:59:59 1999\n"},
        {Broken(2000, 1, 1, 0, 0, 0, 6), "Sat Jan 01 00:00:00 2000\n"},
        {Broken(2038, 1, 19, 3, 14, 7, 2), "Tue Jan 19 03:14:07 2038\n"},
        {Broken(2026, 12, 10, 9, 5, 1, 4), "Thu Dec 10 09:05:01 2026\n"},
        {Broken(1900, 1, 1, 0, 0, 0, 1), "Mon Jan 01 00:00:00 1900\n"},
        {Broken(9999, 12, 31, 23, 59, 60, 5), "Fri Dec 31 23:59:60 9999\n"}, // a leap second
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.text, TimeText(c.when));
        EXPECT_EQ((size_t)LOG_TIME_TEXT_LENGTH, strlen(c.text));
    }
}

TEST(TimeText, EveryWeekdayAndMonthInEnglish)
{
    const char *weekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    const char *months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int weekday = 0; weekday < 7; weekday++)
        EXPECT_EQ(std::string(weekdays[weekday]) + " Mar 15 12:00:00 2024\n",
                  TimeText(Broken(2024, 3, 15, 12, 0, 0, weekday)));
    for (int month = 1; month <= 12; month++)
        EXPECT_EQ(std::string("Sun ") + months[month - 1] + " 15 12:00:00 2024\n",
                  TimeText(Broken(2024, month, 15, 12, 0, 0, 0)));
}

TEST(TimeText, FieldsOutOfRangeGiveNoText)
{
    const struct tm good = Broken(2024, 3, 15, 12, 0, 0, 5);
    std::vector<struct tm> bad(9, good);
    bad[0].tm_wday = 7;
    bad[1].tm_wday = -1;
    bad[2].tm_mon = 12;
    bad[3].tm_mday = 0;
    bad[4].tm_mday = 32;
    bad[5].tm_hour = 24;
    bad[6].tm_min = 60;
    bad[7].tm_year = -1;   // 1899
    bad[8].tm_year = 8100; // a fifth digit
    for (const struct tm &when : bad)
        EXPECT_EQ("<none>", TimeText(when));

    char tight[LOG_TIME_TEXT_LENGTH]; // no room for the terminator
    EXPECT_EQ(0, FormatTimeText(tight, sizeof(tight), &good));
    EXPECT_STREQ("", tight);
}

TEST(RecordPrefix, IsLineFeedTimeTextColonsAndBlank)
{
    const struct tm when = Broken(1999, 12, 8, 7, 6, 5, 3);
    EXPECT_EQ("\nWed Dec 08 07:06:05 1999\n:: ", Prefix(&when));
    EXPECT_EQ((size_t)LOG_PREFIX_LENGTH, Prefix(&when).size());

    // Without a local time the message follows the previous record directly.
    EXPECT_EQ("", Prefix(NULL));
    struct tm bad = when;
    bad.tm_mon = 12;
    EXPECT_EQ("", Prefix(&bad));

    char tight[LOG_PREFIX_LENGTH];
    EXPECT_EQ(0u, FormatRecordPrefix(tight, sizeof(tight), &when));
    EXPECT_STREQ("", tight);
}

TEST(LogPath, JoinsFolderSeparatorAndFileName)
{
    struct {
        const char *folder;
        const char *separator;
        const char *path;
    } const cases[] = {
        {"C:\\logs", "\\", "C:\\logs\\quorlim.log"},
        {"C:\\logs\\", "\\", "C:\\logs\\\\quorlim.log"}, // TMPDIR's own backslash is kept
        {"C:\\users\\u\\Temp\\", "", "C:\\users\\u\\Temp\\quorlim.log"},
    };
    for (const auto &c : cases) {
        char out[LOG_PATH_SIZE];
        ASSERT_EQ(1, JoinLogPath(out, sizeof(out), c.folder, c.separator)) << c.folder;
        EXPECT_STREQ(c.path, out);
    }

    // A 259-character folder fits with the separator: 271 characters.
    std::string folder(259, 'f');
    char out[LOG_PATH_SIZE];
    ASSERT_EQ(1, JoinLogPath(out, sizeof(out), folder.c_str(), "\\"));
    EXPECT_EQ(271u, strlen(out));
    folder += "f";
    EXPECT_EQ(0, JoinLogPath(out, sizeof(out), folder.c_str(), "\\"));
    EXPECT_STREQ("", out);
}

TEST(LogText, TheHardeningMessages)
{
    const char path[] = "C:\\windows\\system32\\shell32.dll";
    struct {
        std::string text;
        const char *expected;
    } const cases[] = {
        {Text(LOG_SYSTEM_DIRECTORY_NOT_HAD, 0, 5),
         "GetSystemDirectory failed.  Return Code: 0, ErrorCode: 5"},
        {Text(LOG_SYSTEM_PATH_TOO_LONG, 0), "_snprintf failed.  ErrorCode: 0"},
        {Text(LOG_LOAD_FAILED, path, 126),
         "LoadLibrary(C:\\windows\\system32\\shell32.dll) failed.  ErrorCode: 126"},
        {Text(LOG_KERNEL_NOT_LOADED, 183),
         "HUX_System_LoadLibrary(kernel32.dll) failed.  ErrorCode: 183"},
        {Text(LOG_SET_DLL_DIRECTORY_NOT_FOUND, 127),
         "GetProcAddress(SetDllDirectory) failed.  ErrorCode: 127"},
        {Text(LOG_SET_DLL_DIRECTORY_FAILED, (int)0xC0000005u),
         "SetDllDirectory() failed.  ErrorCode: -1073741819"}, // "%d" of a 32-bit code
        {Text("%d %d %s%%", INT_MIN, INT_MAX, ""), "-2147483648 2147483647 %"},
        {Text("100% %x %"), "100% %x %"}, // anything else is copied as it stands
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, c.text);
}

TEST(LogText, IsBoundedToItsBufferOnEveryPath)
{
    // Exactly sized heap buffers, so that the sanitizer sees any byte past the end.
    const std::string path(2000, 'p');
    const char *format = LOG_LOAD_FAILED;
    for (size_t cap : {1, 2, 12, 13, 14, 1023, 1024}) {
        std::vector<char> out(cap, 'z');
        EXPECT_EQ(-1, FormatLogText(out.data(), cap, format, path.c_str(), 126)) << cap;
        EXPECT_EQ(cap - 1, strlen(out.data())) << cap;
        EXPECT_EQ(("LoadLibrary(" + path).substr(0, cap - 1), out.data()) << cap;
    }
    // The longest real message, with a 259-character path, is far below the limit.
    const std::string longest(259, 'q');
    std::vector<char> out(LOG_MESSAGE_SIZE);
    int length = FormatLogText(out.data(), out.size(), format, longest.c_str(), -2147483647 - 1);
    EXPECT_EQ((int)(259 + strlen("LoadLibrary() failed.  ErrorCode: -2147483648")), length);

    // A message that fills 1023 characters exactly is whole; one more is cut.
    const std::string fill(1023 - 4, 'f');
    EXPECT_EQ(1023, FormatLogText(out.data(), out.size(), "%s%d", fill.c_str(), 1234));
    EXPECT_EQ(-1, FormatLogText(out.data(), out.size(), "%s%d", fill.c_str(), 12345));
    EXPECT_EQ(1023u, strlen(out.data()));

    char none[1] = {'z'};
    EXPECT_EQ(-1, FormatLogText(none, 0, "x"));
    EXPECT_EQ('z', none[0]);
}
