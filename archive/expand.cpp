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
const unsigned kInput = 4096;             // packed bytes read per file read

// Bit reader: 'bits' holds the next 'count' stream bits at its top, zeros
// below them; refills keep count above 32 so a code (16 bits at most) and
// its extra bits can be taken without checking.
struct BitIn {
    uint64_t bits;
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
    bool damaged;
};

Expander ex;
uint8_t input[kInput];
uint8_t litLenLengths[kLitLen];
uint8_t smallLengths[kCodeLengths];
uint16_t* litLenTable;  // 4,096 entries, kept until cxTerm
uint16_t smallTable[1 << kSmallBits];
uint16_t zeroBranch[kNodes], oneBranch[kNodes];

// Reads the next packed bytes from the file into the input buffer; false
// when none are left (the stream then goes on with zero bits).
bool loadInput(BitIn& in) {
    if (ex.unread == 0) return false;
    uint32_t want = ex.unread < kInput ? ex.unread : kInput;
    int32_t got = cxRead(ex.slot, input, want);
    if (got <= 0) {
        ex.unread = 0;  // the file ended early; the check value will tell
        return false;
    }
    ex.unread -= (uint32_t)got;
    ex.check = cxCrcUpdate(ex.check, input, (size_t)got);
    in.next = input;
    in.end = input + got;
    return true;
}

__attribute__((noinline)) void refillSlow(BitIn& in) {
    while (in.count <= 56) {
        if (in.next == in.end && !loadInput(in)) {
            in.count = 64;  // the bits below are zero: the stream's zero tail
            return;
        }
        in.bits |= (uint64_t)*in.next++ << (56 - in.count);
        in.count += 8;
    }
}

inline void refill(BitIn& in) {
    if (in.count >= 32) return;
    if (in.end - in.next >= 4) {
        const uint8_t* p = in.next;
        uint32_t word = (uint32_t)p[0] << 24 | (uint32_t)p[1] << 16 | (uint32_t)p[2] << 8 | p[3];
        in.bits |= (uint64_t)word << (32 - in.count);
        in.next += 4;
        in.count += 32;
    } else {
        refillSlow(in);
    }
}

inline uint32_t peek32(const BitIn& in) { return (uint32_t)(in.bits >> 32); }

inline void drop(BitIn& in, unsigned n) {
    in.bits <<= n;
    in.count -= (int)n;
}

