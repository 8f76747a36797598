// The installation from the wizard: the bar through its quarters, commands
// turned away while it runs, and the page each outcome leads to.
#include "wizard_tests.h"

#include <ctype.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>

namespace {

const char kProductKey[] = "SOFTWARE\\Vornak\\Telmura";

struct Report {
    DWORD code;
    int bar;
};

// The test build's "progress CODE INDEX bar POSITION" lines.
std::vector<Report> ProgressReports(const std::string& log)
{
    std::vector<Report> reports;
    for (const std::string& line : LogLines(log)) {
        std::string message = MessageOf(line);
        if (message.rfind("progress ", 0) != 0)
            continue;
        Report report;
        char* rest;
        report.code = strtoul(message.c_str() + 9, &rest, 10);
        strtol(rest, &rest, 10);
        report.bar = strstr(rest, " bar ") ? atoi(strstr(rest, " bar ") + 5) : -2;
        reports.push_back(report);
    }
    return reports;
}

DWORD LanguageValue()
{
    HKEY key;
    DWORD value = 0, size = sizeof value;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kProductKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return 0;
    RegQueryValueExA(key, "Language", NULL, NULL, (BYTE*)&value, &size);
    RegCloseKey(key);
    return value;
}

using Installation = WizardTest;

// While the files are extracted the bar moves with the bytes and every
// command, key and the close box do nothing; then the completed page.
TEST_F(Installation, CompletedAfterABarThroughFourQuartersWithCommandsTurnedAway)
{
    PrepareOutcome(Outcome::Completed);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kProductKey);
    PauseEvents pause;
    ASSERT_NO_FATAL_FAILURE(BeginTestBuild({"WIZARD_PAUSE=256"}));
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(pause.WaitPaused()) << "the extraction did not report its progress";

    Page during = run_.Read();
    EXPECT_EQ(during.status, Local(3));
    EXPECT_FALSE(during.mainEnabled || during.backEnabled || during.cancelEnabled);
    EXPECT_GT(during.bar, 0);
    EXPECT_LT(during.bar, 25);
    EXPECT_EQ(LanguageValue(), 0x0409u) << "the chosen language is stored when the installation starts";
    for (int id : {(int)ID_MAIN, IDCANCEL, (int)ID_BACK, IDOK})
        EXPECT_TRUE(run_.SendCommand(id)) << id;
    run_.PressKey(VK_ESCAPE);
    run_.PressKey(VK_RETURN);
    run_.PressCloseBox();
    Sleep(500);
    EXPECT_FALSE(run_.FindBox()) << "a command was taken during the installation";
    Page still = run_.Read();
    EXPECT_EQ(still.status, Local(3));
    EXPECT_EQ(still.main, Local(16));
    EXPECT_TRUE(still.welcomeShown && still.barShown);

    pause.Resume();
    ASSERT_TRUE(run_.WaitForMain(Local(5)));
    Page done = run_.Read();
    EXPECT_EQ(done.status, "Installation completed successfully!");
    EXPECT_EQ(done.bar, 100);
    EXPECT_TRUE(done.mainEnabled && done.cancelEnabled);
    EXPECT_FALSE(done.backEnabled);
    Sleep(300);
    EXPECT_FALSE(run_.FindBox()) << "a command turned away came back later";
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "only a restart registers the uninstaller";

    run_.Click(ID_MAIN);
    RunResult end = run_.Finish();
    EXPECT_EQ(StatusMessage(end.exitCode), 1u) << Hex8(end.exitCode);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Vornak\\WizardTest")) << "the registry script ran";

