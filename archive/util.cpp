// Small utilities: temporary names, slot-to-slot byte copies, whole-file
// copies, the packing ratio, the progress spinner and number formatting.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

namespace {
char tempName[1024];
unsigned spinIndex;
char numberText[16];
}  // namespace

const char* cxTempName(const char* directory, const char* prefix) {
    if (!directory) directory = "";
    CxPlace place;
    size_t linkEnd;
    char name[16];
    FILE* file = nullptr;
    if (cxPlatOpenPlace(directory, "", false, &place, &linkEnd) == CX_OK)
        file = cxPlatCreateIn(&place, prefix && *prefix ? prefix : "CX", name);
    bool fits = file && strlen(place.path) + strlen(name) < sizeof tempName;
    if (fits) {
        strcpy(tempName, place.path);
        strcat(tempName, name);
    }
    if (file) {
        fclose(file);
        if (!fits) cxPlatRemoveIn(&place, name);
    }
    cxPlatClosePlace(&place);
    return fits ? tempName : nullptr;
}

int16_t cxCopyBytes(int from, int to, uint32_t count, EntryInfo* record) {
    EntryInfo local;
    if (!record) {
        memset(&local, 0, sizeof local);
        record = &local;
    }
    uint32_t size = 4096;
    uint8_t* buffer = (uint8_t*)cxAllocHalving(&size);
    if (!buffer) return CX_ENOMEM;
    cxNotify(record, CXCB_COPY, 0);
    uint32_t total = 0;
    bool stopped = false;
    while (total < count) {
        uint32_t want = count - total < size ? count - total : size;
        int32_t got = cxRead(from, buffer, want);
        if (got <= 0) break;
        int32_t put = cxWrite(to, buffer, (uint32_t)got);
        if (put > 0) total += (uint32_t)put;
        if (put != got) break;
        cxNotify(record, CXCB_COPY, (int32_t)total);
        if (record->stopCode == CX_STOP) {
            stopped = true;
            break;
        }
    }
    cxFree(buffer);
    if (stopped) return CX_ESTOPPED;
    return total == count ? CX_OK : CX_EFAIL;
}

int16_t cxCopyFile(const char* source, const char* destination) {
    if (!source || !*source || !destination || !*destination) return CX_EARG;
    CxFileStat status;
    if (!cxPlatStat(source, &status)) return CX_ESLOT;
    if (status.tooLarge) return CX_ETOOLARGE;
    int drive;
    int64_t freeBytes = cxPlatFreeBytes(destination, &drive);
    // A system that cannot tell its free space (-1) does not stop the copy.
    if (freeBytes >= 0 && freeBytes < (int64_t)status.size) return CX_EDISK;
    int in = cxOpenFile(source, CX_READ);
    if (in < 0) return CX_ESLOT;
    // The copy is made beside the destination and put in its place only
    // when whole, with its mode and time given while still open.
    int out = cxOpenOutput(destination);
    if (out < 0) {
        cxCloseFile(in);
        return out == CX_ENOMEM ? (int16_t)CX_ENOMEM : (int16_t)CX_ESLOT;
    }
    int16_t result = cxCopyBytes(in, out, status.size, nullptr);
    cxCloseFile(in);
    if (result < 0) {
        cxCloseFile(out);  // a partial copy is worth nothing
        return result;
    }
    return cxPlaceOutput(out, status.mode, status.mtime) == CX_OK ? (int16_t)CX_OK : (int16_t)CX_EFAIL;
}

int64_t cxFreeSpace(const char* path) {
    int drive;
    return path ? cxPlatFreeBytes(path, &drive) : -1;
}

int16_t cxRatio(const EntryInfo* record) {
    if (record->unpackedSize == 0) return 100;
    uint64_t ratio = (uint64_t)record->packedSize * 100 / record->unpackedSize;
    return ratio > 0x7FFF ? 0x7FFF : (int16_t)ratio;
}

char cxSpinChar(void) {
    static const char spinner[] = "-\\|/";
    spinIndex = (spinIndex + 1) % 4;
    return spinner[spinIndex];
}

const char* cxFormatNumber(int32_t value) {
    char digits[12];
    int64_t magnitude = value < 0 ? -(int64_t)value : value;
    int count = 0;
    do {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude > 0);
    char* out = numberText;
    if (value < 0) *out++ = '-';
    for (int i = count - 1; i >= 0; --i) {
        *out++ = digits[i];
        if (i > 0 && i % 3 == 0) *out++ = ',';
    }
    *out = 0;
    return numberText;
}
