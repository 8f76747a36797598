// The upgrade engine: the context and file table a product fills, the
// engine's state, its set-up and the passes over a context.
#ifndef INSTALL_UPGRADE_H
#define INSTALL_UPGRADE_H

#include <windows.h>
#include <stdint.h>
#include <stdio.h>

// ImageFile.flags
enum {
    IMG_NO_VERSION = 0x00000001,       // compare time stamps only
    IMG_NEED_EXISTING = 0x00000002,    // not recommended when the target is missing
    IMG_NO_IMAGE = 0x00000004,         // no image file
    IMG_NO_BACKUP = 0x00000008,        // no .BAK backup made or restored
    IMG_DELETE_EXISTING = 0x00000010,  // delete the target after the image step
    IMG_MOVE_NOW = 0x00000020,         // with IMG_AT_RESTART: move at once all the same
    IMG_WORK_FILE = 0x00000040,        // never compared, image always deleted
    IMG_AT_RESTART = 0x00000080,       // takes effect at the next restart
    IMG_REGISTRY_SCRIPT = 0x00000100,  // the registry script; a work file to the engine
    IMG_DIRECTORY = 0x00000200,        // a directory to create
    IMG_GROUP_CHECK = 0x00000400,      // takes part in the group consistency rule
    IMG_ON_95 = 0x00010000,
    IMG_ON_NT = 0x00020000,
    IMG_ON_2KXP = 0x00040000,
    IMG_LANGUAGE_BITS = 0xFF000000     // same bits as SystemInfo.languageMask
};

// One packed file of a product (static data apart from imageName).
struct ImageFile {
    const char* archiveName;  // entry name in the archive, any case
    const char* targetName;   // destination, relative to dirId
    char imageName[256];      // base name of the temporary image, filled on extraction
    char backupName[256];     // base name of the .BAK backup
    DWORD dirId;
    DWORD flags;
    DWORD group;
};

// Facts about one file; all zero when it does not exist.
struct FileInfo {
    DWORD exists;
    LONG pending;  // facts taken from the source of a pending replacement
    DWORD hasVersion;
    DWORD fileVersionMS;
    DWORD fileVersionLS;
    DWORD productVersionMS;
    DWORD productVersionLS;
    DWORD attributes;
    DWORD size;
    FILETIME lastWriteTime;
    FILETIME creationTime;
};

// The texts of a file's version resource, read only for a caller that asks:
// every entry keeps its files' facts for the whole run, and the decision
// compares the version numbers alone.
struct VersionStrings {
    char description[256];
    char versionText[256];
    char company[32];
    char product[32];
};

// Run-time state of one ImageFile, zero-filled by the product.
struct ImageState {
    DWORD extracted;
    LONG upgrade;
    LONG installed;
    LONG cleaned;
    LONG inPlace;  // extracted at its target, which had no file: the image stays there
    FileInfo existing;
    FileInfo image;
    // What the installation changed beside the move itself, noted as it
    // goes, so that a roll-back reads nothing back from the disk:
    LONG targetReset;              // the target's attributes were set to normal
    LONG backedUp;                 // the target was copied (or began to be) to its .BAK
    LONG backupMoved;              // the target itself became its .BAK (renamed)
    char earlierBackup[16];  // an earlier .BAK set aside while this run's takes its place: its
                             // temporary name in the entry's directory
    char* pendingSource;     // an earlier run's pending file this run overwrote (process heap);
                             // its copy: + ".BAK"
    BYTE* scriptText;  // a registry script's bytes, held from extraction to parse
    DWORD scriptSize;
};

// ProgressRecord.code
enum {
    PROGRESS_EXTRACT = 256,
    PROGRESS_DECIDE = 257,
    PROGRESS_INSTALL = 258,
    PROGRESS_REGISTRY = 259
};

struct UpgradeContext;

struct ProgressRecord {
    DWORD code;
    DWORD fileDone;   // PROGRESS_EXTRACT only
    DWORD fileSize;   // PROGRESS_EXTRACT only
    DWORD totalDone;  // PROGRESS_EXTRACT only
    DWORD totalSize;  // PROGRESS_EXTRACT only
    LONG index;       // current entry; -1 between entries while extracting
    UpgradeContext* context;
};

typedef BOOL (*ProgressCallback)(ProgressRecord* record);

