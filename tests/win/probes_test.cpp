#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "support/probes.h"
#include "tests/win/helpers.h"

namespace {

const char kVendorKey[] = "Software\\Tovimark";
const char kKitKey[] = "SOFTWARE\\Tovimark\\Orva Development Kit\\4.2.0_17";

// Stores `count` bytes of `bytes` as a value of type `type`. For a string
// stored without its NUL, the caller passes a byte after the data that is not
// 0: the registry would store the NUL anyway otherwise.
void SetValue(HKEY root, const char *keyPath, const char *name, DWORD type, const std::string &bytes,
              DWORD count)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(root, keyPath, 0, NULL, 0, KEY_SET_VALUE, NULL, &key, NULL));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, name, 0, type, (const BYTE *)bytes.data(), count));
    RegCloseKey(key);
}

bool KeyExists(const char *keyPath)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

bool ValueExists(const char *keyPath, const char *name)
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool found = RegQueryValueExA(key, name, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
    RegCloseKey(key);
    return found;
}

void CreateMachineKey(const char *keyPath)
{
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, keyPath, 0, NULL, 0, KEY_READ, NULL, &key, NULL));
    RegCloseKey(key);
}

// The vendor key is shared with the end-to-end cases (under the same lock):
// each test starts without it and leaves none behind.
class VendorKey : public testing::Test {
  protected:
    void SetUp() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kVendorKey); }
    void TearDown() override { RegDeleteTreeA(HKEY_LOCAL_MACHINE, kVendorKey); }
};

// A private key of the current user for the typed-read table: nothing else
// reads it, so that test needs no lock.
class QueryKey {
  public:
    QueryKey() : path_("Software\\wt-probes-" + std::to_string(GetCurrentProcessId()))
    {
        EXPECT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path_.c_str(), 0, NULL, 0, KEY_ALL_ACCESS,
                                                 NULL, &key_, NULL));
    }
    ~QueryKey()
    {
        RegCloseKey(key_);
        RegDeleteTreeA(HKEY_CURRENT_USER, path_.c_str());
    }
    HKEY key() const { return key_; }
    const char *path() const { return path_.c_str(); }

  private:
    std::string path_;
    HKEY key_ = NULL;
};

const DWORD kNotStored = 0xFFFFFFFF;

} // namespace

TEST(QueryRegistryString, TypeAndTerminationOfWhatIsStored)
{
    using std::string;
    QueryKey query;
    struct {
        const char *what;
        DWORD type;
        string stored;  // the bytes, with a guard byte after unterminated strings
        DWORD storedCount; // kNotStored: no such value
        DWORD bufferSize;  // 0: a null buffer (a size query)
        LONG expected;
        DWORD expectedCount;
        string expectedBytes; // the start of the buffer afterwards
    } const cases[] = {
        {"REG_SZ terminated", REG_SZ, string("abc\0", 4), 4, 16, 0, 4, string("abc\0", 4)},
        {"REG_SZ without NUL", REG_SZ, "abcx", 3, 16, 13, 3, "abc"},
        {"REG_SZ without NUL, exact buffer", REG_SZ, "abcx", 3, 3, 13, 3, "abczz"},
        {"REG_EXPAND_SZ, unexpanded", REG_EXPAND_SZ, string("%SystemRoot%\\x\0", 15), 15, 32, 0, 15,
         string("%SystemRoot%\\x\0", 15)},
        {"REG_MULTI_SZ of 0 bytes", REG_MULTI_SZ, "", 0, 16, 13, 0, "zz"},
        {"REG_MULTI_SZ of 1 byte", REG_MULTI_SZ, string("\0", 1), 1, 16, 13, 1, string("\0", 1)},
        {"REG_MULTI_SZ of 2 bytes", REG_MULTI_SZ, string("\0\0", 2), 2, 16, 0, 2, string("\0\0", 2)},
        {"REG_MULTI_SZ well formed", REG_MULTI_SZ, string("a\0bc\0\0", 6), 6, 16, 0, 6, string("a\0bc\0\0", 6)},
        {"REG_DWORD", REG_DWORD, string("\1\0\0\0", 4), 4, 16, 13, 4, string("\1\0\0\0", 4)},
        {"REG_NONE", REG_NONE, string("a\0", 2), 2, 16, 13, 2, string("a\0", 2)},
        {"missing value", REG_SZ, "", kNotStored, 16, 13, 16, "zz"},
        {"size query", REG_SZ, string("abcdefgh\0", 9), 9, 0, 0, 9, ""},
        {"buffer too small", REG_SZ, string("abcdefgh\0", 9), 9, 4, ERROR_MORE_DATA, 9, ""},
        {"zero-byte REG_SZ", REG_SZ, "", 0, 16, 13, 0, "zz"},
        {"zero-byte REG_EXPAND_SZ", REG_EXPAND_SZ, "", 0, 16, 13, 0, "zz"},
    };
    int serial = 0;
    for (const auto &c : cases) {
        std::string name = "value" + std::to_string(++serial);
        if (c.storedCount != kNotStored)
            SetValue(HKEY_CURRENT_USER, query.path(), name.c_str(), c.type, c.stored, c.storedCount);
        char buffer[64];
        memset(buffer, 'z', sizeof(buffer));
        DWORD count = c.bufferSize;
        LONG result = QueryRegistryString(query.key(), c.bufferSize == 0 ? NULL : buffer, name.c_str(), &count);
        EXPECT_EQ(c.expected, result) << c.what;
        EXPECT_EQ(c.expectedCount, count) << c.what;
        EXPECT_EQ(c.expectedBytes, std::string(buffer, c.expectedBytes.size())) << c.what;
    }
}

