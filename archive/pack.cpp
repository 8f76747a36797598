// The compressor: cxPackEntry writes one file as an entry, packed (method 2)
// when that makes it smaller, else stored (method 1).
//
// The default parse finds matches with a tree of all strings in the
// 8,192-byte window and sends literals and matches in blocks, each with its
// own canonical Huffman codes. The search and the block layout are fixed,
// so the same file always gives the same bytes. CX_PACK_BEST replaces the
// parse with the near-optimal one of best.cpp; the encoder is the same.
//
// The match finder. Nodes are numbered in one space: 0 is "none"; 1..8,191
// are internal nodes (the unused ones on a free list through next[]);
// 8,192 + c is the root of the strings that begin with byte c; and a leaf
// is numbered by its text position, 8,192..16,383 (a leaf and a root may
// share a number: roots live only in level[], position[] and childCount[],
// leaves only in parent[], previous[] and next[]). Each internal node and
// root has a level, the length of the string it stands for, strictly
// greater than its parent's; leaves stand for 256 bytes.
//   Children are kept in doubly linked lists (next[], previous[]) whose
// heads are hash slots next[16,384 + q + 16 * c] for the children of q whose
// edge begins with byte c. A slot is shared by every (q, c) with the same
// q + 16 * c, so a list holds children of several parents: child() walks
// it to the one whose parent[] is q, and plants q in parent[0] first, so
// that the walk stops at the list's end (node 0) without a second test.
// previous[] of a list's first node is its slot; a node in no list has
// parent 0. A leaf pushed out by a newer one with the same 256 bytes keeps
// a forward link to it in next[] (parent 0), which insertNode follows.
//   position[n] of an internal node is the text position of some string
// below it (all of them share its first level[n] bytes), the latest one
// as far as it has been passed up. It is kept as a leaf number: bit 13 is
// always set, and a value not below the current position stands for the
// text 8,192 bytes earlier (the previous half, before the text moved
// down). Bit 15 marks a node whose position is newer than its parent's
// and must be passed up on the next walk through it (insertNode, and
// deleteNode when a node goes). Roots keep position 0 and are never
// marked. childCount[] is kept modulo 256 (a node may have 256 children),
// which the only test made on it, "more than one left", does not mind.
// Debug builds assert these rules where the search relies on them.
#include <assert.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "packer.h"

