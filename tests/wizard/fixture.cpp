#include "wizard_tests.h"

#include "language.h"

static std::string SystemDir()
{
    char path[MAX_PATH];
    UINT length = GetSystemDirectoryA(path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0) + "\\";
}

// Removes path, or makes it a file from the future.
static void PlaceTarget(const std::string& path, bool current)
{
    DeleteFileA(path.c_str());
    if (!current)
        return;
    ASSERT_TRUE(WriteWholeFile(path, "installed before"));
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    SYSTEMTIME future = {2037, 1, 5, 1, 12, 0, 0, 0};
    FILETIME time;
    SystemTimeToFileTime(&future, &time);
    SetFileTime(file, NULL, NULL, &time);
    CloseHandle(file);
}

void SetTargets(bool driverCurrent, bool dataCurrent)
{
    std::string system = SystemDir();
    // Drivers: drivers\ below the system directory on the NT family,
    // iosubsys\ on the 95 family.
    for (const char* drivers : {"drivers\\", "iosubsys\\"}) {
        CreateDirectoryA((system + drivers).c_str(), NULL);
        PlaceTarget(system + drivers + "wizdrv.sys", driverCurrent);
        DeleteFileA((system + drivers + "wizdrv.BAK").c_str());
    }
    PlaceTarget(system + "wizdata.bin", dataCurrent);
}

void PrepareOutcome(Outcome outcome)
{
    SetTargets(outcome != Outcome::Restart, outcome == Outcome::UpToDate);
}

bool KeyExists(HKEY root, const char* path)
{
    HKEY key;
    if (RegOpenKeyExA(root, path, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

int OfferedIndex(LANGID language)
{
    for (int i = 0; i < g_Languages.count; ++i)
        if (g_Languages.ids[i] == language)
            return i;
    return -1;
}

void WizardTest::SetUp()
{
    if (g_Paths.setup.empty() || g_Paths.hooks.empty())
        GTEST_SKIP() << "--setup= and --hooks= are needed";
}

void WizardTest::Begin(const std::string& program, const std::string& name, const std::string& version,
                       const std::vector<std::string>& environment, const std::string& arguments)
{
    std::string copy = PrepareProgram(program, name, version);
    ASSERT_FALSE(copy.empty()) << "cannot copy " << program;
    DeleteFileA(LogPathOf(copy).c_str());
    ASSERT_TRUE(run_.Start(copy, arguments, environment)) << "no wizard appeared";
}

void WizardTest::Next(LANGID language)
{
    run_.Click(ID_MAIN);
    ASSERT_TRUE(run_.WaitForMain(Local(16, language))) << run_.Read().main;
}

void WizardTest::Install(LANGID language)
{
    Next(language);
    run_.Click(ID_MAIN);
}

void WizardTest::AnswerQuestion(UINT textId, int button, LANGID language)
{
    HWND box = run_.WaitForBox(run_.wizard());
    ASSERT_TRUE(box) << "no question appeared";
    EXPECT_EQ(WizardRun::BoxText(box), Local(textId, language));
    EXPECT_EQ(WindowText(box), Local(1, language));
    // Its buttons speak the question's language, not the system's.
    EXPECT_EQ(WindowText(GetDlgItem(box, IDYES)), Local(28, language));
    EXPECT_EQ(WindowText(GetDlgItem(box, IDNO)), Local(29, language));
    WizardRun::Answer(box, button);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); })) << "the question stayed";
}

void WizardTest::CancelRun(LANGID language)
{
    run_.Click(IDCANCEL);
    AnswerQuestion(11, IDYES, language);
    RunResult end = run_.Finish();
    EXPECT_EQ(StatusMessage(end.exitCode), 2049u) << Hex8(end.exitCode);
}

PauseEvents::PauseEvents()
    : paused_(CreateEventA(NULL, TRUE, FALSE, "TelmuraWizardTestPaused")),
      resume_(CreateEventA(NULL, TRUE, FALSE, "TelmuraWizardTestResume"))
{
}

PauseEvents::~PauseEvents()
{
    Resume();
    CloseHandle(paused_);
    CloseHandle(resume_);
}

bool PauseEvents::WaitPaused(DWORD timeoutMs)
{
    return WaitForSingleObject(paused_, timeoutMs) == WAIT_OBJECT_0;
}

void PauseEvents::Resume()
{
    SetEvent(resume_);
}
