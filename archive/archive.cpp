// Opening, queuing on, closing and checking archives, and testing one
// entry's check value. Processing the queue is in process.cpp.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

namespace {

// A colon ends a drive only where there are drives.
bool isSeparator(char c) {
    return c == '\\' || c == '/' || (c == ':' && cxPlatSeparator() == '\\');
}

CxArchiveState emptyState(void) {
    CxArchiveState state = CxArchiveState();
    state.slot = -1;
    state.tempSlot = -1;
    state.place.fd = -1;
    return state;
}

}  // namespace

CxArchiveState cxArchive = emptyState();

size_t cxFileNameAt(const char* path) {
    size_t at = 0;
    for (size_t i = 0; path[i]; i += cxPlatCharSize(path + i)) {
        if (isSeparator(path[i])) at = i + 1;
    }
    return at;
}

int16_t cxOpenPlaceOf(const char* path, CxPlace* place) {
    char* directory = cxDup(path);
    if (!directory) {
        *place = CxPlace{-1, nullptr, nullptr, 0};
        return CX_ENOMEM;
    }
    directory[cxFileNameAt(path)] = 0;
    size_t linkEnd;
    int16_t opened = cxPlatOpenPlace(directory, "", false, place, &linkEnd);
    cxFree(directory);
    return opened;
}

