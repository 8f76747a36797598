// arq t and l: a walk over the entries through one read slot.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include "cx.h"
#include "report.h"
#include "verbs.h"

namespace {

// Opens the archive for reading; a name without extension also tries ".arq".
int openForReading(const char* archive) {
    int slot = cxOpenFile(archive, CX_READ);
    if (slot >= 0) return slot;
    const char* base = archive;
    for (const char* p = archive; *p; ++p) {
        if (*p == '/' || *p == '\\' || *p == ':') base = p + 1;
    }
    if (!strchr(base, '.')) {
        char withExtension[1024];
        if (snprintf(withExtension, sizeof withExtension, "%s.arq", archive) < (int)sizeof withExtension) {
            slot = cxOpenFile(withExtension, CX_READ);
            if (slot >= 0) return slot;
        }
    }
    arqError("%s: cannot open the archive", archive);
    return -1;
}

// Opens the archive and readies a record that reads from it.
int openForWalk(const char* archive, EntryInfo* record) {
    memset(record, 0, sizeof *record);
    record->source = openForReading(archive);
    record->destination = -1;
    return record->source;
}

// Ends a walk: -10 is the end record; anything else is damage.
int endOfWalk(const char* archive, int16_t result, int entries) {
    if (result == CX_EEND) return 0;
    if (entries == 0 && (result == CX_EHEADER || result == CX_ENOARCHIVE)) {
        arqError("%s: not an archive", archive);
    } else {
        arqError("%s: %s after %d entries", archive, arqCodeText(result), entries);
    }
    return 1;
}

const char* methodName(uint32_t method) {
    if (method == CX_METHOD_STORED) return "stored";
    if (method == CX_METHOD_PACKED) return "packed";
    return "unknown";
}

}  // namespace

int arqTest(const char* archive) {
    EntryInfo record;
    int slot = openForWalk(archive, &record);
    if (slot < 0) return 1;
    int entries = 0;
    int16_t r = cxFirstEntry(&record);
    for (; r == 0; r = cxNextEntry(&record)) {
        ++entries;
        int16_t tested = cxTestFile(&record);
        arqProgressEnd();
        if (tested == 0) {
            printf("%-40s OK\n", record.name);
        } else {
            printf("%-40s FAILED\n", record.name);
            arqError("%s: %s", record.name, arqCodeText(tested));
        }
    }
    int result = endOfWalk(archive, r, entries);
    cxCloseFile(slot);
    if (result == 0 && arqTally.failures == 0) printf("%d entries tested, all sound\n", entries);
    return result || arqTally.failures ? 1 : 0;
}

int arqList(const char* archive) {
    EntryInfo record;
    int slot = openForWalk(archive, &record);
    if (slot < 0) return 1;
    int entries = 0;
    uint64_t packed = 0, unpacked = 0;
    printf("%-32s %11s %11s %5s %-7s %-19s %-8s\n", "Name", "Packed", "Unpacked", "Ratio", "Method",
           "Time (UTC)", "Check");
    int16_t r = cxFirstEntry(&record);
    for (; r == 0; r = cxNextEntry(&record)) {
        ++entries;
        packed += record.packedSize;
        unpacked += record.unpackedSize;
        time_t stamp = (time_t)record.time;
        struct tm* utc = gmtime(&stamp);
        char when[24] = "-";
        if (utc) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", utc);
        printf("%-32s %11u %11u %4d%% %-7s %-19s %08X%s\n", record.name, record.packedSize,
               record.unpackedSize, cxRatio(&record), methodName(record.method), when, record.checkValue,
               record.flags & CX_FLAG_PROTECTED ? " protected" : "");
    }
    int result = endOfWalk(archive, r, entries);
    cxCloseFile(slot);
    int ratio = unpacked ? (int)(packed * 100 / unpacked) : 100;
    printf("%-32s %11llu %11llu %4d%% %d entries\n", "Total", (unsigned long long)packed,
           (unsigned long long)unpacked, ratio, entries);
    return result;
}
