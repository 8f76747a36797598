// The section that makes a self-extracting program's loader map its payload.
#ifndef ARQ_PAYLOAD_SECTION_H
#define ARQ_PAYLOAD_SECTION_H

#include <stdint.h>

#include <string>

// What arq sfx keeps of a stub between copying it and closing the archive.
struct ArqImageStub {
    bool image = false;      // a PE32 image: the archive gets a section of its own
    uint32_t peAt = 0;       // the "PE\0\0" signature
    uint32_t tableEnd = 0;   // end of the section table: the new section's header
    uint32_t fileAlignment = 0;
    uint32_t sectionAlignment = 0;
    uint32_t nextAddress = 0;  // the first virtual address after every section
    uint32_t payloadAt = 0;    // where the archive begins in the output
    uint32_t sections = 0;     // the image's sections before the payload's
    uint32_t initializedData = 0;  // their initialised data
};

// Reads the stub just copied to the start of slot (the output); a PE32
// image is padded with zeros to a page boundary, where its archive will
// begin. A stub that is no PE32 image is left as it is (payloadAt is its
// size). False after reporting a PE32 image that has no room for another
// section header or is damaged.
bool arqBeginPayload(int slot, const std::string& shownStub, ArqImageStub* stub);
// Once the archive is written after the image: pads it to the file
// alignment and adds the last section, which covers it with read-only
// initialised data, so the program's loader maps it. The image's size and
// a checksum it carries are made to match. Nothing for another stub.
bool arqEndPayload(int slot, const ArqImageStub& stub);
// After "arq a" or "arq d" rewrote the archive of such a program (slot, open
// for reading and writing): its payload section made to cover the archive
// as it now is. Nothing for a file without one.
bool arqRefitPayload(int slot);
// The PE checksum of the first size bytes of slot, its field at
// checksumAt counted as zero.
bool arqImageChecksum(int slot, uint32_t size, uint32_t checksumAt, uint32_t* checksum);

#endif