// n from 0 to 16.
inline unsigned getBits(BitIn& in, unsigned n) {
    refill(in);
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
bool buildTable(unsigned symbols, const uint8_t* lengths, unsigned width, uint16_t* table) {
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
    // incomplete code, unused; they start as 0.
    uint32_t tableSize = 1u << width;
    uint32_t firstLong = start[width + 1] >> shift;
    for (uint32_t i = firstLong; i < tableSize; i++) table[i] = 0;

    unsigned freeNode = symbols;
    uint32_t mask = 1u << (15 - width);
    for (unsigned ch = 0; ch < symbols; ch++) {
        unsigned len = lengths[ch];
        if (len == 0) continue;
        uint32_t next = start[len] + weight[len];
        if (len <= width) {
            for (uint32_t i = start[len]; i < next; i++) table[i] = (uint16_t)ch;
        } else {
            uint32_t k = start[len];
            uint16_t* slot = &table[k >> shift];
            for (unsigned i = len - width; i; i--) {
                if (*slot == 0) {
                    if (freeNode >= kNodes) return false;
                    zeroBranch[freeNode] = oneBranch[freeNode] = 0;
                    *slot = (uint16_t)freeNode++;
                }
                slot = (k & mask) ? &oneBranch[*slot] : &zeroBranch[*slot];
                k <<= 1;
            }
            *slot = (uint16_t)ch;
        }
        start[len] = next;
    }
    return true;
}

// Decodes one symbol; the reader must hold at least 16 bits. A walk that
// leaves the tree marks the stream damaged and yields 'symbols', a value no
// caller takes for a symbol.
inline unsigned decode(BitIn& in, const uint16_t* table, unsigned width, unsigned symbols,
                       const uint8_t* lengths) {
    uint32_t top = peek32(in);
    unsigned j = table[top >> (32 - width)];
    if (j >= symbols) {
        uint32_t bit = 1u << (31 - width);
        // A valid code needs at most 16 - width steps; more is damage.
        for (unsigned steps = 16 - width; j >= symbols; steps--) {
            if (steps == 0 || j >= kNodes) {
                ex.damaged = true;
                return symbols;
            }
            j = (top & bit) ? oneBranch[j] : zeroBranch[j];
            bit >>= 1;
        }
    }
    drop(in, lengths[j]);
    return j;
}

// A code of one symbol: every lookup yields it and takes no bits.
bool singleSymbol(unsigned symbol, unsigned symbols, uint8_t* lengths, uint16_t* table,
                  unsigned tableSize) {
    if (symbol >= symbols) return false;
    memset(lengths, 0, symbols);
    for (unsigned i = 0; i < tableSize; i++) table[i] = (uint16_t)symbol;
    return true;
}

// Lengths of the position code or the code-length code: 3-bit values, with
// 7 extended by a run of 1 bits; after 'special' lengths a 2-bit count of
// zero lengths follows.
bool readSmallCode(BitIn& in, unsigned symbols, unsigned countBits, int special) {
    unsigned n = getBits(in, countBits);
    if (n == 0) {
        return singleSymbol(getBits(in, countBits), symbols, smallLengths, smallTable,
                            1u << kSmallBits);
    }
    if (n > symbols) return false;
    unsigned i = 0;
    while (i < n) {
        refill(in);
        uint32_t top = peek32(in);
        unsigned c = top >> 29;
        if (c == 7) {
            for (uint32_t bit = 1u << 28; top & bit; bit >>= 1) {
                if (++c > 16) return false;
            }
        }
        drop(in, c < 7 ? 3 : c - 3);
        smallLengths[i++] = (uint8_t)c;
        if ((int)i == special) {
            unsigned zeros = getBits(in, 2);
            if (i + zeros > symbols) return false;
            while (zeros--) smallLengths[i++] = 0;
        }
    }
    while (i < symbols) smallLengths[i++] = 0;
    return buildTable(symbols, smallLengths, kSmallBits, smallTable);
}

// Literal/length code lengths, coded with the code-length code.
bool readLitLenCode(BitIn& in) {
    unsigned n = getBits(in, 9);
    if (n == 0) {
        return singleSymbol(getBits(in, 9), kLitLen, litLenLengths, litLenTable, 1u << kLitBits);
    }
    if (n > kLitLen) return false;
    unsigned i = 0;
    while (i < n) {
        refill(in);
        unsigned c = decode(in, smallTable, kSmallBits, kCodeLengths, smallLengths);
        if (c >= kCodeLengths) return false;
        if (c <= 2) {
            unsigned zeros = c == 0 ? 1 : c == 1 ? getBits(in, 4) + 3 : getBits(in, 9) + 20;
            if (i + zeros > kLitLen) return false;
            memset(litLenLengths + i, 0, zeros);
            i += zeros;
        } else {
            litLenLengths[i++] = (uint8_t)(c - 2);
        }
    }
    if (i < kLitLen) memset(litLenLengths + i, 0, kLitLen - i);
    return buildTable(kLitLen, litLenLengths, kLitBits, litLenTable);
}

bool readBlockHeader(BitIn& in) {
    ex.blockLeft = (uint16_t)getBits(in, 16);
    if (!readSmallCode(in, kCodeLengths, 5, 3) || !readLitLenCode(in) ||
        !readSmallCode(in, kPositions, 4, -1)) {
        ex.damaged = true;
        return false;
    }
    return true;
}

// Copies 'length' bytes from window position 'from' to 'to'; the caller
// makes sure neither range wraps. A source just behind the target repeats
// bytes as they are produced.
inline void copyMatch(uint8_t* window, unsigned to, unsigned from, unsigned length) {
    if (from >= to || to - from >= length) {
        memmove(window + to, window + from, length);
    } else {
        uint8_t* d = window + to;
        const uint8_t* s = window + from;
        for (unsigned k = 0; k < length; k++) d[k] = s[k];
    }
}

// Expands the next n bytes (n <= 8,192) into the window, which is also the
// history: window index r is the output position modulo 8,192. False when
// the stream is damaged.
bool expandChunk(uint8_t* window, unsigned n) {
    BitIn in = ex.in;
    unsigned r = 0;
    bool ok = true;

    // A match left over from the previous chunk.
    while (ex.pending && r < n) {
        window[r++] = window[ex.copyFrom];
        ex.copyFrom = (ex.copyFrom + 1) & kWindowMask;
        ex.pending--;
    }

    while (r < n) {
        if (ex.blockLeft == 0) {
            if (!readBlockHeader(in)) {
                ok = false;
                break;
            }
        }
        ex.blockLeft--;  // 16-bit: a block count of 0 stands for 65,536
        refill(in);
        unsigned c = decode(in, litLenTable, kLitBits, kLitLen, litLenLengths);
        if (c < 256) {
            window[r++] = (uint8_t)c;
            continue;
        }
        if (c >= kLitLen) {
            ok = false;
            break;
        }
        unsigned length = c - 253;
        refill(in);
        unsigned j = decode(in, smallTable, kSmallBits, kPositions, smallLengths);
        unsigned distance = 0;
        if (j >= kPositions) {
            ok = false;
            break;
        }
        if (j) distance = (1u << (j - 1)) + getBits(in, j - 1);
        if (distance >= ex.produced + r) {
            // Damage, or a match reaching back before the first byte.
            ex.damaged = true;
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
            ex.pending = length;
            ex.copyFrom = from;
        }
    }
    ex.in = in;
    ex.produced += r;
    return ok;
}

int16_t skipRest(EntryInfo* record, uint32_t left) {
    if (left == 0) return CX_OK;
    if (left > 0x7FFFFFFFu) return CX_EFAIL;
    return cxSeek(record->source, (int32_t)left, SEEK_CUR) < 0 ? CX_EFAIL : CX_OK;
}

// Method 1: the stored bytes are the file.
int16_t copyStored(EntryInfo* record) {
    cxNotify(record, CXCB_STORED, 0);
    uint32_t size = 4096;
    uint8_t* buffer = (uint8_t*)cxAllocHalving(&size);
    if (!buffer) {
        cxNotify(record, CX_ENOMEM, 0);
        skipRest(record, record->packedSize);
        return CX_ENOMEM;
    }
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
        uint32_t want = total - done < size ? total - done : size;
        int32_t got = cxRead(record->source, buffer, want);
        if (got <= 0) break;  // a short file: the check value tells
        ex.check = cxCrcUpdate(ex.check, buffer, (size_t)got);
        done += (uint32_t)got;
        if (cxWrite(record->destination, buffer, (uint32_t)got) != got) {
            result = CX_EWRITE;
            break;
        }
        if (++chunks % 8 == 0 && cxHasCallback()) cxNotify(record, CXCB_EXPAND, (int32_t)done);
        if ((uint32_t)got < want) break;
    }
    free(buffer);
    if (result == CX_OK && record->stopCode == CX_STOP && done < total) result = CX_ESTOPPED;
    skipRest(record, record->packedSize - done);
    if (result != CX_OK) return result;
    // Sizes that disagree in a stored entry mean the header was damaged.
    if (record->unpackedSize != record->packedSize) ex.damaged = true;
    cxNotify(record, CXCB_EXTRACTED, 0);
    return CX_OK;
}

