// The type and termination test of a registry string read. No Win32 calls
// here: the registry query itself is in its Win32 twin, support/probes.cpp,
// which hands over what the query reported.
#ifndef SUPPORT_PROBES_LOGIC_H
#define SUPPORT_PROBES_LOGIC_H

// Registry value types and statuses, with the registry's own numbers.
enum {
    REGISTRY_TYPE_NONE = 0,
    REGISTRY_TYPE_SZ = 1,
    REGISTRY_TYPE_EXPAND_SZ = 2,
    REGISTRY_TYPE_MULTI_SZ = 7,
    REGISTRY_STATUS_SUCCESS = 0,
    REGISTRY_STATUS_INVALID_DATA = 13, // ERROR_INVALID_DATA
};

// Judges one query: `status` is what the query returned, `type` the type it
// reported (0 when none), `count` the byte count it reported, `buffer` the
// destination (NULL for a size query) and `bufferSize` its capacity.
// Returns the query's status for a terminated string (REG_SZ, REG_EXPAND_SZ:
// the last byte of the data is NUL; REG_MULTI_SZ: the last two are) or for a
// size query of one, else 13. Only the bytes within `bufferSize` are looked
// at: data the buffer could not hold gives the query's status (nonzero) or 13,
// and a zero-byte string read into a buffer gives 13.
long CheckRegistryString(long status, unsigned long type, unsigned long count, const char *buffer,
                         unsigned long bufferSize);

#endif
