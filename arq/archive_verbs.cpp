// arq a, d and x. arq chooses the files or the entries itself (collect.cpp,
// select.cpp); the engine is given their exact names and carries them out
// in one cxProcess pass.
#include <string.h>

#include <string>
#include <unordered_set>
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

// cxOpenArchive upper-cases its argument in place; the caller's text stays.
bool openArchive(const std::string& archive, int flags) {
    std::vector<char> copy(archive.begin(), archive.end());
    copy.push_back(0);
    int16_t result = cxOpenArchive(copy.data(), flags | CX_ARC_ASGIVEN);
    if (result == 0) return true;
    bool system = result == CX_ESLOT || result == CX_ETEMP || result == CX_EFAIL;
    arqError("%s: %s%s", shown(archive).c_str(), arqCodeText(result), system ? arqReason().c_str() : "");
    return false;
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

// The names of the entries the patterns select, in archive order, each
// once. *walk receives the walk's result (1 after damage was reported).
std::vector<std::string> selectedNames(const std::string& archive, const ArqCommand& command,
                                       size_t firstPattern, int* walk) {
    std::vector<const char*> patterns(command.operands.begin() + firstPattern, command.operands.end());
    ArqSelector selector(patterns);
    std::vector<std::string> names;
    *walk = arqWalk(archive, [&](EntryInfo* record) {
        if (selector.selects(record->name) && (names.empty() || names.back() != record->name)) {
            names.push_back(record->name);
        }
        return true;
    });
    if (*walk == 0) selector.reportUnused();
    return names;
}

}  // namespace

int arqAdd(const ArqCommand& command) {
    std::string archive;
    if (!arqArchivePath(command.operands[0], true, &archive)) return 1;
    // What is there already must be an archive: adding must not rewrite a
    // file that is something else, or an archive that is damaged.
    ArqFileInfo existing = arqStat(archive);
    if (existing.kind == ARQ_FILE && existing.size > 0 && arqWalk(archive, [](EntryInfo*) { return true; }) != 0) {
        return 1;
    }
    std::vector<const char*> arguments(command.operands.begin() + 1, command.operands.end());
    std::vector<ArqInput> inputs;
    if (!arqCollect(arguments, command.keepPaths ? ARQ_KEEP_PATHS : ARQ_BASE_NAMES, &inputs)) return 1;
    if (inputs.empty() || arqInterrupted) return 1;  // every argument was reported
    if (!openArchive(archive, kCaseFlag | (command.best ? CX_ARC_BEST : 0))) return 1;
    for (const ArqInput& input : inputs) {
        if (cxAddFile(input.path.c_str(), input.entry.c_str()) < 0) {
            arqError("out of memory");
            cxCloseArchive();
            return 1;
        }
    }
    return finish(archive, cxProcess());
}

int arqDelete(const ArqCommand& command) {
    std::string archive;
    if (!arqArchivePath(command.operands[0], false, &archive)) return 1;
    int walk = 0;
    std::vector<std::string> names = selectedNames(archive, command, 1, &walk);
    if (walk != 0 || names.empty() || arqInterrupted) return 1;  // a damaged archive is not rewritten
    if (!openArchive(archive, 0)) return 1;
    for (const std::string& name : names) cxDeleteName(name.c_str());
    return finish(archive, cxProcess());
}

int arqExtract(const ArqCommand& command) {
    std::string archive;
    if (!arqArchivePath(command.operands[0], false, &archive)) return 1;
    int walk = 0;
    // The entries before damage in the archive are still extracted.
    std::vector<std::string> names = selectedNames(archive, command, 1, &walk);
    if (names.empty() || arqInterrupted) return 1;
    // Names are one name whatever their case: a second entry of the same
    // name would be one file with the first, so it is said and left.
    std::unordered_set<std::string> seen;
    for (const std::string& name : names) {
        std::string key = name;
        for (char& c : key) c = c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
        if (!seen.insert(key).second) arqError("%s: a second entry of this name; not extracted", shown(name).c_str());
    }
    if (!openArchive(archive, CX_ARC_READONLY | CX_ARC_PATHS | CX_ARC_GOON)) return 1;
    arqKeepExisting(command.keepExisting);
    const char* directory = command.directory ? command.directory : "";
    for (const std::string& name : names) cxExtractName(name.c_str(), directory);
    int result = finish(archive, cxProcess());
    return walk != 0 ? 1 : result;
}
