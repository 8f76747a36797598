// The first two pages of the wizard: their texts and controls, the language
// choice, Next and Back, and the three ways of leaving, each asked first.
#include "wizard_tests.h"

#include "language.h"

namespace {

void ExpectLanguagePage(const Page& page, LANGID language)
{
    EXPECT_EQ(page.title, Local(1, language));
    EXPECT_EQ(page.prompt, Local(18, language));
    EXPECT_EQ(page.main, Local(20, language));
    EXPECT_EQ(page.back, Local(19, language));
    EXPECT_EQ(page.cancel, Local(17, language));
    EXPECT_TRUE(page.listShown && page.promptShown);
    EXPECT_FALSE(page.welcomeShown || page.statusShown || page.barShown);
    EXPECT_TRUE(page.mainEnabled && page.cancelEnabled);
    EXPECT_FALSE(page.backEnabled);
    EXPECT_EQ(page.selection, OfferedIndex(language));
}

void ExpectWelcomePage(const Page& page, LANGID language)
{
    EXPECT_EQ(page.title, Local(1, language));
    EXPECT_EQ(page.welcome, Local(9, language));
    EXPECT_EQ(page.status, Local(2, language));
    EXPECT_EQ(page.main, Local(16, language));
    EXPECT_EQ(page.cancel, Local(17, language));
    EXPECT_FALSE(page.listShown || page.promptShown);
    EXPECT_TRUE(page.welcomeShown && page.statusShown && page.barShown);
    EXPECT_TRUE(page.mainEnabled && page.backEnabled && page.cancelEnabled);
    EXPECT_EQ(page.bar, 0);
}

using Pages = WizardTest;

// The language list opens with every language in sight, none scrolled away.
TEST_F(Pages, LanguageListShowsAllItsEntries)
{
    ASSERT_NO_FATAL_FAILURE(BeginTestBuild());
    HWND list = run_.OpenLanguageList();
    ASSERT_TRUE(list);
    RECT shown;
    GetClientRect(list, &shown);
    LRESULT count = SendMessageA(list, LB_GETCOUNT, 0, 0);
    LRESULT item = SendMessageA(list, LB_GETITEMHEIGHT, 0, 0);
    EXPECT_EQ(count, g_Languages.count);
    EXPECT_EQ(SendMessageA(list, LB_GETTOPINDEX, 0, 0), 0);
    EXPECT_GE(shown.bottom, count * item) << count << " entries of " << item << " pixels";
    SendMessageA(run_.Item(ID_LANGUAGES), CB_SHOWDROPDOWN, FALSE, 0);
    CancelRun();
}

// Another language relabels the window at once; Next and Back keep it, and
// the list keeps its selection.
TEST_F(Pages, LanguageChoiceRelabelsAtOnceAndSurvivesNextAndBack)
{
    int german = OfferedIndex(0x0407);
    if (german < 0)
        GTEST_SKIP() << "German is not offered under " << g_Locale;
    ASSERT_NO_FATAL_FAILURE(BeginTestBuild());
    ExpectLanguagePage(run_.Read(), kEnglish);
    EXPECT_EQ(WindowText(run_.Item(ID_TITLE)), "Vornak Telmura");
    EXPECT_EQ(WindowText(run_.Item(ID_VERSION)), "Version 5.3.0.71");

    run_.ChooseLanguage(german);
    ASSERT_TRUE(run_.WaitForMain(Local(20, 0x0407)));
    ExpectLanguagePage(run_.Read(), 0x0407);

    ASSERT_NO_FATAL_FAILURE(Next(0x0407));
    ExpectWelcomePage(run_.Read(), 0x0407);
    run_.Click(ID_BACK);
    ASSERT_TRUE(run_.WaitForMain(Local(20, 0x0407)));
    ExpectLanguagePage(run_.Read(), 0x0407);

    run_.Click(IDCANCEL);
    AnswerQuestion(11, IDYES, 0x0407);
    EXPECT_EQ(StatusMessage(run_.Finish().exitCode), 2049u);
}

struct Leaving {
    const char* name;
    void (*press)(const WizardRun& run);
};
const Leaving kWaysOut[] = {
    {"Esc", [](const WizardRun& run) { run.PressKey(VK_ESCAPE); }},
    {"Cancel button", [](const WizardRun& run) { run.Click(IDCANCEL); }},
    {"close box", [](const WizardRun& run) { run.PressCloseBox(); }},
};

// On both pages each way out asks "Are you sure...?": No keeps the page,
// Yes ends the run cancelled, with the log line that says so.
TEST_F(Pages, EveryWayOutAsksFirst)
{
    for (bool welcome : {false, true}) {
        for (const Leaving& way : kWaysOut) {
            SCOPED_TRACE(std::string(way.name) + (welcome ? " on the welcome page" : " on the language page"));
            WizardRun run;
            std::string copy = PrepareProgram(g_Paths.hooks, "wizard_out.exe", "winxp");
            ASSERT_TRUE(run.Start(copy, "/leavelog"));
            if (welcome) {
                run.Click(ID_MAIN);
                ASSERT_TRUE(run.WaitForMain(Local(16)));
            }
            Page before = run.Read();

            way.press(run);
            HWND box = run.WaitForBox(run.wizard());
            ASSERT_TRUE(box);
            EXPECT_EQ(WizardRun::BoxText(box), "Are you sure you want to exit now?");
            WizardRun::Answer(box, IDNO);
            ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
            Page after = run.Read();
            EXPECT_EQ(after.main, before.main);
            EXPECT_EQ(after.listShown, before.listShown);
            EXPECT_EQ(after.welcomeShown, before.welcomeShown);

            way.press(run);
            box = run.WaitForBox(run.wizard());
            ASSERT_TRUE(box);
            WizardRun::Answer(box, IDYES);
            RunResult end = run.Finish();
            EXPECT_EQ(StatusMessage(end.exitCode), 2049u) << Hex8(end.exitCode);
            std::vector<std::string> lines = LogLines(end.log);
            int cancelled = FindMessage(lines, "User cancelled upgrade from main dialog");
            ASSERT_GE(cancelled, 0) << end.log;
            EXPECT_EQ(lines[cancelled].substr(0, 8), "TLMRINST");
            EXPECT_GE(FindMessage(lines, "Status " + Hex8(end.exitCode), cancelled), cancelled);
            EXPECT_EQ(CountMessages(lines, "progress"), 0) << "nothing was installed";
        }
    }
}

// The real setup.exe shows the same wizard.
TEST_F(Pages, SetupShowsTheWizard)
{
    LANGID language = g_Languages.ids[g_Languages.selected];
    ASSERT_NO_FATAL_FAILURE(Begin(g_Paths.setup, "setup_pages.exe"));
    ExpectLanguagePage(run_.Read(), language);
    ASSERT_NO_FATAL_FAILURE(Next(language));
    ExpectWelcomePage(run_.Read(), language);
    CancelRun(language);
}

}  // namespace
