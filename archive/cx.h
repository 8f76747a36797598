// The archive engine's interface: entry records, file slots, archives,
// entry reading and writing, expansion, packing and small utilities.
// Every operation returns a 16-bit signed code: 0 (or a slot number, offset
// or count) on success, a negative CX_E* code on failure.
#ifndef CX_H
#define CX_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Engine version 3.1, written into every entry header.
#define CX_VERSION 0x31
// Version needed by the entries the compressor writes (1.2).
#define CX_VERSION_PACKED 0x12

#define CX_SLOTS 20
#define CX_NAME_MAX 272        // EntryInfo.name, terminator included
#define CX_ENTRY_NAME_MAX 254  // longest name an entry header may carry

// Three kinds of code, each its own type so that one cannot be passed for
// another: results of operations (CxError), events given to the event
// callback (CxEvent) and the stop codes a callback sets in a record (CxStop).
// Operations return int16_t: 0 (or a slot number, offset or count) on
// success, else a CxError.
#define CX_ERROR_LIST(X)                                                                      \
    X(EFAIL, -1)       /* file cannot be opened, extraction failed, seek failed, short copy */ \
    X(ENOMEM, -3)      /* out of memory */                                                     \
    X(ENOFILE, -4)     /* archive file cannot be opened or does not exist */                  \
    X(ENOARCHIVE, -5)  /* no archive open, or the file holds no archive */                    \
    X(EHEADER, -6)     /* damaged entry header */                                             \
    X(ECHECK, -7)      /* check value mismatch (or damaged stream) */                         \
    X(ESLOT, -8)       /* slot not open, or file cannot be opened for the archive */          \
    X(EVERSION, -9)    /* entry needs a newer engine */                                       \
    X(EEND, -10)       /* end record reached */                                               \
    X(EOPEN, -11)      /* an archive is already open */                                       \
    X(EREAD, -12)      /* read error */                                                       \
    X(EWRITE, -13)     /* write error */                                                      \
    X(EARG, -14)       /* invalid argument */                                                 \
    X(ETEMP, -15)      /* temporary archive cannot be created or is not open */               \
    X(ESLOTS, -17)     /* all 20 slots in use */                                              \
    X(EPROTECTED, -29) /* protected entry left untouched (event only) */                      \
    X(ESTOPPED, -30)   /* stopped by a callback */                                            \
    X(ESHORT, -31)     /* packed output shorter than recorded */                              \
    X(ENOTSUP, -32)    /* not supported */                                                    \
    X(EDISK, -33)      /* not enough free disk space */                                       \
    X(EUNSAFE, -34)    /* entry name leads outside the destination (event; entry skipped) */  \
    X(ETOOLARGE, -35)  /* a file of 4 GiB or more, or an archive that would pass 2 GB */       \
    X(ETOOLONG, -36)   /* output path longer than a record holds (event; entry skipped) */    \
    X(ELINK, -37)      /* output path passes through a symbolic link below the destination   \
                          (event, value = length of the path up to the link; entry skipped) */

enum CxError : int16_t {
    CX_OK = 0,
#define CX_ERROR_CODE(name, value) CX_##name = value,
    CX_ERROR_LIST(CX_ERROR_CODE)
#undef CX_ERROR_CODE
};

// Event callback codes. A failure is reported to the callback as the event
// of the same (negative) code: CXCB_ECHECK for CX_ECHECK.
enum CxEvent : int16_t {
    CXCB_PACK = 1,          // file about to be packed as a new entry; then packing progress
    CXCB_DELETED = 2,       // entry deleted
    CXCB_EXPAND = 3,        // expansion or stored-copy progress
    CXCB_REPLACE = 4,       // file about to be packed to replace an entry of the same name
    CXCB_STORED = 5,        // stored entry about to be copied out
    CXCB_PACKED = 6,        // entry packed and written
    CXCB_EXTRACTED = 7,     // entry extracted completely
    CXCB_UNKNOWN = 8,       // unknown method, entry skipped
    CXCB_TEST = 9,          // cxTestFile started / progress
    CXCB_TESTED = 10,       // cxTestFile finished; value = computed check value
    CXCB_STOPPED = 30,      // processing ended because a callback set the stop code
    CXCB_ERROR = 31,        // processing ended after an error
    CXCB_PROTECTED = 42,    // protected entry about to be deleted or extracted
    CXCB_COPY = 43,         // byte-copy progress
    CXCB_OUTPUT = 44,       // entry about to be extracted; name holds the output path
    CXCB_BEGIN = 46,        // cxProcess started
    CXCB_END = 47,          // cxProcess ended
    CXCB_READONLY = 48,     // output exists and is read-only
    CXCB_RENAME = 49,       // rename of the temporary output failed
    CXCB_SEARCH = 50,       // signature search progress
    CXCB_OPENED = 51,       // archive opened
    CXCB_CLOSED = 52,       // archive closed
    CXCB_ADDED = 53,        // files of one add pattern packed; value = count
#define CX_ERROR_EVENT(name, value) CXCB_##name = value,
    CX_ERROR_LIST(CX_ERROR_EVENT)
#undef CX_ERROR_EVENT
};

