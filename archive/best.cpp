// The near-optimal parse of CX_PACK_BEST: the same stream as the default
// parse (pack.cpp), expanded by the same expander, in fewer bytes.
//
// The file is read in segments of 256 KB (with the 8,192 bytes before each
// as history). For every position of a segment a binary-tree match finder
// lists the matches worth sending: for each length, the nearest one (a
// nearer match never costs more bits). A shortest-path search over the
// positions then chooses literals and matches by their cost in bits under a
// given set of codes. The segment is parsed under guessed codes, then under
// the codes of that parse, and cut into blocks: each cut is placed where the
// two sides' entropy is least and kept where separate codes cost fewer bits
// than shared ones (headers included). Each block is parsed again under its
// own codes while that makes it smaller, at most three times (later rounds
// gain a few bytes in a hundred thousand). Blocks are sent by the block
// encoder of pack.cpp; every choice is deterministic and made in integer
// arithmetic, so the same file gives the same bytes on every machine.
#include <stdlib.h>
#include <string.h>

#include "packer.h"

namespace cxpack {

namespace {

const unsigned kSegment = 256 * 1024;          // at most; a smaller file takes less
const unsigned kMaxDistance = kDic;           // position value 8,191
const unsigned kTreeSize = 2 * kDic;          // tree slots: positions modulo this
const unsigned kHashBits = 16;                // of a segment of 64 KB or more; 12 below
const unsigned kDepth = 96;                   // tree nodes visited at most
const unsigned kNice = 256;                   // a match this long is taken as it is
const unsigned kSegmentRounds = 2;            // parses of a whole segment
const unsigned kBlockRounds = 3;              // further parses of each block
const unsigned kGrid = 512;                   // block boundaries fall on multiples (items)
const uint32_t kInfinite = 0xFFFFFFFFu;
// Counts of more symbols than a block holds are scaled to about this many
// (some room left for the counts rounded up) to build codes from them.
const uint32_t kScaledTotal = kMaxBlock - 1024;
// Absolute position of the file's first byte: every position in the tree is
// larger than kMaxDistance, so 0 stands for "none".
const uint32_t kFirst = 2 * kDic;

struct Match {
    uint16_t length;
    uint16_t distance;
};

// One step of a parse: a literal (length 1) or a match.
struct Step {
    uint16_t length;
    uint16_t distance;
};

// Costs in bits under one set of codes.
struct Costs {
    uint32_t literal[256];
    uint32_t length[kMaxMatch + 1];  // by match length 3..256
    uint32_t position[kPositions];   // by position symbol, extra bits included
};

struct Best {
    Packer* pk;
    unsigned segment;  // bytes parsed together (kSegment, or less for a small file)
    unsigned span;     // segment and look-ahead: what the arrays hold
    uint8_t* text;     // [0, kDic) history, then the segment and what follows
    uint32_t textAbs;  // absolute position of text[kDic]
    unsigned have;     // bytes from text[kDic] on
    bool atEnd;        // the source is read to its end
    uint32_t* head;     // by hash of three bytes: the latest position
    unsigned hashBits;
    uint32_t* smaller;  // tree links by position modulo kTreeSize
    uint32_t* larger;

    uint32_t* matchStart;  // per position of the segment, into matches
    Match* matches;
    uint32_t matchCapacity;