    // Extraction 0 to 25 by bytes, then decision, installation and registry
    // script by entries, never going back.
    std::vector<Report> reports = ProgressReports(end.log);
    ASSERT_FALSE(reports.empty()) << end.log;
    int last = 0, extractionSteps = 0;
    int quarterEnd[4] = {-1, -1, -1, -1};
    for (const Report& report : reports) {
        ASSERT_GE(report.code, 256u);
        ASSERT_LE(report.code, 259u);
        EXPECT_GE(report.bar, last) << "the bar went back";
        EXPECT_LE(report.bar, (int)(report.code - 255) * 25);
        EXPECT_GE(report.bar, (int)(report.code - 256) * 25);
        if (report.code == 256 && report.bar > last)
            ++extractionSteps;
        quarterEnd[report.code - 256] = report.bar;
        last = report.bar;
    }
    EXPECT_GE(extractionSteps, 5) << "the bar should move with the bytes";
    EXPECT_EQ(quarterEnd[0], 25);
    EXPECT_EQ(quarterEnd[1], 50);
    EXPECT_EQ(quarterEnd[2], 75);
    EXPECT_EQ(quarterEnd[3], 100);
}

// A restart-needed installation registers the uninstaller as the restart
// page appears; declining the restart ("No") ends the run without one.
TEST_F(Installation, RestartPageRegistersTheUninstallerAndNoKeepsTheSystemRunning)
{
    PrepareOutcome(Outcome::Restart);
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, kUninstallKey);
    PauseEvents pause;
    ASSERT_NO_FATAL_FAILURE(BeginTestBuild({"WIZARD_PAUSE=258"}));
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(pause.WaitPaused());
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey));
    EXPECT_GE(run_.Read().bar, 50);
    pause.Resume();

    ASSERT_TRUE(run_.WaitForMain("&Reboot"));
    Page page = run_.Read();
    EXPECT_EQ(page.status, Local(8));
    EXPECT_EQ(page.bar, 100);
    EXPECT_FALSE(page.backEnabled);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallKey)) << "registered on entering the page";

    run_.Click(IDCANCEL);
    AnswerQuestion(10, IDNO);
    RunResult end = run_.Finish();
    EXPECT_EQ(StatusMessage(end.exitCode), 2u) << Hex8(end.exitCode);
    std::vector<std::string> lines = LogLines(end.log);
    EXPECT_EQ(CountMessages(lines, "hook RegisterUninstaller"), 1) << end.log;
    EXPECT_GE(FindMessage(lines, "Reboot supressed, user requested no reboot"), 0) << end.log;
    EXPECT_EQ(CountMessages(lines, "Forcing reboot"), 0);
}

// Nothing newer to install: the wizard closes with result 1 and the
// front-end says so.
TEST_F(Installation, UpToDateClosesTheWizardAndSaysSo)
{
    PrepareOutcome(Outcome::UpToDate);
    ASSERT_NO_FATAL_FAILURE(BeginTestBuild());
    ASSERT_NO_FATAL_FAILURE(Install());
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(run_.wizard()); })) << "the wizard stayed";
    HWND box = run_.WaitForBox(NULL);
    ASSERT_TRUE(box);
    EXPECT_EQ(WizardRun::BoxText(box), "Telmura is up to date!");
    WizardRun::Answer(box, IDOK);
    RunResult end = run_.Finish();
    EXPECT_EQ(end.exitCode >> 20, 0u) << Hex8(end.exitCode);
}

// A silent run calls the same progress callback without a window: the bar
// is not there to move, and the run goes through.
TEST_F(Installation, SilentRunReportsProgressWithoutAWindow)
{
    PrepareOutcome(Outcome::Completed);
    std::string copy = PrepareProgram(g_Paths.hooks, "wizard_silent.exe", "winxp");
    RunResult end = RunProgram(copy, "/silent /leavelog");
    EXPECT_EQ(StatusMessage(end.exitCode), 1u) << Hex8(end.exitCode);
    std::vector<Report> reports = ProgressReports(end.log);
    ASSERT_FALSE(reports.empty()) << end.log;
    for (const Report& report : reports)
        EXPECT_EQ(report.bar, -1);
    DeleteFileA(LogPathOf(copy).c_str());
}

struct Failure {
    const char* name;
    const char* fail;  // WIZARD_FAIL; "" for a damaged payload, "cut" for one cut short
    const char* text;
    const char* code;  // the code's message id and module, then its qualifier
    const char* qualifier;
};

