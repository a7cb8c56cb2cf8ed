#include <gtest/gtest.h>

#include <shlobj.h>

#include <string>

#include "staging/staging.h"
#include "tests/win/helpers.h"

namespace {

const char kStagingTail[] = "\\Qel\\Orva\\pmx4.2.0_17_x64\\pmx4.2.0_17.msi";

std::string LocalAppDataLow()
{
    typedef HRESULT(WINAPI * GetFolderPathExFn)(const GUID *, DWORD, HANDLE, LPWSTR, UINT);
    static const GUID localLow = {0xA520A1A4, 0x1780, 0x4FF6, {0xBD, 0x18, 0x16, 0x73, 0x43, 0xC5, 0xAF, 0x16}};
    HMODULE shell32 = LoadLibraryA("shell32.dll");
    GetFolderPathExFn getPath = (GetFolderPathExFn)(void *)GetProcAddress(shell32, "SHGetFolderPathEx");
    WCHAR wide[MAX_PATH] = L"";
    char path[MAX_PATH] = "";
    if (getPath != NULL && getPath(&localLow, 0, NULL, wide, MAX_PATH) == 0)
        WideCharToMultiByte(CP_ACP, 0, wide, -1, path, MAX_PATH, NULL, NULL);
    return path;
}

std::string RoamingAppData()
{
    char path[MAX_PATH] = "";
    SHGetFolderPathA(NULL, CSIDL_APPDATA, NULL, 0, path);
    return path;
}

// The staged file `name` under `folder`, its folders made.
StagedFile StagedUnder(const std::string &folder, const char *name)
{
    StagedFile staged;
    EXPECT_EQ(1, BuildStagedFile(&staged, folder.c_str(), name, TRUE));
    return staged;
}

std::string Extracted(int id, const StagedFile &staged)
{
    EXPECT_EQ(1, ExtractResourceToFile(GetModuleHandleA(NULL), id, TEST_RESOURCE_TYPE, &staged));
    return ReadWholeFile(staged.path);
}

std::string ResourceBytes(int id)
{
    HMODULE self = GetModuleHandleA(NULL);
    HRSRC resource = FindResourceA(self, MAKEINTRESOURCEA(id), TEST_RESOURCE_TYPE);
    return std::string((const char *)LockResource(LoadResource(self, resource)), SizeofResource(self, resource));
}

} // namespace

// Prefix lock: UserDataFolder (the shell's user data folder, whose registry entry an end-to-end case points elsewhere for a while)
TEST(UserDataFolder, OnVersion6IsLocalLow)
{
    ASSERT_TRUE(IsVistaFamily()) << "the prefix should report version 6.x";
    char out[MAX_PATH];
    ASSERT_TRUE(GetUserDataFolder(out));
    EXPECT_EQ(LocalAppDataLow(), out);
    EXPECT_NE(std::string::npos, std::string(out).find("\\AppData\\LocalLow"));
}

TEST(OnVersion52, UserDataFolderIsRoamingAppData)
{
    ASSERT_FALSE(IsVistaFamily()) << "run as windows_tests52.exe, which the prefix reports as 5.2";
    char out[MAX_PATH];
    ASSERT_TRUE(GetUserDataFolder(out));
    EXPECT_EQ(RoamingAppData(), out);
    EXPECT_NE(std::string::npos, std::string(out).find("\\AppData\\Roaming"));
}

// Prefix lock: StagingPath (the kit folder's chain, which end-to-end cases remove and replace by links)
TEST(StagingPath, PackagePathLiesInTheKitFolderWhoseChainExists)
{
    char folder[MAX_PATH];
    StagedFile package;
    GetUserDataFolder(folder);
    MakePackagePath(&package);
    EXPECT_EQ(std::string(folder) + kStagingTail, package.path);
    std::string kit(package.path);
    kit.resize(kit.rfind('\\'));
    EXPECT_TRUE(IsFolder(kit)) << kit;
}

TEST(StagingPath, CreatesEveryFolderOfTheChain)
{
    std::string base = MakeTempFolder("chain") + "\\base";
    StagedFile staged;
    ASSERT_EQ(1, BuildStagedFile(&staged, base.c_str(), "x.cab", TRUE));
    EXPECT_EQ(base + "\\Qel\\Orva\\pmx4.2.0_17_x64\\x.cab", staged.path);
    EXPECT_TRUE(IsFolder(base + "\\Qel\\Orva\\pmx4.2.0_17_x64"));

    // Without createBase the base folder itself is not made.
    std::string other = MakeTempFolder("chain") + "\\missing";
    ASSERT_EQ(1, BuildStagedFile(&staged, other.c_str(), "x.cab", FALSE));
    EXPECT_FALSE(IsFolder(other));
}

