// Parses a product description. The text is read line by line (line
// numbers count every line feed, so an error names the line an editor
// shows); a line is a comment, a section line or a NAME = value line.
// Sections and their keys come from one table: each key has a handler that
// checks its value and stores it, and a section ends by checking that its
// required keys were given. The first fault stops the parse with the line
// and a message; nothing is guessed: an unknown section or key, a key given
// twice, a missing required key, a path that leaves its folder, an unknown
// folder token or language, a file named twice, a full table.
#include "productdesc.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "leadbyte.h"

namespace {

enum SectionId { SECTION_PRODUCT, SECTION_FILE, SECTION_FOLDER, SECTION_TEXT, SECTION_NONE };

struct Parser {
    ProductDescription* out;
    DescError* error;
    uint32_t line;
    SectionId section;
    uint32_t seen;  // bit per key row of the current section
    uint32_t sectionLine;
    bool productSeen;
    char fileName[DESC_NAME_SIZE];  // NAME of the current file, joined at its end
};

struct KeyRow {
    SectionId section;
    const char* name;  // upper case
    bool required;
    bool (*apply)(Parser* parser, const char* value);
};

bool Fail(Parser* parser, const char* format, ...)
{
    parser->error->line = parser->line;
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(parser->error->message, sizeof parser->error->message, format, arguments);
    va_end(arguments);
    // The Windows C runtime leaves a cut message unterminated.
    parser->error->message[sizeof parser->error->message - 1] = 0;
    return false;
}

bool IsSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char Upper(char c)
{
    return (c >= 'a' && c <= 'z') ? (char)(c - 'a' + 'A') : c;
}

// ASCII letters compared without case; other bytes as they are.
bool SameWord(const char* a, const char* b)
{
    for (; *a && *b; ++a, ++b)
        if (Upper(*a) != Upper(*b))
            return false;
    return *a == *b;
}

// Same as SameWord, but a double-byte character is compared whole.
bool SameName(const char* a, const char* b)
{
    while (*a && *b) {
        if (IsLeadByte(*a)) {
            if (a[0] != b[0] || a[1] != b[1])
                return false;
            if (!a[1])
                return true;
            a += 2;
            b += 2;
            continue;
        }
        if (Upper(*a++) != Upper(*b++))
            return false;
    }
    return *a == *b;
}

bool Store(Parser* parser, char* field, size_t size, const char* value)
{
    if (!*value)
        return Fail(parser, "empty value");
    if (strlen(value) >= size)
        return Fail(parser, "value longer than %u characters", (unsigned)(size - 1));
    strcpy(field, value);
    return true;
}

// A relative path whose every part is a plain name: no drive, no leading
// or doubled backslash, no "." or "..", no character a file name cannot
// hold. A backslash inside a double-byte character is part of it.
bool PlainPath(const char* path, bool allowSeparators)
{
    if (!*path)
        return false;
    const char* part = path;
    for (const char* p = path;; ++p) {
        if (*p && IsLeadByte(*p) && p[1]) {
            ++p;
            continue;
        }
        if (*p == '\\' || *p == 0) {
            size_t length = (size_t)(p - part);
            if (length == 0 || (length == 1 && part[0] == '.') || (length == 2 && part[0] == '.' && part[1] == '.'))
                return false;
            if (part[length - 1] == ' ' || part[length - 1] == '.')
                return false;  // the system would drop them: another name than written
            if (*p == 0)
                return true;
            if (!allowSeparators)
                return false;
            part = p + 1;
            continue;
        }
        if ((unsigned char)*p < 0x20 || strchr("/:*?\"<>|", *p))
            return false;
    }
}

struct FolderToken {
    const char* name;
    uint32_t dirId;
};
const FolderToken kFolderTokens[] = {
    {"TARGET", DESC_DIR_TARGET},     {"WINDOWS", DESC_DIR_WINDOWS}, {"SYSTEM", DESC_DIR_SYSTEM},
    {"SYSTEM16", DESC_DIR_SYSTEM16}, {"DRIVERS", DESC_DIR_DRIVERS},
};

// "TOKEN" or "TOKEN\sub\path": the folder's id and the sub-path (empty).
bool ReadFolder(Parser* parser, const char* value, uint32_t* dirId, const char** rest)
{
    char token[16];
    size_t length = strcspn(value, "\\");
    if (length >= sizeof token)
        return Fail(parser, "unknown folder token in \"%s\"", value);
    memcpy(token, value, length);
    token[length] = 0;
    for (const FolderToken& row : kFolderTokens) {
        if (!SameWord(token, row.name))
            continue;
        *dirId = row.dirId;
        *rest = value[length] ? value + length + 1 : "";
        if (value[length] && !PlainPath(*rest, true))
            return Fail(parser, "path \"%s\" leaves its folder or is not a plain path", value);
        return true;
    }
    return Fail(parser, "unknown folder token \"%s\"", token);
}

bool ReadYesNo(Parser* parser, const char* value, bool* yes)
{
    if (SameWord(value, "YES"))
        *yes = true;
    else if (SameWord(value, "NO"))
        *yes = false;
    else
        return Fail(parser, "\"%s\" is neither YES nor NO", value);
    return true;
}

bool ReadNumber(const char* text, uint32_t limit, uint32_t* number)
{
    if (!*text)
        return false;
    uint32_t value = 0;
    for (; *text; ++text) {
        if (*text < '0' || *text > '9')
            return false;
        value = value * 10 + (uint32_t)(*text - '0');
        if (value > limit)
            return false;
    }
    *number = value;
    return true;
}

// ---------------------------------------------------------------- [PRODUCT]

bool SetMaker(Parser* p, const char* v) { return Store(p, p->out->maker, sizeof p->out->maker, v); }
bool SetProduct(Parser* p, const char* v) { return Store(p, p->out->product, sizeof p->out->product, v); }
// An archive entry's name: one plain name, no path.
bool StoreEntry(Parser* p, char* field, const char* v)
{
    return PlainPath(v, false) ? Store(p, field, DESC_NAME_SIZE, v) : Fail(p, "\"%s\" is not an entry name", v);
}
bool SetRegistry(Parser* p, const char* v) { return StoreEntry(p, p->out->registry, v); }
bool SetReadme(Parser* p, const char* v) { return StoreEntry(p, p->out->readme, v); }
bool SetPicture(Parser* p, const char* v) { return StoreEntry(p, p->out->picture, v); }
bool SetLogo(Parser* p, const char* v) { return StoreEntry(p, p->out->logo, v); }
// Whether text holds a backslash; a double-byte character's second byte
// is none.
bool HasBackslash(const char* text)
{
    for (; *text; ++text) {
        if (IsLeadByte(*text) && text[1])
            ++text;
        else if (*text == '\\')
            return true;
    }
    return false;
}
// The uninstall entry is a registry key of its own: a backslash would make
// it a key below another.
bool SetUninstallName(Parser* p, const char* v)
{
    if (HasBackslash(v))
        return Fail(p, "an uninstall name cannot hold a backslash");
    return Store(p, p->out->uninstallName, sizeof p->out->uninstallName, v);
}

bool SetVersion(Parser* p, const char* v)
{
    if (!ParseProductVersion(v, p->out->versionParts))
        return Fail(p, "version \"%s\" is not four numbers of 0 to 65535 with dots (1.2.0.3)", v);
    return Store(p, p->out->version, sizeof p->out->version, v);
}

// PROGRAMFILES, WINDOWS, SYSTEM or DRIVERS with a sub-path.
bool SetTarget(Parser* p, const char* v)
{
    size_t length = strcspn(v, "\\");
    const char* rest = v[length] ? v + length + 1 : "";
    char token[16];
    if (length >= sizeof token)
        return Fail(p, "unknown target folder token in \"%s\"", v);
    memcpy(token, v, length);
    token[length] = 0;
    if (SameWord(token, "PROGRAMFILES")) {
        p->out->targetBase = DESC_TARGET_PROGRAM_FILES;
    } else {
        uint32_t dirId = 0;
        for (const FolderToken& row : kFolderTokens)
            if (row.dirId != DESC_DIR_TARGET && SameWord(token, row.name))
                dirId = row.dirId;
        if (!dirId)
            return Fail(p, "unknown target folder token \"%s\"", token);
        p->out->targetBase = dirId;
    }
    if (v[length] && !PlainPath(rest, true))
        return Fail(p, "path \"%s\" leaves its folder or is not a plain path", v);
    return *rest ? Store(p, p->out->targetPath, sizeof p->out->targetPath, rest) : true;
}

// ---------------------------------------------------------------- [FILE]

DescFile* CurrentFile(Parser* p)
{
    return &p->out->files[p->out->fileCount - 1];
}

bool SetEntry(Parser* p, const char* v) { return StoreEntry(p, CurrentFile(p)->entry, v); }

// The folder now; the name joins it when the section ends.
bool SetFileFolder(Parser* p, const char* v)
{
    const char* rest;
    DescFile* file = CurrentFile(p);
    if (!ReadFolder(p, v, &file->dirId, &rest))
        return false;
    return *rest ? Store(p, file->target, sizeof file->target, rest) : true;
}

bool SetFileName(Parser* p, const char* v)
{
    if (!PlainPath(v, false))
        return Fail(p, "\"%s\" is not a file name", v);
    return Store(p, p->fileName, sizeof p->fileName, v);
}

struct FamilyWord {
    const char* name;
    uint32_t flag;
};
const FamilyWord kFamilies[] = {{"95", DESC_ON_95}, {"NT", DESC_ON_NT}, {"2KXP", DESC_ON_2KXP}};

bool SetFamilies(Parser* p, const char* v)
{
    DescFile* file = CurrentFile(p);
    file->flags &= ~(uint32_t)DESC_ON_EVERY_FAMILY;
    char word[DESC_LINE_SIZE];
    for (const char* at = v; *at;) {
        size_t length = strcspn(at, " \t,");
        memcpy(word, at, length);
        word[length] = 0;
        uint32_t flag = 0;
        for (const FamilyWord& row : kFamilies)
            if (SameWord(word, row.name))
                flag = row.flag;
        if (!flag)
            return Fail(p, "unknown family \"%s\" (95, NT or 2KXP)", word);
        if (file->flags & flag)
            return Fail(p, "family \"%s\" named twice", word);
        file->flags |= flag;
        at += length;
        while (*at == ' ' || *at == '\t' || *at == ',')
            ++at;
    }
    return true;
}

bool SetGroup(Parser* p, const char* v)
{
    return ReadNumber(v, 0xFFFF, &CurrentFile(p)->group) ? true
                                                          : Fail(p, "group \"%s\" is not a number of 0 to 65535", v);
}

bool SetFileFlag(Parser* p, const char* v, uint32_t flags, bool whenYes)
{
    bool yes = false;
    if (!ReadYesNo(p, v, &yes))
        return false;
    if (yes == whenYes)
        CurrentFile(p)->flags |= flags;
    return true;
}
bool SetRestart(Parser* p, const char* v) { return SetFileFlag(p, v, DESC_AT_RESTART | DESC_MOVE_NOW, true); }
bool SetBackup(Parser* p, const char* v) { return SetFileFlag(p, v, DESC_NO_BACKUP, false); }
bool SetCompare(Parser* p, const char* v)
{
    if (SameWord(v, "TIME"))
        CurrentFile(p)->flags |= DESC_NO_VERSION;
    else if (!SameWord(v, "VERSION"))
        return Fail(p, "\"%s\" is neither VERSION nor TIME", v);
    return true;
}

// ---------------------------------------------------------------- [FOLDER]

bool SetFolderPath(Parser* p, const char* v)
{
    DescFolder* folder = &p->out->folders[p->out->folderCount - 1];
    const char* rest;
    if (!ReadFolder(p, v, &folder->dirId, &rest))
        return false;
    if (!*rest)
        return Fail(p, "\"%s\" names no folder below its token", v);
    return Store(p, folder->path, sizeof folder->path, rest);
}

// ---------------------------------------------------------------- [TEXT]

// "\n" becomes a line break and "\\" a backslash; a backslash inside a
// double-byte character is left alone.
bool SetWelcome(Parser* p, const char* v)
{
    char* out = p->out->texts[p->out->textCount - 1].welcome;
    size_t length = 0;
    for (const char* at = v; *at; ++at) {
        char c = *at;
        if (IsLeadByte(c) && at[1]) {
            if (length + 2 >= DESC_TEXT_SIZE)
                return Fail(p, "welcome text too long");
            out[length++] = *at++;
            out[length++] = *at;
            continue;
        }
        if (c == '\\' && (at[1] == 'n' || at[1] == '\\'))
            c = *++at == 'n' ? '\n' : '\\';
        if (length + 1 >= DESC_TEXT_SIZE)
            return Fail(p, "welcome text too long");
        out[length++] = c;
    }
    out[length] = 0;
    return true;
}

bool SetProductLine(Parser* p, const char* v)
{
    DescTexts* texts = &p->out->texts[p->out->textCount - 1];
    return Store(p, texts->productLine, sizeof texts->productLine, v);
}

const KeyRow kKeys[] = {
    {SECTION_PRODUCT, "MAKER", true, SetMaker},
    {SECTION_PRODUCT, "PRODUCT", true, SetProduct},
    {SECTION_PRODUCT, "VERSION", true, SetVersion},
    {SECTION_PRODUCT, "TARGET", false, SetTarget},
    {SECTION_PRODUCT, "REGISTRY", false, SetRegistry},
    {SECTION_PRODUCT, "README", false, SetReadme},
    {SECTION_PRODUCT, "UNINSTALL", false, SetUninstallName},
    {SECTION_PRODUCT, "PICTURE", false, SetPicture},
    {SECTION_PRODUCT, "LOGO", false, SetLogo},
    {SECTION_FILE, "ENTRY", true, SetEntry},
    {SECTION_FILE, "FOLDER", true, SetFileFolder},
    {SECTION_FILE, "NAME", false, SetFileName},
    {SECTION_FILE, "FAMILIES", false, SetFamilies},
    {SECTION_FILE, "GROUP", false, SetGroup},
    {SECTION_FILE, "RESTART", false, SetRestart},
    {SECTION_FILE, "BACKUP", false, SetBackup},
    {SECTION_FILE, "COMPARE", false, SetCompare},
    {SECTION_FOLDER, "PATH", true, SetFolderPath},
    {SECTION_TEXT, "WELCOME", true, SetWelcome},
    {SECTION_TEXT, "PRODUCTLINE", false, SetProductLine},
};

// The languages of the string tables.
const uint16_t kLanguages[] = {0x0404, 0x0407, 0x0409, 0x040A, 0x040C, 0x0410,
                               0x0411, 0x0413, 0x0416, 0x041D, 0x0804};

// ---------------------------------------------------------------- sections

bool SameTarget(const DescFile& a, const DescFile& b)
{
    return a.dirId == b.dirId && SameName(a.target, b.target) && (a.flags & b.flags & DESC_ON_EVERY_FAMILY);
}

// Checks the section that ends: its required keys, and for a file its
// whole destination and that no other file has its entry or destination.
bool EndSection(Parser* p)
{
    if (p->section == SECTION_NONE)
        return true;
    uint32_t bit = 1;
    for (const KeyRow& row : kKeys) {
        if (row.section != p->section)
            continue;
        if (row.required && !(p->seen & bit)) {
            p->line = p->sectionLine;
            return Fail(p, "section lacks %s", row.name);
        }
        bit <<= 1;
    }
    if (p->section != SECTION_FILE)
        return true;
    DescFile* file = CurrentFile(p);
    const char* name = p->fileName[0] ? p->fileName : file->entry;
    size_t used = strlen(file->target);
    if (used + (used ? 1 : 0) + strlen(name) >= sizeof file->target)
        return Fail(p, "destination of %s too long", file->entry);
    if (used)
        strcat(file->target, "\\");
    strcat(file->target, name);
    p->fileName[0] = 0;
    if (file->dirId == DESC_DIR_TARGET && SameName(file->target, DESC_UNINSTALLER_NAME)) {
        p->line = p->sectionLine;
        return Fail(p, "%s in the target folder is the uninstaller's name", file->target);
    }
    for (uint32_t i = 0; i + 1 < p->out->fileCount; ++i) {
        const DescFile& other = p->out->files[i];
        if (SameName(other.entry, file->entry) && (other.flags & file->flags & DESC_ON_EVERY_FAMILY)) {
            p->line = p->sectionLine;
            return Fail(p, "entry %s is named by two files", file->entry);
        }
        if (SameTarget(other, *file)) {
            p->line = p->sectionLine;
            return Fail(p, "two files go to %s", file->target);
        }
    }
    return true;
}

bool BeginSection(Parser* p, const char* line)
{
    if (!EndSection(p))
        return false;
    size_t length = strlen(line);
    if (line[length - 1] != ']')
        return Fail(p, "section line without ']'");
    char name[DESC_LINE_SIZE];
    memcpy(name, line + 1, length - 2);
    name[length - 2] = 0;
    p->seen = 0;
    p->sectionLine = p->line;
    ProductDescription* out = p->out;
    if (SameWord(name, "PRODUCT")) {
        if (p->productSeen)
            return Fail(p, "a second [PRODUCT] section");
        p->productSeen = true;
        p->section = SECTION_PRODUCT;
    } else if (SameWord(name, "FILE")) {
        if (out->fileCount == DESC_MAX_FILES)
            return Fail(p, "more than %d files", DESC_MAX_FILES);
        DescFile* file = &out->files[out->fileCount++];
        file->flags = DESC_ON_EVERY_FAMILY;
        p->section = SECTION_FILE;
    } else if (SameWord(name, "FOLDER")) {
        if (out->folderCount == DESC_MAX_FOLDERS)
            return Fail(p, "more than %d folders", DESC_MAX_FOLDERS);
        out->folderCount++;
        p->section = SECTION_FOLDER;
    } else {
        // TEXT, blanks, and the language id in hexadecimal.
        char word[5];
        memcpy(word, name, 4);
        word[4] = 0;
        if (strlen(name) < 5 || !SameWord(word, "TEXT") || !IsSpace(name[4]))
            return Fail(p, "unknown section [%s]", name);
        const char* id = name + 4;
        while (IsSpace(*id))
            ++id;
        uint32_t language = 0;
        if (id[0] == '0' && (id[1] == 'x' || id[1] == 'X'))
            id += 2;
        size_t digits = strspn(id, "0123456789abcdefABCDEF");
        if (digits == 0 || digits > 4 || id[digits])
            return Fail(p, "\"%s\" is not a language id", name + 4);
        for (size_t i = 0; i < digits; ++i)
            language = language * 16 + (uint32_t)(id[i] <= '9' ? id[i] - '0' : (Upper(id[i]) - 'A' + 10));
        bool known = false;
        for (uint16_t row : kLanguages)
            known = known || row == language;
        if (!known)
            return Fail(p, "no string table for language %04X", (unsigned)language);
        for (uint32_t i = 0; i < out->textCount; ++i)
            if (out->texts[i].language == language)
                return Fail(p, "a second section for language %04X", (unsigned)language);
        out->texts[out->textCount++].language = (uint16_t)language;
        p->section = SECTION_TEXT;
    }
    return true;
}

bool KeyLine(Parser* p, char* line)
{
    if (p->section == SECTION_NONE)
        return Fail(p, "a line before the first section");
    char* equals = strchr(line, '=');
    if (!equals)
        return Fail(p, "neither a section nor NAME = value");
    char* end = equals;
    while (end > line && IsSpace(end[-1]))
        --end;
    *end = 0;
    const char* value = equals + 1;
    while (IsSpace(*value))
        ++value;
    uint32_t bit = 1;
    for (const KeyRow& row : kKeys) {
        if (row.section != p->section)
            continue;
        if (SameWord(line, row.name)) {
            if (p->seen & bit)
                return Fail(p, "%s given twice in one section", row.name);
            p->seen |= bit;
            if (!*value)
                return Fail(p, "%s has no value", row.name);
            return row.apply(p, value);
        }
        bit <<= 1;
    }
    return Fail(p, "unknown key \"%s\" in this section", line);
}

// Defaults of what the description did not give.
bool Finish(Parser* p)
{
    ProductDescription* out = p->out;
    p->line = 0;
    if (!p->productSeen)
        return Fail(p, "no [PRODUCT] section");
    if (out->targetBase == 0) {
        out->targetBase = DESC_TARGET_PROGRAM_FILES;
        if (strlen(out->maker) + 1 + strlen(out->product) >= sizeof out->targetPath ||
            !PlainPath(out->maker, false) || !PlainPath(out->product, false))
            return Fail(p, "no TARGET, and maker and product make no folder name");
        strcat(strcat(strcpy(out->targetPath, out->maker), "\\"), out->product);
    }
    if (!out->uninstallName[0]) {
        if (strlen(out->maker) + 1 + strlen(out->product) >= sizeof out->uninstallName)
            return Fail(p, "no UNINSTALL, and maker and product are too long for one");
        strcat(strcat(strcpy(out->uninstallName, out->maker), " "), out->product);
        if (HasBackslash(out->uninstallName))
            return Fail(p, "no UNINSTALL, and maker or product holds a backslash");
    }
    for (uint32_t i = 0; i < out->textCount; ++i)
        if (!out->texts[i].productLine[0])
            strcpy(out->texts[i].productLine, out->product);
    for (uint32_t i = 0; i < out->fileCount; ++i)
        if (out->registry[0] && SameName(out->files[i].entry, out->registry))
            return Fail(p, "the registry script %s is also a file", out->registry);
    return true;
}

}  // namespace

