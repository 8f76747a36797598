// Safekeeping of the system's pending-rename records around a run, and the
// look-up in the engine's own move record file.
//
// Before anything is extracted, the move record file and, by family,
// WININIT.INI (95) or the Session Manager's PendingFileRenameOperations value
// (NT) are read into memory as they are: they are small, and no file a user
// could write stands in for them until they are put back. After a failure
// they are written back, so the renames the failed run queued vanish with
// it; after a success they are only released. A record is put back or
// deleted only when its state before the run is known (read, or found
// absent): one that could not be saved is left as it is, never deleted as if
// the run had made it. The value is read and written with the wide-character
// calls, which keep its bytes as they are; the ANSI calls would pass other
// programs' entries through the code page, and a character it lacks would
// come back as another one.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <string.h>

#include "install.h"
#include "log.h"
#include "moverecord.h"
#include "syscalls.h"
#include "text.h"

RenameSafekeeping g_Safekeeping;

static const char kSessionManager[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
static const WCHAR kPendingValue[] = L"PendingFileRenameOperations";

BOOL MoveRecordPath(char* path)
{
    return BuildEnginePath(path, "qnbinit", DIR_SYSTEM32, ".TMP");
}

BOOL WininitPath(char* path)
{
    return BuildEnginePath(path, "wininit.ini", DIR_WINDOWS, NULL);
}

BOOL RenamesPending(BOOL* pending)
{
    *pending = FALSE;
    if (g_System.is95Family) {
        char path[MAX_PATH];
        return WininitPath(path) && LookForFile(path, pending, NULL);
    }
    // A key that cannot be opened or a value that cannot be read: nothing
    // is pending.
    HKEY key;
    if (g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return TRUE;
    DWORD size = 0;
    *pending = g_Sys.RegQueryValueExW(key, kPendingValue, NULL, NULL, NULL, &size) == ERROR_SUCCESS;
    RegCloseKey(key);
    return TRUE;
}

static void ReleaseSaved(SavedRecord* saved)
{
    if (saved->data)
        HeapFree(GetProcessHeap(), 0, saved->data);
    memset(saved, 0, sizeof *saved);
}

static BYTE* AllocateSaved(DWORD size, const char* what)
{
    BYTE* data = (BYTE*)g_Sys.HeapAlloc(GetProcessHeap(), 0, size ? size : 1);
    if (!data) {
        LOG("Out of memory copying %s", what);
        STATUS(MSG_OUT_OF_MEMORY, 0);
    }
    return data;
}

// Reads the whole file into memory; a file that is not there is known to
// be absent.
static BOOL SaveFile(const char* path, SavedRecord* saved)
{
    HANDLE file = g_Sys.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        saved->known = error == ERROR_FILE_NOT_FOUND;
        if (saved->known)
            return TRUE;
        LOG("CreateFile %s failed 0x%08lX", path, error);
        STATUS(MSG_OPEN_FAILED, error);
        return FALSE;
    }
    LOG("Backing up %s", path);
    SetLastError(NO_ERROR);
    DWORD size = g_Sys.GetFileSize(file, NULL);
    DWORD error = GetLastError();
    DWORD read = 0;
    if (size == INVALID_FILE_SIZE && error != NO_ERROR) {
        LOG("GetFileSize %s failed 0x%08lX", path, error);
        STATUS(MSG_FILE_SIZE_FAILED, error);
    } else if ((saved->data = AllocateSaved(size, path)) != NULL) {
        if (g_Sys.ReadFile(file, saved->data, size, &read, NULL) && read == size) {
            saved->size = size;
            saved->saved = saved->known = TRUE;
        } else {
            error = GetLastError();
            LOG("ReadFile %s of %ld bytes failed 0x%08lX (%ld bytes read)", path, size, error, read);
            STATUS(MSG_READ_FAILED, error);
        }
    }
    // Nothing was written through the handle: closing it cannot lose anything.
    g_Sys.CloseHandle(file);
    if (!saved->saved)
        ReleaseSaved(saved);
    return saved->saved;
}

static BOOL SaveSessionManagerValue(SavedRecord* saved)
{
    LOG("Attempting PendingFileRenameOperations value backup");
    HKEY key;
    LONG error = g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key);
    if (error != ERROR_SUCCESS) {
        LOG("RegOpenKeyEx failed on Session Manager 0x%08lX", error);
        STATUS(MSG_KEY_OPEN_FAILED, error);
        return FALSE;
    }
    saved->type = REG_MULTI_SZ;
    DWORD size = 0;
    error = g_Sys.RegQueryValueExW(key, kPendingValue, NULL, &saved->type, NULL, &size);
    if (error == ERROR_FILE_NOT_FOUND) {
        LOG("No existing PendingFileRenameOperations value to backup");
        saved->known = TRUE;
    } else if (error != ERROR_SUCCESS) {
        LOG("RegQueryValueEx(1) failed on PendingFileRenameOperations 0x%08lX", error);
        STATUS(MSG_KEY_QUERY_FAILED, error);
    } else if ((saved->data = AllocateSaved(size, "PendingFileRenameOperations")) != NULL) {
        error = g_Sys.RegQueryValueExW(key, kPendingValue, NULL, &saved->type, saved->data, &size);
        if (error == ERROR_SUCCESS) {
            saved->size = size;
            saved->saved = saved->known = TRUE;
        } else {
            LOG("RegQueryValueEx(2) failed on PendingFileRenameOperations 0x%08lX", error);
            STATUS(MSG_KEY_QUERY_FAILED, error);
            ReleaseSaved(saved);
        }
    }
    RegCloseKey(key);
    return saved->known;
}

