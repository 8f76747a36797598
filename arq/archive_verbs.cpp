// arq a, d and x. arq chooses the files or the entries itself (collect.cpp,
// select.cpp); the engine is given their exact names and carries them out
// in one cxProcess pass.
#include <string.h>

#ifndef _WIN32
#include <fcntl.h>
#endif

#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "collect.h"
#include "cx.h"
#include "files.h"
#include "report.h"
#include "select.h"
#include "verbs.h"

namespace {

// On Linux names keep their letter case (main.c stays main.c); Windows
// programs expect them upper-case, as the engine has always read them.
#ifdef _WIN32
const int kCaseFlag = 0;
#else
const int kCaseFlag = CX_ARC_KEEPCASE;
#endif

std::string shown(const std::string& text) {
    return arqShown(text.c_str());
}

int finish(const std::string& archive, int16_t processed) {
    int16_t closed = cxCloseArchive();
    if (processed < 0 && arqTally.failures == 0 && !arqInterrupted) {
        arqError("%s: %s", shown(archive).c_str(), arqCodeText(processed));
    }
    if (closed < 0) {
        arqError("%s: the rewritten archive could not be put in place%s", shown(archive).c_str(),
                 arqReason().c_str());
    }
    return arqTally.failures || arqInterrupted ? 1 : 0;
}

// An entry the patterns select, with its sizes.
struct Selected {
    std::string name;
    uint32_t packed;
    uint32_t unpacked;
};

// The entries of the open archive that the patterns select, in archive
// order, each once. *walk receives the walk's result (1 after damage was
// reported).
std::vector<Selected> selectedEntries(const std::string& archive, const ArqCommand& command, int* walk) {
    std::vector<const char*> patterns(command.operands.begin() + 1, command.operands.end());
    ArqSelector selector(patterns);
    std::vector<Selected> entries;
    *walk = arqWalk(archive, [&](EntryInfo* record) {
        if (selector.selects(record->name) && (entries.empty() || entries.back().name != record->name)) {
            entries.push_back(Selected{record->name, record->packedSize, record->unpackedSize});
        }
        return true;
    });
    if (*walk == 0) selector.reportUnused();
    return entries;
}

// What one extraction may unpack without -f. The packer shrinks nothing
// further than a file of one byte value: measured, 1 GiB of it packs into
// 6,153 bytes, and each further block of 5,240 longest matches (1,341,440
// bytes) costs 7 bytes, so no real entry passes 195,650:1. A made-up block
// of 65,536 longest matches in 7 bytes reaches 2,580,000:1. An entry beyond
// kRatioLimit, two and a half times the real most, is no real data;
// kTotalLimit bounds an archive of many entries that each stay below it.
const uint64_t kRatioLimit = 500000;
const uint64_t kTotalLimit = 16ull << 30;

// Whether every file system the entries land on has room for all that
// lands there: one mounted below the destination has free space of its
// own. False after saying where there is not.
bool haveRoom(const std::vector<Selected>& entries, const ArqCommand& command) {
    std::string directory = command.directory ? command.directory : ".";
    struct Need {
        std::string where;
        uint64_t bytes;
    };
    std::map<std::string, Need> needs;  // by file system
    std::string top, id, existing;
    bool topKnown = arqFileSystemOf(directory + "/x", &top, &existing);
    for (const Selected& entry : entries) {
        std::string path = directory + "/" + entry.name;
#ifndef _WIN32
        for (char& c : path) c = c == '\\' ? '/' : c;  // the engine's separator in stored names
#endif
        if (!arqFileSystemOf(path, &id, &existing)) continue;  // nothing to ask: write errors will speak
        Need& need = needs[id];
        if (need.where.empty()) need.where = topKnown && id == top ? directory : existing;
        need.bytes += entry.unpacked;
    }
    bool room = true;
    for (const auto& place : needs) {
        const Need& need = place.second;
        int64_t available = cxFreeSpace((need.where + "/x").c_str());
        if (available >= 0 && (uint64_t)available < need.bytes) {
            arqError("%s: not enough free disk space: the entries unpack to %s bytes there, %s are free; nothing "
                     "extracted",
                     shown(need.where).c_str(), std::to_string(need.bytes).c_str(),
                     std::to_string((uint64_t)available).c_str());
            room = false;
        }
    }
    return room;
}

// Refuses, before anything is written, a run the destination has no room
// for and, unless -f, one that looks like an archive bomb. False after
// saying why.
bool fitsAndLooksReal(const std::string& archive, const std::vector<Selected>& entries,
                      const ArqCommand& command) {
    uint64_t total = 0;
    const Selected* steepest = nullptr;
    for (const Selected& entry : entries) {
        total += entry.unpacked;
        uint64_t packed = entry.packed ? entry.packed : 1;
        if (entry.unpacked > kRatioLimit * packed &&
            (!steepest || (uint64_t)entry.unpacked * (steepest->packed ? steepest->packed : 1) >
                              (uint64_t)steepest->unpacked * packed))
            steepest = &entry;
    }
    if (!haveRoom(entries, command)) return false;
    if (command.force) return true;
    if (steepest) {
        arqError("%s: refused, %s would unpack to %s bytes from %s (%s:1), far beyond what real data packs "
                 "to; -f extracts it all the same",
                 shown(archive).c_str(), shown(steepest->name).c_str(), std::to_string(steepest->unpacked).c_str(),
                 std::to_string(steepest->packed).c_str(),
                 std::to_string(steepest->unpacked / (steepest->packed ? steepest->packed : 1)).c_str());
        return false;
    }
    if (total > kTotalLimit) {
        arqError("%s: refused, the entries would unpack to %s bytes, more than 16 GiB; -f extracts them all "
                 "the same",
                 shown(archive).c_str(), std::to_string(total).c_str());
        return false;
    }
    return true;
}

// With the Windows rules, the entries that can be files on Windows: none
// named as a device, and of entries that would be one file there, only the
// first. The others are said and left out. Without them, every entry.
std::vector<Selected> extractable(const std::vector<Selected>& entries, bool strictWindows) {
    if (!strictWindows) return entries;
    std::unordered_map<std::string, std::string> seen;
    std::vector<Selected> kept;
    for (const Selected& entry : entries) {
        std::string device = arqDeviceName(entry.name);
        if (!device.empty()) {
            arqError("%s: refused, %s is a device name on Windows; not extracted", shown(entry.name).c_str(),
                     device.c_str());
            continue;
        }
        auto placed = seen.emplace(arqWindowsKey(entry.name), entry.name);
        if (!placed.second) {
            arqError("%s: the same file as %s on Windows (names without regard to case, trailing dots and "
                     "blanks); not extracted",
                     shown(entry.name).c_str(), shown(placed.first->second).c_str());
            continue;
        }
        kept.push_back(entry);
    }
    return kept;
}

// The engine's file names take "\\" for a separator, as Windows does. A
// Linux file whose name holds one is opened here and given to the engine
// as its open descriptor's name, which holds none.
std::string reachable(const std::string& path) {
#ifndef _WIN32
    if (path.find('\\') != std::string::npos) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0) return "/dev/fd/" + std::to_string(fd);  // open until arq ends
    }
