// What the archive engine's own modules share and callers never see.
#ifndef CXINT_H
#define CXINT_H

#include "cx.h"

// ---- engine.cpp: callbacks and buffers --------------------------------
// Calls the event callback when one is set; returns its result, else 0.
int16_t cxNotify(EntryInfo* record, int16_t code, int32_t value);
// Calls the overwrite callback; without one, existing files are overwritten (returns 1).
int16_t cxAskOverwrite(EntryInfo* record);
bool cxHasCallback(void);
// Keeps errno of a failed file operation for cxSystemError.
void cxNoteSystemError(void);
// Allocates *size bytes, halving *size while the allocation fails and it is
// at least 512. Returns null (and leaves *size below 512) when none succeeds.
void* cxAllocHalving(uint32_t* size);

// ---- crc.cpp: CRC-32 as zlib computes it -------------------------------
// Builds the table when needed; false when it cannot be allocated.
bool cxCrcReady(void);
void cxCrcRelease(void);
// Running value update (no pre- or post-complement): start at 0xFFFFFFFF,
// complement at the end.
uint32_t cxCrcUpdate(uint32_t running, const void* data, size_t length);

// ---- expand.cpp ---------------------------------------------------------
void cxExpandRelease(void);  // releases the literal/length table (cxTerm)

// ---- pack.cpp -------------------------------------------------------------
// Set by the add pass when the archive already holds an entry of the same
// name; the pack driver reports CXCB_REPLACE instead of CXCB_PACK and clears it.
extern bool cxReplacingEntry;

// ---- header.cpp -------------------------------------------------------------
// Skips the stored data of the entry just read (seek forward by packed size).
int16_t cxSkipEntryData(EntryInfo* record);

// ---- platform.cpp: all that differs between Windows and POSIX ---------------
// Free bytes of the drive (Windows) or file system (POSIX) holding path,
// saturated at 2,147,483,647; -1 when the system cannot report them.
// *drive receives the drive number (0 = A; 0 on POSIX).
int32_t cxPlatFreeBytes(const char* path, int* drive);
// True when path lies on a removable drive (never on POSIX).
bool cxPlatIsRemovable(const char* path);
// Status of a file by name; false when it does not exist.
bool cxPlatStat(const char* path, CxFileStat* status);
// Sets mode (a clear owner-write bit 0x80 makes it read-only) and times.
bool cxPlatSetModeTime(const char* path, uint16_t mode, uint32_t time);
// Sets the permission bits alone (POSIX; nothing to do on Windows).
bool cxPlatSetMode(const char* path, uint16_t mode);
bool cxPlatMakeDir(const char* path);
bool cxPlatIsWritable(const char* path);
// Absolute form of path (native separators); false on failure.
bool cxPlatFullPath(const char* path, char* out, size_t outSize);
bool cxPlatCurrentDir(char* out, size_t outSize);
// Calls visit(name, context) for each regular file of directory, in listing
// order; directories are passed over. False when the directory cannot be read.
bool cxPlatListDir(const char* directory, void (*visit)(const char* name, void* context),
                   void* context);
// The native directory separator ('\\' on Windows, '/' on POSIX).
char cxPlatSeparator(void);
// Bytes of the character at text: 2 on Windows for a double-byte character
// of the ANSI code page (its second byte may be a letter or '\\'), else 1.
// UTF-8 never puts an ASCII byte inside a character, so POSIX counts bytes.
size_t cxPlatCharSize(const char* text);


// ---- additions: file-system paths and slot paths ----------------------------
#include <stdio.h>
// Opens a file by the caller's path (turned into the native form) with a C
// runtime mode; null on failure.
FILE* cxPlatOpen(const char* path, const char* mode);
bool cxPlatRemove(const char* path);
bool cxPlatRename(const char* from, const char* to);
// True when path names an existing file or directory.
bool cxPlatExists(const char* path);
// The path a slot was opened with, unchanged (the real name on a
// case-sensitive file system); null when the slot is not open.
const char* cxSlotPath(int slot);
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
};
// Adds name (a copy) with value; an existing name keeps its value. False
// when out of memory.
bool cxNamePut(CxNameMap* map, const char* name, void* value);
void* cxNameGet(const CxNameMap* map, const char* name);  // null when absent
bool cxNameHas(const CxNameMap* map, const char* name);
void cxNameClear(CxNameMap* map);

// ---- additions: archive state shared by archive.cpp and process.cpp -----------
enum { CX_OP_DONE = 0, CX_OP_ADD = 1, CX_OP_DELETE = 2, CX_OP_EXTRACT = 3 };
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
    char* tempPath;
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
// Upper-cases ASCII letters in place.
void cxUpper(char* text);
// Heap copy of text (null when out of memory).
char* cxDup(const char* text);

#endif
