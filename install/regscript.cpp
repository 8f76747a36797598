// The registry script's text. A script is read whole into memory and walked
// line by line; every line is copied into a buffer of SCRIPT_LINE_SIZE bytes
// (longer lines are cut there), and every later step works on that copy:
// the section table, key paths, value lines taken apart in place, numbers
// and the directory macros. Nothing here reads past a terminator or the end
// of the text, and the only operation that grows a text (the macros) is
// told the size of its buffer and refuses what would not fit.
#include "regscript.h"

#include <string.h>

#include "leadbyte.h"

// ---------------------------------------------------------------- lines

bool IsScriptSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

static bool AtEnd(const ScriptCursor* cursor, const char* p)
{
    return p >= cursor->end || *p == 0;
}

bool ReadScriptLine(ScriptCursor* cursor, char* line)
{
    const char* p = cursor->pos;
    if (AtEnd(cursor, p))
        return false;
    while (!AtEnd(cursor, p) && *p != '\n' && IsScriptSpace(*p))
        ++p;
    size_t length = 0;
    for (; !AtEnd(cursor, p) && *p != '\n'; ++p)
        if (length < SCRIPT_LINE_SIZE - 1)
            line[length++] = *p;
    while (length > 0 && IsScriptSpace(line[length - 1]))
        --length;
    line[length] = 0;
    while (!AtEnd(cursor, p) && *p == '\n')
        ++p;
    cursor->pos = p;
    return true;
}

static char UpperChar(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// Copies text with a to z made upper case, stopping at its end or at stop.
static void CopyUpper(char* out, const char* text, const char* stop)
{
    while (*text && text != stop) {
        if (IsLeadByte(*text) && text[1] && text + 1 != stop) {
            *out++ = *text++;
            *out++ = *text++;
        } else {
            *out++ = UpperChar(*text++);
        }
    }
}

ScriptLineKind ClassifyScriptLine(const char* line, char* upper)
{
    upper[0] = 0;
    if (line[0] == 0 || line[0] == ';')
        return LINE_COMMENT;
    size_t length = strnlen(line, SCRIPT_LINE_SIZE - 1);
    CopyUpper(upper, line, line + length);
    upper[length] = 0;
    if (upper[0] == '[')
        return LINE_SECTION;
    return strstr(upper, "REGKEY") ? LINE_KEY : LINE_VALUE;
}

// ---------------------------------------------------------------- sections

static const ScriptSection kSections[] = {
    {"[REQUIRED]", ROOT_NONE, 0xFFFFFFF0, 0x00},
    {"[OPTIONAL]", ROOT_NONE, 0xFFFFFFF0, SECTION_OPTIONAL},
    {"[WINDOWS_95]", ROOT_NONE, 0xFFFFFF0F, SECTION_ON_95},
    {"[WINDOWS_NT]", ROOT_NONE, 0xFFFFFF0F, SECTION_ON_NT},
    {"[WINDOWS_95NT]", ROOT_NONE, 0xFFFFFF0F, SECTION_ON_95 | SECTION_ON_NT},
    {"[HKEY_LOCAL_MACHINE]", ROOT_LOCAL_MACHINE, 0xFFFFFFFF, 0},
    {"[HKEY_CURRENT_USER]", ROOT_CURRENT_USER, 0xFFFFFFFF, 0},
    {"[HKEY_CLASSES_ROOT]", ROOT_CLASSES_ROOT, 0xFFFFFFFF, 0},
};

const ScriptSection* FindScriptSection(const char* upper)
{
    for (const ScriptSection& section : kSections)
        if (strcmp(upper, section.name) == 0)
            return &section;
    return NULL;
}

// ---------------------------------------------------------------- key and value lines

static bool IsBlankOrTab(char c)
{
    return c == ' ' || c == '\t';
}

const char* ScriptKeyPath(const char* line)
{
    const char* equals = strchr(line, '=');
    if (!equals)
        return NULL;
    const char* path = equals + 1;
    while (IsBlankOrTab(*path))
        ++path;
    return path;
}

ValueSplit SplitValueLine(char* line, ScriptValue* value)
{
    char* equals = strchr(line, '=');
    if (!equals)
        return VALUE_NO_EQUALS;
    char* type = equals + 1;
    while (IsBlankOrTab(*type))
        ++type;
    char* colon = strchr(type, ':');
    if (!colon)
        return VALUE_NO_COLON;

    char* nameEnd = equals;
    while (nameEnd > line && IsBlankOrTab(nameEnd[-1]))
        --nameEnd;
    *nameEnd = 0;
    *colon = 0;
    CopyUpper(type, type, NULL);
    value->name = strcmp(line, "@") == 0 ? "" : line;
    value->typeWord = type;
    value->data = colon + 1;
    return VALUE_OK;
}

static const ScriptValueType kValueTypes[] = {
    {"REG_SZ", SCRIPT_REG_SZ, DATA_TEXT},
    {"REG_DWORD", SCRIPT_REG_DWORD, DATA_NUMBER},
    {"REG_MULTI_SZ", SCRIPT_REG_MULTI_SZ, DATA_BYTES},
    {"REG_BINARY", SCRIPT_REG_BINARY, DATA_BYTES},
};

const ScriptValueType* FindValueType(const char* typeWord)
{
    for (const ScriptValueType& type : kValueTypes)
        if (strcmp(typeWord, type.word) == 0)
            return &type;
    return NULL;
}

// ---------------------------------------------------------------- numbers

// The value of a digit in bases up to 16; 16 for anything else.
static unsigned DigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return (unsigned)(c - '0');
    if (c >= 'a' && c <= 'f')
        return (unsigned)(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return (unsigned)(c - 'A' + 10);
    return 16;
}

uint32_t ReadScriptNumber(const char* text, const char** end)
{
    const char* p = text;
    while (IsScriptSpace(*p))
        ++p;
    bool negative = *p == '-';
    if (*p == '-' || *p == '+')
        ++p;
    unsigned base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16) {
        base = 16;
        p += 2;
    } else if (p[0] == '0') {
        base = 8;  // the leading 0 is a digit of its own
    }
    const char* digits = p;
    uint64_t value = 0;
    for (; DigitValue(*p) < base; ++p) {
        value = value * base + DigitValue(*p);
        if (value > 0xFFFFFFFFu)
            value = 0x100000000u;  // stays beyond 32 bits without wrapping round
    }
    if (end)
        *end = p == digits ? text : p;
    if (value > 0xFFFFFFFFu)
        return 0xFFFFFFFFu;
    return negative ? 0u - (uint32_t)value : (uint32_t)value;
}

