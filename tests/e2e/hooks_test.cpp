// The driver's branches that setup.exe's own front-end does not reach, run
// through a test build of the installer (hookprog.cpp) whose hooks and engine
// passes do what E2E_HOOKS asks and log each call.
#include <gtest/gtest.h>

#include "e2e.h"

namespace {

class Hooks : public testing::Test {
  protected:
    void SetUp() override
    {
        if (g_Paths.hooks.empty())
            GTEST_SKIP() << "no --hooks= path given";
    }

    // Runs a copy named name reporting version (Windows XP unless given),
    // with its old log removed, unless keepOldLog.
    RunResult Run(const std::string& name, const std::string& arguments, const std::string& actions,
                  const std::string& version = "winxp", bool keepOldLog = false)
    {
        std::string copy = PrepareProgram(g_Paths.hooks, name, version);
        EXPECT_FALSE(copy.empty()) << name;
        if (!keepOldLog)
            DeleteFileA(LogPathOf(copy).c_str());
        RunResult result = RunProgram(copy, arguments, {"E2E_HOOKS=" + actions});
        EXPECT_TRUE(result.started) << name;
        EXPECT_FALSE(result.timedOut) << name;
        logs_.push_back(LogPathOf(copy));
        EXPECT_EQ(InconsistentStatusLine(result.log), "");
        return result;
    }

    void TearDown() override
    {
        for (const std::string& log : logs_)
            DeleteFileA(log.c_str());
    }

