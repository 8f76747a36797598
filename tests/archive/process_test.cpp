// cxProcess: the add, delete and extract passes and the rewritten archive.
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string.h>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#endif

#include "cx.h"
#include "cxint.h"
#include "entries_util.h"
#include "files_util.h"

namespace {

std::vector<TestEntry> Entries(std::initializer_list<const char*> names) {
    std::vector<TestEntry> entries;
    uint32_t seed = 1;
    for (const char* name : names) {
        TestEntry e;
        e.name = name;
        e.data = RandomBytes(300 + 100 * seed, seed);
        ++seed;
        entries.push_back(e);
    }
    return entries;
}

int16_t Open(const std::string& path, int flags) {
    std::string copy = path;
    return cxOpenArchive(&copy[0], flags);
}

// Runs one queued operation from open to close; returns cxProcess's result.
int16_t RunOne(const std::string& archive, int flags, int type, const std::string& pattern,
               const std::string& directory = "") {
    int16_t r = Open(archive, flags);
    if (r != 0) return r;
    if (type == 1) r = cxAdd(pattern.c_str());
    if (type == 2) r = cxDelete(pattern.c_str());
    if (type == 3) r = cxExtract(pattern.c_str(), directory.c_str());
    if (r == 0) r = cxProcess();
    cxCloseArchive();
    return r;
}
const int kAdd = 1, kDelete = 2, kExtract = 3;

void MakeWritable(const std::string& path) {
    SetModeTime(path, true, 0);
}

TEST(ProcessExtract, EveryEntryWithTimesAndModes) {
    TempDir dir;
    std::vector<TestEntry> entries = Entries({"ONE.SYS", "TWO.INF", "RO.TXT", "BIG.BIN"});
    entries[1].time = 887937964u;  // 1998-02-20 01:26:04 UTC
    entries[2].mode = 0x8124;      // no owner-write bit: read-only
    // More than the output buffer holds: all of it is written before the
    // file's time is set.
    entries[3].data = RandomBytes(150001, 9);
    entries[3].time = 887937964u;
    ASSERT_TRUE(WriteArchive(dir.file("setup.exe"), entries, RandomBytes(4000, 5), true));
    Bytes before = ReadFileBytes(dir.file("setup.exe"));
    CallbackLog log;
    ASSERT_EQ(0, RunOne(dir.file("setup.exe"), CX_ARC_READONLY, kExtract, "*.*", dir.path()));

    std::vector<std::string> outputs;
    for (const Event& e : log.events) {
        if (e.code == CXCB_OUTPUT) outputs.push_back(e.name);
    }
    ASSERT_EQ(4u, outputs.size());
    EXPECT_EQ(dir.path() + "\\ONE.SYS", outputs[0]);
    EXPECT_EQ(4, log.count(CXCB_EXTRACTED));
    std::vector<int16_t> codes = log.codes();
    ASSERT_GE(codes.size(), 4u);
    EXPECT_EQ(std::vector<int16_t>({CXCB_OPENED, CXCB_BEGIN}), std::vector<int16_t>(codes.begin(), codes.begin() + 2));
    EXPECT_EQ(std::vector<int16_t>({CXCB_END, CXCB_CLOSED}), std::vector<int16_t>(codes.end() - 2, codes.end()));
    for (const TestEntry& e : entries) {
        std::string out = dir.file(e.name);
        EXPECT_EQ(e.data, ReadFileBytes(out)) << e.name;
        CxFileStat status;
        ASSERT_TRUE(cxPlatStat(out.c_str(), &status));
        EXPECT_EQ(e.time, status.mtime) << e.name;
    }
    EXPECT_TRUE(IsWritable(dir.file("ONE.SYS")));
    EXPECT_FALSE(IsWritable(dir.file("RO.TXT")));
    MakeWritable(dir.file("RO.TXT"));
    // Read-only processing changes nothing in the archive.
    EXPECT_EQ(before, ReadFileBytes(dir.file("setup.exe")));
}

// A caller that makes the output itself at event 44 hands it over open: the
// entry goes straight into it with its time and mode, and nothing else is
// made in the folder. A file handed over for an entry the caller then skips
// is closed as it was, and so is one whose entry fails its check (then the
// last); one offered twice, or at another event, is refused.
TEST(ProcessExtract, AnOutputGivenAtEvent44IsWrittenInPlace) {
    TempDir dir;
    std::vector<TestEntry> entries = Entries({"ONE.SYS", "RO.TXT", "SKIP.TXT", "BAD.TXT"});
    entries[0].time = 887937964u;
    entries[0].data = RandomBytes(150001, 9);  // more than the output buffer holds
    entries[1].mode = 0x8124;
    ASSERT_TRUE(WriteArchive(dir.file("setup.exe"), entries));
    Bytes archive = ReadFileBytes(dir.file("setup.exe"));
    auto bad = std::search(archive.begin(), archive.end(), entries[3].data.begin(), entries[3].data.end());
    ASSERT_NE(archive.end(), bad);
    bad[10] ^= 0x01;
    ASSERT_TRUE(WriteFileBytes(dir.file("setup.exe"), archive));
    CallbackLog log;
    std::vector<int16_t> refused;
    log.hook = [&](EntryInfo* record, int16_t code, int32_t) -> int16_t {
        if (code == CXCB_EXTRACTED) refused.push_back(cxSetOutputFile(stdout));
        if (code != CXCB_OUTPUT) return 0;
        std::string name = record->name;
        name = name.substr(0, name.rfind('.')) + ".GIV";
        FILE* file = cxPlatOpen(name.c_str(), "w+b");
        strcpy(record->name, name.c_str());
        EXPECT_EQ(CX_OK, cxSetOutputFile(file));
        refused.push_back(cxSetOutputFile(stdout));
        return strstr(record->name, "SKIP") ? 1 : 0;
    };
    EXPECT_NE(0, RunOne(dir.file("setup.exe"), CX_ARC_READONLY, kExtract, "*.*", dir.path()));

    EXPECT_TRUE(log.saw(CX_ECHECK));
    EXPECT_TRUE(cxPlatRemove(dir.file("BAD.GIV").c_str()));  // closed
    EXPECT_EQ(std::vector<int16_t>(7, CX_EARG), refused);
    EXPECT_EQ(entries[0].data, ReadFileBytes(dir.file("ONE.GIV")));
    EXPECT_EQ(entries[1].data, ReadFileBytes(dir.file("RO.GIV")));
    EXPECT_EQ(0, FileSize(dir.file("SKIP.GIV")));
    CxFileStat status;
    ASSERT_TRUE(cxPlatStat(dir.file("ONE.GIV").c_str(), &status));
    EXPECT_EQ(entries[0].time, status.mtime);
    EXPECT_FALSE(IsWritable(dir.file("RO.GIV")));
    MakeWritable(dir.file("RO.GIV"));
    EXPECT_EQ(std::vector<std::string>({"ONE.GIV", "RO.GIV", "SKIP.GIV", "setup.exe"}), FileNames(dir.path()));
}

TEST(ProcessExtract, ASingleNameStopsAfterItsEntry) {
    TempDir dir;
    ASSERT_TRUE(WriteArchive(dir.file("a.arq"), Entries({"A", "B", "C"})));
    CallbackLog log;
    ASSERT_EQ(0, RunOne(dir.file("a.arq"), CX_ARC_READONLY, kExtract, "b", dir.path()));
    EXPECT_EQ(1, log.count(CXCB_OUTPUT));
    EXPECT_TRUE(FileExists(dir.file("B")));
    EXPECT_FALSE(FileExists(dir.file("A")));
    EXPECT_FALSE(FileExists(dir.file("C")));
}

TEST(ProcessExtract, ProtectedEntriesAreLeftUntouchedUnlessTheCallbackClearsTheFlag) {
    TempDir dir;
    std::vector<TestEntry> entries = Entries({"LOCKED.DAT", "FREED.DAT"});
    entries[0].flags = CX_FLAG_PROTECTED;
    entries[1].flags = CX_FLAG_PROTECTED;
    ASSERT_TRUE(WriteArchive(dir.file("p.arq"), entries));
    CallbackLog log;
    log.hook = [](EntryInfo* record, int16_t code, int32_t) -> int16_t {
        if (code == CXCB_PROTECTED && strstr(record->name, "FREED")) record->flags = 0;
        return 0;
    };
    ASSERT_EQ(0, RunOne(dir.file("p.arq"), CX_ARC_READONLY, kExtract, "*", dir.path()));
    EXPECT_EQ(2, log.count(CXCB_PROTECTED));
    EXPECT_EQ(1, log.count(CX_EPROTECTED));
    EXPECT_FALSE(FileExists(dir.file("LOCKED.DAT")));
    EXPECT_EQ(entries[1].data, ReadFileBytes(dir.file("FREED.DAT")));

    // Deleting: the protected entry stays in the archive.
    log.events.clear();
    log.hook = nullptr;
    ASSERT_EQ(0, RunOne(dir.file("p.arq"), 0, kDelete, "*"));
    EXPECT_EQ(2, log.count(CX_EPROTECTED));
    EXPECT_EQ(0, log.count(CXCB_DELETED));
    std::vector<std::string> expected = {"LOCKED.DAT", "FREED.DAT"};
    EXPECT_EQ(expected, EntryNames(dir.file("p.arq")));
}

int16_t overwriteAnswer;
int overwriteAsked;
int16_t AskOverwrite(EntryInfo*, CxEvent, int32_t) {
    ++overwriteAsked;
    return overwriteAnswer;
}

TEST(ProcessExtract, ExistingFilesAskTheOverwriteCallbackOrAreReportedReadOnly) {
    TempDir dir;
    std::vector<TestEntry> entries = Entries({"KEEP.TXT", "SWAP.TXT", "RO.TXT"});
    ASSERT_TRUE(WriteArchive(dir.file("o.arq"), entries));
    ASSERT_TRUE(WriteFileText(dir.file("KEEP.TXT"), "old keep"));
    ASSERT_TRUE(WriteFileText(dir.file("SWAP.TXT"), "old swap"));
    ASSERT_TRUE(WriteFileText(dir.file("RO.TXT"), "old ro"));
    ASSERT_TRUE(SetModeTime(dir.file("RO.TXT"), false, 0));
    CallbackLog log;
    cxSetCallback(CX_CALLBACK_OVERWRITE, AskOverwrite);
    overwriteAsked = 0;
    overwriteAnswer = 0;
    ASSERT_EQ(0, RunOne(dir.file("o.arq"), CX_ARC_READONLY, kExtract, "KEEP.TXT", dir.path()));
    overwriteAnswer = 1;
    ASSERT_EQ(0, RunOne(dir.file("o.arq"), CX_ARC_READONLY, kExtract, "S*", dir.path()));
    ASSERT_EQ(0, RunOne(dir.file("o.arq"), CX_ARC_READONLY, kExtract, "RO.TXT", dir.path()));
    EXPECT_EQ(2, overwriteAsked);
    EXPECT_EQ(Bytes({'o', 'l', 'd', ' ', 'k', 'e', 'e', 'p'}), ReadFileBytes(dir.file("KEEP.TXT")));
    EXPECT_EQ(entries[1].data, ReadFileBytes(dir.file("SWAP.TXT")));
    EXPECT_EQ(6, FileSize(dir.file("RO.TXT")));
    std::vector<int32_t> readOnlyValues;
    for (const Event& e : log.events) {
        if (e.code == CXCB_READONLY) readOnlyValues.push_back(e.value);
    }
    EXPECT_EQ(std::vector<int32_t>({0, 1}), readOnlyValues);
    MakeWritable(dir.file("RO.TXT"));
}

TEST(ProcessExtract, NamesThatClimbOutOfTheDestinationAreRefused) {
    TempDir dir;
    std::string inside = dir.file("dest");
    std::vector<TestEntry> entries =
        Entries({"..\\UP.TXT", "SUB\\..\\..\\UP2.TXT", "\\ROOT.TXT", "C:DRIVE.TXT", "SUB\\.. \\UP3.TXT",
                 "SUB\\DEEP\\OK.TXT", "SUB\\", "..\\UPDIR\\", "SUB\\NEW\\EMPTY\\"});
    // Directory entries: no data, a directory's mode.
    for (size_t i = 7; i < entries.size(); ++i) {
        entries[i].data.clear();
        entries[i].mode = 0x41ED;
    }
#ifdef _WIN32
    const int driveRefused = 1;  // a colon ends a drive there; on Linux it is part of a name
#else
    const int driveRefused = 0;
#endif
    ASSERT_TRUE(WriteArchive(dir.file("evil.arq"), entries));
    CallbackLog log;
#ifdef _WIN32
    // The levels checked stay what they were: while the file is written no
    // one can rename one (and put a junction in its place).
    BOOL moved = FALSE;
    log.hook = [&](EntryInfo*, int16_t code, int32_t) -> int16_t {
        if (code == CXCB_STORED) moved |= MoveFileA((inside + "\\SUB\\DEEP").c_str(), (inside + "\\ELSE").c_str());
        return 0;
    };
#endif
    ASSERT_EQ(0, RunOne(dir.file("evil.arq"), CX_ARC_READONLY | CX_ARC_PATHS, kExtract, "*", inside));
#ifdef _WIN32
    EXPECT_FALSE(moved);
    log.hook = nullptr;
#endif
    EXPECT_EQ(6 + driveRefused, log.count(CX_EUNSAFE));
    EXPECT_EQ(3 - driveRefused, log.count(CXCB_EXTRACTED));
    EXPECT_EQ(entries[5].data, ReadFileBytes(inside + "/SUB/DEEP/OK.TXT"));
    EXPECT_TRUE(FileExists(inside + "/SUB/NEW/EMPTY"));
    EXPECT_FALSE(FileExists(dir.file("UPDIR")));
    EXPECT_EQ(driveRefused == 0, FileExists(inside + "/C:DRIVE.TXT"));
    EXPECT_FALSE(FileExists(dir.file("UP.TXT")));
    EXPECT_FALSE(FileExists(dir.file("UP2.TXT")));
    EXPECT_FALSE(FileExists(dir.file("UP3.TXT")));
    EXPECT_FALSE(FileExists(dir.file("DRIVE.TXT")));
    EXPECT_FALSE(FileExists(dir.file("ROOT.TXT")));
    // Without the paths flag only the base name is used, which stays inside.
    log.events.clear();
    ASSERT_EQ(0, RunOne(dir.file("evil.arq"), CX_ARC_READONLY, kExtract, "*", inside));
    EXPECT_EQ(entries[0].data, ReadFileBytes(inside + "/UP.TXT"));
    EXPECT_EQ(3, log.count(CX_EUNSAFE));  // "SUB\" names no file, nor do the directories
    EXPECT_EQ(entries[3].data, ReadFileBytes(inside + (driveRefused ? "/DRIVE.TXT" : "/C:DRIVE.TXT")));
}

TEST(ProcessDelete, ArqIsRewrittenFromItsFirstEntryWithoutArchiveHeader) {
    TempDir dir;
    std::string path = dir.file("d.arq");
    std::vector<TestEntry> entries = Entries({"A", "B", "C"});
    ASSERT_TRUE(WriteArchive(path, entries, Bytes(), true));
    CallbackLog log;
    ASSERT_EQ(0, RunOne(path, 0, kDelete, "B"));
    EXPECT_EQ(1, log.count(CXCB_DELETED));
    int16_t end;
    int32_t endPosition;
    EXPECT_EQ(std::vector<std::string>({"A", "C"}), EntryNames(path, &end, &endPosition));
    EXPECT_EQ(CX_EEND, end);
    EXPECT_EQ(FileSize(path), endPosition);
    Bytes bytes = ReadFileBytes(path);
    ASSERT_GE(bytes.size(), 4u);
    EXPECT_EQ(Bytes({0x67, 0x57, 0x04, 0x01}), Bytes(bytes.begin(), bytes.begin() + 4));

    // Extracting what is left gives the stored bytes back.
    ASSERT_EQ(0, RunOne(path, CX_ARC_READONLY, kExtract, "*", dir.path()));
    EXPECT_EQ(entries[0].data, ReadFileBytes(dir.file("A")));
    EXPECT_EQ(entries[2].data, ReadFileBytes(dir.file("C")));
}

TEST(ProcessDelete, SelfExtractingFileKeepsItsPrefix) {
    TempDir dir;
    std::string path = dir.file("setup.exe");
    Bytes prefix = RandomBytes(7000, 11);
    ASSERT_TRUE(WriteArchive(path, Entries({"A", "B", "C"}), prefix, true));
    Bytes before = ReadFileBytes(path);
    ASSERT_EQ(0, RunOne(path, 0, kDelete, "[AC]"));
    Bytes after = ReadFileBytes(path);
    ASSERT_GT(after.size(), prefix.size() + 12);
    // The executable and the archive header before the first entry stay.
    EXPECT_TRUE(std::equal(before.begin(), before.begin() + prefix.size() + 12, after.begin()));
    EXPECT_EQ(std::vector<std::string>({"B"}), EntryNames(path));
}

TEST(ProcessDelete, DamagedArchiveIsLeftAsItWas) {
    TempDir dir;
    std::string path = dir.file("bad.arq");
    ASSERT_TRUE(WriteArchive(path, Entries({"A", "B", "C"})));
    Bytes bytes = ReadFileBytes(path);
    const size_t secondHeader = 8 + 1 + 33 + 400;
    bytes[secondHeader + 1] = 'X';  // signature of B's header broken
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    CallbackLog log;
    EXPECT_EQ(CX_EHEADER, RunOne(path, 0, kDelete, "A"));
    EXPECT_TRUE(log.saw(CXCB_ERROR));
    EXPECT_EQ(bytes, ReadFileBytes(path));
}

TEST(ProcessAdd, AddsReplacesAndKeepsEntriesWhoseFileIsMissing) {
    TempDir dir;
    std::string src = dir.file("src");
    ASSERT_TRUE(cxPlatMakeDir(src.c_str()));
    Bytes text;
    for (int i = 0; i < 400; ++i) {
        const char* line = "the quick brown fox jumps over the lazy dog\n";
        text.insert(text.end(), line, line + strlen(line));
    }
    ASSERT_TRUE(WriteFileBytes(src + "/one.txt", text));
    ASSERT_TRUE(WriteFileBytes(src + "/two.bin", RandomBytes(5000, 3)));
    ASSERT_TRUE(WriteFileBytes(src + "/skip.dat", RandomBytes(50, 3)));
    std::string archive = dir.file("new.arq");
    CallbackLog log;
    ASSERT_EQ(0, RunOne(archive, 0, kAdd, src + "/*.*"));
    EXPECT_EQ(3, log.count(CXCB_PACKED));
    int starts = 0;  // code 1 with value 0 starts a file; later ones are progress
    for (const Event& e : log.events) starts += e.code == CXCB_PACK && e.value == 0;
    EXPECT_EQ(3, starts);
    ASSERT_EQ(3u, EntryNames(archive).size());

    // Adding again reports replacements; the old entries are dropped.
    log.events.clear();
    ASSERT_TRUE(WriteFileText(src + "/one.txt", "changed"));
    ASSERT_EQ(0, RunOne(archive, 0, kAdd, src + "/O*"));
    EXPECT_TRUE(log.saw(CXCB_REPLACE));
    EXPECT_FALSE(log.saw(CXCB_PACK));
    std::vector<std::string> names = EntryNames(archive);
    ASSERT_EQ(3u, names.size());
    EXPECT_EQ("ONE.TXT", names[0]);  // new entries come first

    // A pattern that finds no file keeps the archive's entry of that name.
    log.events.clear();
    ASSERT_TRUE(cxPlatRemove((src + "/two.bin").c_str()));
    ASSERT_EQ(0, RunOne(archive, 0, kAdd, src + "/two.bin"));
    ASSERT_TRUE(log.saw(CXCB_ADDED));
    EXPECT_EQ(3u, EntryNames(archive).size());

    std::string out = dir.file("out");
    ASSERT_EQ(0, RunOne(archive, CX_ARC_READONLY, kExtract, "*", out));
    EXPECT_EQ(Bytes({'c', 'h', 'a', 'n', 'g', 'e', 'd'}), ReadFileBytes(out + "/ONE.TXT"));
    EXPECT_EQ(RandomBytes(5000, 3), ReadFileBytes(out + "/TWO.BIN"));

    // An archive opened with CX_ARC_BEST packs what it adds with the
    // near-optimal parse: smaller, and read back alike.
    Bytes licence = ReadFileBytes(TextFile("/usr/share/common-licenses/GPL-3"));
    ASSERT_TRUE(WriteFileBytes(src + "/gpl.txt", licence));
    ASSERT_EQ(0, RunOne(dir.file("default.arq"), 0, kAdd, src + "/gpl.txt"));
    ASSERT_EQ(0, RunOne(dir.file("best.arq"), CX_ARC_BEST, kAdd, src + "/gpl.txt"));
    EXPECT_LT(FileSize(dir.file("best.arq")), FileSize(dir.file("default.arq")));
    ASSERT_EQ(0, RunOne(dir.file("best.arq"), CX_ARC_READONLY, kExtract, "*", out));
    EXPECT_EQ(licence, ReadFileBytes(out + "/GPL.TXT"));
}

TEST(ProcessAdd, AStoppedPackingLeavesNoPartialEntry) {
    TempDir dir;
    std::string src = dir.file("src");
    ASSERT_TRUE(cxPlatMakeDir(src.c_str()));
    ASSERT_TRUE(WriteFileBytes(src + "/a.txt", Bytes(3000, 'a')));
    Bytes big;
    for (int i = 0; i < 60000; ++i) big.push_back((uint8_t)(i % 251 ^ i / 997));
    ASSERT_TRUE(WriteFileBytes(src + "/b.txt", big));
    ASSERT_TRUE(WriteFileBytes(src + "/c.txt", Bytes(3000, 'c')));
    std::string archive = dir.file("stop.arq");
    CallbackLog log;
    log.hook = [](EntryInfo* record, int16_t code, int32_t value) -> int16_t {
        if (code == CXCB_PACK && value > 0 && strcmp(record->name, "B.TXT") == 0) record->stopCode = CX_STOP;
        return 0;
    };
    ASSERT_EQ(0, RunOne(archive, 0, kAdd, src + "/*.txt"));
    EXPECT_TRUE(log.saw(CXCB_STOPPED));
    int16_t end;
    int32_t endPosition;
    EXPECT_EQ(std::vector<std::string>({"A.TXT"}), EntryNames(archive, &end, &endPosition));
    EXPECT_EQ(CX_EEND, end);
    EXPECT_EQ(FileSize(archive), endPosition);
}

TEST(ProcessAdd, ArchiveAndTemporaryArchiveAreNotAddedToThemselves) {
    TempDir dir;
    ASSERT_TRUE(WriteFileText(dir.file("x.txt"), "x"));
    ASSERT_TRUE(WriteArchive(dir.file("self.arq"), Entries({"OLD"})));
    CallbackLog log;
    ASSERT_EQ(0, RunOne(dir.file("self.arq"), 0, kAdd, dir.path() + "/*"));
    std::vector<std::string> names = EntryNames(dir.file("self.arq"));
    EXPECT_EQ(std::vector<std::string>({"X.TXT", "OLD"}), names);
}

// ---- the allocation walk ----------------------------------------------------

// The allocator of the walk: fails the n-th allocation and counts the
// blocks still live.
struct Walk {
    long failAt;  // 0: none fails
    long made;
    long live;
};
Walk walk;
void* WalkAllocate(size_t size, void*) {
    if (++walk.made == walk.failAt) return nullptr;
    ++walk.live;
    return malloc(size);
}
void WalkRelease(void* block, void*) {
    --walk.live;
    free(block);
}

struct Walked {
    int16_t pack, test, expand, process, close;
    Bytes packed, expanded, archive, extracted;
};

// Packs TEXT.TXT into PACK.ARQ, tests and expands the entry of REF.ARQ, and
// in one processing pass over PROC.ARQ (made anew from 'proc') adds NEW.TXT
// (with the near-optimal parse, so that both parses are walked), deletes
// B.BIN and extracts A.TXT into OUT.
Walked RunWalked(const TempDir& dir, const Bytes& proc) {
    Walked w;
    EntryInfo record;
    memset(&record, 0, sizeof record);
    remove(dir.file("PACK.ARQ").c_str());
    int source = cxOpenFile(dir.file("TEXT.TXT").c_str(), CX_READ);
    int destination = cxOpenFile(dir.file("PACK.ARQ").c_str(), CX_CREATE | CX_WRITE);
    record.source = source;
    record.destination = destination;
    strcpy(record.name, "TEXT.TXT");
    w.pack = source < 0 ? source : destination < 0 ? destination : cxPackEntry(&record);
    cxCloseFile(source);
    cxCloseFile(destination);
    w.packed = ReadFileBytes(dir.file("PACK.ARQ"));

    memset(&record, 0, sizeof record);
    source = cxOpenFile(dir.file("REF.ARQ").c_str(), CX_READ);
    destination = cxOpenFile(dir.file("OUT.TXT").c_str(), CX_CREATE | CX_WRITE);
    record.source = source;
    record.destination = -1;
    w.test = w.expand = source < 0 ? source : cxFirstEntry(&record);
    if (w.test == CX_OK) {
        w.test = cxTestEntry(&record);
        record.destination = destination;
        snprintf(record.name, sizeof record.name, "%s", dir.file("OUT.TXT").c_str());
        w.expand = destination < 0 ? destination : cxExpandEntry(&record);
    }
    cxCloseFile(source);
    cxCloseFile(destination);
    w.expanded = ReadFileBytes(dir.file("OUT.TXT"));

    WriteFileBytes(dir.file("PROC.ARQ"), proc);
    std::string path = dir.file("PROC.ARQ");
    w.process = cxOpenArchive(&path[0], CX_ARC_BEST);
    if (w.process == CX_OK) w.process = cxAdd((dir.path() + "/NEW*.TXT").c_str());
    if (w.process == CX_OK) w.process = cxDelete("B.BIN");
    if (w.process == CX_OK) w.process = cxExtract("A.TXT", dir.file("OUT").c_str());
    if (w.process == CX_OK) w.process = cxProcess();
    w.close = cxCloseArchive();
    w.archive = ReadFileBytes(dir.file("PROC.ARQ"));
    w.extracted = ReadFileBytes(dir.file("OUT/A.TXT"));
    return w;
}

// Every allocation of packing, testing, expanding and a whole processing
// pass fails once, in turn: each run ends with a negative code (or, where a
// buffer is asked for again at half the size, with the right result), and
// leaves no block allocated, no temporary file and an archive either as it
// was or as it should be.
TEST(AllocationWalk, EveryAllocationMayFail) {
    TempDir dir;
    Bytes text;
    for (int i = 0; i < 30000; ++i) text.push_back((uint8_t)("lorem ipsum dolor "[i % 18] ^ (i / 4000)));
    ASSERT_TRUE(WriteFileBytes(dir.file("TEXT.TXT"), text));
    ASSERT_TRUE(WriteFileBytes(dir.file("NEW.TXT"), Bytes(text.begin(), text.begin() + 9000)));
    ASSERT_TRUE(WriteArchive(dir.file("PROC.ARQ"), Entries({"A.TXT", "B.BIN", "NEW.TXT"})));
    Bytes proc = ReadFileBytes(dir.file("PROC.ARQ"));
    ASSERT_TRUE(WriteFileBytes(dir.file("REF.ARQ"), RunWalked(dir, proc).packed));
    Walked ref = RunWalked(dir, proc);
    ASSERT_TRUE(ref.pack == 0 && ref.test == 0 && ref.expand == 0 && ref.process == 0 && ref.close == 0);
    ASSERT_EQ(text, ref.expanded);

    const CxAllocator failing = {WalkAllocate, WalkRelease, nullptr};
    long refused = 0, recovered = 0;
    for (long n = 1;; ++n) {
        cxTerm();  // the check-value table is made inside the walk too
        walk = Walk{n, 0, 0};
        cxSetAllocator(&failing);
        Walked w = RunWalked(dir, proc);
        cxTerm();
        cxSetAllocator(nullptr);
        EXPECT_EQ(0, walk.live) << "allocation " << n;
        EXPECT_EQ(0, TemporaryFiles(dir.path()) + TemporaryFiles(dir.file("OUT"))) << n;
        EXPECT_TRUE(w.pack < 0 || w.packed == ref.packed) << n;
        EXPECT_TRUE(w.test < 0 || w.test == 0) << n;
        EXPECT_TRUE(w.expand < 0 || w.expanded == ref.expanded) << n;
        bool processed = w.process == 0 && w.close == 0;
        EXPECT_EQ(processed ? ref.archive : proc, w.archive) << n;
        EXPECT_TRUE(w.extracted.empty() || w.extracted == ref.extracted) << n;
        remove(dir.file("OUT/A.TXT").c_str());
        if (n > walk.made) {  // nothing failed: the walk is through
            EXPECT_TRUE(processed && w.pack == 0 && w.test == 0 && w.expand == 0);
            printf("allocation walk: %ld allocations, %ld failures reported, %ld absorbed by a smaller buffer\n",
                   n - 1, refused, recovered);
            EXPECT_GT(refused, 40);
            break;
        }
        bool negative = w.pack < 0 || w.test < 0 || w.expand < 0 || w.process < 0 || w.close < 0;
        (negative ? refused : recovered)++;
    }
}

}  // namespace
