// UNINSTAL.EXE, the generic setup's uninstaller, which the setup puts in the
// product's target folder and names in the product's uninstall entry. It
// finds that entry by its own path, and removes exactly what the entry's
// install record lists (record.h): a file only while its facts (size, write
// time, version) are those the setup installed, so a file that changed or
// that another program put there since stays, and is logged; the file the
// setup replaced is put back from its backup; the registry keys the product's
// registry script created go with everything below them; the folders the
// setup created go when they are empty. A file that cannot be deleted now
// (in use) goes at the next restart, and its backup is put back then; the
// uninstaller itself, and the folders it keeps from being empty, go at the
// next restart too (folders on the NT family only: the 95 family's restart
// work cannot remove a folder). The uninstall entry goes last; after a
// failure it stays, with the uninstaller, so the removal can be tried again.
//
// Unless /silent it asks first and says how it ended. It keeps a log
// (UNINSTAL.LOG in the temporary directory, kept after a failure or with
// /leavelog) and returns a status word as its exit code:
//   message id 1       removed
//   message id 2       removed; some files go at the next restart
//   2049               the user answered No
//   2051, 2052, 2055   already running, unsupported system, no administrator rights
//   2081               no uninstall entry names this uninstaller
//   any other          the first failure, as the setup reports it
#include <windows.h>
#include <string.h>

#include "install.h"
#include "log.h"
#include "ownfile.h"
#include "record.h"
#include "registry.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"
#include "winmain.h"

enum { MSG_REMOVED = MSG_INSTALLED, MSG_REMOVED_AT_RESTART = MSG_REBOOT_NEEDED };

static const char kUninstallKey[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// What became of the file of an F line.
enum Outcome : BYTE { FILE_GONE, FILE_AT_RESTART, FILE_KEPT };

static char s_Program[MAX_PATH];
static char s_Entry[MAX_PATH + 64];  // the uninstall entry's key
static char s_Name[MAX_PATH];        // its display name
static char* s_Record;               // the record's lines (process heap)
static DWORD s_Size;
static BOOL s_Deferred;  // a product file waits for the next restart

static BOOL ReadText(HKEY key, const char* name, char* text, DWORD size)
{
    DWORD type = 0;
    DWORD length = size - 1;
    if (g_Sys.RegQueryValueExA(key, name, NULL, &type, (BYTE*)text, &length) != ERROR_SUCCESS || type != REG_SZ)
        return FALSE;
    text[length] = 0;
    return TRUE;
}

// Whether the entry named subkey is this uninstaller's; its record is read then.
static BOOL ReadEntry(const char* subkey)
{
    char name[MAX_PATH + 64];
    if (!CopyText(name, kUninstallKey, sizeof name) || !AppendText(name, "\\", sizeof name) ||
        !AppendText(name, subkey, sizeof name))
        return FALSE;
    HKEY key;
    if (g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return FALSE;
    char command[MAX_PATH + 2];
    BOOL ours = ReadText(key, "UninstallString", command, sizeof command) && command[0] == '"' &&
                command[lstrlenA(command) - 1] == '"';
    if (ours) {
        command[lstrlenA(command) - 1] = 0;
        ours = SameFilePath(command + 1, s_Program);
    }
    DWORD type = 0, size = 0;
    if (ours && (g_Sys.RegQueryValueExA(key, RECORD_VALUE, NULL, &type, NULL, &size) != ERROR_SUCCESS ||
                 type != REG_MULTI_SZ))
        ours = FALSE;
    if (ours) {
        s_Record = (char*)g_Sys.HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size + 2);
        ours = s_Record && g_Sys.RegQueryValueExA(key, RECORD_VALUE, NULL, &type, (BYTE*)s_Record, &size) ==
                               ERROR_SUCCESS;
        s_Size = size;
        if (!ReadText(key, "DisplayName", s_Name, sizeof s_Name))
            CopyText(s_Name, subkey, sizeof s_Name);
    }
    RegCloseKey(key);
    return ours && CopyText(s_Entry, name, sizeof s_Entry);
}

static BOOL FindEntry(void)
{
    HKEY list;
    if (g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ, &list) == ERROR_SUCCESS) {
        char subkey[MAX_PATH];
        for (DWORD i = 0; !s_Entry[0] && RegEnumKeyA(list, i, subkey, sizeof subkey) == ERROR_SUCCESS; ++i)
            ReadEntry(subkey);
        RegCloseKey(list);
    }
    if (s_Entry[0]) {
        LOG("Uninstall entry %s, install record %lu bytes", s_Entry, s_Size);
        return TRUE;
    }
    LOG("No uninstall entry names %s", s_Program);
    STATUS(MSG_KEY_OPEN_FAILED, ERROR_FILE_NOT_FOUND);
    return FALSE;
}

