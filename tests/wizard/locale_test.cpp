// setup.exe's first two pages on the system's own language: under a
// Japanese or Chinese locale in that language, with the enlarged East Asian
// font of that system's dialogs on the texts, the version, the list and the
// buttons; elsewhere in the dialog's font. Every text face is proportional.
#include "wizard_tests.h"

#include "language.h"

#include <stdio.h>
#include <string.h>

#include <map>

namespace {

struct SystemLanguage {
    const char* locale;
    LANGID language;
    const char* textFace;  // the East Asian dialog face; NULL: the dialog's font
};
const SystemLanguage kLanguages[] = {
    {"en_US", 0x0409, NULL},
    {"ja_JP", 0x0411, "MS UI Gothic"},
    {"zh_TW", 0x0404, "PMingLiU"},
    {"zh_CN", 0x0804, "SimSun"},
};

struct Font {
    long height = 0, weight = 0;
    int charset = -1, proportional = -1;
    std::string face;
    bool operator==(const Font& other) const
    {
        return height == other.height && weight == other.weight && charset == other.charset &&
               proportional == other.proportional && face == other.face;
    }
};

// The "font ID HEIGHT WEIGHT CHARSET PROPORTIONAL FACE" lines of the test
// build's log.
std::map<int, Font> LoggedFonts(const std::string& log)
{
    std::map<int, Font> fonts;
    for (const std::string& line : LogLines(log)) {
        std::string message = MessageOf(line);
        int id = 0;
        Font font;
        char face[64] = "";
        if (sscanf(message.c_str(), "font %d %ld %ld %d %d %63[^\r\n]", &id, &font.height, &font.weight,
                   &font.charset, &font.proportional, face) >= 5) {
            font.face = face;
            fonts[id] = font;
        }
    }
    return fonts;
}

using Languages = WizardTest;

TEST_F(Languages, FirstPagesInTheSystemLanguageAndItsFont)
{
    const SystemLanguage* system = nullptr;
    for (const SystemLanguage& candidate : kLanguages)
        if (g_Locale == candidate.locale)
            system = &candidate;
    if (!system)
        GTEST_SKIP() << "no expectations for locale '" << g_Locale << "'";
    LANGID language = system->language;
    ASSERT_GE(OfferedIndex(language), 0) << "the system's language is not offered";
    ASSERT_NO_FATAL_FAILURE(Begin(g_Paths.hooks, "wizard_lang.exe"));

    Page page = run_.Read();
    EXPECT_EQ(page.title, Local(1, language));
    EXPECT_EQ(page.prompt, Local(18, language));
    EXPECT_EQ(page.main, Local(20, language));
    EXPECT_EQ(page.back, Local(19, language));
    EXPECT_EQ(page.cancel, Local(17, language));
    EXPECT_EQ(page.selection, OfferedIndex(language));
    EXPECT_EQ(WindowText(run_.Item(ID_LANGUAGES)), Local(1000, language)) << "the language's own name";

    PostMessageA(run_.wizard(), RegisterWindowMessageA("TelmuraWizardTestFonts"), 0, 0);
    ASSERT_NO_FATAL_FAILURE(Next(language));
    page = run_.Read();
    EXPECT_EQ(page.welcome, Local(9, language));
    EXPECT_EQ(page.status, Local(2, language));
    EXPECT_EQ(page.main, Local(16, language));
    run_.Click(IDCANCEL);
    AnswerQuestion(11, IDYES, language);
    RunResult end = run_.Finish();
    EXPECT_EQ(StatusMessage(end.exitCode), 2049u);

    // The texts, the version, the list and the buttons have the enlarged
    // dialog face of an East Asian system in the system font's character
    // set, or the dialog's own font; the title the same large bold face in
    // every language.
    std::map<int, Font> fonts = LoggedFonts(end.log);
    ASSERT_EQ(fonts.size(), 10u) << end.log;
    const Font& dialog = fonts[0];
    const Font& text = fonts[ID_WELCOME];
    for (int id : {(int)ID_PROMPT, (int)ID_LANGUAGES, (int)ID_STATUS, (int)ID_BACK, (int)ID_MAIN, IDCANCEL,
                   (int)ID_VERSION})
        EXPECT_TRUE(fonts[id] == text) << id;
    EXPECT_EQ(text.proportional, 1) << text.face;
    if (system->textFace) {
        LOGFONTA systemFont;
        ASSERT_TRUE(GetObjectA(GetStockObject(SYSTEM_FONT), sizeof systemFont, &systemFont));
        EXPECT_EQ(text.height, dialog.height / 3 * 4);
        EXPECT_EQ(text.charset, systemFont.lfCharSet);
        EXPECT_EQ(text.face, system->textFace);
        EXPECT_EQ(text.weight, 400);
    } else {
        EXPECT_TRUE(text == dialog);
    }
    const Font& title = fonts[ID_TITLE];
    EXPECT_EQ(title.weight, 700);
    EXPECT_EQ(title.height, dialog.height + dialog.height / 2 - 2);
    EXPECT_EQ(title.face, "Tahoma");
    EXPECT_EQ(title.proportional, 1);

    // The side picture fills its frame: scaled to it when the frame (large
    // fonts) outgrows the picture, else the picture's middle.
    long picture[2] = {}, frame[2] = {};
    for (const std::string& line : LogLines(end.log))
        sscanf(MessageOf(line).c_str(), "picture %ld %ld frame %ld %ld", &picture[0], &picture[1], &frame[0],
               &frame[1]);
    ASSERT_GT(frame[0] * frame[1], 0) << end.log;
    EXPECT_TRUE(picture[0] >= frame[0] && picture[1] >= frame[1])
        << picture[0] << " x " << picture[1] << " in " << frame[0] << " x " << frame[1];
}

// The error page of a long failure text: the whole message with its code,
// on a system whose language needs the enlarged font as on one whose does not.
TEST_F(Languages, ErrorPageShowsTheWholeMessage)
{
    LANGID language = g_Languages.ids[g_Languages.selected];
    PrepareOutcome(Outcome::Restart);
    ASSERT_NO_FATAL_FAILURE(BeginTestBuild({"WIZARD_FAIL=2071,5"}));
    RECT templateField;
    GetWindowRect(run_.Item(ID_STATUS), &templateField);
    ASSERT_NO_FATAL_FAILURE(Install(language));
    ASSERT_TRUE(run_.WaitForMain(Local(5, language)));
    Page page = run_.Read();
    RECT field;
    GetWindowRect(run_.Item(ID_STATUS), &field);
    run_.Click(ID_MAIN);
    RunResult end = run_.Finish();

    char expected[1024];
    std::string text = Local(2071, language);
    wsprintfA(expected, Local(13, language).c_str(), text.c_str(), 2071ul, 0ul, end.exitCode & 0xFFFF, 5ul);
    EXPECT_EQ(page.status, expected);
    // A message that does not fit the field takes the welcome text's room;
    // in the present fonts each fits the field as it is (the string tables'
    // fitting check measures them all).
    bool grown = field.top < templateField.top;
    EXPECT_EQ(field.bottom, templateField.bottom);
    EXPECT_EQ(page.welcomeShown, !grown);
    EXPECT_FALSE(grown);
}

}  // namespace
