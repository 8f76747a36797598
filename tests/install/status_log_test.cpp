// The status word, the completion record and the installer log.
#include <gtest/gtest.h>

#include <string>

#include "fakes.h"
#include "install.h"
#include "log.h"
#include "text.h"
#include "winmain.h"
#include "winfiles.h"

namespace {

class StatusLog : public ::testing::Test {
protected:
    void SetUp() override { ResetInstaller(); }
    void TearDown() override { ResetInstaller(); }

    // Opens a log in the test's directory and returns its path.
    std::string OpenTestLog()
    {
        std::string path = dir.file("Trace.log");
        OpenLog(path.c_str());
        return path;
    }

    // The log's lines after its two header lines.
    std::string Body(const std::string& path)
    {
        std::string text = ReadFileText(path);
        size_t start = text.find("\r\n", text.find("Starting"));
        return start == std::string::npos ? text : text.substr(start + 2);
    }

    TempDir dir;
};

TEST_F(StatusLog, ModuleIdComesFromTheTraceFileBaseName)
{
    EXPECT_EQ(1u, ModuleIdOf("install/install.cpp"));
    EXPECT_EQ(2u, ModuleIdOf(".\\INSTALL\\Upgrade.cpp"));
    EXPECT_EQ(2u, ModuleIdOf(".\\install\\upgrade"));
    EXPECT_EQ(3u, ModuleIdOf("REGISTRY.CPP"));
    EXPECT_EQ(4u, ModuleIdOf("c:\\src.v2\\install\\winmain.cpp"));
    EXPECT_EQ(5u, ModuleIdOf("install/log.cpp"));
    EXPECT_EQ(0u, ModuleIdOf("tlmrinst/tlmrinst.cpp"));
    EXPECT_EQ(0u, ModuleIdOf("install/upgrade.old.cpp"));
    EXPECT_EQ(0u, ModuleIdOf("install/logger.cpp"));
    EXPECT_EQ(0u, ModuleIdOf(NULL));
}

TEST_F(StatusLog, StatusWordPacksMessageModuleAndLowLineBits)
{
    SetTracePosition(".\\INSTALL\\Upgrade.cpp", 70000);  // 0x11170
    SetStatus(3, 5);
    EXPECT_EQ(0x00321170u, g_Status.word);
    EXPECT_EQ(5u, g_Status.qualifier);
    EXPECT_FALSE(STATUS_FAILED(g_Status.word));

    SetTracePosition("tlmrinst/tlmrinst.cpp", 0x88);
    SetStatus(2049, 0);
    EXPECT_EQ(0x80100088u, g_Status.word);
    EXPECT_TRUE(STATUS_FAILED(g_Status.word));
}

TEST_F(StatusLog, ProgressMovesOnAndTheFirstFailureStays)
{
    std::string path = OpenTestLog();
    SetTracePosition("install/winmain.cpp", 10);
    SetStatus(1, 0);
    SetStatus(2, 0);
    EXPECT_EQ(2u, STATUS_MESSAGE(g_Status.word));

    SetTracePosition("install/install.cpp", 20);
    SetStatus(2067, 32);
    SetTracePosition("install/upgrade.cpp", 30);
    SetStatus(2050, 7);
    SetStatus(1, 0);
    EXPECT_EQ((2067u << 20) | (1u << 16) | 20u, g_Status.word);
    EXPECT_EQ(32u, g_Status.qualifier);
    CloseLog(TRUE);

    std::string body = Body(path);
    EXPECT_NE(std::string::npos, body.find(" WINMAIN0010: Status 0x0024000A Qualifier 0x00000000\r\n"));
    EXPECT_NE(std::string::npos, body.find(" INSTALL0020: Status 0x81310014 Qualifier 0x00000020\r\n"));
    EXPECT_EQ(std::string::npos, body.find("UPGRADE0030"));  // dropped without a line
}

TEST_F(StatusLog, CompletionRecordMirrorsAcceptedStatusesOnlyWithLeaveStatus)
{
    char program[MAX_PATH];
    GetProgramBaseName(program, sizeof program);
    AsciiLowerCase(program);
    std::string parent = "SOFTWARE\\Vornak\\UpgWizCompletion";
    std::string keyPath = parent + "\\" + program;
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());

    auto read = [&](const char* value, DWORD* data) -> bool {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return false;
        DWORD type = 0, size = sizeof *data;
        LONG result = RegQueryValueExA(key, value, NULL, &type, (BYTE*)data, &size);
        RegCloseKey(key);
        return result == ERROR_SUCCESS && type == REG_DWORD && size == 4;
    };
    DWORD status = 0, qualifier = 0;