static BOOL Supported(void)
{
    if ((g_System.isNT || g_System.is2KXP) && g_System.isOldShell) {
        LOG("Running on Windows NT 3.51 or earlier... Quitting.");
        STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
        return FALSE;
    }
    if (!g_System.is95Family && !g_System.isNT && !g_System.is2KXP) {
        STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
        return FALSE;
    }
    if (!g_System.is95Family && !g_System.isAdmin) {
        LOG("The utility requires that the user be logged on as Administrator");
        STATUS(MSG_NOT_ADMIN, 0);
        return FALSE;
    }
    return TRUE;
}

static BOOL Confirmed(void)
{
    char question[MAX_PATH + 64];
    wsprintfA(question, "Remove %s and all of its components?", s_Name);
    if (g_Options.silent || MessageBoxA(NULL, question, s_Name, MB_YESNO | MB_ICONQUESTION) != IDNO)
        return TRUE;
    LOG("User cancelled the removal");
    STATUS(MSG_CANCELLED, 0);
    return FALSE;
}

// Deletes the file of one F line when it is what the setup installed.
static BOOL RemoveFile(const char* line, Outcome* outcome)
{
    RecordFacts recorded, found;
    const char* path = NULL;
    *outcome = FILE_KEPT;
    if (!ParseFileLine(line, &recorded, &path))
        return TRUE;
    const char* reason = ForeignFileAt(path);
    if (reason) {
        LOG("%s is %s, keeping it", path, reason);
        return TRUE;
    }
    FileInfo info;
    if (!GatherFileInfo(path, &info, TRUE))
        return FALSE;
    FactsOf(&info, &found);
    if (!info.exists) {
        LOG("%s is not there", path);
        *outcome = FILE_GONE;
        return TRUE;
    }
    if (!SameFacts(&recorded, &found)) {
        LOG("%s is not the file that was installed, keeping it", path);
        return TRUE;
    }
    switch (DeletePlainFile(path, TRUE, &reason)) {
    case PLAIN_DELETED:
        LOG("Deleted %s", path);
        *outcome = FILE_GONE;
        return TRUE;
    case PLAIN_ABSENT:
        *outcome = FILE_GONE;
        return TRUE;
    case PLAIN_REFUSED:
        LOG("%s is %s, keeping it", path, reason);
        return TRUE;
    case PLAIN_FAILED:
        break;
    }
    LOG("DeleteFile %s 0x%08lX, deleting it at the next restart", path, GetLastError());
    s_Deferred = TRUE;
    *outcome = FILE_AT_RESTART;
    return MoveImage(path, NULL, TRUE, FALSE);
}

// What became of the installed file at target: gone when no F line names it
// and nothing is there.
static Outcome OutcomeOf(const char* target, const Outcome* outcomes)
{
    DWORD index = 0;
    for (const char* line = s_Record; *line; line += strlen(line) + 1, ++index) {
        const char* path = RecordPath(line, 'F', NULL);
        if (path && AsciiCompareNoCase(path, target) == 0)
            return outcomes[index];
    }
    return FileExists(target) ? FILE_KEPT : FILE_GONE;
}

// Puts back the file a B line names from its backup: now, or at the next
// restart when the product's file goes then; not over a file that stays.
static BOOL PutBack(const char* target, Outcome outcome)
{
    char backup[MAX_PATH];
    if (!CopyText(backup, target, MAX_PATH - 4) || !AppendText(backup, ".BAK", sizeof backup))
        return TRUE;
    const char* reason = ForeignFileAt(backup);
    if (reason) {
        LOG("%s is %s, keeping it", backup, reason);
        return TRUE;
    }
    if (!FileExists(backup)) {
        LOG("%s is not there", backup);
        return TRUE;
    }
    if (outcome == FILE_KEPT) {
        LOG("Keeping %s beside %s", backup, target);
        return TRUE;
    }
    if (outcome == FILE_GONE && g_Sys.MoveFileA(backup, target)) {
        LOG("Put %s back as %s", backup, target);
        return TRUE;
    }
    LOG("Putting %s back as %s at the next restart", backup, target);
    s_Deferred = TRUE;
    return MoveImage(backup, target, TRUE, FALSE);
}

static HKEY RootOf(DWORD value)
{
    static const HKEY kRoots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER, HKEY_CLASSES_ROOT};
    for (HKEY root : kRoots)
        if ((DWORD)(ULONG_PTR)root == value)
            return root;
    return NULL;
}

