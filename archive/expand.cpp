// The expander: an LZ77 stream with an 8,192-byte window whose literals,
// match lengths and match positions are coded with canonical Huffman codes
// sent per block, and cxExpandEntry, which turns one entry (stored or
// packed) into an output file while computing its check value.
//
// The stream is read most significant bit first; once the entry's packed
// bytes are used up, zero bits follow. Everything a damaged stream can lie
// about (counts, code lengths, over-full codes, tree walks, match distances
// before the first output byte) is checked outside the per-byte copy loops
// and ends the expansion with CX_ECHECK.
//
// The check value covers the stored bytes only, not the sizes in the
// header, so the stream must also fit its sizes exactly: it is damaged when
// it needs bits beyond its packed bytes to produce the unpacked size, when
// it has produced that size with a whole packed byte still unread, or when
// it ends inside a block or a match. The compressor writes none of these.
// cxTestEntry expands to nowhere with the same checks.
//
// All state of one expansion (bit reader, tables, window, input buffer) is
// one Expander, allocated for the entry and passed by pointer.
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

namespace {

const unsigned kWindow = 8192;            // history and output chunk
const unsigned kWindowMask = kWindow - 1;
const unsigned kLitLen = 510;             // 256 literals + lengths 3..256
const unsigned kPositions = 14;           // bit counts 0..13 of a position
const unsigned kCodeLengths = 19;         // alphabet of the code-length code
const unsigned kNodes = 2 * kLitLen - 1;  // tree nodes beyond the tables
const unsigned kLitBits = 12;             // literal/length table index width
const unsigned kSmallBits = 8;            // position/code-length table width
const unsigned kInput = 16384;            // packed bytes read per file read

// The bit reader holds one register: 64 bits on 64-bit processors, 32 on
// 32-bit ones, where a 64-bit word costs a register pair and two-word
// shifts on every step. CX_READER_BITS chooses a width for a build that
// wants the other one (the fuzz build tries the narrow reader).
#ifndef CX_READER_BITS
#define CX_READER_BITS (UINTPTR_MAX > 0xFFFFFFFFu ? 64 : 32)
#endif
#if CX_READER_BITS == 64
typedef uint64_t BitWord;
#else
typedef uint32_t BitWord;
#endif

// Bit budgets of the reader. A refill loads whole bytes while one more
// fits, so it leaves at least kRefillBits, enough for any one code. One
// match, the largest item a decode step takes, needs kMatchBits: its length
// code, its position code and the position's extra bits (symbol 13: 12
// bits). A wide reader holds a whole match after one refill; a narrow one
// is refilled again before the position code and its extra bits.
const int kReaderBits = (int)sizeof(BitWord) * 8;
const int kRefillBits = kReaderBits - 8;
const unsigned kMaxCodeBits = 16;
const unsigned kMaxExtraBits = kPositions - 2;
const int kMatchBits = (int)(2 * kMaxCodeBits + kMaxExtraBits);
const bool kWideReader = kMatchBits <= kRefillBits;
// Bits the chunk loop makes sure of before each decode step.
const int kStepBits = kWideReader ? kMatchBits : (int)kMaxCodeBits;
static_assert(kMatchBits == 44 && (int)kMaxCodeBits <= kRefillBits, "a refill holds any one code");
// For counts below kReaderBits, adding the whole bytes that fit is
// count | kRefillBits (56 or 24: the bits of 64 - 8 or 32 - 8).
static_assert(kReaderBits == 64 || kReaderBits == 32, "count | kRefillBits is the refilled count");

// Bit reader: 'bits' holds the next 'count' stream bits at its top; below
// them are either zeros or the stream's next bits.
struct BitIn {
    BitWord bits;
    int count;
    const uint8_t* next;
    const uint8_t* end;
};

struct Expander {
    BitIn in;
    int slot;
    uint32_t unread;    // packed bytes not yet read from the file
    uint32_t check;     // running check value over the bytes read
    uint16_t blockLeft; // literal/length symbols left in the block
    uint32_t pending;   // match bytes still to copy
    unsigned copyFrom;  // window position the pending copy reads from
    uint32_t produced;  // output bytes before the current chunk
    uint64_t zeroBits;  // zero bits put behind the stream's last byte
    bool damaged;
    bool discard;       // test only: nothing is written
    uint8_t litLenLengths[kLitLen];
    uint8_t smallLengths[kCodeLengths];
    // Table entries: a symbol in the low 16 bits and, for codes that fit the
    // table, the code length above them; or a node number (length field 0).
    uint32_t litLenTable[1 << kLitBits];
    uint32_t smallTable[1 << kSmallBits];
    uint16_t zeroBranch[kNodes], oneBranch[kNodes];
    uint8_t window[kWindow];  // the output chunk and the history
    uint8_t input[kInput];
};

// Reads the next packed bytes from the file into the input buffer; false
// when none are left (the stream then goes on with zero bits).
bool loadInput(Expander* ex, BitIn& in) {
    if (ex->unread == 0) return false;
    uint32_t want = ex->unread < kInput ? ex->unread : kInput;
    int32_t got = cxRead(ex->slot, ex->input, want);
    if (got <= 0) {
        ex->unread = 0;  // the file ended early; the check value will tell
        return false;
    }
    ex->unread -= (uint32_t)got;
    ex->check = cxCrcUpdate(ex->check, ex->input, (size_t)got);
    in.next = ex->input;
    in.end = ex->input + got;
    return true;
}

// Takes and returns the reader by value so the caller's copy can stay in
// registers.
__attribute__((noinline)) BitIn refillSlow(Expander* ex, BitIn in) {
    while (in.count <= kRefillBits) {
        if (in.next == in.end && !loadInput(ex, in)) {
            // No more stored bytes: the bits below are zero already, and
            // the stream goes on with zeros, which are counted so that a
            // stream that uses them can be told from one that does not.
            ex->zeroBits += (uint64_t)(kReaderBits - in.count);
            in.count = kReaderBits;
            return in;
        }
        in.bits |= (BitWord)*in.next++ << (kReaderBits - 8 - in.count);
        in.count += 8;
    }
    return in;
}

// The next reader word of input, first byte on top.
inline BitWord loadWord(const uint8_t* p) {
    BitWord word;
    memcpy(&word, p, sizeof word);
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    word = sizeof word == 8 ? (BitWord)__builtin_bswap64(word) : (BitWord)__builtin_bswap32((uint32_t)word);
#endif
    return word;
}

// Brings the reader to at least kRefillBits (all of it in the zero tail).
// With a reader word of input at hand it loads it at once and advances by
// the whole bytes that fit; the bits of the next byte that also land below
// 'count' are the stream's own, so loading that byte again later changes
// nothing.
inline void refill(Expander* ex, BitIn& in) {
    if (in.end - in.next >= (ptrdiff_t)sizeof(BitWord)) {
        in.bits |= loadWord(in.next) >> in.count;
        in.next += (kReaderBits - 1 - in.count) >> 3;
        in.count |= kRefillBits;
    } else {
        in = refillSlow(ex, in);
    }
}

// The top 32 bits of a reader word.
inline uint32_t top32(BitWord bits) { return (uint32_t)(bits >> (kReaderBits - 32)); }

inline uint32_t peek32(const BitIn& in) { return top32(in.bits); }

inline void drop(BitIn& in, unsigned n) {
    in.bits <<= n;
    in.count -= (int)n;
}

// n from 0 to kMaxCodeBits.
inline unsigned getBits(Expander* ex, BitIn& in, unsigned n) {
    if (in.count < (int)kMaxCodeBits) refill(ex, in);
    if (n == 0) return 0;
    unsigned value = peek32(in) >> (32 - n);
    drop(in, n);
    return value;
}

// Builds the lookup table (index width 'width') and the tree nodes for the
// canonical code of 'symbols' symbols with the given lengths. Symbols get
// consecutive codes in order of length, then of symbol value. A table or
// node value below 'symbols' is a symbol, anything else a node. False for a
// code no packer writes and that could not be decoded safely: an empty or
// over-full code, or one that needs more nodes than there is room for.
bool buildTable(Expander* ex, unsigned symbols, const uint8_t* lengths, unsigned width,
                uint32_t* table) {
    uint32_t count[17] = {0};
    for (unsigned i = 0; i < symbols; i++) {
        if (lengths[i] > 16) return false;
        count[lengths[i]]++;
    }
    uint32_t start[18], weight[17];
    start[1] = 0;
    for (unsigned i = 1; i <= 16; i++) start[i + 1] = start[i] + (count[i] << (16 - i));
    if (start[17] == 0 || start[17] > 0x10000) return false;

    unsigned shift = 16 - width;
    for (unsigned i = 1; i <= width; i++) {
        start[i] >>= shift;
        weight[i] = 1u << (width - i);
    }
    for (unsigned i = width + 1; i <= 16; i++) weight[i] = 1u << (16 - i);

    // Entries past the short codes are either roots of long codes or, in an
    // incomplete code, unused; they start as symbol 0 (with its own length).
    uint32_t tableSize = 1u << width;
    uint32_t firstLong = start[width + 1] >> shift;
    uint32_t empty = (uint32_t)lengths[0] << 16;
    for (uint32_t i = firstLong; i < tableSize; i++) table[i] = empty;

    unsigned freeNode = symbols;
    uint32_t mask = 1u << (15 - width);
    for (unsigned ch = 0; ch < symbols; ch++) {
        unsigned len = lengths[ch];
        if (len == 0) continue;
        uint32_t next = start[len] + weight[len];
        if (len <= width) {
            for (uint32_t i = start[len]; i < next; i++) table[i] = ch | len << 16;
        } else {
            uint32_t k = start[len];
            uint32_t* root = &table[k >> shift];
            if ((*root & 0xFFFF) == 0) {
                if (freeNode >= kNodes) return false;
                ex->zeroBranch[freeNode] = ex->oneBranch[freeNode] = 0;
                *root = freeNode++;
            }
            uint16_t* slot = (k & mask) ? &ex->oneBranch[*root] : &ex->zeroBranch[*root];
            k <<= 1;
            for (unsigned i = len - width - 1; i; i--) {
                if (*slot == 0) {
                    if (freeNode >= kNodes) return false;
                    ex->zeroBranch[freeNode] = ex->oneBranch[freeNode] = 0;
                    *slot = (uint16_t)freeNode++;
                }
                slot = (k & mask) ? &ex->oneBranch[*slot] : &ex->zeroBranch[*slot];
                k <<= 1;
            }
            *slot = (uint16_t)ch;
        }
        start[len] = next;
    }
    return true;
}

// Walks the tree below a table entry that is a node; 'top' holds the code's
// bits at its top. Returns the symbol, or 'symbols' (and marks the stream
// damaged) when a walk leaves the tree.
__attribute__((noinline)) unsigned walkTree(Expander* ex, uint32_t top, unsigned j, unsigned width,
                                            unsigned symbols) {
    uint32_t bit = 1u << (31 - width);
    for (unsigned steps = kMaxCodeBits - width; j >= symbols; steps--) {
        if (steps == 0 || j >= kNodes) {
            ex->damaged = true;
            return symbols;
        }
        j = (top & bit) ? ex->oneBranch[j] : ex->zeroBranch[j];
        bit >>= 1;
    }
    return j;
}

// Decodes one symbol; the reader must hold at least kMaxCodeBits. A walk
// that leaves the tree marks the stream damaged and yields 'symbols', a
// value no caller takes for a symbol.
inline unsigned decode(Expander* ex, BitIn& in, const uint32_t* table, unsigned width,
                       unsigned symbols, const uint8_t* lengths) {
    uint32_t top = peek32(in);
    uint32_t entry = table[top >> (32 - width)];
    unsigned j = entry & 0xFFFF;
    if (j < symbols) {
        drop(in, entry >> 16);
        return j;
    }
    j = walkTree(ex, top, j, width, symbols);
    if (j >= symbols) return symbols;
    drop(in, lengths[j]);
    return j;
}

// A code of one symbol: every lookup yields it and takes no bits.
bool singleSymbol(unsigned symbol, unsigned symbols, uint8_t* lengths, uint32_t* table,
                  unsigned tableSize) {
    if (symbol >= symbols) return false;
    memset(lengths, 0, symbols);
    for (unsigned i = 0; i < tableSize; i++) table[i] = symbol;
    return true;
}

// Lengths of the position code or the code-length code: 3-bit values, with
// 7 extended by a run of 1 bits; after 'special' lengths a 2-bit count of
// zero lengths follows.
bool readSmallCode(Expander* ex, BitIn& in, unsigned symbols, unsigned countBits, int special) {
    uint8_t* smallLengths = ex->smallLengths;
    unsigned n = getBits(ex, in, countBits);
    if (n == 0) {
        return singleSymbol(getBits(ex, in, countBits), symbols, smallLengths, ex->smallTable,
                            1u << kSmallBits);
    }
    if (n > symbols) return false;
    unsigned i = 0;
    while (i < n) {
        refill(ex, in);
        uint32_t top = peek32(in);
        unsigned c = top >> 29;
        if (c == 7) {
            for (uint32_t bit = 1u << 28; top & bit; bit >>= 1) {
                if (++c > kMaxCodeBits) return false;
            }
        }
        drop(in, c < 7 ? 3 : c - 3);
        smallLengths[i++] = (uint8_t)c;
        if ((int)i == special) {
            unsigned zeros = getBits(ex, in, 2);
            if (i + zeros > symbols) return false;
            while (zeros--) smallLengths[i++] = 0;
        }
    }
    while (i < symbols) smallLengths[i++] = 0;
    return buildTable(ex, symbols, smallLengths, kSmallBits, ex->smallTable);
}

// Literal/length code lengths, coded with the code-length code.
bool readLitLenCode(Expander* ex, BitIn& in) {
    uint8_t* litLenLengths = ex->litLenLengths;
    unsigned n = getBits(ex, in, 9);
    if (n == 0) {
        return singleSymbol(getBits(ex, in, 9), kLitLen, litLenLengths, ex->litLenTable, 1u << kLitBits);
    }
    if (n > kLitLen) return false;
    unsigned i = 0;
    while (i < n) {
        refill(ex, in);
        unsigned c = decode(ex, in, ex->smallTable, kSmallBits, kCodeLengths, ex->smallLengths);
        if (c >= kCodeLengths) return false;
        if (c <= 2) {
            unsigned zeros = c == 0 ? 1 : c == 1 ? getBits(ex, in, 4) + 3 : getBits(ex, in, 9) + 20;
            if (i + zeros > kLitLen) return false;
            memset(litLenLengths + i, 0, zeros);
            i += zeros;
        } else {
            litLenLengths[i++] = (uint8_t)(c - 2);
        }
    }
    if (i < kLitLen) memset(litLenLengths + i, 0, kLitLen - i);
    return buildTable(ex, kLitLen, litLenLengths, kLitBits, ex->litLenTable);
}

bool readBlockHeader(Expander* ex, BitIn& in) {
    ex->blockLeft = (uint16_t)getBits(ex, in, 16);
    if (!readSmallCode(ex, in, kCodeLengths, 5, 3) || !readLitLenCode(ex, in) ||
        !readSmallCode(ex, in, kPositions, 4, -1)) {
        ex->damaged = true;
        return false;
    }
    return true;
}

inline void copy8(uint8_t* d, const uint8_t* s) {
    uint64_t word;
    memcpy(&word, s, 8);
    memcpy(d, &word, 8);
}

// Copies 'length' bytes from window position 'from' to 'to'; the caller
// makes sure neither range wraps. The format means a forward copy byte by
// byte, so a source just behind the target repeats bytes as they are
// produced. Wider steps give the same bytes:
// - a source at least eight bytes behind: eight bytes a step, then the last
//   eight bytes again (their source bytes are final by then);
// - a source closer behind: the output repeats with that period, so after
//   the first multiple of the period that reaches eight bytes the copy goes
//   on from that far back;
// - a source ahead of the target: eight bytes a step (each step reads
//   before it writes, and reads nothing written before), then bytes.
inline void copyMatch(uint8_t* window, unsigned to, unsigned from, unsigned length) {
    // A match 8,192 bytes back copies each byte onto itself: the window
    // already holds the output.
    if (from == to) return;
    uint8_t* d = window + to;
    const uint8_t* s = window + from;
    if (from > to) {
        for (; length >= 8; length -= 8, d += 8, s += 8) copy8(d, s);
        for (unsigned k = 0; k < length; k++) d[k] = s[k];
        return;
    }
    if (to - from < 8) {
        unsigned period = to - from;
        unsigned lead = (8 + period - 1) / period * period;  // 8..14
        if (lead >= length) {
            for (unsigned k = 0; k < length; k++) d[k] = s[k];
            return;
        }
        for (unsigned k = 0; k < lead; k++) d[k] = s[k];
        d += lead;
        length -= lead;
        s = d - lead;
    }
    if (length >= 8) {
        unsigned k = 0;
        for (; k + 8 <= length; k += 8) copy8(d + k, s + k);
        if (k < length) copy8(d + length - 8, s + length - 8);
    } else if (length >= 4) {
        uint32_t head, tail;
        memcpy(&head, s, 4);
        memcpy(&tail, s + length - 4, 4);
        memcpy(d, &head, 4);
        memcpy(d + length - 4, &tail, 4);
    } else {
        for (unsigned k = 0; k < length; k++) d[k] = s[k];
    }
}

// refill on the chunk loop's copy of the reader: through the expander state
// only when the input buffer runs short, so the locals stay in registers.
inline void refillLocals(Expander* ex, BitWord& bits, int& count, const uint8_t*& next,
                         const uint8_t*& end) {
    if (end - next >= (ptrdiff_t)sizeof(BitWord)) {
        bits |= loadWord(next) >> count;
        next += (kReaderBits - 1 - count) >> 3;
        count |= kRefillBits;
    } else {
        BitIn in = refillSlow(ex, BitIn{bits, count, next, end});
        bits = in.bits;
        count = in.count;
        next = in.next;
        end = in.end;
    }
}

// Expands the next n bytes (n <= 8,192) into the window, which is also the
// history: window index r is the output position modulo 8,192. False when
// the stream is damaged.
bool expandChunk(Expander* ex, unsigned n) {
    // The reader, the block count and the tables are plain locals here so
    // they stay in registers; the rare calls that need the reader get it
    // through the expander state.
    BitWord bits = ex->in.bits;
    int count = ex->in.count;
    const uint8_t* next = ex->in.next;
    const uint8_t* end = ex->in.end;
    uint16_t blockLeft = ex->blockLeft;
    uint8_t* const window = ex->window;  // at fixed offsets from ex, as the tables
    const uint32_t produced = ex->produced;
    unsigned r = 0;
    bool ok = true;

    // A match left over from the previous chunk.
    while (ex->pending && r < n) {
        window[r++] = window[ex->copyFrom];
        ex->copyFrom = (ex->copyFrom + 1) & kWindowMask;
        ex->pending--;
    }

    while (r < n) {
        if (count < kStepBits && end - next >= (ptrdiff_t)sizeof(BitWord)) {
            // The refill of the reader, on the locals.
            bits |= loadWord(next) >> count;
            next += (kReaderBits - 1 - count) >> 3;
            count |= kRefillBits;
        }
        if (blockLeft == 0 || count < kStepBits) {
            ex->in = BitIn{bits, count, next, end};
            if (blockLeft == 0) {
                if (!readBlockHeader(ex, ex->in)) {
                    ok = false;
                    break;
                }
                blockLeft = ex->blockLeft;
            }
            refill(ex, ex->in);
            bits = ex->in.bits;
            count = ex->in.count;
            next = ex->in.next;
            end = ex->in.end;
        }
        blockLeft--;  // 16-bit: a block count of 0 stands for 65,536

        // At least kStepBits: a literal/length code, and with a wide reader
        // also a position code and its extra bits.
        uint32_t top = top32(bits);
        uint32_t entry = ex->litLenTable[top >> (32 - kLitBits)];
        unsigned c = entry & 0xFFFF;
        unsigned used = entry >> 16;
        if (c >= kLitLen) {
            c = walkTree(ex, top, c, kLitBits, kLitLen);
            if (c >= kLitLen) {
                ok = false;
                break;
            }
            used = ex->litLenLengths[c];
        }
        bits <<= used;
        count -= (int)used;
        if (c < 256) {
            window[r++] = (uint8_t)c;
            continue;
        }

        unsigned length = c - 253;
        if (!kWideReader && count < (int)kMaxCodeBits) refillLocals(ex, bits, count, next, end);
        top = top32(bits);
        entry = ex->smallTable[top >> (32 - kSmallBits)];
        unsigned j = entry & 0xFFFF;
        used = entry >> 16;
        if (j >= kPositions) {
            j = walkTree(ex, top, j, kSmallBits, kPositions);
            if (j >= kPositions) {
                ok = false;
                break;
            }
            used = ex->smallLengths[j];
        }
        bits <<= used;
        count -= (int)used;
        unsigned distance = 0;
        if (j) {
            unsigned extra = j - 1;
            distance = 1u << extra;
            if (extra) {
                if (!kWideReader && count < (int)extra) refillLocals(ex, bits, count, next, end);
                distance += top32(bits) >> (32 - extra);
                bits <<= extra;
                count -= (int)extra;
            }
        }
        if (distance >= produced + r) {
            // A match reaching back before the first byte.
            ex->damaged = true;
            ok = false;
            break;
        }
        unsigned from = (r - distance - 1) & kWindowMask;
        if (length <= n - r && from + length <= kWindow) {
            copyMatch(window, r, from, length);
            r += length;
        } else {
            // Wraps around the window or runs into the next chunk.
            while (length && r < n) {
                window[r++] = window[from];
                from = (from + 1) & kWindowMask;
                length--;
            }
            ex->pending = length;
            ex->copyFrom = from;
        }
    }
    if (ok) ex->in = BitIn{bits, count, next, end};
    ex->blockLeft = blockLeft;
    ex->produced += r;
    return ok;
}

// Stream bits taken by the decoder so far: the bytes moved into the reader
// and the zero bits behind the stream, less the bits still waiting in it.
uint64_t bitsUsed(const Expander* ex, uint32_t packedSize) {
    uint64_t loaded = (uint64_t)(packedSize - ex->unread) - (uint64_t)(ex->in.end - ex->in.next);
    return loaded * 8 + ex->zeroBits - (uint64_t)ex->in.count;
}

int16_t skipRest(EntryInfo* record, uint32_t left) {
    if (left == 0) return CX_OK;
    if (left > 0x7FFFFFFFu) return CX_EFAIL;
    return cxSeek(record->source, (int32_t)left, SEEK_CUR) < 0 ? CX_EFAIL : CX_OK;
}

// Method 1: the stored bytes are the file, copied through the input buffer.
int16_t copyStored(Expander* ex, EntryInfo* record) {
    cxNotify(record, CXCB_STORED, 0);
    // Never read beyond the entry's own data, whatever the unpacked size says.
    uint32_t total = record->unpackedSize < record->packedSize ? record->unpackedSize
                                                               : record->packedSize;
    uint32_t done = 0;
    unsigned chunks = 0;
    int16_t result = CX_OK;
    while (done < total) {
        if (record->stopCode == CX_STOP) {
            result = CX_ESTOPPED;
            break;
        }
        uint32_t want = total - done < kInput ? total - done : kInput;
        int32_t got = cxRead(record->source, ex->input, want);
        if (got <= 0) break;  // a short file: the check value tells
        ex->check = cxCrcUpdate(ex->check, ex->input, (size_t)got);
        done += (uint32_t)got;
        if (!ex->discard && cxWrite(record->destination, ex->input, (uint32_t)got) != got) {
            result = CX_EWRITE;
            break;
        }
        if (++chunks % 2 == 0 && cxHasCallback()) cxNotify(record, CXCB_EXPAND, (int32_t)done);
        if ((uint32_t)got < want) break;
    }
    if (result == CX_OK && record->stopCode == CX_STOP && done < total) result = CX_ESTOPPED;
    skipRest(record, record->packedSize - done);
    if (result != CX_OK) return result;
    // Sizes that disagree in a stored entry mean the header was damaged; a
    // file that ends early means the data was.
    if (record->unpackedSize != record->packedSize || done < total) ex->damaged = true;
    cxNotify(record, CXCB_EXTRACTED, 0);
    return CX_OK;
}

// Method 2.
int16_t expandPacked(Expander* ex, EntryInfo* record) {
    ex->slot = record->source;
    ex->unread = record->packedSize;
    ex->in.next = ex->in.end = ex->input;
    refill(ex, ex->in);
    const uint64_t streamBits = (uint64_t)record->packedSize * 8;

    int16_t result = CX_OK;
    uint32_t done = 0;
    while (done < record->unpackedSize) {
        if (record->stopCode == CX_STOP) {
            result = CX_ESTOPPED;
            break;
        }
        uint32_t left = record->unpackedSize - done;
        unsigned n = left < kWindow ? left : kWindow;
        cxNotify(record, CXCB_EXPAND, (int32_t)done);
        if (!expandChunk(ex, n)) break;
        // Checked per chunk, so that a damaged size cannot make the stream
        // run on in its zero tail for gigabytes.
        if (bitsUsed(ex, record->packedSize) > streamBits) {
            ex->damaged = true;
            break;
        }
        if (!ex->discard && cxWrite(record->destination, ex->window, n) != (int32_t)n) {
            result = CX_EWRITE;
            break;
        }
        done += n;
    }
    // The whole unpacked size came out: the stream must end here, within
    // its last byte, at the end of a block and of a match.
    if (result == CX_OK && !ex->damaged && done == record->unpackedSize &&
        (streamBits - bitsUsed(ex, record->packedSize) >= 8 || ex->blockLeft != 0 || ex->pending != 0)) {
        ex->damaged = true;
    }
    if (result == CX_OK && !ex->damaged && record->stopCode == CX_STOP && done < record->unpackedSize)
        result = CX_ESTOPPED;

    // The check value covers every stored byte; bytes the stream did not
    // need (none in a sound entry) are read too, which also leaves the
    // source at the end of the entry's data.
    if (result == CX_OK && !ex->damaged) {
        while (ex->unread && loadInput(ex, ex->in)) {
        }
    }
    skipRest(record, ex->unread);
    if (result == CX_OK && !ex->damaged) cxNotify(record, CXCB_EXTRACTED, 0);
    return result;
}

int16_t expandEntry(EntryInfo* record, bool discard) {
    if (!cxCrcReady()) {
        skipRest(record, record->packedSize);
        return CX_ENOMEM;
    }
    if (record->flags & CX_FLAG_PROTECTED) {
        cxNotifyFailure(record, CX_EPROTECTED, 0);
        skipRest(record, record->packedSize);
        return CX_OK;
    }
    bool known = record->method == CX_METHOD_STORED || record->method == CX_METHOD_PACKED;
    if (!known) {
        cxNotify(record, CXCB_UNKNOWN, 0);
        skipRest(record, record->packedSize);
        // An unknown method leaves the running value as it started.
        if (record->checkValue == 0xFFFFFFFFu) return CX_OK;
        cxNotifyFailure(record, CX_ECHECK, (int32_t)0xFFFFFFFFu);
        return CX_ECHECK;
    }

    Expander* ex = (Expander*)cxAlloc(sizeof(Expander));
    if (!ex) {
        if (record->method == CX_METHOD_STORED) cxNotifyFailure(record, CX_ENOMEM, 0);
        skipRest(record, record->packedSize);
        return CX_ENOMEM;
    }
    // The tables and the input are written before they are read; the state
    // and the window start zero-filled, so that output never depends on
    // memory left by others.
    memset(ex, 0, offsetof(Expander, litLenLengths));
    memset(ex->window, 0, kWindow);
    ex->discard = discard;
    ex->check = 0xFFFFFFFFu;
    int16_t result = record->method == CX_METHOD_STORED ? copyStored(ex, record) : expandPacked(ex, record);
    uint32_t check = ~ex->check;
    bool damaged = ex->damaged;
    cxFree(ex);
    if (result != CX_OK) return result;
    if (damaged || check != record->checkValue) {
        cxNotifyFailure(record, CX_ECHECK, (int32_t)check);
        return CX_ECHECK;
    }
    return CX_OK;
}

}  // namespace

