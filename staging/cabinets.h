// The cabinets beside the package: which resources they come from, what
// their files are called, and the event that tells the package they are all
// there. No Win32 calls here.
#ifndef STAGING_CABINETS_H
#define STAGING_CABINETS_H

#include <stddef.h>

// The package opens this manual-reset event by name and waits on it before it
// reads the first cabinet; it is set once, after the last cabinet is closed.
#define CABINET_EVENT_NAME "QelPmxCabExtractWaitEvent"

enum { CABINET_COUNT = 8 };

struct CabinetEntry {
    const char *resourceType;
    int resourceId;
    const char *nameFormat; // "sd%s%s%s%s0": one %s per version component
};

// In the order the cabinets are written.
extern const CabinetEntry kCabinetTable[CABINET_COUNT];

// The file name of `entry` without ".cab" (its format with the profile's
// version components in place of the %s) into `out`. Returns 1, or 0 with ""
// in `out` when it would not fit.
int FormatCabinetName(char *out, size_t cap, const CabinetEntry *entry);

#endif
