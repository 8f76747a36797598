// Hand-made archive bytes: raw entry headers and packed streams.
#ifndef STREAM_UTIL_H
#define STREAM_UTIL_H

#include <stdint.h>
#include <string>
#include <vector>

#include "files_util.h"

// The raw bytes of an entry header (name as given, no conversion).
struct RawHeader {
    uint8_t versionMadeBy = 0x31;
    uint8_t versionNeeded = 0x12;
    std::string name = "FILE.TXT";
    uint32_t time = 0;
    uint16_t mode = 0x81B6;
    uint32_t packedSize = 0;
    uint32_t unpackedSize = 0;
    uint32_t checkValue = 0;
    uint8_t method = 1;
    uint8_t origin = 16;
    uint8_t flags = 0;
    std::vector<uint8_t> extra;
    int nameLengthOverride = -1;  // writes this length instead of name.size()
};
Bytes EncodeHeader(const RawHeader& header);
void Append(Bytes* to, const Bytes& more);
// One entry: the header of 'data' under this name and method (its packed
// size and check value) claiming 'unpacked' bytes, then the data.
Bytes EntryBytes(const std::string& name, uint8_t method, const Bytes& data, uint32_t unpacked);
// Appends the end record that closes an archive.
void AppendEnd(Bytes* archive);

uint32_t Crc(const Bytes& data);

// A small bit writer for hand-made packed streams (most significant first).
class BitWriter {
public:
    void put(unsigned bits, uint32_t value);
    Bytes finish();  // pads the last byte with zero bits

private:
    Bytes bytes_;
    uint32_t pending_ = 0;
    unsigned count_ = 0;
};

// Block header of one-symbol codes: every symbol of the block is 'literal'
// and takes no bits; 'position' is the position code's one symbol.
void OneSymbolBlock(BitWriter* w, unsigned count, unsigned literal, unsigned position);

#endif
