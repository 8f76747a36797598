// The forced restart at the end of a run that needs one. Wine carries out a
// restart request by running its restart tasks (pending renames, the
// [rename] section of WININIT.INI) in the background, so these tests queue
// renames, let the installer restart "the system" and wait, bounded, for the
// renames to happen. They run in a prefix of their own.
#include <gtest/gtest.h>

#include "e2e.h"

namespace {

const char kDir[] = "C:\\e2eboot\\";

std::string Contents(const std::string& path)
{
    std::string text;
    return ReadWholeFile(path, &text) ? text : std::string("<missing>");
}

// Waits at most timeoutMs for the restart tasks: until the source is gone,
// the target holds what the source held, and no wineboot runs any more.
bool WaitForRename(const std::string& source, const std::string& target, const std::string& expected,
                   DWORD timeoutMs = 60000)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (!FileExistsAt(source) && Contents(target) == expected && !WinebootRunning())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        Sleep(200);
    }
}

// Lets a restart that may still be running finish before the next test.
void WaitForRestartTasks()
{
    DWORD start = GetTickCount();
    while (WinebootRunning() && GetTickCount() - start < 60000)
        Sleep(200);
}

std::string PendingRenames()
{
    HKEY key;
    std::string value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_READ,
                      &key) != ERROR_SUCCESS)
        return value;
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, NULL, &size) == ERROR_SUCCESS &&
        size > 0) {
        value.resize(size);
        RegQueryValueExA(key, "PendingFileRenameOperations", NULL, &type, (BYTE*)&value[0], &size);
    }
    RegCloseKey(key);
    return value;
}

class Restart : public testing::Test {
  protected:
    void SetUp() override
    {
        if (g_Paths.hooks.empty())
            GTEST_SKIP() << "no --hooks= path given";
        KeepThroughRestarts();
        WaitForRestartTasks();
        CreateDirectoryA(kDir, NULL);
    }

    void TearDown() override { WaitForRestartTasks(); }

    // A new file and an old target, the new one queued to replace the old
    // at the next restart.
    void QueueRename(const std::string& source, const std::string& target)
    {
        ASSERT_TRUE(WriteWholeFile(target, "old " + target));
        ASSERT_TRUE(WriteWholeFile(source, "new " + target));
        ASSERT_TRUE(MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING))
            << GetLastError();
        ASSERT_NE(PendingRenames().find("e2eboot"), std::string::npos) << "the rename is not pending";
    }

    // The test build of the installer, in a visual run whose install
    // sequence ends with "restart needed" unless actions say otherwise.
    RunResult RunRestarting(const std::string& name, const std::string& version, const std::string& arguments,
                            const std::string& actions = "InstallImages=restart")
    {
        std::string copy = PrepareProgram(g_Paths.hooks, name, version);
        EXPECT_FALSE(copy.empty());
        RunResult run = RunProgram(copy, arguments, {"E2E_HOOKS=" + actions});
        EXPECT_TRUE(run.started);
        EXPECT_FALSE(run.timedOut);
        EXPECT_EQ(InconsistentStatusLine(run.log), "");
        return run;
    }
};

// NT family: status 3 (restarting) from winmain is the exit code and the
// final status; the restart carries out the pending rename.
TEST_F(Restart, NTRestartsAndThePendingRenameIsCarriedOut)
{
    std::string source = std::string(kDir) + "nt.new", target = std::string(kDir) + "nt.sys";
    QueueRename(source, target);
    DeleteCompletionRecord("e2eboot_xp");
    DeleteFileA(LogPathOf("e2eboot_xp.exe").c_str());

    RunResult run = RunRestarting("e2eboot_xp.exe", "winxp", "/leavelog /leavestatus");
    EXPECT_EQ(run.exitCode & 0xFFFF0000, 0x00340000u) << Hex8(run.exitCode);
    std::vector<std::string> lines = LogLines(run.log);
    int finished = FindMessage(lines, "Finished, files upgraded and reboot needed");
    ASSERT_GE(finished, 0) << run.log;
    int restarting = FindMessage(lines, "Status " + Hex8(run.exitCode) + " Qualifier 0x00000000", finished);
    int forcing = FindMessage(lines, "Forcing reboot of the system", finished);
    int final = FindMessage(lines, "Final Status " + Hex8(run.exitCode) + " Qualifier 0x00000000", finished);
    EXPECT_GT(restarting, finished);
    EXPECT_GT(forcing, restarting);
    EXPECT_GT(final, forcing) << run.log;
    EXPECT_EQ(CountMessages(lines, "Pre95 reboot status"), 0);
    EXPECT_EQ(CountMessages(lines, "ExitWindowsEx failed"), 0);
    DWORD status = 0, qualifier = 1;
    ASSERT_TRUE(ReadCompletionRecord("e2eboot_xp", &status, &qualifier));
    EXPECT_EQ(status, run.exitCode);
    EXPECT_EQ(qualifier, 0u);

    EXPECT_TRUE(WaitForRename(source, target, "new " + target))
        << "source " << (FileExistsAt(source) ? "still there" : "gone") << ", target: " << Contents(target);
    EXPECT_EQ(PendingRenames().find("e2eboot"), std::string::npos);
    DeleteFileA(LogPathOf("e2eboot_xp.exe").c_str());
}

