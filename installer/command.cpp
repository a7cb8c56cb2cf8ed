#include "installer/command.h"

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
    int ok = CopyText(out, cap, "\"") && AppendText(out, cap, msiexecPath) &&
             AppendText(out, cap, "\" /i \"") && AppendText(out, cap, packagePath) &&
             AppendText(out, cap, "\" ");
    if (ok && language != LANGUAGE_ENGLISH) {
        ok = AppendText(out, cap, "TRANSFORMS=:") && AppendDecimal(out, cap, language) &&
             AppendText(out, cap, " ");
    }
    ok = ok && AppendText(out, cap, properties) && AppendText(out, cap, " WRAPPER=1");
    if (!ok && cap > 0)
        out[0] = '\0';
    return ok;
}
