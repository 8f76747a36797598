// The install record as a run of the setup extends it. Each run starts from
// the record of the runs before it and changes only what it did itself:
// a file it put in place gets its new facts; the file it replaced is kept
// as its backup, and the record says whether that backup was the product's
// own earlier file (removed with the product) or what was there before the
// product (put back); folders it made and keys its registry script made are
// added. The record is written only once the run has succeeded, after the
// uninstall entry, so a run rolled back leaves the record of the runs
// before it as it was.
#include "record.h"

#include <string.h>

#include "hooks.h"
#include "install.h"
#include "log.h"
#include "product.h"
#include "registry.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"

// The record as lines of a REG_MULTI_SZ value: every line ends in a zero,
// and a zero more ends the list.
enum { RECORD_CAPACITY = 96 * 1024 };
static char* s_Record;
static DWORD s_Used;             // the lines' bytes, without the final zero
static BOOL s_EntryExisted;      // an earlier run made the uninstall entry
static BOOL s_FreshUninstaller;  // this run put the first uninstaller in place

static BOOL AddLine(const char* line)
{
    DWORD length = (DWORD)strlen(line) + 1;
    if (s_Used + length + 1 > RECORD_CAPACITY) {
        LOG("The install record is full at %s", line);
        STATUS(MSG_OUT_OF_MEMORY, 0);
        return FALSE;
    }
    memcpy(s_Record + s_Used, line, length);
    s_Used += length;
    s_Record[s_Used] = 0;
    return TRUE;
}

// The first line of kind for path (without regard to case), or NULL.
static char* FindLine(char kind, const char* path)
{
    for (char* line = s_Record; line < s_Record + s_Used; line += strlen(line) + 1) {
        const char* named = RecordPath(line, kind, NULL);
        if (named && AsciiCompareNoCase(named, path) == 0)
            return line;
    }
    return NULL;
}

static void DropLines(char kind, const char* path)
{
    for (char* line; (line = FindLine(kind, path)) != NULL;) {
        DWORD length = (DWORD)strlen(line) + 1;
        memmove(line, line + length, s_Record + s_Used + 1 - (line + length));
        s_Used -= length;
    }
}

static BOOL AddPathLine(char kind, const char* path)
{
    char line[RECORD_LINE_SIZE];
    if (FindLine(kind, path))
        return TRUE;
    wsprintfA(line, "%c|", kind);
    return CopyText(line + 2, path, MAX_PATH) && AddLine(line);
}

static void NoteCreatedKey(HKEY root, const char* path)
{
    char line[RECORD_LINE_SIZE];
    wsprintfA(line, "K|%08lX|", (DWORD)(ULONG_PTR)root);
    if (!AppendText(line, path, sizeof line))
        return;
    for (const char* p = s_Record; p < s_Record + s_Used; p += strlen(p) + 1)
        if (AsciiCompareNoCase(p, line) == 0)
            return;
    AddLine(line);
}

static BOOL OpenEntry(HKEY* key, REGSAM access, BOOL create)
{
    char name[MAX_PATH + 64];
    if (!UninstallKeyName(name, sizeof name))
        return FALSE;
    if (create)
        return g_Sys.RegCreateKeyExA(HKEY_LOCAL_MACHINE, name, 0, NULL, REG_OPTION_NON_VOLATILE, access, NULL, key,
                                     NULL) == ERROR_SUCCESS;
    return g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, access, key) == ERROR_SUCCESS;
}

BOOL UninstallerPath(char* path)
{
    return BuildEnginePath(path, DESC_UNINSTALLER_NAME, DIR_TARGET, NULL);
}

// The uninstaller travels in the setup's own image (a resource): it is
// written to a new temporary file in the target folder and renamed over an
// earlier run's. s_FreshUninstaller tells whether there was none before.
static BOOL PlaceUninstaller(const char* path)
{
    HRSRC resource = FindResourceA(NULL, "UNINSTALLER", RT_RCDATA);
    HGLOBAL loaded = resource ? LoadResource(NULL, resource) : NULL;
    const void* bytes = loaded ? LockResource(loaded) : NULL;
    DWORD size = resource ? SizeofResource(NULL, resource) : 0;
    if (!bytes || !size) {
        LOG("The uninstaller is missing from the setup 0x%08lX", GetLastError());
        STATUS(MSG_INTERNAL_ERROR, GetLastError());
        return FALSE;
    }
    char temp[MAX_PATH];
    if (!MakeTempFile(GetInstallDir(DIR_TARGET), temp))
        return FALSE;
    HANDLE file = g_Sys.CreateFileA(temp, GENERIC_WRITE, 0, NULL, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    DWORD written = 0;
    BOOL done = file != INVALID_HANDLE_VALUE && g_Sys.WriteFile(file, bytes, size, &written, NULL) && written == size;
    DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE && !g_Sys.CloseHandle(file) && done) {
        done = FALSE;
        error = GetLastError();
    }
    if (!done) {
        LOG("WriteFile %s 0x%08lX", temp, error);
        STATUS(MSG_WRITE_FAILED, error);
        g_Sys.DeleteFileA(temp);
        return FALSE;
    }
    BOOL exists = FALSE;
    BOOL looked = LookForFile(path, &exists, NULL);
    s_FreshUninstaller = looked && !exists;
    if (!looked || (exists && !ResetAttributes(path)) ||
        (exists && !DeleteReported(path, "DeleteFile %s 0x%08lX")) || !RenameReported(temp, path)) {
        g_Sys.DeleteFileA(temp);
        return FALSE;
    }
    LOG("Placed the uninstaller %s", path);
    return TRUE;
}

