// The languages of the user interface: which of the program's string tables
// the running system can display, which of them fits the user, and texts by
// id in a chosen language, converted to the system's ANSI code page.
#ifndef TLMRINST_LANGUAGE_H
#define TLMRINST_LANGUAGE_H

#include <windows.h>

enum {
    LANGUAGE_MAX = 30,       // languages the list can hold
    LOCAL_TEXT_SIZE = 260,   // a fetched text: at most 259 bytes and a zero
    STR_CAPTION = 1,         // window title and message-box caption
    STR_LANGUAGE_NAME = 1000 // each language's own name, for the language list
};

// The languages offered, in the order the program's resources list them,
// and the chosen one. When the system can display none of them, English
// alone is offered, since every system can show its letters.
struct LanguageList {
    LANGID ids[LANGUAGE_MAX];
    int count;
    int selected;                   // index into ids
    char caption[LOCAL_TEXT_SIZE];  // string 1 in the chosen language
};
extern LanguageList g_Languages;

// Fills the list from the string tables whose locale is installed and whose
// code pages the desktop font can show.
void BuildLanguageList(void);

// Selects the list entry that equals the user's default language, else the
// first with the same primary language, else the first; sets the caption.
void ChooseDefaultLanguage(void);

// The language at the selected index (English while the list is empty).
LANGID SelectedLanguage(void);

// One string of the given language's table, converted to the ANSI code page
// and cut to 259 bytes on a character boundary; empty when that language has
// no such string. Both return one process-wide buffer that the next call
// overwrites.
const char* LoadStringInLanguage(UINT id, LANGID language);
const char* LoadLocalString(UINT id);

// Converts count UTF-16 units into codePage, keeping the longest run of
// whole characters that fits size - 1 bytes, and ends it with a zero;
// returns the bytes written before the zero.
int ConvertToCodePage(UINT codePage, const WCHAR* text, int count, char* out, int size);

#endif
