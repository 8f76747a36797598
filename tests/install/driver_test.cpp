// The main driver: options, the install sequence over its hooks and passes,
// the guarded hook sequence with its exception guard, the restart decision.
#include <gtest/gtest.h>

#include <string>

#include "fakes.h"
#include "install.h"
#include "log.h"
#include "sehguard.h"
#include "upgrade.h"
#include "winmain.h"

namespace {

class Driver : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetInstaller();
        ResetFakes();
        context = UpgradeContext();
    }
    void TearDown() override { ResetInstaller(); }

    std::string LogText(const char* name = "driver.log")
    {
        CloseLog(TRUE);
        return ReadFileText(dir.file(name));
    }

    UpgradeContext context;
    TempDir dir;
};

TEST_F(Driver, OptionsAreSubstringsOfTheUpperCasedCommandLine)
{
    char line1[] = "/silent /noreboot";
    ParseOptions(line1);
    EXPECT_STREQ("/SILENT /NOREBOOT", line1);
    EXPECT_TRUE(g_Options.silent && g_Options.noReboot);
    EXPECT_FALSE(g_Options.force || g_Options.leaveLog || g_Options.leaveStatus || g_Options.autorun);

    g_Options = InstallerOptions();
    char line2[] = "leavestatus";
    ParseOptions(line2);
    EXPECT_TRUE(g_Options.leaveStatus);
    EXPECT_FALSE(g_Options.leaveLog || g_Options.silent || g_Options.noReboot);

    g_Options = InstallerOptions();
    char line3[] = "LEAVELOGLEAVESTATUS -Force xautorunx";
    ParseOptions(line3);
    EXPECT_TRUE(g_Options.leaveLog && g_Options.leaveStatus && g_Options.force && g_Options.autorun);
    EXPECT_FALSE(g_Options.silent || g_Options.noReboot);

    g_Options = InstallerOptions();
    char line4[] = "sil ent";
    ParseOptions(line4);
    ParseOptions(NULL);
    EXPECT_FALSE(g_Options.silent);
}

TEST_F(Driver, OptionsLine)
{
    OpenLog(dir.file("driver.log").c_str());
    LogOptions();
    g_Options.force = g_Options.silent = g_Options.leaveLog = g_Options.noReboot = g_Options.autorun = TRUE;
    LogOptions();
    std::string text = LogText();
    EXPECT_NE(std::string::npos, text.find(": Unforced visual install, delete logfile on completion, "
                                           "allow reboots. not autorun launched\r\n"));
    EXPECT_NE(std::string::npos, text.find(": Forced silent install, leave logfile on completion, "
                                           "don't allow reboots. autorun launched\r\n"));
}

TEST_F(Driver, SuccessfulInstallAsksForPartialCleanup)
{
    OpenLog(dir.file("driver.log").c_str());
    EXPECT_TRUE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Decide(0),Before,HasUpgrades,Install,WantsRegistry,Registry,After,Cleanup(0)",
              g_Fake.calls);
    // The library's own removal of the cached volume information runs: a
    // function of the driver's own file cannot be replaced by a test version.
    EXPECT_NE(std::string::npos, LogText().find(": Attempting Deletion of cached volume info\r\n"));
}

TEST_F(Driver, FailureOfAnEarlyStepCleansUpFully)
{
    g_Fake.createImages = FALSE;
    EXPECT_FALSE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Cleanup(1)", g_Fake.calls);

    ResetInstaller();
    ResetFakes();
    g_Fake.decideUpgrades = FALSE;
    EXPECT_FALSE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Decide(0),Cleanup(1)", g_Fake.calls);

    // Declining to install is no failure, but nothing is kept.
    ResetInstaller();
    ResetFakes();
    g_Fake.beforeInstall = FALSE;
    EXPECT_FALSE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Decide(0),Before,Cleanup(1)", g_Fake.calls);
    EXPECT_FALSE(STATUS_FAILED(g_Status.word));
}

TEST_F(Driver, FailureAfterAnInstallRollsBack)
{
    g_Fake.installImages = FALSE;
    EXPECT_FALSE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Decide(0),Before,HasUpgrades,Install,Cleanup(1)", g_Fake.calls);

    ResetInstaller();
    ResetFakes();
    context.installStarted = 0;
    g_Fake.runRegistry = FALSE;
    OpenLog(dir.file("driver.log").c_str());
    EXPECT_FALSE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Decide(0),Before,HasUpgrades,Install,WantsRegistry,Registry,Cleanup(1)", g_Fake.calls);
    EXPECT_EQ(std::string::npos, LogText().find("cached volume info"));
}

TEST_F(Driver, NothingToInstallSkipsTheInstallAndCleansUpFully)
{
    g_Fake.hasUpgrades = FALSE;
    EXPECT_TRUE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Decide(0),Before,HasUpgrades,WantsRegistry,Registry,After,Cleanup(1)",
              g_Fake.calls);

    ResetFakes();
    context.installStarted = 0;
    g_Fake.wantsRegistry = FALSE;
    g_Fake.installMarksStarted = FALSE;  // an install pass that handled no file
    EXPECT_TRUE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Decide(0),Before,HasUpgrades,Install,WantsRegistry,After,Cleanup(1)",
              g_Fake.calls);
}

