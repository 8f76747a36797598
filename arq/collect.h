// The files that arq a and arq sfx put into an archive, and the entry name
// each gets, chosen before the archive is touched.
#ifndef ARQ_COLLECT_H
#define ARQ_COLLECT_H

#include <stdint.h>

#include <string>
#include <vector>

struct ArqInput {
    std::string path;   // as the file system knows it
    std::string entry;  // entry name, "/" between levels; a directory's ends with "/"
    int64_t mtime;      // seconds since 1970-01-01 UTC
    bool timeLost;      // outside what the entry's time field holds
};

struct ArqCollectOptions {
    bool namesOnly;      // each file under its base name (else its path below
                         // the current directory, or below the named
                         // directory's parent when it lies elsewhere)
    bool filesOnly;      // directories are refused (sfx)
    bool strictWindows;  // names Windows cannot hold apart are refused, not warned of
};

// Turns the arguments into files: a file as it is, a directory with
// everything below it (links followed; an empty one as a directory entry,
// with paths), a name with wildcards that names no file as the files it
// matches. Problems with single files (dangling links, unreadable
// directories, devices, names that match nothing) are reported and the rest
// is taken. False, after saying why, when the set cannot be stored at all:
// two files would get the same entry name, a file is too large for an
// archive, or an entry name is too long; with strictWindows also two names
// Windows takes for one, or a device name.
bool arqCollect(const std::vector<const char*>& arguments, const ArqCollectOptions& options,
                std::vector<ArqInput>* inputs);

// Says, after the work, which inputs were stored without their own time;
// their number.
int arqReportTimesLost(const std::vector<ArqInput>& inputs);

#endif
