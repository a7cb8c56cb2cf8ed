#include <gtest/gtest.h>

#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "support/log.h"
#include "support/log_logic.h"
#include "tests/win/helpers.h"
#include "tests/win/logcheck.h"

namespace {

typedef std::vector<std::string> Messages;

std::string TempLogPath()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return std::string(temp) + "quorlim.log";
}

std::string TimeTextNow()
{
    time_t now = time(NULL);
    char text[LOG_TIME_TEXT_LENGTH + 1] = "";
    FormatTimeText(text, sizeof(text), localtime(&now));
    return text;
}

} // namespace

TEST(DiagnosticLog, NewLogBeginsWithLineFeedThenTheLocalTime)
{
    std::string folder = MakeTempFolder("log");
    ScopedTmpdir tmpdir(folder.c_str());
    std::string before = TimeTextNow();
    LogMessage("first");
    std::string after = TimeTextNow();
    std::string bytes = ReadWholeFile(folder + "\\quorlim.log");
    ASSERT_EQ(29u + 5u, bytes.size()) << bytes;
    std::string timeText = bytes.substr(1, 25);
    EXPECT_TRUE(timeText == before || timeText == after) << timeText;
    EXPECT_EQ("\n" + timeText + ":: first", bytes);
}

TEST(DiagnosticLog, TwoRecordsInTurnAndNoLineBreakAtTheEnd)
{
    std::string folder = MakeTempFolder("log");
    ScopedTmpdir tmpdir(folder.c_str());
    LogMessage("first message");
    LogMessage("second message");
    std::string bytes = ReadWholeFile(folder + "\\quorlim.log");
    EXPECT_EQ((Messages{"first message", "second message"}), MessagesOf(bytes));
    EXPECT_EQ(2 * 29u + 13u + 14u, bytes.size());
    EXPECT_EQ(std::string::npos, bytes.find('\r'));
    EXPECT_EQ('e', bytes.back());
}

TEST(DiagnosticLog, MessageBytesAreWrittenUnchanged)
{
    std::string folder = MakeTempFolder("log");
    ScopedTmpdir tmpdir(folder.c_str());
    LogMessage("two\nlines");
    LogMessage("\xE9t\xE9 %d %s\r"); // code-page bytes, percent signs and a CR stay as they are
    LogMessage("");
    EXPECT_EQ((Messages{"two\nlines", "\xE9t\xE9 %d %s\r", ""}), LogMessagesIn(folder));
}

TEST(DiagnosticLog, TmpdirWithTrailingBackslashGivesADoubledSeparator)
{
    std::string folder = MakeTempFolder("log");
    ScopedTmpdir tmpdir((folder + "\\").c_str());
    LogMessage("doubled");
    EXPECT_EQ((Messages{"doubled"}), MessagesOf(ReadWholeFile(folder + "\\\\quorlim.log")));
    EXPECT_EQ((Messages{"doubled"}), LogMessagesIn(folder));
}

// The separator is appended whether or not TMPDIR ends in one, and the file
// name then follows: "<TMPDIR>\quorlim.log" is 12 characters longer than
// TMPDIR. Under Wine 8 a path of 260 characters still opens and one of 261
// does not, so with a trailing backslash a TMPDIR of 248 characters keeps the
// record and one of 249 drops it; a separator added only when missing would
// keep that one too.
TEST(DiagnosticLog, TmpdirEndingInABackslashAtThePathLengthBoundary)
{
    struct {
        size_t tmpdirLength; // with its trailing backslash
        bool written;
    } const cases[] = {
        {248, true},
        {249, false},
    };
    for (const auto &c : cases) {
        std::string folder = MakeTempFolder("bound");
        ASSERT_LT(folder.size() + 2, c.tmpdirLength);
        folder += "\\" + std::string(c.tmpdirLength - folder.size() - 2, 'b');
        ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL)) << folder.size() << " " << GetLastError();
        std::string tmpdir = folder + "\\";
        ASSERT_EQ(c.tmpdirLength, tmpdir.size());
        {
            ScopedTmpdir scoped(tmpdir.c_str());
            LogMessage("at the boundary");
        }
        WIN32_FIND_DATAA found;
        HANDLE search = FindFirstFileA((folder + "\\*.log").c_str(), &found);
        bool any = search != INVALID_HANDLE_VALUE;
        if (any)
            FindClose(search);
        EXPECT_EQ(c.written, any) << "TMPDIR of " << c.tmpdirLength << " characters";
        if (c.written)
            EXPECT_EQ((Messages{"at the boundary"}), LogMessagesIn(folder));
    }
}

