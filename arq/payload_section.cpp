// The payload section of a self-extracting program. The archive stays where
// it always was, after the program image (readers still find it by its
// signature), but a stub that is a PE32 image gets one more section table
// entry, the last, whose raw data is the archive. The loader then maps the
// archive with the program, from the file the process was started from, and
// the program reads its payload from memory: no file put in its place later
// can change what it installs.
//
// The archive begins on a page boundary, so a loader can map it straight
// from the file rather than copy it; its raw data is padded with zeros to
// the file alignment. A signature added later (Authenticode) goes after it,
// outside every section, as usual.
#include "payload_section.h"

#include <string.h>

#include <vector>

#include "cx.h"
#include "report.h"

namespace {

const uint32_t kPage = 4096;
const uint32_t kSectionHeader = 40;
// Read-only initialised data.
const uint32_t kCharacteristics = 0x40000040;
const char kName[8] = {'.', 'p', 'a', 'y', 'l', 'o', 'a', 'd'};

// Optional header (PE32) fields, from its start.
enum {
    OPT_INITIALIZED_DATA = 8,
    OPT_SECTION_ALIGNMENT = 32,
    OPT_FILE_ALIGNMENT = 36,
    OPT_IMAGE_SIZE = 56,
    OPT_HEADERS_SIZE = 60,
    OPT_CHECKSUM = 64,
    OPT_PE32_MIN = 96
};
// Section header fields.
enum { SEC_VIRTUAL_SIZE = 8, SEC_ADDRESS = 12, SEC_RAW_SIZE = 16, SEC_RAW_AT = 20, SEC_FLAGS = 36 };

uint32_t get(const uint8_t* p, int bytes) {
    uint32_t value = 0;
    for (int i = bytes - 1; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

void put(uint8_t* p, uint32_t value) {
    for (int i = 0; i < 4; ++i) p[i] = (uint8_t)(value >> (8 * i));
}

bool powerOfTwo(uint32_t value) {
    return value && !(value & (value - 1));
}

uint64_t alignUp(uint64_t value, uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

bool readAt(int slot, uint32_t at, void* buffer, uint32_t count) {
    return cxSeek(slot, (int32_t)at, SEEK_SET) == (int32_t)at && cxRead(slot, buffer, count) == (int32_t)count;
}

bool writeAt(int slot, uint32_t at, const void* buffer, uint32_t count) {
    return cxSeek(slot, (int32_t)at, SEEK_SET) == (int32_t)at && cxWrite(slot, buffer, count) == (int32_t)count;
}

bool appendZeros(int slot, uint32_t count) {
    static const uint8_t zeros[kPage] = {0};
    if (cxSeek(slot, 0, SEEK_END) < 0) return false;
    for (uint32_t left = count; left > 0;) {
        uint32_t part = left < kPage ? left : kPage;
        if (cxWrite(slot, zeros, part) != (int32_t)part) return false;
        left -= part;
    }
    return true;
}

// The headers' facts; "" when they make a PE32 image that can take the
// section, else what is wrong with them.
std::string inspect(const std::vector<uint8_t>& head, uint32_t size, ArqImageStub* stub) {
    uint32_t peAt = stub->peAt;
    uint32_t sections = get(&head[peAt + 6], 2);
    uint32_t optionalSize = get(&head[peAt + 20], 2);
    const uint8_t* optional = &head[peAt + 24];
    if (optionalSize < OPT_PE32_MIN) return "its optional header is too short";
    stub->fileAlignment = get(optional + OPT_FILE_ALIGNMENT, 4);
    stub->sectionAlignment = get(optional + OPT_SECTION_ALIGNMENT, 4);
    if (!powerOfTwo(stub->fileAlignment) || !powerOfTwo(stub->sectionAlignment) || stub->fileAlignment < 512 ||
        stub->sectionAlignment < stub->fileAlignment) {
        return "its alignments are not those of a loadable image";
    }
    uint32_t tableAt = peAt + 24 + optionalSize;
    stub->tableEnd = tableAt + sections * kSectionHeader;
    stub->sections = sections;
    stub->initializedData = get(optional + OPT_INITIALIZED_DATA, 4);
    if (sections == 0 || sections >= 95 || stub->tableEnd + kSectionHeader > head.size())
        return "its section table cannot take another section";
    // The new header must fit in the headers, before any section's data,
    // where the stub has nothing.
    uint32_t room = get(optional + OPT_HEADERS_SIZE, 4);
    uint64_t next = 0;
    for (uint32_t i = 0; i < sections; ++i) {
        const uint8_t* section = &head[tableAt + i * kSectionHeader];
        uint32_t rawSize = get(section + SEC_RAW_SIZE, 4), rawAt = get(section + SEC_RAW_AT, 4);
        uint32_t virtualSize = get(section + SEC_VIRTUAL_SIZE, 4);
        if (rawSize && rawAt < room) room = rawAt;
        if ((uint64_t)rawAt + rawSize > size && rawSize) return "a section lies beyond the end of the file";
        uint64_t end = alignUp((uint64_t)get(section + SEC_ADDRESS, 4) + (virtualSize > rawSize ? virtualSize : rawSize),
                               stub->sectionAlignment);
        if (end > next) next = end;
    }
    if (stub->tableEnd + kSectionHeader > room) return "its headers have no room for another section header";
    for (uint32_t i = 0; i < kSectionHeader; ++i)
        if (head[stub->tableEnd + i]) return "its headers have no room for another section header";
    if (next > 0x7FFFFFFF) return "its sections fill the address space";
    stub->nextAddress = (uint32_t)next;
    return "";
}

}  // namespace

bool arqBeginPayload(int slot, const std::string& shownStub, ArqImageStub* stub) {
    *stub = ArqImageStub();
    int32_t size = cxSeek(slot, 0, SEEK_END);
    if (size < 0) {
        arqError("cannot read the stub's copy%s", arqReason().c_str());
        return false;
    }
    stub->payloadAt = (uint32_t)size;
    std::vector<uint8_t> head(size < 65536 ? (size_t)size : 65536);
    if (!readAt(slot, 0, head.data(), (uint32_t)head.size())) {
        arqError("cannot read the stub's copy%s", arqReason().c_str());
        return false;
    }
    // Anything but a PE32 image is a stub like any other file.
    if (head.size() < 64 || head[0] != 'M' || head[1] != 'Z') return true;
    uint32_t peAt = get(&head[0x3C], 4);
    if ((uint64_t)peAt + 24 + OPT_PE32_MIN > head.size() || memcmp(&head[peAt], "PE\0\0", 4) != 0 ||
        get(&head[peAt + 24], 2) != 0x10B) {
        return true;
    }
    stub->peAt = peAt;
    std::string problem = inspect(head, (uint32_t)size, stub);
    if (!problem.empty()) {
        arqError("%s: a PE32 image, but %s: its payload could not be mapped", shownStub.c_str(), problem.c_str());
        return false;
    }
    stub->image = true;
    uint32_t alignment = stub->fileAlignment > kPage ? stub->fileAlignment : kPage;
    stub->payloadAt = (uint32_t)alignUp((uint32_t)size, alignment);
    if (!appendZeros(slot, stub->payloadAt - (uint32_t)size)) {
        arqError("cannot write the output%s", arqReason().c_str());
        return false;
    }
    return true;
}

bool arqEndPayload(int slot, const ArqImageStub& stub) {
    if (!stub.image) return true;
    int32_t end = cxSeek(slot, 0, SEEK_END);
    if (end < 0 || (uint32_t)end < stub.payloadAt) {
        arqError("cannot read the output%s", arqReason().c_str());
        return false;
    }
    uint32_t payload = (uint32_t)end - stub.payloadAt;
    uint64_t rawSize = alignUp(payload, stub.fileAlignment);
    uint64_t imageSize = alignUp((uint64_t)stub.nextAddress + payload, stub.sectionAlignment);
    if (imageSize > 0x7FFFFFFF || (uint64_t)stub.payloadAt + rawSize > 0x7FFFFFFF) {
        arqError("the archive is too large for the program to map it (%u bytes)", payload);
        return false;
    }
    uint8_t optional[OPT_PE32_MIN], header[kSectionHeader] = {0}, count[2];
    uint32_t optionalAt = stub.peAt + 24;
    memcpy(header, kName, sizeof kName);
    put(header + SEC_VIRTUAL_SIZE, payload);
    put(header + SEC_ADDRESS, stub.nextAddress);
    put(header + SEC_RAW_SIZE, (uint32_t)rawSize);
    put(header + SEC_RAW_AT, stub.payloadAt);
    put(header + SEC_FLAGS, kCharacteristics);
    bool ok = appendZeros(slot, (uint32_t)(rawSize - payload)) && readAt(slot, optionalAt, optional, sizeof optional);
    if (ok) {
        count[0] = (uint8_t)(stub.sections + 1);
        count[1] = (uint8_t)((stub.sections + 1) >> 8);
        put(optional + OPT_INITIALIZED_DATA, stub.initializedData + (uint32_t)rawSize);
        put(optional + OPT_IMAGE_SIZE, (uint32_t)imageSize);
        ok = writeAt(slot, stub.tableEnd, header, sizeof header) && writeAt(slot, stub.peAt + 6, count, 2) &&
             writeAt(slot, optionalAt, optional, sizeof optional);
    }
    // A checksum the stub carries stays true; one it left at zero stays so.
    uint32_t checksum = 0;
    uint32_t checksumAt = optionalAt + OPT_CHECKSUM;
    if (ok && get(optional + OPT_CHECKSUM, 4) != 0) {
        uint8_t field[4];
        ok = arqImageChecksum(slot, (uint32_t)(stub.payloadAt + rawSize), checksumAt, &checksum);
        put(field, checksum);
        ok = ok && writeAt(slot, checksumAt, field, 4);
    }
    if (!ok) arqError("cannot write the output%s", arqReason().c_str());
    return ok;
}

bool arqRefitPayload(int slot) {
    uint8_t head[4096];
    int32_t size = cxSeek(slot, 0, SEEK_END);
    if (size < (int32_t)sizeof head || !readAt(slot, 0, head, sizeof head) || head[0] != 'M' || head[1] != 'Z')
        return true;
    ArqImageStub stub;
    stub.peAt = get(head + 0x3C, 4);
    if (stub.peAt > sizeof head - 24 - OPT_PE32_MIN || memcmp(head + stub.peAt, "PE\0\0", 4) != 0 ||
        get(head + stub.peAt + 24, 2) != 0x10B) {
        return true;
    }
    const uint8_t* optional = head + stub.peAt + 24;
    uint32_t sections = get(head + stub.peAt + 6, 2);
    uint32_t lastAt = stub.peAt + 24 + get(head + stub.peAt + 20, 2) + (sections - 1) * kSectionHeader;
    if (sections < 2 || lastAt + kSectionHeader > sizeof head || memcmp(head + lastAt, kName, sizeof kName) != 0)
        return true;
    const uint8_t* last = head + lastAt;
    stub.image = true;
    stub.sections = sections - 1;
    stub.tableEnd = lastAt;
    stub.fileAlignment = get(optional + OPT_FILE_ALIGNMENT, 4);
    stub.sectionAlignment = get(optional + OPT_SECTION_ALIGNMENT, 4);
    stub.nextAddress = get(last + SEC_ADDRESS, 4);
    stub.payloadAt = get(last + SEC_RAW_AT, 4);
    stub.initializedData = get(optional + OPT_INITIALIZED_DATA, 4) - get(last + SEC_RAW_SIZE, 4);
    if (!powerOfTwo(stub.fileAlignment) || !powerOfTwo(stub.sectionAlignment) || stub.payloadAt > (uint32_t)size) {
        arqError("the program's payload section is damaged");
        return false;
    }
    return arqEndPayload(slot, stub);
}

bool arqImageChecksum(int slot, uint32_t size, uint32_t checksumAt, uint32_t* checksum) {
    std::vector<uint8_t> buffer(1 << 16);
    uint32_t sum = 0;
    if (cxSeek(slot, 0, SEEK_SET) != 0) return false;
    for (uint32_t done = 0; done < size;) {
        uint32_t want = size - done < buffer.size() ? size - done : (uint32_t)buffer.size();
        if (cxRead(slot, buffer.data(), want) != (int32_t)want) return false;
        // The field itself counts as zero.
        for (uint32_t i = 0; i < 4; ++i)
            if (checksumAt + i >= done && checksumAt + i < done + want) buffer[checksumAt + i - done] = 0;
        if (want & 1) buffer[want++] = 0;  // only the last part can be odd
        for (uint32_t i = 0; i < want; i += 2) {
            sum += (uint32_t)buffer[i] | (uint32_t)buffer[i + 1] << 8;
            sum = (sum & 0xFFFF) + (sum >> 16);
        }
        done += want;
    }
    *checksum = ((sum & 0xFFFF) + (sum >> 16)) + size;
    return true;
}
