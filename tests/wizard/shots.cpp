// Pictures of the wizard's pages while a run shows them (with
// --shots=FOLDER): scripts/screenshots.sh runs this under Wine's virtual
// desktop, so the windows have their frames, and takes each picture from
// the display when asked. Each is named after the page and the locale.
#include "wizard_tests.h"

#include "language.h"

namespace {

// The wizard, and a question box over it when there is one.
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

using Screens = WizardTest;

TEST_F(Screens, EveryPage)
{
    if (g_ShotsDir.empty())
        GTEST_SKIP() << "pictures only with --shots=";
    LANGID language = g_Languages.ids[g_Languages.selected];
    PrepareOutcome(Outcome::Restart);
    {
        PauseEvents pause;
        ASSERT_NO_FATAL_FAILURE(BeginTestBuild({"WIZARD_PAUSE=256"}));
        Picture(run_, "1-language");
        ASSERT_NO_FATAL_FAILURE(Next(language));
        Picture(run_, "2-welcome");
        if (language != kEnglish) {
            // The pages whose labels and texts are the longest.
            run_.Click(ID_MAIN);
            ASSERT_TRUE(pause.WaitPaused());
            pause.Resume();
            ASSERT_TRUE(run_.WaitForMain(Local(4, language)));
            Picture(run_, "5-restart");
            run_.Click(IDCANCEL);
            AnswerQuestion(10, IDNO, language);
            run_.Finish();
            WizardRun run;
            ASSERT_TRUE(run.Start(PrepareProgram(g_Paths.hooks, "wizard_shot.exe", "winxp"), "",
                                  {"WIZARD_FAIL=2071,5"}));
            run.Click(ID_MAIN);
            ASSERT_TRUE(run.WaitForMain(Local(16, language)));
            run.Click(ID_MAIN);
            ASSERT_TRUE(run.WaitForMain(Local(5, language)));
            Picture(run, "8-error");
            run.Click(ID_MAIN);
            run.Finish();
            return;
        }
        run_.Click(IDCANCEL);
        HWND box = run_.WaitForBox(run_.wizard());
        Picture(run_, "3-exit-question", box);
        WizardRun::Answer(box, IDNO);
        run_.Click(ID_MAIN);
        ASSERT_TRUE(pause.WaitPaused());
        Picture(run_, "4-installing");
        pause.Resume();
        ASSERT_TRUE(run_.WaitForMain("&Reboot"));
        Picture(run_, "5-restart");
        run_.Click(IDCANCEL);
        box = run_.WaitForBox(run_.wizard());
        Picture(run_, "6-restart-question", box);
        WizardRun::Answer(box, IDNO);
        run_.Finish();
    }
    PrepareOutcome(Outcome::Completed);
    {
        WizardRun run;
        ASSERT_TRUE(run.Start(PrepareProgram(g_Paths.hooks, "wizard_shot.exe", "winxp"), ""));
        run.Click(ID_MAIN);
        ASSERT_TRUE(run.WaitForMain(Local(16)));
        run.Click(ID_MAIN);
        ASSERT_TRUE(run.WaitForMain(Local(5)));
        Picture(run, "7-completed");
        run.Click(ID_MAIN);
        run.Finish();
    }
    {
        WizardRun run;
        ASSERT_TRUE(run.Start(PrepareProgram(g_Paths.hooks, "wizard_shot.exe", "winxp"), "",
                              {"WIZARD_FAIL=2069,-33,upgrade"}));
        run.Click(ID_MAIN);
        ASSERT_TRUE(run.WaitForMain(Local(16)));
        run.Click(ID_MAIN);
        ASSERT_TRUE(run.WaitForMain(Local(5)));
        Picture(run, "8-error");
        run.Click(ID_MAIN);
        run.Finish();
    }
    PrepareOutcome(Outcome::UpToDate);
    {
        WizardRun run;
        ASSERT_TRUE(run.Start(PrepareProgram(g_Paths.hooks, "wizard_shot.exe", "winxp"), ""));
        run.Click(ID_MAIN);
        ASSERT_TRUE(run.WaitForMain(Local(16)));
        run.Click(ID_MAIN);
        HWND box = run.WaitForBox(NULL);
        ASSERT_TRUE(box);
        Picture(run, "9-up-to-date", box);
        WizardRun::Answer(box, IDOK);
        run.Finish();
    }
}

}  // namespace
