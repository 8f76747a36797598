// Message boxes in a language of the string tables. A message box labels
// its Yes and No buttons in the system's language, which a German question
// on an English system would show with English buttons; these boxes relabel
// them from the question's own language.
#ifndef TLMRINST_QUESTION_H
#define TLMRINST_QUESTION_H

#include <windows.h>

enum {
    STR_YES_BUTTON = 28,  // "&Yes" as Windows of the language writes it
    STR_NO_BUTTON = 29    // "&No"
};

// A message box as MessageBoxA shows it, but a Yes/No box gets its buttons
// in language. Returns what MessageBoxA returns.
int MessageBoxInLanguage(HWND owner, const char* text, const char* caption, UINT style, LANGID language);

// A message box with the text of textId in the chosen language, captioned
// with the caption text, its Yes and No in that language.
int LocalMessageBox(HWND owner, UINT textId, UINT style);

#endif
