// The wizard dialog. One window whose controls are shown, hidden and
// relabelled as it moves through the rows of its state table: the language
// page, the welcome page, and after the installation the error, completed
// or restart page; two more rows end the dialog. The installation runs
// inside the Install button's handler on this thread; the engine's progress
// callback moves the bar and pumps the dialog's messages, and the busy flag
// makes every command and the close box do nothing meanwhile.
#define TRACE_FILE __FILE__ ":tlmrinst"
#include "wizard.h"

#include <commctrl.h>

#include "fonts.h"
#include "hooks.h"
#include "install.h"
#include "language.h"
#include "log.h"
#include "outcome.h"
#include "picture.h"
#include "question.h"
#include "syscalls.h"
#include "text.h"
#include "upgrade.h"
#include "winmain.h"

// Resources and controls of dialog 100.
enum {
    IDD_WIZARD = 100,
    IDI_WIZARD = 101,
    IDB_SIDE_PICTURE = 149,
    IDC_TITLE = 1000,
    IDC_VERSION = 1001,
    IDC_PICTURE = 1002,
    IDC_PROGRESS = 1003,
    IDC_MAIN = 1004,
    IDC_WELCOME = 1005,
    IDC_LANGUAGES = 1006,
    IDC_STATUS = 1007,
    IDC_BACK = 1009,
    IDC_PROMPT = 1010
};

// Texts of the string tables.
enum {
    STR_CLICK_INSTALL = 2,
    STR_INSTALLING = 3,
    STR_REBOOT_BUTTON = 4,
    STR_OK_BUTTON = 5,
    STR_COMPLETED = 7,
    STR_RESTART_NEEDED = 8,
    STR_WELCOME = 9,
    STR_ASK_REBOOT = 10,
    STR_ASK_EXIT = 11,
    STR_ERROR_FORMAT = 13,
    STR_VERSION_FORMAT = 14,
    STR_PRODUCT_NAME = 15,
    STR_INSTALL_BUTTON = 16,
    STR_CANCEL_BUTTON = 17,
    STR_LANGUAGE_PROMPT = 18,
    STR_BACK_BUTTON = 19,
    STR_NEXT_BUTTON = 20
};

enum {
    STATE_LANGUAGE = 0,
    STATE_WELCOME = 1,
    STATE_ERROR = 2,
    STATE_COMPLETED = 3,
    STATE_RESTART = 4,
    STATE_CLOSED = 5,
    STATE_UP_TO_DATE = 6,
    STATE_STAY = -1
};

// A row of the state table. The next and cancel handlers return the state
// to go to, or STATE_STAY.
struct WizardState {
    int id;
    void (*enter)(void);
    int (*next)(void);
    int (*cancel)(void);
};

struct WizardRecord {
    const WizardProduct* product;
    HWND window;
    const WizardState* current;
    BOOL busy;
    HFONT titleFont;
    HFONT cjkFont;
    HBITMAP picture;  // the side picture scaled to its frame, when it is
};
static WizardRecord s_Wizard;

// ---------------------------------------------------------------- controls

static HWND Control(int id)
{
    return GetDlgItem(s_Wizard.window, id);
}

// A text in the chosen language: the product's own where it has one.
static const char* WizardText(UINT stringId)
{
    const char* own = s_Wizard.product->text ? s_Wizard.product->text(stringId) : NULL;
    return own ? own : LoadLocalString(stringId);
}

static void SetLocalText(int id, UINT stringId)
{
    SetDlgItemTextA(s_Wizard.window, id, WizardText(stringId));
}

static void ShowControl(int id, BOOL shown)
{
    ShowWindow(Control(id), shown ? SW_SHOW : SW_HIDE);
}

static void EnableControl(int id, BOOL enabled)
{
    EnableWindow(Control(id), enabled);
}

