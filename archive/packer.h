// What the packer's two parses share: the state of one packed file and the
// block encoder. pack.cpp holds the default parse (the one whose output is
// fixed) and the encoder; best.cpp the near-optimal parse of "arq a --best".
#ifndef PACKER_H
#define PACKER_H

#include "cxint.h"

namespace cxpack {

const unsigned kDic = 8192;            // window; also the first leaf number
const unsigned kMaxMatch = 256;
const unsigned kThreshold = 3;         // shortest match sent
const unsigned kLitLen = 510;          // 256 literals + lengths 3..256
const unsigned kPositions = 14;
const unsigned kCodeLengths = 19;
const unsigned kMaxBlock = 0xFFFF;     // symbols a block's 16-bit count holds
const unsigned kWriteBuffer = 4096;

// Scratch of the Huffman code construction.
struct TreeBuild {
    unsigned symbols;
    uint16_t* freq;
    uint8_t* length;
    uint16_t* code;
    unsigned heapSize;
    uint16_t heap[kLitLen + 1];
    uint16_t zero[2 * kLitLen - 1], one[2 * kLitLen - 1];
    uint16_t order[kLitLen];  // symbols in the order they left the heap
    unsigned depthCount[17];
};

// Everything one packed file needs, allocated when it starts and released
// when it ends.
struct Packer {
    // Match finder of the default parse (pack.cpp describes it).
    uint8_t* text;
    uint8_t* level;
    uint8_t* childCount;
    uint16_t* position;
    uint16_t* parent;
    uint16_t* previous;
    uint16_t* next;
    void* block;  // everything above in one allocation

    unsigned pos;        // current text position, 8,192..16,383
    unsigned remaining;  // look-ahead bytes
    unsigned matchLength;
    unsigned matchPosition;
    unsigned freeNode;

    int source;
    int destination;
    uint32_t unpackedCount;
    uint32_t packedCount;
    uint32_t check;
    bool notSmaller;
    bool writeFailed;

    // Block encoder: items in groups of up to eight behind one flag byte.
    uint8_t* items;
    unsigned itemsSize;
    unsigned itemPos;
    unsigned flagPos;
    unsigned groupMask;
    // Frequencies and codes (room for the internal nodes of each tree).
    uint16_t litLenFreq[2 * kLitLen - 1];
    uint16_t positionFreq[2 * kPositions - 1];
    uint16_t codeLengthFreq[2 * kCodeLengths - 1];
    uint8_t litLenLength[kLitLen];
    uint16_t litLenCode[kLitLen];
    uint8_t smallLength[kCodeLengths];
    uint16_t smallCode[kCodeLengths];
    TreeBuild tb;

    // Bit writer: pending byte, its free bits, and the bytes waiting for
    // the file.
    unsigned pendingByte;
    unsigned freeBits;
    unsigned written;
    uint8_t out[kWriteBuffer];
};

// Number of significant bits of a position value: its position symbol.
inline unsigned bitCount(unsigned p) {
    return p ? 32 - (unsigned)__builtin_clz(p) : 0;
}

// Bits a position value of symbol k sends after the symbol's code.
inline unsigned positionExtraBits(unsigned k) {
    return k > 1 ? k - 1 : 0;
}

// Up to count bytes of the source; 0 at its end or on a read error.
uint32_t readSource(Packer* pk, uint8_t* into, uint32_t count);
// Takes an item buffer of 'size' bytes (made smaller, down to 'smallest',
// while the allocation fails) and clears the frequencies.
bool startEncoder(Packer* pk, unsigned size, unsigned smallest);
// Buffers a literal (c < 256) or a match (symbol c, position value p). A
// full buffer is sent as a block first.
void outputItem(Packer* pk, unsigned c, unsigned p);
// Sends the buffered items as one block and starts the next.
void endBlock(Packer* pk);
// Sends the last block and the padding, and releases the item buffer.
void endEncoder(Packer* pk);
// The bits the block encoder would write for a block of the frequencies in
// pk->litLenFreq and pk->positionFreq. Leaves the block's code lengths in
// pk->litLenLength and (of the position code) pk->smallLength.
uint32_t blockBits(Packer* pk);

// The near-optimal parse (best.cpp), in place of the default one.
int16_t packBest(Packer* pk, EntryInfo* record);

}  // namespace cxpack

#endif