    std::vector<std::string> logs_;
};

// The hooks and passes that ran, in order, as "Name" items joined by ','.
std::string Calls(const std::string& log)
{
    std::string calls;
    for (const std::string& line : LogLines(log)) {
        std::string message = MessageOf(line);
        std::string name;
        if (message.rfind("hook ", 0) == 0 || message.rfind("pass ", 0) == 0)
            name = message.substr(5);
        else if (message == "Attempting Deletion of cached volume info")  // the library's own pass
            name = "RemoveCachedVolumeInfo";
        if (!name.empty())
            calls += (calls.empty() ? "" : ",") + name;
    }
    return calls;
}

std::string FinalStatus(const std::string& log)
{
    // The last one: a log may hold earlier runs.
    std::vector<std::string> lines = LogLines(log);
    for (int i = (int)lines.size() - 1; i >= 0; --i)
        if (MessageOf(lines[i]).rfind("Final Status ", 0) == 0)
            return MessageOf(lines[i]);
    return std::string();
}

const char kVisualSequence[] =
    "ProductStartup,ProductPrecheck,ProductInteractive,CreateImages,DecideUpgrades,ProductBeforeInstall,"
    "ProductHasUpgrades,InstallImages,ProductWantsRegistry,RunRegistryScript,ProductAfterInstall,"
    "RemoveCachedVolumeInfo,CleanupImages full=0,ProductFinish";
const char kSilentSequence[] =
    "ProductPrecheck,ProductSilentAllowed,CreateImages,DecideUpgrades,ProductBeforeInstall,"
    "ProductHasUpgrades,InstallImages,ProductWantsRegistry,RunRegistryScript,ProductAfterInstall,"
    "RemoveCachedVolumeInfo,CleanupImages full=0";

TEST_F(Hooks, VisualAndSilentRunsCallTheHooksInOrder)
{
    RunResult visual = Run("e2ehook_visual.exe", "/leavelog", "");
    EXPECT_EQ(Calls(visual.log), kVisualSequence);
    EXPECT_EQ(visual.exitCode & 0xFFFF0000, 0x00040000u) << Hex8(visual.exitCode);
    std::vector<std::string> lines = LogLines(visual.log);
    EXPECT_EQ(CountMessages(lines, "Unforced visual install, leave logfile on completion, allow reboots. "
                                   "not autorun launched"),
              1);
    EXPECT_EQ(CountMessages(lines, "Finished, files upgraded"), 0);

    RunResult silent = Run("e2ehook_silent.exe", "/silent /leavelog /noreboot /autorun", "");
    EXPECT_EQ(Calls(silent.log), kSilentSequence);
    EXPECT_EQ(CountMessages(LogLines(silent.log), "Unforced silent install, leave logfile on completion, "
                                                   "don't allow reboots. autorun launched"),
              1);

    // Options are substrings of the upper-cased command line.
    RunResult forced = Run("e2ehook_forced.exe", "-Force xleavelogx", "ProductStartup=0");
    EXPECT_EQ(CountMessages(LogLines(forced.log), "Forced visual install, leave logfile on completion, "
                                                   "allow reboots. not autorun launched"),
              1);
}

TEST_F(Hooks, StartupReturningZeroSkipsTheWholeSequence)
{
    RunResult run = Run("e2ehook_startup.exe", "/leavelog", "ProductStartup=0");
    EXPECT_EQ(Calls(run.log), "ProductStartup");
    EXPECT_EQ(run.exitCode & 0xFFF00000, 0u) << Hex8(run.exitCode);
}

TEST_F(Hooks, PrecheckReturningZeroStillFinishes)
{
    RunResult run = Run("e2ehook_precheck.exe", "/leavelog", "ProductPrecheck=0");
    EXPECT_EQ(Calls(run.log), "ProductStartup,ProductPrecheck,ProductFinish");
    EXPECT_EQ(run.exitCode & 0xFFF00000, 0u) << Hex8(run.exitCode);
}

// Win32s passes a pre-check that lets it through, but the environment
// refuses it: 2052 from the install module, and no wizard.
TEST_F(Hooks, EnvironmentRefusesWin32s)
{
    RunResult run = Run("e2ehook_win31.exe", "/leavelog", "", "win31");
    EXPECT_EQ(run.exitCode & 0xFFFF0000, 0x80410000u) << Hex8(run.exitCode);
    EXPECT_EQ(Calls(run.log), "ProductStartup,ProductPrecheck,ProductFinish");
    EXPECT_EQ(CountMessages(LogLines(run.log), "Cannot run on Win32s - must be NT, 95 or 2K/XP"), 1) << run.log;
}

TEST_F(Hooks, OldShellIsNotedAndTheRunGoesOn)
{
    RunResult run = Run("e2ehook_nt351.exe", "/leavelog", "", "nt351");
    EXPECT_EQ(CountMessages(LogLines(run.log), "Installing on old shell - CTL3D needed"), 1) << run.log;
    EXPECT_EQ(Calls(run.log), kVisualSequence);
}

// An access violation in a hook: three exception lines with the position of
// the last logging call, status 2050 with the exception code, the rest of the
// guarded sequence skipped, and a normal end.
TEST_F(Hooks, AccessViolationInAHookEndsAsInternalError)
{
    DeleteCompletionRecord("e2ehook_fault");
    RunResult run = Run("e2ehook_fault.exe", "/leavelog /leavestatus", "ProductInteractive=fault");
    EXPECT_EQ(run.exitCode & 0xFFFF0000, 0x80240000u) << Hex8(run.exitCode);
    EXPECT_EQ(Calls(run.log), "ProductStartup,ProductPrecheck,ProductInteractive") << "ProductFinish is skipped";

    std::vector<std::string> lines = LogLines(run.log);
    int raise = FindMessage(lines, "raising an access violation");
    ASSERT_GE(raise, 0) << run.log;
    ASSERT_LT(raise + 3, (int)lines.size());
    EXPECT_EQ(MessageOf(lines[raise + 1]), "!!! EXCEPTION EXCEPTION EXCEPTION !!!");
    EXPECT_EQ(MessageOf(lines[raise + 2]), "WinMain exception code 0xC0000005");
    EXPECT_EQ(MessageOf(lines[raise + 3]),
              "Last know position in tests/e2e/hookprog.cpp, line " + std::to_string(LineNumberOf(lines[raise])));
    EXPECT_EQ(FinalStatus(run.log), "Final Status " + Hex8(run.exitCode) + " Qualifier 0xC0000005");
    EXPECT_EQ(CountMessages(lines, "Forcing reboot"), 0);

    DWORD status = 0, qualifier = 0;
    ASSERT_TRUE(ReadCompletionRecord("e2ehook_fault", &status, &qualifier));
    EXPECT_EQ(status, run.exitCode);
    EXPECT_EQ(qualifier, 0xC0000005u);
}

// A restart-needed status is frozen out by a later exception: no restart.
TEST_F(Hooks, ExceptionAfterRestartNeededPreventsTheRestart)
{
    RunResult run = Run("e2ehook_late.exe", "/leavelog", "InstallImages=restart;ProductAfterInstall=fault");
    EXPECT_EQ(run.exitCode & 0xFFFF0000, 0x80240000u) << Hex8(run.exitCode);
    std::vector<std::string> lines = LogLines(run.log);
    int needed = FindMessage(lines, "Status 0x0020");
    int exception = FindMessage(lines, "!!! EXCEPTION EXCEPTION EXCEPTION !!!");
    EXPECT_GE(needed, 0) << run.log;
    EXPECT_GT(exception, needed);
    EXPECT_EQ(CountMessages(lines, "Finished, files upgraded and reboot needed"), 0);
    EXPECT_EQ(CountMessages(lines, "Forcing reboot"), 0);
    EXPECT_EQ(FinalStatus(run.log), "Final Status " + Hex8(run.exitCode) + " Qualifier 0xC0000005");
}

TEST_F(Hooks, RestartNeededInASilentRunRegistersTheUninstallerInstead)
{
    RunResult run = Run("e2ehook_rsilent.exe", "/silent /leavelog", "InstallImages=restart");
    EXPECT_EQ(StatusMessage(run.exitCode), 2u) << Hex8(run.exitCode);
    std::vector<std::string> lines = LogLines(run.log);
    int finished = FindMessage(lines, "Finished, files upgraded and reboot needed");
    ASSERT_GE(finished, 0) << run.log;
    EXPECT_EQ(FindMessage(lines, "hook RegisterUninstaller", finished), finished + 1);
    EXPECT_EQ(FindMessage(lines, "Reboot supressed, silent install", finished), finished + 2);
    EXPECT_EQ(CountMessages(lines, "Forcing reboot"), 0);
    EXPECT_EQ(FinalStatus(run.log), "Final Status " + Hex8(run.exitCode) + " Qualifier 0x00000000");
}

TEST_F(Hooks, RestartNeededWithNoRebootOnlySaysSo)
{
    RunResult run = Run("e2ehook_rnoboot.exe", "/noreboot /leavelog", "InstallImages=restart");
    EXPECT_EQ(StatusMessage(run.exitCode), 2u) << Hex8(run.exitCode);
    std::vector<std::string> lines = LogLines(run.log);
    int finished = FindMessage(lines, "Finished, files upgraded and reboot needed");
    ASSERT_GE(finished, 0) << run.log;
    EXPECT_EQ(FindMessage(lines, "Reboot supressed, user requested no reboot", finished), finished + 1);
    EXPECT_EQ(CountMessages(lines, "hook RegisterUninstaller"), 0);
    EXPECT_EQ(CountMessages(lines, "Forcing reboot"), 0);
}

// A crash outside the driver's guard ends the program at once: the test
// prefixes have Wine's crash dialog off, which would otherwise wait for a
// click until the time-out.
TEST_F(Hooks, CrashOutsideTheGuardEndsAtOnce)
{
    std::string copy = PrepareProgram(g_Paths.hooks, "e2ehook_crash.exe", "winxp");
    logs_.push_back(LogPathOf(copy));
    RunResult run = RunProgram(copy, "/silent", {"E2E_HOOKS=InstallImages=restart;RegisterUninstaller=fault"}, 20000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0xC0000005u) << Hex8(run.exitCode);
}

// A cancelled run is kept to itself like a successful one: its log goes
// unless LEAVELOG.
TEST_F(Hooks, CancelledRunDeletesItsLogUnlessLeaveLog)
{
    RunResult run = Run("e2ehook_cancel.exe", "", "ProductPrecheck=cancel");
    EXPECT_EQ(run.exitCode & 0xFFF00000, 0x80100000u) << Hex8(run.exitCode);
    EXPECT_FALSE(run.logExists);

    RunResult kept = Run("e2ehook_cancel.exe", "/leavelog", "ProductPrecheck=cancel");
    EXPECT_EQ(kept.exitCode & 0xFFF00000, 0x80100000u) << Hex8(kept.exitCode);
    ASSERT_TRUE(kept.logExists);
    EXPECT_EQ(Calls(kept.log), "ProductStartup,ProductPrecheck,ProductFinish");
    EXPECT_EQ(FinalStatus(kept.log), "Final Status " + Hex8(kept.exitCode) + " Qualifier 0x00000000");
}

// Who keeps the log: a failed run always; a successful run only with
// LEAVELOG; a log that existed before the run is appended to and kept.
TEST_F(Hooks, LogKeepRules)
{
    RunResult success = Run("e2ehook_keep.exe", "", "");
    EXPECT_EQ(StatusMessage(success.exitCode), 0u);
    EXPECT_FALSE(success.logExists) << "a successful run deletes the log it created";

    RunResult failed = Run("e2ehook_keep.exe", "", "ProductPrecheck=fail");
    EXPECT_EQ(failed.exitCode & 0xFFF00000, 0x80200000u) << Hex8(failed.exitCode);
    ASSERT_TRUE(failed.logExists) << "a failed run keeps its log";
    EXPECT_EQ(FinalStatus(failed.log), "Final Status " + Hex8(failed.exitCode) + " Qualifier 0x00001234");

    // The failed run's log is now there before the next, successful run.
    RunResult appended = Run("e2ehook_keep.exe", "", "", "winxp", true);
    EXPECT_EQ(StatusMessage(appended.exitCode), 0u);
    ASSERT_TRUE(appended.logExists) << "a log that existed before the run stays";
    ASSERT_EQ(appended.log.substr(0, failed.log.size()), failed.log) << "the old contents come first";
    std::vector<std::string> added = LogLines(appended.log.substr(failed.log.size()));
    ASSERT_GE(added.size(), 2u);
    EXPECT_EQ(MessageOf(added[1]).rfind("Starting E2EHOOK_KEEP installer on ", 0), 0u) << added[1];
    EXPECT_EQ(FinalStatus(appended.log), "Final Status " + Hex8(appended.exitCode) + " Qualifier 0x00000000");
}

}  // namespace
