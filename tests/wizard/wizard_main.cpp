// Entry of the wizard tests: GoogleTest's flags, the paths of the programs
// under test (--setup= the real setup.exe, --hooks= the test build with its
// payload, --work= a scratch folder), --locale= the Unix locale the
// wineserver runs under, --shots= a folder for pictures of the pages, and
// --generic= the generic setup's example product, acme-setup.exe.
#include <gtest/gtest.h>

#include <string.h>

#include "language.h"
#include "wizard_tests.h"

std::string g_Locale;
std::string g_ShotsDir;
std::string g_Generic;

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    ParseE2EArguments(argc, argv);
    for (int i = 1; i < argc; ++i) {
        if (strncmp(argv[i], "--locale=", 9) == 0)
            g_Locale = argv[i] + 9;
        else if (strncmp(argv[i], "--shots=", 8) == 0)
            g_ShotsDir = WindowsPath(argv[i] + 8);
        else if (strncmp(argv[i], "--generic=", 10) == 0)
            g_Generic = WindowsPath(argv[i] + 10);
    }
    // The same languages the installer offers on this system.
    BuildLanguageList();
    ChooseDefaultLanguage();
    return RUN_ALL_TESTS();
}
