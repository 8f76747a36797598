// The string tables of the built setup.exe: eleven languages with the same
// ids, every text representable in its language's ANSI code page within
// 259 bytes, and what the wizard relies on kept as in English: format
// placeholders, line breaks, one accelerator per button label, distinct on
// each page, and the button names that the click texts quote.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "lang_tests.h"

namespace {

typedef std::map<UINT, std::wstring> Table;  // id -> text, empty texts left out
typedef std::map<LANGID, Table> Tables;

struct Language {
    LANGID id;
    UINT codePage;  // the ANSI code page of a system in that language
    const wchar_t* ownName;
};

const Language kLanguages[] = {
    {0x0404, 950, L"中文(繁體)"},  {0x0407, 1252, L"Deutsch"},    {0x0409, 1252, L"English"},
    {0x040A, 1252, L"Español"},     {0x040C, 1252, L"Français"},   {0x0410, 1252, L"Italiano"},
    {0x0411, 932, L"日本語"},       {0x0413, 1252, L"Nederlands"}, {0x0416, 1252, L"Português"},
    {0x041D, 1252, L"Svenska"},     {0x0804, 936, L"中文(简体)"},
};
const LANGID kEnglish = 0x0409;
const size_t kMaxBytes = 259;

// Button labels, and the buttons shown together on one page: language,
// welcome, restart, completed and error pages.
enum { REBOOT = 4, OK = 5, INSTALL = 16, CANCEL = 17, BACK = 19, NEXT = 20 };
const std::vector<std::vector<UINT>> kPages = {
    {BACK, NEXT, CANCEL}, {BACK, INSTALL, CANCEL}, {REBOOT, CANCEL}, {OK, CANCEL}};

std::set<UINT> ExpectedIds()
{
    std::set<UINT> ids;
    for (UINT id = 1; id <= 26; ++id)
        ids.insert(id);
    ids.insert(30);
    ids.insert(1000);
    for (UINT id = 2048; id <= 2055; ++id)
        ids.insert(id);
    for (UINT id = 2064; id <= 2088; ++id)
        ids.insert(id);
    return ids;
}

BOOL CALLBACK ReadBlock(HMODULE module, LPCSTR type, LPCSTR name, WORD language, LONG_PTR param)
{
    Table& table = (*(Tables*)param)[language];
    HRSRC found = FindResourceExA(module, type, name, language);
    const WCHAR* p = (const WCHAR*)LockResource(LoadResource(module, found));
    const WCHAR* end = p + SizeofResource(module, found) / sizeof(WCHAR);
    UINT id = ((UINT)(UINT_PTR)name - 1) * 16;
    for (int i = 0; i < 16 && p < end; ++i, ++id) {
        if (*p)
            table[id] = std::wstring(p + 1, *p);
        p += 1 + *p;
    }
    return TRUE;
}

BOOL CALLBACK ReadBlockLanguages(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    EnumResourceLanguagesA(module, type, name, ReadBlock, param);
    return TRUE;
}

const Tables& SetupTables()
{
    static Tables tables;
    static bool read;
    if (!read) {
        read = true;
        HMODULE setup = LoadLibraryExA(g_SetupPath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        EXPECT_TRUE(setup != NULL) << "cannot open " << g_SetupPath;
        if (setup)
            EnumResourceNamesA(setup, (LPCSTR)RT_STRING, ReadBlockLanguages, (LONG_PTR)&tables);
    }
    return tables;
}

std::string Utf8(const std::wstring& text)
{
    return InCodePage(CP_UTF8, text);
}

std::string Where(LANGID language, UINT id)
{
    char where[32];
    wsprintfA(where, "language 0x%04X id %u", language, id);
    return where;
}

// The placeholders of a format string (%s, %08lX, ...), in order.
std::vector<std::wstring> Placeholders(const std::wstring& text)
{
    std::vector<std::wstring> found;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != L'%')
            continue;
        size_t end = i + 1;
        while (end < text.size() && !iswalpha(text[end]) && text[end] != L'%')
            ++end;
        while (end < text.size() && text[end] == L'l')
            ++end;
        found.push_back(text.substr(i, end + 1 - i));
        i = end;
    }
    return found;
}

size_t LineBreaks(const std::wstring& text)
{
    size_t count = 0;
    for (wchar_t c : text)
        count += c == L'\n';
    return count;
}

