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

// A replacement queued for the restart made an empty file at a target that
// had none, so that the target had a short name. Once the queued rename is
// taken back, that empty file is all that is left of the run there.
static BOOL MadeStandIn(const ImageFile* entry, const ImageState* state)
{
    return MovesAtRestart(entry) && state->upgrade && state->image.exists && !state->existing.exists && !state->existing.pending;
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
    return DeleteReported(target, "DeleteFile %s failed 0x%08lX");
}

static BOOL DeleteImage(const ImageFile* entry)
{
    char image[MAX_PATH];
    if (!BuildEnginePath(image, entry->imageName, entry->dirId, ".TMP"))
        return FALSE;
    LOG("Immediate delete %s", image);
    return DeleteReported(image, "DeleteFile %s failed 0x%08lX");
}

static BOOL RestoreBackup(const ImageFile* entry)
{
    char backup[MAX_PATH];
    char target[MAX_PATH];
    if (!BuildEnginePath(backup, entry->backupName, entry->dirId, ".BAK") ||
        !BuildEnginePath(target, entry->targetName, entry->dirId, NULL))
        return FALSE;
    LOG("Restore %s to %s", backup, target);
    return CopyOver(backup, target);
}

// A second run before the restart put its image in place of the file an
// earlier run queued, after backing that file up beside it. A full pass puts
// the earlier run's file back; either pass then removes the backup, unless
// putting it back failed.
static BOOL SettlePendingFile(const ImageFile* entry, const ImageState* state, BOOL restore)
{
    // Any chosen replacement that waits for the restart may have met a
    // pending one, and begun the substitution, also when it failed part way.
    if (!state->upgrade || !MovesAtRestart(entry) || !state->image.exists)
        return TRUE;
    char target[MAX_PATH];
    char shortTarget[MAX_PATH];
    char pendingSource[MAX_PATH];
    char pendingTarget[MAX_PATH];
    char backup[MAX_PATH];
    if (!BuildEnginePath(target, entry->targetName, entry->dirId, NULL))
        return FALSE;
    GetShortPath(target, shortTarget, MAX_PATH, FALSE);
    // A record file that cannot be read fails a partial pass (the full pass
    // that follows tries again); a full pass goes on with what it found.
    BOOL found = FALSE;
    BOOL readable = FindMoveRecord(shortTarget, pendingSource, pendingTarget, &found);
    if (!readable && !restore)
        return FALSE;
    if (!found || !PendingBackupPath(pendingSource, backup) || !FileExists(backup))
        return readable;
    if (restore) {
        LOG("Restore %s to %s", backup, pendingSource);
        if (!CopyOver(backup, pendingSource))
            return FALSE;
    }
    LOG("Immediate delete %s", backup);
    return DeleteReported(backup, "DeleteFile %s failed 0x%08lX") && readable;
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
            ReleaseRegistryScript(state);
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
            // Only a backup this run made goes back: a ".BAK" of an earlier
            // run must not replace a file that had none before.
            if (state->installed && !(entry->flags & kNeverRestored) && BacksUpTarget(entry, state) &&
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
