// Backup and move into place: the third pass over a context. For every
// chosen entry it creates the directory, or backs the installed file up to
// its ".BAK" and puts the image in its place: at once (a copy over the
// target, then the image deleted), or at the next restart through the
// system's own mechanism, MoveFileExA on the NT family and a line in the
// [RENAME] section of WININIT.INI on the 95 family. Each replacement queued
// for the restart is also written to the move record file, so that a second
// run before the restart refreshes the pending file instead of queuing a
// second rename; the record file queues its own deletion when it is created.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <stdlib.h>
#include <string.h>

#include "install.h"
#include "log.h"
#include "moverecord.h"
#include "syscalls.h"
#include "text.h"
#include "wininit.h"

BOOL ResetAttributes(const char* path)
{
    if (g_Sys.SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL))
        return TRUE;
    DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND)
        return TRUE;
    LOG("Unable to set %s attributes to normal 0x%08lX", path, error);
    STATUS(MSG_ATTRIBUTES_FAILED, error);
    return FALSE;
}

// Copies source over target and deletes source. The attributes of each are
// set to normal first, unless the caller has done so already.
static BOOL CopyAndDelete(const char* source, const char* target, BOOL sourceReset, BOOL targetReset)
{
    if (target) {
        if (!targetReset)
            ResetAttributes(target);
        if (!CopyOver(source, target))
            return FALSE;
    }
    if (!sourceReset)
        ResetAttributes(source);
    return DeleteReported(source, "DeleteFile %s 0x%08lX");
}

// Queues "target=source" in WININIT.INI's [RENAME] section. *duplicate is
// set when the section holds that line already: nothing new is queued then.
static BOOL AddWininitRename(const char* source, const char* target, BOOL* duplicate)
{
    *duplicate = FALSE;
    char line[2 * MAX_PATH + 4];
    wsprintfA(line, "%s=%s\r\n", target, source);
    AsciiUpperCase(line);
    char path[MAX_PATH];
    if (!WininitPath(path))
        return FALSE;
    FileBuffer buffer;
    if (!LoadFileBuffer(path, WININIT_RENAME_RESERVE + (DWORD)strlen(line), &buffer))
        return FALSE;
    uint32_t added = 0;
    if (AddRenameLine(buffer.data, buffer.size, line, &added) == RENAME_LINE_DUPLICATE) {
        LOG("Duplicate [RENAME] line, not changing WININIT.INI");
        *duplicate = TRUE;
    }
    return StoreFileBuffer(&buffer, added);
}

BOOL AppendMoveRecord(const char* source, const char* target)
{
    char path[MAX_PATH];
    if (!MoveRecordPath(path))
        return FALSE;
    DWORD length = MoveRecordLength(source, target);
    BOOL existed = FALSE;
    if (!LookForFile(path, &existed, NULL))
        return FALSE;
    FileBuffer buffer;
    if (!LoadFileBuffer(path, length, &buffer))
        return FALSE;
    EncodeMoveRecord(buffer.data + buffer.size, source, target);
    if (!StoreFileBuffer(&buffer, length))
        return FALSE;
    // The restart that carries out the renames also removes their record.
    if (existed)
        return TRUE;
    return MoveImage(path, NULL, TRUE, FALSE);
}

// The file an earlier run queued for the restart is replaced by a newer
// image. Its bytes go to a copy beside it first (its path + ".BAK"), and the
// entry's state names it, so that a roll-back of this run puts the earlier
// run's replacement back without reading the record file again.
static BOOL SubstitutePendingFile(const char* image, const char* pendingSource, ImageState* state)
{
    char backup[MAX_PATH];
    if (!PendingBackupPath(pendingSource, backup))
        return FALSE;
    // The room to name it is taken before anything changes.
    DWORD length = (DWORD)strlen(pendingSource) + 1;
    char* noted = state ? (char*)g_Sys.HeapAlloc(GetProcessHeap(), 0, length) : NULL;
    if (state && !noted) {
        LOG("Out of memory");
        STATUS(MSG_OUT_OF_MEMORY, 0);
        return FALSE;
    }
    LOG("Backup %s to %s", pendingSource, backup);
    if (!CopyOver(pendingSource, backup)) {
        g_Sys.DeleteFileA(backup);  // what a copy that failed part way wrote
        if (noted)
            HeapFree(GetProcessHeap(), 0, noted);
        return FALSE;
    }
    if (state) {
        memcpy(noted, pendingSource, length);
        state->pendingSource = noted;
    }
    return CopyAndDelete(image, pendingSource, FALSE, FALSE);
}

