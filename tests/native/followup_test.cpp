#include <gtest/gtest.h>

#include <string.h>

#include <memory>
#include <string>

#include "installer/afterinstall_logic.h"

namespace {
const char kMsiexec[] = "C:\\windows\\system32\\msiexec.exe";
const char kKitHome[] = "C:\\Program Files\\Tovimark\\Orva Development Kit 4.2.0_17";
const std::string kRuntime = std::string(kKitHome) + "\\hux.msi";
const std::string kDatabase = std::string(kKitHome) + "\\orvadb.msi";

// The status text in a heap buffer of exactly `cap` bytes, so that
// AddressSanitizer stops any look past it.
int IsRequest(const std::string &bytes, size_t cap)
{
    std::unique_ptr<char[]> buffer(new char[cap]());
    memcpy(buffer.get(), bytes.data(), bytes.size() < cap ? bytes.size() : cap);
    return IsReinstallRequest(buffer.get(), cap);
}

std::string Runtime(unsigned short language, const char *installDir)
{
    char out[FOLLOWUP_BUFFER_SIZE];
    EXPECT_EQ(1, ComposeRuntimeCommand(out, sizeof(out), kMsiexec, kRuntime.c_str(), kKitHome, language,
                                       installDir));
    return out;
}

std::string Database(const char *installDir)
{
    char out[FOLLOWUP_BUFFER_SIZE];
    EXPECT_EQ(1, ComposeDatabaseCommand(out, sizeof(out), kMsiexec, kDatabase.c_str(), installDir));
    return out;
}
} // namespace

