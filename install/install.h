// The installation environment: system facts, the directory set and the
// path operations on it, environment set-up, whole-file buffers and the
// forced restart.
#ifndef INSTALL_INSTALL_H
#define INSTALL_INSTALL_H

#include <windows.h>

// Language bits of SystemInfo.languageMask; the same bits mark the
// language-specific entries of a product's file table.
enum {
    LANG_MASK_FRENCH = 0x01000000,
    LANG_MASK_ITALIAN = 0x02000000,
    LANG_MASK_GERMAN = 0x04000000,
    LANG_MASK_SPANISH = 0x08000000,
    LANG_MASK_ENGLISH = 0x10000000
};

// Facts about the running system; all zero until ProbeSystem has run.
struct SystemInfo {
    BOOL is95Family;  // platform 1: Windows 95, 98, Me
    BOOL isNT;        // platform 2, not counted as 2000/XP
    BOOL is2KXP;      // platform 2: 5.0, or major 5 and up with a minor above 0
    BOOL isOldShell;  // major version below 4
    DWORD languageMask;
    BOOL isAdmin;
};
extern SystemInfo g_System;

// Directory ids.
enum {
    DIR_TEMP = 1,
    DIR_TARGET = 2,
    DIR_WINDOWS = 3,
    DIR_SYSTEM16 = 4,
    DIR_SYSTEM32 = 5,
    DIR_DRIVERS = 6,
    DIR_COUNT = 7
};

// The six well-known directories, indexed by directory id (index 0 stays
// empty): lower case, one trailing backslash.
struct InstallDirs {
    char path[DIR_COUNT][MAX_PATH];
};
extern InstallDirs g_Dirs;

// The one-time marks of the environment.
struct EnvironmentState {
    BOOL probed;           // ProbeSystem has run
    BOOL dirsSet;          // SetupDirectories has run
    BOOL initialised;      // InitEnvironment has begun and not been shut down
    BOOL dirTooLong;       // a directory did not fit and was left empty
    BOOL rebootRequested;  // a restart request of this run was accepted
};
extern EnvironmentState g_Environment;

// System probe.
void ProbeSystem(void);
BOOL IsAdministrator(void);
BOOL IsEmulatedX86(void);
// Sets the family flags of info from a reported version.
void ClassifyVersion(DWORD platformId, DWORD major, DWORD minor, SystemInfo* info);
// The language bit of a language id (from its primary language).
DWORD LanguageMaskOf(LANGID language);

// Directory set and path operations.
void SetupDirectories(const char* target);
// The target directory as the product learns it once the run has begun
// (a directory that does not fit is refused as SetupDirectories refuses it).
void SetTargetDirectory(const char* target);
// System16 and Drivers from a System32 text that ends in one backslash;
// FALSE, with the one that does not fit left empty, when one would be cut.
BOOL DeriveSystemDirs(const char* system32, BOOL is95Family, char* system16, char* drivers);
const char* GetInstallDir(DWORD id);
// Directory id (0: none) + file name (+ a replacement extension such as
// ".BAK") into output (MAX_PATH bytes). FALSE, with an empty output, when
// the path would not fit.
BOOL BuildInstallPath(char* output, const char* fileName, DWORD dirId, const char* newExtension);
void NormalizeDirPath(char* text);
BOOL FileExists(const char* pattern);
// Whether anything matches pattern, in *exists, and what matched first in
// *found (may be null). A search that fails for another reason than "not
// there" is logged and reported (status 2067) and returns FALSE: it must
// not be taken for an absent file.
BOOL LookForFile(const char* pattern, BOOL* exists, WIN32_FIND_DATAA* found);

// Environment set-up.
BOOL InitEnvironment(const char* target);
void ShutdownEnvironment(void);
void LogDiskSpace(const char* label, const char* directory);

// A whole file in memory, with a zero-filled reserve behind its contents.
// The file stays open without sharing from load to store.
struct FileBuffer {
    DWORD size;     // the file's size when it was loaded
    HANDLE handle;  // NULL when not loaded
    BYTE* data;     // size + reserve bytes
    DWORD reserve;  // bytes behind the contents that a caller may fill
    char path[MAX_PATH];
};
BOOL LoadFileBuffer(const char* path, DWORD reserve, FileBuffer* buffer);
// Writes size + appended bytes back from the start of the file, releases
// the buffer and closes the file; a file that was and stays empty is deleted.
BOOL StoreFileBuffer(FileBuffer* buffer, DWORD appended);

// Asks the system to restart (with the shutdown privilege on the NT family).
BOOL ForceReboot(void);
// Whether a restart request of this run was accepted.
BOOL RebootRequested(void);

#endif
