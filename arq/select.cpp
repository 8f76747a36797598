#include "select.h"

#include <errno.h>
#include <string.h>

#include "files.h"
#include "report.h"

namespace {

bool separator(char c) {
    return c == '/' || c == '\\';
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

// Whether the pattern element at p (a character or a class) takes c; *width
// receives the element's length. A "[" without a closing "]" is itself.
bool takes(const char* p, char c, size_t* width) {
    if (*p == '?') {
        *width = 1;
        return true;
    }
    if (*p == '[') {
        const char* q = p + 1;
        bool negate = *q == '!' || *q == '^';
        if (negate) ++q;
        const char* close = strchr(*q ? q + 1 : q, ']');
        if (close) {
            bool in = false;
            for (const char* r = q; r < close; ++r) {
                if (r + 2 < close && r[1] == '-') {
                    in = in || (upper(c) >= upper(r[0]) && upper(c) <= upper(r[2]));
                    r += 2;
                } else {
                    in = in || upper(c) == upper(*r);
                }
            }
            *width = (size_t)(close - p) + 1;
            return in != negate;
        }
    }
    *width = 1;
    return upper(*p) == upper(c) || (separator(*p) && separator(c));
}

// Matches the whole of pattern against name[0..end). A "*" gives back one
// character at a time when what follows does not match, but never takes a
// separator.
bool matchUpTo(const char* p, const char* name, const char* end) {
    const char* t = name;
    const char* starP = nullptr;
    const char* starT = nullptr;
    while (t < end) {
        size_t width = 1;
        if (*p == '*') {
            starP = ++p;
            starT = t;
        } else if (*p && (separator(*t) ? !strchr("?[", *p) : true) && takes(p, *t, &width)) {
            p += width;
            ++t;
        } else if (starP && !separator(*starT)) {
            p = starP;
            t = ++starT;
        } else {
            return false;
        }
    }
    while (*p == '*') ++p;
    return *p == 0;
}

// Reads the entry header at offset again, as raw bytes, to tell an archive
// cut short from one whose header is damaged.
bool truncatedAt(int slot, int32_t offset) {
    int32_t end = cxSeek(slot, 0, SEEK_END);
    if (end < 0 || cxSeek(slot, offset, SEEK_SET) != offset) return false;
    uint32_t available = (uint32_t)(end - offset);
    uint8_t lead[8], signature[4];
    arqSignature(signature, 1);
    if (available < 8) return true;
    if (cxRead(slot, lead, 8) != 8 || memcmp(lead, signature, 4) != 0) return false;
    uint32_t nameLength = lead[6] | (uint32_t)lead[7] << 8;
    if (nameLength > CX_ENTRY_NAME_MAX) return false;
    uint32_t header = 8 + nameLength + 33;
    if (available < header) return true;
    uint8_t body[33];
    if (cxSeek(slot, offset + 8 + (int32_t)nameLength, SEEK_SET) < 0 || cxRead(slot, body, 33) != 33) return false;
    uint32_t packed = body[10] | body[11] << 8 | body[12] << 16 | (uint32_t)body[13] << 24;
    uint32_t extra = body[31] | (uint32_t)body[32] << 8;
    return (uint64_t)header + extra + packed > available;
}

// Whether the bytes before the first entry, at first, belong there: none;
// an archive header right before it; or a program (a self-extracting file)
// with no archive header. Anything else is the damaged start of an
// archive, whose first entry is lost: said here.
bool startIsSound(int slot, int32_t first, const char* shown) {
    if (first == 0) return true;
    int32_t header = cxFindArchiveHeader(nullptr, slot);  // just after the signature
    int32_t from = 0;
    if (header >= 0 && header + 8 <= first) {
        if (header + 8 == first) return true;
        from = header + 8;
    } else {
        uint8_t lead[2] = {0, 0};
        if (cxSeek(slot, 0, SEEK_SET) == 0 && cxRead(slot, lead, 2) == 2 && lead[0] == 'M' && lead[1] == 'Z')
            return true;
    }
    arqError("%s: %ld bytes at offset %ld to %ld are no entry: the archive's start is damaged, and what "
             "stood there is lost",
             arqShown(shown).c_str(), (long)(first - from), (long)from, (long)first - 1);
    return false;
}

}  // namespace

void arqSignature(uint8_t* out, uint8_t kind) {
    static volatile uint8_t mask = 0x5A;
    const uint8_t masked[4] = {0x67 ^ 0x5A, 0x57 ^ 0x5A, 0x04 ^ 0x5A, 0x5A};
    for (int i = 0; i < 4; ++i) out[i] = (uint8_t)(masked[i] ^ mask);
    out[3] = kind;
}

// Calls level(text) for each level of a stored path. Whole characters are
// read: the second byte of a double-byte character is neither a separator
// nor a letter.
template <typename Level>
void eachLevel(const std::string& name, Level level) {
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = start;
        while (end < name.size() && !separator(name[end])) end += arqCharSize(name.c_str() + end);
        level(name.substr(start, end - start));
        start = end + 1;
    }
}

// The level as Windows compares it: trailing dots and blanks dropped (no
// second byte is either), letters upper-cased.
std::string withoutTrailingDots(std::string level) {
    while (!level.empty() && (level.back() == '.' || level.back() == ' ')) level.pop_back();
    for (size_t i = 0; i < level.size(); i += arqCharSize(level.c_str() + i)) level[i] = upper(level[i]);
    return level;
}

std::string arqWindowsKey(const std::string& name) {
    std::string key;
    bool first = true;
    eachLevel(name, [&](const std::string& level) {
        key += (first ? "" : "/") + withoutTrailingDots(level);
        first = false;
    });
    return key;
}