    SetTracePosition("install/winmain.cpp", 1);
    SetStatus(0, 0);
    EXPECT_FALSE(read("Status", &status)) << "written without LEAVESTATUS";

    std::string path = OpenTestLog();
    g_Options.leaveStatus = TRUE;
    SetTracePosition("install/upgrade.cpp", 0x1234);
    SetStatus(1, 9);
    ASSERT_TRUE(read("Status", &status));
    ASSERT_TRUE(read("Qualifier", &qualifier));
    EXPECT_EQ(0x00121234u, status);
    EXPECT_EQ(9u, qualifier);

    SetTracePosition("install/upgrade.cpp", 0x1234);
    SetStatus(2066, 5);
    SetTracePosition("install/upgrade.cpp", 0x1235);
    SetStatus(2067, 6);  // dropped: the record keeps the first failure
    ASSERT_TRUE(read("Status", &status));
    ASSERT_TRUE(read("Qualifier", &qualifier));
    EXPECT_EQ(0x81221234u, status);
    EXPECT_EQ(5u, qualifier);
    CloseLog(TRUE);

    std::string body = Body(path);
    EXPECT_NE(std::string::npos, body.find("REGISTRY"));
    EXPECT_NE(std::string::npos, body.find(std::string("Created new registry key ") + program + "\r\n"));
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, keyPath.c_str());
}

TEST_F(StatusLog, LinesCarryModuleAndLineInFixedFields)
{
    std::string path = OpenTestLog();
    SetTracePosition("install/winmain.cpp", 136);
    EXPECT_TRUE(LogMessage("Status 0x%08lX Qualifier 0x%08lX", 0x40088ul, 0ul));
    SetTracePosition(".\\INSTALL\\Upgrade.cpp", 7);
    LogMessage("%s %d %lu %lX %03lX", "text", -3, 4000000000ul, 0xABCul, 0x5ul);
    SetTracePosition("install/registry.cpp", 12345);
    LogMessage("eight");
    SetTracePosition("tlmrinst/tlmrinst.cpp", 1);
    LogMessage("front-end");
    SetTracePosition("install/passes_pending.cpp", 2);
    LogMessage("longer");
    CloseLog(TRUE);

    EXPECT_EQ(" WINMAIN0136: Status 0x00040088 Qualifier 0x00000000\r\n"
              " UPGRADE0007: text -3 4000000000 ABC 005\r\n"
              "REGISTRY12345: eight\r\n"
              "TLMRINST0001: front-end\r\n"
              "PASSES_PENDING0002: longer\r\n",
              Body(path).substr(0, Body(path).find("     LOG")));
}

TEST_F(StatusLog, HeaderTrailerAndTheKeepRule)
{
    SetTracePosition("x.cpp", 1);
    EXPECT_FALSE(LogMessage("before open"));
    EXPECT_FALSE(CloseLog(FALSE));

    // A new log closed without keep is deleted; with keep it stays.
    std::string path = OpenTestLog();
    EXPECT_FALSE(g_Log.preExisting);
    EXPECT_TRUE(CloseLog(FALSE));
    EXPECT_FALSE(PathExists(path));
    EXPECT_FALSE(LogMessage("after close"));

    OpenTestLog();
    EXPECT_TRUE(CloseLog(TRUE));
    std::string first = ReadFileText(path);
    const std::string banner(65, '*');
    EXPECT_EQ(0u, first.find("     LOG"));
    EXPECT_NE(std::string::npos, first.find(banner + "\r\n     LOG"));
    EXPECT_NE(std::string::npos, first.find(": Starting TRACE installer on "));
    EXPECT_NE(std::string::npos, first.find(": Closing installer log on "));
    EXPECT_EQ(first.size() - banner.size() - 4, first.rfind(banner)) << "trailer ends in an empty line";

    // An existing log is appended to and survives a close without keep.
    OpenTestLog();
    EXPECT_TRUE(g_Log.preExisting);
    SetTracePosition("x.cpp", 2);
    LogMessage("second run");
    EXPECT_TRUE(CloseLog(FALSE));
    std::string both = ReadFileText(path);
    EXPECT_EQ(0u, both.find(first));
    EXPECT_NE(std::string::npos, both.find("X0002: second run", first.size()));
}

TEST_F(StatusLog, DefaultPathIsProgramNameInTheTempDirectoryInUpperCase)
{
    OpenLog(NULL);
    ASSERT_NE((HANDLE)NULL, g_Log.handle);
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    char program[MAX_PATH];
    GetProgramBaseName(program, sizeof program);
    std::string expected = std::string(temp) + program + ".LOG";
    AsciiUpperCase(&expected[0]);
    EXPECT_EQ(expected, g_Log.path);
    CloseLog(FALSE);
}

