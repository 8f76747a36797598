// What callers that choose files and entries themselves rely on: exact
// names, extraction that goes on past a damaged entry without leaving
// temporary files, names that keep their case, limits of the format that
// are refused instead of wrapped or cut, and closing that keeps what it must.
#include <string.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cxint.h"
#include "entries_util.h"
#include "files_util.h"

namespace {

std::string TextOf(const std::string& path) {
    Bytes b = ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

int16_t Open(const std::string& path, int flags) {
    std::string copy = path;
    return cxOpenArchive(&copy[0], flags);
}

TestEntry Entry(const std::string& name, const std::string& text) {
    TestEntry e;
    e.name = name;
    e.data = Bytes(text.begin(), text.end());
    return e;
}

// An archive of stored entries in which BAD.BIN's data has one byte changed.
std::string ArchiveWithDamage(const TempDir& dir) {
    std::vector<TestEntry> entries = {Entry("D1/X.TXT", "first"), Entry("D2/X.TXT", "second"),
                                      Entry("BAD.BIN", "damaged data here"), Entry("Z.TXT", "last")};
    std::string path = dir.file("D.ARQ");
    EXPECT_TRUE(WriteArchive(path, entries));
    Bytes bytes = ReadFileBytes(path);
    auto at = std::search(bytes.begin(), bytes.end(), entries[2].data.begin(), entries[2].data.end());
    EXPECT_NE(bytes.end(), at);
    *at ^= 0x20;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
}

TEST(ExactNames, ExtractionGoesOnPastADamagedEntryAndLeavesNoTemporaryFile) {
    TempDir dir;
    std::string archive = ArchiveWithDamage(dir);
    std::string out = dir.file("out");
    CallbackLog log;
    ASSERT_EQ(0, Open(archive, CX_ARC_READONLY | CX_ARC_PATHS | CX_ARC_GOON));
    for (const char* name : {"d2/x.txt", "BAD.BIN", "z.txt"}) ASSERT_EQ(0, cxExtractName(name, out.c_str()));
    EXPECT_EQ(CX_EFAIL, cxProcess());
    cxCloseArchive();
    EXPECT_TRUE(log.saw(CX_ECHECK));
    // A whole path names one entry: D1/X.TXT is not taken for D2/X.TXT.
    EXPECT_FALSE(FileExists(dir.file("out/D1/X.TXT")));
    EXPECT_EQ("second", TextOf(dir.file("out/D2/X.TXT")));
    EXPECT_FALSE(FileExists(dir.file("out/BAD.BIN")));
    EXPECT_EQ("last", TextOf(dir.file("out/Z.TXT")));
    EXPECT_EQ(0, TemporaryFiles(out));

    // Without CX_ARC_GOON the pass ends at the damaged entry, as the
    // installer expects; its temporary output is gone all the same.
    std::string early = dir.file("early");
    ASSERT_EQ(0, Open(archive, CX_ARC_READONLY));
    ASSERT_EQ(0, cxExtract("*", early.c_str()));
    EXPECT_EQ(CX_EFAIL, cxProcess());
    cxCloseArchive();
    EXPECT_TRUE(FileExists(dir.file("early/X.TXT")));
    EXPECT_FALSE(FileExists(dir.file("early/Z.TXT")));
    EXPECT_EQ(0, TemporaryFiles(early));
}

TEST(ExactNames, PlusInAPatternTakesOneCharacterOrMore) {
    TempDir dir;
    std::string archive = dir.file("P.ARQ");
    ASSERT_TRUE(WriteArchive(archive, {Entry("A", "1"), Entry("AB", "2"), Entry("ABC", "3")}));
    ASSERT_EQ(0, Open(archive, CX_ARC_READONLY));
    ASSERT_EQ(0, cxExtract("A+", dir.file("out").c_str()));
    ASSERT_EQ(0, cxProcess());
    cxCloseArchive();
    EXPECT_FALSE(FileExists(dir.file("out/A")));
    EXPECT_TRUE(FileExists(dir.file("out/AB")));
    EXPECT_TRUE(FileExists(dir.file("out/ABC")));
}

TEST(ExactNames, AddedFilesKeepTheirCaseAndReplaceEntriesOfTheSameName) {
    TempDir dir;
    std::string archive = dir.file("c.arq");
    ASSERT_TRUE(WriteFileText(dir.file("main.c"), "int main;"));
    ASSERT_TRUE(WriteFileText(dir.file("other"), "other text"));
    ASSERT_EQ(0, Open(archive, CX_ARC_KEEPCASE));
    ASSERT_EQ(0, cxAddFile(dir.file("main.c").c_str(), "src/main.c"));
    ASSERT_EQ(0, cxAddFile(dir.file("other").c_str(), "ReadMe"));
    ASSERT_EQ(0, cxProcess());
    ASSERT_EQ(0, cxCloseArchive());
    EXPECT_EQ((std::vector<std::string>{"src\\main.c", "ReadMe"}), EntryNames(archive));

    // With the flag the same name in another case is an entry of its own,
    // and the same name replaces its entry, once.
    ASSERT_TRUE(WriteFileText(dir.file("other"), "new text"));
    ASSERT_EQ(0, Open(archive, CX_ARC_KEEPCASE));
    ASSERT_EQ(0, cxAddFile(dir.file("other").c_str(), "README"));
    ASSERT_EQ(0, cxAddFile(dir.file("main.c").c_str(), "src/main.c"));
    ASSERT_EQ(0, cxProcess());
    ASSERT_EQ(0, cxCloseArchive());
    EXPECT_EQ((std::vector<std::string>{"README", "src\\main.c", "ReadMe"}), EntryNames(archive));

    // Without it names are compared without regard to case: one file
    // replaces both.
    ASSERT_EQ(0, Open(archive, 0));
    ASSERT_EQ(0, cxAddFile(dir.file("other").c_str(), "readme"));
    ASSERT_EQ(0, cxProcess());
    ASSERT_EQ(0, cxCloseArchive());
    EXPECT_EQ((std::vector<std::string>{"README", "src\\main.c"}), EntryNames(archive));

    // Without the flag names are read back upper-case, as always.
    ASSERT_EQ(0, Open(archive, 0));
    ASSERT_EQ(0, cxAddFile(dir.file("main.c").c_str(), "lower.c"));
    ASSERT_EQ(0, cxProcess());
    ASSERT_EQ(0, cxCloseArchive());
    EXPECT_EQ("LOWER.C", EntryNames(archive)[0]);

    // In code page 932 a name may end in a second byte that is a backslash:
    // the file is added under it, not taken for a directory.
    if (cxPlatCharSize("\x83\x5C") == 2) {
        ASSERT_EQ(0, Open(archive, CX_ARC_KEEPCASE));
        ASSERT_EQ(0, cxAddFile(dir.file("other").c_str(), "\x83\x5C"));
        ASSERT_EQ(0, cxProcess());
        ASSERT_EQ(0, cxCloseArchive());
        EXPECT_EQ("\x83\x5C", EntryNames(archive)[0]);
    }
}

TEST(Limits, OutputPathsThatDoNotFitAreRefusedNotCut) {
    TempDir dir;
    std::string archive = dir.file("L.ARQ");
    std::string a(253, 'N'), b(253, 'N');
    a += '1';
    b += '2';
    ASSERT_TRUE(WriteArchive(archive, {Entry(a, "one"), Entry(b, "two"), Entry("SHORT", "3")}));
    std::string out = dir.file("thirty-characters-of-directory");
    CallbackLog log;
    ASSERT_EQ(0, Open(archive, CX_ARC_READONLY));
    ASSERT_EQ(0, cxExtract("*", out.c_str()));
    ASSERT_EQ(0, cxProcess());
    cxCloseArchive();
    EXPECT_EQ(2, log.count(CX_ETOOLONG));
    EXPECT_TRUE(FileExists(out + "/SHORT"));
    EXPECT_EQ(std::vector<std::string>{"SHORT"}, FileNames(out));
}

TEST(Limits, AnArchivePast2GBIsRefused) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.file("F.BIN"), Bytes(1000, 'f')));
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = cxOpenFile(dir.file("F.BIN").c_str(), CX_READ);
    record.destination = cxOpenFile(dir.file("BIG.ARQ").c_str(), CX_CREATE | CX_WRITE);
    strcpy(record.name, "F.BIN");
    // The destination stands just below 2 GB (nothing is written there).
    ASSERT_EQ(0x7FFFFC00, cxSeek(record.destination, 0x7FFFFC00, SEEK_SET));
    CallbackLog log;
    EXPECT_EQ(CX_ETOOLARGE, cxPackEntry(&record));
    EXPECT_TRUE(log.saw(CX_ETOOLARGE));
    ASSERT_EQ(0, cxSeek(record.destination, 0, SEEK_SET));
    EXPECT_EQ(0, cxPackEntry(&record));
    cxCloseFile(record.source);
    cxCloseFile(record.destination);
}

