// Packing arbitrary bytes and expanding the entry gives them back, with the
// check value of the stored bytes. Inputs are small, so two lead bytes make
// them grow into files (of 24 KB at most, to keep runs quick) that fill the
// packer's 16 KB item buffer: 0xFE turns each following byte into a
// three-letter word (files dense with three-byte matches), 0xFF repeats the
// rest with one byte changed per copy. Any other input is packed as it is.
// An input whose last byte ends in six one bits is packed with the
// near-optimal parse (CX_PACK_BEST), slower, the others with the default one.
#include <vector>

#include "fuzz_util.h"

namespace {

const size_t kGrownMax = 24 * 1024;
std::vector<uint8_t> grown;

void Grow(const uint8_t** data, size_t* size) {
    if (*size < 2 || (*data)[0] < 0xFE) return;
    const uint8_t* rest = *data + 1;
    size_t length = *size - 1;
    grown.clear();
    if ((*data)[0] == 0xFE) {
        // 256 three-letter words: after the first few hundred bytes almost
        // every word is a match of three bytes, the densest the packer meets.
        for (size_t i = 0; i < length && grown.size() < kGrownMax; ++i) {
            grown.push_back((uint8_t)('a' + (rest[i] & 15)));
            grown.push_back((uint8_t)('a' + (rest[i] >> 4)));
            grown.push_back(' ');
        }
    } else {
        unsigned copies = 2 + rest[0] % 63;
        for (unsigned k = 0; k < copies && grown.size() + length <= kGrownMax; ++k) {
            size_t at = grown.size();
            grown.insert(grown.end(), rest + 1, rest + length);
            if (grown.size() > at) grown[at + (k * 7919) % (grown.size() - at)] ^= (uint8_t)(k + 1);
        }
    }
    *data = grown.data();
    *size = grown.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string in = ScratchFile("ROUND.BIN");
    static const std::string archive = ScratchFile("round.arq");
    static const std::string out = ScratchFile("round.out");
    unsigned options = size > 0 && (data[size - 1] & 63) == 63 ? CX_PACK_BEST : 0;
    Grow(&data, &size);
    WriteWhole(in, data, size);

    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = cxOpenFile(in.c_str(), CX_READ);
    record.destination = cxOpenFile(archive.c_str(), CX_READ | CX_WRITE | CX_CREATE);
    if (record.source < 0 || record.destination < 0) abort();
    snprintf(record.name, sizeof record.name, "ROUND.BIN");
    if (cxPackEntry(&record, options) != CX_OK) abort();
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
