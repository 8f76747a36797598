// The Telmura front-end: the product's file table and context, the hooks
// the main driver calls, the checks and questions before anything is
// installed, the readme and the wizard of visual runs, and the entry in the
// system's list of installed programs.
#include <windows.h>
#include <string.h>

#include "hooks.h"
#include "install.h"
#include "language.h"
#include "log.h"
#include "question.h"
#include "syscalls.h"
#include "text.h"
#include "tlmrinst.h"
#include "upgrade.h"
#include "winmain.h"
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

// The product version as four 16-bit parts, most significant first.
static const WORD kProductVersion[4] = {5, 3, 0, 71};

// Visual runs only: the languages the system can display and the one that
// fits the user, which also gives the caption of every message box.
BOOL ProductStartup(void)
{
    PrepareUserInterface();
    return TRUE;
}

// A message box without an owner, captioned like every window of the
// wizard, with the text of id in the chosen language.
static int AskUser(UINT id, UINT style)
{
    return LocalMessageBox(NULL, id, style);
}

// Only the answer No refuses: a box that could not be shown counts as Yes.
static BOOL Confirmed(UINT id)
{
    if (AskUser(id, MB_YESNO) != IDNO)
        return TRUE;
    LOG("User cancelled upgrade from pre-display confirmation");
    STATUS(MSG_CANCELLED, 0);
    return FALSE;
}

BOOL ProductPrecheck(void)
{
    BOOL go = TRUE;
    BOOL ntFamily = g_System.isNT || g_System.is2KXP;
    if (ntFamily) {
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
    if (g_Options.silent)
        return g_System.isAdmin && go;
    if (!go) {
        AskUser(MSG_UNSUPPORTED_PLATFORM, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    if (ntFamily && !g_System.isAdmin) {
        AskUser(MSG_NOT_ADMIN, MB_OK | MB_ICONEXCLAMATION);
        return FALSE;
    }
    if (g_Options.autorun) {
        int installed = ExistingDriverCheck();
        if (installed > 0) {
            LOG("Found previously installed image...cancelling upgrade");
            STATUS(MSG_CANCELLED, 0);
            return FALSE;
        }
        if (installed < 0)
            return Confirmed(STR_AUTORUN_UPGRADE);
    }
    return Confirmed(g_Options.autorun ? STR_AUTORUN_INSTALL : STR_INSTALL_QUESTION);
}

int ExistingDriverCheck(void)
{
    const char* name;
    if (g_System.isNT || g_System.is2KXP)
        name = "Dravelon.sys";
    else if (g_System.is95Family)
        name = "Dravelon.vxd";
    else
        return 0;
    char path[MAX_PATH];
    BuildInstallPath(path, name, DIR_DRIVERS, NULL);
    LOG("Checking for older existing version of %s", path);
    if (!path[0] || !FileExists(path))
        return 0;
    FileInfo info;
    if (!GatherFileInfo(path, &info, TRUE))
        return 0;
    // Without version information every part reads 0.
    WORD installed[4] = {HIWORD(info.fileVersionMS), LOWORD(info.fileVersionMS), HIWORD(info.fileVersionLS),
                         LOWORD(info.fileVersionLS)};
    static const char* const kMatched[3] = {"Major Versions Match...checking minor version",
                                            "Minor Versions Match...checking sub version",
                                            "Sub Versions Match...checking build number"};
    for (int part = 0; part < 3; ++part) {
        if (installed[part] != kProductVersion[part])
            return installed[part] > kProductVersion[part] ? 1 : -1;
        LOG("%s", kMatched[part]);
    }
    return installed[3] >= kProductVersion[3] ? 1 : -1;
}

const char* ProductTargetDir(void)
{
    return "";
}

// How long the wizard waits for the readme's window to be ready, so that it
// comes up in front of it; an editor that takes longer is not waited for.
static const DWORD kReadmeWaitMs = 10000;

// Opens the readme beside the running program in the system's text editor,
// at the top-left corner of the desktop. The editor is the Windows
// directory's notepad.exe, named in full: a search would find a notepad.exe
// that anyone put beside setup.exe first, and run it with the installer's
// rights. The wizard comes up once the editor's window is ready for input.
static void ShowReadme(void)
{
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, path, MAX_PATH);
    path[length < MAX_PATH ? length : 0] = 0;
    char* slash = (char*)FindLastOf(path, "\\");
    if (slash)
        *slash = 0;
    AppendText(path, "\\tlmrinst.txt", sizeof path);
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    CloseHandle(file);

    char editor[MAX_PATH + 16];
    length = GetWindowsDirectoryA(editor, MAX_PATH);
    editor[length < MAX_PATH ? length : 0] = 0;
    if (!editor[0] || !AppendText(editor, EndsWithSeparator(editor) ? "notepad.exe" : "\\notepad.exe", sizeof editor))
        return;
    char command[2 * MAX_PATH + 48];
    wsprintfA(command, "\"%s\" \"%s\"", editor, path);
    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USEPOSITION;
    startup.dwX = (DWORD)desktop.left;
    startup.dwY = (DWORD)desktop.top;
    PROCESS_INFORMATION process;
    if (CreateProcessA(editor, command, NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        WaitForInputIdle(process.hProcess, kReadmeWaitMs);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
}

// The wizard's texts and artwork are the program's own: every text from the
// string tables.
static const WizardProduct kWizardProduct = {"5.3.0.71", kProductKey, NULL, RunInstallSequence};

void ProductInteractive(void)
{
    ShowReadme();
    if (ShowWizard(&kWizardProduct) == 1 && STATUS_MESSAGE(g_Status.word) == MSG_STARTED)
        AskUser(STR_UP_TO_DATE, MB_OK | MB_ICONINFORMATION);
}

BOOL ProductSilentAllowed(void)
{
    return TRUE;
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
    s_Context.progress = WizardProgress;
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
    return AnyUpgrade(context);
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
    LONG result = RegCreateKeyA(HKEY_LOCAL_MACHINE, kUninstallKey, &key);
    if (result != ERROR_SUCCESS)
        return result;
    // Both texts are stored with their terminating zero. (The NT family adds
    // a forgotten one itself; the 95 family does not.)
    static const char kDisplayName[] = "Vornak Telmura";
    g_Sys.RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE*)kDisplayName, sizeof kDisplayName);
    g_Sys.RegSetValueExA(key, "UninstallString", 0, REG_SZ, (const BYTE*)path, (DWORD)lstrlenA(path) + 1);
    return RegCloseKey(key);
}
