// TLMRUNIN.EXE, the Telmura uninstaller, built from the installation
// library. It removes what the installer wrote and nothing else: the
// driver's service key (NT family), the driver build of the running family
// when it is Telmura's (its version resource names Vornak's Telmura), the
// product key, and, once all of that is gone, the uninstall entry and the
// uninstaller itself. The backup an upgrade made of the driver it replaced
// goes when it is an earlier Telmura; any other driver is put back in its
// place. A driver file that cannot be deleted or replaced now (a loaded
// driver) is at the next restart, and the running uninstaller is deleted
// then. After a failure the uninstall entry and the uninstaller stay, so
// the removal can be tried again.
//
// Unless /silent, it asks first, in the language the user chose in the
// wizard (English when none was stored or the system cannot show it), and
// says how it ended. Like the installer it runs only once at a time (the
// installer's instance mutex), keeps a log (TLMRUNIN.LOG in the temporary
// directory, kept after a failure or with /leavelog) and returns a status
// word as its exit code:
//   message id 1       removed
//   message id 2       removed; the driver goes at the next restart
//   2049               the user answered No
//   2051, 2052, 2055   already running, unsupported system, no administrator rights
//   any other          the first failure, as the installer reports it
// /leavestatus writes the completion record as the installer does.
#include <windows.h>
#include <string.h>

#include "install.h"
#include "language.h"
#include "log.h"
#include "ownfile.h"
#include "question.h"
#include "registry.h"
#include "syscalls.h"
#include "text.h"
#include "tlmrinst.h"
#include "upgrade.h"
#include "winmain.h"

// The uninstaller's own progress ids, where the installer has "installed"
// and "restart needed".
enum { MSG_REMOVED = MSG_INSTALLED, MSG_REMOVED_AT_RESTART = MSG_REBOOT_NEEDED };

enum { ON_95 = 1, ON_NT = 2, ON_ALL = ON_95 | ON_NT };

struct ProductFile {
    const char* name;
    DWORD dirId;
    DWORD families;
};

// The files the installer may have written, the uninstaller last.
static const ProductFile kDriverFiles[] = {
    {"dravelon.vxd", DIR_DRIVERS, ON_95},
    {"dravelon.sys", DIR_DRIVERS, ON_NT},
};
static const ProductFile kDriverBackup = {"dravelon.BAK", DIR_DRIVERS, ON_ALL};  // the driver an upgrade replaced
static const ProductFile kUninstaller = {"tlmrunin.exe", DIR_SYSTEM32, ON_ALL};

static LANGID s_Language = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
static char s_Caption[LOCAL_TEXT_SIZE];
static char s_Program[MAX_PATH];
static BOOL s_DeferredDriver;  // a driver file waits for the next restart

static DWORD RunningFamily(void)
{
    return g_System.is95Family ? ON_95 : (g_System.isNT || g_System.is2KXP) ? ON_NT : 0;
}

// The language stored by the wizard, when the system can show it.
static void ChooseLanguage(void)
{
    DWORD stored = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        DWORD type = 0, size = sizeof stored;
        if (RegQueryValueExA(key, "Language", NULL, &type, (BYTE*)&stored, &size) != ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof stored)
            stored = 0;
        RegCloseKey(key);
    }
    BuildLanguageList();
    for (int i = 0; i < g_Languages.count; ++i)
        if (stored && g_Languages.ids[i] == stored)
            s_Language = (LANGID)stored;
    LOG("Stored language 0x%04lX, asking in 0x%04lX", stored, (DWORD)s_Language);
    CopyText(s_Caption, LoadStringInLanguage(STR_PRODUCT_NAME, s_Language), sizeof s_Caption);
}

static int Show(const char* text, UINT style)
{
    return MessageBoxInLanguage(NULL, text, s_Caption, style, s_Language);
}

