// Small text helpers shared by the installer modules. Case conversion touches
// the ASCII letters only, whatever the code page, and every copy is bounded
// by the size of its destination.
#ifndef INSTALL_TEXT_H
#define INSTALL_TEXT_H

#include <windows.h>

void AsciiUpperCase(char* text);
void AsciiLowerCase(char* text);
int AsciiCompareNoCase(const char* a, const char* b);

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