// The main button is the default one on every page.
static void MarkMainButtonDefault(void)
{
    SendMessageA(Control(IDC_BACK), BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendMessageA(Control(IDC_MAIN), BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
}

// Yes/No question owned by the wizard; TRUE unless the answer was No.
static BOOL Ask(UINT stringId, UINT icon)
{
    return LocalMessageBox(s_Wizard.window, stringId, MB_YESNO | icon) != IDNO;
}

static void RefreshTexts(void)
{
    CopyText(g_Languages.caption, WizardText(STR_CAPTION), sizeof g_Languages.caption);
    SetWindowTextA(s_Wizard.window, g_Languages.caption);
    SetLocalText(IDC_TITLE, STR_PRODUCT_NAME);
    char format[LOCAL_TEXT_SIZE];
    // The formatter writes at most 1024 characters.
    char version[1025];
    CopyText(format, LoadLocalString(STR_VERSION_FORMAT), sizeof format);
    wsprintfA(version, format, s_Wizard.product->version);
    SetDlgItemTextA(s_Wizard.window, IDC_VERSION, version);
    SetLocalText(IDC_PROMPT, STR_LANGUAGE_PROMPT);
    SetLocalText(IDC_BACK, STR_BACK_BUTTON);
    SetLocalText(IDC_MAIN, STR_NEXT_BUTTON);
    SetLocalText(IDCANCEL, STR_CANCEL_BUTTON);
}

// Ends text within size bytes, never inside a double-byte character.
static void CutToCharacters(char* text, int size)
{
    char* end = text;
    while (*end) {
        char* next = CharNextA(end);
        if (next - text > size - 1)
            break;
        end = next;
    }
    *end = 0;
}

// A message taller than the status field (a long failure text in the
// enlarged East Asian font) would lose its last line, the error code: the
// field then grows upward into the welcome text's room, and the welcome
// text, a greeting, gives way.
static void FitStatusText(const char* text)
{
    HWND status = Control(IDC_STATUS);
    RECT field;
    GetWindowRect(status, &field);
    MapWindowPoints(NULL, s_Wizard.window, (POINT*)&field, 2);
    RECT needed = {0, 0, field.right - field.left, 0};
    HDC dc = GetDC(status);
    if (!dc)
        return;
    HGDIOBJ font = (HGDIOBJ)SendMessageA(status, WM_GETFONT, 0, 0);
    HGDIOBJ old = font ? SelectObject(dc, font) : NULL;
    DrawTextA(dc, text, -1, &needed, DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
    if (old)
        SelectObject(dc, old);
    ReleaseDC(status, dc);
    if (needed.bottom <= field.bottom - field.top)
        return;
    RECT welcome;
    GetWindowRect(Control(IDC_WELCOME), &welcome);
    MapWindowPoints(NULL, s_Wizard.window, (POINT*)&welcome, 2);
    ShowControl(IDC_WELCOME, FALSE);
    int top = field.bottom - needed.bottom;
    if (top < welcome.top)
        top = welcome.top;
    MoveWindow(status, field.left, top, field.right - field.left, field.bottom - top, TRUE);
}

// ---------------------------------------------------------------- enter handlers

static void EnterLanguagePage(void)
{
    EnableControl(IDC_BACK, FALSE);
    ShowControl(IDC_PROMPT, TRUE);
    ShowControl(IDC_LANGUAGES, TRUE);
    ShowControl(IDC_WELCOME, FALSE);
    ShowControl(IDC_STATUS, FALSE);
    ShowControl(IDC_PROGRESS, FALSE);
    RefreshTexts();
    SetFocus(Control(IDC_LANGUAGES));
    SendMessageA(Control(IDC_LANGUAGES), CB_SETCURSEL, (WPARAM)g_Languages.selected, 0);
    MarkMainButtonDefault();
}

static void EnterWelcomePage(void)
{
    EnableControl(IDC_BACK, TRUE);
    ShowControl(IDC_PROMPT, FALSE);
    ShowControl(IDC_LANGUAGES, FALSE);
    ShowControl(IDC_WELCOME, TRUE);
    ShowControl(IDC_STATUS, TRUE);
    ShowControl(IDC_PROGRESS, TRUE);
    SetLocalText(IDC_WELCOME, STR_WELCOME);
    SetLocalText(IDC_MAIN, STR_INSTALL_BUTTON);
    SetLocalText(IDC_STATUS, STR_CLICK_INSTALL);
    SetLocalText(IDCANCEL, STR_CANCEL_BUTTON);
    MarkMainButtonDefault();
}

static void EnterErrorPage(void)
{
    DWORD word = g_Status.word;
    DWORD message = STATUS_MESSAGE(word);
    char text[LOCAL_TEXT_SIZE];
    char format[LOCAL_TEXT_SIZE];
    CopyText(text, LoadLocalString(FailureTextId(message, (LONG)g_Status.qualifier)), sizeof text);
    CopyText(format, WizardText(STR_ERROR_FORMAT), sizeof format);
    // The formatter writes at most 1024 characters; the field takes 511.
    char shown[1025];
    wsprintfA(shown, format, text, message, STATUS_MODULE(word), STATUS_LINE(word), g_Status.qualifier);
    CutToCharacters(shown, 512);
    SetDlgItemTextA(s_Wizard.window, IDC_STATUS, shown);
    FitStatusText(shown);
    SetLocalText(IDC_MAIN, STR_OK_BUTTON);
    SetFocus(Control(IDC_MAIN));
}

static void EnterCompletedPage(void)
{
    SetLocalText(IDC_STATUS, STR_COMPLETED);
    SetLocalText(IDC_MAIN, STR_OK_BUTTON);
    SetFocus(Control(IDC_MAIN));
}

static void EnterRestartPage(void)
{
    SetLocalText(IDC_STATUS, STR_RESTART_NEEDED);
    SetLocalText(IDC_MAIN, STR_REBOOT_BUTTON);
    SetFocus(Control(IDC_MAIN));
    RegisterUninstaller();
}

static void EndWizard(void)
{
    EndDialog(s_Wizard.window, 0);
}

static void EndUpToDate(void)
{
    EndDialog(s_Wizard.window, 1);
}

// ---------------------------------------------------------------- next and cancel handlers

static int GoToWelcome(void)
{
    return STATE_WELCOME;
}

static int GoToClosed(void)
{
    return STATE_CLOSED;
}

static int ConfirmExit(void)
{
    if (!Ask(STR_ASK_EXIT, MB_ICONQUESTION))
        return STATE_STAY;
    LOG("User cancelled upgrade from main dialog");
    STATUS(MSG_CANCELLED, 0);
    return STATE_CLOSED;
}

static int StartInstall(void)
{
    HKEY key;
    const char* languageKey = s_Wizard.product->languageKey;
    if (languageKey && RegCreateKeyA(HKEY_LOCAL_MACHINE, languageKey, &key) == ERROR_SUCCESS) {
        DWORD language = SelectedLanguage();
        RegSetValueExA(key, "Language", 0, REG_DWORD, (const BYTE*)&language, sizeof language);
        RegCloseKey(key);
    }
    EnableControl(IDC_BACK, FALSE);
    EnableControl(IDC_MAIN, FALSE);
    EnableControl(IDCANCEL, FALSE);
    SetLocalText(IDC_STATUS, STR_INSTALLING);

    s_Wizard.product->install(ProductUpgradeContext());

    SendMessageA(Control(IDC_PROGRESS), PBM_SETPOS, 100, 0);
    EnableControl(IDC_MAIN, TRUE);
    EnableControl(IDCANCEL, TRUE);
    switch (STATUS_MESSAGE(g_Status.word)) {
    case MSG_STARTED:
        return STATE_UP_TO_DATE;
    case MSG_INSTALLED:
        return STATE_COMPLETED;
    case MSG_REBOOT_NEEDED:
        return STATE_RESTART;
    default:
        return STATE_ERROR;
    }
}

// The driver must not restart a second time, whether or not this one works.
static int RestartNow(void)
{
    g_Options.noReboot = TRUE;
    BOOL accepted;
    if (g_System.is95Family) {
        LOG("Pre95 reboot status 0x%08lX qualifier 0x%08lX", g_Status.word, g_Status.qualifier);
        LOG("Final status will not be logged because of reboot");
        accepted = RebootWithLogClosed();
    } else {
        accepted = ForceReboot();
    }
    return accepted ? STATE_CLOSED : STATE_ERROR;
}

// After Yes the driver restarts the system once the dialog has closed.
static int DeclineRestart(void)
{
    if (!Ask(STR_ASK_REBOOT, MB_ICONEXCLAMATION))
        g_Options.noReboot = TRUE;
    return STATE_CLOSED;
}

static const WizardState kWizardStateTable[] = {
    {STATE_LANGUAGE, EnterLanguagePage, GoToWelcome, ConfirmExit},
    {STATE_WELCOME, EnterWelcomePage, StartInstall, ConfirmExit},
    {STATE_ERROR, EnterErrorPage, GoToClosed, GoToClosed},
    {STATE_COMPLETED, EnterCompletedPage, GoToClosed, GoToClosed},
    {STATE_RESTART, EnterRestartPage, RestartNow, DeclineRestart},
    {STATE_CLOSED, EndWizard, NULL, NULL},
    {STATE_UP_TO_DATE, EndUpToDate, NULL, NULL},
};

static void GoToState(int id)
{
    for (const WizardState& row : kWizardStateTable) {
        if (row.id != id)
            continue;
        s_Wizard.current = &row;
        if (row.enter)
            row.enter();
    }
}

static void PressButton(BOOL main)
{
    const WizardState* row = s_Wizard.current;
    if (!row)
        return;
    int (*handler)(void) = main ? row->next : row->cancel;
    if (!handler)
        return;
    int next = handler();
    if (next != STATE_STAY)
        GoToState(next);
}

// ---------------------------------------------------------------- fonts

static void SetControlFont(int id, HFONT font)
{
    SendMessageA(Control(id), WM_SETFONT, (WPARAM)font, FALSE);
}

// The texts, the version, the list and the buttons of an East Asian
// language in its own dialog face; the dialog's font serves the others.
static void CreateTextFont(const LOGFONTA* dialogFont)
{
    LOGFONTA font;
    if (!TextFontFor(SelectedLanguage(), dialogFont, &font))
        return;
    s_Wizard.cjkFont = CreateFontIndirectA(&font);
    if (!s_Wizard.cjkFont)
        return;
    static const int kControls[] = {IDC_WELCOME, IDC_PROMPT, IDC_LANGUAGES, IDC_STATUS,
                                    IDC_BACK,    IDC_MAIN,   IDCANCEL,      IDC_VERSION};
    for (int id : kControls)
        SetControlFont(id, s_Wizard.cjkFont);
}

// The product name, large and bold.
static void CreateTitleFont(const LOGFONTA* dialogFont)
{
    LOGFONTA font;
    TitleFontFrom(dialogFont, &font);
    s_Wizard.titleFont = CreateFontIndirectA(&font);
    if (s_Wizard.titleFont)
        SetControlFont(IDC_TITLE, s_Wizard.titleFont);
}

static void DeleteFonts(void)
{
    if (s_Wizard.titleFont)
        DeleteObject(s_Wizard.titleFont);
    if (s_Wizard.cjkFont)
        DeleteObject(s_Wizard.cjkFont);
    s_Wizard.titleFont = NULL;
    s_Wizard.cjkFont = NULL;
}

// With large fonts the picture's frame outgrows the picture.
static void FitSidePicture(void)
{
    HBITMAP fitted = PictureForFrame(Control(IDC_PICTURE), g_Instance, IDB_SIDE_PICTURE);
    if (!fitted)
        return;
    HGDIOBJ old = (HGDIOBJ)SendMessageA(Control(IDC_PICTURE), STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)fitted);
    if (old && old != fitted)
        DeleteObject(old);
    s_Wizard.picture = fitted;
}

// ---------------------------------------------------------------- dialog procedure

// A third of the free height above the window, centred across.
static void PlaceWindow(HWND window)
{
    RECT frame;
    GetWindowRect(window, &frame);
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - width) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - height) / 3;
    MoveWindow(window, x, y, width, height, FALSE);
}

