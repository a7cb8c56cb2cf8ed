// libFuzzer target over the deciding logic: arbitrary command lines through
// option translation and command composition, arbitrary folders through the
// staging-base check, and the follow-up commands, the reinstall test and the
// registry string test over the same input. Built with AddressSanitizer, so any write or read past
// a fixed buffer ends the run; the checks below catch cut or unterminated
// results that stay inside the buffers.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "app/options.h"
#include "installer/command.h"
#include "installer/followup.h"
#include "staging/layout.h"
#include "support/logtext.h"
#include "support/regstring.h"
#include "support/text.h"

static void Check(bool condition)
{
    if (!condition)
        abort();
}

// The log's formatting over the same input: the message formatter with the
// input as its text, the log path with it as the folder, and the time text
// with broken-down fields taken from the first bytes.
static void CheckLogText(const std::string &input, const uint8_t *data, size_t size)
{
    char message[LOG_MESSAGE_SIZE];
    int length = FormatLogText(message, sizeof(message), "LoadLibrary(%s) failed.  ErrorCode: %d",
                               input.c_str(), (int)size);
    Check(length == -1 ? strlen(message) == sizeof(message) - 1 : (size_t)length == strlen(message));

    char path[LOG_PATH_SIZE];
    if (JoinLogPath(path, sizeof(path), input.c_str(), "\\"))
        Check(strlen(path) == strlen(input.c_str()) + 12);
    else
        Check(path[0] == '\0');

    struct tm when = {};
    int *fields[] = {&when.tm_sec, &when.tm_min,  &when.tm_hour, &when.tm_mday,
                     &when.tm_mon, &when.tm_year, &when.tm_wday};
    for (size_t i = 0; i < 7 && i < size; i++)
        *fields[i] = (int)(signed char)data[i] * (i == 5 ? 64 : 1);
    char prefix[LOG_PREFIX_SIZE];
    size_t prefixLength = FormatRecordPrefix(prefix, sizeof(prefix), &when);
    Check(prefixLength == strlen(prefix) && (prefixLength == 0 || prefixLength == LOG_PREFIX_LENGTH));
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // Arguments are the input's lines; the first byte picks the user language.
    std::string input(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> args{"pmx4.2.0_17-windows-x64.exe"};
    size_t start = 1;
    while (start <= input.size() && args.size() < 64) {
        size_t end = input.find('\n', start);
        if (end == std::string::npos)
            end = input.size();
        args.push_back(input.substr(start, end - start).c_str()); // stops at a NUL, as argv does
        start = end + 1;
    }
    std::vector<char *> argv;
    for (std::string &arg : args)
        argv.push_back(&arg[0]);

    static Options options;
    unsigned short userLanguage = size > 0 ? (unsigned short)(data[0] * 0x101) : 0;
    InitOptions(&options, ChooseLanguageFor(userLanguage));
    if (!TranslateOptions((int)argv.size(), argv.data(), &options))
        return 0;
    Check(BoundedLength(options.properties, OPTION_BUFFER_SIZE) < OPTION_BUFFER_SIZE);
    Check(BoundedLength(options.pubhuxFolder, OPTION_BUFFER_SIZE) < OPTION_BUFFER_SIZE);
    Check(BoundedLength(options.orvadbFolder, OPTION_BUFFER_SIZE) < OPTION_BUFFER_SIZE);
    Check(IsSupportedLanguage(options.language));

    char command[COMMAND_BUFFER_SIZE];
    const char msiexec[] = "C:\\windows\\system32\\msiexec.exe";
    if (ComposeMainCommand(command, sizeof(command), msiexec, options.pubhuxFolder, options.language,
                           options.properties)) {
        size_t length = strlen(command);
        Check(length < sizeof(command));
        Check(length >= 10 && strcmp(command + length - 10, " WRAPPER=1") == 0);
        Check(strstr(command, options.properties) != NULL);
    } else {
        Check(command[0] == '\0');
    }

    IsUsableDataFolder(options.orvadbFolder);

    // The follow-ups, with the property string standing in for a kit home.
    char runtime[FOLLOWUP_BUFFER_SIZE];
    char database[FOLLOWUP_BUFFER_SIZE];
    if (ComposeRuntimeCommand(runtime, sizeof(runtime), msiexec, options.orvadbFolder, options.properties,
                              options.language, options.pubhuxFolder))
        Check(strlen(runtime) < sizeof(runtime) && strstr(runtime, options.pubhuxFolder) != NULL);
    else
        Check(runtime[0] == '\0');
    if (ComposeDatabaseCommand(database, sizeof(database), msiexec, options.properties, options.orvadbFolder))
        Check(strlen(database) < sizeof(database));
    else
        Check(database[0] == '\0');

    // The raw input as a status buffer and as registry data of every type.
    const std::string request("reinstall\0", 10);
    Check(IsReinstallRequest(input.data(), input.size()) == (input.compare(0, 10, request) == 0));
    // Reported counts within the data, at its end, and beyond it (ERROR_MORE_DATA).
    for (unsigned long type : {0UL, 1UL, 2UL, 4UL, 7UL}) {
        for (unsigned long count : {size / 2, size, size + 7}) {
            long status = count > size ? 234 : 0;
            long result = CheckRegistryString(status, type, count, input.data(), (unsigned long)size);
            Check(result == 0 || result == 13 || result == 234);
        }
    }
    CheckLogText(input, data, size);
    return 0;
}
