// The 20 file slots every engine operation reads and writes through. A slot
// keeps the open runtime file, an upper-case copy of its name (what callers
// see and compare) and the name as given (what the file system is asked for).
// A slot may also lend a stream its caller opened and keeps (cxOpenStream):
// closing the slot then leaves the stream open. A memory slot (cxOpenMemory)
// reads a block of memory as a file, through the caller's copy function.
#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

namespace {

enum LastAccess { ACCESS_NONE, ACCESS_READ, ACCESS_WRITE };

// A file built under a temporary name, to be put in place at the slot's
// path only when it is whole (cxOpenOutput).
struct Output {
    CxPlace place;      // the path's directory
    char temp[16];      // the temporary file's name in it
    size_t finalAt;     // where the file name begins in the slot's path
};

struct Slot {
    FILE* file;
    char* name;  // upper case
    char* path;  // as given
    LastAccess last;
    bool wrote;     // bytes were handed to the runtime, which may still hold them
    bool borrowed;  // the caller's stream: flushed at the close, never closed
    Output* output;  // cxOpenOutput's, else null
    // A memory slot's block (file is null), its position, and whether a
    // read has come to its end (what feof tells of a file).
    const uint8_t* memory = nullptr;
    uint32_t memorySize = 0;
    uint32_t memoryAt = 0;
    bool memoryEnd = false;
    CxMemoryCopy copy = nullptr;
};

Slot slots[CX_SLOTS];

// Runtime open mode by flags, first matching row wins.
struct ModeRow {
    int need;     // all of these flags set
    int without;  // none of these flags set
    const char* mode;
};
const ModeRow modeTable[] = {
    {CX_CREATE | CX_READ, 0, "w+b"},
    {CX_CREATE, 0, "wb"},
    {CX_APPEND | CX_READ, 0, "a+b"},
    {CX_APPEND, CX_READ, "ab"},
    {CX_READ | CX_WRITE, 0, "r+b"},
    {CX_WRITE, 0, "wb"},
    {CX_READ, 0, "rb"},
};

const char* runtimeMode(int flags) {
    for (const ModeRow& row : modeTable) {
        if ((flags & row.need) == row.need && (flags & row.without) == 0) return row.mode;
    }
    return nullptr;
}

bool inUse(const Slot& s) {
    return s.file || s.memory;
}

Slot* openSlot(int slot) {
    if (slot < 0 || slot >= CX_SLOTS || !inUse(slots[slot])) return nullptr;
    return &slots[slot];
}

bool copyMemory(void* to, const void* from, uint32_t count) {
    memcpy(to, from, count);
    return true;
}

// Reads up to count bytes of a memory slot at its position; a block the
// copy function cannot read is a read error.
int32_t readMemory(Slot* s, void* buffer, uint32_t count) {
    uint32_t left = s->memoryAt < s->memorySize ? s->memorySize - s->memoryAt : 0;
    uint32_t want = count < left ? count : left;
    if (want < count) s->memoryEnd = true;
    if (want == 0) return 0;
    if (!s->copy(buffer, s->memory + s->memoryAt, want)) {
        errno = EIO;
        cxNoteSystemError();
        return 0;
    }
    s->memoryAt += want;
    return (int32_t)want;
}

// The C runtime needs a positioning call between a read and a write on the
// same stream; the slot inserts one whenever the direction changes.
void turn(Slot* s, LastAccess next) {
    if (s->last != ACCESS_NONE && s->last != next) fseek(s->file, 0, SEEK_CUR);
    s->last = next;
}

}  // namespace

namespace {

// A free slot named path, holding slot; its number, or CX_ESLOTS, CX_ENOMEM.
int16_t claimSlot(const Slot& slot, const char* path) {
    int at = 0;
    while (at < CX_SLOTS && inUse(slots[at])) ++at;
    if (at == CX_SLOTS) return CX_ESLOTS;
    char* name = cxDup(path);
    char* original = cxDup(path);
    if (!name || !original) {
        cxFree(name);
        cxFree(original);
        return CX_ENOMEM;
    }
    cxUpper(name);
    slots[at] = slot;
    slots[at].name = name;
    slots[at].path = original;
    return (int16_t)at;
}

}  // namespace