// A replacement or deletion queued for the next restart; state (may be
// null) notes a pending file this run overwrote.
static BOOL MoveAtRestart(const char* source, const char* target, BOOL record, ImageState* state)
{
    char shortSource[MAX_PATH];
    char shortTarget[MAX_PATH];
    GetShortPath(source, shortSource, MAX_PATH, TRUE);
    if (target) {
        GetShortPath(target, shortTarget, MAX_PATH, TRUE);
        char pendingSource[MAX_PATH];
        char pendingTarget[MAX_PATH];
        BOOL pending = FALSE;
        if (!FindMoveRecord(shortTarget, pendingSource, pendingTarget, &pending))
            return FALSE;
        if (pending) {
            LOG("Duplicate installation - substituting temporary file %s for %s", source, pendingSource);
            return SubstitutePendingFile(source, pendingSource, state);
        }
    } else {
        CopyText(shortTarget, "NUL", sizeof shortTarget);
    }

    BOOL duplicate = FALSE;
    if (g_System.isNT || g_System.is2KXP) {
        DWORD flags = target ? MOVEFILE_REPLACE_EXISTING | MOVEFILE_DELAY_UNTIL_REBOOT : MOVEFILE_DELAY_UNTIL_REBOOT;
        if (!g_Sys.MoveFileExA(shortSource, target ? shortTarget : NULL, flags)) {
            DWORD error = GetLastError();
            LOG("MoveFileEx %s to %s 0x%08lX", shortSource, shortTarget, error);
            STATUS(MSG_MOVE_FAILED, error);
            return FALSE;
        }
    } else if (!AddWininitRename(shortSource, shortTarget, &duplicate)) {
        return FALSE;
    }
    if (record && target && !duplicate)
        return AppendMoveRecord(shortSource, shortTarget);
    return TRUE;
}

// What a caller has prepared for an immediate move: the files whose
// attributes it has set to normal, and whether the source may simply be
// renamed to the target (see ImmediateWay).
struct Prepared {
    BOOL sourceReset;
    BOOL targetReset;
    BOOL renameFirst;
    BOOL replace;  // the rename replaces the target, which is still there
};

static BOOL MoveIntoPlace(const char* source, const char* target, BOOL delayed, BOOL record, ImageState* state,
                          const Prepared* prepared)
{
    LOG("Move %s from %s to %s", delayed ? "delayed" : "immediate", source, target ? target : "NULL(DELETE)");
    if (delayed)
        return MoveAtRestart(source, target, record, state);
    // A rename that fails has changed nothing: the copy then goes as before.
    if (prepared->renameFirst && (prepared->replace ? g_Sys.MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING)
                                                    : g_Sys.MoveFileA(source, target)))
        return TRUE;
    return CopyAndDelete(source, target, prepared->sourceReset, prepared->targetReset);
}

BOOL MoveImage(const char* source, const char* target, BOOL delayed, BOOL record)
{
    const Prepared nothing = {FALSE, FALSE, FALSE, FALSE};
    return MoveIntoPlace(source, target, delayed, record, NULL, &nothing);
}

// How an image goes to its target at once. A copy gives the file it makes
// the source's bytes and last-write time and the archive attribute alone;
// it makes a new file where there was none (created now), and over a file
// keeps that file's creation time. An image whose attributes are the
// archive attribute alone (the decision read them) is renamed instead, and
// then given the creation time the copy would have given it: its bytes are
// written once. Over an installed file (archive attribute alone too, as a
// copy would leave it, and backed up) the installed file is renamed to its
// backup first, instead of a copy: the backup then is the installed file
// itself, given the creation time a new copy has. On the NT family an
// installed file small for its folder is instead copied to its backup, made
// as a new file, and the image renamed over it, replacing it: the image is
// then renamed to a name that is there, which some file systems find at
// once where a name that is not there costs them a read of the whole folder
// (as the target renamed away does). Any other image is copied as before,
// and so is one whose rename fails. An image extracted at its new target
// is in place already: it only gets the archive attribute alone and the
// creation time a copy made now would have.
enum ImmediateWay { BY_COPY, RENAME_NEW, RENAME_OVER, REPLACE_OVER, IN_PLACE };