// The language list opens with all its entries in sight: the list part
// below the selection field is as tall as they are, and its border.
static void FitLanguageList(HWND list, int count)
{
    RECT field;
    LRESULT item = SendMessageA(list, CB_GETITEMHEIGHT, 0, 0);
    if (!GetWindowRect(list, &field) || item == CB_ERR)
        return;
    int height = field.bottom - field.top + count * (int)item + 2 * GetSystemMetrics(SM_CYEDGE);
    SetWindowPos(list, NULL, 0, 0, field.right - field.left, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

static void InitWizard(HWND window)
{
    s_Wizard.window = window;
    BringWindowToTop(window);
    PlaceWindow(window);

    LOGFONTA dialogFont;
    HFONT font = (HFONT)SendMessageA(window, WM_GETFONT, 0, 0);
    if (font && GetObjectA(font, sizeof dialogFont, &dialogFont)) {
        CreateTextFont(&dialogFont);
        CreateTitleFont(&dialogFont);
    }
    FitSidePicture();

    HICON icon = LoadIconA(g_Instance, MAKEINTRESOURCEA(IDI_WIZARD));
    SetClassLongPtrA(window, GCLP_HICON, (LONG_PTR)icon);
    // The caption shows the icon's own small picture.
    HICON small = (HICON)LoadImageA(g_Instance, MAKEINTRESOURCEA(IDI_WIZARD), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                    GetSystemMetrics(SM_CYSMICON), LR_SHARED);
    if (small)
        SetClassLongPtrA(window, GCLP_HICONSM, (LONG_PTR)small);

    HWND list = Control(IDC_LANGUAGES);
    for (int i = 0; i < g_Languages.count; ++i)
        SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)LoadStringInLanguage(STR_LANGUAGE_NAME, g_Languages.ids[i]));
    FitLanguageList(list, g_Languages.count);
    GoToState(STATE_LANGUAGE);
}

