// The compressor: cxPackEntry writes one file as an entry, packed (method 2)
// when that makes it smaller, else stored (method 1).
//
// The packer finds matches with a tree of all strings in the 8,192-byte
// window (internal nodes split where strings part, leaves numbered by text
// position) and sends literals and matches in blocks, each with its own
// canonical Huffman codes. The search and the block layout are fixed, so
// the same file always gives the same bytes.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

bool cxReplacingEntry;

namespace {

const unsigned kDic = 8192;            // window; also the first leaf number
const unsigned kMaxMatch = 256;
const unsigned kThreshold = 3;         // shortest match sent
const unsigned kLitLen = 510;          // 256 literals + lengths 3..256
const unsigned kPositions = 14;
const unsigned kCodeLengths = 19;
const unsigned kTextSize = 2 * kDic + kMaxMatch;
const unsigned kNodeCount = kDic + 256;   // internal nodes and the 256 roots
const unsigned kHashBase = 2 * kDic;      // child-list heads start here
const unsigned kNextSize = kHashBase + kNodeCount + 255 * 16 + 1;  // 28,912
const uint16_t kPending = 0x8000;         // position not yet passed upward
const unsigned kOutputBuffer = 16 * 1024;
const unsigned kWriteBuffer = 4096;

// ---- packer state (one file at a time) -----------------------------------
struct Packer {
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