// Systems the installer installs on, and on the NT family only with
// administrator rights.
static BOOL Supported(void)
{
    DWORD family = RunningFamily();
    if (family == ON_NT && g_System.isOldShell) {
        LOG("Running on Windows NT 3.51 or earlier... Quitting.");
        STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
        return FALSE;
    }
    if (family == 0) {
        LOG("Neither a system of the 95 nor of the NT family... Quitting.");
        STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
        return FALSE;
    }
    if (family == ON_NT && !g_System.isAdmin) {
        LOG("The utility requires that the user be logged on as Administrator");
        STATUS(MSG_NOT_ADMIN, 0);
        return FALSE;
    }
    return TRUE;
}

// Only the answer No refuses.
static BOOL Confirmed(void)
{
    if (g_Options.silent ||
        Show(LoadStringInLanguage(STR_REMOVE_QUESTION, s_Language), MB_YESNO | MB_ICONQUESTION) != IDNO)
        return TRUE;
    LOG("User cancelled the removal");
    STATUS(MSG_CANCELLED, 0);
    return FALSE;
}

static BOOL ProductPath(const ProductFile& file, char* path)
{
    if (BuildInstallPath(path, file.name, file.dirId, NULL))
        return TRUE;
    LOG("Path of %s does not fit", file.name);
    STATUS(MSG_INTERNAL_ERROR, 0);
    return FALSE;
}

// Deletes one of the product's files now, or at the next restart when that
// fails or the file is the running program.
static BOOL RemoveFile(const ProductFile& file)
{
    char path[MAX_PATH];
    if (!ProductPath(file, path))
        return FALSE;
    if (!FileExists(path)) {
        LOG("%s is not there", path);
        return TRUE;
    }
    if (!SameFilePath(path, s_Program)) {
        const char* reason = NULL;
        switch (DeletePlainFile(path, TRUE, &reason)) {
        case PLAIN_DELETED:
            LOG("Deleted %s", path);
            return TRUE;
        case PLAIN_ABSENT:
            LOG("%s is not there", path);
            return TRUE;
        case PLAIN_REFUSED:
            // Not what the installer wrote: neither now nor at the restart.
            LOG("%s is %s, keeping it", path, reason);
            return TRUE;
        case PLAIN_FAILED:
            break;
        }
        LOG("DeleteFile %s 0x%08lX, deleting it at the next restart", path, GetLastError());
        s_DeferredDriver = TRUE;
    }
    return MoveImage(path, NULL, TRUE, FALSE);
}

// Whether path is there, and whether it is a build of Telmura, by its
// version resource (FALSE for a file that is not there); a file that cannot
// be read fails the run. What is no plain file of one name (a link planted
// at the name) counts as not there: it is neither read, put back nor deleted.
static BOOL TelmuraFacts(const char* path, BOOL* there, BOOL* telmura)
{
    *there = *telmura = FALSE;
    const char* reason = ForeignFileAt(path);
    if (reason) {
        LOG("%s is %s, keeping it", path, reason);
        return TRUE;
    }
    FileInfo info;
    VersionStrings strings;
    if (!GatherFileInfo(path, &info, TRUE, &strings))
        return FALSE;
    *there = info.exists;
    *telmura = info.hasVersion && AsciiCompareNoCase(strings.company, "Vornak") == 0 &&
               AsciiCompareNoCase(strings.product, "Telmura") == 0;
    return TRUE;
}

// Puts the driver an upgrade replaced back in the driver's place, at once
// or, when the driver cannot be replaced now (loaded), at the next restart.
static BOOL PutBackEarlierDriver(const char* backup, const char* driver)
{
    if (!ResetAttributes(driver))
        return FALSE;
    if (g_Sys.CopyFileA(backup, driver, FALSE)) {
        LOG("Put %s back as %s", backup, driver);
        return DeleteReported(backup, "DeleteFile %s 0x%08lX");
    }
    LOG("CopyFile %s to %s 0x%08lX, putting it back at the next restart", backup, driver, GetLastError());
    s_DeferredDriver = TRUE;
    return MoveImage(backup, driver, TRUE, FALSE);
}