#ifndef _WIN32
TEST(Limits, FilesOf4GiBOrMoreAreRefused) {
    TempDir dir;
    std::string huge = dir.file("HUGE.BIN");
    FILE* f = fopen(huge.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    ASSERT_EQ(0, fseeko(f, 0x100000010LL, SEEK_SET));  // 4 GiB and 17 bytes, sparse
    fputc('x', f);
    fclose(f);
    CxFileStat status;
    ASSERT_TRUE(cxPlatStat(huge.c_str(), &status));
    EXPECT_TRUE(status.tooLarge);
    EXPECT_EQ(CX_ETOOLARGE, cxCopyFile(huge.c_str(), dir.file("COPY.BIN").c_str()));
    EXPECT_FALSE(FileExists(dir.file("COPY.BIN")));
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = cxOpenFile(huge.c_str(), CX_READ);
    record.destination = cxOpenFile(dir.file("H.ARQ").c_str(), CX_CREATE | CX_WRITE);
    strcpy(record.name, "HUGE.BIN");
    EXPECT_EQ(CX_ETOOLARGE, cxPackEntry(&record));
    EXPECT_EQ(0, cxTell(record.destination));
    cxCloseFile(record.source);
    cxCloseFile(record.destination);
}
#endif

TEST(Close, ReadOnlyOpenNeverRemovesAnEmptyFile) {
    TempDir dir;
    std::string empty = dir.file("EMPTY.ARQ");
    ASSERT_TRUE(WriteFileBytes(empty, Bytes()));
    ASSERT_EQ(0, Open(empty, CX_ARC_READONLY));
    ASSERT_EQ(0, cxExtract("*", dir.path().c_str()));
    ASSERT_EQ(0, cxProcess());
    cxCloseArchive();
    EXPECT_TRUE(FileExists(empty));
    // Opened for writing and left empty, it is removed.
    ASSERT_EQ(0, Open(empty, 0));
    cxCloseArchive();
    EXPECT_FALSE(FileExists(empty));
}

TEST(Close, ARewriteTakesTheFileNamedAndKeepsItsMode) {
    TempDir dir;
    std::string setup = dir.file("setup");  // no extension: not setup.arq
    ASSERT_TRUE(WriteArchive(setup, {Entry("A.TXT", "a"), Entry("B.TXT", "b")}, RandomBytes(3000, 2), true));
#ifndef _WIN32
    ASSERT_EQ(0, chmod(setup.c_str(), 0751));
#endif
    ASSERT_EQ(0, Open(setup, CX_ARC_ASGIVEN));
    ASSERT_EQ(0, cxDeleteName("a.txt"));
    ASSERT_EQ(0, cxProcess());
    ASSERT_EQ(0, cxCloseArchive());
    EXPECT_FALSE(FileExists(setup + ".arq"));
    EXPECT_EQ(std::vector<std::string>{"B.TXT"}, EntryNames(setup));
    Bytes after = ReadFileBytes(setup);
    ASSERT_GT(after.size(), 3000u);
    EXPECT_EQ(RandomBytes(3000, 2), Bytes(after.begin(), after.begin() + 3000));
#ifndef _WIN32
    struct stat info;
    ASSERT_EQ(0, stat(setup.c_str(), &info));
    EXPECT_EQ(0751u, info.st_mode & 07777);
    // A new archive is made, never through a link another user planted.
    ASSERT_EQ(0, symlink(dir.file("victim.arq").c_str(), dir.file("new.arq").c_str()));
    EXPECT_EQ(CX_ESLOT, Open(dir.file("new.arq"), 0));
    cxCloseArchive();
    EXPECT_FALSE(FileExists(dir.file("victim.arq")));
#endif
}

// A copy that comes out short is a failure, whether the source ends early,
// a write is refused, or the buffered bytes cannot be written at the close.
TEST(Copy, ShortReadsAndWritesAreFailures) {
    TempDir dir;
    ASSERT_TRUE(WriteFileBytes(dir.file("SRC"), RandomBytes(10000, 4)));
    int from = cxOpenFile(dir.file("SRC").c_str(), CX_READ);
    int to = cxOpenFile(dir.file("DST").c_str(), CX_CREATE | CX_WRITE);
    EXPECT_EQ(CX_EFAIL, cxCopyBytes(from, to, 20000, nullptr));
    cxSeek(from, 0, SEEK_SET);
    cxSeek(to, 0, SEEK_SET);
    EXPECT_EQ(CX_OK, cxCopyBytes(from, to, 10000, nullptr));
    cxCloseFile(to);
    int readOnly = cxOpenFile(dir.file("DST").c_str(), CX_READ);
    cxSeek(from, 0, SEEK_SET);
    EXPECT_EQ(CX_EFAIL, cxCopyBytes(from, readOnly, 10000, nullptr));
    cxCloseFile(readOnly);
#ifndef _WIN32
    int full = cxOpenFile("/dev/full", CX_WRITE);
    ASSERT_GE(full, 0);
    cxSeek(from, 0, SEEK_SET);
    EXPECT_EQ(CX_EFAIL, cxCopyBytes(from, full, 10000, nullptr));
    EXPECT_NE(0, cxSystemError());
    cxCloseFile(full);
    full = cxOpenFile("/dev/full", CX_WRITE);
    EXPECT_EQ(10, cxWrite(full, "ten bytes!", 10));  // buffered
    EXPECT_EQ(CX_EWRITE, cxCloseFile(full));
#endif
    cxCloseFile(from);
}

}  // namespace
