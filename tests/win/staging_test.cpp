#include <gtest/gtest.h>

#include <aclapi.h>
#include <shlobj.h>

#include <string>
#include <vector>

#include "staging/staging.h"
#include "support/profile.h"
#include "tests/win/helpers.h"
#include "tests/win/imports.h"
#include "tests/win/logcheck.h"

namespace {

const char kChainTail[] = "\\Qel\\Orva\\" PROFILE_KIT_FOLDER;
const char kPackageName[] = PROFILE_PACKAGE_FILE;

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

// The staged file `name` under `base`, whose chain makes the base too.
StagedFile StagedUnder(const std::string &base, const char *name)
{
    StagedFile staged;
    EXPECT_EQ(1, FormStagedFile(&staged, base.c_str(), name));
    staged.makesBase = 1;
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

// The names in `folder`, comma-separated in the order the system lists them.
std::string Listing(const std::string &folder)
{
    std::string names;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return "<none>";
    do {
        if (strcmp(found.cFileName, ".") != 0 && strcmp(found.cFileName, "..") != 0)
            names += (names.empty() ? "" : ",") + std::string(found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

// The "Error" box of a failed staged write: its label and code, then the
// system's text for the code (Wine has none for some, such as 4395).
void ExpectBoxOf(const WatchResult &result, const std::string &labelAndCode, bool withSystemText = true)
{
    ASSERT_EQ(1, result.boxCount);
    EXPECT_STREQ("Error", result.boxes[0].captionUtf8);
    const std::string text = result.boxes[0].textUtf8;
    EXPECT_EQ(labelAndCode, text.substr(0, labelAndCode.size()));
    if (withSystemText)
        EXPECT_GT(text.size(), labelAndCode.size()) << "the system's text follows the code";
}

std::string Quoted(const std::string &text)
{
    return "\"" + text + "\"";
}

} // namespace

TEST(UserDataFolder, OnVersion6IsLocalLow)
{
    ASSERT_TRUE(IsVistaFamily()) << "the prefix should report version 6.x";
    char out[MAX_PATH];
    ASSERT_TRUE(GetUserDataFolder(out));
    EXPECT_EQ(LocalAppDataLow(), out);
    EXPECT_NE(std::string::npos, std::string(out).find("\\AppData\\LocalLow"));
}

namespace {

// LocalLow pointed at `folder` (wide) in the user's shell folders for the
// life of the object, as a profile of another name has it.
class ScopedLocalLow {
  public:
    explicit ScopedLocalLow(const std::wstring &folder)
    {
        CreateDirectoryW(folder.c_str(), NULL);
        for (const wchar_t *key : kKeys)
            Set(key, folder);
    }
    ~ScopedLocalLow()
    {
        for (const wchar_t *key : kKeys) {
            HKEY opened;
            if (RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_SET_VALUE, &opened) == ERROR_SUCCESS) {
                RegDeleteValueW(opened, kLocalLowValue);
                RegCloseKey(opened);
            }
        }
    }

  private:
    static constexpr const wchar_t *kLocalLowValue = L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}";
    static constexpr const wchar_t *kKeys[2] = {
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
        L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"};
    static void Set(const wchar_t *key, const std::wstring &folder)
    {
        HKEY opened;
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExW(HKEY_CURRENT_USER, key, 0, NULL, 0, KEY_SET_VALUE, NULL, &opened,
                                                 NULL));
        DWORD type = wcsstr(key, L"User Shell") != NULL ? REG_EXPAND_SZ : REG_SZ;
        RegSetValueExW(opened, kLocalLowValue, 0, type, (const BYTE *)folder.c_str(),
                       (DWORD)((folder.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(opened);
    }
};

std::wstring WideOf(const std::string &ansi)
{
    WCHAR wide[MAX_PATH];
    MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, wide, MAX_PATH);
    return wide;
}

} // namespace

// A profile named outside the ANSI code page (two Chinese characters, code
// page 1252): the package is staged under the short form of LocalLow, whose
// names are ASCII, and the rest of the chain keeps its names. Where the
// volume has no short names the run ends with 1113, and nothing is staged
// anywhere else.
TEST(UserDataFolder, OutsideTheCodePageIsSpelledByItsShortFormOrEnds1113)
{
    ASSERT_EQ(1252u, GetACP()) << "the test bed's code page";
    std::wstring profile = WideOf(MakeTempFolder("profile")) + L"\\\u4e2d\u6587";
    CreateDirectoryW(profile.c_str(), NULL);
    CreateDirectoryW((profile + L"\\AppData").c_str(), NULL);
    ScopedLocalLow localLow(profile + L"\\AppData\\LocalLow");
    WCHAR shortForm[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW((profile + L"\\AppData\\LocalLow").c_str(), shortForm, MAX_PATH));
    char ansiShort[MAX_PATH];
    WideCharToMultiByte(CP_ACP, 0, shortForm, -1, ansiShort, MAX_PATH, NULL, NULL);

    WatchResult staged = RunChild("stage-package");
    EXPECT_EQ(1u, staged.exitCode);
    EXPECT_EQ(0, staged.boxCount);
    std::wstring package = profile + L"\\AppData\\LocalLow" + WideOf(kChainTail) + L"\\" + WideOf(kPackageName);
    EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(package.c_str())) << "staged in the profile's own folder";
    EXPECT_EQ(ResourceBytes(RESOURCE_20000), ReadWholeFile(std::string(ansiShort) + kChainTail + "\\" + kPackageName));

    WatchResult refused = RunChild("stage-package no-short-names");
    EXPECT_EQ((DWORD)ERROR_NO_UNICODE_TRANSLATION, refused.exitCode);
    ExpectBoxOf(refused, "Installer : Wrapper.CreateFile  failed with error 1113: ");
    char profileFolder[MAX_PATH], windowsFolder[MAX_PATH];
    GetEnvironmentVariableA("USERPROFILE", profileFolder, MAX_PATH);
    GetWindowsDirectoryA(windowsFolder, MAX_PATH);
    EXPECT_FALSE(IsFolder(std::string(profileFolder) + "\\Qel")) << "staged elsewhere";
    EXPECT_FALSE(IsFolder(std::string(windowsFolder) + "\\Qel")) << "staged elsewhere";
}

TEST(OnVersion52, UserDataFolderIsRoamingAppData)
{
    ASSERT_FALSE(IsVistaFamily()) << "run as windows_tests52.exe, which the prefix reports as 5.2";
    char out[MAX_PATH];
    ASSERT_TRUE(GetUserDataFolder(out));
    EXPECT_EQ(RoamingAppData(), out);
    EXPECT_NE(std::string::npos, std::string(out).find("\\AppData\\Roaming"));
}

TEST(StagingPath, PackagePathLiesInTheKitFolderUnderTheUserDataFolder)
{
    char folder[MAX_PATH];
    StagedFile package;
    GetUserDataFolder(folder);
    MakePackagePath(&package);
    EXPECT_EQ(std::string(folder) + kChainTail + "\\" + kPackageName, package.path);
    EXPECT_EQ(1, package.makesBase);
    StagedFile cabinet;
    MakeCabinetPath(&cabinet, "sd420170");
    EXPECT_EQ(std::string(folder) + kChainTail + "\\sd420170.cab", cabinet.path);
    EXPECT_EQ(0, cabinet.makesBase) << "a cabinet's chain never makes the user data folder";
}

// The chain is made as the file is written, the base folder only for the
// package; a cabinet under a base that is missing fails as its path does.
TEST(ExtractResource, MakesTheChainAndWritesTheResourceBytes)
{
    std::string base = MakeTempFolder("extract") + "\\base";
    EXPECT_EQ(ResourceBytes(RESOURCE_20000), Extracted(RESOURCE_20000, StagedUnder(base, "a.bin")));
    EXPECT_TRUE(IsFolder(base + kChainTail));
    EXPECT_EQ(20000u, ResourceBytes(RESOURCE_20000).size());
    EXPECT_EQ(ResourceBytes(RESOURCE_8192), Extracted(RESOURCE_8192, StagedUnder(base, "b.bin")));
    EXPECT_EQ("", Extracted(RESOURCE_EMPTY, StagedUnder(base, "empty.bin"))); // exists, and empty

    std::string missing = MakeTempFolder("extract") + "\\missing";
    WatchResult result = RunChild("stage-cabinet " + Quoted(missing) + " a.cab");
    EXPECT_EQ(3u, result.exitCode);
    EXPECT_FALSE(IsFolder(missing));
}

TEST(ExtractResource, AbsentResourceMakesAndWritesNothing)
{
    std::string base = MakeTempFolder("extract") + "\\base";
    StagedFile staged = StagedUnder(base, "none.bin");
    EXPECT_EQ(0, ExtractResourceToFile(GetModuleHandleA(NULL), 299, TEST_RESOURCE_TYPE, &staged));
    EXPECT_EQ(0, ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_8192, "OTHER_TYPE", &staged));
    EXPECT_FALSE(IsFolder(base));
}

TEST(ExtractResourceFailure, FolderInTheWayShowsCreateFileErrorAndExits5)
{
    std::string base = MakeTempFolder("fail");
    StagedFile other = StagedUnder(base, "other.bin");
    ASSERT_EQ(1, ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_EMPTY, TEST_RESOURCE_TYPE, &other));
    ASSERT_TRUE(CreateDirectoryA(StagedUnder(base, "pkg.msi").path, NULL));
    WatchResult result = RunChild("stage " + Quoted(base) + " pkg.msi");
    EXPECT_EQ(5u, result.exitCode);
    ExpectBoxOf(result, "Installer : Wrapper.CreateFile  failed with error 5: ");
}

TEST(ExtractResourceFailure, PathThatCouldNotBeFormedExits206AfterTheLookup)
{
    WatchResult result = RunChild("extract 201 -");
    EXPECT_EQ(206u, result.exitCode);
    ExpectBoxOf(result, "Installer : Wrapper.CreateFile  failed with error 206: ");

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

// A write that fails part way (here the second chunk, as on a disk that
// fills up) removes the file it had begun, so that no cut file holds the
// space or is read as whole; the old copy is gone as for any write.
TEST(ExtractResourceFailure, WriteThatFailsRemovesTheFileItBegan)
{
    std::string base = MakeTempFolder("full");
    StagedFile staged = StagedUnder(base, "pkg.msi");
    ASSERT_EQ(ResourceBytes(RESOURCE_8192), Extracted(RESOURCE_8192, staged)); // an old copy
    WatchResult result = RunChild("stage-full " + Quoted(base) + " pkg.msi 2");
    EXPECT_EQ(112u, result.exitCode);
    ExpectBoxOf(result, "Installer : Wrapper.WriteFile (In small chunks)  failed with error 112: ");
    EXPECT_EQ("", Listing(base + kChainTail)) << "no cut file, no old copy";
}

// Whatever a run before left at the staged name is replaced: a longer file,
// one left read-only (by a backup restore, a copy from read-only media), one
// another program holds open with every sharing flag (as scanners, indexers
// and backup agents do for a moment after a file is written), and a
// read-only hard link to a file outside the kit folder, which keeps its
// bytes and its attributes. Once the holder lets go, the kit folder holds
// the staged file alone.
TEST(StagedFileReplacement, WhateverTheLastRunLeftAtTheNameIsReplaced)
{
    enum Leftover { LONGER, READ_ONLY, HELD, READ_ONLY_HARD_LINK };
    const struct {
        Leftover leftover;
        const char *what;
    } cases[] = {
        {LONGER, "a longer file"},
        {READ_ONLY, "a read-only file"},
        {HELD, "a file held open with every sharing flag"},
        {READ_ONLY_HARD_LINK, "a read-only hard link to a file outside"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        std::string base = MakeTempFolder("replace");
        StagedFile staged = StagedUnder(base, kPackageName);
        ASSERT_EQ(1, ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_EMPTY, TEST_RESOURCE_TYPE, &staged));
        std::string outside = MakeTempFolder("outside") + "\\precious.txt";
        std::string readyName = UniqueName("wt-hold-ready"), releaseName = UniqueName("wt-hold-release");
        HANDLE ready = CreateEventA(NULL, TRUE, FALSE, readyName.c_str());
        HANDLE release = CreateEventA(NULL, TRUE, FALSE, releaseName.c_str());
        HANDLE holder = NULL;
        switch (c.leftover) {
        case LONGER:
            WriteWholeFile(staged.path, std::string(30000, 'x'));
            break;
        case READ_ONLY:
            WriteWholeFile(staged.path, "old bytes");
            ASSERT_TRUE(SetFileAttributesA(staged.path, FILE_ATTRIBUTE_READONLY));
            break;
        case HELD:
            WriteWholeFile(staged.path, "old bytes");
            holder = StartChild("hold " + Quoted(staged.path) + " " + readyName + " " + releaseName);
            ASSERT_NE((HANDLE)NULL, holder);
            ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(ready, 30000)) << "the holder did not open the file";
            break;
        case READ_ONLY_HARD_LINK:
            WriteWholeFile(outside, "precious bytes");
            ASSERT_TRUE(SetFileAttributesA(outside.c_str(), FILE_ATTRIBUTE_READONLY));
            DeleteFileA(staged.path);
            ASSERT_TRUE(CreateHardLinkA(staged.path, outside.c_str(), NULL)) << GetLastError();
            break;
        }

        WatchResult result = RunChild("stage " + Quoted(base) + " " + kPackageName);
        EXPECT_EQ(1u, result.exitCode);
        EXPECT_EQ(0, result.boxCount);
        EXPECT_EQ(ResourceBytes(RESOURCE_20000), ReadWholeFile(staged.path));
        EXPECT_FALSE(GetFileAttributesA(staged.path) & FILE_ATTRIBUTE_READONLY) << "a new file, not the old one";
        if (c.leftover == READ_ONLY_HARD_LINK) {
            EXPECT_EQ("precious bytes", ReadWholeFile(outside));
            EXPECT_TRUE(GetFileAttributesA(outside.c_str()) & FILE_ATTRIBUTE_READONLY) << "the file outside stays read-only";
            SetFileAttributesA(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
        }
        if (holder != NULL) {
            SetEvent(release);
            WaitForSingleObject(holder, 30000);
            CloseHandle(holder);
        }
        EXPECT_EQ(kPackageName, Listing(base + kChainTail)) << "a moved-aside copy stayed behind";
        CloseHandle(ready);
        CloseHandle(release);
    }
}

// A folder of the chain replaced by a link to a folder outside (a junction
// on Windows, a Unix symbolic link under Wine): the file is refused with
// 4395 before anything is made or written through the link.
TEST(StagingChain, LinkInTheChainExits4395AndWritesNothingThroughIt)
{
    const char *const linked[] = {"\\Qel", "\\Qel\\Orva", kChainTail};
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
        ASSERT_TRUE(MakeFolderLink(outside, link));

        WatchResult result = RunChild("stage " + Quoted(base) + " " + kPackageName);
        EXPECT_EQ(4395u, result.exitCode);
        ExpectBoxOf(result, "Installer : Wrapper.CreateFile  failed with error 4395: ", false);
        EXPECT_TRUE(IsEmptyFolder(outside)) << "nothing made or written through the link";

        EXPECT_TRUE(RemoveFolderLink(link));
        EXPECT_TRUE(IsEmptyFolder(outside)) << "the folder the link led to is left alone";
    }
}

// Between the check of the chain and the write, the kit folder is renamed
// away and a link to another folder put in its place (by a hook on the call
// that first opens the file's name). The held kit folder cannot be renamed:
// the folder outside, which holds a file of the package's name, is left
// untouched, and the package is written into the real kit folder.
TEST(StagingChain, KitFolderCannotBeSwappedForALinkBetweenTheCheckAndTheWrite)
{
    std::string base = MakeTempFolder("swap");
    std::string outside = MakeTempFolder("outside");
    WriteWholeFile(outside + "\\" + kPackageName, "precious bytes");
    StagedFile staged = StagedUnder(base, kPackageName);
    ASSERT_EQ(1, ExtractResourceToFile(GetModuleHandleA(NULL), RESOURCE_8192, TEST_RESOURCE_TYPE, &staged));

    WatchResult result = RunChild("stage-swapped " + Quoted(base) + " " + kPackageName + " " + Quoted(outside));
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, result.exitCode) << "the rename of the held kit folder";
    EXPECT_EQ(0, result.boxCount);
    EXPECT_EQ(kPackageName, Listing(outside)) << "no file created or deleted outside";
    EXPECT_EQ("precious bytes", ReadWholeFile(outside + "\\" + kPackageName));
    EXPECT_EQ(ResourceBytes(RESOURCE_20000), ReadWholeFile(staged.path));
}

