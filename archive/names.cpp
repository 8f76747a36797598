// A map from entry names to pointers, compared as the engine compares names:
// without regard to ASCII letter case (unless the map is exactCase, for
// archives whose names keep their case), with "/" and "\" the same. It lets a
// pass over thousands of entries look each one up in constant time instead
// of walking every name or operation per entry.
#include <stdlib.h>
#include <string.h>

#include "cxint.h"

namespace {

// The form in which two names are the same: upper-case ASCII letters, "\"
// between levels.
inline unsigned char fold(char c, bool exactCase) {
    if (!exactCase && c >= 'a' && c <= 'z') return (unsigned char)(c - 'a' + 'A');
    return c == '/' ? (unsigned char)'\\' : (unsigned char)c;
}

// The second byte of a double-byte character is never folded.
uint32_t hashName(const char* name, bool exactCase) {
    uint32_t hash = 2166136261u;  // FNV-1a
    for (; *name; ++name) {
        bool whole = cxPlatCharSize(name) == 2;
        hash = (hash ^ fold(*name, exactCase)) * 16777619u;
        if (whole) hash = (hash ^ (unsigned char)*++name) * 16777619u;
    }
    return hash;
}

bool sameFolded(const char* a, const char* b, bool exactCase) {
    while (*a && fold(*a, exactCase) == fold(*b, exactCase)) {
        if (cxPlatCharSize(a) == 2) {
            if (a[1] != b[1]) return false;
            ++a;
            ++b;
        }
        ++a;
        ++b;
    }
    return fold(*a, exactCase) == fold(*b, exactCase);
}

// The item of name, or the empty item where it would go. The table is never
// full (it grows at half), so the probe ends.
CxNameMap::Item* find(const CxNameMap* map, const char* name) {
    uint32_t mask = map->capacity - 1;
    for (uint32_t i = hashName(name, map->exactCase) & mask;; i = (i + 1) & mask) {
        CxNameMap::Item* item = &map->items[i];
        if (!item->name || sameFolded(item->name, name, map->exactCase)) return item;
    }
}

bool grow(CxNameMap* map) {
    uint32_t capacity = map->capacity ? map->capacity * 2 : 64;
    CxNameMap bigger = {(CxNameMap::Item*)cxAllocZero(capacity * sizeof(CxNameMap::Item)), capacity, 0,
                        map->exactCase};
    if (!bigger.items) return false;
    for (uint32_t i = 0; i < map->capacity; ++i) {
        if (map->items[i].name) {
            *find(&bigger, map->items[i].name) = map->items[i];
            ++bigger.count;
        }
    }
    cxFree(map->items);
    *map = bigger;
    return true;
}

}  // namespace

bool cxNamePut(CxNameMap* map, const char* name, void* value) {
    if ((map->count + 1) * 2 > map->capacity && !grow(map)) return false;
    CxNameMap::Item* item = find(map, name);
    if (item->name) return true;  // the first one stays
    item->name = cxDup(name);
    if (!item->name) return false;
    item->value = value;
    ++map->count;
    return true;
}

void* cxNameGet(const CxNameMap* map, const char* name) {
    if (map->count == 0) return nullptr;
    const CxNameMap::Item* item = find(map, name);
    return item->name ? item->value : nullptr;
}

bool cxNameHas(const CxNameMap* map, const char* name) {
    return map->count && find(map, name)->name;
}

void cxNameClear(CxNameMap* map) {
    for (uint32_t i = 0; i < map->capacity; ++i) cxFree(map->items[i].name);
    cxFree(map->items);
    *map = CxNameMap{nullptr, 0, 0, map->exactCase};
}
