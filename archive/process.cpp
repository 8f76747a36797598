// cxProcess: one pass that carries out the queued operations. New files are
// packed into the temporary archive first (add pass); then every entry of the
// archive is deleted, extracted, or copied into the temporary archive as the
// first matching operation says (entry pass); a changed archive gets its end
// record.
//
// Everything one pass keeps is one Pass, passed by pointer. An allocation
// that fails anywhere in the pass ends it with CX_ENOMEM and the archive as
// it was: a pass that went on would skip files or mismatch names silently.
//
// An entry is extracted into a new temporary file made exclusively in the
// output's own directory, which is reached from the destination without
// following links: an entry whose path below the destination passes through
// a symbolic link is refused (CX_ELINK), as is any other way out. A caller
// that names the output at event 44 may instead give a file it has just
// created there, exclusively: the entry is then written straight into it.
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

namespace {

// Longest output path; longer ones are refused (a cut path would name
// another file, or two entries the same one).
const size_t kOutputMax = 268;
// Offsets in the archive are 32-bit signed: it cannot grow past this.
const uint32_t kArchiveMax = 0x7FFFFFFFu;
// Output buffer of an extracted file: the expander writes chunks of its
// window's size, and each one the C runtime passes on is a system call.
const size_t kOutputBuffer = 65536;

// State of one cxProcess call. Names are looked up in maps so that a pass
// over n entries with n queued names stays linear.
struct Pass {
    CxNameMap added;         // names the add pass packed: those entries are replaced
    CxNameMap inArchive;     // names the archive held before (read on first need)
    bool inArchiveRead;
    CxNameMap exactOps;      // exact extract and delete operations by entry name
    const CxOperation** patternOps;  // the other extract and delete operations, in order
    int patternCount;
    int notDone;             // operations not marked done
    bool outOfMemory;        // an allocation failed: the pass ends with CX_ENOMEM
};

void endPass(Pass* pass) {
    cxNameClear(&pass->added);
    cxNameClear(&pass->inArchive);
    cxNameClear(&pass->exactOps);
    cxFree(pass->patternOps);
    *pass = Pass();
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

char upperChar(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

bool startsWithName(const char* text, const char* lead) {
    while (*lead && upperChar(*lead) == upperChar(*text)) {
        ++lead;
        ++text;
    }
    return *lead == 0;
}

void setName(EntryInfo* record, const char* name) {
    strncpy(record->name, name, CX_NAME_MAX - 1);
    record->name[CX_NAME_MAX - 1] = 0;
    record->nameLength = (uint32_t)strlen(record->name);
}

// cxMatchName works in place; both sides are matched as copies. Queued
// patterns are shorter than CX_MATCH_MAX, and so are names of files and
// entries.
bool matches(const char* pattern, const char* name) {
    char p[CX_MATCH_MAX], n[CX_MATCH_MAX];
    if (strlen(pattern) >= CX_MATCH_MAX || strlen(name) >= CX_MATCH_MAX) return false;
    strcpy(p, pattern);
    strcpy(n, name);
    return cxMatchName(p, n) == 0;
}

// A name that may be put below a destination directory: no drive, no
// leading separator, no component that names the directory itself or its
// parent (Windows drops trailing dots and spaces, so ".. " counts too).
bool staysInside(const char* name) {
    if (!*name || isSeparator(*name) || (cxPlatSeparator() == '\\' && strchr(name, ':'))) return false;
    const char* component = name;
    for (;;) {
        const char* end = component;
        while (*end && !isSeparator(*end)) ++end;
        bool onlyDots = end > component;
        for (const char* p = component; p < end; ++p) {
            if (*p != '.' && *p != ' ') onlyDots = false;
        }
        if (onlyDots) return false;
        if (!*end) return end > component;  // a trailing separator names no file
        component = end + 1;
    }
}

// ---- copying an entry unchanged into the temporary archive ---------------

int16_t copyEntry(EntryInfo* record, int32_t dataStart) {
    if (cxSeek(record->source, dataStart, SEEK_SET) != dataStart) return CX_EFAIL;
    record->destination = cxArchive.tempSlot;
    int32_t at = cxTell(record->destination);
    if (at < 0 || (uint64_t)at + CX_HEADER_FIXED + strlen(record->name) + record->packedSize > kArchiveMax) {
        cxNotifyFailure(record, CX_ETOOLARGE, 0);
        return CX_ETOOLARGE;
    }
    int16_t result = cxWriteEntryHeader(record);
    if (result < 0) return result;
    uint32_t size = 4096;
    uint8_t* buffer = (uint8_t*)cxAllocHalving(&size);
    if (!buffer) return CX_ENOMEM;
    uint32_t done = 0;
    while (done < record->packedSize) {
        uint32_t want = record->packedSize - done < size ? record->packedSize - done : size;
        if (cxRead(record->source, buffer, want) != (int32_t)want) {
            result = CX_EREAD;
            break;
        }
        if (cxWrite(record->destination, buffer, want) != (int32_t)want) {
            result = CX_EWRITE;
            break;
        }
        done += want;
        cxNotify(record, CXCB_COPY, (int32_t)done);
    }
    cxFree(buffer);
    return result;
}

// ---- extracting one entry ------------------------------------------------

// Where an output file goes: a directory named by the caller (followed as
// named), the levels below it that the entry's name adds (never followed
// through a link), and the file's name.
struct Output {
    char base[kOutputMax + 1];
    char below[kOutputMax + 1];
    const char* file;  // in the record's name
};

// The output's parts. A name the callback of event 44 chose is the
// caller's own path: all of it but the file name is the base.
void splitOutput(const CxOperation* op, const char* stored, const EntryInfo* record, Output* out) {
    size_t directoryLength = strlen(op->directoryRaw);
    bool chosen = strncmp(record->name, op->directoryRaw, directoryLength) != 0 ||
                  strcmp(record->name + directoryLength, stored) != 0;
    out->file = cxFileName(record->name);
    size_t baseLength = chosen ? (size_t)(out->file - record->name) : directoryLength;
    memcpy(out->base, record->name, baseLength);
    out->base[baseLength] = 0;
    size_t belowLength = (size_t)(out->file - record->name) - baseLength;
    memcpy(out->below, record->name + baseLength, belowLength);
    out->below[belowLength] = 0;
}

// Expands the entry into an open file, which becomes a slot for the time;
// the file is handed back through *written (null when it could not become a
// slot: it is closed then). CX_OK, or CX_EFAIL when the extraction failed
// (reported).
int16_t expandInto(FILE* file, const char* path, EntryInfo* record, Pass* pass, FILE** written) {
    *written = nullptr;
    // The file is new: nothing went through it yet. Without the buffer the
    // default one serves.
    setvbuf(file, nullptr, _IOFBF, kOutputBuffer);
    int16_t slot = cxSlotAdopt(file, path);
    if (slot < 0) {
        fclose(file);
        if (slot == CX_ENOMEM) pass->outOfMemory = true;
        cxNotifyFailure(record, slot == CX_ENOMEM ? CX_ENOMEM : CX_EFAIL, 0);
        return CX_EFAIL;
    }
    int32_t archiveSlot = record->destination;
    record->destination = slot;
    int16_t result = cxExpandEntry(record);
    record->destination = archiveSlot;
    *written = cxSlotDetach(slot);
    return result < 0 ? (int16_t)CX_EFAIL : (int16_t)CX_OK;
}

// Expands the entry into a new temporary file of the place and puts it in
// place as 'file', with the entry's mode and time given to it while it is
// still open. CX_OK also when it could not be put in place (reported as
// event 49); CX_EFAIL when the extraction failed.
int16_t expandInPlace(const CxPlace* place, const char* file, EntryInfo* record, Pass* pass) {
    char temp[16];
    FILE* opened = cxPlatCreateIn(place, "CX", temp);
    char* tempPath = opened ? cxPlatPathIn(place, temp) : nullptr;
    if (!tempPath) {
        if (opened) {
            fclose(opened);
            cxPlatRemoveIn(place, temp);
            pass->outOfMemory = true;
        }
        cxNotifyFailure(record, opened ? CX_ENOMEM : CX_EFAIL, 0);
        return CX_EFAIL;
    }
    FILE* written = nullptr;
    int16_t result = expandInto(opened, tempPath, record, pass, &written);
    cxFree(tempPath);
    if (result < 0) {
        if (written) fclose(written);
        cxPlatRemoveIn(place, temp);
        return CX_EFAIL;
    }
    CxStamp stamp = {record->mode, record->time, true, false};
    int16_t placed = cxPlatPlaceFile(place, written, temp, file, &stamp);
    if (placed == CX_OK) return CX_OK;
    cxPlatRemoveIn(place, temp);
    if (placed == CX_EWRITE) {
        cxNotifyFailure(record, CX_EWRITE, 0);
        return CX_EFAIL;
    }
    cxNotify(record, CXCB_RENAME, 0);
    return CX_OK;
}

// Expands the entry into the file its caller created for it at event 44
// (cxSetOutputFile), gives it the entry's mode and time and closes it;
// nothing is renamed. A failed extraction leaves the file to its caller.
int16_t expandIntoGiven(FILE* file, EntryInfo* record, Pass* pass) {
    FILE* written = nullptr;
    if (expandInto(file, record->name, record, pass, &written) < 0) {
        if (written) fclose(written);
        return CX_EFAIL;
    }
    CxStamp stamp = {record->mode, record->time, true, false};
    if (cxPlatStampAndClose(written, record->name, &stamp)) return CX_OK;
    cxNoteSystemError();
    cxNotifyFailure(record, CX_EWRITE, 0);
    return CX_EFAIL;
}

// Whether an entry may be extracted or deleted: a protected one only when
// the callback of event 42 clears its flag (else CX_EPROTECTED is reported).
bool unprotected(EntryInfo* record) {
    if (!(record->flags & CX_FLAG_PROTECTED)) return true;
    cxNotify(record, CXCB_PROTECTED, 0);
    if (!(record->flags & CX_FLAG_PROTECTED)) return true;
    cxNotifyFailure(record, CX_EPROTECTED, 0);
    return false;
}

// Whether an entry may be written: when it is unprotected and of a known
// method (of an unknown one nothing could be written, so an existing file
// is left as it is).
bool mayWrite(EntryInfo* record) {
    if (!unprotected(record)) return false;
    if (record->method != CX_METHOD_STORED && record->method != CX_METHOD_PACKED) {
        cxNotify(record, CXCB_UNKNOWN, 0);
        return false;
    }
    return true;
}

// The output file a callback gives for the entry of event 44, taken over
// once the callback returns.
struct HandOver {
    bool open;   // event 44 is running: a file may be given
    FILE* file;  // the file given, null when none
} handOver;

// Opens the output's directory. CX_OK; else the failure, reported: CX_ELINK
// (the entry is refused), CX_EFAIL or CX_ENOMEM (the extraction failed).
int16_t openOutput(const Output* out, bool create, EntryInfo* record, CxPlace* place, Pass* pass) {
    size_t linkEnd = 0;
    int16_t opened = cxPlatOpenPlace(out->base, out->below, create, place, &linkEnd);
    if (opened == CX_ENOMEM) pass->outOfMemory = true;
    // The place's path is the record's name up to the file name, so the
    // name up to linkEnd names the link.
    if (opened != CX_OK) cxNotifyFailure(record, opened, opened == CX_ELINK ? (int32_t)linkEnd : 0);
    return opened;
}

// Whether name ends with a separator; the second byte of a double-byte
// character ("\x83\x5C" in code page 932) is none.
bool endsWithSeparator(const char* name) {
    bool ends = false;
    for (; *name; name += cxPlatCharSize(name)) ends = isSeparator(*name);
    return ends;
}

bool isDirectoryEntry(const EntryInfo* record) {
    return (record->mode & 0xF000) == 0x4000 && endsWithSeparator(record->name);
}

// Makes the directory of a directory entry (its name ends with a separator)
// and every level above it below the destination, none through a link.
int16_t extractDirectory(const CxOperation* op, EntryInfo* record, Pass* pass) {
    Output out;
    strcpy(out.base, op->directoryRaw);
    strcpy(out.below, record->name + strlen(op->directoryRaw));
    out.file = "";
    CxPlace place;
    int16_t opened = openOutput(&out, true, record, &place, pass);
    cxPlatClosePlace(&place);
    if (opened == CX_OK) cxNotify(record, CXCB_EXTRACTED, 0);
    return opened == CX_OK || opened == CX_ELINK ? (int16_t)CX_OK : (int16_t)CX_EFAIL;
}

// Extracts the entry just read. CX_OK also when the entry was skipped;
// CX_EFAIL when the extraction failed and processing must end.
int16_t extractEntry(const CxOperation* op, EntryInfo* record, Pass* pass) {
    bool directory = cxArchive.paths && isDirectoryEntry(record);
    const char* stored = cxArchive.paths ? record->name : cxFileName(record->name);
    char output[kOutputMax + 1];
    size_t directoryLength = strlen(op->directoryRaw);
    size_t storedLength = strlen(stored);
    // A directory's name is checked without its closing separator, as a
    // file's is.
    char checked[CX_NAME_MAX];
    memcpy(checked, stored, storedLength + 1);
    if (directory) checked[storedLength - 1] = 0;
    if (!staysInside(checked)) {
        cxNotifyFailure(record, CX_EUNSAFE, 0);
        return CX_OK;
    }
    if (directoryLength + storedLength > kOutputMax) {
        cxNotifyFailure(record, CX_ETOOLONG, 0);
        return CX_OK;
    }
    memcpy(output, op->directoryRaw, directoryLength);
    memcpy(output + directoryLength, stored, storedLength + 1);
    setName(record, output);
    if (directory) return extractDirectory(op, record, pass);
    handOver.open = true;
    bool skip = cxNotify(record, CXCB_OUTPUT, 0) != 0;
    FILE* given = handOver.file;
    handOver = HandOver();
    if (given && (skip || !mayWrite(record))) {
        fclose(given);
        return CX_OK;
    }
    if (given) return expandIntoGiven(given, record, pass);
    if (skip) return CX_OK;

    Output out;
    splitOutput(op, output + directoryLength, record, &out);
    CxPlace place;
    int16_t opened = openOutput(&out, false, record, &place, pass);
    if (opened != CX_OK) {
        cxPlatClosePlace(&place);
        return opened == CX_ELINK ? (int16_t)CX_OK : (int16_t)CX_EFAIL;
    }
    int16_t result = CX_OK;
    bool writable = true;
    bool go = true;
    if (cxPlatExistsIn(&place, out.file, &writable)) {
        if (writable) {
            go = cxAskOverwrite(record) != 0;
        } else {
            cxNotify(record, CXCB_READONLY, 0);
            if (cxPlatExistsIn(&place, out.file, &writable) && !writable) {
                cxNotify(record, CXCB_READONLY, 1);
                go = false;
            }
        }
    }
    if (go && mayWrite(record)) {
        cxPlatClosePlace(&place);
        opened = openOutput(&out, true, record, &place, pass);
        if (opened == CX_OK) result = expandInPlace(&place, out.file, record, pass);
        else result = opened == CX_ELINK ? (int16_t)CX_OK : (int16_t)CX_EFAIL;
    }
    cxPlatClosePlace(&place);
    return result;
}

// ---- the add pass ----------------------------------------------------------

struct AddContext {
    const CxOperation* op;
    EntryInfo* record;
    Pass* pass;
    char* directory;    // the pattern's directory part, as given
    const char* namePattern;
    char lead[1024];    // with the paths flag: what is cut off the full path
    bool leadSet;
    bool ended;
    int32_t count;
};

// Whether the archive already holds an entry of this name. Its names are
// read once per pass.
bool archiveHasEntry(Pass* pass, const char* name) {
    if (!pass->inArchiveRead) {
        pass->inArchiveRead = true;
        EntryInfo entry;
        memset(&entry, 0, sizeof entry);
        entry.source = cxArchive.slot;
        entry.destination = -1;
        if (cxSeek(entry.source, 0, SEEK_SET) != 0) return false;
        for (int16_t r = cxFirstEntry(&entry); r == CX_OK; r = cxNextEntry(&entry)) {
            if (!cxNamePut(&pass->inArchive, entry.name, nullptr)) pass->outOfMemory = true;
        }
    }
    return cxNameHas(&pass->inArchive, name);
}

// Entry name of a file: its base name, or with the paths flag its path
// below the operation's lead, without drive and leading "." or "\" parts.
bool entryName(AddContext* context, const char* filePath, const char* listedName, char* out) {
    const char* name = listedName;
    char full[1024];
    if (cxArchive.paths) {
        name = filePath;
        if (cxPlatFullPath(filePath, full, sizeof full)) {
            if (!context->leadSet) {
                context->leadSet = true;
                char current[1024];
                size_t length = 0;
                if (cxPlatCurrentDir(current, sizeof current - 1)) {
                    length = strlen(current);
                    if (length && !isSeparator(current[length - 1])) current[length++] = cxPlatSeparator();
                    current[length] = 0;
                }
                if (length && startsWithName(full, current)) {
                    strcpy(context->lead, current);
                } else {
                    strcpy(context->lead, full);
                    *(char*)cxFileName(context->lead) = 0;
                }
            }
            if (startsWithName(full, context->lead)) name = full + strlen(context->lead);
        }
        if (name[0] && name[1] == ':') name += 2;
        for (;;) {
            if (isSeparator(name[0])) {
                ++name;
            } else if (name[0] == '.' && isSeparator(name[1])) {
                name += 2;
            } else if (name[0] == '.' && name[1] == '.' && isSeparator(name[2])) {
                name += 3;
            } else {
                break;
            }
        }
    }
    size_t length = strlen(name);
    if (length == 0 || length > CX_ENTRY_NAME_MAX) return false;
    for (size_t i = 0; i <= length; ++i) out[i] = name[i] == '/' ? '\\' : name[i];
    return true;
}

// Packs the file open in slot 'source' as entry 'name' into the temporary
// archive and closes it; 'replacing' when the archive holds an entry of that
// name. On failure nothing of the entry stays: the next entry (or the end
// record) is written where it began.
int16_t packOpenFile(Pass* pass, EntryInfo* record, int source, const char* name, bool replacing) {
    setName(record, name);
    record->source = source;
    record->versionMadeBy = CX_VERSION;
    record->versionNeeded = CX_VERSION_PACKED;
    record->originCode = (cxArchive.flags & CX_ARC_KEEPCASE) ? CX_ORIGIN_KEEPCASE : CX_ORIGIN_ENGINE;
    int32_t entryStart = cxTell(cxArchive.tempSlot);
    unsigned options = (replacing ? CX_PACK_REPLACING : 0) | ((cxArchive.flags & CX_ARC_BEST) ? CX_PACK_BEST : 0);
    int16_t result = cxPackEntry(record, options);
    cxCloseFile(source);
    record->source = -1;
    // The pass must know the name, or the old entry of that name would be
    // copied beside the new one.
    if (result == CX_OK && !cxNamePut(&pass->added, name, nullptr)) {
        cxNotifyFailure(record, CX_ENOMEM, 0);
        result = CX_ENOMEM;
    }
    if (result < 0) {
        if (result == CX_ENOMEM) pass->outOfMemory = true;
        cxSeek(cxArchive.tempSlot, entryStart, SEEK_SET);
        return result;
    }
    return CX_OK;
}

// A fresh record for the next file; a stop asked for earlier stays.
void freshRecord(EntryInfo* record) {
    CxStop stopCode = record->stopCode;
    memset(record, 0, sizeof *record);
    record->stopCode = stopCode;
    record->source = -1;
    record->destination = cxArchive.tempSlot;
}

enum AddOutcome { ADD_PACKED, ADD_PASSED_OVER, ADD_ALREADY_IN, ADD_FAILED };

// Packs one file as entry 'name': not the archive itself or its temporary
// archive, and not a name this pass has packed already. A file that cannot
// be opened is passed over, and said so.
AddOutcome addFile(Pass* pass, EntryInfo* record, const char* filePath, const char* name) {
    if (cxPlatSameFile(filePath, cxArchive.realPath) || cxPlatSameFile(filePath, cxSlotPath(cxArchive.tempSlot)))
        return ADD_PASSED_OVER;
    if (cxNameHas(&pass->added, name)) return ADD_ALREADY_IN;
    bool replacing = archiveHasEntry(pass, name);
    int source = cxOpenFile(filePath, CX_READ);
    if (source < 0) {
        setName(record, filePath);
        cxNotifyFailure(record, source == CX_ENOMEM ? CX_ENOMEM : CX_EFAIL, 0);
        if (source == CX_ENOMEM) {
            pass->outOfMemory = true;
            return ADD_FAILED;
        }
        return ADD_PASSED_OVER;
    }
    return packOpenFile(pass, record, source, name, replacing) == CX_OK ? ADD_PACKED : ADD_FAILED;
}

// A directory named by an entry name that ends with a separator: an entry
// of no data whose mode says directory, so that a directory with nothing in
// it is kept. False when it was not written (reported).
bool addDirectory(Pass* pass, EntryInfo* record, const char* path, const char* name) {
    if (cxNameHas(&pass->added, name)) return false;
    CxFileStat status;
    setName(record, name);
    if (!cxPlatStat(path, &status) || (status.mode & 0xF000) != 0x4000) {
        cxNoteSystemError();
        cxNotifyFailure(record, CX_EFAIL, 0);
        return false;
    }
    record->versionMadeBy = CX_VERSION;
    record->versionNeeded = CX_VERSION_PACKED;
    record->originCode = (cxArchive.flags & CX_ARC_KEEPCASE) ? CX_ORIGIN_KEEPCASE : CX_ORIGIN_ENGINE;
    record->method = CX_METHOD_STORED;
    record->time = status.mtime;
    record->mode = (uint16_t)(0x4000 | (status.mode & 0777));
    record->ownerId = status.ownerId;
    record->groupId = status.groupId;
    bool replacing = archiveHasEntry(pass, name);
    cxNotify(record, replacing ? CXCB_REPLACE : CXCB_PACK, 0);
    int32_t entryStart = cxTell(record->destination);
    if (cxWriteEntryHeader(record) != CX_OK || cxTell(record->destination) < 0) {
        cxSeek(record->destination, entryStart, SEEK_SET);
        cxNotifyFailure(record, CX_EWRITE, 0);
        return false;
    }
    if (!cxNamePut(&pass->added, name, nullptr)) {
        pass->outOfMemory = true;
        cxNotifyFailure(record, CX_ENOMEM, 0);
        return false;
    }
    cxNotify(record, CXCB_PACKED, 0);
    return true;
}

// One file of cxAddFile, under the entry name its caller chose.
void addExactFile(Pass* pass, const CxOperation* op, EntryInfo* record) {
    freshRecord(record);
    char name[CX_NAME_MAX];
    size_t length = strlen(op->entryName);
    if (length > CX_ENTRY_NAME_MAX) {
        setName(record, op->patternRaw);
        cxNotifyFailure(record, CX_EARG, 0);  // no entry header can carry this name
        return;
    }
    for (size_t i = 0; i <= length; ++i) name[i] = op->entryName[i] == '/' ? '\\' : op->entryName[i];
    bool added = endsWithSeparator(name) ? addDirectory(pass, record, op->patternRaw, name)
                                         : addFile(pass, record, op->patternRaw, name) == ADD_PACKED;
    if (added) cxArchive.modified = true;
}

void endOperation(AddContext* context) {
    context->ended = true;
    EntryInfo* record = context->record;
    if (record->stopCode == CX_STOP || record->stopCode == CX_STOP_ERROR) {
        cxNotify(record, CXCB_STOPPED, 0);
    }
    record->stopCode = CX_GO_ON;
}

void addOneFile(const char* listedName, void* data) {
    AddContext* context = (AddContext*)data;
    if (context->ended || context->pass->outOfMemory || !matches(context->namePattern, listedName)) return;
    EntryInfo* record = context->record;
    size_t directoryLength = strlen(context->directory);
    char* filePath = (char*)cxAlloc(directoryLength + strlen(listedName) + 1);
    if (!filePath) {
        context->pass->outOfMemory = true;
        cxNotifyFailure(record, CX_ENOMEM, 0);
        return;
    }
    strcpy(filePath, context->directory);
    strcat(filePath, listedName);
    freshRecord(record);
    char name[CX_NAME_MAX];
    bool named = entryName(context, filePath, listedName, name);
    AddOutcome outcome = ADD_PASSED_OVER;
    if (!named && !cxPlatSameFile(filePath, cxArchive.realPath)) {
        setName(record, filePath);
        cxNotifyFailure(record, CX_EARG, 0);  // no entry header can carry this name
    } else if (named) {
        outcome = addFile(context->pass, record, filePath, name);
    }
    cxFree(filePath);
    if (outcome == ADD_FAILED) {
        endOperation(context);
        return;
    }
    // The archive itself and files that cannot be opened add nothing; a
    // file named by an earlier pattern of this pass is in already and counts.
    if (outcome == ADD_PASSED_OVER) return;
    ++context->count;
    if (record->stopCode != CX_GO_ON) endOperation(context);
}

void addPass(Pass* pass, EntryInfo* record, bool* rewriting) {
    for (CxOperation* op = cxArchive.operations; op && !pass->outOfMemory; op = op->next) {
        if (op->type == CX_OP_DELETE) *rewriting = true;
        if (op->type != CX_OP_ADD) continue;
        if (op->exact) {
            *rewriting = true;
            addExactFile(pass, op, record);
            // A stop asked for by a callback ends the whole pass: the files
            // already packed are not put in without the rest.
            if (record->stopCode == CX_STOP) return;
            record->stopCode = CX_GO_ON;
            continue;
        }
        AddContext context;
        memset(&context, 0, sizeof context);
        context.op = op;
        context.record = record;
        context.pass = pass;
        context.directory = cxDup(op->patternRaw);
        if (!context.directory) {
            pass->outOfMemory = true;
            return;
        }
        char* base = (char*)cxFileName(context.directory);
        context.namePattern = op->patternRaw + (base - context.directory);
        *base = 0;
        if (cxPlatListDir(context.directory, addOneFile, &context) == CX_ENOMEM) pass->outOfMemory = true;
        cxFree(context.directory);
        if (pass->outOfMemory) return;
        setName(record, op->pattern);
        cxNotify(record, CXCB_ADDED, context.count);
        // A pattern that found no file changes nothing: a new archive that
        // received nothing is then removed at close instead of kept empty.
        if (context.count > 0) cxArchive.modified = true;
        *rewriting = true;
    }
}

// The add pass is reached through this pointer, set when an archive is
// opened for writing: a program that only reads archives does not carry the
// packer.
void (*s_AddPass)(Pass*, EntryInfo*, bool*);

// ---- the entry pass -------------------------------------------------------------

bool hasWildcard(const char* pattern) {
    return strpbrk(pattern, "*?[+") != nullptr;
}

// Sorts the extract and delete operations for the entry pass; false when
// out of memory.
bool preparePass(Pass* pass) {
    pass->patternOps = (const CxOperation**)cxAlloc((cxArchive.queued + 1) * sizeof(CxOperation*));
    if (!pass->patternOps) return false;
    for (const CxOperation* op = cxArchive.operations; op; op = op->next) {
        ++pass->notDone;
        if (op->type != CX_OP_EXTRACT && op->type != CX_OP_DELETE) continue;
        if (!op->exact) {
            pass->patternOps[pass->patternCount++] = op;
        } else if (!cxNamePut(&pass->exactOps, op->patternRaw, (void*)op)) {
            return false;
        }
    }
    return true;
}

// The first operation in queue order that applies to the entry.
CxOperation* findOperation(const Pass* pass, const char* name) {
    CxOperation* found = (CxOperation*)cxNameGet(&pass->exactOps, name);
    if (found && found->type == CX_OP_DONE) found = nullptr;
    const char* entryName = cxArchive.paths ? cxFileName(name) : name;
    for (int i = 0; i < pass->patternCount; ++i) {
        const CxOperation* op = pass->patternOps[i];
        if (found && found->order < op->order) break;
        if (op->type != CX_OP_DONE && matches(cxFileName(op->pattern), entryName)) return (CxOperation*)op;
    }
    return found;
}

void markDone(Pass* pass, CxOperation* op) {
    op->type = CX_OP_DONE;
    --pass->notDone;
}

// Ends the pass early with result; the archive is kept as it was, since a
// half-written rewrite must not replace it at close.
int16_t abandonPass(Pass* pass, EntryInfo* record, int16_t result) {
    cxArchive.modified = false;
    cxArchive.open = false;
    cxNotify(record, CXCB_END, 0);
    cxFree(record);
    endPass(pass);
    cxSpaceRunEnd();
    return result;
}

// Handles one entry whose header was just read; false when the pass must
// end at once with *result (an extraction failed).
bool handleEntry(Pass* pass, EntryInfo* record, bool rewriting, int16_t* result) {
    int tempSlot = cxArchive.readOnly ? -1 : cxArchive.tempSlot;
    int32_t dataStart = cxTell(record->source);
    EntryInfo stored = *record;
    CxOperation* op = findOperation(pass, record->name);
    int type = op ? op->type : CX_OP_DONE;
    // An entry whose name the add pass packed anew is replaced.
    bool copy = rewriting && !cxNameHas(&pass->added, record->name);
    if (type == CX_OP_DELETE && !cxArchive.readOnly) {
        if (unprotected(record)) copy = false;
        if (!copy) {
            cxNotify(record, CXCB_DELETED, 0);
            cxArchive.modified = true;
        }
    } else if (type == CX_OP_EXTRACT) {
        if (extractEntry(op, record, pass) < 0) {
            // The failed entry was reported through the callback; the
            // caller may ask for the other entries all the same, unless
            // memory ran out.
            *result = pass->outOfMemory ? CX_ENOMEM : CX_EFAIL;
            if (pass->outOfMemory || !(cxArchive.flags & CX_ARC_GOON)) return false;
        }
        CxStop stopCode = record->stopCode;
        *record = stored;
        record->stopCode = stopCode;
        if (op->exact || !hasWildcard(op->pattern)) markDone(pass, op);
    }
    if (copy && tempSlot >= 0) {
        int16_t copied = copyEntry(record, dataStart);
        if (copied < 0) {
            *result = copied;
            record->stopCode = CX_STOP_ERROR;
        }
    }
    int32_t next = dataStart + (int32_t)stored.packedSize;
    if (cxSeek(record->source, next, SEEK_SET) != next && record->stopCode == CX_GO_ON) {
        *result = CX_EFAIL;
        record->stopCode = CX_STOP_ERROR;
    }
    return true;
}

}  // namespace

void cxEnableAddPass(void) {
    s_AddPass = addPass;
}

int16_t cxSetOutputFile(FILE* file) {
    if (!file || !handOver.open || handOver.file) return CX_EARG;
    handOver.file = file;
    return CX_OK;
}

int16_t cxProcess(void) {
    if (!cxArchive.open) return CX_ENOARCHIVE;
    if (!cxSlotName(cxArchive.slot)) return CX_ESLOT;
    if (!cxArchive.readOnly && !cxSlotName(cxArchive.tempSlot)) return CX_ETEMP;
    EntryInfo* record = (EntryInfo*)cxAllocZero(sizeof(EntryInfo));
    if (!record) return CX_ENOMEM;
    int slot = cxArchive.slot;
    int tempSlot = cxArchive.readOnly ? -1 : cxArchive.tempSlot;
    record->source = slot;
    record->destination = tempSlot;
    cxSpaceRunBegin();
    cxNotify(record, CXCB_BEGIN, 0);
    record->stopCode = CX_GO_ON;
    int16_t result = CX_OK;
    bool rewriting = false;
    Pass pass = Pass();
    // An archive whose names keep their case holds names that differ in
    // case alone as entries of their own.
    bool exactCase = (cxArchive.flags & CX_ARC_KEEPCASE) != 0;
    pass.added.exactCase = pass.inArchive.exactCase = pass.exactOps.exactCase = exactCase;
    if (!preparePass(&pass)) return abandonPass(&pass, record, CX_ENOMEM);

    if (!cxArchive.readOnly && s_AddPass) s_AddPass(&pass, record, &rewriting);
    if (pass.outOfMemory) return abandonPass(&pass, record, CX_ENOMEM);

    cxSeek(slot, 0, SEEK_SET);
    int32_t first = cxFindEntrySignature(nullptr, slot);
    if (first == CX_ESTOPPED) record->stopCode = CX_STOP;
    if (first == CX_ENOMEM) return abandonPass(&pass, record, CX_ENOMEM);
    cxSeek(slot, first < 0 ? 0 : first, SEEK_SET);
    while (record->stopCode == CX_GO_ON) {
        record->source = slot;
        record->destination = tempSlot;
        int16_t read = cxReadEntryHeader(record);
        if (read < 0) {
            // The end record ends the pass, and so does an empty file; any
            // other result is damage, which ends it with an error.
            if (read != CX_EEND && read != CX_ENOARCHIVE) {
                result = read;
                record->stopCode = CX_STOP_ERROR;
            }
            break;
        }
        if (!handleEntry(&pass, record, rewriting, &result)) return abandonPass(&pass, record, result);
        if (pass.outOfMemory) return abandonPass(&pass, record, CX_ENOMEM);
        if (pass.notDone == 0) break;
    }

    if (record->stopCode != CX_GO_ON && record->stopCode != CX_STOP) record->stopCode = CX_STOP_ERROR;
    if (record->stopCode != CX_GO_ON) {
        // A stop code is no event: the pass says why it ended.
        cxNotify(record, record->stopCode == CX_STOP ? CXCB_STOPPED : CXCB_ERROR, 0);
        // A pass that ended early has not copied every entry: the archive
        // stays as it was rather than lose the entries not reached.
        cxArchive.modified = false;
    }
    if (cxArchive.modified) {
        memset(record->name, 0, sizeof record->name);
        record->nameLength = 0;
        record->destination = tempSlot;
        if (cxWriteEntryHeader(record) < 0 || !cxTruncate(tempSlot)) {
            result = CX_EWRITE;
            cxArchive.modified = false;
        }
    }
    cxArchive.open = false;
    cxNotify(record, CXCB_END, 0);
    cxFree(record);
    endPass(&pass);
    cxSpaceRunEnd();
    return result;
}
