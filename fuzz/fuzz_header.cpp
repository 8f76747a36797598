// Entry headers read from arbitrary files: the signature search, the first
// entry and the walk from entry to entry must stay inside the file and end.
#include "fuzz_util.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = ScratchFile("header.bin");
    WriteWhole(path, data, size);
    cxFindArchiveHeader(path.c_str(), 0);
    int slot = cxOpenFile(path.c_str(), CX_READ);
    if (slot < 0) abort();
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = slot;
    record.destination = -1;
    int16_t result = cxFirstEntry(&record);
    // Each entry takes at least 41 bytes, so this bounds any sound walk.
    for (size_t steps = 0; result == CX_OK; steps++) {
        if (steps > size / 41 + 1) abort();
        if (record.nameLength > CX_ENTRY_NAME_MAX || strlen(record.name) != record.nameLength)
            abort();
        result = cxNextEntry(&record);
    }
    cxCloseFile(slot);
    return 0;
}
