// Language choice and localized texts. The program carries one string table
// per language (16 strings a block, block = id / 16 + 1, each string a 16-bit
// length and that many UTF-16 units). The user interface is narrow-character,
// so a language is offered only when its locale is installed and the desktop
// font's character set is among the code pages its locale supports; every
// text is converted to the ANSI code page and cut to 259 bytes, never inside
// a double-byte character or a surrogate pair. A block is read only in the
// language asked for: the platform's resource lookup would otherwise fall
// back to a neutral or simply the first language of the block.
#include "language.h"

#include <string.h>

LanguageList g_Languages;

static char s_Text[LOCAL_TEXT_SIZE];

static const LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
static const UINT kStringsPerBlock = 16;
static const UINT kFontSignatureSize = 32;        // LOCALESIGNATURE
static const UINT kSupportedCodePagesAt = 24;     // its first lsCsbSupported word

static LPCSTR StringBlock(UINT id)
{
    return MAKEINTRESOURCEA(id / kStringsPerBlock + 1);
}

struct LanguageQuery {
    LANGID wanted;
    BOOL found;
};

static BOOL CALLBACK MatchLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param)
{
    LanguageQuery* query = (LanguageQuery*)param;
    if (language == query->wanted)
        query->found = TRUE;
    return !query->found;
}

static BOOL HasStringBlock(HMODULE module, UINT id, LANGID language)
{
    LanguageQuery query = {language, FALSE};
    EnumResourceLanguagesA(module, (LPCSTR)RT_STRING, StringBlock(id), MatchLanguage, (LONG_PTR)&query);
    return query.found;
}

static BOOL CALLBACK AddLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR param)
{
    LanguageList* found = (LanguageList*)param;
    if (found->count >= LANGUAGE_MAX)
        return FALSE;
    found->ids[found->count++] = language;
    return TRUE;
}

// The code-page bits of the desktop font's character set; 0 when they
// cannot be read.
static DWORD DesktopCodePages(void)
{
    HWND desktop = GetDesktopWindow();
    HDC dc = GetDC(desktop);
    if (!dc)
        return 0;
    TEXTMETRICA metrics;
    BOOL read = GetTextMetricsA(dc, &metrics);
    ReleaseDC(desktop, dc);
    CHARSETINFO info;
    if (!read || !TranslateCharsetInfo((DWORD*)(UINT_PTR)metrics.tmCharSet, &info, TCI_SRCCHARSET))
        return 0;
    return info.fs.fsCsb[0];
}

// The first word of the code pages a locale supports; 0 when unknown.
static DWORD LocaleCodePages(LANGID language)
{
    char signature[kFontSignatureSize];
    if (!GetLocaleInfoA(MAKELCID(language, SORT_DEFAULT), LOCALE_FONTSIGNATURE, signature, sizeof signature))
        return 0;
    DWORD pages;
    memcpy(&pages, signature + kSupportedCodePagesAt, sizeof pages);
    return pages;
}

void BuildLanguageList(void)
{
    HMODULE self = GetModuleHandleA(NULL);
    LanguageList found;
    found.count = 0;
    EnumResourceLanguagesA(self, (LPCSTR)RT_STRING, StringBlock(STR_CAPTION), AddLanguage, (LONG_PTR)&found);

    g_Languages.count = 0;
    g_Languages.selected = 0;
    DWORD desktop = DesktopCodePages();
    for (int i = 0; i < found.count; ++i) {
        LANGID language = found.ids[i];
        if (IsValidLocale(MAKELCID(language, SORT_DEFAULT), LCID_INSTALLED) && (LocaleCodePages(language) & desktop))
            g_Languages.ids[g_Languages.count++] = language;
    }
    if (g_Languages.count == 0 && HasStringBlock(self, STR_CAPTION, kEnglish))
        g_Languages.ids[g_Languages.count++] = kEnglish;
}

// The first list entry whose id, within mask, equals the wanted one; -1 if
// none does.
static int FindLanguage(LANGID wanted, WORD mask)
{
    for (int i = 0; i < g_Languages.count; ++i)
        if ((g_Languages.ids[i] & mask) == (wanted & mask))
            return i;
    return -1;
}

void ChooseDefaultLanguage(void)
{
    LANGID user = GetUserDefaultLangID();
    int chosen = FindLanguage(user, 0xFFFF);
    if (chosen < 0)
        chosen = FindLanguage(user, 0x3FF);
    g_Languages.selected = chosen < 0 ? 0 : chosen;
    lstrcpynA(g_Languages.caption, LoadLocalString(STR_CAPTION), LOCAL_TEXT_SIZE);
}

LANGID SelectedLanguage(void)
{
    if (g_Languages.selected >= 0 && g_Languages.selected < g_Languages.count)
        return g_Languages.ids[g_Languages.selected];
    return kEnglish;
}

static int ConvertedLength(UINT codePage, const WCHAR* text, int units)
{
    return WideCharToMultiByte(codePage, WC_COMPOSITECHECK, text, units, NULL, 0, NULL, NULL);
}

// A run cut before text[units] must not end between the two halves of a
// surrogate pair.
static int WholeUnits(const WCHAR* text, int units)
{
    return (units > 0 && IS_HIGH_SURROGATE(text[units - 1])) ? units - 1 : units;
}

int ConvertToCodePage(UINT codePage, const WCHAR* text, int count, char* out, int size)
{
    if (size <= 0)
        return 0;
    int room = size - 1;
    // Every unit gives at least one byte, so more than room units never fit.
    int units = count <= room ? count : WholeUnits(text, room);
    while (units > 0 && ConvertedLength(codePage, text, units) > room)
        units = WholeUnits(text, units - 1);
    int length = units > 0 ? WideCharToMultiByte(codePage, WC_COMPOSITECHECK, text, units, out, room, NULL, NULL) : 0;
    out[length] = 0;
    return length;
}

const char* LoadStringInLanguage(UINT id, LANGID language)
{
    s_Text[0] = 0;
    HMODULE self = GetModuleHandleA(NULL);
    if (!HasStringBlock(self, id, language))
        return s_Text;
    HRSRC found = FindResourceExA(self, (LPCSTR)RT_STRING, StringBlock(id), language);
    HGLOBAL loaded = found ? LoadResource(self, found) : NULL;
    const WCHAR* string = loaded ? (const WCHAR*)LockResource(loaded) : NULL;
    if (!string)
        return s_Text;

    // Walk the counted strings without leaving the block.
    const WCHAR* end = string + SizeofResource(self, found) / sizeof(WCHAR);
    for (UINT skip = id % kStringsPerBlock; skip > 0 && string < end; --skip)
        string += 1 + *string;
    if (string < end) {
        int count = *string;
        if (count > end - string - 1)
            count = (int)(end - string - 1);
        ConvertToCodePage(CP_ACP, string + 1, count, s_Text, sizeof s_Text);
    }
    FreeResource(loaded);
    return s_Text;
}

const char* LoadLocalString(UINT id)
{
    return LoadStringInLanguage(id, SelectedLanguage());
}
