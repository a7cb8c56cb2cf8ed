// Bounded text helpers. Every string in the program lives in a fixed buffer;
// these are the only ways the program writes into one, and none of them ever
// writes past the capacity it is given. An append that does not fit leaves the
// buffer as it was and reports 0, so the caller can refuse the whole operation
// instead of working with a silently cut string.
#ifndef SUPPORT_TEXT_H
#define SUPPORT_TEXT_H

#include <stddef.h>

// Length of a NUL-terminated string held in a buffer of `cap` bytes; `cap`
// when no terminator lies within it.
size_t BoundedLength(const char *buf, size_t cap);

// Replaces the content of `buf` with `src`. 1 on success; 0 leaves "" behind.
int CopyText(char *buf, size_t cap, const char *src);

// Appends all of `src`. 1 on success, 0 (buffer unchanged) when it does not fit.
int AppendText(char *buf, size_t cap, const char *src);

// Appends the first `count` characters of `src` (fewer if `src` ends first).
int AppendTextN(char *buf, size_t cap, const char *src, size_t count);

// Appends `value` in decimal, with a leading '-' when negative (what "%d" gives).
int AppendDecimal(char *buf, size_t cap, long value);

// Appends each of the `count` texts in `parts` to the text in `buf`: all of
// them, or none. 1 on success; 0 with "" in `buf` when they do not all fit,
// so that a cut text is never used (nothing is written when `cap` is 0).
int AppendAllOrEmpty(char *buf, size_t cap, const char *const *parts, size_t count);

// The same after emptying `buf`: its content becomes `parts` joined, or "".
int JoinText(char *buf, size_t cap, const char *const *parts, size_t count);

template <size_t N> int AppendAllOrEmpty(char *buf, size_t cap, const char *const (&parts)[N])
{
    return AppendAllOrEmpty(buf, cap, parts, N);
}
template <size_t N> int JoinText(char *buf, size_t cap, const char *const (&parts)[N])
{
    return JoinText(buf, cap, parts, N);
}

// Whether `text` begins with `prefix`.
int StartsWith(const char *text, const char *prefix);

#endif
