#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "staging/cabinets.h"
#include "staging/chunks.h"
#include "staging/staging_logic.h"

namespace {

// Records the size of every write call; optionally writes less than asked,
// or fails at a given call.
struct Recorder {
    std::vector<unsigned long> calls;
    std::string data;
    unsigned long shortBy = 0;
    size_t failAt = (size_t)-1;
    bool stall = false;
};

int RecordWrite(void *context, const unsigned char *bytes, unsigned long count, unsigned long *written)
{
    Recorder *r = static_cast<Recorder *>(context);
    r->calls.push_back(count);
    if (r->calls.size() - 1 == r->failAt)
        return 0;
    unsigned long n = r->stall ? 0 : (count > r->shortBy ? count - r->shortBy : count);
    r->data.append(reinterpret_cast<const char *>(bytes), n);
    *written = n;
    return 1;
}

std::vector<unsigned char> Pattern(size_t size)
{
    std::vector<unsigned char> bytes(size);
    for (size_t i = 0; i < size; i++)
        bytes[i] = (unsigned char)(i * 7 + i / 251);
    return bytes;
}

} // namespace

TEST(WriteInChunks, SplitsIntoCallsOfAtMost8192Bytes)
{
    struct {
        size_t size;
        std::vector<unsigned long> calls;
    } const cases[] = {
        {20000, {8192, 8192, 3616}},
        {8192, {8192}},
        {8193, {8192, 1}},
        {1, {1}},
        {0, {}},
    };
    for (const auto &c : cases) {
        std::vector<unsigned char> bytes = Pattern(c.size);
        Recorder r;
        EXPECT_EQ(1, WriteInChunks(bytes.data(), bytes.size(), RecordWrite, &r));
        EXPECT_EQ(c.calls, r.calls) << c.size;
        EXPECT_EQ(std::string(bytes.begin(), bytes.end()), r.data);
    }
}

TEST(WriteInChunks, ShortWritesContinueWhereTheyStopped)
{
    std::vector<unsigned char> bytes = Pattern(20000);
    Recorder r;
    r.shortBy = 1000;
    ASSERT_EQ(1, WriteInChunks(bytes.data(), bytes.size(), RecordWrite, &r));
    ASSERT_EQ(bytes.size(), r.data.size());
    EXPECT_EQ(0, memcmp(bytes.data(), r.data.data(), bytes.size()));
    EXPECT_EQ(8192u, r.calls[0]);
    EXPECT_EQ(8192u, r.calls[1]); // 20000 - 7192 left: a full chunk again
}

TEST(WriteInChunks, StopsAtTheFirstFailureOrAWriteWithoutProgress)
{
    std::vector<unsigned char> bytes = Pattern(20000);
    Recorder failing;
    failing.failAt = 1;
    EXPECT_EQ(0, WriteInChunks(bytes.data(), bytes.size(), RecordWrite, &failing));
    EXPECT_EQ(2u, failing.calls.size());

    Recorder stalling;
    stalling.stall = true;
    EXPECT_EQ(0, WriteInChunks(bytes.data(), bytes.size(), RecordWrite, &stalling));
    EXPECT_EQ(1u, stalling.calls.size());
}