static void OnCommand(WORD id, WORD notification)
{
    switch (id) {
    case IDC_LANGUAGES:
        if (notification == CBN_SELCHANGE) {
            LRESULT selection = SendMessageA(Control(IDC_LANGUAGES), CB_GETCURSEL, 0, 0);
            if (selection != CB_ERR && selection < g_Languages.count) {
                g_Languages.selected = (int)selection;
                RefreshTexts();
            }
        }
        break;
    case IDOK:
    case IDCANCEL:
        s_Wizard.busy = TRUE;
        PressButton(FALSE);
        break;
    case IDC_MAIN:
        s_Wizard.busy = TRUE;
        PressButton(TRUE);
        break;
    case IDC_BACK:
        GoToState(STATE_LANGUAGE);
        break;
    }
    s_Wizard.busy = FALSE;
}

static INT_PTR CALLBACK WizardDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG:
        InitWizard(window);
        return TRUE;
    case WM_COMMAND:
        if (!s_Wizard.busy)
            OnCommand(LOWORD(wParam), HIWORD(wParam));
        return TRUE;
    case WM_SYSCOMMAND:
        if (s_Wizard.busy || (wParam & 0xFFF0) != SC_CLOSE)
            return FALSE;
        // The close box asks as Cancel does, under the same guard.
        s_Wizard.busy = TRUE;
        PressButton(FALSE);
        s_Wizard.busy = FALSE;
        return TRUE;
    case WM_SYSCOLORCHANGE:
        SendMessageA(Control(IDC_PROGRESS), message, wParam, lParam);
        return FALSE;
    case WM_DESTROY:
        DeleteFonts();
        if (s_Wizard.picture)
            DeleteObject(s_Wizard.picture);
        s_Wizard.picture = NULL;
        s_Wizard.window = NULL;
        return FALSE;
    }
    return FALSE;
}

