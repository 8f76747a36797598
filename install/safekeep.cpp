// Safekeeping of the system's pending-rename records around a run, and the
// look-up in the engine's own move record file.
//
// Before anything is extracted, the move record file and, by family,
// WININIT.INI (95) or the Session Manager's PendingFileRenameOperations value
// (NT) are copied as they are. After a failure they are put back, so the
// renames the failed run queued vanish with it; after a success the copies
// are only released. A record is put back or deleted only when its state
// before the run is known (copied, or found absent): one that could not be
// saved is left as it is, never deleted as if the run had made it.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <string.h>

#include "install.h"
#include "log.h"
#include "moverecord.h"
#include "syscalls.h"

RenameSafekeeping g_Safekeeping;

static const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const char kPendingValue[] = "PendingFileRenameOperations";

BOOL MoveRecordPath(char* path)
{
    return BuildEnginePath(path, "qnbinit", DIR_SYSTEM32, ".TMP");
}

BOOL WininitPath(char* path)
{
    return BuildEnginePath(path, "wininit.ini", DIR_WINDOWS, NULL);
}

BOOL BackupToTempFile(const char* path, char* backup, BOOL* saved)
{
    *saved = FALSE;
    backup[0] = 0;
    if (!FileExists(path))
        return TRUE;
    if (!g_Sys.GetTempFileNameA(GetInstallDir(DIR_TEMP), "QNB", 0, backup)) {
        DWORD error = GetLastError();
        LOG("GetTempFileName failed 0x%08lX", error);
        STATUS(MSG_TEMP_FILE_FAILED, error);
        backup[0] = 0;
        return FALSE;
    }
    LOG("Backing up %s to %s", path, backup);
    if (!CopyOver(path, backup)) {
        // The empty file the temporary name was made with holds no copy.
        g_Sys.DeleteFileA(backup);
        backup[0] = 0;
        return FALSE;
    }
    *saved = TRUE;
    return TRUE;
}

static BOOL SaveSessionManagerValue(RenameSafekeeping* keep)
{
    LOG("Attempting PendingFileRenameOperations value backup");
    HKEY key;
    LONG error = g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS) {
        LOG("RegOpenKeyEx failed on Session Manager 0x%08lX", error);
        STATUS(MSG_KEY_OPEN_FAILED, error);
        return FALSE;
    }
    keep->pendingType = REG_MULTI_SZ;
    keep->pendingSize = 0;
    error = g_Sys.RegQueryValueExA(key, kPendingValue, NULL, &keep->pendingType, NULL, &keep->pendingSize);
    if (error == ERROR_FILE_NOT_FOUND) {
        RegCloseKey(key);
        LOG("No existing PendingFileRenameOperations value to backup");
        keep->pendingKnown = TRUE;
        return TRUE;
    }
    if (error != ERROR_SUCCESS) {
        RegCloseKey(key);
        LOG("RegQueryValueEx(1) failed on PendingFileRenameOperations 0x%08lX", error);
        STATUS(MSG_KEY_QUERY_FAILED, error);
        return FALSE;
    }
    keep->pendingValue = (BYTE*)g_Sys.HeapAlloc(GetProcessHeap(), 0, keep->pendingSize ? keep->pendingSize : 1);
    if (!keep->pendingValue) {
        LOG("Out of memory copying PendingFileRenameOperations");
        STATUS(MSG_OUT_OF_MEMORY, 0);
        RegCloseKey(key);
        return FALSE;
    }
    error = g_Sys.RegQueryValueExA(key, kPendingValue, NULL, &keep->pendingType, keep->pendingValue,
                                   &keep->pendingSize);
    if (error != ERROR_SUCCESS) {
        LOG("RegQueryValueEx(2) failed on PendingFileRenameOperations 0x%08lX", error);
        STATUS(MSG_KEY_QUERY_FAILED, error);
        HeapFree(GetProcessHeap(), 0, keep->pendingValue);
        keep->pendingValue = NULL;
        RegCloseKey(key);
        return FALSE;
    }
    keep->pendingSaved = TRUE;
    keep->pendingKnown = TRUE;
    RegCloseKey(key);
    return TRUE;
}

BOOL SafeguardPendingRenames(void)
{
    RenameSafekeeping* keep = &g_Safekeeping;
    char path[MAX_PATH];
    if (!MoveRecordPath(path) || !BackupToTempFile(path, keep->recordBackupPath, &keep->recordSaved))
        return FALSE;
    keep->recordKnown = TRUE;
    if (!g_System.is95Family)
        return SaveSessionManagerValue(keep);
    if (!WininitPath(path) || !BackupToTempFile(path, keep->wininitBackupPath, &keep->pendingSaved))
        return FALSE;
    keep->pendingKnown = TRUE;
    return TRUE;
}

