// Drives an installer's wizard as a user does, from another process: finds
// the dialog and its question boxes, clicks buttons, presses keys, and reads
// back what the real controls show.
#ifndef TESTS_WIZARD_DRIVER_H
#define TESTS_WIZARD_DRIVER_H

#include <windows.h>

#include <string>
#include <vector>

#include "e2e.h"

// Controls of the wizard.
enum {
    ID_TITLE = 1000,
    ID_VERSION = 1001,
    ID_PROGRESS = 1003,
    ID_MAIN = 1004,
    ID_WELCOME = 1005,
    ID_LANGUAGES = 1006,
    ID_STATUS = 1007,
    ID_BACK = 1009,
    ID_PROMPT = 1010
};

// What the wizard shows at one moment.
struct Page {
    std::string title, main, back, cancel, status, welcome, prompt, version;
    bool mainEnabled = false, backEnabled = false, cancelEnabled = false;
    bool listShown = false, promptShown = false, welcomeShown = false, statusShown = false, barShown = false;
    int bar = -1;
    int selection = -1;  // of the language list
};

class WizardRun {
  public:
    ~WizardRun();
    // Starts program with the extra environment variables (NAME=VALUE) and
    // waits for its wizard; false when either fails.
    bool Start(const std::string& program, const std::string& arguments, const std::vector<std::string>& environment = {});
    HWND wizard() const { return wizard_; }
    DWORD processId() const { return process_.dwProcessId; }

    HWND Item(int id) const { return GetDlgItem(wizard_, id); }
    Page Read() const;
    // Waits until the main button reads label (the page has changed).
    bool WaitForMain(const std::string& label, DWORD timeoutMs = 30000) const;

    // Posts a click on a button, as the mouse gives one.
    void Click(int id) const;
    // Sends the command of a control straight to the dialog, as a click on
    // it would, whether or not the control is enabled.
    bool SendCommand(int id) const;
    // Presses and releases a key in the control that has the focus.
    void PressKey(UINT key) const;
    // The close box of the title bar.
    void PressCloseBox() const;
    // Chooses the list entry at index, as a user's pick from the list does.
    void ChooseLanguage(int index) const;
    // Opens the language list; its list part, NULL when none appears.
    HWND OpenLanguageList() const;

    // A message box of this run (owned by owner when given) that appears
    // within timeoutMs; NULL when none does.
    HWND WaitForBox(HWND owner, DWORD timeoutMs = 20000) const;
    HWND FindBox() const;
    static std::string BoxText(HWND box);
    static void Answer(HWND box, int button);

    // Waits for the end of the run and reads its log; the log is removed.
    RunResult Finish(DWORD timeoutMs = 60000);

  private:
    PROCESS_INFORMATION process_ = {};
    std::string program_;
    HWND wizard_ = NULL;
};

std::string WindowText(HWND window);
// A string of the installer's tables in the given language (default English).
std::string Local(UINT id, LANGID language = 0x0409);
// Asks the script that runs this program for a picture of area (screen
// coordinates), named name: writes "NAME X Y WIDTH HEIGHT" to
// folder\request.txt and waits until the script has taken the picture from
// the display and removed the request.
bool RequestPicture(const std::string& folder, RECT area, const std::string& name);
// Waits at most timeoutMs for condition; true when it came true.
template <class Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 20000)
{
    DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(30);
    }
    return true;
}

#endif
