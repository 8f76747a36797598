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

// The real setup.exe shows the same wizard, laid out as its template says:
// every control in template order, with its class, style and place (in
// dialog units of the 358 x 180 dialog).
TEST_F(Pages, SetupShowsTheWizardAsItsTemplateLaysItOut)
{
    ASSERT_NO_FATAL_FAILURE(Begin(g_Paths.setup, "setup_pages.exe"));
    ExpectLanguagePage(run_.Read(), g_Languages.ids[g_Languages.selected]);

    struct Expected {
        int id;
        const char* className;
        DWORD style;  // without WS_VISIBLE and WS_DISABLED, which pages change
        int x, y, width, height;
    };
    const Expected kTemplate[] = {
        {1006, "ComboBox", CBS_DROPDOWNLIST | WS_VSCROLL | WS_GROUP | WS_TABSTOP, 148, 82, 119, 0},
        {1004, "Button", BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 246, 160, 50, 14},
        {1009, "Button", BS_PUSHBUTTON | WS_TABSTOP, 196, 160, 50, 14},
        {2, "Button", BS_PUSHBUTTON | WS_TABSTOP, 302, 160, 50, 14},
        {0xFFFF, "Static", SS_BITMAP | SS_CENTERIMAGE | SS_REALSIZEIMAGE | SS_SUNKEN, 6, 6, 80, 140},
        {1000, "Static", SS_LEFT, 98, 6, 175, 15},
        {1001, "Static", SS_RIGHT, 277, 6, 75, 15},
        {1005, "Static", SS_LEFT, 98, 34, 254, 62},
        {1003, "msctls_progress32", 0, 98, 136, 254, 10},
        {0xFFFF, "Static", SS_BLACKFRAME | SS_SUNKEN, 6, 153, 346, 1},
        {1007, "Static", SS_LEFT, 98, 100, 254, 32},
        {1010, "Static", SS_LEFT, 98, 53, 250, 23},
    };
    RECT client;
    GetClientRect(run_.wizard(), &client);
    HWND control = GetWindow(run_.wizard(), GW_CHILD);
    for (const Expected& expected : kTemplate) {
        SCOPED_TRACE("control " + std::to_string(expected.id));
        ASSERT_TRUE(control);
        char name[64] = "";
        GetClassNameA(control, name, sizeof name);
        EXPECT_EQ(lstrcmpiA(name, expected.className), 0) << name;
        EXPECT_EQ((UINT)GetDlgCtrlID(control) & 0xFFFF, (UINT)expected.id);
        DWORD style = (DWORD)GetWindowLongA(control, GWL_STYLE) & ~(WS_VISIBLE | WS_DISABLED | WS_CHILD);
        // A combo box hands its scroll bar style on to its list.
        DWORD compared = expected.id == 1006 ? 0xFFFF0000 & ~(DWORD)WS_VSCROLL : 0xFFFF0000;
        EXPECT_EQ(style & compared, expected.style & compared) << std::hex << style;
        // The combo box and progress bar add style bits of their own.
        if (expected.id != 1006 && expected.id != 1003) {
            EXPECT_EQ(style & 0xFFFF, expected.style & 0xFFFF) << std::hex << style;
        }
        RECT place;
        GetWindowRect(control, &place);
        MapWindowPoints(NULL, run_.wizard(), (POINT*)&place, 2);
        auto units = [&](int pixels, int whole, int wholeUnits) { return (pixels * wholeUnits + whole / 2) / whole; };
        EXPECT_NEAR(units(place.left, client.right, 358), expected.x, 1);
        EXPECT_NEAR(units(place.top, client.bottom, 180), expected.y, 1);
        EXPECT_NEAR(units(place.right - place.left, client.right, 358), expected.width, 1);
        // A closed combo box is as high as its edit field.
        if (expected.height) {
            EXPECT_NEAR(units(place.bottom - place.top, client.bottom, 180), expected.height, 1);
        }
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_FALSE(control) << "more controls than the template has";

    ASSERT_NO_FATAL_FAILURE(Next(g_Languages.ids[g_Languages.selected]));
    ExpectWelcomePage(run_.Read(), g_Languages.ids[g_Languages.selected]);
    run_.Click(IDCANCEL);
    AnswerQuestion(11, IDYES, g_Languages.ids[g_Languages.selected]);
    EXPECT_EQ(StatusMessage(run_.Finish().exitCode), 2049u);
}

}  // namespace