// Bytes of a backup copy that cost about as much as reading one name of a
// folder: up to that many a name, the copy costs less than the read.
const DWORD kCopiedBytesPerName = 256;

// A copy over the installed file needs to write it: one that is in use (a
// running program, a loaded driver) makes the copy fail, and a rename must
// fail there too rather than succeed where the copy does not.
static BOOL CanWrite(const char* path)
{
    HANDLE file = g_Sys.CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
    return file != INVALID_HANDLE_VALUE && g_Sys.CloseHandle(file);
}

static ImmediateWay WayOf(const ImageFile* entry, const ImageState* state, BOOL delayed, const char* target)
{
    if (state->inPlace)
        return IN_PLACE;
    if (delayed || !state->image.exists || state->image.attributes != FILE_ATTRIBUTE_ARCHIVE ||
        state->existing.pending)
        return BY_COPY;
    if (!state->existing.exists)
        return RENAME_NEW;
    if (state->existing.attributes == FILE_ATTRIBUTE_ARCHIVE && BacksUpTarget(entry, state) &&
        !(entry->flags & IMG_DELETE_EXISTING) && CanWrite(target)) {
        // The 95 family has no rename that replaces.
        BOOL replaces = g_System.isNT || g_System.is2KXP;
        BOOL small = state->existing.size / kCopiedBytesPerName < ListedNamesBeside(target);
        return replaces && small ? REPLACE_OVER : RENAME_OVER;
    }
    return BY_COPY;
}

// The backup by a copy into a file made new here, never over anything: the
// installed file's bytes and last-write time and the archive attribute
// alone, as the system's copy gives (the installed file has that attribute
// alone). FALSE, with what was made deleted, when it cannot be made so: the
// system's copy then makes the backup.
static BOOL CopyToNewFile(const char* source, const char* target)
{
    BYTE buffer[16384];
    HANDLE from = g_Sys.CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
    if (from == INVALID_HANDLE_VALUE)
        return FALSE;
    HANDLE to = g_Sys.CreateFileA(target, GENERIC_WRITE, 0, NULL, CREATE_NEW, FILE_ATTRIBUTE_ARCHIVE, NULL);
    BOOL copied = to != INVALID_HANDLE_VALUE;
    for (DWORD read = 1; copied && read;) {
        DWORD written = 0;
        copied = g_Sys.ReadFile(from, buffer, sizeof buffer, &read, NULL) &&
                 (!read || (g_Sys.WriteFile(to, buffer, read, &written, NULL) && written == read));
    }
    FILETIME writeTime;
    copied = copied && g_Sys.GetFileTime(from, NULL, NULL, &writeTime) && g_Sys.SetFileTime(to, NULL, NULL, &writeTime);
    CloseHandle(from);
    if (to == INVALID_HANDLE_VALUE)
        return FALSE;
    if (!g_Sys.CloseHandle(to))
        copied = FALSE;
    if (!copied)
        g_Sys.DeleteFileA(target);
    return copied;
}

// The backup by rename: the installed file becomes its backup. FALSE, with
// nothing changed, when the rename fails (the copy then makes the backup).
// A creation time that cannot be set leaves its bytes as they are.
static BOOL MoveToBackup(const char* target, const char* backup, ImageState* state)
{
    if (!g_Sys.MoveFileA(target, backup))
        return FALSE;
    state->backupMoved = 1;
    SetCreationTime(backup, NULL);
    return TRUE;
}

static BOOL CreateDirectoryEntry(const ImageFile* entry, ImageState* state)
{
    char path[MAX_PATH];
    if (!BuildEnginePath(path, entry->targetName, entry->dirId, NULL))
        return FALSE;
    BOOL exists = FALSE;
    if (!LookForFile(path, &exists, NULL))
        return FALSE;
    if (exists)
        return TRUE;
    LOG("Create directory %s", path);
    if (!g_Sys.CreateDirectoryA(path, NULL)) {
        DWORD error = GetLastError();
        LOG("CreateDirectory %s 0x%08lX", path, error);
        STATUS(MSG_DIRECTORY_FAILED, error);
        return FALSE;
    }
    state->installed = 1;
    return TRUE;
}

