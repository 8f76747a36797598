// Opening, queuing, closing and checking archives; testing one entry.
#include <string.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cx.h"
#include "cxint.h"
#include "entries_util.h"
#include "files_util.h"

namespace {

std::vector<TestEntry> ThreeEntries() {
    std::vector<TestEntry> entries(3);
    entries[0].name = "ALPHA.TXT";
    entries[0].data = Bytes{'a', 'l', 'p', 'h', 'a'};
    entries[1].name = "BETA.BIN";
    entries[1].data = RandomBytes(10000, 2);
    entries[2].name = "GAMMA";
    return entries;
}

TEST(ArchiveInterface, CallOrderAndArguments) {
    TempDir dir;
    CallbackLog log;
    EXPECT_EQ(CX_EARG, cxSetCallback(102, nullptr));
    EXPECT_EQ(CX_ENOTSUP, cxSetTempDir(dir.path().c_str()));
    EXPECT_EQ(CX_ENOARCHIVE, cxExtract("*", ""));
    EXPECT_EQ(CX_ENOARCHIVE, cxAdd("*"));
    EXPECT_EQ(CX_ENOARCHIVE, cxDelete("*"));
    EXPECT_EQ(CX_ENOARCHIVE, cxProcess());
    EXPECT_EQ(CX_EARG, cxOpenArchive(nullptr, 0));

    std::string name = dir.file("new");
    std::vector<char> path(name.begin(), name.end());
    path.push_back(0);
    ASSERT_EQ(0, cxOpenArchive(path.data(), 0));
    // The caller's string is upper-cased in place; the file itself carries
    // the caller's spelling and ".arq".
    std::string upper = name;
    for (char& c : upper) c = (char)toupper((unsigned char)c);
    EXPECT_EQ(upper, std::string(path.data()));
    EXPECT_TRUE(FileExists(name + ".arq"));
    EXPECT_TRUE(log.saw(CXCB_OPENED));

    std::string again = dir.file("other.arq");
    EXPECT_EQ(CX_EOPEN, cxOpenArchive(&again[0], 0));
    EXPECT_EQ(CX_EARG, cxExtract("[A-", ""));
    EXPECT_EQ(CX_EARG, cxExtract("*", nullptr));
    EXPECT_EQ(CX_EARG, cxExtract(nullptr, ""));
    EXPECT_EQ(CX_EARG, cxAdd("X\\"));
    EXPECT_EQ(CX_EARG, cxDelete("[AB"));
    EXPECT_EQ(0, cxDelete("NOTHING"));

    EXPECT_EQ(0, cxCloseArchive());
    EXPECT_TRUE(log.saw(CXCB_CLOSED));
    // A new archive that received nothing is not left behind, and neither
    // is its temporary archive.
    EXPECT_FALSE(FileExists(name + ".arq"));
    for (unsigned i = 1; i < 100; ++i) {
        char temp[16];
        snprintf(temp, sizeof temp, "CX%05u.$$$", i);
        EXPECT_FALSE(FileExists(dir.file(temp)));
    }
}

TEST(ArchiveInterface, OpenRefusesAnExecutableWithoutArchive) {
    TempDir dir;
    std::string exe = dir.file("plain.exe");
    ASSERT_TRUE(WriteFileBytes(exe, RandomBytes(3000, 9)));
    EXPECT_EQ(CX_ENOARCHIVE, cxOpenArchive(&exe[0], 0));
    std::string missing = dir.file("missing.arq");
    EXPECT_EQ(CX_ESLOT, cxOpenArchive(&missing[0], CX_ARC_READONLY));
    EXPECT_FALSE(FileExists(missing));
}

TEST(ArchiveInterface, CheckArchive) {
    TempDir dir;
    ASSERT_TRUE(WriteArchive(dir.file("good.arq"), ThreeEntries()));
    ASSERT_TRUE(WriteArchive(dir.file("empty.arq"), {}));
    ASSERT_TRUE(WriteArchive(dir.file("setup.exe"), ThreeEntries(), RandomBytes(5000, 3), true));
    ASSERT_TRUE(WriteFileBytes(dir.file("noise.arq"), RandomBytes(100, 4)));
    EXPECT_EQ(0, cxCheckArchive(dir.file("good.arq").c_str()));
    EXPECT_EQ(0, cxCheckArchive(dir.file("good").c_str()));  // ".arq" appended
    EXPECT_EQ(0, cxCheckArchive(dir.file("empty.arq").c_str()));
    EXPECT_EQ(0, cxCheckArchive(dir.file("setup.exe").c_str()));
    EXPECT_EQ(CX_ENOARCHIVE, cxCheckArchive(dir.file("noise.arq").c_str()));
    EXPECT_EQ(CX_ENOFILE, cxCheckArchive(dir.file("absent.arq").c_str()));
    EXPECT_EQ(CX_EARG, cxCheckArchive(nullptr));
    // In code page 932 the second byte of "\x83\x5C" is a backslash that
    // separates nothing: the name keeps its extension, no ".arq" is added.
    if (cxPlatCharSize("\x83\x5C") == 2) {
        std::string named = dir.path() + "\\\x83\x5C.exe";
        ASSERT_TRUE(WriteArchive(named, ThreeEntries(), RandomBytes(5000, 3), true));
        EXPECT_EQ(0, cxCheckArchive(named.c_str()));
        EXPECT_EQ(0, cxOpenArchive(&named[0], CX_ARC_READONLY));
        cxCloseArchive();
    }
}

// The file opened is the archive of the whole run: a caller's walk of its
// slot and the pass read it, also once another file has taken its name
// (which POSIX allows, and Windows refuses for an open file).
TEST(ArchiveInterface, TheFileOpenedServesTheWholeRun) {
    TempDir dir;
    std::string path = dir.file("setup.exe");
    ASSERT_TRUE(WriteArchive(path, ThreeEntries(), RandomBytes(5000, 3), true));
    std::vector<TestEntry> other(1);
    other[0].name = "ALPHA.TXT";
    other[0].data = Bytes(50, 'x');
    ASSERT_TRUE(WriteArchive(dir.file("other.exe"), other, RandomBytes(700, 4), true));
    EXPECT_EQ(CX_ENOARCHIVE, cxArchiveSlot());
    std::string name = path;
    ASSERT_EQ(0, cxOpenArchive(&name[0], CX_ARC_READONLY | CX_ARC_ASGIVEN));
    rename(dir.file("other.exe").c_str(), path.c_str());
    int slot = cxArchiveSlot();
    ASSERT_GE(slot, 0);
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = slot;
    int entries = 0;
    for (int16_t r = cxFirstEntry(&record); r == 0; r = cxNextEntry(&record)) ++entries;
    EXPECT_EQ(3, entries);
    ASSERT_EQ(0, cxExtract("ALPHA.TXT", dir.path().c_str()));
    EXPECT_EQ(0, cxProcess());
    EXPECT_EQ(slot, cxArchiveSlot());  // until the archive is closed
    EXPECT_EQ(0, cxCloseArchive());
    EXPECT_EQ(CX_ENOARCHIVE, cxArchiveSlot());
    EXPECT_EQ(ThreeEntries()[0].data, ReadFileBytes(dir.file("ALPHA.TXT")));
}

TEST(ArchiveInterface, TestFileFindsAChangedStoredByte) {
    TempDir dir;
    std::string path = dir.file("t.arq");
    ASSERT_TRUE(WriteArchive(path, ThreeEntries()));
    CallbackLog log;

    int slot = cxOpenFile(path.c_str(), CX_READ);
    ASSERT_GE(slot, 0);
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = slot;
    int results = 0;
    for (int16_t r = cxFirstEntry(&record); r == 0; r = cxNextEntry(&record)) {
        int32_t dataStart = cxTell(slot);
        EXPECT_EQ(0, cxTestFile(&record)) << record.name;
        EXPECT_EQ(dataStart, cxTell(slot));  // ready for cxNextEntry
        ++results;
    }
    EXPECT_EQ(3, results);
    EXPECT_EQ(CX_EEND, cxTestFile(&record));
    cxCloseFile(slot);
    EXPECT_EQ(CX_ESLOT, cxTestFile(&record));

    // One byte of BETA.BIN's stored data changed.
    Bytes bytes = ReadFileBytes(path);
    const size_t betaData = 8 + 9 + 33 + 5 + 8 + 8 + 33 + 100;
    bytes[betaData] ^= 0x01;
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    slot = cxOpenFile(path.c_str(), CX_READ);
    memset(&record, 0, sizeof record);
    record.source = slot;
    ASSERT_EQ(0, cxFirstEntry(&record));
    ASSERT_EQ(0, cxNextEntry(&record));
    ASSERT_STREQ("BETA.BIN", record.name);
    log.events.clear();
    EXPECT_EQ(CX_ECHECK, cxTestFile(&record));
    ASSERT_TRUE(log.saw(CXCB_TESTED));
    EXPECT_NE((int32_t)record.checkValue, log.events.back().value);
    EXPECT_EQ(CXCB_TEST, log.events.front().code);
    EXPECT_EQ(0, log.events.front().value);
    cxCloseFile(slot);
}

}  // namespace
