// Files in folders an ordinary user can write (Temp, the folder the
// installer sits in): whoever writes the folder decides what a name there
// means at each use, so a file there is opened once, without following a
// link or a reparse point, checked through its handle, and acted on through
// that handle. The 95 family has no links and no deletion through a
// handle; there the checks are those its file systems can fail.
#ifndef INSTALL_OWNFILE_H
#define INSTALL_OWNFILE_H

#include <windows.h>

// The flag that opens a reparse point itself instead of what it points
// at; 0 where the system has none.
DWORD NoFollowFlag(void);

// NULL when the file of handle is a plain disk file with one name, found
// at path itself (not reached through a link to another place); otherwise
// a few words on what it is, for the log.
const char* ForeignFileReason(HANDLE file, const char* path);

// The same for what is at path, opened without following a link; NULL
// also when nothing can be opened there.
const char* ForeignFileAt(const char* path);

// TRUE when the system deletes a file through a handle on it (the NT
// family): a file opened with FILE_FLAG_DELETE_ON_CLOSE is gone when it is
// closed, and no name needs to be deleted afterwards.
BOOL DeletesThroughHandles(void);

// Marks the file of handle (opened with DELETE access) for deletion when
// it is closed; FALSE when the system cannot.
BOOL DeleteWhenClosed(HANDLE file);

enum PlainDelete {
    PLAIN_DELETED,
    PLAIN_ABSENT,    // nothing at the path
    PLAIN_REFUSED,   // something that is no plain file of one name, left as it is
    PLAIN_FAILED     // a plain file that could not be deleted; the last error says why
};

// Deletes the plain file at path through a handle on the file itself.
// A read-only file is refused unless clearReadOnly. *reason receives the
// words of a refusal.
PlainDelete DeletePlainFile(const char* path, BOOL clearReadOnly, const char** reason);

#endif
