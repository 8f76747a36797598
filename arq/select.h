// Which archive arq works on and which of its entries a verb's patterns
// select. Patterns are matched here, on whole stored paths, the same way in
// every verb; the engine is then given the chosen names.
#ifndef ARQ_SELECT_H
#define ARQ_SELECT_H

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "cx.h"

// Shell-style matching without regard to case: "*" any run of characters
// and "?" any one character, neither of them "/"; "[..]" one character of
// a class ("!" or "^" first negates it, "a-z" is a range). Every other
// character stands for itself, and "/" and "\" are the same. A pattern
// selects a name it matches whole, and every name below a directory it
// matches.
bool arqMatch(const char* pattern, const char* name);
bool arqHasWildcard(const char* text);

// The name Windows gives a stored path: every level without its trailing
// dots and blanks, in upper case, "/" between levels. Two names with one
// key are one file there.
std::string arqWindowsKey(const std::string& name);
// The device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9) that a
// level of name stands for on Windows, with or without an extension; ""
// when none does.
std::string arqDeviceName(const std::string& name);

// Patterns of one verb; each remembers whether it selected anything.
struct ArqSelector {
    std::vector<const char*> patterns;  // none: everything
    std::vector<bool> used;
    explicit ArqSelector(const std::vector<const char*>& given);
    bool selects(const char* name);
    // Reports every pattern that selected nothing; their number.
    int reportUnused(void);
};

// The file an archive name means: the file of that name whatever its
// extension, else the name with ".arq" when it has no extension. With
// forAdding, a name of no existing file is the new archive to make (".arq"
// added when it has no extension). False after reporting a problem.
bool arqArchivePath(const char* given, bool forAdding, std::string* path);

// The archive a verb works on: a file, or with "-" a copy of standard
// input, whose result a and d write to standard output (toOutput).
struct ArqArchive {
    std::string path;
    bool toOutput;
};
// arqArchivePath, and "-" for standard input (and, when the verb writes
// the archive, standard output). False after
// reporting a problem.
bool arqArchiveFor(const char* given, bool forAdding, bool writes, ArqArchive* archive);
// Ends a verb's work on the archive: a result for standard output is
// written there when status is 0. The exit status.
int arqArchiveDone(ArqArchive* archive, int status);
// A slot that writes to standard output (binary), or -1 after saying why.
int arqOpenStandardOutput(void);

// Opens the archive for the whole run (cxOpenArchive with flags, the file
// named whatever its extension): every walk and the engine's pass then read
// this one open file, so a name swapped meanwhile changes nothing. False
// after saying why; the caller ends with cxCloseArchive.
bool arqOpenArchive(const std::string& archive, int flags);

// Calls visit for each entry of the open archive in archive order, the slot
// positioned at the entry's first data byte; a false return ends the walk.
// 0 at the end record, else 1 after saying what is wrong (no archive,
// truncated, damaged).
int arqWalk(const std::string& archive, const std::function<bool(EntryInfo*)>& visit);

// The four signature bytes (kind 1: entry, 2: archive header), put together
// at run time so that they never stand together in arq's own image.
void arqSignature(uint8_t* out, uint8_t kind);

#endif