// 95 family: the log is closed before the restart, with the status it would
// have ended with; the final status is not logged. The restart also carries
// out the [rename] section of WININIT.INI.
TEST_F(Restart, Pre95ClosesTheLogBeforeTheRestart)
{
    std::string source = std::string(kDir) + "w98.new", target = std::string(kDir) + "w98.vxd";
    QueueRename(source, target);
    std::string iniSource = std::string(kDir) + "ini.new", iniTarget = std::string(kDir) + "ini.vxd";
    ASSERT_TRUE(WriteWholeFile(iniTarget, "old ini"));
    ASSERT_TRUE(WriteWholeFile(iniSource, "new ini"));
    char windows[MAX_PATH];
    GetWindowsDirectoryA(windows, MAX_PATH);
    std::string wininit = std::string(windows) + "\\wininit.ini";
    std::string wininitBak = std::string(windows) + "\\wininit.bak";
    DeleteFileA(wininitBak.c_str());
    ASSERT_TRUE(WriteWholeFile(wininit, "[rename]\r\n" + iniTarget + "=" + iniSource + "\r\n"));

    // A log that is there before the run survives the close before the
    // restart, so what was written can be read.
    std::string log = LogPathOf("e2eboot_98.exe");
    ASSERT_TRUE(WriteWholeFile(log, ""));
    RunResult run = RunRestarting("e2eboot_98.exe", "win98", "/leavestatus");
    EXPECT_EQ(run.exitCode & 0xFFFF0000, 0x00340000u) << Hex8(run.exitCode);
    ASSERT_TRUE(run.logExists);
    std::vector<std::string> lines = LogLines(run.log);
    int pre95 = FindMessage(lines, "Pre95 reboot status ");
    ASSERT_GE(pre95, 0) << run.log;
    EXPECT_EQ(MessageOf(lines[pre95]), "Pre95 reboot status " + Hex8(run.exitCode) + " qualifier 0x00000000");
    ASSERT_LT(pre95 + 3, (int)lines.size());
    EXPECT_EQ(MessageOf(lines[pre95 + 1]), "Final status will not be logged because of reboot");
    EXPECT_EQ(MessageOf(lines[pre95 + 2]).rfind("Closing installer log on ", 0), 0u) << lines[pre95 + 2];
    EXPECT_EQ(CountMessages(lines, "Final Status"), 0) << run.log;
    EXPECT_EQ(CountMessages(lines, "Forcing reboot"), 0) << "logged after the log was closed";
    DWORD status = 0, qualifier = 1;
    ASSERT_TRUE(ReadCompletionRecord("e2eboot_98", &status, &qualifier));
    EXPECT_EQ(status, run.exitCode);

    EXPECT_TRUE(WaitForRename(source, target, "new " + target)) << "target: " << Contents(target);
    EXPECT_TRUE(WaitForRename(iniSource, iniTarget, "new ini")) << "target: " << Contents(iniTarget);
    EXPECT_FALSE(FileExistsAt(wininit));
    EXPECT_TRUE(FileExistsAt(wininitBak));
    DeleteFileA(wininitBak.c_str());
    DeleteFileA(log.c_str());
}

// 95 family: a log the run created itself is gone before the restart.
TEST_F(Restart, Pre95DeletesANewLogBeforeTheRestart)
{
    std::string log = LogPathOf("e2eboot_me.exe");
    DeleteFileA(log.c_str());
    RunResult run = RunRestarting("e2eboot_me.exe", "winme", "");
    EXPECT_EQ(run.exitCode & 0xFFFF0000, 0x00340000u) << Hex8(run.exitCode);
    EXPECT_FALSE(run.logExists) << run.log;
}

// NT family: the restart request runs with the shutdown privilege enabled,
// also when the token had it disabled.
TEST_F(Restart, NTEnablesTheShutdownPrivilege)
{
    RunResult run = RunRestarting("e2eboot_priv.exe", "winxp", "/noreboot /leavelog", "ProductAfterInstall=reboot");
    std::vector<std::string> lines = LogLines(run.log);
    int forcing = FindMessage(lines, "Forcing reboot of the system");
    ASSERT_GE(forcing, 0) << run.log;
    EXPECT_GT(FindMessage(lines, "shutdown privilege on", forcing), forcing) << run.log;
    EXPECT_EQ(StatusMessage(run.exitCode), 0u) << Hex8(run.exitCode);
    DeleteFileA(LogPathOf("e2eboot_priv.exe").c_str());
}

// 95 family: when the restart request is refused (here: Wine cannot start
// its restart program), the failed run keeps the log it would have deleted,
// and the reopened log ends with the failure.
TEST_F(Restart, Pre95KeepsItsLogWhenTheRestartIsRefused)
{
    char system[MAX_PATH];
    GetSystemDirectoryA(system, MAX_PATH);
    std::string wineboot = std::string(system) + "\\wineboot.exe", parked = wineboot + ".off";
    std::string log = LogPathOf("e2eboot_95x.exe");
    DeleteFileA(log.c_str());
    ASSERT_TRUE(MoveFileA(wineboot.c_str(), parked.c_str())) << GetLastError();
    RunResult run = RunRestarting("e2eboot_95x.exe", "win95", "");
    ASSERT_TRUE(MoveFileA(parked.c_str(), wineboot.c_str())) << GetLastError();

    EXPECT_EQ(run.exitCode & 0xFFFF0000, 0x81710000u) << Hex8(run.exitCode);
    ASSERT_TRUE(run.logExists) << "a failed run keeps its log";
    std::vector<std::string> lines = LogLines(run.log);
    int pre95 = FindMessage(lines, "Final status will not be logged because of reboot");
    ASSERT_GE(pre95, 0) << run.log;
    int reopened = FindMessage(lines, "Starting E2EBOOT_95X installer on ", pre95);
    EXPECT_GT(reopened, pre95) << run.log;
    EXPECT_GT(FindMessage(lines, "Final Status " + Hex8(run.exitCode), reopened), reopened) << run.log;
    DeleteFileA(log.c_str());
}

}  // namespace