// Renames source over target, a file that is there; a failure is logged and
// reported as RenameReported's.
static BOOL ReplaceReported(const char* source, const char* target)
{
    if (g_Sys.MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING))
        return TRUE;
    DWORD error = GetLastError();
    LOG("MoveFile %s to %s 0x%08lX", source, target, error);
    STATUS(MSG_MOVE_FAILED, error);
    return FALSE;
}

// An earlier run's backup is set aside under a temporary name beside the
// target while this run's backup takes its place: a roll-back puts it back,
// a successful run deletes it.
static BOOL SetEarlierBackupAside(const ImageFile* entry, ImageState* state, const char* backup)
{
    BOOL exists = FALSE;
    if (!ListedFileExists(backup, &exists) && !LookForFile(backup, &exists, NULL))
        return FALSE;
    if (!exists)
        return TRUE;
    char aside[MAX_PATH];
    if (!MakeTempFile(GetInstallDir(entry->dirId), aside))
        return FALSE;
    // On the NT family the backup replaces the empty file made for it: a
    // rename to a name that is there, which some file systems find at once
    // where a name that is not there costs them a read of the whole folder.
    // The 95 family has no rename that replaces: the name is kept free.
    BOOL replaces = g_System.isNT || g_System.is2KXP;
    LOG("Setting %s aside as %s", backup, aside);
    if (!replaces && !DeleteReported(aside, "DeleteFile %s 0x%08lX"))
        return FALSE;
    // Only its name is kept: it is in the entry's directory.
    const char* name = aside + DirectoryLength(aside);
    BOOL fits = strlen(name) < sizeof state->earlierBackup;
    if (!fits) {
        LOG("Temporary name %s is too long", aside);
        STATUS(MSG_TEMP_FILE_FAILED, ERROR_FILENAME_EXCED_RANGE);
    }
    BOOL moved = fits && (replaces ? ReplaceReported(backup, aside) : RenameReported(backup, aside));
    if (!moved) {
        if (replaces)
            g_Sys.DeleteFileA(aside);  // the empty file made for it
        return FALSE;
    }
    CopyText(state->earlierBackup, name, sizeof state->earlierBackup);
    return TRUE;
}

// An image extracted at its new target: it is installed as it is, with the
// attributes and creation time a copy to a new file gives.
static BOOL SettleInPlace(const char* target, ImageState* state)
{
    LOG("Move immediate from %s to %s", target, target);
    state->installed = 1;
    if (state->image.attributes != FILE_ATTRIBUTE_ARCHIVE &&
        !g_Sys.SetFileAttributesA(target, FILE_ATTRIBUTE_ARCHIVE)) {
        DWORD error = GetLastError();
        LOG("Unable to set %s attributes 0x%08lX", target, error);
        STATUS(MSG_ATTRIBUTES_FAILED, error);
        return FALSE;
    }
    SetCreationTime(target, NULL);
    return TRUE;
}