// A log name that is a second name of another file (a hard or symbolic
// link, also one to nothing yet), a directory or a device is not written
// into: a fresh log starts under a numbered name.
TEST_F(StatusLog, PlantedLogIsRefusedForAFreshOne)
{
    std::string victim = dir.file("hosts");
    WriteFileText(victim, "127.0.0.1 localhost\r\n");
    ASSERT_TRUE(CreateHardLinkA(dir.file("Linked.log").c_str(), victim.c_str(), NULL));
    WriteFileText(dir.file("LINKED1.LOG"), "someone else's");
    ASSERT_TRUE(PlantHostLink(dir.file("Symlink.log"), victim));
    ASSERT_TRUE(PlantHostLink(dir.file("Dangling.log"), dir.file("created.log")));
    CreateDirectoryA(dir.file("Folder.log").c_str(), NULL);
    for (auto planted : {std::make_pair("Linked.log", "LINKED2.LOG"), std::make_pair("nul.log", "NUL1.LOG"),
                         std::make_pair("Symlink.log", "SYMLINK1.LOG"), std::make_pair("Dangling.log", "DANGLING1.LOG"),
                         std::make_pair("Folder.log", "FOLDER1.LOG")}) {
        OpenLog(dir.file(planted.first).c_str());
        std::string expected = dir.file(planted.second);
        AsciiUpperCase(&expected[0]);
        EXPECT_EQ(expected, g_Log.path);
        EXPECT_TRUE(CloseLog(TRUE) && !g_Log.preExisting);
        EXPECT_NE(std::string::npos, ReadFileText(expected).find(" refused (")) << planted.first;
    }
    EXPECT_EQ("127.0.0.1 localhost\r\n", ReadFileText(victim));
    EXPECT_EQ("someone else's", ReadFileText(dir.file("LINKED1.LOG")));
    EXPECT_FALSE(PathExists(dir.file("created.log")));
    // A log deleted at its close goes through its handle, not through a
    // link planted at its name meanwhile.
    OpenLog(dir.file("Own.log").c_str());
    ASSERT_TRUE(HostRename(dir.file("Own.log"), dir.file("Moved.log")));
    ASSERT_TRUE(PlantHostLink(dir.file("Own.log"), victim));
    EXPECT_TRUE(CloseLog(FALSE));
    EXPECT_EQ("127.0.0.1 localhost\r\n", ReadFileText(victim));
    RemoveHostLink(dir.file("Own.log"));
    for (const char* link : {"Symlink.log", "Dangling.log"})
        EXPECT_TRUE(RemoveHostLink(dir.file(link))) << link;
}

// A log path that does not fit leaves the log closed; no cut path is created.
TEST_F(StatusLog, LogPathThatDoesNotFitLeavesTheLogClosed)
{
    std::string path = dir.file("L") + std::string(MAX_PATH, 'L');
    OpenLog(path.c_str());
    EXPECT_EQ((HANDLE)NULL, g_Log.handle);
    EXPECT_FALSE(FileExists(dir.file("L*").c_str()));
}

TEST_F(StatusLog, OverLongMessagesAreCutWithoutLineEnd)
{
    std::string path = OpenTestLog();
    std::string longText(1100, 'a');
    SetTracePosition("x.cpp", 3);
    LogMessage("%s", longText.c_str());
    SetTracePosition("x.cpp", 4);
    LogMessage("next");
    CloseLog(TRUE);
    std::string body = Body(path);
    size_t next = body.find("       X0004: next\r\n");
    ASSERT_NE(std::string::npos, next);
    std::string cut = body.substr(0, next);
    EXPECT_GE(cut.size(), 1000u);
    EXPECT_LE(cut.size(), 1023u);
    EXPECT_EQ('a', cut.back()) << "a cut line has no CR LF";
}

TEST_F(StatusLog, DateStampNamesDayAndMonth)
{
    SYSTEMTIME time = {2002, 5, 5, 17, 9, 5, 3, 0};
    char stamp[64];
    FormatDateStamp(stamp, &time);
    EXPECT_STREQ("Fri May 17 09:05:03 2002", stamp);
    SYSTEMTIME december = {2026, 12, 4, 31, 23, 59, 59, 0};
    FormatDateStamp(stamp, &december);
    EXPECT_STREQ("Thu Dec 31 23:59:59 2026", stamp);
    SYSTEMTIME january = {2027, 1, 1, 4, 0, 0, 0, 0};
    FormatDateStamp(stamp, &january);
    EXPECT_STREQ("Mon Jan 04 00:00:00 2027", stamp);
}

}  // namespace
