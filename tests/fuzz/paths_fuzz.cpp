// The path joins and the usable-folder check: the staging base test, a
// staged file's chain, the log path, a kit file's path and a cabinet's name.
// The input gives a capacity pick, then the folder, the separator and the
// file name as lines. Each join
// is exactly its parts put together when that fits the capacity, else "",
// and a folder passes only when it is absolute and below its root.
#include "tests/fuzz/fuzz_support.h"

#include <ctype.h>

#include "installer/afterinstall_logic.h"
#include "staging/cabinets.h"
#include "staging/staging_logic.h"
#include "support/log_logic.h"
#include "support/profile.h"

// The rule, written out on its own: "X:\" or "\\server\share\" (both names
// not empty), then something other than backslashes.
static bool ExpectedUsable(const std::string &folder)
{
    size_t restAt;
    bool drive = folder.size() >= 3 && isalpha((unsigned char)folder[0]) && folder[1] == ':' && folder[2] == '\\';
    if (drive) {
        restAt = 3;
    } else if (folder.compare(0, 2, "\\\\") == 0) {
        size_t shareAt = folder.find('\\', 2);
        if (shareAt == std::string::npos || shareAt == 2)
            return false;
        size_t restSlash = folder.find('\\', shareAt + 1);
        if (restSlash == std::string::npos || restSlash == shareAt + 1)
            return false;
        restAt = restSlash + 1;
    } else {
        return false;
    }
    return folder.find_first_not_of('\\', restAt) != std::string::npos;
}

// Mostly right around the joined length, where cutting decides; sometimes
// the program's own buffer size.
static size_t PickCapacity(uint8_t pick, size_t needed, size_t programSize)
{
    if (pick >= 0xC0)
        return programSize;
    size_t delta = pick % 8;
    return pick & 8 ? needed + delta : (delta <= needed ? needed - delta : 0);
}

static void CheckJoin(int joined, const HeapBuffer &out, const std::string &expected)
{
    Check(joined == (expected.size() < out.cap));
    if (out.cap == 0)
        return;
    Check(out.Terminated());
    Check(joined ? expected == out.bytes : out.bytes[0] == '\0');
}

static std::string ExpectedCabinetName(const std::string &format)
{
    static const char *const kParts[] = {PROFILE_VERSION_MAJOR, PROFILE_VERSION_MINOR, PROFILE_VERSION_MICRO,
                                         PROFILE_VERSION_UPDATE};
    std::string name;
    size_t used = 0;
    for (size_t i = 0; i < format.size(); i++) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's' && used < 4) {
            name += kParts[used++];
            i++;
        } else {
            name += format[i];
        }
    }
    return name;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzReader reader{data, size};
    uint8_t capPick = reader.Byte();
    std::string folder = reader.Line();
    std::string separator = reader.Line().substr(0, 2);
    std::string fileName = reader.Line();
    HeapText folderText(folder), separatorText(separator), fileText(fileName);

    Check(IsUsableDataFolder(folderText.text) == (int)ExpectedUsable(folder));

    std::string logPath = folder + separator + LOG_FILE_NAME;
    HeapBuffer log(PickCapacity(capPick, logPath.size() + 1, LOG_PATH_SIZE));
    CheckJoin(JoinLogPath(log.bytes, log.cap, folderText.text, separatorText.text), log, logPath);

    std::string kitPath = folder + "\\" + fileName;
    HeapBuffer kit(PickCapacity(capPick, kitPath.size() + 1, FOLLOWUP_BUFFER_SIZE));
    CheckJoin(MakeKitFilePath(kit.bytes, kit.cap, folderText.text, fileText.text), kit, kitPath);

    // The staged file's chain: each part is the one before it, "\" and its
    // name while that fits 259 characters, else "" and so are all after it.
    StagedFile staged;
    int formed = FormStagedFile(&staged, folderText.text, fileText.text);
    std::string chain = strlen(folderText.text) < STAGING_PATH_SIZE ? folderText.text : "";
    Check(chain == staged.base);
    const char *const names[] = {"Qel", "Orva", PROFILE_KIT_FOLDER, fileText.text};
    for (int i = 0; i < 4; i++) {
        chain = chain.empty() ? "" : chain + "\\" + names[i];
        if (chain.size() >= STAGING_PATH_SIZE)
            chain = "";
        Check(chain == (i < STAGING_FOLDER_COUNT ? staged.folders[i] : staged.path));
    }
    Check(formed == (int)!chain.empty());

    // The file name line as a cabinet name format, and the table's own formats.
    CabinetEntry entry = {"CABINET", 1, fileText.text};
    std::string cabinet = ExpectedCabinetName(fileName);
    HeapBuffer name(PickCapacity(capPick, cabinet.size() + 1, 64));
    CheckJoin(FormatCabinetName(name.bytes, name.cap, &entry), name, cabinet);
    const CabinetEntry &row = kCabinetTable[capPick % CABINET_COUNT];
    cabinet = ExpectedCabinetName(row.nameFormat);
    HeapBuffer rowName(PickCapacity(capPick, cabinet.size() + 1, 32));
    CheckJoin(FormatCabinetName(rowName.bytes, rowName.cap, &row), rowName, cabinet);
    return 0;
}
