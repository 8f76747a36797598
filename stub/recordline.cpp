// The lines of the install record, as the setup writes them and the
// uninstaller reads them.
#include "record.h"

#include <string.h>

#include "text.h"
#include "upgrade.h"

void FactsOf(const FileInfo* info, RecordFacts* facts)
{
    facts->size = info->size;
    facts->timeHigh = info->lastWriteTime.dwHighDateTime;
    facts->timeLow = info->lastWriteTime.dwLowDateTime;
    facts->versionMS = info->hasVersion ? info->fileVersionMS : 0xFFFFFFFF;
    facts->versionLS = info->hasVersion ? info->fileVersionLS : 0xFFFFFFFF;
}

BOOL SameFacts(const RecordFacts* a, const RecordFacts* b)
{
    return memcmp(a, b, sizeof *a) == 0;
}

BOOL FormatFileLine(char* line, const RecordFacts* facts, const char* path)
{
    if (strlen(path) >= MAX_PATH)
        return FALSE;
    wsprintfA(line, "F|%08lX|%08lX|%08lX|%08lX|%08lX|%s", facts->size, facts->timeHigh, facts->timeLow,
              facts->versionMS, facts->versionLS, path);
    return TRUE;
}

// Eight hexadecimal digits and a '|' at *p, read into *value.
static BOOL ReadField(const char** p, DWORD* value)
{
    DWORD number = 0;
    for (int i = 0; i < 8; ++i) {
        char c = (*p)[i];
        DWORD digit = c >= '0' && c <= '9' ? (DWORD)(c - '0') : c >= 'A' && c <= 'F' ? (DWORD)(c - 'A' + 10) : 16;
        if (digit == 16)
            return FALSE;
        number = number * 16 + digit;
    }
    if ((*p)[8] != '|')
        return FALSE;
    *value = number;
    *p += 9;
    return TRUE;
}

BOOL ParseFileLine(const char* line, RecordFacts* facts, const char** path)
{
    if (line[0] != 'F' || line[1] != '|')
        return FALSE;
    const char* p = line + 2;
    if (!ReadField(&p, &facts->size) || !ReadField(&p, &facts->timeHigh) || !ReadField(&p, &facts->timeLow) ||
        !ReadField(&p, &facts->versionMS) || !ReadField(&p, &facts->versionLS) || !*p)
        return FALSE;
    *path = p;
    return TRUE;
}

const char* RecordPath(const char* line, char kind, DWORD* root)
{
    if (line[0] != kind || line[1] != '|')
        return NULL;
    const char* p = line + 2;
    if (kind == 'F') {
        RecordFacts facts;
        return ParseFileLine(line, &facts, &p) ? p : NULL;
    }
    if (kind == 'K') {
        DWORD value = 0;
        if (!ReadField(&p, &value))
            return NULL;
        if (root)
            *root = value;
    }
    return *p ? p : NULL;
}
