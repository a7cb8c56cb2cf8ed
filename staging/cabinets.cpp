#include "staging/cabinets.h"

#include "support/profile.h"
#include "support/text.h"

const CabinetEntry kCabinetTable[CABINET_COUNT] = {
#define CABINET_ROW(type, id, format) {type, id, format},
#include "staging/cabinet_table.h"
#undef CABINET_ROW
};

// A row added to or dropped from the table must change CABINET_COUNT too.
static constexpr int kRowsInTable = 0
#define CABINET_ROW(type, id, format) +1
#include "staging/cabinet_table.h"
#undef CABINET_ROW
    ;
static_assert(kRowsInTable == (int)CABINET_COUNT, "staging/cabinet_table.h and CABINET_COUNT disagree");

int FormatCabinetName(char *out, size_t cap, const CabinetEntry *entry)
{
    static const char *const kVersionParts[] = {PROFILE_VERSION_MAJOR, PROFILE_VERSION_MINOR,
                                                PROFILE_VERSION_MICRO, PROFILE_VERSION_UPDATE};
    const size_t partCount = sizeof(kVersionParts) / sizeof(kVersionParts[0]);
    if (!CopyText(out, cap, ""))
        return 0;
    size_t nextPart = 0;
    for (const char *p = entry->nameFormat; *p != '\0'; p++) {
        char single[2] = {*p, '\0'};
        const char *piece = single;
        if (p[0] == '%' && p[1] == 's' && nextPart < partCount) {
            piece = kVersionParts[nextPart++];
            p++;
        }
        const char *const parts[] = {piece};
        if (!AppendAllOrEmpty(out, cap, parts))
            return 0;
    }
    return 1;
}
