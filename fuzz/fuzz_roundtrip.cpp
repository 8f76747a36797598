// Packing arbitrary bytes and expanding the entry gives them back, with the
// check value of the stored bytes.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string in = ScratchFile("ROUND.BIN");
    static const std::string archive = ScratchFile("round.arq");
    static const std::string out = ScratchFile("round.out");
    WriteWhole(in, data, size);

    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = cxOpenFile(in.c_str(), CX_READ);
    record.destination = cxOpenFile(archive.c_str(), CX_READ | CX_WRITE | CX_CREATE);
    if (record.source < 0 || record.destination < 0) abort();
    snprintf(record.name, sizeof record.name, "ROUND.BIN");
    if (cxPackEntry(&record) != CX_OK) abort();
    cxCloseFile(record.source);
    if (record.unpackedSize != size || record.packedSize > size) abort();
    if (record.method == 1 ? record.packedSize != size : record.method != 2 || size == 0) abort();

    cxSeek(record.destination, 0, SEEK_SET);
    EntryInfo read;
    memset(&read, 0, sizeof read);
    read.source = record.destination;
    if (cxReadEntryHeader(&read) != CX_OK) abort();
    read.destination = cxOpenFile(out.c_str(), CX_WRITE | CX_CREATE);
    snprintf(read.name, sizeof read.name, "%s", out.c_str());
    if (cxExpandEntry(&read) != CX_OK) abort();
    cxCloseFile(read.source);
    cxCloseFile(read.destination);

    static uint8_t back[1 << 20];
    size_t got = ReadWhole(out, back, sizeof back);
    if (got != size || (size && memcmp(back, data, size) != 0)) abort();
    return 0;
}
