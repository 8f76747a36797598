// setup.exe as a user's system runs it: one copy per Windows version that
// Wine reports, each run in its own process, its log and registry read back.
#include <gtest/gtest.h>

#include "e2e.h"

namespace {

const char kBanner[] = "*****************************************************************";
const char kMutexName[] = "RiRoZi32 UPGRADE RiRoZi32";

struct Family {
    const char* version;  // Wine's name of the version
    const char* osLine;   // the version line the probe logs
    bool nt;
    bool is95;
};

const Family kFamilies[] = {
    {"win95", "OS = Windows 95 (4.0.950)", false, true},
    {"win98", "OS = Windows 95 (4.10.2222)", false, true},
    {"winme", "OS = Windows 95 (4.90.3000)", false, true},
    {"nt40", "OS = Windows NT (4.0.1381)", true, false},
    {"win2k", "OS = Windows 2K/XP (5.0.2195)", true, false},
    {"winxp", "OS = Windows 2K/XP (5.1.2600)", true, false},
};

std::string SystemDirLower(bool windows)
{
    char path[MAX_PATH];
    UINT length = windows ? GetWindowsDirectoryA(path, MAX_PATH) : GetSystemDirectoryA(path, MAX_PATH);
    std::string dir = LowerCase(std::string(path, length));
    if (dir.empty() || dir.back() != '\\')
        dir += '\\';
    return dir;
}

// The language line of the probe for this user's default language.
std::string ExpectedLanguageLine()
{
    char text[64];
    DWORD primary = GetUserDefaultLangID() & 0x3FF;
    const char* name = primary == 0x0C ? "FRENCH"
                       : primary == 0x10 ? "ITALIAN"
                       : primary == 0x07 ? "GERMAN"
                       : primary == 0x0A ? "SPANISH"
                                         : nullptr;
    if (name)
        snprintf(text, sizeof text, "OS Language = %s (0x%04lX)", name, (unsigned long)primary);
    else
        snprintf(text, sizeof text, "OS Language = ENGLISH (by default - 0x%04lX)", (unsigned long)primary);
    return text;
}

// "%8s%04ld: ": a module name right-aligned in 8 columns (longer ones are
// not cut), then at least four digits of the source line.
bool HasLineFormat(const std::string& line)
{
    size_t colon = line.find(": ");
    if (colon == std::string::npos || colon < 12)
        return false;
    size_t digits = 0;
    while (digits < colon && isdigit((unsigned char)line[colon - 1 - digits]))
        ++digits;
    if (digits < 4)
        return false;
    size_t nameEnd = colon - digits;
    size_t nameStart = line.find_first_not_of(' ');
    // Blanks in front only when the name is shorter than the field.
    bool aligned = nameStart == 0 ? nameEnd >= 8 : nameEnd == 8;
    if (nameStart >= nameEnd || !aligned)
        return false;
    for (size_t i = nameStart; i < nameEnd; ++i)
        if (!isupper((unsigned char)line[i]) && !isdigit((unsigned char)line[i]) && line[i] != '_')
            return false;
    return true;
}

// Header, trailer, line format and final status line of one complete run.
void ExpectWholeLog(const std::string& log, const std::string& upperName, DWORD exitCode)
{
    std::vector<std::string> lines = LogLines(log);
    ASSERT_GE(lines.size(), 6u);
    EXPECT_EQ(lines[0].substr(0, 8), "     LOG");
    EXPECT_EQ(MessageOf(lines[0]), kBanner);
    EXPECT_EQ(lines[1].substr(0, 8), "     LOG");
    std::string start = "Starting " + upperName + " installer on ";
    EXPECT_EQ(MessageOf(lines[1]).substr(0, start.size()), start) << lines[1];
    // Date stamp "Www Mmm dd hh:mm:ss yyyy".
    std::string stamp = MessageOf(lines[1]).substr(start.size());
    EXPECT_EQ(stamp.size(), 24u) << stamp;
    EXPECT_TRUE(stamp.size() > 19 && stamp[3] == ' ' && stamp[7] == ' ' && stamp[13] == ':' && stamp[16] == ':')
        << stamp;

    size_t n = lines.size();
    EXPECT_EQ(lines[n - 1], "") << "the trailer ends with CR LF";
    EXPECT_EQ(MessageOf(lines[n - 2]), kBanner);
    EXPECT_EQ(MessageOf(lines[n - 3]).rfind("Closing installer log on ", 0), 0u) << lines[n - 3];
    for (size_t i = 0; i + 1 < n; ++i)
        EXPECT_TRUE(HasLineFormat(lines[i])) << "line " << i << ": " << lines[i];

    int last = FindMessage(lines, "Final Status ");
    ASSERT_GE(last, 0);
    EXPECT_EQ(MessageOf(lines[last]).substr(0, 23), "Final Status " + Hex8(exitCode));
    EXPECT_EQ(lines[last].substr(0, 8), " WINMAIN");
}

class Setup : public testing::Test {
  protected:
    void SetUp() override
    {
        if (g_Paths.setup.empty())
            GTEST_SKIP() << "no --setup= path given";
    }

