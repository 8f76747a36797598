// Shared by the wizard tests: their arguments, the state of the prefix that
// decides how an installation of the test build ends, and a fixture that
// starts a run and walks it to a page.
#ifndef TESTS_WIZARD_WIZARD_TESTS_H
#define TESTS_WIZARD_WIZARD_TESTS_H

#include <gtest/gtest.h>

#include "driver.h"

extern std::string g_Locale;    // en_US, ja_JP, ...; empty when not given
extern std::string g_ShotsDir;  // pictures of the pages go here when given
extern std::string g_Generic;   // acme-setup.exe; empty when not given

const LANGID kEnglish = 0x0409;

// The test build's targets: the driver stand-in (Drivers, both families'
// folders) and the data file (System32). A target that is "current" is there
// with a time stamp newer than the payload's, so it is not replaced; any
// other is removed, so it is installed.
void SetTargets(bool driverCurrent, bool dataCurrent);
// How the test build's installation ends.
enum class Outcome { Restart, Completed, UpToDate };
void PrepareOutcome(Outcome outcome);

bool KeyExists(HKEY root, const char* path);
const char* const kUninstallKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Vornak Telmura";

// The index of a language in the list the installer offers here; -1 if it
// is not offered.
int OfferedIndex(LANGID language);

class WizardTest : public testing::Test {
  protected:
    void SetUp() override;
    // Starts a copy of program named name, with the Windows version Wine
    // reports to it and the environment given; fails the test when its
    // wizard does not appear.
    void Begin(const std::string& program, const std::string& name, const std::string& version = "winxp",
               const std::vector<std::string>& environment = {}, const std::string& arguments = "/leavelog");
    // The test build on Windows XP.
    void BeginTestBuild(const std::vector<std::string>& environment = {}) { Begin(g_Paths.hooks, "wizard_xp.exe", "winxp", environment); }
    // Language page -> welcome page -> installation.
    void Next(LANGID language = kEnglish);
    void Install(LANGID language = kEnglish);
    // The question owned by the wizard, answered; checks its text.
    void AnswerQuestion(UINT textId, int button, LANGID language = kEnglish);
    // Cancels from the current page, answering Yes; the run ends cancelled.
    void CancelRun(LANGID language = kEnglish);

    WizardRun run_;
};

// Pause and resume of a test build's run inside its progress callback.
class PauseEvents {
  public:
    PauseEvents();
    ~PauseEvents();
    bool WaitPaused(DWORD timeoutMs = 30000);
    void Resume();

  private:
    HANDLE paused_, resume_;
};

#endif
