// The file slots: open modes, slot exhaustion, positioning, status and names.
#include <stdio.h>
#include <string.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cx.h"
#include "cxint.h"
#include "files_util.h"

namespace {

std::string ReadAll(int slot) {
    std::string text;
    char buffer[64];
    int32_t got;
    while ((got = cxRead(slot, buffer, sizeof buffer)) > 0) text.append(buffer, (size_t)got);
    return text;
}

TEST(Slots, OpenModesFollowTheFlagTable) {
    TempDir dir;
    std::string path = dir.file("Mixed.Case");
    ASSERT_TRUE(WriteFileText(path, "abc"));

    int s = cxOpenFile(path.c_str(), CX_READ);
    ASSERT_GE(s, 0);
    EXPECT_EQ(0, cxWrite(s, "x", 1));  // "rb": nothing can be written
    EXPECT_EQ("abc", ReadAll(s));
    EXPECT_EQ(0, cxCloseFile(s));

    s = cxOpenFile(path.c_str(), CX_READ | CX_WRITE);  // "r+b": in place
    ASSERT_GE(s, 0);
    EXPECT_EQ(1, cxWrite(s, "X", 1));
    cxSeek(s, 0, SEEK_SET);
    EXPECT_EQ("Xbc", ReadAll(s));
    cxCloseFile(s);

    s = cxOpenFile(path.c_str(), CX_READ | CX_WRITE | CX_APPEND);  // "a+b": appends
    ASSERT_GE(s, 0);
    cxSeek(s, 0, SEEK_SET);
    EXPECT_EQ(2, cxWrite(s, "de", 2));
    cxSeek(s, 0, SEEK_SET);
    EXPECT_EQ("Xbcde", ReadAll(s));
    cxCloseFile(s);

    s = cxOpenFile(path.c_str(), CX_APPEND);  // "ab"
    ASSERT_GE(s, 0);
    EXPECT_EQ(0, cxRead(s, nullptr, 4));
    EXPECT_EQ(1, cxWrite(s, "f", 1));
    cxCloseFile(s);
    EXPECT_EQ("Xbcdef", std::string((const char*)ReadFileBytes(path).data(), 6));

    s = cxOpenFile(path.c_str(), CX_CREATE | CX_READ);  // "w+b": emptied, readable
    ASSERT_GE(s, 0);
    EXPECT_EQ(2, cxWrite(s, "gh", 2));
    cxSeek(s, 0, SEEK_SET);
    EXPECT_EQ("gh", ReadAll(s));
    cxCloseFile(s);

    s = cxOpenFile(path.c_str(), CX_WRITE);  // "wb"
    ASSERT_GE(s, 0);
    cxCloseFile(s);
    EXPECT_EQ(0, FileSize(path));

    EXPECT_EQ(CX_EARG, cxOpenFile(path.c_str(), 0));
    EXPECT_EQ(CX_EARG, cxOpenFile(nullptr, CX_READ));
    EXPECT_EQ(CX_EARG, cxOpenFile("", CX_READ));
    EXPECT_EQ(CX_EFAIL, cxOpenFile(dir.file("missing").c_str(), CX_READ));
}

TEST(Slots, NameIsUpperCaseButTheFileIsOpenedByItsRealName) {
    TempDir dir;
    std::string path = dir.file("lower.txt");
    ASSERT_TRUE(WriteFileText(path, "0123456789"));
    int s = cxOpenFile(path.c_str(), CX_READ);
    ASSERT_GE(s, 0);
    std::string upper = path;
    for (char& c : upper) c = (char)toupper((unsigned char)c);
    EXPECT_EQ(upper, std::string(cxSlotName(s)));
    EXPECT_EQ(path, std::string(cxSlotPath(s)));

    CxFileStat status;
    ASSERT_EQ(0, cxStat(s, &status));
    EXPECT_EQ(10u, status.size);
    EXPECT_EQ(0x8000, status.mode & 0xF000);

    EXPECT_EQ(4, cxSeek(s, 4, SEEK_SET));
    EXPECT_EQ('4', cxReadByte(s));
    EXPECT_EQ(5, cxTell(s));
    EXPECT_EQ(8, cxSeek(s, -2, SEEK_END));
    EXPECT_EQ(0, cxEof(s));
    char tail[4];
    EXPECT_EQ(2, cxRead(s, tail, sizeof tail));
    EXPECT_NE(0, cxEof(s));
    EXPECT_EQ(-1, cxReadByte(s));
    EXPECT_EQ(0, cxCloseFile(s));

    // A closed slot answers every call without touching anything.
    EXPECT_EQ(nullptr, cxSlotName(s));
    EXPECT_EQ(CX_ESLOT, cxCloseFile(s));
    EXPECT_EQ(CX_ESLOT, cxStat(s, &status));
    EXPECT_EQ(0, cxRead(s, tail, 1));
    EXPECT_EQ(0, cxWrite(s, tail, 1));
    EXPECT_EQ(-1, cxReadByte(s));
    EXPECT_EQ(-1, cxTell(s));
    EXPECT_EQ(-1, cxSeek(s, 0, SEEK_SET));
    EXPECT_NE(0, cxEof(s));
    EXPECT_EQ(CX_ESLOT, cxCloseFile(-1));
    EXPECT_EQ(CX_ESLOT, cxCloseFile(CX_SLOTS));
}

TEST(Slots, TheTwentyFirstOpenFails) {
    TempDir dir;
    std::string path = dir.file("f");
    ASSERT_TRUE(WriteFileText(path, "x"));
    std::vector<int> open;
    for (int i = 0; i < CX_SLOTS; ++i) {
        int s = cxOpenFile(path.c_str(), CX_READ);
        ASSERT_GE(s, 0) << i;
        open.push_back(s);
    }
    EXPECT_EQ(CX_ESLOTS, cxOpenFile(path.c_str(), CX_READ));
    // A freed slot is used again.
    cxCloseFile(open[7]);
    EXPECT_EQ(open[7], cxOpenFile(path.c_str(), CX_READ));
    for (int s : open) cxCloseFile(s);
}

TEST(Slots, StatSeesBytesStillInTheWriteBuffer) {
    TempDir dir;
    int s = cxOpenFile(dir.file("w").c_str(), CX_CREATE | CX_READ);
    ASSERT_GE(s, 0);
    ASSERT_EQ(5, cxWrite(s, "hello", 5));
    CxFileStat status;
    ASSERT_EQ(0, cxStat(s, &status));
    EXPECT_EQ(5u, status.size);
    // Reading right after writing works without an explicit seek.
    ASSERT_EQ(0, cxSeek(s, 0, SEEK_SET));
    ASSERT_EQ(2, cxWrite(s, "HE", 2));
    char rest[8] = {0};
    EXPECT_EQ(3, cxRead(s, rest, sizeof rest));
    EXPECT_STREQ("llo", rest);
    cxCloseFile(s);
}

}  // namespace
