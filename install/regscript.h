// The text of a registry script: line reading, the section table, key and
// value lines, numbers and the directory macros. Plain C++ on bytes, with no
// system calls (but, on Windows, the ANSI code page's lead-byte test: case
// is never changed inside a double-byte character) and no logging, so it
// builds on any host and can be fuzzed:
// each function returns what it found and the interpreter (registry.cpp)
// decides what that means for the registry and the log.
#ifndef INSTALL_REGSCRIPT_H
#define INSTALL_REGSCRIPT_H

#include <stddef.h>
#include <stdint.h>

enum {
    SCRIPT_LINE_SIZE = 512,  // a line keeps at most 511 characters and its terminator
    SCRIPT_DATA_SIZE = 512,  // bytes of a REG_BINARY or REG_MULTI_SZ value at most
    SCRIPT_DIR_COUNT = 7     // directory texts by directory id, 0 unused (as in install.h)
};

// Section modes.
enum {
    SECTION_OPTIONAL = 0x01,  // keep an existing value of the same type
    SECTION_ON_95 = 0x10,
    SECTION_ON_NT = 0x20,
    SECTION_INITIAL = SECTION_ON_95 | SECTION_ON_NT  // required, every family
};

// The root a section line chooses for the key lines after it.
enum ScriptRoot { ROOT_NONE, ROOT_LOCAL_MACHINE, ROOT_CURRENT_USER, ROOT_CLASSES_ROOT };

struct ScriptSection {
    const char* name;  // the whole line, upper case
    ScriptRoot root;
    uint32_t andMask;  // modes = (modes AND andMask) OR orBits
    uint32_t orBits;
};

// Blank, tab, line feed, vertical tab, form feed and carriage return; never
// a byte of 0x80 and above.
bool IsScriptSpace(char c);

// The unread part of a script. The text ends at end or at its first zero byte.
struct ScriptCursor {
    const char* pos;
    const char* end;
};

// Reads the next line into line (SCRIPT_LINE_SIZE bytes): leading white
// space skipped (never past a line feed), at most 511 characters kept and
// the rest of the line passed over, trailing white space removed. The
// cursor moves past the line feed and every line feed right after it, so
// with LF line ends a run of empty lines reads as one line while with CR LF
// ends each empty line is a line of its own. FALSE at the end of the text.
bool ReadScriptLine(ScriptCursor* cursor, char* line);

enum ScriptLineKind {
    LINE_COMMENT,  // empty, or begins with ';'
    LINE_SECTION,  // begins with '['
    LINE_KEY,      // holds REGKEY anywhere, in any case
    LINE_VALUE     // anything else
};

// The kind of a line of ReadScriptLine; upper (SCRIPT_LINE_SIZE bytes)
// receives the line with a to z made upper case (empty for a comment), the
// second bytes of double-byte characters as they are.
ScriptLineKind ClassifyScriptLine(const char* line, char* upper);

// The section table's row whose name is the whole upper-case line, or NULL.
const ScriptSection* FindScriptSection(const char* upper);

// The key path of a key line: the text after its first '=' with leading
// blanks and tabs skipped (possibly empty). NULL when the line has no '='.
const char* ScriptKeyPath(const char* line);

// A value line "name = TYPE:data" taken apart in place; each part points
// into the line.
struct ScriptValue {
    const char* name;      // trailing blanks and tabs removed; "@" (the default value) becomes ""
    const char* typeWord;  // upper case, up to the ':' (blanks before it stay part of it)
    const char* data;      // everything after the ':', unchanged
};

enum ValueSplit { VALUE_OK, VALUE_NO_EQUALS, VALUE_NO_COLON };

// Splits a line of ReadScriptLine: the name ends at the first '=', and the
// type word runs from the first character after it that is neither blank
// nor tab up to the first ':' from there. The line is changed (terminators
// are written into it) only when the result is VALUE_OK.
ValueSplit SplitValueLine(char* line, ScriptValue* value);

enum ScriptDataKind { DATA_TEXT, DATA_NUMBER, DATA_BYTES };

// Registry value types by the numbers the registry uses.
enum { SCRIPT_REG_SZ = 1, SCRIPT_REG_BINARY = 3, SCRIPT_REG_DWORD = 4, SCRIPT_REG_MULTI_SZ = 7 };

struct ScriptValueType {
    const char* word;  // as written in the script (upper case) and in the log
    uint32_t regType;
    ScriptDataKind kind;
};

// The row of an upper-case type word, or NULL for a word that is none.
const ScriptValueType* FindValueType(const char* typeWord);

// An unsigned 32-bit number as the C library's unsigned conversion with
// base 0 reads it: leading white space, an optional sign ('-' negates modulo
// 2^32), then 0x hexadecimal, 0 octal or decimal digits; a value beyond 32
// bits gives 0xFFFFFFFF. *end (when end is not NULL) is where reading
// stopped, or text itself when there was no number there (the result is 0).
uint32_t ReadScriptNumber(const char* text, const char** end);

// The data of a REG_BINARY or REG_MULTI_SZ line: a byte count, then that
// many numbers, each kept to its low 8 bits, into bytes (SCRIPT_DATA_SIZE
// bytes). Bytes the data does not spell out (it ran out, or something that
// is not a number stopped the reading) are 0. A count above
// SCRIPT_DATA_SIZE is cut to it and sets *truncated. Returns the count.
uint32_t ReadScriptBytes(const char* data, uint8_t* bytes, bool* truncated);

// Replaces every occurrence of token in text (a buffer of size bytes) by
// value, searching again from the start of the text after each one. FALSE
// when the grown text would not fit in size bytes: the text is then left
// part-way and must not be used. A token replaced by itself changes nothing.
bool ReplaceMacro(char* text, size_t size, const char* token, const char* value);

// Replaces the five directory macros of a REG_SZ text, in table order:
// %%TARGETDIR%%, %%WINDIR%%, %%WINSYS16DIR%%, %%WINSYSDIR%%, %%WINDRIVERDIR%%,
// with dirs[2] to dirs[6] (Target, Windows, System16, System32, Drivers).
// FALSE when the expanded text would not fit in size bytes.
bool ExpandDirectoryMacros(char* text, size_t size, const char* const* dirs);

#endif
