// What the archive engine's own modules share and callers never see.
#ifndef CXINT_H
#define CXINT_H

#include "cx.h"

#include <stdio.h>

// ---- engine.cpp: callbacks, allocation and buffers -------------------------
// Calls the event callback when one is set; returns its result, else 0.
int16_t cxNotify(EntryInfo* record, CxEvent event, int32_t value);
// Reports a failure through the callback as the event of its code.
inline int16_t cxNotify(EntryInfo* record, CxError error, int32_t value) {
    return cxNotify(record, cxFailureEvent(error), value);
}
// The same for a result held as a number (a CxError returned by a step).
inline int16_t cxNotifyFailure(EntryInfo* record, int16_t error, int32_t value) {
    return cxNotify(record, cxFailureEvent(error), value);
}
// Calls the overwrite callback; without one, existing files are overwritten (returns 1).
int16_t cxAskOverwrite(EntryInfo* record);
bool cxHasCallback(void);
// Keeps errno of a failed file operation for cxSystemError.
void cxNoteSystemError(void);
// Every allocation of the engine: through the allocator of cxSetAllocator.
void* cxAlloc(size_t size);
void* cxAllocZero(size_t size);  // zero-filled
void cxFree(void* block);         // null is allowed
// Allocates *size bytes, halving *size while the allocation fails and it is
// at least 512. Returns null (and leaves *size below 512) when none succeeds.
void* cxAllocHalving(uint32_t* size);

// ---- the entry header's fixed parts ------------------------------------------
// Lead: signature (4), version made by (1), version needed (1), name length
// (2). Body: time (4), mode (2), owner (2), group (2), packed size (4),
// unpacked size (4), check value (4), method, origin, flags and spare byte
// (1 each), reserved (5), extra length (2).
enum { CX_LEAD_SIZE = 8, CX_BODY_SIZE = 33, CX_HEADER_FIXED = CX_LEAD_SIZE + CX_BODY_SIZE };
static_assert(CX_LEAD_SIZE == 4 + 1 + 1 + 2, "entry lead layout");
static_assert(CX_BODY_SIZE == 4 + 2 + 2 + 2 + 4 + 4 + 4 + 4 * 1 + 5 + 2, "entry body layout");

// ---- crc.cpp: CRC-32 as zlib computes it -------------------------------
// Builds the table when needed; false when it cannot be allocated.
bool cxCrcReady(void);
void cxCrcRelease(void);
// Running value update (no pre- or post-complement): start at 0xFFFFFFFF,
// complement at the end.
uint32_t cxCrcUpdate(uint32_t running, const void* data, size_t length);


// ---- expand.cpp: free space within a processing run -------------------------
// From cxSpaceRunBegin to cxSpaceRunEnd (the span of cxProcess) the free
// space of a drive is asked of the system once and counted down by what the
// run writes there; see cxExpandEntry.
void cxSpaceRunBegin(void);
void cxSpaceRunEnd(void);

// ---- header.cpp -------------------------------------------------------------
// Skips the stored data of the entry just read (seek forward by packed size).
int16_t cxSkipEntryData(EntryInfo* record);

