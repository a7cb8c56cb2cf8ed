#include "support/text.h"

#include <string.h>

size_t BoundedLength(const char *buf, size_t cap)
{
    size_t n = 0;
    while (n < cap && buf[n] != '\0')
        n++;
    return n;
}

int CopyText(char *buf, size_t cap, const char *src)
{
    if (cap == 0)
        return 0;
    buf[0] = '\0';
    return AppendText(buf, cap, src);
}

int AppendTextN(char *buf, size_t cap, const char *src, size_t count)
{
    size_t used = BoundedLength(buf, cap);
    if (used == cap)
        return 0; // no terminator: not a string we may extend
    size_t add = 0;
    while (add < count && src[add] != '\0')
        add++;
    if (add > cap - 1 - used)
        return 0;
    memcpy(buf + used, src, add);
    buf[used + add] = '\0';
    return 1;
}

int AppendText(char *buf, size_t cap, const char *src)
{
    return AppendTextN(buf, cap, src, (size_t)-1);
}

int AppendDecimal(char *buf, size_t cap, long value)
{
    char digits[24];
    size_t pos = sizeof(digits);
    // Work on the magnitude as unsigned so that LONG_MIN is printed correctly.
    unsigned long magnitude = value < 0 ? 0UL - (unsigned long)value : (unsigned long)value;
    digits[--pos] = '\0';
    do {
        digits[--pos] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0)
        digits[--pos] = '-';
    return AppendText(buf, cap, digits + pos);
}

int AppendAllOrEmpty(char *buf, size_t cap, const char *const *parts, size_t count)
{
    for (size_t i = 0; i < count; i++) {
        if (!AppendText(buf, cap, parts[i])) {
            if (cap != 0)
                buf[0] = '\0';
            return 0;
        }
    }
    return 1;
}

int JoinText(char *buf, size_t cap, const char *const *parts, size_t count)
{
    if (cap == 0)
        return 0;
    buf[0] = '\0';
    return AppendAllOrEmpty(buf, cap, parts, count);
}

int StartsWith(const char *text, const char *prefix)
{
    return strncmp(text, prefix, strlen(prefix)) == 0;
}