namespace {

// A file takes whole clusters: at most this much more than its bytes on the
// file systems the engine writes to.
const int64_t kClusterMax = 64 * 1024;

// Free space within a processing run: what the system answered when last
// asked, for that drive, less what the run has written there since, each
// file counted with a cluster more than its bytes. The estimate never
// exceeds what is really free (unless another program fills the drive
// meanwhile, which a check per entry does not catch either), so an entry it
// has room for fits; one it has no room for, or one on another drive, makes
// the engine ask the system again, and the system's answer decides. A run
// writes to one drive, or to few: one is remembered.
struct SpaceRun {
    bool active;
    int drive;  // the drive asked last (0 = A); -1 when none is known
    int64_t left;
} spaceRun;

int64_t freeBytesFor(const EntryInfo* record, int* drive) {
    int letter = 0;
    bool counted = spaceRun.active && cxPlatDriveOf(record->name, &letter);
    if (counted && spaceRun.drive == letter && spaceRun.left >= (int64_t)record->unpackedSize) {
        *drive = letter;
        return spaceRun.left;
    }
    int64_t freeBytes = cxPlatFreeBytes(record->name, drive);
    spaceRun.drive = counted && freeBytes >= 0 ? letter : -1;
    spaceRun.left = freeBytes;
    return freeBytes;
}

// The entry about to be written, on the drive freeBytesFor just asked for.
void countWritten(const EntryInfo* record) {
    if (spaceRun.active && spaceRun.drive >= 0) spaceRun.left -= (int64_t)record->unpackedSize + kClusterMax;
}

}  // namespace

