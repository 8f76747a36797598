// Walks an installer's wizard as a user who takes every default does, and
// says what each page shows: Next on the language page, Install on the
// welcome page, then the main button (OK or Reboot) of the page the
// installation ends on, or OK in the message that nothing needed installing.
// At the end it prints the exit code in words (and, after Reboot, why the
// log says the restart was not made again) and the run's log, which it
// removes.
//   wizard_walk [--shots=FOLDER] PROGRAM [ARGUMENTS...]
// With --shots each page is also pictured, through the request file that
// the calling script serves (scripts/run.sh).
#include <stdio.h>
#include <string.h>

#include "driver.h"
#include "status_words.h"

static std::string s_Shots;

static std::string OneLine(std::string text)
{
    for (char& c : text)
        if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

static void ShowPage(const WizardRun& run, const char* name, const char* pictureName)
{
    Page page = run.Read();
    printf("--- %s: \"%s\"\n", name, page.title.c_str());
    if (page.promptShown)
        printf("  %s\n  [%s]\n", OneLine(page.prompt).c_str(), WindowText(run.Item(ID_LANGUAGES)).c_str());
    if (page.welcomeShown)
        printf("  %s\n", OneLine(page.welcome).c_str());
    if (page.statusShown)
        printf("  %s\n", OneLine(page.status).c_str());
    printf("  buttons: %s | %s | %s\n", page.back.c_str(), page.main.c_str(), page.cancel.c_str());
    fflush(stdout);
    if (!s_Shots.empty()) {
        Sleep(500);
        RECT area;
        GetWindowRect(run.wizard(), &area);
        RequestPicture(s_Shots, area, pictureName);
    }
}

// Presses the main button and waits for another page, the end of the
// wizard, or a message box.
static void PressMain(const WizardRun& run)
{
    std::string before = WindowText(run.Item(ID_MAIN));
    run.Click(ID_MAIN);
    WaitUntil([&] {
        if (!IsWindow(run.wizard()) || run.FindBox())
            return true;
        return IsWindowEnabled(run.Item(ID_MAIN)) && WindowText(run.Item(ID_MAIN)) != before;
    }, 600000);
}

int main(int argc, char** argv)
{
    int first = 1;
    if (argc > 1 && strncmp(argv[1], "--shots=", 8) == 0) {
        s_Shots = WindowsPath(argv[1] + 8);
        first = 2;
    }
    if (argc <= first) {
        fprintf(stderr, "usage: wizard_walk [--shots=FOLDER] PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    std::string program = WindowsPath(argv[first]);
    std::string arguments;
    for (int i = first + 1; i < argc; ++i)
        arguments += std::string(i > first + 1 ? " " : "") + argv[i];
    g_Paths.work = program.substr(0, program.find_last_of('\\') + 1);

    WizardRun run;
    bool pressedLast = false;  // OK or Reboot on the page the installation ended on
    if (run.Start(program, arguments)) {
        ShowPage(run, "language page", "1-language");
        PressMain(run);
        ShowPage(run, "welcome page", "2-welcome");
        PressMain(run);
        if (IsWindow(run.wizard())) {
            ShowPage(run, "last page", "3-last");
            PressMain(run);
            pressedLast = true;
        }
        if (HWND box = run.WaitForBox(NULL, 3000)) {
            printf("--- message: %s\n", OneLine(WizardRun::BoxText(box)).c_str());
            WizardRun::Answer(box, IDOK);
        }
    } else {
        printf("no wizard appeared\n");
    }
    RunResult end = run.Finish(600000);
    if (end.timedOut)
        printf("still running after 10 minutes: ended it\n");
    printf("result: %s\n", StatusInWords(end.exitCode, false).c_str());
    // Only the restart page ends a run that needs a restart: its button was Reboot.
    if (pressedLast && end.exitCode >> 20 == 2)
        printf("Reboot was pressed: the wizard itself asked Windows to restart (under Wine the restart's work is\n"
               "done while programs keep running) and told the installer not to restart a second time. The exit\n"
               "code keeps \"restart needed\": message id 3, \"restarting\", is set only when the installer restarts\n"
               "Windows after the wizard has closed (Cancel on the restart page, then Yes).\n%s\n",
               end.log.find("Reboot supressed, already requested") != std::string::npos
                   ? "So the log ends with \"Reboot supressed, already requested during this run\"."
                   : "On the 95 family the wizard closes the log before its restart request: the log ends there.");
    if (end.logExists)
        printf("log %s:\n%s", LogPathOf(program).c_str(), end.log.c_str());
    else
        printf("no log at %s\n", LogPathOf(program).c_str());
    return end.started ? 0 : 1;
}