// The folders the setup made, deepest (last made) first. One that holds the
// uninstaller goes at the next restart after it, where the system can.
static void RemoveFolders(void)
{
    const char* folders[256];
    DWORD count = 0;
    for (const char* line = s_Record; *line && count < 256; line += strlen(line) + 1)
        if (RecordPath(line, 'D', NULL))
            folders[count++] = RecordPath(line, 'D', NULL);
    while (count > 0) {
        const char* folder = folders[--count];
        if (RemoveDirectoryA(folder)) {
            LOG("Removed directory %s", folder);
            continue;
        }
        DWORD error = GetLastError();
        DWORD length = (DWORD)strlen(folder);
        BOOL holdsUs = strlen(s_Program) > length && s_Program[length] == '\\' &&
                       CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, folder, length, s_Program, length) == 2;
        if (holdsUs && !g_System.is95Family && g_Sys.MoveFileExA(folder, NULL, MOVEFILE_DELAY_UNTIL_REBOOT))
            LOG("Removing directory %s at the next restart", folder);
        else if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND)
            LOG("Keeping directory %s 0x%08lX", folder, error);
    }
}

// A setup run again before the restart puts a new uninstaller at this name,
// which the restart must not delete: the running uninstaller moves aside to
// a new name first where the system lets a running program be renamed, and
// that name goes at the restart.
static BOOL DeleteSelfAtRestart(void)
{
    char folder[MAX_PATH];
    char aside[MAX_PATH];
    const char* doomed = s_Program;
    CopyText(folder, s_Program, DirectoryLength(s_Program) + 1);
    if (GetTempFileNameA(folder, "UNI", 0, aside)) {
        g_Sys.DeleteFileA(aside);
        if (g_Sys.MoveFileA(s_Program, aside))
            doomed = aside;
    }
    LOG("Deleting %s at the next restart", doomed);
    return MoveImage(doomed, NULL, TRUE, FALSE);
}

static void RemoveProduct(void*)
{
    DWORD lines = 0;
    for (const char* line = s_Record; *line; line += strlen(line) + 1)
        ++lines;
    Outcome* outcomes = (Outcome*)g_Sys.HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, lines + 1);
    if (!outcomes) {
        LOG("Out of memory");
        STATUS(MSG_OUT_OF_MEMORY, 0);
        return;
    }
    BOOL removed = TRUE;
    DWORD index = 0;
    for (const char* line = s_Record; *line; line += strlen(line) + 1, ++index)
        if (line[0] == 'F')
            removed = RemoveFile(line, &outcomes[index]) && removed;
    for (const char* line = s_Record; *line; line += strlen(line) + 1) {
        const char* target = RecordPath(line, 'B', NULL);
        if (target)
            removed = PutBack(target, OutcomeOf(target, outcomes)) && removed;
    }
    for (const char* line = s_Record; *line; line += strlen(line) + 1) {
        DWORD root = 0;
        const char* key = RecordPath(line, 'K', &root);
        if (key && RootOf(root))
            removed = RemoveKeyTree(RootOf(root), key) && removed;
    }
    HeapFree(GetProcessHeap(), 0, outcomes);
    if (!removed) {
        LOG("Keeping the uninstall entry and the uninstaller for another try");
        return;
    }
    if (!DeleteSelfAtRestart())
        return;
    RemoveFolders();
    if (RemoveKeyTree(HKEY_LOCAL_MACHINE, s_Entry))
        STATUS(s_Deferred ? MSG_REMOVED_AT_RESTART : MSG_REMOVED, 0);
}

static void ShowOutcome(void)
{
    DWORD word = g_Status.word;
    DWORD message = STATUS_MESSAGE(word);
    if (message == MSG_CANCELLED)
        return;
    char text[MAX_PATH + 128];
    if (!STATUS_FAILED(word))
        wsprintfA(text, message == MSG_REMOVED_AT_RESTART
                            ? "%s was removed. Some of its files are removed when Windows restarts."
                            : "%s was removed.",
                  s_Name);
    else if (!s_Entry[0])
        wsprintfA(text, "No program in the list of installed programs names this uninstaller (error %lu).", message);
    else
        wsprintfA(text, "%s could not be removed completely (error %lu-%lu-%lu-0x%08lX).", s_Name, message,
                  STATUS_MODULE(word), STATUS_LINE(word), g_Status.qualifier);
    MessageBoxA(NULL, text, s_Name, MB_OK | (STATUS_FAILED(word) ? MB_ICONEXCLAMATION : MB_ICONINFORMATION));
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    HANDLE mutex = BeginProgram(instance, commandLine);
    if (!mutex)
        return (int)g_Status.word;
    DWORD length = GetModuleFileNameA(NULL, s_Program, MAX_PATH);
    s_Program[length < MAX_PATH ? length : 0] = 0;
    OpenLog(NULL);
    ProbeSystem();
    SetupDirectories("");
    LOG("Removing the product of %s, %s", s_Program, g_Options.silent ? "silent" : "visual");
    if (Supported() && FindEntry() && Confirmed())
        RunRemovalGuarded(RemoveProduct);
    if (!s_Name[0])
        CopyText(s_Name, "Uninstall", sizeof s_Name);
    if (!g_Options.silent)
        ShowOutcome();
    return EndProgram(mutex);
}
