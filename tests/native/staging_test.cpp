#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "staging/cabinets.h"
#include "staging/chunks.h"
#include "staging/layout.h"

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

TEST(StagingFolderOf, GivesTheKitOrvaAndQelFoldersOfAStagingPath)
{
    const char path[] = "C:\\users\\u\\AppData\\LocalLow\\Qel\\Orva\\pmx4.2.0_17_x64\\pmx4.2.0_17.msi";
    struct {
        int level;
        const char *folder;
    } const cases[] = {
        {STAGING_KIT_FOLDER, "C:\\users\\u\\AppData\\LocalLow\\Qel\\Orva\\pmx4.2.0_17_x64"},
        {STAGING_ORVA_FOLDER, "C:\\users\\u\\AppData\\LocalLow\\Qel\\Orva"},
        {STAGING_QEL_FOLDER, "C:\\users\\u\\AppData\\LocalLow\\Qel"},
    };
    for (const auto &c : cases) {
        char out[260];
        ASSERT_EQ(1, StagingFolderOf(path, c.level, out, sizeof(out))) << c.level;
        EXPECT_STREQ(c.folder, out);
    }
}

TEST(StagingFolderOf, RefusesPathsWithoutThatFolder)
{
    struct {
        const char *path;
        int level;
        int ok;
        const char *folder;
    } const cases[] = {
        {"\\\\server\\share\\Qel\\Orva\\kit\\a.cab", STAGING_QEL_FOLDER, 1, "\\\\server\\share\\Qel"},
        {"C:\\base\\\\Qel\\Orva\\kit\\a.cab", STAGING_QEL_FOLDER, 1, "C:\\base\\\\Qel"}, // base ended in "\"
        {"C:\\Qel\\Orva\\kit\\a.cab", STAGING_QEL_FOLDER, 1, "C:\\Qel"},
        {"C:\\Orva\\kit\\a.cab", STAGING_QEL_FOLDER, 0, ""}, // only the drive is left
        {"Orva\\kit\\a.cab", STAGING_QEL_FOLDER, 0, ""},
        {"\\Orva\\kit\\a.cab", STAGING_QEL_FOLDER, 0, ""},
        {"kit\\a.cab", STAGING_KIT_FOLDER, 1, "kit"},
        {"a.cab", STAGING_KIT_FOLDER, 0, ""},
        {"", STAGING_KIT_FOLDER, 0, ""},
        {"\\a.cab", STAGING_KIT_FOLDER, 0, ""},
    };
    for (const auto &c : cases) {
        char out[260];
        memset(out, 'x', sizeof(out));
        EXPECT_EQ(c.ok, StagingFolderOf(c.path, c.level, out, sizeof(out))) << c.path;
        EXPECT_STREQ(c.folder, out) << c.path;
    }
}

TEST(StagingFolderOf, FolderThatDoesNotFitIsRefusedNotCut)
{
    const char path[] = "C:\\b\\Qel\\Orva\\kit\\a.cab"; // the Qel folder: 8 characters
    char out[9];
    EXPECT_EQ(1, StagingFolderOf(path, STAGING_QEL_FOLDER, out, sizeof(out)));
    EXPECT_STREQ("C:\\b\\Qel", out);
    memset(out, 'x', sizeof(out));
    EXPECT_EQ(0, StagingFolderOf(path, STAGING_QEL_FOLDER, out, 8));
    EXPECT_STREQ("", out);
    EXPECT_EQ(0, StagingFolderOf(path, STAGING_QEL_FOLDER, out, 0)); // nothing written at all
}