BOOL SafeguardPendingRenames(void)
{
    RenameSafekeeping* keep = &g_Safekeeping;
    char path[MAX_PATH];
    if (!MoveRecordPath(path) || !SaveFile(path, &keep->moveRecord))
        return FALSE;
    if (!g_System.is95Family)
        return SaveSessionManagerValue(&keep->pending);
    return WininitPath(path) && SaveFile(path, &keep->pending);
}

// Writes the saved bytes over the file, which ends after them.
static BOOL WriteSavedFile(const char* path, const SavedRecord* saved)
{
    LOG("Restoring %s", path);
    HANDLE file = g_Sys.CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        LOG("CreateFile %s failed 0x%08lX", path, error);
        STATUS(MSG_OPEN_FAILED, error);
        return FALSE;
    }
    BOOL result = FALSE;
    DWORD written = 0;
    if (!g_Sys.WriteFile(file, saved->data, saved->size, &written, NULL) || written != saved->size) {
        DWORD error = GetLastError();
        LOG("WriteFile %s of %ld bytes failed 0x%08lX (%ld bytes written)", path, saved->size, error, written);
        STATUS(MSG_WRITE_FAILED, error);
    } else if (!g_Sys.SetEndOfFile(file)) {
        DWORD error = GetLastError();
        LOG("SetEndOfFile %s failed 0x%08lX", path, error);
        STATUS(MSG_WRITE_FAILED, error);
    } else {
        result = TRUE;
    }
    if (!g_Sys.CloseHandle(file)) {
        DWORD error = GetLastError();
        LOG("CloseHandle %s failed 0x%08lX", path, error);
        STATUS(MSG_CLOSE_FAILED, error);
        result = FALSE;
    }
    return result;
}

// Puts a file back as it was saved, or deletes the file when there was
// none before the run.
static BOOL RestoreFile(const char* path, const SavedRecord* saved, const char* deleteLine)
{
    if (saved->saved)
        return WriteSavedFile(path, saved);
    BOOL exists = FALSE;
    if (!LookForFile(path, &exists, NULL))
        return FALSE;
    if (!exists)
        return TRUE;
    LOG(deleteLine, path);
    return DeleteReported(path, "DeleteFile %s 0x%08lX");
}

