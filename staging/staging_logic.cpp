#include "staging/staging_logic.h"

#include <string.h>

#include "support/profile.h"
#include "support/text.h"

const char *const kStagingFolderNames[STAGING_FOLDER_COUNT] = {"Qel", "Orva", PROFILE_KIT_FOLDER};

static int IsDriveLetter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The part after "\\server\share\", or NULL when the path stops before it.
static const char *AfterShareRoot(const char *path)
{
    const char *server = path + 2;
    const char *share = strchr(server, '\\');
    if (share == NULL || share == server)
        return NULL;
    const char *rest = strchr(share + 1, '\\');
    if (rest == NULL || rest == share + 1)
        return NULL;
    return rest + 1;
}

int IsUsableDataFolder(const char *folder)
{
    const char *rest = NULL;
    if (IsDriveLetter(folder[0]) && folder[1] == ':' && folder[2] == '\\')
        rest = folder + 3;
    else if (folder[0] == '\\' && folder[1] == '\\')
        rest = AfterShareRoot(folder);
    if (rest == NULL)
        return 0;
    return rest[strspn(rest, "\\")] != '\0';
}

// "<parent>\<name>" into `out`; 0 with "" in `out` when it does not fit.
static int JoinStagingPart(char *out, const char *parent, const char *name)
{
    if (parent[0] == '\0') {
        out[0] = '\0'; // nothing to form it under
        return 0;
    }
    const char *const parts[] = {parent, "\\", name};
    return JoinText(out, STAGING_PATH_SIZE, parts);
}

int FormStagedFile(StagedFile *staged, const char *base, const char *fileName)
{
    CopyText(staged->base, STAGING_PATH_SIZE, base); // "" when it does not fit
    CopyText(staged->name, STAGING_PATH_SIZE, fileName);
    staged->makesBase = 0;
    staged->unformedCode = STAGING_UNFORMED_PATH_CODE;
    const char *parent = staged->base;
    for (int i = 0; i < STAGING_FOLDER_COUNT; i++) {
        JoinStagingPart(staged->folders[i], parent, kStagingFolderNames[i]);
        parent = staged->folders[i]; // "" once one did not fit: so are all below it
    }
    return JoinStagingPart(staged->path, parent, fileName);
}

int FormAsideName(char *out, size_t cap, const char *fileName, unsigned n)
{
    const char *const parts[] = {fileName, "."};
    if (JoinText(out, cap, parts) && AppendDecimal(out, cap, (long)n) && AppendText(out, cap, ".old"))
        return 1;
    CopyText(out, cap, ""); // a cut name could be another file's
    return 0;
}

void FormMediumLabelAcl(unsigned char out[STAGING_LABEL_ACL_SIZE])
{
    static const unsigned char kAcl[STAGING_LABEL_ACL_SIZE] = {
        2, 0, STAGING_LABEL_ACL_SIZE, 0, // ACL revision 2, its size
        1, 0, 0, 0,                      // one entry
        0x11,                            // a mandatory label
        0x03,                            // inherited by files (OI) and folders (CI) made inside
        20, 0,                           // the entry's size
        0x01, 0, 0, 0,                   // no write up
        1, 1, 0, 0, 0, 0, 0, 16,         // SID S-1-16-...: the mandatory label authority
        0x00, 0x20, 0, 0,                // ... 8192, medium integrity
    };
    memcpy(out, kAcl, sizeof(kAcl));
}

unsigned long StagingCodeOfStatus(unsigned long status, unsigned long systemCode)
{
    switch (status) {
    case 0xC0000035: // STATUS_OBJECT_NAME_COLLISION
        return 80;   // ERROR_FILE_EXISTS
    case 0xC0000103: // STATUS_NOT_A_DIRECTORY
        return 3;    // ERROR_PATH_NOT_FOUND
    case 0xC00000BA: // STATUS_FILE_IS_A_DIRECTORY
        return 5;    // ERROR_ACCESS_DENIED
    default:
        return systemCode;
    }
}