// The event that reports a failed operation's result (a CxError) on.
inline CxEvent cxFailureEvent(int16_t error) {
    return (CxEvent)error;
}

// Stop codes: a callback asks the engine to stop by setting the record's
// stop code to CX_STOP; the engine sets CX_STOP_ERROR when it stops after
// an error.
enum CxStop : int16_t { CX_GO_ON = 0, CX_STOP = 30, CX_STOP_ERROR = 31 };

// cxSetCallback codes.
#define CX_CALLBACK_EVENT 100
#define CX_CALLBACK_OVERWRITE 101

// cxOpenFile mode flags.
#define CX_READ 1
#define CX_WRITE 2
#define CX_APPEND 4
#define CX_CREATE 8

// cxOpenArchive flags.
#define CX_ARC_PATHS 0x01     // entry names keep their directory part
#define CX_ARC_READONLY 0x10  // no temporary archive; add and delete do nothing
#define CX_ARC_KEEPCASE 0x20  // added entries keep their names' letter case (origin code 3)
#define CX_ARC_ASGIVEN 0x40   // the archive is the file named, whatever its extension
#define CX_ARC_GOON 0x80      // a failed extraction is reported and the pass goes on
#define CX_ARC_BEST 0x100     // added files are packed with CX_PACK_BEST

// Entry methods, origin codes and flags.
#define CX_METHOD_STORED 1
#define CX_METHOD_PACKED 2
#define CX_ORIGIN_ENGINE 16
#define CX_ORIGIN_KEEPCASE 3
#define CX_FLAG_PROTECTED 4

// One entry header in memory; also what every callback receives.
struct EntryInfo {
    int32_t source;        // slot read from, -1 none
    int32_t destination;   // slot written to, -1 none
    uint32_t versionMadeBy;
    uint32_t versionNeeded;
    uint32_t nameLength;
    uint32_t time;         // seconds since 1970-01-01 UTC
    uint16_t mode;         // stat layout: 0x8000 regular file + permission bits
    uint32_t ownerId;
    uint32_t groupId;
    uint32_t packedSize;
    uint32_t unpackedSize;
    uint32_t checkValue;   // CRC-32 of the stored bytes
    uint32_t method;
    uint32_t originCode;
    uint32_t flags;
    uint32_t spare;
    uint32_t extraLength;
    uint8_t reserved[5];
    CxStop stopCode;
    char name[CX_NAME_MAX];
};

// Event and overwrite callbacks: callback(record, event, value).
typedef int16_t (*CxCallback)(EntryInfo* record, CxEvent event, int32_t value);

// Every allocation of the engine goes through one allocator: malloc and free
// unless a caller sets another (a test that fails the n-th allocation).
// allocate returns null when it cannot; release is given only blocks that
// allocate returned.
struct CxAllocator {
    void* (*allocate)(size_t size, void* context);
    void (*release)(void* block, void* context);
    void* context;
};
void cxSetAllocator(const CxAllocator* allocator);  // null: malloc and free

// What cxStat reports of a slot's file.
struct CxFileStat {
    uint32_t size;
    uint32_t mtime;  // seconds since 1970-01-01 UTC, clamped to what 32 bits hold
    uint16_t mode;   // stat layout
    uint32_t ownerId;
    uint32_t groupId;
    bool tooLarge;   // 4 GiB or more: size holds only the low 32 bits
    bool timeClamped;  // the modification time lies outside 1970..2106
};

// Set-up.
int16_t cxInit(void);
int16_t cxTerm(void);
int16_t cxSetCallback(int code, CxCallback callback);
int16_t cxSetTempDir(const char* directory);

