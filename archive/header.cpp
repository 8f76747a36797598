// Entry headers: the signature search that finds an archive inside a larger
// file, and reading and writing one entry header through the file slots.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

// How far into a file the signature search looks (the installer image plus
// some slack), and the search's chunk size.
static const int32_t kSearchLimit = 400000;
static const uint32_t kSearchChunk = 6144;

// The signatures are "gW", 4 and then 1 (entry) or 2 (archive header). They
// are put together at run time from a key the compiler cannot see through,
// so the engine's own image never holds them and a search of a
// self-extracting file cannot stop inside the code.
static volatile uint8_t signatureKey = 0x5A;
static void makeSignature(uint8_t* out, uint8_t kind) {
    uint8_t key = signatureKey;
    out[0] = (uint8_t)(0x67 ^ 0x5A ^ key);
    out[1] = (uint8_t)(0x57 ^ 0x5A ^ key);
    out[2] = (uint8_t)(0x04 ^ 0x5A ^ key);
    out[3] = (uint8_t)(kind ^ 0x5A ^ key);
}

static uint32_t getLE(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; i--) v = (v << 8) | p[i];
    return v;
}

static void putLE(uint8_t* p, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; i++, v >>= 8) p[i] = (uint8_t)v;
}

// Searches from the slot's position for the 4-byte signature of the given
// kind; returns the offset of its first byte or a negative code. The slot's
// position is restored.
static int32_t searchSlot(int slot, uint8_t kind) {
    int32_t start = cxTell(slot);
    if (start < 0) return CX_EFAIL;
    int32_t length = cxSeek(slot, 0, SEEK_END);
    cxSeek(slot, start, SEEK_SET);
    if (length <= start) return CX_ENOARCHIVE;

    uint32_t size = (uint32_t)(length - start);
    if (size > kSearchChunk) size = kSearchChunk;
    // A short remainder is below the halving floor; ask for it as it is.
    uint8_t* buffer = (uint8_t*)(size < 512 ? cxAlloc(size) : cxAllocHalving(&size));
    if (!buffer) return CX_ENOMEM;

    uint8_t signature[4];
    makeSignature(signature, kind);
    int32_t result = CX_ENOARCHIVE;
    int32_t scanned = 0;  // bytes searched so far
    int matched = 0;      // signature bytes matched so far (carries across chunks)
    EntryInfo progress;
    for (;;) {
        int32_t got = cxRead(slot, buffer, size);
        if (got <= 0) break;
        for (int32_t i = 0; i < got; i++) {
            if (buffer[i] != signature[matched]) {
                matched = 0;  // compare the same byte again with the first one
                if (buffer[i] != signature[0]) continue;
            }
            if (++matched == 4) {
                result = start + scanned + i - 3;
                break;
            }
        }
        if (result >= 0) break;
        scanned += got;
        bool last = scanned > kSearchLimit;
        memset(&progress, 0, sizeof progress);
        cxNotify(&progress, CXCB_SEARCH, 0);
        if (progress.stopCode == CX_STOP) {
            result = CX_ESTOPPED;
            break;
        }
        if (last) break;
    }
    cxFree(buffer);
    cxSeek(slot, start, SEEK_SET);
    return result;
}

static int32_t searchFile(const char* path, int slot, uint8_t kind) {
    if (!path) {
        if (slot < 0 || slot >= CX_SLOTS) return CX_EARG;
        return searchSlot(slot, kind);
    }
    if (!*path) return CX_EARG;
    int opened = cxOpenFile(path, CX_READ);
    if (opened < 0) return CX_ENOFILE;
    int32_t result = searchSlot(opened, kind);
    cxCloseFile(opened);
    return result;
}

int32_t cxFindEntrySignature(const char* path, int slot) { return searchFile(path, slot, 1); }

int32_t cxFindArchiveHeader(const char* path, int slot) {
    int32_t offset = searchFile(path, slot, 2);
    return offset < 0 ? offset : offset + 4;
}

