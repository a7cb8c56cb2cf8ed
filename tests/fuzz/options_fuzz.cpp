// Option translation and the main engine command. The input's first byte
// picks the user language; its lines are the arguments. A translation that
// succeeds must leave terminated buffers, a carried language and, for a
// silent run, a UI level; the command is then either exactly its template
// filled in, when that fits, or "".
#include "tests/fuzz/fuzz_support.h"

#include "app/options.h"
#include "installer/engine_logic.h"
#include "support/language.h"
#include "support/text.h"

static std::string ExpectedMainCommand(const char *msiexec, const char *package, unsigned short language,
                                       const char *properties)
{
    std::string command = std::string("\"") + msiexec + "\" /i \"" + package + "\" ";
    if (language != LANGUAGE_ENGLISH)
        command += "TRANSFORMS=:" + std::to_string(language) + " ";
    return command + properties + " WRAPPER=1";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzReader reader{data, size};
    unsigned short userLanguage = (unsigned short)(reader.Byte() * 0x101);
    std::vector<std::string> args{"pmx4.2.0_17-windows-x64.exe"};
    while (reader.size > 0 && args.size() < 64)
        args.push_back(reader.Line());
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);

    static Options options;
    unsigned short chosen = ChooseLanguageFor(userLanguage);
    Check(IsSupportedLanguage(chosen));
    InitOptions(&options, chosen);
    if (!TranslateOptions((int)argv.size(), argv.data(), &options))
        return 0;
    Check(BoundedLength(options.properties, OPTION_BUFFER_SIZE) < OPTION_BUFFER_SIZE);
    Check(BoundedLength(options.runtimeFolder, OPTION_BUFFER_SIZE) < OPTION_BUFFER_SIZE);
    Check(BoundedLength(options.databaseFolder, OPTION_BUFFER_SIZE) < OPTION_BUFFER_SIZE);
    Check(IsSupportedLanguage(options.language));
    Check(!options.silent || strstr(options.properties, "/qn") != NULL);

    const char msiexec[] = "C:\\windows\\system32\\msiexec.exe";
    HeapBuffer command(COMMAND_BUFFER_SIZE);
    std::string expected = ExpectedMainCommand(msiexec, options.runtimeFolder, options.language,
                                               options.properties);
    int composed = ComposeMainCommand(command.bytes, command.cap, msiexec, options.runtimeFolder,
                                      options.language, options.properties);
    Check(composed == (expected.size() < COMMAND_BUFFER_SIZE));
    Check(command.Terminated());
    Check(composed ? expected == command.bytes : command.bytes[0] == '\0');
    return 0;
}