    // Block encoder.
    uint8_t* items;
    unsigned itemsSize;
    unsigned itemPos;
    unsigned flagPos;
    unsigned groupMask;
    // Bit writer: pending byte, its free bits, and the bytes waiting for
    // the file.
    unsigned pendingByte;
    unsigned freeBits;
    unsigned written;
    uint8_t out[kWriteBuffer];
};

Packer pk;

// Frequencies and codes (room for the internal nodes of each tree).
uint16_t litLenFreq[2 * kLitLen - 1];
uint16_t positionFreq[2 * kPositions - 1];
uint16_t codeLengthFreq[2 * kCodeLengths - 1];
uint8_t litLenLength[kLitLen];
uint16_t litLenCode[kLitLen];
uint8_t smallLength[kCodeLengths];
uint16_t smallCode[kCodeLengths];

// ---- bit writer --------------------------------------------------------------

void flushOutput(void) {
    if (pk.written == 0) return;
    if (cxWrite(pk.destination, pk.out, pk.written) != (int32_t)pk.written) pk.writeFailed = true;
    pk.check = cxCrcUpdate(pk.check, pk.out, pk.written);
    pk.written = 0;
}

// Bytes are emitted only while the output stays below the input read so
// far; the first one that would not marks the file for storing.
inline void emitByte(unsigned value) {
    if (pk.packedCount < pk.unpackedCount) {
        pk.out[pk.written++] = (uint8_t)value;
        pk.packedCount++;
        if (pk.written == kWriteBuffer) flushOutput();
    } else {
        pk.notSmaller = true;
    }
}

// Writes the n (0..16) low bits of x, most significant first.
void putBits(unsigned n, unsigned x) {
    if (n < pk.freeBits) {
        pk.freeBits -= n;
        pk.pendingByte |= (x << pk.freeBits) & 0xFF;
        return;
    }
    n -= pk.freeBits;
    emitByte(pk.pendingByte | (x >> n));
    if (n < 8) {
        pk.freeBits = 8 - n;
        pk.pendingByte = (x << pk.freeBits) & 0xFF;
    } else {
        emitByte((x >> (n - 8)) & 0xFF);
        pk.freeBits = 16 - n;
        pk.pendingByte = (x << pk.freeBits) & 0xFF;
    }
}

// ---- Huffman code construction ----------------------------------------------

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

TreeBuild tb;

void siftDown(unsigned i) {
    unsigned k = tb.heap[i];
    unsigned j;
    while ((j = 2 * i) <= tb.heapSize) {
        if (j < tb.heapSize && tb.freq[tb.heap[j]] > tb.freq[tb.heap[j + 1]]) j++;
        if (tb.freq[k] <= tb.freq[tb.heap[j]]) break;
        tb.heap[i] = tb.heap[j];
        i = j;
    }
    tb.heap[i] = (uint16_t)k;
}

// Leaves per depth; depths past 16 count as 16. The tree has at most 1,019
// nodes, so an explicit stack of that size is enough.
void countDepths(unsigned root) {
    memset(tb.depthCount, 0, sizeof tb.depthCount);
    uint16_t stackNode[2 * kLitLen];
    uint8_t stackDepth[2 * kLitLen];
    unsigned top = 0;
    stackNode[top] = (uint16_t)root;
    stackDepth[top++] = 0;
    while (top) {
        top--;
        unsigned node = stackNode[top], depth = stackDepth[top];
        if (node < tb.symbols) {
            tb.depthCount[depth < 16 ? depth : 16]++;
        } else {
            unsigned d = depth < 255 ? depth + 1 : 255;
            stackNode[top] = tb.one[node];
            stackDepth[top++] = (uint8_t)d;
            stackNode[top] = tb.zero[node];
            stackDepth[top++] = (uint8_t)d;
        }
    }
}

// Code lengths limited to 16: the longest lengths go to the symbols that
// left the heap first (the least frequent).
void makeLengths(unsigned root) {
    countDepths(root);
    uint32_t sum = 0;
    for (unsigned d = 16; d > 0; d--) sum += tb.depthCount[d] << (16 - d);
    while (sum != 0x10000) {
        tb.depthCount[16]--;
        for (unsigned d = 15; d > 0; d--) {
            if (tb.depthCount[d]) {
                tb.depthCount[d]--;
                tb.depthCount[d + 1] += 2;
                break;
            }
        }
        sum--;
    }
    unsigned k = 0;
    for (unsigned d = 16; d > 0; d--) {
        for (unsigned c = tb.depthCount[d]; c; c--) tb.length[tb.order[k++]] = (uint8_t)d;
    }
}

void makeCodes(void) {
    uint16_t start[18];
    start[1] = 0;
    for (unsigned d = 1; d <= 16; d++) start[d + 1] = (uint16_t)((start[d] + tb.depthCount[d]) << 1);
    for (unsigned i = 0; i < tb.symbols; i++) tb.code[i] = start[tb.length[i]]++;
}

// Builds the code of 'symbols' symbols from their frequencies (the array
// has room for the internal nodes); returns the root, which is a symbol
// when fewer than two symbols occur.
unsigned buildCode(unsigned symbols, uint16_t* freq, uint8_t* length, uint16_t* code) {
    tb.symbols = symbols;
    tb.freq = freq;
    tb.length = length;
    tb.code = code;
    tb.heapSize = 0;
    tb.heap[1] = 0;
    for (unsigned i = 0; i < symbols; i++) {
        length[i] = 0;
        if (freq[i]) tb.heap[++tb.heapSize] = (uint16_t)i;
    }
    if (tb.heapSize < 2) {
        code[tb.heap[1]] = 0;
        return tb.heap[1];
    }
    for (unsigned i = tb.heapSize / 2; i >= 1; i--) siftDown(i);
    unsigned ordered = 0;
    unsigned nextNode = symbols;
    unsigned k;
    do {
        unsigned i = tb.heap[1];
        if (i < symbols) tb.order[ordered++] = (uint16_t)i;
        tb.heap[1] = tb.heap[tb.heapSize--];
        siftDown(1);
        unsigned j = tb.heap[1];
        if (j < symbols) tb.order[ordered++] = (uint16_t)j;
        k = nextNode++;
        freq[k] = (uint16_t)(freq[i] + freq[j]);
        tb.heap[1] = (uint16_t)k;
        siftDown(1);
        tb.zero[k] = (uint16_t)i;
        tb.one[k] = (uint16_t)j;
    } while (tb.heapSize > 1);
    makeLengths(k);
    makeCodes();
    return k;
}

// ---- block encoder --------------------------------------------------------------

unsigned usedLitLenLengths(void) {
    unsigned n = kLitLen;
    while (n > 0 && litLenLength[n - 1] == 0) n--;
    return n;
}

// Walks the used literal/length code lengths as the code-length code sends
// them: a length k as symbol k + 2; a run of z zero lengths as symbol 0 z
// times (z <= 2), symbol 1 with 4 bits z - 3 (3..18), symbols 0 and 1 with
// 4 bits 15 (19), or symbol 2 with 9 bits z - 20 (20 and more). Calls
// item(symbol, extra bit count, extra bits) for each symbol.
template <typename Item>
void walkLitLenLengths(unsigned n, Item item) {
    unsigned i = 0;
    while (i < n) {
        unsigned k = litLenLength[i++];
        if (k) {
            item(k + 2, 0, 0);
            continue;
        }
        unsigned run = 1;
        while (i < n && litLenLength[i] == 0) {
            i++;
            run++;
        }
        if (run <= 2) {
            for (unsigned r = 0; r < run; r++) item(0, 0, 0);
        } else if (run <= 18) {
            item(1, 4, run - 3);
        } else if (run == 19) {
            item(0, 0, 0);
            item(1, 4, 15);
        } else {
            item(2, 9, run - 20);
        }
    }
}

void countCodeLengthFreq(void) {
    memset(codeLengthFreq, 0, kCodeLengths * sizeof codeLengthFreq[0]);
    walkLitLenLengths(usedLitLenLengths(),
                      [](unsigned symbol, unsigned, unsigned) { codeLengthFreq[symbol]++; });
}

void writeSmallLengths(unsigned n, unsigned countBits, unsigned special) {
    while (n > 0 && smallLength[n - 1] == 0) n--;
    putBits(countBits, n);
    unsigned i = 0;
    while (i < n) {
        unsigned k = smallLength[i++];
        if (k <= 6) putBits(3, k);
        else putBits(k - 3, (1u << (k - 3)) - 2);
        if (i == special) {
            while (i < 6 && smallLength[i] == 0) i++;
            putBits(2, (i - 3) & 3);
        }
    }
}

void writeLitLenLengths(void) {
    unsigned n = usedLitLenLengths();
    putBits(9, n);
    walkLitLenLengths(n, [](unsigned symbol, unsigned extraBits, unsigned extra) {
        putBits(smallLength[symbol], smallCode[symbol]);
        if (extraBits) putBits(extraBits, extra);
    });
}

inline unsigned bitCount(unsigned p) {
    unsigned c = 0;
    while (p) {
        p >>= 1;
        c++;
    }
    return c;
}

void encodeBlock(void) {
    unsigned root = buildCode(kLitLen, litLenFreq, litLenLength, litLenCode);
    unsigned size = litLenFreq[root];
    putBits(16, size);
    if (root >= kLitLen) {
        countCodeLengthFreq();
        unsigned r = buildCode(kCodeLengths, codeLengthFreq, smallLength, smallCode);
        if (r >= kCodeLengths) {
            writeSmallLengths(kCodeLengths, 5, 3);
        } else {
            putBits(5, 0);
            putBits(5, r);
        }
        writeLitLenLengths();
    } else {
        putBits(5, 0);
        putBits(5, 0);
        putBits(9, 0);
        putBits(9, root);
    }
    root = buildCode(kPositions, positionFreq, smallLength, smallCode);
    if (root >= kPositions) {
        writeSmallLengths(kPositions, 4, (unsigned)-1);
    } else {
        putBits(4, 0);
        putBits(4, root);
    }

    unsigned at = 0, flags = 0;
    for (unsigned i = 0; i < size && !pk.notSmaller; i++) {
        if (i % 8 == 0) flags = pk.items[at++];
        else flags <<= 1;
        if (flags & 0x80) {
            unsigned c = pk.items[at++] + 256u;
            putBits(litLenLength[c], litLenCode[c]);
            unsigned p = (unsigned)pk.items[at] << 8 | pk.items[at + 1];
            at += 2;
            unsigned k = bitCount(p);
            putBits(smallLength[k], smallCode[k]);
            if (k > 1) putBits(k - 1, p & (0xFFFFu >> (17 - k)));
        } else {
            unsigned c = pk.items[at++];
            putBits(litLenLength[c], litLenCode[c]);
        }
    }
    memset(litLenFreq, 0, kLitLen * sizeof litLenFreq[0]);
    memset(positionFreq, 0, kPositions * sizeof positionFreq[0]);
}

bool startEncoder(void) {
    unsigned size = kOutputBuffer;
    while (!(pk.items = (uint8_t*)cxAlloc(size))) {
        size = size / 10 * 9;
        if (size < 4096) return false;
    }
    pk.itemsSize = size;
    pk.itemPos = 0;
    pk.flagPos = 0;
    pk.groupMask = 0;
    pk.pendingByte = 0;
    pk.freeBits = 8;
    pk.written = 0;
    memset(litLenFreq, 0, sizeof litLenFreq);
    memset(positionFreq, 0, sizeof positionFreq);
    return true;
}

void endEncoder(void) {
    if (!pk.notSmaller) {
        encodeBlock();
        putBits(7, 0);  // pushes the last partial byte out
    }
    cxFree(pk.items);
    pk.items = nullptr;
}

// Items go out in groups of up to eight behind one flag byte (bit 7 for the
// first item; a set bit marks a match of three bytes).
void outputItem(unsigned c, unsigned p) {
    pk.groupMask >>= 1;
    if (pk.groupMask == 0) {
        pk.groupMask = 0x80;
        if (pk.itemPos >= pk.itemsSize - 24) {
            encodeBlock();
            if (pk.notSmaller) return;
            pk.itemPos = 0;
        }
        pk.flagPos = pk.itemPos++;
        pk.items[pk.flagPos] = 0;
    }
    pk.items[pk.itemPos++] = (uint8_t)c;
    litLenFreq[c]++;
    if (c >= 256) {
        pk.items[pk.flagPos] |= (uint8_t)pk.groupMask;
        pk.items[pk.itemPos++] = (uint8_t)(p >> 8);
        pk.items[pk.itemPos++] = (uint8_t)p;
        positionFreq[bitCount(p)]++;
    }
}

// ---- match finder ------------------------------------------------------------------

bool allocFinder(void) {
    size_t words = kNodeCount + 2 * (2 * kDic) + kNextSize;
    size_t bytes = words * 2 + kTextSize + 2 * kNodeCount;
    // Zero-filled, so nothing the search looks at depends on old memory.
    uint8_t* block = (uint8_t*)cxAllocZero(bytes);
    if (!block) return false;
    pk.block = block;
    uint16_t* w = (uint16_t*)block;
    pk.position = w;
    w += kNodeCount;
    pk.parent = w;
    w += 2 * kDic;
    pk.previous = w;
    w += 2 * kDic;
    pk.next = w;
    w += kNextSize;
    uint8_t* b = (uint8_t*)w;
    pk.text = b;
    b += kTextSize;
    pk.level = b;
    b += kNodeCount;
    pk.childCount = b;
    return true;
}

void freeFinder(void) {
    cxFree(pk.block);
    pk.block = nullptr;
}

void initFinder(void) {
    for (unsigned i = kDic; i < kNodeCount; i++) {
        pk.level[i] = 1;
        pk.position[i] = 0;
    }
    for (unsigned i = kDic; i < 2 * kDic; i++) pk.parent[i] = 0;
    pk.freeNode = 1;
    for (unsigned i = 1; i < kDic - 1; i++) pk.next[i] = (uint16_t)(i + 1);
    pk.next[kDic - 1] = 0;
    for (unsigned i = kHashBase; i < kNextSize; i++) pk.next[i] = 0;
}

inline unsigned hashOf(unsigned q, unsigned c) { return q + (c << 4) + kHashBase; }

inline unsigned child(unsigned q, unsigned c) {
    unsigned r = pk.next[hashOf(q, c)];
    pk.parent[0] = (uint16_t)q;  // sentinel: the list ends at node 0
    while (pk.parent[r] != q) r = pk.next[r];
    return r;
}

inline void makeChild(unsigned q, unsigned c, unsigned r) {
    unsigned h = hashOf(q, c);
    unsigned t = pk.next[h];
    pk.next[h] = (uint16_t)r;
    pk.next[r] = (uint16_t)t;
    pk.previous[t] = (uint16_t)r;
    pk.previous[r] = (uint16_t)h;
    pk.parent[r] = (uint16_t)q;
    pk.childCount[q]++;
}

// Takes node 'n' out of the child list it is in.
void unlink(unsigned n) {
    unsigned t = pk.previous[n];
    unsigned u = pk.next[n];
    pk.next[t] = (uint16_t)u;
    pk.previous[u] = (uint16_t)t;
}

// Puts node 'n' into node 'old's place in old's child list.
void takePlace(unsigned old, unsigned n) {
    unsigned t = pk.previous[old];
    pk.previous[n] = (uint16_t)t;
    pk.next[t] = (uint16_t)n;
    t = pk.next[old];
    pk.next[n] = (uint16_t)t;
    pk.previous[t] = (uint16_t)n;
}

// A new internal node above 'old' at the current match length.
void split(unsigned old) {
    unsigned n = pk.freeNode;
    pk.freeNode = pk.next[n];
    pk.childCount[n] = 0;
    takePlace(old, n);
    pk.parent[n] = pk.parent[old];
    pk.level[n] = (uint8_t)pk.matchLength;
    pk.position[n] = (uint16_t)pk.pos;
    makeChild(n, pk.text[pk.matchPosition + pk.matchLength], old);
    makeChild(n, pk.text[pk.pos + pk.matchLength], pk.pos);
}

// Finds the longest match for the current position and enters it.
void insertNode(void) {
    unsigned q, r, t;
    const uint8_t* text = pk.text;
    unsigned pos = pk.pos;
    if (pk.matchLength >= 4) {
        // The string one position on shares all but one byte with the last
        // match: start from the node that holds that shorter prefix.
        pk.matchLength--;
        r = (pk.matchPosition + 1) | kDic;
        while ((q = pk.parent[r]) == 0) r = pk.next[r];
        while (pk.level[q] >= pk.matchLength) {
            r = q;
            q = pk.parent[q];
        }
        t = q;
        while (pk.position[t] & kPending) {
            pk.position[t] = (uint16_t)pos;
            t = pk.parent[t];
        }
        if (t < kDic) pk.position[t] = (uint16_t)(pos | kPending);
    } else {
        q = text[pos] + kDic;
        unsigned c = text[pos + 1];
        r = child(q, c);
        if (r == 0) {
            makeChild(q, c, pos);
            pk.matchLength = 1;
            return;
        }
        pk.matchLength = 2;
    }
    for (;;) {
        unsigned limit;
        if (r >= kDic) {
            limit = kMaxMatch;
            pk.matchPosition = r;
        } else {
            limit = pk.level[r];
            pk.matchPosition = pk.position[r] & ~kPending;
        }
        if (pk.matchPosition >= pos) pk.matchPosition -= kDic;
        const uint8_t* a = text + pos + pk.matchLength;
        const uint8_t* b = text + pk.matchPosition + pk.matchLength;
        unsigned length = pk.matchLength;
        while (length < limit) {
            if (*a != *b) {
                pk.matchLength = length;
                split(r);
                return;
            }
            length++;
            a++;
            b++;
        }
        pk.matchLength = length;
        if (length >= kMaxMatch) break;
        pk.position[r] = (uint16_t)pos;
        q = r;
        r = child(q, *a);
        if (r == 0) {
            makeChild(q, *a, pos);
            return;
        }
        pk.matchLength++;
    }
    // A full-length match: the new position takes the old leaf's place.
    takePlace(r, pos);
    pk.parent[pos] = (uint16_t)q;
    pk.parent[r] = 0;
    pk.next[r] = (uint16_t)pos;
}

// Removes the leaf that the current position's number held one window ago.
void deleteNode(void) {
    unsigned pos = pk.pos;
    if (pk.parent[pos] == 0) return;
    unlink(pos);
    unsigned r = pk.parent[pos];
    pk.parent[pos] = 0;
    if (r >= kDic || --pk.childCount[r] > 1) return;

    // r is left with one child: pass its latest position upward, then put
    // the child in r's place and free r.
    unsigned t = pk.position[r] & ~kPending;
    if (t >= pos) t -= kDic;
    unsigned s = t;
    unsigned q = pk.parent[r];
    unsigned u;
    while ((u = pk.position[q]) & kPending) {
        u &= ~kPending;
        if (u >= pos) u -= kDic;
        if (u > s) s = u;
        pk.position[q] = (uint16_t)(s | kDic);
        q = pk.parent[q];
    }
    if (q < kDic) {
        if (u >= pos) u -= kDic;
        if (u > s) s = u;
        pk.position[q] = (uint16_t)(s | kDic | kPending);
    }
    s = child(r, pk.text[t + pk.level[r]]);
    unlink(s);
    takePlace(r, s);
    pk.parent[s] = pk.parent[r];
    pk.parent[r] = 0;
    pk.next[r] = (uint16_t)pk.freeNode;
    pk.freeNode = r;
}

uint32_t readSource(uint8_t* into, uint32_t count) {
    int32_t got = cxRead(pk.source, into, count);
    return got > 0 ? (uint32_t)got : 0;
}

void advance(void) {
    pk.remaining--;
    if (++pk.pos == 2 * kDic) {
        memmove(pk.text, pk.text + kDic, kDic + kMaxMatch);
        uint32_t got = readSource(pk.text + kDic + kMaxMatch, kDic);
        pk.remaining += got;
        pk.unpackedCount += got;
        pk.pos = kDic;
    }
    deleteNode();
    insertNode();
}

inline void advanceAndClamp(void) {
    advance();
    if (pk.matchLength > pk.remaining) pk.matchLength = pk.remaining;
}

// Method 2. The entry's packed and unpacked sizes and check value are set
// from what was written and read.
int16_t packFile(EntryInfo* record) {
    pk.packedCount = 0;
    pk.unpackedCount = 0;
    pk.check = 0xFFFFFFFFu;
    pk.writeFailed = false;
    if (!allocFinder()) return CX_ENOMEM;
    initFinder();
    if (!startEncoder()) {
        freeFinder();
        return CX_ENOMEM;
    }

    uint32_t got = readSource(pk.text + kDic, kDic + kMaxMatch);
    pk.remaining = got;
    pk.unpackedCount = got;
    pk.matchLength = 0;
    pk.pos = kDic;
    insertNode();
    if (pk.matchLength > pk.remaining) pk.matchLength = pk.remaining;

    bool progress = cxHasCallback();
    unsigned turns = 0;
    while (pk.remaining > 0 && !pk.notSmaller && record->stopCode != CX_STOP) {
        if (progress && ++turns % 2048 == 0) cxNotify(record, CXCB_PACK, (int32_t)pk.unpackedCount);
        unsigned lastLength = pk.matchLength;
        unsigned lastPosition = pk.matchPosition;
        advanceAndClamp();
        if (pk.matchLength > lastLength || lastLength < kThreshold) {
            outputItem(pk.text[pk.pos - 1], 0);
        } else {
            outputItem(lastLength + 256 - kThreshold, (pk.pos - lastPosition - 2) & (kDic - 1));
            while (--lastLength > 0) advanceAndClamp();
        }
    }
    endEncoder();
    freeFinder();
    if (pk.notSmaller) {
        pk.written = 0;  // the entry is stored over whatever was written
    } else {
        flushOutput();
        record->unpackedSize = pk.unpackedCount;
    }
    record->packedSize = pk.packedCount;
    record->checkValue = ~pk.check;
    return record->stopCode == CX_STOP ? CX_ESTOPPED : CX_OK;
}

// Method 1: the file's bytes as they are.
int16_t storeFile(EntryInfo* record) {
    uint32_t size = 4096;
    uint8_t* buffer = (uint8_t*)cxAllocHalving(&size);
    if (!buffer) {
        cxNotify(record, CX_ENOMEM, 0);
        return CX_ENOMEM;
    }
    uint32_t total = record->unpackedSize, done = 0;
    uint32_t check = 0xFFFFFFFFu;
    record->flags &= ~(uint32_t)CX_FLAG_PROTECTED;
    unsigned chunks = 0;
    int16_t result = CX_OK;
    while (done < total) {
        if (record->stopCode == CX_STOP) {
            result = CX_ESTOPPED;
            break;
        }
        uint32_t want = total - done < size ? total - done : size;
        int32_t got = cxRead(record->source, buffer, want);
        if (got <= 0) break;  // the file became shorter: store what is there
        if (cxWrite(record->destination, buffer, (uint32_t)got) != got) pk.writeFailed = true;
        check = cxCrcUpdate(check, buffer, (size_t)got);
        done += (uint32_t)got;
        if (++chunks % 2 == 0) cxNotify(record, CXCB_PACK, (int32_t)done);
        if ((uint32_t)got < want) break;
    }
    cxFree(buffer);
    // Sizes are what was copied, so the entry stays consistent even when
    // the file changed under us.
    record->unpackedSize = record->packedSize = done;
    record->checkValue = ~check;
    return result;
}

// Extensions of files that are archives already and are stored unpacked.
bool isArchiveName(const char* name) {
    const char* dot = strrchr(name, '.');
    if (!dot || strlen(dot) != 4) return false;
    char ext[5];
    for (int i = 0; i < 4; i++) {
        char ch = dot[i];
        ext[i] = (ch >= 'a' && ch <= 'z') ? (char)(ch - 32) : ch;
    }
    ext[4] = 0;
    return strstr(".ARQ.ZIP.ZOO.ARC.ARJ.LBR.PAK.LZH.CAB", ext) != nullptr;
}

bool slotOpen(int slot) { return slot >= 0 && slot < CX_SLOTS && cxSlotName(slot) != nullptr; }

bool takeStatus(EntryInfo* record, bool* tooLarge = nullptr) {
    CxFileStat status;
    if (cxStat(record->source, &status) < 0) return false;
    if (tooLarge) *tooLarge = status.tooLarge;
    record->unpackedSize = status.size;
    record->time = status.mtime;
    record->mode = status.mode;
    record->ownerId = status.ownerId;
    record->groupId = status.groupId;
    record->method = CX_METHOD_PACKED;
    return true;
}

int16_t packDriver(EntryInfo* record) {
    if (!slotOpen(record->source) || !slotOpen(record->destination)) return CX_ESLOT;
    if (!cxCrcReady()) return CX_ENOMEM;
    if (!takeStatus(record)) return CX_ESLOT;
    cxNotify(record, cxReplacingEntry ? CXCB_REPLACE : CXCB_PACK, 0);
    record->flags &= ~(uint32_t)CX_FLAG_PROTECTED;

    int32_t start = cxTell(record->destination);
    pk.source = record->source;
    pk.destination = record->destination;
    pk.notSmaller = isArchiveName(record->name);
    pk.writeFailed = false;
    if (!pk.notSmaller) {
        int16_t result = packFile(record);
        if (result < 0) {
            cxNotifyFailure(record, result, 0);
            return result;
        }
    }
    if (pk.notSmaller) {
        record->method = CX_METHOD_STORED;
        if (cxSeek(record->source, 0, SEEK_SET) != 0 ||
            cxSeek(record->destination, start, SEEK_SET) != start) {
            cxNotify(record, CX_EFAIL, 0);
            return CX_EFAIL;
        }
        int16_t result = storeFile(record);
        if (result < 0) return result;
    }
    // A write that failed shows as output short of the recorded size. On a
    // removable drive the position may not be trusted, but a failed write
    // reported by the runtime always counts.
    const char* path = cxSlotName(record->destination);
    bool removable = path && cxPlatIsRemovable(path);
    int32_t end = cxTell(record->destination);
    if (pk.writeFailed || (!removable && (end < 0 || (uint32_t)(end - start) < record->packedSize))) {
        int drive = 0;
        if (path) cxPlatFreeBytes(path, &drive);
        cxSeek(record->destination, start, SEEK_SET);
        cxNotify(record, CX_ESHORT, drive);
        return CX_ESHORT;
    }
    cxNotify(record, CXCB_PACKED, 0);
    cxReplacingEntry = false;
    return CX_OK;
}

}  // namespace