// Puts a file back from its copy, or deletes the file when there was none
// before the run.
static BOOL RestoreFile(const char* path, BOOL saved, const char* backup, const char* deleteLine)
{
    if (saved) {
        LOG("Restoring %s to %s", backup, path);
        return CopyOver(backup, path);
    }
    if (!FileExists(path))
        return TRUE;
    LOG(deleteLine, path);
    return DeleteReported(path, "DeleteFile %s 0x%08lX");
}

static BOOL RestoreSessionManagerValue(const RenameSafekeeping* keep)
{
    LOG("Attempting PendingFileRenameOperations value restore");
    HKEY key;
    LONG error = g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_SET_VALUE, &key);
    if (error != ERROR_SUCCESS) {
        LOG("RegOpenKeyEx failed on Session Manager 0x%08lX", error);
        STATUS(MSG_KEY_OPEN_FAILED, error);
        return FALSE;
    }
    BOOL result = TRUE;
    if (keep->pendingSaved) {
        error = g_Sys.RegSetValueExA(key, kPendingValue, 0, keep->pendingType, keep->pendingValue,
                                     keep->pendingSize);
        if (error != ERROR_SUCCESS) {
            LOG("RegSetValueEx failed on PendingFileRenameOperations 0x%08lX", error);
            STATUS(MSG_VALUE_SET_FAILED, error);
            result = FALSE;
        }
    } else {
        // Failing is the normal outcome when the run queued nothing.
        error = g_Sys.RegDeleteValueA(key, kPendingValue);
        if (error != ERROR_SUCCESS)
            LOG("RegDeleteValue failed on PendingFileRenameOperations 0x%08lX", error);
    }
    RegCloseKey(key);
    return result;
}

static BOOL RestoreRecords(const RenameSafekeeping* keep)
{
    BOOL result = TRUE;
    char path[MAX_PATH];
    if (!keep->recordKnown)
        LOG("MoveFileRecord was not saved, left as it is");
    else if (!MoveRecordPath(path) || !RestoreFile(path, keep->recordSaved, keep->recordBackupPath, "Deleting MoveFileRecord at %s"))
        result = FALSE;

    if (!keep->pendingKnown) {
        LOG("Pending renames were not saved, left as they are");
    } else if (g_System.is95Family) {
        if (!WininitPath(path) ||
            !RestoreFile(path, keep->pendingSaved, keep->wininitBackupPath, "Deleting WININIT.INI at %s"))
            result = FALSE;
    } else if (!RestoreSessionManagerValue(keep)) {
        result = FALSE;
    }
    return result;
}

// A copy left in the temporary directory harms nothing; the log names it.
static BOOL DeleteCopy(const char* path)
{
    if (g_Sys.DeleteFileA(path))
        return TRUE;
    LOG("DeleteFile %s failed 0x%08lX", path, GetLastError());
    return FALSE;
}

BOOL RestorePendingRenames(BOOL restore)
{
    RenameSafekeeping* keep = &g_Safekeeping;
    BOOL result = TRUE;
    if (restore && !RestoreRecords(keep))
        result = FALSE;
    if (keep->recordSaved) {
        LOG("Deleting MoveFileRecord backup at %s", keep->recordBackupPath);
        if (!DeleteCopy(keep->recordBackupPath))
            result = FALSE;
    }
    if (keep->pendingSaved && g_System.is95Family) {
        LOG("Deleting WININIT.INI backup at %s", keep->wininitBackupPath);
        if (!DeleteCopy(keep->wininitBackupPath))
            result = FALSE;
    }
    if (keep->pendingValue)
        HeapFree(GetProcessHeap(), 0, keep->pendingValue);
    // Released: a second call finds nothing to put back or delete.
    memset(keep, 0, sizeof *keep);
    return result;
}

BOOL PendingBackupPath(const char* pendingSource, char* backup)
{
    return BuildEnginePath(backup, pendingSource, 0, ".BAK");
}

BOOL FindMoveRecord(const char* target, char* source, char* recordTarget, BOOL* found)
{
    *found = FALSE;
    char path[MAX_PATH];
    if (!MoveRecordPath(path))
        return FALSE;
    if (!FileExists(path))
        return TRUE;
    DWORD statusBefore = g_Status.word;
    FileBuffer buffer;
    if (!LoadFileBuffer(path, 0, &buffer))
        return g_Status.word == statusBefore;  // an empty file is refused without a status
    size_t offset = 0;
    MoveRecordResult result = FindMoveRecordIn(buffer.data, buffer.size, target, source, recordTarget, &offset);
    if (result == MOVE_RECORD_DAMAGED)
        LOG("MoveFileRecord %s is damaged at byte %lu; the records from there on are ignored", path,
            (DWORD)offset);
    *found = result == MOVE_RECORD_FOUND;
    return StoreFileBuffer(&buffer, 0);
}
