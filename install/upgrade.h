// The upgrade engine: the context and file table a product fills, the
// engine's state, its set-up and the passes over a context.
#ifndef INSTALL_UPGRADE_H
#define INSTALL_UPGRADE_H

#include <windows.h>

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
    char description[256];
    char versionText[256];
    char company[32];
    DWORD fileVersionMS;
    DWORD fileVersionLS;
    DWORD productVersionMS;
    DWORD productVersionLS;
    DWORD attributes;
    DWORD size;
    FILETIME lastWriteTime;
};

// Run-time state of one ImageFile, zero-filled by the product.
struct ImageState {
    DWORD extracted;
    LONG upgrade;
    LONG installed;
    LONG cleaned;
    FileInfo existing;
    FileInfo image;
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

BOOL EngineInit(void);
void EngineShutdown(void);
// TRUE when the entry is for the running family and language.
BOOL IsImageApplicable(const ImageFile* entry);

// The passes, in the order the install sequence runs them.
BOOL CreateImages(UpgradeContext* context);
BOOL DecideUpgrades(UpgradeContext* context, BOOL force);
BOOL InstallImages(UpgradeContext* context);
BOOL RunRegistryScript(UpgradeContext* context);
BOOL CleanupImages(UpgradeContext* context, BOOL full);
// Removes the shell's cached data of the drive the installer was started
// from, when that is a CD-ROM drive on the 95 family.
void RemoveCachedVolumeInfo(void);

#endif
