#include "installer/afterinstall_logic.h"

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

// "\\server\share": a server name, a backslash and a share name, each not empty.
static int IsUncRoot(const char *path)
{
    if (path[0] != '\\' || path[1] != '\\')
        return 0;
    const char *server = path + 2;
    const char *slash = strchr(server, '\\');
    return slash != NULL && slash != server && slash[1] != '\0' && slash[1] != '\\';
}

int IsUsableKitHome(const char *kitHome)
{
    if (strchr(kitHome, '"') != NULL)
        return 0;
    int drive = ((kitHome[0] >= 'A' && kitHome[0] <= 'Z') || (kitHome[0] >= 'a' && kitHome[0] <= 'z')) &&
                kitHome[1] == ':' && kitHome[2] == '\\';
    return drive || IsUncRoot(kitHome);
}

int MakeKitFilePath(char *out, size_t cap, const char *kitHome, const char *fileName)
{
    const char *const parts[] = {kitHome, "\\", fileName};
    return JoinText(out, cap, parts);
}

// " INSTALLDIR=", unquoted as the user typed the folder; nothing for "".
static const char *InstallDirKey(const char *installDir)
{
    return installDir[0] != '\0' ? " INSTALLDIR=" : "";
}

int ComposeRuntimeCommand(char *out, size_t cap, const char *msiexecPath, const char *packagePath,
                          const char *kitHome, unsigned short language, const char *installDir)
{
    // The external transform "<kit home>\hux<language>.MST", in its own buffer.
    char transformPath[FOLLOWUP_BUFFER_SIZE] = "";
    if (language != LANGUAGE_ENGLISH) {
        char transformName[32] = "hux";
        if (!AppendDecimal(transformName, sizeof(transformName), language) ||
            !AppendText(transformName, sizeof(transformName), ".MST") ||
            !MakeKitFilePath(transformPath, sizeof(transformPath), kitHome, transformName)) {
            CopyText(out, cap, ""); // a command without its transform is never run
            return 0;
        }
    }
    int withTransform = transformPath[0] != '\0';
    const char *const parts[] = {"\"", msiexecPath, "\" /i \"", packagePath, "\"",
                                 withTransform ? " TRANSFORMS=\"" : "", transformPath, withTransform ? "\"" : "",
                                 " /qn ADDLOCAL=ALL SDKSILENT=1", InstallDirKey(installDir), installDir};
    return JoinText(out, cap, parts);
}

int ComposeDatabaseCommand(char *out, size_t cap, const char *msiexecPath, const char *packagePath,
                           const char *installDir)
{
    const char *const parts[] = {"\"",        msiexecPath, "\" /i \"", packagePath, "\"",
                                 " /qn", InstallDirKey(installDir), installDir};
    return JoinText(out, cap, parts);
}
