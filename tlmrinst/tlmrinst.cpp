// The Telmura front-end: the product's file table and context, and the
// hooks the main driver calls. This build has no wizard yet: it runs
// without questions and installs nothing until the engine passes exist.
#include <windows.h>
#include <commctrl.h>
#include <string.h>

#include "hooks.h"
#include "install.h"
#include "language.h"
#include "log.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"
#include "wizard.h"

// The packed files: the registry script, the uninstaller and one driver
// build per family (the 2000/XP build goes in under the NT build's name).
static ImageFile s_Images[] = {
    {"tlmrinst.inf", "tlmrinst.inf", "", "tlmrinst", DIR_TEMP,
     IMG_REGISTRY_SCRIPT | IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 0},
    {"tlmrunin.exe", "tlmrunin.exe", "", "tlmrunin", DIR_SYSTEM32,
     IMG_NO_VERSION | IMG_NO_BACKUP | IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 3},
    {"dravelon.vxd", "dravelon.vxd", "", "dravelon", DIR_DRIVERS, IMG_MOVE_NOW | IMG_AT_RESTART | IMG_ON_95, 1},
    {"dravelon.sys", "dravelon.sys", "", "dravelon", DIR_DRIVERS, IMG_MOVE_NOW | IMG_AT_RESTART | IMG_ON_NT, 1},
    {"dravelon_xp.sys", "dravelon.sys", "", "dravelon", DIR_DRIVERS, IMG_MOVE_NOW | IMG_AT_RESTART | IMG_ON_2KXP, 1},
};
enum { IMAGE_COUNT = sizeof s_Images / sizeof s_Images[0] };

static ImageState s_States[IMAGE_COUNT];
static UpgradeContext s_Context;
static BOOL s_ContextBuilt;
static char s_ArchivePath[MAX_PATH];

// Visual runs only: the languages the system can display and the one that
// fits the user, which also gives the caption of every message box.
BOOL ProductStartup(void)
{
    InitCommonControls();
    BuildLanguageList();
    ChooseDefaultLanguage();
    return TRUE;
}

// Platform and rights checks. No questions are asked in this build, in
// either mode.
BOOL ProductPrecheck(void)
{
    BOOL go = TRUE;
    if (g_System.isNT || g_System.is2KXP) {
        if (g_System.isOldShell) {
            LOG("Running on Windows NT 3.51 or earlier... Quitting.");
            STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
            go = FALSE;
        } else if (!g_System.isAdmin) {
            LOG("The utility requires that the user be logged on as Administrator");
            STATUS(MSG_NOT_ADMIN, 0);
        }
    } else if (!g_System.is95Family) {
        // Refused without the environment: the status says so, or a silent
        // run would end looking like one that went well.
        STATUS(MSG_UNSUPPORTED_PLATFORM, 0);
        go = FALSE;
    }
    return g_System.isAdmin && go;
}

const char* ProductTargetDir(void)
{
    return "";
}

void ProductInteractive(void)
{
    ShowWizard();
}

// No install sequence runs until the engine passes are part of the build.
BOOL ProductSilentAllowed(void)
{
    return FALSE;
}

UpgradeContext* ProductUpgradeContext(void)
{
    if (s_ContextBuilt)
        return &s_Context;
    DWORD length = GetModuleFileNameA(NULL, s_ArchivePath, MAX_PATH - 1);
    s_ArchivePath[length < MAX_PATH ? length : MAX_PATH - 1] = 0;
    memset(&s_Context, 0, sizeof s_Context);
    memset(s_States, 0, sizeof s_States);
    s_Context.archivePath = s_ArchivePath;
    s_Context.count = IMAGE_COUNT;
    s_Context.images = s_Images;
    s_Context.states = s_States;
    s_ContextBuilt = TRUE;
    return &s_Context;
}

BOOL ProductFinish(void)
{
    return TRUE;
}

BOOL ProductBeforeInstall(void)
{
    return TRUE;
}

BOOL ProductHasUpgrades(UpgradeContext* context)
{
    for (DWORD i = 0; i < context->count; ++i)
        if (context->states[i].upgrade)
            return TRUE;
    return FALSE;
}

BOOL ProductWantsRegistry(UpgradeContext*)
{
    return TRUE;
}

void ProductAfterInstall(UpgradeContext*)
{
}

// The entry in the system's list of installed programs.
LONG RegisterUninstaller(void)
{
    char path[MAX_PATH + 16];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    path[length < MAX_PATH ? length : 0] = 0;
    AppendText(path, "\\TLMRUNIN.EXE", sizeof path);

    HKEY key;
    LONG result = RegCreateKeyA(HKEY_LOCAL_MACHINE,
                                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vornak Telmura", &key);
    if (result != ERROR_SUCCESS)
        return result;
    // Both texts are stored with their terminating zero. (The NT family adds
    // a forgotten one itself; the 95 family does not.)
    static const char kDisplayName[] = "Vornak Telmura";
    g_Sys.RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE*)kDisplayName, sizeof kDisplayName);
    g_Sys.RegSetValueExA(key, "UninstallString", 0, REG_SZ, (const BYTE*)path, (DWORD)lstrlenA(path) + 1);
    return RegCloseKey(key);
}
