// Cleanup and restore: the last pass over a context, and the engine's
// roll-back. A partial pass, after a successful run that installed
// something, deletes the images that were not put in place and the work
// files. A full pass, after a failure or when nothing was installed, deletes
// every image, copies the backups this run made back over the targets of the
// entries it may restore, removes the empty files made at new targets of
// replacements queued for the restart, puts back the file an earlier run
// queued where this run put a newer one, and has the system's pending-rename
// records put back as they were before the run. No failure stops the pass:
// every entry is still handled and the pending-rename records are still
// dealt with; a partial pass that fails becomes a full one.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include "install.h"
#include "log.h"
#include "syscalls.h"

// Entries that are never copied back from a backup.
static const DWORD kNeverRestored =
    IMG_NO_BACKUP | IMG_WORK_FILE | IMG_AT_RESTART | IMG_REGISTRY_SCRIPT | IMG_DIRECTORY;

// The run backed the target up before touching it. A target that had no
// file, or whose facts came from a pending replacement, got no backup from
// this run: a ".BAK" of an earlier run must not be copied over it.
static BOOL BackedUpThisRun(const ImageFile* entry, const ImageState* state)
{
    return state->existing.exists && !state->existing.pending && !(entry->flags & IMG_NO_BACKUP);
}

// A replacement queued for the restart made an empty file at a target that
// had none, so that the target had a short name. Once the queued rename is
// taken back, that empty file is all that is left of the run there.
static BOOL MadeStandIn(const ImageFile* entry, const ImageState* state)
{
    BOOL delayed = (entry->flags & IMG_AT_RESTART) && !(entry->flags & IMG_MOVE_NOW);
    return delayed && state->upgrade && state->image.exists && !state->existing.exists && !state->existing.pending;
}

static BOOL DeleteStandIn(const ImageFile* entry)
{
    char target[MAX_PATH];
    if (!BuildEnginePath(target, entry->targetName, entry->dirId, NULL))
        return FALSE;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(target, &found);
    if (search == INVALID_HANDLE_VALUE)
        return TRUE;
    FindClose(search);
    // Anything written there since is not ours to remove.
    if (found.nFileSizeLow != 0 || found.nFileSizeHigh != 0)
        return TRUE;
    LOG("Deleting empty stand-in %s", target);
    if (g_Sys.DeleteFileA(target))
        return TRUE;
    DWORD error = GetLastError();
    LOG("DeleteFile %s failed 0x%08lX", target, error);
    STATUS(MSG_DELETE_FAILED, error);
    return FALSE;
}

static BOOL DeleteImage(const ImageFile* entry)
{
    char image[MAX_PATH];
    if (!BuildEnginePath(image, entry->imageName, entry->dirId, ".TMP"))
        return FALSE;
    LOG("Immediate delete %s", image);
    if (g_Sys.DeleteFileA(image))
        return TRUE;
    DWORD error = GetLastError();
    LOG("DeleteFile %s failed 0x%08lX", image, error);
    STATUS(MSG_DELETE_FAILED, error);
    return FALSE;
}

static BOOL RestoreBackup(const ImageFile* entry)
{
    char backup[MAX_PATH];
    char target[MAX_PATH];
    if (!BuildEnginePath(backup, entry->backupName, entry->dirId, ".BAK") ||
        !BuildEnginePath(target, entry->targetName, entry->dirId, NULL))
        return FALSE;
    LOG("Restore %s to %s", backup, target);
    if (g_Sys.CopyFileA(backup, target, FALSE))
        return TRUE;
    DWORD error = GetLastError();
    LOG("CopyFile %s to %s 0x%08lX", backup, target, error);
    STATUS(MSG_COPY_FAILED, error);
    return FALSE;
}

// A second run before the restart put its image in place of the file an
// earlier run queued, after backing that file up beside it. A full pass puts
// the earlier run's file back; either pass then removes the backup, unless
// putting it back failed.
static BOOL SettlePendingFile(const ImageFile* entry, const ImageState* state, BOOL restore)
{
    // Any chosen replacement that waits for the restart may have met a
    // pending one, and begun the substitution, also when it failed part way.
    BOOL delayed = (entry->flags & IMG_AT_RESTART) && !(entry->flags & IMG_MOVE_NOW);
    if (!state->upgrade || !delayed || !state->image.exists)
        return TRUE;
    BOOL failedBefore = STATUS_FAILED(g_Status.word);
    char target[MAX_PATH];
    char shortTarget[MAX_PATH];
    char pendingSource[MAX_PATH];
    char pendingTarget[MAX_PATH];
    char backup[MAX_PATH];
    if (!BuildEnginePath(target, entry->targetName, entry->dirId, NULL))
        return FALSE;
    GetShortPath(target, shortTarget, MAX_PATH, FALSE);
    BOOL found = FindMoveRecord(shortTarget, pendingSource, pendingTarget);
    // A record file that could not be read or written back is a failure.
    if (!failedBefore && STATUS_FAILED(g_Status.word))
        return FALSE;
    if (!found || !PendingBackupPath(pendingSource, backup) || !FileExists(backup))
        return TRUE;
    if (restore) {
        LOG("Restore %s to %s", backup, pendingSource);
        if (!g_Sys.CopyFileA(backup, pendingSource, FALSE)) {
            DWORD error = GetLastError();
            LOG("CopyFile %s to %s 0x%08lX", backup, pendingSource, error);
            STATUS(MSG_COPY_FAILED, error);
            return FALSE;
        }
    }
    LOG("Immediate delete %s", backup);
    if (g_Sys.DeleteFileA(backup))
        return TRUE;
    DWORD error = GetLastError();
    LOG("DeleteFile %s failed 0x%08lX", backup, error);
    STATUS(MSG_DELETE_FAILED, error);
    return FALSE;
}

BOOL CleanupImages(UpgradeContext* context, BOOL full)
{
    if (!g_Engine.engineReady) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
        return FALSE;
    }
    BOOL result = TRUE;
    for (;;) {
        LOG("Starting image file cleanup pass - %s cleanup", full ? "full" : "partial");
        BOOL startAgain = FALSE;
        for (DWORD i = 0; i < context->count && !startAgain; ++i) {
            const ImageFile* entry = &context->images[i];
            ImageState* state = &context->states[i];
            BOOL workFile = (entry->flags & (IMG_WORK_FILE | IMG_REGISTRY_SCRIPT)) != 0;
            if (!state->extracted || state->cleaned || !(full || !state->installed || workFile))
                continue;
            state->cleaned = 1;
            if (!DeleteImage(entry) && result) {
                result = FALSE;
                // An image left behind fails the run: a partial pass turns
                // into a full one and undoes it all.
                startAgain = !full;
                if (startAgain)
                    continue;
            }
            if (state->installed && !(entry->flags & kNeverRestored) && BackedUpThisRun(entry, state) &&
                !RestoreBackup(entry))
                result = FALSE;
            if (full && MadeStandIn(entry, state) && !DeleteStandIn(entry))
                result = FALSE;
        }
        if (!startAgain) {
            // A partial pass stops at the first failure: the full pass that
            // follows still needs the backups it has not reached.
            BOOL settled = TRUE;
            for (DWORD i = 0; i < context->count && (settled || full); ++i)
                if (!SettlePendingFile(&context->images[i], &context->states[i], full))
                    settled = FALSE;
            if (!settled) {
                result = FALSE;
                startAgain = !full;  // the same holds for a backup left behind
            }
        }
        if (!startAgain)
            break;
        full = TRUE;
    }
    if (!RestorePendingRenames(STATUS_FAILED(g_Status.word)))
        result = FALSE;
    return result;
}