static BOOL RestoreSessionManagerValue(const SavedRecord* saved)
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
    if (saved->saved) {
        error = g_Sys.RegSetValueExW(key, kPendingValue, 0, saved->type, saved->data, saved->size);
        if (error != ERROR_SUCCESS) {
            LOG("RegSetValueEx failed on PendingFileRenameOperations 0x%08lX", error);
            STATUS(MSG_VALUE_SET_FAILED, error);
            result = FALSE;
        }
    } else {
        // Not finding it is the normal outcome when the run queued nothing;
        // a value that stays would carry out the failed run's renames.
        error = g_Sys.RegDeleteValueW(key, kPendingValue);
        if (error != ERROR_SUCCESS)
            LOG("RegDeleteValue failed on PendingFileRenameOperations 0x%08lX", error);
        if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND) {
            STATUS(MSG_VALUE_SET_FAILED, error);
            result = FALSE;
        }
    }
    RegCloseKey(key);
    return result;
}

static BOOL RestoreRecords(const RenameSafekeeping* keep)
{
    BOOL result = TRUE;
    char path[MAX_PATH];
    if (!keep->moveRecord.known)
        LOG("MoveFileRecord was not saved, left as it is");
    else if (!MoveRecordPath(path) || !RestoreFile(path, &keep->moveRecord, "Deleting MoveFileRecord at %s"))
        result = FALSE;

    if (!keep->pending.known) {
        LOG("Pending renames were not saved, left as they are");
    } else if (g_System.is95Family) {
        if (!WininitPath(path) || !RestoreFile(path, &keep->pending, "Deleting WININIT.INI at %s"))
            result = FALSE;
    } else if (!RestoreSessionManagerValue(&keep->pending)) {
        result = FALSE;
    }
    return result;
}

BOOL RestorePendingRenames(BOOL restore)
{
    RenameSafekeeping* keep = &g_Safekeeping;
    BOOL result = !restore || RestoreRecords(keep);
    // Released: a second call finds nothing to put back or delete.
    ReleaseSaved(&keep->moveRecord);
    ReleaseSaved(&keep->pending);
    return result;
}

BOOL PendingBackupPath(const char* pendingSource, char* backup)
{
    return BuildEnginePath(backup, pendingSource, 0, ".BAK");
}

// A replacement the engine queued moves one of its images ("QNB", hex
// digits, ".TMP") that lies in its target's own directory. A record naming
// any other file is not the engine's: its source must not be read for
// version facts, nor be backed up and overwritten.
static BOOL IsImageBeside(const char* source, const char* target)
{
    char name[MAX_PATH];
    char prefix[4];
    GetBaseName(source, name, sizeof name);
    CopyText(prefix, name, sizeof prefix);
    char expected[MAX_PATH];
    DWORD directory = DirectoryLength(target);
    if (AsciiCompareNoCase(prefix, "QNB") != 0 || directory >= sizeof expected)
        return FALSE;
    memcpy(expected, target, directory);
    expected[directory] = 0;
    return AppendText(expected, name, sizeof expected) && AppendText(expected, ".TMP", sizeof expected) &&
           AsciiCompareNoCase(expected, source) == 0;
}

BOOL FindMoveRecord(const char* target, char* source, char* recordTarget, BOOL* found)
{
    *found = FALSE;
    char path[MAX_PATH];
    BOOL exists = FALSE;
    if (!MoveRecordPath(path) || !LookForFile(path, &exists, NULL))
        return FALSE;
    if (!exists)
        return TRUE;
    // With a reserve an empty file loads too: it holds no records. Any other
    // failure to read the file has set a status.
    FileBuffer buffer;
    if (!LoadFileBuffer(path, 1, &buffer))
        return FALSE;
    size_t offset = 0;
    MoveRecordResult result = FindMoveRecordIn(buffer.data, buffer.size, target, source, recordTarget, &offset);
    if (result == MOVE_RECORD_DAMAGED)
        LOG("MoveFileRecord %s is damaged at byte %lu; the records from there on are ignored", path,
            (DWORD)offset);
    *found = result == MOVE_RECORD_FOUND && IsImageBeside(source, recordTarget);
    if (result == MOVE_RECORD_FOUND && !*found)
        LOG("MoveFileRecord %s names %s for %s, which is no image beside it; not taken as pending", path, source,
            recordTarget);
    return StoreFileBuffer(&buffer, 0);
}
