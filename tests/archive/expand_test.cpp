// The expander, on hand-made streams and on stored entries.
#include <gtest/gtest.h>
#include <string.h>

#include "codec_util.h"

namespace {

// Writes one entry with the given data (check value computed over it unless
// given) and an end record, then expands it.
int16_t ExpandEntryBytes(uint8_t method, const Bytes& data, uint32_t unpacked, Bytes* output,
                         EventLog* log = nullptr, const uint32_t* check = nullptr,
                         uint8_t flags = 0, long* afterData = nullptr) {
    TempDir dir;
    RawHeader h;
    h.method = method;
    h.packedSize = (uint32_t)data.size();
    h.unpackedSize = unpacked;
    h.checkValue = check ? *check : Crc(data);
    h.flags = flags;
    Bytes file = EncodeHeader(h);
    Append(&file, data);
    AppendEnd(&file);
    std::string path = dir.file("T.ARQ");
    WriteFileBytes(path, file);
    InstallEventLog(log);
    int16_t result = ExpandAt(dir, path, 0, output, nullptr, afterData);
    InstallEventLog(nullptr);
    if (afterData) *afterData -= (long)EncodeHeader(h).size();
    return result;
}

TEST(Expand, OneSymbolBlocksTakeNoBitsPerSymbol) {
    BitWriter w;
    OneSymbolBlock(&w, 3000, 'A', 0);
    Bytes stream = w.finish();
    EXPECT_EQ(7u, stream.size());
    Bytes out;
    EventLog log;
    ASSERT_EQ(0, ExpandEntryBytes(2, stream, 3000, &out, &log));
    EXPECT_EQ(Bytes(3000, 'A'), out);
    EXPECT_EQ(1, log.count(CXCB_EXPAND));
    EXPECT_EQ(1, log.count(CXCB_EXTRACTED));
}

// A literal, then a block of 256-byte matches at position value 0 (repeat
// the previous byte): matches overlap what they produce and run across the
// 8,192-byte chunks.
TEST(Expand, RunLengthMatchesAcrossChunks) {
    BitWriter w;
    OneSymbolBlock(&w, 1, 'z', 0);
    OneSymbolBlock(&w, 80, 509, 0);
    Bytes out;
    EventLog log;
    uint32_t size = 1 + 80 * 256;
    ASSERT_EQ(0, ExpandEntryBytes(2, w.finish(), size, &out, &log));
    EXPECT_EQ(Bytes(size, 'z'), out);
    EXPECT_EQ(3, log.count(CXCB_EXPAND));  // one per chunk
    EXPECT_EQ(16384, log.lastValue(CXCB_EXPAND));
}

// Position value 8,191 reaches back exactly one window: each byte comes
// from the window slot it is written to.
TEST(Expand, MatchOneWindowBack) {
    BitWriter w;
    OneSymbolBlock(&w, 4096, 'p', 0);
    OneSymbolBlock(&w, 4096, 'q', 0);
    OneSymbolBlock(&w, 40, 509, 13);
    for (int i = 0; i < 40; i++) w.put(12, 0xFFF);
    Bytes expected(4096, 'p');
    Append(&expected, Bytes(4096, 'q'));
    Append(&expected, expected);
    Append(&expected, Bytes(expected.begin(), expected.begin() + 40 * 256 - 8192));
    Bytes out;
    ASSERT_EQ(0, ExpandEntryBytes(2, w.finish(), (uint32_t)expected.size(), &out));
    EXPECT_EQ(expected, out);
}

// 'count' matches whose length symbol 509 and position symbol 13 are each
// the only symbol of a code of length 16. Fields: code-length code (2 and 18
// of length 1), 509 zero lengths and a 16, 13 zeros and a 16 (7, 1 x 9, 0).
void LongCodeMatchBlock(BitWriter* w, unsigned count) {
    const uint32_t fields[][2] = {{16, count}, {5, 19}, {6, 0}, {3, 1}, {2, 3}, {18, 0}, {18, 0}, {3, 1},
                                  {9, 510}, {1, 0}, {9, 489}, {1, 1}, {4, 14}, {20, 0}, {19, 0}, {13, 0x1FFE}};
    for (const auto& f : fields) w->put(f[0], f[1]);
}

// Matches 4,097 to 8,192 back, also with 16-bit codes (44 bits, the most a match takes):
// across the expander's input reads, and cut short in the last extra bits (only the bit count tells).
TEST(Expand, FarMatchesAcrossInputReadsAndCutShort) {
    const struct { unsigned matches; bool longCodes, cut; } cases[] = {{12000, 0, 0}, {12000, 1, 0}, {40, 1, 1}};
    for (const auto& c : cases) {
        BitWriter w;
        OneSymbolBlock(&w, 4096, 'p', 0);
        OneSymbolBlock(&w, 4096, 'q', 0);
        c.longCodes ? LongCodeMatchBlock(&w, c.matches) : OneSymbolBlock(&w, c.matches, 509, 13);
        Bytes expected(4096, 'p'), out;
        Append(&expected, Bytes(4096, 'q'));
        for (unsigned i = 0, extra; i < c.matches; i++) {
            w.put(c.longCodes ? 32 : 0, 0);
            w.put(12, extra = (i * 2654435761u) >> 20);
            for (int k = 0; k < 256; k++) expected.push_back(expected[expected.size() - 4097 - extra]);
        }
        Bytes stream = w.finish();
        stream.resize(stream.size() - c.cut);
        EXPECT_EQ(c.cut ? CX_ECHECK : 0, ExpandEntryBytes(2, stream, (uint32_t)expected.size(), &out)) << c.matches;
        if (!c.cut) EXPECT_EQ(expected, out) << c.matches << " " << c.longCodes;
    }
}

// Streams whose check value is right but which no packer writes: they must
// end in -7, not in a crash or a read outside the tables.
TEST(Expand, RejectsStreamsThatLie) {
    struct Case {
        const char* what;
        void (*write)(BitWriter*);
    } cases[] = {
        {"over-full code-length code",
         [](BitWriter* w) {
             w->put(16, 10);
             w->put(5, 3);
             w->put(3, 1);
             w->put(3, 1);
             w->put(3, 1);
             w->put(2, 0);
         }},
        {"code length above 16",
         [](BitWriter* w) {
             w->put(16, 10);
             w->put(5, 1);
             w->put(3, 7);
             w->put(10, 0x3FF);
             w->put(1, 0);
         }},
        {"more lengths than symbols",
         [](BitWriter* w) {
             w->put(16, 10);
             w->put(5, 0);
             w->put(5, 0);
             w->put(9, 511);
         }},
        {"position symbol out of range",
         [](BitWriter* w) {
             w->put(16, 10);
             w->put(5, 0);
             w->put(5, 0);
             w->put(9, 0);
             w->put(9, 'a');
             w->put(4, 0);
             w->put(4, 14);
         }},
        {"literal symbol out of range",
         [](BitWriter* w) {
             w->put(16, 10);
             w->put(5, 0);
             w->put(5, 0);
             w->put(9, 0);
             w->put(9, 510);
         }},
        {"code with no symbols",
         [](BitWriter* w) {
             w->put(16, 10);
             w->put(5, 2);
             w->put(3, 0);
             w->put(3, 0);
         }},
    };
    for (const Case& c : cases) {
        BitWriter w;
        c.write(&w);
        w.put(32, 0xFFFFFFFF);
        Bytes out;
        EventLog log;
        EXPECT_EQ(CX_ECHECK, ExpandEntryBytes(2, w.finish(), 5000, &out, &log)) << c.what;
        EXPECT_TRUE(log.has(CX_ECHECK)) << c.what;
        EXPECT_FALSE(log.has(CXCB_EXTRACTED)) << c.what;
    }
}

TEST(Expand, CheckValueMismatchReportsComputedValue) {
    BitWriter w;
    OneSymbolBlock(&w, 100, 'q', 0);
    Bytes stream = w.finish();
    uint32_t wrong = Crc(stream) ^ 1;
    Bytes out;
    EventLog log;
    long after = 0;
    EXPECT_EQ(CX_ECHECK, ExpandEntryBytes(2, stream, 100, &out, &log, &wrong, 0, &after));
    EXPECT_EQ((int32_t)Crc(stream), log.lastValue(CX_ECHECK));
    EXPECT_EQ((long)stream.size(), after);  // exactly the packed bytes were read
}

// A match reaching back before the first byte, in a stream that is sound
// in every other way (one block, one symbol, sizes exact): only the
// distance check can refuse it.
TEST(Expand, MatchBeforeTheFirstByte) {
    BitWriter w;
    OneSymbolBlock(&w, 1, 300, 0);  // one match of 47 bytes, one byte back
    Bytes out;
    EventLog log;
    EXPECT_EQ(CX_ECHECK, ExpandEntryBytes(2, w.finish(), 47, &out, &log));
    EXPECT_TRUE(log.has(CX_ECHECK));
    // The same stream after a literal is sound.
    BitWriter sound;
    OneSymbolBlock(&sound, 1, 'q', 0);
    OneSymbolBlock(&sound, 1, 300, 0);
    EXPECT_EQ(0, ExpandEntryBytes(2, sound.finish(), 48, &out));
    EXPECT_EQ(Bytes(48, 'q'), out);
}

// Bytes after the end of a stream mean a damaged entry; they still count
// for the check value and are read, so the source ends at the entry's last
// byte.
TEST(Expand, ReadsExactlyThePackedBytes) {
    BitWriter w;
    OneSymbolBlock(&w, 50, 'q', 0);
    Bytes stream = w.finish();
    Append(&stream, Bytes(9000, 0xAB));
    Bytes out;
    long after = 0;
    EXPECT_EQ(CX_ECHECK, ExpandEntryBytes(2, stream, 50, &out, nullptr, nullptr, 0, &after));
    EXPECT_EQ((long)stream.size(), after);
}

TEST(Expand, StoredEntries) {
    Bytes out;
    EventLog log;
    ASSERT_EQ(0, ExpandEntryBytes(1, Bytes(), 0, &out, &log));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(log.has(CXCB_STORED));
    EXPECT_TRUE(log.has(CXCB_EXTRACTED));

    Bytes data = RandomBytes(100000, 3);
    log = EventLog();
    ASSERT_EQ(0, ExpandEntryBytes(1, data, (uint32_t)data.size(), &out, &log));
    EXPECT_EQ(data, out);
    EXPECT_EQ(3, log.count(CXCB_EXPAND));  // after every eighth 4,096-byte chunk

    uint32_t wrong = Crc(data) + 1;
    log = EventLog();
    EXPECT_EQ(CX_ECHECK, ExpandEntryBytes(1, data, (uint32_t)data.size(), &out, &log, &wrong));
    EXPECT_EQ((int32_t)Crc(data), log.lastValue(CX_ECHECK));

    // Sizes that disagree: never more than the entry's own bytes are read.
    long after = 0;
    EXPECT_EQ(CX_ECHECK,
              ExpandEntryBytes(1, data, (uint32_t)data.size() + 50, &out, nullptr, nullptr, 0, &after));
    EXPECT_EQ((long)data.size(), after);
}

TEST(Expand, ProtectedUnknownAndStopped) {
    Bytes data = RandomBytes(70000, 4);
    Bytes out;
    EventLog log;
    long after = 0;
    EXPECT_EQ(0, ExpandEntryBytes(1, data, (uint32_t)data.size(), &out, &log, nullptr,
                                  CX_FLAG_PROTECTED, &after));
    EXPECT_TRUE(log.has(CX_EPROTECTED));
    EXPECT_TRUE(out.empty());
    EXPECT_EQ((long)data.size(), after);

    // Unknown method: skipped; the untouched running value is compared.
    log = EventLog();
    EXPECT_EQ(CX_ECHECK, ExpandEntryBytes(7, data, 10, &out, &log, nullptr, 0, &after));
    EXPECT_TRUE(log.has(CXCB_UNKNOWN));
    EXPECT_EQ((long)data.size(), after);
    uint32_t untouched = 0xFFFFFFFFu;
    EXPECT_EQ(0, ExpandEntryBytes(7, data, 10, &out, nullptr, &untouched));

    log = EventLog();
    log.stopAtCode = CXCB_EXPAND;
    log.stopAfterCount = 1;
    EXPECT_EQ(CX_ESTOPPED, ExpandEntryBytes(1, data, (uint32_t)data.size(), &out, &log, nullptr,
                                            0, &after));
    EXPECT_FALSE(log.has(CX_ECHECK));
    EXPECT_EQ((long)data.size(), after);

    BitWriter w;
    OneSymbolBlock(&w, 30000, 'A', 0);
    log = EventLog();
    log.stopAtCode = CXCB_EXPAND;
    log.stopAfterCount = 2;
    EXPECT_EQ(CX_ESTOPPED, ExpandEntryBytes(2, w.finish(), 30000, &out, &log));
    EXPECT_EQ(16384u, out.size());
}

TEST(Expand, MissingSlots) {
    EntryInfo r;
    memset(&r, 0, sizeof r);
    r.source = -1;
    r.destination = 0;
    EXPECT_EQ(CX_ESLOT, cxExpandEntry(&r));
    r.source = 0;
    r.destination = -1;
    EXPECT_EQ(CX_ESLOT, cxExpandEntry(&r));
}

}  // namespace
