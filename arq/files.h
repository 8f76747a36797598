// What arq needs of the file system beyond the engine's file slots: the
// kind and size of a file (links followed), directory listings that
// include subdirectories, full paths and the current directory.
#ifndef ARQ_FILES_H
#define ARQ_FILES_H

#include <stdint.h>

#include <string>
#include <vector>

enum ArqKind {
    ARQ_MISSING,    // nothing there (error says why)
    ARQ_FILE,       // a regular file, or a link to one
    ARQ_DIRECTORY,  // a directory, or a link to one
    ARQ_DANGLING,   // a symbolic link to nothing
    ARQ_OTHER       // a device, pipe or socket
};

struct ArqFileInfo {
    ArqKind kind;
    uint64_t size;
    int64_t mtime;    // seconds since 1970-01-01 UTC
    uint64_t device;  // with inode: which file it is (0 on Windows)
    uint64_t inode;
    int error;        // errno when kind is ARQ_MISSING
};

ArqFileInfo arqStat(const std::string& path);
// Names in the directory (not "." and ".."), sorted; false with errno in
// *error when it cannot be read.
bool arqListDir(const std::string& directory, std::vector<std::string>* names, int* error);
// Absolute form of path with "." and ".." resolved as text.
std::string arqFullPath(const std::string& path);
// The current directory, ending with a separator.
std::string arqCurrentDir(void);
// Whether two full paths are the same (case-insensitive on Windows).
bool arqSamePath(const std::string& a, const std::string& b);
// Whether both name the same existing file.
bool arqSameFile(const std::string& a, const std::string& b);
// Which file system a path (that need not exist yet) would be written to:
// that of its nearest existing level, a file system mounted there included,
// as a key that tells file systems apart. *existing receives that level.
// False when not even the current directory can be asked.
bool arqFileSystemOf(const std::string& path, std::string* key, std::string* existing);
bool arqIsSeparator(char c);
// Bytes of the character at text: 2 on Windows for a double-byte character
// of the ANSI code page (its second byte may be a letter or "\\"), else 1.
size_t arqCharSize(const char* text);
// Part after the last separator (or, on Windows, drive colon).
std::string arqBaseName(const std::string& path);
// Part up to and including the last separator ("" when there is none).
std::string arqDirectoryPart(const std::string& path);

#endif