    uint32_t* cost;    // per position: cheapest cost to reach it
    Step* from;        // per position: the step that reaches it so
    Step* path;        // a parse, in order
    Step* segmentPath;
    Step* blockPath;   // the best parse of one block so far
    uint32_t* pathAt;  // position of each step of segmentPath
    uint32_t* cumulative;  // per grid point: counts of the 510 + 14 symbols
    uint32_t* cuts;        // block boundaries, in steps of segmentPath
};

// The position symbol of a match distance (its position value is distance - 1).
inline unsigned positionSymbol(unsigned distance) {
    return bitCount(distance - 1);
}

// ---- match finder --------------------------------------------------------------

// The text of an absolute position of the tree: of this segment or of the
// history before it.
inline const uint8_t* textAt(const Best* b, uint32_t absolute) {
    return b->text + kDic + (int32_t)(absolute - b->textAbs);
}

inline uint32_t hash3(const uint8_t* s, unsigned bits) {
    uint32_t v = (uint32_t)s[0] << 16 | (uint32_t)s[1] << 8 | s[2];
    return (v * 2654435761u) >> (32 - bits);
}

// How far t and s agree from 'length' on, up to 'limit'; eight bytes at a
// time where the byte order lets the first difference be found by its bit.
inline unsigned commonLength(const uint8_t* t, const uint8_t* s, unsigned length, unsigned limit) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    while (length + 8 <= limit) {
        uint64_t a, b;
        memcpy(&a, t + length, 8);
        memcpy(&b, s + length, 8);
        if (a != b) return length + (unsigned)__builtin_ctzll(a ^ b) / 8;
        length += 8;
    }
#endif
    while (length < limit && t[length] == s[length]) length++;
    return length;
}

// Enters the position at text[kDic + at] into the tree of its hash; with
// 'out', lists the matches found, each longer and farther than the one
// before, and returns their count. maxLength: bytes the file has from here.
unsigned insert(Best* b, unsigned at, unsigned maxLength, Match* out) {
    if (maxLength > kMaxMatch) maxLength = kMaxMatch;
    if (maxLength < kThreshold) return 0;
    const uint8_t* s = b->text + kDic + at;
    uint32_t cur = b->textAbs + at;
    uint32_t* head = &b->head[hash3(s, b->hashBits)];
    uint32_t node = *head;
    *head = cur;
    uint32_t* smallerLink = &b->smaller[cur % kTreeSize];
    uint32_t* largerLink = &b->larger[cur % kTreeSize];
    unsigned smallerLength = 0, largerLength = 0, best = kThreshold - 1, found = 0;
    for (unsigned depth = kDepth;; depth--) {
        if (node == 0 || cur - node > kMaxDistance || depth == 0) {
            *smallerLink = *largerLink = 0;
            break;
        }
        const uint8_t* t = textAt(b, node);
        unsigned length = commonLength(t, s, smallerLength < largerLength ? smallerLength : largerLength, maxLength);
        if (length > best) {
            best = length;
            if (out) out[found++] = Match{(uint16_t)length, (uint16_t)(cur - node)};
        }
        if (length >= maxLength) {  // the same string: the new node takes its subtrees
            *smallerLink = b->smaller[node % kTreeSize];
            *largerLink = b->larger[node % kTreeSize];
            break;
        }
        if (t[length] < s[length]) {
            *smallerLink = node;
            smallerLink = &b->larger[node % kTreeSize];
            node = *smallerLink;
            smallerLength = length;
        } else {
            *largerLink = node;
            largerLink = &b->smaller[node % kTreeSize];
            node = *largerLink;
            largerLength = length;
        }
    }
    return found;
}

// Lists the matches of every position of the segment [0, span). Positions
// inside a match of kNice bytes or more are entered but list none.
bool findMatches(Best* b, unsigned span) {
    uint32_t used = 0;
    unsigned skip = 0;
    Match found[kMaxMatch];
    for (unsigned at = 0; at < span; at++) {
        b->matchStart[at] = used;
        unsigned count = insert(b, at, b->have - at, skip ? nullptr : found);
        if (skip) {
            skip--;
            continue;
        }
        if (used + count > b->matchCapacity) {
            uint32_t capacity = b->matchCapacity * 2;
            Match* grown = (Match*)cxAlloc(capacity * sizeof(Match));
            if (!grown) return false;
            memcpy(grown, b->matches, used * sizeof(Match));
            cxFree(b->matches);
            b->matches = grown;
            b->matchCapacity = capacity;
        }
        memcpy(b->matches + used, found, count * sizeof(Match));
        used += count;
        if (count && found[count - 1].length >= kNice) skip = found[count - 1].length - 1;
    }
    b->matchStart[span] = used;
    return true;
}

// ---- costs and the shortest path -------------------------------------------------

// Costs from the code lengths that blockBits left; a symbol without a code
// costs a little more than the longest code.
void costsFromCodes(const Packer* pk, Costs* costs) {
    unsigned longest = 0;
    for (unsigned c = 0; c < kLitLen; c++)
        if (pk->litLenLength[c] > longest) longest = pk->litLenLength[c];
    unsigned absent = longest + 2;
    for (unsigned c = 0; c < 256; c++) costs->literal[c] = pk->litLenLength[c] ? pk->litLenLength[c] : absent;
    for (unsigned l = kThreshold; l <= kMaxMatch; l++) {
        unsigned c = l + 256 - kThreshold;
        costs->length[l] = pk->litLenLength[c] ? pk->litLenLength[c] : absent;
    }
    unsigned longestPosition = 0;
    for (unsigned k = 0; k < kPositions; k++)
        if (pk->smallLength[k] > longestPosition) longestPosition = pk->smallLength[k];
    for (unsigned k = 0; k < kPositions; k++) {
        unsigned code = pk->smallLength[k] ? pk->smallLength[k] : longestPosition + 2;
        costs->position[k] = code + positionExtraBits(k);
    }
}

// Costs before any code is known: literals of 8 bits, short matches a little
// dearer than long ones.
void startingCosts(Costs* costs) {
    for (unsigned c = 0; c < 256; c++) costs->literal[c] = 8;
    for (unsigned l = kThreshold; l <= kMaxMatch; l++) costs->length[l] = l < 16 ? 6 : 10;
    for (unsigned k = 0; k < kPositions; k++) costs->position[k] = 3 + positionExtraBits(k);
}

// The cheapest parse of positions [from, to) of the segment under 'costs':
// its steps in b->path; returns their count.
unsigned shortestPath(Best* b, unsigned from, unsigned to, const Costs* costs) {
    unsigned n = to - from;
    uint32_t* cost = b->cost;
    Step* step = b->from;
    for (unsigned i = 1; i <= n; i++) cost[i] = kInfinite;
    cost[0] = 0;
    const uint8_t* text = b->text + kDic + from;
    for (unsigned i = 0; i < n; i++) {
        uint32_t here = cost[i];
        uint32_t viaLiteral = here + costs->literal[text[i]];
        if (viaLiteral < cost[i + 1]) {
            cost[i + 1] = viaLiteral;
            step[i + 1] = Step{1, 0};
        }
        unsigned length = kThreshold;
        unsigned room = n - i;
        const Match* m = b->matches + b->matchStart[from + i];
        const Match* end = b->matches + b->matchStart[from + i + 1];
        for (; m < end && length <= room; m++) {
            uint32_t base = here + costs->position[positionSymbol(m->distance)];
            unsigned last = m->length < room ? m->length : room;
            for (; length <= last; length++) {
                uint32_t c = base + costs->length[length];
                if (c < cost[i + length]) {
                    cost[i + length] = c;
                    step[i + length] = Step{(uint16_t)length, m->distance};
                }
            }
        }
    }
    unsigned count = 0;
    for (unsigned i = n; i > 0; i -= step[i].length) count++;
    unsigned k = count;
    for (unsigned i = n; i > 0; i -= step[i].length) b->path[--k] = step[i];
    return count;
}

// ---- blocks ------------------------------------------------------------------------

const unsigned kSymbols = kLitLen + kPositions;  // counts: literal/length, then position symbols

// Adds the symbols of steps that begin at text to counts.
void countSteps(uint32_t* counts, const uint8_t* text, const Step* steps, unsigned count) {
    for (unsigned i = 0; i < count; i++) {
        const Step& s = steps[i];
        if (s.length == 1) {
            counts[*text]++;
        } else {
            counts[s.length + 256 - kThreshold]++;
            counts[kLitLen + positionSymbol(s.distance)]++;
        }
        text += s.length;
    }
}

// Bits of one block with these symbol counts; its codes stay in the packer
// for costsFromCodes. Counts of more symbols than a block holds are scaled
// down to build the codes, and the bits are those of the real counts.
uint32_t countsBits(Packer* pk, const uint32_t* counts) {
    uint32_t total = 0;
    for (unsigned c = 0; c < kLitLen; c++) total += counts[c];
    uint32_t scale = total / kScaledTotal + 1;
    for (unsigned c = 0; c < kSymbols; c++) {
        uint32_t f = counts[c] ? (counts[c] / scale ? counts[c] / scale : 1) : 0;
        if (c < kLitLen) pk->litLenFreq[c] = (uint16_t)f;
        else pk->positionFreq[c - kLitLen] = (uint16_t)f;
    }
    uint32_t bits = blockBits(pk);
    if (scale == 1) return bits;
    uint64_t data = 0, scaled = 0;
    for (unsigned c = 0; c < kSymbols; c++) {
        unsigned each =
            c < kLitLen ? pk->litLenLength[c] : pk->smallLength[c - kLitLen] + positionExtraBits(c - kLitLen);
        data += (uint64_t)counts[c] * each;
        scaled += (uint64_t)(c < kLitLen ? pk->litLenFreq[c] : pk->positionFreq[c - kLitLen]) * each;
    }
    uint64_t exact = bits - scaled + data;
    return exact >= kInfinite ? kInfinite - 1 : (uint32_t)exact;
}

// Exact bits of a block made of these steps, which begin at position from.
uint32_t stepsBits(Best* b, unsigned from, const Step* steps, unsigned count) {
    uint32_t counts[kSymbols] = {0};
    countSteps(counts, b->text + kDic + from, steps, count);
    return countsBits(b->pk, counts);
}

// Bits of a block of the segment parse's steps between two grid points.
uint32_t rangeBits(Best* b, unsigned fromGrid, unsigned toGrid) {
    const uint32_t* lo = b->cumulative + (size_t)fromGrid * kSymbols;
    const uint32_t* hi = b->cumulative + (size_t)toGrid * kSymbols;
    uint32_t counts[kSymbols];
    for (unsigned c = 0; c < kSymbols; c++) counts[c] = hi[c] - lo[c];
    return countsBits(b->pk, counts);
}

// log2 of 1 + i / 4096 for i = 0..4095 in 16.16 fixed point, found by
// integer steps alone so that the cuts (and with them the bytes) are the same
// on every machine and compiler; made on first use.
const unsigned kMantissaBits = 12;
uint32_t log2Mantissa[1u << kMantissaBits];
bool log2MantissaMade = false;

void makeLog2Mantissa() {
    for (uint32_t i = 0; i < (1u << kMantissaBits); i++) {
        uint64_t x = (uint64_t)((1u << kMantissaBits) + i) << (31 - kMantissaBits);  // in [1, 2), 31 fraction bits
        uint32_t fraction = 0;
        for (uint32_t bit = 1u << 15; bit; bit >>= 1) {
            x = (x * x) >> 31;
            if (x >> 32) {
                x >>= 1;
                fraction |= bit;
            }
        }
        log2Mantissa[i] = fraction;
    }
    log2MantissaMade = true;
}

// n log2 n (16.16; log2 n from n's first 13 significant bits). A symbol seen
// n times among t costs ideally n log2 t - n log2 n bits.
inline uint64_t nLogN(uint32_t n) {
    if (n < 2) return 0;
    unsigned whole = 31 - (unsigned)__builtin_clz(n);
    uint32_t m = whole >= kMantissaBits ? n >> (whole - kMantissaBits) : n << (kMantissaBits - whole);
    return (uint64_t)n * (whole << 16 | log2Mantissa[m - (1u << kMantissaBits)]);
}

// The data's bits between two grid points under ideal codes of their own
// (entropy, header and extra bits left out), 16.16: a quick measure to
// place a cut.
uint64_t rangeEntropy(const Best* b, unsigned fromGrid, unsigned toGrid) {
    const uint32_t* lo = b->cumulative + (size_t)fromGrid * kSymbols;
    const uint32_t* hi = b->cumulative + (size_t)toGrid * kSymbols;
    uint64_t symbolTerms = 0;
    uint32_t litLen = 0, positions = 0;
    for (unsigned c = 0; c < kSymbols; c++) {
        uint32_t n = hi[c] - lo[c];
        if (c < kLitLen) litLen += n;
        else positions += n;
        symbolTerms += nLogN(n);
    }
    return nLogN(litLen) + nLogN(positions) - symbolTerms;
}

// Cuts grid range [from, to) where two blocks cost fewer bits than one (or
// where one would hold too many symbols), recursively; appends the cuts.
// The cut is placed where the two halves' entropy is least; whether it is
// made is decided by the exact bits, headers included.
void splitRange(Best* b, unsigned from, unsigned to, unsigned* cutCount) {
    if (to - from < 2) return;
    bool tooLong = (to - from) * kGrid > kMaxBlock;
    uint64_t leastEntropy = 0;
    unsigned bestCut = (from + to) / 2;
    for (unsigned g = from + 1; g < to; g++) {
        uint64_t sum = rangeEntropy(b, from, g) + rangeEntropy(b, g, to);
        if (g == from + 1 || sum < leastEntropy) {
            leastEntropy = sum;
            bestCut = g;
        }
    }
    if (!tooLong) {
        uint32_t left = rangeBits(b, from, bestCut), right = rangeBits(b, bestCut, to);
        if ((uint64_t)left + right >= rangeBits(b, from, to)) return;
    }
    splitRange(b, from, bestCut, cutCount);
    b->cuts[(*cutCount)++] = bestCut * kGrid;
    splitRange(b, bestCut, to, cutCount);
}

// Block boundaries of the segment's parse, in steps; returns their count
// (the last is the parse's end).
unsigned chooseBlocks(Best* b, unsigned steps) {
    if (!log2MantissaMade) makeLog2Mantissa();
    unsigned grids = (steps + kGrid - 1) / kGrid;
    uint32_t* row = b->cumulative;
    memset(row, 0, kSymbols * sizeof *row);
    for (unsigned g = 1; g <= grids; g++) {
        uint32_t* next = row + kSymbols;
        memcpy(next, row, kSymbols * sizeof *row);
        unsigned first = (g - 1) * kGrid, last = g * kGrid < steps ? g * kGrid : steps;
        countSteps(next, b->text + kDic + b->pathAt[first], b->segmentPath + first, last - first);
        row = next;
    }
    unsigned cutCount = 0;
    // The last grid cell may be short: its end is the parse's end.
    splitRange(b, 0, grids, &cutCount);
    b->cuts[cutCount++] = steps;
    return cutCount;
}

// Parses positions [from, to) again under codes of their own while that
// makes the block smaller, starting from the segment's parse of them, and
// sends it. 'last': the file's last block, left for endEncoder.
void sendBlock(Best* b, unsigned from, unsigned to, const Step* initial, unsigned initialCount, bool last) {
    Packer* pk = b->pk;
    const Step* kept = initial;
    unsigned keptCount = initialCount;
    uint32_t keptBits = stepsBits(b, from, initial, initialCount);
    Costs costs;
    for (unsigned round = 0; round < kBlockRounds; round++) {
        costsFromCodes(pk, &costs);  // of the parse kept last
        unsigned count = shortestPath(b, from, to, &costs);
        uint32_t bits = count <= kMaxBlock ? stepsBits(b, from, b->path, count) : kInfinite;
        if (bits >= keptBits) break;
        memcpy(b->blockPath, b->path, count * sizeof(Step));
        kept = b->blockPath;
        keptCount = count;
        keptBits = bits;
    }
    // The encoder counts the items it is given afresh.
    memset(pk->litLenFreq, 0, kLitLen * sizeof pk->litLenFreq[0]);
    memset(pk->positionFreq, 0, kPositions * sizeof pk->positionFreq[0]);
    const uint8_t* text = b->text + kDic + from;
    for (unsigned i = 0; i < keptCount && !pk->notSmaller; i++) {
        const Step& s = kept[i];
        if (s.length == 1) outputItem(pk, *text, 0);
        else outputItem(pk, s.length + 256 - kThreshold, s.distance - 1u);
        text += s.length;
    }
    if (!last && !pk->notSmaller) endBlock(pk);
}

// Reads until the text holds a whole segment and the look-ahead behind it,
// or the file's end.
void fill(Best* b) {
    while (!b->atEnd && b->have < b->span) {
        uint32_t got = readSource(b->pk, b->text + kDic + b->have, b->span - b->have);
        if (got == 0) b->atEnd = true;
        b->have += got;
        b->pk->unpackedCount += got;
    }
}

// Parses and sends one segment: its first 'span' positions.
bool packSegment(Best* b, unsigned span, bool lastSegment) {
    if (!findMatches(b, span)) return false;
    Costs costs;
    startingCosts(&costs);
    unsigned steps = 0;
    for (unsigned round = 0; round < kSegmentRounds; round++) {
        steps = shortestPath(b, 0, span, &costs);
        if (round + 1 < kSegmentRounds) {  // codes of the whole segment for the next round
            uint32_t counts[kSymbols] = {0};
            countSteps(counts, b->text + kDic, b->path, steps);
            countsBits(b->pk, counts);
            costsFromCodes(b->pk, &costs);
        }
    }
    memcpy(b->segmentPath, b->path, steps * sizeof(Step));
    for (unsigned i = 0, at = 0; i < steps; at += b->segmentPath[i++].length) b->pathAt[i] = at;
    unsigned blocks = chooseBlocks(b, steps);
    unsigned first = 0;
    for (unsigned k = 0; k < blocks && !b->pk->notSmaller; k++) {
        unsigned end = b->cuts[k];
        unsigned from = b->pathAt[first];
        unsigned to = end < steps ? b->pathAt[end] : span;
        sendBlock(b, from, to, b->segmentPath + first, end - first, lastSegment && k + 1 == blocks);
        first = end;
    }
    return true;
}

void releaseBest(Best* b) {
    cxFree(b->text);
    cxFree(b->head);
    cxFree(b->smaller);
    cxFree(b->larger);
    cxFree(b->matchStart);
    cxFree(b->matches);
    cxFree(b->cost);
    cxFree(b->from);
    cxFree(b->path);
    cxFree(b->segmentPath);
    cxFree(b->blockPath);
    cxFree(b->pathAt);
    cxFree(b->cumulative);
    cxFree(b->cuts);
}

// Arrays for segments of the file's size, up to kSegment (a file that grows
// while it is read is parsed in more segments).
bool allocBest(Best* b, uint32_t fileSize) {
    b->segment = fileSize < kSegment ? (fileSize / kGrid + 1) * kGrid : kSegment;
    b->span = b->segment + kMaxMatch;
    unsigned span = b->span;
    unsigned grids = span / kGrid + 2;
    b->matchCapacity = span * 4;
    b->text = (uint8_t*)cxAllocZero(kDic + span);
    b->hashBits = b->segment < 65536 ? 12 : kHashBits;
    b->head = (uint32_t*)cxAllocZero(((size_t)1 << b->hashBits) * sizeof(uint32_t));
    b->smaller = (uint32_t*)cxAllocZero(kTreeSize * sizeof(uint32_t));
    b->larger = (uint32_t*)cxAllocZero(kTreeSize * sizeof(uint32_t));
    b->matchStart = (uint32_t*)cxAlloc((span + 1) * sizeof(uint32_t));
    b->matches = (Match*)cxAlloc(b->matchCapacity * sizeof(Match));
    b->cost = (uint32_t*)cxAlloc((span + 1) * sizeof(uint32_t));
    b->from = (Step*)cxAlloc((span + 1) * sizeof(Step));
    b->path = (Step*)cxAlloc(span * sizeof(Step));
    b->segmentPath = (Step*)cxAlloc(span * sizeof(Step));
    b->blockPath = (Step*)cxAlloc(span * sizeof(Step));
    b->pathAt = (uint32_t*)cxAlloc(span * sizeof(uint32_t));
    b->cumulative = (uint32_t*)cxAlloc((size_t)(grids + 1) * kSymbols * sizeof(uint32_t));
    b->cuts = (uint32_t*)cxAlloc((grids + 1) * sizeof(uint32_t));
    return b->text && b->head && b->smaller && b->larger && b->matchStart && b->matches && b->cost && b->from &&
           b->path && b->segmentPath && b->blockPath && b->pathAt && b->cumulative && b->cuts;
}

}  // namespace