uint32_t ReadScriptBytes(const char* data, uint8_t* bytes, bool* truncated)
{
    const char* p = data;
    uint32_t count = ReadScriptNumber(p, &p);
    *truncated = count > SCRIPT_DATA_SIZE;
    if (*truncated)
        count = SCRIPT_DATA_SIZE;
    for (uint32_t i = 0; i < count; ++i)
        bytes[i] = (uint8_t)ReadScriptNumber(p, &p);
    return count;
}

// ---------------------------------------------------------------- macros

bool ReplaceMacro(char* text, size_t size, const char* token, const char* value)
{
    size_t tokenLength = strlen(token);
    size_t valueLength = strlen(value);
    // Either would find the token again for ever.
    if (tokenLength == 0 || strcmp(token, value) == 0)
        return true;
    size_t length = strlen(text);
    for (char* at = strstr(text, token); at; at = strstr(text, token)) {
        size_t grown = length - tokenLength + valueLength;
        if (grown >= size)
            return false;
        size_t behind = length - (size_t)(at - text) - tokenLength;
        memmove(at + valueLength, at + tokenLength, behind + 1);
        memcpy(at, value, valueLength);
        length = grown;
    }
    return true;
}

struct ScriptMacro {
    const char* token;
    int dirId;
};

static const ScriptMacro kMacros[] = {
    {"%%TARGETDIR%%", 2},    // Target
    {"%%WINDIR%%", 3},       // Windows
    {"%%WINSYS16DIR%%", 4},  // System16
    {"%%WINSYSDIR%%", 5},    // System32
    {"%%WINDRIVERDIR%%", 6}, // Drivers
};

bool ExpandDirectoryMacros(char* text, size_t size, const char* const* dirs)
{
    for (const ScriptMacro& macro : kMacros)
        if (!ReplaceMacro(text, size, macro.token, dirs[macro.dirId]))
            return false;
    return true;
}
