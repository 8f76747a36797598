// The string tables of the built setup.exe: eleven languages with the same
// ids, every text representable in its language's ANSI code page within
// 259 bytes, and what the wizard relies on kept as in English: format
// placeholders, line breaks, one accelerator per button label (none on OK
// and Cancel but in English), distinct on each page, and the button names
// that the click texts quote, and the spacing before ? ! and :.
// With the image's dialog template, every text of a language this system
// can show fits the control that shows it, in the wizard's fonts; the
// icon's images keep to their masks.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "fonts.h"
#include "lang_tests.h"

#include <commctrl.h>

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
const LANGID kEnglish = 0x0409, kFrench = 0x040C;
const size_t kMaxBytes = 259;

// Button labels, and the buttons shown together on one page: language,
// welcome, restart, completed and error pages, and the questions' Yes and No.
enum { REBOOT = 4, OK = 5, INSTALL = 16, CANCEL = 17, BACK = 19, NEXT = 20, YES = 28, NO = 29 };
const std::vector<std::vector<UINT>> kPages = {
    {BACK, NEXT, CANCEL}, {BACK, INSTALL, CANCEL}, {REBOOT, CANCEL}, {OK, CANCEL}, {YES, NO}};

std::set<UINT> ExpectedIds()
{
    std::set<UINT> ids;
    for (UINT id = 1; id <= 29; ++id)
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
            if (entry.first != OK && entry.first != CANCEL) {
                EXPECT_EQ(Accelerators(source).size(), Accelerators(text).size()) << where;
            }
            // French keeps a no-break space before ? ! and :, so the mark
            // never starts a line; the other Western languages no space.
            for (size_t at = text.find_first_of(L"?!:", 1); language.codePage == 1252 && at != std::wstring::npos;
                 at = text.find_first_of(L"?!:", at + 1)) {
                bool spaced = text[at - 1] == L' ' || text[at - 1] == L'\u00A0';
                EXPECT_TRUE(language.id == kFrench ? text[at - 1] == L'\u00A0' : !spaced) << where;
            }
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
                bool marked = language.id == kEnglish || (button != OK && button != CANCEL);
                ASSERT_EQ(marked ? 1u : 0u, letters.size()) << Where(language.id, button);
                if (!marked)
                    continue;
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

// ---------------------------------------------------------------- fitting

// The texts each control of the wizard shows. A button's label keeps clear
// of its 3-D edge and focus rectangle; a static text wraps within its
// control; the error page's message may also take the welcome text's room.
// East Asian text has no spaces to wrap at: a line too long breaks wherever
// the width ends (and a closing mark takes the character before it along),
// so each line of the short status texts must fit the field whole.
enum Shape { BUTTON, STATIC, ERROR_PAGE, WHOLE_LINES };
struct Shown {
    int control;
    Shape shape;
    std::vector<UINT> texts;
};
const Shown kShown[] = {
    {1004, BUTTON, {NEXT, INSTALL, OK, REBOOT}}, {1009, BUTTON, {BACK}}, {IDCANCEL, BUTTON, {CANCEL}},
    {1000, STATIC, {15}},  {1001, STATIC, {14}}, {1010, STATIC, {18}},  {1005, STATIC, {9}},
    {1007, STATIC, {2, 3, 7, 8}}, {1007, WHOLE_LINES, {2, 3, 7, 8}},
    {1007, ERROR_PAGE, {2050, 2053, 2054, 2064, 2065, 2066, 2067, 2068, 2069, 2070, 2071, 2072, 2073, 2074,
                        2075, 2076, 2077, 2078, 2079, 2080, 2081, 2082, 2083, 2084, 2085, 2086, 2087, 2088}},
};
// Around a button's label: above and below its 3-D edge, the focus
// rectangle and a pixel of air; at the sides also the default button's
// frame and two pixels of air, so the focus rectangle never touches a letter.
const int kButtonMargin = 4, kButtonSide = 7;

INT_PTR CALLBACK QuietDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// The text as the wizard puts it in the control: the version and the error
// code filled in (the widest code).
std::wstring Filled(const Table& table, const Shown& shown, UINT id)
{
    WCHAR text[1025];
    if (shown.shape == ERROR_PAGE)
        wsprintfW(text, table.at(13).c_str(), table.at(id).c_str(), 0x815ul, 2ul, 0xFFFFul, 0xFFFFFFFFul);
    else if (id == 14)
        wsprintfW(text, table.at(14).c_str(), L"5.3.0.71");
    else
        lstrcpynW(text, table.at(id).c_str(), 1025);
    return text;
}

RECT PlaceOf(HWND dialog, int control)
{
    RECT place;
    GetWindowRect(GetDlgItem(dialog, control), &place);
    MapWindowPoints(NULL, dialog, (POINT*)&place, 2);
    return place;
}

TEST(SetupDialog, EveryTextFitsItsControlInTheWizardsFonts)
{
    InitCommonControls();
    HMODULE setup = LoadLibraryExA(g_SetupPath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(setup != NULL);
    HRSRC found = FindResourceA(setup, MAKEINTRESOURCEA(100), (LPCSTR)RT_DIALOG);
    ASSERT_TRUE(found != NULL);
    HWND dialog = CreateDialogIndirectParamA(GetModuleHandleA(NULL),
                                             (LPCDLGTEMPLATEA)LockResource(LoadResource(setup, found)), NULL,
                                             QuietDialog, 0);
    ASSERT_TRUE(dialog != NULL);
    LOGFONTA dialogFont, textFont, titleFont;
    ASSERT_TRUE(GetObjectA((HFONT)SendMessageA(dialog, WM_GETFONT, 0, 0), sizeof dialogFont, &dialogFont));
    TitleFontFrom(&dialogFont, &titleFont);
    HDC dc = GetDC(dialog);
    int checked = 0;
    for (const Language& language : kLanguages) {
        if (language.codePage != GetACP())
            continue;  // a system in this code page cannot show it
        const Table& table = SetupTables().at(language.id);
        HFONT text = CreateFontIndirectA(TextFontFor(language.id, &dialogFont, &textFont) ? &textFont : &dialogFont);
        HFONT title = CreateFontIndirectA(&titleFont);
        for (const Shown& shown : kShown) {
            if (shown.shape == WHOLE_LINES && language.codePage == 1252)
                continue;
            RECT place = PlaceOf(dialog, shown.control);
            if (shown.shape == ERROR_PAGE)
                place.top = PlaceOf(dialog, 1005).top;
            int width = place.right - place.left, height = place.bottom - place.top;
            int margin = shown.shape == BUTTON ? kButtonMargin : 0;
            int side = shown.shape == BUTTON ? kButtonSide : 0;
            SelectObject(dc, shown.control == 1000 ? title : text);
            for (UINT id : shown.texts) {
                std::wstring shownText = Filled(table, shown, id);
                std::vector<std::wstring> pieces = {shownText};
                if (shown.shape == WHOLE_LINES) {
                    pieces.clear();
                    for (size_t start = 0, end; start <= shownText.size(); start = end + 1) {
                        end = std::min(shownText.find(L'\n', start), shownText.size());
                        pieces.push_back(shownText.substr(start, end - start));
                    }
                }
                for (const std::wstring& piece : pieces) {
                    RECT needed = {0, 0, width - 2 * side, 0};
                    UINT layout = shown.shape == BUTTON || shown.shape == WHOLE_LINES ? DT_SINGLELINE : DT_WORDBREAK;
                    DrawTextW(dc, piece.c_str(), -1, &needed, DT_CALCRECT | DT_EXPANDTABS | layout);
                    EXPECT_TRUE(needed.right + 2 * side <= width && needed.bottom + 2 * margin <= height)
                        << Where(language.id, id) << " in control " << shown.control << " needs " << needed.right
                        << " x " << needed.bottom << " pixels of " << width - 2 * side << " x "
                        << height - 2 * margin << ": " << Utf8(piece);
                }
                ++checked;
            }
        }
        SelectObject(dc, GetStockObject(SYSTEM_FONT));
        DeleteObject(text);
        DeleteObject(title);
    }
    ReleaseDC(dialog, dc);
    DestroyWindow(dialog);
    FreeLibrary(setup);
    if (!checked)
        GTEST_SKIP() << "no language of the tables is written in code page " << GetACP();
}

// Each image of icon 101, 16 and 32 pixels in 16 and 256 colours, is black
// where its mask is transparent: any other colour there is XORed onto the
// screen as a stray pixel.
BOOL CALLBACK CheckIconImage(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param)
{
    const BITMAPINFOHEADER* header =
        (const BITMAPINFOHEADER*)LockResource(LoadResource(module, FindResourceA(module, name, type)));
    int size = header->biWidth, bits = header->biBitCount;
    const RGBQUAD* palette = (const RGBQUAD*)(header + 1);
    const BYTE* colours = (const BYTE*)(palette + (1 << bits));
    const BYTE* mask = colours + (size * bits + 31) / 32 * 4 * size;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            BYTE packed = colours[(size * bits + 31) / 32 * 4 * y + x * bits / 8];
            RGBQUAD colour = palette[bits == 8 ? packed : x % 2 ? packed & 15 : packed >> 4];
            bool transparent = mask[(size + 31) / 32 * 4 * y + x / 8] & (0x80 >> x % 8);
            EXPECT_TRUE(!transparent || (colour.rgbRed | colour.rgbGreen | colour.rgbBlue) == 0)
                << size << " pixels, " << bits << " bits: " << x << "," << y;
        }
    }
    ((std::set<int>*)param)->insert(size * 100 + bits);
    return TRUE;
}

TEST(SetupIcon, IsDrawnAt16And32PixelsWithNothingOutsideItsMask)
{
    HMODULE setup = LoadLibraryExA(g_SetupPath.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_TRUE(setup != NULL);
    std::set<int> images;
    EnumResourceNamesA(setup, (LPCSTR)RT_ICON, CheckIconImage, (LONG_PTR)&images);
    FreeLibrary(setup);
    EXPECT_EQ(images, (std::set<int>{1604, 1608, 3204, 3208}));
}

}  // namespace