// The letters marked by a single '&' ("&&" is a literal ampersand).
std::wstring Accelerators(const std::wstring& text)
{
    std::wstring letters;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != L'&')
            continue;
        if (text[i + 1] != L'&')
            letters += (wchar_t)towupper(text[i + 1]);
        ++i;
    }
    return letters;
}

// A button label as a text quotes it: without "(&X)" and without the mark.
std::wstring Label(std::wstring text)
{
    size_t at = text.find(L"(&");
    if (at != std::wstring::npos && at + 4 <= text.size() && text[at + 3] == L')')
        text.erase(at, 4);
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == L'&')
            text.erase(i, 1);
    return text;
}

TEST(SetupStringTables, ElevenLanguagesHoldTheSameIds)
{
    const Tables& tables = SetupTables();
    ASSERT_EQ(sizeof kLanguages / sizeof kLanguages[0], tables.size());
    const std::set<UINT> expected = ExpectedIds();
    for (const Language& language : kLanguages) {
        auto table = tables.find(language.id);
        ASSERT_TRUE(table != tables.end()) << Where(language.id, 0);
        std::set<UINT> ids;
        for (const auto& entry : table->second)
            ids.insert(entry.first);
        EXPECT_EQ(expected, ids) << Where(language.id, 0);
        EXPECT_EQ(language.ownName, table->second.at(1000)) << Where(language.id, 1000);
    }
}

TEST(SetupStringTables, EveryTextFitsItsCodePage)
{
    for (const Language& language : kLanguages) {
        for (const auto& entry : SetupTables().at(language.id)) {
            const std::wstring& text = entry.second;
            BOOL lost = FALSE;
            int bytes = WideCharToMultiByte(language.codePage, WC_COMPOSITECHECK, text.data(), (int)text.size(),
                                            NULL, 0, NULL, &lost);
            EXPECT_GT(bytes, 0) << Where(language.id, entry.first);
            EXPECT_LE((size_t)bytes, kMaxBytes) << Where(language.id, entry.first) << ": " << Utf8(text);
            EXPECT_FALSE(lost) << Where(language.id, entry.first) << " has characters code page "
                               << language.codePage << " lacks: " << Utf8(text);
        }
    }
}

TEST(SetupStringTables, FormatsLineBreaksAndMarksFollowEnglish)
{
    const Table& english = SetupTables().at(kEnglish);
    for (const Language& language : kLanguages) {
        for (const auto& entry : SetupTables().at(language.id)) {
            const std::wstring& text = entry.second;
            const std::wstring& source = english.at(entry.first);
            std::string where = Where(language.id, entry.first) + ": " + Utf8(text);
            EXPECT_EQ(Placeholders(source), Placeholders(text)) << where;
            EXPECT_EQ(LineBreaks(source), LineBreaks(text)) << where;
            EXPECT_EQ(Accelerators(source).size(), Accelerators(text).size()) << where;
        }
    }
    EXPECT_EQ(5u, Placeholders(english.at(13)).size());
    EXPECT_EQ(1u, Accelerators(english.at(NEXT)).size());
}

TEST(SetupStringTables, EachPageHasDistinctAccelerators)
{
    for (const Language& language : kLanguages) {
        const Table& table = SetupTables().at(language.id);
        for (const std::vector<UINT>& page : kPages) {
            std::set<wchar_t> seen;
            for (UINT button : page) {
                std::wstring letters = Accelerators(table.at(button));
                ASSERT_EQ(1u, letters.size()) << Where(language.id, button);
                EXPECT_TRUE(seen.insert(letters[0]).second)
                    << Where(language.id, button) << " repeats accelerator " << Utf8(letters);
            }
        }
    }
}

TEST(SetupStringTables, ClickTextsNameTheirButtons)
{
    for (const Language& language : kLanguages) {
        const Table& table = SetupTables().at(language.id);
        EXPECT_NE(std::wstring::npos, table.at(2).find(Label(table.at(INSTALL))))
            << Where(language.id, 2) << " does not name " << Utf8(Label(table.at(INSTALL)));
        EXPECT_NE(std::wstring::npos, table.at(8).find(Label(table.at(REBOOT))))
            << Where(language.id, 8) << " does not name " << Utf8(Label(table.at(REBOOT)));
    }
}

}  // namespace
