// The registry script's text handling on arbitrary scripts. The input is
// the script; its last bytes also choose five directory texts of up to 259
// characters (some plain lower-case paths, some full of '%' and the macro
// letters). Every line goes through the reader, the classification, the
// section table, the key path, the value split, the number reader, the byte
// reader and the macro expansion. Each buffer is a heap block of exactly
// its size, so the sanitizer sees any access outside it; numbers and macros
// are also checked against plain reference versions of the same rules.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <fuzzer/FuzzedDataProvider.h>
#include <string>
#include <vector>

#include "regscript.h"

namespace {

// The C library's own unsigned conversion (64 bits here), brought to 32.
uint32_t ReferenceNumber(const char* text, const char** end)
{
    errno = 0;
    char* stop;
    unsigned long long read = strtoull(text, &stop, 0);
    *end = stop;
    const char* p = text;
    while (isspace((unsigned char)*p))
        ++p;
    bool negative = *p == '-';
    unsigned long long magnitude = negative ? 0ull - read : read;
    if (errno == ERANGE || magnitude > 0xFFFFFFFFull)
        return 0xFFFFFFFFu;
    return negative ? 0u - (uint32_t)magnitude : (uint32_t)magnitude;
}

void CheckNumber(const char* text)
{
    const char *end, *expectedEnd;
    uint32_t value = ReadScriptNumber(text, &end);
    if (value != ReferenceNumber(text, &expectedEnd) || end != expectedEnd)
        abort();
}

// Replace, search again from the start, give up once it does not fit.
bool ReferenceExpand(std::string& text, const std::string (&dirs)[SCRIPT_DIR_COUNT])
{
    static const char* const kTokens[] = {"%%TARGETDIR%%", "%%WINDIR%%", "%%WINSYS16DIR%%", "%%WINSYSDIR%%",
                                          "%%WINDRIVERDIR%%"};
    for (int i = 0; i < 5; ++i) {
        std::string token = kTokens[i];
        const std::string& value = dirs[i + 2];
        if (token == value)
            continue;
        for (size_t at; (at = text.find(token)) != std::string::npos;) {
            text.replace(at, token.size(), value);
            if (text.size() >= SCRIPT_LINE_SIZE)
                return false;
        }
    }
    return true;
}

std::string DirectoryText(FuzzedDataProvider& input)
{
    size_t length = input.ConsumeIntegralInRange<size_t>(0, 259);
    uint32_t seed = input.ConsumeIntegral<uint32_t>();
    bool plain = seed & 1;
    static const char kPlain[] = "c:\\windows\\system32\\drivers\\";
    static const char kMacroLetters[] = "%%%%WINDIRSYS16TARGETDRVE\\a";
    std::string text;
    for (size_t i = 0; i < length; ++i) {
        seed = seed * 1103515245u + 12345u;
        text += plain ? kPlain[(seed >> 16) % (sizeof kPlain - 1)]
                      : kMacroLetters[(seed >> 16) % (sizeof kMacroLetters - 1)];
    }
    if (plain)
        text += '\\';
    return text;
}

void CheckValueLine(const char* line)
{
    size_t length = strlen(line);
    char* copy = (char*)malloc(length + 1);
    memcpy(copy, line, length + 1);
    ScriptValue value;
    ValueSplit split = SplitValueLine(copy, &value);
    if (split == VALUE_OK) {
        for (const char* part : {value.name, value.typeWord, value.data})
            if (part[0] && (part < copy || part + strlen(part) > copy + length))
                abort();
        FindValueType(value.typeWord);
        CheckNumber(value.data);
        uint8_t* bytes = (uint8_t*)malloc(SCRIPT_DATA_SIZE);
        bool truncated;
        if (ReadScriptBytes(value.data, bytes, &truncated) > SCRIPT_DATA_SIZE)
            abort();
        free(bytes);
    } else if (memcmp(copy, line, length + 1) != 0) {
        abort();  // a line that is not taken apart stays as it was
    }
    free(copy);
}

void CheckExpansion(const char* data, const char* const* dirs, const std::string (&dirTexts)[SCRIPT_DIR_COUNT])
{
    char* text = (char*)malloc(SCRIPT_LINE_SIZE);
    snprintf(text, SCRIPT_LINE_SIZE, "%s", data);
    std::string expected = text;
    bool fits = ExpandDirectoryMacros(text, SCRIPT_LINE_SIZE, dirs);
    if (fits != ReferenceExpand(expected, dirTexts))
        abort();
    if (fits && expected != text)
        abort();
    free(text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);  // integers come from the end
    std::string dirTexts[SCRIPT_DIR_COUNT];
    const char* dirs[SCRIPT_DIR_COUNT];
    for (int id = 0; id < SCRIPT_DIR_COUNT; ++id) {
        if (id >= 2)
            dirTexts[id] = DirectoryText(input);
        dirs[id] = dirTexts[id].c_str();
    }
    std::vector<uint8_t> rest = input.ConsumeRemainingBytes<uint8_t>();
    size_t scriptSize = rest.size();
    char* script = (char*)malloc(scriptSize ? scriptSize : 1);
    if (scriptSize)
        memcpy(script, rest.data(), scriptSize);

    char* line = (char*)malloc(SCRIPT_LINE_SIZE);
    char* upper = (char*)malloc(SCRIPT_LINE_SIZE);
    ScriptCursor cursor = {script, script + scriptSize};
    size_t lines = 0;
    for (const char* before = cursor.pos; ReadScriptLine(&cursor, line); before = cursor.pos) {
        size_t length = strlen(line);
        if (++lines > scriptSize || cursor.pos <= before || cursor.pos > cursor.end)
            abort();
        if (length >= SCRIPT_LINE_SIZE || strchr(line, '\n') ||
            (length && (IsScriptSpace(line[0]) || IsScriptSpace(line[length - 1]))))
            abort();

        ScriptLineKind kind = ClassifyScriptLine(line, upper);
        if (kind != LINE_COMMENT && strlen(upper) != length)
            abort();
        if (kind == LINE_SECTION)
            FindScriptSection(upper);
        const char* path = ScriptKeyPath(line);
        if (path && (path <= line || path > line + length))
            abort();
        CheckValueLine(line);
        CheckNumber(line);
        CheckExpansion(line, dirs, dirTexts);
        const char* colon = strchr(line, ':');
        if (colon)
            CheckExpansion(colon + 1, dirs, dirTexts);
    }
    if (cursor.pos != cursor.end && *cursor.pos != 0)
        abort();  // the reader stops only at the end of the text
    free(line);
    free(upper);
    free(script);
    return 0;
}
