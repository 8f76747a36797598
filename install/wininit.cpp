#include "wininit.h"

#include <string.h>

static char UpperAscii(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// Offset of the first occurrence of what in text[from..length), ignoring the
// case of ASCII letters; -1 when there is none.
static long FindNoCase(const char* text, size_t length, size_t from, const char* what)
{
    size_t whatLength = strlen(what);
    for (size_t at = from; at + whatLength <= length; ++at) {
        size_t i = 0;
        while (i < whatLength && UpperAscii(text[at + i]) == UpperAscii(what[i]))
            ++i;
        if (i == whatLength)
            return (long)at;
    }
    return -1;
}

RenameEdit AddRenameLine(uint8_t* data, uint32_t size, const char* line, uint32_t* added)
{
    const char* text = (const char*)data;
    size_t textLength = 0;
    while (textLength < size && text[textLength])
        ++textLength;
    uint32_t lineLength = (uint32_t)strlen(line);

    long header = FindNoCase(text, textLength, 0, WININIT_RENAME_HEADER);
    if (header < 0) {
        memcpy(data + size, WININIT_RENAME_HEADER, WININIT_RENAME_HEADER_LENGTH);
        memcpy(data + size + WININIT_RENAME_HEADER_LENGTH, line, lineLength);
        *added = WININIT_RENAME_HEADER_LENGTH + lineLength;
        return RENAME_SECTION_ADDED;
    }
    if (FindNoCase(text, textLength, (size_t)header, line) >= 0) {
        *added = 0;
        return RENAME_LINE_DUPLICATE;
    }
    uint32_t at = (uint32_t)header + WININIT_RENAME_HEADER_LENGTH;
    memmove(data + at + lineLength, data + at, size - at);
    memcpy(data + at, line, lineLength);
    *added = lineLength;
    return RENAME_LINE_INSERTED;
}
