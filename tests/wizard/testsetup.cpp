// A test build of the installer: the library's real driver and engine, the
// real wizard and string tables, and test hooks over a small payload packed
// behind the program:
//   wizard.inf   registry script (Temp), creates HKLM\SOFTWARE\Vornak\WizardTest
//   wizdrv.sys   Drivers, by time stamp, takes effect at the next restart
//   wizdata.bin  System32, by time stamp
// Which outcome a run has is up to the files already there: with neither
// target the restart page follows, with only wizdata.bin missing the
// completed page, with both newer than the payload nothing is installed.
// Environment variables ask for more:
//   WIZARD_FAIL=ID,QUALIFIER[,upgrade]   ProductBeforeInstall sets this
//       failure (from the upgrade module's trace when ",upgrade" is given)
//       and stops the installation, as a full disk or a refusal would
//   WIZARD_PAUSE=CODE   at the first progress report of that code that
//       leaves the bar inside its quarter (extraction: above 0 and below
//       25), the run signals the event "TelmuraWizardTestPaused" and keeps
//       calling the wizard's progress callback, which pumps the dialog's
//       messages, until "TelmuraWizardTestResume" is signalled
// A message "TelmuraWizardTestFonts" posted to the wizard logs the font of
// the dialog and of each control ("font ID HEIGHT WEIGHT CHARSET PROPORTIONAL
// FACE", ID 0 for the dialog, PROPORTIONAL 1 when the face the system chose
// for it is), read where they are set: in this process; and the size of the
// side picture and of the inside of its frame ("picture W H frame W H").
// Every progress report is logged with the bar position read back from the
// dialog's progress bar ("progress CODE INDEX bar POSITION", -1 without a
// wizard window).
#include <windows.h>
#include <commctrl.h>
#include <stdlib.h>
#include <string.h>

#include "hooks.h"
#include "install.h"
#include "language.h"
#include "log.h"
#include "text.h"
#include "upgrade.h"
#include "winmain.h"
#include "wizard.h"

enum { IDC_PROGRESS = 1003, STR_UP_TO_DATE = 12 };

static ImageFile s_Images[] = {
    {"wizard.inf", "wizard.inf", "", "wizard", DIR_TEMP, IMG_REGISTRY_SCRIPT | IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 0},
    {"wizdrv.sys", "wizdrv.sys", "", "wizdrv", DIR_DRIVERS,
     IMG_NO_VERSION | IMG_MOVE_NOW | IMG_AT_RESTART | IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 1},
    {"wizdata.bin", "wizdata.bin", "", "wizdata", DIR_SYSTEM32,
     IMG_NO_VERSION | IMG_NO_BACKUP | IMG_ON_95 | IMG_ON_NT | IMG_ON_2KXP, 2},
};
enum { IMAGE_COUNT = sizeof s_Images / sizeof s_Images[0] };
static ImageState s_States[IMAGE_COUNT];
static UpgradeContext s_Context;
static char s_ArchivePath[MAX_PATH];

static BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    char name[16];
    if (GetClassNameA(window, name, sizeof name) && strcmp(name, "#32770") == 0 && GetDlgItem(window, IDC_PROGRESS)) {
        *(HWND*)found = window;
        return FALSE;
    }
    return TRUE;
}

static int BarPosition(void)
{
    HWND wizard = NULL;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, (LPARAM)&wizard);
    return wizard ? (int)SendDlgItemMessageA(wizard, IDC_PROGRESS, PBM_GETPOS, 0, 0) : -1;
}

static BOOL PauseWanted(DWORD code, int bar)
{
    static BOOL paused;
    char wanted[16];
    DWORD length = GetEnvironmentVariableA("WIZARD_PAUSE", wanted, sizeof wanted);
    if (paused || length == 0 || length >= sizeof wanted || strtoul(wanted, NULL, 10) != code)
        return FALSE;
    if (code == PROGRESS_EXTRACT && (bar <= 0 || bar >= 25))
        return FALSE;
    paused = TRUE;
    return TRUE;
}

static void PauseInProgress(ProgressRecord* record)
{
    HANDLE paused = OpenEventA(EVENT_MODIFY_STATE, FALSE, "TelmuraWizardTestPaused");
    HANDLE resume = OpenEventA(SYNCHRONIZE, FALSE, "TelmuraWizardTestResume");
    if (!paused || !resume) {
        LOG("pause events missing");
    } else {
        LOG("paused");
        SetEvent(paused);
        while (WaitForSingleObject(resume, 20) == WAIT_TIMEOUT)
            WizardProgress(record);
        LOG("resumed");
    }
    if (paused)
        CloseHandle(paused);
    if (resume)
        CloseHandle(resume);
}

static BOOL TestProgress(ProgressRecord* record)
{
    WizardProgress(record);
    int bar = BarPosition();
    LOG("progress %lu %ld bar %d", record->code, record->index, bar);
    if (PauseWanted(record->code, bar))
        PauseInProgress(record);
    return FALSE;
}

