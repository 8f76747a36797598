// arq t and l: a walk over the entries that the patterns select.
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <string>
#include <vector>

#include "cx.h"
#include "report.h"
#include "select.h"
#include "verbs.h"

namespace {

const char* methodName(uint32_t method) {
    if (method == CX_METHOD_STORED) return "stored";
    if (method == CX_METHOD_PACKED) return "packed";
    return "unknown";
}

std::vector<const char*> patternsOf(const ArqCommand& command) {
    return std::vector<const char*>(command.operands.begin() + 1, command.operands.end());
}

}  // namespace

// Each entry's check value is tested and the entry expanded to nowhere, so
// that a stream that does not fit its sizes is found as well.
int arqTest(const ArqCommand& command) {
    std::string archive;
    if (!arqArchivePath(command.operands[0], false, &archive) || !arqOpenArchive(archive, CX_ARC_READONLY)) return 1;
    ArqSelector selector(patternsOf(command));
    int tested = 0;
    int walk = arqWalk(archive, [&](EntryInfo* record) {
        if (!selector.selects(record->name)) return true;
        ++tested;
        std::string name = arqShown(record->name);
        int before = arqTally.failures;
        int16_t result = cxTestEntry(record);
        arqProgressEnd();
        if (arqInterrupted) return false;
        if (result == 0) {
            printf("%-40s OK%s\n", name.c_str(),
                   record->flags & CX_FLAG_PROTECTED ? " (protected: check value only)" : "");
        } else {
            printf("%-40s FAILED\n", name.c_str());
            if (arqTally.failures == before) arqError("%s: %s", name.c_str(), arqCodeText(result));
        }
        return true;
    });
    cxCloseArchive();
    if (walk == 0) selector.reportUnused();
    if (walk == 0 && arqTally.failures == 0 && !arqInterrupted) printf("%d entries tested, all sound\n", tested);
    return walk || arqTally.failures || arqInterrupted ? 1 : 0;
}

int arqList(const ArqCommand& command) {
    std::string archive;
    if (!arqArchivePath(command.operands[0], false, &archive) || !arqOpenArchive(archive, CX_ARC_READONLY)) return 1;
    ArqSelector selector(patternsOf(command));
    int entries = 0;
    uint64_t packed = 0, unpacked = 0;
    printf("%-32s %11s %11s %5s %-7s %-19s %-8s\n", "Name", "Packed", "Unpacked", "Ratio", "Method",
           "Time (UTC)", "Check");
    int walk = arqWalk(archive, [&](EntryInfo* record) {
        if (!selector.selects(record->name)) return true;
        ++entries;
        packed += record->packedSize;
        unpacked += record->unpackedSize;
        time_t stamp = (time_t)record->time;
        struct tm* utc = gmtime(&stamp);
        char when[24] = "-";
        if (utc) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", utc);
        printf("%-32s %11u %11u %4d%% %-7s %-19s %08X%s\n", arqShown(record->name).c_str(), record->packedSize,
               record->unpackedSize, cxRatio(record), methodName(record->method), when, record->checkValue,
               record->flags & CX_FLAG_PROTECTED ? " protected" : "");
        return true;
    });
    cxCloseArchive();
    int ratio = unpacked ? (int)(packed * 100 / unpacked) : 100;
    printf("%-32s %11llu %11llu %4d%% %d entries\n", "Total", (unsigned long long)packed,
           (unsigned long long)unpacked, ratio, entries);
    if (walk == 0 && selector.reportUnused() > 0) return 1;
    return walk;
}