// While a file is written, another process cannot rename the kit folder.
TEST(StagingChain, KitFolderIsHeldWhileAFileIsWritten)
{
    std::string base = MakeTempFolder("held");
    WatchResult result = RunChild("stage-renamed " + Quoted(base) + " " + kPackageName);
    EXPECT_EQ((DWORD)ERROR_SHARING_VIOLATION, result.exitCode) << "what the other process's rename gave";
    EXPECT_EQ(ResourceBytes(RESOURCE_20000), ReadWholeFile(StagedUnder(base, kPackageName).path));
}

// A hard link put back at the name after the old copy went and before the
// file is created (here by a hook on that call): the creation refuses the
// name with 80, and the file the link leads to keeps its bytes.
TEST(StagingChain, HardLinkPutBackBeforeTheCreationIsRefusedWith80)
{
    std::string base = MakeTempFolder("relink");
    std::string outside = MakeTempFolder("outside") + "\\precious.txt";
    WriteWholeFile(outside, "precious bytes");
    WatchResult result = RunChild("stage-relinked " + Quoted(base) + " " + kPackageName + " " + Quoted(outside));
    EXPECT_EQ(80u, result.exitCode);
    EXPECT_EQ("precious bytes", ReadWholeFile(outside));
    EXPECT_EQ("precious bytes", ReadWholeFile(base + kChainTail + "\\" + kPackageName))
        << "the planted link is left as it was";
    ExpectBoxOf(result, "Installer : Wrapper.CreateFile  failed with error 80: ");
}

