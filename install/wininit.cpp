#include "wininit.h"

#include <string.h>

#include "leadbyte.h"

static char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// Whether text[at] and text[at + 1] are one double-byte character.
static bool DoubleByteAt(const char* text, size_t length, size_t at)
{
    return at + 1 < length && IsLeadByte(text[at]);
}

// The case of ASCII letters aside; the second byte of a double-byte
// character is no letter and must be the same.
static bool EqualNoCase(const char* text, const char* what, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        if (DoubleByteAt(what, length, i)) {
            if (text[i] != what[i] || text[i + 1] != what[i + 1])
                return false;
            ++i;
        } else if (UpperAscii(text[i]) != UpperAscii(what[i])) {
            return false;
        }
    }
    return true;
}

// Offset of the first occurrence of what in text[from..length) that begins
// a character (never the second byte of a double-byte one), ignoring the
// case of ASCII letters; -1 when there is none. from begins a character.
static long FindNoCase(const char* text, size_t length, size_t from, const char* what)
{
    size_t whatLength = strlen(what);
    for (size_t at = from; at + whatLength <= length; at += DoubleByteAt(text, length, at) ? 2 : 1)
        if (EqualNoCase(text + at, what, whatLength))
            return (long)at;
    return -1;
}

static bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// The section header's line: its first byte in *start, and the offset right
// behind it (behind its line feed, or the end of the text when it has none)
// in *end. The header may have blanks around it, any line end, any case.
static bool FindHeaderLine(const char* text, size_t length, size_t* start, size_t* end)
{
    const char kName[] = "[RENAME]";
    const size_t nameLength = sizeof kName - 1;
    for (size_t line = 0; line < length; line = *end) {
        const char* feed = (const char*)memchr(text + line, '\n', length - line);
        *end = feed ? (size_t)(feed - text) + 1 : length;
        size_t first = line;
        size_t last = feed ? *end - 1 : *end;
        while (first < last && IsBlank(text[first]))
            ++first;
        while (last > first && IsBlank(text[last - 1]))
            --last;
        if (last - first == nameLength && EqualNoCase(text + first, kName, nameLength)) {
            *start = line;
            return true;
        }
    }
    return false;
}

RenameEdit AddRenameLine(uint8_t* data, uint32_t size, const char* line, uint32_t* added)
{
    const char* text = (const char*)data;
    size_t textLength = 0;
    while (textLength < size && text[textLength])
        ++textLength;
    uint32_t lineLength = (uint32_t)strlen(line);

    size_t header = 0;
    size_t behind = 0;
    if (!FindHeaderLine(text, textLength, &header, &behind)) {
        // Glued to a last line without a line end, the header would damage
        // that line and not be seen as a header.
        uint32_t at = size;
        if (size > 0 && data[size - 1] != '\n') {
            memcpy(data + at, "\r\n", 2);
            at += 2;
        }
        memcpy(data + at, WININIT_RENAME_HEADER, WININIT_RENAME_HEADER_LENGTH);
        memcpy(data + at + WININIT_RENAME_HEADER_LENGTH, line, lineLength);
        *added = at - size + WININIT_RENAME_HEADER_LENGTH + lineLength;
        return RENAME_SECTION_ADDED;
    }
    if (FindNoCase(text, textLength, header, line) >= 0) {
        *added = 0;
        return RENAME_LINE_DUPLICATE;
    }
    // A header on the last line, without a line end, gets one first.
    bool ended = text[behind - 1] == '\n';
    uint32_t gap = lineLength + (ended ? 0 : 2);
    memmove(data + behind + gap, data + behind, size - behind);
    if (!ended)
        memcpy(data + behind, "\r\n", 2);
    memcpy(data + behind + gap - lineLength, line, lineLength);
    *added = gap;
    return RENAME_LINE_INSERTED;
}
