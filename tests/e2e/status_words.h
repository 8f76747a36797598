// The outcome of a run said in words, for the main job's output.
#ifndef TESTS_E2E_STATUS_WORDS_H
#define TESTS_E2E_STATUS_WORDS_H

#include <windows.h>

#include <string>

// "message id 2: installed, restart needed (exit code 0x002200CD: module 2,
// line 205)". A failure reads as the English text the user was shown; the
// uninstaller's progress ids read as what it removed.
std::string StatusInWords(DWORD exitCode, bool uninstaller);

#endif