std::string arqDeviceName(const std::string& name) {
    std::string device;
    eachLevel(name, [&](const std::string& level) {
        std::string stem = withoutTrailingDots(level.substr(0, level.find('.')));
        bool numbered = stem.size() == 4 && (stem.compare(0, 3, "COM") == 0 || stem.compare(0, 3, "LPT") == 0) &&
                        stem[3] >= '1' && stem[3] <= '9';
        if (numbered || stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL") device = stem;
    });
    return device;
}

bool arqHasWildcard(const char* text) {
    return strpbrk(text, "*?[") != nullptr;
}

bool arqMatch(const char* pattern, const char* name) {
    while (pattern[0] == '.' && separator(pattern[1])) pattern += 2;
    std::string trimmed = pattern;
    while (trimmed.size() > 1 && separator(trimmed.back())) trimmed.pop_back();
    const char* p = trimmed.c_str();
    const char* end = name + strlen(name);
    if (matchUpTo(p, name, end)) return true;
    for (const char* at = name; at < end; ++at) {
        if (separator(*at) && matchUpTo(p, name, at)) return true;
    }
    return false;
}

ArqSelector::ArqSelector(const std::vector<const char*>& given) : patterns(given), used(given.size(), false) {}

bool ArqSelector::selects(const char* name) {
    if (patterns.empty()) return true;
    bool selected = false;
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (arqMatch(patterns[i], name)) {
            used[i] = true;
            selected = true;
        }
    }
    return selected;
}

int ArqSelector::reportUnused(void) {
    int count = 0;
    for (size_t i = 0; i < patterns.size(); ++i) {
        if (!used[i]) {
            arqError("no entry matches %s", arqShown(patterns[i]).c_str());
            ++count;
        }
    }
    return count;
}

bool arqArchivePath(const char* given, bool forAdding, std::string* path) {
    std::string name = given;
    ArqFileInfo info = arqStat(name);
    std::string base = arqBaseName(name);
    bool extension = base.find('.', 1) != std::string::npos;
    if (info.kind == ARQ_MISSING && !extension) {
        ArqFileInfo withArq = arqStat(name + ".arq");
        if (withArq.kind != ARQ_MISSING || forAdding) {
            name += ".arq";
            info = withArq;
        }
    }
    switch (info.kind) {
    case ARQ_FILE:
        *path = name;
        return true;
    case ARQ_DIRECTORY:
        arqError("%s: is a directory, not an archive", arqShown(name.c_str()).c_str());
        return false;
    case ARQ_OTHER:
        arqError("%s: not a regular file", arqShown(name.c_str()).c_str());
        return false;
    case ARQ_DANGLING:
        arqError("%s: dangling symbolic link", arqShown(name.c_str()).c_str());
        return false;
    case ARQ_MISSING:
        if (forAdding && info.error == ENOENT) {
            *path = name;
            return true;
        }
        arqError("%s: no such archive%s", arqShown(given).c_str(), arqReason(info.error).c_str());
        return false;
    }
    return false;
}

bool arqOpenArchive(const std::string& archive, int flags) {
    // cxOpenArchive upper-cases its argument in place; the caller's text stays.
    std::vector<char> copy(archive.begin(), archive.end());
    copy.push_back(0);
    int16_t result = cxOpenArchive(copy.data(), flags | CX_ARC_ASGIVEN);
    if (result == 0) return true;
    bool system = result == CX_ESLOT || result == CX_ETEMP || result == CX_EFAIL;
    arqError("%s: %s%s", arqShown(archive.c_str()).c_str(), arqCodeText(result), system ? arqReason().c_str() : "");
    return false;
}

int arqWalk(const std::string& archive, const std::function<bool(EntryInfo*)>& visit) {
    const char* shown = archive.c_str();
    int slot = cxArchiveSlot();
    if (slot < 0 || cxSeek(slot, 0, SEEK_SET) != 0) {
        arqError("%s: cannot read%s", arqShown(shown).c_str(), arqReason().c_str());
        return 1;
    }
    EntryInfo record;
    memset(&record, 0, sizeof record);
    record.source = slot;
    record.destination = -1;
    int32_t first = cxFindEntrySignature(nullptr, slot);
    if (first < 0) {
        arqError("%s: not an archive", arqShown(shown).c_str());
        return 1;
    }
    bool damagedStart = !startIsSound(slot, first, shown);
    cxSeek(slot, first, SEEK_SET);
    int entries = 0;
    for (;;) {
        int32_t offset = cxTell(slot);
        int16_t read = cxReadEntryHeader(&record);
        if (read == CX_EEND) break;
        if (read < 0) {
            const char* what = read == CX_EVERSION ? "an entry needs a newer engine"
                               : truncatedAt(slot, offset) ? "truncated"
                                                           : "damaged entry header";
            if (entries == 0) {
                arqError("%s: %s%s", arqShown(shown).c_str(), what,
                         read == CX_EVERSION ? "" : " inside its first entry");
            } else {
                arqError("%s: %s after %d entries", arqShown(shown).c_str(), what, entries);
            }
            return 1;
        }
        ++entries;
        int32_t dataStart = cxTell(slot);
        uint32_t packed = record.packedSize;
        if (!visit(&record)) break;
        record.source = slot;
        record.destination = -1;
        if (cxSeek(slot, dataStart + (int32_t)packed, SEEK_SET) < 0) {
            arqError("%s: seek failed%s", arqShown(shown).c_str(), arqReason().c_str());
            return 1;
        }
    }
    return damagedStart ? 1 : 0;
}