void cxSpaceRunBegin(void) {
    spaceRun = SpaceRun{true, -1, 0};
}

void cxSpaceRunEnd(void) {
    spaceRun = SpaceRun{false, -1, 0};
}

int16_t cxExpandEntry(EntryInfo* record) {
    if (record->source < 0 || record->destination < 0) return CX_ESLOT;

    int drive = 0;
    int64_t freeBytes = freeBytesFor(record, &drive);
    // -1: the system cannot tell; write errors will then speak.
    if (freeBytes >= 0 && freeBytes < (int64_t)record->unpackedSize) {
        cxNotifyFailure(record, CX_EDISK, drive);
        skipRest(record, record->packedSize);
        return CX_EDISK;
    }
    // Counted before the bytes are written: a failure part way may have
    // written some of them.
    countWritten(record);
    return expandEntry(record, false);
}

int16_t cxTestEntry(EntryInfo* record) {
    if (!record) return CX_EARG;
    int16_t tested = cxTestFile(record);
    if (tested < 0) return tested;
    // Protected entries and unknown methods are not expanded: the check
    // value is all that can be tested.
    bool expandable = record->method == CX_METHOD_STORED || record->method == CX_METHOD_PACKED;
    if (!expandable || (record->flags & CX_FLAG_PROTECTED)) return CX_OK;
    int32_t start = cxTell(record->source);
    int32_t destination = record->destination;
    int16_t result = expandEntry(record, true);
    record->destination = destination;
    if (cxSeek(record->source, start, SEEK_SET) != start && result == CX_OK) result = CX_EFAIL;
    return result;
}
