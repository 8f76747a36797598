// cxProcess: one pass that carries out the queued operations. New files are
// packed into the temporary archive first (add pass); then every entry of the
// archive is deleted, extracted, or copied into the temporary archive as the
// first matching operation says (entry pass); a changed archive gets its end
// record.
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

namespace {

// Longest output path; longer ones are refused (a cut path would name
// another file, or two entries the same one).
const size_t kOutputMax = 268;
// Offsets in the archive are 32-bit signed: it cannot grow past this.
const uint32_t kArchiveMax = 0x7FFFFFFFu;
// Lead and body of an entry header, without the name.
const uint32_t kHeaderFixed = 8 + 33;

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
};
Pass pass;

void endPass(void) {
    cxNameClear(&pass.added);
    cxNameClear(&pass.inArchive);
    cxNameClear(&pass.exactOps);
    free(pass.patternOps);
    pass = Pass();
}

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Part of path after its last separator or drive colon.
const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; p += cxPlatCharSize(p)) {
        if (isSeparator(*p) || *p == ':') base = p + 1;
    }
    return base;
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

bool wasAdded(const char* name) {
    return cxNameHas(&pass.added, name);
}

void rememberAdded(const char* name) {
    cxNamePut(&pass.added, name, nullptr);
}

void setName(EntryInfo* record, const char* name) {
    strncpy(record->name, name, CX_NAME_MAX - 1);
    record->name[CX_NAME_MAX - 1] = 0;
    record->nameLength = (uint32_t)strlen(record->name);
}

// cxMatchName works in place; both sides are matched as copies.
bool matches(const char* pattern, const char* name) {
    char* p = cxDup(pattern);
    char* n = cxDup(name);
    bool result = p && n && cxMatchName(p, n) == 0;
    free(p);
    free(n);
    return result;
}