TEST(DataFolder, OnlyAbsoluteFoldersBelowARootAreUsable)
{
    struct {
        const char *folder;
        int usable;
    } const cases[] = {
        {"C:\\users\\u\\AppData\\LocalLow", 1},
        {"C:\\users\\u\\AppData\\LocalLow\\", 1},
        {"c:\\windows", 1},
        {"\\\\server\\share\\home\\u", 1},
        {"", 0},
        {"C:", 0},
        {"C:\\", 0},
        {"C:\\\\", 0},
        {"\\", 0},
        {"\\users\\u", 0},         // rooted, but on whatever drive is current
        {"users\\u", 0},           // relative to the current folder
        {"C:users", 0},            // relative to the drive's current folder
        {"1:\\x", 0},
        {"\\\\server", 0},
        {"\\\\server\\share", 0},
        {"\\\\server\\share\\", 0},
        {"\\\\\\share\\x", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.usable, IsUsableDataFolder(c.folder)) << "[" << c.folder << "]";
}

TEST(CabinetTable, NamesFollowTheVersionInTableOrder)
{
    const char *const expected[CABINET_COUNT] = {"sd420170", "ss420170", "st420170", "sj420170",
                                                 "sp420170", "sz420170", "sb420170", "sr420170"};
    for (int i = 0; i < CABINET_COUNT; i++) {
        char name[16];
        ASSERT_EQ(1, FormatCabinetName(name, sizeof(name), &kCabinetTable[i]));
        EXPECT_STREQ(expected[i], name);
    }
    EXPECT_STREQ("ORVA_CAB6", kCabinetTable[0].resourceType);
    EXPECT_EQ(107, kCabinetTable[0].resourceId);
    EXPECT_STREQ("ORVA_CAB13", kCabinetTable[7].resourceType);
    EXPECT_EQ(114, kCabinetTable[7].resourceId);
}

TEST(CabinetTable, NameThatDoesNotFitIsRefusedNotCut)
{
    char name[9];
    EXPECT_EQ(1, FormatCabinetName(name, sizeof(name), &kCabinetTable[0])); // 8 characters
    memset(name, 'x', sizeof(name));
    EXPECT_EQ(0, FormatCabinetName(name, 8, &kCabinetTable[0]));
    EXPECT_STREQ("", name);
    const CabinetEntry odd = {"T", 1, "a%sb%s%s%s%s%d"}; // more %s than parts: kept as text
    char out[32];
    ASSERT_EQ(1, FormatCabinetName(out, sizeof(out), &odd));
    EXPECT_STREQ("a4b2017%s%d", out);
}

TEST(StagedFile, GivesTheBaseTheQelOrvaAndKitFoldersAndTheFile)
{
    StagedFile staged;
    ASSERT_EQ(1, FormStagedFile(&staged, "C:\\users\\u\\AppData\\LocalLow", "pmx4.2.0_17.msi"));
    EXPECT_STREQ("C:\\users\\u\\AppData\\LocalLow", staged.base);
    EXPECT_STREQ("C:\\users\\u\\AppData\\LocalLow\\Qel", staged.folders[0]);
    EXPECT_STREQ("C:\\users\\u\\AppData\\LocalLow\\Qel\\Orva", staged.folders[1]);
    EXPECT_STREQ("C:\\users\\u\\AppData\\LocalLow\\Qel\\Orva\\pmx4.2.0_17_x64", staged.folders[2]);
    EXPECT_STREQ("C:\\users\\u\\AppData\\LocalLow\\Qel\\Orva\\pmx4.2.0_17_x64\\pmx4.2.0_17.msi", staged.path);
    EXPECT_STREQ("pmx4.2.0_17.msi", staged.name);
    EXPECT_EQ(0, staged.makesBase);
    EXPECT_EQ(206u, staged.unformedCode);
}

// An old copy moves aside to a name of its own; a name that would be cut
// could be another file's, and is refused.
TEST(AsideName, IsTheFileNameWithItsNumberAndFitsOrIsNothing)
{
    char out[STAGING_PATH_SIZE];
    ASSERT_EQ(1, FormAsideName(out, sizeof(out), "pmx4.2.0_17.msi", 1));
    EXPECT_STREQ("pmx4.2.0_17.msi.1.old", out);
    ASSERT_EQ(1, FormAsideName(out, sizeof(out), "sd420170.cab", 16));
    EXPECT_STREQ("sd420170.cab.16.old", out);
    char exact[sizeof("a.cab.7.old")];
    ASSERT_EQ(1, FormAsideName(exact, sizeof(exact), "a.cab", 7));
    EXPECT_STREQ("a.cab.7.old", exact);
    EXPECT_EQ(0, FormAsideName(exact, sizeof(exact), "a.cab", 10));
    EXPECT_STREQ("", exact);
    EXPECT_EQ(0, FormAsideName(exact, sizeof(exact), "ab.cab", 1));
    EXPECT_STREQ("", exact);
}

TEST(StagedFile, BaseIsUsedAsGivenAndAnEmptyOneFormsNothing)
{
    struct {
        const char *base;
        int formed;
        const char *qel;
        const char *path;
    } const cases[] = {
        {"\\\\server\\share", 1, "\\\\server\\share\\Qel", "\\\\server\\share\\Qel\\Orva\\pmx4.2.0_17_x64\\a.cab"},
        {"C:\\base\\", 1, "C:\\base\\\\Qel", "C:\\base\\\\Qel\\Orva\\pmx4.2.0_17_x64\\a.cab"}, // base ended in "\"
        {"C:", 1, "C:\\Qel", "C:\\Qel\\Orva\\pmx4.2.0_17_x64\\a.cab"},
        {"", 0, "", ""},
    };
    for (const auto &c : cases) {
        StagedFile staged;
        memset(&staged, 'x', sizeof(staged));
        EXPECT_EQ(c.formed, FormStagedFile(&staged, c.base, "a.cab")) << c.base;
        EXPECT_STREQ(c.base, staged.base);
        EXPECT_STREQ(c.qel, staged.folders[0]) << c.base;
        EXPECT_STREQ(c.path, staged.path) << c.base;
    }
}

// The path has 259 characters at most: one more and it is refused, not cut;
// the folders that still fit are kept, so that they are made as before.
TEST(StagedFile, PathOf259CharactersFitsOneMoreIsRefusedNotCut)
{
    const std::string tail = "\\Qel\\Orva\\pmx4.2.0_17_x64\\a.cab";
    const std::string base(259 - tail.size(), 'b');
    StagedFile staged;
    ASSERT_EQ(1, FormStagedFile(&staged, base.c_str(), "a.cab"));
    EXPECT_EQ(base + tail, staged.path);

    memset(&staged, 'x', sizeof(staged));
    EXPECT_EQ(0, FormStagedFile(&staged, (base + "b").c_str(), "a.cab"));
    EXPECT_STREQ("", staged.path);
    EXPECT_EQ(base + "b\\Qel\\Orva\\pmx4.2.0_17_x64", staged.folders[2]);

    // A kit folder that does not fit: neither it nor the file is formed.
    const std::string longBase(259 - std::string("\\Qel\\Orva\\pmx4.2.0_17_x64").size() + 1, 'b');
    memset(&staged, 'x', sizeof(staged));
    EXPECT_EQ(0, FormStagedFile(&staged, longBase.c_str(), "a.cab"));
    EXPECT_EQ(longBase + "\\Qel\\Orva", staged.folders[1]);
    EXPECT_STREQ("", staged.folders[2]);
    EXPECT_STREQ("", staged.path);

    // A base that does not fit forms nothing at all.
    memset(&staged, 'x', sizeof(staged));
    EXPECT_EQ(0, FormStagedFile(&staged, std::string(260, 'b').c_str(), "a.cab"));
    EXPECT_STREQ("", staged.base);
    EXPECT_STREQ("", staged.folders[0]);
    EXPECT_STREQ("", staged.path);
}
