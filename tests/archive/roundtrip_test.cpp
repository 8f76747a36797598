// Packing then expanding gives back every byte, with the default parse and
// with the near-optimal one (CX_PACK_BEST), which must also be smaller.
#include <gtest/gtest.h>
#include <string.h>

#include "codec_util.h"

namespace {

const unsigned kParses[] = {0, CX_PACK_BEST};

TEST(RoundTrip, CorpusFiles) {
    for (const char* name : {"notepad.exe", "comctl32.dll", "msvcrt.dll"}) {
        Bytes data = ReadFileBytes(CorpusFile(name));
        ASSERT_FALSE(data.empty()) << name;
        EntryInfo r;
        EXPECT_TRUE(RoundTrip(data, name, &r)) << name;
        EXPECT_EQ(2u, r.method) << name;
        EXPECT_LT(r.packedSize, data.size()) << name;
        if (strcmp(name, "notepad.exe") != 0) continue;  // the others take seconds more
        EntryInfo best;
        EXPECT_TRUE(RoundTrip(data, name, &best, CX_PACK_BEST)) << name;
        EXPECT_EQ(2u, best.method) << name;
        EXPECT_LT(best.packedSize, r.packedSize * 0.985) << name;  // 3 to 5 % on such files
    }
    Bytes text = ReadFileBytes(TextFile("/usr/share/common-licenses/GPL-3"));
    ASSERT_FALSE(text.empty());
    for (unsigned parse : kParses) {
        EntryInfo r;
        EXPECT_TRUE(RoundTrip(text, "GPL-3.TXT", &r, parse)) << parse;
        EXPECT_LT(r.packedSize, text.size() / 2) << parse;
    }
}

// The near-optimal parse against the default on data of each kind and on a
// file whose parts change kind every 24 KB, where blocks pay only when cut
// at the changes: never larger, and smaller by at least the given share.
TEST(RoundTrip, BestAgainstDefault) {
    Bytes text = ReadFileBytes(TextFile("/usr/share/common-licenses/GPL-3"));
    Bytes code = ReadFileBytes(CorpusFile("comctl32.dll"));
    ASSERT_GT(text.size(), 30000u);
    ASSERT_GT(code.size(), 300000u);
    Bytes mixed, noise = RandomBytes(24000, 3), dense = RandomBytes(100000, 8);
    for (auto& b : dense) b &= 0x0F;
    for (size_t k = 0; k < 8; k++) {
        Append(&mixed, Bytes(text.begin() + k * 2000, text.begin() + k * 2000 + 24000));
        Append(&mixed, Bytes(code.begin() + k * 30000, code.begin() + k * 30000 + 24000));
        if (k % 3 == 2) Append(&mixed, noise);
    }
    const struct {
        const char* name;
        const Bytes* data;
        double gain;
    } rows[] = {{"GPL-3.TXT", &text, 0.04}, {"MIXED.BIN", &mixed, 0.035}, {"DENSE.BIN", &dense, 0.01}};
    for (const auto& row : rows) {
        EntryInfo usual, best;
        ASSERT_TRUE(RoundTrip(*row.data, row.name, &usual, 0)) << row.name;
        ASSERT_TRUE(RoundTrip(*row.data, row.name, &best, CX_PACK_BEST)) << row.name;
        EXPECT_LE(best.packedSize, usual.packedSize * (1 - row.gain)) << row.name << " " << usual.packedSize;
    }
}

// Sizes around the window and chunk size, on data that packs; and for the
// near-optimal parse around its 256 KB segments.
TEST(RoundTrip, SizesAroundTheWindow) {
    Bytes text = ReadFileBytes(TextFile("/usr/share/common-licenses/GPL-3"));
    ASSERT_GT(text.size(), 20000u);
    for (unsigned parse : kParses) {
        for (size_t size : {1u, 2u, 3u, 255u, 256u, 257u, 8191u, 8192u, 8193u, 8448u, 8449u, 16384u,
                            16385u, 16639u, 16640u, 16641u}) {
            Bytes part(text.begin(), text.begin() + size);
            EXPECT_TRUE(RoundTrip(part, "PART.TXT", nullptr, parse)) << size << " " << parse;
        }
    }
    Bytes repeated;
    while (repeated.size() < 530000) Append(&repeated, text);
    for (size_t size : {262143u, 262144u, 262145u, 262400u, 262401u, 524545u}) {
        Bytes part(repeated.begin(), repeated.begin() + size);
        EXPECT_TRUE(RoundTrip(part, "PART.TXT", nullptr, CX_PACK_BEST)) << size;
    }
}

// Random bytes, then their first 300 bytes again: the only match starts at
// 8,100 and runs across the first chunk boundary. Then random bytes repeated
// exactly one window later: matches at the longest distance, 8,192.
TEST(RoundTrip, MatchAcrossChunkBoundary) {
    Bytes data = RandomBytes(8100, 21);
    Bytes head(data.begin(), data.begin() + 300);
    Append(&data, head);
    Append(&data, Bytes(4000, 'k'));  // makes packing pay off
    Bytes window = RandomBytes(8192, 22);
    Bytes far = window;
    Append(&far, window);
    Append(&far, Bytes(3000, 'q'));
    for (unsigned parse : kParses) {
        EntryInfo r;
        EXPECT_TRUE(RoundTrip(data, "CROSS.BIN", &r, parse)) << parse;
        EXPECT_EQ(2u, r.method) << parse;
        EXPECT_TRUE(RoundTrip(far, "FAR.BIN", &r, parse)) << parse;
        EXPECT_EQ(2u, r.method) << parse;
    }
}

// Long inputs with structure at many scales: matches at every distance,
// blocks, window slides and the length limit.
TEST(RoundTrip, MixedStructures) {
    Bytes data;
    Bytes noise = RandomBytes(200000, 5);
    for (size_t i = 0; data.size() < 400000; i++) {
        size_t len = 1 + (noise[i % noise.size()] * 7) % 700;
        size_t from = (noise[(i * 3) % noise.size()] * 131 + i * 17) % noise.size();
        if (i % 3 == 0 && data.size() > 9000) {
            size_t back = 1 + (noise[(i * 5) % noise.size()] * 37) % 8190;
            for (size_t k = 0; k < len; k++) data.push_back(data[data.size() - back]);
        } else if (i % 3 == 1) {
            data.insert(data.end(), len, (uint8_t)i);
        } else {
            for (size_t k = 0; k < len; k++) data.push_back(noise[(from + k) % noise.size()] & 0x0F);
        }
    }
    for (unsigned parse : kParses) EXPECT_TRUE(RoundTrip(data, "MIXED.BIN", nullptr, parse)) << parse;
    // Literals of few values and short matches: blocks of many symbols,
    // which the near-optimal parse must keep within a block's 65,535.
    Bytes dense = RandomBytes(300000, 8);
    for (auto& b : dense) b &= 0x0F;
    for (unsigned parse : kParses) EXPECT_TRUE(RoundTrip(dense, "DENSE.BIN", nullptr, parse)) << parse;
}

// Shapes a parse meets at its edges: every byte value in turn, runs of every
// length up to past the longest match, short periods, one byte value, and
// copies of one line that differ in one byte, at every place of a word.
TEST(RoundTrip, Patterns) {
    Bytes ascending, runs, period3, zeros(70000, 0), pairs, edits;
    Bytes line = RandomBytes(300, 4);
    for (unsigned k = 0; k < line.size(); k++) {
        Bytes copy = line;
        copy[k] ^= 0x5A;
        Append(&edits, copy);
    }
    for (int k = 0; k < 40; k++)
        for (int c = 0; c < 256; c++) ascending.push_back((uint8_t)c);
    for (unsigned length = 1; length <= 300; length++) runs.insert(runs.end(), length, (uint8_t)length);
    for (int k = 0; k < 30000; k++) period3.push_back((uint8_t)"abc"[k % 3]);
    for (int k = 0; k < 30000; k++) pairs.push_back((uint8_t)(k % 2 ? 0xFF : k % 7));
    for (unsigned parse : kParses) {
        for (const Bytes* data : {&ascending, &runs, &period3, &zeros, &pairs, &edits}) {
            EntryInfo r;
            EXPECT_TRUE(RoundTrip(*data, "SHAPE.BIN", &r, parse)) << parse << " " << data->size();
            EXPECT_LT(r.packedSize, data->size() / 4) << parse << " " << data->size();
        }
    }
}

// Several packed entries in one archive read back one after the other.
TEST(RoundTrip, ArchiveOfSeveralEntries) {
    TempDir dir;
    std::string archive = dir.file("MULTI.ARQ");
    int destination = cxOpenFile(archive.c_str(), CX_READ | CX_WRITE | CX_CREATE);
    std::vector<Bytes> inputs = {ReadFileBytes(CorpusFile("notepad.exe")), Bytes(),
                                 RandomBytes(3000, 9), Bytes(70000, 'r')};
    EntryInfo r;
    for (size_t i = 0; i < inputs.size(); i++) {
        std::string path = dir.file("F" + std::to_string(i));
        WriteFileBytes(path, inputs[i]);
        memset(&r, 0, sizeof r);
        r.source = cxOpenFile(path.c_str(), CX_READ);
        r.destination = destination;
        snprintf(r.name, sizeof r.name, "f%zu", i);
        ASSERT_EQ(0, cxPackEntry(&r));
        cxCloseFile(r.source);
    }
    r.name[0] = 0;
    cxWriteEntryHeader(&r);
    cxCloseFile(destination);

    long offset = 0;
    for (size_t i = 0; i < inputs.size(); i++) {
        Bytes out;
        EntryInfo e;
        long after = 0;
        ASSERT_EQ(0, ExpandAt(dir, archive, offset, &out, &e, &after)) << i;
        EXPECT_EQ(inputs[i], out) << i;
        offset = after;
    }
    int source = cxOpenFile(archive.c_str(), CX_READ);
    cxSeek(source, (int32_t)offset, SEEK_SET);
    memset(&r, 0, sizeof r);
    r.source = source;
    EXPECT_EQ(CX_EEND, cxReadEntryHeader(&r));
    cxCloseFile(source);
}

}  // namespace
