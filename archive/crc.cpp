// CRC-32 as zlib computes it (reflected polynomial 0xEDB88320). The value is
// the one of the byte-at-a-time table loop; the bulk of the data goes eight
// bytes per step through eight derived tables, which gives the same result.
#include <stdlib.h>

#include "cxint.h"

static uint32_t* crcTables;  // 8 x 256 words; table 0 is the classic one

bool cxCrcReady(void) {
    if (crcTables) return true;
    uint32_t* t = (uint32_t*)malloc(8 * 256 * sizeof(uint32_t));
    if (!t) return false;
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[n] = c;
    }
    // Table k gives the effect of a byte followed by k zero bytes.
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = t[n];
        for (int k = 1; k < 8; k++) {
            c = t[c & 0xFF] ^ (c >> 8);
            t[k * 256 + n] = c;
        }
    }
    crcTables = t;
    return true;
}

void cxCrcRelease(void) {
    free(crcTables);
    crcTables = nullptr;
}

// Without a table (no memory for it) the value is still right, only slower.
static uint32_t crcBitwise(uint32_t c, const uint8_t* p, size_t length) {
    while (length--) {
        c ^= *p++;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return c;
}

uint32_t cxCrcUpdate(uint32_t c, const void* data, size_t length) {
    const uint8_t* p = (const uint8_t*)data;
    if (!cxCrcReady()) return crcBitwise(c, p, length);
    const uint32_t* t = crcTables;
    while (length && ((uintptr_t)p & 3)) {
        c = t[(c ^ *p++) & 0xFF] ^ (c >> 8);
        length--;
    }
    while (length >= 8) {
        // Little-endian assembly of the words keeps this independent of the
        // host's byte order.
        uint32_t a = c ^ ((uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 |
                          (uint32_t)p[3] << 24);
        uint32_t b = (uint32_t)p[4] | (uint32_t)p[5] << 8 | (uint32_t)p[6] << 16 |
                     (uint32_t)p[7] << 24;
        c = t[7 * 256 + (a & 0xFF)] ^ t[6 * 256 + ((a >> 8) & 0xFF)] ^
            t[5 * 256 + ((a >> 16) & 0xFF)] ^ t[4 * 256 + (a >> 24)] ^
            t[3 * 256 + (b & 0xFF)] ^ t[2 * 256 + ((b >> 8) & 0xFF)] ^
            t[1 * 256 + ((b >> 16) & 0xFF)] ^ t[b >> 24];
        p += 8;
        length -= 8;
    }
    while (length--) c = t[(c ^ *p++) & 0xFF] ^ (c >> 8);
    return c;
}
