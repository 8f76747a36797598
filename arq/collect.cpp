#include "collect.h"

#include <string.h>

#include <unordered_map>

#include "cx.h"
#include "files.h"
#include "report.h"
#include "select.h"

namespace {

// The latest time the format's 32-bit field holds: 2106-02-07 06:28:15 UTC.
const int64_t kLatestTime = 0xFFFFFFFFLL;
// Archive offsets are 32-bit signed: an archive stays below 2 GiB, and a
// file must fit in it with its entry header, even when it does not shrink.
const uint64_t kArchiveLimit = 0x80000000ull;
const uint64_t kHeaderFixed = 8 + 33;

struct Collector {
    ArqCollectOptions options;
    std::vector<ArqInput>* inputs;
    std::string current;  // the current directory, with its separator
    std::string strip;    // with paths: what is cut off the front of a full path
    std::vector<std::pair<uint64_t, uint64_t>> openDirectories;  // loop guard
    bool refused;
};

std::string joined(const std::string& directory, const std::string& name) {
    if (directory.empty()) return name;
    return arqIsSeparator(directory.back()) ? directory + name : directory + "/" + name;
}

// Archives take "\\" for a separator, as Windows does, so a Linux name that
// holds one is stored with a level there; said so.
std::string entryName(const Collector& c, const std::string& path) {
    std::string name = c.options.namesOnly ? arqBaseName(path) : arqFullPath(path).substr(c.strip.size());
    bool backslash = false;
    for (char& ch : name) {
        if (ch == '\\') {
            backslash = backslash || !arqIsSeparator('\\');
            ch = '/';
        }
    }
    if (backslash) {
        arqNote("%s: stored as %s (a backslash separates levels in archives)", arqShown(path.c_str()).c_str(),
                name.c_str());
    }
    return name;
}

void addFile(Collector* c, const std::string& path, const ArqFileInfo& info) {
    std::string entry = entryName(*c, path);
    if (info.size + kHeaderFixed + entry.size() >= kArchiveLimit) {
        arqError("%s: %s bytes; an archive stays below 2 GiB (2,147,483,648 bytes), so a file must be smaller "
                 "than that less its entry header",
                 arqShown(path.c_str()).c_str(), std::to_string(info.size).c_str());
        c->refused = true;
        return;
    }
    bool timeLost = info.mtime < 0 || info.mtime > kLatestTime;
    if (timeLost) {
        arqNote("%s: modification time outside 1970 to 2106; stored as %s", arqShown(path.c_str()).c_str(),
                info.mtime < 0 ? "1970-01-01 00:00:00 UTC" : "2106-02-07 06:28:15 UTC");
    }
    std::string device = arqDeviceName(entry);
    if (!device.empty() && c->options.strictWindows) {
        arqError("%s: refused, %s is a device name on Windows; not added", arqShown(path.c_str()).c_str(),
                 device.c_str());
        return;
    }
    if (!device.empty()) {
        arqNote("%s: %s is a device name on Windows, where this entry cannot be extracted",
                arqShown(path.c_str()).c_str(), device.c_str());
    }
    if (entry.empty() || entry.size() > CX_ENTRY_NAME_MAX) {
        arqError("%s: the entry name would be %u bytes; at most %d fit", arqShown(path.c_str()).c_str(),
                 (unsigned)entry.size(), CX_ENTRY_NAME_MAX);
        c->refused = true;
        return;
    }
    c->inputs->push_back(ArqInput{path, entry, info.mtime, timeLost});
}

void addPath(Collector* c, const std::string& path, bool named);

void addDirectory(Collector* c, const std::string& path, const ArqFileInfo& info) {
    std::pair<uint64_t, uint64_t> id(info.device, info.inode);
    for (const auto& open : c->openDirectories) {
        if (id.second != 0 && open == id) {
            arqError("%s: a link back to a directory above it; not followed", arqShown(path.c_str()).c_str());
            return;
        }
    }
    std::vector<std::string> names;
    int error = 0;
    if (!arqListDir(path, &names, &error)) {
        arqError("%s: cannot read the directory%s", arqShown(path.c_str()).c_str(), arqReason(error).c_str());
        return;
    }
    // A directory with nothing in it is kept as an entry of its own; with
    // base names alone it would have no place.
    if (names.empty() && !c->options.namesOnly) {
        std::string entry = entryName(*c, path);
        if (!entry.empty() && entry.size() < CX_ENTRY_NAME_MAX) {
            c->inputs->push_back(ArqInput{path, entry + "/", info.mtime, false});
        } else if (!entry.empty()) {
            arqError("%s: the entry name would be %u bytes; at most %d fit", arqShown(path.c_str()).c_str(),
                     (unsigned)entry.size() + 1, CX_ENTRY_NAME_MAX);
            c->refused = true;
        }
    }
    c->openDirectories.push_back(id);
    for (const std::string& name : names) addPath(c, joined(path, name), false);
    c->openDirectories.pop_back();
}

// One path, named on the command line or found below a named directory.
void addPath(Collector* c, const std::string& path, bool named) {
    ArqFileInfo info = arqStat(path);
    const char* shown = path.c_str();
    switch (info.kind) {
    case ARQ_FILE:
        addFile(c, path, info);
        break;
    case ARQ_DIRECTORY:
        if (c->options.filesOnly) {
            arqError("%s: is a directory; give the files", arqShown(shown).c_str());
            c->refused = true;
        } else {
            addDirectory(c, path, info);
        }
        break;
    case ARQ_DANGLING:
        arqError("%s: dangling symbolic link; not added", arqShown(shown).c_str());
        break;
    case ARQ_OTHER:
        arqError("%s: not a regular file; not added", arqShown(shown).c_str());
        break;
    case ARQ_MISSING:
        if (named) arqError("%s%s", arqShown(shown).c_str(), arqReason(info.error).c_str());
        break;
    }
}

// A name with wildcards that names no file: the files of its directory
// that match its last part (names beginning with "." only when the pattern
// does too, as shells do).
void addMatches(Collector* c, const std::string& pattern) {
    std::string directory = arqDirectoryPart(pattern);
    std::string namePattern = arqBaseName(pattern);
    std::vector<std::string> names;
    int error = 0;
    if (!arqListDir(directory.empty() ? "." : directory, &names, &error)) {
        arqError("%s: cannot read the directory%s", arqShown(pattern.c_str()).c_str(), arqReason(error).c_str());
        return;
    }
    size_t before = c->inputs->size();
    bool refusedBefore = c->refused;
    for (const std::string& name : names) {
        if (name[0] == '.' && namePattern[0] != '.') continue;
        if (arqMatch(namePattern.c_str(), name.c_str())) addPath(c, directory + name, true);
    }
    if (c->inputs->size() == before && c->refused == refusedBefore) {
        arqError("no file matches %s", arqShown(pattern.c_str()).c_str());
    }
}

// With paths: entry names are full paths less the current directory, or,
// for a path outside it, less the named file's or directory's parent.
void chooseStrip(Collector* c, const std::string& argument) {
    std::string full = arqFullPath(argument);
    if (!arqIsSeparator(full.back())) full += c->current.empty() ? '/' : c->current.back();
    if (full.size() >= c->current.size() && arqSamePath(full.substr(0, c->current.size()), c->current)) {
        c->strip = c->current;
    } else {
        full.pop_back();
        c->strip = arqDirectoryPart(full);
    }
}

// Two inputs under one entry name are one file named twice, which is taken
// once, or a collision, which is refused. Two names that Windows takes for
// one file (they differ in letter case, or in trailing dots and blanks) are
// refused with strictWindows, else warned of. False after reporting every
// refusal.
bool noCollisions(std::vector<ArqInput>* inputs, bool strictWindows) {
#ifdef _WIN32
    auto sameKey = [](const std::string& entry) { return arqWindowsKey(entry); };
#else
    auto sameKey = [](const std::string& entry) { return entry; };
#endif
    std::unordered_map<std::string, size_t> seen, windowsSeen;
    std::vector<ArqInput> unique;
    bool ok = true;
    for (const ArqInput& input : *inputs) {
        auto placed = seen.emplace(sameKey(input.entry), unique.size());
        if (!placed.second) {
            const ArqInput& first = unique[placed.first->second];
            if (arqSameFile(first.path, input.path)) continue;
            bool sameDirectory = arqSamePath(arqDirectoryPart(arqFullPath(first.path)),
                                             arqDirectoryPart(arqFullPath(input.path)));
            arqError("%s and %s would both be stored as %s%s", arqShown(first.path.c_str()).c_str(),
                     arqShown(input.path.c_str()).c_str(), arqShown(input.entry.c_str()).c_str(),
                     sameDirectory ? " (Windows takes names without regard to case, trailing dots and blanks)"
                                   : "; without -j their paths are kept");
            ok = false;
            continue;
        }
        auto windows = windowsSeen.emplace(arqWindowsKey(input.entry), unique.size());
        unique.push_back(input);
        if (windows.second) continue;
        const ArqInput& first = unique[windows.first->second];
        if (strictWindows) {
            arqError("%s and %s would both be stored as %s on Windows (names without regard to case, trailing "
                     "dots and blanks)",
                     arqShown(first.path.c_str()).c_str(), arqShown(input.path.c_str()).c_str(),
                     arqWindowsKey(input.entry).c_str());
            ok = false;
        } else {
            arqNote("%s and %s are one file on Windows, where only the first is extracted",
                    arqShown(first.entry.c_str()).c_str(), arqShown(input.entry.c_str()).c_str());
        }
    }
    inputs->swap(unique);
    return ok;
}

}  // namespace

bool arqCollect(const std::vector<const char*>& arguments, const ArqCollectOptions& options,
                std::vector<ArqInput>* inputs) {
    Collector c;
    c.options = options;
    c.inputs = inputs;
    c.current = arqCurrentDir();
    c.refused = false;
    for (const char* argument : arguments) {
        std::string path = argument;
        ArqFileInfo info = arqStat(path);
        if (info.kind == ARQ_MISSING && arqHasWildcard(argument)) {
            chooseStrip(&c, arqDirectoryPart(path) + "x");
            addMatches(&c, path);
        } else {
            chooseStrip(&c, path);
            addPath(&c, path, true);
        }
    }
    return noCollisions(inputs, options.strictWindows) && !c.refused;
}

int arqReportTimesLost(const std::vector<ArqInput>& inputs) {
    std::string names;
    int count = 0;
    for (const ArqInput& input : inputs) {
        if (!input.timeLost) continue;
        names += (count ? ", " : "") + arqShown(input.entry.c_str());
        ++count;
    }
    if (count) {
        arqError("%d %s stored without %s modification time (outside 1970 to 2106): %s", count,
                 count == 1 ? "entry" : "entries", count == 1 ? "its" : "their", names.c_str());
    }
    return count;
}