const Failure kFailures[] = {
    {"damaged payload", "", "The setup file is damaged.  Please obtain a new copy of this setup wizard.", "815-2-",
     "FFFFFFF9"},
    {"payload cut short", "cut", "The setup file is damaged.  Please obtain a new copy of this setup wizard.",
     "815-2-", "FFFFFFFA"},
    {"disk full", "2069,-33,upgrade", "There is not enough disk space to complete the installation.", "815-2-",
     "FFFFFFDF"},
    {"platform", "2052,0", "An internal error has occurred.", "804-0-", "00000000"},
    {"rights", "2055,0", "An internal error has occurred.", "807-0-", "00000000"},
};

// A damaged copy of the test build: one byte of its last packed entry
// changed, or its archive without its end as in a partial download. (A file
// really cut short no longer starts: the loader maps its payload and refuses
// a section that passes the file's end.)
std::string DamagedCopy(bool cut)
{
    std::string copy = PrepareProgram(g_Paths.hooks, "wizard_bad.exe", "winxp");
    std::string bytes;
    if (copy.empty() || !ReadWholeFile(copy, &bytes) || bytes.size() < 10000)
        return "";
    size_t end = bytes.rfind(std::string("gW\x04\x01", 4));  // the end record's signature
    if (cut && end != std::string::npos)
        bytes.replace(end, bytes.size() - end, bytes.size() - end, '\0');
    else
        bytes[bytes.size() - 5000] ^= 0x20;
    return WriteWholeFile(copy, bytes) ? copy : "";
}

// Each failure shows its text and the four-part code of the status itself.
TEST_F(Installation, FailuresShowTheirTextAndCode)
{
    for (const Failure& failure : kFailures) {
        SCOPED_TRACE(failure.name);
        PrepareOutcome(Outcome::Restart);
        WizardRun run;
        bool cut = strcmp(failure.fail, "cut") == 0;
        if (*failure.fail && !cut) {
            std::string copy = PrepareProgram(g_Paths.hooks, "wizard_fail.exe", "winxp");
            ASSERT_TRUE(run.Start(copy, "/leavelog", {std::string("WIZARD_FAIL=") + failure.fail}));
        } else {
            std::string copy = DamagedCopy(cut);
            ASSERT_FALSE(copy.empty());
            ASSERT_TRUE(run.Start(copy, "/leavelog"));
        }
        run.Click(ID_MAIN);
        ASSERT_TRUE(run.WaitForMain(Local(16)));
        run.Click(ID_MAIN);
        ASSERT_TRUE(run.WaitForMain("&OK"));
        Page page = run.Read();
        EXPECT_FALSE(page.backEnabled);
        EXPECT_TRUE(page.cancelEnabled);

        run.Click(IDCANCEL);
        RunResult end = run.Finish();
        char line[8];
        snprintf(line, sizeof line, "%04lX", end.exitCode & 0xFFFF);
        std::string code = std::string(failure.code) + line + "-" + failure.qualifier;
        EXPECT_EQ(page.status,
                  "An error occurred while installing Telmura:\n" + std::string(failure.text) + "\nThe error code is " +
                      code + ".");
        EXPECT_EQ(std::string(Hex8(end.exitCode)).substr(2, 4),
                  std::string(failure.code).substr(0, 3) + std::string(failure.code).substr(4, 1));
    }
}