TEST(StagingPath, Of259CharactersFitsOneMoreIsRefusedNotCut)
{
    // Under a folder that does not exist, so that no folder is made.
    const std::string tail = std::string(kStagingTail);
    const std::string parent = "C:\\missing-parent\\";
    std::string base = parent + std::string(259 - parent.size() - tail.size(), 'b');
    StagedFile staged;
    ASSERT_EQ(1, BuildStagedFile(&staged, base.c_str(), "pmx4.2.0_17.msi", FALSE));
    EXPECT_EQ(259u, strlen(staged.path));

    base += "b";
    EXPECT_EQ(0, BuildStagedFile(&staged, base.c_str(), "pmx4.2.0_17.msi", FALSE));
    EXPECT_STREQ("", staged.path);

    EXPECT_EQ(0, BuildStagedFile(&staged, "", "pmx4.2.0_17.msi", FALSE)); // no base: no path
    EXPECT_STREQ("", staged.path);
}

TEST(ExtractResource, WritesTheResourceBytes)
{
    std::string folder = MakeTempFolder("extract");
    EXPECT_EQ(ResourceBytes(RESOURCE_20000), Extracted(RESOURCE_20000, StagedUnder(folder, "a.bin")));
    EXPECT_EQ(20000u, ResourceBytes(RESOURCE_20000).size());
    EXPECT_EQ(ResourceBytes(RESOURCE_8192), Extracted(RESOURCE_8192, StagedUnder(folder, "b.bin")));
    EXPECT_EQ("", Extracted(RESOURCE_EMPTY, StagedUnder(folder, "empty.bin"))); // exists, and empty
}

TEST(ExtractResource, ReplacesAnExistingLongerFile)
{
    StagedFile staged = StagedUnder(MakeTempFolder("extract"), "a.bin");
    WriteWholeFile(staged.path, std::string(30000, 'x'));
    EXPECT_EQ(ResourceBytes(RESOURCE_8192), Extracted(RESOURCE_8192, staged));
}

TEST(ExtractResource, AbsentResourceWritesNothing)
{
    StagedFile staged = StagedUnder(MakeTempFolder("extract"), "none.bin");
    EXPECT_EQ(0, ExtractResourceToFile(GetModuleHandleA(NULL), 299, TEST_RESOURCE_TYPE, &staged));
    EXPECT_EQ(0, ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_8192, "OTHER_TYPE", &staged));
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(staged.path));
}

TEST(ExtractResourceFailure, FolderInTheWayShowsCreateFileErrorAndExits5)
{
    std::string base = MakeTempFolder("fail");
    StagedFile staged = StagedUnder(base, "pkg.msi");
    ASSERT_TRUE(CreateDirectoryA(staged.path, NULL));
    WatchResult result = RunChild("stage \"" + base + "\" pkg.msi");
    EXPECT_EQ(5u, result.exitCode);
    ASSERT_EQ(1, result.boxCount);
    EXPECT_STREQ("Error", result.boxes[0].captionUtf8);
    const std::string text = result.boxes[0].textUtf8;
    const std::string expected = "Installer : Wrapper.CreateFile  failed with error 5: ";
    EXPECT_EQ(expected, text.substr(0, expected.size()));
    EXPECT_GT(text.size(), expected.size()) << "the system's text follows the code";
}

TEST(ExtractResourceFailure, PathThatCouldNotBeFormedExits206AfterTheLookup)
{
    WatchResult result = RunChild("extract 201 -");
    EXPECT_EQ(206u, result.exitCode);
    ASSERT_EQ(1, result.boxCount);
    const std::string expected = "Installer : Wrapper.CreateFile  failed with error 206: ";
    EXPECT_EQ(expected, std::string(result.boxes[0].textUtf8).substr(0, expected.size()));

    // An absent resource is still reported as absent, without a box.
    WatchResult absent = RunChild("extract 299 -");
    EXPECT_EQ(0u, absent.exitCode);
    EXPECT_EQ(0, absent.boxCount);
}

TEST(ExtractResourceFailure, CodeWithoutSystemTextShowsEmptyText)
{
    WatchResult result = RunChild("fail 0x2000DEAD");
    EXPECT_EQ(0x2000DEADu, result.exitCode);
    ASSERT_EQ(1, result.boxCount);
    EXPECT_STREQ("Installer : Wrapper.CreateFile  failed with error 536927917: ", result.boxes[0].textUtf8);
}

