#include "driver.h"

#include <commctrl.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "language.h"

std::string WindowText(HWND window)
{
    char text[1024] = "";
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 5000, &length))
        return "<no answer>";
    return std::string(text, length < sizeof text ? length : 0);
}

std::string Local(UINT id, LANGID language)
{
    return LoadStringInLanguage(id, language);
}

WizardRun::~WizardRun()
{
    if (process_.hProcess) {
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT)
            TerminateProcess(process_.hProcess, 0xDEAD);
        CloseHandle(process_.hProcess);
        CloseHandle(process_.hThread);
    }
}

struct WindowSearch {
    DWORD processId;
    HWND except;
    HWND owner;  // NULL: any
    HWND found;
};

// A visible window of the process, of that window class.
static bool IsShownWindowOf(HWND window, DWORD processId, const char* className)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    char name[16];
    return owner == processId && IsWindowVisible(window) && GetClassNameA(window, name, sizeof name) &&
           lstrcmpiA(name, className) == 0;
}

static const char kDialogClass[] = "#32770";  // dialogs and message boxes

static BOOL CALLBACK FindWizardWindow(HWND window, LPARAM param)
{
    WindowSearch* search = (WindowSearch*)param;
    if (IsShownWindowOf(window, search->processId, kDialogClass) && GetDlgItem(window, ID_PROGRESS)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK FindBoxWindow(HWND window, LPARAM param)
{
    WindowSearch* search = (WindowSearch*)param;
    if (window != search->except && IsShownWindowOf(window, search->processId, kDialogClass) &&
        !GetDlgItem(window, ID_PROGRESS) && (!search->owner || GetWindow(window, GW_OWNER) == search->owner)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

bool WizardRun::Start(const std::string& program, const std::string& arguments,
                      const std::vector<std::string>& environment)
{
    program_ = program;
    std::string command = "\"" + program + "\" " + arguments;
    std::vector<char> line(command.begin(), command.end());
    line.push_back(0);
    // The child inherits these; they are taken back once it runs.
    for (const std::string& pair : environment)
        SetEnvironmentVariableA(pair.substr(0, pair.find('=')).c_str(), pair.substr(pair.find('=') + 1).c_str());
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof startup);
    startup.cb = sizeof startup;
    BOOL started = CreateProcessA(program.c_str(), line.data(), NULL, NULL, FALSE, 0, NULL, g_Paths.work.c_str(),
                                  &startup, &process_);
    for (const std::string& pair : environment)
        SetEnvironmentVariableA(pair.substr(0, pair.find('=')).c_str(), NULL);
    if (!started)
        return false;
    // setup.exe asks whether to go on before it shows the wizard: Yes.
    WindowSearch search = {process_.dwProcessId, NULL, NULL, NULL};
    std::vector<HWND> answered;
    WaitUntil([&] {
        EnumWindows(FindWizardWindow, (LPARAM)&search);
        if (!search.found) {
            WindowSearch box = {process_.dwProcessId, NULL, NULL, NULL};
            EnumWindows(FindBoxWindow, (LPARAM)&box);
            if (box.found && std::find(answered.begin(), answered.end(), box.found) == answered.end()) {
                answered.push_back(box.found);
                Answer(box.found, IDYES);
            }
        }
        return search.found != NULL || WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0;
    });
    wizard_ = search.found;
    return wizard_ != NULL;
}

Page WizardRun::Read() const
{
    Page page;
    page.title = WindowText(wizard_);
    page.main = WindowText(Item(ID_MAIN));
    page.back = WindowText(Item(ID_BACK));
    page.cancel = WindowText(Item(IDCANCEL));
    page.status = WindowText(Item(ID_STATUS));
    page.welcome = WindowText(Item(ID_WELCOME));
    page.prompt = WindowText(Item(ID_PROMPT));
    page.version = WindowText(Item(ID_VERSION));
    page.mainEnabled = IsWindowEnabled(Item(ID_MAIN));
    page.backEnabled = IsWindowEnabled(Item(ID_BACK));
    page.cancelEnabled = IsWindowEnabled(Item(IDCANCEL));
    page.listShown = IsWindowVisible(Item(ID_LANGUAGES));
    page.promptShown = IsWindowVisible(Item(ID_PROMPT));
    page.welcomeShown = IsWindowVisible(Item(ID_WELCOME));
    page.statusShown = IsWindowVisible(Item(ID_STATUS));
    page.barShown = IsWindowVisible(Item(ID_PROGRESS));
    DWORD_PTR value = 0;
    if (SendMessageTimeoutA(Item(ID_PROGRESS), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 5000, &value))
        page.bar = (int)value;
    if (SendMessageTimeoutA(Item(ID_LANGUAGES), CB_GETCURSEL, 0, 0, SMTO_ABORTIFHUNG, 5000, &value))
        page.selection = (int)(LRESULT)value;
    return page;
}

bool WizardRun::WaitForMain(const std::string& label, DWORD timeoutMs) const
{
    return WaitUntil([&] { return WindowText(Item(ID_MAIN)) == label; }, timeoutMs);
}

void WizardRun::Click(int id) const
{
    PostMessageA(Item(id), BM_CLICK, 0, 0);
}

bool WizardRun::SendCommand(int id) const
{
    DWORD_PTR result;
    return SendMessageTimeoutA(wizard_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)Item(id), SMTO_ABORTIFHUNG,
                               5000, &result) != 0;
}

void WizardRun::PressKey(UINT key) const
{
    GUITHREADINFO info;
    memset(&info, 0, sizeof info);
    info.cbSize = sizeof info;
    HWND target = GetGUIThreadInfo(process_.dwThreadId, &info) && info.hwndFocus ? info.hwndFocus : wizard_;
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

void WizardRun::PressCloseBox() const
{
    PostMessageA(wizard_, WM_SYSCOMMAND, SC_CLOSE, 0);
}

void WizardRun::ChooseLanguage(int index) const
{
    HWND list = Item(ID_LANGUAGES);
    DWORD_PTR result;
    SendMessageTimeoutA(list, CB_SETCURSEL, index, 0, SMTO_ABORTIFHUNG, 5000, &result);
    PostMessageA(wizard_, WM_COMMAND, MAKEWPARAM(ID_LANGUAGES, CBN_SELCHANGE), (LPARAM)list);
}

static BOOL CALLBACK FindOpenList(HWND window, LPARAM param)
{
    WindowSearch* search = (WindowSearch*)param;
    if (IsShownWindowOf(window, search->processId, "ComboLBox"))
        search->found = window;
    return !search->found;
}

HWND WizardRun::OpenLanguageList() const
{
    SendMessageA(Item(ID_LANGUAGES), CB_SHOWDROPDOWN, TRUE, 0);
    WindowSearch search = {process_.dwProcessId, NULL, NULL, NULL};
    WaitUntil([&] {
        EnumWindows(FindOpenList, (LPARAM)&search);
        return search.found != NULL;
    });
    return search.found;
}

HWND WizardRun::FindBox() const
{
    WindowSearch search = {process_.dwProcessId, wizard_, NULL, NULL};
    EnumWindows(FindBoxWindow, (LPARAM)&search);
    return search.found;
}

HWND WizardRun::WaitForBox(HWND owner, DWORD timeoutMs) const
{
    WindowSearch search = {process_.dwProcessId, wizard_, owner, NULL};
    WaitUntil([&] {
        EnumWindows(FindBoxWindow, (LPARAM)&search);
        return search.found != NULL;
    }, timeoutMs);
    return search.found;
}

std::string WizardRun::BoxText(HWND box)
{
    return WindowText(GetDlgItem(box, 0xFFFF));
}

void WizardRun::Answer(HWND box, int button)
{
    PostMessageA(GetDlgItem(box, button), BM_CLICK, 0, 0);
}

RunResult WizardRun::Finish(DWORD timeoutMs)
{
    RunResult result;
    result.started = process_.hProcess != NULL;
    if (!result.started)
        return result;
    if (WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        result.timedOut = true;
        TerminateProcess(process_.hProcess, 0xDEAD);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    GetExitCodeProcess(process_.hProcess, &result.exitCode);
    std::string log = LogPathOf(program_);
    result.logExists = ReadWholeFile(log, &result.log);
    DeleteFileA(log.c_str());
    return result;
}

bool RequestPicture(const std::string& folder, RECT area, const std::string& name)
{
    char request[200];
    snprintf(request, sizeof request, "%s %ld %ld %ld %ld\n", name.c_str(), area.left, area.top,
             area.right - area.left, area.bottom - area.top);
    std::string path = folder + "\\request.txt";
    std::string pending = path + ".new";
    if (!WriteWholeFile(pending, request) || !MoveFileA(pending.c_str(), path.c_str()))
        return false;
    return WaitUntil([&] { return !FileExistsAt(path); }, 30000);
}