// ---- platform.cpp: all that differs between Windows and POSIX ---------------
// Free bytes of the drive (Windows) or file system (POSIX) holding path; -1
// when the system cannot report them. *drive receives the drive number
// (0 = A; 0 on POSIX).
int64_t cxPlatFreeBytes(const char* path, int* drive);
// The drive (0 = A) that holds path, which need not exist: its drive
// letter, else the current directory's. False when there is none, and on
// POSIX, where a path's file system is known only by asking for it.
bool cxPlatDriveOf(const char* path, int* drive);
// True when path lies on a removable drive (never on POSIX).
bool cxPlatIsRemovable(const char* path);
// Status of a file by name; false when it does not exist.
bool cxPlatStat(const char* path, CxFileStat* status);
// What a file put in place is given: its mode (a clear owner-write bit 0x80
// makes it read-only; the user's file-creation mask withholds its bits,
// setuid, setgid and sticky never kept) and, withTime, its times. With
// exactMode the file takes the place of one whose owner and group were
// ownerId and groupId: it keeps every permission bit of mode when it has
// that owner (setgid only with that group too), else it gets a new file's.
struct CxStamp {
    uint16_t mode;
    uint32_t time;
    bool withTime;
    bool exactMode;
    uint32_t ownerId = 0;
    uint32_t groupId = 0;
};
// The exactMode stamp for a file that replaces this open one.
bool cxPlatKeptStamp(FILE* file, CxStamp* stamp);
// Gives a file its caller created exclusively at path (cxSetOutputFile) its
// stamp: on the open file where the system allows it (the read-only
// attribute by name, once closed), then closes it. False when buffered
// bytes could not be written (the file is closed all the same).
bool cxPlatStampAndClose(FILE* file, const char* path, const CxStamp* stamp);
// Creates a new file by path, exclusively and never through a link (a link
// at path counts as an existing file), open for reading and writing.
FILE* cxPlatCreateNew(const char* path);
bool cxPlatMakeDir(const char* path);
// Absolute form of path (native separators); false on failure.
bool cxPlatFullPath(const char* path, char* out, size_t outSize);
bool cxPlatCurrentDir(char* out, size_t outSize);
// Calls visit(name, context) for each regular file of directory, in listing
// order; directories are passed over. CX_OK; CX_EFAIL when the directory
// cannot be read, CX_ENOMEM.
int16_t cxPlatListDir(const char* directory, void (*visit)(const char* name, void* context),
                   void* context);
// The native directory separator ('\\' on Windows, '/' on POSIX).
char cxPlatSeparator(void);
// Bytes of the character at text: 2 on Windows for a double-byte character
// of the ANSI code page (its second byte may be a letter or '\\'), else 1.
// UTF-8 never puts an ASCII byte inside a character, so POSIX counts bytes.
size_t cxPlatCharSize(const char* text);


// A directory that files are created in and put in place within. On POSIX
// it is held open, and every level below its base was opened without
// following a link, so no link planted in the folder, before or during the
// work, can send a file elsewhere. On the Windows NT family the base and
// every level below it are held open, each level opened in the folder held
// before it, and files are made, renamed and removed in the innermost one
// through handles: a level swapped for a junction after its check sends
// nothing elsewhere. The 95 family has no junctions or links; it works by
// path.
struct CxPlace {
    int fd;          // POSIX: the open directory; -1 when not open (Windows: 0 when open)
    char* path;      // the directory as a prefix of paths: "" or ending with a separator
    void* held;      // Windows NT: the handles of the base and the levels below it
    int heldCount;
};
// Opens base (links followed: the caller named it; missing levels are made
// when create is set), then each level of below ("a\\b", may be empty)
// without following links. A missing level is made when create is set;
// otherwise the place is left unopened (fd -1) and CX_OK returned. CX_ELINK
// when a level of below is a symbolic link (or junction): *linkEnd is then
// the length of base and below up to that level's end. CX_EFAIL when a level
// cannot be made or opened (cxSystemError says why), CX_ENOMEM.
int16_t cxPlatOpenPlace(const char* base, const char* below, bool create, CxPlace* place,
                        size_t* linkEnd);
void cxPlatClosePlace(CxPlace* place);
// The path of name in the place, a heap copy (null when out of memory).
char* cxPlatPathIn(const CxPlace* place, const char* name);
// Creates a new file in the place, exclusively and never through a link,
// named prefix, unpredictable letters and digits, ".$$$" (name receives it;
// room for 13 characters). A name that exists is taken: another is tried.
FILE* cxPlatCreateIn(const CxPlace* place, const char* prefix, char* name);
// Whether name exists in the place (a link counts as itself, never as what
// it names) and whether it may be written over.
bool cxPlatExistsIn(const CxPlace* place, const char* name, bool* writable);
bool cxPlatRemoveIn(const CxPlace* place, const char* name);
// Gives the open file 'temp' of the place its stamp (may be null), puts it
// in the place of 'final' (replacing what is there) and closes it. CX_OK;
// CX_EWRITE when buffered bytes could not be written (nothing is moved);
// CX_EFAIL when it cannot be put in place, or when what came to 'final' was
// not this file (another program replaced the temporary file first; what it
// put there is removed). The temporary file is left to the caller on failure.
int16_t cxPlatPlaceFile(const CxPlace* place, FILE* file, const char* temp, const char* final,
                        const CxStamp* stamp);

