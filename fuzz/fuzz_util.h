// What the fuzz targets share: a private scratch directory (in memory when
// /dev/shm exists) and whole-buffer file writes. The engine reads and
// writes through files, so each input goes through one.
#ifndef FUZZ_UTIL_H
#define FUZZ_UTIL_H

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "cxint.h"

inline const std::string& ScratchDir() {
    static std::string dir = [] {
        char pattern[64];
        snprintf(pattern, sizeof pattern, "%s/cxfuzz-XXXXXX",
                 access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        const char* made = mkdtemp(pattern);
        if (!made) abort();
        return std::string(made);
    }();
    return dir;
}

inline std::string ScratchFile(const char* name) { return ScratchDir() + "/" + name; }

inline void WriteWhole(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size && fwrite(data, 1, size, f) != size) abort();
    fclose(f);
}

inline size_t ReadWhole(const std::string& path, uint8_t* into, size_t capacity) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return 0;
    size_t n = fread(into, 1, capacity, f);
    fclose(f);
    return n;
}

#endif