// The driver of the running family and its backup. Telmura's driver is
// removed and an earlier driver of another maker put back in its place; a
// driver that is not Telmura's stays, and so does another maker's backup
// beside it; an earlier Telmura's backup goes.
static BOOL RemoveDriver(const ProductFile& file)
{
    if (!(file.families & RunningFamily()))
        return TRUE;
    char driver[MAX_PATH];
    char backup[MAX_PATH];
    BOOL driverThere = FALSE, driverOurs = FALSE, backupThere = FALSE, backupOurs = FALSE;
    if (!ProductPath(file, driver) || !ProductPath(kDriverBackup, backup) ||
        !TelmuraFacts(driver, &driverThere, &driverOurs) || !TelmuraFacts(backup, &backupThere, &backupOurs))
        return FALSE;
    if (driverThere && !driverOurs)
        LOG("%s is not Telmura, keeping it", driver);
    if (backupThere && !backupOurs) {
        if (!driverThere || driverOurs)
            return PutBackEarlierDriver(backup, driver);
        LOG("Keeping %s beside it", backup);
        return TRUE;
    }
    BOOL removed = !driverOurs || RemoveFile(file);
    return (!backupThere || RemoveFile(kDriverBackup)) && removed;
}

// The maker's key goes with the product key when nothing else is left in it.
static void RemoveEmptyMakerKey(void)
{
    HKEY key;
    if (g_Sys.RegOpenKeyExA(HKEY_LOCAL_MACHINE, kMakerKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;
    DWORD subkeys = 1, values = 1;
    LONG result = g_Sys.RegQueryInfoKeyA(key, NULL, NULL, NULL, &subkeys, NULL, NULL, &values, NULL, NULL, NULL,
                                         NULL);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS && subkeys == 0 && values == 0 &&
        g_Sys.RegDeleteKeyA(HKEY_LOCAL_MACHINE, kMakerKey) == ERROR_SUCCESS)
        LOG("Deleted empty registry key %s", kMakerKey);
}

static void RemoveProduct(void*)
{
    BOOL removed = RunningFamily() != ON_NT || RemoveKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
    for (const ProductFile& file : kDriverFiles)
        removed = RemoveDriver(file) && removed;
    removed = RemoveKeyTree(HKEY_LOCAL_MACHINE, kProductKey) && removed;
    if (!removed) {
        LOG("Keeping the uninstall entry and the uninstaller for another try");
        return;
    }
    RemoveEmptyMakerKey();
    if (RemoveKeyTree(HKEY_LOCAL_MACHINE, kUninstallKey) && RemoveFile(kUninstaller))
        STATUS(s_DeferredDriver ? MSG_REMOVED_AT_RESTART : MSG_REMOVED, 0);
}

// The last word of a visual run: removed, removed until the restart, or the
// failure with its four-part code. A cancelled run has said enough.
static void ShowOutcome(void)
{
    DWORD word = g_Status.word;
    DWORD message = STATUS_MESSAGE(word);
    if (message == MSG_CANCELLED)
        return;
    if (!STATUS_FAILED(word)) {
        Show(LoadStringInLanguage(message == MSG_REMOVED_AT_RESTART ? STR_REMOVED_AT_RESTART : STR_REMOVED, s_Language),
             MB_OK | MB_ICONINFORMATION);
        return;
    }
    // The installer's text for missing rights speaks of the setup wizard.
    UINT textId = message == MSG_NOT_ADMIN ? (UINT)STR_REMOVE_NEEDS_ADMIN : message;
    char failure[LOCAL_TEXT_SIZE];
    CopyText(failure, LoadStringInLanguage(textId, s_Language), sizeof failure);
    if (!failure[0])
        CopyText(failure, LoadStringInLanguage(MSG_INTERNAL_ERROR, s_Language), sizeof failure);
    char text[2 * LOCAL_TEXT_SIZE + 64];
    wsprintfA(text, LoadStringInLanguage(STR_REMOVE_FAILED, s_Language), failure, message, STATUS_MODULE(word),
              STATUS_LINE(word), g_Status.qualifier);
    Show(text, MB_OK | MB_ICONEXCLAMATION);
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
    LOG("Removing Vornak Telmura, %s", g_Options.silent ? "silent" : "visual");
    if (!g_Options.silent)
        ChooseLanguage();

    if (Supported() && Confirmed())
        RunRemovalGuarded(RemoveProduct);
    if (!g_Options.silent)
        ShowOutcome();
    return EndProgram(mutex);
}