int16_t cxSlotAdopt(FILE* file, const char* path) {
    return claimSlot(Slot{file, nullptr, nullptr, ACCESS_NONE, false, false, nullptr}, path);
}

FILE* cxSlotDetach(int slot) {
    Slot* s = openSlot(slot);
    if (!s) return nullptr;
    FILE* file = s->file;
    cxFree(s->name);
    cxFree(s->path);
    *s = Slot{nullptr, nullptr, nullptr, ACCESS_NONE, false, false, nullptr};
    return file;
}

int16_t cxOpenFile(const char* path, int mode) {
    if (!path || !*path) return CX_EARG;
    const char* how = runtimeMode(mode);
    if (!how) return CX_EARG;
    errno = 0;
    FILE* file = cxPlatOpen(path, how);
    if (!file) {
        cxNoteSystemError();
        return CX_EFAIL;
    }
    int16_t slot = cxSlotAdopt(file, path);
    if (slot < 0) fclose(file);
    return slot;
}

int16_t cxOpenStream(FILE* stream, const char* name) {
    if (!stream || !name || !*name) return CX_EARG;
    int16_t slot = cxSlotAdopt(stream, name);
    if (slot >= 0) slots[slot].borrowed = true;
    return slot;
}

int16_t cxOpenMemory(const void* data, uint32_t size, const char* name, CxMemoryCopy copy) {
    if (!data || !name || !*name) return CX_EARG;
    Slot memory = Slot{nullptr, nullptr, nullptr, ACCESS_NONE, false, false, nullptr};
    memory.memory = (const uint8_t*)data;
    memory.memorySize = size;
    memory.copy = copy ? copy : copyMemory;
    return claimSlot(memory, name);
}

int16_t cxOpenOutput(const char* path) {
    if (!path || !*path) return CX_EARG;
    size_t finalAt = cxFileNameAt(path);
    Output* output = (Output*)cxAllocZero(sizeof(Output));
    if (!output) return CX_ENOMEM;
    int16_t opened = cxOpenPlaceOf(path, &output->place);
    if (opened == CX_OK && output->place.fd < 0) {
        errno = ENOENT;  // the directory is missing
        cxNoteSystemError();
    }
    FILE* file = opened == CX_OK && path[finalAt] ? cxPlatCreateIn(&output->place, "CX", output->temp) : nullptr;
    int16_t slot = file ? cxSlotAdopt(file, path) : opened == CX_ENOMEM ? (int16_t)CX_ENOMEM : (int16_t)CX_ESLOT;
    if (slot >= 0) {
        output->finalAt = finalAt;
        slots[slot].output = output;
        return slot;
    }
    if (file) {
        fclose(file);
        cxPlatRemoveIn(&output->place, output->temp);
    }
    cxPlatClosePlace(&output->place);
    cxFree(output);
    return slot;
}

int16_t cxPlaceOutput(int slot, uint16_t mode, int64_t time) {
    Slot* s = openSlot(slot);
    if (!s || !s->output) return CX_ESLOT;
    Output* output = s->output;
    CxStamp stamp = {mode, (uint32_t)time, time >= 0, false, 0, 0};
    int16_t placed = cxPlatPlaceFile(&output->place, s->file, output->temp, s->path + output->finalAt, &stamp);
    if (placed != CX_OK) cxPlatRemoveIn(&output->place, output->temp);
    cxSlotDetach(slot);  // its file is closed
    cxPlatClosePlace(&output->place);
    cxFree(output);
    return placed;
}

// Buffered bytes reach the file only here, so a full disk may first show
// at the close: that is a write error too. An output that was not put in
// place is removed: it is not whole.
int16_t cxCloseFile(int slot) {
    Slot* s = openSlot(slot);
    if (!s) return CX_ESLOT;
    if (s->output) {
        Output* output = s->output;
        fclose(cxSlotDetach(slot));
        cxPlatRemoveIn(&output->place, output->temp);
        cxPlatClosePlace(&output->place);
        cxFree(output);
        return CX_OK;
    }
    if (s->memory) {
        cxSlotDetach(slot);
        return CX_OK;
    }
    int16_t result = CX_OK;
    bool wrote = s->wrote, borrowed = s->borrowed;
    FILE* file = cxSlotDetach(slot);
    if ((borrowed ? fflush(file) : fclose(file)) != 0 && wrote) {
        cxNoteSystemError();
        result = CX_EWRITE;
    }
    return result;
}

