// The files that arq a and arq sfx put into an archive, and the entry name
// each gets, chosen before the archive is touched.
#ifndef ARQ_COLLECT_H
#define ARQ_COLLECT_H

#include <string>
#include <vector>

struct ArqInput {
    std::string path;   // as the file system knows it
    std::string entry;  // entry name, "/" between levels
};

enum ArqCollectMode {
    ARQ_BASE_NAMES,  // each file under its own name
    ARQ_KEEP_PATHS,  // the path below the current directory (or below the
                     // named directory's parent when it lies elsewhere)
    ARQ_FILES_ONLY   // base names, and directories are refused (sfx)
};

// Turns the arguments into files: a file as it is, a directory with
// everything below it (links followed), a name with wildcards that names no
// file as the files it matches. Problems with single files (dangling links,
// unreadable directories, devices, names that match nothing) are reported
// and the rest is taken. False, after saying why, when the set cannot be
// stored at all: two files would get the same entry name (compared without
// regard to case), a file is 4 GiB or more, or an entry name is too long.
bool arqCollect(const std::vector<const char*>& arguments, ArqCollectMode mode,
                std::vector<ArqInput>* inputs);

#endif
