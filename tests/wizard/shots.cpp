// Pictures of the wizard's pages while a run shows them (with
// --shots=FOLDER): scripts/screenshots.sh runs this under Wine's virtual
// desktop, so the windows have their frames, and takes each picture from
// the display when asked. Each is named after the page and the locale.
#include "wizard_tests.h"

#include "language.h"

namespace {

// The wizard, and a question box or the open list over it when there is one.
void Picture(const WizardRun& run, const std::string& name, HWND box = NULL)
{
    Sleep(700);  // painted
    RECT area;
    GetWindowRect(box && !IsWindow(run.wizard()) ? box : run.wizard(), &area);
    if (box) {
        RECT boxArea;
        GetWindowRect(box, &boxArea);
        UnionRect(&area, &area, &boxArea);
    }
    EXPECT_TRUE(RequestPicture(g_ShotsDir, area, name + "-" + g_Locale)) << name;
}

// A run of the test build, started with environment, through Next and
// Install; TRUE once the installation has begun.
bool StartInstalling(WizardRun& run, const std::vector<std::string>& environment, LANGID language)
{
    if (!run.Start(PrepareProgram(g_Paths.hooks, "wizard_shot.exe", "winxp"), "", environment))
        return false;
    run.Click(ID_MAIN);
    if (!run.WaitForMain(Local(16, language)))
        return false;
    run.Click(ID_MAIN);
    return true;
}

// The page an installation ends on, pictured, then closed with its main
// button.
void PictureEndPage(const std::vector<std::string>& environment, LANGID language, const std::string& name)
{
    WizardRun run;
    ASSERT_TRUE(StartInstalling(run, environment, language));
    ASSERT_TRUE(run.WaitForMain(Local(5, language)));
    Picture(run, name);
    run.Click(ID_MAIN);
    run.Finish();
}

using Screens = WizardTest;

// Every page in English; the language, welcome, restart and error pages in
// other languages, whose labels and texts are the longest there.
TEST_F(Screens, EveryPage)
{
    if (g_ShotsDir.empty())
        GTEST_SKIP() << "pictures only with --shots=";
    LANGID language = g_Languages.ids[g_Languages.selected];
    bool english = language == kEnglish;
    PrepareOutcome(Outcome::Restart);
    {
        PauseEvents pause;
        // Paused while the files are put in place: the bar past half-way.
        ASSERT_NO_FATAL_FAILURE(BeginTestBuild({"WIZARD_PAUSE=258"}));
        Picture(run_, "1-language");
        if (english) {
            HWND list = run_.OpenLanguageList();
            Picture(run_, "1-language-list", list);
            SendMessageA(run_.Item(ID_LANGUAGES), CB_SHOWDROPDOWN, FALSE, 0);
        }
        ASSERT_NO_FATAL_FAILURE(Next(language));
        Picture(run_, "2-welcome");
        if (english) {
            run_.Click(IDCANCEL);
            HWND box = run_.WaitForBox(run_.wizard());
            Picture(run_, "3-exit-question", box);
            WizardRun::Answer(box, IDNO);
        }
        run_.Click(ID_MAIN);
        ASSERT_TRUE(pause.WaitPaused());
        if (english)
            Picture(run_, "4-installing");
        pause.Resume();
        ASSERT_TRUE(run_.WaitForMain(Local(4, language)));
        Picture(run_, "5-restart");
        run_.Click(IDCANCEL);
        HWND box = run_.WaitForBox(run_.wizard());
        if (english)
            Picture(run_, "6-restart-question", box);
        WizardRun::Answer(box, IDNO);
        run_.Finish();
    }
    PictureEndPage({english ? "WIZARD_FAIL=2069,-33,upgrade" : "WIZARD_FAIL=2071,5"}, language, "8-error");
    if (!english)
        return;
    PrepareOutcome(Outcome::Completed);
    PictureEndPage({}, language, "7-completed");
    PrepareOutcome(Outcome::UpToDate);
    WizardRun run;
    ASSERT_TRUE(StartInstalling(run, {}, language));
    HWND box = run.WaitForBox(NULL);
    ASSERT_TRUE(box);
    Picture(run, "9-up-to-date", box);
    WizardRun::Answer(box, IDOK);
    run.Finish();
}

// The generic setup's welcome page, in English, where its description speaks.
TEST_F(Screens, GenericWelcome)
{
    if (g_ShotsDir.empty() || g_Generic.empty() || g_Languages.ids[g_Languages.selected] != kEnglish)
        GTEST_SKIP() << "one picture, in English, with --shots= and --generic=";
    ASSERT_NO_FATAL_FAILURE(Begin(g_Generic, "acme_shot.exe"));
    ASSERT_NO_FATAL_FAILURE(Next());
    Picture(run_, "2-welcome-generic");
    run_.Click(IDCANCEL);
    WizardRun::Answer(run_.WaitForBox(run_.wizard()), IDYES);
    run_.Finish();
}

}  // namespace
