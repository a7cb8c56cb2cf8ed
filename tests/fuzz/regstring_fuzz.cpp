// The registry-string check with what a query could report: status, type
// and count from the input's first bytes, the data its remaining bytes, held
// in a heap block of exactly their size (or no buffer at all, a size query).
// The check may only give the query's status or 13, must look at no byte past
// the buffer, and must pass exactly the terminated strings.
#include "tests/fuzz/fuzz_support.h"

#include "support/probes_logic.h"

enum { ERROR_FILE_NOT_FOUND_CODE = 2, ERROR_MORE_DATA_CODE = 234 };

static long PickStatus(FuzzReader *reader)
{
    switch (reader->Byte() % 4) {
    case 0:
        return REGISTRY_STATUS_SUCCESS;
    case 1:
        return ERROR_MORE_DATA_CODE;
    case 2:
        return ERROR_FILE_NOT_FOUND_CODE;
    default:
        return (long)reader->Number32();
    }
}

static unsigned long PickType(FuzzReader *reader)
{
    uint8_t pick = reader->Byte();
    return pick < 0xF0 ? pick % 9 : reader->Number32(); // REG_NONE .. REG_MULTI_SZ and beyond, or any
}

// Around the buffer's end, where the checks decide, or any 32-bit count.
static unsigned long PickCount(uint8_t pick, unsigned long anyCount, unsigned long bufferSize)
{
    unsigned long step = pick & 0x3F;
    switch (pick >> 6) {
    case 0:
        return bufferSize;
    case 1:
        return step <= bufferSize ? bufferSize - step : 0;
    case 2:
        return bufferSize + step;
    default:
        return anyCount;
    }
}

// The contract, written out from the header on its own terms.
static long Expected(long status, unsigned long type, unsigned long count, const char *buffer,
                     unsigned long bufferSize)
{
    unsigned long terminators = type == 1 || type == 2 ? 1 : type == 7 ? 2 : 0;
    if (terminators == 0)
        return REGISTRY_STATUS_INVALID_DATA;
    if (buffer == NULL)
        return type == 7 && count < 2 ? REGISTRY_STATUS_INVALID_DATA : status;
    if (count > bufferSize)
        return status == REGISTRY_STATUS_SUCCESS ? REGISTRY_STATUS_INVALID_DATA : status;
    if (count < terminators)
        return REGISTRY_STATUS_INVALID_DATA;
    bool terminated = buffer[count - 1] == '\0' && (terminators == 1 || buffer[count - 2] == '\0');
    return terminated ? status : REGISTRY_STATUS_INVALID_DATA;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzReader reader{data, size};
    long status = PickStatus(&reader);
    unsigned long type = PickType(&reader);
    bool sizeQuery = (reader.Byte() & 0x0F) == 0;
    uint8_t countPick = reader.Byte();
    unsigned long anyCount = reader.Number32();
    std::string bytes = reader.Rest();
    unsigned long bufferSize = (unsigned long)bytes.size();
    unsigned long count = PickCount(countPick, anyCount, bufferSize);

    char *buffer = NULL;
    if (!sizeQuery) {
        buffer = (char *)malloc(bufferSize ? bufferSize : 1);
        memcpy(buffer, bytes.data(), bufferSize);
    }
    long result = CheckRegistryString(status, type, count, buffer, sizeQuery ? 0 : bufferSize);
    Check(result == status || result == REGISTRY_STATUS_INVALID_DATA);
    Check(result == Expected(status, type, count, buffer, sizeQuery ? 0 : bufferSize));
    // A string passed for use is terminated within the buffer.
    if (buffer != NULL && result == REGISTRY_STATUS_SUCCESS)
        Check(count <= bufferSize && count >= 1 && buffer[count - 1] == '\0');
    free(buffer);
    return 0;
}
