// Cleanup and restore: the last pass over a context, and the engine's
// roll-back. A partial pass, after a successful run that installed
// something, deletes the images that were not put in place and the work
// files. A full pass, after a failure or when nothing was installed, deletes
// every image and puts back what the installation changed: the target's
// bytes from the backup this run made (delete-only entries too), its
// attributes, the earlier backup this run's backup replaced, the file an
// earlier run queued where this run put a newer one; it removes the empty
// files made at new targets of replacements queued for the restart and the
// backups that are no longer needed, and has the system's pending-rename
// records put back as they were before the run. What the installation set
// aside for a roll-back is noted in each entry's state, so the roll-back
// reads nothing back. No failure stops the pass: every entry is still
// handled and the pending-rename records are still dealt with; a partial
// pass that fails to delete an image becomes a full one.
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
    BOOL exists = FALSE;
    if (!LookForFile(target, &exists, &found))
        return FALSE;
    // Anything written there since is not ours to remove.
    if (!exists || found.nFileSizeLow != 0 || found.nFileSizeHigh != 0)
        return TRUE;
    LOG("Deleting empty stand-in %s", target);
    return DeleteReported(target, "DeleteFile %s failed 0x%08lX");
}

static BOOL DeleteImage(const ImageFile* entry, const ImageState* state)
{
    // Extracted in place and put there: it is the installed file, new, as a
    // file moved to a new target is.
    if (state->inPlace && state->installed)
        return TRUE;
    char image[MAX_PATH];
    if (!BuildImagePath(image, entry, state))
        return FALSE;
    LOG("Immediate delete %s", image);
    return DeleteReported(image, "DeleteFile %s failed 0x%08lX");
}

// A copy kept for a roll-back that is no longer needed (an earlier backup
// may be read-only). After a successful run one that cannot be deleted is
// only logged: it harms nothing, and the installation it served must not be
// undone for it.
static BOOL DeleteCopy(const char* path, BOOL full)
{
    LOG("Immediate delete %s", path);
    if (full) {
        ResetAttributes(path);
        return DeleteReported(path, "DeleteFile %s failed 0x%08lX");
    }
    if (!g_Sys.SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL))
        LOG("Unable to set %s attributes to normal 0x%08lX, left behind", path, GetLastError());
    else if (!g_Sys.DeleteFileA(path))
        LOG("DeleteFile %s failed 0x%08lX, left behind", path, GetLastError());
    return TRUE;
}

// A backup that is the installed file itself (renamed) is renamed back in
// place of what was put there; where that cannot be done it is copied back,
// as any backup. Either way the file gets its own creation time back.
static BOOL RenameBack(const char* backup, const char* target, const ImageState* state)
{
    BOOL renamed = FALSE;
    if (!g_Sys.DeleteFileA(target) && GetLastError() != ERROR_FILE_NOT_FOUND)
        LOG("DeleteFile %s failed 0x%08lX, copying the backup back", target, GetLastError());
    else if (!(renamed = g_Sys.MoveFileA(backup, target)))
        LOG("MoveFile %s to %s 0x%08lX, copying the backup back", backup, target, GetLastError());
    if (!renamed && !CopyOver(backup, target))
        return FALSE;
    if (!SetCreationTime(target, &state->existing.creationTime)) {
        // Its bytes are back: only its creation time is not.
        DWORD error = GetLastError();
        LOG("Unable to set %s creation time 0x%08lX", target, error);
        STATUS(MSG_ATTRIBUTES_FAILED, error);
    }
    return TRUE;
}

static BOOL RestoreBackup(const ImageFile* entry, const ImageState* state)
{
    char backup[MAX_PATH];
    char target[MAX_PATH];
    if (!BuildEnginePath(backup, entry->backupName, entry->dirId, ".BAK") ||
        !BuildEnginePath(target, entry->targetName, entry->dirId, NULL))
        return FALSE;
    LOG("Restore %s to %s", backup, target);
    return state->backupMoved ? RenameBack(backup, target, state) : CopyOver(backup, target);
}

// The attributes the target had before the run, which set them to normal.
static BOOL RestoreAttributes(const ImageFile* entry, const ImageState* state)
{
    char target[MAX_PATH];
    if (!state->targetReset)
        return TRUE;
    if (!BuildEnginePath(target, entry->targetName, entry->dirId, NULL))
        return FALSE;
    LOG("Setting %s attributes back to 0x%08lX", target, state->existing.attributes);
    if (g_Sys.SetFileAttributesA(target, state->existing.attributes))
        return TRUE;
    DWORD error = GetLastError();
    LOG("Unable to set %s attributes 0x%08lX", target, error);
    STATUS(MSG_ATTRIBUTES_FAILED, error);
    return FALSE;
}

// Where an earlier backup was set aside: its temporary name in the entry's
// directory.
static BOOL EarlierBackupPath(const ImageFile* entry, const ImageState* state, char* path)
{
    return BuildEnginePath(path, state->earlierBackup, entry->dirId, NULL);
}

