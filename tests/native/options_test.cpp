#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/options.h"

namespace {

struct Translation {
    int ok;
    Options options;
};

Translation Translate(std::vector<std::string> args, unsigned short language = LANGUAGE_ENGLISH)
{
    args.insert(args.begin(), "pmx4.2.0_17-windows-x64.exe");
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);
    argv.push_back(nullptr);
    Translation t;
    InitOptions(&t.options, language);
    t.ok = TranslateOptions((int)args.size(), argv.data(), &t.options);
    return t;
}

struct PropertyCase {
    std::vector<std::string> args;
    const char *properties;
    int silent;
};

} // namespace

TEST(TranslateOptions, PropertyStringFollowsTheRules)
{
    const PropertyCase cases[] = {
        {{}, "", 0},
        {{"/s"}, " /qn", 1},
        {{"/s", "/qn"}, "/qn ", 1},
        {{"/qn", "/s"}, "/qn ", 1},
        {{"/s", "/qb"}, "/qb  /qn", 1},
        {{"/S"}, "/S ", 0},                 // options are case-sensitive
        {{"/s "}, "/s  ", 0},               // not exactly "/s"
        {{"/v/l*v log.txt"}, " /l*v log.txt ", 0}, // /v"/l*v log.txt" after splitting
        {{"/v\"/l*v log.txt\""}, " /l*v log.txt ", 0}, // quotes escaped by the caller
        {{"/v\""}, "  ", 0},               // too short: nothing between the spaces
        {{"/v\"x"}, "  ", 0},
        {{"/v\"ab"}, " a ", 0},
        {{"/v"}, "  ", 0},
        {{"/vREBOOT=ReallySuppress"}, " REBOOT=ReallySuppress ", 0},
        {{"ADDLOCAL=ALL", "INSTALLDIR=C:\\Program Files\\Orva"},
         "ADDLOCAL=ALL INSTALLDIR=C:\\Program Files\\Orva ", 0},
        {{"/lang=1041", "/INSTALLDIRPUBHUX=C:\\p", "/INSTALLDIRORVADB=C:\\d"}, "", 0},
        {{"x/lang=1041"}, "", 0},           // "/lang=" anywhere is a language option
        {{"/lang=1041/v"}, "", 0},
    };
    for (const PropertyCase &c : cases) {
        Translation t = Translate(c.args);
        std::string shown;
        for (const std::string &a : c.args)
            shown += "[" + a + "]";
        ASSERT_EQ(1, t.ok) << shown;
        EXPECT_STREQ(c.properties, t.options.properties) << shown;
        EXPECT_EQ(c.silent, t.options.silent) << shown;
    }
}

TEST(TranslateOptions, LanguageOption)
{
    struct {
        std::vector<std::string> args;
        unsigned short expected;
    } const cases[] = {
        {{"/lang=1041"}, 1041},
        {{"/lang=2052"}, 2052},
        {{"/lang=1033"}, 1033},
        {{"/lang=1031"}, 1028},   // unsupported: the chosen language stays
        {{"/lang=abc"}, 1028},    // atoi gives 0
        {{"/lang="}, 1028},
        {{"/lang=66577"}, 1041},  // low 16 bits of 0x10411
        {{"/lang=1041x"}, 1041},  // atoi stops at the first non-digit
        {{"/lang=1041", "/lang=2052"}, 2052}, // the later one wins
        {{"/lang=2052", "/lang=1031"}, 2052},
        {{"/LANG=1041"}, 1028},   // case-sensitive: passed through instead
    };
    for (const auto &c : cases) {
        // A start language no option can select shows which options took effect.
        Translation t = Translate(c.args, 1028);
        ASSERT_EQ(1, t.ok) << c.args[0];
        EXPECT_EQ(c.expected, t.options.language) << c.args[0];
    }
}

TEST(TranslateOptions, FolderValuesTakeEverythingAfterTheFirstEquals)
{
    Translation t = Translate({"/INSTALLDIRPUBHUX=C:\\a=b", "/INSTALLDIRORVADB=D:\\db",
                               "/INSTALLDIRPUBHUX=C:\\later", "x/INSTALLDIRORVADB=E:\\y"});
    ASSERT_EQ(1, t.ok);
    EXPECT_STREQ("C:\\later", t.options.runtimeFolder);
    EXPECT_STREQ("E:\\y", t.options.databaseFolder);
    EXPECT_STREQ("", t.options.properties);

    Translation first = Translate({"/INSTALLDIRPUBHUX=C:\\a=b"});
    EXPECT_STREQ("C:\\a=b", first.options.runtimeFolder);
}

TEST(TranslateOptions, PropertyStringOfExactly1023CharactersFits)
{
    std::string arg(1022, 'p'); // the argument and its trailing space
    Translation t = Translate({arg});
    ASSERT_EQ(1, t.ok);
    EXPECT_EQ(1023u, strlen(t.options.properties));

    Translation over = Translate({arg + "p"});
    EXPECT_EQ(0, over.ok);
}

TEST(TranslateOptions, SilentQnIsJudgedAgainstTheBuffer)
{
    std::string arg(1018, 'p'); // 1019 with its space; " /qn" makes 1023
    EXPECT_EQ(1, Translate({arg, "/s"}).ok);
    EXPECT_EQ(0, Translate({arg + "p", "/s"}).ok);
    EXPECT_EQ(1, Translate({arg + "p"}).ok); // not silent: nothing more to add
}

TEST(TranslateOptions, OverlongFolderValueIsRefused)
{
    std::string fits(1023, 'f');
    EXPECT_EQ(1, Translate({"/INSTALLDIRPUBHUX=" + fits}).ok);
    EXPECT_EQ(0, Translate({"/INSTALLDIRPUBHUX=" + fits + "f"}).ok);
    EXPECT_EQ(0, Translate({"/INSTALLDIRORVADB=" + fits + "f"}).ok);
}

TEST(TranslateOptions, ManyShortArgumentsCannotOverflow)
{
    std::vector<std::string> args(600, "/v");   // two spaces each
    EXPECT_EQ(0, Translate(args).ok);
    std::vector<std::string> quoted(600, "/v\""); // the too-short quoted form
    EXPECT_EQ(0, Translate(quoted).ok);
}

TEST(InstallLanguage, ChosenFromTheUserLanguage)
{
    struct {
        unsigned short user;
        unsigned short expected;
    } const cases[] = {
        {0x0409, 1033}, {0x0411, 1041}, {0x0804, 2052}, {0x0404, 1033}, {0x1004, 1033},
        {0x0C04, 1033}, {0x0407, 1033}, {0x0011, 1041}, {0x0811, 1041}, {0xFC11, 1041},
        {0x0412, 1033}, {0x0000, 1033},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.expected, ChooseLanguageFor(c.user)) << std::hex << c.user;
}

TEST(InstallLanguage, OnlyThePackagesLanguagesAreSupported)
{
    for (unsigned v = 0; v <= 0xFFFF; v++) {
        int expected = v == 1033 || v == 1041 || v == 2052;
        ASSERT_EQ(expected, IsSupportedLanguage((unsigned short)v)) << v;
    }
}