// Four numbers of at most 65535, with dots between them.
bool ParseProductVersion(const char* text, uint16_t parts[4])
{
    const char* part = text;
    for (int i = 0; i < 4; ++i) {
        char number[8];
        size_t length = strcspn(part, ".");
        uint32_t value;
        if (length >= sizeof number || (i == 3) != (part[length] == 0))
            return false;
        memcpy(number, part, length);
        number[length] = 0;
        if (!ReadNumber(number, 65535, &value))
            return false;
        parts[i] = (uint16_t)value;
        part += length + 1;
    }
    return true;
}

bool ParseProductDescription(const char* text, size_t size, ProductDescription* out, DescError* error)
{
    memset(out, 0, sizeof *out);
    memset(error, 0, sizeof *error);
    Parser parser;
    memset(&parser, 0, sizeof parser);
    parser.out = out;
    parser.error = error;
    parser.section = SECTION_NONE;
    const char* end = size ? (const char*)memchr(text, 0, size) : NULL;
    if (!end)
        end = text + size;
    for (const char* at = text; at < end;) {
        ++parser.line;
        const char* stop = (const char*)memchr(at, '\n', (size_t)(end - at));
        const char* next = stop ? stop + 1 : end;
        if (!stop)
            stop = end;
        while (at < stop && IsSpace(*at))
            ++at;
        while (stop > at && IsSpace(stop[-1]))
            --stop;
        if (stop - at >= DESC_LINE_SIZE)
            return Fail(&parser, "line longer than %d characters", DESC_LINE_SIZE - 1);
        char line[DESC_LINE_SIZE];
        memcpy(line, at, (size_t)(stop - at));
        line[stop - at] = 0;
        at = next;
        if (!line[0] || line[0] == ';')
            continue;
        if (!(line[0] == '[' ? BeginSection(&parser, line) : KeyLine(&parser, line)))
            return false;
    }
    ++parser.line;
    return EndSection(&parser) && Finish(&parser);
}
