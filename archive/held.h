// The NT family's native file calls that name a file relative to an open
// folder handle instead of by a path: what they reach is in that very
// folder, whatever has since been done to the names that led to it. The
// 95 family has no such calls, and no links or junctions to follow either.
#ifndef CX_HELD_H
#define CX_HELD_H

#ifdef _WIN32
#include <windows.h>

// Whether the native calls are there (the NT family).
bool cxHeldAvailable(void);
// What cxHeldOpen does when name is there, or is not: the native call's
// dispositions.
enum CxHeldDisposition { CX_HELD_OPEN = 1, CX_HELD_CREATE = 2, CX_HELD_OPEN_IF = 3 };

// Opens name (one level, in the ANSI code page) in folder: a folder when
// directory is set, else a file; CX_HELD_CREATE makes it exclusively. A
// link or junction at name is opened itself, not followed, where the
// system can tell them apart.
// INVALID_HANDLE_VALUE with the system's error code in *error on failure.
HANDLE cxHeldOpen(HANDLE folder, const char* name, ACCESS_MASK access, ULONG share,
                  CxHeldDisposition disposition, bool directory, DWORD* error);
// Whether folder lists name as opened: no link or junction, and (where the
// listing gives file ids) the very file or folder that opened is.
bool cxHeldListedAs(HANDLE folder, const char* name, HANDLE opened);
// Gives the open file (opened with DELETE access) the name in folder, in
// place of a file of that name.
bool cxHeldRename(HANDLE file, HANDLE folder, const char* name, DWORD* error);
// Marks the open file (opened with DELETE access) to go at its last close.
bool cxHeldDelete(HANDLE file);
// Makes the open file read-only.
bool cxHeldSetReadOnly(HANDLE file);
#endif

#endif