namespace cxpack {

namespace {

const unsigned kTextSize = 2 * kDic + kMaxMatch;
const unsigned kNodeCount = kDic + 256;   // internal nodes and the 256 roots
const unsigned kHashBase = 2 * kDic;      // child-list heads start here
const unsigned kNextSize = kHashBase + kNodeCount + 255 * 16 + 1;  // 28,912
const uint16_t kPending = 0x8000;         // position not yet passed upward
const unsigned kOutputBuffer = 16 * 1024;

// ---- bit writer --------------------------------------------------------------

void flushOutput(Packer* pk) {
    if (pk->written == 0) return;
    if (cxWrite(pk->destination, pk->out, pk->written) != (int32_t)pk->written) pk->writeFailed = true;
    pk->check = cxCrcUpdate(pk->check, pk->out, pk->written);
    pk->written = 0;
}

// Bytes are emitted only while the output stays below the input read so
// far; the first one that would not marks the file for storing.
inline void emitByte(Packer* pk, unsigned value) {
    if (pk->packedCount < pk->unpackedCount) {
        pk->out[pk->written++] = (uint8_t)value;
        pk->packedCount++;
        if (pk->written == kWriteBuffer) flushOutput(pk);
    } else {
        pk->notSmaller = true;
    }
}

// Writes the n (0..16) low bits of x, most significant first.
void putBits(Packer* pk, unsigned n, unsigned x) {
    if (n < pk->freeBits) {
        pk->freeBits -= n;
        pk->pendingByte |= (x << pk->freeBits) & 0xFF;
        return;
    }
    n -= pk->freeBits;
    emitByte(pk, pk->pendingByte | (x >> n));
    if (n < 8) {
        pk->freeBits = 8 - n;
        pk->pendingByte = (x << pk->freeBits) & 0xFF;
    } else {
        emitByte(pk, (x >> (n - 8)) & 0xFF);
        pk->freeBits = 16 - n;
        pk->pendingByte = (x << pk->freeBits) & 0xFF;
    }
}

// ---- Huffman code construction ----------------------------------------------

void siftDown(TreeBuild* tb, unsigned i) {
    unsigned k = tb->heap[i];
    unsigned j;
    while ((j = 2 * i) <= tb->heapSize) {
        if (j < tb->heapSize && tb->freq[tb->heap[j]] > tb->freq[tb->heap[j + 1]]) j++;
        if (tb->freq[k] <= tb->freq[tb->heap[j]]) break;
        tb->heap[i] = tb->heap[j];
        i = j;
    }
    tb->heap[i] = (uint16_t)k;
}

// Leaves per depth; depths past 16 count as 16. The tree has at most 1,019
// nodes, so an explicit stack of that size is enough.
void countDepths(TreeBuild* tb, unsigned root) {
    memset(tb->depthCount, 0, sizeof tb->depthCount);
    uint16_t stackNode[2 * kLitLen];
    uint8_t stackDepth[2 * kLitLen];
    unsigned top = 0;
    stackNode[top] = (uint16_t)root;
    stackDepth[top++] = 0;
    while (top) {
        top--;
        unsigned node = stackNode[top], depth = stackDepth[top];
        if (node < tb->symbols) {
            tb->depthCount[depth < 16 ? depth : 16]++;
        } else {
            unsigned d = depth < 255 ? depth + 1 : 255;
            stackNode[top] = tb->one[node];
            stackDepth[top++] = (uint8_t)d;
            stackNode[top] = tb->zero[node];
            stackDepth[top++] = (uint8_t)d;
        }
    }
}

// Code lengths limited to 16: the longest lengths go to the symbols that
// left the heap first (the least frequent).
void makeLengths(TreeBuild* tb, unsigned root) {
    countDepths(tb, root);
    uint32_t sum = 0;
    for (unsigned d = 16; d > 0; d--) sum += tb->depthCount[d] << (16 - d);
    while (sum != 0x10000) {
        tb->depthCount[16]--;
        for (unsigned d = 15; d > 0; d--) {
            if (tb->depthCount[d]) {
                tb->depthCount[d]--;
                tb->depthCount[d + 1] += 2;
                break;
            }
        }
        sum--;
    }
    unsigned k = 0;
    for (unsigned d = 16; d > 0; d--) {
        for (unsigned c = tb->depthCount[d]; c; c--) tb->length[tb->order[k++]] = (uint8_t)d;
    }
}

void makeCodes(TreeBuild* tb) {
    uint16_t start[18];
    start[1] = 0;
    for (unsigned d = 1; d <= 16; d++) start[d + 1] = (uint16_t)((start[d] + tb->depthCount[d]) << 1);
    for (unsigned i = 0; i < tb->symbols; i++) tb->code[i] = start[tb->length[i]]++;
}

// Builds the code of 'symbols' symbols from their frequencies (the array
// has room for the internal nodes); returns the root, which is a symbol
// when fewer than two symbols occur.
unsigned buildCode(Packer* pk, unsigned symbols, uint16_t* freq, uint8_t* length, uint16_t* code) {
    TreeBuild* tb = &pk->tb;
    tb->symbols = symbols;
    tb->freq = freq;
    tb->length = length;
    tb->code = code;
    tb->heapSize = 0;
    tb->heap[1] = 0;
    for (unsigned i = 0; i < symbols; i++) {
        length[i] = 0;
        if (freq[i]) tb->heap[++tb->heapSize] = (uint16_t)i;
    }
    if (tb->heapSize < 2) {
        code[tb->heap[1]] = 0;
        return tb->heap[1];
    }
    for (unsigned i = tb->heapSize / 2; i >= 1; i--) siftDown(tb, i);
    unsigned ordered = 0;
    unsigned nextNode = symbols;
    unsigned k;
    do {
        unsigned i = tb->heap[1];
        if (i < symbols) tb->order[ordered++] = (uint16_t)i;
        tb->heap[1] = tb->heap[tb->heapSize--];
        siftDown(tb, 1);
        unsigned j = tb->heap[1];
        if (j < symbols) tb->order[ordered++] = (uint16_t)j;
        k = nextNode++;
        freq[k] = (uint16_t)(freq[i] + freq[j]);
        tb->heap[1] = (uint16_t)k;
        siftDown(tb, 1);
        tb->zero[k] = (uint16_t)i;
        tb->one[k] = (uint16_t)j;
    } while (tb->heapSize > 1);
    makeLengths(tb, k);
    makeCodes(tb);
    return k;
}

// ---- block encoder --------------------------------------------------------------

unsigned usedLitLenLengths(const Packer* pk) {
    unsigned n = kLitLen;
    while (n > 0 && pk->litLenLength[n - 1] == 0) n--;
    return n;
}

// Walks the used literal/length code lengths as the code-length code sends
// them: a length k as symbol k + 2; a run of z zero lengths as symbol 0 z
// times (z <= 2), symbol 1 with 4 bits z - 3 (3..18), symbols 0 and 1 with
// 4 bits 15 (19), or symbol 2 with 9 bits z - 20 (20 and more). Calls
// item(symbol, extra bit count, extra bits) for each symbol.
template <typename Item>
void walkLitLenLengths(const Packer* pk, unsigned n, Item item) {
    unsigned i = 0;
    while (i < n) {
        unsigned k = pk->litLenLength[i++];
        if (k) {
            item(k + 2, 0, 0);
            continue;
        }
        unsigned run = 1;
        while (i < n && pk->litLenLength[i] == 0) {
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

void countCodeLengthFreq(Packer* pk) {
    memset(pk->codeLengthFreq, 0, kCodeLengths * sizeof pk->codeLengthFreq[0]);
    walkLitLenLengths(pk, usedLitLenLengths(pk),
                      [pk](unsigned symbol, unsigned, unsigned) { pk->codeLengthFreq[symbol]++; });
}

// Walks a small code's lengths as they are sent (count width b, special
// index x): the count of lengths, each length (3 bits up to 6, else k - 3
// bits), and after index x the number of zero lengths skipped. Calls
// field(bits, value) for each field.
template <typename Field>
void walkSmallLengths(const Packer* pk, unsigned n, unsigned countBits, unsigned special, Field field) {
    while (n > 0 && pk->smallLength[n - 1] == 0) n--;
    field(countBits, n);
    unsigned i = 0;
    while (i < n) {
        unsigned k = pk->smallLength[i++];
        if (k <= 6) field(3, k);
        else field(k - 3, (1u << (k - 3)) - 2);
        if (i == special) {
            while (i < 6 && pk->smallLength[i] == 0) i++;
            field(2, (i - 3) & 3);
        }
    }
}

// Builds the block's codes from the frequencies and walks its header as it
// is sent: the item count, the literal/length code's lengths (through the
// code-length code) and the position code's lengths. Calls field(bits,
// value) for each field; returns the item count. The codes stay in the
// packer.
template <typename Field>
unsigned walkBlockHeader(Packer* pk, Field field) {
    unsigned root = buildCode(pk, kLitLen, pk->litLenFreq, pk->litLenLength, pk->litLenCode);
    unsigned size = pk->litLenFreq[root];
    field(16, size);
    if (root >= kLitLen) {
        countCodeLengthFreq(pk);
        unsigned r = buildCode(pk, kCodeLengths, pk->codeLengthFreq, pk->smallLength, pk->smallCode);
        if (r >= kCodeLengths) {
            walkSmallLengths(pk, kCodeLengths, 5, 3, field);
        } else {
            field(5, 0);
            field(5, r);
        }
        unsigned n = usedLitLenLengths(pk);
        field(9, n);
        walkLitLenLengths(pk, n, [pk, &field](unsigned symbol, unsigned extraBits, unsigned extra) {
            field(pk->smallLength[symbol], pk->smallCode[symbol]);
            if (extraBits) field(extraBits, extra);
        });
    } else {
        field(5, 0);
        field(5, 0);
        field(9, 0);
        field(9, root);
    }
    root = buildCode(pk, kPositions, pk->positionFreq, pk->smallLength, pk->smallCode);
    if (root >= kPositions) {
        walkSmallLengths(pk, kPositions, 4, (unsigned)-1, field);
    } else {
        field(4, 0);
        field(4, root);
    }
    return size;
}

void encodeBlock(Packer* pk) {
    unsigned size = walkBlockHeader(pk, [pk](unsigned bits, unsigned value) { putBits(pk, bits, value); });
    unsigned at = 0, flags = 0;
    for (unsigned i = 0; i < size && !pk->notSmaller; i++) {
        if (i % 8 == 0) flags = pk->items[at++];
        else flags <<= 1;
        if (flags & 0x80) {
            unsigned c = pk->items[at++] + 256u;
            putBits(pk, pk->litLenLength[c], pk->litLenCode[c]);
            unsigned p = (unsigned)pk->items[at] << 8 | pk->items[at + 1];
            at += 2;
            unsigned k = bitCount(p);
            putBits(pk, pk->smallLength[k], pk->smallCode[k]);
            if (k > 1) putBits(pk, k - 1, p & (0xFFFFu >> (17 - k)));
        } else {
            unsigned c = pk->items[at++];
            putBits(pk, pk->litLenLength[c], pk->litLenCode[c]);
        }
    }
    memset(pk->litLenFreq, 0, kLitLen * sizeof pk->litLenFreq[0]);
    memset(pk->positionFreq, 0, kPositions * sizeof pk->positionFreq[0]);
}

}  // namespace

bool startEncoder(Packer* pk, unsigned size, unsigned smallest) {
    while (!(pk->items = (uint8_t*)cxAlloc(size))) {
        size = size / 10 * 9;
        if (size < smallest) return false;
    }
    pk->itemsSize = size;
    pk->itemPos = 0;
    pk->flagPos = 0;
    pk->groupMask = 0;
    pk->pendingByte = 0;
    pk->freeBits = 8;
    pk->written = 0;
    memset(pk->litLenFreq, 0, sizeof pk->litLenFreq);
    memset(pk->positionFreq, 0, sizeof pk->positionFreq);
    return true;
}

void endEncoder(Packer* pk) {
    if (!pk->notSmaller) {
        encodeBlock(pk);
        putBits(pk, 7, 0);  // pushes the last partial byte out
    }
    cxFree(pk->items);
    pk->items = nullptr;
}

void endBlock(Packer* pk) {
    encodeBlock(pk);
    pk->itemPos = 0;
    pk->groupMask = 0;
}

uint32_t blockBits(Packer* pk) {
    uint32_t bits = 0;
    walkBlockHeader(pk, [&bits](unsigned n, unsigned) { bits += n; });
    // A code of one symbol has every length 0: its symbols take no bits.
    for (unsigned c = 0; c < kLitLen; c++) bits += (uint32_t)pk->litLenFreq[c] * pk->litLenLength[c];
    for (unsigned k = 0; k < kPositions; k++)
        bits += (uint32_t)pk->positionFreq[k] * (pk->smallLength[k] + positionExtraBits(k));
    return bits;
}

// Items go out in groups of up to eight behind one flag byte (bit 7 for the
// first item; a set bit marks a match of three bytes).
void outputItem(Packer* pk, unsigned c, unsigned p) {
    pk->groupMask >>= 1;
    if (pk->groupMask == 0) {
        pk->groupMask = 0x80;
        if (pk->itemPos >= pk->itemsSize - 24) {
            encodeBlock(pk);
            if (pk->notSmaller) return;
            pk->itemPos = 0;
        }
        pk->flagPos = pk->itemPos++;
        pk->items[pk->flagPos] = 0;
    }
    pk->items[pk->itemPos++] = (uint8_t)c;
    pk->litLenFreq[c]++;
    if (c >= 256) {
        pk->items[pk->flagPos] |= (uint8_t)pk->groupMask;
        pk->items[pk->itemPos++] = (uint8_t)(p >> 8);
        pk->items[pk->itemPos++] = (uint8_t)p;
        pk->positionFreq[bitCount(p)]++;
    }
}

uint32_t readSource(Packer* pk, uint8_t* into, uint32_t count) {
    int32_t got = cxRead(pk->source, into, count);
    return got > 0 ? (uint32_t)got : 0;
}

namespace {

// ---- match finder ------------------------------------------------------------------

bool allocFinder(Packer* pk) {
    size_t words = kNodeCount + 2 * (2 * kDic) + kNextSize;
    size_t bytes = words * 2 + kTextSize + 2 * kNodeCount;
    // Zero-filled, so nothing the search looks at depends on old memory.
    uint8_t* block = (uint8_t*)cxAllocZero(bytes);
    if (!block) return false;
    pk->block = block;
    uint16_t* w = (uint16_t*)block;
    pk->position = w;
    w += kNodeCount;
    pk->parent = w;
    w += 2 * kDic;
    pk->previous = w;
    w += 2 * kDic;
    pk->next = w;
    w += kNextSize;
    uint8_t* b = (uint8_t*)w;
    pk->text = b;
    b += kTextSize;
    pk->level = b;
    b += kNodeCount;
    pk->childCount = b;
    return true;
}

void freeFinder(Packer* pk) {
    cxFree(pk->block);
    pk->block = nullptr;
}

void initFinder(Packer* pk) {
    for (unsigned i = kDic; i < kNodeCount; i++) {
        pk->level[i] = 1;
        pk->position[i] = 0;
    }
    for (unsigned i = kDic; i < 2 * kDic; i++) pk->parent[i] = 0;
    pk->freeNode = 1;
    for (unsigned i = 1; i < kDic - 1; i++) pk->next[i] = (uint16_t)(i + 1);
    pk->next[kDic - 1] = 0;
    for (unsigned i = kHashBase; i < kNextSize; i++) pk->next[i] = 0;
}

#ifndef NDEBUG
// Where the string of leaf 'leaf' begins in the text now.
unsigned leafText(const Packer* pk, unsigned leaf) { return leaf >= pk->pos ? leaf - kDic : leaf; }

// The byte on the edge from q to its child r: the child's string at q's level.
unsigned edgeByte(const Packer* pk, unsigned q, unsigned r) {
    unsigned at = r >= kDic ? leafText(pk, r) : leafText(pk, pk->position[r] & ~kPending);
    return pk->text[at + pk->level[q]];
}

bool isInnerOrRoot(unsigned q) { return q >= 1 && q < kNodeCount; }
#endif

// An internal node's stored position: a leaf number, maybe marked pending.
inline void setPosition(Packer* pk, unsigned n, unsigned value) {
    assert(n >= 1 && n < kDic);
    assert((value & 0x6000) == kDic);
    pk->position[n] = (uint16_t)value;
}

inline unsigned hashOf(unsigned q, unsigned c) { return q + (c << 4) + kHashBase; }

inline unsigned child(Packer* pk, unsigned q, unsigned c) {
    assert(isInnerOrRoot(q) && c < 256);
    uint16_t* parent = pk->parent;
    const uint16_t* next = pk->next;
    unsigned r = next[hashOf(q, c)];
    parent[0] = (uint16_t)q;  // sentinel: the list ends at node 0
#ifndef NDEBUG
    unsigned steps = 0;
    while (parent[r] != q) {
        r = next[r];
        assert(++steps < 2 * kDic);  // every list ends at node 0
    }
    assert(r == 0 || edgeByte(pk, q, r) == c);  // a shared slot holds other parents' children
#else
    while (parent[r] != q) r = next[r];
#endif
    return r;
}

inline void makeChild(Packer* pk, unsigned q, unsigned c, unsigned r) {
    assert(isInnerOrRoot(q) && r != 0 && r < 2 * kDic);
    uint16_t* next = pk->next;
    uint16_t* previous = pk->previous;
    unsigned h = hashOf(q, c);
    unsigned t = next[h];
    next[h] = (uint16_t)r;
    next[r] = (uint16_t)t;
    previous[t] = (uint16_t)r;
    previous[r] = (uint16_t)h;
    pk->parent[r] = (uint16_t)q;
    pk->childCount[q]++;
}

// Takes node 'n' out of the child list it is in.
void unlink(Packer* pk, unsigned n) {
    uint16_t* next = pk->next;
    uint16_t* previous = pk->previous;
    unsigned t = previous[n];
    unsigned u = next[n];
    next[t] = (uint16_t)u;
    previous[u] = (uint16_t)t;
}

// Puts node 'n' into node 'old's place in old's child list.
void takePlace(Packer* pk, unsigned old, unsigned n) {
    uint16_t* next = pk->next;
    uint16_t* previous = pk->previous;
    unsigned t = previous[old];
    previous[n] = (uint16_t)t;
    next[t] = (uint16_t)n;
    t = next[old];
    next[n] = (uint16_t)t;
    previous[t] = (uint16_t)n;
}

// A new internal node above 'old' at the current match length.
void split(Packer* pk, unsigned old) {
    unsigned n = pk->freeNode;
    assert(n >= 1 && n < kDic);  // a tree of 8,192 leaves needs fewer internal nodes
    assert(pk->matchLength > pk->level[pk->parent[old]]);
    assert(old >= kDic || pk->matchLength < pk->level[old]);
    pk->freeNode = pk->next[n];
    pk->childCount[n] = 0;
    takePlace(pk, old, n);
    pk->parent[n] = pk->parent[old];
    pk->level[n] = (uint8_t)pk->matchLength;
    setPosition(pk, n, pk->pos);
    makeChild(pk, n, pk->text[pk->matchPosition + pk->matchLength], old);
    makeChild(pk, n, pk->text[pk->pos + pk->matchLength], pk->pos);
}

// Finds the longest match for the current position and enters it.
void insertNode(Packer* pk) {
    unsigned q, r, t;
    const uint8_t* text = pk->text;
    const uint8_t* level = pk->level;
    const uint16_t* parent = pk->parent;
    unsigned pos = pk->pos;
    if (pk->matchLength >= 4) {
        // The string one position on shares all but one byte with the last
        // match: start from the node that holds that shorter prefix.
        pk->matchLength--;
        r = (pk->matchPosition + 1) | kDic;
        while ((q = parent[r]) == 0) r = pk->next[r];
        while (level[q] >= pk->matchLength) {
            r = q;
            q = parent[q];
        }
        t = q;
        while (pk->position[t] & kPending) {
            setPosition(pk, t, pos);
            t = parent[t];
        }
        if (t < kDic) setPosition(pk, t, pos | kPending);
    } else {
        q = text[pos] + kDic;
        unsigned c = text[pos + 1];
        r = child(pk, q, c);
        if (r == 0) {
            makeChild(pk, q, c, pos);
            pk->matchLength = 1;
            return;
        }
        pk->matchLength = 2;
    }
    unsigned length = pk->matchLength;
    for (;;) {
        unsigned limit, from;
        if (r >= kDic) {
            limit = kMaxMatch;
            from = r;
        } else {
            limit = level[r];
            from = pk->position[r] & ~kPending;
        }
        if (from >= pos) from -= kDic;
        pk->matchPosition = from;
        // The search skips the bytes it already knows to match: the node's
        // position must lead to a string with the same prefix, in the window.
        assert(pos - from <= kDic);
        assert(memcmp(text + pos, text + from, length) == 0);
        const uint8_t* a = text + pos + length;
        const uint8_t* b = text + from + length;
        while (length < limit) {
            if (*a != *b) {
                pk->matchLength = length;
                split(pk, r);
                return;
            }
            length++;
            a++;
            b++;
        }
        if (length >= kMaxMatch) break;
        setPosition(pk, r, pos);
        q = r;
        r = child(pk, q, *a);
        if (r == 0) {
            pk->matchLength = length;
            makeChild(pk, q, *a, pos);
            return;
        }
        length++;
    }
    pk->matchLength = length;
    // A full-length match: the new position takes the old leaf's place.
    takePlace(pk, r, pos);
    pk->parent[pos] = (uint16_t)q;
    pk->parent[r] = 0;
    pk->next[r] = (uint16_t)pos;
}

// Removes the leaf that the current position's number held one window ago.
void deleteNode(Packer* pk) {
    unsigned pos = pk->pos;
    uint16_t* parent = pk->parent;
    unsigned r = parent[pos];
    if (r == 0) return;
    unlink(pk, pos);
    parent[pos] = 0;
    if (r >= kDic || --pk->childCount[r] > 1) return;
    assert(pk->childCount[r] == 1);

    // r is left with one child: pass its latest position upward, then put
    // the child in r's place and free r.
    unsigned t = pk->position[r] & ~kPending;
    if (t >= pos) t -= kDic;
    unsigned s = t;
    unsigned q = pk->parent[r];
    unsigned u;
    while ((u = pk->position[q]) & kPending) {
        u &= ~kPending;
        if (u >= pos) u -= kDic;
        if (u > s) s = u;
        setPosition(pk, q, s | kDic);
        q = pk->parent[q];
    }
    if (q < kDic) {
        if (u >= pos) u -= kDic;
        if (u > s) s = u;
        setPosition(pk, q, s | kDic | kPending);
    }
    assert(q < kDic || pk->position[q] == 0);  // roots are never marked
    s = child(pk, r, pk->text[t + pk->level[r]]);
    assert(s != 0);  // r's position leads to the child that is left
    unlink(pk, s);
    takePlace(pk, r, s);
    pk->parent[s] = pk->parent[r];
    pk->parent[r] = 0;
    pk->next[r] = (uint16_t)pk->freeNode;
    pk->freeNode = r;
}

void advance(Packer* pk) {
    pk->remaining--;
    if (++pk->pos == 2 * kDic) {
        memmove(pk->text, pk->text + kDic, kDic + kMaxMatch);
        uint32_t got = readSource(pk, pk->text + kDic + kMaxMatch, kDic);
        pk->remaining += got;
        pk->unpackedCount += got;
        pk->pos = kDic;
    }
    deleteNode(pk);
    insertNode(pk);
}

inline void advanceAndClamp(Packer* pk) {
    advance(pk);
    if (pk->matchLength > pk->remaining) pk->matchLength = pk->remaining;
}

// The default parse: at each position the longest match the tree gives,
// sent unless the next position has a longer one.
int16_t packDefault(Packer* pk, EntryInfo* record) {
    if (!allocFinder(pk)) return CX_ENOMEM;
    initFinder(pk);
    if (!startEncoder(pk, kOutputBuffer, 4096)) {
        freeFinder(pk);
        return CX_ENOMEM;
    }

    uint32_t got = readSource(pk, pk->text + kDic, kDic + kMaxMatch);
    pk->remaining = got;
    pk->unpackedCount = got;
    pk->matchLength = 0;
    pk->pos = kDic;
    insertNode(pk);
    if (pk->matchLength > pk->remaining) pk->matchLength = pk->remaining;

    bool progress = cxHasCallback();
    unsigned turns = 0;
    while (pk->remaining > 0 && !pk->notSmaller && record->stopCode != CX_STOP) {
        if (progress && ++turns % 2048 == 0) cxNotify(record, CXCB_PACK, (int32_t)pk->unpackedCount);
        unsigned lastLength = pk->matchLength;
        unsigned lastPosition = pk->matchPosition;
        advanceAndClamp(pk);
        if (pk->matchLength > lastLength || lastLength < kThreshold) {
            outputItem(pk, pk->text[pk->pos - 1], 0);
        } else {
            outputItem(pk, lastLength + 256 - kThreshold, (pk->pos - lastPosition - 2) & (kDic - 1));
            while (--lastLength > 0) advanceAndClamp(pk);
        }
    }
    endEncoder(pk);
    freeFinder(pk);
    return CX_OK;
}

// Method 2. The entry's packed and unpacked sizes and check value are set
// from what was written and read.
int16_t packFile(Packer* pk, EntryInfo* record, unsigned options) {
    pk->packedCount = 0;
    pk->unpackedCount = 0;
    pk->check = 0xFFFFFFFFu;
    pk->writeFailed = false;
    int16_t result = (options & CX_PACK_BEST) ? packBest(pk, record) : packDefault(pk, record);
    if (result < 0) return result;
    if (pk->notSmaller) {
        pk->written = 0;  // the entry is stored over whatever was written
    } else {
        flushOutput(pk);
        record->unpackedSize = pk->unpackedCount;
    }
    record->packedSize = pk->packedCount;
    record->checkValue = ~pk->check;
    return record->stopCode == CX_STOP ? CX_ESTOPPED : CX_OK;
}

// Method 1: the file's bytes as they are.
int16_t storeFile(Packer* pk, EntryInfo* record) {
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
        if (cxWrite(record->destination, buffer, (uint32_t)got) != got) pk->writeFailed = true;
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

int16_t packDriver(Packer* pk, EntryInfo* record, unsigned options) {
    if (!slotOpen(record->source) || !slotOpen(record->destination)) return CX_ESLOT;
    if (!cxCrcReady()) return CX_ENOMEM;
    if (!takeStatus(record)) return CX_ESLOT;
    cxNotify(record, (options & CX_PACK_REPLACING) ? CXCB_REPLACE : CXCB_PACK, 0);
    record->flags &= ~(uint32_t)CX_FLAG_PROTECTED;

    int32_t start = cxTell(record->destination);
    pk->source = record->source;
    pk->destination = record->destination;
    pk->notSmaller = isArchiveName(record->name);
    pk->writeFailed = false;
    if (!pk->notSmaller) {
        int16_t result = packFile(pk, record, options);
        if (result < 0) {
            cxNotifyFailure(record, result, 0);
            return result;
        }
    }
    if (pk->notSmaller) {
        record->method = CX_METHOD_STORED;
        if (cxSeek(record->source, 0, SEEK_SET) != 0 ||
            cxSeek(record->destination, start, SEEK_SET) != start) {
            cxNotify(record, CX_EFAIL, 0);
            return CX_EFAIL;
        }
        int16_t result = storeFile(pk, record);
        if (result < 0) return result;
    }
    // A write that failed shows as output short of the recorded size. On a
    // removable drive the position may not be trusted, but a failed write
    // reported by the runtime always counts.
    const char* path = cxSlotName(record->destination);
    bool removable = path && cxPlatIsRemovable(path);
    int32_t end = cxTell(record->destination);
    if (pk->writeFailed || (!removable && (end < 0 || (uint32_t)(end - start) < record->packedSize))) {
        int drive = 0;
        if (path) cxPlatFreeBytes(path, &drive);
        cxSeek(record->destination, start, SEEK_SET);
        cxNotify(record, CX_ESHORT, drive);
        return CX_ESHORT;
    }
    cxNotify(record, CXCB_PACKED, 0);
    return CX_OK;
}

// One packed file's state, zero-filled; the driver's result.
int16_t packWithState(EntryInfo* record, unsigned options) {
    Packer* pk = (Packer*)cxAllocZero(sizeof(Packer));
    if (!pk) {
        cxNotify(record, CX_ENOMEM, 0);
        return CX_ENOMEM;
    }
    int16_t result = packDriver(pk, record, options);
    cxFree(pk);
    return result;
}

}  // namespace
}  // namespace cxpack

int16_t cxPackEntry(EntryInfo* record, unsigned options) {
    if (!cxpack::slotOpen(record->source) || !cxpack::slotOpen(record->destination)) return CX_ESLOT;
    bool tooLarge = false;
    if (!cxpack::takeStatus(record, &tooLarge)) return CX_ESLOT;
    int32_t header = cxTell(record->destination);
    if (header < 0) return CX_EFAIL;
    // Sizes are 32-bit fields and archive offsets 32-bit signed: a file of
    // 4 GiB or more, or one that could take the archive past 2 GB (an entry
    // is never longer than its file and header), cannot be recorded.
    uint64_t worst = (uint64_t)header + CX_HEADER_FIXED + strlen(record->name) + record->unpackedSize;
    if (tooLarge || worst > 0x7FFFFFFFu) {
        cxNotify(record, CX_ETOOLARGE, 0);
        return CX_ETOOLARGE;
    }
    int16_t result = cxWriteEntryHeader(record);
    if (result == CX_OK) result = cxpack::packWithState(record, options);
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
