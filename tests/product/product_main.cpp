// Entry of the product's end-to-end tests: GoogleTest's flags first, then
// the paths of setup.exe, of its packed files and of the test drivers.
#include <gtest/gtest.h>

#include "product.h"

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    ParseE2EArguments(argc, argv);
    ParseProductArguments(argc, argv);
    BecomeEastAsianUser();
    LeaveWindowsUnmanaged();
    return RUN_ALL_TESTS();
}
