#include "installer/engine_logic.h"

#include <string.h>

#include "support/language.h"
#include "support/text.h"

int IsEngineVersionAccepted(unsigned long versionMS, unsigned long versionLS)
{
    const unsigned long minimumMS = 0x00020000; // 2.0
    const unsigned long minimumLS = 0x0A280000; // 2600.0
    versionMS &= 0xFFFFFFFFUL;
    versionLS &= 0xFFFFFFFFUL;
    return versionMS > minimumMS || (versionMS == minimumMS && versionLS >= minimumLS);
}

int ComposeMainCommand(char *out, size_t cap, const char *msiexecPath,
                       const char *packagePath, unsigned short language,
                       const char *properties)
{
    // The embedded transform's name is the language's decimal LANGID.
    int withTransform = language != LANGUAGE_ENGLISH;
    char languageDigits[8] = "";
    if (withTransform)
        AppendDecimal(languageDigits, sizeof(languageDigits), language); // at most 5 digits
    const char *const parts[] = {"\"", msiexecPath, "\" /i \"", packagePath, "\" ",
                                 withTransform ? "TRANSFORMS=:" : "", languageDigits, withTransform ? " " : "",
                                 properties, " WRAPPER=1"};
    return JoinText(out, cap, parts);
}

int CommandProgram(char *out, size_t cap, const char *commandLine)
{
    const char *start = commandLine[0] == '"' ? commandLine + 1 : commandLine;
    const char *end = strchr(start, commandLine[0] == '"' ? '"' : ' ');
    size_t length = end != NULL ? (size_t)(end - start) : strlen(start);
    if (!CopyText(out, cap, "") || !AppendTextN(out, cap, start, length)) {
        CopyText(out, cap, "");
        return 0;
    }
    return 1;
}