    // A copy of setup.exe named name, reporting version, run with arguments
    // after its old log (if any) was removed.
    RunResult Run(const std::string& name, const std::string& version, const std::string& arguments)
    {
        std::string copy = PrepareProgram(g_Paths.setup, name, version);
        EXPECT_FALSE(copy.empty()) << "cannot copy setup.exe to " << name;
        DeleteFileA(LogPathOf(copy).c_str());
        RunResult result = RunProgram(copy, arguments);
        EXPECT_TRUE(result.started) << name;
        EXPECT_FALSE(result.timedOut) << name;
        EXPECT_EQ(InconsistentStatusLine(result.log), "");
        return result;
    }
};

TEST_F(Setup, LogsTheFactsOfEachWindowsFamily)
{
    const std::string temp = LowerCase(TempDir());
    const std::string windows = SystemDirLower(true);
    const std::string system32 = SystemDirLower(false);
    std::string parent = system32.substr(0, system32.size() - 1);
    parent = parent.substr(0, parent.find_last_of('\\') + 1);
    const std::string language = ExpectedLanguageLine();

    for (const Family& family : kFamilies) {
        SCOPED_TRACE(family.version);
        std::string name = std::string("e2eset_") + family.version + ".exe";
        RunResult run = Run(name, family.version, "/silent /leavelog");
        ASSERT_TRUE(run.logExists);
        ExpectWholeLog(run.log, std::string("E2ESET_") + UpperCase(family.version), run.exitCode);
        std::vector<std::string> lines = LogLines(run.log);

        EXPECT_GE(FindMessage(lines, "Quenbry INSTALL Library - 1.09 (019)"), 0);
        EXPECT_EQ(CountMessages(lines, family.osLine), 1) << run.log;
        EXPECT_EQ(CountMessages(lines, "Platform ID = INTEL"), 1);
        EXPECT_EQ(CountMessages(lines, language), 1) << "want " << language;
        // Wine's user is in the Administrators group; the 95 family has no such line.
        EXPECT_EQ(CountMessages(lines, "User has administrator rights on the local machine"), family.nt ? 1 : 0);
        EXPECT_EQ(CountMessages(lines, "User does *NOT* have administrator rights"), 0);

        std::string system16 = family.is95 ? system32 : parent + "system\\";
        std::string drivers = system32 + (family.is95 ? "iosubsys\\" : "drivers\\");
        int dirs = FindMessage(lines, "Temp = ->");
        ASSERT_GE(dirs, 0);
        ASSERT_LT(dirs + 5, (int)lines.size());
        EXPECT_EQ(MessageOf(lines[dirs]), "Temp = ->" + temp + "<-");
        EXPECT_EQ(MessageOf(lines[dirs + 1]), "Target = ->\\<-");
        EXPECT_EQ(MessageOf(lines[dirs + 2]), "Windows = ->" + windows + "<-");
        EXPECT_EQ(MessageOf(lines[dirs + 3]), "System16 = ->" + system16 + "<-");
        EXPECT_EQ(MessageOf(lines[dirs + 4]), "System32 = ->" + system32 + "<-");
        EXPECT_EQ(MessageOf(lines[dirs + 5]), "Drivers = ->" + drivers + "<-");

        // Free space of the Temp and Windows drives; Target "\" has no drive.
        EXPECT_EQ(CountMessages(lines, "Temp drive has "), 1);
        EXPECT_EQ(CountMessages(lines, "Windows drive has "), 1);
        EXPECT_EQ(CountMessages(lines, "Target drive has "), 0);
        int space = FindMessage(lines, "Temp drive has ");
        EXPECT_NE(MessageOf(lines[space]).find(" bytes free out of "), std::string::npos);

        EXPECT_EQ(CountMessages(lines, "Unforced silent install, leave logfile on completion, allow reboots. "
                                       "not autorun launched"),
                  1);
        EXPECT_EQ(CountMessages(lines, "Installing on old shell"), 0);
        EXPECT_NE(StatusMessage(run.exitCode), 2051u);
        EXPECT_NE(StatusMessage(run.exitCode), 2052u);
        DeleteFileA(LogPathOf(name).c_str());
    }
}

// Win32s is no platform for it: refused with 2052, and a failed run keeps
// its log although LEAVELOG was not given.
TEST_F(Setup, RefusesWin32sAndKeepsTheLog)
{
    RunResult run = Run("e2eset_win31.exe", "win31", "/silent");
    EXPECT_EQ(StatusMessage(run.exitCode), 2052u) << Hex8(run.exitCode);
    ASSERT_TRUE(run.logExists) << "a failed run keeps its log";
    std::vector<std::string> lines = LogLines(run.log);
    EXPECT_EQ(CountMessages(lines, "OS = Windows Other (3.10."), 1) << run.log;
    EXPECT_EQ(CountMessages(lines, "User has administrator"), 0);
    EXPECT_EQ(CountMessages(lines, "User does *NOT*"), 0);
    int last = FindMessage(lines, "Final Status ");
    ASSERT_GE(last, 0);
    EXPECT_EQ(MessageOf(lines[last]).substr(0, 23), "Final Status " + Hex8(run.exitCode));
    DeleteFileA(LogPathOf("e2eset_win31.exe").c_str());
}

// NT 3.51 has the old shell: the product's pre-check refuses it.
TEST_F(Setup, RefusesNT351InThePrecheck)
{
    RunResult run = Run("e2eset_nt351.exe", "nt351", "/silent");
    EXPECT_EQ(StatusMessage(run.exitCode), 2052u) << Hex8(run.exitCode);
    EXPECT_EQ(StatusModule(run.exitCode), 0u) << "reported by the front-end";
    ASSERT_TRUE(run.logExists);
    std::vector<std::string> lines = LogLines(run.log);
    EXPECT_EQ(CountMessages(lines, "OS = Windows NT (3.51.1057)"), 1) << run.log;
    int quit = FindMessage(lines, "Running on Windows NT 3.51 or earlier... Quitting.");
    EXPECT_GE(quit, 0);
    EXPECT_GE(FindMessage(lines, "Status " + Hex8(run.exitCode) + " Qualifier 0x00000000", quit), quit + 1);
    DeleteFileA(LogPathOf("e2eset_nt351.exe").c_str());
}

// A second copy started while the instance mutex is held ends at once with
// 2051 from winmain, writes no log, and still leaves its completion record.
TEST_F(Setup, SecondCopyEndsAtOnceWithoutALog)
{
    HANDLE mutex = CreateMutexA(NULL, TRUE, kMutexName);
    ASSERT_NE(mutex, (HANDLE)NULL);
    ASSERT_NE(GetLastError(), (DWORD)ERROR_ALREADY_EXISTS) << "another installer holds the mutex";
    DeleteCompletionRecord("e2eset_second");
    RunResult run = Run("e2eset_second.exe", "winxp", "/silent /leavelog /leavestatus");
    ReleaseMutex(mutex);
    CloseHandle(mutex);

    EXPECT_EQ(run.exitCode & 0xFFFF0000, 0x80340000u) << Hex8(run.exitCode);
    EXPECT_FALSE(run.logExists) << run.log;
    DWORD status = 0, qualifier = 1;
    ASSERT_TRUE(ReadCompletionRecord("e2eset_second", &status, &qualifier));
    EXPECT_EQ(status, run.exitCode);
    EXPECT_EQ(qualifier, 0u);

    // Once the mutex is free again, the same copy runs normally, and its
    // record is overwritten with the new outcome.
    RunResult again = Run("e2eset_second.exe", "winxp", "/silent /leavelog /leavestatus");
    EXPECT_NE(StatusMessage(again.exitCode), 2051u);
    EXPECT_TRUE(again.logExists);
    ASSERT_TRUE(ReadCompletionRecord("e2eset_second", &status, &qualifier));
    EXPECT_EQ(status, again.exitCode);
    DeleteFileA(LogPathOf("e2eset_second.exe").c_str());
}

// LEAVESTATUS mirrors the final status into the completion record, under
// the lower-case base name of the executable; without it nothing is written.
TEST_F(Setup, LeaveStatusWritesTheCompletionRecord)
{
    DeleteCompletionRecord("e2eset_status");
    RunResult run = Run("E2ESet_Status.exe", "winxp", "/silent /leavestatus /leavelog");
    DWORD status = 0, qualifier = 0;
    ASSERT_TRUE(ReadCompletionRecord("e2eset_status", &status, &qualifier));
    EXPECT_EQ(status, run.exitCode);
    std::vector<std::string> lines = LogLines(run.log);
    int last = FindMessage(lines, "Final Status ");
    ASSERT_GE(last, 0);
    EXPECT_EQ(MessageOf(lines[last]), "Final Status " + Hex8(status) + " Qualifier " + Hex8(qualifier));

    DeleteCompletionRecord("e2eset_status");
    Run("E2ESet_Status.exe", "winxp", "/silent /leavelog");
    EXPECT_FALSE(ReadCompletionRecord("e2eset_status", &status, &qualifier));
    DeleteFileA(LogPathOf("E2ESet_Status.exe").c_str());
}

// Without LEAVELOG the log a run created goes when the run did not fail and
// stays when it did; a log that was there before is appended to and kept.
TEST_F(Setup, KeepsOrDeletesItsLogByTheRule)
{
    RunResult run = Run("e2eset_rule.exe", "winxp", "/silent");
    bool failed = (LONG)run.exitCode < 0 && StatusMessage(run.exitCode) != 2049;
    EXPECT_EQ(run.logExists, failed) << Hex8(run.exitCode);

    const std::string earlier = "earlier run\r\n";
    std::string log = LogPathOf("e2eset_rule.exe");
    ASSERT_TRUE(WriteWholeFile(log, earlier));
    RunResult appended = RunProgram(g_Paths.work + "e2eset_rule.exe", "/silent");
    ASSERT_TRUE(appended.logExists);
    EXPECT_EQ(appended.log.substr(0, earlier.size()), earlier);
    ExpectWholeLog(appended.log.substr(earlier.size()), "E2ESET_RULE", appended.exitCode);
    DeleteFileA(log.c_str());
}

}  // namespace
