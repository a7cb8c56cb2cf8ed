// Helpers of the tests that read the diagnostic log.
#ifndef TESTS_WIN_LOGCHECK_H
#define TESTS_WIN_LOGCHECK_H

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/win/helpers.h"

// Points TMPDIR at `value` (NULL: unset) for the life of the object.
class ScopedTmpdir {
  public:
    explicit ScopedTmpdir(const char *value)
    {
        char old[4096];
        DWORD length = GetEnvironmentVariableA("TMPDIR", old, sizeof(old));
        had_ = length != 0 && length < sizeof(old);
        if (had_)
            old_.assign(old, length);
        SetEnvironmentVariableA("TMPDIR", value);
    }
    ~ScopedTmpdir() { SetEnvironmentVariableA("TMPDIR", had_ ? old_.c_str() : NULL); }

  private:
    bool had_ = false;
    std::string old_;
};

// Whether `text` has the shape of a time text: "Www Mmm dd hh:mm:ss yyyy" and LF.
inline bool LooksLikeTimeText(const std::string &text)
{
    const char shape[] = "Aaa Aaa 00 00:00:00 0000\n";
    if (text.size() != sizeof(shape) - 1)
        return false;
    for (size_t i = 0; i < text.size(); i++) {
        char c = text[i];
        bool fits = shape[i] == '0'   ? (c >= '0' && c <= '9')
                    : shape[i] == 'A' ? (c >= 'A' && c <= 'Z')
                    : shape[i] == 'a' ? (c >= 'a' && c <= 'z')
                                      : c == shape[i];
        if (!fits)
            return false;
    }
    return true;
}

// The messages of a log's bytes, in order. Every record must be LF, a time
// text, ":: " and the message; a byte that breaks the layout fails the test.
// "<missing>" stands for a log that does not exist.
inline std::vector<std::string> MessagesOf(const std::string &bytes)
{
    std::vector<std::string> messages;
    if (bytes == "<missing>") {
        messages.push_back("<missing>");
        return messages;
    }
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.compare(at, 1, "\n") != 0 || !LooksLikeTimeText(bytes.substr(at + 1, 25)) ||
            bytes.compare(at + 26, 3, ":: ") != 0) {
            ADD_FAILURE() << "not a record at byte " << at << ": [" << bytes.substr(at) << "]";
            break;
        }
        // The message runs to the next record's LF and time text.
        size_t end = at + 29;
        while (end < bytes.size() && !(bytes[end] == '\n' && LooksLikeTimeText(bytes.substr(end + 1, 25))))
            end++;
        messages.push_back(bytes.substr(at + 29, end - at - 29));
        at = end;
    }
    return messages;
}

inline std::vector<std::string> LogMessagesIn(const std::string &folder)
{
    return MessagesOf(ReadWholeFile(folder + "\\quorlim.log"));
}

#endif