TEST_F(Driver, ForceInstallsAndRunsTheScriptWithoutAskingTheProduct)
{
    g_Options.force = TRUE;
    g_Fake.hasUpgrades = g_Fake.wantsRegistry = FALSE;
    EXPECT_TRUE(RunInstallSequence(&context));
    EXPECT_EQ("Create,Decide(1),Before,Install,Registry,After,Cleanup(0)", g_Fake.calls);
}

TEST_F(Driver, VisualSequenceRunsHooksInOrder)
{
    // A supported system whose directories point into the test's directory.
    g_Environment.probed = g_Environment.dirsSet = TRUE;
    g_System.is2KXP = g_System.isAdmin = TRUE;
    for (DWORD id = DIR_TEMP; id <= DIR_DRIVERS; ++id)
        lstrcpyA(g_Dirs.path[id], dir.path().c_str());

    RunGuardedSequence();
    EXPECT_EQ("Context,Startup,Precheck,Interactive,Finish", g_Fake.calls);
    EXPECT_FALSE(g_Environment.initialised) << "shut down after the wizard";

    ResetFakes();
    g_Fake.precheck = FALSE;
    RunGuardedSequence();
    EXPECT_EQ("Context,Startup,Precheck,Finish", g_Fake.calls);

    ResetFakes();
    g_Fake.startup = FALSE;
    RunGuardedSequence();
    EXPECT_EQ("Context,Startup", g_Fake.calls);
    EXPECT_EQ(0u, g_Status.word);
}

TEST_F(Driver, SilentSequenceSkipsStartupAndFinish)
{
    g_Environment.probed = g_Environment.dirsSet = TRUE;
    g_System.is95Family = g_System.isAdmin = TRUE;
    for (DWORD id = DIR_TEMP; id <= DIR_DRIVERS; ++id)
        lstrcpyA(g_Dirs.path[id], dir.path().c_str());
    g_Options.silent = TRUE;

    RunGuardedSequence();
    EXPECT_EQ("Context,Precheck,SilentAllowed,Context,Create,Decide(0),Before,HasUpgrades,Install,WantsRegistry,"
              "Registry,After,Cleanup(0)",
              g_Fake.calls);

    ResetFakes();
    g_Fake.silentAllowed = FALSE;
    RunGuardedSequence();
    EXPECT_EQ("Context,Precheck,SilentAllowed", g_Fake.calls);
}

TEST_F(Driver, UnsupportedPlatformRunsNeitherWizardNorInstall)
{
    g_Environment.probed = g_Environment.dirsSet = TRUE;  // Win32s: no family flag
    RunGuardedSequence();
    EXPECT_EQ("Context,Startup,Precheck,Finish", g_Fake.calls);
    EXPECT_EQ(2052u, STATUS_MESSAGE(g_Status.word));
    EXPECT_FALSE(g_Engine.engineReady);
}

TEST_F(Driver, ExceptionInAHookEndsAsInternalErrorWithTheLastPosition)
{
    OpenLog(dir.file("driver.log").c_str());
    g_Options.silent = FALSE;
    g_Fake.precheckProgressId = MSG_REBOOT_NEEDED;
    g_Fake.crashInPrecheck = TRUE;
    RunGuardedSequence();
    EXPECT_EQ("Context,Startup,Precheck", g_Fake.calls) << "the rest of the sequence is skipped";
    EXPECT_EQ(2050u, STATUS_MESSAGE(g_Status.word));
    EXPECT_EQ(4u, STATUS_MODULE(g_Status.word));
    EXPECT_EQ(0xC0000005u, g_Status.qualifier);

    DecideRestart();  // a failed run never restarts
    std::string text = LogText();
    size_t fault = text.find(": about to fault\r\n");
    ASSERT_NE(std::string::npos, fault);
    int line = std::stoi(text.substr(fault - 4, 4));  // the fake's last log call
    EXPECT_NE(std::string::npos, text.find(": !!! EXCEPTION EXCEPTION EXCEPTION !!!\r\n", fault));
    EXPECT_NE(std::string::npos, text.find(": WinMain exception code 0xC0000005\r\n", fault));
    EXPECT_NE(std::string::npos, text.find(": Last know position in tests/install/fakes.cpp, line " +
                                           std::to_string(line) + "\r\n", fault));
    EXPECT_EQ(std::string::npos, text.find("reboot needed"));
}

TEST_F(Driver, RestartNeededInSilentRunRegistersUninstallerInstead)
{
    OpenLog(dir.file("driver.log").c_str());
    g_Options.silent = TRUE;
    SetTracePosition("install/upgrade.cpp", 5);
    SetStatus(MSG_REBOOT_NEEDED, 0);
    DecideRestart();
    EXPECT_EQ("RegisterUninstaller", g_Fake.calls);
    EXPECT_EQ(2u, STATUS_MESSAGE(g_Status.word));
    std::string text = LogText();
    size_t finished = text.find(": Finished, files upgraded and reboot needed\r\n");
    EXPECT_NE(std::string::npos, finished);
    EXPECT_NE(std::string::npos, text.find(": Reboot supressed, silent install\r\n", finished));
}

