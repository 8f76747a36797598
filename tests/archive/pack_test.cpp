// The compressor: method choice, sizes, check values, callbacks, failure.
#include <gtest/gtest.h>
#include <string.h>

#include "codec_util.h"
#include "packer.h"

namespace {

TEST(Pack, EmptyFileIsStoredWithCheckValueZero) {
    TempDir dir;
    EntryInfo r;
    ASSERT_EQ(0, PackBytes(dir, "EMPTY.TXT", Bytes(), &r));
    EXPECT_EQ(1u, r.method);
    EXPECT_EQ(0u, r.packedSize);
    EXPECT_EQ(0u, r.unpackedSize);
    EXPECT_EQ(0u, r.checkValue);
    Bytes out(5, 1);
    EntryInfo e;
    EXPECT_EQ(0, ExpandAt(dir, PackedPath(dir), 0, &out, &e));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(0u, e.checkValue);
}

TEST(Pack, RandomBytesAreStored) {
    Bytes data = RandomBytes(50000, 11);
    for (unsigned options : {0u, (unsigned)CX_PACK_BEST}) {
        TempDir dir;
        EntryInfo r;
        ASSERT_EQ(0, PackBytes(dir, "NOISE.BIN", data, &r, options));
        EXPECT_EQ(1u, r.method) << options;
        EXPECT_EQ(data.size(), r.packedSize) << options;
        EXPECT_EQ(data.size(), r.unpackedSize) << options;
        EXPECT_EQ(Crc(data), r.checkValue) << options;
        // Header, the file itself, end record: nothing of the packing attempt stays.
        Bytes file = ReadFileBytes(PackedPath(dir));
        size_t header = 8 + 9 + 33;
        ASSERT_EQ(header + data.size() + 41, file.size()) << options;
        EXPECT_TRUE(std::equal(data.begin(), data.end(), file.begin() + header)) << options;
    }
}

TEST(Pack, ArchiveExtensionsAreStoredUnpacked) {
    Bytes text(20000, 'a');
    for (const char* name : {"A.ZIP", "b.cab", "C.ARQ", "D.ZOO", "E.ARC", "F.ARJ", "G.LBR",
                             "H.PAK", "I.LZH"}) {
        TempDir dir;
        EntryInfo r;
        EventLog log;
        InstallEventLog(&log);
        ASSERT_EQ(0, PackBytes(dir, name, text, &r)) << name;
        InstallEventLog(nullptr);
        EXPECT_EQ(1u, r.method) << name;
        EXPECT_EQ(text.size(), r.packedSize) << name;
        EXPECT_EQ(Crc(text), r.checkValue) << name;
        EXPECT_TRUE(log.has(CXCB_PACKED));
    }
    // Only an extension of exactly three letters counts.
    for (const char* name : {"A.ZIPX", "B.ZI", "ZIP", "C.Z"}) {
        TempDir dir;
        EntryInfo r;
        ASSERT_EQ(0, PackBytes(dir, name, text, &r)) << name;
        EXPECT_EQ(2u, r.method) << name;
    }
}

TEST(Pack, LongRunPacksSmallAndExpandsBack) {
    Bytes run(1 << 20, 0x5A);
    EntryInfo r;
    ASSERT_TRUE(RoundTrip(run, "RUN.DAT", &r));
    EXPECT_EQ(2u, r.method);
    EXPECT_LT(r.packedSize, 2000u);
    EXPECT_EQ(run.size(), r.unpackedSize);
}

TEST(Pack, SameInputGivesSameBytes) {
    Bytes data = ReadFileBytes(CorpusFile("notepad.exe"));
    ASSERT_FALSE(data.empty());
    for (unsigned options : {0u, (unsigned)CX_PACK_BEST}) {
        TempDir a, b;
        EntryInfo ra, rb;
        ASSERT_EQ(0, PackBytes(a, "NOTEPAD.EXE", data, &ra, options));
        ASSERT_EQ(0, PackBytes(b, "NOTEPAD.EXE", data, &rb, options));
        Bytes fa = ReadFileBytes(PackedPath(a)), fb = ReadFileBytes(PackedPath(b));
        // The time stamps of the two input files may differ; the data may not.
        size_t header = 8 + 11 + 33;
        ASSERT_EQ(fa.size(), fb.size()) << options;
        EXPECT_TRUE(std::equal(fa.begin() + header, fa.end() - 41, fb.begin() + header)) << options;
        EXPECT_EQ(ra.checkValue, rb.checkValue) << options;
        EXPECT_EQ(Crc(Bytes(fa.begin() + header, fa.end() - 41)), ra.checkValue) << options;
    }
}

TEST(Pack, CallbacksAndReplacingFlag) {
    TempDir dir;
    Bytes data = RandomBytes(300000, 8);
    for (auto& b : data) b &= 0x0F;  // packs, but with many items
    EventLog log;
    InstallEventLog(&log);
    EntryInfo r;
    ASSERT_EQ(0, PackBytes(dir, "P.DAT", data, &r, CX_PACK_REPLACING));
    InstallEventLog(nullptr);
    ASSERT_FALSE(log.events.empty());
    EXPECT_EQ(CXCB_REPLACE, log.events.front().first);
    EXPECT_GT(log.count(CXCB_PACK), 2);
    for (const auto& e : log.events)  // code 1 only as progress after code 4
        if (e.first == CXCB_PACK) EXPECT_GT(e.second, 0);
    EXPECT_EQ(CXCB_PACKED, log.events.back().first);
    EXPECT_EQ(0u, r.flags & CX_FLAG_PROTECTED);
}

// A stopped packing leaves nothing of the entry: the archive is cut back to
// where the entry began, ready for the next entry or the end record.
TEST(Pack, StoppedPackingLeavesNoPartialEntry) {
    Bytes data = ReadFileBytes(CorpusFile("shell32.dll"));
    ASSERT_GT(data.size(), 1000000u);  // several segments of the near-optimal parse
    for (unsigned options : {0u, (unsigned)CX_PACK_BEST}) {
        TempDir dir;
        std::string input = dir.file("BIG.DAT");
        WriteFileBytes(input, data);
        std::string archive = dir.file("A.ARQ");
        int destination = cxOpenFile(archive.c_str(), CX_READ | CX_WRITE | CX_CREATE);
        cxWrite(destination, "prefix", 6);
        int source = cxOpenFile(input.c_str(), CX_READ);
        EntryInfo r;
        memset(&r, 0, sizeof r);
        r.source = source;
        r.destination = destination;
        strcpy(r.name, "BIG.DAT");
        EventLog log;
        log.stopAtCode = CXCB_PACK;
        log.stopAfterCount = 3;
        InstallEventLog(&log);
        EXPECT_EQ(CX_ESTOPPED, cxPackEntry(&r, options)) << options;
        InstallEventLog(nullptr);
        EXPECT_TRUE(log.has(CX_ESTOPPED)) << options;
        EXPECT_EQ(6, cxTell(destination)) << options;
        cxCloseFile(source);
        cxCloseFile(destination);
        EXPECT_EQ(6, FileSize(archive)) << options;
    }
}

// The near-optimal parse chooses blocks by the bits blockBits counts: they
// must be the bits the block encoder writes, for every kind of code (one
// symbol, literals alone, every length and position).
TEST(Pack, BlockBitsAreTheBitsWritten) {
    using namespace cxpack;
    ASSERT_TRUE(cxCrcReady());
    Bytes noise = RandomBytes(20001, 31);
    struct Mix {
        const char* what;
        unsigned items, literals;  // literals: one in how many items (1: all)
        bool oneSymbol;
    } mixes[] = {{"one item", 1, 1, false},          {"one literal repeated", 5000, 1, true},
                 {"literals", 3000, 1, false},       {"one match repeated", 4000, 0, true},
                 {"matches and literals", 20000, 3, false}};
    for (const Mix& mix : mixes) {
        TempDir dir;
        Packer* pk = (Packer*)calloc(1, sizeof(Packer));
        pk->destination = cxOpenFile(dir.file("OUT").c_str(), CX_WRITE | CX_CREATE);
        pk->unpackedCount = 1u << 30;  // every byte may go out
        ASSERT_TRUE(startEncoder(pk, 1 << 17, 1 << 17)) << mix.what;
        for (unsigned i = 0; i < mix.items; i++) {
            unsigned n = mix.oneSymbol ? 0 : noise[i];
            if (mix.literals && (mix.oneSymbol || i % mix.literals == 0)) outputItem(pk, n, 0);
            else outputItem(pk, 256 + n % 254, mix.oneSymbol ? 7 : (n << 5 | noise[i + 1]) & 0x1FFF);
        }
        uint32_t bits = blockBits(pk);
        endEncoder(pk);  // the block, then seven zero bits that push out its last byte
        EXPECT_FALSE(pk->notSmaller) << mix.what;
        EXPECT_EQ((bits + 7) / 8, pk->packedCount) << mix.what << ", " << bits << " bits";
        cxCloseFile(pk->destination);
        free(pk);
    }
}

TEST(Pack, SlotsMustBeOpen) {
    EntryInfo r;
    memset(&r, 0, sizeof r);
    r.source = 19;
    r.destination = 18;
    EXPECT_EQ(CX_ESLOT, cxPackEntry(&r));
}

}  // namespace
