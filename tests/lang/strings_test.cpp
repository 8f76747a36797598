// Texts by id: conversion to a code page with the cut on a character
// boundary, and lookups in the test program's own tables (the product's
// eleven and the test-only ones of test_strings.rc).
#include <gtest/gtest.h>

#include <string.h>

#include <string>

#include "lang_tests.h"
#include "language.h"

namespace {

const LANGID kEnglish = 0x0409;
const wchar_t kWord = L'語';  // two bytes in code pages 932, 936, 950 and 949

std::string Convert(UINT codePage, const std::wstring& text, int size = LOCAL_TEXT_SIZE)
{
    char out[LOCAL_TEXT_SIZE + 8];
    memset(out, 'Z', sizeof out);
    int length = ConvertToCodePage(codePage, text.data(), (int)text.size(), out, size);
    EXPECT_EQ(0, out[length]) << "no terminator after " << length << " bytes";
    return std::string(out, length);
}

bool IsDoubleByteCodePage()
{
    CPINFO info;
    return GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 2;
}

TEST(ConvertToCodePage, CutsDoubleByteTextBetweenCharacters)
{
    const std::wstring words(150, kWord);
    for (UINT codePage : {932u, 936u, 950u}) {
        std::string whole = InCodePage(codePage, words);
        ASSERT_EQ(300u, whole.size()) << codePage;
        // 259 bytes would end in the lead byte of the 130th character.
        EXPECT_EQ(whole.substr(0, 258), Convert(codePage, words)) << codePage;
        // One single-byte character first: 259 bytes fit exactly.
        EXPECT_EQ("a" + whole.substr(0, 258), Convert(codePage, L"a" + words)) << codePage;
    }
}

TEST(ConvertToCodePage, CutsSingleByteTextAtTheRoomGiven)
{
    const std::wstring text(300, L'\u00E9');
    EXPECT_EQ(std::string(259, '\xE9'), Convert(1252, text));
    EXPECT_EQ(std::string(9, '\xE9'), Convert(1252, text, 10));
    EXPECT_EQ(std::string(259, '\xE9'), Convert(1252, text.substr(0, 259)));
    EXPECT_EQ("", Convert(1252, L""));
}

TEST(ConvertToCodePage, KeepsASurrogatePairWhole)
{
    // Wine turns a pair that the code page lacks into "??"; 258 letters and
    // the pair need 260 bytes, and half of the pair must not fill byte 259.
    const std::wstring text = std::wstring(258, L'a') + L"\xD83D\xDE00";
    EXPECT_EQ(std::string(258, 'a'), Convert(1252, text));
    EXPECT_EQ(std::string(257, 'a') + "??", Convert(1252, text.substr(1)));
}

TEST(LoadStringInLanguage, FindsEachIdInItsBlock)
{
    EXPECT_STREQ("Vornak Setup Wizard", LoadStringInLanguage(1, kEnglish));
    EXPECT_STREQ("Nederlands", LoadStringInLanguage(1000, 0x0413));
    EXPECT_STREQ("Windows cannot be restarted.  Please reboot after closing this setup wizard.",
                 LoadStringInLanguage(2064, kEnglish));
    EXPECT_STREQ("An attempt at adjusting one or more file attributes has failed.",
                 LoadStringInLanguage(2079, kEnglish));
    EXPECT_STREQ("This setup wizard requires Administrator rights in order to run.  Please log off, log on as a "
                 "user with local Administrator rights, and then run this setup wizard again.",
                 LoadStringInLanguage(2055, kEnglish));
    EXPECT_STREQ("Bei der Installation von Telmura ist ein Fehler aufgetreten:\n%s\n"
                 "Der Fehlercode lautet %03lX-%lX-%04lX-%08lX.",
                 LoadStringInLanguage(13, 0x0407));
}

TEST(LoadStringInLanguage, GivesAnEmptyTextForWhatTheLanguageLacks)
{
    EXPECT_STREQ("", LoadStringInLanguage(2056, kEnglish));  // a block the table holds, without this id
    EXPECT_STREQ("", LoadStringInLanguage(500, kEnglish));   // a block no table holds
    // For a language without tables the platform's lookup hands out the
    // neutral block of test_strings.rc; the text must still be empty.
    EXPECT_TRUE(FindResourceExA(NULL, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(1), 0x0419) != NULL);
    EXPECT_STREQ("", LoadStringInLanguage(1, 0x0419));
}

TEST(LoadStringInLanguage, CutsALongTextOnACharacterBoundary)
{
    std::string digits;
    for (int i = 0; i < 30; ++i)
        digits += "0123456789";
    EXPECT_EQ(digits.substr(0, 259), LoadStringInLanguage(4000, kEnglish));

    std::string words = InCodePage(CP_ACP, std::wstring(150, kWord));
    if (IsDoubleByteCodePage())
        EXPECT_EQ(words.substr(0, 258), LoadStringInLanguage(4001, 0x0411)) << "code page " << GetACP();
    else
        EXPECT_EQ(words, LoadStringInLanguage(4001, 0x0411)) << "code page " << GetACP();
}

}  // namespace
