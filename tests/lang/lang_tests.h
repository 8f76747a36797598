// Shared by the language tests: the arguments of the test program and a few
// text helpers.
#ifndef TESTS_LANG_LANG_TESTS_H
#define TESTS_LANG_LANG_TESTS_H

#include <windows.h>

#include <string>

// --setup=PATH: the built setup.exe, whose string tables are checked.
extern std::string g_SetupPath;
// --locale=NAME: the Unix locale (en_US, ja_JP, ...) the wineserver of this
// run was started under; empty when the program runs without one.
extern std::string g_Locale;

// text converted to codePage as a whole, with the flags the installer uses.
std::string InCodePage(UINT codePage, const std::wstring& text);

#endif