// Acme Widget, the generic setup's example product, and what an
// installation of it leaves: status, files, the empty folder, keys, and the
// log of the installation itself (from the product's line to the status
// line) without the wizard's lines, the run's file name and work-file names.
const std::string kAcme = "C:\\Program Files\\Acme\\";
const char kAcmeEntry[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Acme Widget";

void RemoveAcme()
{
    for (const char* name : {"WIDGET.EXE", "WIDGET.DLL", "README.TXT", "UNINSTAL.EXE"})
        DeleteFileA((kAcme + "Widget\\" + name).c_str());
    for (const std::string& folder : {kAcme + "Widget\\Data", kAcme + "Widget", kAcme})
        RemoveDirectoryA(folder.c_str());
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Acme");
    RegDeleteTreeA(HKEY_LOCAL_MACHINE, kAcmeEntry);
}

std::vector<std::string> AcmeOutcome(const RunResult& end)
{
    std::vector<std::string> outcome = {Hex8(end.exitCode)};
    for (const char* name : {"WIDGET.EXE", "WIDGET.DLL", "README.TXT"}) {
        std::string bytes = "<missing>";
        ReadWholeFile(kAcme + "Widget\\" + name, &bytes);
        outcome.push_back(bytes);
    }
    outcome.push_back(FileExistsAt(kAcme + "Widget\\Data") ? "Data" : "<no Data>");
    for (const char* key : {"SOFTWARE\\Acme\\Widget", kAcmeEntry})
        outcome.push_back(KeyExists(HKEY_LOCAL_MACHINE, key) ? key : "<no key>");
    std::vector<std::string> lines = LogLines(end.log);
    for (int i = std::max(FindMessage(lines, "Product Acme Widget 1.2.0.3"), 0); i < (int)lines.size(); ++i) {
        std::string line = UpperCase(lines[i]);
        for (const char* name : {"ACME_SILENT", "ACME_XP"})
            for (size_t at; (at = line.find(name)) != std::string::npos;)
                line.replace(at, strlen(name), "ACME");
        for (size_t at = 0; (at = line.find("QNB", at)) != std::string::npos; at += 3)
            while (at + 3 < line.size() && isxdigit((unsigned char)line[at + 3]))
                line.erase(at + 3, 1);
        if (line.rfind("TLMRINST", 0) != 0)
            outcome.push_back(line);
        if (MessageOf(lines[i]).rfind("Status ", 0) == 0)
            break;
    }
    return outcome;
}

// The generic setup's visual run in a language its description gives texts
// for (German) and in one it does not (French): the wizard names the
// product from the description or from the general texts, and installs as
// the silent run does.
TEST_F(Installation, GenericProductSpeaksItsDescriptionAndInstallsAsSilently)
{
    if (g_Generic.empty())
        GTEST_SKIP() << "no --generic= given";
    RemoveAcme();
    std::string silent = PrepareProgram(g_Generic, "acme_silent.exe", "winxp");
    RunResult silentEnd = RunProgram(silent, "/silent /leavelog");
    DeleteFileA(LogPathOf(silent).c_str());
    std::vector<std::string> expected = AcmeOutcome(silentEnd);
    ASSERT_EQ(StatusMessage(silentEnd.exitCode), 1u) << silentEnd.log;
    ASSERT_GT(expected.size(), 20u) << silentEnd.log;

    const std::pair<LANGID, const char*> kRows[] = {
        {0x0407, "Willkommen beim Setup von Acme Widget.\n\nWidget zeigt Ihre Dinge an."},
        {0x040C, nullptr},  // the general welcome
    };
    for (const auto& row : kRows) {
        LANGID language = row.first;
        SCOPED_TRACE(language);
        ASSERT_GE(OfferedIndex(language), 0) << "not offered under " << g_Locale;
        RemoveAcme();
        ASSERT_NO_FATAL_FAILURE(Begin(g_Generic, "acme_xp.exe"));
        run_.ChooseLanguage(OfferedIndex(language));
        ASSERT_TRUE(run_.WaitForMain(Local(20, language)));
        char text[1025];
        wsprintfA(text, Local(40, language).c_str(), "Acme");
        EXPECT_EQ(run_.Read().title, text);
        EXPECT_EQ(WindowText(run_.Item(ID_TITLE)), "Widget");
        wsprintfA(text, Local(14, language).c_str(), "1.2.0.3");
        EXPECT_EQ(WindowText(run_.Item(ID_VERSION)), text);

        ASSERT_NO_FATAL_FAILURE(Next(language));
        wsprintfA(text, Local(41, language).c_str(), "Acme Widget", "Acme Widget", "1.2.0.3");
        EXPECT_EQ(run_.Read().welcome, row.second ? row.second : text);
        run_.Click(ID_MAIN);
        ASSERT_TRUE(run_.WaitForMain(Local(5, language)));
        EXPECT_EQ(run_.Read().status, Local(7, language));
        run_.Click(ID_MAIN);
        RunResult end = run_.Finish();
        EXPECT_EQ(AcmeOutcome(end), expected) << end.log;
    }
    RemoveAcme();
}

}  // namespace