namespace {

// The archive name as the engine uses it: trailing spaces removed and
// ".arq" appended when the file name has no extension. A heap copy.
char* archiveName(const char* path) {
    size_t length = strlen(path);
    while (length > 0 && path[length - 1] == ' ') --length;
    size_t base = cxFileNameAt(path);
    if (base > length) base = length;
    size_t dot = length;
    for (size_t i = base; i < length; ++i) {
        if (path[i] == '.') dot = i;
    }
    // A name whose only dot starts it (".profile") or doubles another has none.
    bool hasExtension = dot < length && dot > base && path[dot - 1] != '.';
    char* name = (char*)cxAlloc(length + 5);
    if (!name) return nullptr;
    memcpy(name, path, length);
    strcpy(name + length, hasExtension ? "" : ".arq");
    return name;
}

bool endsWithArq(const char* name) {
    size_t length = strlen(name);
    if (length < 4) return false;
    char tail[5];
    memcpy(tail, name + length - 4, 5);
    cxUpper(tail);
    return strcmp(tail, ".ARQ") == 0;
}

void freeOperation(CxOperation* op) {
    cxFree(op->pattern);
    cxFree(op->patternRaw);
    cxFree(op->directory);
    cxFree(op->directoryRaw);
    cxFree(op->entryName);
    cxFree(op);
}

void freeOperations(void) {
    CxOperation* op = cxArchive.operations;
    while (op) {
        CxOperation* next = op->next;
        freeOperation(op);
        op = next;
    }
    cxArchive.operations = nullptr;
    cxArchive.lastOperation = nullptr;
}

void resetState(void) {
    freeOperations();
    cxFree(cxArchive.path);
    cxFree(cxArchive.realPath);
    cxPlatClosePlace(&cxArchive.place);
    cxArchive = emptyState();
}

// Extract directories end with a separator unless empty or a bare drive.
char* directoryWithSeparator(const char* directory) {
    size_t length = strlen(directory);
    bool add = length > 0 && !isSeparator(directory[length - 1]);
    char* copy = (char*)cxAlloc(length + 2);
    if (!copy) return nullptr;
    memcpy(copy, directory, length);
    if (add) copy[length++] = '\\';
    copy[length] = 0;
    return copy;
}

// Appends an operation. An exact one names one entry (or, for an add, one
// file and its entry name) instead of a pattern.
int16_t queue(int type, const char* pattern, const char* directory, bool exact = false,
              const char* entryName = nullptr) {
    if (!pattern || !*pattern) return CX_EARG;
    if (!cxArchive.open) return CX_ENOARCHIVE;
    if (!exact && (cxCheckPattern(pattern) != 0 || strlen(cxFileName(pattern)) >= CX_MATCH_MAX)) return CX_EARG;
    CxOperation* op = (CxOperation*)cxAllocZero(sizeof(CxOperation));
    if (!op) return CX_ENOMEM;
    op->type = type;
    op->exact = exact;
    op->order = cxArchive.queued;
    op->pattern = cxDup(entryName ? entryName : pattern);
    op->patternRaw = cxDup(pattern);
    bool ok = op->pattern && op->patternRaw;
    if (ok && entryName) ok = (op->entryName = cxDup(entryName)) != nullptr;
    if (ok && directory) {
        op->directory = directoryWithSeparator(directory);
        op->directoryRaw = directoryWithSeparator(directory);
        ok = op->directory && op->directoryRaw;
    }
    if (!ok) {
        freeOperation(op);
        return CX_ENOMEM;
    }
    cxUpper(op->pattern);
    if (op->directory) cxUpper(op->directory);
    if (cxArchive.lastOperation) {
        cxArchive.lastOperation->next = op;
    } else {
        cxArchive.operations = op;
    }
    cxArchive.lastOperation = op;
    ++cxArchive.queued;
    return CX_OK;
}

// The temporary archive: a new file in the archive's own directory, made
// there exclusively under an unpredictable name.
int16_t openTempArchive(void) {
    int16_t opened = cxOpenPlaceOf(cxArchive.realPath, &cxArchive.place);
    FILE* file = opened == CX_OK ? cxPlatCreateIn(&cxArchive.place, "CX", cxArchive.tempName) : nullptr;
    if (!file) return CX_ETEMP;
    char* tempPath = cxPlatPathIn(&cxArchive.place, cxArchive.tempName);
    int16_t slot = tempPath ? cxSlotAdopt(file, tempPath) : (int16_t)CX_ENOMEM;
    cxFree(tempPath);
    if (slot < 0) {
        fclose(file);
        cxPlatRemoveIn(&cxArchive.place, cxArchive.tempName);
        return CX_ETEMP;
    }
    cxArchive.tempSlot = slot;
    return CX_OK;
}

// The archive to be rewritten, opened for reading and writing as the file
// named; a missing one is made, exclusively and never through a link (a
// link planted at the name is refused). The rewrite keeps what the open
// file tells of its owner and permissions. A slot, or CX_ESLOT.
int16_t openForRewrite(const char* path, bool* created) {
    errno = 0;
    FILE* file = cxPlatOpen(path, "r+b");
    *created = !file && errno == ENOENT;
    if (*created) file = cxPlatCreateNew(path);
    if (!file || !cxPlatKeptStamp(file, &cxArchive.kept)) {
        cxNoteSystemError();
        if (file) fclose(file);
        return CX_ESLOT;
    }
    int16_t slot = cxSlotAdopt(file, path);
    if (slot < 0) fclose(file);
    return slot < 0 ? (int16_t)CX_ESLOT : slot;
}

// Puts the rewritten archive in the old one's place, with the old one's
// permissions where they were its maker's own (an executable stays
// executable), or removes it when nothing changed. One that cannot be put
// in place is kept only when the old archive is gone, as it then holds the
// only copy.
int16_t putTempArchive(void) {
    FILE* file = cxSlotDetach(cxArchive.tempSlot);
    cxArchive.tempSlot = -1;
    if (!cxArchive.modified) {
        fclose(file);
        cxPlatRemoveIn(&cxArchive.place, cxArchive.tempName);
        return CX_OK;
    }
    int16_t placed = cxPlatPlaceFile(&cxArchive.place, file, cxArchive.tempName, cxFileName(cxArchive.realPath),
                                     &cxArchive.kept);
    if (placed == CX_OK) return CX_OK;
    if (cxPlatExists(cxArchive.realPath)) cxPlatRemoveIn(&cxArchive.place, cxArchive.tempName);
    return CX_EWRITE;
}

}  // namespace

