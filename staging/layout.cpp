#include "staging/layout.h"

#include <string.h>

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

int StagingFolderOf(const char *path, int level, char *out, size_t cap)
{
    if (cap == 0)
        return 0;
    out[0] = '\0';
    size_t end = strlen(path);
    for (int i = 0; i < level; i++) {
        while (end > 0 && path[end - 1] != '\\')
            end--;
        if (end == 0)
            return 0; // fewer folders than asked for
        end--;        // before the separator
    }
    int onlyDrive = end == 2 && path[1] == ':';
    if (end == 0 || onlyDrive)
        return 0;
    return AppendTextN(out, cap, path, end);
}
