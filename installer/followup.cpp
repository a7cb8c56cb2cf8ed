#include "installer/followup.h"

#include <string.h>

#include "support/language.h"
#include "support/text.h"

int IsReinstallRequest(const char *status, size_t cap)
{
    static const char kRequest[] = "reinstall";
    const size_t length = sizeof(kRequest) - 1;
    // BoundedLength stops at the buffer's end: a length of 9 means the tenth
    // byte, inside the buffer, is the terminator.
    return BoundedLength(status, cap) == length && length < cap && memcmp(status, kRequest, length) == 0;
}

// Leaves "" behind when `ok` is 0, so that no cut text is ever used.
static int Finish(char *out, size_t cap, int ok)
{
    if (!ok && cap > 0)
        out[0] = '\0';
    return ok;
}

int MakeKitFilePath(char *out, size_t cap, const char *kitHome, const char *fileName)
{
    int ok = CopyText(out, cap, kitHome) && AppendText(out, cap, "\\") && AppendText(out, cap, fileName);
    return Finish(out, cap, ok);
}

// `"<msiexec>" /i "<package>"`
static int AppendInstallHead(char *out, size_t cap, const char *msiexecPath, const char *packagePath)
{
    return CopyText(out, cap, "\"") && AppendText(out, cap, msiexecPath) && AppendText(out, cap, "\" /i \"") &&
           AppendText(out, cap, packagePath) && AppendText(out, cap, "\"");
}

// " INSTALLDIR=<folder>", unquoted as the user typed it; nothing for "".
static int AppendInstallDir(char *out, size_t cap, const char *installDir)
{
    if (installDir[0] == '\0')
        return 1;
    return AppendText(out, cap, " INSTALLDIR=") && AppendText(out, cap, installDir);
}

int ComposeRuntimeCommand(char *out, size_t cap, const char *msiexecPath, const char *packagePath,
                          const char *kitHome, unsigned short language, const char *installDir)
{
    int ok = AppendInstallHead(out, cap, msiexecPath, packagePath);
    if (ok && language != LANGUAGE_ENGLISH) {
        // The external transform "<kit home>\hux<language>.MST", in its own buffer.
        char transformName[32] = "hux";
        char transformPath[FOLLOWUP_BUFFER_SIZE];
        ok = AppendDecimal(transformName, sizeof(transformName), language) &&
             AppendText(transformName, sizeof(transformName), ".MST") &&
             MakeKitFilePath(transformPath, sizeof(transformPath), kitHome, transformName) &&
             AppendText(out, cap, " TRANSFORMS=\"") && AppendText(out, cap, transformPath) &&
             AppendText(out, cap, "\"");
    }
    ok = ok && AppendText(out, cap, " /qn ADDLOCAL=ALL SDKSILENT=1") && AppendInstallDir(out, cap, installDir);
    return Finish(out, cap, ok);
}

int ComposeDatabaseCommand(char *out, size_t cap, const char *msiexecPath, const char *packagePath,
                           const char *installDir)
{
    int ok = AppendInstallHead(out, cap, msiexecPath, packagePath) && AppendText(out, cap, " /qn") &&
             AppendInstallDir(out, cap, installDir);
    return Finish(out, cap, ok);
}
