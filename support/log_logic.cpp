#include "support/log_logic.h"

#include <stdarg.h>

#include "support/text.h"

static const char kWeekdays[7][4] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
static const char kMonths[12][4] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                    "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

static int InRange(int value, int low, int high)
{
    return value >= low && value <= high;
}

static void PutTwoDigits(char *at, int value)
{
    at[0] = (char)('0' + value / 10);
    at[1] = (char)('0' + value % 10);
}

int FormatTimeText(char *out, size_t cap, const struct tm *when)
{
    if (cap == 0)
        return 0;
    out[0] = '\0';
    // The C run-time's own form of the time text, built here so that it does
    // not depend on which run-time the program meets: a blank-padded day or
    // a year outside four digits would shift every byte behind it.
    if (cap < LOG_TIME_TEXT_LENGTH + 1 || when == NULL || !InRange(when->tm_wday, 0, 6) ||
        !InRange(when->tm_mon, 0, 11) || !InRange(when->tm_mday, 1, 31) ||
        !InRange(when->tm_hour, 0, 23) || !InRange(when->tm_min, 0, 59) ||
        !InRange(when->tm_sec, 0, 60) || !InRange(when->tm_year, 0, 8099))
        return 0;
    char text[LOG_TIME_TEXT_LENGTH + 1] = "Www Mmm dd hh:mm:ss yyyy\n";
    for (int i = 0; i < 3; i++) {
        text[i] = kWeekdays[when->tm_wday][i];
        text[4 + i] = kMonths[when->tm_mon][i];
    }
    PutTwoDigits(text + 8, when->tm_mday);
    PutTwoDigits(text + 11, when->tm_hour);
    PutTwoDigits(text + 14, when->tm_min);
    PutTwoDigits(text + 17, when->tm_sec);
    PutTwoDigits(text + 20, 19 + when->tm_year / 100);
    PutTwoDigits(text + 22, when->tm_year % 100);
    return CopyText(out, cap, text);
}

size_t FormatRecordPrefix(char *out, size_t cap, const struct tm *when)
{
    if (cap == 0)
        return 0;
    char timeText[LOG_TIME_TEXT_LENGTH + 1];
    out[0] = '\0';
    if (!FormatTimeText(timeText, sizeof(timeText), when))
        return 0;
    const char *const parts[] = {"\n", timeText, ":: "};
    return JoinText(out, cap, parts) ? LOG_PREFIX_LENGTH : 0;
}

int JoinLogPath(char *out, size_t cap, const char *folder, const char *separator)
{
    const char *const parts[] = {folder, separator, LOG_FILE_NAME};
    return JoinText(out, cap, parts);
}

// Appends as much of `text` as fits; 0 when some of it did not.
static int AppendCut(char *out, size_t cap, size_t *used, const char *text)
{
    for (; *text != '\0'; text++) {
        if (*used + 1 >= cap)
            return 0;
        out[(*used)++] = *text;
    }
    return 1;
}

int FormatLogText(char *out, size_t cap, const char *format, ...)
{
    if (cap == 0)
        return -1;
    va_list args;
    va_start(args, format);
    size_t used = 0;
    int whole = 1;
    for (const char *p = format; *p != '\0' && whole; p++) {
        char single[2] = {*p, '\0'};
        char number[24] = "";
        const char *piece = single;
        if (*p == '%' && p[1] == 's') {
            piece = va_arg(args, const char *);
            if (piece == NULL)
                piece = "(null)";
            p++;
        } else if (*p == '%' && p[1] == 'd') {
            AppendDecimal(number, sizeof(number), va_arg(args, int));
            piece = number;
            p++;
        } else if (*p == '%' && p[1] == '%') {
            p++;
        }
        whole = AppendCut(out, cap, &used, piece);
    }
    va_end(args);
    out[used] = '\0';
    return whole ? (int)used : -1;
}