#endif
    return path;
}

// With -u: the inputs whose entry is missing or older than the file.
std::vector<ArqInput> newerOnly(const std::vector<ArqInput>& inputs,
                                const std::unordered_map<std::string, uint32_t>& stored) {
    std::vector<ArqInput> newer;
    for (const ArqInput& input : inputs) {
        auto entry = stored.find(input.entry);
        int64_t time = input.mtime < 0 ? 0 : input.mtime;
        if (entry == stored.end() || time > (int64_t)entry->second) newer.push_back(input);
    }
    return newer;
}

}  // namespace

int arqAdd(const ArqCommand& command) {
    ArqArchive archive;
    if (!arqArchiveFor(command.operands[0], true, true, &archive)) return 1;
    std::vector<const char*> arguments(command.operands.begin() + 1, command.operands.end());
    std::vector<ArqInput> inputs;
    ArqCollectOptions options = {command.namesOnly, false, command.strictWindows};
    if (!arqCollect(arguments, options, &inputs)) return 1;
    if (inputs.empty() || arqInterrupted) return 1;  // every argument was reported
    if (!arqOpenArchive(archive.path, kCaseFlag | (command.best ? CX_ARC_BEST : 0))) return 1;
    // What is there already must be an archive: adding must not rewrite a
    // file that is something else, or an archive that is damaged.
    std::unordered_map<std::string, uint32_t> stored;  // entry name: time
    std::unordered_map<std::string, std::string> upperCase;  // names read back upper-case
    if (cxSeek(cxArchiveSlot(), 0, SEEK_END) > 0 && arqWalk(archive.path, [&](EntryInfo* record) {
            std::string name = record->name;  // "\\" between levels, as the engine reads names
            for (char& c : name) c = c == '\\' ? '/' : c;
            stored[name] = record->time;
            if (record->originCode != CX_ORIGIN_KEEPCASE) upperCase[name] = name;
            return true;
        }) != 0) {
        cxCloseArchive();
        return 1;
    }
    // An entry whose name is read back upper-case (written on Windows, or by
    // sfx) is replaced by a file of that name in any case, not doubled.
    for (ArqInput& input : inputs) {
        std::string upper = input.entry;
        for (char& c : upper) c = c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
        auto entry = upperCase.find(upper);
        if (entry != upperCase.end()) input.entry = entry->second;
    }
    if (command.update) {
        inputs = newerOnly(inputs, stored);
        if (inputs.empty()) {
            cxCloseArchive();
            return arqArchiveDone(&archive, arqTally.failures ? 1 : 0);
        }
    }
    for (const ArqInput& input : inputs) {
        if (cxAddFile(reachable(input.path).c_str(), input.entry.c_str()) < 0) {
            arqError("out of memory");
            cxCloseArchive();
            return 1;
        }
    }
    int result = finish(archive.path, cxProcess());
    if (result == 0 && arqReportTimesLost(inputs)) result = 1;
    return arqArchiveDone(&archive, result);
}