TEST_F(VendorKey, ReadVendorValueKeepsWhatTheQueryWrote)
{
    char buffer[600];

    memset(buffer, 'z', sizeof(buffer)); // no vendor key at all
    EXPECT_EQ(0, ReadVendorValue("InstallStatus", buffer, 512));
    EXPECT_EQ(std::string(sizeof(buffer), 'z'), std::string(buffer, sizeof(buffer))) << "left untouched";

    CreateMachineKey(kVendorKey); // the key, but not the value
    EXPECT_EQ(0, ReadVendorValue("InstallStatus", buffer, 512));
    EXPECT_EQ(std::string(sizeof(buffer), 'z'), std::string(buffer, sizeof(buffer))) << "left untouched";

    SetValue(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", REG_SZ, std::string("\0", 1), 1);
    EXPECT_EQ(0, ReadVendorValue("InstallStatus", buffer, 512)) << "the empty string";
    EXPECT_EQ('\0', buffer[0]);

    SetValue(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", REG_SZ, std::string("reinstall\0", 10), 10);
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(1, ReadVendorValue("InstallStatus", buffer, 512));
    EXPECT_STREQ("reinstall", buffer);

    // Stored the way the runtime package stores it: the nine letters, no NUL.
    // With room after the data the registry query itself adds a NUL, so only
    // a buffer of exactly nine bytes shows that nothing else adds one.
    SetValue(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", REG_SZ, "reinstallx", 9);
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(0, ReadVendorValue("InstallStatus", buffer, 9));
    EXPECT_EQ("reinstallz", std::string(buffer, 10)) << "the letters, and no terminator added";
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(0, ReadVendorValue("InstallStatus", buffer, 512)) << "the reinstall handshake's read";
    EXPECT_EQ("reinstall", std::string(buffer, 9));
}

TEST_F(VendorKey, DeleteVendorValueNeedsTheVendorKey)
{
    EXPECT_EQ(0, DeleteVendorValue("InstallStatus"));
    EXPECT_FALSE(KeyExists(kVendorKey));

    SetValue(HKEY_LOCAL_MACHINE, kVendorKey, "Other", REG_SZ, std::string("x\0", 2), 2);
    SetValue(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", REG_SZ, std::string("exists\0", 7), 7);
    EXPECT_EQ(1, DeleteVendorValue("InstallStatus"));
    EXPECT_FALSE(ValueExists(kVendorKey, "InstallStatus"));
    EXPECT_TRUE(ValueExists(kVendorKey, "Other")) << "another value keeps the key";
    EXPECT_EQ(1, DeleteVendorValue("NoSuchValue"));
    EXPECT_TRUE(ValueExists(kVendorKey, "Other"));
}

TEST_F(VendorKey, ClearInstallStatusTakesTheKeyWhenNothingIsLeft)
{
    SetValue(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", REG_SZ, "reinstallx", 9);
    EXPECT_EQ(1, ClearInstallStatus());
    EXPECT_FALSE(KeyExists(kVendorKey)) << "only value: the key goes too";
    EXPECT_TRUE(KeyExists("Software"));

    SetValue(HKEY_LOCAL_MACHINE, kVendorKey, "InstallStatus", REG_SZ, "reinstallx", 9);
    CreateMachineKey(kKitKey);
    EXPECT_EQ(1, ClearInstallStatus());
    EXPECT_FALSE(ValueExists(kVendorKey, "InstallStatus"));
    EXPECT_TRUE(KeyExists(kKitKey)) << "a key with a subkey keeps it";
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kVendorKey);

    CreateMachineKey(kVendorKey);
    EXPECT_EQ(1, ClearInstallStatus());
    EXPECT_FALSE(KeyExists(kVendorKey)) << "value absent, key empty: the key goes";

    EXPECT_EQ(1, ClearInstallStatus()) << "no vendor key";
    EXPECT_FALSE(KeyExists(kVendorKey));
    EXPECT_TRUE(KeyExists("Software"));
}

TEST_F(VendorKey, GetKitHomeReadsOrvaHome)
{
    char buffer[1024];
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(0, GetKitHome(buffer, sizeof(buffer))) << "no kit key";
    EXPECT_EQ('z', buffer[0]);

    CreateMachineKey(kKitKey);
    EXPECT_EQ(0, GetKitHome(buffer, sizeof(buffer))) << "no OrvaHome";

    const std::string home = "C:\\Program Files\\Tovimark\\Orva Development Kit 4.2.0_17\\";
    SetValue(HKEY_LOCAL_MACHINE, kKitKey, "OrvaHome", REG_SZ, home + '\0', (DWORD)home.size() + 1);
    EXPECT_EQ(1, GetKitHome(buffer, sizeof(buffer)));
    EXPECT_EQ(home, buffer);

    SetValue(HKEY_LOCAL_MACHINE, kKitKey, "OrvaHome", REG_SZ, std::string("\0", 1), 1);
    memset(buffer, 'z', sizeof(buffer));
    EXPECT_EQ(1, GetKitHome(buffer, sizeof(buffer))) << "the empty string is a kit home";
    EXPECT_STREQ("", buffer);

    SetValue(HKEY_LOCAL_MACHINE, kKitKey, "OrvaHome", REG_SZ, "C:\\kitx", 6);
    EXPECT_EQ(0, GetKitHome(buffer, 6)) << "unterminated";
    SetValue(HKEY_LOCAL_MACHINE, kKitKey, "OrvaHome", REG_DWORD, std::string("\1\0\0\0", 4), 4);
    EXPECT_EQ(0, GetKitHome(buffer, sizeof(buffer))) << "not a string";
    const std::string longHome = "C:\\" + std::string(1100, 'h');
    SetValue(HKEY_LOCAL_MACHINE, kKitKey, "OrvaHome", REG_SZ, longHome + '\0', (DWORD)longHome.size() + 1);
    EXPECT_EQ(0, GetKitHome(buffer, sizeof(buffer))) << "larger than the buffer";
}

TEST(FileExists, AnyMatchingEntryCounts)
{
    std::string folder = MakeTempFolder("exists");
    WriteWholeFile(folder + "\\hux.msi", "package");
    CreateDirectoryA((folder + "\\sub").c_str(), NULL);
    struct {
        std::string path;
        int expected;
    } const cases[] = {
        {folder + "\\hux.msi", 1},
        {folder + "\\sub", 1},
        {folder, 1},
        {folder + "\\orvadb.msi", 0},
        {folder + "\\missing\\hux.msi", 0},
        {folder + "\\*.msi", 1},
        {folder + "\\h?x.msi", 1},
        {folder + "\\*.MST", 0},
        {"", 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, FileExists(c.path.c_str())) << c.path;
    DeleteFileA((folder + "\\hux.msi").c_str());
    RemoveDirectoryA((folder + "\\sub").c_str());
    RemoveDirectoryA(folder.c_str());
}