// File slots.
int16_t cxOpenFile(const char* path, int mode);
// A slot over a stream the caller opened (binary) and keeps: closing the
// slot flushes it and leaves it open. name is the slot's name.
int16_t cxOpenStream(FILE* stream, const char* name);
// A new file for path that appears there only when whole: the slot (read
// and write) is a new empty file made exclusively, under an unpredictable
// name, never through a link, in path's directory; -8 when none can be
// made there. cxPlaceOutput gives it mode (less what the user's
// file-creation mask withholds; never setuid or setgid) and, unless time is
// negative, its modification time, then puts it at path in place of what
// is there (a link there is replaced, never followed) and closes the slot:
// 0, -13 when buffered bytes cannot be written, -1 when it cannot be put in
// place (it is then removed). cxCloseFile removes it instead.
int16_t cxOpenOutput(const char* path);
int16_t cxPlaceOutput(int slot, uint16_t mode, int64_t time);
int16_t cxCloseFile(int slot);
int32_t cxRead(int slot, void* buffer, uint32_t count);
int32_t cxWrite(int slot, const void* buffer, uint32_t count);
int cxReadByte(int slot);                              // -1 bad slot or end of file
int32_t cxTell(int slot);                              // -1 bad slot
int32_t cxSeek(int slot, int32_t offset, int origin);  // SEEK_SET/CUR/END; new position or -1
int cxEof(int slot);                                   // nonzero at end of file or bad slot
int16_t cxStat(int slot, CxFileStat* status);
const char* cxSlotName(int slot);                      // upper-case path, null when not open

// Archives.
int16_t cxOpenArchive(char* path, int flags);  // upper-cases path in place
// The archive in a stream the caller opened for reading and keeps (as
// cxOpenStream), opened read-only as CX_ARC_READONLY | CX_ARC_ASGIVEN would;
// name is the archive's name.
int16_t cxOpenArchiveStream(FILE* stream, const char* name);
int16_t cxExtract(const char* pattern, const char* directory);
int16_t cxAdd(const char* pattern);
int16_t cxDelete(const char* pattern);
// Exact forms for callers that choose the files and entries themselves: one
// file packed under the entry name given; one entry, named by its whole
// stored path (compared without regard to case), extracted or deleted.
int16_t cxAddFile(const char* path, const char* entryName);
int16_t cxExtractName(const char* name, const char* directory);
int16_t cxDeleteName(const char* name);
int16_t cxProcess(void);
// From the event callback of event 44 only: the entry goes into this file,
// which the caller has just created, empty, where nothing was (exclusively,
// never through a link), opened for writing in binary mode, and which the
// record's name then names. The engine writes the entry into it, gives it
// the entry's time and mode and closes it; nothing is renamed. It closes it
// also when the entry is skipped or its extraction fails: the file is then
// left to the caller. CX_EARG outside event 44, for a null file or a second
// one (the file is then still the caller's).
int16_t cxSetOutputFile(FILE* file);
// The open archive's slot, from cxOpenArchive to cxCloseArchive, for a
// caller that walks its entries itself: every walk of a run then reads the
// file the engine processes. CX_ENOARCHIVE when none is open.
int16_t cxArchiveSlot(void);
int16_t cxCloseArchive(void);
int16_t cxTestFile(EntryInfo* record);
// cxTestFile, then the entry expanded to nowhere with every check of
// cxExpandEntry; the position is left at the entry's first data byte.
int16_t cxTestEntry(EntryInfo* record);
int16_t cxCheckArchive(const char* path);

// Entries.
int32_t cxFindEntrySignature(const char* path, int slot);
int32_t cxFindArchiveHeader(const char* path, int slot);
int16_t cxReadEntryHeader(EntryInfo* record);
int16_t cxWriteEntryHeader(EntryInfo* record);
int16_t cxFirstEntry(EntryInfo* record);
int16_t cxNextEntry(EntryInfo* record);
int16_t cxExpandEntry(EntryInfo* record);
// cxPackEntry options: the file replaces an entry of the same name (the
// first event is CXCB_REPLACE instead of CXCB_PACK); the near-optimal parse,
// slower, smaller output in the same stream format.
#define CX_PACK_REPLACING 1
#define CX_PACK_BEST 2
int16_t cxPackEntry(EntryInfo* record, unsigned options = 0);

// Utilities.
int16_t cxMatchName(char* pattern, char* name);  // upper-cases both in place
int16_t cxCheckPattern(const char* pattern);
// Creates a new empty file in directory, exclusively and never through a
// link, named by the prefix (at most 3 characters, "CX" when empty),
// unpredictable letters and digits up to 8 characters, and ".$$$"; returns
// its path (static buffer), or null when none can be made.
const char* cxTempName(const char* directory, const char* prefix);
int16_t cxCopyFile(const char* source, const char* destination);
// Free bytes of the drive or file system that holds path (which need not
// exist yet); -1 when the system cannot tell.
int64_t cxFreeSpace(const char* path);
int16_t cxRatio(const EntryInfo* record);
char cxSpinChar(void);
const char* cxFormatNumber(int32_t value);  // static buffer
// The system's error number (errno) of the last file operation that failed,
// 0 when none has; read it right after a failure is reported.
int cxSystemError(void);

#endif
