// What arq tells its user: one line per problem on standard error, progress
// on a console, and the engine's event callback that feeds both.
#ifndef ARQ_REPORT_H
#define ARQ_REPORT_H

#include <stdint.h>

#include <string>

#include "cx.h"

// Counts of what the engine reported during one verb.
struct ArqTally {
    int failures;   // problems already reported on standard error
    int packed;     // entries written by the add pass
    int extracted;
    int deleted;
    int kept;       // existing files left alone (-k)
    bool diskFull;  // the disk filled: said once, and the work stopped
};
extern ArqTally arqTally;

// Set by the signal handler; the callback then asks the engine to stop.
extern volatile int arqInterrupted;
// x -v: each file is named on standard output as it is extracted.
extern bool arqVerbose;
// The file that holds the archive read from standard input ("" when
// none), named "-" in messages as the user gave it.
extern std::string arqStandardInput;

// "arq: " + message on standard error; counts a failure.
void arqError(const char* format, ...);
// The same, for something the user should know that is no failure.
void arqNote(const char* format, ...);
// Progress line on a console, at most ten times a second.
void arqProgress(const char* name, uint32_t done, uint32_t total);
void arqProgressEnd(void);

// A name as the user sees it: "/" between levels on POSIX, control
// characters (C1 ones too) written as escapes (\n, \t, \x1B, \x9B).
std::string arqShown(const char* name);
// Columns a shown name takes on a terminal (UTF-8 characters, wide ones
// two), and the name padded with blanks to at least width columns.
size_t arqDisplayWidth(const std::string& text);
std::string arqPadded(const std::string& text, size_t width);
// The system's reason for the last failed file operation, as ": reason",
// or "" when there is none.
std::string arqReason(void);
std::string arqReason(int error);

// Text of an engine result code.
const char* arqCodeText(int code);

int16_t arqCallback(EntryInfo* record, CxEvent event, int32_t value);
// Overwrite callback: what happens to an existing file (-k, -u).
enum ArqOverwrite { ARQ_OVERWRITE, ARQ_KEEP, ARQ_KEEP_NEWER };
void arqKeepExisting(ArqOverwrite mode);

#endif
