// Sizes in an entry header that disagree with its packed stream. The check
// value covers the stored bytes only, so it cannot see them; the expander
// must. Both directions, on streams of every size class: what the
// compressor writes is accepted, and the same stream under a changed size,
// or with a byte more or less, is refused.
#include <gtest/gtest.h>
#include <string.h>

#include "codec_util.h"

namespace {

struct Sample {
    const char* what;
    Bytes data;
};

// Text with many short matches at many distances, and literals between.
Bytes MatchDense(size_t size, uint32_t seed) {
    Bytes noise = RandomBytes(size, seed);
    static const char* const words[] = {"the", "and", "arq", "cab", "sys", "inf", "dll", "exe"};
    Bytes out;
    for (size_t i = 0; out.size() < size; ++i) {
        const char* word = words[noise[i] & 7];
        out.insert(out.end(), word, word + 3);
        if (noise[i] & 0x30) out.push_back((uint8_t)('a' + noise[i] % 26));
    }
    out.resize(size);
    return out;
}

std::vector<Sample> SizeClasses() {
    Bytes text = ReadFileBytes(TextFile("/usr/share/common-licenses/GPL-3"));
    std::vector<Sample> samples;
    samples.push_back({"a few bytes", Bytes(30, 'w')});
    samples.push_back({"one chunk less one", Bytes(text.begin(), text.begin() + 8191)});
    samples.push_back({"one chunk", Bytes(text.begin(), text.begin() + 8192)});
    samples.push_back({"one chunk and one", Bytes(text.begin(), text.begin() + 8193)});
    samples.push_back({"text of several blocks", text});
    samples.push_back({"dense matches, many blocks", MatchDense(300000, 3)});
    samples.push_back({"a long run", Bytes(300000, 'z')});
    return samples;
}

// The packed stream of data and its unpacked size.
Bytes PackStream(const Bytes& data, const char* what) {
    TempDir dir;
    EntryInfo record;
    EXPECT_EQ(0, PackBytes(dir, "S.BIN", data, &record)) << what;
    EXPECT_EQ(2u, record.method) << what;
    Bytes archive = ReadFileBytes(PackedPath(dir));
    size_t start = 8 + 5 + 33;
    return Bytes(archive.begin() + start, archive.begin() + start + record.packedSize);
}

// Writes the stream as a one-entry archive with the given unpacked size and
// the right check value, then tests it (cxTestEntry) and, unless the size
// is beyond any disk, expands it.
void Check(const Bytes& stream, uint32_t unpacked, int16_t expected, const Bytes* data,
           const std::string& what) {
    TempDir dir;
    Bytes file = EntryBytes("FILE.TXT", 2, stream, unpacked);
    AppendEnd(&file);
    std::string path = dir.file("S.ARQ");
    ASSERT_TRUE(WriteFileBytes(path, file));

    EventLog log;
    InstallEventLog(&log);
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = cxOpenFile(path.c_str(), CX_READ);
    record.destination = -1;
    ASSERT_EQ(0, cxFirstEntry(&record)) << what;
    int32_t dataStart = cxTell(record.source);
    EXPECT_EQ(expected, cxTestEntry(&record)) << what;
    EXPECT_EQ(dataStart, cxTell(record.source)) << what;  // ready for cxNextEntry
    EXPECT_EQ(CX_EEND, cxNextEntry(&record)) << what;
    cxCloseFile(record.source);
    EXPECT_EQ(expected == CX_ECHECK, log.has(CX_ECHECK)) << what;
    InstallEventLog(nullptr);

    if (unpacked > 100000000u) return;
    Bytes out;
    EXPECT_EQ(expected, ExpandAt(dir, path, 0, &out)) << what;
    if (data && expected == CX_OK) EXPECT_EQ(*data, out) << what;
}

TEST(StreamSizes, WhatThePackerWritesIsAccepted) {
    for (const Sample& s : SizeClasses()) {
        Bytes stream = PackStream(s.data, s.what);
        Check(stream, (uint32_t)s.data.size(), CX_OK, &s.data, s.what);
    }
}

TEST(StreamSizes, SizesThatDisagreeAreRefused) {
    for (const Sample& s : SizeClasses()) {
        Bytes stream = PackStream(s.data, s.what);
        uint32_t size = (uint32_t)s.data.size();
        std::string what = s.what;
        Check(stream, size + 1, CX_ECHECK, nullptr, what + ": one byte more");
        Check(stream, size - 1, CX_ECHECK, nullptr, what + ": one byte less");
        Check(stream, size ^ 0x100, CX_ECHECK, nullptr, what + ": one bit flipped");
        Check(stream, 0x7FFFFFF0u, CX_ECHECK, nullptr, what + ": 2 GB");
        Bytes longer = stream;
        longer.push_back(0);
        Check(longer, size, CX_ECHECK, nullptr, what + ": a packed byte more");
        Bytes shorter(stream.begin(), stream.end() - 1);
        Check(shorter, size, CX_ECHECK, nullptr, what + ": a packed byte less");
    }
}

}  // namespace
