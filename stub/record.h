// The install record of a generic setup: what its runs put where, so that
// its uninstaller removes exactly that. It is the value "InstallRecord"
// (REG_MULTI_SZ) of the product's entry in the list of installed programs,
// one line a string, each a kind letter and fields separated by '|', the
// path last (a path holds no '|'):
//   F|size|write time high|low|version MS|LS|path   a file the product installed, with its facts
//   B|path                                          path + ".BAK" is the file that was there before
//   D|path                                          a folder a run created
//   K|root|path                                     a registry key the registry script created
// Numbers are eight hexadecimal digits; a file without a version resource
// has FFFFFFFF for both halves of its version.
#ifndef STUB_RECORD_H
#define STUB_RECORD_H

#include <windows.h>

#include "productdesc.h"

struct FileInfo;
struct UpgradeContext;

#define RECORD_VALUE "InstallRecord"

enum { RECORD_LINE_SIZE = 2 * MAX_PATH + 64 };

// What identifies the bytes the product installed at a path.
struct RecordFacts {
    DWORD size;
    DWORD timeHigh;
    DWORD timeLow;
    DWORD versionMS;
    DWORD versionLS;
};

void FactsOf(const FileInfo* info, RecordFacts* facts);
BOOL SameFacts(const RecordFacts* a, const RecordFacts* b);
// "F|...|path" into line (RECORD_LINE_SIZE bytes); FALSE when it does not fit.
BOOL FormatFileLine(char* line, const RecordFacts* facts, const char* path);
// The facts and the path of an F line; FALSE for any other line.
BOOL ParseFileLine(const char* line, RecordFacts* facts, const char** path);
// The path of a line of kind (the root too for a K line); NULL when the
// line is not of that kind or is malformed.
const char* RecordPath(const char* line, char kind, DWORD* root);

// The install side (record.cpp): StartInstallRecord, before the files are
// placed, reads the earlier runs' record, puts the uninstaller in the target
// folder and starts noting the keys the registry script creates;
// FinishInstallRecord, after a successful run, merges what this run did into
// the record and writes it with the uninstall entry. Both FALSE with a
// status. After a failed run UndoInstallRecord deletes the uninstaller and
// the uninstall entry where this run made the first.
BOOL StartInstallRecord(void);
BOOL FinishInstallRecord(UpgradeContext* context);
void UndoInstallRecord(void);
// The uninstaller's path, for the uninstall entry.
BOOL UninstallerPath(char* path);

#endif