TEST(DiagnosticLog, AnotherHandleDropsTheRecordUnlessItOnlyWritesAndSharesWriting)
{
    struct {
        DWORD access, share;
        bool written;
    } const cases[] = {
        {GENERIC_READ, FILE_SHARE_READ, false},                                        // no write sharing
        {GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, false}, // a reader
        {GENERIC_WRITE, FILE_SHARE_WRITE, true},                                       // another writer
    };
    for (const auto &c : cases) {
        std::string folder = MakeTempFolder("log");
        ScopedTmpdir tmpdir(folder.c_str());
        LogMessage("kept");
        std::string path = folder + "\\quorlim.log";
        HANDLE other = CreateFileA(path.c_str(), c.access, c.share, NULL, OPEN_EXISTING, 0, NULL);
        ASSERT_NE(INVALID_HANDLE_VALUE, other);
        LogMessage("while held");
        CloseHandle(other);
        LogMessage("after");
        EXPECT_EQ(c.written ? (Messages{"kept", "while held", "after"}) : (Messages{"kept", "after"}),
                  LogMessagesIn(folder))
            << c.access << " " << c.share;
    }
}

// These use the user's temporary folder, which other tests look at too.
TEST(DiagnosticLogInTempFolder, EmptyTmpdirMeansTheTemporaryFolder)
{
    DeleteFileA(TempLogPath().c_str());
    {
        ScopedTmpdir tmpdir("");
        LogMessage("in temp");
    }
    EXPECT_EQ((Messages{"in temp"}), MessagesOf(ReadWholeFile(TempLogPath())));
    {
        ScopedTmpdir tmpdir(NULL);
        LogMessage("unset");
    }
    EXPECT_EQ((Messages{"in temp", "unset"}), MessagesOf(ReadWholeFile(TempLogPath())));
    EXPECT_TRUE(DeleteFileA(TempLogPath().c_str()));
}

TEST(DiagnosticLogInTempFolder, TmpdirThatCannotBeUsedDropsTheRecordAndTempIsNotTried)
{
    DeleteFileA(TempLogPath().c_str());
    std::string missing = MakeTempFolder("log") + "\\missing";
    const std::string values[] = {
        missing,
        "C:\\" + std::string(256, 't'), // 259 characters: fits, and names no folder
        "C:\\" + std::string(257, 't'), // 260: does not fit the folder buffer
        "C:\\" + std::string(2000, 't'),
    };
    for (const std::string &value : values) {
        ScopedTmpdir tmpdir(value.c_str());
        LogMessage("dropped");
    }
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(missing.c_str()));
    EXPECT_EQ("<missing>", ReadWholeFile(TempLogPath()));
}

// What the C run-time's asctime gives for the same broken-down times: the
// log forms the text itself, byte for byte the same.
TEST(TimeText, IsWhatTheRunTimesAsctimeGives)
{
    const time_t times[] = {0, 944611200, 946684799, 946684800, 2147483647, 1765360800, time(NULL)};
    for (time_t when : times) {
        struct tm *broken = gmtime(&when);
        ASSERT_NE(nullptr, broken) << when;
        struct tm copy = *broken;
        char ours[LOG_TIME_TEXT_LENGTH + 1];
        ASSERT_EQ(1, FormatTimeText(ours, sizeof(ours), &copy)) << when;
        EXPECT_STREQ(asctime(&copy), ours) << when;
    }
}
