#include "app/options.h"

#include <stdlib.h>
#include <string.h>

#include "support/text.h"

unsigned short ChooseLanguageFor(unsigned short userLangId)
{
    if (userLangId == LANGUAGE_CHINESE_SIMPLIFIED)
        return LANGUAGE_CHINESE_SIMPLIFIED;
    if ((userLangId & 0xFF) == 0x11) // primary language Japanese, any sublanguage
        return LANGUAGE_JAPANESE;
    return LANGUAGE_ENGLISH;
}

int IsSupportedLanguage(unsigned short langid)
{
    return langid == LANGUAGE_ENGLISH || langid == LANGUAGE_JAPANESE ||
           langid == LANGUAGE_CHINESE_SIMPLIFIED;
}

void InitOptions(Options *opts, unsigned short language)
{
    opts->language = language;
    opts->silent = 0;
    opts->properties[0] = '\0';
    opts->runtimeFolder[0] = '\0';
    opts->databaseFolder[0] = '\0';
}

// Everything after the first '=' of an argument known to contain one.
static const char *ValueAfterEquals(const char *arg)
{
    return strchr(arg, '=') + 1;
}

// Appends " ", the first `count` characters of `text`, and " ".
static int AppendSpaced(char *props, const char *text, size_t count)
{
    return AppendText(props, OPTION_BUFFER_SIZE, " ") &&
           AppendTextN(props, OPTION_BUFFER_SIZE, text, count) &&
           AppendText(props, OPTION_BUFFER_SIZE, " ");
}

// One argument; the first matching rule decides. All tests are case-sensitive.
static int TranslateOne(const char *arg, Options *opts)
{
    if (strstr(arg, "/lang=") != NULL) {
        unsigned short langid = (unsigned short)atoi(ValueAfterEquals(arg));
        if (IsSupportedLanguage(langid))
            opts->language = langid;
        return 1;
    }
    if (StartsWith(arg, "/v\"")) {
        // /v"..." with its closing quote still attached: drop "/v\"" and the
        // last character. Shorter than four characters leaves nothing between.
        size_t length = strlen(arg);
        return AppendSpaced(opts->properties, arg + 3, length >= 4 ? length - 4 : 0);
    }
    if (StartsWith(arg, "/v"))
        return AppendSpaced(opts->properties, arg + 2, (size_t)-1);
    if (strcmp(arg, "/s") == 0) {
        opts->silent = 1;
        return 1;
    }
    if (strstr(arg, "/INSTALLDIRPUBHUX=") != NULL)
        return CopyText(opts->runtimeFolder, OPTION_BUFFER_SIZE, ValueAfterEquals(arg));
    if (strstr(arg, "/INSTALLDIRORVADB=") != NULL)
        return CopyText(opts->databaseFolder, OPTION_BUFFER_SIZE, ValueAfterEquals(arg));
    return AppendText(opts->properties, OPTION_BUFFER_SIZE, arg) &&
           AppendText(opts->properties, OPTION_BUFFER_SIZE, " ");
}

int TranslateOptions(int argc, char **argv, Options *opts)
{
    for (int i = 1; i < argc; i++) {
        if (!TranslateOne(argv[i], opts))
            return 0;
    }
    // A silent run gets no UI unless the caller chose a /qn level of their own.
    if (opts->silent && strstr(opts->properties, "/qn") == NULL)
        return AppendText(opts->properties, OPTION_BUFFER_SIZE, " /qn");
    return 1;
}
