// CRC-32 as zlib computes it (reflected polynomial 0xEDB88320). The value is
// the one of the byte-at-a-time table loop; the bulk of the data goes eight
// bytes per step through eight derived tables, which gives the same result.
// On x86-64 processors with carry-less multiplication, long runs are folded
// 64 bytes at a time instead (the same polynomial arithmetic done in wide
// registers); the 32-bit Windows build always uses the tables.
#include <stdlib.h>

#include "cxint.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <immintrin.h>
#define CX_CRC_FOLDING 1

namespace {

// Folds len bytes (at least 64, a multiple of 16) into the running value c.
// Constants: x^(n) mod P for the fold distances 4x128+-32 and 128+-32 bits,
// the 64-to-32-bit fold, and P with its Barrett quotient, all bit-reflected.
__attribute__((target("pclmul,sse4.1"))) uint32_t crcFold(uint32_t c, const uint8_t* p,
                                                         size_t len) {
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596LL, 0x0154442bd4LL);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009eLL, 0x01751997d0LL);
    const __m128i k5 = _mm_set_epi64x(0, 0x0163cd6124LL);
    const __m128i poly = _mm_set_epi64x(0x01f7011641LL, 0x01db710641LL);

    __m128i x1 = _mm_loadu_si128((const __m128i*)(p + 0));
    __m128i x2 = _mm_loadu_si128((const __m128i*)(p + 16));
    __m128i x3 = _mm_loadu_si128((const __m128i*)(p + 32));
    __m128i x4 = _mm_loadu_si128((const __m128i*)(p + 48));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128((int)c));
    p += 64;
    len -= 64;
    while (len >= 64) {
        __m128i x5 = _mm_clmulepi64_si128(x1, k1k2, 0x00);
        __m128i x6 = _mm_clmulepi64_si128(x2, k1k2, 0x00);
        __m128i x7 = _mm_clmulepi64_si128(x3, k1k2, 0x00);
        __m128i x8 = _mm_clmulepi64_si128(x4, k1k2, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k1k2, 0x11);
        x2 = _mm_clmulepi64_si128(x2, k1k2, 0x11);
        x3 = _mm_clmulepi64_si128(x3, k1k2, 0x11);
        x4 = _mm_clmulepi64_si128(x4, k1k2, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, x5), _mm_loadu_si128((const __m128i*)(p + 0)));
        x2 = _mm_xor_si128(_mm_xor_si128(x2, x6), _mm_loadu_si128((const __m128i*)(p + 16)));
        x3 = _mm_xor_si128(_mm_xor_si128(x3, x7), _mm_loadu_si128((const __m128i*)(p + 32)));
        x4 = _mm_xor_si128(_mm_xor_si128(x4, x8), _mm_loadu_si128((const __m128i*)(p + 48)));
        p += 64;
        len -= 64;
    }
    // Four lanes into one, then 16 bytes at a time.
    __m128i lanes[3] = {x2, x3, x4};
    for (int i = 0; i < 3; i++) {
        __m128i x5 = _mm_clmulepi64_si128(x1, k3k4, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k3k4, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, lanes[i]), x5);
    }
    while (len >= 16) {
        __m128i x5 = _mm_clmulepi64_si128(x1, k3k4, 0x00);
        x1 = _mm_clmulepi64_si128(x1, k3k4, 0x11);
        x1 = _mm_xor_si128(_mm_xor_si128(x1, _mm_loadu_si128((const __m128i*)p)), x5);
        p += 16;
        len -= 16;
    }
    // 128 bits to 64, then to 32, then the Barrett reduction.
    const __m128i mask32 = _mm_setr_epi32(-1, 0, -1, 0);
    x2 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_and_si128(x1, mask32);
    x1 = _mm_clmulepi64_si128(x1, k5, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    x2 = _mm_and_si128(x1, mask32);
    x2 = _mm_clmulepi64_si128(x2, poly, 0x10);
    x2 = _mm_and_si128(x2, mask32);
    x2 = _mm_clmulepi64_si128(x2, poly, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return (uint32_t)_mm_extract_epi32(x1, 1);
}

bool canFold(void) {
    static int known = -1;
    if (known < 0)
        known = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1") ? 1 : 0;
    return known == 1;
}

}  // namespace
#endif

static uint32_t* crcTables;  // 8 x 256 words; table 0 is the classic one

bool cxCrcReady(void) {
    if (crcTables) return true;
    uint32_t* t = (uint32_t*)cxAlloc(8 * 256 * sizeof(uint32_t));
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
    cxFree(crcTables);
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
#ifdef CX_CRC_FOLDING
    if (length >= 128 && canFold()) {
        size_t bulk = length & ~(size_t)15;
        c = crcFold(c, p, bulk);
        p += bulk;
        length -= bulk;
    }
#endif
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
