// The upgrade decision: for every applicable file entry, the facts of the
// file now at its target (or of the file a pending replacement will put
// there at the next restart) and of its image, and a fixed order of rules
// that choose the entry for installation: no installed file; a version
// where there was none; a later file version; else a later time stamp. Two
// group rules then extend the choice: installed members of a checked group
// whose versions differ are all chosen, and a chosen entry takes every
// other entry of its group with it. An older image never downgrades on its
// own, and nothing clears a choice that FORCE made.
#define TRACE_FILE __FILE__ ":upgrade"
#include "upgrade.h"

#include <stdlib.h>
#include <string.h>

#include "install.h"
#include "log.h"
#include "syscalls.h"
#include "text.h"

static void ReadVersionStrings(const BYTE* block, VersionStrings* strings)
{
    struct Translation {
        WORD language;
        WORD codePage;
    };
    Translation* translation = NULL;
    UINT length = 0;
    if (!g_Sys.VerQueryValueA(block, "\\VarFileInfo\\Translation", (LPVOID*)&translation, &length) ||
        length < sizeof(Translation))
        return;
    struct Field {
        const char* key;
        char* out;
        DWORD size;
    } fields[] = {
        {"FileDescription", strings->description, sizeof strings->description},
        {"FileVersion", strings->versionText, sizeof strings->versionText},
        {"CompanyName", strings->company, sizeof strings->company},
        {"ProductName", strings->product, sizeof strings->product},
    };
    for (const Field& field : fields) {
        char query[64];
        wsprintfA(query, "\\StringFileInfo\\%04x%04x\\%s", translation->language, translation->codePage, field.key);
        char* text = NULL;
        UINT textLength = 0;
        if (g_Sys.VerQueryValueA(block, query, (LPVOID*)&text, &textLength) && textLength != 0 && text)
            CopyText(field.out, text, field.size);
    }
}

// The version resource's fixed part, and its strings when asked; the file
// counts as having no version information whenever any of it cannot be read.
static void ReadVersion(const char* path, FileInfo* info, VersionStrings* strings)
{
    DWORD handle = 0;
    DWORD size = g_Sys.GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) {
        LOG("Unable to get %s version info size 0x%08lX", path, GetLastError());
        return;
    }
    BYTE* block = (BYTE*)g_Sys.HeapAlloc(GetProcessHeap(), 0, size);
    if (!block) {
        LOG("Out of memory");
        return;
    }
    if (!g_Sys.GetFileVersionInfoA(path, 0, size, block)) {
        LOG("Unable to get %s version info 0x%08lX", path, GetLastError());
        HeapFree(GetProcessHeap(), 0, block);
        return;
    }
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    if (!g_Sys.VerQueryValueA(block, "\\", (LPVOID*)&fixed, &length) || !fixed ||
        length < sizeof(VS_FIXEDFILEINFO)) {
        LOG("Unable to get %s VS_FIXEDFILEINFO", path);
        HeapFree(GetProcessHeap(), 0, block);
        return;
    }
    info->fileVersionMS = fixed->dwFileVersionMS;
    info->fileVersionLS = fixed->dwFileVersionLS;
    info->productVersionMS = fixed->dwProductVersionMS;
    info->productVersionLS = fixed->dwProductVersionLS;
    info->hasVersion = 1;
    LOG("%s version %ld.%ld.%ld.%ld", path, (LONG)HIWORD(info->fileVersionMS), (LONG)LOWORD(info->fileVersionMS),
        (LONG)HIWORD(info->fileVersionLS), (LONG)LOWORD(info->fileVersionLS));
    if (strings)
        ReadVersionStrings(block, strings);
    HeapFree(GetProcessHeap(), 0, block);
}

// The line a file's facts are logged with, and its version when wanted.
static void LogFactsAndReadVersion(const char* path, FileInfo* info, BOOL wantVersion, VersionStrings* strings)
{
    SYSTEMTIME time;
    memset(&time, 0, sizeof time);
    FileTimeToSystemTime(&info->lastWriteTime, &time);
    LOG("%s dated %02ld/%02ld/%ld %02ld:%02ld:%02ld, %ld bytes.", path, (LONG)time.wMonth, (LONG)time.wDay,
        (LONG)time.wYear, (LONG)time.wHour, (LONG)time.wMinute, (LONG)time.wSecond, (LONG)info->size);
    if (wantVersion)
        ReadVersion(path, info, strings);
}