// A name that may be put below a destination directory: no drive, no
// leading separator, no component that names the directory itself or its
// parent (Windows drops trailing dots and spaces, so ".. " counts too).
bool staysInside(const char* name) {
    if (!*name || isSeparator(*name) || strchr(name, ':')) return false;
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
    if (at < 0 || (uint64_t)at + kHeaderFixed + strlen(record->name) + record->packedSize > kArchiveMax) {
        cxNotify(record, CX_ETOOLARGE, 0);
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
    free(buffer);
    return result;
}

// ---- extracting one entry ------------------------------------------------

// Creates every missing directory of path, level by level from the left.
void makeDirectories(const char* path) {
    char* copy = cxDup(path);
    if (!copy) return;
    char before = cxPlatCharSize(copy) == 2 ? 0 : *copy;  // the character before p (0: a double-byte one)
    for (char* p = copy + cxPlatCharSize(copy); *p; p += cxPlatCharSize(p)) {
        char at = *p;
        if (isSeparator(at) && before != ':' && !isSeparator(before)) {
            *p = 0;
            if (!cxPlatExists(copy)) cxPlatMakeDir(copy);
            *p = at;
        }
        before = cxPlatCharSize(p) == 2 ? 0 : at;
    }
    free(copy);
}

// Puts the finished temporary output in the output's place. On POSIX the
// rename replaces the old file at once; where it cannot (Windows), the old
// file is deleted first.
bool moveIntoPlace(const char* temp, const char* output) {
    if (cxPlatRename(temp, output)) return true;
    if (!cxPlatExists(output)) return false;
    cxPlatRemove(output);
    return cxPlatRename(temp, output);
}

// Extracts the entry just read. CX_OK also when the entry was skipped;
// CX_EFAIL when the extraction failed and processing must end.
int16_t extractEntry(const CxOperation* op, EntryInfo* record) {
    const char* stored = cxArchive.paths ? record->name : baseName(record->name);
    char output[kOutputMax + 1];
    size_t directoryLength = strlen(op->directoryRaw);
    size_t storedLength = strlen(stored);
    if (!staysInside(stored)) {
        cxNotify(record, CX_EUNSAFE, 0);
        return CX_OK;
    }
    if (directoryLength + storedLength > kOutputMax) {
        cxNotify(record, CX_ETOOLONG, 0);
        return CX_OK;
    }
    memcpy(output, op->directoryRaw, directoryLength);
    memcpy(output + directoryLength, stored, storedLength + 1);
    setName(record, output);
    if (cxNotify(record, CXCB_OUTPUT, 0) != 0) return CX_OK;

    if (cxPlatExists(record->name)) {
        if (cxPlatIsWritable(record->name)) {
            if (cxAskOverwrite(record) == 0) return CX_OK;
        } else {
            cxNotify(record, CXCB_READONLY, 0);
            if (!cxPlatIsWritable(record->name)) {
                cxNotify(record, CXCB_READONLY, 1);
                return CX_OK;
            }
        }
    }
    if (record->flags & CX_FLAG_PROTECTED) {
        cxNotify(record, CXCB_PROTECTED, 0);
        if (record->flags & CX_FLAG_PROTECTED) {
            cxNotify(record, CX_EPROTECTED, 0);
            return CX_OK;
        }
    }
    if (record->method != CX_METHOD_STORED && record->method != CX_METHOD_PACKED) {
        // Nothing could be written, so an existing file is left as it is.
        cxNotify(record, CXCB_UNKNOWN, 0);
        return CX_OK;
    }

    makeDirectories(record->name);
    char* directory = cxDup(record->name);
    if (!directory) return CX_EFAIL;
    *(char*)baseName(directory) = 0;
    const char* tempName = cxTempName(directory, "CX");
    free(directory);
    char* temp = tempName ? cxDup(tempName) : nullptr;
    int slot = temp ? cxOpenFile(temp, CX_CREATE | CX_WRITE) : -1;
    if (slot < 0) {
        free(temp);
        cxNotify(record, CX_EFAIL, 0);
        return CX_EFAIL;
    }
    record->destination = slot;
    int16_t result = cxExpandEntry(record);
    if (cxCloseFile(slot) < 0 && result == CX_OK) {
        result = CX_EWRITE;
        cxNotify(record, CX_EWRITE, 0);
    }
    record->destination = cxArchive.tempSlot;
    if (result < 0) {
        cxPlatRemove(temp);
        free(temp);
        return CX_EFAIL;
    }
    if (!moveIntoPlace(temp, record->name)) {
        cxNotify(record, CXCB_RENAME, 0);
        cxPlatRemove(temp);
        free(temp);
        return CX_OK;
    }
    free(temp);
    cxPlatSetModeTime(record->name, record->mode, record->time);
    return CX_OK;
}

// ---- the add pass ----------------------------------------------------------

struct AddContext {
    const CxOperation* op;
    EntryInfo* record;
    char* directory;    // the pattern's directory part, as given
    const char* namePattern;
    char lead[1024];    // with the paths flag: what is cut off the full path
    bool leadSet;
    bool ended;
    int32_t count;
};

// Whether the archive already holds an entry of this name. Its names are
// read once per pass.
bool archiveHasEntry(const char* name) {
    if (!pass.inArchiveRead) {
        pass.inArchiveRead = true;
        EntryInfo entry;
        memset(&entry, 0, sizeof entry);
        entry.source = cxArchive.slot;
        entry.destination = -1;
        if (cxSeek(entry.source, 0, SEEK_SET) != 0) return false;
        for (int16_t r = cxFirstEntry(&entry); r == CX_OK; r = cxNextEntry(&entry)) {
            cxNamePut(&pass.inArchive, entry.name, nullptr);
        }
    }
    return cxNameHas(&pass.inArchive, name);
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
                    *(char*)baseName(context->lead) = 0;
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
// archive and closes it. On failure nothing of the entry stays: the next
// entry (or the end record) is written where it began.
int16_t packOpenFile(EntryInfo* record, int source, const char* name) {
    setName(record, name);
    record->source = source;
    record->versionMadeBy = CX_VERSION;
    record->versionNeeded = CX_VERSION_PACKED;
    record->originCode = (cxArchive.flags & CX_ARC_KEEPCASE) ? CX_ORIGIN_KEEPCASE : CX_ORIGIN_ENGINE;
    int32_t entryStart = cxTell(cxArchive.tempSlot);
    int16_t result = cxPackEntry(record);
    cxCloseFile(source);
    record->source = -1;
    cxReplacingEntry = false;
    if (result < 0) {
        cxSeek(cxArchive.tempSlot, entryStart, SEEK_SET);
        return result;
    }
    rememberAdded(name);
    return CX_OK;
}

// A fresh record for the next file; a stop asked for earlier stays.
void freshRecord(EntryInfo* record) {
    int16_t stopCode = record->stopCode;
    memset(record, 0, sizeof *record);
    record->stopCode = stopCode;
    record->source = -1;
    record->destination = cxArchive.tempSlot;
}

enum AddOutcome { ADD_PACKED, ADD_PASSED_OVER, ADD_ALREADY_IN, ADD_FAILED };

// Packs one file as entry 'name': not the archive itself or its temporary
// archive, and not a name this pass has packed already. A file that cannot
// be opened is passed over, and said so.
AddOutcome addFile(EntryInfo* record, const char* filePath, const char* name) {
    if (cxPlatSameFile(filePath, cxArchive.realPath) || cxPlatSameFile(filePath, cxArchive.tempPath))
        return ADD_PASSED_OVER;
    if (wasAdded(name)) return ADD_ALREADY_IN;
    cxReplacingEntry = archiveHasEntry(name);
    int source = cxOpenFile(filePath, CX_READ);
    if (source < 0) {
        setName(record, filePath);
        cxNotify(record, CX_EFAIL, 0);
        cxReplacingEntry = false;
        return ADD_PASSED_OVER;
    }
    return packOpenFile(record, source, name) == CX_OK ? ADD_PACKED : ADD_FAILED;
}

// One file of cxAddFile, under the entry name its caller chose.
void addExactFile(const CxOperation* op, EntryInfo* record) {
    freshRecord(record);
    char name[CX_NAME_MAX];
    size_t length = strlen(op->entryName);
    if (length > CX_ENTRY_NAME_MAX) {
        setName(record, op->patternRaw);
        cxNotify(record, CX_EARG, 0);  // no entry header can carry this name
        return;
    }
    for (size_t i = 0; i <= length; ++i) name[i] = op->entryName[i] == '/' ? '\\' : op->entryName[i];
    if (addFile(record, op->patternRaw, name) == ADD_PACKED) cxArchive.modified = true;
}

void endOperation(AddContext* context) {
    context->ended = true;
    EntryInfo* record = context->record;
    if (record->stopCode == CX_STOP || record->stopCode == CX_STOP_ERROR) {
        cxNotify(record, CXCB_STOPPED, 0);
    }
    record->stopCode = 0;
}

void addOneFile(const char* listedName, void* data) {
    AddContext* context = (AddContext*)data;
    if (context->ended || !matches(context->namePattern, listedName)) return;
    size_t directoryLength = strlen(context->directory);
    char* filePath = (char*)malloc(directoryLength + strlen(listedName) + 1);
    if (!filePath) return;
    strcpy(filePath, context->directory);
    strcat(filePath, listedName);
    EntryInfo* record = context->record;
    freshRecord(record);
    char name[CX_NAME_MAX];
    bool named = entryName(context, filePath, listedName, name);
    AddOutcome outcome = ADD_PASSED_OVER;
    if (!named && !cxPlatSameFile(filePath, cxArchive.realPath)) {
        setName(record, filePath);
        cxNotify(record, CX_EARG, 0);  // no entry header can carry this name
    } else if (named) {
        outcome = addFile(record, filePath, name);
    }
    free(filePath);
    if (outcome == ADD_FAILED) {
        endOperation(context);
        return;
    }
    // The archive itself and files that cannot be opened add nothing; a
    // file named by an earlier pattern of this pass is in already and counts.
    if (outcome == ADD_PASSED_OVER) return;
    ++context->count;
    if (record->stopCode != 0) endOperation(context);
}

void addPass(EntryInfo* record, bool* rewriting) {
    for (CxOperation* op = cxArchive.operations; op; op = op->next) {
        if (op->type == CX_OP_DELETE) *rewriting = true;
        if (op->type != CX_OP_ADD) continue;
        if (op->exact) {
            *rewriting = true;
            addExactFile(op, record);
            // A stop asked for by a callback ends the whole pass: the files
            // already packed are not put in without the rest.
            if (record->stopCode == CX_STOP) return;
            record->stopCode = 0;
            continue;
        }
        AddContext context;
        memset(&context, 0, sizeof context);
        context.op = op;
        context.record = record;
        context.directory = cxDup(op->patternRaw);
        if (context.directory) {
            char* base = (char*)baseName(context.directory);
            context.namePattern = op->patternRaw + (base - context.directory);
            *base = 0;
            cxPlatListDir(context.directory, addOneFile, &context);
            free(context.directory);
        }
        setName(record, op->pattern);
        cxNotify(record, CXCB_ADDED, context.count);
        // A pattern that found no file changes nothing: a new archive that
        // received nothing is then removed at close instead of kept empty.
        if (context.count > 0) cxArchive.modified = true;
        *rewriting = true;
    }
}

// ---- the entry pass -------------------------------------------------------------

bool hasWildcard(const char* pattern) {
    return strpbrk(pattern, "*?[+") != nullptr;
}

// Sorts the extract and delete operations for the entry pass; false when
// out of memory.
bool preparePass(void) {
    pass.patternOps = (const CxOperation**)malloc((cxArchive.queued + 1) * sizeof(CxOperation*));
    if (!pass.patternOps) return false;
    for (const CxOperation* op = cxArchive.operations; op; op = op->next) {
        ++pass.notDone;
        if (op->type != CX_OP_EXTRACT && op->type != CX_OP_DELETE) continue;
        if (!op->exact) {
            pass.patternOps[pass.patternCount++] = op;
        } else if (!cxNamePut(&pass.exactOps, op->pattern, (void*)op)) {
            return false;
        }
    }
    return true;
}

// The first operation in queue order that applies to the entry.
CxOperation* findOperation(const char* name) {
    CxOperation* found = (CxOperation*)cxNameGet(&pass.exactOps, name);
    if (found && found->type == CX_OP_DONE) found = nullptr;
    const char* entryName = cxArchive.paths ? baseName(name) : name;
    for (int i = 0; i < pass.patternCount; ++i) {
        const CxOperation* op = pass.patternOps[i];
        if (found && found->order < op->order) break;
        if (op->type != CX_OP_DONE && matches(baseName(op->pattern), entryName)) return (CxOperation*)op;
    }
    return found;
}

void markDone(CxOperation* op) {
    op->type = CX_OP_DONE;
    --pass.notDone;
}

// Ends the pass after an extraction failed: the archive is kept as it was,
// since a half-written rewrite must not replace it at close.
int16_t abandonPass(EntryInfo* record) {
    cxArchive.modified = false;
    cxArchive.open = false;
    cxNotify(record, CXCB_END, 0);
    free(record);
    endPass();
    return CX_EFAIL;
}

}  // namespace

int16_t cxProcess(void) {
    if (!cxArchive.open) return CX_ENOARCHIVE;
    if (!cxSlotName(cxArchive.slot)) return CX_ESLOT;
    if (!cxArchive.readOnly && !cxSlotName(cxArchive.tempSlot)) return CX_ETEMP;
    EntryInfo* record = (EntryInfo*)calloc(1, sizeof(EntryInfo));
    if (!record) return CX_ENOMEM;
    int slot = cxArchive.slot;
    int tempSlot = cxArchive.readOnly ? -1 : cxArchive.tempSlot;
    record->source = slot;
    record->destination = tempSlot;
    cxNotify(record, CXCB_BEGIN, 0);
    record->stopCode = 0;
    int16_t result = CX_OK;
    bool rewriting = false;
    endPass();
    if (!preparePass()) {
        free(record);
        endPass();
        return CX_ENOMEM;
    }

    if (!cxArchive.readOnly) addPass(record, &rewriting);

    cxSeek(slot, 0, SEEK_SET);
    int32_t first = cxFindEntrySignature(nullptr, slot);
    if (first == CX_ESTOPPED) record->stopCode = CX_STOP;
    cxSeek(slot, first < 0 ? 0 : first, SEEK_SET);
    while (record->stopCode == 0) {
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
        int32_t dataStart = cxTell(slot);
        EntryInfo stored = *record;
        CxOperation* op = findOperation(record->name);
        int type = op ? op->type : CX_OP_DONE;
        // An entry whose name the add pass packed anew is replaced.
        bool copy = rewriting && !wasAdded(record->name);
        if (type == CX_OP_DELETE && !cxArchive.readOnly) {
            if (record->flags & CX_FLAG_PROTECTED) {
                cxNotify(record, CXCB_PROTECTED, 0);
                if (record->flags & CX_FLAG_PROTECTED) {
                    cxNotify(record, CX_EPROTECTED, 0);
                } else {
                    copy = false;
                }
            } else {
                copy = false;
            }
            if (!copy) {
                cxNotify(record, CXCB_DELETED, 0);
                cxArchive.modified = true;
            }
        } else if (type == CX_OP_EXTRACT) {
            if (extractEntry(op, record) < 0) {
                // The failed entry was reported through the callback; the
                // caller may ask for the other entries all the same.
                if (!(cxArchive.flags & CX_ARC_GOON)) return abandonPass(record);
                result = CX_EFAIL;
            }
            int16_t stopCode = record->stopCode;
            *record = stored;
            record->stopCode = stopCode;
            if (op->exact || !hasWildcard(op->pattern)) markDone(op);
        }
        if (copy && tempSlot >= 0) {
            int16_t copied = copyEntry(record, dataStart);
            if (copied < 0) {
                result = copied;
                record->stopCode = CX_STOP_ERROR;
            }
        }
        int32_t next = dataStart + (int32_t)stored.packedSize;
        if (cxSeek(slot, next, SEEK_SET) != next && record->stopCode == 0) {
            result = CX_EFAIL;
            record->stopCode = CX_STOP_ERROR;
        }
        if (pass.notDone == 0) break;
    }

    if (record->stopCode != 0 && record->stopCode != CX_STOP) record->stopCode = CX_STOP_ERROR;
    if (record->stopCode != 0) {
        cxNotify(record, record->stopCode, 0);
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
    free(record);
    endPass();
    return result;
}
