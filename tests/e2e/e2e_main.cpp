// Entry of the end-to-end test programs: GoogleTest's flags first, then the
// paths of the programs under test.
#include <gtest/gtest.h>

#include "e2e.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    ParseE2EArguments(argc, argv);
    return RUN_ALL_TESTS();
}