int16_t cxPackEntry(EntryInfo* record) {
    if (!slotOpen(record->source) || !slotOpen(record->destination)) return CX_ESLOT;
    bool tooLarge = false;
    if (!takeStatus(record, &tooLarge)) return CX_ESLOT;
    int32_t header = cxTell(record->destination);
    if (header < 0) return CX_EFAIL;
    // Sizes are 32-bit fields and archive offsets 32-bit signed: a file of
    // 4 GiB or more, or one that could take the archive past 2 GB (an entry
    // is never longer than its file and header), cannot be recorded.
    uint64_t worst = (uint64_t)header + 8 + 33 + strlen(record->name) + record->unpackedSize;
    if (tooLarge || worst > 0x7FFFFFFFu) {
        cxNotify(record, CX_ETOOLARGE, 0);
        return CX_ETOOLARGE;
    }
    int16_t result = cxWriteEntryHeader(record);
    if (result == CX_OK) result = packDriver(record);
    if (result < 0) {
        // No part of the failed entry may stay: the archive is cut back to
        // where the entry began, and the next entry or the end record is
        // written there.
        cxSeek(record->destination, header, SEEK_SET);
        cxTruncate(record->destination);
        return result;
    }
    int32_t end = cxTell(record->destination);
    if (cxSeek(record->destination, header, SEEK_SET) != header ||
        cxWriteEntryHeader(record) != CX_OK || cxSeek(record->destination, end, SEEK_SET) != end) {
        cxSeek(record->destination, header, SEEK_SET);
        cxTruncate(record->destination);
        return CX_EWRITE;
    }
    return CX_OK;
}