// Backs the target up and puts the image in its place, or deletes the
// target, at once or at the next restart.
static BOOL PlaceFile(const ImageFile* entry, ImageState* state)
{
    char image[MAX_PATH];
    char target[MAX_PATH];
    char backup[MAX_PATH];
    if (!BuildImagePath(image, entry, state) || !BuildEnginePath(target, entry->targetName, entry->dirId, NULL) ||
        !BuildEnginePath(backup, entry->backupName, entry->dirId, ".BAK"))
        return FALSE;
    BOOL delayed = MovesAtRestart(entry);
    ImmediateWay way = WayOf(entry, state, delayed, target);
    if (way == IN_PLACE)
        return SettleInPlace(target, state);
    // The attributes of each file are set to normal once, and not at all
    // for a rename, which needs the archive attribute alone.
    Prepared prepared = {FALSE, FALSE, way != BY_COPY, way == REPLACE_OVER};
    if (state->image.exists && way == BY_COPY) {
        if (!ResetAttributes(image))
            return FALSE;
        prepared.sourceReset = TRUE;
    }
    // Facts of a pending file: the target itself is not touched. A target
    // renamed over has the archive attribute alone, which the copy's way
    // sets to normal: the roll-back sets it back either way.
    if (state->existing.exists && !state->existing.pending) {
        if (way == BY_COPY && !ResetAttributes(target))
            return FALSE;
        state->targetReset = 1;
        prepared.targetReset = way == BY_COPY;
    }
    BOOL backedUp = BacksUpTarget(entry, state);
    if (backedUp) {
        if (!SetEarlierBackupAside(entry, state, backup))
            return FALSE;
        LOG("Backup %s to %s", target, backup);
        state->backedUp = 1;
        if (!(way == RENAME_OVER && MoveToBackup(target, backup, state)) &&
            !(way == REPLACE_OVER && CopyToNewFile(target, backup)) && !CopyOver(target, backup))
            return FALSE;
    }
    // An immediate move overwrites the backed-up target: mark it installed
    // first, so that a move that fails part way is still undone from the
    // backup by the roll-back.
    if (state->image.exists) {
        if (backedUp && !delayed)
            state->installed = 1;
        if (!MoveIntoPlace(image, target, delayed, TRUE, state, &prepared))
            return FALSE;
        state->installed = 1;
        // Also after a copy that followed a failed rename: the target was
        // gone then. The bytes are in place whatever the creation time.
        if (way != BY_COPY)
            SetCreationTime(target, way == RENAME_NEW ? NULL : &state->existing.creationTime);
    }
    if (state->existing.exists && (entry->flags & IMG_DELETE_EXISTING)) {
        if (backedUp && !delayed)
            state->installed = 1;
        const Prepared targetPrepared = {prepared.targetReset, FALSE, FALSE, FALSE};
        if (!MoveIntoPlace(target, NULL, delayed, TRUE, NULL, &targetPrepared))
            return FALSE;
        state->installed = 1;
    }
    return TRUE;
}

static BOOL InstallFileEntry(UpgradeContext* context, const ImageFile* entry, ImageState* state)
{
    // An entry chosen through its group for another system has neither an
    // image nor a file here (its directory may not even exist): it only
    // counts for the status.
    if ((state->image.exists || state->existing.exists) && !PlaceFile(entry, state))
        return FALSE;
    if (!context->installStarted) {
        context->installStarted = 1;
        STATUS(MSG_INSTALLED, 0);
    }
    if (entry->flags & IMG_AT_RESTART)
        STATUS(MSG_REBOOT_NEEDED, 0);
    return TRUE;
}

// The paths a chosen entry writes: its target, and its backup when it makes
// one (not for a new file, nor over a pending file's facts). An entry that
// touches no path (chosen through its group for another system, or a
// directory of another system) has none.
static DWORD PathsWritten(const UpgradeContext* context, DWORD i, char paths[2][MAX_PATH])
{
    const ImageFile* entry = &context->images[i];
    const ImageState* state = &context->states[i];
    BOOL directory = IsImageApplicable(entry) && (entry->flags & IMG_DIRECTORY);
    if (!state->upgrade || !(directory || state->image.exists || state->existing.exists))
        return 0;
    if (!BuildEnginePath(paths[0], entry->targetName, entry->dirId, NULL))
        return 0;
    if ((entry->flags & IMG_DIRECTORY) || !BacksUpTarget(entry, state) ||
        !BuildEnginePath(paths[1], entry->backupName, entry->dirId, ".BAK"))
        return 1;
    return 2;
}

static const char* SharedPath(char mine[2][MAX_PATH], DWORD mineCount, char theirs[2][MAX_PATH], DWORD theirCount)
{
    for (DWORD a = 0; a < mineCount; ++a)
        for (DWORD b = 0; b < theirCount; ++b)
            if (AsciiCompareNoCase(mine[a], theirs[b]) == 0)
                return mine[a];
    return NULL;
}

// One path written by a chosen entry, in the sorted list of them all.
struct WrittenPath {
    const char* path;
    DWORD entry;
};

