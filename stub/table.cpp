// What the run makes of the description: the target directory (below the
// system's folder for programs, or below one of the installer's own
// directories), the file table the engine works through, and the folders
// the product needs. The description's file flags are the engine's own
// bits, so a file's flags go into the table as they are.
#include <string.h>

#include "install.h"
#include "log.h"
#include "product.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"
#include "winmain.h"

static_assert((DWORD)DESC_NO_VERSION == IMG_NO_VERSION && (DWORD)DESC_NO_BACKUP == IMG_NO_BACKUP &&
                  (DWORD)DESC_MOVE_NOW == IMG_MOVE_NOW && (DWORD)DESC_AT_RESTART == IMG_AT_RESTART &&
                  (DWORD)DESC_ON_95 == IMG_ON_95 && (DWORD)DESC_ON_NT == IMG_ON_NT && (DWORD)DESC_ON_2KXP == IMG_ON_2KXP,
              "description flags are the file table's");
static_assert((int)DESC_DIR_TARGET == DIR_TARGET && (int)DESC_DIR_WINDOWS == DIR_WINDOWS &&
                  (int)DESC_DIR_SYSTEM16 == DIR_SYSTEM16 &&
                  (int)DESC_DIR_SYSTEM == DIR_SYSTEM32 && (int)DESC_DIR_DRIVERS == DIR_DRIVERS,
              "description folder ids are the installer's directory ids");

static const char kWindowsKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";

// The system's folder for programs, as every family of Windows records it.
static BOOL ProgramFilesDir(char* path)
{
    HKEY key;
    LONG result = g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kWindowsKey, 0, KEY_QUERY_VALUE, &key);
    if (result != ERROR_SUCCESS) {
        LOG("RegOpenKeyEx HKLM\\%s 0x%08lX", kWindowsKey, (DWORD)result);
        STATUS(MSG_KEY_OPEN_FAILED, (DWORD)result);
        return FALSE;
    }
    DWORD type = 0;
    DWORD size = MAX_PATH - 1;
    result = g_Sys.RegQueryValueExA(key, "ProgramFilesDir", NULL, &type, (BYTE*)path, &size);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && type != REG_SZ && type != REG_EXPAND_SZ)
        result = ERROR_INVALID_DATA;
    if (result != ERROR_SUCCESS || size == 0) {
        LOG("RegQueryValueEx ProgramFilesDir 0x%08lX", (DWORD)result);
        STATUS(MSG_KEY_QUERY_FAILED, result != ERROR_SUCCESS ? (DWORD)result : (DWORD)ERROR_INVALID_DATA);
        return FALSE;
    }
    // A value stored without its terminator ends where its size says.
    path[size] = 0;
    return TRUE;
}

// The target directory as the description spells it: the folders made for it
// keep the vendor's letter case (the directory set holds it in lower case).
static char s_Target[MAX_PATH + 1];

BOOL ResolveTargetDirectory(void)
{
    char* target = s_Target;
    if (g_Product->targetBase == DESC_TARGET_PROGRAM_FILES) {
        if (!ProgramFilesDir(target))
            return FALSE;
    } else if (!CopyText(target, GetInstallDir(g_Product->targetBase), sizeof s_Target)) {
        target[0] = 0;
    }
    if (g_Product->targetPath[0] && !EndsWithSeparator(target))
        AppendText(target, "\\", sizeof s_Target);
    if (!AppendText(target, g_Product->targetPath, sizeof s_Target) || !target[0]) {
        LOG("The target directory does not fit: %s", target);
        STATUS(MSG_OPEN_FAILED, ERROR_FILENAME_EXCED_RANGE);
        return FALSE;
    }
    SetTargetDirectory(target);
    return g_Dirs.path[DIR_TARGET][0] != 0;
}

// The run's tables, from the process heap: the image stays small.
enum { MAX_MADE = DESC_MAX_FOLDERS + DESC_MAX_FILES + 8 };
struct RunTables {
    ImageFile images[DESC_MAX_FILES + 1];
    ImageState states[DESC_MAX_FILES + 1];
    char made[MAX_MADE][MAX_PATH];  // the folders this run made, parents first
    DWORD madeCount;
};
static RunTables* s_Tables;

static void AddEntry(const char* entry, const char* target, DWORD dirId, DWORD flags, DWORD group, DWORD* count)
{
    ImageFile* image = &s_Tables->images[(*count)++];
    image->archiveName = entry;
    image->targetName = target;
    // The backup is the target's whole name with ".BAK" after it (the
    // engine puts ".BAK" in place of the last extension): WIDGET.EXE and
    // WIDGET.DLL of one folder must not share one backup.
    CopyText(image->backupName, target, sizeof image->backupName);
    AppendText(image->backupName, ".BAK", sizeof image->backupName);
    image->dirId = dirId;
    image->flags = flags;
    image->group = group;
}

