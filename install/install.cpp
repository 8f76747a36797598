// The installation environment: system probe, directory set, environment
// set-up, disk-space report, whole-file buffers and the forced restart.
#include "install.h"

#include <stdlib.h>
#include <string.h>

#include "log.h"
#include "sehguard.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"

SystemInfo g_System;
InstallDirs g_Dirs;
EnvironmentState g_Environment;

// ---------------------------------------------------------------- probe

void ClassifyVersion(DWORD platformId, DWORD major, DWORD minor, SystemInfo* info)
{
    info->is95Family = FALSE;
    info->isNT = FALSE;
    info->is2KXP = FALSE;
    info->isOldShell = major < 4;
    if (platformId == VER_PLATFORM_WIN32_WINDOWS) {
        info->is95Family = TRUE;
    } else if (platformId == VER_PLATFORM_WIN32_NT) {
        if ((major == 5 && minor == 0) || (major >= 5 && minor > 0))
            info->is2KXP = TRUE;
        else
            info->isNT = TRUE;
    }
}

struct LanguageRow {
    DWORD primary;
    DWORD mask;
    const char* line;
};

static const LanguageRow kLanguages[] = {
    {0x0C, LANG_MASK_FRENCH, "OS Language = FRENCH (0x%04lX)"},
    {0x10, LANG_MASK_ITALIAN, "OS Language = ITALIAN (0x%04lX)"},
    {0x07, LANG_MASK_GERMAN, "OS Language = GERMAN (0x%04lX)"},
    {0x0A, LANG_MASK_SPANISH, "OS Language = SPANISH (0x%04lX)"},
};

static const LanguageRow* LanguageRowOf(LANGID language)
{
    for (DWORD i = 0; i < sizeof kLanguages / sizeof kLanguages[0]; ++i)
        if (kLanguages[i].primary == (DWORD)(language & 0x3FF))
            return &kLanguages[i];
    return NULL;
}

DWORD LanguageMaskOf(LANGID language)
{
    const LanguageRow* row = LanguageRowOf(language);
    return row ? row->mask : LANG_MASK_ENGLISH;
}

BOOL IsAdministrator(void)
{
    if (g_System.is95Family)
        return TRUE;
    HANDLE token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return FALSE;
    DWORD groupsBuffer[256];  // 1024 bytes, aligned for the SID pointers
    DWORD needed = 0;
    BOOL read = GetTokenInformation(token, TokenGroups, groupsBuffer, sizeof groupsBuffer, &needed);
    CloseHandle(token);
    if (!read)
        return FALSE;
    SID_IDENTIFIER_AUTHORITY ntAuthority = {SECURITY_NT_AUTHORITY};
    PSID administrators;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &administrators))
        return FALSE;
    // A restricted token still lists the group, marked for deny only and
    // not enabled: such a user has no administrator rights.
    const TOKEN_GROUPS* groups = (const TOKEN_GROUPS*)groupsBuffer;
    BOOL member = FALSE;
    for (DWORD i = 0; i < groups->GroupCount && !member; ++i) {
        DWORD attributes = groups->Groups[i].Attributes;
        member = (attributes & SE_GROUP_ENABLED) && !(attributes & SE_GROUP_USE_FOR_DENY_ONLY) &&
                 EqualSid(groups->Groups[i].Sid, administrators);
    }
    FreeSid(administrators);
    return member;
}

static void ReadProcessorVendor(void* vendor)
{
    // The instruction overwrites all four registers: each is an output here.
    DWORD eax = 0, ebx, ecx = 0, edx;
    __asm__ __volatile__("cpuid" : "+a"(eax), "=b"(ebx), "+c"(ecx), "=d"(edx));
    memcpy((char*)vendor, &ebx, 4);
    memcpy((char*)vendor + 4, &edx, 4);
    memcpy((char*)vendor + 8, &ecx, 4);
}

