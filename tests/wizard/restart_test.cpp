// The restart page's two ways to a restart, and a restart the system
// refuses. Wine carries out a restart request by running its restart tasks,
// which perform the pending renames: each test queues one and waits for it.
#include "wizard_tests.h"

namespace {

const char kDir[] = "C:\\wizboot\\";

class Restart : public WizardTest {
  protected:
    void SetUp() override
    {
        WizardTest::SetUp();
        KeepThroughRestarts();
        WaitUntil([] { return !WinebootRunning(); }, 60000);
        CreateDirectoryA(kDir, NULL);
        source_ = std::string(kDir) + "queued.new";
        target_ = std::string(kDir) + "queued.sys";
        PrepareOutcome(Outcome::Restart);
    }
    void TearDown() override { WaitUntil([] { return !WinebootRunning(); }, 60000); }

    // A replacement waiting for the next restart.
    void QueueRename()
    {
        ASSERT_TRUE(WriteWholeFile(target_, "old"));
        ASSERT_TRUE(WriteWholeFile(source_, "new"));
        ASSERT_TRUE(MoveFileExA(source_.c_str(), target_.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING));
    }
    bool Restarted()
    {
        return WaitUntil([&] {
            std::string text;
            return !FileExistsAt(source_) && ReadWholeFile(target_, &text) && text == "new" && !WinebootRunning();
        }, 60000);
    }
    // The test build on a system of the given family, up to its restart page.
    void ToRestartPage(const std::string& name, const std::string& version)
    {
        ASSERT_NO_FATAL_FAILURE(Begin(g_Paths.hooks, name, version));
        ASSERT_NO_FATAL_FAILURE(Install());
        ASSERT_TRUE(run_.WaitForMain("&Reboot"));
    }

    std::string source_, target_;
};

// Reboot restarts at once; the driver, told so, does not restart again,
// says that the restart was asked for (not declined), and ends with
// "restart needed".
TEST_F(Restart, RebootRestartsOnce)
{
    ASSERT_NO_FATAL_FAILURE(QueueRename());
    ASSERT_NO_FATAL_FAILURE(ToRestartPage("wizboot_xp.exe", "winxp"));
    run_.Click(ID_MAIN);
    RunResult end = run_.Finish();
    EXPECT_EQ(StatusMessage(end.exitCode), 2u) << Hex8(end.exitCode);
    std::vector<std::string> lines = LogLines(end.log);
    EXPECT_EQ(CountMessages(lines, "Forcing reboot of the system"), 1) << end.log;
    EXPECT_GE(FindMessage(lines, "Reboot supressed, already requested during this run"), 0) << end.log;
    EXPECT_EQ(CountMessages(lines, "Reboot supressed, user requested no reboot"), 0) << end.log;
    EXPECT_EQ(CountMessages(lines, "ExitWindowsEx failed"), 0);
    EXPECT_TRUE(Restarted()) << "the restart tasks did not run";
}

// On the 95 family the log is closed before the restart request, with the
// status it would have ended with; nothing is logged after it.
TEST_F(Restart, RebootOnThe95FamilyClosesTheLogFirst)
{
    ASSERT_NO_FATAL_FAILURE(QueueRename());
    ASSERT_NO_FATAL_FAILURE(ToRestartPage("wizboot_98.exe", "win98"));
    run_.Click(ID_MAIN);
    RunResult end = run_.Finish();
    EXPECT_EQ(StatusMessage(end.exitCode), 2u) << Hex8(end.exitCode);
    std::vector<std::string> lines = LogLines(end.log);
    int pre95 = FindMessage(lines, "Pre95 reboot status " + Hex8(end.exitCode) + " qualifier 0x00000000");
    ASSERT_GE(pre95, 0) << end.log;
    ASSERT_LT(pre95 + 2, (int)lines.size());
    EXPECT_EQ(lines[pre95].substr(0, 8), "TLMRINST");
    EXPECT_EQ(MessageOf(lines[pre95 + 1]), "Final status will not be logged because of reboot");
    EXPECT_EQ(MessageOf(lines[pre95 + 2]).rfind("Closing installer log on ", 0), 0u) << end.log;
    EXPECT_EQ(CountMessages(lines, "Final Status"), 0) << end.log;
    EXPECT_TRUE(Restarted());
}

// Declining the restart, then answering Yes to the question: the driver
// restarts once the wizard has closed.
TEST_F(Restart, DecliningThenYesRestartsAfterTheWizard)
{
    ASSERT_NO_FATAL_FAILURE(QueueRename());
    ASSERT_NO_FATAL_FAILURE(ToRestartPage("wizboot_yes.exe", "winxp"));
    run_.Click(IDCANCEL);
    AnswerQuestion(10, IDYES);
    RunResult end = run_.Finish();
    EXPECT_EQ(StatusMessage(end.exitCode), 3u) << Hex8(end.exitCode);
    EXPECT_EQ(CountMessages(LogLines(end.log), "Forcing reboot of the system"), 1) << end.log;
    EXPECT_TRUE(Restarted());
}

// A restart request the system refuses (Wine cannot start its restart
// program) leads to the error page with the restart failure.
TEST_F(Restart, RefusedRestartShowsTheErrorPage)
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::string wineboot = std::string(system) + "\\wineboot.exe", parked = wineboot + ".off";
    ASSERT_NO_FATAL_FAILURE(ToRestartPage("wizboot_no.exe", "winxp"));
    ASSERT_TRUE(MoveFileA(wineboot.c_str(), parked.c_str())) << GetLastError();
    run_.Click(ID_MAIN);
    bool shown = run_.WaitForMain("&OK");
    Page page = run_.Read();
    ASSERT_TRUE(MoveFileA(parked.c_str(), wineboot.c_str())) << GetLastError();
    ASSERT_TRUE(shown);
    EXPECT_NE(page.status.find("Windows cannot be restarted.  Please reboot after closing this setup wizard."),
              std::string::npos) << page.status;
    run_.Click(ID_MAIN);
    RunResult end = run_.Finish();
    EXPECT_EQ(end.exitCode & 0xFFF00000, 0x81700000u) << Hex8(end.exitCode);
    EXPECT_NE(page.status.find("The error code is 817-"), std::string::npos) << page.status;
}

}  // namespace
