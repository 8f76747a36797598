// The message id of a status word in words: the progress ids from a table,
// the failures with the English text of the string of that id.
#include "status_words.h"

#include <stdio.h>

#include "language.h"

namespace {

struct ProgressWords {
    DWORD id;
    const char* installer;
    const char* uninstaller;
};
const ProgressWords kProgressWords[] = {
    {0, "nothing to do, Telmura is up to date", "nothing removed"},
    {1, "installed", "removed"},
    {2, "installed, restart needed", "removed, the driver is deleted at the restart"},
    {3, "installed, restarting Windows", "removed, restarting Windows"},
};

}  // namespace

std::string StatusInWords(DWORD exitCode, bool uninstaller)
{
    DWORD id = exitCode >> 20;
    std::string words;
    for (const ProgressWords& row : kProgressWords)
        if (row.id == id)
            words = uninstaller ? row.uninstaller : row.installer;
    if (words.empty()) {
        words = LoadStringInLanguage(id, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
        for (char& c : words)
            if (c == '\n')
                c = ' ';
        if (words.empty())
            words = "a failure without a text of its own";
    }
    char detail[80];
    snprintf(detail, sizeof detail, " (exit code 0x%08lX: module %lu, line %lu)", exitCode, (exitCode >> 16) & 0xF,
             exitCode & 0xFFFF);
    return "message id " + std::to_string(id) + ": " + words + detail;
}