// An earlier backup that cannot be put back stays where it was set aside;
// the log says where, with the error that kept it there.
static void KeepEarlierBackup(const ImageFile* entry, ImageState* state, DWORD error)
{
    char aside[MAX_PATH];
    if (EarlierBackupPath(entry, state, aside))
        LOG("Earlier backup kept at %s 0x%08lX", aside, error);
    state->earlierBackup[0] = 0;
}

// This run's backup goes, and the earlier backup it replaced comes back.
static BOOL DropBackup(const ImageFile* entry, ImageState* state)
{
    char backup[MAX_PATH];
    if (!BuildEnginePath(backup, entry->backupName, entry->dirId, ".BAK"))
        return FALSE;
    LOG("Immediate delete %s", backup);
    // A backup copy that failed may not have made the file.
    if (!g_Sys.DeleteFileA(backup)) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND) {
            LOG("DeleteFile %s failed 0x%08lX", backup, error);
            STATUS(MSG_DELETE_FAILED, error);
            if (state->earlierBackup[0])
                KeepEarlierBackup(entry, state, error);
            return FALSE;
        }
    }
    if (!state->earlierBackup[0])
        return TRUE;
    char aside[MAX_PATH];
    BOOL result = EarlierBackupPath(entry, state, aside);
    if (result) {
        LOG("Restore %s to %s", aside, backup);
        result = RenameReported(aside, backup);
    }
    state->earlierBackup[0] = 0;
    return result;
}

// A full pass puts back what the installation of one entry changed. A
// target that a move at once overwrote comes back from its backup, unless
// the entry is never restored; a target that waited for the restart is as
// it was once the pending renames are put back. A target that is as it was
// gets its attributes back and needs no backup of this run. Nor does a
// target never restored: an earlier backup that this run's replaced takes
// its own name again (an uninstaller puts back the file it holds).
static BOOL UndoEntry(const ImageFile* entry, ImageState* state)
{
    BOOL result = TRUE;
    BOOL overwritten = state->installed && !MovesAtRestart(entry);
    if (overwritten && state->backedUp && !(entry->flags & kNeverRestored)) {
        overwritten = !RestoreBackup(entry, state);
        result = !overwritten;
        // The backup holds the target's old bytes now, the only copy of them.
        if (overwritten && state->earlierBackup[0])
            KeepEarlierBackup(entry, state, GetLastError());
    }
    if (!overwritten) {
        if (!RestoreAttributes(entry, state))
            result = FALSE;
        if (state->backedUp && !DropBackup(entry, state))
            result = FALSE;
    } else if (state->earlierBackup[0] && !DropBackup(entry, state)) {
        result = FALSE;
    }
    if (MadeStandIn(entry, state) && !DeleteStandIn(entry))
        result = FALSE;
    return result;
}

// The copies kept for a roll-back. A full pass puts the earlier run's
// pending file back from its copy; then the copies that are left go: an
// earlier backup that this run's backup replaces for good (after a
// success), and the pending file's copy.
static BOOL SettleCopies(const ImageFile* entry, ImageState* state, BOOL full)
{
    BOOL result = TRUE;
    if (state->earlierBackup[0]) {
        char aside[MAX_PATH];
        result = EarlierBackupPath(entry, state, aside) && DeleteCopy(aside, full);
        state->earlierBackup[0] = 0;
    }
    char* pendingSource = state->pendingSource;
    if (!pendingSource)
        return result;
    state->pendingSource = NULL;
    char backup[MAX_PATH];
    BOOL kept = !PendingBackupPath(pendingSource, backup);
    if (!kept && full) {
        LOG("Restore %s to %s", backup, pendingSource);
        // The copy stays when it could not be put back: it is the only one.
        kept = !CopyOver(backup, pendingSource);
    }
    result = !kept && DeleteCopy(backup, full) && result;
    HeapFree(GetProcessHeap(), 0, pendingSource);
    return result;
}

BOOL CleanupImages(UpgradeContext* context, BOOL full)
{
    if (!g_Engine.engineReady) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
        return FALSE;
    }
    ForgetFolderListings();
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
            if (!DeleteImage(entry, state) && result) {
                result = FALSE;
                // An image left behind fails the run: a partial pass turns
                // into a full one and undoes it all.
                startAgain = !full;
            }
        }
        if (!startAgain)
            break;
        full = TRUE;
    }
    // Every entry, extracted or not: a delete-only entry has no image.
    for (DWORD i = 0; i < context->count; ++i) {
        if (full && !UndoEntry(&context->images[i], &context->states[i]))
            result = FALSE;
        if (!SettleCopies(&context->images[i], &context->states[i], full))
            result = FALSE;
    }
    if (!RestorePendingRenames(STATUS_FAILED(g_Status.word)))
        result = FALSE;
    return result;
}
