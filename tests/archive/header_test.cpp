// Entry headers and the signature search.
#include <gtest/gtest.h>
#include <string.h>

#include "codec_util.h"

namespace {

// Opens 'bytes' written to a file as a read slot; closes it at the end.
class ReadSlot {
public:
    ReadSlot(const TempDir& dir, const Bytes& bytes, const char* name = "IN.BIN") {
        path_ = dir.file(name);
        WriteFileBytes(path_, bytes);
        slot_ = cxOpenFile(path_.c_str(), CX_READ);
    }
    ~ReadSlot() {
        if (slot_ >= 0) cxCloseFile(slot_);
    }
    int slot() const { return slot_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int slot_;
};

int16_t ReadHeaderOf(const Bytes& bytes, EntryInfo* record) {
    TempDir dir;
    ReadSlot in(dir, bytes);
    memset(record, 0, sizeof *record);
    record->source = in.slot();
    return cxReadEntryHeader(record);
}

TEST(Header, WriteThenReadKeepsEveryField) {
    TempDir dir;
    std::string path = dir.file("H.ARQ");
    int out = cxOpenFile(path.c_str(), CX_WRITE | CX_CREATE);
    ASSERT_GE(out, 0);
    EntryInfo w;
    memset(&w, 0, sizeof w);
    w.destination = out;
    w.time = 0x3CE4BC0A;
    w.mode = 0x81FF;
    w.ownerId = 12;
    w.groupId = 34;
    w.packedSize = 3;
    w.unpackedSize = 9;
    w.checkValue = 0xDEADBEEF;
    w.method = 2;
    w.originCode = 16;
    w.extraLength = 77;
    strcpy(w.name, "dir\\sub/Low.sys");
    EXPECT_EQ(0, cxWriteEntryHeader(&w));
    EXPECT_EQ(0x31u, w.versionNeeded);  // 0 becomes the engine's own version
    EXPECT_EQ(0u, w.extraLength);
    EXPECT_STREQ("DIR\\SUB\\LOW.SYS", w.name);  // the record keeps the in-memory form
    uint8_t data[3] = {1, 2, 3};
    cxWrite(out, data, 3);
    cxCloseFile(out);

    Bytes bytes = ReadFileBytes(path);
    ASSERT_EQ(8u + 15 + 33 + 3, bytes.size());
    EXPECT_EQ(0x31, bytes[4]);
    EXPECT_EQ(0, memcmp(bytes.data() + 8, "dir/sub/Low.sys", 15));  // "/" in the archive

    EntryInfo r;
    ASSERT_EQ(0, ReadHeaderOf(bytes, &r));
    EXPECT_STREQ("DIR\\SUB\\LOW.SYS", r.name);
    EXPECT_EQ(15u, r.nameLength);
    EXPECT_EQ(w.time, r.time);
    EXPECT_EQ(w.mode, r.mode);
    EXPECT_EQ(12u, r.ownerId);
    EXPECT_EQ(34u, r.groupId);
    EXPECT_EQ(3u, r.packedSize);
    EXPECT_EQ(9u, r.unpackedSize);
    EXPECT_EQ(0xDEADBEEFu, r.checkValue);
    EXPECT_EQ(2u, r.method);
    EXPECT_EQ(0x31u, r.versionMadeBy);
}

TEST(Header, NameCaseAndExtraField) {
    RawHeader h;
    h.name = "dir/Mixed.txt";
    h.extra = {9, 9, 9, 9, 9};
    Bytes bytes = EncodeHeader(h);
    EntryInfo r;
    ASSERT_EQ(0, ReadHeaderOf(bytes, &r));
    EXPECT_STREQ("DIR\\MIXED.TXT", r.name);
    EXPECT_EQ(5u, r.extraLength);

    h.origin = CX_ORIGIN_KEEPCASE;  // the name keeps its letter case
    ASSERT_EQ(0, ReadHeaderOf(EncodeHeader(h), &r));
    EXPECT_STREQ("dir\\Mixed.txt", r.name);
}

TEST(Header, NameLengthLimit) {
    RawHeader h;
    h.name = std::string(254, 'N');
    EntryInfo r;
    EXPECT_EQ(0, ReadHeaderOf(EncodeHeader(h), &r));
    EXPECT_EQ(254u, strlen(r.name));

    h.name = std::string(255, 'N');
    EXPECT_EQ(CX_EHEADER, ReadHeaderOf(EncodeHeader(h), &r));
    EXPECT_EQ(0u, r.nameLength);

    // A name that long is refused by the writer rather than written unreadable.
    TempDir dir;
    int out = cxOpenFile(dir.file("W").c_str(), CX_WRITE | CX_CREATE);
    EntryInfo w;
    memset(&w, 0, sizeof w);
    w.destination = out;
    memset(w.name, 'X', 255);
    EXPECT_EQ(CX_EARG, cxWriteEntryHeader(&w));
    EXPECT_EQ(0, cxTell(out));
    cxCloseFile(out);
}

TEST(Header, VersionNeeded) {
    RawHeader h;
    EntryInfo r;
    h.versionNeeded = 0x31;
    EXPECT_EQ(0, ReadHeaderOf(EncodeHeader(h), &r));
    h.versionNeeded = 0x32;
    EXPECT_EQ(CX_EVERSION, ReadHeaderOf(EncodeHeader(h), &r));
    h.versionNeeded = 0x40;
    EXPECT_EQ(CX_EVERSION, ReadHeaderOf(EncodeHeader(h), &r));
}

TEST(Header, DamageAndEndRecord) {
    EntryInfo r;
    EXPECT_EQ(CX_ENOARCHIVE, ReadHeaderOf(Bytes(), &r));  // nothing to read
    EXPECT_EQ(CX_EHEADER, ReadHeaderOf(Bytes(60, 'x'), &r));

    RawHeader h;
    Bytes truncated = EncodeHeader(h);
    truncated.resize(truncated.size() - 5);  // body cut short
    EXPECT_EQ(CX_EHEADER, ReadHeaderOf(truncated, &r));

    h.packedSize = 10;  // only 9 data bytes follow
    Bytes bytes = EncodeHeader(h);
    Append(&bytes, Bytes(9, 0));
    EXPECT_EQ(CX_EHEADER, ReadHeaderOf(bytes, &r));
    bytes.push_back(0);
    EXPECT_EQ(0, ReadHeaderOf(bytes, &r));

    RawHeader end;
    end.name = "";
    EXPECT_EQ(CX_EEND, ReadHeaderOf(EncodeHeader(end), &r));
    EXPECT_EQ(CX_ESLOT, [] {
        EntryInfo bad;
        memset(&bad, 0, sizeof bad);
        bad.source = 20;
        return cxReadEntryHeader(&bad);
    }());
}

TEST(Header, FirstAndNextEntryWalkAnArchive) {
    TempDir dir;
    Bytes file(1000, 'p');  // a prefix like an executable image
    for (int i = 0; i < 3; i++) {
        RawHeader h;
        h.name = "E" + std::to_string(i);
        h.packedSize = (uint32_t)(10 * i);
        Append(&file, EncodeHeader(h));
        Append(&file, Bytes(10 * i, (uint8_t)i));
    }
    AppendEnd(&file);
    ReadSlot in(dir, file);
    EntryInfo r;
    memset(&r, 0, sizeof r);
    r.source = in.slot();
    ASSERT_EQ(0, cxFirstEntry(&r));
    EXPECT_STREQ("E0", r.name);
    ASSERT_EQ(0, cxNextEntry(&r));
    EXPECT_STREQ("E1", r.name);
    ASSERT_EQ(0, cxNextEntry(&r));
    EXPECT_STREQ("E2", r.name);
    EXPECT_EQ(CX_EEND, cxNextEntry(&r));
}

TEST(Search, FindsSignaturesAfterALone67) {
    TempDir dir;
    Bytes file(5000, 0x11);
    file.push_back(0x67);  // data ending in the first signature byte
    file.push_back(0x67);
    size_t entryAt = file.size();
    RawHeader h;
    Append(&file, EncodeHeader(h));
    // The archive header sits after the entry here, only to tell the two
    // searches apart.
    size_t archiveAt = file.size();
    Append(&file, Bytes{0x67, 0x57, 0x04, 0x02, 0, 0, 0, 0, 0, 0, 0, 0});
    ReadSlot in(dir, file);
    EXPECT_EQ((int32_t)entryAt, cxFindEntrySignature(in.path().c_str(), 0));
    EXPECT_EQ((int32_t)archiveAt + 4, cxFindArchiveHeader(in.path().c_str(), 0));

    // On an open slot the search starts at its position and restores it.
    cxSeek(in.slot(), 100, SEEK_SET);
    EXPECT_EQ((int32_t)entryAt, cxFindEntrySignature(nullptr, in.slot()));
    EXPECT_EQ(100, cxTell(in.slot()));
    cxSeek(in.slot(), (int32_t)entryAt + 1, SEEK_SET);
    EXPECT_EQ(CX_ENOARCHIVE, cxFindEntrySignature(nullptr, in.slot()));
}

TEST(Search, SignatureAcrossChunkBoundary) {
    TempDir dir;
    for (size_t at : {6142u, 6143u, 6144u, 12286u}) {
        Bytes file(at, 0x67);
        Append(&file, EncodeHeader(RawHeader()));
        ReadSlot in(dir, file, "B.BIN");
        EXPECT_EQ((int32_t)at, cxFindEntrySignature(in.path().c_str(), 0)) << at;
    }
}

TEST(Search, ArgumentsAndMissingFiles) {
    EXPECT_EQ(CX_EARG, cxFindEntrySignature("", 0));
    EXPECT_EQ(CX_EARG, cxFindEntrySignature(nullptr, 20));
    EXPECT_EQ(CX_EARG, cxFindEntrySignature(nullptr, -1));
    TempDir dir;
    EXPECT_EQ(CX_ENOFILE, cxFindEntrySignature(dir.file("MISSING").c_str(), 0));
    ReadSlot empty(dir, Bytes());
    EXPECT_EQ(CX_ENOARCHIVE, cxFindEntrySignature(empty.path().c_str(), 0));
}

TEST(Search, StopsAfterTheScanLimitAndOnRequest) {
    TempDir dir;
    // An entry that starts beyond the scanned range is not found; the first
    // entry read then happens at offset 0 and finds no header there.
    Bytes file(420000, 0);
    Append(&file, EncodeHeader(RawHeader()));
    ReadSlot in(dir, file);
    EventLog log;
    InstallEventLog(&log);
    EXPECT_EQ(CX_ENOARCHIVE, cxFindEntrySignature(in.path().c_str(), 0));
    // 66 chunks of 6,144 bytes take the total past 400,000.
    EXPECT_EQ(66, log.count(CXCB_SEARCH));
    EntryInfo r;
    memset(&r, 0, sizeof r);
    r.source = in.slot();
    EXPECT_EQ(CX_EHEADER, cxFirstEntry(&r));

    log.events.clear();
    log.stopAtCode = CXCB_SEARCH;
    log.stopAfterCount = 2;
    EXPECT_EQ(CX_ESTOPPED, cxFindEntrySignature(in.path().c_str(), 0));
    EXPECT_EQ(2, log.count(CXCB_SEARCH));
    cxSeek(in.slot(), 0, SEEK_SET);
    EXPECT_EQ(CX_ESTOPPED, cxFirstEntry(&r));
    InstallEventLog(nullptr);
}

}  // namespace
