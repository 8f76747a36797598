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

const char* entries(uint64_t count) {
    return count == 1 ? "entry" : "entries";
}

// A row of arq l: the name and the columns after it.
struct ListRow {
    std::string name;
    std::string rest;
};

}  // namespace

// Each entry's check value is tested and the entry expanded to nowhere, so
// that a stream that does not fit its sizes is found as well.
int arqTest(const ArqCommand& command) {
    ArqArchive opened;
    if (!arqArchiveFor(command.operands[0], false, false, &opened) || !arqOpenArchive(opened.path, CX_ARC_READONLY))
        return 1;
    const std::string& archive = opened.path;
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
        std::string padded = arqPadded(name, 40);
        if (result == 0) {
            printf("%s OK%s\n", padded.c_str(),
                   record->flags & CX_FLAG_PROTECTED ? " (protected: check value only)" : "");
        } else {
            printf("%s FAILED\n", padded.c_str());
            if (arqTally.failures == before) arqError("%s: %s", name.c_str(), arqCodeText(result));
        }
        return true;
    });
    cxCloseArchive();
    if (walk == 0) selector.reportUnused();
    if (walk == 0 && arqTally.failures == 0 && !arqInterrupted)
        printf("%d %s tested, all sound\n", tested, entries(tested));
    return walk || arqTally.failures || arqInterrupted ? 1 : 0;
}

// The rows are printed once the walk is over, so that the name column is as
// wide as the widest name (in display columns) and a file that is no
// archive prints nothing but its error.
int arqList(const ArqCommand& command) {
    ArqArchive opened;
    if (!arqArchiveFor(command.operands[0], false, false, &opened) || !arqOpenArchive(opened.path, CX_ARC_READONLY))
        return 1;
    ArqSelector selector(patternsOf(command));
    std::vector<ListRow> rows;
    uint64_t packed = 0, unpacked = 0;
    size_t width = 32;
    int walk = arqWalk(opened.path, [&](EntryInfo* record) {
        if (!selector.selects(record->name)) return true;
        packed += record->packedSize;
        unpacked += record->unpackedSize;
        time_t stamp = (time_t)record->time;
        struct tm* utc = gmtime(&stamp);
        char when[24] = "-";
        if (utc) strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S", utc);
        char rest[120];
        snprintf(rest, sizeof rest, "%11u %11u %4d%% %-7s %-19s %08X%s", record->packedSize, record->unpackedSize,
                 cxRatio(record), methodName(record->method), when, record->checkValue,
                 record->flags & CX_FLAG_PROTECTED ? " protected" : "");
        rows.push_back(ListRow{arqShown(record->name), rest});
        size_t shown = arqDisplayWidth(rows.back().name);
        if (shown > width) width = shown;
        return true;
    });
    cxCloseArchive();
    if (walk != 0 && rows.empty()) return walk;
    printf("%s %11s %11s %5s %-7s %-19s %-8s\n", arqPadded("Name", width).c_str(), "Packed", "Unpacked", "Ratio",
           "Method", "Time (UTC)", "Check");
    for (const ListRow& row : rows) printf("%s %s\n", arqPadded(row.name, width).c_str(), row.rest.c_str());
    int ratio = unpacked ? (int)(packed * 100 / unpacked) : 100;
    printf("%s %11llu %11llu %4d%% %d %s\n", arqPadded("Total", width).c_str(), (unsigned long long)packed,
           (unsigned long long)unpacked, ratio, (int)rows.size(), entries(rows.size()));
    if (walk == 0 && selector.reportUnused() > 0) return 1;
    return walk;
}
