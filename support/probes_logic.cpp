#include "support/probes_logic.h"

#include <stddef.h>

// How many NUL bytes must end the data of a string type; 0 for other types.
static unsigned long TerminatorBytes(unsigned long type)
{
    switch (type) {
    case REGISTRY_TYPE_SZ:
    case REGISTRY_TYPE_EXPAND_SZ:
        return 1;
    case REGISTRY_TYPE_MULTI_SZ:
        return 2; // the last string's NUL and the empty string that ends the list
    default:
        return 0; // REG_NONE, no type reported (a missing value), REG_DWORD, ...
    }
}

long CheckRegistryString(long status, unsigned long type, unsigned long count, const char *buffer,
                         unsigned long bufferSize)
{
    unsigned long terminators = TerminatorBytes(type);
    if (terminators == 0)
        return REGISTRY_STATUS_INVALID_DATA;
    if (buffer == NULL) { // a size query: nothing to look at but the count
        if (type == REGISTRY_TYPE_MULTI_SZ && count < 2)
            return REGISTRY_STATUS_INVALID_DATA;
        return status;
    }
    if (count > bufferSize) { // the data did not fit (ERROR_MORE_DATA): its end is not ours to read
        if (status == REGISTRY_STATUS_SUCCESS)
            return REGISTRY_STATUS_INVALID_DATA;
        return status;
    }
    if (count < terminators)
        return REGISTRY_STATUS_INVALID_DATA;
    for (unsigned long i = count - terminators; i < count; i++) {
        if (buffer[i] != '\0')
            return REGISTRY_STATUS_INVALID_DATA;
    }
    return status;
}
