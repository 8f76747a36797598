// Temporary names, whole-file copies, ratio, spinner and number formatting.
#include <string.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "cx.h"
#include "cxint.h"
#include "files_util.h"

namespace {

// Each call makes a new empty file under a name no one can foresee; the
// names a counter would give, planted as directories, are no obstacle.
TEST(TempName, CreatesNewFilesUnderUnforeseeableNames) {
    TempDir dir;
    for (unsigned n = 1; n <= 20; ++n) {
        char planted[32];
        snprintf(planted, sizeof planted, "CX%05u.$$$", n);
        ASSERT_TRUE(cxPlatMakeDir(dir.file(planted).c_str()));
    }
    std::vector<std::string> names;
    for (const char* prefix : {"CX", "CX", "QNBX"}) {  // the last is cut to "QNB"
        const char* made = cxTempName(dir.path().c_str(), prefix);
        ASSERT_NE(nullptr, made);
        names.push_back(made);
        std::string name = names.back().substr(dir.path().size() + 1);
        EXPECT_EQ(12u, name.size()) << name;
        EXPECT_EQ(0u, name.find(std::string(prefix).substr(0, 3))) << name;
        EXPECT_EQ(".$$$", name.substr(8));
        EXPECT_EQ(0, FileSize(dir.file(name))) << name;
    }
    EXPECT_NE(names[0], names[1]);
#ifdef _WIN32
    // The names come from the system's random source, which this program
    // does not import: the engine loaded it.
    EXPECT_NE(nullptr, (void*)GetModuleHandleA("advapi32.dll"));
#endif
}

TEST(CopyFile, CopiesBytesModeAndTime) {
    TempDir dir;
    Bytes data = RandomBytes(20000, 7);
    ASSERT_TRUE(WriteFileBytes(dir.file("in.bin"), data));
    ASSERT_TRUE(SetModeTime(dir.file("in.bin"), true, 1000000000u));
    ASSERT_EQ(0, cxCopyFile(dir.file("in.bin").c_str(), dir.file("out.bin").c_str()));
    EXPECT_EQ(data, ReadFileBytes(dir.file("out.bin")));
    CxFileStat status;
    ASSERT_TRUE(cxPlatStat(dir.file("out.bin").c_str(), &status));
    EXPECT_EQ(1000000000u, status.mtime);

    EXPECT_EQ(CX_EARG, cxCopyFile("", dir.file("x").c_str()));
    EXPECT_EQ(CX_ESLOT, cxCopyFile(dir.file("missing").c_str(), dir.file("x").c_str()));
    EXPECT_EQ(CX_ESLOT, cxCopyFile(dir.file("in.bin").c_str(), dir.file("no/such/dir/x").c_str()));
}

TEST(Ratio, PercentOfUnpackedSize) {
    EntryInfo record;
    memset(&record, 0, sizeof record);
    EXPECT_EQ(100, cxRatio(&record));
    record.packedSize = 115038;
    record.unpackedSize = 215584;
    EXPECT_EQ(53, cxRatio(&record));
    record.packedSize = 0xFFFFFFF0u;  // no overflow in the product
    record.unpackedSize = 0xFFFFFFF0u;
    EXPECT_EQ(100, cxRatio(&record));
}

TEST(SpinChar, CyclesThroughFourCharacters) {
    std::string seen;
    for (int i = 0; i < 8; ++i) seen += cxSpinChar();
    // Wherever the cycle stands, it repeats every four calls in this order.
    EXPECT_EQ(seen.substr(0, 4), seen.substr(4, 4));
    std::string cycle = "-\\|/-\\|/";
    EXPECT_NE(std::string::npos, cycle.find(seen.substr(0, 4)));
}

TEST(FormatNumber, GroupsOfThree) {
    EXPECT_STREQ("0", cxFormatNumber(0));
    EXPECT_STREQ("999", cxFormatNumber(999));
    EXPECT_STREQ("1,000", cxFormatNumber(1000));
    EXPECT_STREQ("616,585", cxFormatNumber(616585));
    EXPECT_STREQ("-1,234,567", cxFormatNumber(-1234567));
    EXPECT_STREQ("2,147,483,647", cxFormatNumber(2147483647));
    EXPECT_STREQ("-2,147,483,648", cxFormatNumber(-2147483647 - 1));
}

}  // namespace
