// Small text helpers shared by the installer modules. Text is in the
// system's ANSI code page, which may be a double-byte one (Japanese, Chinese,
// Korean): the second byte of such a character can be an ASCII letter or a
// backslash. Case conversion touches the ASCII letters only and every search
// for a separator or a dot looks at whole characters, so neither ever
// changes or splits a double-byte character. Every copy is bounded by the
// size of its destination.
#ifndef INSTALL_TEXT_H
#define INSTALL_TEXT_H

#include <windows.h>

void AsciiUpperCase(char* text);
void AsciiLowerCase(char* text);
int AsciiCompareNoCase(const char* a, const char* b);

// The character after the one at p: two bytes on for the lead byte of a
// double-byte character (unless the text ends after it), else one.
const char* NextChar(const char* p);
// The last character of text that is one of the single-byte characters in
// set, or NULL when there is none.
const char* FindLastOf(const char* text, const char* set);
// TRUE when the last character of text is '\' or '/'.
BOOL EndsWithSeparator(const char* text);

// Copies src into dst (room for size bytes, terminator included); returns
// FALSE when src had to be cut.
BOOL CopyText(char* dst, const char* src, DWORD size);
// Appends src to dst in the same way; FALSE when it had to be cut.
BOOL AppendText(char* dst, const char* src, DWORD size);

// The base name of a path: no directory (after the last '\', '/' or ':'),
// no extension (from the last '.' of that name on).
void GetBaseName(const char* path, char* out, DWORD size);

// The length of the directory part of a path: its name starts there, after
// the last '\\', '/' or ':' (the trail byte of a double-byte character is
// never taken for one).
DWORD DirectoryLength(const char* path);

// The base name of the running executable, e.g. "Setup" for C:\X\Setup.exe.
void GetProgramBaseName(char* out, DWORD size);

#endif