static int CompareWrittenPaths(const void* a, const void* b)
{
    const WrittenPath* left = (const WrittenPath*)a;
    const WrittenPath* right = (const WrittenPath*)b;
    int order = AsciiCompareNoCase(left->path, right->path);
    if (order)
        return order;
    return left->entry < right->entry ? -1 : left->entry > right->entry ? 1 : 0;
}

// Every path the chosen entries write, each built once, sorted without
// regard to case (then by entry): entries that share a path lie side by
// side. The paths' texts follow the list in the same block. NULL, with a
// status, when there is no memory for it.
static WrittenPath* ListWrittenPaths(const UpgradeContext* context, DWORD* listed)
{
    char paths[2][MAX_PATH];
    DWORD count = 0, bytes = 0;
    for (DWORD i = 0; i < context->count; ++i)
        for (DWORD n = PathsWritten(context, i, paths), k = 0; k < n; ++k, ++count)
            bytes += (DWORD)strlen(paths[k]) + 1;
    WrittenPath* list = (WrittenPath*)g_Sys.HeapAlloc(GetProcessHeap(), 0, count * sizeof(WrittenPath) + bytes + 1);
    if (!list) {
        LOG("Out of memory");
        STATUS(MSG_OUT_OF_MEMORY, 0);
        return NULL;
    }
    char* text = (char*)(list + count);
    DWORD at = 0;
    for (DWORD i = 0; i < context->count; ++i) {
        for (DWORD n = PathsWritten(context, i, paths), k = 0; k < n; ++k, ++at) {
            DWORD length = (DWORD)strlen(paths[k]) + 1;
            memcpy(text, paths[k], length);
            list[at].path = text;
            list[at].entry = i;
            text += length;
        }
    }
    qsort(list, count, sizeof *list, CompareWrittenPaths);
    *listed = count;
    return list;
}

// Two chosen entries that write one path undo each other: the second backup
// destroys the first, and a roll-back puts back the wrong bytes. Such a
// table is refused before anything is touched. Of the entries that share a
// path, the first pair in table order is named.
static BOOL CheckPathsShared(const UpgradeContext* context)
{
    DWORD count = 0;
    WrittenPath* list = ListWrittenPaths(context, &count);
    if (!list)
        return FALSE;
    DWORD first = MAXDWORD, second = MAXDWORD;
    for (DWORD start = 0, end; start < count; start = end) {
        // A run of equal paths; its entries in ascending order.
        for (end = start + 1; end < count && AsciiCompareNoCase(list[start].path, list[end].path) == 0; ++end)
            ;
        for (DWORD k = start + 1; k < end; ++k) {
            if (list[k].entry == list[start].entry)
                continue;
            DWORD i = list[start].entry, j = list[k].entry;
            if (i < first || (i == first && j < second)) {
                first = i;
                second = j;
            }
            break;
        }
    }
    HeapFree(GetProcessHeap(), 0, list);
    if (first == MAXDWORD)
        return TRUE;
    char mine[2][MAX_PATH];
    char theirs[2][MAX_PATH];
    DWORD mineCount = PathsWritten(context, first, mine);
    const char* shared = SharedPath(mine, mineCount, theirs, PathsWritten(context, second, theirs));
    LOG("Entries %s and %s would both write %s", context->images[first].archiveName,
        context->images[second].archiveName, shared ? shared : "");
    STATUS(MSG_INTERNAL_ERROR, ERROR_ALREADY_EXISTS);
    return FALSE;
}

BOOL InstallImages(UpgradeContext* context)
{
    if (!g_Engine.engineReady) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
        return FALSE;
    }
    context->installStarted = 0;
    if (!CheckPathsShared(context))
        return FALSE;
    DWORD i = 0;
    for (; i < context->count; ++i) {
        ReportPassProgress(context, PROGRESS_INSTALL, i);
        const ImageFile* entry = &context->images[i];
        ImageState* state = &context->states[i];
        if (!state->upgrade)
            continue;
        BOOL done = (IsImageApplicable(entry) && (entry->flags & IMG_DIRECTORY))
                        ? CreateDirectoryEntry(entry, state)
                        : InstallFileEntry(context, entry, state);
        if (!done)
            break;
    }
    ForgetFolderListings();
    return i == context->count;
}