BOOL BuildFileTable(UpgradeContext* context)
{
    DWORD count = 0;
    if (!s_Tables)
        s_Tables = (RunTables*)AllocateZeroed(sizeof *s_Tables);
    if (!s_Tables)
        return FALSE;
    if (g_Product->registry[0])
        AddEntry(g_Product->registry, g_Product->registry, DIR_TEMP, IMG_REGISTRY_SCRIPT | DESC_ON_EVERY_FAMILY, 0,
                 &count);
    for (DWORD i = 0; i < g_Product->fileCount; ++i) {
        const DescFile* file = &g_Product->files[i];
        AddEntry(file->entry, file->target, file->dirId, file->flags, file->group, &count);
    }
    context->count = count;
    context->images = s_Tables->images;
    context->states = s_Tables->states;
    return TRUE;
}

// Makes folder (a full path that ends in '\') and every missing parent.
static BOOL EnsureFolder(char* folder)
{
    // The root ("c:\") is never made; each later separator ends a parent.
    for (char* p = folder + 3 * (folder[0] && folder[1] == ':'); *p; p = (char*)NextChar(p)) {
        if (*p != '\\' || p == folder)
            continue;
        *p = 0;
        DWORD attributes = g_Sys.GetFileAttributesA(folder);
        BOOL present = FALSE;
        DWORD error = GetLastError();
        if (attributes == INVALID_FILE_ATTRIBUTES && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)) {
            LOG("Create directory %s", folder);
            present = g_Sys.CreateDirectoryA(folder, NULL);
            error = present ? NO_ERROR : GetLastError();
            if (present && s_Tables->madeCount < MAX_MADE)
                CopyText(s_Tables->made[s_Tables->madeCount++], folder, MAX_PATH);
        } else if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            error = ERROR_ALREADY_EXISTS;
        } else if (attributes != INVALID_FILE_ATTRIBUTES) {
            present = TRUE;
        }
        if (!present) {
            LOG("CreateDirectory %s 0x%08lX", folder, error);
            STATUS(MSG_DIRECTORY_FAILED, error);
            *p = '\\';
            return FALSE;
        }
        *p = '\\';
    }
    return TRUE;
}

// The folder of name below directory dirId (the whole path when isFolder,
// else without its last part), ending in '\'.
static BOOL EnsureFolderOf(const char* name, DWORD dirId, BOOL isFolder)
{
    char path[MAX_PATH + 1];
    if (!BuildEnginePath(path, name, dirId, NULL))
        return FALSE;
    if (isFolder)
        AppendText(path, "\\", sizeof path);
    else
        path[DirectoryLength(path)] = 0;
    return EnsureFolder(path);
}

BOOL CreateProductFolders(void)
{
    char target[MAX_PATH + 2];
    CopyText(target, s_Target, MAX_PATH);
    if (!EndsWithSeparator(target))
        AppendText(target, "\\", sizeof target);
    if (!EnsureFolder(target))
        return FALSE;
    for (DWORD i = 0; i < g_Product->fileCount; ++i) {
        const DescFile* file = &g_Product->files[i];
        ImageFile probe;
        probe.flags = file->flags;
        if (IsPlatformApplicable(&probe) && !EnsureFolderOf(file->target, file->dirId, FALSE))
            return FALSE;
    }
    for (DWORD i = 0; i < g_Product->folderCount; ++i)
        if (!EnsureFolderOf(g_Product->folders[i].path, g_Product->folders[i].dirId, TRUE))
            return FALSE;
    return TRUE;
}

void RemoveEmptyProductFolders(void)
{
    // A folder that is not empty stays: removing it fails.
    while (s_Tables && s_Tables->madeCount > 0) {
        const char* folder = s_Tables->made[--s_Tables->madeCount];
        if (RemoveDirectoryA(folder))
            LOG("Removed directory %s", folder);
    }
}

void (*g_UndoBeforeFolders)(void) = NULL;

// The folders are made before the images are made in them.
BOOL InstallProduct(UpgradeContext* context)
{
    if (CreateProductFolders() && RunInstallSequence(context))
        return TRUE;
    if (g_UndoBeforeFolders)
        g_UndoBeforeFolders();
    RemoveEmptyProductFolders();
    return FALSE;
}

const char* MadeFolder(DWORD index)
{
    return s_Tables && index < s_Tables->madeCount ? s_Tables->made[index] : NULL;
}