static BOOL ReportNoFacts(const char* path, DWORD error)
{
    if (error == ERROR_FILE_NOT_FOUND) {
        LOG("File %s does not exist", path);
        return TRUE;
    }
    LOG("Unable to open %s for file info 0x%08lX", path, error);
    STATUS(MSG_OPEN_FAILED, error);
    return FALSE;
}

BOOL GatherFileInfo(const char* path, FileInfo* info, BOOL wantVersion, VersionStrings* strings)
{
    memset(info, 0, sizeof *info);
    if (strings)
        memset(strings, 0, sizeof *strings);
    HANDLE file = g_Sys.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return ReportNoFacts(path, GetLastError());
    info->exists = 1;
    SetLastError(NO_ERROR);
    info->size = g_Sys.GetFileSize(file, NULL);
    DWORD error = GetLastError();
    if (info->size == INVALID_FILE_SIZE && error != NO_ERROR) {
        LOG("Unable to get %s file size 0x%08lX", path, error);
        STATUS(MSG_FILE_SIZE_FAILED, error);
        g_Sys.CloseHandle(file);
        return FALSE;
    }
    if (!g_Sys.GetFileTime(file, &info->creationTime, NULL, &info->lastWriteTime)) {
        error = GetLastError();
        LOG("Unable to get %s file time 0x%08lX", path, error);
        STATUS(MSG_FILE_SIZE_FAILED, error);
        g_Sys.CloseHandle(file);
        return FALSE;
    }
    g_Sys.CloseHandle(file);
    info->attributes = g_Sys.GetFileAttributesA(path);
    if (info->attributes == INVALID_FILE_ATTRIBUTES) {
        error = GetLastError();
        LOG("Unable to get %s file attributes 0x%08lX", path, error);
        STATUS(MSG_ATTRIBUTES_READ_FAILED, error);
        return FALSE;
    }
    LogFactsAndReadVersion(path, info, wantVersion, strings);
    return TRUE;
}

// The facts of an image, this run's own file, which nobody else has open:
// the size, time and attributes come from one query by name, without
// opening the file, where the system has that query (not Windows 95).
static BOOL GatherImageFacts(const char* path, FileInfo* info, BOOL wantVersion)
{
    memset(info, 0, sizeof *info);
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!g_Sys.GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        DWORD error = GetLastError();
        if (error == ERROR_CALL_NOT_IMPLEMENTED)
            return GatherFileInfo(path, info, wantVersion);
        return ReportNoFacts(path, error);
    }
    info->exists = 1;
    info->size = data.nFileSizeLow;
    info->lastWriteTime = data.ftLastWriteTime;
    info->creationTime = data.ftCreationTime;
    info->attributes = data.dwFileAttributes;
    LogFactsAndReadVersion(path, info, wantVersion, NULL);
    return TRUE;
}

BOOL GetShortPath(const char* path, char* buffer, DWORD size, BOOL create)
{
    if (create) {
        // A file that does not exist yet has no short name: make it exist.
        HANDLE file = g_Sys.CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, NULL);
        if (file == INVALID_HANDLE_VALUE) {
            LOG("Couldn't force existence of %s for short path name.\n", path);
            CopyText(buffer, path, size);
            return FALSE;
        }
        g_Sys.CloseHandle(file);
    }
    DWORD length = g_Sys.GetShortPathNameA(path, buffer, size);
    if (length == 0 || length >= size) {
        CopyText(buffer, path, size);
        return FALSE;
    }
    return TRUE;
}

static ULONGLONG FileVersionOf(const FileInfo* info)
{
    return (ULONGLONG)info->fileVersionMS << 32 | info->fileVersionLS;
}

static ULONGLONG WriteTimeOf(const FileInfo* info)
{
    return (ULONGLONG)info->lastWriteTime.dwHighDateTime << 32 | info->lastWriteTime.dwLowDateTime;
}

// Whether the move record file is there, asked once for the decision pass:
// nothing in the pass makes or removes it, and without it no replacement is
// pending, so the target's short name (a walk over every folder of its path)
// is not needed.
struct RecordFile {
    BOOL known;
    BOOL exists;
};

static BOOL MoveRecordExists(RecordFile* record)
{
    if (!record->known) {
        char path[MAX_PATH];
        if (!MoveRecordPath(path) || !LookForFile(path, &record->exists, NULL))
            return FALSE;
        record->known = TRUE;
    }
    return TRUE;
}

