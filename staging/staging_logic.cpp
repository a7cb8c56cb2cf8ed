#include "staging/staging_logic.h"

#include <string.h>

#include "support/profile.h"
#include "support/text.h"

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
    static const char *const kFolderNames[STAGING_FOLDER_COUNT] = {"Qel", "Orva", PROFILE_KIT_FOLDER};
    CopyText(staged->base, STAGING_PATH_SIZE, base); // "" when it does not fit
    const char *parent = staged->base;
    for (int i = 0; i < STAGING_FOLDER_COUNT; i++) {
        JoinStagingPart(staged->folders[i], parent, kFolderNames[i]);
        parent = staged->folders[i]; // "" once one did not fit: so are all below it
    }
    return JoinStagingPart(staged->path, parent, fileName);
}
