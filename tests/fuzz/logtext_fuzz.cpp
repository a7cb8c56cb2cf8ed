// The log's record prefix and message formatter. The first input byte picks
// the part: the time text and record prefix, with broken-down time fields
// and the capacity from the input, or the formatter, with the capacity, the
// format text and the arguments from the input. Every result is compared
// with the same text built here from the C library (strftime) or a plain
// expansion, cut to the capacity, and is always terminated.
#include "tests/fuzz/fuzz_support.h"

#include <locale.h>
#include <time.h>

#include "support/log_logic.h"

static int PickField(FuzzReader *reader)
{
    uint8_t pick = reader->Byte();
    return pick < 0xF0 ? (int)pick - 0x10 : (int)reader->Number32(); // near the ranges, or any int
}

static bool InRange(int value, int low, int high)
{
    return value >= low && value <= high;
}

static void CheckTimeText(FuzzReader *reader)
{
    struct tm when = {};
    when.tm_sec = PickField(reader);
    when.tm_min = PickField(reader);
    when.tm_hour = PickField(reader);
    when.tm_mday = PickField(reader);
    when.tm_mon = PickField(reader);
    when.tm_wday = PickField(reader);
    uint8_t yearPick = reader->Byte();
    when.tm_year = yearPick < 0xF0 ? ((int)yearPick - 0x08) * 64 : (int)reader->Number32();
    size_t cap = reader->Byte() % 40;
    bool shown = InRange(when.tm_sec, 0, 60) && InRange(when.tm_min, 0, 59) && InRange(when.tm_hour, 0, 23) &&
                 InRange(when.tm_mday, 1, 31) && InRange(when.tm_mon, 0, 11) && InRange(when.tm_wday, 0, 6) &&
                 InRange(when.tm_year, 0, 8099);
    char expected[64] = "";
    if (shown)
        Check(strftime(expected, sizeof(expected), "%a %b %d %H:%M:%S %Y\n", &when) == LOG_TIME_TEXT_LENGTH);

    HeapBuffer text(cap);
    int formatted = FormatTimeText(text.bytes, text.cap, &when);
    Check(formatted == (shown && cap > LOG_TIME_TEXT_LENGTH));
    Check(cap == 0 || text.Terminated());
    if (cap != 0)
        Check(formatted ? strcmp(text.bytes, expected) == 0 : text.bytes[0] == '\0');

    HeapBuffer prefix(cap);
    size_t length = FormatRecordPrefix(prefix.bytes, prefix.cap, &when);
    bool prefixed = shown && cap > LOG_PREFIX_LENGTH;
    Check(length == (prefixed ? (size_t)LOG_PREFIX_LENGTH : 0));
    if (cap != 0)
        Check(prefixed ? std::string("\n") + expected + ":: " == prefix.bytes : prefix.bytes[0] == '\0');
}

// The fixed order of argument types every fuzzed format is made to follow:
// its n-th conversion becomes the n-th letter here, and the format stops
// after the last, so that the call below always matches its format.
static const char kArgumentTypes[] = "sdsdds";

static std::string MatchFormat(const std::string &raw)
{
    std::string format;
    size_t conversion = 0;
    for (size_t i = 0; i < raw.size(); i++) {
        if (raw[i] == '%' && i + 1 < raw.size() && (raw[i + 1] == 's' || raw[i + 1] == 'd')) {
            if (conversion == sizeof(kArgumentTypes) - 1)
                break;
            format += '%';
            format += kArgumentTypes[conversion++];
            i++;
        } else if (raw[i] == '%' && i + 1 < raw.size() && raw[i + 1] == '%') {
            format += "%%";
            i++;
        } else {
            format += raw[i];
        }
    }
    return format;
}

// The formatter's text without a capacity: "%s" and "%d" filled, "%%" one
// "%", any other "%" kept as it is.
static std::string Expand(const std::string &format, const std::string *strings, const int *numbers)
{
    std::string text;
    size_t nextString = 0, nextNumber = 0;
    for (size_t i = 0; i < format.size(); i++) {
        if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 's') {
            text += strings[nextString++];
            i++;
        } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == 'd') {
            text += std::to_string(numbers[nextNumber++]);
            i++;
        } else if (format[i] == '%' && i + 1 < format.size() && format[i + 1] == '%') {
            text += '%';
            i++;
        } else {
            text += format[i];
        }
    }
    return text;
}

static void CheckMessage(FuzzReader *reader)
{
    size_t cap = (reader->Byte() << 8 | reader->Byte()) % (LOG_MESSAGE_SIZE + 1);
    int numbers[3];
    for (int &number : numbers)
        number = (int)reader->Number32();
    std::string strings[3] = {reader->Line(), reader->Line(), reader->Line()};
    std::string format = MatchFormat(reader->Line());
    HeapText formatText(format), first(strings[0]), second(strings[1]), third(strings[2]);

    HeapBuffer message(cap);
    int length = FormatLogText(message.bytes, message.cap, formatText.text, first.text, numbers[0], second.text,
                               numbers[1], numbers[2], third.text);
    std::string expected = Expand(format, strings, numbers);
    if (cap == 0) {
        Check(length == -1);
        return;
    }
    Check(message.Terminated());
    if (expected.size() < cap) {
        Check(length == (int)expected.size() && expected == message.bytes);
    } else {
        Check(length == -1 && expected.compare(0, cap - 1, message.bytes) == 0 && strlen(message.bytes) == cap - 1);
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static bool once = setlocale(LC_TIME, "C") != NULL;
    (void)once;
    FuzzReader reader{data, size};
    if (reader.Byte() & 1)
        CheckMessage(&reader);
    else
        CheckTimeText(&reader);
    return 0;
}
