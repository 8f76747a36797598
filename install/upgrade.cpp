// The upgrade engine's state, its set-up and tear-down, and the test of an
// entry against the running system.
#include "upgrade.h"

#include <string.h>

#include "cx.h"
#include "install.h"
#include "log.h"
#include "ownfile.h"
#include "syscalls.h"

EngineState g_Engine = {FALSE, NULL, -1, 0, 0};

BOOL IsPlatformApplicable(const ImageFile* entry)
{
    DWORD flags = entry->flags;
    return (g_System.is95Family && (flags & IMG_ON_95)) || (g_System.isNT && (flags & IMG_ON_NT)) ||
           (g_System.is2KXP && (flags & IMG_ON_2KXP));
}

BOOL IsImageApplicable(const ImageFile* entry)
{
    DWORD flags = entry->flags;
    BOOL language = (flags & IMG_LANGUAGE_BITS) == 0 || (flags & g_System.languageMask) != 0;
    return IsPlatformApplicable(entry) && language;
}

// Deletes a leftover of an earlier run from the Temp folder when it is a
// plain file. Whatever else lies there is someone else's: it stays, and the
// run goes on without that name.
static void DeleteTempLeftover(const char* name, const char* line)
{
    char path[MAX_PATH];
    const char* reason = NULL;
    if (!BuildInstallPath(path, name, DIR_TEMP, ".TMP"))
        return;
    switch (DeletePlainFile(path, FALSE, &reason)) {
    case PLAIN_DELETED:
        LOG(line, path);
        break;
    case PLAIN_REFUSED:
        LOG("%s is %s, not a work file of this installer; leaving it", path, reason);
        break;
    case PLAIN_FAILED:
        LOG("DeleteFile %s failed 0x%08lX, leaving it", path, GetLastError());
        break;
    case PLAIN_ABSENT:
        break;
    }
}

// Deletes a work file of an earlier run when it is there.
static BOOL DeleteLeftover(const char* name, DWORD dirId, const char* line)
{
    char path[MAX_PATH];
    BOOL exists = FALSE;
    if (!BuildInstallPath(path, name, dirId, ".TMP"))
        return TRUE;
    if (!LookForFile(path, &exists, NULL))
        return FALSE;
    if (!exists)
        return TRUE;
    LOG(line, path);
    return DeleteReported(path, "DeleteFile %s failed 0x%08lX");
}

BOOL EngineInit(void)
{
    if (!g_Environment.initialised || g_Engine.engineReady) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
        return FALSE;
    }
    LOG("Checking for pending more/delete operations");
    BOOL pending = FALSE;
    if (!RenamesPending(&pending))
        return FALSE;
    LOG("Move/delete operations are %scurrently pending", pending ? "" : "NOT ");
    // Leftovers may belong to the pending operations: only without any are
    // they stale.
    if (!pending) {
        DeleteTempLeftover("wininit", "Deleting WININIT file found at %s");
        if (!DeleteLeftover("qnbinit", DIR_SYSTEM32, "Deleting QNBINIT file found at %s"))
            return FALSE;
    }
    int16_t code = cxInit();
    if (code < 0) {
        LOG("cxInit failure 0x%08lX", (LONG)code);
        STATUS(MSG_DECOMPRESS_FAILED, (DWORD)(LONG)code);
        return FALSE;
    }
    // Images go beside their destinations; the archive engine keeps no
    // temporary directory of its own, so the answer is not looked at.
    cxSetTempDir(GetInstallDir(DIR_TEMP));
    cxSetCallback(CX_CALLBACK_EVENT, ExtractCallback);
    LOG("Successfull initialization");
    g_Engine.engineReady = TRUE;
    g_Engine.currentContext = NULL;
    g_Engine.currentIndex = -1;
    return TRUE;
}

BOOL BuildEnginePath(char* path, const char* name, DWORD dirId, const char* extension)
{
    if (BuildInstallPath(path, name, dirId, extension))
        return TRUE;
    LOG("Path of %s in %s does not fit", name, GetInstallDir(dirId));
    STATUS(MSG_INTERNAL_ERROR, ERROR_FILENAME_EXCED_RANGE);
    return FALSE;
}

BOOL BuildImagePath(char* path, const ImageFile* entry, const ImageState* state)
{
    return state->inPlace ? BuildEnginePath(path, entry->targetName, entry->dirId, NULL)
                          : BuildEnginePath(path, entry->imageName, entry->dirId, ".TMP");
}

BOOL MakeTempFile(const char* directory, char* path)
{
    if (g_Sys.GetTempFileNameA(directory, "QNB", 0, path))
        return TRUE;
    DWORD error = GetLastError();
    LOG("GetTempFileName failed 0x%08lX", error);
    STATUS(MSG_TEMP_FILE_FAILED, error);
    return FALSE;
}

BOOL RenameReported(const char* source, const char* target)
{
    if (g_Sys.MoveFileA(source, target))
        return TRUE;
    DWORD error = GetLastError();
    LOG("MoveFile %s to %s 0x%08lX", source, target, error);
    STATUS(MSG_MOVE_FAILED, error);
    return FALSE;
}

BOOL CopyOver(const char* source, const char* target)
{
    if (g_Sys.CopyFileA(source, target, FALSE))
        return TRUE;
    DWORD error = GetLastError();
    LOG("CopyFile %s to %s 0x%08lX", source, target, error);
    STATUS(MSG_COPY_FAILED, error);
    SetLastError(error);  // for a caller that names what the failure kept
    return FALSE;
}

BOOL SetCreationTime(const char* path, const FILETIME* time)
{
    FILETIME now;
    if (!time) {
        GetSystemTimeAsFileTime(&now);
        time = &now;
    }
    HANDLE file = g_Sys.CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    BOOL set = g_Sys.SetFileTime(file, time, NULL, NULL);
    DWORD error = GetLastError();
    if (!g_Sys.CloseHandle(file))
        return FALSE;
    SetLastError(error);
    return set;
}

BOOL DeleteReported(const char* path, const char* failureLine)
{
    if (g_Sys.DeleteFileA(path))
        return TRUE;
    DWORD error = GetLastError();
    LOG(failureLine, path, error);
    STATUS(MSG_DELETE_FAILED, error);
    return FALSE;
}

BOOL MovesAtRestart(const ImageFile* entry)
{
    return (entry->flags & IMG_AT_RESTART) && !(entry->flags & IMG_MOVE_NOW);
}

BOOL BacksUpTarget(const ImageFile* entry, const ImageState* state)
{
    return state->existing.exists && !state->existing.pending && !(entry->flags & IMG_NO_BACKUP);
}

void ReportPassProgress(UpgradeContext* context, DWORD code, DWORD index)
{
    if (!context->progress)
        return;
    ProgressRecord record;
    memset(&record, 0, sizeof record);
    record.code = code;
    record.index = (LONG)index;
    record.context = context;
    context->progress(&record);
}

void EngineShutdown(void)
{
    if (g_Engine.engineReady)
        cxTerm();
    ReleaseArchive();
    ForgetFolderListings();
    g_Engine.engineReady = FALSE;
}