TEST(ReinstallRequest, OnlyTheExactTerminatedTextAsks)
{
    const size_t cap = STATUS_BUFFER_SIZE;
    struct {
        std::string bytes;
        size_t cap;
        int expected;
    } const cases[] = {
        {"reinstall", cap, 1},
        {std::string("reinstall\0junk", 14), cap, 1}, // the text ends at its NUL
        {"reinstall", 10, 1},
        {"reinstall", 9, 0}, // no room for the terminator: no text
        {"Reinstall", cap, 0},
        {"REINSTALL", cap, 0},
        {"exists", cap, 0},
        {"reinstal", cap, 0},
        {"reinstalll", cap, 0},
        {"reinstall ", cap, 0},
        {" reinstall", cap, 0},
        {"", cap, 0},
        {"reinstall" + std::string(cap - 10, 'x'), cap, 0},                      // 511 letters
        {"reinstall" + std::string(cap - 9, 'x'), cap, 0},                       // 512, unterminated
        {"reinstall" + std::string(cap - 10, 'x') + std::string(1, '\0'), cap, 0}, // 512 with its NUL
        {std::string(cap, 'x'), cap, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, IsRequest(c.bytes, c.cap)) << "[" << c.bytes.substr(0, 20) << "] in " << c.cap;
}

// The kit home is joined into follow-up commands that run elevated: only an
// absolute folder path without a quote is one.
TEST(KitHome, OnlyAnAbsolutePathWithoutAQuoteIsAFolder)
{
    struct {
        const char *home;
        int usable;
    } const cases[] = {
        {"C:\\Program Files\\Tovimark\\Orva Development Kit 4.2.0_17\\", 1},
        {"d:\\kit", 1},
        {"C:\\", 1},
        {"\\\\server\\share", 1},
        {"\\\\server\\share\\kit", 1},
        {"", 0},
        {"kit", 0},              // resolved against the current folder: the download folder
        {"kit\\home", 0},
        {"C:kit", 0},            // relative to the drive's current folder
        {"C:", 0},
        {"\\kit", 0},            // rooted on whatever drive is current
        {"\\\\server", 0},
        {"\\\\server\\", 0},
        {"\\\\\\share", 0},
        {"1:\\kit", 0},
        {"C:\\kit\" /l*v C:\\x.log \"C:\\kit", 0}, // would end the quoted package path
        {"\"C:\\kit\"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.usable, IsUsableKitHome(c.home)) << "[" << c.home << "]";
}

TEST(KitFilePath, JoinsWithABackslashOrLeavesNothing)
{
    char out[FOLLOWUP_BUFFER_SIZE];
    ASSERT_EQ(1, MakeKitFilePath(out, sizeof(out), kKitHome, "hux.msi"));
    EXPECT_EQ(kRuntime, out);
    ASSERT_EQ(1, MakeKitFilePath(out, sizeof(out), "C:\\kit\\", "orvadb.msi"));
    EXPECT_STREQ("C:\\kit\\\\orvadb.msi", out); // a home ending in a backslash is used as stored

    // "\hux.msi" is 8 characters: a home of 1015 fills the 1024-byte buffer.
    std::string home(1015, 'h');
    ASSERT_EQ(1, MakeKitFilePath(out, sizeof(out), home.c_str(), "hux.msi"));
    EXPECT_EQ(1023u, strlen(out));
    home += 'h';
    EXPECT_EQ(0, MakeKitFilePath(out, sizeof(out), home.c_str(), "hux.msi"));
    EXPECT_STREQ("", out);
}

TEST(RuntimeCommand, TemplatesPerLanguage)
{
    const std::string head = std::string("\"") + kMsiexec + "\" /i \"" + kRuntime + "\"";
    const std::string tail = " /qn ADDLOCAL=ALL SDKSILENT=1";
    const std::string kit = kKitHome;
    EXPECT_EQ(head + tail, Runtime(1033, ""));
    EXPECT_EQ(head + " TRANSFORMS=\"" + kit + "\\hux1041.MST\"" + tail, Runtime(1041, ""));
    EXPECT_EQ(head + " TRANSFORMS=\"" + kit + "\\hux2052.MST\"" + tail, Runtime(2052, ""));
    EXPECT_EQ(head + tail + " INSTALLDIR=D:\\rt", Runtime(1033, "D:\\rt"));
    EXPECT_EQ(head + tail + " INSTALLDIR=C:\\Program Files\\rt", Runtime(1033, "C:\\Program Files\\rt"));
    EXPECT_EQ(head + " TRANSFORMS=\"" + kit + "\\hux2052.MST\"" + tail + " INSTALLDIR=\"C:\\rt x\"",
              Runtime(2052, "\"C:\\rt x\""));
}

TEST(DatabaseCommand, FolderAppendedUnquoted)
{
    const std::string head = std::string("\"") + kMsiexec + "\" /i \"" + kDatabase + "\" /qn";
    EXPECT_EQ(head, Database(""));
    EXPECT_EQ(head + " INSTALLDIR=D:\\db", Database("D:\\db"));
    EXPECT_EQ(head + " INSTALLDIR=C:\\Orva DB", Database("C:\\Orva DB"));
    EXPECT_EQ(head + " INSTALLDIR=\"C:\\Orva DB\"", Database("\"C:\\Orva DB\""));
}

TEST(FollowUpCommands, ExactlyFullBufferFitsOneMoreByteDoesNot)
{
    char out[FOLLOWUP_BUFFER_SIZE];
    // Runtime: "" /i "" is 8 characters, " /qn ADDLOCAL=ALL SDKSILENT=1" 29,
    // " INSTALLDIR=" 12: a folder of 974 fills the buffer.
    std::string folder(974, 'f');
    ASSERT_EQ(1, ComposeRuntimeCommand(out, sizeof(out), "", "", "", 1033, folder.c_str()));
    EXPECT_EQ(1023u, strlen(out));
    folder += 'f';
    EXPECT_EQ(0, ComposeRuntimeCommand(out, sizeof(out), "", "", "", 1033, folder.c_str()));
    EXPECT_STREQ("", out);

    // The transform adds ` TRANSFORMS="\hux1041.MST"` for an empty home: 26.
    folder.assign(974 - 26, 'f');
    ASSERT_EQ(1, ComposeRuntimeCommand(out, sizeof(out), "", "", "", 1041, folder.c_str()));
    EXPECT_EQ(1023u, strlen(out));
    folder += 'f';
    EXPECT_EQ(0, ComposeRuntimeCommand(out, sizeof(out), "", "", "", 1041, folder.c_str()));
    EXPECT_STREQ("", out);

    // A kit home too long for its transform path: the command is not composed.
    std::string home(1013, 'h');
    EXPECT_EQ(0, ComposeRuntimeCommand(out, sizeof(out), "", "", home.c_str(), 2052, ""));
    EXPECT_STREQ("", out);

    // Database: "" /i "" /qn is 12 characters: a folder of 999 fills the buffer.
    folder.assign(999, 'f');
    ASSERT_EQ(1, ComposeDatabaseCommand(out, sizeof(out), "", "", folder.c_str()));
    EXPECT_EQ(1023u, strlen(out));
    folder += 'f';
    EXPECT_EQ(0, ComposeDatabaseCommand(out, sizeof(out), "", "", folder.c_str()));
    EXPECT_STREQ("", out);
}