// ---- additions: file-system paths and slot paths ----------------------------
// Opens a file by the caller's path (turned into the native form) with a C
// runtime mode; null on failure.
FILE* cxPlatOpen(const char* path, const char* mode);
bool cxPlatRemove(const char* path);
// True when path names an existing file or directory.
bool cxPlatExists(const char* path);
// The path a slot was opened with, unchanged (the real name on a
// case-sensitive file system); null when the slot is not open.
const char* cxSlotPath(int slot);
// A file opened elsewhere (a temporary file made in a place) becomes a slot;
// the slot's name is path. The slot number, or CX_ESLOTS, CX_ENOMEM (the
// file is then still the caller's).
int16_t cxSlotAdopt(FILE* file, const char* path);
// Frees the slot without closing its file, which is returned (null when the
// slot is not open).
FILE* cxSlotDetach(int slot);
// Cuts the slot's file at its current position (after a shorter rewrite).
bool cxTruncate(int slot);
bool cxPlatTruncate(FILE* file);
// True when both paths name the same existing file.
bool cxPlatSameFile(const char* first, const char* second);

// ---- names.cpp: a map keyed by names compared as entry names are ------------
struct CxNameMap {
    struct Item {
        char* name;  // null: empty
        void* value;
    };
    Item* items;
    uint32_t capacity;  // a power of two
    uint32_t count;
    bool exactCase;     // letter case tells names apart (set before the first put)
};
// Adds name (a copy) with value; an existing name keeps its value. False
// when out of memory.
bool cxNamePut(CxNameMap* map, const char* name, void* value);
void* cxNameGet(const CxNameMap* map, const char* name);  // null when absent
bool cxNameHas(const CxNameMap* map, const char* name);
void cxNameClear(CxNameMap* map);

// ---- additions: archive state shared by archive.cpp and process.cpp -----------
enum { CX_OP_DONE = 0, CX_OP_ADD = 1, CX_OP_DELETE = 2, CX_OP_EXTRACT = 3 };
// Patterns queued (their base names) are shorter than this: they are
// matched in buffers of this size, which no allocation can fail.
enum { CX_MATCH_MAX = 1024 };
struct CxOperation {
    char* pattern;       // upper-case copy; an exact operation's entry name
    char* patternRaw;    // as given: an add pattern's directory is listed by it;
                         // an exact add's file path
    char* directory;     // extract only: upper-case, ends with "\\" unless empty or ":"
    char* directoryRaw;  // extract only: the same in the caller's letter case
    char* entryName;     // exact add only: the entry name in the caller's letter case
    bool exact;          // queued by cxAddFile, cxExtractName or cxDeleteName
    int order;           // place in the queue
    int type;
    CxOperation* next;
};
struct CxArchiveState {
    bool open;
    bool modified;
    bool readOnly;
    bool paths;
    int flags;
    char* path;          // upper-case archive name
    char* realPath;      // the same name in the caller's letter case
    int slot;
    CxStamp kept;        // what the rewritten archive keeps of the file it replaces
    CxPlace place;       // the archive's directory, where the temporary archive is
    char tempName[16];   // the temporary archive's name in it
    int tempSlot;
    CxOperation* operations;
    CxOperation* lastOperation;  // where the next one is appended
    int queued;                  // operations queued so far
};
extern CxArchiveState cxArchive;
// Copies count bytes from one slot to another at their current positions,
// reporting code 43 with the running total; stops when the record's stop
// code becomes 30. -30 stopped, -1 short, -3 no buffer, else 0.
int16_t cxCopyBytes(int from, int to, uint32_t count, EntryInfo* record);
// Lets cxProcess run its add pass; called by every open for writing.
void cxEnableAddPass(void);
// Where the file name at the end of path begins: after its last separator
// ("\\", "/" or ":"), looked for from the left a whole character at a time
// (the second byte of a double-byte character may be a backslash).
size_t cxFileNameAt(const char* path);
// The file name at the end of path.
inline const char* cxFileName(const char* path) {
    return path + cxFileNameAt(path);
}
// Opens the directory of path, all of it before the file name, as a place
// (cxPlatOpenPlace with nothing below it, nothing made).
int16_t cxOpenPlaceOf(const char* path, CxPlace* place);
// Upper-cases ASCII letters in place.
void cxUpper(char* text);
// Heap copy of text (null when out of memory).
char* cxDup(const char* text);

#endif