BOOL IsEmulatedX86(void)
{
    if (g_System.is95Family)
        return FALSE;
    char vendor[13] = {0};
    DWORD code;
    // A processor without the instruction raises an exception: count it as Intel.
    if (!RunGuarded(ReadProcessorVendor, vendor, &code))
        return FALSE;
    return memcmp(vendor, "DigitalFX!32", 12) == 0;
}

static const char* FamilyName(const SystemInfo* info)
{
    if (info->is95Family)
        return "95";
    if (info->isNT)
        return "NT";
    if (info->is2KXP)
        return "2K/XP";
    return "Other";
}

void ProbeSystem(void)
{
    if (g_Environment.probed)
        return;
    g_Environment.probed = TRUE;
    LOG("%s - %s", "Quenbry INSTALL Library", "1.09 (019)");

    OSVERSIONINFOA version;
    memset(&version, 0, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    ClassifyVersion(version.dwPlatformId, version.dwMajorVersion, version.dwMinorVersion, &g_System);
    LOG("OS = Windows %s (%ld.%ld.%ld)", FamilyName(&g_System), version.dwMajorVersion,
        version.dwMinorVersion, version.dwBuildNumber & 0xFFFF);

    if (IsEmulatedX86())
        LOG("Platform ID = ALPHA");
    else
        LOG("Platform ID = INTEL");

    LANGID language = GetUserDefaultLangID();
    DWORD primary = language & 0x3FF;
    const LanguageRow* row = LanguageRowOf(language);
    g_System.languageMask = LanguageMaskOf(language);
    if (row)
        LOG(row->line, primary);
    else
        LOG("OS Language = ENGLISH (by default - 0x%04lX)", primary);

    g_System.isAdmin = IsAdministrator();
    if (g_System.isNT || g_System.is2KXP) {
        if (g_System.isAdmin)
            LOG("User has administrator rights on the local machine");
        else
            LOG("User does *NOT* have administrator rights on the local machine");
    }
}

// ---------------------------------------------------------------- directories

void NormalizeDirPath(char* text)
{
    // A slash is never the second byte of a double-byte character; a
    // backslash may be, and only a backslash of its own ends the text.
    char* last = NULL;
    for (char* p = text; *p; p = (char*)NextChar(p)) {
        if (*p == '/')
            *p = '\\';
        last = p;
    }
    if (last && *last == '\\')
        *last = 0;
}

static const char* const kDirNames[DIR_COUNT] = {"", "Temp", "Target", "Windows", "System16", "System32",
                                                 "Drivers"};

// A directory that does not fit its MAX_PATH buffer is left empty and
// reported: cut, it would name another directory. InitEnvironment then
// refuses to go on.
static void RefuseDir(DWORD id, const char* value)
{
    g_Dirs.path[id][0] = 0;
    g_Environment.dirTooLong = TRUE;
    LOG("%s directory does not fit in %ld characters: %s", kDirNames[id], (LONG)(MAX_PATH - 1), value);
    STATUS(MSG_OPEN_FAILED, ERROR_FILENAME_EXCED_RANGE);
}

// Normalised, lower case, one trailing backslash. NULL stands for a
// directory the system could not hand over in MAX_PATH characters.
static void StoreDir(DWORD id, const char* value)
{
    char* dir = g_Dirs.path[id];
    if (!value) {
        RefuseDir(id, "(longer than the query's buffer)");
        return;
    }
    if (!CopyText(dir, value, MAX_PATH)) {
        RefuseDir(id, value);
        return;
    }
    NormalizeDirPath(dir);
    AsciiLowerCase(dir);
    if (!AppendText(dir, "\\", MAX_PATH))
        RefuseDir(id, value);
}

// The text a directory query wrote into buffer (MAX_PATH + 1 bytes), or
// NULL when it needed more room (the query then returns the size it needs).
static const char* QueriedDir(char* buffer, DWORD length)
{
    if (length > MAX_PATH)
        return NULL;
    buffer[length] = 0;
    return buffer;
}

BOOL DeriveSystemDirs(const char* system32, BOOL is95Family, char* system16, char* drivers)
{
    BOOL fits16, fitsDrivers;
    if (is95Family) {
        fits16 = CopyText(system16, system32, MAX_PATH);
        fitsDrivers = CopyText(drivers, system32, MAX_PATH) && AppendText(drivers, "iosubsys\\", MAX_PATH);
    } else {
        fits16 = CopyText(system16, system32, MAX_PATH);
        NormalizeDirPath(system16);
        char* last = (char*)FindLastOf(system16, "\\");
        if (last)
            *last = 0;
        fits16 = fits16 && AppendText(system16, "\\system\\", MAX_PATH);
        fitsDrivers = CopyText(drivers, system32, MAX_PATH) && AppendText(drivers, "drivers\\", MAX_PATH);
    }
    if (!fits16)
        system16[0] = 0;
    if (!fitsDrivers)
        drivers[0] = 0;
    return fits16 && fitsDrivers;
}

void SetupDirectories(const char* target)
{
    if (g_Environment.dirsSet)
        return;
    g_Environment.dirsSet = TRUE;

    char buffer[MAX_PATH + 1];
    StoreDir(DIR_TEMP, QueriedDir(buffer, GetTempPathA(sizeof buffer, buffer)));
    StoreDir(DIR_TARGET, target ? target : "");
    StoreDir(DIR_WINDOWS, QueriedDir(buffer, GetWindowsDirectoryA(buffer, sizeof buffer)));
    StoreDir(DIR_SYSTEM32, QueriedDir(buffer, GetSystemDirectoryA(buffer, sizeof buffer)));
    if (g_Dirs.path[DIR_SYSTEM32][0]) {
        DeriveSystemDirs(g_Dirs.path[DIR_SYSTEM32], g_System.is95Family, g_Dirs.path[DIR_SYSTEM16],
                         g_Dirs.path[DIR_DRIVERS]);
        if (!g_Dirs.path[DIR_SYSTEM16][0])
            RefuseDir(DIR_SYSTEM16, g_Dirs.path[DIR_SYSTEM32]);
        if (!g_Dirs.path[DIR_DRIVERS][0])
            RefuseDir(DIR_DRIVERS, g_Dirs.path[DIR_SYSTEM32]);
    }

    for (DWORD id = DIR_TEMP; id <= DIR_DRIVERS; ++id)
        LOG("%s = ->%s<-", kDirNames[id], g_Dirs.path[id]);

    LogDiskSpace("Temp", g_Dirs.path[DIR_TEMP]);
    LogDiskSpace("Target", g_Dirs.path[DIR_TARGET]);
    LogDiskSpace("Windows", g_Dirs.path[DIR_WINDOWS]);
}

void SetTargetDirectory(const char* target)
{
    StoreDir(DIR_TARGET, target);
    LOG("%s = ->%s<-", kDirNames[DIR_TARGET], g_Dirs.path[DIR_TARGET]);
}

const char* GetInstallDir(DWORD id)
{
    if (id < DIR_TEMP || id > DIR_DRIVERS)
        return "";
    return g_Dirs.path[id];
}

// Drive ("c:"), directory, base name and extension (with its dot).
struct PathParts {
    char drive[3];
    char dir[MAX_PATH];
    char name[MAX_PATH];
    char ext[MAX_PATH];
};

static void SplitPath(const char* path, PathParts* parts)
{
    memset(parts, 0, sizeof *parts);
    if (path[0] && path[1] == ':') {
        parts->drive[0] = path[0];
        parts->drive[1] = ':';
        path += 2;
    }
    const char* separator = FindLastOf(path, "\\/");
    const char* name = separator ? separator + 1 : path;
    DWORD dirLength = (DWORD)(name - path);
    if (dirLength >= MAX_PATH)
        dirLength = MAX_PATH - 1;
    memcpy(parts->dir, path, dirLength);
    const char* dot = FindLastOf(name, ".");
    if (!dot)
        dot = name + strlen(name);
    DWORD nameLength = (DWORD)(dot - name);
    if (nameLength >= MAX_PATH)
        nameLength = MAX_PATH - 1;
    memcpy(parts->name, name, nameLength);
    CopyText(parts->ext, dot, MAX_PATH);
}

BOOL BuildInstallPath(char* output, const char* fileName, DWORD dirId, const char* newExtension)
{
    PathParts file;
    SplitPath(fileName, &file);
    char directory[2 * MAX_PATH] = "";
    if (dirId != 0) {
        PathParts dir;
        SplitPath(GetInstallDir(dirId), &dir);
        CopyText(file.drive, dir.drive, sizeof file.drive);
        CopyText(directory, dir.dir, sizeof directory);
    }
    if (newExtension)
        CopyText(file.ext, newExtension, MAX_PATH);
    // A rooted directory in the file name goes below the chosen directory
    // without doubling the separator: Target \ and the name \x\y.sys would
    // otherwise give \\x\y.sys, a network path.
    const char* ownDir = file.dir;
    if (EndsWithSeparator(directory) && (ownDir[0] == '\\' || ownDir[0] == '/'))
        ++ownDir;
    AppendText(directory, ownDir, sizeof directory);

    char path[4 * MAX_PATH] = "";
    AppendText(path, file.drive, sizeof path);
    AppendText(path, directory, sizeof path);
    if (directory[0] && !EndsWithSeparator(directory))
        AppendText(path, "\\", sizeof path);
    AppendText(path, file.name, sizeof path);
    if (file.ext[0] && file.ext[0] != '.')
        AppendText(path, ".", sizeof path);
    AppendText(path, file.ext, sizeof path);

    // A cut path could name another file: hand out none at all instead.
    if (!CopyText(output, path, MAX_PATH)) {
        output[0] = 0;
        return FALSE;
    }
    return TRUE;
}

static BOOL Find(const char* pattern, WIN32_FIND_DATAA* found)
{
    HANDLE search = g_Sys.FindFirstFileA(pattern, found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    FindClose(search);
    return TRUE;
}

BOOL FileExists(const char* pattern)
{
    WIN32_FIND_DATAA found;
    return Find(pattern, &found);
}

BOOL LookForFile(const char* pattern, BOOL* exists, WIN32_FIND_DATAA* found)
{
    WIN32_FIND_DATAA own;
    *exists = Find(pattern, found ? found : &own);
    DWORD error = GetLastError();
    if (*exists || error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES)
        return TRUE;
    LOG("FindFirstFile %s failed 0x%08lX", pattern, error);
    STATUS(MSG_OPEN_FAILED, error);
    return FALSE;
}

// ---------------------------------------------------------------- environment

BOOL InitEnvironment(const char* target)
{
    if (g_Environment.initialised)
        return TRUE;
    g_Environment.initialised = TRUE;
    ProbeSystem();
    SetupDirectories(target);
    if (!g_System.is95Family && !g_System.isNT && !g_System.is2KXP) {
        LOG("Cannot run on Win32s - must be NT, 95 or 2K/XP");
        STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
        ShutdownEnvironment();
        return FALSE;
    }
    // A directory that did not fit has been reported and left empty: every
    // path built on it would land somewhere else.
    if (g_Environment.dirTooLong) {
        ShutdownEnvironment();
        return FALSE;
    }
    if (g_System.isOldShell)
        LOG("Installing on old shell - CTL3D needed");
    // The engine reports its own failure; its passes then refuse to run.
    if (!EngineInit())
        ShutdownEnvironment();
    return TRUE;
}

void ShutdownEnvironment(void)
{
    if (!g_Environment.initialised)
        return;
    EngineShutdown();
    g_Environment.initialised = FALSE;
}

// 32-bit fields in the log line: a product beyond them shows as the
// largest value rather than wrapping round to a small one.
static DWORD ClusterBytes(DWORD clusters, DWORD sectorsPerCluster, DWORD bytesPerSector)
{
    ULONGLONG bytes = (ULONGLONG)clusters * sectorsPerCluster * bytesPerSector;
    return bytes > 0xFFFFFFFFull ? 0xFFFFFFFFul : (DWORD)bytes;
}

void LogDiskSpace(const char* label, const char* directory)
{
    if (!directory[0] || directory[1] != ':')
        return;
    char root[4] = {directory[0], ':', '\\', 0};
    DWORD sectorsPerCluster, bytesPerSector, freeClusters, totalClusters;
    if (!GetDiskFreeSpaceA(root, &sectorsPerCluster, &bytesPerSector, &freeClusters, &totalClusters))
        return;
    LOG("%s drive has %lu bytes free out of %lu.", label,
        ClusterBytes(freeClusters, sectorsPerCluster, bytesPerSector),
        ClusterBytes(totalClusters, sectorsPerCluster, bytesPerSector));
}

// ---------------------------------------------------------------- file buffer

// The buffer's system calls go through g_Sys, so a test build can make any
// of them fail; VirtualFree has no failure that matters to a caller.
static void ReleaseFileBuffer(FileBuffer* buffer)
{
    if (buffer->data)
        VirtualFree(buffer->data, 0, MEM_RELEASE);
    if (buffer->handle)
        g_Sys.CloseHandle(buffer->handle);
    memset(buffer, 0, sizeof *buffer);
}

BOOL LoadFileBuffer(const char* path, DWORD reserve, FileBuffer* buffer)
{
    memset(buffer, 0, sizeof *buffer);
    // A cut path would name, and create, another file: refused as the
    // system refuses a name that is too long.
    if (!CopyText(buffer->path, path, sizeof buffer->path)) {
        LOG("CreateFile %s failed 0x%08lX", path, (DWORD)ERROR_FILENAME_EXCED_RANGE);
        STATUS(MSG_OPEN_FAILED, ERROR_FILENAME_EXCED_RANGE);
        memset(buffer, 0, sizeof *buffer);
        return FALSE;
    }
    HANDLE file = g_Sys.CreateFileA(buffer->path, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        LOG("CreateFile %s failed 0x%08lX", buffer->path, error);
        STATUS(MSG_OPEN_FAILED, error);
        memset(buffer, 0, sizeof *buffer);
        return FALSE;
    }
    buffer->handle = file;

    SetLastError(0);
    DWORD size = g_Sys.GetFileSize(file, NULL);
    DWORD error = GetLastError();
    if (size == INVALID_FILE_SIZE && error != 0) {
        LOG("GetFileSize %s failed 0x%08lX", buffer->path, error);
        STATUS(MSG_FILE_SIZE_FAILED, error);
        ReleaseFileBuffer(buffer);
        return FALSE;
    }
    if (size == 0 && reserve == 0) {
        LOG("!!! Attempt to map a zero length file %s with no reserved area !!!", buffer->path);
        LOG("The file is NOT mapped, FALSE is returned, and no global error is set.");
        ReleaseFileBuffer(buffer);
        return FALSE;
    }

    // A total beyond 32 bits would wrap round to a buffer too small for the file.
    DWORD total = size + reserve;
    BYTE* data = total < size ? NULL : (BYTE*)g_Sys.VirtualAlloc(NULL, total, MEM_COMMIT, PAGE_READWRITE);
    if (!data) {
        LOG("VirtualAlloc %ld failed 0x%08lX", total, GetLastError());
        STATUS(MSG_OUT_OF_MEMORY, 0);
        ReleaseFileBuffer(buffer);
        return FALSE;
    }
    buffer->data = data;

    if (size != 0) {
        DWORD read = 0;
        if (!g_Sys.ReadFile(file, data, size, &read, NULL) || read != size) {
            error = GetLastError();
            LOG("ReadFile %s of %ld bytes failed 0x%08lX (%ld bytes read)", buffer->path, size, error, read);
            STATUS(MSG_READ_FAILED, error);
            ReleaseFileBuffer(buffer);
            return FALSE;
        }
    }
    buffer->size = size;
    buffer->reserve = reserve;
    return TRUE;
}

BOOL StoreFileBuffer(FileBuffer* buffer, DWORD appended)
{
    if (!buffer->handle)
        return FALSE;
    // Bytes beyond the reserve were never part of the buffer.
    if (appended > buffer->reserve) {
        LOG("StoreFileBuffer %s: %lu appended bytes exceed the reserve of %lu", buffer->path, appended,
            buffer->reserve);
        STATUS(MSG_INTERNAL_ERROR, 0);
        ReleaseFileBuffer(buffer);
        return FALSE;
    }
    DWORD total = buffer->size + appended;
    if (total != 0) {
        if (g_Sys.SetFilePointer(buffer->handle, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
            DWORD error = GetLastError();
            LOG("SetFilePointer %s failed 0x%08lX", buffer->path, error);
            STATUS(MSG_SEEK_FAILED, error);
            ReleaseFileBuffer(buffer);
            return FALSE;
        }
        DWORD written = 0;
        if (!g_Sys.WriteFile(buffer->handle, buffer->data, total, &written, NULL) || written != total) {
            DWORD error = GetLastError();
            LOG("WriteFile %s of %ld bytes failed 0x%08lX (%ld bytes read)", buffer->path, total, error,
                written);
            STATUS(MSG_WRITE_FAILED, error);
            ReleaseFileBuffer(buffer);
            return FALSE;
        }
    }
    if (!VirtualFree(buffer->data, 0, MEM_RELEASE))
        LOG("VirtualFree failed 0x%08lX", GetLastError());
    buffer->data = NULL;
    HANDLE file = buffer->handle;
    buffer->handle = NULL;
    if (!g_Sys.CloseHandle(file)) {
        DWORD error = GetLastError();
        LOG("CloseHandle %s failed 0x%08lX", buffer->path, error);
        STATUS(MSG_CLOSE_FAILED, error);
        ReleaseFileBuffer(buffer);
        return FALSE;
    }
    if (total == 0 && !g_Sys.DeleteFileA(buffer->path))
        LOG("DeleteFile %s failed 0x%08lX - ignored.", buffer->path, GetLastError());
    ReleaseFileBuffer(buffer);
    return TRUE;
}

// ---------------------------------------------------------------- restart

BOOL RebootRequested(void)
{
    return g_Environment.rebootRequested;
}

BOOL ForceReboot(void)
{
    LOG("Forcing reboot of the system");
    if (g_System.isNT || g_System.is2KXP) {
        HANDLE token;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) {
            DWORD error = GetLastError();
            LOG("OpenProcessToken failed 0x%08lX", error);
            STATUS(MSG_REBOOT_TOKEN, error);
            return FALSE;
        }
        // A failed look-up leaves the identifier zero, never stack leftovers.
        TOKEN_PRIVILEGES privileges;
        memset(&privileges, 0, sizeof privileges);
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        LookupPrivilegeValueA(NULL, "SeShutdownPrivilege", &privileges.Privileges[0].Luid);
        // Success without the privilege assigned still counts: the restart
        // request below then fails on its own.
        BOOL adjusted = AdjustTokenPrivileges(token, FALSE, &privileges, 0, NULL, NULL);
        DWORD error = GetLastError();
        CloseHandle(token);
        if (!adjusted) {
            LOG("AdjustTokenPrivileges failed 0x%08lX", error);
            STATUS(MSG_REBOOT_PRIVILEGE, error);
            return FALSE;
        }
    }
    if (!ExitWindowsEx(EWX_REBOOT, 0)) {
        DWORD error = GetLastError();
        LOG("ExitWindowsEx failed 0x%08lX", error);
        STATUS(MSG_REBOOT_REQUEST, error);
        return FALSE;
    }
    g_Environment.rebootRequested = TRUE;
    return TRUE;
}