namespace {

// What the product asked SetSecurityInfo for, seen through this program's
// import of it; the answer is Wine's (and an old system's) refusal.
struct LabelCall {
    std::string folder;
    DWORD what;
    bool mediumNoWriteUpInherited;
    std::string folderListing; // what the folder held when it was labelled
};
std::vector<LabelCall> g_labelCalls;

std::string FinalPath(HANDLE handle)
{
    char path[MAX_PATH * 2] = "";
    DWORD length = GetFinalPathNameByHandleA(handle, path, sizeof(path), 0);
    std::string text(path, length < sizeof(path) ? length : 0);
    return text.compare(0, 4, "\\\\?\\") == 0 ? text.substr(4) : text;
}

// One mandatory label of medium integrity, no-write-up, inherited by files
// and folders: read as the system reads the ACL.
bool IsMediumNoWriteUpInherited(PACL sacl)
{
    ACL_SIZE_INFORMATION size;
    void *ace = NULL;
    if (sacl == NULL || !IsValidAcl(sacl) ||
        !GetAclInformation(sacl, &size, sizeof(size), AclSizeInformation) || size.AceCount != 1 ||
        !GetAce(sacl, 0, &ace))
        return false;
    SYSTEM_MANDATORY_LABEL_ACE *label = (SYSTEM_MANDATORY_LABEL_ACE *)ace;
    SID_IDENTIFIER_AUTHORITY authority = SECURITY_MANDATORY_LABEL_AUTHORITY;
    PSID medium = NULL;
    if (!AllocateAndInitializeSid(&authority, 1, SECURITY_MANDATORY_MEDIUM_RID, 0, 0, 0, 0, 0, 0, 0, &medium))
        return false;
    bool matches = label->Header.AceType == SYSTEM_MANDATORY_LABEL_ACE_TYPE &&
                   label->Header.AceFlags == (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE) &&
                   label->Mask == SYSTEM_MANDATORY_LABEL_NO_WRITE_UP && EqualSid(&label->SidStart, medium);
    FreeSid(medium);
    return matches;
}

DWORD WINAPI RecordLabelAndRefuse(HANDLE handle, SE_OBJECT_TYPE type, SECURITY_INFORMATION what, PSID, PSID, PACL,
                                  PACL sacl)
{
    std::string folder = FinalPath(handle);
    g_labelCalls.push_back(
        LabelCall{folder, type == SE_FILE_OBJECT ? what : 0, IsMediumNoWriteUpInherited(sacl), Listing(folder)});
    return ERROR_ACCESS_DENIED;
}

} // namespace

