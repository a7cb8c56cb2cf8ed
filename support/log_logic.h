// Deciding logic of the diagnostic log: the bytes of a record's time stamp,
// the log's path, and the bounded formatter of the failure messages. No
// Win32 calls here, so that every byte can be checked natively.
// Its Win32 twin: support/log.h.
#ifndef SUPPORT_LOG_LOGIC_H
#define SUPPORT_LOG_LOGIC_H

#include <stddef.h>
#include <time.h>

enum {
    LOG_TIME_TEXT_LENGTH = 25, // "Wed Dec 08 00:00:00 1999" and its LF
    LOG_PREFIX_LENGTH = 29,    // LF, the time text, "::" and a blank
    LOG_PREFIX_SIZE = 32,
    LOG_PATH_SIZE = 272,       // 259 for the folder, a separator, "quorlim.log", NUL
    LOG_MESSAGE_SIZE = 1024
};

#define LOG_FILE_NAME "quorlim.log"

// The time text of `when` into `out` (capacity `cap`): weekday, month, day
// (two digits), hh:mm:ss, four-digit year and LF, in English whatever the
// locale. Returns 1, or 0 with "" in `out` when a field is out of range (the
// year beyond 1900..9999 included) or the text does not fit.
int FormatTimeText(char *out, size_t cap, const struct tm *when);

// The prefix of a record: LF, the time text, "::" and a blank (29 bytes). ""
// when `when` is NULL or cannot be shown: the message then follows the
// previous record directly. Returns the prefix's length.
size_t FormatRecordPrefix(char *out, size_t cap, const struct tm *when);

// "<folder><separator>quorlim.log" into `out`. 1, or 0 with "" when it does
// not fit; the record is then dropped rather than written somewhere else.
int JoinLogPath(char *out, size_t cap, const char *folder, const char *separator);

// A bounded "%s"/"%d" formatter for the log's messages ("%%" gives "%"). It
// never writes past `cap` and always terminates when `cap` is not 0. Returns
// the length, or -1 when the text had to be cut to cap - 1 characters.
int FormatLogText(char *out, size_t cap, const char *format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

#endif