// Method 2.
int16_t expandPacked(EntryInfo* record) {
    if (!litLenTable) {
        litLenTable = (uint16_t*)malloc((1u << kLitBits) * sizeof(uint16_t));
        if (!litLenTable) {
            skipRest(record, record->packedSize);
            return CX_ENOMEM;
        }
    }
    // Zero-filled so that output never depends on memory left by others.
    uint8_t* window = (uint8_t*)calloc(kWindow, 1);
    if (!window) {
        skipRest(record, record->packedSize);
        return CX_ENOMEM;
    }
    ex.slot = record->source;
    ex.unread = record->packedSize;
    ex.in.bits = 0;
    ex.in.count = 0;
    ex.in.next = ex.in.end = input;
    ex.blockLeft = 0;
    ex.pending = 0;
    ex.copyFrom = 0;
    ex.produced = 0;
    refill(ex.in);

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
        if (!expandChunk(window, n)) break;
        if (cxWrite(record->destination, window, n) != (int32_t)n) {
            result = CX_EWRITE;
            break;
        }
        done += n;
    }
    free(window);
    if (result == CX_OK && !ex.damaged && record->stopCode == CX_STOP && done < record->unpackedSize)
        result = CX_ESTOPPED;

    // The check value covers every stored byte; bytes the stream did not
    // need (none in a sound entry) are read too, which also leaves the
    // source at the end of the entry's data.
    if (result == CX_OK && !ex.damaged) {
        while (ex.unread && loadInput(ex.in)) {
        }
    }
    skipRest(record, ex.unread);
    if (result == CX_OK && !ex.damaged) cxNotify(record, CXCB_EXTRACTED, 0);
    return result;
}

}  // namespace

void cxExpandRelease(void) {
    free(litLenTable);
    litLenTable = nullptr;
}

int16_t cxExpandEntry(EntryInfo* record) {
    if (record->source < 0 || record->destination < 0) return CX_ESLOT;

    int drive = 0;
    int32_t freeBytes = cxPlatFreeBytes(record->name, &drive);
    // -1: the system cannot tell; write errors will then speak.
    if (freeBytes >= 0 && (uint32_t)freeBytes < record->unpackedSize) {
        cxNotify(record, CX_EDISK, drive);
        skipRest(record, record->packedSize);
        return CX_EDISK;
    }

    ex.check = 0xFFFFFFFFu;
    ex.damaged = false;
    if (!cxCrcReady()) {
        skipRest(record, record->packedSize);
        return CX_ENOMEM;
    }
    if (record->flags & CX_FLAG_PROTECTED) {
        cxNotify(record, CX_EPROTECTED, 0);
        skipRest(record, record->packedSize);
        return CX_OK;
    }

    int16_t result;
    bool known = record->method == CX_METHOD_STORED || record->method == CX_METHOD_PACKED;
    if (record->method == CX_METHOD_STORED) {
        result = copyStored(record);
    } else if (record->method == CX_METHOD_PACKED) {
        result = expandPacked(record);
    } else {
        cxNotify(record, CXCB_UNKNOWN, 0);
        skipRest(record, record->packedSize);
        result = CX_OK;
    }
    if (result != CX_OK && result != CX_ECHECK) return result;

    // An unknown method leaves the running value as it started.
    uint32_t check = known ? ~ex.check : ex.check;
    if (ex.damaged || check != record->checkValue) {
        cxNotify(record, CX_ECHECK, (int32_t)check);
        return CX_ECHECK;
    }
    return CX_OK;
}
