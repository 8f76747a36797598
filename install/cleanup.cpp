// Cleanup and restore: the last pass over a context, and the engine's
// roll-back. A partial pass, after a successful run that installed
// something, deletes the images that were not put in place and the work
// files. A full pass, after a failure or when nothing was installed,
// deletes every image, copies the ".BAK" backups back over the targets of
// the entries it may restore, and has the system's pending-rename records
// put back as they were before the run. No failure stops the pass: every
// entry is still handled and the pending-rename records are still dealt
// with; a partial pass that cannot delete an image becomes a full one.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include "install.h"
#include "log.h"
#include "syscalls.h"

// Entries that are never copied back from a backup.
static const DWORD kNeverRestored =
    IMG_NO_BACKUP | IMG_WORK_FILE | IMG_AT_RESTART | IMG_REGISTRY_SCRIPT | IMG_DIRECTORY;

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

BOOL CleanupImages(UpgradeContext* context, BOOL full)
{
    if (!g_Engine.engineReady) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
        return FALSE;
    }
    BOOL result = TRUE;
    BOOL startAgain;
    do {
        startAgain = FALSE;
        LOG("Starting image file cleanup pass - %s cleanup", full ? "full" : "partial");
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
                if (!full) {
                    full = TRUE;
                    startAgain = TRUE;
                    continue;
                }
            }
            if (state->installed && !(entry->flags & kNeverRestored) && !RestoreBackup(entry))
                result = FALSE;
        }
    } while (startAgain);
    if (!RestorePendingRenames(STATUS_FAILED(g_Status.word)))
        result = FALSE;
    return result;
}
