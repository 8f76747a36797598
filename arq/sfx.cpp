// arq sfx: a self-extracting file made of a stub program, the archive
// header, the given files packed as entries in order, and the end record.
#include <stdio.h>
#include <string.h>

#include "cx.h"
#include "report.h"
#include "verbs.h"

namespace {

// The archive signature is put together at run time so that its four bytes
// never stand together in this program's image: a reader scanning the
// program for an archive must not find one here.
volatile uint8_t signatureMask = 0x5A;

const uint32_t kSearchedBytes = 400000;

void archiveSignature(uint8_t* out) {
    const uint8_t masked[4] = {0x67 ^ 0x5A, 0x57 ^ 0x5A, 0x04 ^ 0x5A, 0x02 ^ 0x5A};
    for (int i = 0; i < 4; ++i) out[i] = (uint8_t)(masked[i] ^ signatureMask);
}

const char* baseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p; ++p) {
        if (*p == '/' || *p == '\\' || *p == ':') base = p + 1;
    }
    return base;
}

bool sameName(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b) {
        char x = *a >= 'a' && *a <= 'z' ? (char)(*a - 32) : *a;
        char y = *b >= 'a' && *b <= 'z' ? (char)(*b - 32) : *b;
        if (x != y) return false;
    }
    return *a == *b;
}

void putLittleEndian(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = (uint8_t)(value >> (8 * i));
}

// Packs the files after the archive header; false after reporting a problem.
bool writeEntries(int out, const char* const* files, int count) {
    int32_t headerAt = cxSeek(out, 0, SEEK_END);
    uint8_t header[12] = {0};
    archiveSignature(header);
    if (headerAt < 0 || cxWrite(out, header, 12) != 12) {
        arqError("cannot write the archive header");
        return false;
    }
    EntryInfo record;
    memset(&record, 0, sizeof record);
    uint32_t total = 0;
    for (int i = 0; i < count; ++i) {
        const char* name = baseName(files[i]);
        int in = cxOpenFile(files[i], CX_READ);
        if (in < 0) {
            arqError("%s: cannot open file", files[i]);
            return false;
        }
        memset(&record, 0, sizeof record);
        snprintf(record.name, sizeof record.name, "%s", name);
        record.nameLength = (uint32_t)strlen(record.name);
        record.source = in;
        record.destination = out;
        record.versionMadeBy = CX_VERSION;
        record.versionNeeded = CX_VERSION_PACKED;
        record.originCode = CX_ORIGIN_ENGINE;
        int16_t packed = cxPackEntry(&record);
        cxCloseFile(in);
        if (packed < 0) {
            arqError("%s: %s", files[i], arqCodeText(packed));
            return false;
        }
        total += record.unpackedSize;
    }
    // The end record repeats the last entry's fields with an empty name.
    record.name[0] = 0;
    record.nameLength = 0;
    record.source = -1;
    record.destination = out;
    putLittleEndian(header + 4, total);
    if (cxWriteEntryHeader(&record) < 0 || cxSeek(out, headerAt + 4, SEEK_SET) < 0 ||
        cxWrite(out, header + 4, 4) != 4) {
        arqError("cannot write the archive");
        return false;
    }
    return true;
}

}  // namespace

int arqSfx(const char* stub, const char* output, const char* const* files, int count) {
    for (int i = 0; i < count; ++i) {
        const char* name = baseName(files[i]);
        if (!*name || strlen(name) > CX_ENTRY_NAME_MAX) {
            arqError("%s: not a usable entry name", files[i]);
            return 1;
        }
        for (int j = 0; j < i; ++j) {
            if (sameName(name, baseName(files[j]))) {
                arqError("%s: a second file named %s", files[i], name);
                return 1;
            }
        }
    }
    int probe = cxOpenFile(stub, CX_READ);
    if (probe < 0) {
        arqError("%s: cannot open the stub", stub);
        return 1;
    }
    CxFileStat status;
    int16_t statted = cxStat(probe, &status);
    cxCloseFile(probe);
    // Readers look for the first entry in the first 400,000 bytes only.
    if (statted == 0 && status.size + 12 + 4 > kSearchedBytes) {
        arqError("%s: stub too large (%u bytes): the archive must begin within the first %u bytes",
                 stub, status.size, kSearchedBytes - 16);
        return 1;
    }
    int16_t copied = cxCopyFile(stub, output);
    if (copied < 0) {
        arqError("%s: cannot write (%s)", output, arqCodeText(copied));
        return 1;
    }
    int out = cxOpenFile(output, CX_READ | CX_WRITE);
    if (out < 0) {
        arqError("%s: cannot open for writing", output);
        remove(output);
        return 1;
    }
    bool ok = writeEntries(out, files, count);
    cxCloseFile(out);
    if (!ok) {
        remove(output);  // a half-written installer is worse than none
        return 1;
    }
    return 0;
}
