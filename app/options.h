// Translation of the program's own command line into Windows Installer
// arguments, and the choice of the install language. No Win32 calls here:
// this is the part of the program that decides, and it is tested natively.
#ifndef APP_OPTIONS_H
#define APP_OPTIONS_H

#include <stddef.h>

#include "support/language.h"

enum { OPTION_BUFFER_SIZE = 1024 };

struct Options {
    unsigned short language;             // install language (a LANGID)
    int silent;                          // "/s" was given
    char properties[OPTION_BUFFER_SIZE]; // passed to the engine verbatim
    char runtimeFolder[OPTION_BUFFER_SIZE];  // public runtime folder: "/INSTALLDIRPUBHUX=" value
    char databaseFolder[OPTION_BUFFER_SIZE]; // database folder: "/INSTALLDIRORVADB=" value
};

// The install language for a user whose default LANGID is `userLangId`.
unsigned short ChooseLanguageFor(unsigned short userLangId);

// Whether `langid` is one of the languages the package carries.
int IsSupportedLanguage(unsigned short langid);

// Empties the option buffers and sets the install language to `language`.
void InitOptions(Options *opts, unsigned short language);

// Translates argv[1..argc-1] into `opts`, then adds " /qn" for a silent run
// that does not ask for a UI level of its own. Returns 1, or 0 when the
// property string or a folder value would not fit its buffer; the options
// are then unusable and the run must stop.
int TranslateOptions(int argc, char **argv, Options *opts);

#endif