// A failure asked for by WIZARD_FAIL; FALSE when one was set.
static BOOL ApplyAskedFailure(void)
{
    char asked[64];
    DWORD length = GetEnvironmentVariableA("WIZARD_FAIL", asked, sizeof asked);
    if (length == 0 || length >= sizeof asked)
        return TRUE;
    char* rest;
    DWORD id = strtoul(asked, &rest, 10);
    LONG qualifier = *rest == ',' ? strtol(rest + 1, &rest, 10) : 0;
    LOG("failing with %lu qualifier %ld", id, qualifier);
    // The engine reports its failures from the upgrade module.
    if (strcmp(rest, ",upgrade") == 0)
        SetTracePosition("tests/wizard/testsetup.cpp:upgrade", __LINE__);
    else
        TRACE_HERE();
    SetStatus(id, (DWORD)qualifier);
    return FALSE;
}

static UINT s_ReportFonts;
static HHOOK s_MessageHook;

// A set bit TMPF_FIXED_PITCH means a proportional font.
static int Proportional(HWND window, HFONT font)
{
    TEXTMETRICA metrics;
    HDC dc = GetDC(window);
    HGDIOBJ old = SelectObject(dc, font);
    BOOL measured = GetTextMetricsA(dc, &metrics);
    SelectObject(dc, old);
    ReleaseDC(window, dc);
    return measured && (metrics.tmPitchAndFamily & TMPF_FIXED_PITCH) ? 1 : 0;
}

static void LogFont(HWND window, int id)
{
    LOGFONTA font;
    HFONT handle = (HFONT)SendMessageA(window, WM_GETFONT, 0, 0);
    if (handle && GetObjectA(handle, sizeof font, &font))
        LOG("font %d %ld %ld %d %d %s", id, font.lfHeight, font.lfWeight, font.lfCharSet,
            Proportional(window, handle), font.lfFaceName);
    else
        LOG("font %d none", id);
}

static LRESULT CALLBACK WatchMessages(int code, WPARAM wParam, LPARAM lParam)
{
    const MSG* message = (const MSG*)lParam;
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == s_ReportFonts) {
        LogFont(message->hwnd, 0);
        static const int kControls[] = {1000, 1001, 1005, 1010, 1006, 1007, 1009, 1004, IDCANCEL};
        for (int id : kControls)
            LogFont(GetDlgItem(message->hwnd, id), id);
        HWND frame = GetDlgItem(message->hwnd, 1002);
        BITMAP picture = {};
        RECT inside = {};
        HGDIOBJ shown = (HGDIOBJ)SendMessageA(frame, STM_GETIMAGE, IMAGE_BITMAP, 0);
        if (shown && GetObjectA(shown, sizeof picture, &picture) && GetClientRect(frame, &inside))
            LOG("picture %ld %ld frame %ld %ld", picture.bmWidth, picture.bmHeight, inside.right, inside.bottom);
    }
    return CallNextHookEx(s_MessageHook, code, wParam, lParam);
}

BOOL ProductStartup(void)
{
    InitCommonControls();
    BuildLanguageList();
    ChooseDefaultLanguage();
    return TRUE;
}

BOOL ProductPrecheck(void) { return TRUE; }
const char* ProductTargetDir(void) { return ""; }
BOOL ProductSilentAllowed(void) { return TRUE; }
BOOL ProductFinish(void) { return TRUE; }
BOOL ProductBeforeInstall(void) { return ApplyAskedFailure(); }
BOOL ProductWantsRegistry(UpgradeContext*) { return TRUE; }
void ProductAfterInstall(UpgradeContext*) {}

void ProductInteractive(void)
{
    s_ReportFonts = RegisterWindowMessageA("TelmuraWizardTestFonts");
    s_MessageHook = SetWindowsHookExA(WH_GETMESSAGE, WatchMessages, NULL, GetCurrentThreadId());
    // The texts of the string tables and Telmura's version and key.
    static const WizardProduct kProduct = {"5.3.0.71", "SOFTWARE\\Vornak\\Telmura", NULL, RunInstallSequence};
    INT_PTR result = ShowWizard(&kProduct);
    if (s_MessageHook)
        UnhookWindowsHookEx(s_MessageHook);
    if (result == 1 && STATUS_MESSAGE(g_Status.word) == MSG_STARTED) {
        char text[LOCAL_TEXT_SIZE];
        CopyText(text, LoadLocalString(STR_UP_TO_DATE), sizeof text);
        MessageBoxA(NULL, text, g_Languages.caption, MB_ICONINFORMATION);
    }
}

UpgradeContext* ProductUpgradeContext(void)
{
    if (!s_Context.archivePath) {
        DWORD length = GetModuleFileNameA(NULL, s_ArchivePath, MAX_PATH - 1);
        s_ArchivePath[length < MAX_PATH ? length : MAX_PATH - 1] = 0;
        s_Context.archivePath = s_ArchivePath;
        s_Context.count = IMAGE_COUNT;
        s_Context.images = s_Images;
        s_Context.states = s_States;
        s_Context.progress = TestProgress;
    }
    return &s_Context;
}

BOOL ProductHasUpgrades(UpgradeContext* context)
{
    return AnyUpgrade(context);
}

// The product's uninstall entry, under its real key.
LONG RegisterUninstaller(void)
{
    LOG("hook RegisterUninstaller");
    HKEY key;
    LONG result = RegCreateKeyA(HKEY_LOCAL_MACHINE,
                                "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vornak Telmura", &key);
    if (result != ERROR_SUCCESS)
        return result;
    static const char kName[] = "Vornak Telmura";
    RegSetValueExA(key, "DisplayName", 0, REG_SZ, (const BYTE*)kName, sizeof kName);
    return RegCloseKey(key);
}