// Each folder of the chain, made by this run or found, is labelled before
// anything is made or written in it. Where the label is refused (Wine, an
// old system), the run goes on as before and the log gets no record.
TEST(StagingChain, EachFolderIsLabelledBeforeAnythingIsMadeInIt)
{
    std::string base = MakeTempFolder("label");
    std::string logFolder = MakeTempFolder("label-log");
    ScopedTmpdir tmpdir(logFolder.c_str());
    ScopedImportPatch patch("advapi32.dll", "SetSecurityInfo", (void *)RecordLabelAndRefuse);
    ASSERT_TRUE(patch.ok());
    StagedFile staged = StagedUnder(base, kPackageName);
    const std::string chain[] = {base + "\\Qel", base + "\\Qel\\Orva", base + kChainTail};
    for (const char *run : {"made", "found"}) {
        SCOPED_TRACE(run);
        g_labelCalls.clear();
        EXPECT_EQ(ResourceBytes(RESOURCE_8192), Extracted(RESOURCE_8192, staged));
        ASSERT_EQ(3u, g_labelCalls.size());
        for (int i = 0; i < 3; i++) {
            EXPECT_EQ(0, lstrcmpiA(chain[i].c_str(), g_labelCalls[i].folder.c_str())) << g_labelCalls[i].folder;
            EXPECT_EQ((DWORD)LABEL_SECURITY_INFORMATION, g_labelCalls[i].what);
            EXPECT_TRUE(g_labelCalls[i].mediumNoWriteUpInherited);
        }
        bool made = strcmp(run, "made") == 0;
        EXPECT_EQ(made ? "" : "Orva", g_labelCalls[0].folderListing);
        EXPECT_EQ(made ? "" : PROFILE_KIT_FOLDER, g_labelCalls[1].folderListing);
        EXPECT_EQ(made ? "" : kPackageName, g_labelCalls[2].folderListing);
    }
    EXPECT_EQ("<missing>", ReadWholeFile(logFolder + "\\quorlim.log")) << "no record of a refused label";
}