int16_t packBest(Packer* pk, EntryInfo* record) {
    Best b;
    memset(&b, 0, sizeof b);
    b.pk = pk;
    // Room for a block of 65,535 matches: three bytes each, a flag byte per eight.
    unsigned itemBytes = kMaxBlock * 3 + kMaxBlock / 8 + 64;
    if (!allocBest(&b, record->unpackedSize) || !startEncoder(pk, itemBytes, itemBytes)) {
        releaseBest(&b);
        return CX_ENOMEM;
    }
    b.textAbs = kFirst;
    int16_t result = CX_OK;
    fill(&b);
    while (b.have > 0 && !pk->notSmaller && record->stopCode != CX_STOP) {
        bool lastSegment = b.atEnd && b.have <= b.span;
        unsigned span = lastSegment ? b.have : b.segment;
        if (!packSegment(&b, span, lastSegment)) {
            result = CX_ENOMEM;
            break;
        }
        // The last kDic bytes of this segment become the next one's history.
        memmove(b.text, b.text + span, kDic + b.have - span);
        b.textAbs += span;
        b.have -= span;
        fill(&b);
        if (cxHasCallback()) cxNotify(record, CXCB_PACK, (int32_t)pk->unpackedCount);
    }
    if (result == CX_OK) endEncoder(pk);
    else {
        cxFree(pk->items);
        pk->items = nullptr;
    }
    releaseBest(&b);
    return result;
}

}  // namespace cxpack
