// The entry point: options, the instance guard, the guarded sequence of
// product hooks, the install sequence and the restart decision; and the
// removal of the shell's cached information about the installer's CD-ROM.
#include "winmain.h"

#include <string.h>

#include "hooks.h"
#include "install.h"
#include "log.h"
#include "sehguard.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"

InstallerOptions g_Options;
HINSTANCE g_Instance;

struct OptionKeyword {
    const char* keyword;
    BOOL* flag;
};

static const OptionKeyword kOptions[] = {
    {"SILENT", &g_Options.silent},         {"FORCE", &g_Options.force},
    {"LEAVELOG", &g_Options.leaveLog},     {"LEAVESTATUS", &g_Options.leaveStatus},
    {"NOREBOOT", &g_Options.noReboot},     {"AUTORUN", &g_Options.autorun},
};

void ParseOptions(char* commandLine)
{
    if (!commandLine)
        return;
    AsciiUpperCase(commandLine);
    for (DWORD i = 0; i < sizeof kOptions / sizeof kOptions[0]; ++i)
        if (strstr(commandLine, kOptions[i].keyword))
            *kOptions[i].flag = TRUE;
}

void LogOptions(void)
{
    LOG("%s %s install, %s logfile on completion, %s reboots. %s launched",
        g_Options.force ? "Forced" : "Unforced", g_Options.silent ? "silent" : "visual",
        g_Options.leaveLog ? "leave" : "delete", g_Options.noReboot ? "don't allow" : "allow",
        g_Options.autorun ? "autorun" : "not autorun");
}

static void GuardedHooks(void*)
{
    if (!g_Options.silent && !ProductStartup())
        return;
    if (ProductPrecheck() && InitEnvironment(ProductTargetDir())) {
        if (g_Options.silent) {
            if (ProductSilentAllowed())
                RunInstallSequence(ProductUpgradeContext());
        } else {
            ProductInteractive();
        }
        ShutdownEnvironment();
    }
    if (!g_Options.silent)
        ProductFinish();
}

void RunGuardedSequence(void)
{
    DWORD code = 0;
    if (RunGuarded(GuardedHooks, NULL, &code))
        return;
    // The position of the last logging or status call before the fault.
    char file[MAX_PATH];
    CopyText(file, g_Trace.file ? g_Trace.file : "", sizeof file);
    LONG line = g_Trace.line;
    LOG("!!! EXCEPTION EXCEPTION EXCEPTION !!!");
    LOG("WinMain exception code 0x%08lX", code);
    LOG("Last know position in %s, line %ld", file, line);
    STATUS(MSG_INTERNAL_ERROR, code);
}

// The 95 family may end the process before the log is closed, so the log
// is closed first. A log this run would delete stays until the restart
// request has been accepted: a refused request is a failed run, which keeps
// its log, reopened for the final status.
BOOL RebootWithLogClosed(void)
{
    BOOL wasOpen = g_Log.handle != NULL;
    BOOL deleteLog = !g_Options.leaveLog && !g_Log.preExisting;
    // A log whose close failed is not deleted (CloseLog's own rule).
    deleteLog = CloseLog(TRUE) && deleteLog;
    if (ForceReboot()) {
        if (deleteLog)
            DeleteFileA(g_Log.path);
        return TRUE;
    }
    if (wasOpen)
        OpenLog(g_Log.path);
    return FALSE;
}

static void RebootPre95(void)
{
    LOG("Pre95 reboot status 0x%08lX qualifier 0x%08lX", g_Status.word, g_Status.qualifier);
    LOG("Final status will not be logged because of reboot");
    RebootWithLogClosed();
}

void DecideRestart(void)
{
    if (STATUS_MESSAGE(g_Status.word) != MSG_REBOOT_NEEDED)
        return;
    LOG("Finished, files upgraded and reboot needed");
    if (g_Options.silent) {
        RegisterUninstaller();
        LOG("Reboot supressed, silent install");
    } else if (g_Options.noReboot) {
        LOG("Reboot supressed, user requested no reboot");
    } else {
        STATUS(MSG_REBOOTING, 0);
        if (g_System.is95Family)
            RebootPre95();
        else
            ForceReboot();
    }
}