// The existing file's facts: from the file a pending replacement will put at
// the target at the next restart, when the move record file names one.
static BOOL GatherExistingInfo(const ImageFile* entry, ImageState* state, BOOL wantVersion, RecordFile* record)
{
    char target[MAX_PATH];
    if (!BuildEnginePath(target, entry->targetName, entry->dirId, NULL))
        return FALSE;
    // Extracted in place: there was no file, and nothing waited for the
    // restart there.
    if (state->inPlace) {
        memset(&state->existing, 0, sizeof state->existing);
        LOG("File %s does not exist", target);
        return TRUE;
    }
    if (!MoveRecordExists(record))
        return FALSE;
    char shortTarget[MAX_PATH];
    char pendingSource[MAX_PATH];
    char pendingTarget[MAX_PATH];
    BOOL pending = FALSE;
    if (record->exists && GetShortPath(target, shortTarget, MAX_PATH, FALSE) &&
        !FindMoveRecord(shortTarget, pendingSource, pendingTarget, &pending))
        return FALSE;
    if (!pending) {
        // A target its folder's listing lacks is not opened: the look-up of
        // a missing name is the costly one.
        BOOL exists = TRUE;
        if (ListedFileExists(target, &exists) && !exists) {
            memset(&state->existing, 0, sizeof state->existing);
            LOG("File %s does not exist", target);
            return TRUE;
        }
        return GatherFileInfo(target, &state->existing, wantVersion);
    }
    if (!GatherFileInfo(pendingSource, &state->existing, wantVersion))
        return FALSE;
    state->existing.pending = 1;
    return TRUE;
}

static BOOL GatherImageInfo(const ImageFile* entry, ImageState* state, BOOL wantVersion)
{
    char image[MAX_PATH];
    if (!BuildImagePath(image, entry, state))
        return FALSE;
    if (!GatherImageFacts(image, &state->image, wantVersion))
        return FALSE;
    if (!state->image.exists) {
        // Extraction reported success without writing the image.
        STATUS(MSG_OPEN_FAILED, ERROR_FILE_NOT_FOUND);
        return FALSE;
    }
    return TRUE;
}

// The first rule that fits sets upgrade; upgrade starts at force.
static void ApplyRules(const ImageFile* entry, ImageState* state)
{
    const FileInfo* existing = &state->existing;
    const FileInfo* image = &state->image;
    if (!existing->exists) {
        if (entry->flags & IMG_NEED_EXISTING) {
            LOG("No existing file to compare, upgrade/operation *not* recommended");
        } else {
            LOG("No existing file to compare, upgrade/operation recommended");
            state->upgrade = 1;
        }
    } else if (!(entry->flags & IMG_NO_VERSION) && !existing->hasVersion && image->hasVersion) {
        LOG("Image file has version info, existing file does not.  Upgrade recommended");
        state->upgrade = 1;
    } else if (existing->hasVersion && image->hasVersion) {
        if (FileVersionOf(image) > FileVersionOf(existing)) {
            LOG("Image file has later version, upgrade recommended");
            state->upgrade = 1;
        }
    } else if (image->exists && WriteTimeOf(image) > WriteTimeOf(existing)) {
        LOG("Image file has later time/date stamp, upgrade recommended");
        state->upgrade = 1;
    }
}

static BOOL TakesPartInGroupCheck(const UpgradeContext* context, DWORD i)
{
    const ImageState* state = &context->states[i];
    return state->existing.exists && !state->upgrade && (context->images[i].flags & IMG_GROUP_CHECK);
}

// The entries by group: order holds every index, sorted by group and then
// by index, and start[i] is where entry i's group begins in it; done[]
// marks a group (by its start) that a rule has dealt with.
struct Groups {
    DWORD* order;
    DWORD* start;
    BYTE* done;
};

static const UpgradeContext* s_Sorting;

static int CompareByGroup(const void* a, const void* b)
{
    DWORD i = *(const DWORD*)a, j = *(const DWORD*)b;
    DWORD gi = s_Sorting->images[i].group, gj = s_Sorting->images[j].group;
    if (gi != gj)
        return gi < gj ? -1 : 1;
    return i < j ? -1 : i > j ? 1 : 0;
}

