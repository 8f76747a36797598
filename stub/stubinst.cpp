// The generic setup's front-end: the hooks the main driver calls, made from
// the product description the setup carries in its own archive. The
// description is read once the platform checks have passed and before the
// environment is set up, so a damaged archive or a faulty description ends
// the run before anything is changed; the file table, the target directory
// and the entry in the list of installed programs all come from it.
#include <windows.h>

#include "hooks.h"
#include "install.h"
#include "log.h"
#include "product.h"
#include "record.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"
#include "visual.h"
#include "winmain.h"
#include "wizard.h"

static UpgradeContext s_Context;
static char s_ArchivePath[MAX_PATH];

BOOL ProductStartup(void)
{
    g_UndoBeforeFolders = UndoInstallRecord;
    PrepareUserInterface();
    return TRUE;
}

static BOOL PlatformSupported(void)
{
    if (g_System.isNT || g_System.is2KXP) {
        if (g_System.isOldShell) {
            LOG("Running on Windows NT 3.51 or earlier... Quitting.");
            STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
            return FALSE;
        }
        if (!g_System.isAdmin) {
            LOG("The utility requires that the user be logged on as Administrator");
            STATUS(MSG_NOT_ADMIN, 0);
            return FALSE;
        }
        return TRUE;
    }
    if (!g_System.is95Family) {
        STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
        return FALSE;
    }
    return TRUE;
}

static BOOL CheckBeforeInstall(void)
{
    UpgradeContext* context = ProductUpgradeContext();
    if (!PlatformSupported() || !ReadProductDescription(context->archivePath))
        return FALSE;
    if (InstalledVersionIsNewer()) {
        LOG("Found previously installed image...cancelling upgrade");
        STATUS(MSG_CANCELLED, 0);
        return FALSE;
    }
    return ResolveTargetDirectory() && BuildFileTable(context);
}

// A visual run that stops here says why; a silent one only logs it.
BOOL ProductPrecheck(void)
{
    if (CheckBeforeInstall())
        return TRUE;
    if (!g_Options.silent)
        ShowRefusal();
    return FALSE;
}

const char* ProductTargetDir(void)
{
    return "";
}

void ProductInteractive(void)
{
    ShowProductWizard();
}

// The silent run goes through the install sequence here rather than in the
// driver, as the wizard's does. A failed run also deletes the uninstaller
// and the uninstall entry it made, before the folders that hold the first.
BOOL ProductSilentAllowed(void)
{
    InstallProduct(ProductUpgradeContext());
    return FALSE;
}

UpgradeContext* ProductUpgradeContext(void)
{
    if (!s_ArchivePath[0]) {
        DWORD length = GetModuleFileNameA(NULL, s_ArchivePath, MAX_PATH - 1);
        s_ArchivePath[length < MAX_PATH ? length : MAX_PATH - 1] = 0;
        s_Context.archivePath = s_ArchivePath;
    }
    return &s_Context;
}

BOOL ProductFinish(void)
{
    return TRUE;
}

BOOL ProductBeforeInstall(void)
{
    return StartInstallRecord();
}

BOOL ProductHasUpgrades(UpgradeContext* context)
{
    return AnyUpgrade(context);
}

BOOL ProductWantsRegistry(UpgradeContext*)
{
    return TRUE;
}

// The uninstall entry and the install record; a failure is a failed run:
// the driver then rolls the installation back.
void ProductAfterInstall(UpgradeContext* context)
{
    FinishInstallRecord(context);
}

static LONG SetText(HKEY key, const char* name, const char* text)
{
    return g_Sys.RegSetValueExA(key, name, 0, REG_SZ, (const BYTE*)text, (DWORD)lstrlenA(text) + 1);
}

// The entry in the system's list of installed programs: the product's name,
// maker and version, and the uninstaller's command line.
BOOL UninstallKeyName(char* key, DWORD size)
{
    return g_Product && CopyText(key, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\", size) &&
           AppendText(key, g_Product->uninstallName, size);
}

LONG RegisterUninstaller(void)
{
    char name[MAX_PATH + 64];
    if (!UninstallKeyName(name, sizeof name))
        return ERROR_FILENAME_EXCED_RANGE;
    HKEY key;
    LONG result = g_Sys.RegCreateKeyExA(HKEY_LOCAL_MACHINE, name, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                                        NULL, &key, NULL);
    if (result != ERROR_SUCCESS)
        return result;
    result = SetText(key, "DisplayName", g_Product->uninstallName);
    if (result == ERROR_SUCCESS)
        result = SetText(key, "Publisher", g_Product->maker);
    if (result == ERROR_SUCCESS)
        result = SetText(key, "DisplayVersion", g_Product->version);
    char command[MAX_PATH + 2] = "\"";
    if (result == ERROR_SUCCESS && UninstallerPath(command + 1) && AppendText(command, "\"", sizeof command))
        result = SetText(key, "UninstallString", command);
    RegCloseKey(key);
    return result;
}
