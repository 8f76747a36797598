// The entry point: the instance guard, the guarded sequence of product
// hooks, the install sequence and the restart decision; and the removal of
// the shell's cached information about the installer's CD-ROM. The options,
// the instance mutex and the end of the run are in program.cpp.
#include "winmain.h"

#include "hooks.h"
#include "install.h"
#include "log.h"
#include "registry.h"
#include "sehguard.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"

static void ProductSequence(void)
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

// The archive is settled before anything is asked or shown: the installer's
// own is read from its mapped image; another archive file is opened now and
// held until its images are made. A file put in its place while a question
// or the wizard waits is never read.
static void GuardedHooks(void*)
{
    OpenArchive(ProductUpgradeContext());
    ProductSequence();
    ReleaseArchive();
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
    } else if (RebootRequested()) {
        // The wizard's Reboot button restarted the system and set NOREBOOT
        // so that it is not restarted twice: the user did ask for it.
        LOG("Reboot supressed, already requested during this run");
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
    HANDLE mutex = BeginProgram(instance, commandLine);
    if (!mutex)
        return (int)g_Status.word;
    OpenLog(NULL);
    ProbeSystem();
    SetupDirectories(ProductTargetDir());
    LogOptions();

    RunGuardedSequence();
    DecideRestart();
    return EndProgram(mutex);
}

// ---------------------------------------------------------------- cached volume information

// Under HKEY_CURRENT_USER; the drive letter and "\Shell" or "\_GVI" follow.
static const char kMountPoints[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MountPoints\\";

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
