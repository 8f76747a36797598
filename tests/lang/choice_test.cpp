// Which languages are offered and which one is chosen, under the locale the
// wineserver of this run was started with (--locale). Each case states what
// Wine reports for that locale; the run checks that Wine still does, so a
// locale missing on the machine fails here instead of testing English twice.
#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "lang_tests.h"
#include "language.h"

namespace {

const std::vector<LANGID> kWestern = {0x0407, 0x0409, 0x040A, 0x040C, 0x0410, 0x0413, 0x0416, 0x041D};

struct LocaleCase {
    const char* locale;
    LANGID user;     // GetUserDefaultLangID, as Wine reports it
    UINT codePage;   // GetACP, as Wine reports it
    std::vector<LANGID> offered;
    LANGID chosen;
    const wchar_t* caption;  // string 1 of the chosen language
};

// Wine gives the desktop font the locale's own character set, and reports the
// code-page bits 0x0000019F for every Western locale, 0x00020000 for 0x0411,
// 0x00100000 for 0x0404 and 0x00040000 for 0x0804.
const LocaleCase kCases[] = {
    {"en_US", 0x0409, 1252, kWestern, 0x0409, L"Vornak Setup Wizard"},
    // Swiss German and British English have no table of their own: the first
    // one of the same primary language. German also comes first in the list,
    // so British English is the case that tells the two rules apart.
    {"de_CH", 0x0807, 1252, kWestern, 0x0407, L"Vornak Setup-Assistent"},
    {"en_GB", 0x0809, 1252, kWestern, 0x0409, L"Vornak Setup Wizard"},
    {"pt_BR", 0x0416, 1252, kWestern, 0x0416, L"Assistente de Instalação da Vornak"},
    // A Cyrillic desktop font (code-page bit 0x00000004) shares that bit with
    // the Western locales' signature in Wine's data, so the Western languages
    // are offered; Russian has no table, so the first of the list is chosen.
    {"ru_RU", 0x0419, 1251, kWestern, 0x0407, L"Vornak Setup-Assistent"},
    // A Korean desktop font (0x00080000) shows none of the tables' locales:
    // English alone is offered.
    {"ko_KR", 0x0412, 949, {0x0409}, 0x0409, L"Vornak Setup Wizard"},
    {"ja_JP", 0x0411, 932, {0x0411}, 0x0411, L"Vornak セットアップ ウィザード"},
    {"zh_TW", 0x0404, 950, {0x0404}, 0x0404, L"Vornak 安裝精靈"},
    {"zh_CN", 0x0804, 936, {0x0804}, 0x0804, L"Vornak 安装向导"},
};

class LanguageChoice : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (g_Locale.empty())
            GTEST_SKIP() << "no --locale given";
        for (const LocaleCase& c : kCases)
            if (g_Locale == c.locale)
                expected = &c;
        ASSERT_TRUE(expected != NULL) << "no expectations for locale " << g_Locale;
        ASSERT_EQ(expected->user, GetUserDefaultLangID()) << "is " << g_Locale << ".UTF-8 generated?";
        ASSERT_EQ(expected->codePage, GetACP());
        memset(&g_Languages, 0xCC, sizeof g_Languages);  // building starts from a cleared list
        BuildLanguageList();
        ChooseDefaultLanguage();
    }

    std::vector<LANGID> Offered() const
    {
        return std::vector<LANGID>(g_Languages.ids, g_Languages.ids + g_Languages.count);
    }

    const LocaleCase* expected = NULL;
};

TEST_F(LanguageChoice, OffersTheLanguagesTheSystemCanDisplay)
{
    EXPECT_EQ(expected->offered, Offered());
}

TEST_F(LanguageChoice, ChoosesTheUsersLanguageAndItsCaption)
{
    EXPECT_EQ(expected->chosen, SelectedLanguage());
    EXPECT_EQ(InCodePage(expected->codePage, expected->caption), g_Languages.caption);
    EXPECT_STREQ(g_Languages.caption, LoadLocalString(STR_CAPTION));
}

TEST_F(LanguageChoice, NeverOffersALanguageWhoseLocaleIsNotInstalled)
{
    // The test program's neutral table passes the font test under every
    // locale, so only the installed-locale check keeps it out.
    const LCID neutral = MAKELCID(MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL), SORT_DEFAULT);
    ASSERT_FALSE(IsValidLocale(neutral, LCID_INSTALLED));
    char signature[32];
    ASSERT_TRUE(GetLocaleInfoA(neutral, LOCALE_FONTSIGNATURE, signature, sizeof signature));
    for (int i = 0; i < g_Languages.count; ++i)
        EXPECT_NE(0, g_Languages.ids[i]);
    EXPECT_STREQ("Not an installed locale", LoadStringInLanguage(1, 0));
}

TEST_F(LanguageChoice, LocalStringsFollowTheSelection)
{
    for (int i = 0; i < g_Languages.count; ++i) {
        g_Languages.selected = i;
        EXPECT_STREQ(LoadStringInLanguage(1000, g_Languages.ids[i]), LoadLocalString(1000)) << i;
        EXPECT_STRNE("", LoadLocalString(1000)) << i;
    }
    // No language at all: English.
    g_Languages.count = 0;
    EXPECT_EQ(0x0409, SelectedLanguage());
    EXPECT_STREQ("English", LoadLocalString(1000));
}

}  // namespace