void PrepareUserInterface(void)
{
    // The progress bar's class comes with comctl32.dll, loaded from the
    // system directory (never one beside the setup).
    typedef void(WINAPI * InitControls)(void);
    HMODULE controls = LoadSystemLibrary("comctl32.dll");
    InitControls init = controls ? (InitControls)(void*)GetProcAddress(controls, "InitCommonControls") : NULL;
    if (init)
        init();
    BuildLanguageList();
    ChooseDefaultLanguage();
}

INT_PTR ShowWizard(const WizardProduct* product)
{
    s_Wizard.product = product;
    s_Wizard.current = NULL;
    s_Wizard.busy = FALSE;
    INT_PTR result = DialogBoxParamA(g_Instance, MAKEINTRESOURCEA(IDD_WIZARD), NULL, WizardDialogProc, 0);
    if (result == -1) {
        // Nothing was shown, so nothing was done: not a success to report.
        DWORD error = GetLastError();
        LOG("DialogBoxParam failed 0x%08lX", error);
        STATUS(MSG_INTERNAL_ERROR, error);
        return 0;
    }
    return result;
}

// ---------------------------------------------------------------- progress

// The bar runs through four quarters: extraction by bytes, then the
// decision, installation and registry passes by entries.
static int ProgressPosition(const ProgressRecord* record)
{
    DWORD count = record->context ? record->context->count : 0;
    ULONGLONG entry = (ULONGLONG)(DWORD)(record->index + 1) * 25;
    switch (record->code) {
    case PROGRESS_EXTRACT:
        return record->totalSize ? (int)((ULONGLONG)record->totalDone * 25 / record->totalSize) : 0;
    case PROGRESS_DECIDE:
        return count ? (int)(entry / count) + 25 : 50;
    case PROGRESS_INSTALL:
        return count ? (int)(entry / count) + 50 : 75;
    case PROGRESS_REGISTRY:
        return count ? (int)(entry / count) + 75 : 100;
    }
    return -1;
}

BOOL WizardProgress(ProgressRecord* record)
{
    HWND window = s_Wizard.window;
    int position = ProgressPosition(record);
    if (window && position >= 0)
        SendMessageA(GetDlgItem(window, IDC_PROGRESS), PBM_SETPOS, (WPARAM)position, 0);
    // Keeps the window painted; the busy flag turns commands away meanwhile.
    // Without a window (a silent run) every waiting message of the thread
    // is handled.
    MSG message;
    while (PeekMessageA(&message, window, 0, 0, PM_REMOVE)) {
        if (window && IsDialogMessageA(window, &message))
            continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return FALSE;
}
