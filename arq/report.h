// What arq tells its user: one line per problem on standard error, progress
// on a terminal, and the engine's event callback that feeds both.
#ifndef ARQ_REPORT_H
#define ARQ_REPORT_H

#include <stdint.h>

#include "cx.h"

// Counts of what the engine reported during one verb.
struct ArqTally {
    int failures;   // problems already reported on standard error
    int packed;     // entries written by the add pass
    int extracted;
    int deleted;
};
extern ArqTally arqTally;

// The patterns of the running add verb, in queue order, so that a pattern
// that found no file is named as the user wrote it.
extern const char* const* arqAddPatterns;

// "arq: " + message on standard error; counts a failure.
void arqError(const char* format, ...);
// Progress line on a terminal (nothing when standard error is not one).
void arqProgress(const char* name, uint32_t done, uint32_t total);
void arqProgressEnd(void);

int16_t arqCallback(EntryInfo* record, int16_t code, int32_t value);

#endif