TEST_F(Driver, RestartNeededWithNoRebootOnlySaysSo)
{
    g_Environment.rebootRequested = TRUE;  // by an earlier run of this process: forgotten
    ResetInstaller();
    OpenLog(dir.file("driver.log").c_str());
    g_Options.noReboot = TRUE;
    SetTracePosition("install/upgrade.cpp", 5);
    SetStatus(MSG_REBOOT_NEEDED, 0);
    DecideRestart();
    EXPECT_EQ("", g_Fake.calls);
    EXPECT_EQ(2u, STATUS_MESSAGE(g_Status.word));
    EXPECT_NE(std::string::npos, LogText().find(": Reboot supressed, user requested no reboot\r\n"));

    // Nothing to restart for: not a word.
    ResetInstaller();
    OpenLog(dir.file("second.log").c_str());
    SetTracePosition("install/upgrade.cpp", 6);
    SetStatus(MSG_INSTALLED, 0);
    DecideRestart();
    std::string text = LogText("second.log");
    EXPECT_EQ(std::string::npos, text.find("Finished, files upgraded"));
    EXPECT_EQ(1u, STATUS_MESSAGE(g_Status.word));
}

// The whole run: the exit code is the status word, and the log is kept
// after a failure or with LEAVELOG, deleted after a success or a cancel.
TEST_F(Driver, RunEndsWithTheStatusAndTheLogKeepRule)
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string log = std::string(temp) + "INSTALL_TESTS.LOG";
    struct Case {
        const char* commandLine;
        DWORD precheckId;
        BOOL logKept;
    } cases[] = {
        {"/silent", MSG_CANCELLED, FALSE},
        {"/silent /leavelog", MSG_CANCELLED, TRUE},
        {"/silent", MSG_INTERNAL_ERROR, TRUE},
        {"/silent", MSG_INSTALLED, FALSE},
        {"/silent leavelog", MSG_INSTALLED, TRUE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.commandLine) + " " + std::to_string(c.precheckId));
        ResetInstaller();
        ResetFakes();
        DeleteFileA(log.c_str());
        g_Fake.precheck = FALSE;
        g_Fake.precheckProgressId = c.precheckId;
        char commandLine[64];
        lstrcpyA(commandLine, c.commandLine);
        int exitCode = WinMain(GetModuleHandleA(NULL), NULL, commandLine, SW_SHOWNORMAL);
        EXPECT_EQ(g_Status.word, (DWORD)exitCode);
        EXPECT_EQ(c.precheckId, STATUS_MESSAGE(exitCode));
        EXPECT_EQ("Context,Precheck", g_Fake.calls);
        EXPECT_EQ(c.logKept, PathExists(log));
        EXPECT_EQ((HANDLE)NULL, g_Log.handle);
    }
    std::string text = ReadFileText(log);
    EXPECT_NE(std::string::npos, text.find(": Unforced silent install, leave logfile on completion, "));
    EXPECT_NE(std::string::npos, text.find(" WINMAIN"));
    EXPECT_NE(std::string::npos, text.find(": Final Status 0x0010"));
    DeleteFileA(log.c_str());
}

// ---------------------------------------------------------------- guard

static void Fault(void* target)
{
    *(volatile int*)target = 1;
}

static void Raise(void* code)
{
    RaiseException(*(DWORD*)code, 0, 0, NULL);
}

static void Count(void* counter)
{
    ++*(int*)counter;
}

struct Nested {
    BOOL innerResult;
    DWORD innerCode;
};

static void FaultInsideInnerGuard(void* argument)
{
    Nested* nested = (Nested*)argument;
    nested->innerResult = RunGuarded(Fault, NULL, &nested->innerCode);
}

TEST(Guard, CatchesAnyCodeAndLeavesTheChainAsItWas)
{
    DWORD before = __readfsdword(0);
    DWORD code = 0;
    EXPECT_FALSE(RunGuarded(Fault, NULL, &code));
    EXPECT_EQ(0xC0000005u, code);
    EXPECT_EQ(before, __readfsdword(0));

    DWORD custom = 0xE0001234;
    EXPECT_FALSE(RunGuarded(Raise, &custom, &code));
    EXPECT_EQ(0xE0001234u, code);
    EXPECT_EQ(before, __readfsdword(0));

    int counter = 0;
    EXPECT_TRUE(RunGuarded(Count, &counter, &code));
    EXPECT_EQ(1, counter);
    EXPECT_EQ(before, __readfsdword(0));

    // An inner guard takes its own exception; the outer call ends normally.
    Nested nested = {TRUE, 0};
    EXPECT_TRUE(RunGuarded(FaultInsideInnerGuard, &nested, &code));
    EXPECT_FALSE(nested.innerResult);
    EXPECT_EQ(0xC0000005u, nested.innerCode);
    EXPECT_EQ(before, __readfsdword(0));
}

}  // namespace
