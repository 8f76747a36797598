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

// The scratch directory and the files handed out in it, in plain arrays so
// they are still there when the exit handler removes them.
struct Scratch {
    char dir[64];
    char files[8][128];
};

inline Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

inline void RemoveScratch() {
    Scratch& s = TheScratch();
    for (auto& file : s.files)
        if (file[0]) unlink(file);
    if (s.dir[0]) rmdir(s.dir);
}

inline const char* ScratchDir() {
    Scratch& s = TheScratch();
    if (!s.dir[0]) {
        snprintf(s.dir, sizeof s.dir, "%s/cxfuzz-XXXXXX",
                 access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp");
        if (!mkdtemp(s.dir)) abort();
        atexit(RemoveScratch);
    }
    return s.dir;
}

inline std::string ScratchFile(const char* name) {
    std::string path = std::string(ScratchDir()) + "/" + name;
    for (auto& file : TheScratch().files) {
        if (!file[0]) {
            snprintf(file, sizeof file, "%s", path.c_str());
            break;
        }
    }
    return path;
}

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
