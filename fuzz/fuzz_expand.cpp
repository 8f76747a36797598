// The expander fed arbitrary bytes with arbitrary sizes. The first six
// input bytes choose the unpacked size (up to 1 MB), the method and whether
// the check value is the right one (so that damage reaches the decoder
// instead of stopping at the check value); the rest is the stored data.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string in = ScratchFile("expand.in");
    static const std::string out = ScratchFile("expand.out");
    if (size < 6) return 0;
    uint32_t unpacked = (data[0] | data[1] << 8 | (uint32_t)data[2] << 16) & 0xFFFFF;
    uint8_t method = (data[3] & 3) == 3 ? data[3] >> 2 : (data[3] & 1) + 1;
    bool rightCheck = data[4] != 0xFF;
    uint8_t flags = data[5] == 0xFF ? CX_FLAG_PROTECTED : 0;
    data += 6;
    size -= 6;
    WriteWhole(in, data, size);

    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = cxOpenFile(in.c_str(), CX_READ);
    record.destination = cxOpenFile(out.c_str(), CX_WRITE | CX_CREATE);
    if (record.source < 0 || record.destination < 0) abort();
    record.packedSize = (uint32_t)size;
    record.unpackedSize = unpacked;
    record.method = method;
    record.flags = flags;
    record.checkValue = rightCheck ? ~cxCrcUpdate(0xFFFFFFFFu, data, size) : 0x12345678u;
    snprintf(record.name, sizeof record.name, "%s", out.c_str());
    int16_t result = cxExpandEntry(&record);
    if (result != CX_OK && result != CX_ECHECK) abort();
    // Whatever happened, the source ends after the entry's bytes.
    if (cxTell(record.source) != (int32_t)size) abort();
    int32_t written = cxTell(record.destination);
    if (written < 0 || (uint32_t)written > unpacked) abort();
    if (result == CX_OK && (method == 1 || method == 2) && !flags && (uint32_t)written != unpacked) abort();
    cxCloseFile(record.source);
    cxCloseFile(record.destination);
    return 0;
}