// A folder of the chain replaced by a link to a folder outside (a junction on
// Windows, a Unix symbolic link under Wine): the file is refused with 4395
// before anything is made or written through the link. Under a base of its
// own, so the staging folder of the prefix is left alone.
TEST(StagingLink, LinkInTheChainExits4395AndWritesNothingThroughIt)
{
    const char *const linked[] = {"\\Qel", "\\Qel\\Orva", "\\Qel\\Orva\\pmx4.2.0_17_x64"};
    for (const char *folder : linked) {
        SCOPED_TRACE(folder);
        std::string base = MakeTempFolder("links");
        std::string outside = MakeTempFolder("outside");
        std::string link = base + folder;
        std::string parent = link.substr(0, link.rfind('\\'));
        for (size_t at = parent.find('\\', base.size() + 1);; at = parent.find('\\', at + 1)) {
            CreateDirectoryA(parent.substr(0, at).c_str(), NULL); // the real folders above the link
            if (at == std::string::npos)
                break;
        }
        ASSERT_TRUE(IsFolder(parent));
        ASSERT_TRUE(MakeUnixLink(outside, link));
        ASSERT_EQ((DWORD)(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT), GetFileAttributesA(link.c_str()));

        StagedFile staged;
        ASSERT_EQ(1, FormStagedFile(&staged, base.c_str(), "pmx4.2.0_17.msi"));
        EXPECT_EQ(0, AreStagingFoldersReal(&staged));

        WatchResult result = RunChild("stage \"" + base + "\" pmx4.2.0_17.msi");
        EXPECT_EQ(4395u, result.exitCode);
        ASSERT_EQ(1, result.boxCount);
        EXPECT_STREQ("Error", result.boxes[0].captionUtf8);
        const std::string expected = "Installer : Wrapper.CreateFile  failed with error 4395: ";
        EXPECT_EQ(expected, std::string(result.boxes[0].textUtf8).substr(0, expected.size()));
        EXPECT_TRUE(IsEmptyFolder(outside)) << "nothing made or written through the link";

        EXPECT_TRUE(RemoveUnixLink(link));
        EXPECT_TRUE(IsEmptyFolder(outside)) << "the folder the link led to is left alone";
    }
}

// A hard link put back at the path between the delete and the create (here
// by this program's own DeleteFileA, pointed at a stand-in that plants one):
// the create refuses the file that is there with 80, and the file the link
// leads to keeps its bytes. Creating over it would write into that file.
TEST(StagingLink, HardLinkPutBackAfterTheDeleteIsRefusedWith80)
{
    std::string base = MakeTempFolder("relink");
    std::string outside = MakeTempFolder("outside") + "\\precious.txt";
    WriteWholeFile(outside, "precious bytes");
    WatchResult result = RunChild("stage-relinked \"" + base + "\" pmx4.2.0_17.msi \"" + outside + "\"");
    EXPECT_EQ(80u, result.exitCode);
    EXPECT_EQ("precious bytes", ReadWholeFile(outside));
    EXPECT_EQ("precious bytes", ReadWholeFile(base + kStagingTail)) << "the planted link is left as it was";
    ASSERT_EQ(1, result.boxCount);
    EXPECT_STREQ("Error", result.boxes[0].captionUtf8);
    const std::string expected = "Installer : Wrapper.CreateFile  failed with error 80: ";
    EXPECT_EQ(expected, std::string(result.boxes[0].textUtf8).substr(0, expected.size()));
}

TEST(StagingLink, RealFoldersPass)
{
    StagedFile staged = StagedUnder(MakeTempFolder("links"), "pmx4.2.0_17.msi");
    EXPECT_EQ(1, AreStagingFoldersReal(&staged));
    EXPECT_EQ(1, ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_8192, TEST_RESOURCE_TYPE, &staged));
    EXPECT_EQ(ResourceBytes(RESOURCE_8192), ReadWholeFile(staged.path));
}

// A hard link planted at the package's path, to a file outside the kit
// folder: the link is replaced, the file it led to keeps its bytes.
// Prefix lock: StagingFolder (links planted in the prefix's kit folder)
TEST(StagingFolder, HardLinkAtThePackagePathIsReplacedNotWrittenThrough)
{
    StagedFile package;
    MakePackagePath(&package);
    const char *path = package.path;
    ASSERT_STRNE("", path);
    std::string outside = MakeTempFolder("outside") + "\\precious.txt";
    WriteWholeFile(outside, "precious bytes");
    DeleteFileA(path);
    ASSERT_TRUE(CreateHardLinkA(path, outside.c_str(), NULL)) << GetLastError();
    ASSERT_EQ("precious bytes", ReadWholeFile(path));

    EXPECT_EQ(ResourceBytes(RESOURCE_20000), Extracted(RESOURCE_20000, package));
    EXPECT_EQ("precious bytes", ReadWholeFile(outside));
    DeleteFileA(path);
}
