// The wizard's fonts, by language: the texts, the list and the buttons of an
// East Asian language in the dialog face a Windows of that language shows,
// and the product name in one large bold face in every language.
#ifndef TLMRINST_FONTS_H
#define TLMRINST_FONTS_H

#include <windows.h>

// The font of the texts, the list and the buttons in language, made from
// the dialog's font; FALSE when the dialog's font serves as it is.
BOOL TextFontFor(LANGID language, const LOGFONTA* dialogFont, LOGFONTA* font);

// The font of the title, made from the dialog's font.
void TitleFontFrom(const LOGFONTA* dialogFont, LOGFONTA* font);

#endif