int16_t cxOpenArchive(char* path, int flags) {
    if (!path) return CX_EARG;
    // A processed archive that was not closed yet still holds its slots.
    if (cxArchive.open || cxArchive.realPath) return CX_EOPEN;
    // The caller's string is upper-cased in place; the file itself is opened
    // by its name as given, which matters on case-sensitive file systems.
    char* realPath = (flags & CX_ARC_ASGIVEN) ? cxDup(path) : archiveName(path);
    cxUpper(path);
    if (!realPath) return CX_ENOMEM;
    if (!*path) {
        cxFree(realPath);
        return CX_EARG;
    }
    char* upperPath = cxDup(realPath);
    if (!upperPath) {
        cxFree(realPath);
        return CX_ENOMEM;
    }
    cxUpper(upperPath);

    resetState();
    cxArchive.path = upperPath;
    cxArchive.realPath = realPath;
    cxArchive.flags = flags;
    cxArchive.readOnly = (flags & CX_ARC_READONLY) != 0;
    cxArchive.paths = (flags & CX_ARC_PATHS) != 0;
    bool created = false;
    int slot = cxArchive.readOnly ? cxOpenFile(realPath, CX_READ) : openForRewrite(realPath, &created);
    if (slot < 0) {
        resetState();
        return CX_ESLOT;
    }
    cxArchive.slot = slot;

    // The archive may sit behind other data (a self-extracting file). The
    // prefix is looked for in the file just opened, never in a file opened
    // again by its name, which someone may have replaced meanwhile.
    int32_t prefix = 0;
    if (!endsWithArq(realPath) && !created) {
        prefix = cxFindEntrySignature(nullptr, slot);
        if (prefix < 0) {
            cxCloseFile(slot);
            resetState();
            return (int16_t)prefix;
        }
    }

    if (!cxArchive.readOnly) {
        cxEnableAddPass();
        if (openTempArchive() != CX_OK) {
            cxCloseFile(slot);
            resetState();
            return CX_ETEMP;
        }
        cxSeek(slot, 0, SEEK_SET);
        int16_t copied =
            prefix > 0 ? cxCopyBytes(slot, cxArchive.tempSlot, (uint32_t)prefix, nullptr) : (int16_t)CX_OK;
        if (copied < 0) {
            cxCloseFile(slot);
            cxCloseFile(cxArchive.tempSlot);
            cxPlatRemoveIn(&cxArchive.place, cxArchive.tempName);
            resetState();
            return copied;
        }
    }

    cxArchive.open = true;
    EntryInfo record;
    memset(&record, 0, sizeof record);
    cxNotify(&record, CXCB_OPENED, 0);
    return CX_OK;
}

namespace {

// The archive in a slot just opened over the caller's stream or memory (or
// the code that kept it from opening), read-only as CX_ARC_READONLY |
// CX_ARC_ASGIVEN would open it.
int16_t openReadOnly(int16_t slot, const char* name) {
    char* realPath = slot >= 0 ? cxDup(name) : nullptr;
    char* upperPath = slot >= 0 ? cxDup(name) : nullptr;
    if (slot >= 0 && (!realPath || !upperPath)) {
        cxCloseFile(slot);
        slot = CX_ENOMEM;
    }
    if (slot < 0) {
        cxFree(realPath);
        cxFree(upperPath);
        return slot;
    }
    cxUpper(upperPath);
    resetState();
    cxArchive.path = upperPath;
    cxArchive.realPath = realPath;
    cxArchive.flags = CX_ARC_READONLY | CX_ARC_ASGIVEN;
    cxArchive.readOnly = true;
    cxArchive.slot = slot;
    cxArchive.open = true;
    EntryInfo record;
    memset(&record, 0, sizeof record);
    cxNotify(&record, CXCB_OPENED, 0);
    return CX_OK;
}

}  // namespace

int16_t cxOpenArchiveStream(FILE* stream, const char* name) {
    if (!stream || !name || !*name) return CX_EARG;
    if (cxArchive.open || cxArchive.realPath) return CX_EOPEN;
    return openReadOnly(cxOpenStream(stream, name), name);
}

int16_t cxOpenArchiveMemory(const void* data, uint32_t size, const char* name, CxMemoryCopy copy) {
    if (!data || !name || !*name) return CX_EARG;
    if (cxArchive.open || cxArchive.realPath) return CX_EOPEN;
    return openReadOnly(cxOpenMemory(data, size, name, copy), name);
}

int16_t cxExtract(const char* pattern, const char* directory) {
    if (!directory) return CX_EARG;
    return queue(CX_OP_EXTRACT, pattern, directory);
}

int16_t cxAdd(const char* pattern) {
    return queue(CX_OP_ADD, pattern, nullptr);
}

