#include <gtest/gtest.h>

#include <string>

#include "installer/engine_logic.h"

namespace {
const char kMsiexec[] = "C:\\windows\\system32\\msiexec.exe";
const char kPackage[] = "C:\\users\\u\\AppData\\LocalLow\\Qel\\Orva\\pmx4.2.0_17_x64\\pmx4.2.0_17.msi";

std::string Compose(unsigned short language, const char *properties)
{
    char out[COMMAND_BUFFER_SIZE];
    EXPECT_EQ(1, ComposeMainCommand(out, sizeof(out), kMsiexec, kPackage, language, properties));
    return out;
}
} // namespace

TEST(MainCommand, TemplatesAreAppliedLiterally)
{
    const std::string head = std::string("\"") + kMsiexec + "\" /i \"" + kPackage + "\" ";
    EXPECT_EQ(head + " WRAPPER=1", Compose(1033, ""));
    EXPECT_EQ(head + " /qn WRAPPER=1", Compose(1033, " /qn"));
    EXPECT_EQ(head + "ADDLOCAL=ALL  WRAPPER=1", Compose(1033, "ADDLOCAL=ALL "));
    EXPECT_EQ(head + "TRANSFORMS=:1041  WRAPPER=1", Compose(1041, ""));
    EXPECT_EQ(head + "TRANSFORMS=:2052  /qn WRAPPER=1", Compose(2052, " /qn"));
    EXPECT_EQ(head + "TRANSFORMS=:1041  /l*v log.txt  WRAPPER=1", Compose(1041, " /l*v log.txt "));
}

TEST(MainCommand, ExactlyFullBufferFitsOneMoreByteDoesNot)
{
    char out[COMMAND_BUFFER_SIZE];
    // "" /i "" and a space make 9 characters, " WRAPPER=1" 10: 1004 are left.
    std::string properties(1004, 'p');
    ASSERT_EQ(1, ComposeMainCommand(out, sizeof(out), "", "", 1033, properties.c_str()));
    EXPECT_EQ(1023u, strlen(out));

    properties += 'p';
    EXPECT_EQ(0, ComposeMainCommand(out, sizeof(out), "", "", 1033, properties.c_str()));
    EXPECT_STREQ("", out);

    // The transform adds "TRANSFORMS=:1041 ": 17 characters.
    properties.assign(1004 - 17, 'p');
    EXPECT_EQ(1, ComposeMainCommand(out, sizeof(out), "", "", 1041, properties.c_str()));
    properties += 'p';
    EXPECT_EQ(0, ComposeMainCommand(out, sizeof(out), "", "", 1041, properties.c_str()));
}

TEST(EngineVersion, OldestAcceptedIs2_0_2600_0)
{
    struct {
        unsigned long ms, ls;
        int accepted;
    } const cases[] = {
        {0x00020000, 0x0A280000, 1}, // 2.0.2600.0
        {0x00020000, 0x0A27FFFF, 0}, // 2.0.2599.65535
        {0x00020000, 0x0A280001, 1}, // 2.0.2600.1
        {0x00020000, 0xFFFFFFFF, 1},
        {0x00020000, 0x00000000, 0}, // 2.0.0.0
        {0x00030001, 0x0FA00000, 1}, // 3.1.4000.0
        {0x00040005, 0x17701770, 1}, // 4.5.6000.6000
        {0x00010014, 0xFFFFFFFF, 0}, // 1.20.x
        {0x0001FFFF, 0xFFFFFFFF, 0}, // 1.65535.x
        {0x00020001, 0x00000000, 1}, // 2.1.0.0
        {0x00000000, 0x00000000, 0},
        {0xFFFFFFFF, 0x00000000, 1},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.accepted, IsEngineVersionAccepted(c.ms, c.ls)) << std::hex << c.ms << " " << c.ls;
}

// The program named in a failed start's log record.
enum { MAX_PROGRAM = 260 };

TEST(CommandProgram, IsTheQuotedHeadOrTheFirstWord)
{
    struct {
        const char *command;
        const char *program;
    } const cases[] = {
        {"\"C:\\Program Files\\e\\msiexec.exe\" /i \"x.msi\"", "C:\\Program Files\\e\\msiexec.exe"},
        {"C:\\e\\msiexec.exe /i x.msi", "C:\\e\\msiexec.exe"},
        {"\"C:\\no closing quote /i", "C:\\no closing quote /i"},
        {"msiexec.exe", "msiexec.exe"},
        {"", ""},
    };
    for (const auto &c : cases) {
        char out[MAX_PROGRAM];
        EXPECT_EQ(1, CommandProgram(out, sizeof(out), c.command)) << c.command;
        EXPECT_STREQ(c.program, out);
    }
    char small[8];
    EXPECT_EQ(1, CommandProgram(small, sizeof(small), "\"1234567\" /i")); // 7 and the terminator
    EXPECT_STREQ("1234567", small);
    EXPECT_EQ(0, CommandProgram(small, sizeof(small), "\"12345678\" /i"));
    EXPECT_STREQ("", small);
}