int16_t cxReadEntryHeader(EntryInfo* record) {
    int slot = record->source;
    if (slot < 0 || slot >= CX_SLOTS) return CX_ESLOT;

    uint8_t lead[CX_LEAD_SIZE];
    uint8_t signature[4];
    makeSignature(signature, 1);
    int32_t got = cxRead(slot, lead, CX_LEAD_SIZE);
    if (got < CX_LEAD_SIZE || memcmp(lead, signature, 4) != 0)
        return cxTell(slot) == 0 ? CX_ENOARCHIVE : CX_EHEADER;

    record->versionMadeBy = lead[4];
    record->versionNeeded = lead[5];
    uint8_t major = lead[5] >> 4, minor = lead[5] & 15;
    if (major > (CX_VERSION >> 4) || (major == (CX_VERSION >> 4) && minor > (CX_VERSION & 15)))
        return CX_EVERSION;

    uint32_t nameLength = getLE(lead + 6, 2);
    if (nameLength > CX_ENTRY_NAME_MAX) {
        record->nameLength = 0;
        return CX_EHEADER;
    }
    record->nameLength = nameLength;
    if (nameLength && cxRead(slot, record->name, nameLength) != (int32_t)nameLength) {
        record->name[0] = 0;
        return CX_EHEADER;
    }
    record->name[nameLength] = 0;
    // The writer never puts a NUL into a name; one here means damage.
    if (memchr(record->name, 0, nameLength)) return CX_EHEADER;

    uint8_t body[CX_BODY_SIZE];
    if (cxRead(slot, body, CX_BODY_SIZE) != CX_BODY_SIZE) return CX_EHEADER;
    record->time = getLE(body + 0, 4);
    record->mode = (uint16_t)getLE(body + 4, 2);
    record->ownerId = getLE(body + 6, 2);
    record->groupId = getLE(body + 8, 2);
    record->packedSize = getLE(body + 10, 4);
    record->unpackedSize = getLE(body + 14, 4);
    record->checkValue = getLE(body + 18, 4);
    record->method = body[22];
    record->originCode = body[23];
    record->flags = body[24];
    record->spare = body[25];
    memcpy(record->reserved, body + 26, 5);
    record->extraLength = getLE(body + 31, 2);

    // The extra field carries nothing this engine uses.
    uint32_t extra = record->extraLength;
    while (extra) {
        uint8_t discard[64];
        uint32_t part = extra < sizeof discard ? extra : (uint32_t)sizeof discard;
        if (cxRead(slot, discard, part) != (int32_t)part) return CX_EHEADER;
        extra -= part;
    }

    for (uint32_t i = 0; i < nameLength; i++) {
        char& ch = record->name[i];
        if (ch == '/') ch = '\\';
        else if (record->originCode != CX_ORIGIN_KEEPCASE && ch >= 'a' && ch <= 'z') ch -= 32;
    }
    if (nameLength == 0) return CX_EEND;

    // Stored data that would run past the end of the file cannot be right;
    // refusing it here keeps every later step inside the file.
    int32_t here = cxTell(slot);
    int32_t end = cxSeek(slot, 0, SEEK_END);
    if (here < 0 || end < 0 || cxSeek(slot, here, SEEK_SET) != here) return CX_EHEADER;
    if (record->packedSize > (uint32_t)(end - here)) return CX_EHEADER;
    return CX_OK;
}

int16_t cxWriteEntryHeader(EntryInfo* record) {
    int slot = record->destination;
    if (slot < 0 || slot >= CX_SLOTS) return CX_ESLOT;
    uint32_t nameLength = 0;
    while (nameLength < CX_NAME_MAX && record->name[nameLength]) nameLength++;
    // A longer name could not be read back; nothing is written for it.
    if (nameLength > CX_ENTRY_NAME_MAX) return CX_EARG;

    if (record->versionNeeded == 0) record->versionNeeded = CX_VERSION;
    uint8_t header[CX_LEAD_SIZE + CX_ENTRY_NAME_MAX + CX_BODY_SIZE];
    makeSignature(header, 1);
    header[4] = CX_VERSION;
    header[5] = (uint8_t)record->versionNeeded;
    putLE(header + 6, nameLength, 2);
    uint8_t* name = header + CX_LEAD_SIZE;
    for (uint32_t i = 0; i < nameLength; i++) {
        char ch = record->name[i];
        name[i] = (uint8_t)(ch == '\\' ? '/' : ch);
        // The record keeps the engine's in-memory form of the name, which
        // is upper-case unless the entry keeps its letter case.
        if (ch >= 'a' && ch <= 'z' && record->originCode != CX_ORIGIN_KEEPCASE) record->name[i] = (char)(ch - 32);
        else if (ch == '/') record->name[i] = '\\';
    }

    uint8_t* body = name + nameLength;
    record->extraLength = 0;
    putLE(body + 0, record->time, 4);
    putLE(body + 4, record->mode, 2);
    putLE(body + 6, record->ownerId, 2);
    putLE(body + 8, record->groupId, 2);
    putLE(body + 10, record->packedSize, 4);
    putLE(body + 14, record->unpackedSize, 4);
    putLE(body + 18, record->checkValue, 4);
    body[22] = (uint8_t)record->method;
    body[23] = (uint8_t)record->originCode;
    body[24] = (uint8_t)record->flags;
    body[25] = (uint8_t)record->spare;
    memcpy(body + 26, record->reserved, 5);
    putLE(body + 31, 0, 2);

    int32_t size = (int32_t)(CX_LEAD_SIZE + nameLength + CX_BODY_SIZE);
    return cxWrite(slot, header, (uint32_t)size) == size ? CX_OK : CX_EWRITE;
}

int16_t cxFirstEntry(EntryInfo* record) {
    int32_t offset = cxFindEntrySignature(nullptr, record->source);
    if (offset == CX_ESTOPPED) return CX_ESTOPPED;
    if (record->source >= 0 && record->source < CX_SLOTS)
        cxSeek(record->source, offset < 0 ? 0 : offset, SEEK_SET);
    return cxReadEntryHeader(record);
}

int16_t cxSkipEntryData(EntryInfo* record) {
    if (record->packedSize > 0x7FFFFFFFu) return CX_EFAIL;
    if (record->packedSize == 0) return CX_OK;
    return cxSeek(record->source, (int32_t)record->packedSize, SEEK_CUR) < 0 ? CX_EFAIL : CX_OK;
}

int16_t cxNextEntry(EntryInfo* record) {
    if (cxSkipEntryData(record) < 0) return CX_EFAIL;
    return cxReadEntryHeader(record);
}
