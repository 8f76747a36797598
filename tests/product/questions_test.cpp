// QueryFullProcessImageNameA: Wine has it, whatever version it reports.
#define _WIN32_WINNT 0x0600
// Visual runs of setup.exe: the checks and questions before the wizard, and
// the message after it, answered as a user would, on each family. The
// answers go to the message boxes; a wizard dialog, when one comes, is taken
// through its pages with its main button.
#include <gtest/gtest.h>

#include "product.h"

namespace {

const char kCaption[] = "Vornak Setup Wizard";
const char kInstallQuestion[] = "This setup wizard installs the Vornak Telmura for Windows.  Do you wish to continue?";
const char kDiscInstallQuestion[] =
    "A disc has been inserted that requires the Vornak Telmura. This setup wizard installs the Vornak Telmura for "
    "Windows.  Do you wish to continue?";
const char kDiscUpgradeQuestion[] =
    "A disc has been inserted that requires the Vornak Telmura. This setup wizard will upgrade the Vornak Telmura "
    "for Windows.  Do you wish to continue?";
const char kUnsupported[] =
    "Sorry, you can not install the Vornak Telmura on this platform. Telmura is for Windows 95, Windows NT 4.0 or "
    "later.";
const char kNoRights[] =
    "This setup wizard requires Administrator rights in order to run.  Please log off, log on as a user with local "
    "Administrator rights, and then run this setup wizard again.";
const char kUpToDate[] = "Telmura is up to date!";
const char kCancelled[] = "User cancelled upgrade from pre-display confirmation";

class Questions : public ProductTest {
  protected:
    // A copy of setup.exe named ask_VERSION.exe, run visually.
    AnsweredRun Ask(const Family& family, const std::string& arguments, const std::vector<int>& answers,
                    HANDLE token = NULL, const std::function<void()>& onShown = nullptr)
    {
        std::string copy = PrepareProgram(g_Paths.setup, std::string("ask_") + family.version + ".exe", family.version);
        EXPECT_FALSE(copy.empty());
        DeleteFileA(LogPathOf(copy).c_str());
        AnsweredRun answered = RunAnswering(copy, arguments, answers, token, onShown);
        EXPECT_TRUE(answered.run.started && !answered.run.timedOut);
        EXPECT_EQ(InconsistentStatusLine(answered.run.log), "");
        DeleteFileA(LogPathOf(copy).c_str());
        return answered;
    }
};

void ExpectBox(const Box& box, const char* text, std::vector<int> buttons)
{
    EXPECT_EQ(box.caption, kCaption);
    EXPECT_EQ(box.text, text);
    EXPECT_EQ(box.buttons, buttons);
}

struct AutorunCase {
    const char* installed;  // test driver file, "" for none, "text" for one without version information
    bool autorun;
    const char* question;   // nullptr: no question
    const char* logLine;    // a line the log must hold
};

// The installed driver, the option and what the run asks, on each family.
TEST_F(Questions, AutorunAsksByTheInstalledDriverVersion)
{
    const AutorunCase kCases[] = {
        {"drv53071.sys", true, nullptr, "Found previously installed image...cancelling upgrade"},
        {"drv53080.sys", true, nullptr, "Found previously installed image...cancelling upgrade"},
        {"drv54000.sys", true, nullptr, "Found previously installed image...cancelling upgrade"},
        {"drv60000.sys", true, nullptr, "Found previously installed image...cancelling upgrade"},
        {"drv53070.sys", true, kDiscUpgradeQuestion, "Sub Versions Match...checking build number"},
        {"drv52999.sys", true, kDiscUpgradeQuestion, kCancelled},
        {"text", true, kDiscUpgradeQuestion, kCancelled},
        {"", true, kDiscInstallQuestion, kCancelled},
        {"drv52999.sys", false, kInstallQuestion, kCancelled},
    };
    for (const Family& family : kFamilies) {
        for (const AutorunCase& test : kCases) {
            SCOPED_TRACE(std::string(family.version) + " " + test.installed + (test.autorun ? " autorun" : ""));
            std::string driver = DriverPath(family);
            DeleteFileA(driver.c_str());
            if (std::string(test.installed) == "text") {
                ASSERT_TRUE(WriteWholeFile(driver, "no version information"));
            } else if (test.installed[0]) {
                ASSERT_TRUE(CopyFileA((g_Product.drivers + test.installed).c_str(), driver.c_str(), FALSE));
            }

            AnsweredRun answered = Ask(family, test.autorun ? "/autorun /leavelog" : "/leavelog", {IDNO});
            EXPECT_EQ(Hex8(answered.run.exitCode & 0xFFF00000), Hex8(0x80100000)) << answered.run.log;
            if (test.question) {
                ASSERT_EQ(answered.boxes.size(), 1u);
                ExpectBox(answered.boxes[0], test.question, {IDYES, IDNO});
            } else {
                EXPECT_EQ(answered.boxes.size(), 0u);
            }
            std::vector<std::string> lines = LogLines(answered.run.log);
            EXPECT_GE(FindMessage(lines, test.logLine), 0) << answered.run.log;
            std::string checking = "Checking for older existing version of ";
            int checked = FindMessage(lines, checking);
            if (test.autorun) {
                ASSERT_GE(checked, 0) << answered.run.log;
                EXPECT_EQ(LowerCase(MessageOf(lines[checked])), LowerCase(checking + driver));
            } else {
                EXPECT_EQ(checked, -1) << "no version is read without AUTORUN";
            }
            EXPECT_FALSE(FileExistsAt(SystemDir() + "tlmrunin.exe")) << "nothing is installed";
        }
    }
}

BOOL CALLBACK FindReadmeWindow(HWND window, LPARAM param)
{
    char title[256];
    GetWindowTextA(window, title, sizeof title);
    if (LowerCase(title).find("tlmrinst") == std::string::npos)
        return TRUE;
    GetWindowThreadProcessId(window, (DWORD*)param);
    return FALSE;
}

// The process id of a text editor showing the readme, or 0.
DWORD ReadmeEditor()
{
    DWORD process = 0;
    EnumWindows(FindReadmeWindow, (LPARAM)&process);
    return process;
}

// The file a process was started from, in lower case.
std::string ImageOf(DWORD id)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    char path[MAX_PATH] = "";
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameA(process, 0, path, &size);
    CloseHandle(process);
    return LowerCase(path);
}

