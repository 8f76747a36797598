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
const uint64_t kLargestFile = 0xFFFFFFFFull;

struct Collector {
    ArqCollectMode mode;
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

std::string entryName(const Collector& c, const std::string& path) {
    if (c.mode != ARQ_KEEP_PATHS) return arqBaseName(path);
    std::string full = arqFullPath(path);
    std::string name = full.substr(c.strip.size());
    for (char& ch : name) {
        if (ch == '\\') ch = '/';
    }
    return name;
}

void addFile(Collector* c, const std::string& path, const ArqFileInfo& info) {
    if (info.size > kLargestFile) {
        arqError("%s: %s bytes; files of 4 GiB or more cannot be stored (the size fields are 32 bits)",
                 arqShown(path.c_str()).c_str(), std::to_string(info.size).c_str());
        c->refused = true;
        return;
    }
    if (info.mtime < 0 || info.mtime > kLatestTime) {
        arqNote("%s: modification time outside 1970 to 2106; stored as %s", arqShown(path.c_str()).c_str(),
                info.mtime < 0 ? "1970-01-01 00:00:00 UTC" : "2106-02-07 06:28:15 UTC");
    }
    std::string entry = entryName(*c, path);
    std::string device = arqDeviceName(entry);
    if (!device.empty()) {
        arqError("%s: refused, %s is a device name on Windows; not added", arqShown(path.c_str()).c_str(),
                 device.c_str());
        return;
    }
    if (entry.empty() || entry.size() > CX_ENTRY_NAME_MAX) {
        arqError("%s: the entry name would be %u bytes; at most %d fit", arqShown(path.c_str()).c_str(),
                 (unsigned)entry.size(), CX_ENTRY_NAME_MAX);
        c->refused = true;
        return;
    }
    c->inputs->push_back(ArqInput{path, entry});
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
        if (c->mode == ARQ_FILES_ONLY) {
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

// Two inputs under one entry name as Windows sees names (without regard to
// case, trailing dots and blanks) are one file named twice, which is taken
// once, or a collision, which is refused. False after reporting every
// collision.
bool noCollisions(std::vector<ArqInput>* inputs) {
    std::unordered_map<std::string, size_t> seen;
    std::vector<ArqInput> unique;
    bool ok = true;
    for (const ArqInput& input : *inputs) {
        auto placed = seen.emplace(arqWindowsKey(input.entry), unique.size());
        if (placed.second) {
            unique.push_back(input);
            continue;
        }
        const ArqInput& first = unique[placed.first->second];
        if (arqSameFile(first.path, input.path)) continue;
        bool sameDirectory = arqSamePath(arqDirectoryPart(arqFullPath(first.path)),
                                         arqDirectoryPart(arqFullPath(input.path)));
        arqError("%s and %s would both be stored as %s (Windows takes names without regard to case, trailing "
                 "dots and blanks%s)",
                 arqShown(first.path.c_str()).c_str(), arqShown(input.path.c_str()).c_str(),
                 arqWindowsKey(input.entry).c_str(), sameDirectory ? "" : "; -p keeps their paths");
        ok = false;
    }
    inputs->swap(unique);
    return ok;
}

}  // namespace

bool arqCollect(const std::vector<const char*>& arguments, ArqCollectMode mode, std::vector<ArqInput>* inputs) {
    Collector c;
    c.mode = mode;
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
    return noCollisions(inputs) && !c.refused;
}