int16_t cxDelete(const char* pattern) {
    return queue(CX_OP_DELETE, pattern, nullptr);
}

int16_t cxAddFile(const char* path, const char* entryName) {
    if (!entryName || !*entryName) return CX_EARG;
    return queue(CX_OP_ADD, path, nullptr, true, entryName);
}

int16_t cxExtractName(const char* name, const char* directory) {
    if (!directory) return CX_EARG;
    return queue(CX_OP_EXTRACT, name, directory, true);
}

int16_t cxDeleteName(const char* name) {
    return queue(CX_OP_DELETE, name, nullptr, true);
}

int16_t cxArchiveSlot(void) {
    return cxArchive.realPath && cxSlotName(cxArchive.slot) ? (int16_t)cxArchive.slot : (int16_t)CX_ENOARCHIVE;
}

int16_t cxCloseArchive(void) {
    int16_t result = CX_OK;
    if (cxArchive.realPath) {
        // An archive left empty (a new one that received nothing) is removed;
        // a read-only open never changes the file system. Its size is the
        // open file's, not that of whatever has its name now.
        bool empty = !cxArchive.readOnly && !cxArchive.modified && cxSeek(cxArchive.slot, 0, SEEK_END) == 0;
        cxCloseFile(cxArchive.slot);
        if (cxArchive.tempSlot >= 0) result = putTempArchive();
        if (empty) cxPlatRemoveIn(&cxArchive.place, cxFileName(cxArchive.realPath));
    }
    resetState();
    EntryInfo record;
    memset(&record, 0, sizeof record);
    cxNotify(&record, CXCB_CLOSED, 0);
    return result;
}

int16_t cxTestFile(EntryInfo* record) {
    if (!record) return CX_EARG;
    if (!cxSlotName(record->source)) return CX_ESLOT;
    if (record->nameLength == 0) return CX_EEND;
    uint32_t size = 8192;
    uint8_t* buffer = (uint8_t*)cxAllocHalving(&size);
    if (!buffer) return CX_ENOMEM;
    if (!cxCrcReady()) {
        cxFree(buffer);
        return CX_ENOMEM;
    }
    cxNotify(record, CXCB_TEST, 0);
    int32_t start = cxTell(record->source);
    uint32_t running = 0xFFFFFFFFu;
    uint32_t done = 0;
    while (done < record->packedSize) {
        uint32_t want = record->packedSize - done < size ? record->packedSize - done : size;
        int32_t got = cxRead(record->source, buffer, want);
        if (got != (int32_t)want) {
            cxFree(buffer);
            cxSeek(record->source, start, SEEK_SET);
            return CX_EREAD;
        }
        running = cxCrcUpdate(running, buffer, want);
        done += want;
        cxNotify(record, CXCB_TEST, (int32_t)done);
        if (record->stopCode == CX_STOP) {
            cxFree(buffer);
            cxSeek(record->source, start, SEEK_SET);
            return CX_ESTOPPED;
        }
    }
    cxFree(buffer);
    cxSeek(record->source, start, SEEK_SET);
    uint32_t value = ~running;
    cxNotify(record, CXCB_TESTED, (int32_t)value);
    return value == record->checkValue ? CX_OK : CX_ECHECK;
}

int16_t cxCheckArchive(const char* path) {
    if (!path || !*path) return CX_EARG;
    char* name = archiveName(path);
    if (!name) return CX_ENOMEM;
    int32_t offset = 0;
    if (!endsWithArq(name)) {
        offset = cxFindEntrySignature(name, 0);
        if (offset < 0) offset = 0;
    }
    if (!cxPlatExists(name)) {
        cxFree(name);
        return CX_ENOFILE;
    }
    int slot = cxOpenFile(name, CX_READ);
    cxFree(name);
    if (slot < 0) return CX_ESLOT;
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = slot;
    record.destination = -1;
    int16_t result = CX_ENOARCHIVE;
    if (cxSeek(slot, offset, SEEK_SET) == offset) {
        result = cxReadEntryHeader(&record);
        result = result < 0 && result != CX_EEND ? CX_ENOARCHIVE : CX_OK;
    }
    cxCloseFile(slot);
    return result;
}