BOOL RunInstallSequence(UpgradeContext* context)
{
    BOOL force = g_Options.force;
    if (!CreateImages(context) || !DecideUpgrades(context, force) || !ProductBeforeInstall()) {
        CleanupImages(context, TRUE);
        return FALSE;
    }
    BOOL done = (!force && !ProductHasUpgrades(context)) || InstallImages(context);
    if (done)
        done = (!force && !ProductWantsRegistry(context)) || RunRegistryScript(context);
    if (done) {
        ProductAfterInstall(context);
        RemoveCachedVolumeInfo();
    }
    if (STATUS_FAILED(g_Status.word)) {
        CleanupImages(context, TRUE);
        return FALSE;
    }
    CleanupImages(context, context->installStarted == 0);
    return TRUE;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int)
{
    ParseOptions(commandLine);
    STATUS(MSG_STARTED, 0);

    HANDLE mutex = CreateMutexA(NULL, FALSE, "RiRoZi32 UPGRADE RiRoZi32");
    if (!mutex || WaitForSingleObject(mutex, 0) == WAIT_TIMEOUT) {
        STATUS(MSG_ALREADY_RUNNING, 0);
        if (mutex)
            CloseHandle(mutex);
        return (int)g_Status.word;
    }
    g_Instance = instance;
    OpenLog(NULL);
    ProbeSystem();
    SetupDirectories(ProductTargetDir());
    LogOptions();

    RunGuardedSequence();
    DecideRestart();

    LOG("Final Status 0x%08lX Qualifier 0x%08lX", g_Status.word, g_Status.qualifier);
    BOOL failed = STATUS_FAILED(g_Status.word) && STATUS_MESSAGE(g_Status.word) != MSG_CANCELLED;
    CloseLog(failed ? TRUE : g_Options.leaveLog);
    ReleaseMutex(mutex);
    CloseHandle(mutex);
    return (int)g_Status.word;
}

// ---------------------------------------------------------------- cached volume information

// Under HKEY_CURRENT_USER; the drive letter and "\Shell" or "\_GVI" follow.
static const char kMountPoints[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints\\";

BOOL DeleteKeyTree(HKEY root, const char* path)
{
    HKEY key;
    if (g_Sys.RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS)
        return FALSE;
    char className[128];
    DWORD classLength = sizeof className;
    DWORD subkeys = 0, longest = 0;
    if (g_Sys.RegQueryInfoKeyA(key, className, &classLength, NULL, &subkeys, &longest, NULL, NULL, NULL, NULL,
                               NULL, NULL) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return FALSE;
    }
    if (subkeys == 0) {
        RegCloseKey(key);
        g_Sys.RegDeleteKeyA(root, path);
        return TRUE;
    }

    HANDLE heap = GetProcessHeap();
    DWORD nameSize = longest + 1;
    DWORD pathSize = longest + (DWORD)strlen(path) + 2;
    char* name = (char*)g_Sys.HeapAlloc(heap, 0, nameSize);
    char* subpath = (char*)g_Sys.HeapAlloc(heap, 0, pathSize);
    BOOL deleted = name && subpath;
    // From the last subkey down, so a deletion shifts none still to come.
    for (DWORD i = subkeys; deleted && i > 0; --i) {
        DWORD length = nameSize;
        // A name that could not be read whole is no name: part of it could
        // name another key.
        if (g_Sys.RegEnumKeyExA(key, i - 1, name, &length, NULL, NULL, NULL, NULL) != ERROR_SUCCESS)
            name[0] = 0;
        if (!name[0]) {
            deleted = FALSE;
            break;
        }
        CopyText(subpath, path, pathSize);
        AppendText(subpath, "\\", pathSize);
        AppendText(subpath, name, pathSize);
        deleted = DeleteKeyTree(root, subpath);
    }
    RegCloseKey(key);
    if (deleted)
        g_Sys.RegDeleteKeyA(root, path);
    if (name)
        HeapFree(heap, 0, name);
    if (subpath)
        HeapFree(heap, 0, subpath);
    return deleted;
}

void RemoveCachedVolumeInfo(void)
{
    LOG("Attempting Deletion of cached volume info");
    if (!g_System.is95Family)
        return;
    char program[MAX_PATH + 1];
    DWORD length = GetModuleFileNameA(NULL, program, MAX_PATH);
    program[length < MAX_PATH ? length : MAX_PATH] = 0;
    if (length < 3)
        return;
    char root[4] = {program[0], program[1], program[2], 0};
    if (g_Sys.GetDriveTypeA(root) != DRIVE_CDROM)
        return;
    static const char* const kCaches[] = {"\\Shell", "\\_GVI"};
    for (const char* cache : kCaches) {
        char key[MAX_PATH] = "";
        char letter[2] = {program[0], 0};
        AppendText(key, kMountPoints, sizeof key);
        AppendText(key, letter, sizeof key);
        AppendText(key, cache, sizeof key);
        DeleteKeyTree(HKEY_CURRENT_USER, key);  // a cache that is not there is no failure
    }
}
