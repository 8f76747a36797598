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
};
extern ArqTally arqTally;

// Set by the signal handler; the callback then asks the engine to stop.
extern volatile int arqInterrupted;

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
// The system's reason for the last failed file operation, as ": reason",
// or "" when there is none.
std::string arqReason(void);
std::string arqReason(int error);

// Text of an engine result code.
const char* arqCodeText(int code);

int16_t arqCallback(EntryInfo* record, CxEvent event, int32_t value);
// Overwrite callback: with -k existing files are kept, else overwritten.
void arqKeepExisting(bool keep);

#endif
