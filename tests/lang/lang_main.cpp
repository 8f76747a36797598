// Entry of the language tests: GoogleTest's flags first, then ours.
#include <gtest/gtest.h>

#include <string.h>

#include "lang_tests.h"

std::string g_SetupPath;
std::string g_Locale;

std::string InCodePage(UINT codePage, const std::wstring& text)
{
    int length = WideCharToMultiByte(codePage, WC_COMPOSITECHECK, text.data(), (int)text.size(), NULL, 0, NULL, NULL);
    std::string out(length, '\0');
    WideCharToMultiByte(codePage, WC_COMPOSITECHECK, text.data(), (int)text.size(), &out[0], length, NULL, NULL);
    return out;
}

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--setup=", 8) == 0) {
            // A Unix path from the build system: Wine maps / to drive Z:.
            g_SetupPath = argv[i] + 8;
            if (!g_SetupPath.empty() && g_SetupPath[0] == '/')
                g_SetupPath = "Z:" + g_SetupPath;
        } else if (strncmp(argv[i], "--locale=", 9) == 0) {
            g_Locale = argv[i] + 9;
        }
    }
    return RUN_ALL_TESTS();
}
