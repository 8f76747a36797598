#include "moverecord.h"

#include <string.h>

#include "leadbyte.h"

static uint32_t ReadLength(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void WriteLength(uint8_t* p, uint32_t value)
{
    p[0] = (uint8_t)value;
    p[1] = (uint8_t)(value >> 8);
    p[2] = (uint8_t)(value >> 16);
    p[3] = (uint8_t)(value >> 24);
}

static char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? (char)(c - 'A' + 'a') : c;
}

// The case of ASCII letters aside; the second byte of a double-byte
// character is no letter and must be the same.
static bool EqualNoCase(const char* a, const char* b)
{
    while (*a) {
        if (IsLeadByte(*a) && a[1]) {
            if (a[0] != b[0] || a[1] != b[1])
                return false;
            a += 2;
            b += 2;
        } else if (LowerAscii(*a++) != LowerAscii(*b++)) {
            return false;
        }
    }
    return *b == 0;
}

uint32_t MoveRecordLength(const char* source, const char* target)
{
    return MOVE_RECORD_HEADER + (uint32_t)strlen(source) + (uint32_t)strlen(target);
}

void EncodeMoveRecord(uint8_t* out, const char* source, const char* target)
{
    uint32_t sourceLength = (uint32_t)strlen(source);
    uint32_t targetLength = (uint32_t)strlen(target);
    WriteLength(out, MOVE_RECORD_HEADER + sourceLength + targetLength);
    WriteLength(out + 4, sourceLength);
    WriteLength(out + 8, targetLength);
    memcpy(out + MOVE_RECORD_HEADER, source, sourceLength);
    memcpy(out + MOVE_RECORD_HEADER + sourceLength, target, targetLength);
}

MoveRecordResult FindMoveRecordIn(const uint8_t* data, size_t size, const char* wanted, char* source,
                                  char* target, size_t* offset)
{
    size_t at = 0;
    while (at < size) {
        *offset = at;
        size_t left = size - at;
        if (left < MOVE_RECORD_HEADER)
            return MOVE_RECORD_DAMAGED;
        const uint8_t* record = data + at;
        uint32_t length = ReadLength(record);
        uint32_t sourceLength = ReadLength(record + 4);
        uint32_t targetLength = ReadLength(record + 8);
        if (sourceLength >= MOVE_RECORD_PATH_MAX || targetLength >= MOVE_RECORD_PATH_MAX ||
            length < MOVE_RECORD_HEADER + sourceLength + targetLength || length > left)
            return MOVE_RECORD_DAMAGED;
        memset(source, 0, MOVE_RECORD_PATH_MAX);
        memset(target, 0, MOVE_RECORD_PATH_MAX);
        memcpy(source, record + MOVE_RECORD_HEADER, sourceLength);
        memcpy(target, record + MOVE_RECORD_HEADER + sourceLength, targetLength);
        if (EqualNoCase(wanted, target))
            return MOVE_RECORD_FOUND;
        at += length;
    }
    return MOVE_RECORD_NOT_FOUND;
}
