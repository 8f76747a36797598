// What an archive engine code means to the installer, in one table: as an
// event during extraction, whether it ends the run and with which qualifier
// of status 2069 ("An attempt to decompress one or more files has
// failed."); as that qualifier, which text the wizard shows.
#ifndef OUTCOME_H
#define OUTCOME_H

#include <windows.h>
#include <stdint.h>

// Texts of the string tables that no status carries as its own id.
enum { TEXT_NO_DISK_SPACE = 2080, TEXT_DAMAGED_SETUP = 2088 };

struct EngineOutcome {
    int16_t code;    // an engine error code, or the event a failure comes as
    BOOL endsRun;    // as an event during extraction it ends the run
    LONG qualifier;  // of status 2069, for that event or that code
    UINT text;       // the wizard's text for status 2069 with this qualifier
};

// The row of an event the extraction ends with; null for any other event.
const EngineOutcome* ExtractionFailure(int16_t event);
// The text the wizard shows for a failure: its own where the status has
// one, a more telling one for a decompression failure whose qualifier the
// table knows, the internal-error text otherwise.
UINT FailureTextId(DWORD message, LONG qualifier);

#endif