int arqDelete(const ArqCommand& command) {
    ArqArchive archive;
    if (!arqArchiveFor(command.operands[0], false, true, &archive)) return 1;
    if (!arqOpenArchive(archive.path, kCaseFlag)) return arqArchiveDone(&archive, 1);
    int walk = 0;
    std::vector<Selected> entries = selectedEntries(archive.path, command, &walk);
    // A damaged archive is not rewritten.
    if (walk != 0 || entries.empty() || arqInterrupted) {
        cxCloseArchive();
        return arqArchiveDone(&archive, 1);
    }
    for (const Selected& entry : entries) cxDeleteName(entry.name.c_str());
    return arqArchiveDone(&archive, finish(archive.path, cxProcess()));
}

namespace {

// x -O and p: each selected entry's data, expanded with every check, to
// standard output. Directory entries have none.
int extractToOutput(const std::string& archive, const ArqCommand& command) {
    std::vector<const char*> patterns(command.operands.begin() + 1, command.operands.end());
    ArqSelector selector(patterns);
    int output = arqOpenStandardOutput();
    if (output < 0) return 1;
    int walk = arqWalk(archive, [&](EntryInfo* record) {
        if (!selector.selects(record->name) || (record->mode & 0xF000) == 0x4000) return true;
        if (record->flags & CX_FLAG_PROTECTED) {
            arqError("%s is a protected entry; left untouched", arqShown(record->name).c_str());
            return true;
        }
        record->destination = output;
        int before = arqTally.failures;
        int16_t result = cxExpandEntry(record);
        if (result < 0 && arqTally.failures == before) {
            arqError("%s: %s", arqShown(record->name).c_str(), arqCodeText(result));
        }
        return !arqInterrupted && !arqTally.diskFull;
    });
    if (cxCloseFile(output) < 0 || ferror(stdout)) arqError("standard output: write error%s", arqReason().c_str());
    if (walk == 0) selector.reportUnused();
    return walk || arqTally.failures || arqInterrupted ? 1 : 0;
}

}  // namespace

int arqExtract(const ArqCommand& command) {
    ArqArchive archive;
    if (!arqArchiveFor(command.operands[0], false, false, &archive)) return 1;
    if (!arqOpenArchive(archive.path, CX_ARC_READONLY | CX_ARC_PATHS | CX_ARC_GOON | kCaseFlag))
        return arqArchiveDone(&archive, 1);
    if (command.toOutput) {
        int status = extractToOutput(archive.path, command);
        cxCloseArchive();
        return arqArchiveDone(&archive, status);
    }
    int walk = 0;
    // The entries before damage in the archive are still extracted.
    std::vector<Selected> entries = selectedEntries(archive.path, command, &walk);
    if (!entries.empty() && !arqInterrupted) entries = extractable(entries, command.strictWindows);
    if (entries.empty() || arqInterrupted || !fitsAndLooksReal(archive.path, entries, command)) {
        cxCloseArchive();
        return arqArchiveDone(&archive, 1);
    }
    arqKeepExisting(command.keepExisting ? ARQ_KEEP : command.update ? ARQ_KEEP_NEWER : ARQ_OVERWRITE);
    arqVerbose = command.verbose;
    const char* directory = command.directory ? command.directory : "";
    for (const Selected& entry : entries) cxExtractName(entry.name.c_str(), directory);
    int result = finish(archive.path, cxProcess());
    return arqArchiveDone(&archive, walk != 0 ? 1 : result);
}