BOOL StartInstallRecord(void)
{
    if (!s_Record)
        s_Record = (char*)AllocateZeroed(RECORD_CAPACITY);
    if (!s_Record)
        return FALSE;
    s_Used = 0;
    s_Record[0] = 0;
    HKEY key;
    s_EntryExisted = OpenEntry(&key, KEY_QUERY_VALUE, FALSE);
    if (s_EntryExisted) {
        DWORD type = 0, size = RECORD_CAPACITY - 2;
        LONG result = g_Sys.RegQueryValueExA(key, RECORD_VALUE, NULL, &type, (BYTE*)s_Record, &size);
        RegCloseKey(key);
        // Starting afresh would forget what the earlier runs installed.
        if (result == ERROR_MORE_DATA) {
            LOG("The install record of earlier runs is larger than %lu bytes", (DWORD)RECORD_CAPACITY);
            STATUS(MSG_OUT_OF_MEMORY, 0);
            return FALSE;
        }
        if (result == ERROR_SUCCESS && type == REG_MULTI_SZ) {
            // A list that lacks its final zeros gets them; an empty line ends it.
            s_Record[size] = s_Record[size + 1] = 0;
            while (s_Used < size && s_Record[s_Used])
                s_Used += (DWORD)strlen(s_Record + s_Used) + 1;
            s_Record[s_Used] = 0;
        }
    }
    LOG("Install record of earlier runs: %lu bytes", s_Used);
    char uninstaller[MAX_PATH];
    if (!UninstallerPath(uninstaller) || !PlaceUninstaller(uninstaller))
        return FALSE;
    g_KeyCreated = NoteCreatedKey;
    return TRUE;
}

void UndoInstallRecord(void)
{
    char path[MAX_PATH + 64];
    if (s_FreshUninstaller && UninstallerPath(path) && g_Sys.DeleteFileA(path))
        LOG("Deleted %s", path);
    s_FreshUninstaller = FALSE;
    if (s_Record && !s_EntryExisted && UninstallKeyName(path, sizeof path) && DeleteKeyTree(HKEY_LOCAL_MACHINE, path))
        LOG("Deleted registry key %s", path);
}

// What one placed file changes: the file's own line, and its backup's.
static BOOL RecordPlacedFile(const ImageFile* entry, const ImageState* state)
{
    char target[MAX_PATH];
    char backup[MAX_PATH];
    char line[RECORD_LINE_SIZE];
    if (!BuildEnginePath(target, entry->targetName, entry->dirId, NULL) ||
        !BuildEnginePath(backup, entry->backupName, entry->dirId, ".BAK"))
        return FALSE;
    RecordFacts earlier;
    const char* path = NULL;
    char* found = FindLine('F', target);
    BOOL ours = found && ParseFileLine(found, &earlier, &path);
    if (BacksUpTarget(entry, state)) {
        // This run's backup took the place of any earlier one.
        DropLines('F', backup);
        DropLines('B', target);
        RecordFacts replaced;
        FactsOf(&state->existing, &replaced);
        if (ours && SameFacts(&earlier, &replaced)) {
            if (!FormatFileLine(line, &earlier, backup) || !AddLine(line))
                return FALSE;
        } else if (!AddPathLine('B', target)) {
            return FALSE;
        }
    }
    DropLines('F', target);
    RecordFacts facts;
    FactsOf(&state->image, &facts);
    return FormatFileLine(line, &facts, target) && AddLine(line);
}

BOOL FinishInstallRecord(UpgradeContext* context)
{
    g_KeyCreated = NULL;
    for (DWORD i = 0; i < context->count; ++i) {
        const ImageFile* entry = &context->images[i];
        const ImageState* state = &context->states[i];
        if (!(entry->flags & IMG_REGISTRY_SCRIPT) && IsImageApplicable(entry) && state->installed &&
            state->image.exists && !RecordPlacedFile(entry, state))
            return FALSE;
    }
    for (DWORD i = 0; MadeFolder(i); ++i)
        if (!AddPathLine('D', MadeFolder(i)))
            return FALSE;
    LONG result = RegisterUninstaller();
    HKEY key;
    if (result == ERROR_SUCCESS && !OpenEntry(&key, KEY_SET_VALUE, TRUE))
        result = ERROR_FILE_NOT_FOUND;
    if (result == ERROR_SUCCESS) {
        result = g_Sys.RegSetValueExA(key, RECORD_VALUE, 0, REG_MULTI_SZ, (const BYTE*)s_Record, s_Used + 1);
        RegCloseKey(key);
    }
    if (result != ERROR_SUCCESS) {
        LOG("Uninstall entry %s 0x%08lX", g_Product->uninstallName, (DWORD)result);
        STATUS(MSG_KEY_CREATE_FAILED, (DWORD)result);
        return FALSE;
    }
    LOG("Install record: %lu bytes", s_Used);
    return TRUE;
}
