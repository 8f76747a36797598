// Temporary names, whole-file copies, ratio, spinner and number formatting.
#include <string.h>
#include <string>

#include <gtest/gtest.h>

#include "cx.h"
#include "cxint.h"
#include "files_util.h"

namespace {

TEST(TempName, CountsUpSkipsNamesInUseAndKeepsThePrefixShort) {
    TempDir dir;
    const char* first = cxTempName(dir.path().c_str(), "CX");
    ASSERT_NE(nullptr, first);
    std::string name = first;
    std::string expectedStart = dir.path() + "\\CX";
    EXPECT_EQ(0u, name.rfind(expectedStart, 0)) << name;
    EXPECT_EQ(".$$$", name.substr(name.size() - 4));
    unsigned number = (unsigned)atoi(name.substr(name.size() - 9, 5).c_str());
    EXPECT_GT(number, 0u);

    // The next number is in use: it is passed over.
    char taken[32];
    snprintf(taken, sizeof taken, "QNB%05u.$$$", number + 1);
    ASSERT_TRUE(WriteFileText(dir.file(taken), "x"));
    const char* next = cxTempName(dir.path().c_str(), "QNBX");  // cut to "QNB"
    ASSERT_NE(nullptr, next);
    char expected[32];
    snprintf(expected, sizeof expected, "QNB%05u.$$$", number + 2);
    EXPECT_EQ(dir.path() + "\\" + expected, std::string(next));

    const char* bare = cxTempName("", "");
    ASSERT_NE(nullptr, bare);
    EXPECT_EQ(0, strncmp(bare, "CX", 2));
}

TEST(CopyFile, CopiesBytesModeAndTime) {
    TempDir dir;
    Bytes data = RandomBytes(20000, 7);
    ASSERT_TRUE(WriteFileBytes(dir.file("in.bin"), data));
    ASSERT_TRUE(cxPlatSetModeTime(dir.file("in.bin").c_str(), 0x81B6, 1000000000u));
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