static BOOL SortGroups(const UpgradeContext* context, Groups* groups)
{
    DWORD count = context->count;
    groups->order = (DWORD*)g_Sys.HeapAlloc(GetProcessHeap(), 0, count * (2 * sizeof(DWORD) + 1) + 1);
    if (!groups->order) {
        LOG("Out of memory");
        STATUS(MSG_OUT_OF_MEMORY, 0);
        return FALSE;
    }
    groups->start = groups->order + count;
    groups->done = (BYTE*)(groups->start + count);
    for (DWORD i = 0; i < count; ++i)
        groups->order[i] = i;
    s_Sorting = context;
    qsort(groups->order, count, sizeof(DWORD), CompareByGroup);
    for (DWORD k = 0, first = 0; k < count; ++k) {
        if (context->images[groups->order[k]].group != context->images[groups->order[first]].group)
            first = k;
        groups->start[groups->order[k]] = first;
        groups->done[k] = 0;
    }
    return TRUE;
}

// The members of entry i's group, in index order: order[*from] up to
// order[*to - 1].
static void GroupOf(const UpgradeContext* context, const Groups* groups, DWORD i, DWORD* from, DWORD* to)
{
    *from = groups->start[i];
    DWORD group = context->images[i].group;
    for (*to = *from; *to < context->count && context->images[groups->order[*to]].group == group; ++*to)
        ;
}

// Installed members of one checked group whose versions differ are chosen
// together, even when no image is newer: a group must not stay mixed. The
// first member that takes part compares itself with every other; the
// members left unchosen then all have its version, so no later member of
// the group finds a difference: each group is compared once.
static void CheckGroupConsistency(UpgradeContext* context, Groups* groups)
{
    for (DWORD i = 0; i < context->count; ++i) {
        if (!TakesPartInGroupCheck(context, i) || groups->done[groups->start[i]])
            continue;
        groups->done[groups->start[i]] = 1;
        DWORD group = context->images[i].group;
        DWORD from, to;
        GroupOf(context, groups, i, &from, &to);
        for (DWORD k = from; k < to; ++k) {
            DWORD j = groups->order[k];
            if (!TakesPartInGroupCheck(context, j))
                continue;
            // A file without version information counts as version 0.
            if (FileVersionOf(&context->states[i].existing) != FileVersionOf(&context->states[j].existing)) {
                LOG("Group %ld file versions differ (%ld/%ld), upgrade recommended", (LONG)group, (LONG)i, (LONG)j);
                context->states[i].upgrade = 1;
                context->states[j].upgrade = 1;
            }
        }
    }
}

// A chosen entry takes every other entry of its group with it.
static void PropagateGroups(UpgradeContext* context, Groups* groups)
{
    for (DWORD k = 0; k < context->count; ++k)
        groups->done[k] = 0;
    for (DWORD i = 0; i < context->count; ++i) {
        if (!context->states[i].upgrade || groups->done[groups->start[i]])
            continue;
        groups->done[groups->start[i]] = 1;
        DWORD from, to;
        GroupOf(context, groups, i, &from, &to);
        for (DWORD k = from; k < to; ++k)
            context->states[groups->order[k]].upgrade = 1;
    }
}

BOOL DecideUpgrades(UpgradeContext* context, BOOL force)
{
    if (!g_Engine.engineReady) {
        LOG("Not initialized!");
        STATUS(MSG_INTERNAL_ERROR, 0);
        return FALSE;
    }
    RecordFile record = {FALSE, FALSE};
    for (DWORD i = 0; i < context->count; ++i) {
        ReportPassProgress(context, PROGRESS_DECIDE, i);
        const ImageFile* entry = &context->images[i];
        ImageState* state = &context->states[i];
        if (!IsImageApplicable(entry) || (entry->flags & (IMG_WORK_FILE | IMG_REGISTRY_SCRIPT | IMG_DIRECTORY)))
            continue;
        BOOL wantVersion = !(entry->flags & IMG_NO_VERSION);
        if (!GatherExistingInfo(entry, state, wantVersion, &record))
            return FALSE;
        if (!(entry->flags & IMG_NO_IMAGE) && !GatherImageInfo(entry, state, wantVersion))
            return FALSE;
        state->upgrade = force ? 1 : 0;
        ApplyRules(entry, state);
    }
    Groups groups;
    if (!SortGroups(context, &groups))
        return FALSE;
    CheckGroupConsistency(context, &groups);
    PropagateGroups(context, &groups);
    HeapFree(GetProcessHeap(), 0, groups.order);
    return TRUE;
}

BOOL AnyUpgrade(const UpgradeContext* context)
{
    for (DWORD i = 0; i < context->count; ++i)
        if (context->states[i].upgrade)
            return TRUE;
    return FALSE;
}