// What a product hands to the engine; built once by the product.
struct UpgradeContext {
    const char* archivePath;
    LONG installStarted;
    DWORD count;
    ImageFile* images;
    ImageState* states;
    ProgressCallback progress;  // may be NULL
};

// The engine's own state.
struct EngineState {
    BOOL engineReady;
    UpgradeContext* currentContext;
    LONG currentIndex;
    DWORD bytesDone;
    DWORD bytesTotal;
};
extern EngineState g_Engine;

// One of the system's pending-rename records as it was before the run.
struct SavedRecord {
    BOOL known;  // read, or found absent
    BOOL saved;  // it was there: data holds its bytes
    BYTE* data;  // from the process heap
    DWORD size;
    DWORD type;  // the registry value's type
};

// The system's pending-rename records as they were before the run, kept in
// memory: the move record file, and WININIT.INI (95 family) or the Session
// Manager's PendingFileRenameOperations value (NT family).
struct RenameSafekeeping {
    SavedRecord moveRecord;
    SavedRecord pending;
};
extern RenameSafekeeping g_Safekeeping;

BOOL EngineInit(void);
void EngineShutdown(void);
// TRUE when the entry is for the running family and language; the first
// half alone tells whether it is for the running family.
BOOL IsImageApplicable(const ImageFile* entry);
BOOL IsPlatformApplicable(const ImageFile* entry);

// The passes, in the order the install sequence runs them.
BOOL CreateImages(UpgradeContext* context);
BOOL DecideUpgrades(UpgradeContext* context, BOOL force);
// Whether the decision chose any entry of context.
BOOL AnyUpgrade(const UpgradeContext* context);
BOOL InstallImages(UpgradeContext* context);
BOOL RunRegistryScript(UpgradeContext* context);
BOOL CleanupImages(UpgradeContext* context, BOOL full);
// One progress call of a pass over the entries (decision, installation,
// registry script): a zero-filled record with the code, the entry's index
// and the context; nothing without a progress callback.
void ReportPassProgress(UpgradeContext* context, DWORD code, DWORD index);

// Creates an empty file of a new temporary name ("QNB", hex digits, ".TMP")
// in directory; a failure is logged and reported as status 2073.
BOOL MakeTempFile(const char* directory, char* path);
// Renames source to target, a name that is free; a failure is logged
// ("MoveFile %s to %s 0x%08lX") and reported as status 2075.
BOOL RenameReported(const char* source, const char* target);
// Copies source over target; a failure is logged ("CopyFile %s to %s
// 0x%08lX") and reported as status 2066; the last error is still the copy's.
BOOL CopyOver(const char* source, const char* target);
// Gives a file the creation time a copy would have given it: time, or now
// when time is null. FALSE, with the last error, when it cannot be set.
BOOL SetCreationTime(const char* path, const FILETIME* time);
// Deletes path; a failure is logged with failureLine (a format taking the
// path and the error) and reported as status 2070.
BOOL DeleteReported(const char* path, const char* failureLine);

// An entry whose replacement waits for the restart (it takes effect then and
// is not moved at once).
BOOL MovesAtRestart(const ImageFile* entry);
// The run backs the target up before touching it: there is a file, its facts
// are its own (not a pending replacement's), and backups are wanted.
BOOL BacksUpTarget(const ImageFile* entry, const ImageState* state);

// Whether a file is at path, answered from one listing of its folder per
// run (folders.cpp). FALSE when the listing cannot tell: the caller then
// looks for the file itself. ForgetFolderListings lets them all go.
BOOL ListedFileExists(const char* path, BOOL* exists);
// How many names (long and short) the listing of path's folder holds; 0
// when it has none.
DWORD ListedNamesBeside(const char* path);
// Counts a name the run made after its folder was listed (an image): no
// later question asks about it, but it is one more name of the folder.
void NoteNameMade(const char* path);
void ForgetFolderListings(void);

// Where an entry's image is: its target when it was extracted in place,
// else its temporary name (imageName + ".TMP"); FALSE as BuildEnginePath.
BOOL BuildImagePath(char* path, const ImageFile* entry, const ImageState* state);

// BuildInstallPath for the engine's passes: a path that would not fit is a
// failure of the pass (status 2050), never a cut path naming another file.
BOOL BuildEnginePath(char* path, const char* name, DWORD dirId, const char* extension);