void EndProcess(DWORD id)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id);
    if (process) {
        TerminateProcess(process, 0);
        WaitForSingleObject(process, 5000);
        CloseHandle(process);
    }
}

// With everything installed, the answer Yes leads through the wizard to the
// message that nothing needed installing, from setup.exe's own payload also
// when another file is put in its place while the first question waits (its
// payload is read from the running image, never from the file by name); the
// readme beside setup.exe opens
// in the Windows directory's text editor (not in a notepad.exe put beside
// setup.exe) behind the wizard, and without one no editor starts.
TEST_F(Questions, UpToDateAfterYesAndTheReadme)
{
    for (const Family& family : {kFamilies[1], kFamilies[5]}) {
        SCOPED_TRACE(family.version);
        RunResult installed = RunSetup(family.version, "/silent");
        ASSERT_EQ(installed.exitCode >> 20, 2u) << installed.log;

        std::string readme = g_Paths.work + "tlmrinst.txt";
        DeleteFileA(readme.c_str());
        std::string notepad = WindowsDir() + "notepad.exe";
        std::string copy = g_Paths.work + "ask_" + family.version + ".exe";
        bool replaced = false;
        DeleteFileA((copy + ".old").c_str());
        AnsweredRun plain = Ask(family, "", {IDYES, IDOK}, NULL, [&] {
            replaced = MoveFileA(copy.c_str(), (copy + ".old").c_str()) && CopyFileA(notepad.c_str(), copy.c_str(), FALSE);
        });
        EXPECT_TRUE(replaced) << "nothing was put in setup.exe's place while the first question waited";
        EXPECT_EQ(Hex8(plain.run.exitCode & 0xFFF00000), Hex8(0)) << plain.run.log;
        ASSERT_EQ(plain.boxes.size(), 2u);
        ExpectBox(plain.boxes[0], kInstallQuestion, {IDYES, IDNO});
        ExpectBox(plain.boxes[1], kUpToDate, {IDOK});
        EXPECT_FALSE(ProcessRunning("notepad.exe"));

        std::string shipped = g_Paths.setup.substr(0, g_Paths.setup.find_last_of('\\') + 1) + "tlmrinst.txt";
        ASSERT_TRUE(CopyFileA(shipped.c_str(), readme.c_str(), FALSE));
        std::string planted = g_Paths.work + "notepad.exe";
        ASSERT_TRUE(CopyFileA(notepad.c_str(), planted.c_str(), FALSE));
        AnsweredRun withReadme = Ask(family, "", {IDYES, IDOK});
        EXPECT_EQ(withReadme.boxes.size(), 2u);
        EXPECT_EQ(withReadme.wizardCoveredBy, "") << "the wizard is not in front";
        DWORD editor = 0;
        for (DWORD start = GetTickCount(); !editor && GetTickCount() - start < 20000; Sleep(100))
            editor = ReadmeEditor();
        EXPECT_NE(editor, 0u) << "no window shows the readme";
        EXPECT_EQ(ImageOf(editor), LowerCase(notepad));
        EndProcess(editor);
        DeleteFileA(readme.c_str());
        DeleteFileA(planted.c_str());
        RemoveTelmura();
    }
}

struct Refusal {
    const char* version;
    bool restricted;  // without administrator rights
    DWORD message;
    const char* text;
};

// Refused before anything is done: a silent run shows nothing, a visual one
// says why.
TEST_F(Questions, RefusalsShowTheirReasonOnlyInVisualRuns)
{
    const Refusal kRefusals[] = {
        {"nt40", true, 2055, kNoRights}, {"win2k", true, 2055, kNoRights}, {"winxp", true, 2055, kNoRights},
        {"nt351", false, 2052, kUnsupported}, {"win31", false, 2052, kUnsupported},
    };
    HANDLE token = TokenWithoutAdministrators();
    ASSERT_NE(token, (HANDLE)NULL);
    for (const Refusal& refusal : kRefusals) {
        SCOPED_TRACE(refusal.version);
        Family family = {refusal.version, true, "", ""};
        HANDLE user = refusal.restricted ? token : NULL;
        AnsweredRun silent = Ask(family, "/silent /leavelog", {}, user);
        EXPECT_EQ(silent.run.exitCode >> 20, refusal.message) << silent.run.log;
        EXPECT_EQ(silent.boxes.size(), 0u);
        if (refusal.restricted) {
            std::vector<std::string> lines = LogLines(silent.run.log);
            EXPECT_GE(FindMessage(lines, "User does *NOT* have administrator rights on the local machine"), 0);
            EXPECT_GE(FindMessage(lines, "The utility requires that the user be logged on as Administrator"), 0);
        }

        AnsweredRun visual = Ask(family, "", {IDOK}, user);
        EXPECT_EQ(visual.run.exitCode >> 20, refusal.message) << visual.run.log;
        ASSERT_EQ(visual.boxes.size(), 1u);
        ExpectBox(visual.boxes[0], refusal.text, {IDOK});
        EXPECT_FALSE(FileExistsAt(SystemDir() + "tlmrunin.exe")) << "nothing is installed";
    }
    CloseHandle(token);
}

}  // namespace
