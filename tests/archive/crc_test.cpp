// The check value: CRC-32 as zlib computes it.
#include <gtest/gtest.h>

#include "codec_util.h"

namespace {

// The definition: the byte-at-a-time loop with a bitwise table.
uint32_t ReferenceCrc(const uint8_t* p, size_t n) {
    uint32_t c = 0xFFFFFFFFu;
    while (n--) {
        c ^= *p++;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    }
    return ~c;
}

TEST(Crc, KnownValues) {
    const char* digits = "123456789";
    EXPECT_EQ(0xCBF43926u, ~cxCrcUpdate(0xFFFFFFFFu, digits, 9));
    EXPECT_EQ(0u, ~cxCrcUpdate(0xFFFFFFFFu, digits, 0));
    Bytes zeros(32, 0);
    EXPECT_EQ(0x190A55ADu, Crc(zeros));
}

// The eight-bytes-a-step path must give the definition's value for every
// alignment and length, and a running value split anywhere must agree.
TEST(Crc, MatchesDefinitionAtAnyAlignmentAndSplit) {
    Bytes data = RandomBytes(4096 + 64, 7);
    for (size_t offset = 0; offset < 9; offset++) {
        for (size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 63u, 64u, 127u, 128u, 129u, 143u, 144u,
                              191u, 192u, 255u, 1000u, 4095u, 4096u}) {
            const uint8_t* p = data.data() + offset;
            uint32_t expected = ReferenceCrc(p, length);
            EXPECT_EQ(expected, ~cxCrcUpdate(0xFFFFFFFFu, p, length))
                << "offset " << offset << " length " << length;
            size_t cut = length / 3;
            uint32_t running = cxCrcUpdate(0xFFFFFFFFu, p, cut);
            running = cxCrcUpdate(running, p + cut, length - cut);
            EXPECT_EQ(expected, ~running);
        }
    }
}

// Released tables are built again on the next use.
TEST(Crc, WorksAfterRelease) {
    cxCrcRelease();
    EXPECT_EQ(0xCBF43926u, ~cxCrcUpdate(0xFFFFFFFFu, "123456789", 9));
    EXPECT_TRUE(cxCrcReady());
}

}  // namespace
