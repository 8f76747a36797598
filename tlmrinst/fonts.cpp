// The wizard's fonts. The dialog's own font (MS Sans Serif 8) has no East
// Asian characters, so in Japanese, Chinese and Korean the texts, the list
// and the buttons get the face of that system's own dialogs, in the system
// font's character set and a third larger: 9 points where the dialog font
// has 8, the size those dialogs use. The title, the product's Latin name,
// is the same bold sans serif face in every language.
#include "fonts.h"

struct EastAsianFace {
    LANGID language;
    const char* face;
};

// The proportional UI face of each system (Japanese has a monospaced Gothic
// too); Windows finds each by its English name.
static const EastAsianFace kEastAsianFaces[] = {
    {MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT), "MS UI Gothic"},
    {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), "SimSun"},
    {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), "PMingLiU"},
    {MAKELANGID(LANG_KOREAN, SUBLANG_DEFAULT), "Gulim"},
};

// The language's own entry, else the first of its primary language.
static const EastAsianFace* EastAsianFaceOf(LANGID language)
{
    const EastAsianFace* found = NULL;
    for (const EastAsianFace& entry : kEastAsianFaces) {
        if (entry.language == language)
            return &entry;
        if (!found && PRIMARYLANGID(entry.language) == PRIMARYLANGID(language))
            found = &entry;
    }
    return found;
}

BOOL TextFontFor(LANGID language, const LOGFONTA* dialogFont, LOGFONTA* font)
{
    const EastAsianFace* entry = EastAsianFaceOf(language);
    if (!entry)
        return FALSE;
    *font = *dialogFont;
    LOGFONTA system;
    if (GetObjectA(GetStockObject(SYSTEM_FONT), sizeof system, &system))
        font->lfCharSet = system.lfCharSet;
    lstrcpynA(font->lfFaceName, entry->face, LF_FACESIZE);
    font->lfPitchAndFamily = VARIABLE_PITCH;
    font->lfQuality = PROOF_QUALITY;
    font->lfHeight = font->lfHeight / 3 * 4;
    font->lfWeight = FW_NORMAL;
    return TRUE;
}

// Tahoma where the system has it (98, Me, NT 4.0 and later), another sans
// serif face (Arial) on Windows 95.
void TitleFontFrom(const LOGFONTA* dialogFont, LOGFONTA* font)
{
    *font = *dialogFont;
    font->lfCharSet = ANSI_CHARSET;
    lstrcpynA(font->lfFaceName, "Tahoma", LF_FACESIZE);
    font->lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    font->lfQuality = PROOF_QUALITY;
    font->lfHeight = font->lfHeight + font->lfHeight / 2 - 2;
    font->lfWeight = FW_BOLD;
}