int32_t cxRead(int slot, void* buffer, uint32_t count) {
    Slot* s = openSlot(slot);
    if (!s || !buffer || count == 0) return 0;
    if (s->memory) return readMemory(s, buffer, count);
    turn(s, ACCESS_READ);
    size_t got = fread(buffer, 1, count, s->file);
    if (got < count && ferror(s->file)) cxNoteSystemError();
    return (int32_t)got;
}

int32_t cxWrite(int slot, const void* buffer, uint32_t count) {
    Slot* s = openSlot(slot);
    if (!s || !buffer || count == 0) return 0;
    if (s->memory) {
        errno = EBADF;  // a memory slot is read only
        cxNoteSystemError();
        return 0;
    }
    turn(s, ACCESS_WRITE);
    size_t put = fwrite(buffer, 1, count, s->file);
    if (put > 0) s->wrote = true;
    if (put < count) cxNoteSystemError();
    return (int32_t)put;
}

int cxReadByte(int slot) {
    Slot* s = openSlot(slot);
    if (!s) return -1;
    if (s->memory) {
        uint8_t byte;
        return readMemory(s, &byte, 1) == 1 ? byte : -1;
    }
    turn(s, ACCESS_READ);
    int c = fgetc(s->file);
    return c == EOF ? -1 : c;
}

int32_t cxTell(int slot) {
    Slot* s = openSlot(slot);
    if (!s) return -1;
    if (s->memory) return s->memoryAt > 0x7FFFFFFFu ? -1 : (int32_t)s->memoryAt;
    long position = ftell(s->file);
    return position < 0 || position > 0x7FFFFFFFL ? -1 : (int32_t)position;
}

int32_t cxSeek(int slot, int32_t offset, int origin) {
    Slot* s = openSlot(slot);
    if (!s) return -1;
    if (origin != SEEK_SET && origin != SEEK_CUR && origin != SEEK_END) return -1;
    if (s->memory) {
        int64_t base = origin == SEEK_SET ? 0 : origin == SEEK_CUR ? s->memoryAt : s->memorySize;
        int64_t at = base + offset;
        if (at < 0 || at > 0x7FFFFFFF) return -1;
        s->memoryAt = (uint32_t)at;
        s->memoryEnd = false;
        return (int32_t)at;
    }
    if (fseek(s->file, offset, origin) != 0) return -1;
    s->last = ACCESS_NONE;
    return cxTell(slot);
}

int cxEof(int slot) {
    Slot* s = openSlot(slot);
    if (!s) return 1;
    return s->memory ? s->memoryEnd : feof(s->file) != 0;
}

int16_t cxStat(int slot, CxFileStat* status) {
    Slot* s = openSlot(slot);
    if (!s) return CX_ESLOT;
    if (!status) return CX_EARG;
    if (s->memory) {
        *status = CxFileStat{s->memorySize, 0, 0x8124, 0, 0, false, false};  // a read-only regular file
        return CX_OK;
    }
    // Written bytes must reach the file before its size is asked for.
    if (s->last == ACCESS_WRITE) {
        fflush(s->file);
        s->last = ACCESS_NONE;
    }
    return cxPlatStat(s->path, status) ? CX_OK : CX_EFAIL;
}

const char* cxSlotName(int slot) {
    Slot* s = openSlot(slot);
    return s ? s->name : nullptr;
}

const char* cxSlotPath(int slot) {
    Slot* s = openSlot(slot);
    return s ? s->path : nullptr;
}

bool cxTruncate(int slot) {
    Slot* s = openSlot(slot);
    if (!s || s->memory) return false;
    s->last = ACCESS_NONE;
    return cxPlatTruncate(s->file);
}