// The archive, opened once (reading only, nobody else writing, renaming or
// deleting it) for both walks of image creation. The installer's driver opens
// it at the start of a run, before any question; a failure is kept, without
// a word, for CreateImages to report (status 2067) as if it opened the file
// itself, which it does when nobody did. CreateImages lets it go when it is
// done, as does ReleaseArchive.
// An archive that is the running program's own file is not opened at all:
// it is read from the program's mapped image.
void OpenArchive(UpgradeContext* context);
void ReleaseArchive(void);
// ownimage.cpp: whether path names the running program's own file; the
// payload the loader mapped with the program (the image's last section,
// where "arq sfx" puts the archive), FALSE when the image has no section;
// and a copy out of that mapping, false when a page of it cannot be read.
BOOL IsRunningProgram(const char* path);
// Whether two paths name one file, by their short forms where both have one.
BOOL SameFilePath(const char* a, const char* b);
BOOL FindImagePayload(const BYTE** data, DWORD* size);
bool CopyMappedBytes(void* to, const void* from, uint32_t count);
// The test walk alone, over the archive as OpenArchive holds it, with a
// table of the caller's: every entry's check value and the end record are
// checked, and the table's registry-script entries are held in memory (its
// states; a missing one fails). The archive stays held for image creation;
// FALSE with a status.
BOOL CheckArchive(UpgradeContext* context);
// A C runtime stream over an open file ("rb" or "w+b"), or NULL with a
// status (the file is closed then). Closing the stream closes the file.
FILE* StreamOfHandle(HANDLE file, const char* mode);

// The registry script of the table entry at index, expanded during the test
// walk into memory (state->scriptText); FALSE with a status.
struct EntryInfo;
BOOL HoldRegistryScript(EntryInfo* entry, LONG index);
// After the test walk: TRUE when every registry script the context applies
// was found and held; a missing one is damage to the installer.
BOOL RegistryScriptsHeld(const UpgradeContext* context);
void ReleaseRegistryScript(ImageState* state);

// Image creation: the archive engine's event callback and the table look-up.
enum CxEvent : int16_t;
int16_t ExtractCallback(EntryInfo* record, CxEvent code, int32_t value);
// The first entry of the context being extracted whose archive name is the
// record's name; *index (may be null) is its index, or -1.
ImageFile* FindImageFile(const EntryInfo* record, LONG* index);
// Sorts the context's archive names for FindImageFile, for the passes over
// the archive; released by ReleaseImageNames.
void IndexImageNames(const UpgradeContext* context);
void ReleaseImageNames(void);

// Upgrade decision: the facts of one file (FALSE only on a hard failure,
// with a status set; a missing file is not one), and the short form of a
// path (the path itself and FALSE when there is none).
// With strings, the version resource's texts too (all empty without them).
BOOL GatherFileInfo(const char* path, FileInfo* info, BOOL wantVersion, VersionStrings* strings = NULL);
BOOL GetShortPath(const char* path, char* buffer, DWORD size, BOOL create);

// Moving into place. A null target deletes the source; delayed moves wait
// for the next restart and, with record, are written to the move record file.
BOOL MoveImage(const char* source, const char* target, BOOL delayed, BOOL record);
BOOL ResetAttributes(const char* path);
BOOL AppendMoveRecord(const char* source, const char* target);

// The backup of a file that an earlier run queued for the restart, made when
// a second run puts a newer image in its place: the same path with ".BAK".
BOOL PendingBackupPath(const char* pendingSource, char* backup);

// Pending-rename safekeeping and the move record file.
BOOL SafeguardPendingRenames(void);
BOOL RestorePendingRenames(BOOL restore);
// Whether the restart has work queued: WININIT.INI on the 95 family, the
// pending value on the NT family. FALSE only when that cannot be told.
BOOL RenamesPending(BOOL* pending);
// Looks target (a short path) up in the move record file. *found is TRUE
// when a replacement of it is queued; source and recordTarget (MAX_PATH
// bytes each) then hold that record. FALSE, with a status set, when the
// record file cannot be read or written back: that is no "nothing queued".
// No record file, or an empty one, queues nothing.
BOOL FindMoveRecord(const char* target, char* source, char* recordTarget, BOOL* found);
// The move record file ("qnbinit.TMP" in the System32 directory) and
// WININIT.INI in the Windows directory.
BOOL MoveRecordPath(char* path);
BOOL WininitPath(char* path);

// Removes the shell's cached data of the drive the installer was started
// from, when that is a CD-ROM drive on the 95 family.
void RemoveCachedVolumeInfo(void);

#endif
